// Certificates made by openssl (tests/data/pki/certs/gen.sh) and taken from
// python3-cryptography-vectors: decoding in both forms, TBS digests against
// openssl's, signatures through SubPubKeyInfo, copies of values read in place,
// the text armour, and malformed variants of real certificates.
#include "pki/x509/cert.h"

#include "asn1/asnseql.h"
#include "pki/common/pkiasn.h"
#include "pki/x509/crl.h"

#include "pki/certtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace certtest;

namespace {

std::map<std::string, std::string> tbsDigests() {
  std::map<std::string, std::string> m;
  for (const auto& f : pkitest::readFixture("certs/tbs_sha256.tsv"))
    if (f.size() == 2) m[f[0]] = f[1];
  return m;
}

bool isCrlName(const std::string& n) { return n.find("crl") != std::string::npos; }

SignedCertificate load(const std::string& name, unsigned char flags = 0) {
  SignedCertificate c;
  Bytes b = readFile(name);
  EXPECT_GT(decodeBytes(c, b, flags), 0) << name;
  return c;
}

}  // namespace

TEST(CertDecode, TbsDigestEqualsOpensslInPlaceAndReencoded) {
  int seen = 0;
  for (const auto& [name, expected] : tbsDigests()) {
    if (isCrlName(name)) continue;
    ++seen;
    Bytes b = readFile(name);
    ASSERT_FALSE(b.empty()) << name;
    for (unsigned char flags : {0, 1}) {
      SignedCertificate c;
      const int r = decodeBytes(c, b, flags);
      // DER answers its length; armour the characters up to the END line.
      EXPECT_GT(r, 0) << name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".der") {
        EXPECT_EQ(r, static_cast<int>(b.size())) << name;
      }
      // In place: the received octets; else the re-encoding. Both must be
      // what openssl hashes, except where the received TBS is not DER.
      if (flags == 0 && name == "v1_explicit.der")
        EXPECT_NE(sha256Hex(c.tbsCertificate), expected);
      else
        EXPECT_EQ(sha256Hex(c.tbsCertificate), expected) << name << " flags " << int(flags);
    }
  }
  EXPECT_GE(seen, 15);
}

TEST(CertDecode, DerReencodesByteForByte) {
  for (const char* name : {"v3_rsa.der", "v1_rsa.der", "gentime_ec.der", "pss_fixed.der",
                           "pss_free.der", "pss_signed.der", "rsa_ca.der", "ec_ca.der"}) {
    Bytes b = readFile(name);
    SignedCertificate c;
    ASSERT_EQ(decodeBytes(c, b), static_cast<int>(b.size())) << name;
    Bytes out;
    ASSERT_GT(c.encodeVector(out), 0) << name;
    EXPECT_EQ(out, b) << name;
    EXPECT_EQ(c.encodedLength(), static_cast<int>(b.size())) << name;
  }
}

TEST(CertDecode, FieldsOfKnownCertificates) {
  SignedCertificate v1 = load("v1_rsa.der");
  EXPECT_EQ(v1.tbsCertificate.versionNumber(), 0u);
  EXPECT_EQ(v1.tbsCertificate.serialNumber.toLong(), 7u);
  EXPECT_FALSE(v1.tbsCertificate.hasExtensions());
  EXPECT_FALSE(v1.isCa());

  SignedCertificate v3 = load("v3_rsa.der");
  EXPECT_EQ(v3.tbsCertificate.versionNumber(), 2u);
  EXPECT_EQ(v3.tbsCertificate.serialNumber.byteLength(), 12);
  EXPECT_EQ(v3.tbsCertificate.extensions->GetCount(), 9);
  EXPECT_FALSE(v3.isCa());
  EXPECT_EQ(v3.tbsCertificate.publicKeySize(), 256u);  // bytes for RSA

  SignedCertificate ec = load("gentime_ec.der");
  EXPECT_EQ(ec.tbsCertificate.validity.notBefore.form(), TAG_UTCT_TIME);
  EXPECT_EQ(ec.tbsCertificate.validity.notAfter.form(), TAG_GENERAL_TIME);
  EXPECT_EQ(ec.tbsCertificate.validity.notAfter.year, 2068);
  EXPECT_EQ(ec.tbsCertificate.publicKeySize(), 256u);  // bits for EC

  EXPECT_TRUE(load("rsa_ca.der").isCa());
  EXPECT_TRUE(load("ec_ca.der").isCa());
}

