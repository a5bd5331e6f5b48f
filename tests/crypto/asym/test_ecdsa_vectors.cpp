// EC-DSA against independent data: NIST CAVP SigVer and PKV over the P
// curves, signatures made by `openssl dgst -sign`, and signatures made here
// that `openssl dgst -verify` accepted (tests/data/ec/make_fixtures.py).
// Also the scheme's handling of hostile (r, s) encodings and key checks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "crypto/asym/ec_sig_util.h"

using namespace ectest;

namespace {

const std::map<std::string, std::string> kNistCurves = {{"P-192", "secp192r1"},
                                                        {"P-224", "secp224r1"},
                                                        {"P-256", "secp256r1"},
                                                        {"P-384", "secp384r1"},
                                                        {"P-521", "secp521r1"}};

unsigned int fieldOctets(const std::string& curveName) {
  const CurveParams& c = curve(curveName);
  return LvN(c.p.data(), c.p.size()).getOctetLength();
}

// 04 || x || y, each padded to the field length (longer values stay longer,
// which the decoder refuses by length).
Bytes pointOf(const std::string& qx, const std::string& qy, unsigned int m) {
  Bytes x = hex(qx), y = hex(qy);
  while (x.size() > m && x[0] == 0) x.erase(x.begin());
  while (y.size() > m && y[0] == 0) y.erase(y.begin());
  Bytes out{0x04};
  if (x.size() < m) out.insert(out.end(), m - x.size(), 0);
  out.insert(out.end(), x.begin(), x.end());
  if (y.size() < m) out.insert(out.end(), m - y.size(), 0);
  out.insert(out.end(), y.begin(), y.end());
  return out;
}

// Records of a CAVP .rsp file: section name and key = value fields.
struct Record {
  std::string section;
  std::map<std::string, std::string> f;
};

std::vector<Record> readRsp(const std::string& file, const std::string& lastKey = "Result") {
  std::ifstream in(dataPath(file));
  EXPECT_TRUE(in.good()) << file;
  std::vector<Record> out;
  std::string line, section;
  Record cur;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      // curve sections only ("P-256", "P-256,SHA-1"), not the method headings
      const std::string name = line.substr(1, line.find(']') - 1);
      if (name.find(' ') == std::string::npos) section = name;
      continue;
    }
    const auto eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string k = line.substr(0, eq), v = line.substr(eq + 3);
    cur.section = section;
    cur.f[k] = v;
    if (k == lastKey) {
      out.push_back(cur);
      cur = Record();
    }
  }
  return out;
}

}  // namespace

TEST(EcdsaCavp, SigVerOverThePCurves) {
  int passes = 0, fails = 0;
  for (const Record& r : readRsp("ecdsa_SigVer_P.rsp")) {
    const std::string sec = r.section;
    const std::string curveName = kNistCurves.at(sec.substr(0, sec.find(',')));
    const LvHashAlgo h = hashId(sec.substr(sec.find(',') + 1));
    auto domain = domainOf(curveName);
    const bool expected = r.f.at("Result")[0] == 'P';
    bool ok = false;
    LvGeneralDsaPublicKey key;
    key.setDomain(domain.get());
    const Bytes q = pointOf(r.f.at("Qx"), r.f.at("Qy"), fieldOctets(curveName));
    try {
      key.setH(q.data(), q.size());
      LvGeneralDsaSig sig;
      sig.setPublicKey(&key);
      const Bytes d = digest(h, hex(r.f.at("Msg")));
      const Bytes R = hex(r.f.at("R")), S = hex(r.f.at("S"));
      ok = sig.verify(d.data(), d.size(), R.data(), R.size(), S.data(), S.size());
    } catch (const LvWrongSyntaxException&) {
      ok = false;  // Q is no point of the curve
    }
    EXPECT_EQ(expected, ok) << sec << " Qx " << r.f.at("Qx") << " " << r.f.at("Result");
    (expected ? passes : fails)++;
  }
  EXPECT_GT(passes, 30);
  EXPECT_GT(fails, 30);
}

