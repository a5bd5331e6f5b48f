// INTEGERs beyond 32 bits in every structure of this folder that holds one,
// one row per structure: a decode answers its result code (never the
// overflow_error ASNinteger throws when such a value is read as a number), a
// value that decodes writes the same octets back, and what reads the number
// later (getters, key sizes, curve preparation, even the encoding of a value
// whose decode failed) answers its documented result.
#include "crypto/rbg/lvrbghashiso18031.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "pki/keys/dhparams.h"
#include "pki/keys/dsaprkey.h"
#include "pki/keys/ecprvkey.h"
#include "pki/ocsp/ocspreq.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/keys/rsaprkey.h"
#include "pki/common/rsapssparams.h"
#include "pki/keys/subpubkeyinfo.h"
#include "pki/ocsp/vessikreq.h"
#include "pki/x509/x509ext.h"

#include "pki/certtest.h"
#include "pki/keytest.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using certtest::Bytes;
using pkitest::unhex;

namespace {

// 2^32: five significant octets.
const std::string kBig = "0100000000";
const std::string kBigInt = "0205" + kBig;
// 21 octets, as long as serial numbers may be (RFC 5280).
const std::string kLongSerial = "0215" + std::string(42, '7');

std::string tlv(const std::string& id, const std::string& body) {
  const size_t n = body.size() / 2;
  const char* d = "0123456789abcdef";
  std::string len;
  if (n >= 128) len = "81";
  len += d[(n >> 4) & 15];
  len += d[n & 15];
  return id + len + body;
}

const std::string kTime = "180f32303234303131353130333030305a";  // GeneralizedTime
const std::string kUtcTime = "170d3236303131353130333030305a";
const std::string kCertId = tlv("30", tlv("30", "06052b0e03021a") + "04000400020101");

// A real structure with the element at `path` replaced by `hex`.
Bytes replaced(const Bytes& der, const std::vector<int>& path, const std::string& hex) {
  certtest::Node root = certtest::parseTree(der);
  certtest::nodeAt(root, path) = certtest::parseTree(unhex(hex));
  return certtest::writeTree(root);
}

Bytes regressInput(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/fuzz_regress/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

struct Row {
  const char* what;
  std::function<std::unique_ptr<ASNobject>()> make;
  Bytes der;
  bool decodes;                          // else the decode answers 0
  std::function<void(ASNobject&)> read;  // what reads the decoded value
};

template <class T>
Row row(const char* what, const Bytes& der, bool decodes, std::function<void(T&)> read = nullptr) {
  Row r{what, [] { return std::unique_ptr<ASNobject>(new T()); }, der, decodes, nullptr};
  if (read) r.read = [read](ASNobject& o) { read(dynamic_cast<T&>(o)); };
  return r;
}

Bytes tbsCertificateWithVersion(const std::string& versionHex) {
  certtest::Signed s = certtest::open(certtest::readFile("v3_rsa.der"));
  s.tbs.at(0).content = unhex(versionHex);
  return certtest::encodeTlv(0x30, certtest::join(s.tbs));
}

}  // namespace

TEST(IntegerSize, BeyondThirtyTwoBitsInEveryStructure) {
  const Bytes rsaSpki = keytest::readFile("rsa2048.spki.der");
  const Bytes binarySpki = keytest::readFile("b233x.spki.der");
  const Bytes primeSpki = keytest::readFile("p256x.spki.der");
  const std::string byKey = "a206040401020304";
  const std::string responses = tlv("30", tlv("30", kCertId + "8000" + kTime));
  const std::string requests = tlv("30", tlv("30", kCertId));
  const std::string name = "3000";
  const std::vector<Row> rows = {
      // CRLs: only v1 and v2 exist, and a longer version cannot be weighed.
      row<TBSCertRevList>(
          "CRL version",
          unhex(tlv("30", kBigInt + "300306012a" + name + "170d3230303130313030303030305a")),
          false),
      row<SignedCertRevList>("CRL reproducer", regressInput("crl/repro-crl-version-5-octets.der"),
                             false),
      row<TBSCertRevList>("CRL version 1 in five octets, with extensions",
                          unhex(tlv("30", "02050000000001" + tlv("30", "06012a") + name +
                                              "170d3230303130313030303030305a" + "a0023000")),
                          true,
                          [](TBSCertRevList& t) {
                            Bytes out;
                            EXPECT_GT(t.encodeVector(out), 0);
                          }),
      row<TBSCertificate>("certificate version", tbsCertificateWithVersion(kBigInt), false),
      row<TBSCertificate>("certificate version 2 in five octets",
                          tbsCertificateWithVersion("02050000000002"), true,
                          [](TBSCertificate& t) { EXPECT_EQ(t.versionNumber(), 2u); }),
      row<IssuerAndSerialNumber>("issuer and serial", unhex(tlv("30", name + kLongSerial)), true),
      row<CRLentry>("CRL entry serial", unhex(tlv("30", kLongSerial + kUtcTime)), true),
      // OCSP: the values are kept, never read as numbers.
      row<ResponseData>("OCSP response version",
                        unhex(tlv("30", tlv("a0", kBigInt) + byKey + kTime + responses)), true,
                        [](ResponseData& d) { EXPECT_TRUE(d.versionPresent); }),
      row<TBSRequest>("OCSP request version", unhex(tlv("30", tlv("a0", kBigInt) + requests)), true,
                      [](TBSRequest& t) { EXPECT_TRUE(t.versionPresent); }),
      row<RevokedInfo>("OCSP revocation reason", unhex(tlv("30", kTime + tlv("a0", "0a05" + kBig))),
                       true, [](RevokedInfo& r) { EXPECT_TRUE(r.revocationReasonPresent); }),
      row<OCSPResponse>("OCSP response status", unhex(tlv("30", "0a05" + kBig)), true),
      row<CertID>("OCSP CertID serial",
                  unhex(tlv("30", tlv("30", "06052b0e03021a") + "04000400" + kLongSerial)), true),
      row<ASNVessikRequestFrame>("request frame kind",
                                 unhex(tlv("30", kBigInt + kUtcTime + "0500")), true),
      row<ASNCertificateID>("request frame certificate id", unhex(tlv("30", name + kLongSerial)),
                            true),
      // Extension values: the path checks that read them are in test_policy.
      row<BasicConstraints>("basicConstraints pathLen", unhex(tlv("30", "0101ff" + kBigInt)), true,
                            [](BasicConstraints& b) { EXPECT_TRUE(b.pathLenConstraintPresent); }),
      row<PolicyConstraints>("policyConstraints", unhex(tlv("30", "8005" + kBig + "8105" + kBig)),
                             true),
      row<AuthorityKeyIdentifier>(
          "authorityKeyIdentifier serial",
          unhex(tlv("30", "8001aa" + tlv("a1", "a4023000") + "82" + kLongSerial.substr(2))), true),
      // Keys and their parameters.
      row<RsaPssParams>("RSASSA-PSS salt and trailer",
                        unhex(tlv("30", tlv("a2", kBigInt) + tlv("a3", kBigInt))), true,
                        [](RsaPssParams& p) {
                          EXPECT_EQ(p.getSaltLength(), -1);
                          EXPECT_EQ(p.getTrailerField(), -1);
                        }),
      row<SubPubKeyInfo>("RSA key size parameter", replaced(rsaSpki, {0, 1}, kBigInt), true,
                         [](SubPubKeyInfo& k) { EXPECT_EQ(k.keyBits(), 2048u); }),
      row<SubPubKeyInfo>("binary curve degree", replaced(binarySpki, {0, 1, 1, 1, 0}, kBigInt),
                         false),
      row<SubPubKeyInfo>("binary curve trinomial exponent",
                         replaced(binarySpki, {0, 1, 1, 1, 2}, kBigInt), false),
      row<SubPubKeyInfo>("binary curve pentanomial exponent",
                         replaced(replaced(binarySpki, {0, 1, 1, 1, 1}, "06092a8648ce3d01020303"),
                                  {0, 1, 1, 1, 2}, tlv("30", "020109" + kBigInt + "020101")),
                         false),
      row<SubPubKeyInfo>("explicit curve version", replaced(primeSpki, {0, 1, 0}, kBigInt), true,
                         [](SubPubKeyInfo& k) { EXPECT_EQ(k.keyBits(), 256u); }),
      row<Pkcs3DHParameter>("DH private value length", unhex(tlv("30", "020117020105" + kBigInt)),
                            true),
      row<X942ValidationParams>("X9.42 pgenCounter", unhex(tlv("30", "03020001" + kBigInt)), true),
      row<RSAPrivateKey>("RSA private key version",
                         replaced(keytest::readFile("rsa1024.pkcs1.der"), {0}, kBigInt), true,
                         [](RSAPrivateKey& k) {
                           // the version is the key's own business: it still signs
                           LvRbgHashIso18031 rbg;
                           const LvOctet seed[16] = {'i', 'n', 't', 's', 'i', 'z', 'e'};
                           rbg.init(seed, sizeof seed);
                           const Bytes digest(32, 7);
                           MemFile sig;
                           EXPECT_EQ(k.signDigest(digest.data(), 32, 3, &rbg, sig), 0);
                         }),
      row<ECPrivateKey>("EC private key version",
                        replaced(keytest::readFile("p256.prv.der"), {0}, kBigInt), true),
      row<DSAPrivateKey>("DSA private key version",
                         unhex(tlv("30", kBigInt + "02011702010b020102020104020103")), true,
                         [](DSAPrivateKey& k) {
                           ASNinteger y;
                           k.getPublicKey(y);
                         }),
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_GE(r.der.size(), 2u);
    for (unsigned char flags : {0, 1}) {
      SCOPED_TRACE(static_cast<int>(flags));
      std::unique_ptr<ASNobject> o = r.make();
      int got = -9;
      EXPECT_NO_THROW(got = o->decodeVector(r.der, flags));
      EXPECT_EQ(got, r.decodes ? static_cast<int>(r.der.size()) : 0);
      // A failed value is left partly filled: measuring and writing it
      // must still answer.
      Bytes out;
      EXPECT_NO_THROW({
        (void)o->encodedLength();
        (void)o->encodeVector(out);
      });
      if (r.decodes && flags) {
        EXPECT_EQ(out, r.der);
      }
      if (r.decodes && !flags) {
        std::unique_ptr<ASNobject> again = r.make();
        EXPECT_EQ(again->decodeVector(out), static_cast<int>(out.size()));
      }
      if (r.decodes && r.read) {
        EXPECT_NO_THROW(r.read(*o));
      }
    }
  }
}

// Values built by hand may hold what no decode accepts: they are still
// measured and written, with the version (it is not 0).
TEST(IntegerSize, BuiltVersionsBeyondThirtyTwoBits) {
  const Bytes big = unhex(kBig);
  TBSCertificate cert;
  ASSERT_EQ(cert.version->setBytes(big.data(), static_cast<int>(big.size())), 1);
  EXPECT_EQ(cert.versionNumber(), 0xFFFFFFFFu);
  TBSCertRevList crl;
  ASSERT_EQ(crl.version.setBytes(big.data(), static_cast<int>(big.size())), 1);
  for (const ASNobject* o :
       {static_cast<const ASNobject*>(&cert), static_cast<const ASNobject*>(&crl)}) {
    Bytes out;
    EXPECT_NO_THROW((void)o->encodeVector(out));
    EXPECT_NE(pkitest::hex(out).find(kBigInt), std::string::npos);
  }
}
