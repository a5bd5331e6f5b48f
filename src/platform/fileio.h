// Files and directories: thin POSIX calls with the behaviour the file layer expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

const int INVALID_FILE = -1;

enum class OpenDisposition
{
    OpenExisting, // fails when the file does not exist
    CreateNew,    // fails when the file exists
    CreateAlways, // creates or truncates
    OpenAlways,   // opens or creates
};

// A descriptor, or INVALID_FILE. Directories are refused.
int openFile(const char* path, bool readAccess, bool writeAccess, OpenDisposition disposition);
// A caller's file to read: a descriptor only for a regular file (a FIFO, a device or a folder
// gives INVALID_FILE), opened without waiting for a writer, then reading as usual.
int openRegularFile(const char* path);
bool closeFile(int fd);
// One read: the bytes read (0 at the end), -1 on failure.
int64_t readFile(int fd, void* buffer, size_t length);
// Writes everything: the bytes written, fewer only on failure.
size_t writeFile(int fd, const void* buffer, size_t length);
// For tests of a full disk: when set, asked before every write of file content (writeFile,
// File::writeAt) and every sync of a file or a folder (syncFile, syncFileData, syncFolderOf, a
// replacement's); true makes
// that call fail as a full disk would, with nothing written.
void setFileFault(bool (*fault)());
// What the hook answers; false when none is set.
bool fileFault();
// whence: SEEK_SET, SEEK_CUR or SEEK_END; the new offset or -1.
int64_t seekFile(int fd, int64_t offset, int whence);
int64_t fileSize(int fd);
// Sets the end of the file at length (extending with zeros or cutting).
bool setFileLength(int fd, int64_t length);
// Forces written data to the storage device.
bool syncFile(int fd);
// The same for the content and what reading it back needs (the length), not
// the times: fdatasync(2).
bool syncFileData(int fd);
// Forces the names in the folder holding path (a new file, a rename) to the storage device.
bool syncFolderOf(const char* path);

bool removeFile(const char* path);
// Moves a file or directory; never replaces an existing target.
bool moveFileNoReplace(const char* from, const char* to);
// Replaces the content of the file at path as one step: the bytes go to a new temporary file in
// the same folder, reach the disk, and the temporary file then takes the name. A reader sees the
// old content or the new, never a mixture; on failure the old file is untouched. A new file gets
// the permissions mode (less the umask), a replaced one keeps its own. Without sync the bytes and
// the new name are left to the kernel's write-back (an output file written as fopen/fclose would
// write it): still all or nothing for readers and failures, though not across a power loss.
bool replaceFileContent(const char* path, const void* data, size_t length, unsigned mode = 0600,
                        bool sync = true);
// The same with the content written by `write` to the temporary file's descriptor, so a large
// content need not be held in memory first; when `write` answers false nothing is renamed.
bool replaceFileContentWith(const char* path, const std::function<bool(int fd)>& write,
                            unsigned mode = 0600, bool sync = true);
// The two halves of replaceFileContentWith, for a change of several files that must take no new
// room once the first of them is replaced: writeReplacement writes the new content to a temporary
// file beside path (its name in temp; no file is left on failure), takeReplacement gives it the
// name path (true once renamed, whether or not the folder then reaches the disk).
bool writeReplacement(const char* path, const std::function<bool(int fd)>& write, unsigned mode,
                      std::string& temp, bool sync = true);
bool takeReplacement(const char* temp, const char* path, bool sync = true);
// Replaces the file at path with another name of the file from (a hard link), so the content is
// not copied and no room is taken for it; false where the file system cannot link.
bool replaceWithLink(const char* from, const char* path);
// Copies a regular file's content; refuses to copy a file onto itself.
bool copyFileContent(const char* from, const char* to, bool overwrite);
// access(2): 0 when allowed, -1 otherwise.
int accessPath(const char* path, int mode);
bool pathExists(const char* path);
bool isDirectory(const char* path);
bool makeDirectory(const char* path);
// The permissions of a new file of a folder that several users may share: read and write for
// its owner; for the group and for others, read and write when they may write the folder, read
// when they may only list it. 0600 when the folder cannot be examined.
unsigned folderShareMode(const char* folder);
// Gives the file at path the permissions folderShareMode answers for its folder.
bool shareLikeFolder(const char* path);
// The size of the file at path, -1 when it cannot be examined.
int64_t pathFileSize(const char* path);

enum class ListResult
{
    Ok,
    AccessDenied,
    Failed,
};
// The names of a directory's entries in the system's order, "." and ".." included.
ListResult listDirectoryEntries(const char* directory, std::vector<std::string>& names);

// An absolute, '/'-separated path of at most maxLength characters; "." and ".." components are
// resolved textually (the path need not exist).
bool absolutePath(const std::string& path, std::string& out, size_t maxLength);

} // namespace platform
