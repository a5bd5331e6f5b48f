// References of the time-stamped receipt matched against the values it
// carries, through tvXmlUnprotect: a thousand references naming the last of a
// thousand OCSP responses, CRLs or certificates (scripts/genhostile.py, whose
// digests Python's hashlib computed) each run one matcher, not one per value;
// the verdict is the genuine receipt's; and the matching pays the document's
// account, so an account spent inside it stops it. Work is counted, never timed.
#include "upo_fixture.h"

#include "api/xmlrefmatch.h"
#include "base/workaccount.h"
#include "xmlsig/xadesreader.h"

#include <cstdio>
#include <cstdlib>

namespace {

using upofix::readAll;
using upofix::UPO;

// A variant of scripts/genhostile.py at `count`.
std::string hostileVariant(const std::string& name, int count) {
  const std::string out = "/tmp/tal-refs-" + std::to_string(getpid()) + ".xml";
  const std::string command = "python3 " + std::string(TAL_TEST_DATA_DIR) + "/../../scripts/genhostile.py " +
                              name + " --count " + std::to_string(count) + " " + out;
  EXPECT_EQ(0, std::system(command.c_str())) << command;
  std::string text = readAll(out);
  std::remove(out.c_str());
  return text;
}

// scripts/genhostile.py's reference_form(form): one reference naming the
// last of three values, in that form.
std::string referenceForm(const std::string& form) {
  const std::string out = "/tmp/tal-refs-form-" + std::to_string(getpid()) + ".xml";
  const std::string command = "python3 -c \"import sys; sys.path.insert(0, sys.argv[1]); import genhostile; "
                              "open(sys.argv[3], 'w').write(genhostile.reference_form(sys.argv[2]))\" " +
                              std::string(TAL_TEST_DATA_DIR) + "/../../scripts " + form + " " + out;
  EXPECT_EQ(0, std::system(command.c_str())) << command;
  std::string text = readAll(out);
  std::remove(out.c_str());
  return text;
}

// `text` with the element starting at the last `start` (up to its `end`)
// repeated `times` times in all.
std::string repeatLast(const std::string& text, const std::string& start, const std::string& end, int times) {
  const size_t from = text.rfind(start);
  const size_t to = text.find(end, from) + end.size();
  std::string copies;
  for (int i = 0; i < times; ++i) copies += text.substr(from, to - from);
  return text.substr(0, from) + copies + text.substr(to);
}

// `text` with the last `from` made `to`.
std::string replaceLast(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.rfind(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

const char* const REV_MESSAGE = "etsi:CompleteRevocationRefs i etsi:RevocationValues";
const char* const CERT_MESSAGE = "etsi:CompleteCertificateRefs i etsi:CertificateValues";

class CarriedReferences : public upofix::UpoContext {
 protected:
  void TearDown() override {
    workAccountTripAfter(0);
    UpoContext::TearDown();
  }

  struct Outcome {
    int32_t rc = -1;
    int32_t status = 0;
    uint64_t runs = 0;  // matcher runs
    uint64_t spent = 0;
    uint64_t reads = 0;
  };

  Outcome unprotect(const std::string& text) {
    const uint64_t before = xmlRefMatcherRuns();
    const upofix::Unprotected u = upofix::unprotectText(ctx, text);
    return Outcome{u.rc, u.status, xmlRefMatcherRuns() - before, workAccountLastSpent(), workAccountLastReads()};
  }

  // The report of the first signature of `text` verified in this context.
  std::string report(const std::string& text) {
    const std::string path = "/tmp/tal-refs-report-" + std::to_string(getpid()) + ".xml";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    tvXmlCtx* c = nullptr;
    EXPECT_EQ(0, tvXmlCreateCtx(&c));
    tvXmlDoc* d = nullptr;
    EXPECT_EQ(0, tvXmlLoadDocFile(c, path.c_str(), nullptr, &d));
    talMsgInfo* m = nullptr;
    EXPECT_EQ(0, tvXmlUnprotect(ctx, c, d, nullptr, &m));
    const std::string out = talReportText(ctx);
    if (m) tvXmlDeleteMsgInfo(m);
    tvXmlDeleteCtx(c);
    std::remove(path.c_str());
    return out;
  }
};

// The shapes at their largest counts: every reference runs one matcher (the
// signer's certificate reference and the other list's one reference
// included), and the genuine signature stays valid.
TEST_F(CarriedReferences, EachReferenceRunsOneMatcher) {
  const struct {
    const char* name;
    std::string doc;
    uint64_t runs;
  } shapes[] = {
      {"1,000 OCSP references, 1,000 responses", hostileVariant("ocsp-refs", 1000), 1002},
      {"1,000 OCSP references, 300 responses of 10 certificates", hostileVariant("ocsp-refs-certs", 300), 1002},
      {"1,000 CRL references, 1,000 CRLs", hostileVariant("crl-refs", 1000), 1001},
      {"1,000 certificate references, 1,000 certificates", hostileVariant("cert-refs", 1000), 1002},
      // The value named carried a thousand times (the lists' room is 1,024):
      // the first copy answers each reference.
      {"1,000 copies of the OCSP response named",
       repeatLast(hostileVariant("ocsp-refs", 2), "<xades:EncapsulatedOCSPValue>", "</xades:EncapsulatedOCSPValue>",
                  1000),
       1002},
      {"1,000 copies of the CRL named",
       repeatLast(repeatLast(hostileVariant("crl-refs", 2), "<xades:CRLRef>", "</xades:CRLRef>", 1000),
                  "<xades:EncapsulatedCRLValue>", "</xades:EncapsulatedCRLValue>", 1000),
       1002},
  };
  const std::string sample = readAll(UPO + "upo-t.xml");
  unprotect(sample);
  const Outcome base = unprotect(sample);
  ASSERT_EQ(base.rc, 0);
  for (const auto& s : shapes) {
    const Outcome o = unprotect(s.doc);
    EXPECT_EQ(o.rc, 0) << s.name;
    EXPECT_EQ(o.status, SIG_STATUS_VALID) << s.name;
    EXPECT_EQ(o.runs, s.runs) << s.name;
    // Well inside what the document's size allows: each value digested once,
    // and each reference's one run paid by the size of the value it names.
    EXPECT_LT(o.spent - base.spent, WorkAccount::documentUnits(s.doc.size()) / 4) << s.name;
    printf("%-58s %9zu octets %6llu runs %12llu units\n", s.name, s.doc.size(),
           static_cast<unsigned long long>(o.runs), static_cast<unsigned long long>(o.spent));
  }
}

// Agreeing references leave the report without the line that says they do
// not; one disagreeing reference among a thousand adds it, and ends the
// matching after its own runs.
TEST_F(CarriedReferences, ADisagreeingReferenceIsReported) {
  const std::string ocsp = hostileVariant("ocsp-refs", 3);
  const std::string crl = hostileVariant("crl-refs", 3);
  const std::string cert = hostileVariant("cert-refs", 3);
  const struct {
    const char* name;
    std::string doc;
    const char* line;  // null: neither line
  } cases[] = {
      {"OCSP agreeing", ocsp, nullptr},
      {"CRL agreeing", crl, nullptr},
      {"certificates agreeing", cert, nullptr},
      {"OCSP response named missing",
       repeatLast(ocsp, "<xades:EncapsulatedOCSPValue>", "</xades:EncapsulatedOCSPValue>", 0), REV_MESSAGE},
      {"OCSP responder", replaceLast(ocsp, "CN=Atak OCSP<", "CN=Atak OCSQ<"), REV_MESSAGE},
      {"OCSP production time", replaceLast(ocsp, "2026-01-01T00:00:00Z<", "2026-01-01T00:00:01Z<"), REV_MESSAGE},
      {"CRL number", replaceLast(crl, "<xades:Number>2<", "<xades:Number>1<"), REV_MESSAGE},
      {"CRL issuer", replaceLast(crl, "CN=Atak CRL<", "CN=Atak CRM<"), REV_MESSAGE},
      {"certificate serial", replaceLast(cert, ">36866<", ">36865<"), CERT_MESSAGE},
      {"certificate issuer", replaceLast(cert, "CN=Atak CA<", "CN=Atak CB<"), CERT_MESSAGE},
  };
  for (const auto& c : cases) {
    const std::string text = report(c.doc);
    EXPECT_EQ(text.find(REV_MESSAGE) != std::string::npos, c.line == REV_MESSAGE) << c.name;
    EXPECT_EQ(text.find(CERT_MESSAGE) != std::string::npos, c.line == CERT_MESSAGE) << c.name;
  }
}

// Each form a reference may take, looked up as its matcher reads it: a digest
// over the basic OCSP response or the whole one, under SHA-1, SHA-256 or
// SHA-512, two hashes over one value, none (the responder and time decide),
// a responder by key, a CRL reference without its identifier.
TEST_F(CarriedReferences, EveryFormOfAReferenceIsMatchedAsBefore) {
  const struct {
    const char* form;
    const char* line;  // null: the references agree
    uint64_t runs;     // matcher runs: one a reference, or each value for one none matches
  } cases[] = {
      {"ocsp-basic", nullptr, 3},        {"ocsp-sha1", nullptr, 3},
      {"ocsp-sha512-basic", nullptr, 3}, {"ocsp-no-digest", nullptr, 3},
      {"ocsp-no-digest-later", REV_MESSAGE, 5}, {"ocsp-by-key", REV_MESSAGE, 5},
      {"crl-sha512", nullptr, 2},        {"crl-no-identifier", nullptr, 2},
      {"two-hashes", nullptr, 3},        {"cert-sha1", nullptr, 3},
  };
  for (const auto& c : cases) {
    const std::string doc = referenceForm(c.form);
    const std::string text = report(doc);
    EXPECT_EQ(text.find(REV_MESSAGE) != std::string::npos, c.line == REV_MESSAGE) << c.form;
    EXPECT_EQ(text.find(CERT_MESSAGE) != std::string::npos, c.line == CERT_MESSAGE) << c.form;
    const Outcome o = unprotect(doc);
    EXPECT_EQ(o.status, SIG_STATUS_VALID) << c.form;
    EXPECT_EQ(o.runs, c.runs) << c.form;
  }
}

// The account spent inside the matching (its clock read as spent at one of
// the prices the matching pays, 1,000 digests and 1,000 runs) stops it there:
// tripped at reads one after another, the document answers 140 each time,
// and some trips leave the matching part-way (a loop that paid nothing would
// have run either none of it or all); the sample verifies after each.
TEST_F(CarriedReferences, AnAccountSpentInsideTheMatchingStopsIt) {
  const std::string doc = hostileVariant("ocsp-refs", 1000);
  const std::string sample = readAll(UPO + "upo-t.xml");
  unprotect(doc);
  const Outcome full = unprotect(doc);
  ASSERT_EQ(full.rc, 0);
  ASSERT_EQ(full.runs, 1002u);
  unprotect(sample);
  const Outcome base = unprotect(sample);
  ASSERT_GE(full.reads, base.reads + 2000);
  uint64_t previous = 0, partWay = 0;
  const uint64_t step = full.reads / 24;
  for (uint64_t at = step; at < full.reads; at += step) {
    workAccountTripAfter(static_cast<long>(at));
    const Outcome stopped = unprotect(doc);
    workAccountTripAfter(0);
    EXPECT_EQ(stopped.rc, 140) << at;
    EXPECT_GE(stopped.runs, previous) << at;
    previous = stopped.runs;
    partWay += stopped.runs > 0 && stopped.runs < full.runs;
    EXPECT_EQ(unprotect(sample).status, SIG_STATUS_VALID) << at;
  }
  EXPECT_GE(partWay, 2u);
}

// 1,024 archive time-stamps beside unreferenced ds:Objects: the data a token
// covers (every such object) is built for the token checked, not held for
// every token from the reading on (at 20,000 objects, 20 million items and a
// gigabyte); the answer is the one of a few objects.
TEST_F(CarriedReferences, ArchiveDataIsBuiltOnlyForTheTokenChecked) {
  const Outcome few = unprotect(hostileVariant("archive-stamps", 2));
  for (int objects : {2000, 20000}) {
    const std::string doc = hostileVariant("archive-stamps", objects);
    const uint64_t before = xmlArchiveItemsBuilt();
    const Outcome o = unprotect(doc);
    EXPECT_EQ(o.rc, few.rc) << objects;
    EXPECT_EQ(o.status, few.status) << objects;
    // The reader's build and one check's, each of every object and stamp.
    // (Asserted: held for every token, the larger count would take a gigabyte.)
    ASSERT_LE(xmlArchiveItemsBuilt() - before, 2u * (objects + 1024 + 64)) << objects;
  }
}

}  // namespace
