// The configuration manager: overrides over the file, the defaults, profiles and their lock
// names (digests from openssl sha1), the signature and digest choices with the digest
// adjustment, acceptable policies, the server walk, copies, and the key manager's settings
// written through it and read back by openssl asn1parse.
#include "api/cfgmgr.h"

#include "api/talctx.h"
#include "asn1/asnint.h"
#include "base/talexception.h"
#include "keys/keymanager.h"
#include "keys/talprofile.h"
#include "pki/common/extension.h"
#include "pki/common/oids.h"
#include "platform/buildconst.h"
#include "platform/registrysandbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

TalProfile* makeProfile(int32_t type, const std::string& name = "profil") {
  TalProfile* p = createProfile(type);
  EXPECT_EQ(0, p->setAttribute(0, name.data(), name.size()));
  return p;
}

// A certificate of tests/data/keys (made by openssl, make_roots.sh there).
SignedCertificate keyCertificate(const char* name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/" + name, std::ios::binary);
  std::vector<uint8_t> der((std::istreambuf_iterator<char>(in)), {});
  SignedCertificate c;
  EXPECT_GT(c.decodeVector(der), 0) << name;
  return c;
}

std::string oidText(const AlgorithmIdentifier& algorithm) {
  std::string text;
  EXPECT_TRUE(algorithm.algorithm.toString(text));
  return text;
}

TEST(ConfigurationOptions, OverridesHideTheFileAndAreNeverWritten) {
  ConfigurationManager cfg;
  std::vector<uint8_t> empty, der;
  ASSERT_TRUE(cfg.encodeConfiguration(empty));
  EXPECT_EQ(1, cfg.setOption(99, 7, true)) << "any number at run time";
  EXPECT_EQ(7, cfg.getIntOption(99));
  EXPECT_THROW(cfg.getIntOption(98), std::runtime_error);
  EXPECT_THROW(cfg.setOption(98, 1, false), std::runtime_error);
  EXPECT_EQ(1, cfg.setOption(17, 5, true));
  ASSERT_TRUE(cfg.encodeConfiguration(der));
  EXPECT_EQ(empty, der);
  EXPECT_EQ(1, cfg.setOption(17, 45, false));
  EXPECT_EQ(45, cfg.file().getInt(17));
  EXPECT_EQ(5, cfg.getIntOption(17)) << "the override still wins";
  EXPECT_EQ(nullptr, cfg.getStringOption(4));
}

TEST(ConfigurationDefaults, WrittenIntoTheFile) {
  struct Row {
    int32_t profileType;
    const ASNobjectId* symmetric;
  };
  const Row rows[] = {{TALPROFILE_MEMORY, &id_aes128_CBC}, {TALPROFILE_OSTRA, &des_ede3_cbc}};
  const int32_t expected[][2] = {
      {2, 1},  {3, 1},  {4, 0},  {5, 0},  {6, 0},  {7, 0},  {8, 0},  {9, 0},  {10, 0},
      {11, 0}, {12, 0}, {13, 0}, {14, 0}, {16, 0}, {17, 30}, {18, 0}, {19, 0}, {22, 0},
      {27, 1}, {32, 0}, {33, 0}, {34, 1}, {35, 0}, {37, 0}};
  for (const Row& row : rows) {
    ConfigurationManager cfg;
    ASSERT_EQ(0, cfg.setProfile(makeProfile(row.profileType)));
    cfg.writeDefaults();
    EXPECT_TRUE(cfg.file().getSymmetricAlgorithm(false) == *row.symmetric) << row.profileType;
    for (const auto& option : expected)
      EXPECT_EQ(option[1], cfg.getIntOption(option[0])) << "option " << option[0];
    for (int32_t unwritten : {20, 23, 24, 28, 29, 30})
      EXPECT_EQ(nullptr, cfg.file().findAttribute(cfg.file().optionTable().at(unwritten).oid))
          << "option " << unwritten;
    EXPECT_EQ(1, cfg.file().getAttr22(false));
    EXPECT_NE(nullptr, cfg.file().findAttribute(privateOid_2_5_5));
  }
}

