// Path building over chains made with openssl (tests/data/store/paths/gen.sh):
// the path each set should give, the report texts, and crafted sets (loops,
// mutual cross-certification, long self-issued chains) that must end with
// "no path" in bounded time.
#include "store/pathbuild.h"

#include "asn1/asnbitst.h"
#include "base/memfile.h"
#include "base/reportstream.h"
#include "base/workaccount.h"
#include "pki/common/oids.h"
#include "pki/x509/cert.h"
#include "pki/x509/x509ext.h"
#include "store/certmgr.h"
#include "store/crtstore.h"
#include "store/fakecrtdb.h"
#include "derbytes.h"
#include "threadtime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes readFile(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/store/paths/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::shared_ptr<SignedCertificate> load(const std::string& name) {
  Bytes der = readFile(name);
  auto c = std::make_shared<SignedCertificate>();
  EXPECT_EQ(static_cast<int>(der.size()), c->decodeVector(der)) << name;
  return c;
}

struct Env : PathBuildEnvironment {
  std::vector<std::shared_ptr<SignedCertificate>> roots[2];  // [1] qualified
  std::vector<std::shared_ptr<SignedCertificate>> lists[5];  // trusted-list kinds 1..4
  std::vector<std::shared_ptr<SignedCertificate>> network;
  bool option37 = false;
  bool networkOn = false;
  int remembered = 0, queries = 0;

  bool endCertificateOnly() override { return option37; }
  void trustedListPoints(int kind, std::vector<const SignedCertificate*>& out) override {
    for (auto& c : lists[kind]) out.push_back(c.get());
  }
  void rootList(bool qualified, std::vector<const SignedCertificate*>& out) override {
    for (auto& c : roots[qualified ? 1 : 0]) out.push_back(c.get());
  }
  bool canQueryCertificates(const DistinguishedName&) override { return networkOn; }
  int queryCertificateById(const DistinguishedName& issuer, const ASNinteger& serial,
                           CertificateList& out) override {
    ++queries;
    for (auto& c : network)
      if (c->tbsCertificate.issuer == issuer && c->tbsCertificate.serialNumber.equals(serial))
        out.append(new SignedCertificate(*c));
    return networkOn ? 0 : 1;
  }
  int queryCertificatesByDn(const DistinguishedName& dn, CertificateList& out) override {
    ++queries;
    if (!networkOn) return 1;
    for (auto& c : network)
      if (c->tbsCertificate.subject == dn) out.append(new SignedCertificate(*c));
    return 0;
  }
  void rememberCertificate(const SignedCertificate&) override { ++remembered; }
  std::vector<std::shared_ptr<SignedCertificate>> learned;  // left by earlier documents
  bool learnedEarlier(const SignedCertificate& c) override {
    for (auto& l : learned)
      if (*l == c) return true;
    return false;
  }
};

struct Fixture {
  FakeDb db;
  CertificateManager mgr;
  LCertificateStore store;
  LCertificateStore kept;  // the context's record, after the database
  Env env;
  MemFile text;
  ReportStream report{&text};
  PathBuilder builder{mgr, env, report};
  std::map<std::string, std::shared_ptr<SignedCertificate>> certs;

  Fixture() {
    mgr.setContext(&db);
    mgr.addTemporaryStore(&store);
    mgr.addPermanentStore(&kept);
  }
  std::shared_ptr<SignedCertificate> get(const std::string& name) {
    auto& c = certs[name];
    if (!c) c = load(name + ".der");
    return c;
  }
  // Into the temporary store, in the order given.
  void inStore(std::initializer_list<const char*> names) {
    for (const char* n : names) store.addCertificate(get(n).get());
  }
  void root(const char* name, bool qualified = false) {
    env.roots[qualified ? 1 : 0].push_back(get(name));
  }
  std::vector<std::string> namesOf(const CertificatePath& path) {
    std::vector<std::string> out;
    for (POSITION p = path.GetHeadPosition(); p;) {
      const CertificateItem* item = path.GetNext(p);
      std::string name = "?";
      for (auto& kv : certs)
        if (kv.second && *kv.second == item->certificate) name = kv.first;
      out.push_back(name);
    }
    return out;
  }
  std::string reportText() {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
  }
};

