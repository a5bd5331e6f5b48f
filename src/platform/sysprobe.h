// The operating system's version record.
#pragma once

#include <cstdint>

namespace platform {

struct OsVersionRecord
{
    uint32_t size = sizeof(OsVersionRecord);
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    uint32_t platformId = 0; // 0: neither of the platforms the classification knows
    char servicePack[128] = {};
    uint16_t servicePackMajor = 0;
    uint16_t servicePackMinor = 0;
    uint16_t suiteMask = 0;
    uint8_t productType = 0;
};

// Fills the record from the kernel's release ("6.1.0-18" gives 6, 1, 0); false when it cannot be read.
bool readOsVersion(OsVersionRecord& record);

} // namespace platform
