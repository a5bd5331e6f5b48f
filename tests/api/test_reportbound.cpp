// A document's report through tvXmlUnprotect: at most REPORT_BOUND_BASE octets
// plus the document's, cut with REPORT_CUT_LINE as its last line, and paid to
// the document's account; a sample receipt's report as it was before the bound.
// The crafted documents are scripts/genhostile.py's, made now at small counts.
#include "upo_fixture.h"

#include "base/no_oop.h"
#include "base/reportstream.h"
#include "base/workaccount.h"

namespace {

using upofix::readAll;
using upofix::UPO;

class ReportBound : public upofix::UpoContext {
 protected:
  struct Outcome {
    int32_t rc = -1;
    std::string report;
    std::string apiText;  // talReportText's
    uint64_t units = 0;   // the document's account spent
    int32_t capacity = 0; // of the report's block
  };

  // The receipt through a context of its own, fresh as the fixture's.
  Outcome reportOf(const std::string& text) {
    talCtx* c = another();
    std::swap(c, ctx);
    Outcome o;
    o.rc = upofix::unprotectText(ctx, text).rc;
    o.units = workAccountLastSpent();
    o.report = report();
    o.capacity = ctx->reportBuffer.capacity();
    o.apiText = talReportText(ctx);
    std::swap(c, ctx);
    EXPECT_EQ(0, talDeinit(c));
    return o;
  }
};

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Reports of megabytes: the certificate the signatures name described each
// time with its key in hex, and a path of 4,000 characters for each signature.
TEST_F(ReportBound, CraftedReportsEndWithTheCutLineWithinTheirBound) {
  const struct {
    const char* variant;
    int count;
    size_t wouldWrite;  // the report's octets at least, were it not cut
  } cases[] = {
      {"report-key-64KB", 16, 16 * (128u << 10)},
      {"report-long-paths", 400, 400 * 4000u},
  };
  const std::string cutLine = convertForOutput(REPORT_CUT_LINE);
  struct BoundsBack {
    ~BoundsBack() { reportBoundsOn(true); }
  } back;
  for (const auto& c : cases) {
    const std::string text = upofix::hostileVariant(c.variant, c.count);
    const uint64_t bound = REPORT_BOUND_BASE + text.size();
    ASSERT_GT(c.wouldWrite, bound) << c.variant;
    const Outcome cut = reportOf(text);
    reportBoundsOn(false);
    const Outcome whole = reportOf(text);
    reportBoundsOn(true);
    EXPECT_EQ(cut.rc, whole.rc) << c.variant;
    EXPECT_GE(whole.report.size(), c.wouldWrite) << c.variant;
    EXPECT_LE(cut.report.size(), bound) << c.variant;
    EXPECT_GT(cut.report.size(), bound / 2) << c.variant;
    EXPECT_TRUE(endsWith(cut.report, "\r\n" + cutLine)) << c.variant;
    EXPECT_EQ(cut.report.find(cutLine), cut.report.size() - cutLine.size()) << c.variant;
    // What it kept is what the whole report begins with.
    const size_t kept = cut.report.rfind("\r\n", cut.report.size() - cutLine.size() - 1);
    EXPECT_EQ(whole.report.substr(0, kept), cut.report.substr(0, kept)) << c.variant;
    EXPECT_LE(cut.capacity, static_cast<int32_t>(bound) + 1) << c.variant;
    EXPECT_EQ(cut.report, cut.apiText) << c.variant;
    // The octets written while the document was verified were paid for (and the
    // piece the cut refused), the rest of its work the same either way.
    EXPECT_GE(cut.units - whole.units, WORK_REPORT_OCTET * (cut.report.size() - 1000)) << c.variant;
    EXPECT_LE(cut.units - whole.units, WORK_REPORT_OCTET * 2 * bound) << c.variant;
  }
}

// A document refused for its work says so last, though its account is over,
// and though its report was cut before (the document's units a little short of
// what its whole verification spends: the cut comes first).
TEST_F(ReportBound, ARefusedDocumentSaysWhy) {
  const std::string why =
      convertForOutput("Weryfikacja dokumentu przekroczyła dopuszczalny nakład pracy !!!\r\n");
  const std::string cutLine = convertForOutput(REPORT_CUT_LINE);
  const std::string receipt = readAll(UPO + "upo.xml");
  const std::string crafted = upofix::hostileVariant("report-key-64KB", 16);
  const uint64_t spent = reportOf(crafted).units;
  const struct {
    const std::string* text;
    uint64_t units;  // the account's
    bool cut;
  } cases[] = {
      {&receipt, WorkAccount::documentUnits(receipt.size()) / 1000, false},
      {&crafted, spent * 9 / 10, true},
  };
  for (const auto& c : cases) {
    workAccountShrinkUnits(WorkAccount::documentUnits(c.text->size()) / c.units);
    const Outcome o = reportOf(*c.text);
    workAccountShrinkUnits(1);
    EXPECT_EQ(140, o.rc) << c.cut;
    EXPECT_TRUE(endsWith(o.report, why)) << c.cut;
    EXPECT_EQ(c.cut, endsWith(o.report, cutLine + why)) << c.cut;
    EXPECT_LE(o.report.size(), REPORT_BOUND_BASE + c.text->size()) << c.cut;
  }
}

// The sample receipts' reports, octet for octet, as each is with no bound and
// no price (the clock is the fixture's: the header's time is the same).
TEST_F(ReportBound, SampleReportsAreUnchanged) {
  struct BoundsBack {
    ~BoundsBack() { reportBoundsOn(true); }
  } back;
  for (const char* file : {"upo.xml", "upo-ec.xml", "upo-t.xml", "upo-revoked.xml",
                           "upo-enveloped.xml", "upo-issuer-serial.xml"}) {
    const std::string text = readAll(UPO + file);
    const Outcome bounded = reportOf(text);
    reportBoundsOn(false);
    const Outcome free = reportOf(text);
    reportBoundsOn(true);
    EXPECT_EQ(bounded.rc, free.rc) << file;
    EXPECT_GT(bounded.report.size(), 500u) << file;
    EXPECT_EQ(bounded.report, free.report) << file;
  }
}

}  // namespace