using Names = std::vector<std::string>;

// Each chain with its trust point installed and the rest in a store: the
// path the builder must give.
TEST(PathBuild, ChainsMadeByOpensslGiveTheirPaths) {
  struct Row {
    const char* dir;
    bool qualified;
  } rows[] = {{"rsa", false}, {"p256", true}, {"b283", false}, {"akiser", true}, {"akikey", false}};
  for (const Row& r : rows) {
    Fixture fx;
    const std::string d = std::string(r.dir) + "/";
    // The store holds the root too, and an unrelated chain's CA first.
    fx.inStore({"rsa/int1"});
    for (const char* n : {"root", "int1", "int2"}) fx.inStore({(d + n).c_str()});
    fx.root((d + "root").c_str(), r.qualified);
    CertificatePath path;
    EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(path, *fx.get(d + "ee"),
                                                             PATH_PURPOSE_SIGNER, false))
        << r.dir;
    EXPECT_EQ((Names{d + "ee", d + "int2", d + "int1", d + "root"}), fx.namesOf(path)) << r.dir;
    EXPECT_EQ(r.qualified ? 1 : 0, path.qualifiedRoot) << r.dir;
  }
}

// A path begun at a certificate given by reference: an item of another path
// (held read-only, as an OCSP responder's path begins at the issuer) is
// shared; a plain certificate is copied.
TEST(PathBuild, StartCertificateHeldReadOnlyIsShared) {
  Fixture fx;
  for (const char* n : {"int1", "int2"}) fx.inStore({(std::string("rsa/") + n).c_str()});
  fx.root("rsa/root");
  CertificatePath path;
  ASSERT_EQ(PATH_BUILT,
            fx.builder.buildPathForCertificate(path, *fx.get("rsa/ee"), PATH_PURPOSE_SIGNER, false));
  const SharedCertificate& issuer = path.elementAt(1)->certificate;
  CertificatePath fromItem, fromPlain;
  ASSERT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(fromItem, issuer.get(),
                                                           PATH_PURPOSE_OCSP, false));
  EXPECT_TRUE(fromItem.elementAt(0)->certificate.sharesBodyWith(issuer));
  const SignedCertificate plain = issuer.get();
  ASSERT_EQ(PATH_BUILT,
            fx.builder.buildPathForCertificate(fromPlain, plain, PATH_PURPOSE_OCSP, false));
  EXPECT_NE(&fromPlain.elementAt(0)->certificate.get(), &plain);
  EXPECT_EQ((Names{"rsa/int2", "rsa/int1", "rsa/root"}), fx.namesOf(fromItem));
  EXPECT_EQ((Names{"rsa/int2", "rsa/int1", "rsa/root"}), fx.namesOf(fromPlain));
}

// The only CA of the right name has a key that may not sign certificates
// (openssl's chain, which openssl rejects too): no path.
TEST(PathBuild, IssuerKeyMustSignCertificates) {
  Fixture fx;
  fx.inStore({"kusage/int"});
  fx.root("kusage/root");
  CertificatePath path;
  EXPECT_EQ(PATH_NOT_FOUND, fx.builder.buildPathForCertificate(path, *fx.get("kusage/ee"),
                                                               PATH_PURPOSE_SIGNER, true));
}

