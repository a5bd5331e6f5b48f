// System utilities: the per-user data folder, registry locations, URIs and hex text.
#pragma once

#include "base/memfile.h"
#include "platform/registryroot.h"

#include <cstddef>
#include <cstdint>
#include <string>

class ReportStream;

// The user's local application-data folder (XDG data home).
bool getLocalAppDataPath(std::string& out);
// An absolute name is used as it is; any other is put under the data folder's
// "TAL-VORIN/". The result is absolute and at most outSize - 1 characters (zero-terminated).
bool resolveDataPath(const char* name, char* out, size_t outSize);
// The database folder of a name: the same rule as resolveDataPath.
bool buildDBDirectory(const char* name, char* out, size_t outSize);
// As resolveDataPath, for a file name with an extension: 0 success, 1 no file name,
// 2 no extension, 3 the folder cannot be found or the path cannot be made absolute.
int resolveProfilePath(const char* name, char* out, size_t outSize);
// "ROOT\sub\key\value" (one leading backslash ignored) split into its parts.
bool parseRegistryPath(const char* location, platform::RegistryRoot& rootKey, std::string& subkey,
                       std::string& valueName);
void toBackslashPath(std::string& path);
// Takes a URI apart; the two failure messages go to the report stream when it is given.
bool analyseURI(const char* uri, std::string& protocol, std::string& host, int& hasPort, uint32_t& port,
                std::string& path, int& hasCredentials, std::string& user, std::string& password,
                ReportStream* report);
// Two upper-case hexadecimal digits per byte; out is left as it was for n 0.
void bytesToHexString(const uint8_t* bytes, size_t n, std::string& out);
