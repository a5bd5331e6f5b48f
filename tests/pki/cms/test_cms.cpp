// Signed messages made by openssl cms (tests/data/pki/cms/gen.sh): decoded
// whole, in place and streamed one octet at a time with identical results,
// re-encoded byte for byte, the signers openssl reports, the messageDigest
// and signature checks; hand-made variants of those messages for the rules
// of the optional members, sets in received order, kept certificate and
// revocation alternatives, indefinite lengths, and the streaming encoder.
#include "pki/test_cms_support.h"

#include "pki/common/oids.h"
#include "pki/cms/sgndata.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using cmstest::Bytes;
using cmstest::decodeBytes;
using cmstest::encodeOf;
using cmstest::octets;
using cmstest::Tlv;

Bytes readCms(const std::string& name) { return cmstest::readData("cms/" + name); }

// Every member the streamed decoder keeps equals the whole decoder's, and
// what passed through is the whole decoder's content.
void expectSameAsWhole(const SignedMessage& whole, const SignedMessage& streamed,
                       const Bytes& passed) {
  const SignedData& a = whole.value();
  const SignedData& b = streamed.value();
  EXPECT_EQ(encodeOf(whole.contentType), encodeOf(streamed.contentType));
  EXPECT_EQ(encodeOf(a.version), encodeOf(b.version));
  EXPECT_EQ(encodeOf(a.digestAlgorithms), encodeOf(b.digestAlgorithms));
  EXPECT_EQ(encodeOf(a.encapContentInfo.contentType), encodeOf(b.encapContentInfo.contentType));
  EXPECT_EQ(a.encapContentInfo.contentPresent, b.encapContentInfo.contentPresent);
  EXPECT_EQ(octets(a.encapContentInfo.value()), passed);
  EXPECT_EQ(a.certificatesPresent, b.certificatesPresent);
  EXPECT_EQ(a.crlsPresent, b.crlsPresent);
  if (a.certificatesPresent && b.certificatesPresent) {
    EXPECT_EQ(encodeOf(a.certificates), encodeOf(b.certificates));
  }
  if (a.crlsPresent && b.crlsPresent) {
    EXPECT_EQ(encodeOf(a.crls), encodeOf(b.crls));
  }
  EXPECT_EQ(encodeOf(a.signerInfos), encodeOf(b.signerInfos));
}

// Decodes `der` whole and streamed in pieces of each size; both must agree
// with `expected` (above 0: the message length).
void expectWholeAndStreamed(const Bytes& der, int expected) {
  SignedMessage whole;
  const int w = decodeBytes(whole, der);
  EXPECT_EQ(w > 0 ? static_cast<int>(der.size()) : 0, expected > 0 ? expected : 0);
  for (size_t chunk : {size_t(1), size_t(5), size_t(4096)}) {
    SignedMessage streamed;
    Bytes passed;
    const int s = cmstest::streamIn(streamed, der, chunk, &passed);
    EXPECT_EQ(s > 0, w > 0) << "chunk " << chunk;
    if (s > 0 && w > 0) {
      EXPECT_EQ(s, w);
      expectSameAsWhole(whole, streamed, passed);
    }
  }
}

// ---------------------------------------------------------------------------
// openssl's messages

