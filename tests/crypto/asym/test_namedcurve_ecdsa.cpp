// EC-DSA over the binary named curves: NIST CAVP SigVer (K- and B-curves) and
// PKV, and signatures made with `openssl dgst -sign`
// (tests/data/gf2n/gen_openssl.py).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "crypto/algebra/test_gf2n_util.h"
#include "crypto/asym/lvgeneraldsa.h"
#include "crypto/asym/lvnamedcurves.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbg.h"

using namespace gf2ntest;

namespace {

const LvE2nDsaKeyDomain* nistDomain(const std::string& curve) {
  static const std::map<std::string, unsigned int> ids = {
      {"K-163", 39}, {"B-163", 40}, {"K-233", 41}, {"B-233", 42}, {"K-283", 43},
      {"B-283", 44}, {"K-409", 45}, {"B-409", 46}, {"K-571", 47}, {"B-571", 48},
      {"sect163k1", 20}, {"sect233r1", 26}, {"sect283k1", 28}, {"sect571r1", 33}};
  return NamedCurveTable::byId(ids.at(curve))->binaryDomain;
}

LvHashAlgo hashOf(std::string name) {
  std::string n;
  for (char ch : name)
    if (ch != '-') n += static_cast<char>(toupper(ch));
  if (n == "SHA1") return LV_HASH_SHA1;
  if (n == "SHA224") return LV_HASH_SHA224;
  if (n == "SHA256") return LV_HASH_SHA256;
  if (n == "SHA384") return LV_HASH_SHA384;
  if (n == "SHA512") return LV_HASH_SHA512;
  throw std::runtime_error("hash " + name);
}

Bytes digest(LvHashAlgo id, const Bytes& msg) {
  std::unique_ptr<LvHash> h(lvHashCreateObject(id));
  h->hash(msg.data(), static_cast<unsigned int>(msg.size()));
  return Bytes(h->getHashPtr(), h->getHashPtr() + h->getHashOctets());
}

// 04 || Qx || Qy for a domain; false when a coordinate does not fit.
bool pointOf(const LvE2nDsaKeyDomain* d, const std::string& qx, const std::string& qy, Bytes& out) {
  const unsigned int mo = d->getCurve().getFieldOctets();
  Bytes x = hex(qx), y = hex(qy);
  while (x.size() > mo && x[0] == 0) x.erase(x.begin());
  while (y.size() > mo && y[0] == 0) y.erase(y.begin());
  if (x.size() > mo || y.size() > mo) return false;
  out.assign(1, 0x04);
  out.insert(out.end(), mo - x.size(), 0);
  out.insert(out.end(), x.begin(), x.end());
  out.insert(out.end(), mo - y.size(), 0);
  out.insert(out.end(), y.begin(), y.end());
  return true;
}

// Reads "[group]" headers and "key = value" records ending with Result.
struct RspRecord {
  std::string group;
  std::map<std::string, std::string> v;
};

std::vector<RspRecord> readRsp(const std::string& file) {
  std::ifstream in(dataPath(file));
  if (!in) throw std::runtime_error(file + " missing");
  std::vector<RspRecord> out;
  std::string line, group;
  RspRecord cur;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      group = line.substr(1, line.find(']') - 1);
      continue;
    }
    const std::size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    cur.v[line.substr(0, eq)] = line.substr(eq + 3);
    if (line.compare(0, 6, "Result") == 0) {
      cur.group = group;
      out.push_back(cur);
      cur = RspRecord();
    }
  }
  return out;
}

// Verification through a public key set from the point's octets; an
// encoding the key refuses counts as a failed verification.
bool verifyWith(const LvE2nDsaKeyDomain* d, const Bytes& point, const Bytes& dg, const Bytes& r,
                const Bytes& s) {
  LvGeneralDsaPublicKey pub;
  pub.setDomain(d);
  try {
    pub.setH(point.data(), static_cast<unsigned int>(point.size()));
  } catch (const LvException&) {
    return false;
  }
  LvGeneralDsaSig sig;
  sig.setPublicKey(&pub);
  return sig.verify(dg.data(), static_cast<unsigned int>(dg.size()), r.data(),
                    static_cast<unsigned int>(r.size()), s.data(), static_cast<unsigned int>(s.size()));
}

