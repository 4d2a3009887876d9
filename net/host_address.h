// Turning the server's host text into an IPv4 address, the same way for both protocols.
#pragma once
#include <winsock2.h>

// A text starting with an ASCII digit is taken as a dotted address without any name look-up;
// whatever the conversion yields is written, including 255.255.255.255 for a text that is
// not an address. Anything else is looked up as a host name. 1 when *address was written,
// 0 when the look-up failed or host is absent (*address is then left as it was).
int resolve_host(const char *host, in_addr *address);
