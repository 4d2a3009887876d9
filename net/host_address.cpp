#include "net/host_address.h"

#include <cstring>

int resolve_host(const char *host, in_addr *address)
{
    if (host == nullptr || address == nullptr)
        return 0;
    if (host[0] >= '0' && host[0] <= '9') {
        // A digit-led text is never a name worth a look-up; a bad one becomes all-ones.
        address->s_addr = inet_addr(host);
        return 1;
    }
    hostent *entry = gethostbyname(host);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
        return 0;
    std::memcpy(&address->s_addr, entry->h_addr_list[0], 4);
    return 1;
}
