#include "store/dbtal.h"

#include "base/file.h"
#include "base/miscutils.h"
#include "base/talexception.h"
#include "crypto/hash/lvsha.h"
#include "platform/fileio.h"
#include "platform/userdirs.h"
#include "store/dbcrltal.h"
#include "store/dbcrttal.h"

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const VERSION = "7";
const char* const DATA_FOLDER = "TAL-VORIN";
const char* const LOCK_FILE = "db.lck";

[[noreturn]] void importsFailure()
{
  throw TalApiException("Błąd otwarcia tabeli numerów importów", 158);
}

// One line of "imports.dat": digits, one blank, and the rest of the line is
// the name, blanks and all (a name is written whole, so it is read whole).
bool parseImportLine(const std::string& line, uint32_t& number, std::string& name)
{
  size_t blank = line.find(' ');
  if (blank == 0 || blank == std::string::npos || blank > 10)
    return false;
  uint64_t value = 0;
  for (size_t i = 0; i < blank; ++i) {
    if (line[i] < '0' || line[i] > '9')
      return false;
    value = value * 10 + static_cast<uint64_t>(line[i] - '0');
  }
  name = line.substr(blank + 1);
  if (value > UINT32_MAX || name.empty())
    return false;
  number = static_cast<uint32_t>(value);
  return true;
}

// The per-user folder of databases is the user's alone.
void makePrivateDataFolder(const std::string& directory)
{
  std::string data;
  if (!platform::localAppDataFolder(data) || data.empty())
    return;
  if (data.back() != '/')
    data += '/';
  std::string folder = data + DATA_FOLDER;
  if (directory.compare(0, folder.size() + 1, folder + "/") != 0)
    return;
  makeDirectories(data.c_str());
  if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST)
    ::chmod(folder.c_str(), 0700);
}

}  // namespace

// ------------------------------------------------------------- server table

DbSrvTal::DbSrvTal(const std::string& directory, InterProcessLock& lock)
    : path(directory + "imports.dat"), folder(directory), lock(lock)
{
}

unsigned DbSrvTal::sharedMode() const
{
  return platform::folderShareMode(folder.c_str());
}

void DbSrvTal::create()
{
  if (!platform::replaceFileContent(path.c_str(), "", 0, sharedMode()))
    importsFailure();
}

void DbSrvTal::load()
{
  int fd = platform::openFile(path.c_str(), true, false, platform::OpenDisposition::OpenExisting);
  if (fd == platform::INVALID_FILE)
    importsFailure();
  std::string text;
  int64_t size = platform::fileSize(fd);
  bool ok = size >= 0 && static_cast<uint64_t>(size) <= MAX_FILE;
  if (ok) {
    text.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < text.size()) {
      int64_t n = platform::readFile(fd, &text[done], text.size() - done);
      if (n <= 0)
        break;
      done += static_cast<size_t>(n);
    }
    text.resize(done);
  }
  platform::closeFile(fd);
  if (!ok)
    importsFailure();
  std::map<std::string, uint32_t> read;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty())
      continue;
    uint32_t number;
    std::string name;
    if (!parseImportLine(line, number, name))
      importsFailure();
    read[name] = number;
  }
  numbers.swap(read);
}

void DbSrvTal::save()
{
  std::string text;
  for (const auto& entry : numbers)
    text += std::to_string(entry.second) + " " + entry.first + "\n";
  if (!platform::replaceFileContent(path.c_str(), text.data(), text.size(), sharedMode()))
    importsFailure();
}

void DbSrvTal::removeServer(int32_t type, const std::string& name)
{
  if (type != DB_SERVER_CERTIFICATES)
    return;
  std::lock_guard<std::recursive_mutex> inProcess(mutex);
  FileSemaphore guard(lock, InterProcessLock::EXCLUSIVE);
  guard.p();
  load();
  DbSrvMem::removeServer(type, name);
  save();
  guard.v();
}

void DbSrvTal::getImportNumber(int32_t type, const std::string& name, uint32_t& number)
{
  std::lock_guard<std::recursive_mutex> inProcess(mutex);
  if (type == DB_SERVER_CERTIFICATES) {
    FileSemaphore guard(lock, InterProcessLock::SHARED);
    guard.p();
    load();
    guard.v();
  }
  DbSrvMem::getImportNumber(type, name, number);
}

