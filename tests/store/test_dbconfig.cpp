// Database selection and the facade: "dbtype" choices and their error texts,
// factory parameters, the database that keeps nothing, and the manager's
// lazy connection, results and debugger texts.
#include "store/dbconfig.h"
#include "store/dbmanager.h"
#include "store/dbmem.h"

#include "platform/debugout.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include <unistd.h>

namespace {

std::string errorOf(const std::function<void()>& f)
{
  try {
    f();
  } catch (const EnDb_Exception& e) {
    return e.what();
  }
  return "(no exception)";
}

struct DebugLines {
  std::vector<std::string> lines;
  DebugLines() { platform::setDebugHook(&DebugLines::hook, this); }
  ~DebugLines() { platform::setDebugHook(nullptr, nullptr); }
  static void hook(const char* text, void* self)
  {
    static_cast<DebugLines*>(self)->lines.push_back(text);
  }
};

struct ParamMap : DbParamStore {
  std::map<std::string, std::string> values;
  bool getParam(const std::string& name, std::string& value) override
  {
    auto it = values.find(name);
    if (it == values.end())
      return false;
    value = it->second;
    return true;
  }
  void setParam(const std::string& name, const std::string& value) override
  {
    values[name] = value;
  }
};

struct Settings : DbSettingsSource {
  DbConfig config;
  DbConfig* dbSettings() override { return &config; }
};

// A database whose every store operation throws.
struct ThrowingCrt : DbCrtBase {
  [[noreturn]] static void fail() { throw std::runtime_error("store failure"); }
  void findBySerNumHash(DbCertList&, const DbHash&) override { fail(); }
  void findBySbjDnHash(DbCertList&, const DbHash&) override { fail(); }
  void findBySbjDnFld(DbCertList&, char, const std::string&) override { fail(); }
  void findByKeyIdHash(DbCertList&, const DbHash&) override { fail(); }
  void findByCertHash(DbCertList&, const DbHash&) override { fail(); }
  void listCa(DbCertList&) override { fail(); }
  bool insertCert(const DbHash&, const DbHash&, const DbHash&, const DbHash&, const std::string&,
                  const DbBytes&, const DbDnFieldList&, bool) override { fail(); }
  bool first() override { fail(); }
  bool next() override { fail(); }
  bool prev() override { fail(); }
  DbRecId getCurrentRec() override { fail(); }
  void setCurrentRec(DbRecId) override { fail(); }
  void get(DbBytes&) override { fail(); }
  void deleteCert() override { fail(); }
  void setNetCertTime(const std::string&) override { fail(); }
  int64_t getNetCertTime(const std::string&) override { fail(); }
};

struct ThrowingCrl : DbCrlBase {
  void readAll(std::vector<DbBytes>&) override { ThrowingCrt::fail(); }
  void insertCrl(const DbBytes&, const DbBytes&, int32_t, int32_t) override { ThrowingCrt::fail(); }
  void getCrlIndex(DbBytes&, DbCrlGuard&) override { ThrowingCrt::fail(); }
  void getCrlByFileNum(int32_t, DbBytes&) override { ThrowingCrt::fail(); }
  void unlock() override {}
};

struct ThrowingDb : DbBase {
  static int connections;
  ThrowingDb()
  {
    ++connections;
    crtStore = new ThrowingCrt;
    crlStore = new ThrowingCrl;
  }
  void create() override {}
  int verify() override { throw std::runtime_error("verify failure"); }
  bool copyDb(const std::string&) override { return false; }
};
int ThrowingDb::connections = 0;

struct ThrowingFactory : DbConnFactoryIfs<DbBase> {
  void loadParams(DbParamStore&) override {}
  void saveParams(DbParamStore&) override {}
  void getParam(const std::string&, std::string&) override {}
  void setParam(const std::string&, const std::string&) override {}
  DbBase* connect() override { return new ThrowingDb; }
  const char* getName() const override { return "rzucajaca"; }
  void checkParams() override {}
  DbConnFactoryIfs* clone() const override { return new ThrowingFactory; }
};

}  // namespace

