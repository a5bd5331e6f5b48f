#include "platform/registry.h"
#include "platform/userdirs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

const char VALUE_MAGIC[4] = {'T', 'R', 'V', '1'};
const size_t VALUE_HEADER = 12;
const char* const KEY_PREFIX = "k_";
const char* const VALUE_PREFIX = "v_";
const char* const KEY_NAME_FILE = "name";
const char* const SYSTEM_ROOT = "/etc/TAL-VORIN/registry";

std::atomic<uint32_t> tempCounter{0};

RegistryStatus statusOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return RegistryStatus::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return RegistryStatus::AccessDenied;
    case ELOOP:  // a symbolic link planted in the tree is not followed
      return RegistryStatus::NotFound;
    default:
      return RegistryStatus::Failed;
  }
}

bool validName(const std::string& name, bool isKey) {
  if (name.size() > REGISTRY_MAX_NAME || (isKey && name.empty())) return false;
  if (name.find('\0') != std::string::npos || name.find('/') != std::string::npos ||
      name.find("..") != std::string::npos)
    return false;
  return !isKey || name.find('\\') == std::string::npos;
}

std::string folded(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string tempName(const char* kind) {
  return std::string(".tmp") + kind + "-" + std::to_string(static_cast<long>(::getpid())) + "-" +
         std::to_string(tempCounter.fetch_add(1));
}

bool writeAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Reads a whole regular file below dirFd, refusing links and files over maxSize.
RegistryStatus readWhole(int dirFd, const std::string& fileName, size_t maxSize,
                         std::vector<uint8_t>& out) {
  int fd = ::openat(dirFd, fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return statusOfErrno(errno);
  struct stat st;
  RegistryStatus status = RegistryStatus::Ok;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    status = RegistryStatus::Failed;
  } else if (static_cast<uint64_t>(st.st_size) > maxSize) {
    status = RegistryStatus::TooLarge;
  } else {
    out.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < out.size()) {
      ssize_t n = ::read(fd, out.data() + got, out.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    // The file is replaced, never changed in place, so a short read means damage.
    if (got != out.size()) status = RegistryStatus::Failed;
  }
  ::close(fd);
  return status;
}

struct ValueHeader {
  uint32_t type = REGISTRY_NONE;
  std::string name;
  size_t dataOffset = 0;
};

uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void putLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool parseHeader(const uint8_t* bytes, size_t size, ValueHeader& header) {
  if (size < VALUE_HEADER || std::memcmp(bytes, VALUE_MAGIC, 4) != 0) return false;
  uint32_t nameLength = readLe32(bytes + 8);
  if (nameLength > REGISTRY_MAX_NAME || VALUE_HEADER + nameLength > size) return false;
  header.type = readLe32(bytes + 4);
  header.name.assign(reinterpret_cast<const char*>(bytes + VALUE_HEADER), nameLength);
  header.dataOffset = VALUE_HEADER + nameLength;
  return true;
}

// The entries of a key folder that begin with prefix, without the prefix, sorted.
bool listEntries(int dirFd, const char* prefix, std::vector<std::string>& out) {
  out.clear();
  int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  size_t prefixLength = std::strlen(prefix);
  errno = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix, prefixLength) == 0)
      out.emplace_back(entry->d_name + prefixLength);
  }
  bool ok = errno == 0;
  ::closedir(dir);
  std::sort(out.begin(), out.end());
  return ok;
}

bool makeFolders(const std::string& path, mode_t mode) {
  std::string partial;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t next = path.find('/', pos + 1);
    if (next == std::string::npos) next = path.size();
    partial = path.substr(0, next);
    if (!partial.empty() && ::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return false;
    pos = next;
  }
  return true;
}

