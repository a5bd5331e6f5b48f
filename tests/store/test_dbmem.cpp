// The memory databases over OpenSSL-made certificates (keys.txt: what OpenSSL
// says of each): finds by every key return exactly the certificates that share
// it, duplicates are stored once, the cursor and deletion, bounded field keys,
// full 20-octet hashes, the CRL store and the server table, and 8 threads
// importing and finding the same certificates at once.
#include "store/dbconfig.h"
#include "store/dbmem.h"

#include "base/talexception.h"
#include "hangguard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace {

struct CertKeys {
  std::string file;
  DbBytes der;
  DbHash certHash{}, keyId{}, subject{}, serial{};
  bool hasKeyId = false;
  bool isCa = false;
};

DbHash hexHash(const std::string& hex)
{
  DbHash hash{};
  for (size_t i = 0; i < hash.size() && 2 * i + 1 < hex.size(); ++i)
    hash[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return hash;
}

// The serial's key: its hexadecimal text, padded into a hash-sized key.
DbHash serialKey(const std::string& hex)
{
  DbHash hash{};
  std::copy_n(hex.begin(), std::min(hex.size(), hash.size()), hash.begin());
  return hash;
}

std::vector<CertKeys> loadCerts()
{
  std::string dir = std::string(TAL_TEST_DATA_DIR) + "/store/db/";
  std::ifstream list(dir + "keys.txt");
  std::vector<CertKeys> certs;
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    CertKeys c;
    std::string sha, ski, sbj, serial;
    int ca = 0;
    fields >> c.file >> sha >> ski >> sbj >> serial >> ca;
    std::ifstream f(dir + c.file, std::ios::binary);
    c.der.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    c.certHash = hexHash(sha);
    c.hasKeyId = ski != "-";
    if (c.hasKeyId)
      c.keyId = hexHash(ski);
    c.subject = hexHash(sbj);
    c.serial = serialKey(serial);
    c.isCa = ca != 0;
    certs.push_back(c);
  }
  EXPECT_EQ(certs.size(), 5u);
  return certs;
}

bool insert(DbCrtBase& store, const CertKeys& c, const DbDnFieldList& fields = {})
{
  return store.insertCert(c.serial, c.subject, c.certHash, c.keyId, "", c.der, fields, c.isCa);
}

std::multiset<DbBytes> ders(const DbCertList& list)
{
  std::multiset<DbBytes> out;
  for (const DbCertRecord& r : list)
    out.insert(r.der);
  return out;
}

// A database of its own for each test, so tests do not see each other's records.
DbMem* freshDb(const std::string& name)
{
  static int counter = 0;
  DbMem* db = new DbMem;
  db->connect(name + "-" + std::to_string(++counter));
  return db;
}

}  // namespace

TEST(DbCrtMem, FindsExactlyTheCertificatesSharingAKey)
{
  std::unique_ptr<DbMem> db(freshDb("finds"));
  std::vector<CertKeys> certs = loadCerts();
  for (const CertKeys& c : certs)
    EXPECT_TRUE(insert(*db->crt(), c)) << c.file;

  typedef void (DbCrtBase::*Find)(DbCertList&, const DbHash&);
  const struct {
    const char* name;
    Find find;
    DbHash CertKeys::*key;
  } finds[] = {
      {"serial", &DbCrtBase::findBySerNumHash, &CertKeys::serial},
      {"subject", &DbCrtBase::findBySbjDnHash, &CertKeys::subject},
      {"keyId", &DbCrtBase::findByKeyIdHash, &CertKeys::keyId},
      {"cert", &DbCrtBase::findByCertHash, &CertKeys::certHash},
  };
  for (const auto& f : finds)
    for (const CertKeys& c : certs) {
      std::multiset<DbBytes> expected;
      for (const CertKeys& other : certs)
        if (other.*(f.key) == c.*(f.key))
          expected.insert(other.der);
      DbCertList found;
      (db->crt()->*(f.find))(found, c.*(f.key));
      EXPECT_EQ(expected, ders(found)) << f.name << " " << c.file;
    }
  // What OpenSSL says: two certificates share a subject, three a key identifier.
  DbCertList sameSubject, sameKey;
  db->crt()->findBySbjDnHash(sameSubject, certs[2].subject);
  db->crt()->findByKeyIdHash(sameKey, certs[1].keyId);
  EXPECT_EQ(2u, sameSubject.size());
  EXPECT_EQ(3u, sameKey.size());
  DbCertList cas;
  db->crt()->listCa(cas);
  ASSERT_EQ(1u, cas.size());
  EXPECT_EQ(certs[0].der, cas[0].der);
  DbHash unknown{};
  unknown.fill(0xee);
  DbCertList none;
  db->crt()->findBySerNumHash(none, unknown);
  EXPECT_TRUE(none.empty());
}

