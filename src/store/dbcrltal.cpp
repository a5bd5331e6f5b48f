#include "store/dbcrltal.h"

#include "base/file.h"
#include "platform/clock.h"
#include "platform/fileio.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

const char* const BAK = ".bak";
// DER of an empty index: nextNumber 0 and no items.
const uint8_t EMPTY_INDEX[] = {0x30, 0x05, 0x02, 0x01, 0x00, 0x30, 0x00};

[[noreturn]] void fail(const std::string& text) { throw std::runtime_error(text); }

enum class Read { OK, MISSING, TOO_LARGE };

// Reads a whole file of at most DbCrlTal::MAX_FILE bytes.
Read readWhole(const std::string& path, DbBytes& out)
{
  out.clear();
  int fd = platform::openFile(path.c_str(), true, false, platform::OpenDisposition::OpenExisting);
  if (fd == platform::INVALID_FILE)
    return Read::MISSING;
  int64_t size = platform::fileSize(fd);
  Read result = Read::OK;
  if (size < 0 || static_cast<uint64_t>(size) > DbCrlTal::MAX_FILE) {
    result = size < 0 ? Read::MISSING : Read::TOO_LARGE;
  } else {
    out.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < out.size()) {
      int64_t n = platform::readFile(fd, out.data() + done, out.size() - done);
      if (n <= 0)
        break;
      done += static_cast<size_t>(n);
    }
    // A file that shrank while it was read is read as it is now.
    out.resize(done);
  }
  platform::closeFile(fd);
  return result;
}

void readOrThrow(const std::string& path, DbBytes& out)
{
  if (readWhole(path, out) != Read::OK)
    fail("readFile(): Blad otwarcia bliku: " + path);
}

// New files of a shared folder are as open as the folder (see platform::folderShareMode).
unsigned sharedMode(const std::string& path)
{
  size_t slash = path.rfind('/');
  return platform::folderShareMode(slash == std::string::npos ? "." : path.substr(0, slash + 1).c_str());
}

// Every file is replaced as one step (a new file renamed over the old), so a
// crash leaves the old content or the new, never a part. New contents are
// written beside their files first, so that an update meets a full disk before
// it changes anything; each then takes its file's name. A file that cannot be
// made fails to open; one made but not written whole fails to be written.
class Replacements {
 public:
  Replacements() = default;
  Replacements(const Replacements&) = delete;
  Replacements& operator=(const Replacements&) = delete;
  ~Replacements()
  {
    for (const auto& r : waiting)
      deleteFile(r.second.c_str());
  }
  void write(const std::string& path, const uint8_t* data, size_t length)
  {
    std::string temp;
    bool opened = false;
    if (platform::writeReplacement(
            path.c_str(),
            [&](int fd) {
              opened = true;
              return platform::writeFile(fd, data, length) == length;
            },
            sharedMode(path), temp)) {
      waiting.emplace_back(path, temp);
      return;
    }
    if (!opened)
      fail("writeFile: blad otwarcia pliku: " + path);
    fail("writeFile: blad zapisy pliku");
  }
  // In the order written; false when a rename fails (the rest stay waiting).
  bool takeAll()
  {
    while (!waiting.empty()) {
      if (!platform::takeReplacement(waiting.front().second.c_str(), waiting.front().first.c_str()))
        return false;
      waiting.erase(waiting.begin());
    }
    return true;
  }

 private:
  std::vector<std::pair<std::string, std::string>> waiting;  // {path, temporary file}
};

void writeWhole(const std::string& path, const uint8_t* data, size_t length)
{
  Replacements news;
  news.write(path, data, length);
  if (!news.takeAll())
    fail("writeFile: blad zapisy pliku");
}

bool copyWhole(const std::string& from, const std::string& to)
{
  DbBytes bytes;
  return readWhole(from, bytes) == Read::OK &&
         platform::replaceFileContent(to.c_str(), bytes.data(), bytes.size(), sharedMode(to));
}

// Another name of the same file, which takes no room (files here are only ever
// replaced whole, never changed in place); a copy where the file system cannot
// link. A restore runs when a write failed, often for want of room, and so
// may the ".bak" copy an update keeps of the CRL it leaves in place.
bool linkOrCopy(const std::string& from, const std::string& to)
{
  return platform::replaceWithLink(from.c_str(), to.c_str()) || copyWhole(from, to);
}

