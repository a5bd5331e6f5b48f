// DSA against independent data: Project Wycheproof, NIST CAVP SigVer and
// PQGVer, signatures made by `openssl dgst -sign`, and signatures made here
// that `openssl dgst -verify` accepted (tests/data/ec/make_fixtures.py).
// Also the GF(p) public key and domain checks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <nlohmann/json.hpp>
#include <sstream>

#include "crypto/asym/ec_sig_util.h"

using namespace ectest;

namespace {

std::unique_ptr<LvDsaKeyDomain> dsaDomain(const Bytes& p, const Bytes& q, const Bytes& g,
                                          bool markValid = true) {
  std::unique_ptr<LvDsaKeyDomain> d(new LvDsaKeyDomain());
  d->setP(p.data(), p.size());
  d->setQ(q.data(), q.size());
  d->setG(g.data(), g.size());
  if (markValid) d->markValid();
  return d;
}

bool verifyDsa(LvDsaKeyDomain* domain, const Bytes& y, LvHashAlgo h, const Bytes& msg,
               const Bytes& rs) {
  LvDsaPublicKey key;
  key.setDomain(domain);
  key.set(y.data(), y.size());
  LvDsaSig sig;
  sig.setPublicKey(&key);
  const Bytes d = digest(h, msg);
  return sig.verify(d.data(), d.size(), rs.data(), rs.size());
}

}  // namespace

class DsaWycheproof : public ::testing::TestWithParam<const char*> {};

TEST_P(DsaWycheproof, Verify) {
  std::ifstream in(dataPath(std::string("dsa_") + GetParam() + "_test.json"));
  ASSERT_TRUE(in.good());
  nlohmann::json j;
  in >> j;
  int valid = 0, invalid = 0;
  for (const auto& group : j["testGroups"]) {
    const auto& pk = group["publicKey"];
    auto domain = dsaDomain(hex(pk["p"]), hex(pk["q"]), hex(pk["g"]));
    const LvHashAlgo h = hashId(group["sha"]);
    const Bytes y = hex(pk["y"]);
    for (const auto& t : group["tests"]) {
      Bytes rs;
      bool ok = false;
      if (sequenceContents(hex(t["sig"]), rs)) {
        EXPECT_NO_THROW(ok = verifyDsa(domain.get(), y, h, hex(t["msg"]), rs)) << t["tcId"];
      }
      const std::string result = t["result"];
      if (result == "valid") {
        EXPECT_TRUE(ok) << "tcId " << t["tcId"] << " " << t["comment"];
        valid++;
      } else if (result == "invalid") {
        EXPECT_FALSE(ok) << "tcId " << t["tcId"] << " " << t["comment"];
        invalid++;
      } else {
        // the one acceptable case is a BER integer without its leading zero;
        // strict DER refuses it
        EXPECT_FALSE(ok) << "tcId " << t["tcId"];
      }
    }
  }
  EXPECT_GT(valid, 0);
  EXPECT_GT(invalid, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DsaWycheproof,
                         ::testing::Values("2048_224_sha224", "2048_224_sha256", "2048_256_sha256",
                                           "3072_256_sha256"));

// SigVer: every group size and hash, digests longer than q cut to their
// leftmost bits.
TEST(DsaCavp, SigVer) {
  std::ifstream in(dataPath("dsa_SigVer.rsp"));
  ASSERT_TRUE(in.good());
  std::string line, section;
  std::map<std::string, std::string> f;
  std::unique_ptr<LvDsaKeyDomain> domain;
  int passes = 0, fails = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = line;
      continue;
    }
    const auto eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string k = line.substr(0, eq), v = line.substr(eq + 3);
    f[k] = v;
    if (k == "G") domain = dsaDomain(hex(f["P"]), hex(f["Q"]), hex(f["G"]));
    if (k != "Result") continue;
    const LvHashAlgo h =
        hashId(section.substr(section.rfind(' ') + 1, section.size() - section.rfind(' ') - 2));
    LvDsaPublicKey key;
    key.setDomain(domain.get());
    const Bytes y = hex(f["Y"]);
    key.set(y.data(), y.size());
    LvDsaSig sig;
    sig.setPublicKey(&key);
    const Bytes d = digest(h, hex(f["Msg"]));
    const Bytes r = hex(f["R"]), s = hex(f["S"]);
    const bool ok = sig.verify(d.data(), d.size(), r.data(), r.size(), s.data(), s.size());
    const bool expected = v[0] == 'P';
    EXPECT_EQ(expected, ok) << section << " " << v;
    (expected ? passes : fails)++;
  }
  EXPECT_GT(passes, 30);
  EXPECT_GT(fails, 100);
}

