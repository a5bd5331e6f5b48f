// The server address record of the network code.
#pragma once

#include "base/typedptrlist.h"

#include <cstdint>
#include <string>

class ServerUrl
{
public:
    // Protocol types.
    static constexpr int32_t PROTOCOL_NONE = 0;
    static constexpr int32_t PROTOCOL_LDAP = 5;

    ServerUrl() = default;
    ServerUrl(const ServerUrl&) = delete;
    ServerUrl& operator=(const ServerUrl&) = delete;

    // Returns the record to its empty state.
    void reset();
    // Appends a copy of an attribute name.
    void addAttribute(const char* name);

    int32_t protocolType = PROTOCOL_NONE;
    uint32_t port = 0;
    std::string searchBase;
    TextStringList attributes;
    std::string filterTemplate;
};
