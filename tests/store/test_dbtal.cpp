// The file-backed database: the certificate tables and their keys, the
// directory checks of verify and copyDb, the per-user folder, and the server
// table "imports.dat" (its lines as bytes, damaged files).
#include "base/talexception.h"
#include "dbtaltestutil.h"
#include "platform/clock.h"
#include "store/dbcrttal.h"
#include "base/file.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

std::string fileText(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::string& path, const std::string& text)
{
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::vector<DbRecId> idsOf(const DbCertList& list)
{
  std::vector<DbRecId> ids;
  for (const DbCertRecord& r : list) ids.push_back(r.id);
  return ids;
}

TEST(DbCrtTal, HashTextUsesTheCharactersAfterTheDigits)
{
  DbHash h{};
  h[0] = 0x09;
  h[1] = 0xAF;
  h[19] = 0xBC;
  std::string text = dbHashText(h);
  ASSERT_EQ(40u, text.size());
  EXPECT_EQ("09:?", text.substr(0, 4));
  EXPECT_EQ(";<", text.substr(38));
}

TEST(DbCrtTal, EveryKeyFindsItsCertificateAndDeletedOnesAreGone)
{
  std::string dir = scratchDbDir("crt");
  auto db = openDb(dir, true);
  DbCrtBase& crt = *db->crt();
  for (uint32_t id = 0; id < 40; ++id) ASSERT_TRUE(insertNumbered(crt, id, id % 10 == 0));
  EXPECT_FALSE(insertNumbered(crt, 5)) << "the same certificate is stored once";
  // Another certificate with the same serial-number hash is stored beside it.
  ASSERT_TRUE(crt.insertCert(hashOf(5, 1), hashOf(99, 2), hashOf(99, 3), hashOf(99, 4), "", derOf(99), {}, false));

  const struct {
    const char* name;
    std::function<void(DbCertList&)> find;
    size_t count;
  } queries[] = {
      {"serial", [&](DbCertList& l) { crt.findBySerNumHash(l, hashOf(5, 1)); }, 2},
      {"subject", [&](DbCertList& l) { crt.findBySbjDnHash(l, hashOf(5, 2)); }, 5},
      {"field", [&](DbCertList& l) { crt.findBySbjDnFld(l, 'n', "NAME 5"); }, 1},
      {"shared field", [&](DbCertList& l) { crt.findBySbjDnFld(l, 'c', "PL"); }, 40},
      {"key id", [&](DbCertList& l) { crt.findByKeyIdHash(l, hashOf(5, 4)); }, 1},
      {"cert hash", [&](DbCertList& l) { crt.findByCertHash(l, hashOf(5, 3)); }, 1},
      {"ca", [&](DbCertList& l) { crt.listCa(l); }, 4},
      {"absent", [&](DbCertList& l) { crt.findBySerNumHash(l, hashOf(1000, 1)); }, 0},
  };
  DbRecId five = 0;
  for (const auto& q : queries) {
    DbCertList list;
    q.find(list);
    EXPECT_EQ(q.count, list.size()) << q.name;
    if (std::string(q.name) == "cert hash" && list.size() == 1) {
      EXPECT_EQ(derOf(5), list[0].der);
      five = list[0].id;
    }
  }

  crt.setCurrentRec(five);
  DbBytes der;
  crt.get(der);
  EXPECT_EQ(derOf(5), der);
  crt.deleteCert();
  EXPECT_NE(five, crt.getCurrentRec()) << "the cursor moves on";
  for (const auto& q : queries) {
    DbCertList list;
    q.find(list);
    for (DbRecId id : idsOf(list)) EXPECT_NE(five, id) << q.name;
  }
  crt.setCurrentRec(five);
  EXPECT_THROW(crt.get(der), std::runtime_error);

  // The cursor walks every live record once, both ways.
  size_t forward = 0, backward = 0;
  for (bool on = crt.first(); on && forward < 100; on = crt.next()) ++forward;
  for (bool on = true; on && backward < 100; on = crt.prev()) ++backward;
  EXPECT_EQ(40u, forward);
  EXPECT_EQ(40u, backward);

  // Another connection (as another process would) reads the same records.
  auto again = openDb(dir);
  DbCertList list;
  again->crt()->findBySbjDnFld(list, 'n', "NAME 39");
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ(derOf(39), list[0].der);
}

TEST(DbCrtTal, KeyBoundsAndTimes)
{
  auto db = openDb(scratchDbDir("bounds"), true);
  DbCrtBase& crt = *db->crt();
  std::string email(DB_EMAIL_MAX, 'm');
  EXPECT_TRUE(crt.insertCert(hashOf(1, 1), hashOf(1, 2), hashOf(1, 3), hashOf(1, 4), email, derOf(1), {}, false));
  try {
    crt.insertCert(hashOf(2, 1), hashOf(2, 2), hashOf(2, 3), hashOf(2, 4), email + "m", derOf(2), {}, false);
    ADD_FAILURE() << "a 129-character e-mail is refused";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ("DbCrtTal::insertCert. Za dlugie pole email w certyfikacie", e.what());
  }
  // A field value longer than its key is cut the same way at insert and query.
  std::string longValue(300, 'V');
  ASSERT_TRUE(crt.insertCert(hashOf(3, 1), hashOf(3, 2), hashOf(3, 3), hashOf(3, 4), "", derOf(3),
                             {{'o', longValue}}, false));
  DbCertList list;
  crt.findBySbjDnFld(list, 'o', longValue);
  EXPECT_EQ(1u, list.size());

  EXPECT_EQ(0, crt.getNetCertTime("ldap://never"));
  platform::setTestTime(int64_t{5} << 33);
  crt.setNetCertTime("ldap://a");
  platform::setTestTime(1700000000);
  crt.setNetCertTime(std::string(200, 'k'));
  crt.setNetCertTime("ldap://b");
  platform::clearTestTime();
  EXPECT_EQ(int64_t{5} << 33, crt.getNetCertTime("ldap://a"));
  EXPECT_EQ(1700000000, crt.getNetCertTime(std::string(128, 'k') + "ignored"));
}

// What a crash while "netCertTime" was first made can leave; the next writer
// makes the table anew. Halves holding a record are never replaced.
TEST(DbCrtTal, TimeTableLeftHalfMadeIsMadeAnew)
{
  const IndexDescriptor timeIndex{129, 4096};
  const struct {
    const char* name;
    std::function<void(const std::string&)> leave;
    bool usable;
  } cases[] = {
      {"index only", [](const std::string& t) { std::remove((t + ".dta").c_str()); }, true},
      {"empty index only",
       [](const std::string& t) {
         std::remove((t + ".dta").c_str());
         writeText(t + ".idx", "");
       },
       true},
      {"index area without its header",
       [](const std::string& t) {
         std::remove((t + ".dta").c_str());
         writeText(t + ".idx", std::string(2048, '\0'));
       },
       true},
      {"data only", [](const std::string& t) { std::remove((t + ".idx").c_str()); }, true},
      {"data header cut", [](const std::string& t) { writeText(t + ".dta", "!C4"); }, true},
      {"new halves beside the data",
       [](const std::string& t) {
         std::rename((t + ".idx").c_str(), (t + ".new.idx").c_str());
         writeText(t + ".new.dta", "x");
       },
       true},
      {"a record without its index", [](const std::string& t) { std::remove((t + ".idx").c_str()); }, false},
  };
  for (const auto& c : cases) {
    std::string dir = scratchDbDir("timetable");
    auto db = openDb(dir, true);
    std::string table = dir + "/netCertTime";
    if (c.usable) {
      DbTable made;  // the halves as the first writer makes them
      ASSERT_TRUE(made.create(table.c_str(), 1, &timeIndex)) << c.name;
    } else {
      db->crt()->setNetCertTime("ldap://kept");
    }
    c.leave(table);
    const std::string dataBefore = fileText(table + ".dta");
    auto again = openDb(dir);
    EXPECT_EQ(0, again->crt()->getNetCertTime("ldap://a")) << c.name;
    if (!c.usable) {
      EXPECT_THROW(again->crt()->setNetCertTime("ldap://a"), std::runtime_error) << c.name;
      EXPECT_EQ(dataBefore, fileText(table + ".dta")) << c.name << ": the record stays";
      continue;
    }
    platform::setTestTime(1800000000);
    again->crt()->setNetCertTime("ldap://a");
    platform::clearTestTime();
    EXPECT_EQ(1800000000, openDb(dir)->crt()->getNetCertTime("ldap://a")) << c.name;
    EXPECT_EQ(DB_VERIFY_VALID, again->verify()) << c.name;
  }
}

TEST(DbCrtTal, AddDnFieldUpperCasesAndTakesTheLastEmail)
{
  DbDnFieldList fields;
  std::string email;
  addDnField(fields, 'e', "a@b.pl", email);
  addDnField(fields, 'n', "\xC5\x82ukasz", email);
  addDnField(fields, 'n', "\xC5\x81UKASZ", email);
  addDnField(fields, 'e', "c@d.pl", email);
  ASSERT_EQ(3u, fields.size());
  EXPECT_EQ("\xC5\x81UKASZ", fields[1].value);
  EXPECT_EQ("C@D.PL", email);
}

TEST(DbTal, VerifyAnswersForEachKindOfDirectory)
{
  const struct {
    const char* name;
    std::function<void(const std::string&)> damage;
    int result;
  } cases[] = {
      {"fresh", [](const std::string&) {}, DB_VERIFY_VALID},
      {"version 6", [](const std::string& d) { writeText(d + "/version.txt", "6"); }, DB_VERIFY_WRONG_VERSION},
      {"empty version", [](const std::string& d) { writeText(d + "/version.txt", ""); }, DB_VERIFY_WRONG_VERSION},
      {"version with a line end", [](const std::string& d) { writeText(d + "/version.txt", "7\n"); },
       DB_VERIFY_WRONG_VERSION},
      {"no addidx.idx", [](const std::string& d) { std::remove((d + "/addidx.idx").c_str()); }, DB_VERIFY_INCOMPLETE},
      {"first six only",
       [](const std::string& d) {
         for (int i = 6; i < 11; ++i) std::remove((d + "/" + DbTal::FILES[i]).c_str());
       },
       DB_VERIFY_WRONG_VERSION},
      {"no ca.dta", [](const std::string& d) { std::remove((d + "/ca.dta").c_str()); }, DB_VERIFY_MISSING},
      {"damaged certific.idx", [](const std::string& d) { writeText(d + "/certific.idx", std::string(2048, 'x')); },
       DB_VERIFY_INCOMPLETE},
      {"truncated dnfld.dta", [](const std::string& d) { writeText(d + "/dnfld.dta", "!C4"); }, DB_VERIFY_INCOMPLETE},
      {"no directory", [](const std::string& d) { std::system(("rm -rf '" + d + "'").c_str()); }, DB_VERIFY_MISSING},
  };
  for (const auto& c : cases) {
    std::string dir = scratchDbDir("verify");
    auto db = openDb(dir, true);
    c.damage(dir);
    EXPECT_EQ(c.result, db->verify()) << c.name;
  }
}

TEST(DbCrtTal, ADamagedTableAnswersAnErrorToQueries)
{
  std::string dir = scratchDbDir("damaged");
  auto db = openDb(dir, true);
  ASSERT_TRUE(insertNumbered(*db->crt(), 1));
  writeText(dir + "/addidx.idx", std::string(4096, '\xFF'));
  DbCertList list;
  try {
    db->crt()->findByCertHash(list, hashOf(1, 3));
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ("DbCrtTal::connect. Blad otwrcia tabeli addIdxTb", e.what());
  }
  // The lock was given back: a writer gets it.
  EXPECT_EQ(DB_VERIFY_INCOMPLETE, db->verify());
  EXPECT_THROW(insertNumbered(*openDb(dir)->crt(), 2), std::runtime_error);
}

TEST(DbTal, CopyDbCopiesTheListedFiles)
{
  std::string source = scratchDbDir("source");
  auto from = openDb(source, true);
  ASSERT_TRUE(insertNumbered(*from->crt(), 7));
  auto to = openDb(scratchDbDir("target"));
  ASSERT_TRUE(to->copyDb(source));
  EXPECT_EQ(DB_VERIFY_VALID, to->verify());
  DbCertList list;
  to->crt()->findByCertHash(list, hashOf(7, 3));
  EXPECT_EQ(1u, list.size());
  std::remove((source + "/imports.dat").c_str());
  EXPECT_FALSE(openDb(scratchDbDir("target2"))->copyDb(source));
}

TEST(DbTal, RelativeNamesLiveInThePrivateUserFolder)
{
  std::string home = scratchDbDir("home");
  const char* old = std::getenv("XDG_DATA_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  auto db = openDb("profile-db", true);
  old ? setenv("XDG_DATA_HOME", saved.c_str(), 1) : unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(home + "/TAL-VORIN/profile-db/", db->directory());
  EXPECT_EQ(home + "/TAL-VORIN/profile-db/db.lck", db->createSemaforeName());
  struct stat st;
  ASSERT_EQ(0, ::stat((home + "/TAL-VORIN").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777u);
  EXPECT_EQ(DB_VERIFY_VALID, db->verify());
}

int apiCode(const std::function<void()>& call)
{
  try {
    call();
  } catch (const TalApiException& e) {
    return e.getCode();
  }
  return -1;
}

TEST(DbSrvTal, ImportNumbersPersistAsLines)
{
  std::string dir = scratchDbDir("srv");
  auto db = openDb(dir, true);
  DbSrvBase& srv = *db->srv();
  srv.setImportNumber(1, "LDAP.Example", 12);
  srv.setImportNumber(1, "b", 4294967295u);
  srv.setImportNumber(1, "c", 3);
  srv.removeServer(1, "C");
  srv.removeServer(2, "b");
  EXPECT_EQ("4294967295 b\n12 ldap.example\n", fileText(dir + "/imports.dat"));
  uint32_t n = 0;
  openDb(dir)->srv()->getImportNumber(1, "ldap.example", n);
  EXPECT_EQ(12u, n);
  EXPECT_EQ(20, apiCode([&] { srv.getImportNumber(2, "b", n); }));
  EXPECT_EQ(20, apiCode([&] { srv.setImportNumber(3, "b", 1); }));
  EXPECT_THROW(srv.getImportNumber(1, "c", n), std::runtime_error);

  writeText(dir + "/imports.dat", "7 crlf\r\n\r\n8 lf\n9 last");
  for (const char* name : {"crlf", "lf", "last"}) {
    srv.getImportNumber(1, name, n);
    EXPECT_EQ(std::string(name) == "crlf" ? 7u : name[0] == 'l' && name[1] == 'f' ? 8u : 9u, n) << name;
  }
  // A name is the rest of its line, blanks and all.
  writeText(dir + "/imports.dat", "1 two words\n");
  srv.getImportNumber(1, "two words", n);
  EXPECT_EQ(1u, n);
  for (const char* damaged : {"x b\n", "1\n", "1 \n", "99999999999 big\n", " 1 a\n"}) {
    writeText(dir + "/imports.dat", damaged);
    EXPECT_EQ(158, apiCode([&] { srv.getImportNumber(1, "b", n); })) << damaged;
    EXPECT_EQ(158, apiCode([&] { srv.setImportNumber(1, "b", 1); })) << damaged;
  }
  std::remove((dir + "/imports.dat").c_str());
  EXPECT_EQ(158, apiCode([&] { srv.getImportNumber(1, "b", n); }));
}

TEST(DbSrvTal, NamesWithBlanksSurviveAReload)
{
  std::string dir = scratchDbDir("srvblanks");
  auto db = openDb(dir, true);
  const struct {
    const char* name;
    uint32_t number;
  } servers[] = {{"Serwer LDAP 2", 5}, {" leading", 6}, {"trailing ", 7}, {"tab\there", 8}, {"one", 9}};
  for (const auto& s : servers) db->srv()->setImportNumber(1, s.name, s.number);
  auto again = openDb(dir);
  for (const auto& s : servers) {
    uint32_t n = 0;
    again->srv()->getImportNumber(1, dbLowerCase(s.name), n);
    EXPECT_EQ(s.number, n) << s.name;
  }
  // A line end cannot be part of a line: refused, and the table stays as it was.
  const std::string before = fileText(dir + "/imports.dat");
  for (const char* bad : {"two\nlines", "cr\r", "\n"})
    EXPECT_THROW(db->srv()->setImportNumber(1, bad, 1), std::runtime_error) << bad;
  EXPECT_EQ(before, fileText(dir + "/imports.dat"));
  uint32_t n = 0;
  again->srv()->getImportNumber(1, "serwer ldap 2", n);
  EXPECT_EQ(5u, n);
}

// Two connections to one directory, as two processes hold them: each keeps
// its tables open between operations and still finds what the other wrote,
// by every key, through splits at every level, and writes on top of it.
TEST(DbCrtTal, ConnectionsKeptOpenSeeEachOthersWrites)
{
  std::string dir = scratchDbDir("keptopen");
  auto a = openDb(dir, true);
  auto b = openDb(dir);
  DbCrtBase* side[2] = {a->crt(), b->crt()};
  EXPECT_EQ(0, side[1]->getNetCertTime("ldap://x")) << "the time table is not there yet";
  for (uint32_t id = 0; id < 600; ++id) {
    DbCrtBase& writer = *side[id % 2];
    DbCrtBase& reader = *side[1 - id % 2];
    ASSERT_TRUE(insertNumbered(writer, id, id % 5 == 0));
    const struct {
      const char* name;
      std::function<void(DbCertList&)> find;
    } queries[] = {
        {"serial", [&](DbCertList& l) { reader.findBySerNumHash(l, hashOf(id, 1)); }},
        {"field", [&](DbCertList& l) { reader.findBySbjDnFld(l, 'n', "NAME " + std::to_string(id)); }},
        {"key id", [&](DbCertList& l) { reader.findByKeyIdHash(l, hashOf(id, 4)); }},
        {"cert hash", [&](DbCertList& l) { reader.findByCertHash(l, hashOf(id, 3)); }},
    };
    for (const auto& q : queries) {
      DbCertList list;
      q.find(list);
      ASSERT_EQ(1u, list.size()) << q.name << " " << id;
      EXPECT_EQ(derOf(id), list[0].der) << q.name << " " << id;
    }
    EXPECT_FALSE(insertNumbered(reader, id)) << "the other side knows it is stored: " << id;
  }
  DbCertList ca;
  side[1]->listCa(ca);
  EXPECT_EQ(120u, ca.size());
  platform::setTestTime(1900000000);
  side[0]->setNetCertTime("ldap://x");
  platform::clearTestTime();
  EXPECT_EQ(1900000000, side[1]->getNetCertTime("ldap://x"));
  // A deletion through one side is seen by the other's searches, right after
  // it read the record, and by its walk.
  DbCertList list;
  side[1]->findBySerNumHash(list, hashOf(7, 1));
  side[1]->findByCertHash(list, hashOf(7, 3));
  ASSERT_EQ(2u, list.size());
  side[0]->setCurrentRec(list[0].id);
  side[0]->deleteCert();
  list.clear();
  side[1]->findBySerNumHash(list, hashOf(7, 1));
  side[1]->findByCertHash(list, hashOf(7, 3));
  side[1]->findBySbjDnFld(list, 'n', "NAME 7");
  EXPECT_TRUE(list.empty());
  size_t walked = 0;
  for (bool on = side[1]->first(); on && walked < 1000; on = side[1]->next()) ++walked;
  EXPECT_EQ(599u, walked);
}

// Whether the file open as fd has a path ending in name.
bool fileEndsWith(int fd, const std::string& name)
{
  char target[PATH_MAX + 1] = {};
  ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, PATH_MAX);
  std::string path(target, n > 0 ? static_cast<size_t>(n) : 0);
  return path.size() > name.size() && path.compare(path.size() - name.size(), std::string::npos, name) == 0;
}

// Stops the process at the first header write of a table that names
// certificate records (its commit point), as a kill there would.
class StopAtNamingCommit : public File::Trace {
 public:
  void created(int) override {}
  void resized(int, int64_t) override {}
  void synced(int) override {}
  void folderSynced(const char*) override {}
  void wrote(int fd, uint32_t offset, const uint8_t*, uint32_t) override
  {
    if (offset != 0) return;
    for (const char* name : {"/dnfld.idx", "/ca.idx", "/addidx.idx"})
      if (fileEndsWith(fd, name)) _exit(0);
  }
};

// A batch large enough to commit in steps: a table whose entries name
// certificate records commits only after the records and their entries in the
// certificate table did, so a writer killed at such a commit leaves no entry
// naming a record that is not there (or that a later insert will reuse).
TEST(DbCrtTal, ABatchCommitsTablesNamingRecordsAfterTheRecords)
{
  std::string dir = scratchDbDir("steporder");
  const uint32_t stored = 12000, added = 1500;
  {
    auto db = openDb(dir, true);
    DbCrtBatch together(db->crt());
    for (uint32_t id = 0; id < stored; ++id) ASSERT_TRUE(insertNumbered(*db->crt(), id, id % 3 == 0));
    together.commit();
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    try {
      auto db = openDb(dir);
      StopAtNamingCommit stop;
      File::setTrace(&stop);
      DbCrtBatch together(db->crt());
      for (uint32_t id = stored; id < stored + added; ++id) insertNumbered(*db->crt(), id, id % 3 == 0);
      together.commit();
    } catch (...) {
      _exit(2);
    }
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(0, WEXITSTATUS(status)) << "the writer stops at a commit of a naming table";
  auto db = openDb(dir);
  // Records appended now take the places a lost batch would have used.
  for (uint32_t id = 900000; id < 900000 + 50; ++id) ASSERT_TRUE(insertNumbered(*db->crt(), id));
  for (uint32_t id = stored; id < stored + added; ++id) {
    DbCertList list;
    try {
      db->crt()->findByCertHash(list, hashOf(id, 3));
      db->crt()->findByKeyIdHash(list, hashOf(id, 4));
      db->crt()->findBySbjDnFld(list, 'n', "NAME " + std::to_string(id));
    } catch (const std::exception& e) {
      FAIL() << id << ": " << e.what();
    }
    for (const DbCertRecord& r : list) ASSERT_EQ(derOf(id), r.der) << id;
  }
}

// One certificate of a batch failing (here on a damaged record met while it
// looks for its duplicates) is told to its caller; those stored before it in
// the batch stay stored.
TEST(DbCrtTal, AFailureInsideABatchKeepsTheCertificatesStoredBeforeIt)
{
  std::string dir = scratchDbDir("batchfail");
  {
    auto db = openDb(dir, true);
    ASSERT_TRUE(insertNumbered(*db->crt(), 0));
    ASSERT_TRUE(insertNumbered(*db->crt(), 100));
    ASSERT_TRUE(insertNumbered(*db->crt(), 200));
  }
  // The record of certificate 100 follows that of 0: its magic is broken.
  std::vector<uint8_t> dta;
  {
    std::ifstream in(dir + "/certific.dta", std::ios::binary);
    dta.assign(std::istreambuf_iterator<char>(in), {});
  }
  const size_t second = 48 + 16 + 41 + 129 + 41 + derOf(0).size();
  ASSERT_GT(dta.size(), second + 8);
  dta[second + 4] ^= 0xFF;
  writeText(dir + "/certific.dta", std::string(dta.begin(), dta.end()));
  {
    auto db = openDb(dir);
    DbCrtBatch together(db->crt());
    ASSERT_TRUE(insertNumbered(*db->crt(), 101));
    ASSERT_TRUE(insertNumbered(*db->crt(), 102));
    EXPECT_THROW(db->crt()->insertCert(hashOf(100, 1), hashOf(5, 2), hashOf(555, 3), hashOf(555, 4), "",
                                       derOf(555), {}, false),
                 std::exception);
    ASSERT_TRUE(insertNumbered(*db->crt(), 103));
    EXPECT_NO_THROW(together.commit());
  }
  auto db = openDb(dir);
  for (uint32_t id : {0u, 101u, 102u, 103u, 200u}) {
    DbCertList list;
    db->crt()->findByCertHash(list, hashOf(id, 3));
    db->crt()->findBySbjDnFld(list, 'n', "NAME " + std::to_string(id));
    ASSERT_EQ(2u, list.size()) << id;
    EXPECT_EQ(derOf(id), list[0].der) << id;
  }
}

// Stops the process once an index's record of the pages it changes in place
// is armed on the disk, before those pages change: a crash there leaves the
// record for the next open to finish, from the index's journal.
class StopWhenArmed : public File::Trace {
 public:
  void created(int) override {}
  void resized(int, int64_t) override {}
  void folderSynced(const char*) override {}
  void wrote(int fd, uint32_t offset, const uint8_t*, uint32_t length) override
  {
    if (offset == 248 && length > 4 && fileEndsWith(fd, "/certific.idx")) armed = true;
  }
  void synced(int fd) override
  {
    if (armed && fileEndsWith(fd, "/certific.idx")) _exit(0);
  }

 private:
  bool armed = false;
};

// A copy of a database a crash left with an update to finish is as sound as
// the database itself: the copy finishes the update too.
TEST(DbTal, CopyDbOfADatabaseACrashLeftIsSound)
{
  std::string source = scratchDbDir("armedsource");
  {
    auto from = openDb(source, true);
    ASSERT_TRUE(insertNumbered(*from->crt(), 7));
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    try {
      auto from = openDb(source);
      StopWhenArmed stop;
      File::setTrace(&stop);
      insertNumbered(*from->crt(), 8);
    } catch (...) {
      _exit(2);
    }
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(0, WEXITSTATUS(status)) << "the writer stops with the record armed";
  auto to = openDb(scratchDbDir("armedtarget"));
  ASSERT_TRUE(to->copyDb(source));
  EXPECT_EQ(DB_VERIFY_VALID, to->verify());
  DbCertList list;
  EXPECT_NO_THROW(to->crt()->findByCertHash(list, hashOf(7, 3)));
  EXPECT_EQ(1u, list.size());
  EXPECT_EQ(DB_VERIFY_VALID, openDb(source)->verify());
}

// A batch one of whose tables cannot commit (here its journal cannot be
// made) either fails at its end or holds every certificate it reported
// stored in every table: never a certificate found by its hash that its
// serial number no longer finds.
TEST(DbCrtTal, ABatchATableDroppedFailsAtItsEnd)
{
  std::string dir = scratchDbDir("droppedpart");
  const uint32_t stored = 12000, added = 1500;
  {
    auto db = openDb(dir, true);
    DbCrtBatch together(db->crt());
    for (uint32_t id = 0; id < stored; ++id) ASSERT_TRUE(insertNumbered(*db->crt(), id));
    together.commit();
  }
  std::remove((dir + "/certific.idx.jnl").c_str());
  ASSERT_EQ(0, ::mkdir((dir + "/certific.idx.jnl").c_str(), 0700));
  std::vector<uint32_t> reported;
  bool failed = false;
  {
    auto db = openDb(dir);
    DbCrtBatch together(db->crt());
    for (uint32_t id = stored; id < stored + added; ++id) {
      try {
        if (insertNumbered(*db->crt(), id)) reported.push_back(id);
      } catch (const std::exception&) {
        failed = true;
      }
    }
    ASSERT_TRUE(failed) << "the certificate table could not commit";
    try {
      together.commit();
    } catch (const std::exception&) {
      return;
    }
  }
  ::rmdir((dir + "/certific.idx.jnl").c_str());
  auto db = openDb(dir);
  for (uint32_t id : reported) {
    DbCertList list;
    db->crt()->findBySerNumHash(list, hashOf(id, 1));
    ASSERT_EQ(1u, list.size()) << id;
  }
}

}  // namespace
