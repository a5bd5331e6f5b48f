// The file-backed database ("talvorin"): one directory holding the
// certificate tables, the CRL store and the server table "imports.dat", all
// behind one inter-process lock named after the directory.
#pragma once

#include "store/dbbase.h"
#include "store/dblock.h"
#include "store/dbmem.h"

#include <memory>
#include <string>

// The import numbers of certificate servers kept in "imports.dat" (one line
// per server: the number, a blank, the lower-cased name; LF written, LF and
// CR LF read). Each operation loads, changes and saves the file under one
// lock, so two processes never lose each other's update.
class DbSrvTal : public DbSrvMem {
 public:
  DbSrvTal(const std::string& directory, InterProcessLock& lock);
  void removeServer(int32_t type, const std::string& name) override;
  void getImportNumber(int32_t type, const std::string& name, uint32_t& number) override;
  void setImportNumber(int32_t type, const std::string& name, uint32_t number) override;
  void listServers(int32_t type, std::vector<std::string>& names) override;

  // Writes an empty table.
  void create();
  // Bounds of the file (it is untrusted input).
  static constexpr size_t MAX_FILE = 16u << 20;

 private:
  // Reads the file into the map; TalApiException 158 when it cannot be opened
  // or is not a table. The caller holds the lock.
  void load();
  void save();
  unsigned sharedMode() const;

  std::string path;
  std::string folder;
  InterProcessLock& lock;
};

class DbTal : public DbBase {
 public:
  DbTal() = default;
  // The stores go before the lock they share.
  ~DbTal() override;

  // Resolves the directory (a relative name goes under the per-user data
  // folder's "TAL-VORIN/"), makes the lock and the stores.
  void connect(const std::string& directoryName);
  // The lock's name: the directory (with its separator) and "db.lck"; where
  // the system asks for global names, "Global\" and the SHA-1 of the directory.
  // Whatever the name, the lock is the file "db.lck" in the directory.
  std::string createSemaforeName() const;
  // The same for a directory and a system classification; a digest that
  // fails throws EnDb_Exception "DbTal::createSemaforeName. Blad liczenia
  // skrótu: " and the failure's text.
  static std::string semaforeNameFor(const std::string& directory, uint32_t osCode);

  // Makes the directory and a new, empty database in it; a directory that
  // holds any file of a database already (holdsDatabaseFiles) is left as it is.
  void create() override;
  // Whether the directory holds a file of a database: a listed one, a table's
  // journal, the time table, a CRL file, a check file, a copy or a temporary
  // of an update.
  bool holdsDatabaseFiles() const;
  // As the file list and "version.txt" say; a complete database whose
  // certificate tables fail their checks on open is incomplete (2). A CRL
  // update a crash cut short is rolled back first.
  int verify() override;
  // Copies the listed files, each with its journal when the source has one.
  bool copyDb(const std::string& sourceDirectory) override;

  const std::string& directory() const { return dir; }

  // The database files in the order verify counts them and copyDb copies them.
  static const char* const FILES[11];

 private:
  std::string dir;         // with a trailing separator
  std::string dirNoSlash;  // without it
  std::unique_ptr<InterProcessLock> lock;
};