// KeyPair: Q = d·G over every P curve, by the domain's group with G's table,
// by the generic curve's engine, and by the generic window method.
TEST(EcdsaCavp, KeyPairScalarMultiplication) {
  int count = 0;
  for (const Record& r : readRsp("ecdsa_KeyPair_P.rsp", "Qy")) {
    const std::string curveName = kNistCurves.at(r.section);
    const CurveParams& c = curve(curveName);
    const unsigned int m = fieldOctets(curveName);
    const Bytes want = pointOf(r.f.at("Qx"), r.f.at("Qy"), m);
    const Bytes db = hex(r.f.at("d"));
    const LvN d(db.data(), static_cast<unsigned int>(db.size()));
    auto domain = domainOf(curveName);
    const LvGroup* g = domain->getGroup();
    Bytes out(2 * m + 1);
    std::unique_ptr<LvGroupElem> Q(g->createMul(d, domain->getGen()));
    EXPECT_EQ(want, Bytes(out.begin(), out.begin() + g->asOctetString(Q.get(), out.data(), 2 * m + 1)))
        << curveName;
    LvEp e(c.a.data(), static_cast<unsigned int>(c.a.size()), c.b.data(),
           static_cast<unsigned int>(c.b.size()), c.p.data(), static_cast<unsigned int>(c.p.size()));
    std::unique_ptr<LvGroupElem> G(e.createNew(c.G.data(), static_cast<unsigned int>(c.G.size())));
    std::unique_ptr<LvGroupElem> Q2(e.createMul(d, G.get()));
    EXPECT_EQ(want, Bytes(out.begin(), out.begin() + e.asOctetString(Q2.get(), out.data(), 2 * m + 1)))
        << curveName;
    if (count % 4 == 0) {
      std::unique_ptr<LvGroupElem> Q3(e.createCopy(nullptr));
      e.LvGroup::mul(Q3.get(), d, G.get());
      EXPECT_EQ(want,
                Bytes(out.begin(), out.begin() + e.asOctetString(Q3.get(), out.data(), 2 * m + 1)))
          << curveName;
    }
    count++;
  }
  EXPECT_EQ(50, count);
}

TEST(EcdsaCavp, PublicKeyValidation) {
  int count = 0;
  for (const Record& r : readRsp("ecdsa_PKV_P.rsp")) {
    const std::string curveName = kNistCurves.at(r.section);
    auto domain = domainOf(curveName);
    const bool expected = r.f.at("Result")[0] == 'P';
    LvGeneralDsaPublicKey key;
    key.setDomain(domain.get());
    const Bytes q = pointOf(r.f.at("Qx"), r.f.at("Qy"), fieldOctets(curveName));
    bool ok = false;
    try {
      key.setH(q.data(), q.size());
      ok = key.isValid();
    } catch (const LvException&) {
      ok = false;  // out of range or not on the curve: refused when set
    }
    EXPECT_EQ(expected, ok) << r.section << " " << r.f.at("Result");
    count++;
  }
  EXPECT_GT(count, 50);
}