TEST(CmsOpenssl, DecodesReencodesStreamsAndVerifies) {
  const Bytes content = readCms("content.txt");
  ASSERT_FALSE(content.empty());
  const auto rows = pkitest::readFixture("cms/expect.tsv");
  ASSERT_GE(rows.size(), 14u);
  for (const auto& verdict : pkitest::readFixture("cms/verify.txt"))
    EXPECT_EQ(verdict.at(1), "verified");

  std::string lastFile;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 5u);
    const std::string& file = row[0];
    SCOPED_TRACE(file + " signer " + row[1]);
    const Bytes der = readCms(file);
    SignedMessage msg;
    ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
    EXPECT_EQ(msg.contentType, id_signedData);
    const SignedData& sd = msg.value();
    const SignerInfo* si = sd.signerInfos.elementAt(std::stoi(row[1]));
    ASSERT_NE(si, nullptr);
    EXPECT_EQ(si->sidIsKeyIdentifier != 0, row[2] == "keyid");
    EXPECT_EQ(si->digestAlgorithm.algorithm, ASNobjectId(row[3].c_str()));
    EXPECT_EQ(si->signatureAlgorithm.algorithm, ASNobjectId(row[4].c_str()));

    const bool detached = file.find("detached") != std::string::npos;
    EXPECT_EQ(sd.encapContentInfo.contentPresent == 0, detached);
    if (!detached) {
      EXPECT_EQ(octets(sd.encapContentInfo.value()), content);
    }
    EXPECT_EQ(si->signedAttrsPresent == 0, file == "attached_noattr.der");
    EXPECT_EQ(cmstest::verifySigner(sd, *si, content), SubPubKeyInfo::SIG_VALID);
    // A changed content fails the messageDigest check (or the signature).
    Bytes other = content;
    other[0] ^= 1;
    EXPECT_NE(cmstest::verifySigner(sd, *si, other), SubPubKeyInfo::SIG_VALID);

    if (file == lastFile) continue;
    lastFile = file;
    // Re-encoded byte for byte: private values and values read in place.
    EXPECT_EQ(encodeOf(msg), der);
    SignedMessage view;
    ASSERT_EQ(decodeBytes(view, der, ASN_FLAG_CONST), static_cast<int>(der.size()));
    EXPECT_EQ(encodeOf(view), der);
    EXPECT_EQ(cmstest::verifySigner(view.value(), *view.value().signerInfos.GetHead(), content),
              SubPubKeyInfo::SIG_VALID);
    // Streamed one octet at a time: the same values, the content passed through.
    SignedMessage streamed;
    Bytes passed;
    ASSERT_EQ(cmstest::streamIn(streamed, der, 1, &passed), static_cast<int>(der.size()));
    expectSameAsWhole(msg, streamed, passed);
    EXPECT_EQ(streamed.value().encapContentInfo.value().data(), nullptr);  // passed, not held
  }
}

TEST(CmsOpenssl, StreamedBerAndOtherSigners) {
  const Bytes content = readCms("content.txt");
  // -stream: indefinite lengths and a segmented content, kept as received.
  for (const char* file : {"stream.der", "stream_detached.der"}) {
    SCOPED_TRACE(file);
    const Bytes der = readCms(file);
    SignedMessage msg;
    ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
    EXPECT_NE(msg.flags & ASN_FLAG_INDEFINITE, 0u);
    EXPECT_NE(msg.value().flags & ASN_FLAG_INDEFINITE, 0u);
    EXPECT_EQ(encodeOf(msg), der);
    const SignerInfo& si = *msg.value().signerInfos.GetHead();
    EXPECT_EQ(cmstest::verifySigner(msg.value(), si, content), SubPubKeyInfo::SIG_VALID);
    expectWholeAndStreamed(der, static_cast<int>(der.size()));
  }
  // Two signers, each with its own key; each fails under the other's certificate.
  const Bytes der = readCms("two_signers.der");
  SignedMessage msg;
  ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
  const SignedData& sd = msg.value();
  ASSERT_EQ(sd.signerInfos.GetCount(), 2);
  const SignerInfo* a = sd.signerInfos.elementAt(0);
  const SignerInfo* b = sd.signerInfos.elementAt(1);
  EXPECT_NE(cmstest::signerCertificate(sd, *a), cmstest::signerCertificate(sd, *b));
  EXPECT_NE(cmstest::verifySigner(sd, *a, content, cmstest::signerCertificate(sd, *b)),
            SubPubKeyInfo::SIG_VALID);
  // The certificates-and-CRLs message: a CRL, no signer.
  const Bytes cc = readCms("certs_crls.der");
  SignedMessage degenerate;
  ASSERT_EQ(decodeBytes(degenerate, cc), static_cast<int>(cc.size()));
  EXPECT_EQ(degenerate.value().signerInfos.GetCount(), 0);
  ASSERT_EQ(degenerate.value().crlsPresent, 1);
  ASSERT_EQ(degenerate.value().crls.GetCount(), 1);
  EXPECT_EQ(encodeOf(*degenerate.value().crls.GetHead()), readCms("ca_crl.der"));
  EXPECT_EQ(encodeOf(degenerate), cc);
  expectWholeAndStreamed(cc, static_cast<int>(cc.size()));
}

