// Recognition of HTML named character references ("&amp", "&nbsp", ...), used by the splitter.
#pragma once

// Length of the shortest entity name that begins at p ("&" included, ";" excluded);
// 0 when p is absent, does not start with "&" or begins no known name.
// The name index is built once per process, safely under concurrent first use.
int entity_length(const char *p);
