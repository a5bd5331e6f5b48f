// The quick readers of the usual DER form of an RSA key (SubPubKeyInfo::readUsualRsa,
// RSAPublicKey::readUsual), which a decode from a stream in memory takes, against the full
// decoder, which a decode from any other stream takes: keys of many sizes and exponents made
// by openssl (tests/data/pki/keys/gen_rsasizes.sh), hand-made edge encodings and random
// mutations of both. Whichever road a key takes, what a caller can see of it is the same.
#include "pki/keys/subpubkeyinfo.h"

#include "asn1/core_util.h"
#include "crypto/hash/lvhash.h"
#include "pki/fixture_lines.h"
#include "pki/keytest.h"
#include "pki/mutation.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace keytest;
using pkitest::hex;
using pkitest::unhex;

namespace {

Bytes octets(const unsigned char* p, int n) { return p && n > 0 ? Bytes(p, p + n) : Bytes(); }

// An INTEGER or other member as a caller sees it.
std::string memberView(const ASNoctstr& o) {
  return std::to_string(o.tag) + "/" + std::to_string(o.flags) + "/" + std::to_string(o.length) +
         "/" + hex(octets(o.data(), o.length)) + "/" + std::to_string(o.isConstView());
}

// What a caller sees of an RSAPublicKey after a decode (its own header state too).
std::string rsaKeyView(const RSAPublicKey& k) {
  Bytes again;
  const int n = k.encodeVector(again);
  return std::to_string(n) + " " + hex(again) + " key " + std::to_string(k.tag) + "/" +
         std::to_string(k.flags) + "/" + std::to_string(k.contentOffset) + "/" +
         std::to_string(k.receivedLength) + "/" + std::to_string(k.isConstView()) + " n " +
         memberView(k.modulus) + " e " + memberView(k.publicExponent) + " size " +
         std::to_string(k.keyBits());
}

// What a decode leaves in a key, as far as a caller can see it.
struct Seen {
  int result = 0;
  int64_t charged = 0;
  std::string text;
  bool operator==(const Seen& o) const {
    return result == o.result && charged == o.charged && text == o.text;
  }
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "result " << s.result << " charged " << s.charged << " " << s.text;
}

const Bytes& message() {
  static const Bytes m = readFile("msg.bin");
  return m;
}

// Decodes `der` into k from a MemFile (the quick road for the usual forms) or another stream
// (the full road): the result and what the decode charged.
Seen decodeBy(ASNobject& k, const Bytes& der, bool memory) {
  Seen s;
  const int64_t before = asnHeldCounter();
  if (memory) {
    MemFile m(const_cast<unsigned char*>(der.data()), static_cast<int32_t>(der.size()), false);
    s.result = k.decode(&m, static_cast<int>(der.size()), 0);
  } else {
    ForwardingFile p(der);
    s.result = k.decode(&p, static_cast<int>(der.size()), 0);
  }
  s.charged = asnHeldCounter() - before;
  return s;
}

// As decodeBy, and what a caller sees of the key; `earlier` is decoded into the same object
// first (by the full road, whatever it answers).
Seen decodeSpkiBy(const Bytes& der, bool memory, const Bytes& sig, const Bytes& earlier = {}) {
  SubPubKeyInfo k;
  if (!earlier.empty()) decodeBy(k, earlier, false);
  Seen s = decodeBy(k, der, memory);
  if (s.result < 1) return s;
  Bytes again;
  const int n = k.encodeVector(again);
  const AlgorithmIdentifier& a = k.algorithm;
  std::string& t = s.text;
  t += "der " + std::to_string(n) + " " + hex(again);
  t += " alg " + std::to_string(a.tag) + "/" + std::to_string(a.flags) + " oid " +
       std::to_string(a.algorithm.tag) + "/" + std::to_string(a.algorithm.flags) + "/" +
       hex(octets(a.algorithm.data(), a.algorithm.length));
  t += " params " + std::to_string(a.parametersPresent) + "/" + std::to_string(a.parameters.tag) +
       "/" + std::to_string(a.parameters.flags) + "/" +
       hex(octets(a.parameters.content(), a.parameters.length));
  const ASNbitstr& b = k.subjectPublicKey;
  t += " bits " + std::to_string(b.tag) + "/" + std::to_string(b.flags) + "/" +
       std::to_string(b.length) + "/" + hex(octets(b.data(), b.length));
  t += " key " + rsaKeyView(k.rsaKey);
  t += " size " + std::to_string(k.keyBits()) + "/" + std::to_string(k.rsaKey.keyBits());
  AlgorithmIdentifier v15;
  v15.setRsaSignature(3);
  const Bytes& msg = message();
  Bytes fixed(256, 0x5A);
  const Bytes& value = sig.empty() ? fixed : sig;
  t += " verify " + std::to_string(k.verifyData(v15, msg.data(), static_cast<int>(msg.size()),
                                                value.data(), static_cast<int>(value.size())));
  // a copy answers alike, whichever road made the original
  SubPubKeyInfo c(k);
  Bytes copyDer;
  c.encodeVector(copyDer);
  t += " copy " + std::to_string(copyDer == again);
  return s;
}

Seen decodeRsaKeyBy(const Bytes& der, bool memory) {
  RSAPublicKey k;
  Seen s = decodeBy(k, der, memory);
  if (s.result < 1) return s;
  s.text = rsaKeyView(k);
  return s;
}

// The whole-value reader a SubjectPublicKeyInfo uses for its key bits, into an object that
// held `earlier` (decoded by the full road): as a decode answers (the octets read) when it
// reads the value, else result 0 and nothing charged.
Seen decodeRsaKeyUsual(const Bytes& der, const Bytes& earlier = {}) {
  RSAPublicKey k;
  if (!earlier.empty()) decodeBy(k, earlier, false);
  Seen s;
  const int64_t before = asnHeldCounter();
  s.result = k.decodeUsual(der.data(), static_cast<int>(der.size()));
  s.charged = asnHeldCounter() - before;
  if (s.result == 1) {
    s.result = static_cast<int>(der.size());
    s.text = rsaKeyView(k);
  }
  return s;
}

// The key bits read by the whole-value reader, when it reads them, as the full decoder
// reads them; returns whether it read them.
bool usualKeyAsFull(const Bytes& key, const Bytes& earlier = {}) {
  const Seen usual = decodeRsaKeyUsual(key, earlier);
  if (usual.result == 0) {
    EXPECT_EQ(usual.charged, 0) << hex(key);
    return false;
  }
  RSAPublicKey k;
  if (!earlier.empty()) decodeBy(k, earlier, false);
  Seen full = decodeBy(k, key, false);
  if (full.result > 0) full.text = rsaKeyView(k);
  EXPECT_EQ(usual, full) << hex(key);
  return true;
}

// The content of the outermost TLV of a DER value (lengths of up to 4 octets).
Bytes contentOf(const Bytes& tlv) {
  if (tlv.size() < 2) return {};
  size_t h = 2, n = tlv[1];
  if (n & 0x80) {
    const size_t k = n & 0x7F;
    if (k > 4 || tlv.size() < 2 + k) return {};
    n = 0;
    for (size_t i = 0; i < k; ++i) n = n << 8 | tlv[2 + i];
    h = 2 + k;
  }
  if (tlv.size() < h + n) return {};
  return Bytes(tlv.begin() + static_cast<std::ptrdiff_t>(h),
               tlv.begin() + static_cast<std::ptrdiff_t>(h + n));
}

// Both roads agree on `der` as a whole key and, when it has key bits, on those as an
// RSAPublicKey. Returns whether the quick reader of the whole key answered.
bool sameBothRoads(const Bytes& der, const Bytes& sig = {}) {
  const Seen quick = decodeSpkiBy(der, true, sig), full = decodeSpkiBy(der, false, sig);
  EXPECT_EQ(quick, full) << hex(der);
  const Bytes content = contentOf(der);
  const unsigned char* bits = nullptr;
  int n = 0;
  const bool usual = SubPubKeyInfo::readUsualRsa(content.data(), static_cast<int>(content.size()),
                                                 &bits, &n);
  if (usual) {
    const Bytes key = octets(bits, n);
    EXPECT_EQ(decodeRsaKeyBy(key, true), decodeRsaKeyBy(key, false)) << hex(key);
    usualKeyAsFull(key);
    // what the quick reader found is what the full decoder read
    SubPubKeyInfo k;
    ForwardingFile p(der);
    if (k.decode(&p, static_cast<int>(der.size()), 0) > 0) {
      EXPECT_EQ(octets(k.subjectPublicKey.bits(), k.subjectPublicKey.bitsLength()), key);
      EXPECT_TRUE(k.algorithm.algorithm == rsaEncryption);
    }
  }
  return usual;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Length octets: DER, or a longer form with `extra` leading zero length octets (extra = -1:
// the one-octet long form even for a short length).
Bytes lengthOctets(size_t n, int extra = 0) {
  Bytes v;
  for (size_t m = n; m > 0; m >>= 8) v.insert(v.begin(), static_cast<unsigned char>(m));
  if (extra == 0 && n < 0x80) return {static_cast<unsigned char>(n)};
  if (extra > 0) v.insert(v.begin(), static_cast<size_t>(extra), 0);
  if (v.empty()) v.push_back(0);
  v.insert(v.begin(), static_cast<unsigned char>(0x80 | v.size()));
  return v;
}

Bytes tlv(unsigned char tag, const Bytes& content, int extra = 0) {
  return cat({Bytes{tag}, lengthOctets(content.size(), extra), content});
}

const Bytes kRsaAlg = unhex("300d06092a864886f70d0101010500");

// A key from its parts; `form` picks the length form of one level (0 the outer SEQUENCE,
// 1 the BIT STRING, 2 the RSAPublicKey, 3 the modulus, 4 the exponent).
Bytes spkiOf(const Bytes& n, const Bytes& e, int form = -1, int extra = 0,
             const Bytes& alg = kRsaAlg) {
  auto x = [&](int level) { return level == form ? extra : 0; };
  Bytes key = tlv(0x30, cat({tlv(0x02, n, x(3)), tlv(0x02, e, x(4))}), x(2));
  return tlv(0x30, cat({alg, tlv(0x03, cat({Bytes{0}, key}), x(1))}), x(0));
}

struct OpensslKey {
  std::string bits, exponent;
  Bytes spki, sig;
};

std::vector<OpensslKey> opensslKeys() {
  std::vector<OpensslKey> keys;
  for (const auto& f : pkitest::readFixture("keys/rsasizes.txt"))
    if (f.size() == 4) keys.push_back({f[0], f[1], unhex(f[2]), unhex(f[3])});
  return keys;
}

}  // namespace

// Every openssl key of the fixture is of the usual form, takes the quick road, verifies its
// signature and reads as the full decoder reads it.
TEST(RsaQuickReader, OpensslKeysOfManySizesAndExponents) {
  const auto keys = opensslKeys();
  ASSERT_EQ(keys.size(), 27u);
  for (const auto& k : keys) {
    SCOPED_TRACE(k.bits + " bits, e " + k.exponent);
    EXPECT_TRUE(sameBothRoads(k.spki, k.sig));
    SubPubKeyInfo key;
    ASSERT_EQ(decodeSpki(key, k.spki), static_cast<int>(k.spki.size()));
    EXPECT_EQ(key.keyBits(), (std::stoul(k.bits) + 7) / 8 * 8);
    AlgorithmIdentifier v15;
    v15.setRsaSignature(3);
    EXPECT_EQ(key.verifyData(v15, message().data(), static_cast<int>(message().size()),
                             k.sig.data(), static_cast<int>(k.sig.size())),
              SubPubKeyInfo::SIG_VALID);
  }
}

// Hand-made encodings at the edges of the usual form: each is read alike by both roads, and
// the ones outside the form go to the full decoder, which answers as it always has.
TEST(RsaQuickReader, EdgeEncodings) {
  // the 512-bit key: its modulus content (with the sign octet 00) and exponent
  const Bytes spki = opensslKeys()[0].spki;
  RSAPublicKey parts;
  {
    SubPubKeyInfo k;
    ASSERT_EQ(decodeSpki(k, spki), static_cast<int>(spki.size()));
    parts = k.rsaKey;
  }
  const Bytes mod = octets(parts.modulus.data(), parts.modulus.length);
  const Bytes exp = octets(parts.publicExponent.data(), parts.publicExponent.length);
  ASSERT_EQ(mod[0], 0);
  ASSERT_TRUE(mod[1] & 0x80);
  ASSERT_EQ(spkiOf(mod, exp), spki);
  const Bytes modNoSign(mod.begin() + 1, mod.end());

  struct Case {
    const char* label;
    Bytes der;
    bool usual;  // the quick reader of the whole key answers
    int verify;  // the fixed signature's answer, 99: the decode fails
  };
  const Bytes e3 = {0x03};
  std::vector<Case> cases = {
      {"usual", spki, true, 0},
      {"modulus with another zero octet", spkiOf(cat({Bytes{0}, mod}), exp), true, 0},
      {"negative modulus", spkiOf(modNoSign, exp), true, -1},
      {"zero modulus", spkiOf(Bytes{0}, exp), true, -1},
      {"zero modulus of two octets", spkiOf(Bytes{0, 0}, exp), true, -1},
      {"empty modulus", spkiOf(Bytes{}, exp), true, 99},
      {"exponent with a zero octet", spkiOf(mod, cat({Bytes{0}, exp})), true, 0},
      {"negative exponent", spkiOf(mod, Bytes{0xFF}), true, -1},
      {"negative long exponent", spkiOf(mod, Bytes{0x81, 0x00, 0x01}), true, -1},
      {"zero exponent", spkiOf(mod, Bytes{0}), true, -1},
      {"exponent 3", spkiOf(mod, e3), true, 0},
      {"exponent 1", spkiOf(mod, Bytes{1}), true, 0},
      {"exponent past 256 bits", spkiOf(mod, cat({Bytes{1}, Bytes(32, 0)})), true, -1},
      // the outer header is the generic decoder's on both roads
      {"outer length long form", spkiOf(mod, exp, 0, 1), true, 0},
      {"bit string length long form", spkiOf(mod, exp, 1, 1), false, 0},
      {"key length long form", spkiOf(mod, exp, 2, 1), true, 0},
      {"modulus length long form", spkiOf(mod, exp, 3, 1), true, 0},
      {"exponent length 81 03", spkiOf(mod, exp, 4, -1), true, 0},
      {"exponent length four octets", spkiOf(mod, exp, 4, 2), true, 0},
      {"bit string length 81 4b", spkiOf(mod, exp, 1, -1), false, 0},
      {"key length 81 48", spkiOf(mod, exp, 2, -1), true, 0},
      {"modulus length 81 41", spkiOf(mod, exp, 3, -1), true, 0},
      {"no NULL", spkiOf(mod, exp, -1, 0, unhex("300b06092a864886f70d010101")), false, 0},
      {"NULL with content", spkiOf(mod, exp, -1, 0, unhex("300e06092a864886f70d010101050100")),
       false, 0},
      {"INTEGER parameters", spkiOf(mod, exp, -1, 0, unhex("300e06092a864886f70d010101020100")),
       false, 0},
      {"RSASSA-PSS key", spkiOf(mod, exp, -1, 0, unhex("300b06092a864886f70d01010a")), false, -3},
      {"algorithm length long form",
       spkiOf(mod, exp, -1, 0, unhex("30810d06092a864886f70d0101010500")), false, 0},
  };
  // Bit string and key content built by hand.
  const Bytes key = tlv(0x30, cat({tlv(0x02, mod), tlv(0x02, exp)}));
  auto withBits = [&](const Bytes& bits, unsigned char tag = 0x03) {
    return tlv(0x30, cat({kRsaAlg, tlv(tag, bits)}));
  };
  cases.push_back({"octet after the key", withBits(cat({Bytes{0}, key, Bytes{0}})), true, 99});
  cases.push_back({"unused bits", withBits(cat({Bytes{1}, key})), false, 99});
  cases.push_back({"unused bits 8", withBits(cat({Bytes{8}, key})), false, 99});
  cases.push_back({"no key bits", withBits(Bytes{0}), false, 99});
  cases.push_back({"empty bit string", withBits(Bytes{}), false, 99});
  cases.push_back({"constructed bit string",
                   withBits(tlv(0x03, cat({Bytes{0}, key})), 0x23), false, 99});
  cases.push_back(
      {"octet after the exponent",
       withBits(cat({Bytes{0}, tlv(0x30, cat({tlv(0x02, mod), tlv(0x02, exp), Bytes{0}}))})), true,
       99});
  cases.push_back({"three integers",
                   withBits(cat({Bytes{0}, tlv(0x30, cat({tlv(0x02, mod), tlv(0x02, exp),
                                                          tlv(0x02, exp)}))})),
                   true, 99});
  cases.push_back({"one integer", withBits(cat({Bytes{0}, tlv(0x30, tlv(0x02, mod))})), true, 99});
  cases.push_back({"OCTET STRING modulus",
                   withBits(cat({Bytes{0}, tlv(0x30, cat({tlv(0x04, mod), tlv(0x02, exp)}))})),
                   true, 99});
  cases.push_back(
      {"SET as the key", withBits(cat({Bytes{0}, tlv(0x31, cat({tlv(0x02, mod), tlv(0x02, exp)}))})),
       true, 99});
  cases.push_back({"indefinite key",
                   withBits(cat({Bytes{0, 0x30, 0x80}, tlv(0x02, mod), tlv(0x02, exp),
                                 Bytes{0, 0}})),
                   true, 99});
  // after the outer SEQUENCE: the key is read, the octet left (both roads)
  cases.push_back({"octet after the key info", cat({spki, Bytes{0}}), true, 0});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(sameBothRoads(c.der), c.usual) << hex(c.der);
    SubPubKeyInfo k;
    const int r = k.decodeVector(c.der);
    if (c.verify == 99) {
      EXPECT_LT(r, 1);
      continue;
    }
    ASSERT_GT(r, 0);
    AlgorithmIdentifier v15;
    v15.setRsaSignature(3);
    Bytes fixed(64, 0x5A);
    EXPECT_EQ(k.verifyData(v15, message().data(), static_cast<int>(message().size()),
                           fixed.data(), static_cast<int>(fixed.size())),
              c.verify);
  }
}

// The RSAPublicKey reader alone: exactly the minimal positive INTEGERs in shortest-form
// lengths, nothing else.
TEST(RsaQuickReader, PublicKeyReaderForms) {
  struct Case {
    const char* hex;
    bool usual;
  };
  const Case cases[] = {
      {"020101020103", true},
      {"02017f020103", true},
      {"02020080020103", true},
      {"0202007f020103", false},      // leading zero before a clear top bit
      {"020180020103", false},        // negative
      {"020100020103", false},        // zero
      {"0200020103", false},          // empty
      {"020101020100", false},        // zero exponent
      {"020101020300ffff", true},     // exponent with its sign octet
      {"02810101020103", false},      // 81 01: could be short
      {"0281", false},                // cut in the length
      {"028100020103", false},        // 81 00
      {"0280020103", false},          // indefinite
      {"02840000000101020103", false},  // four length octets
      {"020101020103", true},
      {"02010102010300", false},      // trailing octet
      {"020101", false},              // no exponent
      {"", false},
      {"030101020103", false},        // not an INTEGER
      {"220101020103", false},        // constructed
  };
  for (const Case& c : cases) {
    const Bytes b = unhex(c.hex);
    const unsigned char *n = nullptr, *e = nullptr;
    int nl = 0, el = 0;
    EXPECT_EQ(RSAPublicKey::readUsual(b.data(), static_cast<int>(b.size()), &n, &nl, &e, &el),
              c.usual)
        << c.hex;
    const Bytes key = tlv(0x30, b);
    EXPECT_EQ(decodeRsaKeyBy(key, true), decodeRsaKeyBy(key, false)) << c.hex;
  }
  // lengths around the short and long forms
  for (size_t len : {1u, 126u, 127u, 128u, 255u, 256u, 257u, 513u, 65535u, 65536u}) {
    Bytes n(len, 0x5C);
    const Bytes b = cat({tlv(0x02, n), tlv(0x02, Bytes{3})});
    const unsigned char *np = nullptr, *ep = nullptr;
    int nl = 0, el = 0;
    ASSERT_TRUE(RSAPublicKey::readUsual(b.data(), static_cast<int>(b.size()), &np, &nl, &ep, &el))
        << len;
    EXPECT_EQ(np, b.data() + (b.size() - 3 - len));
    EXPECT_EQ(nl, static_cast<int>(len));
    EXPECT_EQ(el, 1);
    const Bytes key = tlv(0x30, b);
    EXPECT_EQ(decodeRsaKeyBy(key, true), decodeRsaKeyBy(key, false)) << len;
  }
}

// Random mutations of the openssl keys and the edge encodings, most of them in the headers:
// both roads agree on every one, and the quick road is taken often enough to count.
TEST(RsaQuickReader, RandomMutationsAgree) {
  std::vector<Bytes> seeds;
  for (const auto& k : opensslKeys()) seeds.push_back(k.spki);
  seeds.push_back(spkiOf(unhex("00c5a1"), Bytes{3}));
  seeds.push_back(spkiOf(unhex("00c5a1"), Bytes{3}, 1, 1));
  seeds.push_back(spkiOf(unhex("00c5a1"), Bytes{3}, 3, -1));
  std::mt19937 rng(20261207);
  const unsigned char interesting[] = {0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x30, 0x7F,
                                       0x80, 0x81, 0x82, 0x83, 0x84, 0xA0, 0xFF};
  int quick = 0;
  for (int round = 0; round < 6000; ++round) {
    Bytes b = seeds[rng() % seeds.size()];
    for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) {
      // mostly the first 40 octets (headers, algorithm, key headers) or the last 8 (exponent)
      size_t at = 0;
      if (!b.empty()) {
        switch (rng() % 4) {
          case 0:
            at = rng() % b.size();
            break;
          case 1:
            at = b.size() - 1 - rng() % std::min<size_t>(8, b.size());
            break;
          default:
            at = rng() % std::min<size_t>(40, b.size());
        }
      }
      pkitest::mutateAt(b, at, rng, interesting, sizeof interesting);
    }
    if (b.size() < 2) continue;
    quick += sameBothRoads(b);
    if (HasFailure()) break;
  }
  EXPECT_GE(quick, 500);
}

