#include "net/serverurl.h"

#include <cstring>

void ServerUrl::reset()
{
    protocolType = PROTOCOL_NONE;
    port = 0;
    searchBase.clear();
    attributes.deleteAll();
    filterTemplate.clear();
}

void ServerUrl::addAttribute(const char* name)
{
    size_t n = name ? std::strlen(name) : 0;
    char* copy = attributes.addBuffer(static_cast<int32_t>(n));
    if (n > 0)
        std::memcpy(copy, name, n);
}