// One DER header inside [p, end): definite lengths of at most four octets.
bool derHeader(const uint8_t*& p, const uint8_t* end, uint8_t& tag, size_t& length)
{
  if (end - p < 2)
    return false;
  tag = *p++;
  size_t first = *p++;
  if (first < 0x80) {
    length = first;
  } else {
    size_t n = first & 0x7F;
    if (n == 0 || n > 4 || static_cast<size_t>(end - p) < n)
      return false;
    length = 0;
    for (size_t i = 0; i < n; ++i)
      length = length << 8 | *p++;
  }
  return length <= static_cast<size_t>(end - p);
}

bool derInt32(const uint8_t* p, size_t length, int32_t& value)
{
  if (length < 1 || length > 4)
    return false;
  int64_t v = (p[0] & 0x80) ? -1 : 0;
  for (size_t i = 0; i < length; ++i)
    v = v * 256 + p[i];
  value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

std::array<uint8_t, 8> crlCheckBytes(const uint8_t* data, size_t length)
{
  std::array<uint8_t, 8> check{};
  check[3] = static_cast<uint8_t>(length % 256);
  for (size_t i = 0; i < 4 && i < length; ++i)
    check[7 - i] = data[length - 1 - i];
  return check;
}

bool crlIndexNumbers(const DbBytes& indexDer, std::vector<int32_t>& numbers)
{
  numbers.clear();
  const uint8_t* p = indexDer.data();
  const uint8_t* end = p + indexDer.size();
  uint8_t tag;
  size_t length;
  int32_t next;
  if (!derHeader(p, end, tag, length) || tag != 0x30)
    return false;
  end = p + length;
  if (!derHeader(p, end, tag, length) || tag != 0x02 || !derInt32(p, length, next))
    return false;
  p += length;
  if (!derHeader(p, end, tag, length) || tag != 0x30)
    return false;
  const uint8_t* itemsEnd = p + length;
  while (p < itemsEnd) {
    if (!derHeader(p, itemsEnd, tag, length) || tag != 0x30)
      return false;
    const uint8_t* item = p;
    size_t numberLength;
    int32_t number;
    if (!derHeader(item, p + length, tag, numberLength) || tag != 0x02 ||
        !derInt32(item, numberLength, number))
      return false;
    numbers.push_back(number);
    p += length;
  }
  return true;
}

bool crlIndexNewestNumber(const DbBytes& indexDer, int32_t& number)
{
  std::vector<int32_t> numbers;
  if (!crlIndexNumbers(indexDer, numbers))
    return false;
  number = numbers.empty() ? -1 : numbers.back();
  return true;
}

bool crlFileNumber(const std::string& name, int32_t& number)
{
  if (name.size() < 5 || name.size() > 14 || name.compare(name.size() - 4, 4, ".crl") != 0)
    return false;
  const size_t digits = name.size() - 4;
  if (name[0] == '0' && digits > 1)
    return false;
  int64_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    if (name[i] < '0' || name[i] > '9')
      return false;
    value = value * 10 + (name[i] - '0');
  }
  if (value > INT32_MAX)
    return false;
  number = static_cast<int32_t>(value);
  return true;
}

bool isDatabaseTemporary(const std::string& name)
{
  // "<file>.tmp-<pid>-<counter>", as platform::writeReplacement names them.
  const size_t at = name.rfind(".tmp-");
  if (at == std::string::npos)
    return false;
  const size_t dash = name.find('-', at + 5);
  auto digits = [&name](size_t from, size_t to) {
    if (from >= to)
      return false;
    for (size_t i = from; i < to; ++i)
      if (name[i] < '0' || name[i] > '9')
        return false;
    return true;
  };
  if (dash == std::string::npos || !digits(at + 5, dash) || !digits(dash + 1, name.size()))
    return false;
  std::string file = name.substr(0, at);
  if (file == "imports.dat" || file == "version.txt")
    return true;
  const size_t bak = std::strlen(BAK);
  if (file.size() > bak && file.compare(file.size() - bak, bak, BAK) == 0)
    file.resize(file.size() - bak);
  if (file == "crl_idx.asn" || file == "crl_idx.chk")
    return true;
  if (file.size() > 4 && file.compare(file.size() - 4, 4, ".chk") == 0)
    file.replace(file.size() - 4, 4, ".crl");
  int32_t number;
  return crlFileNumber(file, number);
}

DbCrlTal::DbCrlTal(const std::string& directory, InterProcessLock& lock)
    : directory(directory),
      indexPath(directory + "crl_idx.asn"),
      indexCheckPath(directory + "crl_idx.chk"),
      lock(lock)
{
}

DbCrlTal::~DbCrlTal() = default;

std::string DbCrlTal::crlPath(int32_t n, const char* extension) const
{
  return directory + std::to_string(n) + extension;
}

void DbCrlTal::create()
{
  writeWhole(indexPath, EMPTY_INDEX, sizeof EMPTY_INDEX);
}

