#include "platform/namedmutex.h"

#include "platform/fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace platform {

namespace {

// The folder of the lock files: private to the user, so no one else can plant a lock file.
bool lockDirectory(std::string& dir)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        dir = std::string(runtime) + "/tal-vorin-locks";
    else
        dir = "/tmp/tal-vorin-locks-" + std::to_string(static_cast<unsigned long>(getuid()));
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

} // namespace

std::string NamedMutex::lockFilePath(const std::string& name)
{
    std::string dir;
    if (!lockDirectory(dir))
        return std::string();
    std::string file;
    for (char c : name)
        file += (c == '/' || c == '\0') ? '#' : c;
    // Names longer than a file name may be are shortened and told apart by their hash.
    if (file.size() > 200) {
        uint64_t hash = 14695981039346656037ull;
        for (char c : name)
            hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
        char suffix[20];
        std::snprintf(suffix, sizeof suffix, "~%016llx", static_cast<unsigned long long>(hash));
        file = file.substr(file.size() - 160) + suffix;
    }
    return dir + "/" + file + ".lock";
}

NamedMutex::~NamedMutex()
{
    close();
}

bool NamedMutex::create(const std::string& name)
{
    close();
    std::string path = lockFilePath(name);
    if (path.empty())
        return false;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0;
}

bool NamedMutex::createAt(const std::string& path)
{
    close();
    if (path.empty())
        return false;
    const int flags = O_CLOEXEC | O_NOFOLLOW;
    // A new lock file takes its name only once it has its permissions (made under a name of
    // our own, then linked), so no other user ever finds it too closed to open.
    if (::access(path.c_str(), F_OK) != 0) {
        static unsigned counter = 0;
        const std::string temp = path + ".tmp-" + std::to_string(static_cast<long>(::getpid())) + "-" +
                                 std::to_string(__atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED));
        int made;
        do {
            made = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, 0600);
        } while (made < 0 && errno == EINTR);
        if (made >= 0) {
            const bool ready = shareLikeFolder(temp.c_str());
            ::close(made);
            // Another process may have linked its own first: that one is the lock.
            if (ready && ::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
                ::unlink(temp.c_str());
                return false;
            }
            ::unlink(temp.c_str());
        }
    }
    do {
        fd = ::open(path.c_str(), O_RDWR | flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        do {
            fd = ::open(path.c_str(), O_RDONLY | flags);
        } while (fd < 0 && errno == EINTR);
    }
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)))
        close();
    return fd >= 0;
}

namespace {

bool flockRetrying(int fd, int operation)
{
    if (fd < 0)
        return false;
    int r;
    do {
        r = ::flock(fd, operation);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

} // namespace

bool NamedMutex::lock()
{
    return flockRetrying(fd, LOCK_EX);
}

bool NamedMutex::lockShared()
{
    return flockRetrying(fd, LOCK_SH);
}

void NamedMutex::unlock()
{
    if (fd >= 0)
        ::flock(fd, LOCK_UN);
}

void NamedMutex::close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace platform
