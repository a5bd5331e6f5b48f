// The work net: the primitives every loop over a document passes through
// (ASN.1 decoding, DER encoding, digests, base64, public-key arithmetic, our
// canonicaliser) tick the current account; once it is over each refuses at
// once, so a loop that pays nothing stops within a round, and a document whose
// clock runs out inside one of them is refused (140) as a whole. No clock is
// read by the tests: the trip hook stops the account at a chosen read.
#include "upo_fixture.h"

#include "base/b64file.h"
#include "base/memfile.h"
#include "base/workaccount.h"
#include "crypto/algebra/lvcryptoep.h"
#include "crypto/algebra/lve2n.h"
#include "crypto/algebra/lvep.h"
#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvexception.h"
#include "crypto/basic/lvnet.h"
#include "crypto/hash/lvhash.h"
#include "pki/x509/cert.h"
#include "xmlsig/xmlc14writer.h"

#include <libxml/parser.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using upofix::readAll;
using upofix::UPO;

// Independent values: SHA-256 of 64 KiB of 'a' and a 2048-bit power (Python's
// hashlib and pow).
const char* const SHA256_OF_64K_A = "bf718b6f653bebc184e1479f1935b8da974d701b893afcf49e701f3e2f9f9c5a";
const char* const POW_M =
    "0xd029824f638b5858ac7a1618fc9dd323ab32ecada69835d73ba5e4c5cefbbda2bbf53a6bc3a29e4f71bfab4af80f229f"
    "b39e5b7701ae0f1484ed644c5ef361abf9388c2b27189d80f8dc6aeb291c2c34b46f4620bbc62a29e1ccfc95e844890d"
    "86cee0a1a661e74065ca18f003414ce29762130ce1b3cd71bf7deb0f66946f403e896e844ee77a4f7dbf51751873e214"
    "aec79e7e1f7e144b2e5f0f6c708088f228734e9e08f4f73f49b8fea62d40db9baa57d4e10a2c763da4d0027034293a51"
    "e3a7acaaeb6158f3472cb3c89f22178c7cdfb92b6df1823c98aac605f1e366b0445044ba6a50a78377b71249f8db217c"
    "688bf8cac4189fcd1db84aa91325af11";
const char* const POW_X =
    "0x2447f3313aafd6a3187501f8dcaee007b1763c65eb9dfc45c9f8c470647661b19d79703e1101f609819b4abb7bde101e"
    "8106621cb4f2b2c05a601ec5bcc18c1d7e074ca404e46d529f50a59812fcf36f1eeba2c0794eb142edd3058b7e9989b0"
    "4dfd87e10a3e30baeaefbcf13ead223f2b4a7fa9bcf8932b07a7cc68165ddf402cf8423d29120650ee01ebe6a1336562"
    "32ff13e0c97b7074fe75ac25a1c4bc4624c83d63b84d9ba035c62a00bfb6df516e5a00561f379ae9f66622fd4e1406a9"
    "06493c5ebee2597e2452713108bedb228b6e987b1a2500bb5f53e805b03bcef544908f92e5bb6f6701c728fe36175ba7"
    "4fa3e1621ec70a74976e";
const char* const POW_E = "0xf47cf3d9809d6cb9";
const char* const POW_R =
    "0x8a62bc1c4f1e6c6c999e122b1f3834df634fb42ac48ddb0f9e4632464df26a8abfdfe30250eaddb8369a3ea921f81eac"
    "3a3dbf2f59b8463843990e1cac12e4e724adb02908c3bf5c571398abaf19c31f32d7db2d2a266aa63534450ccf916342"
    "37c19ab09c42776f17fabf7211bdb9078fc02f9d86fac9c41e791f1d836f8d737b6e7fce2169848e9524104d2747f52d"
    "2c7a20db679f71aa4fd24fb76669ec5f06e2ba5c15ca500f5fe543729d74ae4aed2d7a71dee252a8630cb20a2beea22e"
    "07847e3e17d29413cda7b04bd661febda2ff5c508d6c88815e49eb61c0a94b54bb5e7e3ea23d6a0aa0c95e49c587f005"
    "48bc76d82a1830d7833ab1fb3910c0c2";

std::string hex(const unsigned char* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
  return s;
}

// The published curves (`openssl ecparam`): name, binary, a, b, prime or
// reduction polynomial, base point, order, cofactor.
struct NamedCurve {
  const char* name;
  int binary;
  const char *a, *b, *field, *G, *n, *h;
};
const NamedCurve NAMED_CURVES[] = {
#include "crypto/algebra/named_curve_params.inc"
};

