// The processor-time net under libxml2's work for a document, driven without a
// clock: the account's test hook makes its clock read as spent after a number
// of reads, and every route that runs libxml2 over a signed
// document (XPointer, XPath filter, the canonicaliser of a filtered set, XSLT)
// must then stop with 140, leak nothing (LeakSanitizer runs at exit) and leave
// the next document's work untouched.
#include "xmlsig/xmlmemcharge.h"
#include "xmlsig/xmlxpointerbound.h"
#include "xmlsig/xmlxpointertransform.h"
#include "xmlsig/xmlxslttransform.h"
#include "xmltesthelp.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxslt/xsltutils.h>

#include <functional>
#include <string>
#include <thread>

namespace {

struct NetDisarmed {
  ~NetDisarmed() { workAccountTripAfter(0); }
};

// 2,000 elements with Ids, under a root declaring long prefixes that share
// their start (the canonicaliser compares them at every element).
std::string document() {
  std::string xml = "<r";
  for (int i = 0; i < 20; ++i)
    xml += " xmlns:" + std::string(200, 'p') + std::to_string(i) + "='urn:" + std::to_string(i) + "'";
  xml += ">";
  for (int i = 0; i < 2000; ++i) xml += "<e Id='i" + std::to_string(i) + "'>t</e>";
  return xml + "</r>";
}

const char* const SHEET =
    "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
    "<xsl:template match='/'><out><xsl:for-each select='//e'><xsl:value-of select='@Id'/>"
    "<xsl:value-of select='count(preceding-sibling::e[1])'/></xsl:for-each></out>"
    "</xsl:template></xsl:stylesheet>";

// The forms each road takes: the narrow road refuses string functions and
// bare attribute tests, and runs attribute equalities over every element as well.
bool narrowRoad() { return xmlBoundRoad() == XmlBoundRoad::NARROW; }
const char* pointerForm() {
  return narrowRoad() ? "xpointer(//e[@Id='i1999'])" : "xpointer(//e[@Id][string-length(.) = 1])";
}
const char* filterForm() {
  return narrowRoad() ? "count(ancestor-or-self::e[@Id='i1']) >= 0"
                      : "count(ancestor-or-self::e[@Id]) >= 0";
}

// Runs one route over a fresh parse of the document with the budget given.
using Route = std::function<void(const std::string& xml, XmlWorkBudget& budget)>;

void xpointer(const std::string& xml, XmlWorkBudget& budget) {
  ParsedDoc d(xml);
  ASSERT_EQ(d.rc, 0);
  XmlXPointerTransform t(d.holder.root, pointerForm());
  t.budget = &budget;
  t.apply();
}

void filtered(const std::string& xml, XmlWorkBudget& budget, const char* expression) {
  ParsedDoc d(xml);
  ASSERT_EQ(d.rc, 0);
  XmlTransforms chain;
  chain.add(new XmlXPathTransform(d.holder.root, expression));
  chain.add(new XmlC14NodeSetTransform(d.holder.doc, false, false));
  chain.applyToNode(nullptr, &budget);
}

void xslt(const std::string& xml, XmlWorkBudget& budget) {
  xmlDocPtr sheetDoc = xmlReadMemory(SHEET, static_cast<int>(strlen(SHEET)), nullptr, nullptr, 0);
  ASSERT_NE(sheetDoc, nullptr);
  XmlXsltFileTransform t(xsltParseStylesheetDoc(sheetDoc), false);
  ASSERT_NE(t.stylesheet, nullptr);
  auto doc = detachedDoc(xml);
  t.budget = &budget;
  t.applyToFile(doc.get());
}

}  // namespace

