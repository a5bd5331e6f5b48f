// Test helpers of the DSA and EC-DSA tests: domains from the openssl curve
// parameters, digests, and the SEQUENCE around a DER signature (which the
// X.509 layer removes before the schemes see (r, s)).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <initializer_list>
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

// DER TLV with a definite length.
inline Bytes tlv(LvOctet tag, const Bytes& content) {
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

// A DER INTEGER of an unsigned big-endian value.
inline Bytes derInteger(Bytes v) {
  while (v.size() > 1 && v[0] == 0 && !(v[1] & 0x80)) v.erase(v.begin());
  if (v.empty() || (v[0] & 0x80)) v.insert(v.begin(), 0x00);
  return tlv(0x02, v);
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// SubjectPublicKeyInfo of an EC point on a named curve (curve OID content).
inline Bytes ecSpki(const Bytes& curveOid, const Bytes& point) {
  const Bytes ecPublicKey{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
  return tlv(0x30, concat({tlv(0x30, concat({tlv(0x06, ecPublicKey), tlv(0x06, curveOid)})),
                           tlv(0x03, concat({Bytes{0x00}, point}))}));
}

// SubjectPublicKeyInfo of a DSA key.
inline Bytes dsaSpki(const Bytes& p, const Bytes& q, const Bytes& g, const Bytes& y) {
  const Bytes idDsa{0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01};
  const Bytes params = tlv(0x30, concat({derInteger(p), derInteger(q), derInteger(g)}));
  return tlv(0x30, concat({tlv(0x30, concat({tlv(0x06, idDsa), params})),
                           tlv(0x03, concat({Bytes{0x00}, derInteger(y)}))}));
}

// `openssl dgst -verify` at test time, in a scratch folder of its own. A
// missing openssl command fails the test that needs it.
class OpensslDgst {
 public:
  OpensslDgst() {
    char dirTemplate[] = "/tmp/tal-dgst-XXXXXX";
    if (mkdtemp(dirTemplate)) dir_ = dirTemplate;
  }
  ~OpensslDgst() {
    if (!dir_.empty()) std::system(("rm -rf " + dir_).c_str());
  }
  OpensslDgst(const OpensslDgst&) = delete;
  OpensslDgst& operator=(const OpensslDgst&) = delete;

  // True when the command exists and the scratch folder was made.
  bool ready() const {
    return !dir_.empty() && std::system("openssl version > /dev/null 2>&1") == 0;
  }
  // True when openssl accepts the DER signature over msg under the key.
  bool verifies(const Bytes& spki, const std::string& md, const Bytes& msg, const Bytes& sigDer) {
    write(dir_ + "/pub.der", spki);
    write(dir_ + "/sig.der", sigDer);
    write(dir_ + "/msg.bin", msg);
    const std::string cmd = "openssl dgst -" + md + " -keyform DER -verify " + dir_ +
                            "/pub.der -signature " + dir_ + "/sig.der " + dir_ +
                            "/msg.bin > /dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
  }

 private:
  static void write(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  std::string dir_;
};

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