// The certificates of a degenerate SignedData are signed over TBS octets that
// are not DER (openssl carries them unchanged: tests/data/pki/certs/
// gen_nonder_bags.sh). Read in place, as a token is read, or streamed in
// pieces, each keeps its octets and verifies under its issuer.
TEST(CmsOpenssl, CarriedCertificatesSignedOverNonDer) {
  const Bytes der = cmstest::readData("certs/nonder_certs.p7b");
  SignedMessage whole, streamed;
  ASSERT_EQ(decodeBytes(whole, der, ASN_FLAG_CONST), static_cast<int>(der.size()));
  ASSERT_GT(cmstest::streamIn(streamed, der, 7, nullptr), 0);
  for (const SignedMessage* msg : {&whole, &streamed}) {
    const CertificateSet& set = msg->value().certificates;
    ASSERT_EQ(set.GetCount(), 3);
    const struct {
      const char* file;
      const char* issuer;
    } rows[] = {{"critical_false.der", "critical_false.der"},
                {"v1_explicit.der", "rsa_ca.der"},
                {"nonder_ca.der", "nonder_ca.der"}};
    for (const auto& row : rows) {
      SCOPED_TRACE(row.file);
      const Bytes want = cmstest::readData(std::string("certs/") + row.file);
      const SignedCertificate* found = nullptr;
      for (POSITION pos = set.GetHeadPosition(); pos;) {
        const SignedCertificate* c = set.GetNext(pos);
        if (c && encodeOf(*c) == want) found = c;
      }
      ASSERT_TRUE(found);
      SignedCertificate issuer;
      const Bytes i = cmstest::readData(std::string("certs/") + row.issuer);
      ASSERT_EQ(decodeBytes(issuer, i, ASN_FLAG_CONST), static_cast<int>(i.size()));
      EXPECT_EQ(found->verifySignature(issuer), SignedCertificate::CERT_SIG_VALID);
      EXPECT_EQ(SignedCertificate(*found).verifySignature(issuer),
                SignedCertificate::CERT_SIG_VALID);
    }
  }
}

// ---------------------------------------------------------------------------
// sets in received order, kept alternatives

TEST(CmsSets, CertificatesKeepReceivedOrderUntilChanged) {
  // openssl writes the two certificates in DER order; swapped they are not.
  auto members = cmstest::signedDataMembers(readCms("attached_sha384.der"));
  ASSERT_EQ(members.at(3).tag, 0xA0);
  auto certs = cmstest::split(members[3].content);
  ASSERT_EQ(certs.size(), 2u);
  std::swap(certs[0], certs[1]);
  members[3].content = cmstest::join(certs);
  const Bytes swapped = cmstest::signedMessage(members);

  SignedMessage msg;
  ASSERT_EQ(decodeBytes(msg, swapped), static_cast<int>(swapped.size()));
  EXPECT_EQ(encodeOf(msg), swapped);
  // So a re-encoded token hashes as received.
  unsigned char d[32];
  msg.digest(3, d, 32);
  EXPECT_EQ(Bytes(d, d + 32), cmstest::hashOf(3, swapped));
  expectWholeAndStreamed(swapped, static_cast<int>(swapped.size()));
  SignedMessage streamed;
  ASSERT_GT(cmstest::streamIn(streamed, swapped, 3, nullptr), 0);
  EXPECT_EQ(encodeOf(streamed.value().certificates), cmstest::encodeTlv(members[3]));

  // A changed set goes out in DER order.
  CertificateSet& set = msg.value().certificates;
  set.append(new SignedCertificate(*set.GetHead()));
  const auto elements = cmstest::split(cmstest::split(encodeOf(set)).at(0).content);
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_LT(cmstest::encodeTlv(elements[0]), cmstest::encodeTlv(elements[1]));
  EXPECT_LE(cmstest::encodeTlv(elements[1]), cmstest::encodeTlv(elements[2]));
}