int DbCrlTal::check(const std::string& dataPath, const std::string& checkPath)
{
  DbBytes stored, data;
  if (readWhole(checkPath, stored) == Read::MISSING)
    return CHECK_NO_CHECK_FILE;
  if (readWhole(dataPath, data) != Read::OK)
    return CHECK_DIFFERS;
  std::array<uint8_t, 8> wanted = crlCheckBytes(data.data(), data.size());
  return stored.size() == wanted.size() && std::equal(wanted.begin(), wanted.end(), stored.begin())
             ? CHECK_EQUAL
             : CHECK_DIFFERS;
}

void DbCrlTal::restore(int32_t p)
{
  struct tm t = {};
  platform::toLocalTime(platform::currentTime(), t);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d.%02d.%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  if (std::FILE* log = std::fopen((directory + "crl_rollback_log.txt").c_str(), "ab")) {
    std::fprintf(log, "%s   rollback crlNUm = %ld\n", stamp, static_cast<long>(p));
    std::fclose(log);
  }
  if (p >= 0) {
    deleteFile(crlPath(p, ".crl").c_str());
    deleteFile(crlPath(p, ".chk").c_str());
  }
  removeTemporaries();
  std::vector<std::string> names;
  listDirectory(directory, names, BAK);
  for (const std::string& name : names)
    if (name.size() > std::strlen(BAK))
      linkOrCopy(directory + name, directory + name.substr(0, name.size() - std::strlen(BAK)));
}

std::vector<std::string> DbCrlTal::temporaries()
{
  std::vector<std::string> names, found;
  listDirectory(directory, names, nullptr);
  for (const std::string& name : names)
    if (isDatabaseTemporary(name))
      found.push_back(name);
  return found;
}

void DbCrlTal::removeTemporaries()
{
  // A file being replaced when the writer died leaves its new content behind
  // under a temporary name; writers hold the lock, so none is live now.
  for (const std::string& name : temporaries())
    deleteFile((directory + name).c_str());
}

bool DbCrlTal::isTorn(int32_t& newest)
{
  newest = -1;
  // Without the index copy of an update there is nothing to go back to.
  if (!platform::pathExists((indexPath + BAK).c_str()))
    return false;
  DbBytes index;
  if (readWhole(indexPath, index) != Read::OK)
    return true;
  // Files are replaced whole, so a crash leaves files missing, never a part of
  // one; bytes that differ are left to the check of the next update.
  if (!crlIndexNewestNumber(index, newest))
    newest = -1;
  if (!platform::pathExists(indexCheckPath.c_str()) && platform::pathExists((indexCheckPath + BAK).c_str()))
    return true;
  // The newest CRL and its check file are written after the index.
  return newest >= 0 && (!platform::pathExists(crlPath(newest, ".crl").c_str()) ||
                         !platform::pathExists(crlPath(newest, ".chk").c_str()));
}

std::vector<std::string> DbCrlTal::unlistedCrlFiles()
{
  // The folder is listed before the index is read: an update renames its new
  // index into place before its new CRL file, so a CRL file seen here is
  // listed by the index read after it unless an update has since replaced
  // it. Under the lock no update runs; the order keeps this sound even so.
  std::vector<std::string> names, unlisted;
  listDirectory(directory, names, ".crl");
  DbBytes index;
  std::vector<int32_t> listed;
  // An index that fails its check may be damaged: it decides nothing (the next
  // update restores it).
  if (names.empty() || check(indexPath, indexCheckPath) != CHECK_EQUAL ||
      readWhole(indexPath, index) != Read::OK || !crlIndexNumbers(index, listed))
    return unlisted;
  for (const std::string& name : names) {
    int32_t number;
    if (crlFileNumber(name, number) &&
        std::find(listed.begin(), listed.end(), number) == listed.end())
      unlisted.push_back(name);
  }
  return unlisted;
}

void DbCrlTal::recoverHeld(bool exclusive, bool sweep)
{
  int32_t newest;
  bool torn = isTorn(newest);
  // A CRL an update replaced is deleted after the new files took their names:
  // a writer that died in between left it behind, listed nowhere; one that
  // died while it wrote left its new contents under temporary names.
  if (!torn && (!sweep || (unlistedCrlFiles().empty() && temporaries().empty()))) {
    swept = swept || sweep;
    return;
  }
  // A reader restores and deletes only under the exclusive lock (and looks
  // again once it holds it: the lock is let go on the way), then takes its own
  // mode back.
  if (!exclusive) {
    if (!lock.lock(true))
      fail("FileSemaphore::p: blad zajecia semafora");
    torn = isTorn(newest);
  }
  if (torn)
    restore(newest);
  if (sweep) {
    // Under the exclusive lock no writer is live: every temporary is stale.
    removeTemporaries();
    for (const std::string& name : unlistedCrlFiles())
      deleteFile((directory + name).c_str());
    swept = true;
  }
  if (!exclusive && !lock.lock(false))
    fail("FileSemaphore::p: blad zajecia semafora");
}