TEST(ConfigurationProfile, ReadOnceAndOwned) {
  ConfigurationManager cfg;
  const int32_t types[][2] = {{TALPROFILE_PKCS12, 1},
                              {TALPROFILE_OSTRA, 2},
                              {TALPROFILE_PKCS11, 4},
                              {TALPROFILE_MEMORY, 6}};
  for (const auto& type : types) {
    ASSERT_EQ(0, cfg.setProfile(makeProfile(type[0], "p" + std::to_string(type[0]))));
    EXPECT_EQ(type[1], cfg.deviceType());
    EXPECT_EQ("p" + std::to_string(type[0]), cfg.profileName());
  }
  EXPECT_EQ(33, cfg.setProfile(nullptr));
  EXPECT_EQ(6, cfg.deviceType()) << "a NULL profile leaves the one held";

  TalProfile* pkcs11 = makeProfile(TALPROFILE_PKCS11);
  const std::string module = "/usr/lib/token.so", label(40, 'L');
  ASSERT_EQ(0, pkcs11->setAttribute(3, module.c_str(), module.size() + 1));
  ASSERT_EQ(0, pkcs11->setAttribute(6, label.data(), label.size()));
  ASSERT_EQ(0, pkcs11->setAttribute(16, "/prof", 5));
  ASSERT_EQ(0, cfg.setProfile(pkcs11));
  EXPECT_EQ(module, cfg.pkcs11ModulePath());
  EXPECT_FALSE(cfg.tokenLabelPresent());
  EXPECT_TRUE(cfg.keyLabelPresent()) << "a label longer than 32 bytes is present too";
  EXPECT_EQ("/prof", cfg.profilePath());

  // The digest override does not survive a new profile.
  ASSERT_EQ(1, cfg.setDigestAlgorithm(4, true));
  TalProfile* pkcs12 = makeProfile(TALPROFILE_PKCS12);
  ASSERT_EQ(0, pkcs12->setAttribute(30, "abc", 3));
  ASSERT_EQ(0, cfg.setProfile(pkcs12));
  EXPECT_TRUE(cfg.profileDataInMemory());
  EXPECT_EQ(1, cfg.getDigestAlgorithm(false, true));
}

// A profile refused for its attributes is freed (LeakSanitizer sees a leak otherwise) and the
// manager keeps what it held.
TEST(ConfigurationProfile, RefusedProfileIsFreedAndNothingChanges) {
  ConfigurationManager cfg;
  ASSERT_EQ(0, cfg.setProfile(makeProfile(TALPROFILE_MEMORY, "stary")));
  TalProfile* longName = createProfile(TALPROFILE_PKCS11);
  const std::string name(300, 'n');
  ASSERT_EQ(0, longName->setAttribute(0, name.data(), name.size()));
  EXPECT_EQ(PROFILE_ATTR_SHORT_BUFFER, cfg.setProfile(longName));
  EXPECT_EQ(6, cfg.deviceType());
  EXPECT_EQ("stary", cfg.profileName());

  TalProfile* longText = makeProfile(TALPROFILE_PKCS12);
  ASSERT_EQ(0, longText->setAttribute(15, name.data(), name.size()));
  EXPECT_THROW(cfg.setProfile(longText), std::runtime_error);
  EXPECT_EQ(6, cfg.deviceType());
}