std::vector<LvOctet> unhex(const char* text) {
  std::vector<LvOctet> out;
  for (const char* p = text; p[0] && p[1]; p += 2)
    out.push_back(static_cast<LvOctet>(std::stoi(std::string(p, 2), nullptr, 16)));
  return out;
}

// A curve's group with its base point twice (two objects: a sum of multiples
// of one object is taken as one multiplication) and the point's order.
struct EcGroup {
  std::unique_ptr<LvGroup> group;
  std::unique_ptr<LvGroupElem> g, h;
  LvN order;

  template <class Group>
  static EcGroup of(const char* name) {
    for (const NamedCurve& c : NAMED_CURVES) {
      if (std::string(c.name) != name) continue;
      const std::vector<LvOctet> a = unhex(c.a), b = unhex(c.b), f = unhex(c.field), g = unhex(c.G),
                                 n = unhex(c.n);
      EcGroup out;
      out.group.reset(new Group(a.data(), static_cast<unsigned>(a.size()), b.data(),
                                static_cast<unsigned>(b.size()), f.data(), static_cast<unsigned>(f.size())));
      out.g.reset(out.group->createNew(g.data(), static_cast<unsigned>(g.size())));
      out.h.reset(out.group->createNew(g.data(), static_cast<unsigned>(g.size())));
      out.order = LvN(n.data(), static_cast<unsigned>(n.size()));
      return out;
    }
    throw std::runtime_error(name);
  }

  // r is the neutral element: the work's right answer when it multiplied by the order.
  bool neutral(const LvGroupElem* r) const {
    std::unique_ptr<LvGroupElem> o(group->createCopy(nullptr));
    return group->isEqual(r, o.get());
  }

  // k·G + (order - k)·G, by the group's own two-scalar multiplication, or by
  // the joint window every commutative group has.
  bool twoScalars(bool jointWindow) const {
    const LvN k = order >> 1;
    try {
      std::unique_ptr<LvGroupElem> r(group->createCopy(nullptr));
      if (jointWindow)
        static_cast<const LvAbelianGroup&>(*group).LvAbelianGroup::mul2(r.get(), k, g.get(), order - k, h.get());
      else
        group->mul2(r.get(), k, g.get(), order - k, h.get());
      return neutral(r.get());
    } catch (const LvInterruptException&) {
      return false;
    }
  }

  // order·G by the group's one-scalar multiplication.
  bool oneScalar() const {
    try {
      std::unique_ptr<LvGroupElem> r(group->createMul(order, g.get()));
      return neutral(r.get());
    } catch (const LvInterruptException&) {
      return false;
    }
  }
};

// One round of each primitive's work: true when it did the work and got the
// right answer.
struct Primitive {
  const char* name;
  std::function<bool()> round;
};