// Minimal DER walk: SEQUENCE { INTEGER r, INTEGER s } into the values.
void splitDerSignature(const Bytes& der, Bytes& r, Bytes& s) {
  std::size_t i = 2;
  if (der[1] & 0x80) i += der[1] & 0x7F;
  auto take = [&](Bytes& out) {
    if (der[i] != 0x02) throw std::runtime_error("not an INTEGER");
    std::size_t len = der[i + 1];
    out.assign(der.begin() + static_cast<long>(i + 2), der.begin() + static_cast<long>(i + 2 + len));
    i += 2 + len;
  };
  take(r);
  take(s);
}

}  // namespace

const unsigned int kRecordsPerGroup = 8;

TEST(NamedCurveEcdsa, CavpSigVerBinaryCurves) {
  const auto recs = readRsp("SigVer_KB.rsp");
  ASSERT_EQ(recs.size(), 750u);
  unsigned int pass = 0, fail = 0;
  std::map<std::string, unsigned int> perGroup;
  for (std::size_t i = 0; i < recs.size(); i++) {
    const RspRecord& rec = recs[i];
    // the first records of each group keep the run short under the sanitizers
    if (++perGroup[rec.group] > kRecordsPerGroup) continue;
    const std::string curve = rec.group.substr(0, rec.group.find(','));
    const std::string hash = rec.group.substr(rec.group.find(',') + 1);
    const LvE2nDsaKeyDomain* d = nistDomain(curve);
    Bytes point;
    ASSERT_TRUE(pointOf(d, rec.v.at("Qx"), rec.v.at("Qy"), point));
    const Bytes dg = digest(hashOf(hash), hex(rec.v.at("Msg")));
    const bool want = rec.v.at("Result")[0] == 'P';
    EXPECT_EQ(verifyWith(d, point, dg, hex(rec.v.at("R")), hex(rec.v.at("S"))), want)
        << rec.group << " record " << i << " " << rec.v.at("Result");
    (want ? pass : fail)++;
  }
  EXPECT_GT(pass, 10u * kRecordsPerGroup / 2);
  EXPECT_GT(fail, 20u * kRecordsPerGroup / 2);
}

TEST(NamedCurveEcdsa, CavpPublicKeyValidation) {
  const auto recs = readRsp("PKV_KB.rsp");
  ASSERT_EQ(recs.size(), 120u);
  for (const RspRecord& rec : recs) {
    const LvE2nDsaKeyDomain* d = nistDomain(rec.group);
    const bool want = rec.v.at("Result")[0] == 'P';
    Bytes point;
    bool ok = pointOf(d, rec.v.at("Qx"), rec.v.at("Qy"), point);
    if (ok) {
      LvGeneralDsaPublicKey pub;
      pub.setDomain(d);
      try {
        pub.setH(point.data(), static_cast<unsigned int>(point.size()));
        ok = pub.isValid();
      } catch (const LvException&) {
        ok = false;
      }
    }
    EXPECT_EQ(ok, want) << rec.group << " " << rec.v.at("Qx") << " " << rec.v.at("Result");
  }
}

TEST(NamedCurveEcdsa, OpensslSignaturesVerify) {
  unsigned int n = 0;
  for (const std::string& line : lines("signatures.txt")) {
    std::istringstream ls(line);
    std::string curve, h, msg, pub, comp, sigHex;
    ls >> curve >> h >> msg >> pub >> comp >> sigHex;
    SCOPED_TRACE(curve + " " + h);
    const LvE2nDsaKeyDomain* d = nistDomain(curve);
    Bytes r, s;
    splitDerSignature(hex(sigHex), r, s);
    Bytes dg = digest(hashOf(h), hex(msg));
    EXPECT_TRUE(verifyWith(d, hex(pub), dg, r, s));
    EXPECT_TRUE(verifyWith(d, hex(comp), dg, r, s));
    dg[0] ^= 1;
    EXPECT_FALSE(verifyWith(d, hex(pub), dg, r, s));
    n++;
  }
  EXPECT_EQ(n, 8u);
}