TEST(EcdsaDomain, NamedCurvesValidateAndBrokenOnesDoNot) {
  for (const auto& kv : curves()) {
    SCOPED_TRACE(kv.first);
    const CurveParams& c = kv.second;
    auto d = domainOf(kv.first, false);
    EXPECT_EQ(LV_DOMAIN_UNCHECKED, d->getValidity());
    // the Hasse step needs the group order
    const LvN n(c.n.data(), c.n.size()), h(c.h.data(), c.h.size());
    d->setGroupOrder(LvModulus(n * h, 0));
    if (!c.seed.empty()) d->setSeed(c.seed.data(), c.seed.size());
    EXPECT_TRUE(d->validate());
    EXPECT_EQ(LV_DOMAIN_VALID, d->getValidity());
    const bool special = kv.first == "secp160r1" || kv.first == "secp192r1" ||
                         kv.first == "secp224r1" || kv.first == "secp256r1" ||
                         kv.first == "secp384r1" || kv.first == "secp521r1";
    EXPECT_EQ(special, d->usesSpecialCurve());
    // any change makes it unchecked; a wrong order makes it invalid, no throw
    Bytes n2 = c.n;
    n2.back() ^= 2;
    d->setOrder(n2.data(), n2.size());
    EXPECT_EQ(LV_DOMAIN_UNCHECKED, d->getValidity());
    bool ok = true;
    EXPECT_NO_THROW(ok = d->validate());
    EXPECT_FALSE(ok);
    EXPECT_EQ(LV_DOMAIN_INVALID, d->getValidity());
  }
  // a short seed, a wrong seed, a large cofactor, a generator off the curve
  const CurveParams& c = curve("secp256r1");
  const LvN n(c.n.data(), c.n.size());
  auto fresh = [&]() {
    auto d = domainOf("secp256r1", false);
    d->setGroupOrder(LvModulus(n, 0));
    return d;
  };
  auto d1 = fresh();
  d1->setSeed(c.seed.data(), 19);
  EXPECT_FALSE(d1->validate());
  auto d2 = fresh();
  Bytes seed = c.seed;
  seed[0] ^= 1;
  d2->setSeed(seed.data(), seed.size());
  EXPECT_FALSE(d2->validate());
  auto d3 = fresh();
  const Bytes nine{9};
  d3->setCofactor(nine.data(), 1);
  d3->setGroupOrder(LvModulus(n * LvN(9u, 1), 0));
  EXPECT_FALSE(d3->validate());
  auto d4 = fresh();
  EXPECT_TRUE(d4->validate());
  // without the group order the Hasse bound fails
  auto d5 = domainOf("secp256r1", false);
  EXPECT_FALSE(d5->validate());
  // a generator that is no curve point
  Bytes g = c.G;
  g.back() ^= 1;
  auto d6 = fresh();
  d6->setGen(g.data(), g.size());
  EXPECT_FALSE(d6->validate());
  // keys refuse domains that are not valid
  LvGeneralDsaPublicKey key;
  EXPECT_THROW(key.setDomain(d5.get()), LvInvalidKeyException);
  EXPECT_THROW(key.setDomain(d6.get()), LvInvalidKeyException);
  // P-521's seed expansion starts with a zero octet
  LvConvOS e = lvExpandSeed(LvConvOS(curve("secp521r1").seed.data(), 20), 521, true);
  EXPECT_EQ(66u, e.getLength());
  EXPECT_EQ(0, e[0]);
}

TEST(EcdsaOpenssl, SignaturesMadeByOpensslVerify) {
  std::ifstream in(dataPath("openssl_sigs.txt"));
  ASSERT_TRUE(in.good());
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string kind, name, md, point, msg, sigHex;
    ls >> kind;
    if (kind != "ec") continue;
    ls >> name >> md >> point >> msg >> sigHex;
    auto domain = domainOf(name);
    LvGeneralDsaPublicKey key;
    key.setDomain(domain.get());
    const Bytes q = hex(point);
    key.setH(q.data(), q.size());
    EXPECT_TRUE(key.isValid());
    LvGeneralDsaSig sig;
    sig.setPublicKey(&key);
    sig.setHashAlgo(hashId(md));
    Bytes rs;
    ASSERT_TRUE(sequenceContents(hex(sigHex), rs));
    Bytes m = hex(msg);
    EXPECT_TRUE(sig.verifyMessage(m.data(), m.size(), rs.data(), rs.size(), 0)) << line;
    m[0] ^= 0x80;
    EXPECT_FALSE(sig.verifyMessage(m.data(), m.size(), rs.data(), rs.size(), 0)) << line;
    count++;
  }
  EXPECT_GE(count, 20);
}

namespace {

struct OurCase {
  const char* curve;
  const char* md;
  Bytes oid;
};
// The curve OIDs as openssl knows them (RFC 5480, RFC 5639, SEC 2).
const OurCase kOurs[] = {
    {"secp256r1", "sha256", {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}},
    {"secp384r1", "sha384", {0x2B, 0x81, 0x04, 0x00, 0x22}},
    {"secp521r1", "sha512", {0x2B, 0x81, 0x04, 0x00, 0x23}},
    {"brainpoolP256r1", "sha256", {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07}},
    {"secp256k1", "sha256", {0x2B, 0x81, 0x04, 0x00, 0x0A}},
    {"secp160r1", "sha1", {0x2B, 0x81, 0x04, 0x00, 0x08}},
    {"brainpoolP512r1", "sha512", {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D}}};

}  // namespace