// PQGVer (A.1.1.3): the primes and q | p - 1 decide; validation without a seed
// checks exactly those.
TEST(DsaCavp, PQGVerWithoutSeed) {
  std::ifstream in(dataPath("dsa_PQGVer_A113.rsp"));
  ASSERT_TRUE(in.good());
  std::string line;
  std::map<std::string, std::string> f;
  int decided = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    f[line.substr(0, eq)] = line.substr(eq + 3);
    if (line.substr(0, eq) != "Result") continue;
    const std::string res = f["Result"];
    const bool pass = res[0] == 'P';
    const bool structural = pass || res.find("not prime") != std::string::npos ||
                            res.find("doesn't div") != std::string::npos;
    if (!structural) continue;  // seed re-derivation of FIPS 186-3 is not ours
    const LvN p(hex(f["P"]).data(), hex(f["P"]).size()), q(hex(f["Q"]).data(), hex(f["Q"]).size());
    LvDsaKeyDomain d;
    const Bytes pb = hex(f["P"]), qb = hex(f["Q"]);
    d.setP(pb.data(), pb.size());
    d.setQ(qb.data(), qb.size());
    bool ok = false;
    try {
      const LvN g = computeGenerator(p, q);
      Bytes gb(g.getOctetLength());
      g.getOctets(gb.data(), gb.size());
      d.setG(gb.data(), gb.size());
      EXPECT_NO_THROW(ok = d.validate());
    } catch (const LvException&) {
      ok = false;
    }
    EXPECT_EQ(pass, ok) << res;
    EXPECT_EQ(LV_DOMAIN_DSA, d.getDomainType());
    decided++;
  }
  EXPECT_GT(decided, 20);
}

TEST(DsaOpenssl, SignaturesMadeByOpensslVerify) {
  std::ifstream in(dataPath("openssl_sigs.txt"));
  ASSERT_TRUE(in.good());
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string kind, size, md, p, q, g, y, msg, sigHex;
    ls >> kind;
    if (kind != "dsa") continue;
    ls >> size >> md >> p >> q >> g >> y >> msg >> sigHex;
    auto domain = dsaDomain(hex(p), hex(q), hex(g), false);
    EXPECT_TRUE(domain->validate()) << size;
    Bytes rs;
    ASSERT_TRUE(sequenceContents(hex(sigHex), rs));
    Bytes m = hex(msg);
    EXPECT_TRUE(verifyDsa(domain.get(), hex(y), hashId(md), m, rs)) << size << " " << md;
    m.back() ^= 1;
    EXPECT_FALSE(verifyDsa(domain.get(), hex(y), hashId(md), m, rs)) << size << " " << md;
    LvDsaPublicKey key;
    key.setDomain(domain.get());
    const Bytes yb = hex(y);
    key.set(yb.data(), yb.size());
    EXPECT_TRUE(key.isValid());
    count++;
  }
  EXPECT_GE(count, 10);
}

