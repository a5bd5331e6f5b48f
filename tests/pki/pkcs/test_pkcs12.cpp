// PKCS#12 files written by openssl pkcs12 -export (tests/data/pki/pkcs/
// make.sh) and by pyca/cryptography (tests/data/pki/pkcs12/) read with
// their passwords; the MAC checked before anything is decrypted (a wrong
// password or a changed file gives 0); refused algorithms and forms; the
// iteration budget of one reading; files built here read back and accepted
// by openssl pkcs12 -info.
#include "pki/test_cms_support.h"
#include "pki/test_pkcs_support.h"

#include "crypto/sym/lvmac.h"
#include "pki/keys/ecprvkey.h"
#include "pki/common/oids.h"
#include "pki/pkcs/pfx.h"
#include "pki/keys/rsaprkey.h"
#include "pki/x509/crl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using cmstest::Bytes;
using cmstest::decodeBytes;
using cmstest::encodeOf;

using pkcstest::bmp;

struct Read {
  int result = 99;
  TypedPointerList<PrivateKeyInfo> keys;
  TypedPointerList<SignedCertificate> certs;
  TypedPointerList<SafeBag> bags;
  PointerList keyAttributes;
  ~Read() {
    for (POSITION p = keyAttributes.GetHeadPosition(); p;)
      delete static_cast<TypedPointerList<Attribute>*>(keyAttributes.GetNext(p));
  }
};

void readPfx(const Bytes& der, const Bytes& password, Read& out) {
  Pfx pfx;
  ASSERT_EQ(decodeBytes(pfx, der), static_cast<int>(der.size()));
  out.keys.owns = out.certs.owns = out.bags.owns = true;
  out.result = pfx.parsePfx(out.keys, out.certs, out.bags, password.data(),
                            static_cast<int>(password.size()), &out.keyAttributes);
}

struct Vector {
  const char* file;
  const char* password;  // null: the empty BMPString (its terminator alone)
  int result;
  int keys;
  int certs;
};

TEST(Pkcs12Read, FilesWrittenElsewhere) {
  const Vector vectors[] = {
      {"pkcs/rsa_3des.p12", "vorin-test", 1, 1, 1},
      {"pkcs/rsa_legacy.p12", "vorin-test", 1, 1, 1},
      {"pkcs12/cert-rc2-key-3des.p12", "cryptography", 1, 1, 1},
      {"pkcs12/name-2-pwd.p12", "password", 1, 1, 3},
      // Written with no password octets at all (not even the terminator),
      // which the derivation never takes: a wrong password.
      {"pkcs12/no-password.p12", nullptr, 0, 0, 0},
      // PBES2 safes and a SHA-256 MAC (openssl 3's defaults).
      {"pkcs12/cert-aes256cbc-no-key.p12", "cryptography", 1, 0, 1},
      {"pkcs/rsa_aes.p12", "vorin-test", 1, 1, 1},
      // A plain keyBag in an id-data safe; its certificate was read first.
      {"pkcs12/cert-none-key-none.p12", "cryptography", -1, 0, 1},
  };
  for (const Vector& v : vectors) {
    Read r;
    readPfx(cmstest::readData(v.file), v.password ? bmp(v.password) : Bytes{0, 0}, r);
    EXPECT_EQ(r.result, v.result) << v.file;
    EXPECT_EQ(r.keys.GetCount(), v.keys) << v.file;
    EXPECT_EQ(r.certs.GetCount(), v.certs) << v.file;
  }
  // openssl's key is the one openssl pkcs8 wrote; its name came along. So under PBES2.
  for (const char* file : {"pkcs/rsa_3des.p12", "pkcs/rsa_aes.p12"}) {
    Read r;
    readPfx(cmstest::readData(file), bmp("vorin-test"), r);
    ASSERT_EQ(r.keys.GetCount(), 1) << file;
    EXPECT_EQ(encodeOf(*r.keys.GetHead()), cmstest::readData("pkcs/rsa_p8.der")) << file;
    EXPECT_EQ(encodeOf(*r.certs.GetHead()), cmstest::readData("pkcs/cert.der")) << file;
    ASSERT_EQ(r.keyAttributes.GetCount(), 1) << file;
    if (std::string(file) != "pkcs/rsa_3des.p12") continue;  // the other has no name
    auto* attrs = static_cast<TypedPointerList<Attribute>*>(r.keyAttributes.GetHead());
    EXPECT_NE(findAttribute(*attrs, pkcs_9_at_friendlyName), nullptr) << file;
  }
}