TEST(CmsSets, OtherAlternativesAreKeptInPlace) {
  // A v1 attribute certificate [1] between the two certificates, and an
  // OCSP response as OtherRevocationInfoFormat [1] after a CRL.
  const Bytes attrCert = pkitest::unhex("a10b300902010102040a0b0c0d");
  auto members = cmstest::signedDataMembers(readCms("attached_sha384.der"));
  auto certs = cmstest::split(members.at(3).content);
  Tlv other;
  cmstest::readTlv(attrCert, 0, &other);
  certs.insert(certs.begin() + 1, other);
  members[3].content = cmstest::join(certs);
  const Bytes withAttr = cmstest::signedMessage(members);

  SignedMessage msg;
  ASSERT_EQ(decodeBytes(msg, withAttr), static_cast<int>(withAttr.size()));
  const CertificateSet& set = msg.value().certificates;
  EXPECT_EQ(set.GetCount(), 2);
  ASSERT_EQ(set.others.GetCount(), 1);
  EXPECT_EQ(encodeOf(*set.others.GetHead()), attrCert);
  EXPECT_EQ(encodeOf(msg), withAttr);
  expectWholeAndStreamed(withAttr, static_cast<int>(withAttr.size()));
  // The kept element reads as the choice's [1] alternative.
  CertificateChoices choice;
  ASSERT_EQ(choice.assignFromAny(*set.others.GetHead()), 1);
  EXPECT_EQ(choice.chosenIndex(), CertificateChoices::V1_ATTR_CERT);
  CertificateChoices plain;
  ASSERT_EQ(decodeBytes(plain, readCms("ca.der")), static_cast<int>(readCms("ca.der").size()));
  EXPECT_EQ(plain.chosenIndex(), CertificateChoices::CERTIFICATE);

  const Bytes ocspRef = pkitest::unhex("a10e06082b0601050507100230020500");
  auto cc = cmstest::signedDataMembers(readCms("certs_crls.der"));
  ASSERT_EQ(cc.at(4).tag, 0xA1);
  Tlv ref;
  cmstest::readTlv(ocspRef, 0, &ref);
  auto crls = cmstest::split(cc[4].content);
  crls.push_back(ref);
  cc[4].content = cmstest::join(crls);
  const Bytes withRef = cmstest::signedMessage(cc);
  SignedMessage m2;
  ASSERT_EQ(decodeBytes(m2, withRef), static_cast<int>(withRef.size()));
  EXPECT_EQ(m2.value().crls.GetCount(), 1);
  EXPECT_EQ(m2.value().crls.others.GetCount(), 1);
  EXPECT_EQ(encodeOf(m2), withRef);
  expectWholeAndStreamed(withRef, static_cast<int>(withRef.size()));

  // Alternatives the sets do not have: a primitive [1], a [4], a [0] among CRLs.
  for (const char* bad : {"810105", "a403020101", "a003020101"}) {
    SCOPED_TRACE(bad);
    auto c2 = cmstest::signedDataMembers(readCms("certs_crls.der"));
    Tlv t;
    const Bytes e = pkitest::unhex(bad);
    cmstest::readTlv(e, 0, &t);
    const size_t at = std::string(bad) == "a003020101" ? 4 : 3;
    auto items = cmstest::split(c2.at(at).content);
    items.push_back(t);
    c2[at].content = cmstest::join(items);
    expectWholeAndStreamed(cmstest::signedMessage(c2), 0);
  }
}

// ---------------------------------------------------------------------------
// the member rules, whole and streamed alike