// Our signatures with a fixed key and generator over the openssl domains verify
// here and with `openssl dgst -verify` run now, which refuses them over another
// message.
TEST(DsaOpenssl, OurSignaturesVerifyWithOpenssl) {
  OpensslDgst openssl;
  ASSERT_TRUE(openssl.ready()) << "the openssl command is needed";
  std::ifstream in(dataPath("openssl_sigs.txt"));
  ASSERT_TRUE(in.good());
  std::string line, last;
  int i = 0;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string kind, size, md, p, q, g, y, msg, sigHex;
    ls >> kind >> size >> md >> p >> q >> g;
    if (kind != "dsa" || size == last) continue;
    last = size;
    auto domain = dsaDomain(hex(p), hex(q), hex(g));
    const LvN qn = domain->getQ();
    Bytes xb(qn.getOctetLength());
    for (std::size_t k = 0; k < xb.size(); k++) xb[k] = static_cast<std::uint8_t>(0x61 + 3 * k + i);
    const LvN x = LvN(xb.data(), xb.size()) % qn;
    const LvN yv = pow(LvZn(domain->getG(), &domain->getP()), x).getN();
    LvDsaPrivateKey priv;
    priv.setDomain(domain.get());
    priv.setX(x);
    priv.setY(yv);
    CountingRbg rbg(static_cast<std::uint8_t>(9 + i));
    LvDsaSig s;
    s.setPrivateKey(&priv);
    s.setRbg(&rbg);
    s.setHashAlgo(hashId(md));
    Bytes m(33 + i);
    for (std::size_t k = 0; k < m.size(); k++) m[k] = static_cast<std::uint8_t>(k ^ 0x5A);
    Bytes rs(s.getMaxSignatureOctets());
    rs.resize(s.signMessage(m.data(), m.size(), rs.data(), rs.size(), 0));
    Bytes yb(yv.getOctetLength());
    yv.getOctets(yb.data(), yb.size());
    EXPECT_TRUE(verifyDsa(domain.get(), yb, hashId(md), m, rs));
    const Bytes spki = dsaSpki(hex(p), hex(q), hex(g), yb);
    EXPECT_TRUE(openssl.verifies(spki, md, m, tlv(0x30, rs))) << size << " " << md;
    m[0] ^= 1;
    EXPECT_FALSE(openssl.verifies(spki, md, m, tlv(0x30, rs))) << size << " " << md;
    i++;
  }
  EXPECT_GE(i, 3);
}

namespace {

// p = 2·q·k + 1 small enough to reason about: p = 607, q = 101, g = 64 (order 101)
std::unique_ptr<LvDsaKeyDomain> smallDomain() {
  std::unique_ptr<LvDsaKeyDomain> d(new LvDsaKeyDomain());
  d->setP("607");
  d->setQ("101");
  d->setG("64");
  return d;
}

}  // namespace

TEST(DsaKeys, PublicKeyChecksAndAccessors) {
  auto d = smallDomain();
  EXPECT_TRUE(d->validate());
  EXPECT_EQ(LvN(64u, 1), d->getG());
  LvDsaPublicKey key;
  EXPECT_THROW(key.getP(), LvNotInitException);
  try {
    key.getQ();
    FAIL();
  } catch (const LvNotInitException& e) {
    EXPECT_NE(nullptr, std::strstr(e.what(), "REASON: LV-ACCESS: Uninitialised domain.\n"));
  }
  Bytes buf(8);
  EXPECT_THROW(key.getG(buf.data(), buf.size()), LvNotInitException);
  EXPECT_THROW(key.isValid(), LvNotInitException);
  key.setDomain(d.get());
  EXPECT_EQ(10u, key.getKeyBits());
  auto check = [&](const char* y) {
    key.set(y);
    return key.isValid();
  };
  EXPECT_FALSE(check("1"));
  EXPECT_THROW(check("0"), LvNotInitException);  // y = 0 is no key at all
  EXPECT_FALSE(check("64"));                     // y = g
  EXPECT_FALSE(check("607"));
  EXPECT_FALSE(check("606"));  // (p-1)^q = -1 for odd q
  EXPECT_TRUE(check("454"));   // 64^2 mod 607
  EXPECT_FALSE(check("2"));    // not in the subgroup
  // an unchecked domain is refused and the old one kept
  auto u = smallDomain();
  EXPECT_THROW(key.setDomain(u.get()), LvInvalidKeyException);
  EXPECT_EQ(d.get(), key.getDomain());
  // invalid domains
  LvDsaKeyDomain bad;
  bad.setP("607");
  bad.setQ("101");
  bad.setG("1");
  EXPECT_FALSE(bad.validate());
  EXPECT_THROW(key.setDomain(&bad), LvInvalidKeyException);
  LvDsaKeyDomain composite;
  composite.setP("609");
  composite.setQ("101");
  composite.setG("64");
  bool ok = true;
  EXPECT_NO_THROW(ok = composite.validate());
  EXPECT_FALSE(ok);
}