namespace {

// DER TLV with a definite length.
Bytes tlv(LvOctet tag, const Bytes& content) {
  Bytes out{tag};
  const std::size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<LvOctet>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<LvOctet>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<LvOctet>(n >> 8), static_cast<LvOctet>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

void writeFile(const std::string& path, const Bytes& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// Deterministic nonces for the signing side.
class StepRbg : public LvRbg {
 public:
  void init(const LvOctet*, unsigned int) override {}
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override {}
  void fillOctets(LvOctet* dst, unsigned int n) override {
    for (unsigned int i = 0; i < n; i++) dst[i] = next = static_cast<LvOctet>(next * 73 + 41);
  }
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 0; }
  unsigned int getSeedStepOctets() const override { return 1; }
  const char* getName() const override { return "TEST"; }
  LvOctet next = 7;
};

}  // namespace

// Signatures made here over binary curves are accepted by `openssl dgst -verify`
// (the public point, computed here too, goes to openssl in a SubjectPublicKeyInfo).
TEST(NamedCurveEcdsa, OurSignaturesVerifyWithOpenssl) {
  ASSERT_EQ(std::system("openssl version > /dev/null 2>&1"), 0) << "the openssl command is needed";
  const std::map<std::string, Bytes> curveOid = {{"sect163k1", {0x2B, 0x81, 0x04, 0x00, 0x01}},
                                                 {"sect233r1", {0x2B, 0x81, 0x04, 0x00, 0x1B}},
                                                 {"sect283k1", {0x2B, 0x81, 0x04, 0x00, 0x10}},
                                                 {"sect571r1", {0x2B, 0x81, 0x04, 0x00, 0x27}}};
  const Bytes ecPublicKey{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
  char dirTemplate[] = "/tmp/tal-e2n-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  for (const auto& c : curveOid) {
    SCOPED_TRACE(c.first);
    const LvE2nDsaKeyDomain* d = nistDomain(c.first);
    const Bytes dk = digest(LV_HASH_SHA256, Bytes(c.first.begin(), c.first.end()));
    const LvN x(dk.data(), 20);  // 160 bits: below every order here
    std::unique_ptr<LvGroupElem> h(d->getGroup()->createMul(x, d->getGen()));
    Bytes point(d->getGroup()->getOctetStringEncodingLen(h.get()));
    point.resize(d->getGroup()->asOctetString(h.get(), point.data(), point.size()));

    LvGeneralDsaPrivateKey priv;
    priv.setDomain(d);
    priv.setKey(dk.data(), 20);
    LvGeneralDsaSig sig;
    StepRbg rbg;
    sig.setRbg(&rbg);
    sig.setPrivateKey(&priv);
    const Bytes msg{'b', 'i', 'n', 'a', 'r', 'y', ' ', 'c', 'u', 'r', 'v', 'e'};
    const Bytes dg = digest(LV_HASH_SHA256, msg);  // longer than the order on sect163k1/233r1
    Bytes rs(sig.getMaxSignatureOctets());
    rs.resize(sig.sign(dg.data(), dg.size(), rs.data(), rs.size()));

    Bytes bits{0x00};
    bits.insert(bits.end(), point.begin(), point.end());
    const Bytes spki = tlv(0x30, [&] {
      Bytes alg = tlv(0x06, ecPublicKey), oid = tlv(0x06, c.second), b = tlv(0x03, bits);
      alg.insert(alg.end(), oid.begin(), oid.end());
      Bytes all = tlv(0x30, alg);
      all.insert(all.end(), b.begin(), b.end());
      return all;
    }());
    writeFile(dir + "/pub.der", spki);
    writeFile(dir + "/sig.der", tlv(0x30, rs));
    writeFile(dir + "/msg.bin", msg);
    const std::string cmd = "openssl dgst -sha256 -keyform DER -verify " + dir + "/pub.der -signature " +
                            dir + "/sig.der " + dir + "/msg.bin > /dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    // the same check refuses a signature over another message
    writeFile(dir + "/msg.bin", Bytes{'o', 't', 'h', 'e', 'r'});
    EXPECT_NE(std::system(cmd.c_str()), 0);
  }
  std::system(("rm -rf " + dir).c_str());
}