TEST(PathBuild, TrustPointSourcesInOrder) {
  // The same root in several sources: the first source in the order decides
  // qualifiedRoot; kinds 3 and 4 count only for their purposes.
  struct Row {
    std::vector<int> kinds;  // trusted-list kinds holding the root; 5 qualified list, 6 other
    int32_t purpose;
    int result;
    int qualified;
  } rows[] = {
      {{1, 6}, PATH_PURPOSE_SIGNER, PATH_BUILT, 0},
      {{2, 1}, PATH_PURPOSE_SIGNER, PATH_BUILT, 1},
      {{5, 6}, PATH_PURPOSE_SIGNER, PATH_BUILT, 1},
      {{6}, PATH_PURPOSE_SIGNER, PATH_BUILT, 0},
      {{3, 6}, PATH_PURPOSE_TSA, PATH_BUILT, 1},
      {{3}, PATH_PURPOSE_SIGNER, PATH_NOT_FOUND, 0},
      {{4, 6}, PATH_PURPOSE_OCSP, PATH_BUILT, 1},
      {{4, 6}, PATH_PURPOSE_OCSP_OTHER, PATH_BUILT, 1},
      {{4}, PATH_PURPOSE_CRL_ISSUER, PATH_NOT_FOUND, 0},
      {{4}, PATH_PURPOSE_TSA, PATH_NOT_FOUND, 0},
  };
  for (const Row& r : rows) {
    Fixture fx;
    fx.inStore({"p256/int1", "p256/int2"});
    for (int k : r.kinds) {
      if (k <= 4) fx.env.lists[k].push_back(fx.get("p256/root"));
      else fx.root("p256/root", k == 5);
    }
    CertificatePath path;
    EXPECT_EQ(r.result, fx.builder.buildPathForCertificate(path, *fx.get("p256/ee"), r.purpose, true))
        << r.kinds[0] << " " << r.purpose;
    EXPECT_EQ(r.qualified, path.qualifiedRoot) << r.kinds[0] << " " << r.purpose;
  }
}

TEST(PathBuild, SelfSignedEndCertificate) {
  Fixture fx;
  fx.root("rsa/root", true);
  CertificatePath path;
  EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(path, *fx.get("rsa/root"), 4, true));
  EXPECT_EQ(Names{"rsa/root"}, fx.namesOf(path));
  EXPECT_EQ(1, path.qualifiedRoot);
  // Not installed: searched like any other, and nothing is found.
  CertificatePath none;
  EXPECT_EQ(PATH_NOT_FOUND,
            fx.builder.buildPathForCertificate(none, *fx.get("p256/root"), 4, true));
}

TEST(PathBuild, TwoIssuersOfOneName) {
  Fixture fx;
  fx.inStore({"twins/twinA", "twins/twinB"});
  fx.root("twins/root");
  // With a key identifier, twinA (listed first) is passed over.
  CertificatePath path;
  EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(path, *fx.get("twins/ee"), 4, true));
  EXPECT_EQ((Names{"twins/ee", "twins/twinB", "twins/root"}), fx.namesOf(path));
  // Without one, the first candidate's signature does not match: 1.
  CertificatePath noAki;
  EXPECT_EQ(PATH_SIGNATURE_MISMATCH,
            fx.builder.buildPathForCertificate(noAki, *fx.get("twins/ee-noaki"), 4, true));
}

TEST(PathBuild, CrossCertifiedRoots) {
  Fixture fx;
  // The self-signed root B is met first: never accepted as an issuer by
  // itself, so the path goes through the cross-certificate to root A.
  fx.inStore({"cross/rootB", "cross/crossB", "cross/int"});
  fx.root("cross/rootA");
  CertificatePath path;
  EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(path, *fx.get("cross/ee"), 4, true));
  EXPECT_EQ((Names{"cross/ee", "cross/int", "cross/crossB", "cross/rootA"}), fx.namesOf(path));
}

TEST(PathBuild, LoopsEndWithNoPath) {
  // Mutual cross-certification, and a self-signed root reached as an
  // issuer, with no trust point: 10, each candidate tried a bounded number of times.
  Fixture fx;
  fx.inStore({"cross/crossA", "cross/crossB", "cross/rootA", "cross/rootB", "cross/int"});
  CertificatePath path;
  EXPECT_EQ(PATH_NOT_FOUND, fx.builder.buildPathForCertificate(path, *fx.get("cross/ee"), 4, true));
}