TEST(CertDecode, FixesRsaPssParameters) {
  const struct {
    const char* name;
    bool fixes;
  } rows[] = {{"pss_fixed.der", true},
              {"pss_free.der", false},
              {"pss_signed.der", false},
              {"rsa_ca.der", false},
              {"ec_ca.der", false}};
  for (const auto& r : rows) EXPECT_EQ(load(r.name).fixesRsaPssParameters(), r.fixes) << r.name;
}

TEST(CertVerify, SignaturesWithTheIssuersKey) {
  const struct {
    const char* subject;
    const char* issuer;
    int expected;
  } rows[] = {
      {"v3_rsa.der", "rsa_ca.der", 1},
      {"v1_rsa.der", "rsa_ca.der", 1},
      {"pss_signed.der", "rsa_ca.der", 1},
      {"gentime_ec.der", "ec_ca.der", 1},
      {"rsa_ca.der", "rsa_ca.der", 1},
      {"ec_ca.der", "ec_ca.der", 1},
      {"pss_fixed.der", "pss_fixed.der", 1},
      {"pss_free.der", "pss_free.der", 1},
      {"vectors/valid_signature_cert.pem", "vectors/valid_signature_cert.pem", 1},
      {"vectors/dsa_selfsigned_ca.pem", "vectors/dsa_selfsigned_ca.pem", 1},
      {"vectors/ecdsa_root.pem", "vectors/ecdsa_root.pem", 1},
      // wrong issuer of the same kind: does not match
      {"v3_rsa.der", "v1_rsa.der", -3},
      // an EC key for an RSA signature: the key does not fit
      {"v3_rsa.der", "ec_ca.der", -1},
      {"gentime_ec.der", "rsa_ca.der", -1},
      // a PKCS#1 v1.5 signature checked with an RSASSA-PSS key
      {"v3_rsa.der", "pss_free.der", -1},
  };
  for (const auto& r : rows)
    for (unsigned char flags : {0, 1}) {
      SignedCertificate s = load(r.subject, flags), i = load(r.issuer);
      EXPECT_EQ(s.verifySignature(i), r.expected)
          << r.subject << " by " << r.issuer << " flags " << int(flags);
    }
  EXPECT_EQ(load("rsa_ca.der").verifySelfSigned(), 1);
  EXPECT_EQ(load("v3_rsa.der").verifySelfSigned(), -3);
}

TEST(CertVerify, AlteredOrEmptySignatureIsInvalid) {
  SignedCertificate c = load("v3_rsa.der"), ca = load("rsa_ca.der");
  c.signature.setBit(100, c.signature.getBit(100) ^ 1);
  EXPECT_EQ(c.verifySignature(ca), -3);
  c.signature.clear();
  EXPECT_EQ(c.verifySignature(ca), -3);
}

// v3_rsa with one length field written one octet longer (BER, not DER): its
// re-encoding is the DER openssl signed, its octets are not. Neither form
// nor any copy verifies.
TEST(CertVerify, LongerLengthFormNeverVerifiesOverItsReencoding) {
  const Bytes der = readFile("v3_rsa.der");
  ASSERT_EQ(der.size(), 0x445u);  // 30 82 04 41 | 30 82 03 29 | a0 03 02 01 02 | 02 0c ...
  const SignedCertificate ca = load("rsa_ca.der");
  const struct {
    const char* name;
    Bytes octets;
  } rows[] = {{"TBS length", longerLength(der, 5, {3})},
              {"serial length", longerLength(der, 14, {3, 7})}};
  for (const auto& row : rows)
    for (unsigned char flags : {0, 1}) {
      SCOPED_TRACE(std::string(row.name) + " flags " + std::to_string(flags));
      SignedCertificate c;
      ASSERT_EQ(decodeBytes(c, row.octets, flags), static_cast<int>(row.octets.size()));
      EXPECT_EQ(c.verifySignature(ca), SignedCertificate::CERT_SIG_INVALID);
      const SignedCertificate copy(c);
      EXPECT_EQ(copy.verifySignature(ca), SignedCertificate::CERT_SIG_INVALID);
      SharedCertificate held;
      held = c;
      EXPECT_EQ(held->verifySignature(ca), SignedCertificate::CERT_SIG_INVALID);
      SignedCertificate inPlace;
      ASSERT_EQ(decodeBytes(inPlace, der, ASN_FLAG_CONST), static_cast<int>(der.size()));
      inPlace = c;
      EXPECT_EQ(inPlace.verifySignature(ca), SignedCertificate::CERT_SIG_INVALID);
    }
}