class WorkNet : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(UPO + "pki/signer-rsa.der", std::ios::binary);
    der.assign(std::istreambuf_iterator<char>(in), {});
    ASSERT_GT(der.size(), 100u);
    ASSERT_EQ(static_cast<int>(der.size()), owned.decodeVector(der));
    std::ifstream ca(UPO + "pki/intermediate.der", std::ios::binary);
    const std::vector<unsigned char> caDer(std::istreambuf_iterator<char>(ca), {});
    SignedCertificate issuer;
    ASSERT_EQ(static_cast<int>(caDer.size()), issuer.decodeVector(caDer));
    issuerKey = issuer.tbsCertificate.subjectPublicKeyInfo;
    ASSERT_EQ(1, owned.tbsCertificate.digest(LV_HASH_SHA256, tbsDigest, sizeof tbsDigest));
    for (int i = 0; i < 4096; ++i) text += "YWJj";  // "abc"
    const std::string xml = "<r xmlns='urn:x'><e a='1'>t</e><e a='2'/></r>";
    doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, 0);
    ASSERT_NE(doc, nullptr);
    const std::string plain = "<r><e a='1'>t</e><e a='2'/></r>";
    plainDoc = xmlReadMemory(plain.data(), static_cast<int>(plain.size()), nullptr, nullptr, 0);
    ASSERT_NE(plainDoc, nullptr);
    brainpool = EcGroup::of<LvEp>("brainpoolP256r1");
    p256 = EcGroup::of<LvCryptoEp>("secp256r1");
    binary = EcGroup::of<LvE2n>("sect163k1");
  }
  void TearDown() override {
    xmlFreeDoc(plainDoc);
    xmlFreeDoc(doc);
    workAccountTripAfter(0);
  }

  std::vector<Primitive> primitives() {
    return {
        {"ASN.1 decoding",
         [this] {
           SignedCertificate c;
           return c.decodeVector(der) == static_cast<int>(der.size());
         }},
        {"DER encoding",
         [this] {
           std::vector<unsigned char> out;
           return owned.encodeVector(out) > 0 && out == der;
         }},
        {"digest",
         [] {
           std::unique_ptr<LvHash> h(lvHashCreateObject(LV_HASH_SHA256));
           const std::string a(65536, 'a');
           h->init();
           for (size_t at = 0; at < a.size(); at += 1000)
             h->step(reinterpret_cast<const LvOctet*>(a.data()) + at,
                     static_cast<unsigned int>(std::min<size_t>(1000, a.size() - at)));
           h->finish();
           return hex(h->getHashPtr(), 32) == SHA256_OF_64K_A;
         }},
        // As the canonicaliser feeds a reference's digests: pieces shorter
        // than a block, each completing the one buffered.
        {"digest fed in short pieces",
         [] {
           std::unique_ptr<LvHash> h(lvHashCreateObject(LV_HASH_SHA256));
           const std::string a(65536, 'a');
           h->init();
           for (size_t at = 0; at < a.size(); at += 40)
             h->step(reinterpret_cast<const LvOctet*>(a.data()) + at,
                     static_cast<unsigned int>(std::min<size_t>(40, a.size() - at)));
           h->finish();
           return hex(h->getHashPtr(), 32) == SHA256_OF_64K_A;
         }},
        {"base64",
         [this] {
           std::vector<uint8_t> out(text.size());
           const int32_t n = decodeBase64Block(text.data(), static_cast<int32_t>(text.size()), out.data());
           return n == 12288 && std::string(out.begin(), out.begin() + 3) == "abc";
         }},
        {"base64 text into a file",
         [this] {
           MemFile out;
           return decodeBase64Text(text.data(), static_cast<int32_t>(text.size()), &out, 0) == 12288 &&
                  out.length() == 12288;
         }},
        {"streamed base64",
         [this] {
           std::string copy = text;
           MemFile source(reinterpret_cast<uint8_t*>(&copy[0]), static_cast<int32_t>(copy.size()), false);
           MemFile out;
           DecodeBase64 decoder;
           return decoder.decode(&source, true, &out) == BASE64_OK && out.length() == 12288;
         }},
        {"our canonicaliser",
         [this] {
           XmlElementSelection all;
           all.doc = doc;
           XmlWorkBudget budget;
           std::string out;
           XmlStringSink sink(out);
           return xmlCanonicaliseElements(all, false, {}, false, budget, sink) == 0 &&
                  out == "<r xmlns=\"urn:x\"><e a=\"1\">t</e><e a=\"2\"></e></r>";
         }},
        // No namespace in scope: only the walk's own tick can stop it.
        {"our canonicaliser, no namespaces",
         [this] {
           XmlElementSelection all;
           all.doc = plainDoc;
           XmlWorkBudget budget;
           std::string out;
           XmlStringSink sink(out);
           return xmlCanonicaliseElements(all, false, {}, false, budget, sink) == 0 &&
                  out == "<r><e a=\"1\">t</e><e a=\"2\"></e></r>";
         }},
        {"public-key arithmetic",
         [] {
           const LvModulus m(POW_M, LvModulus::OPT_MONT);
           try {
             return pow(LvZn(LvN(POW_X), &m), LvN(POW_E)).getN() == LvN(POW_R);
           } catch (const LvInterruptException&) {
             return false;
           }
         }},
        // Each curve arithmetic a signature check may run, alone: its own
        // tick is the only one on its way.
        {"EC arithmetic, a prime curve's engine", [this] { return brainpool.twoScalars(false); }},
        {"EC arithmetic, a special prime's engine", [this] { return p256.twoScalars(false); }},
        {"EC arithmetic, the joint window", [this] { return brainpool.twoScalars(true); }},
        {"EC arithmetic, a binary curve, one scalar", [this] { return binary.oneScalar(); }},
        {"EC arithmetic, a binary curve, two scalars", [this] { return binary.twoScalars(false); }},
        // The signer's certificate checked with its issuer's key, its digest
        // taken before: only the public-key arithmetic is left to refuse.
        {"RSA signature check",
         [this] {
           return issuerKey.rsaKey.verify(tbsDigest, sizeof tbsDigest, owned.signatureAlgorithm,
                                          owned.signature.bits(), owned.signature.bitsLength()) ==
                  RSAPublicKey::OK;
         }},
    };
  }

  std::vector<unsigned char> der;
  SignedCertificate owned;
  SubPubKeyInfo issuerKey;
  unsigned char tbsDigest[32] = {};
  std::string text;
  xmlDocPtr doc = nullptr;
  xmlDocPtr plainDoc = nullptr;
  EcGroup brainpool, p256, binary;
};