// An object whose last decode failed in an indefinite-length member (the length read, the
// content refused) and that then reads a usual key is left the same by either road:
// definite lengths everywhere.
TEST(RsaQuickReader, ObjectReusedAfterAFailedIndefiniteMember) {
  const auto keys = opensslKeys();
  const Bytes body = contentOf(keys[0].spki);
  const Bytes bitString(body.begin() + static_cast<std::ptrdiff_t>(kRsaAlg.size()), body.end());
  const Bytes indefiniteAlgorithm =
      tlv(0x30, cat({Bytes{0x30, 0x80}, contentOf(kRsaAlg), Bytes{0, 0}, bitString}));
  const Bytes indefiniteBits =
      tlv(0x30, cat({kRsaAlg, Bytes{0x03, 0x80}, contentOf(bitString), Bytes{0, 0}}));
  for (const Bytes& earlier : {indefiniteAlgorithm, indefiniteBits}) {
    {
      SubPubKeyInfo k;
      EXPECT_LT(k.decodeVector(earlier), 1);
      EXPECT_TRUE((k.algorithm.flags | k.subjectPublicKey.flags) & ASN_FLAG_INDEFINITE);
    }
    for (const auto& key : keys) {
      const Seen quick = decodeSpkiBy(key.spki, true, key.sig, earlier);
      EXPECT_EQ(quick, decodeSpkiBy(key.spki, false, key.sig, earlier));
      EXPECT_EQ(quick, decodeSpkiBy(key.spki, true, key.sig));
    }
  }
}

