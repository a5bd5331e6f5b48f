// The context's database door follows the profile's settings: "dbtype" (profile
// attribute 17) chooses the factory, "dbname" the memory database, and a changed
// profile chooses the database of the next connection.
#include "api/talctx.h"
#include "keys/talprofile.h"
#include "platform/debugout.h"
#include "store/dbmem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

namespace {

// What the debugger channel said.
void collect(const char* text, void* user)
{
  static_cast<std::vector<std::string>*>(user)->push_back(text);
}

TalProfile* memoryProfile(const char* dbType, const std::string& dbName)
{
  TalProfile* p = createProfile(TALPROFILE_MEMORY);
  EXPECT_EQ(0, p->setAttribute(0, "profil", 6));
  if (dbType) {
    EXPECT_EQ(0, p->setAttribute(17, dbType, std::string(dbType).size() + 1));
  }
  if (!dbName.empty())
    p->parameters().set("dbname", dbName);
  return p;
}

DbHash hashOf(uint8_t fill)
{
  DbHash h{};
  h.fill(fill);
  return h;
}

// Inserts one certificate through the context and tells what the named memory
// database holds afterwards (-1: the insert failed).
int storedThroughContext(talCtx& ctx, const std::string& memoryName, uint8_t key)
{
  bool stored = false;
  DbBytes der = {0x30, 0x01, key};
  if (ctx.database.insertCert(hashOf(key), hashOf(key), hashOf(key), hashOf(key), "", der, {},
                              false, &stored) != 1)
    return -1;
  DbMem seen;
  seen.connect(memoryName);
  DbCertList found;
  seen.crt()->findByCertHash(found, hashOf(key));
  return static_cast<int>(found.size());
}

}  // namespace

TEST(ContextDatabase, TheProfileChoosesTheDatabase)
{
  const std::string name = "Wired-" + std::to_string(::getpid());
  const struct {
    const char* label;
    bool profile;
    const char* dbType;
    int expected;  // as storedThroughContext
    std::vector<std::string> debug;
  } cases[] = {
      {"memory", true, "W PAMIECI", 1, {}},
      {"none", true, "brak", 0, {}},
      {"no profile", false, nullptr, -1, {}},
      {"default file database without a directory", true, nullptr, -1,
       {"Wyjatek w funkcji: DbManager::getConnection()", "Brak parametru konfiguracyjnego: db"}},
      {"unknown type", true, "sql", -1,
       {"Wyjatek w funkcji: DbManager::getConnection()",
        "Niepoprawna wartosc parametru konfiguracyjnego: dbType. Dopuszczalne wartosci to:  "
        "talvorin brak w pamieci"}},
  };
  uint8_t key = 1;
  for (const auto& c : cases) {
    std::vector<std::string> debug;
    platform::setDebugHook(collect, &debug);
    talCtx ctx;
    if (c.profile) {
      ASSERT_EQ(0, ctx.configuration.setProfile(memoryProfile(c.dbType, name + "-" + c.label)));
    }
    EXPECT_EQ(c.expected, storedThroughContext(ctx, name + "-" + c.label, ++key)) << c.label;
    platform::setDebugHook(nullptr, nullptr);
    EXPECT_EQ(c.debug, debug) << c.label;
  }
}

TEST(ContextDatabase, AChangedSettingChoosesTheNextConnection)
{
  const std::string name = "Rewired-" + std::to_string(::getpid());
  talCtx ctx;
  ASSERT_EQ(0, ctx.configuration.setProfile(memoryProfile("w pamieci", name + "-1")));
  EXPECT_EQ(1, storedThroughContext(ctx, name + "-1", 0x41));
  // The connection made stays until createDb drops it.
  ASSERT_EQ(0, ctx.configuration.setProfile(memoryProfile("w pamieci", name + "-2")));
  EXPECT_EQ(0, storedThroughContext(ctx, name + "-2", 0x42));
  EXPECT_EQ(0, ctx.database.createDb());
  EXPECT_EQ(1, storedThroughContext(ctx, name + "-2", 0x43));
  ASSERT_EQ(0, ctx.configuration.setProfile(memoryProfile("brak", "")));
  EXPECT_EQ(0, ctx.database.createDb());
  DbCertList found;
  EXPECT_EQ(3, ctx.database.findCertsBySbjDnFld(found, 'c', "X"));
  EXPECT_EQ(1, ctx.database.findCertsBySerNumHash(found, hashOf(0x43)));
  EXPECT_TRUE(found.empty());
}