void DbCrlTal::recover()
{
  FileSemaphore guard(lock, InterProcessLock::SHARED);
  guard.p();
  recoverHeld(false, true);
  guard.v();
}

void DbCrlTal::readAll(std::vector<DbBytes>& out)
{
  FileSemaphore guard(lock, InterProcessLock::SHARED);
  guard.p();
  std::vector<std::string> names;
  listDirectory(directory, names, ".crl");
  for (const std::string& name : names) {
    DbBytes bytes;
    if (readWhole(directory + name, bytes) == Read::OK)
      out.push_back(std::move(bytes));
  }
  guard.v();
}

void DbCrlTal::insertCrl(const DbBytes& indexDer, const DbBytes& crlDer, int32_t n, int32_t removeNumber)
{
  int32_t p = n - 1;
  int r = check(crlPath(p, ".crl"), crlPath(p, ".chk"));
  if (r == CHECK_DIFFERS) {
    restore(p);
    fail("Naruszona integralność bazy CRL (plik CRL). Wykonano operację restore");
  }
  if (r == CHECK_EQUAL && check(indexPath, indexCheckPath) == CHECK_DIFFERS) {
    restore(p);
    fail("Naruszona integralność bazy CRL (plik indeksu CRL-i). Wykonano operację restore");
  }
  // What an update a crash cut short wrote under temporary names would hold
  // room for good. The copies of the update before go first too: the store
  // is whole (checked above and when the lock was taken), and their room may
  // be what the new files need.
  removeTemporaries();
  std::vector<std::string> backups;
  listDirectory(directory, backups, BAK);
  for (const std::string& name : backups)
    deleteFile((directory + name).c_str());
  // Every new content is on the disk before the first file changes: a write
  // that fails (a full disk) leaves the store as it was. From there on only
  // names change, which takes no room.
  std::array<uint8_t, 8> indexCheck = crlCheckBytes(indexDer.data(), indexDer.size());
  std::array<uint8_t, 8> crlCheck = crlCheckBytes(crlDer.data(), crlDer.size());
  // The names are taken in the order written: the new CRL file appears only
  // once an index lists it, which the deletion of unlisted files relies on.
  Replacements news;
  news.write(indexPath, indexDer.data(), indexDer.size());
  news.write(indexCheckPath, indexCheck.data(), indexCheck.size());
  news.write(crlPath(n, ".crl"), crlDer.data(), crlDer.size());
  news.write(crlPath(n, ".chk"), crlCheck.data(), crlCheck.size());
  moveFile(indexPath.c_str(), (indexPath + BAK).c_str());
  moveFile(indexCheckPath.c_str(), (indexCheckPath + BAK).c_str());
  linkOrCopy(crlPath(p, ".crl"), crlPath(p, ".crl") + BAK);
  moveFile(crlPath(p, ".chk").c_str(), (crlPath(p, ".chk") + BAK).c_str());
  if (!news.takeAll()) {
    // A rename the system refused: back to the state before the update.
    restore(n);
    fail("writeFile: blad zapisy pliku");
  }
  if (removeNumber >= 0)
    deleteFile(crlPath(removeNumber, ".crl").c_str());
}

void DbCrlTal::getCrlIndex(DbBytes& out, DbCrlGuard& guard)
{
  std::unique_ptr<FileSemaphore> taken(new FileSemaphore(lock, guard.getMode()));
  taken->p();
  semaphore = std::move(taken);
  guard.attach(this);
  // Readers look for files left behind once per connection only: every
  // revocation check reads the index, and the look lists the folder and may
  // take the lock exclusively. An update (the exclusive mode) looks each time.
  const bool exclusive = guard.getMode() == InterProcessLock::EXCLUSIVE;
  recoverHeld(exclusive, exclusive || !swept);
  readOrThrow(indexPath, out);
}

void DbCrlTal::getCrlByFileNum(int32_t n, DbBytes& out)
{
  readOrThrow(crlPath(n, ".crl"), out);
}

void DbCrlTal::unlock()
{
  std::unique_ptr<FileSemaphore> held(std::move(semaphore));
  if (held)
    held->v();
  else if (!lock.unlock())
    fail("FileSemaphore::v: blad zwolnienia semafora");
}