void DbSrvTal::listServers(int32_t type, std::vector<std::string>& names)
{
  std::lock_guard<std::recursive_mutex> inProcess(mutex);
  if (type != DB_SERVER_CERTIFICATES)
    return;
  FileSemaphore guard(lock, InterProcessLock::SHARED);
  guard.p();
  load();
  guard.v();
  DbSrvMem::listServers(type, names);
}

void DbSrvTal::setImportNumber(int32_t type, const std::string& name, uint32_t number)
{
  std::lock_guard<std::recursive_mutex> inProcess(mutex);
  if (type != DB_SERVER_CERTIFICATES) {
    DbSrvMem::setImportNumber(type, name, number);  // refuses the type
    return;
  }
  // A line end inside a name would split its line and spoil the table.
  if (name.find_first_of("\r\n") != std::string::npos)
    throw std::runtime_error("Niepoprawna nazwa serwera: " + name);
  FileSemaphore guard(lock, InterProcessLock::EXCLUSIVE);
  guard.p();
  load();
  DbSrvMem::setImportNumber(type, name, number);
  save();
  guard.v();
}

// ------------------------------------------------------------- database

const char* const DbTal::FILES[11] = {"ca.dta",      "ca.idx",     "certific.dta", "certific.idx",
                                      "dnfld.dta",   "dnfld.idx",  "version.txt",  "addidx.dta",
                                      "addidx.idx",  "imports.dat", "crl_idx.asn"};

DbTal::~DbTal()
{
  delete crtStore;
  delete crlStore;
  delete srvStore;
  crtStore = nullptr;
  crlStore = nullptr;
  srvStore = nullptr;
}

void DbTal::connect(const std::string& directoryName)
{
  char resolved[4096];
  if (!buildDBDirectory(directoryName.c_str(), resolved, sizeof resolved) || !resolved[0])
    throw EnDb_Exception("DbTal::connect. Blad wywolania funkcji: buildDBDirectory");
  dir = resolved;
  if (dir.back() != '/')
    dir += '/';
  dirNoSlash = dir.size() > 1 ? dir.substr(0, dir.size() - 1) : dir;
  lock.reset(new InterProcessLock(createSemaforeName(), false, dir + LOCK_FILE));
  crtStore = new DbCrtTal(dir, *lock);
  crlStore = new DbCrlTal(dir, *lock);
  srvStore = new DbSrvTal(dir, *lock);
}

std::string DbTal::createSemaforeName() const
{
  return semaforeNameFor(dir, getSystemInfo().osCode);
}

std::string DbTal::semaforeNameFor(const std::string& directory, uint32_t osCode)
{
  if (osCode <= 5)
    return directory + LOCK_FILE;
  try {
    LvSha1 sha;
    sha.hash(reinterpret_cast<const LvOctet*>(directory.data()), static_cast<unsigned int>(directory.size()));
    std::string hex;
    bytesToHexString(sha.getHashPtr(), 20, hex);
    return "Global\\" + hex;
  } catch (const std::exception& e) {
    throw EnDb_Exception(std::string("DbTal::createSemaforeName. Blad liczenia skrótu: ") + e.what());
  }
}

void DbTal::create()
{
  makePrivateDataFolder(dir);
  if (!makeDirectories(dirNoSlash.c_str()))
    throw EnDb_Exception("DbTal::create. Blad tworzenia katalogu baz danych");
  // As a writer: an opener that meets the files' temporaries deletes them
  // under the exclusive lock, as those of a writer that died.
  FileSemaphore guard(*lock, InterProcessLock::EXCLUSIVE);
  guard.p();
  // Another opener may have made it meanwhile, and a database cut short is
  // the caller's to mend: neither is written over.
  if (holdsDatabaseFiles())
    return;
  static_cast<DbCrtTal*>(crtStore)->create();
  static_cast<DbCrlTal*>(crlStore)->create();
  static_cast<DbSrvTal*>(srvStore)->create();
  std::string version = dir + "version.txt";
  if (!platform::replaceFileContent(version.c_str(), VERSION, 1, platform::folderShareMode(dirNoSlash.c_str())))
    throw EnDb_Exception("writeFile: blad otwarcia pliku: " + version);
  guard.v();
}