// Certificates signed over a TBS that is not DER (tests/data/pki/certs/
// gen_nonder_bags.sh: openssl carries their octets unchanged) read from
// certificate bags: each keeps its octets and verifies under its issuer.
TEST(Pkcs12Read, CertificatesSignedOverNonDerVerifyAsCarried) {
  Read r;
  readPfx(cmstest::readData("certs/nonder_certs.p12"), bmp("vorin-test"), r);
  ASSERT_EQ(1, r.result);
  ASSERT_EQ(3, r.certs.GetCount());
  const char* const files[] = {"certs/critical_false.der", "certs/v1_explicit.der",
                               "certs/nonder_ca.der"};
  const char* const issuers[] = {"certs/critical_false.der", "certs/rsa_ca.der",
                                 "certs/nonder_ca.der"};
  POSITION pos = r.certs.GetHeadPosition();
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(files[i]);
    const SignedCertificate* cert = r.certs.GetNext(pos);
    ASSERT_TRUE(cert);
    EXPECT_EQ(cmstest::readData(files[i]), encodeOf(*cert));
    SignedCertificate issuer;
    const Bytes der = cmstest::readData(issuers[i]);
    ASSERT_EQ(static_cast<int>(der.size()), decodeBytes(issuer, der, ASN_FLAG_CONST));
    EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, cert->verifySignature(issuer));
    const SignedCertificate copy(*cert);
    EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, copy.verifySignature(issuer));
  }
}

TEST(Pkcs12Read, TheMacGuardsEverything) {
  const Bytes der = cmstest::readData("pkcs/rsa_3des.p12");
  for (const char* wrong : {"vorin-tesT", "", "vorin-test-"}) {
    Read r;
    readPfx(der, bmp(wrong), r);
    EXPECT_EQ(r.result, 0) << wrong;
    EXPECT_EQ(r.keys.GetCount() + r.certs.GetCount(), 0) << "nothing decrypted";
  }
  Read none;
  readPfx(der, Bytes(), none);
  EXPECT_EQ(none.result, 0);
  // Any octet of the authSafe changed (here the last, inside the key's
  // ciphertext), or of the MAC itself: a wrong password, not a read.
  Pfx pfx;
  ASSERT_GT(decodeBytes(pfx, der), 0);
  const Bytes authSafe = cmstest::octets(pfx.authSafe.value());
  const Bytes mac = cmstest::octets(pfx.macData.mac.digest);
  for (size_t at : {authSafe.size() - 1, size_t(40)}) {
    Bytes changed = der;
    const auto pos = std::search(changed.begin(), changed.end(), authSafe.begin(), authSafe.end());
    ASSERT_NE(pos, changed.end());
    pos[static_cast<long>(at)] ^= 1;
    Read r;
    readPfx(changed, bmp("vorin-test"), r);
    EXPECT_EQ(r.result, 0);
  }
  Bytes changed = der;
  const auto pos = std::search(changed.begin(), changed.end(), mac.begin(), mac.end());
  pos[19] ^= 0x80;
  Read r;
  readPfx(changed, bmp("vorin-test"), r);
  EXPECT_EQ(r.result, 0);
}

