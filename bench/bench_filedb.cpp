// bench-libs: tal_store sqlite3
// The file-backed database beside SQLite (the same keys in a table with an
// index, inserted in one transaction, synchronous=NORMAL): 1,000,000 keys
// inserted into one table and 1,000,000 random look-ups; 100,000
// certificates imported (their five tables against five SQLite tables with
// the same indexes) and found by serial-number key. The counters give the
// files' sizes in bytes. The bulk runs are one transaction on each side: at
// its one commit our batch syncs the data file, the index's new pages, the
// index's journal and armed record (when pages that were there before
// change) and the index at its commit point; SQLite syncs its rollback
// journal and database file at its one COMMIT. Lookups: our
// certificate store takes the inter-process lock for every operation and
// brings its open tables up to date, as it must for other processes; SQLite
// keeps one connection open. The pair "insert 500 keys, each committed" sets
// our inserts committed one by one (the same syncs for each) beside SQLite's
// autocommit inserts.
#include <sqlite3.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "ratio_main.h"
#include "store/db/dbtable.h"
#include "store/dbcrttal.h"
#include "store/dbtal.h"

namespace {

const int KEYS = 1000000;
const int CERTS = 100000;
const IndexDescriptor ONE_INDEX[] = {{41, 4096}};

// Every folder of the run lives in one the run made itself (mkdtemp under
// $TMPDIR, else /tmp), and that one goes when the program ends: at a normal
// end or exit() by the guard's destructor (a function-local static, so
// registered with atexit), at abort() or a fatal or stopping signal by the
// handler. A handler may make async-signal-safe calls only, so it forks an
// "rm -rf" of the folder's path, kept ready in a fixed buffer, and waits for it.
char madeFolder[4096];  // empty until the folder exists

void removeMadeFolderFromHandler()
{
  if (!madeFolder[0]) return;
  const pid_t child = ::fork();
  if (child == 0) {
    char rm[] = "/bin/rm", force[] = "-rf", last[] = "--";
    char* argv[] = {rm, force, last, madeFolder, nullptr};
    char* envp[] = {nullptr};
    ::execve(rm, argv, envp);
    ::_exit(127);
  }
  int status = 0;
  if (child > 0)
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  madeFolder[0] = 0;
}

extern "C" void onEndingSignal(int sig)
{
  const int saved = errno;
  removeMadeFolderFromHandler();
  errno = saved;
  ::raise(sig);  // the handler was reset: delivered with its default action on return
}

class MadeFolder {
 public:
  MadeFolder()
  {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/talvorin-bench-filedb-XXXXXX";
    if (pattern.size() >= sizeof madeFolder) std::abort();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (!::mkdtemp(name.data())) std::abort();
    path = name.data();
    std::memcpy(madeFolder, name.data(), name.size());
    struct sigaction sa = {};
    sa.sa_handler = onEndingSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;
    for (int sig : {SIGABRT, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
      ::sigaction(sig, &sa, nullptr);
  }
  ~MadeFolder()
  {
    madeFolder[0] = 0;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  MadeFolder(const MadeFolder&) = delete;
  MadeFolder& operator=(const MadeFolder&) = delete;

  std::string path;
};

// A fresh, empty folder named what inside the run's own folder.
std::string scratch(const std::string& what)
{
  static MadeFolder made;
  std::string dir = made.path + "/" + what;
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  if (::mkdir(dir.c_str(), 0700) != 0) std::abort();
  return dir;
}

double sizeOf(const std::string& path)
{
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0;
}

DbHash randomHash(std::mt19937_64& random)
{
  DbHash h;
  for (uint8_t& b : h) b = static_cast<uint8_t>(1 + random() % 255);
  return h;
}

const std::vector<std::string>& keys()
{
  static std::vector<std::string> all = [] {
    std::mt19937_64 random(7);
    std::vector<std::string> k;
    for (int i = 0; i < KEYS; ++i) k.push_back(dbHashText(randomHash(random)));
    return k;
  }();
  return all;
}

void exec(sqlite3* db, const char* sql)
{
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
}

sqlite3* openSqlite(const std::string& path, const char* schema)
{
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
  exec(db, "PRAGMA synchronous=NORMAL");
  if (schema) exec(db, schema);
  return db;
}

// Builds our key table; the directory holds "keys.idx" and "keys.dta".
void buildOurs(const std::string& dir, benchmark::State* state)
{
  DbTable t;
  std::string name = dir + "/keys";
  if (!t.create(name.c_str(), 1, ONE_INDEX) || !t.open(name.c_str()) || !t.beginBatch()) std::abort();
  uint32_t position;
  for (const std::string& k : keys()) {
    const char* list[] = {k.c_str()};
    if (!t.insert(list, nullptr, 0, &position)) std::abort();
  }
  if (!t.endBatch()) std::abort();
  t.close();
  if (state) state->counters["bytes"] = sizeOf(name + ".idx") + sizeOf(name + ".dta");
}

void buildSqlite(const std::string& path, benchmark::State* state)
{
  sqlite3* db = openSqlite(path, "CREATE TABLE t(k TEXT, pos INTEGER); CREATE INDEX tk ON t(k)");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr);
  exec(db, "BEGIN");
  int i = 0;
  for (const std::string& k : keys()) {
    sqlite3_bind_text(insert, 1, k.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 2, i++);
    if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
    sqlite3_reset(insert);
  }
  exec(db, "COMMIT");
  sqlite3_finalize(insert);
  sqlite3_close(db);
  if (state) state->counters["bytes"] = sizeOf(path);
}

const int COMMITTED = 500;

void oursInsertCommitted(benchmark::State& state)
{
  for (auto _ : state) {
    DbTable t;
    std::string name = scratch("committed") + "/keys";
    if (!t.create(name.c_str(), 1, ONE_INDEX) || !t.open(name.c_str())) std::abort();
    uint32_t position;
    for (int i = 0; i < COMMITTED; ++i) {
      const char* list[] = {keys()[i].c_str()};
      if (!t.insert(list, nullptr, 0, &position)) std::abort();
    }
  }
}

void sqliteInsertCommitted(benchmark::State& state)
{
  for (auto _ : state) {
    sqlite3* db = openSqlite(scratch("committed") + "/keys.db",
                             "CREATE TABLE t(k TEXT, pos INTEGER); CREATE INDEX tk ON t(k)");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr);
    for (int i = 0; i < COMMITTED; ++i) {
      sqlite3_bind_text(insert, 1, keys()[i].c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(insert, 2, i);
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
}

void oursInsert(benchmark::State& state)
{
  for (auto _ : state) buildOurs(scratch("insert"), &state);
}

void sqliteInsert(benchmark::State& state)
{
  for (auto _ : state) buildSqlite(scratch("insert") + "/keys.db", &state);
}

std::vector<size_t> lookupOrder()
{
  std::mt19937_64 random(11);
  std::vector<size_t> order;
  for (int i = 0; i < KEYS; ++i) order.push_back(random() % KEYS);
  return order;
}

void oursLookup(benchmark::State& state)
{
  static const std::string dir = [] {
    std::string d = scratch("lookup-ours");
    buildOurs(d, nullptr);
    return d;
  }();
  std::vector<size_t> order = lookupOrder();
  DbTable t;
  if (!t.open((dir + "/keys").c_str())) std::abort();
  for (auto _ : state)
    for (size_t i : order)
      if (t.find(keys()[i].c_str()) != 1) state.SkipWithError("a key was not found");
  t.close();
}

void sqliteLookup(benchmark::State& state)
{
  static const std::string path = [] {
    std::string p = scratch("lookup-sqlite") + "/keys.db";
    buildSqlite(p, nullptr);
    return p;
  }();
  std::vector<size_t> order = lookupOrder();
  sqlite3* db = openSqlite(path, nullptr);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT pos FROM t WHERE k = ?", -1, &select, nullptr);
  for (auto _ : state)
    for (size_t i : order) {
      sqlite3_bind_text(select, 1, keys()[i].c_str(), -1, SQLITE_STATIC);
      if (sqlite3_step(select) != SQLITE_ROW) state.SkipWithError("a key was not found");
      sqlite3_reset(select);
    }
  sqlite3_finalize(select);
  sqlite3_close(db);
}

struct Cert {
  DbHash serial, subject, certHash, keyId;
  std::string email;
  DbBytes der;
};

const std::vector<Cert>& certs()
{
  static std::vector<Cert> all = [] {
    std::mt19937_64 random(13);
    std::vector<Cert> c(CERTS);
    for (int i = 0; i < CERTS; ++i) {
      c[i] = {randomHash(random), randomHash(random), randomHash(random), randomHash(random),
              "user" + std::to_string(i) + "@example.com", DbBytes(900, static_cast<uint8_t>(i))};
      c[i].der[0] = static_cast<uint8_t>(i >> 8);
    }
    return c;
  }();
  return all;
}

std::string fieldOf(int i) { return "NAME " + std::to_string(i); }

void importOurs(const std::string& dir, benchmark::State* state)
{
  DbTal db;
  db.connect(dir);
  db.create();
  int i = 0;
  DbCrtBatch batch(db.crt());
  for (const Cert& c : certs()) {
    DbDnFieldList fields{{'c', "PL"}, {'n', fieldOf(i++)}};
    db.crt()->insertCert(c.serial, c.subject, c.certHash, c.keyId, c.email, c.der, fields, false);
  }
  batch.commit();
  if (state) {
    double bytes = 0;
    for (const char* f : DbTal::FILES) bytes += sizeOf(dir + "/" + f);
    state->counters["bytes"] = bytes;
  }
}

void importSqlite(const std::string& path, benchmark::State* state)
{
  sqlite3* db = openSqlite(path,
                           "CREATE TABLE crt(id INTEGER PRIMARY KEY, ser TEXT, email TEXT, sbj TEXT, der BLOB);"
                           "CREATE INDEX c1 ON crt(ser); CREATE INDEX c2 ON crt(email); CREATE INDEX c3 ON crt(sbj);"
                           "CREATE TABLE dn(rec INTEGER, fld TEXT); CREATE INDEX d1 ON dn(rec); CREATE INDEX d2 ON dn(fld);"
                           "CREATE TABLE addidx(rec INTEGER, keyid BLOB, certhash BLOB); CREATE INDEX a1 ON addidx(rec);"
                           "CREATE INDEX a2 ON addidx(keyid); CREATE INDEX a3 ON addidx(certhash)");
  sqlite3_stmt *crt, *dn, *add;
  sqlite3_prepare_v2(db, "INSERT INTO crt(ser, email, sbj, der) VALUES(?, ?, ?, ?)", -1, &crt, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO dn VALUES(?, ?)", -1, &dn, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO addidx VALUES(?, ?, ?)", -1, &add, nullptr);
  exec(db, "BEGIN");
  int i = 0;
  for (const Cert& c : certs()) {
    std::string ser = dbHashText(c.serial), sbj = dbHashText(c.subject);
    sqlite3_bind_text(crt, 1, ser.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(crt, 2, c.email.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(crt, 3, sbj.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(crt, 4, c.der.data(), static_cast<int>(c.der.size()), SQLITE_STATIC);
    if (sqlite3_step(crt) != SQLITE_DONE) std::abort();
    sqlite3_reset(crt);
    sqlite3_int64 rec = sqlite3_last_insert_rowid(db);
    for (const std::string& f : {std::string("cPL"), "n" + fieldOf(i++)}) {
      sqlite3_bind_int64(dn, 1, rec);
      sqlite3_bind_text(dn, 2, f.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(dn) != SQLITE_DONE) std::abort();
      sqlite3_reset(dn);
    }
    sqlite3_bind_int64(add, 1, rec);
    sqlite3_bind_blob(add, 2, c.keyId.data(), 20, SQLITE_STATIC);
    sqlite3_bind_blob(add, 3, c.certHash.data(), 20, SQLITE_STATIC);
    if (sqlite3_step(add) != SQLITE_DONE) std::abort();
    sqlite3_reset(add);
  }
  exec(db, "COMMIT");
  for (sqlite3_stmt* s : {crt, dn, add}) sqlite3_finalize(s);
  sqlite3_close(db);
  if (state) state->counters["bytes"] = sizeOf(path);
}

void oursImport(benchmark::State& state)
{
  for (auto _ : state) importOurs(scratch("import"), &state);
}

void sqliteImport(benchmark::State& state)
{
  for (auto _ : state) importSqlite(scratch("import") + "/certs.db", &state);
}

void oursFindSerial(benchmark::State& state)
{
  static const std::string dir = [] {
    std::string d = scratch("find-ours");
    importOurs(d, nullptr);
    return d;
  }();
  DbTal db;
  db.connect(dir);
  for (auto _ : state)
    for (const Cert& c : certs()) {
      DbCertList list;
      db.crt()->findBySerNumHash(list, c.serial);
      if (list.size() != 1) state.SkipWithError("a certificate was not found");
    }
}

void sqliteFindSerial(benchmark::State& state)
{
  static const std::string path = [] {
    std::string p = scratch("find-sqlite") + "/certs.db";
    importSqlite(p, nullptr);
    return p;
  }();
  sqlite3* db = openSqlite(path, nullptr);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT id, der FROM crt WHERE ser = ?", -1, &select, nullptr);
  for (auto _ : state)
    for (const Cert& c : certs()) {
      std::string ser = dbHashText(c.serial);
      sqlite3_bind_text(select, 1, ser.c_str(), -1, SQLITE_TRANSIENT);
      int rows = 0;
      while (sqlite3_step(select) == SQLITE_ROW) {
        DbBytes der(static_cast<const uint8_t*>(sqlite3_column_blob(select, 1)),
                    static_cast<const uint8_t*>(sqlite3_column_blob(select, 1)) + sqlite3_column_bytes(select, 1));
        ++rows;
      }
      if (rows != 1) state.SkipWithError("a certificate was not found");
      sqlite3_reset(select);
    }
  sqlite3_finalize(select);
  sqlite3_close(db);
}

}  // namespace

BENCHMARK(oursInsert)->Name("ours/insert 1M keys")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(sqliteInsert)->Name("sqlite/insert 1M keys")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(oursInsertCommitted)->Name("ours/insert 500 keys, each committed")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(sqliteInsertCommitted)->Name("sqlite/insert 500 keys, each committed")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(oursLookup)->Name("ours/look up 1M keys")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(sqliteLookup)->Name("sqlite/look up 1M keys")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(oursImport)->Name("ours/import 100k certificates")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(sqliteImport)->Name("sqlite/import 100k certificates")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(oursFindSerial)->Name("ours/find 100k by serial")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(sqliteFindSerial)->Name("sqlite/find 100k by serial")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

TAL_BENCH_MAIN()