WorkAccount roomy() { return WorkAccount(UINT64_MAX / 2, std::chrono::hours(1)); }

// Without an account, and with one that is not over, every primitive does its
// work; once the account is over, none does, each refusing at its first tick.
TEST_F(WorkNet, APrimitiveRefusesOnceItsAccountIsOver) {
  for (const Primitive& p : primitives()) {
    EXPECT_TRUE(p.round()) << p.name << ", no account";
    WorkAccount account = roomy();
    WorkAccountScope scope(&account);
    EXPECT_TRUE(p.round()) << p.name << ", an account not over";
    account.stop();
    const uint64_t refusedBefore = workTicksRefused();
    int worked = 0;
    for (int i = 0; i < 200; ++i) worked += p.round();
    EXPECT_EQ(worked, 0) << p.name;
    EXPECT_GE(workTicksRefused() - refusedBefore, 200u) << p.name;
  }
}

// A loop that pays nothing, of rounds of one primitive: its account's clock
// read as spent at the first read (after WORK_CLOCK_TICKS ticks), no round
// does any work after the one it stopped in.
TEST_F(WorkNet, ALoopThatPaysNothingStopsWithinARoundOfItsAccount) {
  for (const Primitive& p : primitives()) {
    WorkAccount account = roomy();
    WorkAccountScope scope(&account);
    workAccountTripAfter(1);
    const uint64_t ticksBefore = workTicksCounted();
    int before = 0, after = 0, stoppedAt = -1;
    for (int i = 0; i < 4 * static_cast<int>(WORK_CLOCK_TICKS); ++i) {
      const bool worked = p.round();
      if (stoppedAt < 0 && account.over()) stoppedAt = i;
      if (stoppedAt >= 0 && i > stoppedAt) after += worked;
      else before += worked;
    }
    workAccountTripAfter(0);
    ASSERT_GE(stoppedAt, 0) << p.name;
    EXPECT_TRUE(account.netPassed()) << p.name;
    EXPECT_EQ(after, 0) << p.name;
    // Every round ticked at least once before the stop.
    EXPECT_LE(before, static_cast<int>(WORK_CLOCK_TICKS)) << p.name;
    EXPECT_GT(workTicksCounted() - ticksBefore, static_cast<uint64_t>(WORK_CLOCK_TICKS)) << p.name;
  }
}

// A digest whose account runs out midway answers all zero, not the digest of
// the octets it read before (which a crafted DigestValue could name); so does
// a long one-shot digest begun after.
TEST_F(WorkNet, ADigestRefusedMidwayEndsAllZero) {
  const std::string a(65536, 'a');
  const auto* octets = reinterpret_cast<const LvOctet*>(a.data());
  for (LvHashAlgo algorithm : {LV_HASH_SHA256, LV_HASH_SHA512}) {
    std::unique_ptr<LvHash> h(lvHashCreateObject(algorithm));
    const std::string zero(h->getHashOctets(), '\0');
    WorkAccount account = roomy();
    WorkAccountScope scope(&account);
    h->init();
    for (size_t at = 0; at < a.size(); at += 1000) {
      if (at == 32000) account.stop();
      h->step(octets + at, static_cast<unsigned int>(std::min<size_t>(1000, a.size() - at)));
    }
    h->finish();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h->getHashPtr()), zero.size()), zero)
        << algorithm;
    h->hash(octets, static_cast<unsigned int>(a.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h->getHashPtr()), zero.size()), zero)
        << algorithm << ", one-shot";
    // Too short to tick on its way: refused as it finishes.
    for (size_t length : {0, 3, 100}) {
      h->hash(octets, static_cast<unsigned int>(length));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(h->getHashPtr()), zero.size()), zero)
          << algorithm << ", one-shot of " << length;
      h->init();
      h->step(octets, static_cast<unsigned int>(length));
      h->finish();
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(h->getHashPtr()), zero.size()), zero)
          << algorithm << ", " << length << " octets stepped";
    }
  }
}

