#include "platform/sysprobe.h"

#include <cstdlib>
#include <cstring>
#include <sys/utsname.h>

namespace platform {

bool readOsVersion(OsVersionRecord& record)
{
    record = OsVersionRecord();
    struct utsname name;
    if (::uname(&name) != 0)
        return false;
    const char* p = name.release;
    uint32_t* fields[3] = {&record.majorVersion, &record.minorVersion, &record.buildNumber};
    for (uint32_t* field : fields) {
        char* end;
        unsigned long v = std::strtoul(p, &end, 10);
        if (end == p)
            break;
        *field = static_cast<uint32_t>(v);
        p = end;
        if (*p != '.')
            break;
        ++p;
    }
    std::strncpy(record.servicePack, name.version, sizeof record.servicePack - 1);
    return true;
}

} // namespace platform