TEST(LibxmlNet, EveryRouteStopsWith140AndTheNextDocumentRuns) {
  NetDisarmed disarm;
  const std::string xml = document();
  const struct {
    const char* name;
    Route run;
  } routes[] = {
      {"xpointer", xpointer},
      // Stopped in the filter's evaluations: one evaluation per node.
      {"filter", [](const std::string& x, XmlWorkBudget& b) { filtered(x, b, filterForm()); }},
      // The filter selects at its first node: the canonicaliser's own work.
      {"canonicaliser", [](const std::string& x, XmlWorkBudget& b) { filtered(x, b, "1"); }},
      {"xslt", xslt},
  };
  for (const auto& route : routes) {
    for (long checks : {1L, 3L, 20L}) {
      SCOPED_TRACE(std::string(route.name) + " after " + std::to_string(checks));
      XmlWorkBudget stopped;
      workAccountTripAfter(checks);
      EXPECT_EQ(codeOf([&] { route.run(xml, stopped); }), 140);
      EXPECT_TRUE(stopped.netPassed());
      workAccountTripAfter(0);
      XmlWorkBudget next;
      EXPECT_EQ(codeOf([&] { route.run(xml, next); }), 0);
      EXPECT_FALSE(next.netPassed());
    }
  }
}

// A stretch that ticks too seldom for a check on the way (one long call into
// libxml2, as contains() over long strings in XSLT) is judged as it ends: past
// the net, the route answers 140, not what the finished work gave.
TEST(LibxmlNet, AStretchIsJudgedAsItEnds) {
  NetDisarmed disarm;
  const std::string tiny = "<r><e Id='i1'>t</e></r>";
  const struct {
    const char* name;
    Route run;
  } routes[] = {
      {"xpointer", xpointer},
      {"filter", [](const std::string& x, XmlWorkBudget& b) { filtered(x, b, "1"); }},
      {"xslt", xslt},
  };
  for (const auto& route : routes) {
    XmlWorkBudget budget;
    workAccountTripAfter(1);
    EXPECT_EQ(codeOf([&] { route.run(tiny, budget); }), 140) << route.name;
    EXPECT_TRUE(budget.netPassed()) << route.name;
  }
}

// A document's clock is spent once: its later references stop at once, in any
// route, and so do those of its other signatures (their budgets share its account).
TEST(LibxmlNet, ASpentNetStopsTheDocumentsLaterReferences) {
  NetDisarmed disarm;
  const std::string xml = document();
  auto document = std::make_shared<WorkAccount>(XML_TRANSFORM_WORK_LIMIT, XML_TRANSFORM_TIME_LIMIT);
  XmlWorkBudget first, second, elsewhere;
  first.shareAccount(document);
  second.shareAccount(document);
  workAccountTripAfter(1);
  EXPECT_EQ(codeOf([&] { xpointer(xml, first); }), 140);
  workAccountTripAfter(0);
  EXPECT_EQ(codeOf([&] { filtered(xml, first, "1"); }), 140);
  EXPECT_EQ(codeOf([&] { xslt(xml, second); }), 140);
  EXPECT_EQ(codeOf([&] { xpointer(xml, second); }), 140);
  EXPECT_EQ(codeOf([&] { xpointer(xml, elsewhere); }), 0);
}

// The test hook trips the clock of the thread that armed it only: another
// thread's work (a test's background, a second verification) neither stops
// nor uses up the trip.
TEST(LibxmlNet, TheTestHookTripsOnlyTheThreadThatArmedIt) {
  NetDisarmed disarm;
  const std::string xml = document();
  workAccountTripAfter(1);
  int32_t elsewhere = -1;
  std::thread other([&] {
    XmlWorkBudget budget;
    elsewhere = codeOf([&] { xpointer(xml, budget); });
  });
  other.join();
  EXPECT_EQ(elsewhere, 0);
  XmlWorkBudget here;
  EXPECT_EQ(codeOf([&] { xpointer(xml, here); }), 140);
}