TEST(CmsMembers, OptionalSetsAndSignerRules) {
  const auto base = cmstest::signedDataMembers(readCms("certs_crls.der"));
  ASSERT_EQ(base.size(), 6u);
  struct Case {
    const char* name;
    std::vector<Tlv> members;
    bool ok;
  };
  auto without = [&](size_t i) {
    auto m = base;
    m.erase(m.begin() + static_cast<long>(i));
    return m;
  };
  auto swapped = base;
  std::swap(swapped[3], swapped[4]);
  auto twoCertSets = base;
  twoCertSets.insert(twoCertSets.begin() + 3, base[3]);
  auto twoCrlSets = base;
  twoCrlSets.insert(twoCrlSets.begin() + 4, base[4]);
  auto trailing = base;
  trailing.push_back({0x02, {0x00}});
  auto noSigners = without(5);
  auto indefinite = base;
  indefinite[3].indefinite = true;  // a SET of indefinite length
  indefinite[5].indefinite = true;
  auto wrongSignerTag = base;
  wrongSignerTag[5].tag = 0xA2;
  const std::vector<Case> cases = {
      {"as made", base, true},
      {"no certificates", without(3), true},
      {"no crls", without(4), true},
      {"crls before certificates", swapped, false},
      {"two certificate sets", twoCertSets, false},
      {"two crl sets", twoCrlSets, false},
      {"trailing element", trailing, false},
      {"no signerInfos", noSigners, false},
      {"indefinite sets", indefinite, true},
      {"signerInfos as [2]", wrongSignerTag, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes der = cmstest::signedMessage(c.members);
    expectWholeAndStreamed(der, c.ok ? static_cast<int>(der.size()) : 0);
    if (!c.ok) continue;
    SignedMessage msg;
    ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
    EXPECT_EQ(encodeOf(msg), der);
  }
  // An empty SignedData holds no version, so it is refused whole; streamed,
  // a content length of 0 finishes the value at once with nothing in it
  // (as EnvelopedData's streamed decode does).
  const Bytes empty = pkitest::unhex("300f06092a864886f70d010702a0023000");
  SignedMessage emptyWhole;
  EXPECT_LE(decodeBytes(emptyWhole, empty), 0);
  for (size_t chunk : {size_t(1), size_t(4096)}) {
    SignedMessage streamed;
    Bytes passed;
    EXPECT_EQ(cmstest::streamIn(streamed, empty, chunk, &passed), static_cast<int>(empty.size()));
    EXPECT_TRUE(passed.empty());
    EXPECT_EQ(streamed.value().signerInfos.GetCount(), 0);
    EXPECT_EQ(streamed.value().digestAlgorithms.GetCount(), 0);
  }

  // A SignedData with neither certificates nor crls writes neither.
  SignedMessage msg;
  const Bytes der = readCms("attached_sha256.der");
  ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
  msg.value().certificatesPresent = 0;
  for (const Tlv& t : cmstest::split(cmstest::split(encodeOf(msg.value())).at(0).content))
    EXPECT_NE(t.tag & 0xC0, 0x80);
}

TEST(CmsMembers, SignerInfoForms) {
  // subjectKeyIdentifier keeps its identifier; no signed attributes means the
  // second AlgorithmIdentifier is the signature algorithm.
  SignedMessage keyid;
  const Bytes k = readCms("keyid.der");
  ASSERT_EQ(decodeBytes(keyid, k), static_cast<int>(k.size()));
  const SignerInfo& si = *keyid.value().signerInfos.GetHead();
  EXPECT_EQ(si.sidIsKeyIdentifier, 1);
  EXPECT_EQ(si.subjectKeyIdentifier.tag, 0x80);
  EXPECT_EQ(encodeOf(si.subjectKeyIdentifier)[0], 0x80);
  SignedMessage noattr;
  const Bytes n = readCms("attached_noattr.der");
  ASSERT_EQ(decodeBytes(noattr, n), static_cast<int>(n.size()));
  const SignerInfo& plain = *noattr.value().signerInfos.GetHead();
  EXPECT_EQ(plain.signedAttrsPresent, 0);
  EXPECT_EQ(plain.signatureAlgorithm.algorithm, rsaEncryption);

  // A signer whose sid or attribute sets carry other tags does not match.
  const auto members = cmstest::signedDataMembers(readCms("attached_sha256.der"));
  const auto signers = cmstest::split(members.back().content);
  const auto fields = cmstest::split(signers.at(0).content);
  ASSERT_EQ(fields.size(), 6u);
  ASSERT_EQ(fields[3].tag, 0xA0);
  struct Case {
    const char* name;
    size_t field;
    unsigned char tag;
    bool ok;
  };
  for (const Case& c :
       {Case{"sid as [1]", 1, 0xA1, false}, Case{"signedAttrs as [2]", 3, 0xA2, false},
        Case{"signedAttrs as SET", 3, 0x31, false}, Case{"as made", 0, 0x02, true}}) {
    SCOPED_TRACE(c.name);
    auto f = fields;
    f[c.field].tag = c.tag;
    SignerInfo s;
    const Bytes e = cmstest::encodeTlv(0x30, cmstest::join(f));
    EXPECT_EQ(decodeBytes(s, e), c.ok ? static_cast<int>(e.size()) : 0);
  }
  // unsignedAttrs [1] after the signature; anything else there does not match.
  for (unsigned char tag : {0xA1, 0xA0, 0x31}) {
    auto f = fields;
    f.push_back({tag, cmstest::encodeTlv(0x30, pkitest::unhex("0603550403310302010a"))});
    SignerInfo s;
    const Bytes e = cmstest::encodeTlv(0x30, cmstest::join(f));
    EXPECT_EQ(decodeBytes(s, e), tag == 0xA1 ? static_cast<int>(e.size()) : 0);
    if (tag == 0xA1) {
      EXPECT_EQ(s.unsignedAttrsPresent, 1);
      EXPECT_EQ(encodeOf(s), e);
    }
  }
}

TEST(CmsMembers, SignerCopyKeepsSignedOctetsAndTakesUnsignedAttributes) {
  const Bytes content = readCms("content.txt");
  const Bytes der = readCms("attached_sha256.der");
  SignedMessage view;
  ASSERT_EQ(decodeBytes(view, der, ASN_FLAG_CONST), static_cast<int>(der.size()));
  const SignerInfo& original = *view.value().signerInfos.GetHead();
  SignerInfo copy(original);
  EXPECT_EQ(encodeOf(copy), encodeOf(original));
  EXPECT_EQ(cmstest::verifySigner(view.value(), copy, content), SubPubKeyInfo::SIG_VALID);
  // The copy takes an unsigned attribute (as a time-stamp is added later).
  ASNinteger value;
  value.set(7);
  ASSERT_TRUE(setAttribute(copy.unsignedAttrs, id_aa_timeStampToken, value, false));
  copy.unsignedAttrsPresent = 1;
  SignerInfo again;
  const Bytes e = encodeOf(copy);
  ASSERT_EQ(decodeBytes(again, e), static_cast<int>(e.size()));
  EXPECT_EQ(again.unsignedAttrs.GetCount(), 1);
  EXPECT_EQ(encodeOf(again.signedAttrs), encodeOf(original.signedAttrs));
}

// ---------------------------------------------------------------------------
// the streaming encoder

TEST(CmsStreamEncode, WholeValuesAndContentPassingThrough) {
  // A decoded message written by the streaming encoder is its encoding.
  const Bytes der = readCms("attached_sha256.der");
  SignedMessage msg;
  ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
  MemFile out;
  EXPECT_EQ(msg.encodeStream(nullptr, 0, true, &out), static_cast<int>(der.size()));
  EXPECT_EQ(Bytes(out.data(), out.data() + out.length()), der);

  // openssl's -stream message written again with its content passing
  // through in openssl's own segment sizes: the same octets.
  const Bytes ber = readCms("stream.der");
  SignedMessage s;
  ASSERT_EQ(decodeBytes(s, ber), static_cast<int>(ber.size()));
  ASNoctstr& econtent = s.value().encapContentInfo.value();
  std::vector<Bytes> segments;
  for (POSITION p = econtent.segments.GetHeadPosition(); p;)
    segments.push_back(octets(*TypedPointerList<ASNoctstr>::GetNext(p)));
  ASSERT_GT(segments.size(), 0u);
  econtent.clear();
  econtent.tag |= 0x20;
  econtent.flags |= ASN_FLAG_INDEFINITE;
  ASSERT_EQ(econtent.setStreamPassThrough(true), 1);
  MemFile written;
  int r = EASN_MORE;
  for (size_t i = 0; i < segments.size(); ++i) {
    MemFile piece(segments[i].data(), static_cast<int32_t>(segments[i].size()), false);
    r = s.encodeStream(&piece, -1, i + 1 == segments.size(), &written);
    if (i + 1 < segments.size()) {
      ASSERT_EQ(r, EASN_MORE);
    }
  }
  EXPECT_GT(r, 0);
  EXPECT_EQ(Bytes(written.data(), written.data() + written.length()), ber);
  // Nothing is left to write once the last member is out.
  EXPECT_EQ(s.value().streamEncodeStep(nullptr, -1, true, &written), 0);

  // A streaming step needs the stream context the framework creates first.
  SignedData bare;
  MemFile in;
  try {
    bare.streamDecodeStep(&in, 10, nullptr);
    ADD_FAILURE() << "no invariant failure";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("libcms/sgndata"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("streamCtx != NULL"), std::string::npos);
  }
}

}  // namespace

