#include "base/miscutils.h"

#include "base/reportstream.h"
#include "platform/fileio.h"
#include "platform/userdirs.h"

#include <cstring>
#include <strings.h>

namespace {

const char* const DATA_FOLDER = "TAL-VORIN/";

// The absolute form of a data name, or false.
bool dataPath(const char* name, std::string& result)
{
    std::string path = name ? name : "";
    if (path.empty() || path[0] != '/') {
        std::string folder;
        if (!getLocalAppDataPath(folder) || folder.empty())
            return false;
        if (folder.back() != '/')
            folder += '/';
        path = folder + DATA_FOLDER + path;
    }
    return platform::absolutePath(path, result, 4095);
}

bool copyOut(const std::string& text, char* out, size_t outSize)
{
    if (!out || text.size() + 1 > outSize)
        return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

void report(ReportStream* stream, const std::string& text)
{
    if (stream)
        *stream << text.c_str();
}

} // namespace

bool getLocalAppDataPath(std::string& out)
{
    return platform::localAppDataFolder(out);
}

bool resolveDataPath(const char* name, char* out, size_t outSize)
{
    std::string result;
    return dataPath(name, result) && copyOut(result, out, outSize);
}

bool buildDBDirectory(const char* name, char* out, size_t outSize)
{
    return resolveDataPath(name, out, outSize);
}

int resolveProfilePath(const char* name, char* out, size_t outSize)
{
    std::string text = name ? name : "";
    size_t slash = text.rfind('/');
    std::string file = slash == std::string::npos ? text : text.substr(slash + 1);
    size_t dot = file.rfind('.');
    std::string stem = dot == std::string::npos ? file : file.substr(0, dot);
    if (stem.empty())
        return 1;
    if (dot == std::string::npos)
        return 2;
    return resolveDataPath(name, out, outSize) ? 0 : 3;
}

bool parseRegistryPath(const char* location, platform::RegistryRoot& rootKey, std::string& subkey,
                       std::string& valueName)
{
    if (!location)
        return false;
    std::string text = location[0] == '\\' ? location + 1 : location;
    size_t first = text.find('\\');
    size_t last = text.rfind('\\');
    if (first == std::string::npos || first + 1 >= text.size() || last + 1 >= text.size() || last == first)
        return false;
    std::string root = text.substr(0, first);
    struct Row
    {
        const char* name;
        platform::RegistryRoot key;
    };
    static const Row roots[] = {
        {"HKEY_CLASSES_ROOT", platform::RegistryRoot::ClassesRoot},
        {"HKEY_CURRENT_CONFIG", platform::RegistryRoot::CurrentConfig},
        {"HKEY_CURRENT_USER", platform::RegistryRoot::CurrentUser},
        {"HKEY_LOCAL_MACHINE", platform::RegistryRoot::LocalMachine},
        {"HKEY_USERS", platform::RegistryRoot::Users},
        {"HKEY_PERFORMANCE_DATA", platform::RegistryRoot::PerformanceData},
        {"HKEY_DYN_DATA", platform::RegistryRoot::DynData},
    };
    const Row* found = nullptr;
    for (const Row& row : roots)
        if (strcasecmp(root.c_str(), row.name) == 0)
            found = &row;
    if (!found)
        return false;
    std::string sub = text.substr(first + 1, last - first - 1);
    std::string value = text.substr(last + 1);
    if (sub.empty() || value.empty())
        return false;
    rootKey = found->key;
    subkey = sub;
    valueName = value;
    return true;
}

void toBackslashPath(std::string& path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
}

bool analyseURI(const char* uri, std::string& protocol, std::string& host, int& hasPort, uint32_t& port,
                std::string& path, int& hasCredentials, std::string& user, std::string& password,
                ReportStream* reportSink)
{
    std::string text = uri ? uri : "";
    size_t scheme = text.find("://");
    if (scheme == std::string::npos) {
        report(reportSink, "analyseURI: niepoprawny format URI\r\n");
        return false;
    }
    protocol = text.substr(0, scheme);
    std::string rest = text.substr(scheme + 3);
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    path = slash == std::string::npos ? std::string() : rest.substr(slash + 1);

    size_t at = authority.find('@');
    if (at != std::string::npos) {
        hasCredentials = 1;
        std::string credentials = authority.substr(0, at);
        size_t colon = credentials.find(':');
        user = credentials.substr(0, colon);
        password = colon == std::string::npos ? std::string() : credentials.substr(colon + 1);
        authority = authority.substr(at + 1);
    } else {
        hasCredentials = 0;
        user.clear();
        password.clear();
    }

    size_t colon = authority.find(':');
    if (colon != std::string::npos) {
        std::string portText = authority.substr(colon + 1);
        // Only digits, and a value a port can have: "80x" or 70000 are not ports.
        bool valid = !portText.empty() && portText.size() <= 5;
        uint32_t value = 0;
        for (char c : portText) {
            if (c < '0' || c > '9') {
                valid = false;
                break;
            }
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        if (!valid || value > 65535) {
            // The URI may come from a certificate: its text is a stranger's.
            report(reportSink, "analyseURI: niepoprawny format URI - nieparsowalny port serwera: ");
            if (reportSink)
                reportSink->writeWindows1250Data(portText);
            report(reportSink, "\r\n");
            return false;
        }
        hasPort = 1;
        port = value;
        host = authority.substr(0, colon);
    } else {
        hasPort = 0;
        port = 0;
        host = authority;
    }
    return true;
}

void bytesToHexString(const uint8_t* bytes, size_t n, std::string& out)
{
    if (n == 0 || !bytes || n > INT32_MAX / 2)
        return;
    std::string text(2 * n, '\0');
    bytesToHex(bytes, static_cast<int32_t>(n), &text[0], nullptr);
    out = text;
}
