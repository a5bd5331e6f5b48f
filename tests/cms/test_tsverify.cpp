// Time-stamp verification over XAdES documents signed by xmlsec1 and
// time-stamped by openssl ts (tests/data/xmlsig/xades/gen.sh) and over
// further tokens of the same signature value (tests/data/cms/gen_tokens.sh).
// The driver is a double: it checks each token as a CMS signature for real
// (messageDigest, ESS certificate hash, signature with the carried TSA key)
// and takes the TSA path outcome from the test, since path building and the
// verification driver stand outside this unit.
#include "xmlsig/xmltesthelp.h"
#include "cms/tsdriver_double.h"

#include "base/reportstream.h"
#include "cms/tsverify.h"
#include "pki/keys/subpubkeyinfo.h"
#include "store/dnutils.h"
#include "xmlsig/sigpropsxml.h"
#include "xmlsig/xadesreader.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

namespace {

using cmstest::Bytes;
using cmstest::cmsFile;
using cmstest::DriverDouble;
using cmstest::Outcome;

// An XML signature analysed the way the XML road does it.
struct Signature {
  explicit Signature(const std::string& file) : bytes(readFixture("xades/" + file)), doc(bytes), report(&sink) {
    setup.root = doc.holder.root;
    setup.makeDnAttribute = makeDnAttribute;
    setup.report = &report;
    xmlNodePtr sig = findElement(doc.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
    props = std::make_unique<SignaturePropertiesXml>(nullptr, setup, sig);
    analysed = props->analyse();
  }
  std::string bytes;
  ParsedDoc doc;
  MemFile sink;
  ReportStream report;
  XmlSignatureSetup setup;
  std::unique_ptr<SignaturePropertiesXml> props;
  int32_t analysed = -1;
};

XmlSignatureTimeStampToken* loadToken(const std::string& der) {
  auto token = std::make_unique<XmlSignatureTimeStampToken>();
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  if (token->token.decodeBuffer(p, int(der.size()), ASN_FLAG_CONST | ASN_FLAG_COPY) != int(der.size()))
    return nullptr;
  const ASNoctstr& content = token->token.value().encapContentInfo.value();
  if (token->tstInfo.decodeOctets(content) != content.length) return nullptr;
  return token.release();
}

ASNgenTime timeOf(int y, int mo, int d, int h, int mi, int s) {
  ASNgenTime t;
  t.set(y, mo, d, h, mi, s);
  return t;
}

TEST(TimeStampToken, ImprintDecidesBeforeTheSignature) {
  const std::string sv = cmsFile("sigvalue.sha256");
  const std::string other(32, '\x5a');
  const struct {
    const char* name;
    const char* token;
    std::vector<std::string> digests;
    int32_t hashId;
    int32_t status, reason;
    bool nested;  // the token went on to its signature check
  } cases[] = {
      {"matching digest", "tok1.der", {sv}, 3, 4, 0, true},
      {"matching among others", "tok1.der", {other, sv}, 3, 4, 0, true},
      {"another algorithm expected", "tok1.der", {sv}, 1, 1, 21, false},
      {"no equal digest", "tok1.der", {other}, 3, 2, 5, false},
      {"no digest at all", "tok1.der", {}, 3, 2, 5, false},
      {"token over other data", "tok_other.der", {sv}, 3, 2, 5, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<XmlSignatureTimeStampToken> token(loadToken(cmsFile(c.token)));
    ASSERT_NE(token, nullptr);
    DriverDouble driver;
    SigInfo info;
    verifyTimeStampToken(driver, *token, info, nullptr, c.digests, c.hashId, nullptr, nullptr, false, false,
                         nullptr);
    EXPECT_EQ(info.status, c.status);
    EXPECT_EQ(info.reason, c.reason);
    EXPECT_EQ(driver.archiveFlags.size(), c.nested ? 1u : 0u);
    EXPECT_EQ(info.properties != nullptr, c.nested);
  }
  // An expected digest of another length is the caller's fault.
  std::unique_ptr<XmlSignatureTimeStampToken> token(loadToken(cmsFile("tok1.der")));
  DriverDouble driver;
  SigInfo info;
  EXPECT_THROW(verifyTimeStampToken(driver, *token, info, nullptr, {std::string(20, 'x')}, 3, nullptr, nullptr,
                                    false, false, nullptr),
               std::runtime_error);
}

TEST(TimeStampToken, ChangedTokenFailsItsSignature) {
  std::string der = cmsFile("tok1.der");
  std::unique_ptr<XmlSignatureTimeStampToken> good(loadToken(der));
  const Bytes sig = cmstest::octets(good->token.value().signerInfos.GetHead()->signature);
  const size_t at = der.find(std::string(sig.begin(), sig.end()));
  ASSERT_NE(at, std::string::npos);
  der[at + sig.size() - 1] ^= 1;
  std::unique_ptr<XmlSignatureTimeStampToken> token(loadToken(der));
  DriverDouble driver;
  SigInfo info;
  verifyTimeStampToken(driver, *token, info, nullptr, {cmsFile("sigvalue.sha256")}, 3, nullptr, nullptr, false,
                       false, nullptr);
  EXPECT_EQ(info.status, SIG_STATUS_NEGATIVE);
}

TEST(TimeStampToken, NestedListsFollowTheirPrecedence) {
  Signature s("xl.xml");
  ASSERT_EQ(s.analysed, 0);
  ASSERT_FALSE(s.props->certificateValues()->items.empty());
  SignatureCrtValues contextCerts;
  for (bool withContext : {false, true}) {
    SCOPED_TRACE(withContext);
    std::unique_ptr<XmlSignatureTimeStampToken> token(loadToken(cmsFile("tok1.der")));
    DriverDouble driver;
    if (withContext) driver.contextCerts = &contextCerts;
    SigInfo info;
    verifyTimeStampToken(driver, *token, info, s.props.get(), {cmsFile("sigvalue.sha256")}, 3, nullptr, nullptr,
                         false, false, nullptr);
    EXPECT_EQ(driver.lastExtras.certificates,
              withContext ? &contextCerts : s.props->certificateValues());
    EXPECT_EQ(driver.lastExtras.revocations, s.props->revocationValues());
    EXPECT_EQ(driver.lastExtras.carried, s.props->carriedCertificates());
  }
}

struct TFormCase {
  const char* name;
  std::vector<Outcome> paths;
  const ASNgenTime* timemark;
  const ASNgenTime* at;
  bool signerFound;
  std::string basic;  // the basic form's (t / v); empty: not reached
  int32_t status, reason;
  bool used;
  const char* line;  // a report line that must be there
};

TEST(TimeStampedForm, TimeOfTheBasicForm) {
  Signature probe("t.xml");
  ASSERT_EQ(probe.analysed, 0);
  ASSERT_EQ(probe.props->form, SIG_FORM_T);
  const ASNgenTime genTime = probe.props->signatureTimeStamps()->items.front()->tstInfo.genTime;
  const std::string g = reportTimeText(genTime);
  const ASNgenTime earlier = timeOf(2020, 1, 2, 3, 4, 5);
  const ASNgenTime later = timeOf(2040, 1, 2, 3, 4, 5);
  const TFormCase cases[] = {
      {"valid token", {{4, 0, 2}}, nullptr, nullptr, true, g + " / -", 4, 0, true, "Znacznik czasu: " },
      {"valid token, verification time given", {{4, 0, 2}}, nullptr, &later, true, g + " / 2040.01.02 03:04:05", 4, 0,
       true, "Weryfikacja znaczników czasu na czas: 2040.01.02 03:04:05 UTC"},
      {"earlier timemark wins", {{4, 0, 2}}, &earlier, nullptr, true, "2020.01.02 03:04:05 / -", 4, 0, false,
       "Znacznik czasu: "},
      {"incomplete token", {{3, 9, 2}}, nullptr, nullptr, true, g + " / -", 3, 9, true,
       "Podpis uznany za niekompletnie zweryfikowany ponieważ znacznik czasu jest niekompletnie zweryfikowany"},
      {"token after the verification time", {{4, 0, 2}}, nullptr, &earlier, true, "- / 2020.01.02 03:04:05", 3, 23,
       false, "Uwaga: czas ze znacznika czasu jest późniejszy od czasu na który jest weryfikowany! \r\n"},
      {"every token fails: not verified for now with the best status", {{1, 2, 2}}, nullptr, nullptr, true, "- / -",
       3, 2, false, "żaden znacznik czasu nie został poprawnie zweryfikowany"},
      {"signer not found", {}, nullptr, nullptr, false, "", 1, 1, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Signature s("t.xml");
    DriverDouble driver;
    driver.paths = c.paths;
    driver.signerFound = c.signerFound;
    driver.clock = later;
    SigInfo info;
    verifyTimeStampedForm(driver, info, *s.props, c.timemark, c.at);
    EXPECT_EQ(driver.basicCalls.size(), c.basic.empty() ? 0u : 1u);
    if (!c.basic.empty() && !driver.basicCalls.empty()) { EXPECT_EQ(driver.basicCalls[0], c.basic); }
    EXPECT_EQ(info.status, c.status);
    EXPECT_EQ(info.reason, c.reason);
    if (c.signerFound) {
      ASSERT_EQ(info.timeStampTokens.items.size(), 1u);
      EXPECT_TRUE(s.props->signatureTimeStamps()->items.empty());
      const TimeStampToken* token = info.timeStampTokens.items.front();
      EXPECT_EQ(token->used, c.used);
      EXPECT_TRUE(token->checked);
      ASSERT_NE(token->signerSubject, nullptr);
    }
    if (c.line) { EXPECT_NE(driver.report.find(c.line), std::string::npos) << driver.report; }
  }
}

TEST(TimeStampedForm, LatestValidTokenIsChosenAndOption12GoesOn) {
  const struct {
    const char* name;
    int32_t option12;
    std::vector<Outcome> paths;   // in verification order: tok3, tok2, tok1, the document's own
    int32_t signerQualification;
    size_t verified;              // tokens that reached the TSA path
    const char* chosen;           // the token used
    bool regulationWarning;
  } cases[] = {
      {"option 12 off stops at the first valid", 0, {{4, 0, 2}}, 2, 1, "tok3.der", true},
      {"option 12 on verifies all", 1, {{4, 0, 2}, {4, 0, 2}, {4, 0, 2}, {4, 0, 2}}, 2, 4, "tok3.der", true},
      {"revoked TSA passes to the next", 0, {{2, 6, 2}, {4, 0, 2}}, 2, 2, "tok2.der", true},
      {"ordinary TSA under a qualified signer is passed over", 0, {{4, 0, 3}, {4, 0, 2}}, 2, 2, "tok2.der", true},
      {"both ordinary: no digest regulation", 0, {{4, 0, 3}}, 3, 1, "tok3.der", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Signature s("t.xml");
    ASSERT_EQ(s.analysed, 0);
    std::map<const TimeStampToken*, std::string> names;
    for (const char* f : {"tok1.der", "tok2.der", "tok3.der"}) {
      XmlSignatureTimeStampToken* t = loadToken(cmsFile(f));
      ASSERT_NE(t, nullptr);
      s.props->signatureTimeStamps()->items.push_back(t);
      names[t] = f;
    }
    DriverDouble driver;
    driver.options[12] = c.option12;
    driver.paths = c.paths;
    driver.signerQualification = c.signerQualification;
    driver.clock = timeOf(2040, 1, 1, 0, 0, 0);
    SigInfo info;
    ASSERT_TRUE(verifyTimeStampTokens(driver, info, *s.props, *s.props->signatureTimeStamps(), nullptr, nullptr));
    EXPECT_EQ(driver.next, c.verified);
    std::string used;
    for (const TimeStampToken* t : s.props->signatureTimeStamps()->items)
      if (t->used) used += names.count(t) ? names[t] : "own";
    EXPECT_EQ(used, c.chosen);
    EXPECT_EQ((driver.warnings & WARN_DIGEST_NOT_SHA1_RIPEMD160) != 0, c.regulationWarning);
    EXPECT_EQ(driver.report.find("Rozporządzeniu Rady Ministrów !!!: SHA-256") != std::string::npos,
              c.regulationWarning);
    // Latest first.
    EXPECT_EQ(names[s.props->signatureTimeStamps()->items.front()], "tok3.der");
  }
}

TEST(ArchiveForm, ChainFromLatestToOldest) {
  Signature probe("a.xml");
  ASSERT_EQ(probe.analysed, 0) << probe.sink.length();
  ASSERT_EQ(probe.props->form, SIG_FORM_A);
  ASSERT_EQ(probe.props->archiveTimeStamps()->items.size(), 2u);
  probe.props->archiveTimeStamps()->sortTokens();
  const std::string oldest = reportTimeText(probe.props->archiveTimeStamps()->items.back()->tstInfo.genTime);
  const struct {
    const char* name;
    std::vector<Outcome> paths;  // latest archive token, older one, then the signature time-stamp
    int32_t status, reason;
    bool basicReached;
    const char* line;
  } cases[] = {
      {"both valid", {}, 4, 0, true, "Weryfikacja archiwalnego znacznika czasu (SHA-256, "},
      {"latest incomplete", {{3, 10, 2}}, 3, 10, true, "Niepełna weryfikacja archiwalnego znacznika czasu: Powód: "},
      {"older incomplete", {{4, 0, 2}, {3, 10, 2}}, 1, 20, false,
       "Błąd weryfikacji archiwalnego znacznika czasu: Znacznik czasu niekompletnie zweryfikowany"},
      {"latest revoked", {{2, 6, 2}}, 1, 20, false, "Powód: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Signature s("a.xml");
    DriverDouble driver;
    driver.paths = c.paths;
    driver.clock = timeOf(2040, 1, 1, 0, 0, 0);
    SigInfo info;
    verifyArchiveForm(driver, info, *s.props, nullptr, nullptr);
    EXPECT_EQ(info.status, c.status);
    EXPECT_EQ(info.reason, c.reason);
    EXPECT_NE(driver.report.find(c.line), std::string::npos) << driver.report;
    if (c.basicReached) {
      // The latest token is verified from every store, the older ones from
      // the temporary stores only; then the signature time-stamp at the
      // oldest archive time, and the basic form at its genTime.
      ASSERT_GE(driver.archiveFlags.size(), 3u);
      EXPECT_FALSE(driver.archiveFlags[0]);
      EXPECT_TRUE(driver.archiveFlags[1]);
      EXPECT_NE(driver.report.find("Weryfikacja znaczników czasu na czas: " + oldest + " UTC"), std::string::npos);
      ASSERT_EQ(driver.basicCalls.size(), 1u);
      EXPECT_EQ(driver.basicCalls[0].substr(driver.basicCalls[0].size() - oldest.size()), oldest);
    } else {
      EXPECT_TRUE(driver.basicCalls.empty());
    }
  }
}

TEST(CompleteForm, TimesAndTheMissingTokenWarning) {
  Signature probe("xl.xml");
  ASSERT_EQ(probe.analysed, 0);
  ASSERT_GE(probe.props->form, SIG_FORM_C);
  ASSERT_EQ(probe.props->signatureTimeStamps()->items.size(), 1u);
  const std::string g = reportTimeText(probe.props->signatureTimeStamps()->items.front()->tstInfo.genTime);
  const ASNgenTime earlier = timeOf(2020, 1, 2, 3, 4, 5);
  const std::string warning = "Uwaga: Brak poprawnie zweryfikowanego znacznika czasu i nie podano z zewnątrz czasu "
                              "weryfikacji podpisu!\r\n";
  const struct {
    const char* name;
    bool dropTokens;
    std::vector<Outcome> paths;
    const ASNgenTime* timemark;
    std::string basic;
    int32_t status;
    bool warned;
  } cases[] = {
      {"valid token", false, {}, nullptr, g + " / -", 4, false},
      {"every token fails, no timemark", false, {{1, 2, 2}}, nullptr, "- / -", 3, true},
      {"timemark before the token: the token is later", false, {}, &earlier,
       "2020.01.02 03:04:05 / 2020.01.02 03:04:05", 4, false},
      {"no tokens, no timemark", true, {}, nullptr, "- / -", 4, false},
      {"no tokens, a timemark", true, {}, &earlier, "2020.01.02 03:04:05 / 2020.01.02 03:04:05", 4, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Signature s("xl.xml");
    if (c.dropTokens) {
      for (TimeStampToken* t : s.props->signatureTimeStamps()->items) delete t;
      s.props->signatureTimeStamps()->items.clear();
    }
    DriverDouble driver;
    driver.paths = c.paths;
    driver.clock = timeOf(2040, 1, 1, 0, 0, 0);
    SigInfo info;
    verifyCompleteForm(driver, info, *s.props, c.timemark, nullptr);
    ASSERT_EQ(driver.basicCalls.size(), 1u);
    EXPECT_EQ(driver.basicCalls[0], c.basic);
    EXPECT_EQ(info.status, c.status);
    EXPECT_EQ(driver.report.find(warning) != std::string::npos, c.warned) << driver.report;
  }
  // A token's own properties: the basic form at the verification time only.
  Signature s("xl.xml");
  std::unique_ptr<XmlSignatureTimeStampToken> token(loadToken(cmsFile("tok1.der")));
  SignaturePropertiesPkcs7 tokenProps(nullptr, &token->token.value(), token->token.value().signerInfos.GetHead(),
                                      true, false);
  DriverDouble driver;
  SigInfo info;
  const ASNgenTime v = timeOf(2030, 5, 6, 7, 8, 9);
  verifyCompleteForm(driver, info, tokenProps, &earlier, &v);
  ASSERT_EQ(driver.basicCalls.size(), 1u);
  EXPECT_EQ(driver.basicCalls[0], "- / 2030.05.06 07:08:09");
}

}  // namespace