// Creates the subkey folder complete with its name file, then moves it into place, so that a key
// appears whole or not at all; a key another writer made first is kept.
RegistryStatus createKeyFolder(int parentFd, const std::string& name, bool privateTree) {
  mode_t dirMode = privateTree ? 0700 : 0755;
  mode_t fileMode = privateTree ? 0600 : 0644;
  std::string temp;
  for (int attempt = 0;; ++attempt) {
    temp = tempName("k");
    if (::mkdirat(parentFd, temp.c_str(), dirMode) == 0) break;
    if (errno != EEXIST || attempt > 16) return statusOfErrno(errno);
  }
  RegistryStatus status = RegistryStatus::Failed;
  int fd = ::openat(parentFd, temp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    int nameFd = ::openat(fd, KEY_NAME_FILE, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, fileMode);
    if (nameFd >= 0) {
      bool written = writeAll(nameFd, reinterpret_cast<const uint8_t*>(name.data()), name.size());
      written = ::fsync(nameFd) == 0 && written;
      ::close(nameFd);
      std::string target = KEY_PREFIX + folded(name);
      if (written && ::syscall(SYS_renameat2, parentFd, temp.c_str(), parentFd, target.c_str(),
                               RENAME_NOREPLACE) == 0) {
        ::close(fd);
        return RegistryStatus::Ok;
      }
      status = (errno == EEXIST || errno == ENOTEMPTY) ? RegistryStatus::Ok : statusOfErrno(errno);
      if (!written) status = RegistryStatus::Failed;
      ::unlinkat(fd, KEY_NAME_FILE, 0);
    }
    ::close(fd);
  }
  ::unlinkat(parentFd, temp.c_str(), AT_REMOVEDIR);
  return status;
}

bool splitKeyPath(const std::string& path, std::vector<std::string>& parts) {
  parts.clear();
  std::string text = path;
  if (!text.empty() && text.back() == '\\') text.pop_back();
  if (text.empty()) return true;
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\\', start);
    std::string part =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!validName(part, true)) return false;
    parts.push_back(part);
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

}  // namespace

bool registryRootFolder(RegistryRoot root, std::string& out) {
  const char* moved = std::getenv(REGISTRY_ROOT_VARIABLE);
  bool useMoved = moved && moved[0] == '/';
  if (root == RegistryRoot::LocalMachine) {
    out = useMoved ? std::string(moved) + "/HKEY_LOCAL_MACHINE" : SYSTEM_ROOT;
    return true;
  }
  if (root != RegistryRoot::CurrentUser) return false;
  if (useMoved) {
    out = std::string(moved) + "/HKEY_CURRENT_USER";
    return true;
  }
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    out = std::string(xdg) + "/TAL-VORIN/registry";
    return true;
  }
  std::string home;
  if (!platform::homeFolder(home)) return false;
  out = home + ".config/TAL-VORIN/registry";
  return true;
}

RegistryKey::~RegistryKey() { close(); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept { *this = std::move(other); }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    close();
    dirFd = other.dirFd;
    writable = other.writable;
    privateTree = other.privateTree;
    valueListing = std::move(other.valueListing);
    subkeyListing = std::move(other.subkeyListing);
    other.dirFd = -1;
  }
  return *this;
}

void RegistryKey::close() {
  if (dirFd >= 0) ::close(dirFd);
  dirFd = -1;
  writable = false;
  valueListing.clear();
  subkeyListing.clear();
}