TEST(ConfigurationProfile, LockNames) {
  struct Row {
    const char* what;
    int32_t type;
    const char* bytes;  // attribute 30
    std::string path;   // attribute 9
    uint32_t osCode;
    std::string name;  // "" : the fixed name
  };
  // SHA-1 values from openssl sha1.
  const Row rows[] = {
      {"key file in memory", 1, "abc", "", 0, "Global\\A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {"in memory, newer", 1, "abc", "/x", 11, "Global\\A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {"path, older system", 1, nullptr, "/home/u/key.p12", 5, "/home/u/key.p12.lck"},
      {"path, newer system", 1, nullptr, "/home/u/key.p12", 6,
       "Global\\659611725E2697B4551BEDE789461B4F23DEB1BD"},
      {"longest path", 1, nullptr, std::string(255, 'p'), 0, std::string(255, 'p') + ".lck"},
      {"memory profile", 7, nullptr, "", 0, ""},
      {"token, newer", 5, nullptr, "", 10, "Global\\"},
  };
  for (const Row& row : rows) {
    ConfigurationManager cfg;
    TalProfile* p = makeProfile(row.type);
    if (row.bytes) { ASSERT_EQ(0, p->setAttribute(30, row.bytes, std::strlen(row.bytes))); }
    if (!row.path.empty()) { ASSERT_EQ(0, p->setAttribute(9, row.path.data(), row.path.size())); }
    ASSERT_EQ(0, cfg.setProfile(p));
    char buffer[CFG_LOCK_NAME_SIZE];
    std::string got = cfg.getProfileLockName(buffer, 0, row.osCode);
    if (row.name.empty() || row.name == "Global\\") {
      std::string fixed = got.substr(row.name.size());
      EXPECT_EQ(row.name, got.substr(0, row.name.size())) << row.what;
      EXPECT_EQ(28u, fixed.size()) << row.what;
      EXPECT_EQ(std::string::npos, fixed.find('\\')) << row.what;
      for (char c : fixed) EXPECT_TRUE(c > 0x20 && c < 0x7F) << row.what;
    } else {
      EXPECT_EQ(row.name, got) << row.what;
    }
  }
  ConfigurationManager cfg;
  TalProfile* p = makeProfile(TALPROFILE_PKCS12);
  const std::string tooLong(256, 'p');
  ASSERT_EQ(0, p->setAttribute(9, tooLong.data(), tooLong.size()));
  ASSERT_EQ(0, cfg.setProfile(p));
  char buffer[CFG_LOCK_NAME_SIZE];
  try {
    cfg.getProfileLockName(buffer, 0, 0);
    ADD_FAILURE() << "a name of 260 characters";
  } catch (const TalApiException& e) {
    EXPECT_EQ(99, e.getCode());
  }
  EXPECT_THROW(cfg.getProfileLockName(buffer, 1), std::runtime_error);
}

TEST(ConfigurationAlgorithms, DigestFollowsTheSignatureScheme) {
  const char* const sha1Rsa = "1.2.840.113549.1.1.5";
  const char* const dsaSha1 = "1.2.840.10040.4.3";
  const char* const pss = "1.2.840.113549.1.1.10";
  struct Row {
    const char* what;
    int32_t scheme;  // of the stored signature algorithm, -1 none
    bool runtime;
    int32_t digest;
    int answer;
    const char* effective;  // the algorithm in force afterwards, NULL none
    int pssSalt;
    int32_t digestInForce;
    int32_t digestOfFile;
  };
  const Row rows[] = {
      {"no algorithm, run time", -1, true, 3, 1, nullptr, 0, 3, 1},
      {"no algorithm, file", -1, false, 3, 1, nullptr, 0, 3, 3},
      {"RSA, run time", 0, true, 3, 1, "1.2.840.113549.1.1.11", 0, 3, 1},
      {"RSA, file", 0, false, 4, 1, "1.2.840.113549.1.1.12", 0, 4, 4},
      {"RSA, same digest", 0, true, 1, 1, sha1Rsa, 0, 1, 1},
      {"RSA, digest without OID", 0, true, 6, 0, sha1Rsa, 0, 1, 1},
      {"DSA cannot take SHA-256, run time", 1, true, 3, 0, dsaSha1, 0, 1, 1},
      {"DSA cannot take SHA-256, file", 1, false, 3, 0, dsaSha1, 0, 1, 1},
      {"EC-DSA, run time", 2, true, 5, 1, "1.2.840.10045.4.3.4", 0, 5, 1},
      {"EC-DSA, file", 2, false, 2, 1, "1.2.840.10045.4.3.1", 0, 2, 2},
      {"PSS, run time", 3, true, 5, 1, pss, 64, 5, 3},
      {"PSS, file", 3, false, 1, 1, pss, 20, 1, 1},
  };
  for (const Row& row : rows) {
    ConfigurationManager cfg;
    if (row.scheme >= 0) {
      AlgorithmIdentifier start;
      ASSERT_TRUE(cfgDefaultSignatureAlgorithm(row.scheme, start));
      ASSERT_TRUE(cfg.setSignatureAlgorithm(start, true, false)) << row.what;
    }
    EXPECT_EQ(row.answer, cfg.setDigestAlgorithm(row.digest, row.runtime)) << row.what;
    AlgorithmIdentifier now;
    ASSERT_EQ(row.effective != nullptr, cfg.getSignatureAlgorithm(now, false)) << row.what;
    if (row.effective) { EXPECT_EQ(row.effective, oidText(now)) << row.what; }
    if (row.pssSalt) {
      int hash = 0, salt = 0, mgf = -1, mgfHash = 0, trailer = 0;
      bool present = false;
      ASSERT_TRUE(now.getRsaPssParams(&hash, &salt, &mgf, &mgfHash, &trailer, &present));
      EXPECT_EQ(row.digestInForce, hash) << row.what;
      EXPECT_EQ(row.digestInForce, mgfHash) << row.what;
      EXPECT_EQ(row.pssSalt, salt) << row.what;
      EXPECT_EQ(0, mgf) << row.what;
      EXPECT_EQ(1, trailer) << row.what;
    }
    EXPECT_EQ(row.digestInForce, cfg.getDigestAlgorithm(false, true)) << row.what;
    EXPECT_EQ(row.digestOfFile, cfg.getDigestAlgorithm(true, true)) << row.what;
  }
}

TEST(ConfigurationAlgorithms, OverridesOfTheSignatureAlgorithm) {
  ConfigurationManager cfg;
  AlgorithmIdentifier rsa, ecdsa, out;
  ASSERT_TRUE(cfgDefaultSignatureAlgorithm(0, rsa));
  ASSERT_TRUE(cfgDefaultSignatureAlgorithm(2, ecdsa));
  // A digest chosen at run time before the file has an algorithm is applied when it gets one.
  ASSERT_EQ(1, cfg.setDigestAlgorithm(4, true));
  ASSERT_TRUE(cfg.setSignatureAlgorithm(rsa, false, false));
  ASSERT_TRUE(cfg.getSignatureAlgorithm(out, false));
  EXPECT_EQ("1.2.840.113549.1.1.12", oidText(out));
  ASSERT_TRUE(cfg.getSignatureAlgorithm(out, true));
  EXPECT_EQ("1.2.840.113549.1.1.5", oidText(out));
  // A run-time digest the stored scheme cannot take gives no algorithm rather than a wrong one.
  ConfigurationManager dsa;
  AlgorithmIdentifier dsaSha1;
  ASSERT_TRUE(cfgDefaultSignatureAlgorithm(1, dsaSha1));
  ASSERT_EQ(1, dsa.setDigestAlgorithm(3, true));
  ASSERT_TRUE(dsa.setSignatureAlgorithm(dsaSha1, false, false));
  EXPECT_FALSE(dsa.getSignatureAlgorithm(out, false));
  ASSERT_TRUE(dsa.getSignatureAlgorithm(out, true));
  EXPECT_TRUE(out == dsaSha1);
  // A run-time algorithm with its digest.
  ASSERT_TRUE(cfg.setSignatureAlgorithm(ecdsa, true, true));
  ASSERT_TRUE(cfg.getSignatureAlgorithm(out, false));
  EXPECT_TRUE(out == ecdsa);
  EXPECT_EQ(1, cfg.getDigestAlgorithm(false, true));
  AlgorithmIdentifier rsaKey;  // names no digest
  ASSERT_TRUE(rsaKey.setRsaEncryption());
  EXPECT_FALSE(cfg.setSignatureAlgorithm(rsaKey, true, true));
}

TEST(ConfigurationAlgorithms, DefaultOfEachScheme) {
  const char* const expected[] = {"1.2.840.113549.1.1.5", "1.2.840.10040.4.3",
                                  "1.2.840.10045.4.1", "1.2.840.113549.1.1.10"};
  for (int32_t scheme = 0; scheme < 4; ++scheme) {
    AlgorithmIdentifier out;
    ASSERT_TRUE(cfgDefaultSignatureAlgorithm(scheme, out));
    EXPECT_EQ(expected[scheme], oidText(out));
  }
  AlgorithmIdentifier pss;
  ASSERT_TRUE(cfgDefaultSignatureAlgorithm(3, pss));
  // RSASSA-PSS with SHA-256, MGF1 with SHA-256, salt 32 (RFC 4055 encoding).
  std::vector<unsigned char> der;
  ASSERT_GT(pss.encodeVector(der), 0);
  const std::vector<unsigned char> rfc4055 = {
      0x30, 0x41, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0A, 0x30,
      0x34, 0xA0, 0x0F, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04,
      0x02, 0x01, 0x05, 0x00, 0xA1, 0x1C, 0x30, 0x1A, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
      0xF7, 0x0D, 0x01, 0x01, 0x08, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
      0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0xA2, 0x03, 0x02, 0x01, 0x20};
  EXPECT_EQ(rfc4055, der);
  for (int32_t scheme : {-1, 4}) {
    AlgorithmIdentifier out;
    EXPECT_FALSE(cfgDefaultSignatureAlgorithm(scheme, out)) << scheme;
  }
}

TEST(ConfigurationPolicies, AcceptablePolicies) {
  ConfigurationManager cfg;
  OidSet set;
  ASSERT_TRUE(cfg.getAcceptablePolicies(set));
  ASSERT_EQ(1, set.GetCount());
  EXPECT_TRUE(set.contains(anyPolicy));

  ASNsequenceList<PolicyIdAndNote> policies;
  for (const char* oid : {"1.2.616.1.113527.2.4.1.1", "1.2.616.1.113527.2.4.1.2"}) {
    PolicyIdAndNote* policy = new PolicyIdAndNote;
    policy->policyId = ASNobjectId(oid);
    ASSERT_EQ(1, policies.append(policy));
  }
  ASSERT_EQ(1, cfg.file().setAttribute(privateOid_2_5_1, policies));
  EXPECT_FALSE(cfg.getAcceptablePolicies(set));
  EXPECT_EQ(2, set.GetCount());
  EXPECT_TRUE(set.contains(ASNobjectId("1.2.616.1.113527.2.4.1.2")));

  // A list that does not read accepts nothing.
  ASNinteger notAList;
  ASSERT_EQ(1, cfg.file().setAttribute(privateOid_2_5_1, notAList));
  EXPECT_FALSE(cfg.getAcceptablePolicies(set));
  EXPECT_EQ(0, set.GetCount());
}

class FakeServers : public ServerDirectory {
 public:
  void findServers(int32_t kind, const char* issuer,
                   std::vector<std::string>& urls) const override {
    asked = issuer ? issuer : "(all)";
    if (kind == 1) urls = {"ldap://a", "ldap://b"};
  }
  mutable std::string asked;
};

TEST(ConfigurationServers, WalkOverTheServersOfAKind) {
  ConfigurationManager cfg;
  ServerSearch search;
  std::string url, second;
  EXPECT_EQ(31, cfg.findFirstServer(search, 1, nullptr, url)) << "no server database";
  FakeServers servers;
  cfg.setServerDirectory(&servers);
  ASSERT_EQ(0, cfg.findFirstServer(search, 1, nullptr, url));
  ASSERT_EQ(0, cfg.findNextServer(search, second));
  EXPECT_EQ("ldap://a ldap://b (all)", url + " " + second + " " + servers.asked);
  EXPECT_EQ(31, cfg.findNextServer(search, url));
  DistinguishedName issuer;
  ASSERT_TRUE(issuer.fromText("CN=Wystawca,C=PL", -1, 0x800));
  EXPECT_EQ(31, cfg.findFirstServer(search, 2, &issuer, url));
  EXPECT_NE(std::string::npos, servers.asked.find("Wystawca")) << servers.asked;
}

TEST(ConfigurationCopy, EverythingAndAClonedProfile) {
  ConfigurationManager cfg;
  EXPECT_NO_THROW(ConfigurationManager{cfg}) << "nothing held yet";
  TalProfile* p = makeProfile(TALPROFILE_PKCS12, "kopia");
  ASSERT_EQ(0, p->setAttribute(30, "abc", 3));
  ASSERT_EQ(0, cfg.setProfile(p));
  ASSERT_EQ(1, cfg.setOption(17, 45, false));
  ASSERT_EQ(1, cfg.setOption(99, 3, true));
  ASSERT_EQ(1, cfg.setDigestAlgorithm(4, true));

  ConfigurationManager copy(cfg);
  ASSERT_NE(nullptr, copy.activeProfile());
  EXPECT_NE(cfg.activeProfile(), copy.activeProfile());
  EXPECT_EQ(TALPROFILE_PKCS12, copy.activeProfile()->type());
  EXPECT_EQ("kopia", copy.profileName());
  EXPECT_EQ(45, copy.getIntOption(17));
  EXPECT_EQ(3, copy.getIntOption(99));
  EXPECT_EQ(4, copy.getDigestAlgorithm(false, true));
  char a[CFG_LOCK_NAME_SIZE], b[CFG_LOCK_NAME_SIZE];
  EXPECT_STREQ(cfg.getProfileLockName(a, 0), copy.getProfileLockName(b, 0));
  // Independent afterwards.
  ASSERT_EQ(1, copy.setOption(17, 10, false));
  EXPECT_EQ(45, cfg.getIntOption(17));
}

// The key manager over the configuration manager: the defaults written on initialisation, the
// settings stored as hexadecimal text that openssl reads as DER, and roots read back.
class ConfigurationWithKeys : public RegistrySandbox {};

TEST_F(ConfigurationWithKeys, SavedSettingsReadByOpenssl) {
  ConfigurationManager cfg;
  ASSERT_EQ(0, cfg.setProfile(makeProfile(TALPROFILE_MEMORY)));
  KeyManager km;
  ASSERT_EQ(KM_OK, km.init(&cfg));
  ASSERT_EQ(KM_OK, km.initProfile(1, 1));
  EXPECT_TRUE(km.flags & KM_FLAG_CONFIGURATION);
  EXPECT_EQ(30, cfg.getIntOption(17)) << "defaults written";
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/root-a.der", std::ios::binary);
  std::vector<uint8_t> rootDer((std::istreambuf_iterator<char>(in)), {});
  SignedCertificate rootCert;
  ASSERT_GT(rootCert.decodeVector(rootDer), 0);
  ASSERT_EQ(KM_OK, km.addCertificate(rootCert, 1, 1));
  ASSERT_EQ(1, cfg.setOption(17, 45, false));
  ASSERT_EQ(KM_OK, km.saveConf());

  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryStatus::Ok,
            key.open(platform::RegistryRoot::CurrentUser, KM_SETTINGS_KEY, false));
  uint32_t type = 0;
  std::vector<uint8_t> stored;
  ASSERT_EQ(platform::RegistryStatus::Ok, key.queryValue("TVSftCfg", type, stored));
  ASSERT_TRUE(!stored.empty() && stored.back() == 0);
  const std::string hexPath = root + "/settings.hex";
  std::ofstream(hexPath) << reinterpret_cast<const char*>(stored.data());
  // perl turns the hexadecimal text into octets, openssl reads them as DER.
  const std::string command = "perl -ne 'chomp; print pack(\"H*\", $_)' " + hexPath +
                              " > " + root + "/settings.der && openssl asn1parse -inform DER -in " +
                              root + "/settings.der 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(nullptr, p);
  std::string text;
  for (char buf[256]; std::fgets(buf, sizeof buf, p);) text += buf;
  ASSERT_EQ(0, ::pclose(p)) << text;
  for (const char* expected :
       {":" TAL_ENTERPRISE_ARC ".2.5.24", "INTEGER           :2D", ":" TAL_ENTERPRISE_ARC ".2.5.3",
        "ENUMERATED        :0D", ":" TAL_ENTERPRISE_ARC ".2.5.11", ":sha256WithRSAEncryption"})
    EXPECT_NE(std::string::npos, text.find(expected)) << expected << "\n" << text;

  // A second manager gets the saved settings with the stored root, once, also when asked to
  // read the roots again.
  ConfigurationManager cfg2;
  ASSERT_EQ(0, cfg2.setProfile(makeProfile(TALPROFILE_MEMORY)));
  KeyManager km2;
  ASSERT_EQ(KM_OK, km2.init(&cfg2));
  ASSERT_EQ(KM_OK, km2.initProfile(1, 1));
  EXPECT_EQ(45, cfg2.getIntOption(17));
  ASSERT_EQ(1, km2.rootList(true).GetCount());
  EXPECT_TRUE(km2.rootList(true).elementAt(0)->certificate == rootCert);
  EXPECT_EQ(0, km2.rootList(false).GetCount());
  ASSERT_EQ(KM_OK, km2.loadRoots(0));
  ASSERT_EQ(1, km2.rootList(true).GetCount());
  EXPECT_TRUE(km2.rootList(true).elementAt(0)->certificate == rootCert);
  // A stored list that does not decode changes nothing.
  ASNinteger notAList;
  ASSERT_EQ(1, cfg2.file().setAttribute(privateOid_2_5_8, notAList));
  EXPECT_EQ(KM_SETTINGS_FORMAT, km2.loadRoots(0));
  EXPECT_EQ(1, km2.rootList(true).GetCount());
}