TEST(CertCopy, ValueReadInPlaceKeepsItsReceivedOctets) {
  // The TBS of v1_explicit carries a DEFAULT version that a re-encoding
  // drops: only its received octets verify.
  SignedCertificate ca = load("rsa_ca.der");
  Bytes b = readFile("v1_explicit.der");
  {
    SignedCertificate plain;
    ASSERT_EQ(decodeBytes(plain, b), static_cast<int>(b.size()));
    EXPECT_EQ(plain.verifySignature(ca), -3);
  }
  auto original = std::make_unique<SignedCertificate>();
  std::unique_ptr<Bytes> input(new Bytes(b));
  ASSERT_EQ(original->decodeBuffer(input->data(), static_cast<int>(input->size()), ASN_FLAG_CONST),
            static_cast<int>(b.size()));
  ASSERT_EQ(original->verifySignature(ca), 1);
  SignedCertificate assigned;
  assigned = *original;
  SignedCertificate constructed(*original);
  TBSCertificate tbsCopy;
  tbsCopy = original->tbsCertificate;
  // The source and its input are gone; the copies still hold the octets.
  std::memset(input->data(), 0, input->size());
  input.reset();
  original.reset();
  EXPECT_EQ(assigned.verifySignature(ca), 1);
  EXPECT_EQ(constructed.verifySignature(ca), 1);
  Bytes out;
  ASSERT_GT(constructed.encodeVector(out), 0);
  EXPECT_EQ(out, b);
  EXPECT_EQ(sha256Hex(tbsCopy), sha256Hex(assigned.tbsCertificate));
  EXPECT_TRUE(assigned == constructed);
  // A target holding such a copy takes another value, and again.
  SignedCertificate plain = load("v3_rsa.der");
  assigned = plain;
  EXPECT_EQ(assigned.verifySignature(ca), 1);
  EXPECT_TRUE(assigned == plain);
  assigned = constructed;
  EXPECT_EQ(assigned.verifySignature(ca), 1);
  tbsCopy = plain.tbsCertificate;
  EXPECT_EQ(sha256Hex(tbsCopy), sha256Hex(plain.tbsCertificate));
}

TEST(CertCopy, EqualityAndPlainCopies) {
  SignedCertificate a = load("v3_rsa.der"), b = load("v1_rsa.der");
  SignedCertificate c;
  c = a;
  EXPECT_TRUE(c == a);
  EXPECT_FALSE(a == b);
  EXPECT_EQ(sha256Hex(c.tbsCertificate), sha256Hex(a.tbsCertificate));
  c.signature.setBit(9, c.signature.getBit(9) ^ 1);
  EXPECT_FALSE(c == a);
}

// Equality compares the encodings, a certificate read in place by its
// received octets, in either order and form.
TEST(CertCopy, EqualityReadInPlaceOrDecoded) {
  const unsigned char inPlace = ASN_FLAG_CONST | ASN_FLAG_COPY;
  SignedCertificate tampered = load("v3_rsa.der");
  tampered.tbsCertificate.serialNumber.set(99u);  // the same signature over other contents
  const struct {
    const char* name;
    SignedCertificate a, b;
    bool equal;
  } cases[] = {
      {"both in place", load("v3_rsa.der", inPlace), load("v3_rsa.der", inPlace), true},
      {"in place and decoded", load("v3_rsa.der", inPlace), load("v3_rsa.der"), true},
      {"other certificates in place", load("v3_rsa.der", inPlace), load("v1_rsa.der", inPlace),
       false},
      {"changed contents", load("v3_rsa.der", inPlace), tampered, false},
      // Its re-encoding drops a DEFAULT version: not the octets that were signed.
      {"received and re-encoded", load("v1_explicit.der", inPlace), load("v1_explicit.der"), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.equal, c.a == c.b) << c.name;
    EXPECT_EQ(c.equal, c.b == c.a) << c.name;
    EXPECT_TRUE(c.a == c.a) << c.name;
  }
}

