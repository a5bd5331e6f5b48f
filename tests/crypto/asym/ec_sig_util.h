// Test helpers of the DSA and EC-DSA tests: domains from the openssl curve
// parameters, digests, and the SEQUENCE around a DER signature (which the
// X.509 layer removes before the schemes see (r, s)).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "crypto/algebra/ec_curves.h"
#include "crypto/asym/lvdsa.h"
#include "crypto/asym/lvgeneraldsa.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbg.h"

namespace ectest {

inline LvHashAlgo hashId(std::string name) {
  for (auto& ch : name) ch = static_cast<char>(toupper(ch));
  std::string n;
  for (char ch : name)
    if (ch != '-') n += ch;
  if (n == "SHA1") return LV_HASH_SHA1;
  if (n == "SHA224") return LV_HASH_SHA224;
  if (n == "SHA256") return LV_HASH_SHA256;
  if (n == "SHA384") return LV_HASH_SHA384;
  if (n == "SHA512") return LV_HASH_SHA512;
  throw std::runtime_error("unknown hash " + name);
}

inline Bytes digest(LvHashAlgo id, const Bytes& msg) {
  std::unique_ptr<LvHash> h(lvHashCreateObject(id));
  h->hash(msg.data(), static_cast<unsigned int>(msg.size()));
  return Bytes(h->getHashPtr(), h->getHashPtr() + h->getHashOctets());
}

// A named-curve domain: built from its parameters and marked valid.
inline std::unique_ptr<LvEpDsaKeyDomain> domainOf(const std::string& name, bool markValid = true) {
  const CurveParams& c = curve(name);
  std::unique_ptr<LvEpDsaKeyDomain> d(new LvEpDsaKeyDomain());
  d->setCurve(c.a.data(), c.a.size(), c.b.data(), c.b.size(), c.p.data(), c.p.size());
  d->setGen(c.G.data(), c.G.size());
  d->setOrder(c.n.data(), c.n.size());
  d->setCofactor(c.h.data(), c.h.size());
  if (markValid) d->markValid();
  return d;
}

// Contents of a DER SEQUENCE that fills the buffer exactly; false otherwise.
inline bool sequenceContents(const Bytes& der, Bytes& out) {
  if (der.size() < 2 || der[0] != 0x30) return false;
  std::size_t len = der[1], hdr = 2;
  if (len & 0x80) {
    std::size_t k = len & 0x7F;
    if (k == 0 || k > 2 || der.size() < 2 + k) return false;
    len = 0;
    for (std::size_t i = 0; i < k; i++) len = (len << 8) | der[2 + i];
    if (len < 0x80 || (k == 2 && der[2] == 0)) return false;
    hdr += k;
  }
  if (hdr + len != der.size()) return false;
  out.assign(der.begin() + hdr, der.end());
  return true;
}

// Signatures made here are compared with the listing that openssl accepted
// (make_fixtures.py --check-ours); with the environment variable set, the
// listing is written there instead, for openssl to check.
inline void matchOrWrite(const char* envVar, const char* listing, const std::string& now) {
  if (const char* out = std::getenv(envVar)) {
    std::ofstream(out) << now;
    return;
  }
  std::ifstream in(dataPath(listing));
  ASSERT_TRUE(in.good()) << listing;
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), now);
}

// A deterministic generator for signing tests.
class CountingRbg : public LvRbg {
 public:
  explicit CountingRbg(std::uint8_t start = 1) : next(start) {}
  void init(const LvOctet*, unsigned int) override {}
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override {}
  void fillOctets(LvOctet* dst, unsigned int n) override {
    for (unsigned int i = 0; i < n; i++) {
      next = static_cast<std::uint8_t>(next * 73 + 41);
      dst[i] = next;
    }
  }
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 0; }
  unsigned int getSeedStepOctets() const override { return 1; }
  const char* getName() const override { return "TEST"; }
  std::uint8_t next;
};

}  // namespace ectest