RegistryStatus RegistryKey::openPath(int startFd, const std::string& path, bool writeAccess,
                                     bool createMissing, RegistryKey& out) const {
  std::vector<std::string> parts;
  if (!splitKeyPath(path, parts)) return RegistryStatus::InvalidName;
  int current = ::fcntl(startFd, F_DUPFD_CLOEXEC, 0);
  if (current < 0) return RegistryStatus::Failed;
  for (const std::string& part : parts) {
    std::string entry = KEY_PREFIX + folded(part);
    int next = ::openat(current, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && createMissing) {
      RegistryStatus made = createKeyFolder(current, part, privateTree);
      if (made != RegistryStatus::Ok) {
        ::close(current);
        return made;
      }
      next = ::openat(current, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    int error = errno;
    ::close(current);
    if (next < 0) return statusOfErrno(error);
    current = next;
  }
  out.close();
  out.dirFd = current;
  out.writable = writeAccess;
  out.privateTree = privateTree;
  return RegistryStatus::Ok;
}

RegistryStatus RegistryKey::open(RegistryRoot root, const std::string& path, bool writeAccess) {
  close();
  std::string folder;
  if (!registryRootFolder(root, folder)) return RegistryStatus::NotFound;
  int rootFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (rootFd < 0) return statusOfErrno(errno);
  privateTree = root == RegistryRoot::CurrentUser;
  RegistryStatus status = openPath(rootFd, path, writeAccess, false, *this);
  ::close(rootFd);
  return status;
}

RegistryStatus RegistryKey::openSubkey(const std::string& path, bool writeAccess,
                                       RegistryKey& out) const {
  if (!isOpen()) return RegistryStatus::NotFound;
  if (&out == this) return RegistryStatus::Failed;
  return openPath(dirFd, path, writeAccess, false, out);
}

RegistryStatus RegistryKey::create(RegistryRoot root, const std::string& path) {
  close();
  std::string folder;
  if (!registryRootFolder(root, folder)) return RegistryStatus::NotFound;
  privateTree = root == RegistryRoot::CurrentUser;
  if (!makeFolders(folder, privateTree ? 0700 : 0755)) return statusOfErrno(errno);
  int rootFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (rootFd < 0) return statusOfErrno(errno);
  RegistryStatus status = openPath(rootFd, path, true, true, *this);
  ::close(rootFd);
  return status;
}

RegistryStatus RegistryKey::enumValue(uint32_t index, std::string& name, uint32_t& type) {
  if (!isOpen()) return RegistryStatus::NotFound;
  if ((index == 0 || valueListing.empty()) && !listEntries(dirFd, VALUE_PREFIX, valueListing))
    return RegistryStatus::Failed;
  if (index >= valueListing.size()) return RegistryStatus::NoMoreItems;
  const std::string& entry = valueListing[index];
  // A value removed or damaged since the listing is still named, as a value without a type.
  name = entry;
  type = REGISTRY_NONE;
  int fd = ::openat(dirFd, (VALUE_PREFIX + entry).c_str(),
                    O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    uint8_t head[VALUE_HEADER + REGISTRY_MAX_NAME];
    ssize_t n = ::pread(fd, head, sizeof head, 0);
    ValueHeader header;
    if (n > 0 && parseHeader(head, static_cast<size_t>(n), header) &&
        folded(header.name) == entry) {
      name = header.name;
      type = header.type;
    }
    ::close(fd);
  }
  return RegistryStatus::Ok;
}

RegistryStatus RegistryKey::enumSubkey(uint32_t index, std::string& name) {
  if (!isOpen()) return RegistryStatus::NotFound;
  if ((index == 0 || subkeyListing.empty()) && !listEntries(dirFd, KEY_PREFIX, subkeyListing))
    return RegistryStatus::Failed;
  if (index >= subkeyListing.size()) return RegistryStatus::NoMoreItems;
  const std::string& entry = subkeyListing[index];
  name = entry;
  int fd = ::openat(dirFd, (KEY_PREFIX + entry).c_str(),
                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    std::vector<uint8_t> spelled;
    if (readWhole(fd, KEY_NAME_FILE, REGISTRY_MAX_NAME, spelled) == RegistryStatus::Ok) {
      std::string text(spelled.begin(), spelled.end());
      if (folded(text) == entry) name = text;
    }
    ::close(fd);
  }
  return RegistryStatus::Ok;
}

RegistryStatus RegistryKey::queryValue(const std::string& name, uint32_t& type,
                                       std::vector<uint8_t>& data) const {
  if (!isOpen()) return RegistryStatus::NotFound;
  if (!validName(name, false)) return RegistryStatus::InvalidName;
  std::vector<uint8_t> bytes;
  RegistryStatus status = readWhole(dirFd, VALUE_PREFIX + folded(name),
                                    VALUE_HEADER + REGISTRY_MAX_NAME + REGISTRY_MAX_VALUE, bytes);
  if (status != RegistryStatus::Ok) return status;
  ValueHeader header;
  if (!parseHeader(bytes.data(), bytes.size(), header)) return RegistryStatus::Failed;
  type = header.type;
  data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(header.dataOffset), bytes.end());
  return RegistryStatus::Ok;
}

RegistryStatus RegistryKey::setValue(const std::string& name, uint32_t type, const void* data,
                                     size_t length) {
  if (!isOpen()) return RegistryStatus::NotFound;
  if (!writable) return RegistryStatus::AccessDenied;
  if (!validName(name, false)) return RegistryStatus::InvalidName;
  if (length > REGISTRY_MAX_VALUE) return RegistryStatus::TooLarge;
  if (length > 0 && !data) return RegistryStatus::Failed;
  std::vector<uint8_t> bytes(VALUE_MAGIC, VALUE_MAGIC + 4);
  bytes.reserve(VALUE_HEADER + name.size() + length);
  putLe32(bytes, type);
  putLe32(bytes, static_cast<uint32_t>(name.size()));
  bytes.insert(bytes.end(), name.begin(), name.end());
  if (length > 0)
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(data),
                 static_cast<const uint8_t*>(data) + length);

  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temp = tempName("v");
    fd = ::openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  privateTree ? 0600 : 0644);
    if (fd < 0 && (errno != EEXIST || attempt > 16)) return statusOfErrno(errno);
  }
  // Contents reach the disk before the rename makes them the value.
  bool ok = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  int error = EIO;
  if (ok) {
    ok = ::renameat(dirFd, temp.c_str(), dirFd, (VALUE_PREFIX + folded(name)).c_str()) == 0;
    error = errno;
  }
  if (!ok) {
    ::unlinkat(dirFd, temp.c_str(), 0);
    return error == EIO ? RegistryStatus::Failed : statusOfErrno(error);
  }
  return RegistryStatus::Ok;
}