TEST(DbConfig, ChoicesAndTheirTexts)
{
  const std::string badType =
      "Niepoprawna wartosc parametru konfiguracyjnego: dbType. Dopuszczalne wartosci to: "
      " talvorin brak w pamieci";
  const struct {
    std::vector<std::pair<std::string, std::string>> params;
    std::string error;
    const char* chosen;
  } cases[] = {
      {{}, "(no exception)", "talvorin"},
      {{{"DbType", "W Pamieci"}}, "(no exception)", "w pamieci"},
      {{{"dbtype", "BRAK"}}, "(no exception)", "brak"},
      {{{"dbtype", "sqlite"}}, badType, nullptr},
      {{{"dbname", "x"}}, "Parametr: dbnamenie istnieje", "talvorin"},
      {{{"dbtype", "brak"}, {"DB", "x"}}, "Parametr: DBnie istnieje", "brak"},
      {{{"dbtype", "w pamieci"}, {"DB", "x"}}, "Parametr: DBnie istnieje", "w pamieci"},
      {{{"dbtype", "w pamieci"}, {"DBNAME", "x"}}, "(no exception)", "w pamieci"},
      {{{"dbtype", "talvorin"}, {"Db", "/tmp/x"}}, "(no exception)", "talvorin"},
  };
  for (const auto& c : cases) {
    DbConfig config;
    std::string error = errorOf([&] {
      for (const auto& p : c.params)
        config.setParam(p.first, p.second);
    });
    EXPECT_EQ(c.error, error);
    if (c.chosen) {
      ASSERT_TRUE(config.current());
      EXPECT_STREQ(c.chosen, config.current()->getName());
    } else {
      EXPECT_EQ(nullptr, config.current());
    }
  }
}

TEST(DbConfig, ConnectingEachKind)
{
  DbConfig config;
  EXPECT_EQ("Brak parametru konfiguracyjnego: db", errorOf([&] { delete config.connect(); }));
  // A name too long for any path cannot be resolved to a directory.
  config.setParam("db", std::string(5000, 'a'));
  EXPECT_EQ("DbTal::connect. Blad wywolania funkcji: buildDBDirectory",
            errorOf([&] { delete config.connect(); }));
  config.setParam("db", "/tmp/somewhere");
  std::unique_ptr<DbBase> file(config.connect());
  ASSERT_TRUE(file && file->crt() && file->crl() && file->srv());

  config.setParam("dbtype", "brak");
  std::unique_ptr<DbBase> none(config.connect());
  ASSERT_TRUE(none && none->crt() && none->crl() && none->srv());
  EXPECT_EQ(0, none->verify());
  EXPECT_TRUE(none->copyDb("/nowhere"));
  DbHash hash{};
  EXPECT_FALSE(none->crt()->insertCert(hash, hash, hash, hash, "", {1}, {}, true));
  DbCertList list;
  none->crt()->findByCertHash(list, hash);
  none->crt()->listCa(list);
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(none->crt()->first());
  EXPECT_EQ(0, none->crt()->getNetCertTime("k"));

  config.setParam("dbtype", "w pamieci");
  config.setParam("dbname", "Config-Test");
  std::unique_ptr<DbBase> mem(config.connect());
  EXPECT_EQ(0, mem->verify());

  // After a refused type no factory is chosen, and connecting names "dbtype".
  EXPECT_NE("(no exception)", errorOf([&] { config.setParam("dbtype", "nic"); }));
  EXPECT_EQ("Brak parametru konfiguracyjnego: dbtype", errorOf([&] { delete config.connect(); }));
}