TEST(DbCrtMem, DuplicatesStoredOnceAndNamesShareOneDatabase)
{
  std::vector<CertKeys> certs = loadCerts();
  DbMem a, b;
  a.connect("Shared-Case-Db");
  b.connect("shared-case-DB");
  size_t before = static_cast<DbCrtMem*>(a.crt())->size();
  bool firstTime = insert(*a.crt(), certs[1]);
  EXPECT_FALSE(insert(*b.crt(), certs[1]));
  EXPECT_FALSE(insert(*a.crt(), certs[1]));
  EXPECT_EQ(before + (firstTime ? 1 : 0), static_cast<DbCrtMem*>(b.crt())->size());
  DbCertList found;
  b.crt()->findByCertHash(found, certs[1].certHash);
  EXPECT_EQ(1u, found.size());
  // The stores belong to the table: a DbMem's end leaves them to the next one.
  { DbMem c; c.connect("SHARED-CASE-DB"); }
  DbCertList again;
  a.crt()->findByCertHash(again, certs[1].certHash);
  EXPECT_EQ(1u, again.size());
}

TEST(DbCrtMem, CursorWalksAndDeleteRemovesFromEveryIndex)
{
  std::unique_ptr<DbMem> db(freshDb("cursor"));
  DbCrtBase& crt = *db->crt();
  std::vector<CertKeys> certs = loadCerts();
  EXPECT_FALSE(crt.first());
  EXPECT_THROW(crt.getCurrentRec(), std::runtime_error);
  DbDnFieldList fields = {{'c', "PLAIN NAME"}};
  for (const CertKeys& c : certs)
    insert(crt, c, fields);
  std::vector<DbRecId> ids;
  for (bool on = crt.first(); on; on = crt.next())
    ids.push_back(crt.getCurrentRec());
  EXPECT_EQ((std::vector<DbRecId>{0, 1, 2, 3, 4}), ids);
  ASSERT_TRUE(crt.first());
  EXPECT_FALSE(crt.prev());
  crt.setCurrentRec(77);
  EXPECT_FALSE(crt.next());

  // Delete the CA (record 0) and the last record.
  crt.setCurrentRec(0);
  crt.deleteCert();
  EXPECT_EQ(1u, crt.getCurrentRec());
  crt.setCurrentRec(4);
  DbBytes der;
  crt.get(der);
  EXPECT_EQ(certs[4].der, der);
  crt.deleteCert();
  EXPECT_THROW(crt.get(der), std::runtime_error);
  ASSERT_TRUE(crt.first());
  EXPECT_EQ(1u, crt.getCurrentRec());
  for (int gone : {0, 4}) {
    const CertKeys& c = certs[gone];
    DbCertList l;
    crt.findBySerNumHash(l, c.serial);
    crt.findByCertHash(l, c.certHash);
    crt.listCa(l);
    for (const DbCertRecord& r : l)
      EXPECT_NE(static_cast<DbRecId>(gone), r.id);
  }
  DbCertList byField;
  crt.findBySbjDnFld(byField, 'c', "PLAIN NAME");
  EXPECT_EQ(3u, byField.size());
  // A deleted certificate may come back, under a new id.
  EXPECT_TRUE(insert(crt, certs[4]));
}

TEST(DbCrtMem, KeysAreBoundedAndCutTheSameWayOnBothSides)
{
  std::unique_ptr<DbMem> db(freshDb("bounds"));
  DbCrtBase& crt = *db->crt();
  std::vector<CertKeys> certs = loadCerts();
  std::string longValue(300, 'A');
  std::string otherTail = std::string(DB_FIELD_VALUE_MAX, 'A') + "different tail";
  CertKeys c = certs[1];
  // Hashes that agree up to a zero octet are still different keys; a hash
  // without any zero octet is read as its 20 octets.
  DbHash withZero{};
  withZero.fill(0xff);
  withZero[3] = 0;
  DbHash differsAfterZero = withZero;
  differsAfterZero[19] = 0x01;
  DbHash noZero{};
  noZero.fill(0xff);
  c.keyId = noZero;
  c.serial = withZero;
  ASSERT_TRUE(insert(crt, c, {{'c', longValue}, {'o', std::string("ab\0cd", 5)}}));

  const struct {
    char tag;
    std::string value;
    size_t expected;
  } fieldCases[] = {
      {'c', longValue, 1},
      {'c', otherTail, 1},
      {'c', std::string(DB_FIELD_VALUE_MAX, 'A'), 1},
      {'c', std::string(DB_FIELD_VALUE_MAX - 1, 'A'), 0},
      {'o', "ab", 1},
      {'o', "abcd", 0},
      {'x', longValue, 0},
  };
  for (const auto& f : fieldCases) {
    DbCertList l;
    crt.findBySbjDnFld(l, f.tag, f.value);
    EXPECT_EQ(f.expected, l.size()) << f.tag << " " << f.value.size();
  }
  EXPECT_EQ(1 + DB_FIELD_VALUE_MAX, dbFieldKey('c', longValue).size());

  const struct {
    DbHash hash;
    bool serialIndex;
    size_t expected;
  } hashCases[] = {
      {withZero, true, 1}, {differsAfterZero, true, 0}, {noZero, false, 1}, {withZero, false, 0}};
  for (const auto& h : hashCases) {
    DbCertList l;
    if (h.serialIndex)
      crt.findBySerNumHash(l, h.hash);
    else
      crt.findByKeyIdHash(l, h.hash);
    EXPECT_EQ(h.expected, l.size());
  }
}