// Copies of a shared certificate share one body; every way of changing one
// holder leaves the others as they were, in both decoded forms.
TEST(SharedCertificate, CopiesShareAndStayIndependent) {
  const ASNinteger wanted = load("v3_rsa.der").tbsCertificate.serialNumber;
  const struct {
    const char* change;
    void (*apply)(SharedCertificate& holder);
  } changes[] = {
      {"edit", [](SharedCertificate& h) { h.edit().signature.clear(); }},
      {"assign another", [](SharedCertificate& h) { h = load("v1_rsa.der"); }},
      {"clear", [](SharedCertificate& h) { h.clear(); }},
  };
  for (unsigned char flags : {0, 1})
    for (const auto& c : changes) {
      SharedCertificate first;
      first = load("v3_rsa.der", flags);
      SharedCertificate second = first;
      EXPECT_TRUE(second.sharesBodyWith(first)) << c.change;
      c.apply(second);
      EXPECT_FALSE(second.sharesBodyWith(first)) << c.change;
      EXPECT_TRUE(first->tbsCertificate.serialNumber.equals(wanted)) << c.change;
      EXPECT_EQ(first->verifySignature(load("rsa_ca.der")), 1) << c.change << int(flags);
      EXPECT_FALSE(second == load("v3_rsa.der")) << c.change;
    }

  // A body held once is changed in place; the certificate assigned from
  // stays apart from the holder.
  SignedCertificate source = load("v3_rsa.der");
  SharedCertificate only;
  only = source;
  const SignedCertificate* before = &only.get();
  only.edit().tbsCertificate.serialNumber.set(7u);
  EXPECT_EQ(before, &only.get());
  EXPECT_TRUE(source.tbsCertificate.serialNumber.equals(wanted));
  EXPECT_EQ(SharedCertificate()->signature.bitsLength(), 0);
}

// A path item's copy shares its certificate and survives the original item.
TEST(SharedCertificate, PathCopiesOutliveTheOriginal) {
  CertificatePath copy;
  {
    CertificatePath path;
    auto* item = new CertificateItem;
    item->certificate = load("v3_rsa.der", 1);
    ASSERT_EQ(1, path.append(item));
    copy = path;
    EXPECT_TRUE(copy.elementAt(0)->certificate.sharesBodyWith(item->certificate));
  }
  EXPECT_TRUE(copy.elementAt(0)->certificate == load("v3_rsa.der"));
  EXPECT_EQ(copy.elementAt(0)->certificate->verifySignature(load("rsa_ca.der")), 1);
}

// One body verified with its own key from several threads: the key's lazily
// prepared state is made once, and every answer is right.
TEST(SharedCertificate, OneBodyVerifiedFromSeveralThreads) {
  for (const char* issuerName : {"rsa_ca.der", "ec_ca.der"}) {
    const char* subjectName = issuerName[0] == 'r' ? "v3_rsa.der" : "gentime_ec.der";
    SharedCertificate issuer, subject;
    issuer = load(issuerName);
    subject = load(subjectName, 1);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([&, t] {
        const SharedCertificate mine = t % 2 ? issuer : SharedCertificate(issuer);
        for (int i = 0; i < 40; ++i)
          if (subject->verifySignature(mine) != 1 || mine->verifySelfSigned() != 1) ++wrong;
      });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0) << issuerName;
  }
}

// One pair of bodies, each certificate read both ways, used from several
// threads at once in every way a reader may: signature checks with the
// shared key, copies, encodings, comparisons, key sizes and a copy edited.
TEST(SharedCertificate, EveryReaderOfOneBodyInParallel) {
  for (const char* issuerName : {"rsa_ca.der", "ec_ca.der"})
    for (unsigned char flags : {0, 1}) {
      SCOPED_TRACE(std::string(issuerName) + " flags " + std::to_string(flags));
      const char* subjectName = issuerName[0] == 'r' ? "v3_rsa.der" : "gentime_ec.der";
      SharedCertificate issuer, subject;
      issuer = load(issuerName, flags);
      subject = load(subjectName, flags);
      const SignedCertificate reference = load(subjectName);
      std::atomic<int> wrong{0};
      std::vector<std::thread> threads;
      for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
          for (int i = 0; i < 30; ++i) {
            switch ((t + i) % 6) {
              case 0:
                if (subject->verifySignature(issuer) != 1) ++wrong;
                break;
              case 1:
                if (issuer->verifySelfSigned() != 1) ++wrong;
                break;
              case 2: {
                const SignedCertificate copy(subject.get());
                if (!(copy == reference) || copy.verifySignature(issuer) != 1) ++wrong;
                break;
              }
              case 3: {
                std::vector<unsigned char> out;
                if (subject->encodeVector(out) < 1 || issuer->tbsCertificate.publicKeySize() == 0 ||
                    issuer->isCa() != true)
                  ++wrong;
                break;
              }
              case 4: {
                SharedCertificate mine = subject;
                mine.edit().signature.clear();
                if (mine->verifySignature(issuer) == 1 || !(subject.get() == reference)) ++wrong;
                break;
              }
              default: {
                unsigned char id[20];
                if (!subject->tbsCertificate.subjectPublicKeyInfo.keyIdentifier(id)) ++wrong;
              }
            }
          }
        });
      for (std::thread& th : threads) th.join();
      EXPECT_EQ(wrong.load(), 0);
    }
}