TEST(DbConfig, ParamsLoadSaveAndClone)
{
  DbConfig config;
  config.setParam("db", "/data/baza");
  ParamMap store;
  config.current()->saveParams(store);
  EXPECT_EQ("/data/baza", store.values["db"]);
  store.values["db"] = "/other";
  config.current()->loadParams(store);
  std::string value;
  config.getParam("db", value);
  EXPECT_EQ("/other", value);

  config.setParam("dbtype", "w pamieci");
  config.setParam("dbname", "name");
  DbConfig copy(config);
  ASSERT_TRUE(copy.current());
  EXPECT_STREQ("w pamieci", copy.current()->getName());
  copy.getParam("dbname", value);
  EXPECT_EQ("", value) << "a memory factory's clone starts with an empty name";
  copy.setParam("dbtype", "talvorin");
  copy.getParam("db", value);
  EXPECT_EQ("/other", value) << "a file factory's clone keeps its directory";

  ParamMap empty;
  copy.current()->loadParams(empty);
  copy.getParam("db", value);
  EXPECT_EQ("", value);
}

TEST(DbManager, ConnectsLazilyAndAnswersResults)
{
  DebugLines debug;
  Settings settings;
  settings.config.setParam("dbtype", "w pamieci");
  settings.config.setParam("dbname", "manager-test-" + std::to_string(::getpid()));
  DbManager manager;
  manager.setContext(&settings);
  DbHash serial{}, subject{}, cert{}, key{};
  serial[0] = 1;
  cert[0] = 2;
  DbCertList list;
  EXPECT_EQ(3, manager.findCertsBySbjDnFld(list, 'c', "NOBODY"));
  bool stored = false;
  EXPECT_EQ(1, manager.insertCert(serial, subject, cert, key, "", {0x30, 0x00},
                                  {{'c', "NOBODY"}}, false, &stored));
  EXPECT_TRUE(stored);
  EXPECT_EQ(1, manager.insertCert(serial, subject, cert, key, "", {0x30, 0x00}, {}, false,
                                  &stored));
  EXPECT_FALSE(stored) << "a certificate met before is success without a new record";
  EXPECT_EQ(1, manager.findCertsBySbjDnFld(list, 'c', "NOBODY"));
  EXPECT_EQ(1u, list.size());
  EXPECT_EQ(1, manager.findCertsBySerNumHash(list, serial));
  EXPECT_EQ(1, manager.findCertsBySbjDnHash(list, subject));
  EXPECT_EQ(1, manager.findCertsByKeyIdHash(list, key));
  EXPECT_EQ(4u, list.size());
  manager.setNetCertTime("k");
  EXPECT_EQ(0, manager.getNetCertTime("k"));
  {
    DbCrlGuard guard(1);
    DbBytes index;
    EXPECT_EQ(1, manager.getCrlIndex(index, guard));
    EXPECT_EQ(1, manager.insertCrl({0x30, 0x00}, {0x01}, 0, -1));
  }
  DbBytes crl;
  EXPECT_EQ(1, manager.getCrlByFileNum(0, crl));
  EXPECT_EQ(DbBytes{0x01}, crl);
  EXPECT_EQ(0, manager.createDb());
  // After createDb the next find connects again and sees the same database.
  list.clear();
  EXPECT_EQ(1, manager.findCertsBySerNumHash(list, serial));
  EXPECT_EQ(1u, list.size());
  EXPECT_TRUE(debug.lines.empty());
}