TEST(PathBuild, PathLengthIsBounded) {
  // c1 <- c2 <- ... <- c40 <- root, all "CN=Self CA": from c_i the path holds
  // 41 - i + 1 certificates; at most 32 are allowed.
  Fixture fx;
  for (int i = 40; i >= 1; --i) fx.inStore({("selfchain/c" + std::to_string(i)).c_str()});
  fx.root("selfchain/root");
  struct Row {
    int start;
    int result;
  } rows[] = {{40, PATH_BUILT}, {10, PATH_BUILT}, {9, PATH_NOT_FOUND}, {1, PATH_NOT_FOUND}};
  for (const Row& r : rows) {
    CertificatePath path;
    auto c = fx.get("selfchain/c" + std::to_string(r.start));
    EXPECT_EQ(r.result, fx.builder.buildPathForCertificate(path, *c, 4, true)) << r.start;
    if (r.result == PATH_BUILT) { EXPECT_EQ(42 - r.start, path.GetCount()) << r.start; }
  }
}

TEST(PathBuild, TenThousandSelfIssuedEndInBoundedTime) {
  Fixture fx;
  const Bytes all = readFile("flood.der");
  std::vector<std::unique_ptr<SignedCertificate>> flood;
  for (size_t at = 0; at < all.size();) {
    auto c = std::make_unique<SignedCertificate>();
    const int n = c->decodeBuffer(all.data() + at, static_cast<int>(all.size() - at));
    ASSERT_GT(n, 0);
    at += static_cast<size_t>(n);
    fx.store.addCertificate(c.get());
    flood.push_back(std::move(c));
  }
  ASSERT_EQ(10000u, flood.size());
  // This thread's processor time, which a busy machine does not stretch.
  const double start = threadSeconds();
  CertificatePath path;
  EXPECT_EQ(PATH_NOT_FOUND, fx.builder.buildPathForCertificate(path, *flood[0], 4, true));
  EXPECT_LT(threadSeconds() - start, 60.0);
}

// However many candidates a crafted set offers, a build makes at most 100
// signature checks, each paid to the thread's work account before it runs:
// 150 CA certificates of the issuer's name whose key the library refuses (an
// RSA modulus of 4,096 bits with a 65-bit exponent: "unusable", so the search
// goes on to the next) are tried 100 times.
TEST(PathBuild, AHundredSignatureChecksAtMost) {
  Fixture fx;
  // SubjectPublicKeyInfo of rsaEncryption over a 4,096-bit modulus and a 65-bit exponent.
  Bytes modulus(513, 0x5B), exponent(10, 0x01);
  modulus[0] = 0;
  modulus[1] = 0xC1;
  exponent[0] = 0;
  exponent[1] = 0x81;
  using derbytes::cat;
  using derbytes::tlv;
  const Bytes spki = tlv(
      0x30, cat({tlv(0x30, cat({tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01}),
                                {0x05, 0x00}})),
                 tlv(0x03, cat({Bytes{0}, tlv(0x30, cat({tlv(0x02, modulus), tlv(0x02, exponent)}))}))}));
  SubPubKeyInfo refused;
  ASSERT_EQ(static_cast<int>(spki.size()), refused.decodeVector(spki));
  ASSERT_TRUE(refused.rsaExponentRefused());
  std::vector<std::unique_ptr<SignedCertificate>> impostors;
  for (uint32_t i = 0; i < 150; ++i) {
    auto c = std::make_unique<SignedCertificate>(*fx.get("twins/twinA"));
    c->tbsCertificate.serialNumber.set(1000 + i);
    c->tbsCertificate.subjectPublicKeyInfo = refused;
    fx.store.addCertificate(c.get());
    impostors.push_back(std::move(c));
  }
  const auto ee = fx.get("twins/ee-noaki");
  // Two units an octet of the signed part's digest.
  const uint64_t digest = 2 * static_cast<uint64_t>(ee->tbsCertificate.encodedLength());
  // Without a key identifier the end certificate is first checked as its own issuer.
  const uint64_t selfCheck = ee->tbsCertificate.subjectPublicKeyInfo.verificationPrice() + digest;
  const uint64_t check = refused.verificationPrice() + digest;
  WorkAccount account(UINT64_MAX, std::chrono::hours(24));
  CertificatePath path;
  {
    WorkAccountScope scope(&account);
    EXPECT_EQ(PATH_NOT_FOUND, fx.builder.buildPathForCertificate(path, *ee, 4, true));
  }
  // The figure trusted verifiers share: 100 checks, the first of them the
  // self-check, and less than one more for the names compared and the
  // candidates walked.
  ASSERT_GE(account.spentUnits(), selfCheck);
  EXPECT_EQ((account.spentUnits() - selfCheck) / check, uint64_t(99));
}