// A holder edits its body in place once the other holder, in another thread,
// has read it and let it go: that thread's reads must happen before the
// edit (ThreadSanitizer tells a count read without ordering).
TEST(SharedCertificate, EditInPlaceAfterAnotherThreadLetGo) {
  SharedCertificate held;
  held = load("v3_rsa.der");
  std::atomic<bool> dropped{false};
  auto* other = new SharedCertificate(held);
  std::thread reader([&] {
    EXPECT_GT((*other)->signature.bitsLength(), 0);
    delete other;
    dropped.store(true, std::memory_order_relaxed);
  });
  while (!dropped.load(std::memory_order_relaxed)) std::this_thread::yield();
  const SignedCertificate* before = &held.get();
  held.edit().signature.clear();
  EXPECT_EQ(before, &held.get());
  reader.join();
}

// A certificate changed through edit() is no longer the one signed, in
// either decoded form: it neither verifies nor writes the old octets back.
TEST(SharedCertificate, EditedCertificateIsNotTheSignedOne) {
  const SignedCertificate ca = load("rsa_ca.der");
  const Bytes der = readFile("v3_rsa.der");
  for (unsigned char flags : {0, 1})
    for (bool shared : {false, true}) {
      SCOPED_TRACE("flags " + std::to_string(flags) + (shared ? " shared" : " held once"));
      SharedCertificate held;
      held = load("v3_rsa.der", flags);
      const SharedCertificate other = shared ? held : SharedCertificate();
      held.edit().tbsCertificate.serialNumber.set(7u);
      uint32_t serial = 0;
      EXPECT_TRUE(asnSmallValue(held->tbsCertificate.serialNumber, &serial) && serial == 7u);
      EXPECT_NE(held->verifySignature(ca), SignedCertificate::CERT_SIG_VALID);
      Bytes out;
      ASSERT_GT(held->encodeVector(out), 0);
      EXPECT_NE(out, der);
      if (shared) { EXPECT_EQ(other->verifySignature(ca), SignedCertificate::CERT_SIG_VALID); }
    }
}

// A body held read-only remembers its TBS encoding from its first signature
// check. Every way of changing it (through edit(), whose reference may be
// kept) makes it verify as what it has become, never as what it was.
TEST(SharedCertificate, RememberedTbsNeverOutlivesAChange) {
  const SignedCertificate ca = load("rsa_ca.der");
  const Bytes other = readFile("v1_rsa.der");
  const struct {
    const char* change;
    bool verifies;  // then, with rsa_ca's key
    void (*apply)(SignedCertificate& edited, const Bytes& other);
  } changes[] = {
      {"serial", false,
       [](SignedCertificate& e, const Bytes&) { e.tbsCertificate.serialNumber.set(7u); }},
      {"assigned v1_rsa", true,
       [](SignedCertificate& e, const Bytes&) { e = load("v1_rsa.der"); }},
      {"decoded v1_rsa", true,
       [](SignedCertificate& e, const Bytes& b) { ASSERT_GT(e.decodeVector(b), 0); }},
      {"cleared", false, [](SignedCertificate& e, const Bytes&) {
         e.clear();
         e.signature = load("v3_rsa.der").signature;
       }},
  };
  for (unsigned char flags : {0, 1})
    for (const auto& c : changes)
      for (bool keepReference : {false, true}) {
        SCOPED_TRACE(std::string(c.change) + " flags " + std::to_string(flags) +
                     (keepReference ? " reference kept" : ""));
        SharedCertificate held;
        held = load("v3_rsa.der", flags);
        ASSERT_EQ(held->verifySignature(ca), SignedCertificate::CERT_SIG_VALID);
        SignedCertificate& edited = held.edit();
        // Checked again through the editor's reference before the change.
        if (keepReference) { ASSERT_EQ(edited.verifySignature(ca), SignedCertificate::CERT_SIG_VALID); }
        c.apply(edited, other);
        EXPECT_EQ(held->verifySignature(ca) == SignedCertificate::CERT_SIG_VALID, c.verifies);
        const SharedCertificate copy = held;
        EXPECT_EQ(copy->verifySignature(ca) == SignedCertificate::CERT_SIG_VALID, c.verifies);
      }
}