TEST(DbManager, FailuresBecomeResultsAndDebuggerTexts)
{
  DebugLines debug;
  DbManager manager;
  DbCertList list;
  DbHash hash{};
  // No settings at all: nothing to connect to, nothing said.
  EXPECT_EQ(0, manager.findCertsBySerNumHash(list, hash));
  EXPECT_EQ(2, manager.createDb());
  EXPECT_TRUE(debug.lines.empty());

  // Settings without a chosen type.
  DbConfig* config = new DbConfig;
  EXPECT_THROW(config->setParam("dbtype", "none of them"), EnDb_Exception);
  manager.setSettings(config);
  const struct {
    const char* name;
    std::function<int()> call;
    int failure;
  } calls[] = {
      {"findCertsBySerNumHash", [&] { return manager.findCertsBySerNumHash(list, hash); }, 0},
      {"findCertsBySbjDnHash", [&] { return manager.findCertsBySbjDnHash(list, hash); }, 0},
      {"findCertsBySbjDnFld", [&] { return manager.findCertsBySbjDnFld(list, 'c', "x"); }, 0},
      {"findCertsByKeyIdHash", [&] { return manager.findCertsByKeyIdHash(list, hash); }, 0},
      {"insertCert",
       [&] { return manager.insertCert(hash, hash, hash, hash, "", {}, {}, false); }, 0},
      {"getNetCertTime", [&] { return static_cast<int>(manager.getNetCertTime("k")); }, 0},
      {"createDb", [&] { return manager.createDb(); }, 2},
  };
  for (const auto& c : calls) {
    debug.lines.clear();
    EXPECT_EQ(c.failure, c.call()) << c.name;
    EXPECT_EQ((std::vector<std::string>{"Wyjatek w funkcji: DbManager::getConnection()",
                                        "Brak parametru konfiguracyjnego: dbtype"}),
              debug.lines)
        << c.name;
  }

  // The file-backed choice: a directory that cannot be resolved fails with its own text.
  config->setParam("dbtype", "talvorin");
  config->setParam("db", std::string(5000, 'x'));
  debug.lines.clear();
  EXPECT_EQ(2, manager.createDb());
  EXPECT_EQ((std::vector<std::string>{"Wyjatek w funkcji: DbManager::getConnection()",
                                      "DbTal::connect. Blad wywolania funkcji: buildDBDirectory"}),
            debug.lines);

  // An exception of a store: the operation's own text, and the object is kept.
  config->registerFactory(new ThrowingFactory);
  config->setParam("dbtype", "rzucajaca");
  ThrowingDb::connections = 0;
  const struct {
    const char* text;
    std::function<int()> call;
  } storeCalls[] = {
      {"findCertsBySerNumHash()", [&] { return manager.findCertsBySerNumHash(list, hash); }},
      {"findCertsBySbjDnHash()", [&] { return manager.findCertsBySbjDnHash(list, hash); }},
      {"findCertsBySbjDnFld()", [&] { return manager.findCertsBySbjDnFld(list, 'c', "x"); }},
      {"findCertsByKeyIdHash()", [&] { return manager.findCertsByKeyIdHash(list, hash); }},
      {"insertCert()",
       [&] { return manager.insertCert(hash, hash, hash, hash, "", {}, {}, false); }},
      {"setNetCertTime()", [&] { manager.setNetCertTime("k"); return 0; }},
      {"getNetCertTime()", [&] { return static_cast<int>(manager.getNetCertTime("k")); }},
      {"insertCrl()", [&] { return manager.insertCrl({}, {}, 1, -1); }},
      {"getCrlIndex()", [&] { DbCrlGuard g(0); DbBytes b; return manager.getCrlIndex(b, g); }},
      {"getCrlByFileNum()", [&] { DbBytes b; return manager.getCrlByFileNum(1, b); }},
  };
  for (const auto& c : storeCalls) {
    debug.lines.clear();
    EXPECT_EQ(0, c.call()) << c.text;
    EXPECT_EQ((std::vector<std::string>{std::string("Wyjatek w funkcji: DbManager::") + c.text,
                                        "store failure"}),
              debug.lines);
  }
  EXPECT_EQ(1, ThrowingDb::connections);
  debug.lines.clear();
  EXPECT_EQ(2, manager.createDb());
  EXPECT_EQ((std::vector<std::string>{"Wyjatek w funkcji: DbManager::createDb()",
                                      "verify failure"}),
            debug.lines);
  EXPECT_EQ(0, manager.findCertsBySerNumHash(list, hash));
  EXPECT_EQ(2, ThrowingDb::connections) << "createDb drops the object";
}