RegistryStatus RegistryKey::deleteValue(const std::string& name) {
  if (!isOpen()) return RegistryStatus::NotFound;
  if (!writable) return RegistryStatus::AccessDenied;
  if (!validName(name, false)) return RegistryStatus::InvalidName;
  if (::unlinkat(dirFd, (VALUE_PREFIX + folded(name)).c_str(), 0) != 0) return statusOfErrno(errno);
  return RegistryStatus::Ok;
}

RegistryStatus RegistryKey::deleteSubkey(const std::string& name) {
  if (!isOpen()) return RegistryStatus::NotFound;
  if (!writable) return RegistryStatus::AccessDenied;
  if (!validName(name, true)) return RegistryStatus::InvalidName;
  std::string entry = KEY_PREFIX + folded(name);
  int fd = ::openat(dirFd, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return statusOfErrno(errno);
  std::vector<std::string> subkeys;
  if (!listEntries(fd, KEY_PREFIX, subkeys) || !subkeys.empty()) {
    ::close(fd);
    return subkeys.empty() ? RegistryStatus::Failed : RegistryStatus::AccessDenied;
  }
  // Out of sight first, then emptied and removed.
  std::string temp = tempName("d");
  if (::syscall(SYS_renameat2, dirFd, entry.c_str(), dirFd, temp.c_str(), RENAME_NOREPLACE) != 0) {
    int error = errno;
    ::close(fd);
    return statusOfErrno(error);
  }
  std::vector<std::string> all;
  listEntries(fd, "", all);
  for (const std::string& file : all)
    if (file != "." && file != "..") ::unlinkat(fd, file.c_str(), 0);
  ::close(fd);
  ::unlinkat(dirFd, temp.c_str(), AT_REMOVEDIR);
  return RegistryStatus::Ok;
}

}  // namespace platform