// The whole-value reader of an RSAPublicKey against the full decoder: the reader's own forms,
// the value's header (short and long lengths, other identifiers, trailing and missing
// octets), an object of other tagging, and objects that held another value before (read in
// place, of indefinite length, prepared for a verification).
TEST(RsaQuickReader, WholeKeyReaderAgreesWithDecoder) {
  const auto keys = opensslKeys();
  std::vector<Bytes> values;
  for (const auto& k : keys) {
    const Bytes body = contentOf(k.spki);
    const Bytes bits = contentOf(Bytes(body.begin() + static_cast<std::ptrdiff_t>(kRsaAlg.size()),
                                       body.end()));
    values.push_back(Bytes(bits.begin() + 1, bits.end()));
  }
  const Bytes small = cat({tlv(0x02, unhex("00c5a1")), tlv(0x02, Bytes{3})});
  values.push_back(tlv(0x30, small));
  values.push_back(tlv(0x30, small, -1));            // 30 81 09: could be short
  values.push_back(tlv(0x30, small, 1));             // 30 82 00 09
  values.push_back(cat({tlv(0x30, small), Bytes{0}}));  // an octet after the value
  values.push_back(tlv(0x31, small));
  values.push_back(tlv(0x10, small));
  values.push_back(cat({Bytes{0x30, 0x80}, small, Bytes{0, 0}}));
  values.push_back(Bytes{0x30, 0x00});
  values.push_back(Bytes{0x30});
  const Bytes whole = tlv(0x30, small);
  values.push_back(Bytes(whole.begin(), whole.end() - 1));  // cut
  values.push_back(tlv(0x30, cat({tlv(0x02, Bytes{0x80}), tlv(0x02, Bytes{3})})));  // negative
  values.push_back(tlv(0x30, cat({tlv(0x02, Bytes(300, 0x41)), tlv(0x02, Bytes{1, 0, 1})})));
  values.push_back(tlv(0x30, cat({tlv(0x02, Bytes(70000, 0x41)), tlv(0x02, Bytes{3})})));
  int read = 0;
  for (const Bytes& v : values) read += usualKeyAsFull(v);
  EXPECT_EQ(read, static_cast<int>(keys.size()) + 3);

  // an object that held other values first
  const Bytes& key = values[0];
  const Bytes indefinite = cat({Bytes{0x30, 0x80}, small, Bytes{0, 0}});
  for (const Bytes& earlier : {values[1], indefinite, tlv(0x30, small, 1), Bytes{0x30, 0x80}})
    EXPECT_TRUE(usualKeyAsFull(key, earlier));
  {
    // read in place, then prepared and used
    RSAPublicKey k;
    ASSERT_EQ(k.decodeBuffer(values[1].data(), static_cast<int>(values[1].size()), ASN_FLAG_CONST),
              static_cast<int>(values[1].size()));
    ASSERT_TRUE(k.isConstView());
    const Bytes& sig = keys[1].sig;
    EXPECT_EQ(k.verifyPkcs1v15(Bytes(32, 1).data(), 32, 3, sig.data(), static_cast<int>(sig.size())),
              RSAPublicKey::INVALID);
    ASSERT_EQ(k.decodeUsual(key.data(), static_cast<int>(key.size())), 1);
    RSAPublicKey full;
    ForwardingFile p(key);
    ASSERT_EQ(full.decode(&p, static_cast<int>(key.size()), 0), static_cast<int>(key.size()));
    EXPECT_EQ(rsaKeyView(k), rsaKeyView(full));
    // the key of the new value verifies, not the one prepared before
    unsigned char digest[32];
    LvGenericHash h(LV_HASH_SHA256);
    h.init();
    h.step(message().data(), static_cast<unsigned int>(message().size()));
    h.finish();
    h.getHash(32, digest);
    EXPECT_EQ(k.verifyPkcs1v15(digest, 32, 3, keys[0].sig.data(),
                               static_cast<int>(keys[0].sig.size())),
              RSAPublicKey::OK);
  }
  // other tagging: the reader leaves the value to the full decoder, untouched
  for (RSAPublicKey* k : {new RSAPublicKey(0xA1), new RSAPublicKey()}) {
    std::unique_ptr<RSAPublicKey> own(k);
    if (k->tag == 0x30) k->makeExplicit();
    const std::string before = rsaKeyView(*k);
    const int64_t held = asnHeldCounter();
    EXPECT_EQ(k->decodeUsual(key.data(), static_cast<int>(key.size())), 0);
    EXPECT_EQ(asnHeldCounter(), held);
    EXPECT_EQ(rsaKeyView(*k), before);
  }
  // lengths that hold no value (a negative one from a careless caller among them)
  for (int length : {-1, -1000000, 0, 1}) {
    RSAPublicKey k;
    const std::string before = rsaKeyView(k);
    EXPECT_EQ(k.decodeUsual(key.data(), length), 0) << length;
    EXPECT_EQ(rsaKeyView(k), before);
  }
}