// A password of 80 octets (its BMPString with terminator), files made by
// tests/data/pki/pkcs/make_longpw.sh: openssl's own (the whole password in
// every derivation, RFC 7292) and one whose MAC and key encryption take only
// the first 64 octets (keys from openssl's PKCS12KDF over those octets).
// Both open with the long password; the cut file with nothing else. The
// same for a MAC salt of 72 octets (a short password): openssl's file and
// one whose MAC key took the salt's first 64 octets.
TEST(Pkcs12Read, LongPasswordsWholeThenCutTo64) {
  const std::string longPassword = "a password of forty characters, or more";
  const Bytes password = bmp(longPassword.c_str());
  ASSERT_EQ(password.size(), 80u);
  const Bytes first64(password.begin(), password.begin() + 64);
  struct Case {
    const char* file;
    Bytes password;
    int result;
  };
  const Case cases[] = {
      {"pkcs/long_rfc.p12", password, 1},
      {"pkcs/long_cut.p12", password, 1},
      // The cut octets given as such (no terminator): the same key.
      {"pkcs/long_cut.p12", first64, 1},
      // Another password with the same first 64 octets is cut alike.
      {"pkcs/long_cut.p12", bmp((longPassword + "!").c_str()), 1},
      // 31 characters and the terminator fill 64 octets: nothing to cut,
      // and not the cut octets.
      {"pkcs/long_cut.p12", bmp(longPassword.substr(0, 31).c_str()), 0},
      // openssl's file is never read with the cut.
      {"pkcs/long_rfc.p12", bmp((longPassword + "!").c_str()), 0},
      {"pkcs/long_cut.p12", bmp("vorin-test"), 0},
      {"pkcs/long_salt_rfc.p12", bmp("vorin-test"), 1},
      {"pkcs/long_salt_cut.p12", bmp("vorin-test"), 1},
      {"pkcs/long_salt_cut.p12", bmp("vorin-tesT"), 0},
      {"pkcs/long_salt_rfc.p12", bmp("vorin-tesT"), 0},
  };
  for (const Case& c : cases) {
    Read r;
    readPfx(cmstest::readData(c.file), c.password, r);
    EXPECT_EQ(r.result, c.result) << c.file << " " << c.password.size();
    if (c.result != 1) {
      EXPECT_EQ(r.keys.GetCount() + r.certs.GetCount(), 0);
      continue;
    }
    EXPECT_EQ(r.keys.GetCount(), 1) << c.file;
    if (r.keys.GetCount() != 1 || r.certs.GetCount() != 1) continue;  // the other rows still run
    EXPECT_EQ(encodeOf(*r.keys.GetHead()), cmstest::readData("pkcs/rsa_p8.der")) << c.file;
    EXPECT_EQ(encodeOf(*r.certs.GetHead()), cmstest::readData("pkcs/cert.der")) << c.file;
  }
}

// A PFX of one id-data safe per bag with a MAC of `macIterations`.
Bytes assemble(const std::vector<SafeBag*>& bags, uint32_t macIterations, const Bytes& password) {
  Pfx pfx;
  pfx.initAuthSafe();
  for (SafeBag* bag : bags) {
    SafeContents one;
    one.append(bag);
    Bytes safe = encodeOf(one);
    one.RemoveAll();
    auto* ci = pfx.authenticatedSafe.addNew();
    ci->contentType = id_data;
    ci->value().setEncoding(0x04, safe.data(), static_cast<int>(safe.size()));
    ci->contentPresent = 1;
  }
  const Bytes authSafe = encodeOf(pfx.authenticatedSafe);
  pfx.authSafe.value().set(authSafe.data(), static_cast<int>(authSafe.size()));
  pfx.authSafe.contentPresent = 1;
  const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  unsigned char key[20];
  pkcs12PbeDeriveSha1(key, 20, 3, password.data(), static_cast<int>(password.size()), salt, 8,
                      macIterations);
  LvHmac hmac(LV_HASH_SHA1);
  hmac.setKey(key, 20);
  hmac.init();
  hmac.step(authSafe.data(), static_cast<unsigned int>(authSafe.size()));
  hmac.finish();
  unsigned char* d = pfx.macData.mac.digest.allocate(20);
  hmac.getMac(20, d);
  pfx.macData.mac.digestAlgorithm.setDigest(1);
  pfx.macData.macSalt.set(salt, 8);
  pfx.macData.iterations.set(macIterations);
  return encodeOf(pfx);
}