TEST(PathBuild, RejectionsAndOptions) {
  Fixture fx;
  fx.root("rsa/root");
  // The issuer is in no store: no path.
  fx.inStore({"rsa/int1"});
  CertificatePath missing;
  EXPECT_EQ(PATH_NOT_FOUND, fx.builder.buildPathForCertificate(missing, *fx.get("rsa/ee"), 4, true));
  // Option 37: every build ends at once with the end certificate.
  fx.env.option37 = true;
  CertificatePath one;
  EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(one, *fx.get("rsa/ee"), 4, true));
  EXPECT_EQ(Names{"rsa/ee"}, fx.namesOf(one));
  // Temporary stores only: the database copy of int2 is not seen, the network not asked.
  fx.env.option37 = false;
  fx.env.networkOn = true;
  EXPECT_EQ(0, fx.mgr.importCertificate(*fx.get("rsa/int2")));
  CertificatePath temp;
  EXPECT_EQ(PATH_NOT_FOUND, fx.builder.buildPathForCertificate(temp, *fx.get("rsa/ee"), 4, true));
  EXPECT_EQ(0, fx.env.queries);
  CertificatePath all;
  EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(all, *fx.get("rsa/ee"), 4, false));
  EXPECT_EQ((Names{"rsa/ee", "rsa/int2", "rsa/int1", "rsa/root"}), fx.namesOf(all));
}

TEST(PathBuild, NetworkCandidatesAreRemembered) {
  Fixture fx;
  fx.env.networkOn = true;
  fx.env.network = {fx.get("p256/int2"), fx.get("p256/int1")};
  fx.root("p256/root");
  CertificatePath path;
  EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(path, *fx.get("p256/ee"), 4, false));
  EXPECT_EQ((Names{"p256/ee", "p256/int2", "p256/int1", "p256/root"}), fx.namesOf(path));
  EXPECT_EQ(2, fx.env.remembered);
}

// A candidate known only from what earlier documents left whose signature
// check fails decides nothing: the next candidate, or the network, still
// builds. From any other source (the document, the network) it ends the search.
TEST(PathBuild, LearnedLookAlikeDecidesNothing) {
  const struct {
    const char* what;
    std::vector<const char*> document, kept, network;
    bool learned;  // twinA counts as left by an earlier document
    int result, queries;
  } rows[] = {
      {"next kept candidate", {}, {"twins/twinA", "twins/twinB"}, {}, true, PATH_BUILT, 0},
      {"from the network", {}, {"twins/twinA"}, {"twins/twinB"}, true, PATH_BUILT, 1},
      {"not learned", {}, {"twins/twinA"}, {"twins/twinB"}, false, PATH_SIGNATURE_MISMATCH, 0},
      {"the document carries it", {"twins/twinA"}, {"twins/twinA"}, {"twins/twinB"}, true,
       PATH_SIGNATURE_MISMATCH, 0},
      {"fetched now", {}, {}, {"twins/twinA", "twins/twinB"}, true, PATH_SIGNATURE_MISMATCH, 1},
  };
  for (const auto& row : rows) {
    Fixture fx;
    for (const char* n : row.document) fx.store.addCertificate(fx.get(n).get());
    for (const char* n : row.kept) fx.kept.addCertificate(fx.get(n).get());
    for (const char* n : row.network) fx.env.network.push_back(fx.get(n));
    fx.env.networkOn = true;
    if (row.learned) fx.env.learned = {fx.get("twins/twinA")};
    fx.root("twins/root");
    CertificatePath path;
    EXPECT_EQ(row.result,
              fx.builder.buildPathForCertificate(path, *fx.get("twins/ee-noaki"), 4, false))
        << row.what;
    if (row.result == PATH_BUILT)
      EXPECT_EQ((Names{"twins/ee-noaki", "twins/twinB", "twins/root"}), fx.namesOf(path))
          << row.what;
    EXPECT_EQ(row.queries, fx.env.queries) << row.what;
  }
}

