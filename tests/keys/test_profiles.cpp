// Profiles: their numbered attributes and what each class answers when one is not set, the
// handle check, proxy, extended key usages, parameters, servers and copies.
#include "keys/talprofile.h"

#include "base/talexception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

int32_t getInt(const TalProfile& p, int32_t number, int32_t* answer = nullptr) {
  int32_t value = -1;
  size_t length = 4;
  int32_t a = p.getAttribute(number, &value, &length);
  if (answer) *answer = a;
  EXPECT_EQ(4u, length) << number;
  return value;
}

TEST(Profiles, UnsetAttributesByClass) {
  struct Row {
    int32_t type;
    int32_t number;
    int32_t answer;
    size_t length;
  };
  const Row rows[] = {
      // memory profile: 0, 1, 14, 15 and 37 answer 0
      {7, 0, 0, 0}, {7, 1, 0, 4}, {7, 14, 0, 0}, {7, 15, 0, 0}, {7, 37, 0, 4},
      {7, 16, 38, 0}, {7, 17, 38, 0}, {7, 21, 37, 4}, {7, 22, 37, 4},
      {7, 3, 33, 0}, {7, 9, 33, 0}, {7, 30, 33, 0}, {7, 99, 33, 0}, {7, -1, 33, 0},
      // PKCS#12: its file path and bytes answer with an empty value
      {1, 9, 0, 0}, {1, 30, 0, 0}, {1, 3, 33, 0},
      // PKCS#11: module path and flags answer, the labels may be absent
      {5, 3, 0, 0}, {5, 27, 0, 4}, {5, 32, 0, 4}, {5, 34, 0, 4}, {5, 5, 38, 0}, {5, 6, 38, 0},
      {5, 30, 33, 0},
      // device
      {3, 37, 0, 4}, {3, 3, 33, 0},
  };
  for (const Row& row : rows) {
    std::unique_ptr<TalProfile> p(createProfile(row.type));
    ASSERT_TRUE(p);
    size_t length = 0;
    EXPECT_EQ(row.answer, p->getAttribute(row.number, nullptr, &length))
        << row.type << "/" << row.number;
    if (row.answer == 0 || row.answer == 37) {
      EXPECT_EQ(row.length, length) << row.type << "/" << row.number;
    }
  }
  for (int32_t type : {0, 2, 4, 6, 8}) EXPECT_EQ(nullptr, createProfile(type)) << type;
  std::unique_ptr<TalProfile> memory(createProfile(7));
  EXPECT_EQ(7, getInt(*memory, 1));
}

TEST(Profiles, SetAndGet) {
  MemoryProfile p;
  const char name[] = "UpoVerifierProfile";
  EXPECT_EQ(0, p.setAttribute(0, name, sizeof name));
  char buffer[64];
  size_t length = 5;
  EXPECT_EQ(34, p.getAttribute(0, buffer, &length));
  EXPECT_EQ(sizeof name, length) << "the length needed";
  length = sizeof buffer;
  EXPECT_EQ(0, p.getAttribute(0, buffer, &length));
  EXPECT_STREQ(name, buffer);
  EXPECT_EQ(33, p.getAttribute(0, buffer, nullptr));

  int32_t one = 1;
  EXPECT_EQ(0, p.setAttribute(21, &one, 4));
  int32_t answer = -1;
  EXPECT_EQ(1, getInt(p, 21, &answer));
  EXPECT_EQ(0, answer) << "set: no longer the default";
  EXPECT_EQ(33, p.setAttribute(21, &one, 2)) << "four bytes or nothing";
  EXPECT_EQ(33, p.setAttribute(1, &one, 4)) << "the type is read only";
  EXPECT_EQ(33, p.setAttribute(30, "x", 1)) << "a PKCS#12 attribute";
  EXPECT_EQ(33, p.setAttribute(0, nullptr, 3));

  const char db[] = "w pamieci";
  EXPECT_EQ(0, p.setAttribute(17, db, sizeof db));
  std::string value;
  ASSERT_TRUE(p.parameters().get("dbtype", value));
  EXPECT_EQ("w pamieci", value);
  EXPECT_FALSE(p.parameters().get("dbname", value));
}

TEST(Profiles, HandleCheckProxyUsagesServersAndCopies) {
  Pkcs11Profile p;
  EXPECT_TRUE(TalProfile::isValidHandle(&p));
  EXPECT_FALSE(TalProfile::isValidHandle(nullptr));
  char notProfile[64] = {0};
  EXPECT_FALSE(TalProfile::isValidHandle(notProfile));
  std::memcpy(notProfile + sizeof(void*), "TalVorinProfile#3.9?", 20);
  EXPECT_FALSE(TalProfile::isValidHandle(notProfile));
  // The magic alone does not make a profile: a forged buffer taken for one would be deleted
  // as one. Only live profile objects pass.
  std::memcpy(notProfile + sizeof(void*), TalProfile::MAGIC, 20);
  EXPECT_FALSE(TalProfile::isValidHandle(notProfile));
  EXPECT_EQ(20u, std::strlen(TalProfile::MAGIC));

  p.setProxy("proxy.example", 3128, nullptr, "tajne");
  p.addExtKeyUsage("1.3.6.1.5.5.7.3.4", "emailProtection");
  p.addServer(2, "ldap://crl.example");
  p.addServer(4, "http://ocsp.example");
  p.addServer(2, "http://crl.example/ca.crl");
  const char module[] = "/usr/lib/pkcs11.so";
  ASSERT_EQ(0, p.setAttribute(3, module, sizeof module));

  std::unique_ptr<TalProfile> copy(p.clone());
  EXPECT_EQ(5, copy->type());
  EXPECT_TRUE(TalProfile::isValidHandle(copy.get()));
  std::string address, login, password;
  int32_t port = 0;
  copy->getProxy(address, port, login, password);
  EXPECT_EQ("proxy.example", address);
  EXPECT_EQ(3128, port);
  EXPECT_EQ("", login);
  EXPECT_EQ("tajne", password);
  ASSERT_EQ(1u, copy->getExtKeyUsageCount());
  std::string oid, name;
  copy->getExtKeyUsage(0, oid, name);
  EXPECT_EQ("emailProtection", name);
  try {
    copy->getExtKeyUsage(1, oid, name);
    ADD_FAILURE() << "no exception";
  } catch (const TalException& e) {
    EXPECT_STREQ("Niepoprawny indeks", e.what());
  }
  char buffer[64];
  size_t length = sizeof buffer;
  ASSERT_EQ(0, copy->getAttribute(3, buffer, &length));
  EXPECT_STREQ(module, buffer);

  ServerIterator* crls = copy->createServerIterator(2);
  ASSERT_EQ(2u, crls->servers.size());
  EXPECT_EQ("http://crl.example/ca.crl", crls->servers[1].url);
  TalProfile::destroyServerList(crls);
  ServerIterator* all = copy->createServerIterator(0);
  EXPECT_EQ(3u, all->servers.size());
  TalProfile::destroyServerList(all);
  TalProfile::destroyServerList(nullptr);
}

}  // namespace