// The longest signature value a key takes is its modulus's significant octets, whatever
// zero octets the modulus's INTEGER carries in front: one octet more is invalid, even a zero.
TEST(RsaQuickReader, SignatureLengthBoundIsTheModulusOctets) {
  const auto keys = opensslKeys();
  AlgorithmIdentifier v15;
  v15.setRsaSignature(3);
  for (size_t i : {size_t(0), keys.size() - 1}) {
    const auto& k = keys[i];
    SubPubKeyInfo plain;
    ASSERT_GT(decodeSpki(plain, k.spki), 0);
    const Bytes mod = octets(plain.rsaKey.modulus.data(), plain.rsaKey.modulus.length);
    const Bytes exp = octets(plain.rsaKey.publicExponent.data(), plain.rsaKey.publicExponent.length);
    for (size_t zeros : {size_t(0), size_t(1), size_t(3)}) {
      SCOPED_TRACE(k.bits + " bits, " + std::to_string(zeros) + " more zero octets");
      SubPubKeyInfo key;
      ASSERT_GT(key.decodeVector(spkiOf(cat({Bytes(zeros, 0), mod}), exp)), 0);
      auto verify = [&](const Bytes& sig) {
        return key.verifyData(v15, message().data(), static_cast<int>(message().size()),
                              sig.data(), static_cast<int>(sig.size()));
      };
      EXPECT_EQ(verify(k.sig), SubPubKeyInfo::SIG_VALID);
      EXPECT_EQ(verify(cat({Bytes{0}, k.sig})), SubPubKeyInfo::SIG_INVALID);
      EXPECT_EQ(verify(Bytes(k.sig.begin() + 1, k.sig.end())), SubPubKeyInfo::SIG_INVALID);
    }
  }
}

