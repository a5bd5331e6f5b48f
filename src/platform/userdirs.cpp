#include "platform/userdirs.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform {

bool homeFolder(std::string& out)
{
    const char* env = std::getenv("HOME");
    if (env && env[0] == '/') {
        out = env;
    } else {
        std::vector<char> buffer(16384);
        struct passwd pw;
        struct passwd* result = nullptr;
        if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) != 0 || !result ||
            !result->pw_dir || result->pw_dir[0] != '/')
            return false;
        out = result->pw_dir;
    }
    if (out.back() != '/')
        out += '/';
    return true;
}

bool localAppDataFolder(std::string& out)
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') {
        out = xdg;
        return true;
    }
    std::string home;
    if (!homeFolder(home))
        return false;
    out = home + ".local/share";
    return true;
}

} // namespace platform
