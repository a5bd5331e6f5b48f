// libFuzzer target over SubjectPublicKeyInfo: decode a key from the input,
// then verify a fixed digest and signature with it under every signature
// scheme (RSA PKCS#1 v1.5 and PSS, DSA, EC-DSA), the key's own algorithm
// identifier included. Verification must answer a code, never fault.
// Besides crashes, the quick road of the usual RSA forms (a key, or an
// RSAPublicKey, read from memory) leaving anything else than the full road
// (the same input read from another stream) stops the run, as does the whole-value
// reader of an RSAPublicKey, or the one-pass kind of a signature OID, answering otherwise
// than the full decoder or the tables, or a key set up from those octets at once holding
// other numbers than the key set number by number.
#include "crypto/asym/lvrsakey.h"
#include "fuzzstream.h"
#include "pki/common/algid.h"
#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/common/siganddigoid.h"
#include "pki/keys/subpubkeyinfo.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

void add(std::string& out, const ASNobject& o, const unsigned char* content, int length) {
  out += std::to_string(o.tag) + "/" + std::to_string(o.flags) + "/" + std::to_string(length) +
         "/" + std::to_string(o.isConstView()) + ":";
  if (content && length > 0) out.append(reinterpret_cast<const char*>(content), size_t(length));
  out += ";";
}

std::string describe(const RSAPublicKey& k) {
  std::string out = std::to_string(k.tag) + "/" + std::to_string(k.flags) + "/" +
                    std::to_string(k.contentOffset) + "/" + std::to_string(k.isConstView()) + ";";
  add(out, k.modulus, k.modulus.data(), k.modulus.length);
  add(out, k.publicExponent, k.publicExponent.data(), k.publicExponent.length);
  return out + std::to_string(k.keyBits());
}

// What a decode of `size` octets leaves that a caller sees.
template <class T>
std::string decodeBy(T& k, const uint8_t* data, size_t size, bool memory) {
  const int64_t before = asnHeldCounter();
  int r;
  if (memory) {
    MemFile m(const_cast<uint8_t*>(data), static_cast<int32_t>(size), false);
    r = k.decode(&m, static_cast<int>(size), 0);
  } else {
    PlainStream p(data, size);
    r = k.decode(&p, static_cast<int>(size), 0);
  }
  std::string out = std::to_string(r) + " " + std::to_string(asnHeldCounter() - before) + " ";
  if (r < 1) return out;
  std::vector<unsigned char> der;
  const int n = k.encodeVector(der);
  out += std::to_string(n) + ":" + std::string(der.begin(), der.end()) + ";";
  return out;
}

std::string decodeSpkiBy(const uint8_t* data, size_t size, bool memory) {
  SubPubKeyInfo k;
  std::string out = decodeBy(k, data, size, memory);
  const AlgorithmIdentifier& a = k.algorithm;
  add(out, a, nullptr, 0);
  add(out, a.algorithm, a.algorithm.data(), a.algorithm.length);
  out += std::to_string(a.parametersPresent);
  add(out, a.parameters, a.parameters.content(), a.parameters.length);
  add(out, k.subjectPublicKey, k.subjectPublicKey.data(), k.subjectPublicKey.length);
  return out + describe(k.rsaKey) + std::to_string(k.keyBits());
}

std::string decodeRsaKeyBy(const uint8_t* data, size_t size, bool memory) {
  RSAPublicKey k;
  return decodeBy(k, data, size, memory) + describe(k);
}

// The key set up from octets at once (n and e read as public values, their lengths found from
// the words) holds what the setters' masked reading makes of the same octets, or both refuse.
void compareKeySetup(const unsigned char* n, int nl, const unsigned char* e, int el) {
  std::optional<LvRsaPublicKey> quick;
  LvRsaPublicKey set;
  bool quickRefused = false, setRefused = false;
  try {
    quick.emplace(n, static_cast<unsigned int>(nl), e, static_cast<unsigned int>(el));
  } catch (const LvMemException&) {
    throw std::bad_alloc();
  } catch (const LvException&) {
    quickRefused = true;
  }
  try {
    set.setN(n, static_cast<unsigned int>(nl));
    set.setE(e, static_cast<unsigned int>(el));
  } catch (const LvMemException&) {
    throw std::bad_alloc();
  } catch (const LvException&) {
    setRefused = true;
  }
  if (quickRefused != setRefused) abort();
  if (quickRefused) return;
  const LvModulus &a = quick->getModulus(), &b = set.getModulus();
  if (!(a == b) || a.getUsed() != b.getUsed() || a.getKind() != b.getKind() ||
      !(quick->getE() == set.getE()) || quick->getE().getUsed() != set.getE().getUsed() ||
      quick->getKeyBits() != set.getKeyBits() || quick->isReady() != set.isReady() ||
      quick->isValid() != set.isValid())
    abort();
}