TEST(DsaScheme, SignVerifyAndKeyPairs) {
  auto d = smallDomain();
  ASSERT_TRUE(d->validate());
  LvDsaPublicKey pub;
  LvDsaPrivateKey priv;
  CountingRbg rbg;
  generateKeyPair(pub, priv, d.get(), &rbg);
  EXPECT_TRUE(priv.getX() > 1u && priv.getX() + 2u <= d->getQ());
  EXPECT_TRUE(pub.isValid());
  LvDsaSig s;
  s.setPrivateKey(&priv);
  s.setHashAlgo(LV_HASH_SHA256);
  Bytes out(s.getMaxSignatureOctets());
  const Bytes msg{1, 2, 3};
  EXPECT_THROW(s.signMessage(msg.data(), 3, out.data(), out.size(), 0), LvNotInitException);
  s.setRbg(&rbg);
  const unsigned int len = s.signMessage(msg.data(), 3, out.data(), out.size(), 0);
  LvDsaSig v;
  v.setPublicKey(&pub);
  v.setHashAlgo(LV_HASH_SHA256);
  EXPECT_TRUE(v.verifyMessage(msg.data(), 3, out.data(), len, 0));
  const Bytes other{1, 2, 4};
  EXPECT_FALSE(v.verifyMessage(other.data(), 3, out.data(), len, 0));
  // a digest longer than the one in use is refused when signing
  const Bytes longDigest(40, 7);
  EXPECT_THROW(s.sign(longDigest.data(), 40, out.data(), out.size()), LvMessageToLongException);
  // out-of-range and malformed values answer false
  const Bytes d32(32, 1), zero{0}, q{101}, one{1};
  EXPECT_FALSE(v.verify(d32.data(), 32, zero.data(), 1, one.data(), 1));
  EXPECT_FALSE(v.verify(d32.data(), 32, one.data(), 1, q.data(), 1));
  const Bytes trunc{0x02, 0x01};
  EXPECT_FALSE(v.verify(d32.data(), 32, trunc.data(), trunc.size()));
  LvDsaSig none;
  EXPECT_THROW(none.verify(d32.data(), 32, one.data(), 1, one.data(), 1), LvNotInitException);
  EXPECT_THROW(none.getMaxSignatureOctets(), LvNotInitException);
  // a domain with a composite q: s without inverse answers false
  LvDsaKeyDomain cq;
  cq.setP("607");
  cq.setQ("606");
  cq.setG("64");
  cq.markValid();
  LvDsaPublicKey k2;
  k2.setDomain(&cq);
  k2.set("454");
  LvDsaSig v2;
  v2.setPublicKey(&k2);
  const Bytes two{2}, six{6};
  bool ok = true;
  EXPECT_NO_THROW(ok = v2.verify(d32.data(), 32, two.data(), 1, six.data(), 1));
  EXPECT_FALSE(ok);
  // key pairs need a ready domain of a useful size
  LvDsaKeyDomain empty;
  EXPECT_THROW(generateKeyPair(pub, priv, &empty, &rbg), LvNotInitException);
  LvDsaKeyDomain tiny;
  tiny.setP("7");
  tiny.setQ("3");
  tiny.setG("2");
  tiny.markValid();
  EXPECT_THROW(generateKeyPair(pub, priv, &tiny, &rbg), LvArgumentRangeException);
}

namespace {

// Key = value records of a CAVP file with the "[mod = L=.., N=.., SHA-..]"
// section they stand in; a record ends at `lastKey`.
struct PqgRecord {
  unsigned int L = 0, N = 0;
  std::string hash;
  std::map<std::string, std::string> f;
};

std::vector<PqgRecord> readPqg(const std::string& file, const std::string& lastKey) {
  std::ifstream in(dataPath(file));
  EXPECT_TRUE(in.good()) << file;
  std::vector<PqgRecord> out;
  PqgRecord cur;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("[mod = L=", 0) == 0) {
      cur = PqgRecord();
      cur.L = static_cast<unsigned int>(std::stoul(line.substr(9)));
      cur.N = static_cast<unsigned int>(std::stoul(line.substr(line.find("N=") + 2)));
      const auto sp = line.rfind(' ');
      cur.hash = line.substr(sp + 1, line.size() - sp - 2);
      continue;
    }
    const auto eq = line.find(" = ");
    if (eq == std::string::npos || cur.L == 0) continue;
    cur.f[line.substr(0, eq)] = line.substr(eq + 3);
    if (line.substr(0, eq) == lastKey) {
      out.push_back(cur);
      cur.f.clear();
    }
  }
  return out;
}

// The generator increments its seed before the first hash: one less than the
// published domain parameter seed gives the published q first.
Bytes seedBefore(Bytes seed) {
  for (std::size_t i = seed.size(); i-- > 0;)
    if (seed[i]-- != 0) break;
  return seed;
}