// The quick road refers to the rsaEncryption OID's constant octets instead of copying them:
// every later change of the value (or of a copy) must let go of them without freeing or
// writing them, and leave what the same change leaves after the full decoder.
TEST(RsaQuickReader, AlgorithmOidOfAQuickKeyThroughEveryChange) {
  const auto keys = opensslKeys();
  ASSERT_FALSE(keys.empty());
  const Bytes& spki = keys.front().spki;
  const Bytes sha256Der = unhex("0609608648016503040201");
  struct Change {
    const char* name;
    std::function<void(ASNobjectId&)> apply;
    const char* text;  // the value after it ("" empty)
  };
  const Change changes[] = {
      {"nothing", [](ASNobjectId&) {}, "1.2.840.113549.1.1.1"},
      {"assigned", [](ASNobjectId& o) { o = id_sha256; }, "2.16.840.1.101.3.4.2.1"},
      {"set from text", [](ASNobjectId& o) { o.set("1.2.3.4"); }, "1.2.3.4"},
      {"cleared", [](ASNobjectId& o) { o.clear(); }, ""},
      {"views released", [](ASNobjectId& o) { o.releaseViews(); }, "1.2.840.113549.1.1.1"},
      {"decoded", [&](ASNobjectId& o) { o.decodeVector(sha256Der); }, "2.16.840.1.101.3.4.2.1"},
      {"decoded in place",
       [&](ASNobjectId& o) { o.decodeVector(sha256Der, ASN_FLAG_CONST | ASN_FLAG_COPY); },
       "2.16.840.1.101.3.4.2.1"},
      {"refused decode", [](ASNobjectId& o) { o.decodeVector(unhex("060180")); }, ""},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.name);
    auto key = std::make_unique<SubPubKeyInfo>();
    ASSERT_EQ(key->decodeVector(spki), static_cast<int>(spki.size()));
    SubPubKeyInfo copied(*key);
    c.apply(key->algorithm.algorithm);
    std::string text;
    if (key->algorithm.algorithm.length > 0) { ASSERT_TRUE(key->algorithm.algorithm.toString(text)); }
    EXPECT_EQ(text, c.text);
    // the copy made before the change keeps the constant's value, and so does a key decoded
    // again into the changed object
    EXPECT_TRUE(copied.algorithm.algorithm == rsaEncryption);
    key.reset();
    EXPECT_TRUE(copied.algorithm.algorithm == rsaEncryption);
    SubPubKeyInfo again;
    ASSERT_EQ(again.decodeVector(spki), static_cast<int>(spki.size()));
    c.apply(again.algorithm.algorithm);
    ASSERT_EQ(again.decodeVector(spki), static_cast<int>(spki.size()));
    EXPECT_TRUE(again.algorithm.algorithm == rsaEncryption);
    Bytes der;
    ASSERT_GT(again.encodeVector(der), 0);
    EXPECT_EQ(der, spki);
  }
}