TEST(CmsStreamEncode, LengthPastTheLargestAnnouncedFails) {
  // A definite pass-through content so large that the SignedData cannot
  // announce its length: no length, and the streamed encoding fails.
  const Bytes der = readCms("attached_sha256.der");
  SignedMessage msg;
  ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
  SignedData& sd = msg.value();
  ASNoctstr& econtent = sd.encapContentInfo.value();
  econtent.clear();
  ASSERT_EQ(econtent.setStreamPassThrough(true), 1);
  const int64_t huge = int64_t(1) << 60;
  EXPECT_EQ(sd.streamLength(huge), -1);
  EXPECT_GT(sd.streamLength(1000), 1000);
  MemFile in;
  MemFile out;
  EXPECT_LT(sd.encodeStream(&in, huge, false, &out), 1);
  EXPECT_EQ(out.length(), 0u);
}

TEST(CmsStreamEncode, LengthsPastTwoAndFourGiBAreAnnounced) {
  // Rows around the 31- and 32-bit limits: the header written carries the
  // length streamLength announces, and only the length fields of the
  // enclosing headers grow beyond the content itself.
  const Bytes der = readCms("attached_sha256.der");
  int64_t overheadBefore = -1;
  for (int64_t n : {int64_t(1000), int64_t(0x7FFFFFFF), int64_t(1) << 31, int64_t(0xFFFFFFFF),
                    int64_t(1) << 32, int64_t(5) << 31}) {
    SCOPED_TRACE(n);
    SignedMessage msg;
    ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
    SignedData& sd = msg.value();
    sd.encapContentInfo.value().clear();
    ASSERT_EQ(sd.encapContentInfo.value().setStreamPassThrough(true), 1);
    const int64_t announced = sd.streamLength(n);
    const int64_t overhead = announced - n;
    EXPECT_GE(overhead, overheadBefore);
    // Three headers enclose the content (octet string, [0], the SEQUENCE),
    // each at most five length octets longer.
    EXPECT_LE(overhead - sd.streamLength(0), 15);
    overheadBefore = overhead;
    MemFile empty, out;
    ASSERT_EQ(sd.encodeStream(&empty, n, false, &out), EASN_MORE);
    ASSERT_GE(out.length(), 2u);
    const unsigned char* h = out.data();
    int64_t read = h[1];
    if (h[1] & 0x80) {
      read = 0;
      for (int i = 0; i < (h[1] & 0x7F); ++i) read = (read << 8) | h[2 + i];
    }
    EXPECT_EQ(read, announced);
  }
}

TEST(CmsSets, KeptAlternativesCostWhatTheyHold) {
  // Two certificates and many empty [1] elements: each kept element costs an
  // ANY, not a certificate, so the set stays within its memory budget.
  auto members = cmstest::signedDataMembers(readCms("certs_crls.der"));
  ASSERT_EQ(members.at(3).tag, 0xA0);
  auto certs = cmstest::split(members.at(3).content);
  for (int k : {16, 40}) {
    SCOPED_TRACE(k);
    auto c2 = certs;
    for (int i = 0; i < k; ++i) c2.push_back({0xA1, {}, false});
    auto m2 = members;
    m2[3].content = cmstest::join(c2);
    const Bytes der = cmstest::signedMessage(m2);
    SignedMessage msg;
    ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
    EXPECT_EQ(msg.value().certificates.others.GetCount(), k);
  }
}