bool DbTal::holdsDatabaseFiles() const
{
  std::vector<std::string> names;
  listDirectory(dirNoSlash, names, nullptr);
  for (std::string name : names) {
    if (isDatabaseTemporary(name) || name == "crl_rollback_log.txt")
      return true;
    // A table's journal and the copies a CRL update keeps speak for their file.
    for (const char* suffix : {".jnl", ".bak"}) {
      const size_t n = std::strlen(suffix);
      if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0)
        name.resize(name.size() - n);
    }
    for (const char* file : FILES) {
      if (name == file)
        return true;
    }
    // The time table, made on first use, and the CRL store's files.
    if (name == "netCertTime.dta" || name == "netCertTime.idx" || name == "crl_idx.chk")
      return true;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".chk") == 0)
      name.replace(name.size() - 4, 4, ".crl");
    int32_t number;
    if (crlFileNumber(name, number))
      return true;
  }
  return false;
}

int DbTal::verify()
{
  if (platform::accessPath(dirNoSlash.c_str(), F_OK) != 0)
    return DB_VERIFY_MISSING;
  if (platform::accessPath(dirNoSlash.c_str(), R_OK | X_OK) != 0)
    return DB_VERIFY_NO_ACCESS;
  // A CRL update cut short by a crash leaves "crl_idx.asn" aside: put it back first.
  try {
    static_cast<DbCrlTal*>(crlStore)->recover();
  } catch (const std::exception&) {
    // The count below reports what is missing.
  }
  // Counted under the lock: a database another opener is making (under the
  // exclusive lock) is seen before or after, never half made. Without the lock
  // (a folder that cannot hold its file) the files are counted as they are.
  FileSemaphore guard(*lock, InterProcessLock::SHARED);
  try {
    guard.p();
  } catch (const std::exception&) {
  }
  int count = 0;
  for (const char* file : FILES) {
    std::string path = dir + file;
    if (platform::accessPath(path.c_str(), F_OK) != 0)
      break;
    if (platform::accessPath(path.c_str(), R_OK) != 0) {
      count = -1;
      break;
    }
    ++count;
  }
  if (count == 0)
    return DB_VERIFY_MISSING;
  std::FILE* version = std::fopen((dir + "version.txt").c_str(), "rb");
  if (!version)
    return count == 6 ? DB_VERIFY_WRONG_VERSION : DB_VERIFY_INCOMPLETE;
  char text[4];
  size_t n = std::fread(text, 1, sizeof text, version);
  std::fclose(version);
  if (n != 1 || text[0] != VERSION[0])
    return DB_VERIFY_WRONG_VERSION;
  if (count != 11)
    return DB_VERIFY_INCOMPLETE;
  // The tables take the lock themselves.
  guard.v();
  // Every file is there: a table that fails its checks makes the database incomplete.
  return static_cast<DbCrtTal*>(crtStore)->tablesOpen() ? DB_VERIFY_VALID : DB_VERIFY_INCOMPLETE;
}

bool DbTal::copyDb(const std::string& sourceDirectory)
{
  if (!makeDirectories(dirNoSlash.c_str()))
    throw EnDb_Exception("DbTal::copyDb");
  std::string source = sourceDirectory;
  if (source.empty() || source.back() != '/')
    source += '/';
  for (const char* file : FILES) {
    std::string from = source + file, to = dir + file;
    if (!platform::pathExists(from.c_str()))
      return false;
    if (!copyFile(from.c_str(), to.c_str(), true))
      throw EnDb_Exception("Blad kopiowania pliku: " + from + " do polozenia: " + to);
    // A file a crash left with an update to finish needs its journal to open:
    // it goes along (and one of an earlier copy goes away).
    from += ".jnl";
    to += ".jnl";
    if (platform::pathExists(from.c_str())) {
      if (!copyFile(from.c_str(), to.c_str(), true))
        throw EnDb_Exception("Blad kopiowania pliku: " + from + " do polozenia: " + to);
    } else if (platform::pathExists(to.c_str())) {
      deleteFile(to.c_str());
    }
  }
  return true;
}