// The roots a key manager holds, by group (second, then first), named by their files; every
// one of kind 1.
void expectRoots(const KeyManager& km, const std::vector<std::vector<const char*>>& expected) {
  for (bool qualified : {false, true}) {
    const RootList& roots = km.rootList(qualified);
    const auto& names = expected[qualified];
    ASSERT_EQ(static_cast<int>(names.size()), roots.GetCount()) << qualified;
    for (size_t i = 0; i < names.size(); ++i) {
      const SignedCertificateWithDesc* root = roots.elementAt(static_cast<int32_t>(i));
      EXPECT_TRUE(root->certificate == keyCertificate(names[i])) << names[i];
      EXPECT_EQ(1u, root->word()) << names[i];
      EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, root->certificate->verifySelfSigned());
    }
  }
}

// A memory profile's key manager, the stored settings loaded.
struct SettingsReader {
  ConfigurationManager cfg;
  KeyManager km;
  SettingsReader() {
    EXPECT_EQ(0, cfg.setProfile(makeProfile(TALPROFILE_MEMORY)));
    EXPECT_EQ(KM_OK, km.init(&cfg));
    EXPECT_EQ(KM_OK, km.initProfile(1, 1));
  }
};

// Three roots of the first group stored with their words (a kind-2 root stays out) and read
// back by another manager in their order.
TEST_F(ConfigurationWithKeys, RootsStoredWithTheirWordsReadBackInOrder) {
  {
    SettingsReader writer;
    for (const char* name : {"root-a.der", "root-c.der", "root-b.der"})
      ASSERT_EQ(KM_OK, writer.km.addCertificate(keyCertificate(name), 1, 1)) << name;
    ASSERT_EQ(KM_OK, writer.km.addCertificate(keyCertificate("root-c.der"), 1, 2));
    ASSERT_EQ(4, writer.km.rootList(true).GetCount());
    EXPECT_EQ(2u, writer.km.rootList(true).GetTail()->word());
    RootList stored;
    ASSERT_EQ(1, writer.cfg.file().getAttr11(stored));
    ASSERT_EQ(3, stored.GetCount());
    EXPECT_EQ(1u, stored.GetTail()->word());
    ASSERT_EQ(KM_OK, writer.km.saveConf());
  }
  SettingsReader reader;
  expectRoots(reader.km, {{}, {"root-a.der", "root-c.der", "root-b.der"}});
  ASSERT_EQ(KM_OK, reader.km.loadRoots(0));
  expectRoots(reader.km, {{}, {"root-a.der", "root-c.der", "root-b.der"}});
}

