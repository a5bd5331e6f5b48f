// File streams (File, SafeFile), the file utilities and the system probe.
#pragma once

#include "base/memfile.h"
#include "platform/namedmutex.h"
#include "platform/sysprobe.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A file of the file system behind the GenericFile interface. With useMutex set,
// opening, creating and closing are serialised between processes by a mutex
// named after the path.
class File : public GenericFile
{
public:
    explicit File(bool useMutex = false);
    ~File() override;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // A new file only (fails when it exists), read and write: 0 or -1.
    int32_t create(const char* path);
    // fopen-style mode letters r, w, a, + (b and t ignored): 0 or -1. An open file is closed first.
    int32_t open(const char* path, const char* mode);
    // A caller's file for reading, refused (-1, without waiting) unless it is a regular file.
    int32_t openRegular(const char* path);
    // 0 also when no file is open; -1 when the system refused to close.
    int32_t close();

    int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override;
    int32_t write(uint32_t length, const uint8_t* buffer) override;
    int32_t seek(int32_t position) override;
    // At an offset, leaving the position alone (one system call where seek and
    // read take two): 0 or -1; a read answers the bytes it got in count.
    int32_t readAt(uint32_t offset, uint32_t length, uint8_t* buffer, uint32_t* count);
    int32_t writeAt(uint32_t offset, uint32_t length, const uint8_t* buffer);
    uint32_t tell() override;
    // Files of 4 GiB or more report 0xFFFFFFFF (unknown) rather than a wrapped size.
    uint32_t size() override;

    // Extends the file by n bytes at its end (negative n shortens it), keeps the
    // position, and answers the old size; -1 on failure.
    int32_t grow(int32_t n);
    int32_t truncate(int32_t n) { return grow(n); }
    // Forces the written data to the storage device: 0 or -1.
    int32_t flush();
    // Forces the content and the length only (not the times): 0 or -1.
    int32_t flushData();
    bool isOpen() const { return handle >= 0; }

    // The name of the mutex that guards a path: every '\' and '/' becomes '#'.
    static std::string mutexName(const char* path);

    // For tests of crash safety: sees every create, writeAt, length change
    // (grow) and flush of every File, by descriptor, and every syncFolder,
    // after it succeeded.
    struct Trace {
        virtual ~Trace() = default;
        virtual void created(int fd) = 0;
        virtual void wrote(int fd, uint32_t offset, const uint8_t* data, uint32_t length) = 0;
        virtual void resized(int fd, int64_t size) = 0;
        virtual void synced(int fd) = 0;
        virtual void folderSynced(const char* path) = 0;
    };
    static void setTrace(Trace* trace);

private:
    bool acquireMutex(const char* path);

    int handle;
    bool useMutex;
    platform::NamedMutex mutex;
};

// A File whose fate at destruction is fixed by its mode: 0 keep, 1 erase securely, 2 remove.
class SafeFile : public File
{
public:
    SafeFile();
    SafeFile(const char* path, int32_t mode);
    ~SafeFile() override;

    bool open(const char* path, const char* modeString);
    bool close();
    // Writes size x count bytes: count, or -1.
    int32_t writeItems(const void* buffer, size_t size, size_t count);

    int32_t mode;
    std::string path;
};

// Whole-text match with '?', '*', '\' escapes and [sets]; a pattern error gives false.
bool matchWildcard(const char* pattern, const char* text);
bool deleteFile(const char* path);
// Forces the names in the folder holding path (a new file, a rename) to the disk.
bool syncFolder(const char* path);
// Never replaces an existing target.
bool moveFile(const char* from, const char* to);
bool copyFile(const char* from, const char* to, bool overwrite = true);
int fileAccess(const char* path, int mode);
bool localTime(int64_t time, struct tm* out);
// The directory, a separator unless it ends in one, then the name.
std::string joinPath(const std::string& directory, const std::string& name);
// Appends the entries of a directory whose names end with suffix (all with null);
// throws std::runtime_error "Access denied" when listing is not allowed.
void listDirectory(const std::string& directory, std::vector<std::string>& list, const char* suffix);
// The size of an existing file, -1 when it cannot be opened (or does not fit 31 bits).
int32_t getFileSize(const char* path);
// Creates every missing directory level of the path.
bool makeDirectories(const char* path);

struct SystemInfo
{
    platform::OsVersionRecord version;
    // The classification of the system; 0 (unknown) here, so names never take the "Global\" prefix.
    uint32_t osCode;
};
const SystemInfo& getSystemInfo();
