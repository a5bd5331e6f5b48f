// Key profiles kept in the registry: the settings go into a UniversalConfMgr tree and from it
// under the profile's key; a stored profile reads back equal, attribute by attribute.
#include "api/profilestore.h"
#include "api/universalconfmgr.h"
#include "base/talexception.h"
#include "keys/talprofile.h"
#include "platform/registry.h"
#include "platform/registrysandbox.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryStatus;

namespace {

class ProfileStore : public RegistrySandbox {};

using Bytes = std::vector<uint8_t>;

Bytes text(const std::string& t) {
  Bytes b(t.begin(), t.end());
  b.push_back(0);
  return b;
}
Bytes integer(int32_t v) {
  Bytes b(4);
  std::memcpy(b.data(), &v, 4);
  return b;
}

struct Attr {
  int32_t number;
  Bytes value;
};

std::unique_ptr<TalProfile> make(int32_t type, const std::vector<Attr>& attrs) {
  std::unique_ptr<TalProfile> p(createProfile(type));
  for (const Attr& a : attrs) EXPECT_EQ(0, p->setAttribute(a.number, a.value.data(), a.value.size()));
  return p;
}

// Every attribute answers alike with the same octets; proxies and parameters are equal.
void expectEqual(const TalProfile& a, const TalProfile& b) {
  ASSERT_EQ(a.type(), b.type());
  for (int32_t n = 0; n <= 40; ++n) {
    size_t la = 0, lb = 0;
    const int32_t ra = a.getAttribute(n, nullptr, &la), rb = b.getAttribute(n, nullptr, &lb);
    EXPECT_EQ(ra, rb) << "attribute " << n;
    if (ra != 0 && ra != 37) continue;
    Bytes va(la), vb(lb);
    a.getAttribute(n, va.data(), &la);
    b.getAttribute(n, vb.data(), &lb);
    EXPECT_EQ(va, vb) << "attribute " << n;
  }
  std::string aa, al, ap, ba, bl, bp;
  int32_t aport = 0, bport = 0;
  a.getProxy(aa, aport, al, ap);
  b.getProxy(ba, bport, bl, bp);
  EXPECT_EQ(aa, ba);
  EXPECT_EQ(aport, bport);
  EXPECT_EQ(al, bl);
  EXPECT_EQ(ap, bp);
  EXPECT_EQ(a.parameters().all(), b.parameters().all());
}

TEST_F(ProfileStore, StoredProfilesReadBackEqual) {
  const Bytes fileBytes = {0x30, 0x82, 0x00, 0x00, 0x02, 0x01, 0x03, 0x00};
  struct Case {
    const char* name;
    int32_t type;
    std::vector<Attr> attrs;
    bool proxy;
  };
  const Case cases[] = {
      {"Token", TALPROFILE_PKCS11,
       {{0, text("Token")},
        {3, text("/usr/lib/pkcs11/module.so")},
        {5, text("Czytnik 1")},
        {6, Bytes{'k', 'e', 'y'}},  // no terminator: kept as octets
        {21, integer(0)},           // set to 0: not the default answer 37
        {27, integer(1)},
        {32, integer(-2)},
        {17, text("w pamieci")}},
       true},
      {"Plik", TALPROFILE_PKCS12,
       {{0, text("Plik")}, {9, text("/home/u/klucze.p12")}, {30, fileBytes}, {14, Bytes{}},
        {37, integer(7)}, {22, integer(1)}},
       false},
      {"Pamiec", TALPROFILE_MEMORY, {{0, text("Pamiec")}, {16, text("/tmp/profil")}}, false},
      {"Urzadzenie", TALPROFILE_OSTRA, {{0, text("Urzadzenie")}, {15, text("opis")}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TalProfile> p = make(c.type, c.attrs);
    if (c.proxy) p->setProxy("proxy.local", 3128, "jan", "tajne");
    p->parameters().set("dbname", std::string("baza-") + c.name);
    ASSERT_EQ(0, storeProfile(*p));
    std::unique_ptr<TalProfile> back(loadStoredProfile(c.name));
    ASSERT_NE(nullptr, back);
    expectEqual(*p, *back);
  }

  // The values as the registry holds them: texts under their names.
  RegistryKey key;
  ASSERT_EQ(RegistryStatus::Ok,
            key.open(RegistryRoot::CurrentUser, std::string(PROFILE_REGISTRY_KEY) + "\\Token", false));
  struct Value {
    const char* name;
    uint32_t type;
    Bytes data;
  };
  for (const Value& v : {Value{"PKCS11Library", platform::REGISTRY_SZ, text("/usr/lib/pkcs11/module.so")},
                         Value{"ReaderName", platform::REGISTRY_SZ, text("Czytnik 1")},
                         Value{"KeyLabel", platform::REGISTRY_BINARY, Bytes{'k', 'e', 'y'}},
                         Value{"ProfileType", platform::REGISTRY_DWORD, Bytes{5, 0, 0, 0}},
                         Value{"Pkcs11Flag32", platform::REGISTRY_DWORD, Bytes{0xfe, 0xff, 0xff, 0xff}},
                         Value{"ProxyPort", platform::REGISTRY_DWORD, Bytes{0x38, 0x0c, 0, 0}}}) {
    uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(RegistryStatus::Ok, key.queryValue(v.name, type, data)) << v.name;
    EXPECT_EQ(v.type, type) << v.name;
    EXPECT_EQ(v.data, data) << v.name;
  }
  UniversalConfMgr tree;
  tree.load((std::string(PROFILE_REGISTRY_KEY) + "\\Plik").c_str(), false);
  std::string file;
  EXPECT_TRUE(tree.getData("\\Pkcs12File", file, false));
  EXPECT_EQ("/home/u/klucze.p12", file);
  EXPECT_TRUE(tree.getData("\\Parameters\\dbname", file, false));
  EXPECT_EQ("baza-Plik", file);
}

TEST_F(ProfileStore, StoringAgainDropsWhatIsNoLongerSet) {
  std::unique_ptr<TalProfile> first = make(TALPROFILE_PKCS11, {{0, text("P")}, {5, text("R")}});
  first->setProxy("proxy", 80, nullptr, nullptr);
  first->parameters().set("db", "/var/db");
  ASSERT_EQ(0, storeProfile(*first));
  std::unique_ptr<TalProfile> second = make(TALPROFILE_PKCS12, {{0, text("P")}, {9, text("f.p12")}});
  ASSERT_EQ(0, storeProfile(*second));
  std::unique_ptr<TalProfile> back(loadStoredProfile("P"));
  ASSERT_NE(nullptr, back);
  expectEqual(*second, *back);
}

TEST_F(ProfileStore, NamesAndTreesThatAreRefused) {
  for (const Bytes& name : {Bytes{}, text(""), text("a\\b"), text(".."), text("a/b"),
                            text(std::string(300, 'n'))}) {
    std::unique_ptr<TalProfile> p = make(TALPROFILE_MEMORY, {});
    if (!name.empty()) { ASSERT_EQ(0, p->setAttribute(0, name.data(), name.size())); }
    EXPECT_EQ(20, storeProfile(*p)) << name.size();
  }
  EXPECT_EQ(nullptr, loadStoredProfile("nieznany"));
  EXPECT_EQ(nullptr, loadStoredProfile(""));

  UniversalConfMgr tree;
  EXPECT_EQ(nullptr, profileFromTree(tree));  // no type
  tree.setDataLong("\\ProfileType", 2);
  EXPECT_EQ(nullptr, profileFromTree(tree));  // no such type
  tree.setDataLong("\\ProfileType", TALPROFILE_MEMORY);
  tree.setData("\\ExternalSigningPin", "1");  // a text for a 4-byte attribute
  EXPECT_THROW(delete profileFromTree(tree), TalException);
  tree.setDataLong("\\ExternalSigningPin", 1);
  tree.setData("\\PKCS11Library", "/lib.so");  // not an attribute of a memory profile
  EXPECT_THROW(delete profileFromTree(tree), TalException);
}

}  // namespace