// Signatures made here (fixed keys, deterministic generator) verify here and
// with `openssl dgst -verify` run now, and openssl refuses them over another
// message.
TEST(EcdsaOpenssl, OurSignaturesVerifyWithOpenssl) {
  OpensslDgst openssl;
  ASSERT_TRUE(openssl.ready()) << "the openssl command is needed";
  int i = 0;
  for (const OurCase& oc : kOurs) {
    SCOPED_TRACE(oc.curve);
    auto domain = domainOf(oc.curve);
    const LvGroup* g = domain->getGroup();
    const LvN n = domain->getOrder();
    // a fixed private scalar below n
    Bytes db(n.getOctetLength());
    for (std::size_t k = 0; k < db.size(); k++) db[k] = static_cast<std::uint8_t>(0x35 + 7 * k + i);
    const LvN d = LvN(db.data(), db.size()) % n;
    std::unique_ptr<LvGroupElem> H(g->createMul(d, domain->getGen()));
    LvGeneralDsaPrivateKey priv;
    priv.setDomain(domain.get());
    priv.setKey(d);
    priv.setH(H.get());
    Bytes point(1 + 2 * 66);
    point.resize(priv.get(point.data(), point.size()));
    CountingRbg rbg(static_cast<std::uint8_t>(i + 3));
    LvGeneralDsaSig s;
    s.setPrivateKey(&priv);
    s.setRbg(&rbg);
    s.setHashAlgo(hashId(oc.md));
    Bytes msg(10 + 13 * i);
    for (std::size_t k = 0; k < msg.size(); k++) msg[k] = static_cast<std::uint8_t>(k * 31 + i);
    Bytes rs(s.getMaxSignatureOctets());
    rs.resize(s.signMessage(msg.data(), msg.size(), rs.data(), rs.size(), 0));
    LvGeneralDsaPublicKey pub;
    pub.setDomain(domain.get());
    pub.setH(point.data(), point.size());
    LvGeneralDsaSig v;
    v.setPublicKey(&pub);
    v.setHashAlgo(hashId(oc.md));
    EXPECT_TRUE(v.verifyMessage(msg.data(), msg.size(), rs.data(), rs.size(), 0));
    const Bytes spki = ecSpki(oc.oid, point);
    EXPECT_TRUE(openssl.verifies(spki, oc.md, msg, tlv(0x30, rs)));
    msg[0] ^= 1;
    EXPECT_FALSE(openssl.verifies(spki, oc.md, msg, tlv(0x30, rs)));
    i++;
  }
}