// A stored root that a later manager installs for its session before it reads the settings
// is trusted once, with the kind it was installed as.
TEST_F(ConfigurationWithKeys, AStoredRootInstalledForTheSessionIsTrustedOnce) {
  {
    SettingsReader writer;
    ASSERT_EQ(KM_OK, writer.km.addCertificate(keyCertificate("root-a.der"), 1, 1));
    ASSERT_EQ(KM_OK, writer.km.saveConf());
  }
  ConfigurationManager cfg;
  ASSERT_EQ(0, cfg.setProfile(makeProfile(TALPROFILE_MEMORY)));
  KeyManager km;
  ASSERT_EQ(KM_OK, km.init(&cfg));
  ASSERT_EQ(KM_OK, km.addCertificate(keyCertificate("root-a.der"), 1, 2));
  ASSERT_EQ(KM_OK, km.initProfile(1, 1));
  ASSERT_EQ(1, km.rootList(true).GetCount());
  EXPECT_EQ(2u, km.rootList(true).GetHead()->word());
  EXPECT_EQ(0, km.rootList(false).GetCount());
}

// Settings saved while the root lists were bare certificates
// (tests/data/keys/settings-before-descriptions.sh) still read: the roots come back in their
// stored order, in their groups, and are saved again with their words.
TEST_F(ConfigurationWithKeys, SettingsSavedBeforeDescriptionsRead) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/keys/settings-before-descriptions.hex");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  ASSERT_FALSE(text.empty());
  {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryStatus::Ok,
              key.create(platform::RegistryRoot::CurrentUser, KM_SETTINGS_KEY));
    ASSERT_EQ(platform::RegistryStatus::Ok,
              key.setValue(KM_SETTINGS_VALUE, platform::REGISTRY_SZ, text.c_str(), text.size() + 1));
  }
  const std::vector<std::vector<const char*>> expected = {{"root-c.der"},
                                                          {"root-b.der", "root-a.der"}};
  {
    SettingsReader old;
    expectRoots(old.km, expected);
    ASSERT_EQ(KM_OK, old.km.loadRoots(0));
    expectRoots(old.km, expected);
    // A root installed now stores both lists again, with their words, and goes last.
    ASSERT_EQ(KM_OK, old.km.addCertificate(keyCertificate("../pki/certs/rsa_ca.der"), 0, 1));
    ASSERT_EQ(KM_OK, old.km.saveConf());
  }
  SettingsReader reader;
  RootList stored;
  ASSERT_EQ(1, reader.cfg.file().getAttr11(stored));
  EXPECT_EQ(2, stored.GetCount());
  ASSERT_EQ(KM_OK, reader.km.loadRoots(0));
  expectRoots(reader.km, {{"root-c.der", "../pki/certs/rsa_ca.der"}, expected[1]});
}

}  // namespace