// Issuers found in the database are the bodies its cache keeps, so a second
// build holds the very certificates (keys prepared) of the first; the end
// certificate handed over shared is held, not copied; both paths stay whole
// after the database's records change.
TEST(PathBuild, DatabaseIssuersAreSharedBetweenBuilds) {
  Fixture fx;
  for (const char* n : {"rsa/int1", "rsa/int2"}) ASSERT_EQ(0, fx.mgr.importCertificate(*fx.get(n)));
  fx.root("rsa/root");
  SharedCertificate ee;
  ee = *fx.get("rsa/ee");
  CertificatePath first, second;
  ASSERT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(first, ee, PATH_PURPOSE_SIGNER, false));
  ASSERT_EQ(PATH_BUILT, fx.builder.buildPathForCertificate(second, ee, PATH_PURPOSE_SIGNER, false));
  const Names names{"rsa/ee", "rsa/int2", "rsa/int1", "rsa/root"};
  ASSERT_EQ(names, fx.namesOf(first));
  ASSERT_EQ(names, fx.namesOf(second));
  EXPECT_TRUE(first.elementAt(0)->certificate.sharesBodyWith(ee));
  EXPECT_TRUE(second.elementAt(0)->certificate.sharesBodyWith(ee));
  for (int i : {1, 2})
    EXPECT_TRUE(first.elementAt(i)->certificate.sharesBodyWith(second.elementAt(i)->certificate))
        << i;
  for (DbBytes& record : fx.db.records) record.clear();
  CertificatePath none;
  EXPECT_EQ(PATH_NOT_FOUND,
            fx.builder.buildPathForCertificate(none, ee, PATH_PURPOSE_SIGNER, false));
  EXPECT_EQ(names, fx.namesOf(first));
  EXPECT_EQ(SignedCertificate::CERT_SIG_VALID,
            first.elementAt(0)->certificate->verifySignature(first.elementAt(1)->certificate));
}

