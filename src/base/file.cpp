#include "base/file.h"

#include "base/commonerror.h"
#include "base/securedelete.h"
#include "platform/clock.h"
#include "platform/fileio.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace {
const char* const UNIT = "file";
}

// ---------------------------------------------------------------- File

File::File(bool useMutexFlag) : handle(platform::INVALID_FILE), useMutex(useMutexFlag)
{
}

File::~File()
{
    close();
}

std::string File::mutexName(const char* path)
{
    std::string name = path ? path : "";
    for (char& c : name)
        if (c == '\\' || c == '/')
            c = '#';
    return name;
}

bool File::acquireMutex(const char* path)
{
    if (!mutex.isOpen() && !mutex.create(mutexName(path)))
        return false;
    if (!mutex.lock()) {
        mutex.close();
        return false;
    }
    return true;
}

namespace {
File::Trace* fileTrace = nullptr;
}

int32_t File::create(const char* path)
{
    close();
    if (useMutex && !acquireMutex(path))
        return -1;
    handle = platform::openFile(path, true, true, platform::OpenDisposition::CreateNew);
    if (useMutex) {
        mutex.unlock();
        // A failed open gives the mutex up, so the next open takes its own path's name.
        if (handle < 0)
            mutex.close();
    }
    if (handle >= 0 && fileTrace)
        fileTrace->created(handle);
    return handle >= 0 ? 0 : -1;
}

int32_t File::open(const char* path, const char* mode)
{
    // Replacing the handle of an open file would leak it.
    close();
    bool readAccess = false, writeAccess = false, haveDisposition = false;
    platform::OpenDisposition disposition = platform::OpenDisposition::OpenExisting;
    bool append = false;
    for (const char* m = mode ? mode : ""; *m; ++m) {
        switch (*m) {
        case 'r':
            readAccess = true;
            writeAccess = false;
            disposition = platform::OpenDisposition::OpenExisting;
            append = false;
            haveDisposition = true;
            break;
        case 'w':
            readAccess = false;
            writeAccess = true;
            disposition = platform::OpenDisposition::CreateAlways;
            append = false;
            haveDisposition = true;
            break;
        case 'a':
            readAccess = false;
            writeAccess = true;
            disposition = platform::OpenDisposition::OpenAlways;
            append = true;
            haveDisposition = true;
            break;
        case '+':
            readAccess = writeAccess = true;
            break;
        case 'b':
        case 't':
            break;
        default:
            checkInvariant(false, UNIT, __LINE__, "0");
        }
    }
    if (!haveDisposition)
        return -1;
    if (useMutex && !acquireMutex(path))
        return -1;
    handle = platform::openFile(path, readAccess, writeAccess, disposition);
    if (useMutex) {
        mutex.unlock();
        if (handle < 0)
            mutex.close();
    }
    if (handle < 0)
        return -1;
    if (append && platform::seekFile(handle, 0, SEEK_END) < 0) {
        close();
        return -1;
    }
    return 0;
}

int32_t File::openRegular(const char* path)
{
    close();
    if (useMutex && !acquireMutex(path))
        return -1;
    handle = platform::openRegularFile(path);
    if (useMutex) {
        mutex.unlock();
        if (handle < 0)
            mutex.close();
    }
    return handle >= 0 ? 0 : -1;
}

int32_t File::close()
{
    if (handle < 0)
        return 0;
    if (useMutex)
        mutex.lock(); // the result is not checked: the file is closed in any case
    bool ok = platform::closeFile(handle);
    handle = platform::INVALID_FILE;
    if (useMutex) {
        mutex.unlock();
        mutex.close();
    }
    return ok ? 0 : -1;
}

int32_t File::read(uint32_t length, uint8_t* buffer, uint32_t* count)
{
    if (count)
        *count = 0;
    if (handle < 0 || (!buffer && length > 0))
        return -1;
    int64_t n = platform::readFile(handle, buffer, length);
    if (n < 0)
        return -1;
    if (count)
        *count = static_cast<uint32_t>(n);
    return 0;
}

int32_t File::write(uint32_t length, const uint8_t* buffer)
{
    if (handle < 0 || (!buffer && length > 0))
        return -1;
    return platform::writeFile(handle, buffer, length) == length ? 0 : -1;
}