// Thousands of records, keys shared by groups of every size (one record, a
// few, all of them): each find returns exactly its group in insertion order,
// while the indexes grow and after deletes rebuild them.
TEST(DbCrtMem, ManyRecordsFoundInInsertionOrderThroughGrowthAndDeletes)
{
  std::unique_ptr<DbMem> db(freshDb("many"));
  DbCrtBase& crt = *db->crt();
  const uint32_t count = 3000;
  auto key = [](uint32_t group, uint8_t kind) {
    DbHash h{};
    h.fill(kind);
    h[0] = static_cast<uint8_t>(group);
    h[1] = static_cast<uint8_t>(group >> 8);
    return h;
  };
  // Groups of records sharing a key: the record number divided by the size.
  const struct {
    const char* name;
    uint32_t groupSize;
  } groups[] = {{"serial", 1}, {"subject", 7}, {"keyId", 250}, {"field", count}};
  auto groupOf = [&](int g, uint32_t i) { return i / groups[g].groupSize; };
  for (uint32_t i = 0; i < count; ++i) {
    DbBytes der = {0x30, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
    ASSERT_TRUE(crt.insertCert(key(groupOf(0, i), 1), key(groupOf(1, i), 2), key(i, 3),
                               key(groupOf(2, i), 4), "", der, {{'c', "PL"}}, i % 100 == 0));
  }
  std::set<DbRecId> deleted;
  auto check = [&](const char* when) {
    for (int g = 0; g < 4; ++g)
      for (uint32_t probe : {0u, 1u, 6u, 7u, 1234u, count - 1}) {
        std::vector<DbRecId> expected;
        for (uint32_t i = 0; i < count; ++i)
          if (groupOf(g, i) == groupOf(g, probe) && !deleted.count(i))
            expected.push_back(i);
        DbCertList found;
        uint32_t group = groupOf(g, probe);
        if (g == 0)
          crt.findBySerNumHash(found, key(group, 1));
        else if (g == 1)
          crt.findBySbjDnHash(found, key(group, 2));
        else if (g == 2)
          crt.findByKeyIdHash(found, key(group, 4));
        else
          crt.findBySbjDnFld(found, 'c', "PL");
        std::vector<DbRecId> ids;
        for (const DbCertRecord& r : found) {
          ids.push_back(r.id);
          EXPECT_EQ((DbBytes{0x30, static_cast<uint8_t>(r.id), static_cast<uint8_t>(r.id >> 8)}),
                    r.der);
        }
        EXPECT_EQ(expected, ids) << when << " " << groups[g].name << " " << probe;
      }
  };
  check("after the inserts");
  for (DbRecId id : {0u, 7u, 1234u, 2999u, 1500u}) {
    crt.setCurrentRec(id);
    crt.deleteCert();
    deleted.insert(id);
  }
  check("after the deletes");
  DbCertList cas;
  crt.listCa(cas);
  EXPECT_EQ(28u, cas.size());
  EXPECT_EQ(100u, cas.front().id);
  EXPECT_EQ(static_cast<size_t>(count - deleted.size()), static_cast<DbCrtMem&>(crt).size());
}

TEST(DbCrlMem, IndexStartsEmptyAndCrlsAreReplaced)
{
  std::unique_ptr<DbMem> db(freshDb("crl"));
  DbCrlBase& crl = *db->crl();
  DbBytes index;
  {
    DbCrlGuard guard(0);
    crl.getCrlIndex(index, guard);
    EXPECT_TRUE(guard.holds());
    // The DER of SEQUENCE { INTEGER 0, SEQUENCE {} }.
    EXPECT_EQ((DbBytes{0x30, 0x05, 0x02, 0x01, 0x00, 0x30, 0x00}), index);
    crl.insertCrl({0x30, 0x01}, {0xaa}, 0, -1);
    crl.insertCrl({0x30, 0x02}, {0xbb}, 1, 0);
  }
  std::vector<DbBytes> all;
  crl.readAll(all);
  EXPECT_EQ((std::vector<DbBytes>{{0xbb}}), all);
  DbBytes out;
  crl.getCrlByFileNum(1, out);
  EXPECT_EQ(DbBytes{0xbb}, out);
  crl.getCrlByFileNum(0, out);
  EXPECT_TRUE(out.empty());
  // The guard released the store: another thread takes it at once.
  std::thread other([&] {
    DbCrlGuard guard(1);
    DbBytes copy;
    crl.getCrlIndex(copy, guard);
    EXPECT_EQ((DbBytes{0x30, 0x02}), copy);
  });
  other.join();
  // An unlock from a thread that holds nothing changes nothing.
  crl.unlock();
}

// True when another thread takes the store's index lock within the hang guard
// (the thread is left behind when it cannot, so a leaked lock fails the test
// instead of hanging it).
bool freeForAnotherThread(DbCrlBase& crl)
{
  auto taken = std::make_shared<std::atomic<bool>>(false);
  std::thread([&crl, taken] {
    DbCrlGuard guard(1);
    DbBytes index;
    crl.getCrlIndex(index, guard);
    *taken = true;
  }).detach();
  for (int i = 0; i < HANG_GUARD_SECONDS * 100 && !*taken; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return *taken;
}

TEST(DbCrlMem, AGuardUsedTwiceLeavesNoLockBehind)
{
  const struct {
    const char* name;
    bool secondStore;
  } cases[] = {{"same store twice", false}, {"two stores", true}};
  for (const auto& c : cases) {
    std::unique_ptr<DbMem> one(freshDb("guard")), two(freshDb("guard"));
    {
      DbCrlGuard guard(0);
      DbBytes index;
      one->crl()->getCrlIndex(index, guard);
      (c.secondStore ? two : one)->crl()->getCrlIndex(index, guard);
    }
    EXPECT_TRUE(freeForAnotherThread(*one->crl())) << c.name;
    EXPECT_TRUE(freeForAnotherThread(*two->crl())) << c.name;
  }
}

TEST(DbSrvMem, ImportNumbersByLowerCasedName)
{
  std::unique_ptr<DbMem> db(freshDb("srv"));
  DbSrvBase& srv = *db->srv();
  srv.setImportNumber(1, "LDAP.Example.PL", 7);
  uint32_t n = 0;
  srv.getImportNumber(1, "ldap.example.pl", n);
  EXPECT_EQ(7u, n);
  try {
    srv.getImportNumber(2, "ldap.example.pl", n);
    ADD_FAILURE();
  } catch (const TalApiException& e) {
    EXPECT_EQ(20, e.getCode());
  }
  EXPECT_THROW(srv.setImportNumber(3, "x", 1), TalApiException);
  srv.removeServer(2, "ldap.example.pl");
  srv.getImportNumber(1, "LDAP.example.pl", n);
  srv.removeServer(1, "Ldap.Example.Pl");
  try {
    srv.getImportNumber(1, "LDAP.example.pl", n);
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ("Serwer nie znaleziony: ldap.example.pl", e.what());
  }
}

// Eight threads, each with its own connection to one database, import the same
// certificates and find them while the others write.
TEST(DbCrtMem, EightThreadsImportAndFindTheSameCertificates)
{
  std::vector<CertKeys> certs = loadCerts();
  std::string name = "threads-" + std::to_string(::getpid());
  std::atomic<int> stored{0};
  std::atomic<int> misses{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      DbConfig config;
      config.setParam("dbtype", "W PAMIECI");
      config.setParam("dbname", name);
      std::unique_ptr<DbBase> db(config.connect());
      for (int round = 0; round < 50; ++round)
        for (size_t i = 0; i < certs.size(); ++i) {
          const CertKeys& c = certs[(i + t) % certs.size()];
          if (insert(*db->crt(), c))
            ++stored;
          DbCertList l;
          db->crt()->findByCertHash(l, c.certHash);
          db->crt()->listCa(l);
          if (l.empty())
            ++misses;
          if (db->crt()->first())
            db->crt()->next();
          DbCrlGuard guard(0);
          DbBytes index;
          db->crl()->getCrlIndex(index, guard);
        }
    });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(static_cast<int>(certs.size()), stored.load());
  EXPECT_EQ(0, misses.load());
}