// FIPS 186-3 generation in FIPS mode; true when it gave p and q.
bool generatesPq(const PqgRecord& r, const std::string& seedKey) {
  std::unique_ptr<LvHash> h(lvHashCreateObject(hashId(r.hash)));
  const Bytes seed = seedBefore(hex(r.f.at(seedKey)));
  LvDsaKeyDomain d;
  d.setOption(1);
  d.generateFips186_3(seed.data(), 8 * static_cast<unsigned int>(seed.size()), r.N, r.L, h.get());
  EXPECT_EQ(0u, d.getStatus()) << d.getInfo().getText();
  EXPECT_STREQ("DSA domain generated.", d.getInfo().getText());
  Bytes p(r.L / 8), q(r.N / 8);
  p.resize(d.getP(p.data(), static_cast<unsigned int>(p.size())));
  q.resize(d.getQ(q.data(), static_cast<unsigned int>(q.size())));
  // the generator of the domain has order q
  const LvN g = d.getG();
  EXPECT_TRUE(g > 1u && pow(LvZn(g, &d.getP()), d.getQ()) == 1);
  return p == hex(r.f.at("P")) && q == hex(r.f.at("Q"));
}

// Counters the generation test walks through, per prime size (the search is
// slow at the larger sizes).
unsigned int counterLimit(unsigned int L) { return L <= 1024 ? 120 : L <= 2048 ? 70 : 20; }

}  // namespace

// FIPS 186-3 A.1.1.2 generation against CAVP PQGGen, every size and hash
// where the published counter is low.
TEST(DsaGeneration, Fips186_3MatchesPQGGen) {
  int done = 0;
  std::set<unsigned int> sizes;
  for (const PqgRecord& r : readPqg("dsa_PQGGen_A112.rsp", "counter")) {
    if (std::stoul(r.f.at("counter")) > counterLimit(r.L)) continue;
    EXPECT_TRUE(generatesPq(r, "domain_parameter_seed"))
        << r.L << "/" << r.N << " " << r.hash << " counter " << r.f.at("counter");
    sizes.insert(r.L);
    done++;
  }
  EXPECT_GE(done, 10);
  EXPECT_EQ(3u, sizes.size());
}

// PQGVer A.1.1.3: the domains CAVP accepts come out of the generation from
// their seed (low counters only); those it refuses do not validate.
TEST(DsaGeneration, Fips186_3ReproducesPQGVer) {
  int done = 0;
  for (const PqgRecord& r : readPqg("dsa_PQGVer_A113.rsp", "Result")) {
    if (r.f.at("Result")[0] != 'P' || std::stoul(r.f.at("c")) > counterLimit(r.L)) continue;
    EXPECT_TRUE(generatesPq(r, "Seed")) << r.L << "/" << r.N << " " << r.hash;
    done++;
  }
  EXPECT_GE(done, 2);
}

// PQGVer A.2.2: a generator is valid when it has order q; the modified ones
// are refused by the domain validation, without a throw.
TEST(DsaCavp, PQGVerGenerators) {
  int passes = 0, fails = 0;
  for (const PqgRecord& r : readPqg("dsa_PQGVer_A22.rsp", "Result")) {
    if (r.L > 2048) continue;  // the larger primality tests add time, not evidence
    const bool pass = r.f.at("Result")[0] == 'P';
    const Bytes p = hex(r.f.at("P")), q = hex(r.f.at("Q")), g = hex(r.f.at("G"));
    LvDsaKeyDomain d;
    d.setP(p.data(), static_cast<unsigned int>(p.size()));
    d.setQ(q.data(), static_cast<unsigned int>(q.size()));
    d.setG(g.data(), static_cast<unsigned int>(g.size()));
    bool ok = !pass;
    EXPECT_NO_THROW(ok = d.validate());
    EXPECT_EQ(pass, ok) << r.L << "/" << r.N << " " << r.f.at("Result");
    (pass ? passes : fails)++;
  }
  EXPECT_GT(passes, 5);
  EXPECT_GT(fails, 10);
}

