// A mutex named by a text, shared between threads and processes: an flock on a
// lock file of that name. The kernel releases it when its holder dies.
#pragma once

#include <string>

namespace platform {

class NamedMutex
{
public:
    NamedMutex() = default;
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Creates the mutex or opens the one another holder made; unowned.
    bool create(const std::string& name);
    // The same over the lock file at path itself, so that every process that reaches the file,
    // whoever runs it, meets the same mutex: a new file gets the permissions of a shared file of
    // its folder (platform::folderShareMode); one that may only be read is locked through a
    // read-only descriptor (flock asks no more).
    bool createAt(const std::string& path);
    bool isOpen() const { return fd >= 0; }
    // Waits without a time limit.
    bool lock();
    // Shared with other shared holders, excluded by lock(); waits without a time limit.
    bool lockShared();
    void unlock();
    void close();

    // The lock file that stands for a name.
    static std::string lockFilePath(const std::string& name);

private:
    int fd = -1;
};

} // namespace platform