TEST(EcdsaScheme, HostileSignaturesAnswerFalse) {
  auto domain = domainOf("secp256r1");
  const CurveParams& c = curve("secp256r1");
  LvGeneralDsaPublicKey key;
  key.setDomain(domain.get());
  key.setH(c.G.data(), c.G.size());  // H = G: a valid key
  LvGeneralDsaSig sig;
  sig.setPublicKey(&key);
  const Bytes d(32, 0x11);
  const Bytes zero{0}, one{1};
  const Bytes n = c.n;
  auto vrs = [&](const Bytes& r, const Bytes& s) {
    bool ok = true;
    EXPECT_NO_THROW(ok = sig.verify(d.data(), d.size(), r.data(), r.size(), s.data(), s.size()));
    return ok;
  };
  EXPECT_FALSE(vrs(zero, one));
  EXPECT_FALSE(vrs(one, zero));
  EXPECT_FALSE(vrs(n, one));
  EXPECT_FALSE(vrs(one, n));
  // u1·G + u2·H at infinity: H = G, e = 0 and r = s give u1 + u2 = ... a sum
  // of zero when e·w = -r·w, i.e. e = n - r
  {
    const LvN nn(n.data(), n.size());
    const LvN r = LvN(5u, 1);
    Bytes e(32);
    (nn - r).getOctets(e.data(), 32, 1);
    const Bytes rb{5}, sb{7};
    bool ok = true;
    EXPECT_NO_THROW(ok = sig.verify(e.data(), e.size(), rb.data(), 1, sb.data(), 1));
    EXPECT_FALSE(ok);
  }
  // encoded forms: wrong tags, lengths past the buffer, too many length
  // octets, trailing data, negative or padded integers
  const std::vector<Bytes> bad = {
      {},
      {0x02},
      {0x02, 0x01, 0x05},
      {0x03, 0x01, 0x05, 0x02, 0x01, 0x07},
      {0x02, 0x01, 0x05, 0x04, 0x01, 0x07},
      {0x02, 0x05, 0x05, 0x02, 0x01, 0x07},
      {0x02, 0x01, 0x05, 0x02, 0x02, 0x07},
      {0x02, 0x85, 0, 0, 0, 0, 1, 0x05, 0x02, 0x01, 0x07},
      {0x02, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x05},
      {0x02, 0x81, 0x01, 0x05, 0x02, 0x01, 0x07},
      {0x02, 0x01, 0x05, 0x02, 0x01, 0x07, 0x00},
      {0x02, 0x01, 0x85, 0x02, 0x01, 0x07},
      {0x02, 0x02, 0x00, 0x05, 0x02, 0x01, 0x07},
      {0x02, 0x00, 0x02, 0x01, 0x07},
  };
  for (const Bytes& b : bad) {
    bool ok = true;
    EXPECT_NO_THROW(ok = sig.verify(d.data(), d.size(), b.data(), b.size()));
    EXPECT_FALSE(ok);
  }
  EXPECT_NO_THROW(sig.verify(d.data(), d.size(), nullptr, 0));
  // a missing key throws
  LvGeneralDsaSig none;
  EXPECT_THROW(none.verify(d.data(), d.size(), one.data(), 1, one.data(), 1), LvNotInitException);
  // setH refuses the point at infinity and points off the curve, keeping H
  const Bytes inf{0};
  EXPECT_THROW(key.setH(inf.data(), 1), LvWrongSyntaxException);
  Bytes off = c.G;
  off.back() ^= 1;
  EXPECT_THROW(key.setH(off.data(), off.size()), LvWrongSyntaxException);
  Bytes out(65);
  EXPECT_EQ(65u, key.get(out.data(), out.size()));
  EXPECT_EQ(c.G, out);
}

// A composite order: an s without inverse answers false instead of throwing.
TEST(EcdsaScheme, CompositeOrderAnswersFalse) {
  auto domain = domainOf("secp256r1", false);
  const Bytes composite{0x0F};  // 15
  domain->setOrder(composite.data(), 1);
  domain->markValid();
  LvGeneralDsaPublicKey key;
  key.setDomain(domain.get());
  const CurveParams& c = curve("secp256r1");
  key.setH(c.G.data(), c.G.size());
  LvGeneralDsaSig sig;
  sig.setPublicKey(&key);
  const Bytes d{1}, r{2}, s{5};
  bool ok = true;
  EXPECT_NO_THROW(ok = sig.verify(d.data(), 1, r.data(), 1, s.data(), 1));
  EXPECT_FALSE(ok);
  EXPECT_NO_THROW(key.isValid());
}

namespace {

// Gives k = 0 (mod n) first, then ordinary octets.
class ZeroFirstRbg : public CountingRbg {
 public:
  void fillOctets(LvOctet* dst, unsigned int n) override {
    if (calls++ == 0) {
      for (unsigned int i = 0; i < n; i++) dst[i] = 0;
      return;
    }
    CountingRbg::fillOctets(dst, n);
  }
  int calls = 0;
};

// Always zero: no k can be used.
class ZeroRbg : public CountingRbg {
 public:
  void fillOctets(LvOctet* dst, unsigned int n) override {
    for (unsigned int i = 0; i < n; i++) dst[i] = 0;
  }
};

}  // namespace