// Both roads agree on the input as a key and as an RSAPublicKey; a quick reader that
// answers names what the full decoder reads.
void compareRoads(const uint8_t* data, size_t size) {
  if (decodeSpkiBy(data, size, true) != decodeSpkiBy(data, size, false)) abort();
  if (decodeRsaKeyBy(data, size, true) != decodeRsaKeyBy(data, size, false)) abort();
  const unsigned char *n = nullptr, *e = nullptr;
  int nl = 0, el = 0;
  if (RSAPublicKey::readUsual(data, static_cast<int>(size), &n, &nl, &e, &el)) {
    // the content as an RSAPublicKey SEQUENCE (any length form: the full road reads BER)
    std::vector<unsigned char> seq = {0x30};
    if (size < 0x80) {
      seq.push_back(static_cast<unsigned char>(size));
    } else {
      seq.push_back(0x83);
      seq.push_back(static_cast<unsigned char>(size >> 16));
      seq.push_back(static_cast<unsigned char>(size >> 8));
      seq.push_back(static_cast<unsigned char>(size));
    }
    seq.insert(seq.end(), data, data + size);
    RSAPublicKey full;
    PlainStream p(seq.data(), seq.size());
    if (full.decode(&p, static_cast<int>(seq.size()), 0) != static_cast<int>(seq.size()) ||
        full.modulus.length != nl || full.publicExponent.length != el ||
        std::memcmp(full.modulus.data(), n, size_t(nl)) != 0 ||
        std::memcmp(full.publicExponent.data(), e, size_t(el)) != 0 || full.keyBits() == 0)
      abort();
    compareKeySetup(n, nl, e, el);
  }
  // the whole-value reader of a key's bits: what the full decoder leaves, or nothing
  {
    RSAPublicKey quick;
    const int64_t before = asnHeldCounter();
    const int r = quick.decodeUsual(data, static_cast<int>(size));
    const int64_t charged = asnHeldCounter() - before;
    if (r == 0 && charged != 0) abort();
    if (r == 1) {
      RSAPublicKey full;
      const std::string f = decodeBy(full, data, size, false) + describe(full);
      std::vector<unsigned char> der;
      const int n = quick.encodeVector(der);
      const std::string q = std::to_string(size) + " " + std::to_string(charged) + " " +
                            std::to_string(n) + ":" + std::string(der.begin(), der.end()) + ";" +
                            describe(quick);
      if (q != f) abort();
    }
  }
  // the one-pass kind of a signature OID, as the tables answer
  {
    ASNobjectId oid;
    if (oid.decodeBuffer(data, static_cast<int>(size), 0) > 0) {
      int h = -1, l = -1, wh = 0, wl = 0;
      const SignatureKind kind = signatureOidKind(oid, &h, &l);
      SignatureKind want = SIG_KIND_NONE;
      if (rsaSignatureOidToDigest(oid, &wl, &wh))
        want = SIG_KIND_RSA;
      else if (isRsaPssOid(oid))
        want = SIG_KIND_RSA_PSS;
      else if (dsaSignatureOidToDigest(oid, &wl, &wh))
        want = SIG_KIND_DSA;
      else if (ecdsaSignatureOidToDigest(oid, &wl, &wh))
        want = SIG_KIND_ECDSA;
      if (kind != want || h != wh || l != wl) abort();
    }
  }
  const unsigned char* bits = nullptr;
  int bl = 0;
  if (SubPubKeyInfo::readUsualRsa(data, static_cast<int>(size), &bits, &bl) &&
      (bits < data + 16 || bits + bl != data + size))
    abort();
}

struct Fixed {
  std::vector<AlgorithmIdentifier> algs;
  unsigned char digest[64];
  std::vector<unsigned char> rsaSig;
  std::vector<unsigned char> dsaSig;
  Fixed() {
    for (int i = 0; i < 64; ++i) digest[i] = static_cast<unsigned char>(i * 7 + 1);
    algs.resize(5);
    algs[0].setRsaSignature(3);
    algs[1].setDsaSignature(1);
    algs[2].setEcdsaSignature(3);
    algs[3].setEcdsaSignature(5);
    RsaPssParams p;
    p.set(3, 1, 3, 32, 1);
    algs[4].set(id_RSASSA_PSS, &p);
    rsaSig.assign(256, 0x5A);
    rsaSig[0] = 0x01;
    // SEQUENCE { INTEGER 1..., INTEGER 2... } of 32-octet values
    dsaSig = {0x30, 0x44, 0x02, 0x20};
    dsaSig.insert(dsaSig.end(), 32, 0x11);
    dsaSig.push_back(0x02);
    dsaSig.push_back(0x20);
    dsaSig.insert(dsaSig.end(), 32, 0x22);
  }
};

void verifyAll(SubPubKeyInfo& k, const Fixed& f, const unsigned char* extra, int extraLen) {
  for (const AlgorithmIdentifier& a : f.algs) {
    int h = 0, len = 0;
    if (!a.getDigestType(&h, &len)) len = 32;
    int r = k.verifyDigest(a, f.digest, len, f.rsaSig.data(), static_cast<int>(f.rsaSig.size()));
    if (r < -4 || r > 1) abort();
    r = k.verifyDigest(a, f.digest, len, f.dsaSig.data(), static_cast<int>(f.dsaSig.size()));
    if (r < -4 || r > 1) abort();
    if (extraLen > 0) {
      r = k.verifyDigest(a, f.digest, len, extra, extraLen);
      if (r < -4 || r > 1) abort();
    }
  }
  // the key's own algorithm as the signature algorithm (RSASSA-PSS keys)
  int r =
      k.verifyDigest(k.algorithm, f.digest, 32, f.rsaSig.data(), static_cast<int>(f.rsaSig.size()));
  if (r < -4 || r > 1) abort();
  k.keyBits();
  unsigned char id[20];
  k.keyIdentifier(id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Fixed fixed;
  if (size < 2 || size > 1 << 16) return 0;
  try {
    compareRoads(data, size);
    SubPubKeyInfo k;
    int r = k.decodeBuffer(data, static_cast<int>(size), 0);
    if (r < 1) return 0;
    // what follows the key is tried as a signature value too
    const int used = r;
    verifyAll(k, fixed, data + used, static_cast<int>(size) - used);
    SubPubKeyInfo copy(k);
    verifyAll(copy, fixed, nullptr, 0);
    // BER in (long-form lengths), DER out: the output reads back to itself
    std::vector<unsigned char> again, twice;
    const int n = k.encodeVector(again);
    if (n < 1 || n > r) abort();
    SubPubKeyInfo back;
    if (back.decodeVector(again) != n || back.encodeVector(twice) != n || twice != again) abort();
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