// The worked example of FIPS 186-2 Appendix 5: SEED, counter 105 and the
// published p, q and g (h = 2) at L = 512.
TEST(DsaGeneration, Fips186_2AppendixExample) {
  const Bytes seed = hex("d5014e4b60ef2ba8b6211b4062ba3224e0427dd3");
  LvGFpKeyDomain d;
  ASSERT_TRUE(d.generate(seed.data(), 20, 160, 512, nullptr, nullptr));
  EXPECT_EQ(LV_DOMAIN_VALID, d.getValidity());
  EXPECT_EQ(105u, d.getCounter());
  Bytes p(64), q(20), g(64), s(20);
  p.resize(d.getP(p.data(), 64));
  q.resize(d.getQ(q.data(), 20));
  g.resize(d.getG(g.data(), 64));
  EXPECT_EQ(20u, d.getSeed(s.data(), 20));
  EXPECT_EQ(seed, s);
  EXPECT_EQ(hex("8df2a494492276aa3d25759bb06869cbeac0d83afb8d0cf7cbb8324f0d7882e5d0762fc5b7210eaf"
                "c2e9adac32ab7aac49693dfbf83724c2ec0736ee31c80291"),
            p);
  EXPECT_EQ(hex("c773218c737ec8ee993b4f2ded30f48edace915f"), q);
  EXPECT_EQ(hex("626d027839ea0a13413163a55b4cb500299d5522956cefcb3bff10f399ce2c2e71cb9de5fa24babf"
                "58e5b79521925c9cc42e9f6f464b088cc572af53e6d78802"),
            g);
}

// A domain whose validation refuses: generation must pass that answer on.
TEST(DsaGeneration, AnswersWhatValidationAnswered) {
  struct RefusingDomain : LvGFpKeyDomain {
    bool validate() override {
      LvGFpKeyDomain::validate();
      validity = LV_DOMAIN_INVALID;
      return false;
    }
  };
  const Bytes seed = hex("d5014e4b60ef2ba8b6211b4062ba3224e0427dd3");
  RefusingDomain bad;
  EXPECT_FALSE(bad.generate(seed.data(), 20, 160, 512, nullptr, nullptr));
  EXPECT_EQ(LV_DOMAIN_INVALID, bad.getValidity());
  LvGFpKeyDomain good;
  EXPECT_TRUE(good.generate(seed.data(), 20, 160, 512, nullptr, nullptr));
}

namespace {

// Gives the octets it was loaded with first, then counting octets.
class ScriptedRbg : public CountingRbg {
 public:
  explicit ScriptedRbg(const Bytes& first) : first_(first) {}
  void fillOctets(LvOctet* dst, unsigned int n) override {
    if (!used_) {
      used_ = true;
      ASSERT_EQ(first_.size(), n);
      std::copy(first_.begin(), first_.end(), dst);
      return;
    }
    CountingRbg::fillOctets(dst, n);
  }

 private:
  Bytes first_;
  bool used_ = false;
};

}  // namespace

// KeyPair: a generator that yields X (below q, so X mod q = X) makes
// generateKeyPair give the published Y, and the pair test passes.
TEST(DsaCavp, KeyPairGeneration) {
  std::ifstream in(dataPath("dsa_KeyPair.rsp"));
  ASSERT_TRUE(in.good());
  std::string line;
  std::map<std::string, std::string> f;
  std::unique_ptr<LvDsaKeyDomain> domain;
  int count = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string k = line.substr(0, eq);
    f[k] = line.substr(eq + 3);
    if (k == "G") {
      domain = dsaDomain(hex(f["P"]), hex(f["Q"]), hex(f["G"]), false);
      EXPECT_TRUE(domain->validate());
    }
    if (k != "Y" || !domain) continue;
    const LvN q = domain->getQ();
    Bytes x = hex(f["X"]);
    Bytes draw(2 * q.getOctetLength() - x.size(), 0);
    draw.insert(draw.end(), x.begin(), x.end());
    ScriptedRbg rbg(draw);
    LvDsaPublicKey pub;
    LvDsaPrivateKey priv;
    generateKeyPair(pub, priv, domain.get(), &rbg);
    const Bytes y = hex(f["Y"]);
    EXPECT_EQ(LvN(y.data(), static_cast<unsigned int>(y.size())), pub.getKey());
    EXPECT_EQ(pub.getKey(), priv.getY());
    EXPECT_EQ(LvN(x.data(), static_cast<unsigned int>(x.size())), priv.getX());
    EXPECT_TRUE(pub.isValid());
    count++;
  }
  EXPECT_GE(count, 30);
}