int32_t File::readAt(uint32_t offset, uint32_t length, uint8_t* buffer, uint32_t* count)
{
    if (count)
        *count = 0;
    if (handle < 0 || (!buffer && length > 0))
        return -1;
    uint32_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(handle, buffer + done, length - done, static_cast<off_t>(offset) + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    if (count)
        *count = done;
    return 0;
}

void File::setTrace(Trace* trace)
{
    fileTrace = trace;
}

int32_t File::writeAt(uint32_t offset, uint32_t length, const uint8_t* buffer)
{
    if (handle < 0 || (!buffer && length > 0) || (length > 0 && platform::fileFault()))
        return -1;
    uint32_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(handle, buffer + done, length - done, static_cast<off_t>(offset) + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += static_cast<uint32_t>(n);
    }
    if (fileTrace)
        fileTrace->wrote(handle, offset, buffer, length);
    return 0;
}

int32_t File::seek(int32_t position)
{
    checkInvariant(handle >= 0, UNIT, __LINE__, "handle != InvalidFileHandleValue");
    if (position < 0)
        return -1;
    return platform::seekFile(handle, position, SEEK_SET) < 0 ? -1 : 0;
}

uint32_t File::tell()
{
    if (handle < 0)
        return 0xFFFFFFFFu;
    int64_t p = platform::seekFile(handle, 0, SEEK_CUR);
    return p < 0 || p > 0xFFFFFFFEll ? 0xFFFFFFFFu : static_cast<uint32_t>(p);
}

uint32_t File::size()
{
    if (handle < 0)
        return 0xFFFFFFFFu;
    int64_t n = platform::fileSize(handle);
    return n < 0 || n > 0xFFFFFFFEll ? 0xFFFFFFFFu : static_cast<uint32_t>(n);
}

int32_t File::grow(int32_t n)
{
    if (handle < 0)
        return -1;
    int64_t position = platform::seekFile(handle, 0, SEEK_CUR);
    int64_t oldSize = platform::fileSize(handle);
    if (position < 0 || oldSize < 0 || oldSize > INT32_MAX)
        return -1;
    int64_t newSize = oldSize + n;
    if (newSize < 0 || !platform::setFileLength(handle, newSize))
        return -1;
    if (fileTrace)
        fileTrace->resized(handle, newSize);
    if (platform::seekFile(handle, position, SEEK_SET) < 0)
        return -1;
    return static_cast<int32_t>(oldSize);
}

namespace {
// 0 when the sync of handle succeeded (the trace sees it), else -1.
int32_t afterSync(int handle, bool ok)
{
    if (!ok)
        return -1;
    if (fileTrace)
        fileTrace->synced(handle);
    return 0;
}
}  // namespace

int32_t File::flushData()
{
    return afterSync(handle, handle >= 0 && platform::syncFileData(handle));
}

int32_t File::flush()
{
    return afterSync(handle, handle >= 0 && platform::syncFile(handle));
}

// ---------------------------------------------------------------- SafeFile

SafeFile::SafeFile() : File(false), mode(0)
{
}

SafeFile::SafeFile(const char* pathName, int32_t modeValue)
    : File(false), mode(modeValue), path(pathName ? pathName : "")
{
}

SafeFile::~SafeFile()
{
    File::close();
    if (path.empty())
        return;
    if (mode == 1)
        secureDeleteFile(path.c_str(), nullptr, false);
    else if (mode == 2)
        ::unlink(path.c_str());
}

bool SafeFile::open(const char* pathName, const char* modeString)
{
    if (File::open(pathName, modeString) != 0)
        return false;
    path = pathName;
    return true;
}

bool SafeFile::close()
{
    return File::close() == 0;
}

int32_t SafeFile::writeItems(const void* buffer, size_t size, size_t count)
{
    if (count > INT32_MAX || (count > 0 && size > UINT32_MAX / count))
        return -1;
    uint32_t total = static_cast<uint32_t>(size * count);
    if (write(total, static_cast<const uint8_t*>(buffer)) != 0)
        return -1;
    return static_cast<int32_t>(count);
}

// ---------------------------------------------------------------- matchWildcard

namespace {

// A set at p (just after '['): sets end to the character after its ']' and answers
// whether c belongs; false with error set for a malformed set.
bool matchSet(const char* p, char c, const char*& end, bool& error)
{
    error = false;
    bool negate = false;
    if (*p == '!' || *p == '^') {
        negate = true;
        ++p;
    }
    if (*p == ']') {
        error = true;
        return false;
    }
    bool found = false;
    const signed char sc = static_cast<signed char>(c);
    for (;;) {
        char first = *p++;
        if (first == '\0') {
            error = true;
            return false;
        }
        if (first == ']')
            break;
        if (first == '\\') {
            first = *p++;
            if (first == '\0') {
                error = true;
                return false;
            }
        }
        signed char low = static_cast<signed char>(first);
        signed char high = low;
        if (*p == '-') {
            ++p;
            char last = *p++;
            if (last == '\0' || last == ']') {
                error = true;
                return false;
            }
            if (last == '\\') {
                last = *p++;
                if (last == '\0') {
                    error = true;
                    return false;
                }
            }
            high = static_cast<signed char>(last);
            if (high < low) {
                signed char t = low;
                low = high;
                high = t;
            }
        }
        if (sc >= low && sc <= high)
            found = true;
    }
    end = p;
    return found != negate;
}

bool wildcardPatternValid(const char* p)
{
    while (*p) {
        if (*p == '\\') {
            if (!p[1])
                return false;
            p += 2;
        } else if (*p == '[') {
            const char* end;
            bool error;
            matchSet(p + 1, 'a', end, error);
            if (error)
                return false;
            p = end;
        } else {
            ++p;
        }
    }
    return true;
}

// One pattern element at p against c: true on a match, with next after the element.
bool matchOne(const char* p, char c, const char*& next)
{
    if (*p == '?') {
        next = p + 1;
        return true;
    }
    if (*p == '[') {
        bool error;
        return matchSet(p + 1, c, next, error) && !error;
    }
    if (*p == '\\')
        ++p;
    next = p + 1;
    return *p == c;
}

} // namespace

bool matchWildcard(const char* pattern, const char* text)
{
    if (!pattern || !text || !wildcardPatternValid(pattern))
        return false;
    const char* p = pattern;
    const char* t = text;
    const char* starPattern = nullptr; // the pattern after the last '*'
    const char* starText = nullptr;    // where the text after that '*' was tried last
    // The last '*' alone backtracks: a classic match, linear in the text per star.
    while (*t) {
        if (*p == '*') {
            while (*p == '*')
                ++p;
            starPattern = p;
            starText = t;
            continue;
        }
        const char* next;
        if (*p && matchOne(p, *t, next)) {
            p = next;
            ++t;
            continue;
        }
        if (!starPattern)
            return false;
        p = starPattern;
        t = ++starText;
    }
    while (*p == '*')
        ++p;
    return *p == '\0';
}

// ---------------------------------------------------------------- file utilities

bool deleteFile(const char* path)
{
    return platform::removeFile(path);
}

bool syncFolder(const char* path)
{
    if (!platform::syncFolderOf(path))
        return false;
    if (fileTrace)
        fileTrace->folderSynced(path);
    return true;
}

bool moveFile(const char* from, const char* to)
{
    return platform::moveFileNoReplace(from, to);
}

bool copyFile(const char* from, const char* to, bool overwrite)
{
    return platform::copyFileContent(from, to, overwrite);
}

int fileAccess(const char* path, int mode)
{
    return platform::accessPath(path, mode);
}

bool localTime(int64_t time, struct tm* out)
{
    return out && platform::toLocalTime(time, *out);
}

std::string joinPath(const std::string& directory, const std::string& name)
{
    checkInvariant(!directory.empty(), UNIT, __LINE__, "!directory.empty()");
    if (directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

void listDirectory(const std::string& directory, std::vector<std::string>& list, const char* suffix)
{
    std::vector<std::string> names;
    switch (platform::listDirectoryEntries(directory.c_str(), names)) {
    case platform::ListResult::AccessDenied:
        throw std::runtime_error("Access denied");
    case platform::ListResult::Failed:
        return;
    case platform::ListResult::Ok:
        break;
    }
    size_t suffixLength = suffix ? std::strlen(suffix) : 0;
    for (std::string& name : names) {
        if (suffixLength > 0 &&
            (name.size() < suffixLength || name.compare(name.size() - suffixLength, suffixLength, suffix) != 0))
            continue;
        list.push_back(std::move(name));
    }
}

int32_t getFileSize(const char* path)
{
    int fd = platform::openFile(path, true, true, platform::OpenDisposition::OpenExisting);
    if (fd < 0)
        return -1;
    int64_t n = platform::fileSize(fd);
    platform::closeFile(fd);
    // A size that does not fit would read as an error or a wrong small size.
    return n < 0 || n > INT32_MAX ? -1 : static_cast<int32_t>(n);
}

bool makeDirectories(const char* path)
{
    std::string full;
    if (!path || !platform::absolutePath(path, full, PATH_MAX))
        return false;
    for (size_t cut = full.find('/', 1); cut != std::string::npos; cut = full.find('/', cut + 1)) {
        std::string level = full.substr(0, cut);
        if (!platform::isDirectory(level.c_str()) && !platform::makeDirectory(level.c_str()))
            return false;
    }
    if (platform::isDirectory(full.c_str()))
        return true;
    return platform::makeDirectory(full.c_str());
}

const SystemInfo& getSystemInfo()
{
    static const SystemInfo info = [] {
        SystemInfo s;
        platform::readOsVersion(s.version);
        s.osCode = 0;
        return s;
    }();
    return info;
}