// The crypto library reaches the tick through its hook, set by the ASN.1 layer
// once for the whole process.
TEST(WorkNetHook, TheCryptoLibrarysNetIsTheAccountsTick) {
  EXPECT_EQ(lvnet::tickHook.load(), &workTick);
}

// Through tvXmlUnprotect: the clock read as spent by a primitive's tick, at
// each such read of a receipt's verification, refuses the receipt (140); and
// the receipts verify as before afterwards.
class WorkNetDocuments : public upofix::UpoContext {
 protected:
  void TearDown() override {
    workAccountTripAfter(0);
    UpoContext::TearDown();
  }
};

// The crypto library's ticks, counted apart: a stop by one of them fell inside
// a digest or a public-key check.
uint64_t cryptoStops = 0;
bool countingTick() noexcept {
  const uint64_t before = workTicksStopping();
  const bool goOn = workTick();
  if (workTicksStopping() != before) ++cryptoStops;
  return goOn;
}

TEST_F(WorkNetDocuments, AClockSpentInsideAPrimitiveRefusesTheDocument) {
  lvnet::setTick(&countingTick);
  struct Restore {
    ~Restore() { lvnet::setTick(&workTick); }
  } restore;
  const std::string receipt = readAll(UPO + "upo.xml");
  // A text of 2 MiB in the signed object: canonicalised and digested.
  std::string large = receipt;
  const std::string object = "<pot:Potwierdzenie xmlns:pot=\"http://e-deklaracje.example.pl/Repozytorium/Potwierdzenie/\">";
  large.insert(large.find(object) + object.size(), "<t>" + std::string(2 << 20, 'x') + "</t>");
  // An object of 2 MiB of base64 text beside it, which a reference decodes.
  std::string encoded = receipt;
  std::string text;
  for (int i = 0; i < (1 << 19); ++i) text += "YWJj";
  encoded.insert(encoded.rfind("</ds:Signature>"), "<ds:Object Id=\"big\">" + text + "</ds:Object>");
  encoded.insert(encoded.find("<ds:Reference URI=\"#Dokument-0\""),
                 "<ds:Reference URI=\"#big\"><ds:Transforms><ds:Transform "
                 "Algorithm=\"http://www.w3.org/2000/09/xmldsig#base64\"/></ds:Transforms>"
                 "<ds:DigestMethod Algorithm=\"http://www.w3.org/2001/04/xmlenc#sha256\"/>"
                 "<ds:DigestValue>AAAA</ds:DigestValue></ds:Reference>");
  // Each work mostly in one kind of primitive.
  const struct {
    const char* name;
    std::string doc;
  } documents[] = {
      {"time-stamped receipt", readAll(UPO + "upo-t.xml")},  // ASN.1 decoding
      {"2 MiB text", large},                                 // canonicaliser, digests
      {"2 MiB of base64", encoded},                          // base64, digests
      {"EC signature", readAll(UPO + "upo-ec.xml")},         // EC arithmetic
  };
  uint64_t inCrypto = 0;
  for (const auto& d : documents) {
    upofix::unprotectText(ctx, d.doc);
    const upofix::Unprotected full = upofix::unprotectText(ctx, d.doc);
    const uint64_t reads = workAccountLastReads();
    ASSERT_GT(reads, 0u) << d.name;
    int tickStops = 0;
    for (uint64_t at = 1; at <= reads; ++at) {
      const uint64_t stopsBefore = workTicksStopping();
      workAccountTripAfter(static_cast<long>(at));
      const upofix::Unprotected tripped = upofix::unprotectText(ctx, d.doc);
      workAccountTripAfter(0);
      if (workTicksStopping() == stopsBefore) continue;  // a charge's read, not a tick's
      ++tickStops;
      EXPECT_EQ(tripped.rc, 140) << d.name << ", clock spent at read " << at;
    }
    EXPECT_GT(tickStops, 0) << d.name;
    const upofix::Unprotected again = upofix::unprotectText(ctx, d.doc);
    EXPECT_EQ(again.rc, full.rc) << d.name;
    EXPECT_EQ(again.status, full.status) << d.name;
    printf("%-24s %8zu octets  %5llu clock reads  %3d by ticks\n", d.name, d.doc.size(),
           static_cast<unsigned long long>(reads), tickStops);
  }
  inCrypto = cryptoStops;
  EXPECT_GT(inCrypto, 0u);
}

}  // namespace