// An XPointer stopped anywhere (by the budget running out in the blocks it
// allocates, by the net) leaves nothing of libxml2's allocated: everything
// the evaluation took is given back once its transform is gone. libxml2 2.9's
// merge of two node sets loses the first when growing it fails, so a stopped
// evaluation's sets may still grow.
TEST(LibxmlNet, AStoppedXPointerLeavesNothingAllocated) {
  NetDisarmed disarm;
  FullRoadScope full;  // libxml2 must run the expression to be stopped in it
  std::string xml = "<r>";
  for (int i = 0; i < 50000; ++i) xml += "<e Id='i" + std::to_string(i) + "'/>";
  xml += "</r>";
  ParsedDoc d(xml);
  ASSERT_EQ(d.rc, 0);
  const char* const expression = "xpointer(//*[@Id])";
  auto stats = xmlXPointerGatherStats(d.holder.doc);
  const double planned = xmlXPointerPlan(expression, stats).bound + stats.walkCost + 100;
  auto held = [&](uint64_t limit, long trip) {
    XmlMemoryScope outer(UINT64_MAX / 8);
    {
      XmlXPointerTransform t(d.holder.root, expression);
      XmlWorkBudget budget(limit);
      t.budget = &budget;
      workAccountTripAfter(trip);
      EXPECT_EQ(codeOf([&] { t.apply(); }), 140) << limit << " " << trip;
      workAccountTripAfter(0);
    }
    return outer.held();
  };
  held(static_cast<uint64_t>(planned), 0);  // libxml2's first-use state, made once
  // The blocks of 4 KB and more it asks for are charged (one unit per eight
  // octets): these remainders run out while it grows its sets.
  for (uint64_t extra : {0, 20000, 60000, 150000, 250000})
    EXPECT_EQ(held(static_cast<uint64_t>(planned) + extra, 0), 0) << extra;
  for (long trip : {1, 5, 40, 200})
    EXPECT_EQ(held(XML_TRANSFORM_WORK_LIMIT, trip), 0) << trip;
}

// The canonicaliser stopped wherever it is, also while it grows a text's
// escaped copy (libxml2 2.9's growBufferReentrant loses the copy when a growth
// fails): nothing of what it allocated stays behind.
TEST(LibxmlNet, AStoppedCanonicaliserLeavesNothingAllocated) {
  NetDisarmed disarm;
  std::string xml = "<r>";
  for (int i = 0; i < 40; ++i) xml += "<e>" + std::string(20000, '>') + "</e>";
  xml += "</r>";
  auto held = [&](long trip) {
    XmlMemoryScope outer(UINT64_MAX / 8);
    {
      XmlWorkBudget budget;
      workAccountTripAfter(trip);
      EXPECT_EQ(codeOf([&] { filtered(xml, budget, "1"); }), trip ? 140 : 0) << trip;
      workAccountTripAfter(0);
    }
    return outer.held();
  };
  held(0);  // libxml2's first-use state, made once
  for (long trip = 1; trip <= 12; ++trip) EXPECT_EQ(held(trip), 0) << trip;
}

// libxml2's canonicaliser compares the prefixes in scope at every element,
// whatever the filter shows: long prefixes sharing their start are priced by
// their length and refused before it runs (the net never comes into it), while
// the same declarations with short prefixes run.
TEST(LibxmlNet, TheCanonicalisersPrefixWorkIsPricedBeforeItRuns) {
  NetDisarmed disarm;
  for (size_t length : {8, 1000}) {
    std::string xml = "<r";
    for (int i = 0; i < 100; ++i)
      xml += " xmlns:" + std::string(length, 'p') + std::to_string(i) + "='urn:x'";
    xml += ">";
    for (int i = 0; i < 2000; ++i) xml += "<e/>";
    xml += "</r>";
    XmlWorkBudget budget;
    EXPECT_EQ(codeOf([&] { filtered(xml, budget, "1"); }), length == 8 ? 0 : 140) << length;
    EXPECT_FALSE(budget.netPassed());
  }
}