// One reading spends at most PFX_MAX_TOTAL_ITERATIONS over the MAC and every
// decryption: a second item that would pass it is refused before it is
// derived.
TEST(Pkcs12Read, IterationsAreBudgetedOverTheWholeFile) {
  const Bytes password = bmp("vorin-test");
  PrivateKeyInfo key;
  ASSERT_GT(decodeBytes(key, cmstest::readData("pkcs/rsa_p8.der")), 0);
  const unsigned char salt[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  auto shrouded = [&](uint32_t iterations) {
    EncryptedPrivateKeyInfo epki;
    EXPECT_EQ(epki.encrypt(4, password.data(), static_cast<int>(password.size()), salt, 8,
                           iterations, key),
              1);
    auto* bag = new SafeBag();
    bag->bagId = pkcs8ShroudedKeyBag;
    bag->bagValue.get().setObject(epki);
    return bag;
  };
  const uint32_t big = PBE_MAX_ITERATIONS;
  static_assert(PFX_MAX_TOTAL_ITERATIONS == 2 * PBE_MAX_ITERATIONS, "the cases below");
  std::vector<SafeBag*> bags = {shrouded(big), shrouded(1)};
  const Bytes within = assemble({bags[0]}, big, password);
  const Bytes beyond = assemble(bags, big, password);
  for (SafeBag* b : bags) delete b;
  Read ok;
  readPfx(within, password, ok);
  EXPECT_EQ(ok.result, 1);
  EXPECT_EQ(ok.keys.GetCount(), 1);
  Read refused;
  readPfx(beyond, password, refused);
  EXPECT_EQ(refused.result, -2);
  EXPECT_EQ(refused.keys.GetCount(), 1) << "the first key stays";
  // A MAC count above the bound is refused without being derived.
  const Bytes hostile = assemble({}, 1, password);
  Pfx pfx;
  ASSERT_GT(decodeBytes(pfx, hostile), 0);
  pfx.macData.iterations.set(0xFFFFFFFFu);
  Read r;
  readPfx(encodeOf(pfx), password, r);
  EXPECT_EQ(r.result, -2);
}

// ---------------------------------------------------------------------------

struct Built {
  Bytes der;
};

Bytes buildPfx(int cipher, const Bytes& password, const Bytes& seed, bool withOther) {
  RSAPrivateKey rsa;
  EXPECT_GT(decodeBytes(rsa, cmstest::readData("pkcs/rsa_pkcs1.der")), 0);
  ECPrivateKey ec;
  EXPECT_GT(decodeBytes(ec, cmstest::readData("pkcs/ec_sec1.der")), 0);
  SignedCertificate cert;
  EXPECT_GT(decodeBytes(cert, cmstest::readData("pkcs/cert.der")), 0);
  Pfx pfx;
  pfx.initAuthSafe();
  const Bytes id(20, 0x42);
  const Bytes name = {0, 'k', 0, 'e', 0, 'y'};
  EXPECT_EQ(pfx.addCertBag(cert, nullptr, 0, id.data(), 20), 1);
  EXPECT_EQ(pfx.addRsaKey(rsa, name.data(), 6, id.data(), 20), 1);
  EXPECT_EQ(pfx.addEcKey(ec, nullptr, 0, id.data(), 20), 1);
  if (withOther) {
    ASNoctstr secret;
    secret.set(id.data(), 20);
    EXPECT_EQ(pfx.addBag(&secret, &id_data), 1);
  }
  EXPECT_EQ(pfx.build(cipher, password.data(), static_cast<int>(password.size()), seed.data(),
                      static_cast<int>(seed.size())),
            1);
  return encodeOf(pfx);
}

TEST(Pkcs12Build, ReadsBackAndOpensslAcceptsIt) {
  const Bytes password = bmp("vorin-test");
  const Bytes seed(20, 0x17);
  for (int cipher : {4, 7}) {
    const Bytes der = buildPfx(cipher, password, seed, true);
    EXPECT_EQ(buildPfx(cipher, password, seed, true), der) << "same seed, same octets";
    EXPECT_NE(buildPfx(cipher, password, Bytes(20, 0x18), true), der);

    Pfx pfx;
    ASSERT_EQ(decodeBytes(pfx, der), static_cast<int>(der.size()));
    // Certificates first (encrypted), then one id-data safe per key and per other bag.
    ASSERT_EQ(pfx.authenticatedSafe.GetCount(), 4);
    POSITION p = pfx.authenticatedSafe.GetHeadPosition();
    EXPECT_TRUE(pfx.authenticatedSafe.GetNext(p)->contentType == id_encryptedData);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(pfx.authenticatedSafe.GetNext(p)->contentType == id_data);

    Read r;
    readPfx(der, password, r);
    EXPECT_EQ(r.result, 1);
    ASSERT_EQ(r.keys.GetCount(), 2);
    EXPECT_EQ(encodeOf(*r.keys.GetHead()), cmstest::readData("pkcs/rsa_p8.der"));
    EXPECT_EQ(encodeOf(*r.keys.GetTail()), cmstest::readData("pkcs/ec_p8.der"));
    EXPECT_EQ(r.certs.GetCount(), 1);
    ASSERT_EQ(r.bags.GetCount(), 1);
    EXPECT_TRUE(r.bags.GetHead()->bagId == id_data);
    ASSERT_EQ(r.keyAttributes.GetCount(), 2);
    auto* attrs = static_cast<TypedPointerList<Attribute>*>(r.keyAttributes.GetHead());
    EXPECT_NE(findAttribute(*attrs, pkcs_9_at_localKeyId), nullptr);
    EXPECT_NE(findAttribute(*attrs, pkcs_9_at_friendlyName), nullptr);

    Read wrong;
    readPfx(der, bmp("vorin-tesT"), wrong);
    EXPECT_EQ(wrong.result, 0);

    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
    // openssl reads the standard file (no secretBag of our own form).
    const Bytes plain = buildPfx(cipher, password, seed, false);
    const std::string path = pkcstest::scratchFile("built_" + std::to_string(cipher) + ".p12");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(plain.data()),
                                                static_cast<std::streamsize>(plain.size()));
    const std::string cmd = "openssl pkcs12 -info -noout -legacy -passin pass:vorin-test -in " +
                            path + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
}

// The four salts of a build (certificates' safe, each key, the MAC) follow
// from the seed by SHA-1 as openssl computes it (pkcs/make_pfx_salts.sh):
// each encryption's parameters carry its salt with the 2048 iterations.
TEST(Pkcs12Build, SaltsFollowFromTheSeed) {
  const Bytes listed = cmstest::readData("pkcs/pfx_salts.hex");
  std::vector<Bytes> salts;
  for (size_t at = 0; at + 16 <= listed.size(); at += 17)
    salts.push_back(pkcstest::fromHex(std::string(listed.begin() + at, listed.begin() + at + 16)));
  ASSERT_EQ(salts.size(), 4u);
  for (int cipher : {4, 7}) {
    SCOPED_TRACE(cipher);
    const Bytes der = buildPfx(cipher, bmp("vorin-test"), Bytes(20, 0x17), false);
    size_t last = 0;
    for (size_t i = 0; i < 3; ++i) {
      // OCTET STRING of the salt, INTEGER 2048
      Bytes params = pkcstest::fromHex("0408000000000000000002020800");
      ASSERT_EQ(salts[i].size(), 8u);
      std::copy(salts[i].begin(), salts[i].end(), params.begin() + 2);
      const auto at = std::search(der.begin(), der.end(), params.begin(), params.end());
      ASSERT_NE(at, der.end()) << "salt " << i;
      EXPECT_GT(static_cast<size_t>(at - der.begin()), last) << "salt " << i << " out of order";
      last = static_cast<size_t>(at - der.begin());
    }
    Pfx pfx;
    ASSERT_EQ(decodeBytes(pfx, der), static_cast<int>(der.size()));
    EXPECT_EQ(cmstest::octets(pfx.macData.macSalt), salts[3]);
  }
}

// The key manager's list operation: copies in order, read-in-place CRLs
// with their received octets, and the source's ownership flag.
TEST(CrlListCopy, AppendsCopiesInOrder) {
  TypedPointerList<SignedCertRevList> source, target;
  std::vector<Bytes> ders;
  for (const char* f : {"certs/crl_v1.der", "certs/crl_v2_idp.der", "certs/crl_v2_ec_gentime.der"}) {
    ders.push_back(cmstest::readData(f));
    auto* crl = source.addNew();
    ASSERT_NE(crl, nullptr);
    ASSERT_EQ(decodeBytes(*crl, ders.back(), ders.size() == 2 ? ASN_FLAG_CONST : 0),
              static_cast<int>(ders.back().size()));
  }
  SignedCertRevList* first = target.addNew();
  ASSERT_EQ(decodeBytes(*first, ders[0]), static_cast<int>(ders[0].size()));
  source.owns = false;
  addCopy(target, source);
  EXPECT_FALSE(target.owns);
  target.owns = true;  // the copies are this test's to delete
  source.owns = true;
  ASSERT_EQ(target.GetCount(), 4);
  POSITION p = target.GetHeadPosition();
  target.GetNext(p);
  for (const Bytes& der : ders) {
    const SignedCertRevList* c = target.GetNext(p);
    EXPECT_EQ(encodeOf(*c), der);
    EXPECT_NE(c, source.GetHead());
  }
}

TEST(Pkcs12Build, AFailedBuildLeavesNoSafe) {
  Pfx pfx;
  pfx.initAuthSafe();
  PrivateKeyInfo info;
  SignedCertificate cert;
  ASSERT_GT(decodeBytes(cert, cmstest::readData("pkcs/cert.der")), 0);
  ASSERT_EQ(pfx.addCertBag(cert, nullptr, 0, nullptr, 0), 1);
  const Bytes seed(20, 1);
  // No password octets: nothing can be encrypted.
  EXPECT_EQ(pfx.build(4, seed.data(), 0, seed.data(), 20), 0);
  EXPECT_EQ(pfx.authenticatedSafe.GetCount(), 0);
  EXPECT_EQ(pfx.addBag(nullptr, &id_data), 0);
}

}  // namespace
