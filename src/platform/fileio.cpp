#include "platform/fileio.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace platform {

int openFile(const char* path, bool readAccess, bool writeAccess, OpenDisposition disposition)
{
    if (!path || !*path)
        return INVALID_FILE;
    int flags = O_CLOEXEC;
    if (readAccess && writeAccess)
        flags |= O_RDWR;
    else if (writeAccess)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    switch (disposition) {
    case OpenDisposition::OpenExisting:
        break;
    case OpenDisposition::CreateNew:
        flags |= O_CREAT | O_EXCL;
        break;
    case OpenDisposition::CreateAlways:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OpenDisposition::OpenAlways:
        flags |= O_CREAT;
        break;
    }
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return INVALID_FILE;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return INVALID_FILE;
    }
    return fd;
}

int openRegularFile(const char* path)
{
    if (!path || !*path)
        return INVALID_FILE;
    // Non-blocking only for the open itself: a FIFO without a writer would wait there forever.
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return INVALID_FILE;
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return INVALID_FILE;
    }
    return fd;
}

bool closeFile(int fd)
{
    if (fd < 0)
        return false;
    // The descriptor is gone even when close reports an interruption.
    return ::close(fd) == 0 || errno == EINTR;
}

int64_t readFile(int fd, void* buffer, size_t length)
{
    ssize_t n;
    do {
        n = ::read(fd, buffer, length);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int64_t>(n);
}

namespace {
// Read at every write and sync: one atomic load, no lock (a test may set it while other threads
// write).
std::atomic<bool (*)()> fileFaultHook{nullptr};
}

void setFileFault(bool (*fault)())
{
    fileFaultHook.store(fault, std::memory_order_release);
}

bool fileFault()
{
    bool (*hook)() = fileFaultHook.load(std::memory_order_acquire);
    if (!hook || !hook())
        return false;
    errno = ENOSPC;
    return true;
}

size_t writeFile(int fd, const void* buffer, size_t length)
{
    if (length && fileFault())
        return 0;
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, p + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

int64_t seekFile(int fd, int64_t offset, int whence)
{
    off_t r = ::lseek(fd, static_cast<off_t>(offset), whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t fileSize(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

bool setFileLength(int fd, int64_t length)
{
    if (length < 0)
        return false;
    int r;
    do {
        r = ::ftruncate(fd, static_cast<off_t>(length));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool syncFile(int fd)
{
    return !fileFault() && ::fsync(fd) == 0;
}

bool syncFileData(int fd)
{
    return !fileFault() && ::fdatasync(fd) == 0;
}

bool syncFolderOf(const char* path)
{
    if (!path || !*path || fileFault())
        return false;
    std::string target(path);
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    bool ok = ::fsync(dirFd) == 0;
    ::close(dirFd);
    return ok;
}

bool removeFile(const char* path)
{
    return path && ::unlink(path) == 0;
}

namespace {

bool copyOpen(const char* from, const char* to, bool overwrite, bool& targetMade)
{
    targetMade = false;
    int in = openFile(from, true, false, OpenDisposition::OpenExisting);
    if (in < 0)
        return false;
    struct stat src;
    if (fstat(in, &src) != 0 || !S_ISREG(src.st_mode)) {
        ::close(in);
        return false;
    }
    struct stat dst;
    bool exists = stat(to, &dst) == 0;
    if (exists && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
        // Truncating the target would destroy the source.
        ::close(in);
        return false;
    }
    // A target with other names (a backup put back as a link) gets a file of its own, so the
    // copy never writes through to them.
    if (overwrite && exists && S_ISREG(dst.st_mode) && dst.st_nlink > 1 && ::unlink(to) != 0) {
        ::close(in);
        return false;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    int out = ::open(to, flags, src.st_mode & 0777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    targetMade = !overwrite;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        int64_t n = readFile(in, buffer, sizeof buffer);
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (writeFile(out, buffer, static_cast<size_t>(n)) != static_cast<size_t>(n)) {
            ok = false;
            break;
        }
    }
    ::close(in);
    if (::close(out) != 0)
        ok = false;
    return ok;
}

} // namespace

bool copyFileContent(const char* from, const char* to, bool overwrite)
{
    if (!from || !to)
        return false;
    bool targetMade;
    bool ok = copyOpen(from, to, overwrite, targetMade);
    if (!ok && targetMade)
        ::unlink(to); // no half copy under a name that did not exist before
    return ok;
}

bool moveFileNoReplace(const char* from, const char* to)
{
    if (!from || !to)
        return false;
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
        // File systems without the no-replace rename: a hard link fails on an existing target.
        if (::link(from, to) != 0)
            return false;
        if (::unlink(from) != 0) {
            ::unlink(to);
            return false;
        }
        return true;
    }
    if (err == EXDEV) {
        // Across file systems only files move, by copy and delete.
        if (!copyFileContent(from, to, false))
            return false;
        if (::unlink(from) != 0) {
            ::unlink(to);
            return false;
        }
        return true;
    }
    return false;
}

bool replaceFileContent(const char* path, const void* data, size_t length, unsigned mode, bool sync)
{
    if (!data && length)
        return false;
    return replaceFileContentWith(
        path, [data, length](int fd) { return writeFile(fd, data, length) == length; }, mode, sync);
}

namespace {

// A name of our own beside path, opened with O_EXCL so it never writes through a file someone
// else made; -1 on failure.
int createTemporary(const std::string& target, unsigned mode, std::string& temp)
{
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = target + ".tmp-" + std::to_string(static_cast<long>(::getpid())) + "-" +
               std::to_string(__atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED));
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The mode a replacement of path takes: its own when it is a regular file; false when it is
// something else.
bool replacementMode(const char* path, unsigned& mode)
{
    if (!path || !*path || path[std::strlen(path) - 1] == '/')
        return false;
    struct stat existing;
    if (::stat(path, &existing) == 0) {
        if (!S_ISREG(existing.st_mode))
            return false;
        mode = existing.st_mode & 07777;
    }
    return true;
}

} // namespace

bool writeReplacement(const char* path, const std::function<bool(int fd)>& write, unsigned mode,
                      std::string& temp, bool sync)
{
    temp.clear();
    if (!write || !replacementMode(path, mode))
        return false;
    int fd = createTemporary(path, mode, temp);
    if (fd < 0) {
        temp.clear();
        return false;
    }
    bool ok = false;
    try {
        ok = write(fd);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    ok = ok && ::fchmod(fd, mode) == 0 && (!sync || syncFile(fd));
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

bool takeReplacement(const char* temp, const char* path, bool sync)
{
    if (!temp || !path || ::rename(temp, path) != 0)
        return false;
    // The new name itself reaches the disk; the content is in place whether or not it does.
    if (sync)
        syncFolderOf(path);
    return true;
}

bool replaceFileContentWith(const char* path, const std::function<bool(int fd)>& write, unsigned mode,
                            bool sync)
{
    std::string temp;
    bool ok = writeReplacement(path, write, mode, temp, sync);
    if (ok && !takeReplacement(temp.c_str(), path, sync)) {
        ::unlink(temp.c_str());
        ok = false;
    }
    return ok;
}

bool replaceWithLink(const char* from, const char* path)
{
    unsigned mode = 0600;
    std::string temp;
    struct stat source, target;
    if (!from || ::lstat(from, &source) != 0 || !S_ISREG(source.st_mode) || !replacementMode(path, mode))
        return false;
    // Names of one file already (a restore run twice): rename would do nothing and leave the
    // temporary name behind.
    if (::lstat(path, &target) == 0 && target.st_dev == source.st_dev && target.st_ino == source.st_ino)
        return true;
    int fd = createTemporary(path, mode, temp);
    if (fd < 0)
        return false;
    ::close(fd);
    // The name is ours; the link takes its place (link never replaces).
    ::unlink(temp.c_str());
    if (::link(from, temp.c_str()) != 0)
        return false;
    if (!takeReplacement(temp.c_str(), path, true)) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

int accessPath(const char* path, int mode)
{
    return path && ::access(path, mode) == 0 ? 0 : -1;
}

bool pathExists(const char* path)
{
    struct stat st;
    return path && ::stat(path, &st) == 0;
}

bool isDirectory(const char* path)
{
    struct stat st;
    return path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirectory(const char* path)
{
    return path && ::mkdir(path, 0777) == 0;
}

unsigned folderShareMode(const char* folder)
{
    struct stat st;
    if (!folder || ::stat(folder, &st) != 0 || !S_ISDIR(st.st_mode))
        return 0600;
    unsigned mode = 0600;
    if (st.st_mode & S_IWGRP)
        mode |= 0060;
    else if ((st.st_mode & (S_IRGRP | S_IXGRP)) == (S_IRGRP | S_IXGRP))
        mode |= 0040;
    if (st.st_mode & S_IWOTH)
        mode |= 0006;
    else if ((st.st_mode & (S_IROTH | S_IXOTH)) == (S_IROTH | S_IXOTH))
        mode |= 0004;
    return mode;
}

bool shareLikeFolder(const char* path)
{
    if (!path)
        return false;
    std::string folder(path);
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : folder.substr(0, slash);
    return ::chmod(path, folderShareMode(folder.c_str())) == 0;
}

int64_t pathFileSize(const char* path)
{
    struct stat st;
    if (!path || ::stat(path, &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

ListResult listDirectoryEntries(const char* directory, std::vector<std::string>& names)
{
    DIR* dir = directory ? ::opendir(directory) : nullptr;
    if (!dir)
        return errno == EACCES || errno == EPERM ? ListResult::AccessDenied : ListResult::Failed;
    while (struct dirent* entry = ::readdir(dir))
        names.emplace_back(entry->d_name);
    ::closedir(dir);
    return ListResult::Ok;
}

bool absolutePath(const std::string& path, std::string& out, size_t maxLength)
{
    if (path.empty())
        return false;
    std::string full;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd))
            return false;
        full = cwd;
        full += '/';
    }
    full += path;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos)
            end = full.size();
        std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts)
        result += "/" + part;
    if (result.empty())
        result = "/";
    // A trailing separator names the same directory; keep it as the caller wrote it.
    if (full.back() == '/' && result.size() > 1)
        result += '/';
    if (result.size() > maxLength)
        return false;
    out = result;
    return true;
}

} // namespace platform