// A budget is a handle on one account: a document's units spent by any other
// work it pays for refuse every route (and stop a section opened then), its
// units bound the budget whatever the budget's own figure, and once the
// document's verification closes its account, later work runs on the
// budget's own account of the larger limit.
TEST(LibxmlNet, TheBudgetsAccountIsItsOneLimit) {
  NetDisarmed disarm;
  const std::string xml = document();
  // The units the XPointer route takes on a fresh budget.
  XmlWorkBudget measure;
  ASSERT_EQ(codeOf([&] { xpointer(xml, measure); }), 0);
  const uint64_t routeUnits = XML_TRANSFORM_WORK_LIMIT - measure.remaining();
  ASSERT_GT(routeUnits, 0u);
  const struct {
    const char* name;
    uint64_t accountUnits;  // the document's
    uint64_t spentElsewhere;
    bool closed;
    int32_t rc;
  } rows[] = {
      {"room for the route", routeUnits + 1, 0, false, 0},
      {"spent by other work first", routeUnits + 1, 2, false, 140},
      {"the document's units, not the budget's", routeUnits / 2, 0, false, 140},
      {"closed: the budget's own account", routeUnits / 2, routeUnits / 2, true, 0},
  };
  for (const auto& r : rows) {
    auto document = std::make_shared<WorkAccount>(r.accountUnits, std::chrono::hours(24));
    XmlWorkBudget budget;
    budget.shareAccount(document);
    document->charge(r.spentElsewhere);
    if (r.closed) document->close();
    EXPECT_EQ(codeOf([&] { xpointer(xml, budget); }), r.rc) << r.name;
    // Refused by its price or stopped as it ran; the closed account unpaid.
    if (r.closed) {
      EXPECT_EQ(document->spentUnits(), r.spentElsewhere) << r.name;
    }
  }
}

// A section stops its work (its stop function, from inside libxml2) once its
// account is over, whatever spent it: at once when it opens on a spent
// account, else at the next check of its ticks; the route then answers 140
// (the net passed), and the stop functions run once.
TEST(LibxmlNet, ASectionStopsOnceItsAccountIsOverWhateverSpentIt) {
  NetDisarmed disarm;
  const std::string xml = document();
  const struct {
    const char* name;
    bool spentBefore;  // the account over before the section opens
    uint32_t ticks;    // after it was spent inside the section
    int stopsInside;
  } rows[] = {
      {"opened on a spent account", true, 0, 1},
      {"spent inside, before a check", false, XML_NET_TICKS - 1, 0},
      {"spent inside, at the next check", false, XML_NET_TICKS, 1},
      {"spent inside, checked again", false, 3 * XML_NET_TICKS, 1},
  };
  for (const auto& r : rows) {
    auto account = std::make_shared<WorkAccount>(10, std::chrono::hours(24));
    XmlWorkBudget budget;
    budget.shareAccount(account);
    if (r.spentBefore) account->charge(11);
    int stops = 0;
    {
      XmlLibxmlWork work(budget, [](void* n) { ++*static_cast<int*>(n); }, &stops);
      if (!r.spentBefore) account->charge(11);
      for (uint32_t i = 0; i < r.ticks; ++i) XmlLibxmlWork::tick();
      EXPECT_EQ(stops, r.stopsInside) << r.name;
    }
    EXPECT_EQ(stops, 1) << r.name;
    EXPECT_TRUE(budget.netPassed()) << r.name;
    EXPECT_EQ(codeOf([&] { filtered(xml, budget, "1"); }), 140) << r.name;
  }
}

// Between the steps of a kept signature's later work, a budget on its own
// account starts its clock afresh and keeps the units spent; one on an open
// document's account keeps charging it.
TEST(LibxmlNet, ARestartedClockKeepsTheUnitsSpent) {
  XmlWorkBudget alone(100);
  EXPECT_TRUE(alone.charge(60));
  alone.restartClock();
  EXPECT_EQ(alone.remaining(), 40u);
  EXPECT_FALSE(alone.charge(50));
  alone.restartClock();
  EXPECT_TRUE(alone.exhausted());
  auto document = std::make_shared<WorkAccount>(100, std::chrono::hours(24));
  XmlWorkBudget shared;
  shared.shareAccount(document);
  EXPECT_TRUE(shared.charge(60));
  shared.restartClock();
  EXPECT_TRUE(shared.charge(30));
  EXPECT_EQ(document->spentUnits(), 90u);
}