TEST(DsaGeneration, RefusalsAndTheSha1Method) {
  std::unique_ptr<LvHash> sha256(lvHashCreateObject(LV_HASH_SHA256));
  const Bytes seed(32, 0x42);
  auto refused = [&](LvDsaKeyDomain& d, unsigned int seedBits, unsigned int N, unsigned int L) {
    d.generateFips186_3(seed.data(), seedBits, N, L, sha256.get());
    EXPECT_EQ(1u, d.getStatus());
    EXPECT_FALSE(d.isReady());
    return std::string(d.getInfo().getText());
  };
  LvDsaKeyDomain fips;
  fips.setOption(1);
  EXPECT_EQ(
      "Fips standard is enabled: pBits must be equal to 2048 or 3072 when qBits is 256 for domain "
      "generation process. Check FIPS 186-3 A.1.1.2 (1).",
      refused(fips, 256, 256, 1024));
  EXPECT_EQ(
      "Fips standard is enabled: qBits must be equal to 160, 224 or 256 for domain generation "
      "process. Check FIPS 186-3 A.1.1.2 (1).",
      refused(fips, 256, 192, 2048));
  LvDsaKeyDomain strong;
  strong.setSecurityStrength(129);
  EXPECT_EQ("Domain size is too small for this security level.", refused(strong, 256, 224, 2048));
  LvDsaKeyDomain shortSeed;
  EXPECT_EQ("Seed is too small. Check FIPS 186-3 A.1.1.2 (2).", refused(shortSeed, 159, 160, 1024));
  // a p no longer than q cannot be 1 mod 2q: refused instead of searching
  // for ever
  LvDsaKeyDomain flat;
  EXPECT_EQ("pBits must be at least qBits + 32 for domain generation process.",
            refused(flat, 256, 160, 160));
  LvDsaKeyDomain noHash;
  noHash.generateFips186_3(seed.data(), 256, 160, 1024, nullptr);
  EXPECT_EQ(1u, noHash.getStatus());
  EXPECT_STREQ("Hash function is not initialised.", noHash.getInfo().getText());
  LvDsaKeyDomain shall;
  shall.setOptionB(4);
  EXPECT_EQ(
      "CheckIfShallIsFulfilled option is enabled: seedBits shall be at least equal to qBits for "
      "domain generation process.",
      refused(shall, 159, 160, 1024));

  LvDsaKeyDomain dsa;
  CountingRbg rbg;
  EXPECT_FALSE(dsa.generate(&rbg, 224, 2048, nullptr, nullptr));
  EXPECT_FALSE(dsa.generate(seed.data(), 19, 160, 1024, nullptr, nullptr));
  // the SHA-1 method: validation re-derives q and p from the seed and counter
  LvGFpKeyDomain gfp;
  EXPECT_FALSE(gfp.generate(seed.data(), 20, 160, 190, nullptr, nullptr));
  ASSERT_TRUE(gfp.generate(seed.data(), 20, 160, 512, nullptr, nullptr));
  EXPECT_EQ(LV_DOMAIN_VALID, gfp.getValidity());
  EXPECT_EQ(160u, gfp.getQ().getBitLength());
  EXPECT_EQ(512u, gfp.getP().getBitLength());
  Bytes s(20), c(4);
  ASSERT_EQ(20u, gfp.getSeed(s.data(), s.size()));
  c.resize(gfp.getCounter(c.data(), c.size()));
  LvGFpKeyDomain copy;
  Bytes p(64), q(20), g(64);
  p.resize(gfp.getP(p.data(), p.size()));
  q.resize(gfp.getQ(q.data(), q.size()));
  g.resize(gfp.getG(g.data(), g.size()));
  copy.setP(p.data(), p.size());
  copy.setQ(q.data(), q.size());
  copy.setG(g.data(), g.size());
  copy.setSeedAndCounter(s.data(), s.size(), c.data(), c.size());
  EXPECT_TRUE(copy.validate());
  const Bytes other{static_cast<std::uint8_t>(gfp.getCounter() + 1)};
  copy.setCounter(other.data(), 1);
  EXPECT_FALSE(copy.validate());
  // an interrupt ends the generation
  LvGFpKeyDomain stopped;
  EXPECT_THROW(stopped.generate(
                   seed.data(), 20, 160, 512, [](void*) { return 1; }, nullptr),
               LvInterruptException);
}