TEST(EcdsaScheme, SigningDrawsAgainAndTruncatesLongDigests) {
  auto domain = domainOf("secp256r1");
  LvGeneralDsaPrivateKey priv;
  priv.setDomain(domain.get());
  const Bytes dk{0x12, 0x34, 0x56};
  priv.setKey(dk.data(), dk.size());
  LvGeneralDsaSig s;
  s.setPrivateKey(&priv);
  EXPECT_EQ(2u * 32 + 14, s.getMaxSignatureOctets());
  const Bytes digest64(64, 0xA5);
  Bytes out(80);
  EXPECT_THROW(s.sign(digest64.data(), 64, out.data(), out.size()), LvNotInitException);
  ZeroFirstRbg rbg;
  s.setRbg(&rbg);
  const unsigned int len = s.sign(digest64.data(), 64, out.data(), out.size());
  EXPECT_GE(rbg.calls, 2);
  // verifying with the leftmost 256 bits of the digest gives the same answer
  std::unique_ptr<LvGroupElem> H(
      domain->getGroup()->createMul(LvN(dk.data(), 3), domain->getGen()));
  LvGeneralDsaPublicKey pub;
  pub.setDomain(domain.get());
  pub.setH(H.get());
  LvGeneralDsaSig v;
  v.setPublicKey(&pub);
  EXPECT_TRUE(v.verify(digest64.data(), 64, out.data(), len));
  EXPECT_TRUE(v.verify(digest64.data(), 32, out.data(), len));
  EXPECT_FALSE(v.verify(digest64.data(), 31, out.data(), len));
  // r with a set top bit carries a leading 00
  EXPECT_EQ(0x02, out[0]);
  if (out[1] == 0x21) {
    EXPECT_EQ(0, out[2]);
  }
  // too short a buffer
  EXPECT_THROW(s.sign(digest64.data(), 64, out.data(), 10), LvArgumentRangeException);
  // a generator that never gives a usable k ends with an exception
  ZeroRbg zero;
  s.setRbg(&zero);
  EXPECT_THROW(s.sign(digest64.data(), 64, out.data(), out.size()), LvRbgCycleException);
}

// Octets from strangers: random point encodings and signatures never crash
// and fail only with the library's exceptions; hostile explicit domains fail
// validation without throwing.
TEST(EcdsaScheme, RandomInputAndHostileDomains) {
  std::mt19937 rng(99);
  for (const char* name : {"secp256r1", "brainpoolP256r1", "secp521r1", "secp160k1"}) {
    auto domain = domainOf(name);
    const CurveParams& c = curve(name);
    LvGeneralDsaPublicKey key;
    key.setDomain(domain.get());
    key.setH(c.G.data(), c.G.size());
    LvGeneralDsaSig sig;
    sig.setPublicKey(&key);
    for (int i = 0; i < 300; i++) {
      Bytes b(rng() % 140);
      for (auto& x : b) x = static_cast<std::uint8_t>(rng());
      if (!b.empty() && i % 3 == 0) b[0] = static_cast<std::uint8_t>(2 + rng() % 3);
      if (i % 5 == 0) b.resize(c.G.size());
      try {
        std::unique_ptr<LvGroupElem> e(domain->getGroup()->createNew(b.data(), b.size()));
      } catch (const LvException&) {
      }
      LvGeneralDsaPublicKey k2;
      k2.setDomain(domain.get());
      try {
        k2.setH(b.data(), b.size());
        EXPECT_TRUE(domain->getGroup()->isElement(k2.getH()));
      } catch (const LvException&) {
      }
      const Bytes d(32, static_cast<std::uint8_t>(i));
      Bytes s = b;
      if (s.size() > 4 && i % 2 == 0) {
        s[0] = 0x02;
        s[1] = static_cast<std::uint8_t>(rng() % (s.size() - 2));
      }
      EXPECT_NO_THROW(sig.verify(d.data(), d.size(), s.data(), s.size()));
    }
  }
  // explicit parameters with an even, tiny or zero prime
  const CurveParams& c = curve("secp256r1");
  for (const Bytes& p : {Bytes{0}, Bytes{1}, Bytes{0x10, 0}, Bytes{0x0F}}) {
    LvEpDsaKeyDomain d;
    try {
      d.setCurve(c.a.data(), c.a.size(), c.b.data(), c.b.size(), p.data(), p.size());
      d.setGen(c.G.data(), c.G.size());
      d.setOrder(c.n.data(), c.n.size());
      d.setCofactor(c.h.data(), c.h.size());
    } catch (const LvException&) {
    }
    bool ok = true;
    EXPECT_NO_THROW(ok = d.validate());
    EXPECT_FALSE(ok);
  }
}