// Several threads build paths at once through one manager whose database
// hands every thread the same cached issuer bodies (and the same root): the
// keys those bodies prepare lazily, the reads of the bodies and the cache
// itself are shared (built with -fsanitize=thread, a race is reported). The
// database double serialises its own calls, as a real database does.
TEST(PathBuild, ThreadsBuildThroughOneStore) {
  struct LockedDb : FakeDb {
    std::mutex lock;
    DbCrtBase* certificateDb() override {
      std::lock_guard<std::mutex> hold(lock);
      return FakeDb::certificateDb();
    }
    void findBySbjDnHash(DbCertList& l, const DbHash& h) override {
      std::lock_guard<std::mutex> hold(lock);
      FakeDb::findBySbjDnHash(l, h);
    }
  } db;
  CertificateManager mgr;
  mgr.setContext(&db);
  Env env;
  std::map<std::string, std::shared_ptr<SignedCertificate>> certs;
  for (const char* chain : {"rsa", "p256"}) {
    const std::string c(chain);
    for (const char* n : {"/int1", "/int2", "/ee", "/root"}) certs[c + n] = load(c + n + ".der");
    for (const char* n : {"/int1", "/int2"}) ASSERT_EQ(0, mgr.importCertificate(*certs[c + n]));
    env.roots[0].push_back(certs[c + "/root"]);
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      MemFile text;
      ReportStream report(&text);
      PathBuilder builder(mgr, env, report);
      for (int i = 0; i < 12; ++i) {
        const std::string chain = (t + i) % 2 ? "rsa" : "p256";
        SharedCertificate ee;
        ee = *certs[chain + "/ee"];
        CertificatePath path;
        if (builder.buildPathForCertificate(path, ee, PATH_PURPOSE_SIGNER, false) != PATH_BUILT ||
            path.GetCount() != 4) {
          ++wrong;
          continue;
        }
        const CertificatePath copy(path);
        for (int k = 0; k < 3; ++k)
          if (copy.elementAt(k)->certificate->verifySignature(copy.elementAt(k + 1)->certificate) !=
              SignedCertificate::CERT_SIG_VALID)
            ++wrong;
        if (!(copy.elementAt(3)->certificate == *certs[chain + "/root"])) ++wrong;
      }
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(0, wrong.load());
}

// The openssl text of an AKI key identifier ("keyid:AB:CD..." or "AB:CD...") in the report's form.
std::string keyIdText(const char* file) {
  Bytes t = readFile(file);
  std::string s(t.begin(), t.end());
  if (s.rfind("keyid:", 0) == 0) s = s.substr(6);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  for (char& ch : s)
    if (ch == ':') ch = ' ';
  return s;
}

TEST(PathBuild, IssuerSerialAndKeyIdEntriesAndTheirTexts) {
  Fixture fx;
  fx.inStore({"twins/twinA", "twins/twinB"});
  fx.root("twins/root");
  const SignedCertificate& ee = *fx.get("twins/ee");
  // By issuer and serial: the end certificate is found in the store.
  CertificatePath path;
  bool found = false;
  fx.inStore({"twins/ee"});
  EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForIssuerSerial(path, ee.tbsCertificate.issuer,
                                                            ee.tbsCertificate.serialNumber, 4,
                                                            true, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(3, path.GetCount());
  std::string r = fx.reportText();
  EXPECT_EQ(0u, r.find("Budowanie ścieżki dla zadanego identyfikatora wyróżniającego wystawcy "
                       "oraz numeru seryjnego.\r\nCA_DN: "));
  EXPECT_NE(std::string::npos, r.find("\r\nSER_NUM: 23 (HEX: 0017)\r\n"
                                      "Szukany certyfikat znaleziony w lokalnej bazie danych.\r\nCRT: "));
  EXPECT_NE(std::string::npos, r.find("Certyfikat został zweryfikowany przez punkt zaufania:\r\n"));

  // By key identifier: both twins are candidates, twinB matches.
  fx.text.clear();
  AuthorityKeyIdentifier akid;
  ASSERT_EQ(1, getExtensionValue(*ee.tbsCertificate.extensions, id_ce_authorityKeyIdentifier, akid));
  CertificatePath byKey;
  found = false;
  EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForIssuerKeyId(byKey, ee.tbsCertificate.issuer, akid,
                                                           4, true, found));
  EXPECT_TRUE(found);
  EXPECT_EQ((Names{"twins/twinB", "twins/root"}), fx.namesOf(byKey));
  r = fx.reportText();
  EXPECT_EQ(0u, r.find("Budowanie ścieżki dla zadanego identyfikatora wyróżniającego wystawcy "
                       "oraz identyfikatora klucza.\r\nCA_DN: "));
  EXPECT_NE(std::string::npos, r.find("\r\nKEY_ID: " + keyIdText("keyid-twins.txt") +
                                      "\r\nISSUER_CRT_SER_NUM: 22 (HEX: 0016)\r\n"
                                      "Znaleziono 2 certyfikatów w lokalnej bazie danych\r\n"
                                      "Budowa ścieżki dla certyfikatu:\r\n"));

  // Nothing in the stores, temporary only: the text and 10.
  fx.text.clear();
  CertificatePath none;
  EXPECT_EQ(PATH_NOT_FOUND, fx.builder.buildPathForIssuerKeyId(
                                none, fx.get("rsa/ee")->tbsCertificate.issuer, akid, 4, true, found));
  EXPECT_FALSE(found);
  EXPECT_NE(std::string::npos,
            fx.reportText().find("Lokalna baza danych nie zawiera szukanego certyfikatu.\r\n"));
}

TEST(PathBuild, IssuerSerialFromTheNetwork) {
  Fixture fx;
  fx.inStore({"rsa/int1", "rsa/int2"});
  fx.root("rsa/root");
  fx.env.networkOn = true;
  fx.env.network = {fx.get("rsa/ee")};
  const SignedCertificate& ee = *fx.get("rsa/ee");
  CertificatePath path;
  bool found = false;
  EXPECT_EQ(PATH_BUILT, fx.builder.buildPathForIssuerSerial(path, ee.tbsCertificate.issuer,
                                                            ee.tbsCertificate.serialNumber, 4,
                                                            false, found));
  EXPECT_TRUE(found);
  EXPECT_EQ(1, fx.env.remembered);
  EXPECT_NE(std::string::npos,
            fx.reportText().find("Lokalna baza danych nie zawiera szukanego certyfikatu.\r\n"
                                 "Pobieram certyfikat z sieci:\r\n\tCertyfikat poprawnie pobrany.\r\n"));
  // Nothing on the server.
  fx.env.network.clear();
  fx.text.clear();
  CertificatePath none;
  EXPECT_EQ(PATH_NOT_FOUND, fx.builder.buildPathForIssuerSerial(none, ee.tbsCertificate.issuer,
                                                                ee.tbsCertificate.serialNumber, 4,
                                                                false, found));
  EXPECT_FALSE(found);
  EXPECT_NE(std::string::npos,
            fx.reportText().find("\tNieznaleziono certyfikatu na serwerze sieciowym\r\n"));
}

TEST(PathBuild, SignatureCodesAndSubPathMove) {
  // Every verify result has one reading, the same as path verification's
  // table (an unreadable value is a mismatch, an empty one a check that could
  // not be made); the move carries both path fields.
  ASNbitstr some, none;
  const uint8_t bits[] = {0x5A};
  some.set(bits, 1, 0);
  const struct {
    int code;
    const ASNbitstr* signature;
    CertSignature outcome;
  } rows[] = {
      {SignedCertificate::CERT_SIG_VALID, &some, CertSignature::Verified},
      {SignedCertificate::CERT_SIG_INVALID, &some, CertSignature::Mismatch},
      {SignedCertificate::CERT_SIG_MALFORMED, &some, CertSignature::Mismatch},
      {SignedCertificate::CERT_SIG_INVALID, &none, CertSignature::Unusable},
      {SignedCertificate::CERT_SIG_KEY_MISMATCH, &some, CertSignature::Unusable},
      {SignedCertificate::CERT_SIG_KEY_UNUSABLE, &some, CertSignature::Unusable},
      {SignedCertificate::CERT_SIG_UNSUPPORTED, &some, CertSignature::Unusable},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(r.outcome, certSignatureOutcome(r.code, *r.signature)) << r.code;
    const int answer = certificateSignatureAnswer(r.code, *r.signature);
    EXPECT_EQ(r.outcome == CertSignature::Verified, answer == CERT_ANSWER_VERIFIES) << r.code;
    EXPECT_EQ(r.outcome == CertSignature::Mismatch, answer == CERT_ANSWER_DOES_NOT_VERIFY) << r.code;
  }
  CertificatePath path, sub;
  auto* item = new CertificateItem();
  ASSERT_EQ(1, sub.append(item));
  sub.qualifiedRoot = 1;
  sub.policyResult = 2;
  moveSubPath(path, sub);
  EXPECT_EQ(1, path.GetCount());
  EXPECT_EQ(0, sub.GetCount());
  EXPECT_EQ(1, path.qualifiedRoot);
  EXPECT_EQ(2u, path.policyResult);
}

}  // namespace