// holding() shares a body some holder keeps read-only, and copies anything
// else: a plain certificate, or a body edit() has handed out.
TEST(SharedCertificate, HoldingSharesOnlyReadOnlyBodies) {
  for (unsigned char flags : {0, 1}) {
    SharedCertificate held;
    held = load("v3_rsa.der", flags);
    EXPECT_TRUE(SharedCertificate::holding(held.get()).sharesBodyWith(held));
    const SignedCertificate plain = load("v3_rsa.der", flags);
    const SharedCertificate fromPlain = SharedCertificate::holding(plain);
    EXPECT_NE(&fromPlain.get(), &plain);
    EXPECT_TRUE(fromPlain.get() == plain);
    SignedCertificate& edited = held.edit();
    const SharedCertificate fromEdited = SharedCertificate::holding(edited);
    EXPECT_FALSE(fromEdited.sharesBodyWith(held));
    edited.tbsCertificate.serialNumber.set(7u);
    EXPECT_EQ(fromEdited->verifySignature(load("rsa_ca.der")), SignedCertificate::CERT_SIG_VALID);
  }
}

// Threads racing to the first signature check of one body decoded privately:
// its TBS is written and published once, every check reads a whole one.
TEST(SharedCertificate, ThreadsRaceToRememberTheTbs) {
  for (const char* issuerName : {"rsa_ca.der", "ec_ca.der"})
    for (int round = 0; round < 4; ++round) {
      const char* subjectName = issuerName[0] == 'r' ? "v3_rsa.der" : "gentime_ec.der";
      SharedCertificate issuer, subject;
      issuer = load(issuerName);
      subject = load(subjectName);
      std::atomic<bool> go{false};
      std::atomic<int> wrong{0};
      std::vector<std::thread> threads;
      for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
          const SharedCertificate mine = t % 2 ? subject : SharedCertificate::holding(subject.get());
          while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
          for (int i = 0; i < 10; ++i)
            if (mine->verifySignature(issuer) != 1) ++wrong;
        });
      go.store(true, std::memory_order_release);
      for (std::thread& t : threads) t.join();
      EXPECT_EQ(wrong.load(), 0) << issuerName;
    }
}

TEST(CertValidity, BothEndsIncluded) {
  SignedCertificate c = load("gentime_ec.der");
  const Validity& v = c.tbsCertificate.validity;
  X509time t = v.notBefore;
  EXPECT_EQ(c.tbsCertificate.checkValidity(t), 0);
  t = v.notAfter;
  EXPECT_EQ(c.tbsCertificate.checkValidity(t), 0);
  X509time before;
  ASSERT_TRUE(before.setFromTime64(v.notBefore.toTime64(false) - 1, true));
  EXPECT_EQ(c.tbsCertificate.checkValidity(before), -1);
  X509time after(TAG_GENERAL_TIME);
  ASSERT_TRUE(after.setFromTime64(v.notAfter.toTime64(false) + 1, true));
  EXPECT_EQ(c.tbsCertificate.checkValidity(after), 1);
}

// Variants of real certificates: the TBS members rearranged.
TEST(CertDecode, MalformedVariants) {
  const Bytes v3 = readFile("v3_rsa.der"), v1 = readFile("v1_rsa.der");
  const Signed s3 = open(v3), s1 = open(v1);
  const Tlv bits{0x81, {0x00, 0xAB}}, bits2{0x82, {0x00, 0xCD}};
  const Tlv ext = s3.tbs.back();  // [3] extensions of the v3 certificate
  ASSERT_EQ(ext.tag, 0xA3);

  auto withVersion = [](Signed s, unsigned char v) {
    s.tbs[0].content = {0x02, 0x01, v};
    return s;
  };
  auto appended = [](Signed s, std::vector<Tlv> more) {
    s.tbs.insert(s.tbs.end(), more.begin(), more.end());
    return s;
  };
  Signed noExt = s3;
  noExt.tbs.pop_back();
  const struct {
    const char* what;
    Bytes der;
    bool ok;
  } rows[] = {
      {"v3 as received", close(s3), true},
      {"version 3 (a v4)", close(withVersion(s3, 3)), false},
      {"version 255", close(withVersion(s3, 0xFF)), false},
      {"v2 with extensions", close(withVersion(s3, 1)), false},
      {"v1 with a trailing [3]", close(appended(s1, {ext})), false},
      {"v2 with unique ids", close(appended(withVersion(noExt, 1), {bits, bits2})), true},
      {"v3 with ids after the extensions",
       close(appended(withVersion(noExt, 2), {ext, bits2, bits})), true},
      {"two [1]", close(appended(withVersion(noExt, 1), {bits, bits})), false},
      {"two [3]", close(appended(s3, {ext})), false},
      {"[4]", close(appended(withVersion(noExt, 2), {Tlv{0x84, {0}}})), false},
      {"universal after the key", close(appended(withVersion(noExt, 2), {Tlv{0x04, {0}}})), false},
      {"primitive [3]", close(appended(withVersion(noExt, 2), {Tlv{0x83, {0, 0}}})), false},
      {"a fourth element",
       close(appended(withVersion(noExt, 2), {bits, bits2, ext, Tlv{0x81, {0}}})), false},
  };
  for (const auto& r : rows) {
    SignedCertificate c;
    const int got = decodeBytes(c, r.der);
    EXPECT_EQ(got, r.ok ? static_cast<int>(r.der.size()) : 0) << r.what;
    if (r.ok && got > 0) {
      Bytes out;
      ASSERT_GT(c.encodeVector(out), 0) << r.what;
      EXPECT_EQ(out.size(), r.der.size()) << r.what;
      EXPECT_EQ(c.encodedLength(), static_cast<int>(out.size())) << r.what;
    }
  }
  // A vector with version 7 is refused.
  SignedCertificate bad;
  EXPECT_EQ(decodeBytes(bad, readFile("vectors/invalid_version.pem")), 0);
}

TEST(CertDecode, SubjectUniqueIdOnlyIsWrittenBack) {
  Signed s = open(readFile("v1_rsa.der"));
  s.tbs.insert(s.tbs.begin(), Tlv{0xA0, {0x02, 0x01, 0x01}});
  s.tbs.push_back(Tlv{0x82, {0x00, 0x01, 0x02}});
  const Bytes der = close(s);
  SignedCertificate c;
  ASSERT_EQ(decodeBytes(c, der), static_cast<int>(der.size()));
  EXPECT_EQ(c.tbsCertificate.issuerUniqueIDPresent, 0);
  EXPECT_EQ(c.tbsCertificate.subjectUniqueIDPresent, 1);
  Bytes out;
  ASSERT_GT(c.encodeVector(out), 0);
  EXPECT_EQ(out, der);
  // The copy keeps the [2] member.
  SignedCertificate d;
  d = c;
  out.clear();
  ASSERT_GT(d.encodeVector(out), 0);
  EXPECT_EQ(out, der);
}

TEST(CertArmour, LeadingTextAndASecondCertificate) {
  Bytes text = readFile("leading_text.pem");
  const std::string s(text.begin(), text.end());
  const size_t end = s.find("-----END CERTIFICATE-----") + 25;
  MemFile m(text.data(), static_cast<int32_t>(text.size()), false);
  SignedCertificate a, b;
  EXPECT_EQ(a.decode(&m, static_cast<int>(text.size()), 0), static_cast<int>(end));
  EXPECT_EQ(m.tell(), end);
  EXPECT_TRUE(a == load("v3_rsa.der"));
  // The rest of the input holds the CA certificate.
  const int rest = static_cast<int>(text.size() - end);
  EXPECT_GT(b.decode(&m, rest, 0), 0);
  EXPECT_TRUE(b == load("rsa_ca.der"));
  EXPECT_GT(
      load("vectors/cryptography.io.with_garbage.pem").tbsCertificate.serialNumber.byteLength(), 0);
}

TEST(CertArmour, BrokenArmourIsRefused) {
  const Bytes pem = readFile("v3_rsa.pem");
  const std::string good(pem.begin(), pem.end());
  const size_t body = good.find('\n') + 1;
  auto edit = [&](size_t at, size_t n, const std::string& with) {
    std::string t = good;
    t.replace(at, n, with);
    return t;
  };
  const size_t endAt = good.find("-----END");
  const struct {
    const char* what;
    std::string text;
    bool ok;
  } rows[] = {
      {"as made", good, true},
      {"text before", "issued by the test CA\r\n" + good, true},
      {"no END line", good.substr(0, endAt), false},
      {"no BEGIN line", good.substr(body), false},
      {"a character outside the alphabet", edit(body + 10, 1, "!"), false},
      {"a group cut short", edit(endAt - 2, 1, ""), false},
      {"padding inside the body", edit(body + 64, 0, "=="), false},
      {"the body missing", good.substr(0, body) + good.substr(endAt), false},
  };
  for (const auto& r : rows) {
    Bytes b(r.text.begin(), r.text.end());
    SignedCertificate c;
    const int got = decodeBytes(c, b);
    EXPECT_EQ(got, r.ok ? static_cast<int>(r.text.find("-----END CERTIFICATE-----") + 25) : 0)
        << r.what;
  }
}

// TBS parts that are not DER but were signed as they stand (openssl
// verifies both, tests/data/pki/certs/gen_explicit.sh): an explicit critical
// FALSE and an explicit v1 version. Read from the armour, the certificate
// keeps the received octets as a DER read in place does, so it verifies,
// writes back the same DER and stays so when copied.
TEST(CertArmour, NonDerTbsVerifiesInBothForms) {
  const struct {
    const char* file;
    const char* issuer;
  } rows[] = {{"critical_false.der", "critical_false.der"},
              {"critical_false.pem", "critical_false.der"},
              {"v1_explicit.der", "rsa_ca.der"},
              {"v1_explicit.pem", "rsa_ca.der"}};
  for (const auto& r : rows) {
    const std::string name(r.file);
    const bool armoured = name.substr(name.size() - 4) == ".pem";
    const Bytes der = readFile(name.substr(0, name.size() - 4) + ".der");
    ASSERT_FALSE(der.empty()) << name;
    // DER keeps its octets only when read in place; armour always does.
    for (unsigned char flags : armoured ? std::vector<unsigned char>{0, 1}
                                        : std::vector<unsigned char>{1}) {
      SCOPED_TRACE(name + " flags " + std::to_string(flags));
      SignedCertificate c = load(r.file, flags);
      const SignedCertificate issuer = load(r.issuer, ASN_FLAG_CONST);
      EXPECT_EQ(c.verifySignature(issuer), SignedCertificate::CERT_SIG_VALID);
      Bytes out;
      ASSERT_GT(c.encodeVector(out), 0);
      EXPECT_EQ(out, der);
      SignedCertificate copy;
      copy = c;
      EXPECT_EQ(copy.verifySignature(issuer), SignedCertificate::CERT_SIG_VALID);
    }
  }
}

// Text armour is the form of a certificate or CRL read on its own. Inside
// a DER list an element that holds armour text under a SEQUENCE header is
// refused, and a list of DER elements still reads.
TEST(CertArmour, ArmourInsideADerListIsRefused) {
  const struct {
    const char* file;
    bool crl;
  } rows[] = {{"v3_rsa", false}, {"crl_v2_idp", true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.file);
    const Bytes pem = readFile(std::string(r.file) + ".pem");
    const Bytes der = readFile(std::string(r.file) + ".der");
    std::string text(pem.begin(), pem.end());
    const std::string endLine = r.crl ? "-----END X509 CRL-----" : "-----END CERTIFICATE-----";
    text = text.substr(0, text.find(endLine) + endLine.size());
    const Bytes armour(text.begin(), text.end());
    for (bool wrapped : {false, true}) {
      const Bytes element = wrapped ? encodeTlv(0x30, armour) : der;
      Bytes twice = element;
      twice.insert(twice.end(), element.begin(), element.end());
      const Bytes list = encodeTlv(0x30, twice);
      int got = -9;
      if (r.crl) {
        ASNsequenceList<SignedCertRevList> l;
        got = decodeBytes(l, list);
      } else {
        ASNsequenceList<SignedCertificate> l;
        got = decodeBytes(l, list);
      }
      EXPECT_EQ(got, wrapped ? 0 : static_cast<int>(list.size())) << "wrapped " << wrapped;
    }
    // at the top level the armour is read
    int top = -9;
    if (r.crl) {
      SignedCertRevList crl;
      top = decodeBytes(crl, armour);
    } else {
      SignedCertificate cert;
      top = decodeBytes(cert, armour);
    }
    EXPECT_EQ(top, static_cast<int>(armour.size()));
  }
}
