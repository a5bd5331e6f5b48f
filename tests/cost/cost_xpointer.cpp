// The instruction-count check of the bound on libxml2's work
// (xmlxpointerbound.h), without a clock: each construct the bound prices runs
// over generated documents through the transforms a signed document's
// expression goes through, and callgrind counts the instructions libxml2's
// evaluation executes: xmlXPtrEval for an XPointer, xmlXPathCompiledEvalToBoolean
// for every node a filter is asked about (id(), lang() and here() are ours, called
// from inside, and counted). The statistics' walk, the plan, the XPath
// context's set-up and the final sort of an XPointer's result are not
// measured. An accepted expression that executes more than
// MAX_INSTRUCTIONS_PER_UNIT per unit of its bound fails the check; a refused
// one is not run, only listed.
//
//   cost_xpointer [--valgrind PATH] [--jobs N] [--table FILE]
//       runs itself under callgrind in N shards, prints the table (and writes
//       it to FILE, default cost-table.txt), exits 1 when a case fails.
//   cost_xpointer --child SHARD SHARDS DIR
//       (under callgrind) runs the cases whose number is SHARD modulo SHARDS,
//       one callgrind dump each, and writes its plans to DIR/plan.SHARD.
#include "base/memfile.h"
#include "base/talexception.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmlxpathtransform.h"
#include "xmlsig/xmlxpointerbound.h"
#include "xmlsig/xmlxpointertransform.h"

#include <libxml/parser.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// The bound's unit is meant as about 8 instructions (xmlxpointerbound.cpp).
// 16 leaves twice that for libxml2's allocator, its hash seeds (counts vary by
// up to 8% from run to run) and a version's small changes, and still catches a
// construct priced by the wrong size (a length, a depth, a count of
// declarations), off by tens to thousands. The fixed start of an evaluation is
// work like any other: paid per reference, and per node filtered.
const double MAX_INSTRUCTIONS_PER_UNIT = 16;

const char* const DS = "http://www.w3.org/2000/09/xmldsig#";

std::string num(size_t i) { return std::to_string(i); }
std::string padded(size_t i, size_t width) {
  std::string s = num(i);
  return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
}

// ---- documents ----------------------------------------------------------------
// Every document: a root r declaring ds and p, the family's content (with
// elements l carrying an attribute x), then a ds:Signature whose ds:Reference
// is the context node (here()).
std::string wrap(const std::string& doctype, const std::string& rootAttributes,
                 const std::string& body) {
  return doctype + "<r xmlns:ds='" + DS + "' xmlns:p='urn:p'" + rootAttributes + ">" + body +
         "<ds:Signature Id='sig'><ds:SignedInfo><ds:Reference URI=''/></ds:SignedInfo>"
         "</ds:Signature></r>";
}
std::string ls(int count, const std::string& attributes = "", const std::string& text = "t") {
  std::string b;
  for (int i = 0; i < count; ++i)
    b += "<l x='" + num(i % 4) + "'" + attributes + ">" + text + "</l>";
  return b;
}
std::string groups(int groupCount, int each) {
  std::string b;
  for (int g = 0; g < groupCount; ++g) b += "<g>" + ls(each) + "</g>";
  return b;
}
// Declarations of count prefixes of `length` characters, sharing all but the last `differ`.
std::string sharedPrefixes(int count, size_t length, size_t differ, std::vector<std::string>* names) {
  std::string a;
  for (int i = 0; i < count; ++i) {
    std::string p = std::string(length - differ, 'q') + padded(static_cast<size_t>(i), differ);
    a += " xmlns:" + p + "='urn:" + num(static_cast<size_t>(i)) + "'";
    if (names) names->push_back(p);
  }
  return a;
}
// `levels` nested elements around `inside`; level k is prefix(k):name(k), declared there
// when `declare`.
std::string nested(int levels, const std::string& inside, bool declare, size_t shortName,
                   size_t longName, const std::string& eachLevel = "") {
  std::string open, close;
  for (int k = 0; k < levels; ++k) {
    std::string p = declare ? "p" + num(static_cast<size_t>(k)) : "p";
    std::string name =
        std::string(shortName + (longName - shortName) * static_cast<size_t>(k) /
                                    static_cast<size_t>(std::max(1, levels - 1)),
                    'e');
    open += "<" + p + ":" + name + (declare ? " xmlns:" + p + "='urn:" + num(k) + "'" : "") +
            " x='" + num(static_cast<size_t>(k % 4)) + "'>" + eachLevel;
    close = "</" + p + ":" + name + ">" + close;
  }
  return open + inside + close;
}

struct Family {
  const char* name;
  std::string (*make)();
};
const Family FAMILIES[] = {
    {"plain (10 g x 10 l)", [] { return wrap("", "", groups(10, 10)); }},
    {"long local names (40, 100-1000 chars)",
     [] {
       std::string b;
       for (size_t i = 0; i < 40; ++i) {
         std::string n = "n" + std::string(100 + i * 23, 'a');
         b += "<" + n + " x='" + num(i) + "'><l x='" + num(i % 4) + "'>t</l></" + n + ">";
       }
       return wrap("", "", b);
     }},
    {"long prefixes (60 x 1000 chars, 99% shared, 10 used)",
     [] {
       std::vector<std::string> names;
       std::string a = sharedPrefixes(60, 1000, 10, &names), b;
       for (size_t i = 0; i < 10; ++i)
         b += "<" + names[i] + ":l x='" + num(i % 4) + "'>t</" + names[i] + ":l>";
       return wrap("", a, b + ls(4));
     }},
    {"crafted prefixes (100 x 1000 chars, last 3 differ)",
     [] { return wrap("", sharedPrefixes(100, 1000, 3, nullptr), ls(4)); }},
    {"crafted prefixes (50 x 2000 chars, last 3 differ)",
     [] { return wrap("", sharedPrefixes(50, 2000, 3, nullptr), ls(4)); }},
    {"long namespace URIs (40 x 2000 chars)",
     [] {
       std::string b;
       for (size_t i = 0; i < 40; ++i) {
         std::string p = "u" + num(i), uri = "urn:" + std::string(1986, 'u') + padded(i, 10);
         b += "<" + p + ":l xmlns:" + p + "='" + uri + "' x='" + num(i % 4) + "'><l x='1'>t</l></" +
              p + ":l>";
       }
       return wrap("", "", b);
     }},
    {"internal subset (ATTLIST l x)",
     [] { return wrap("<!DOCTYPE r [<!ATTLIST l x CDATA #IMPLIED>]>", "", groups(10, 10)); }},
    {"attribute defaults (x, y, xml:lang)",
     [] {
       return wrap(
           "<!DOCTYPE r [<!ATTLIST l x CDATA '1' y CDATA 'e' xml:lang CDATA 'pl'>"
           "<!ATTLIST g xml:lang CDATA 'en'>]>",
           "", groups(10, 10));
     }},
    {"crafted lang: DOCTYPE, 240 nested p:, names 8-100, 100 l",
     [] { return wrap("<!DOCTYPE r>", "", nested(240, ls(100), false, 8, 100)); }},
    {"deep (200 nested p:d, an l at each level)",
     [] { return wrap("", "", nested(200, "", false, 1, 1, "<l x='1'>t</l>")); }},
    {"deep declarations (120 nested, each its own prefix)",
     [] { return wrap("", "", nested(120, ls(4), true, 1, 1)); }},
    {"wide (2000 siblings)", [] { return wrap("", "", ls(2000)); }},
    {"many attributes (30 l x 150)",
     [] {
       std::string a;
       for (size_t i = 0; i < 150; ++i) a += " a" + num(i) + "='" + num(i) + "'";
       return wrap("", "", ls(30, a));
     }},
    {"long attribute values (30 l, 5000 chars)",
     [] { return wrap("", "", ls(30, " v='" + std::string(5000, 'v') + "'")); }},
    {"long texts (30 l, 20000 chars)", [] { return wrap("", "", ls(30, "", std::string(20000, 'z'))); }},
    {"Ids (500 l, refs listing them)",
     [] {
       std::string b, refs;
       for (size_t i = 0; i < 500; ++i) {
         b += "<l Id='i" + num(i) + "' x='" + num(i % 4) + "'/>";
         refs += (i ? " i" : "i") + num(i);
       }
       return wrap("", " refs='" + refs + "'", b + "<refs>" + refs + "</refs>");
     }},
};

// ---- constructs ---------------------------------------------------------------
// XPath run as xpointer(...): every construct the bound prices.
const char* const XPATHS[] = {
    // axes
    "/r/l", "//l", "/descendant::l", "/descendant-or-self::node()", "//l/..", "//l/parent::*",
    "//l/ancestor::*", "//l/ancestor-or-self::node()", "//l/following::*",
    "//l/following-sibling::l", "//l/preceding::*", "//l/preceding-sibling::node()", "//l/@x",
    "//@*", "//l/attribute::*", "//l/namespace::*", "//*/namespace::*", "//l/self::l",
    "//*/self::node()",
    // name tests
    "//ds:Signature", "//*", "//node()", "//text()", "//p:*",
    // predicates
    "//l[1]", "//l[last()]", "//l[position() < 3]", "//l[@x = '1']", "//*[@Id = 'sig']",
    "//*[l/@x]", "//l[ancestor::*/@x]", "//l[count(ancestor::*) > 2]", "//*[count(.//l) > 1]",
    // unions
    "//l | //ds:Signature", "//l/@x | //l", "//l | //l/.. | //l/@x",
    // node-set comparisons
    "//l[@x = //l/@x]", "//l[@x < //l/@x]", "//l[. = 't']", "//l[. < 5]", "//l[//l = //l/@x]",
    // strings
    "//l[string() = 't']", "//l[string(@x) = '1']", "//l[concat(@x, ., name()) = 'z']",
    "//l[contains(., 'zz')]", "//l[starts-with(@x, 'v')]", "//l[substring-before(., 'z') = '']",
    "//l[substring-after(@x, '1') = '']", "//l[substring(., 2, 3) = 'z']",
    "//l[translate(., 'abc', 'xyz') = 'q']", "//l[normalize-space() = 'q']",
    "//l[string-length() > 3]", "//*[string-length(name()) > 3]",
    // language, names, namespaces
    "//l[lang('pl')]", "//*[lang('en')]", "//*[local-name() = 'l']", "//*[name() = 'l']",
    "//*[namespace-uri() = '']", "//l[namespace::*]", "//l[namespace::x]",
    // id(), numbers
    "id(//@refs)", "id(//l/@Id)", "//l[sum(../l/@x) >= 0]",
    "//l[@x * 2 + 1 > 0 and @x mod 2 = 0]", "//l[-@x < 1 div 3]"};
// The XPointer framework as it is.
const char* const FRAMEWORK[] = {
    "sig", "element(sig/1)", "element(/1/1)", "element(/1) xpointer(//l[1])",
    "xmlns(d=http://www.w3.org/2000/09/xmldsig#)xpointer(//d:Signature)",
    "xpointer(//none) xpointer(//l)", "xpointer(/)"};
// XPath filters (one evaluation per node; the bound is per evaluation).
const char* const FILTERS[] = {
    "not(ancestor-or-self::ds:Signature)", "ancestor-or-self::*[@Id = 'x']",
    "count(ancestor-or-self::ds:Signature | here()/ancestor::ds:Signature[1]) > "
    "count(ancestor-or-self::ds:Signature)",
    "lang('pl')", "count(preceding::node()) >= 0", "namespace::*", "self::l[@x = '1']",
    "string-length(string()) > 0", "@x = //l/@x"};

struct Case {
  size_t family;
  bool filter;
  std::string expression;
};

std::vector<Case> allCases() {
  std::string tokens;  // id() with many tokens
  for (size_t i = 0; i < 400; ++i) tokens += (i ? " i" : "i") + num(i * 7 % 500);
  std::vector<std::string> xpointers;
  for (const char* x : XPATHS) xpointers.push_back(std::string("xpointer(") + x + ")");
  xpointers.push_back("xpointer(id('" + tokens + "'))");
  xpointers.insert(xpointers.end(), std::begin(FRAMEWORK), std::end(FRAMEWORK));
  std::vector<Case> cases;
  for (size_t f = 0; f < std::size(FAMILIES); ++f) {
    for (const auto& x : xpointers) cases.push_back({f, false, x});
    for (const char* x : FILTERS) cases.push_back({f, true, x});
  }
  return cases;
}

// ---- the child: running the cases under callgrind ----------------------------

// The filter's walk as XmlXPathTransform::apply's search makes it: the
// document node, each node, an element's namespace nodes (xml's, then the
// nearest declaration of each prefix in scope) and attributes.
template <class Visit>
void filterWalk(xmlDocPtr doc, Visit visit) {
  xmlNs xmlNamespace{};
  xmlNamespace.type = XML_NAMESPACE_DECL;
  xmlNamespace.href = XML_XML_NAMESPACE;
  xmlNamespace.prefix = BAD_CAST "xml";
  visit(reinterpret_cast<xmlNodePtr>(doc), nullptr);
  std::vector<xmlNsPtr> inScope;
  for (xmlNodePtr n = doc->children; n; n = xmlNextInDocument(n, doc, n->type == XML_ELEMENT_NODE)) {
    if (xmlOutsideDataModel(n)) continue;
    visit(n, n->parent);
    if (n->type != XML_ELEMENT_NODE) continue;
    inScope.clear();
    for (xmlNodePtr e = n; e && e->type == XML_ELEMENT_NODE; e = e->parent)
      for (xmlNsPtr d = e->nsDef; d; d = d->next)
        if (std::none_of(inScope.begin(), inScope.end(),
                         [d](xmlNsPtr s) { return xmlStrEqual(s->prefix, d->prefix); }))
          inScope.push_back(d);
    visit(reinterpret_cast<xmlNodePtr>(&xmlNamespace), n);
    for (xmlNsPtr d : inScope) visit(reinterpret_cast<xmlNodePtr>(d), n);
    for (xmlAttrPtr a = n->properties; a; a = a->next) visit(reinterpret_cast<xmlNodePtr>(a), n);
  }
}

// The filter counting the evaluations it runs.
class CountingFilter : public XmlXPathTransform {
 public:
  using XmlXPathTransform::XmlXPathTransform;
  int visible(xmlNodePtr node, xmlNodePtr parent) override {
    if (failure() == 0 && node && !xmlOutsideDataModel(node)) ++evaluations;
    return XmlXPathTransform::visible(node, parent);
  }
  double evaluations = 0;
};

int32_t codeOf(XmlTransform& t) {
  try {
    t.apply();
  } catch (const TalApiException& e) {
    return e.getCode();
  }
  return 0;
}

struct Parsed {
  std::string text;
  std::unique_ptr<MemFile> file;
  XmlDocHolder holder;
  std::unique_ptr<XmlIdIndexScope> scope;
  xmlNodePtr context = nullptr;  // the ds:Reference
};

int child(size_t shard, size_t shards, const std::string& dir) {
  XmlBoundRoad full = XmlBoundRoad::FULL;
  xmlBoundOverrideRoad(&full);
  std::ofstream plans(dir + "/plan." + num(shard));
  const std::vector<Case> cases = allCases();
  std::map<size_t, std::unique_ptr<Parsed>> docs;
  for (size_t i = shard; i < cases.size(); i += shards) {
    const Case& c = cases[i];
    auto& d = docs[c.family];
    if (!d) {
      d = std::make_unique<Parsed>();
      d->text = FAMILIES[c.family].make();
      d->file = std::make_unique<MemFile>(reinterpret_cast<uint8_t*>(d->text.data()),
                                          static_cast<int32_t>(d->text.size()), false);
      if (parseXmlDocument(&d->holder, d->file.get()) != 0) d->holder.root = nullptr;
    }
    if (!d->holder.root) {
      plans << i << "\tunparsable\t0\t0\t0\n";
      continue;
    }
    if (!d->scope) {
      // The Id index and the statistics made before any measurement, as one
      // verification's scope makes them once for all its references.
      d->scope = std::make_unique<XmlIdIndexScope>(d->holder.doc);
      d->scope->find("sig");
      d->scope->xpointerStats =
          std::make_shared<const XmlXPointerDocStats>(xmlXPointerGatherStats(d->holder.doc));
      xmlNodePtr sig = d->holder.root->last;
      d->context = sig && sig->children ? sig->children->children : nullptr;
    }
    if (!d->context) {
      plans << i << "\tunparsable\t0\t0\t0\n";
      continue;
    }
    const XmlXPointerDocStats& stats = *d->scope->xpointerStats;
    // A filter's plan bounds one pass over every node it may be asked about,
    // counted as the transform counts them.
    XmlXPointerPlan plan =
        c.filter ? xmlXPathFilterPlan(c.expression, stats, stats.nodes)
                 : xmlXPointerPlan(c.expression, stats);
    double calls = 1;
    // Refused as the transforms refuse (a whole budget is above the cap).
    const char* refused = !plan.accepted                         ? "not accepted"
                          : plan.bound > XML_EXPRESSION_WORK_CAP ? "over the cap"
                                                                 : nullptr;
    int32_t rc = 0;
    if (!refused) {
      XmlWorkBudget big(1000000000000ull, std::chrono::hours(100));
      CALLGRIND_ZERO_STATS;
      if (c.filter) {
        CountingFilter t(d->context, c.expression);
        t.addNamespace("ds", DS);
        t.budget = &big;
        // One pass over every node: apply's search when it found nothing (or
        // failed), else the canonicaliser's pass, made here, after it.
        CALLGRIND_START_INSTRUMENTATION;
        rc = codeOf(t);
        CALLGRIND_STOP_INSTRUMENTATION;
        if (rc == 0) {
          t.evaluations = 0;
          CALLGRIND_ZERO_STATS;
          CALLGRIND_START_INSTRUMENTATION;
          filterWalk(d->holder.doc, [&](xmlNodePtr n, xmlNodePtr p) { t.visible(n, p); });
          CALLGRIND_STOP_INSTRUMENTATION;
          rc = t.failure();
        }
        calls = t.evaluations;
      } else {
        XmlXPointerTransform t(d->context, c.expression);
        t.budget = &big;
        CALLGRIND_START_INSTRUMENTATION;
        rc = codeOf(t);
        CALLGRIND_STOP_INSTRUMENTATION;
        if (rc == 0) xmlXPathFreeNodeSet(t.outputNodeSet());
      }
      CALLGRIND_DUMP_STATS_AT(("case-" + num(i)).c_str());
    }
    plans << i << '\t' << (refused ? refused : "run") << '\t' << plan.bound << '\t' << calls << '\t'
          << rc << '\n';
  }
  return plans.good() ? 0 : 2;
}

// ---- the driver ---------------------------------------------------------------

struct Row {
  std::string verdict;  // "run" or why it was refused
  double bound = 0, calls = 0, instructions = -1;
  int rc = 0;
  double ratio() const { return bound > 0 ? instructions / bound : 0; }
};

std::string human(double v) {
  char b[32];
  if (v >= 1e4)
    std::snprintf(b, sizeof b, "%.2e", v);
  else
    std::snprintf(b, sizeof b, "%.0f", v);
  return b;
}
std::string shortened(const std::string& s, size_t n) {
  return s.size() <= n ? s : s.substr(0, n - 16) + "...(" + num(s.size()) + " chars)";
}

// Instructions of each "case-N" dump of callgrind's files in dir.
std::map<size_t, double> readDumps(const std::string& dir) {
  std::map<size_t, double> out;
  const std::string trigger = "Trigger: Client Request: case-";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind("cg.", 0) != 0) continue;
    std::ifstream in(entry.path());
    std::string line;
    long index = -1;
    double total = -1;
    while (std::getline(in, line)) {
      if (line.rfind("desc: ", 0) == 0 && line.find(trigger) != std::string::npos)
        index = std::atol(line.c_str() + line.find(trigger) + trigger.size());
      else if (line.rfind("totals: ", 0) == 0 || (total < 0 && line.rfind("summary: ", 0) == 0))
        total = std::atof(line.c_str() + line.find(' ') + 1);
    }
    if (index >= 0) out[static_cast<size_t>(index)] = std::max(total, 0.0);
  }
  return out;
}

int driver(const std::string& valgrind, size_t jobs, const std::string& tableFile) {
  std::error_code error;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
  if (error) return 2;
  char dirTemplate[] = "/tmp/cost_xpointer.XXXXXX";
  if (!mkdtemp(dirTemplate)) return 2;
  const std::string dir = dirTemplate;
  const std::string version = xmlParserVersion ? xmlParserVersion : "?";
  std::vector<pid_t> pids;
  for (size_t s = 0; s < jobs; ++s) {
    std::vector<std::string> args = {valgrind,
                                     "--tool=callgrind",
                                     "-q",
                                     "--instr-atstart=no",
                                     "--collect-atstart=no",
                                     "--toggle-collect=xmlXPtrEval",
                                     "--toggle-collect=xmlXPathCompiledEvalToBoolean",
                                     "--callgrind-out-file=" + dir + "/cg.%p",
                                     self,
                                     "--child",
                                     num(s),
                                     num(jobs),
                                     dir};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, valgrind.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      std::cerr << "cannot run " << valgrind << "\n";
      return 2;
    }
    pids.push_back(pid);
  }
  bool childFailed = false;
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    childFailed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  }
  const std::vector<Case> cases = allCases();
  std::vector<Row> rows(cases.size());
  std::vector<bool> seen(cases.size());
  for (size_t s = 0; s < jobs; ++s) {
    std::ifstream in(dir + "/plan." + num(s));
    size_t i;
    Row r;
    while (in >> i && in.ignore() && std::getline(in, r.verdict, '\t') && in >> r.bound >> r.calls >> r.rc)
      if (i < rows.size()) rows[i] = r, seen[i] = true;
  }
  for (const auto& [i, instructions] : readDumps(dir))
    if (i < rows.size()) rows[i].instructions = instructions;

  std::ostringstream out;
  out << "XPointer/XPath bound against callgrind's instruction counts (libxml2 " << version
      << ", the FULL road); fails above " << MAX_INSTRUCTIONS_PER_UNIT
      << " instructions per unit.\n"
         "bound: units of the evaluation (a filter: of one pass over all the nodes it may be "
         "asked about); calls: evaluations (a filter's, in the pass measured); ratio: "
         "instructions / bound; rc: the transform's code (139 nothing "
         "selected, 140 stopped by libxml2's operation limit or memory); 0 instructions: "
         "answered without libxml2.\n";
  size_t failures = 0, missing = 0;
  std::vector<size_t> run;
  for (size_t f = 0; f < std::size(FAMILIES); ++f) {
    out << "\n== " << FAMILIES[f].name << "\n";
    char head[256];
    std::snprintf(head, sizeof head, "%-6s %-66s %-15s %9s %6s %9s %8s %4s\n", "kind", "expression",
                  "verdict", "bound", "calls", "instr", "ratio", "rc");
    out << head;
    for (size_t i = 0; i < cases.size(); ++i) {
      if (cases[i].family != f) continue;
      const Row& r = rows[i];
      std::string verdict = !seen[i] ? "NOT RUN" : r.verdict;
      bool measured = seen[i] && r.verdict == "run";
      if (measured && r.instructions < 0) verdict = "NO DUMP";
      bool fails = measured && r.ratio() > MAX_INSTRUCTIONS_PER_UNIT;
      if (fails) verdict = "FAIL";
      if (verdict == "NOT RUN" || verdict == "NO DUMP" || verdict == "unparsable") ++missing;
      failures += fails;
      if (measured && r.instructions >= 0) run.push_back(i);
      char line[512];
      std::snprintf(line, sizeof line, "%-6s %-66s %-15s %9s %6s %9s %8s %4s\n",
                    cases[i].filter ? "filter" : "xptr", shortened(cases[i].expression, 66).c_str(),
                    verdict.c_str(), human(r.bound).c_str(), human(r.calls).c_str(),
                    measured ? human(r.instructions).c_str() : "-",
                    measured ? (std::to_string(r.ratio()).substr(0, 7)).c_str() : "-",
                    measured ? num(static_cast<size_t>(r.rc)).c_str() : "-");
      out << line;
    }
  }
  std::sort(run.begin(), run.end(), [&](size_t a, size_t b) { return rows[a].ratio() > rows[b].ratio(); });
  out << "\n== worst ratios\n";
  for (size_t k = 0; k < run.size() && k < 25; ++k) {
    const size_t i = run[k];
    char line[512];
    std::snprintf(line, sizeof line, "%8.3f  %-6s %-60s %s\n", rows[i].ratio(),
                  cases[i].filter ? "filter" : "xptr", shortened(cases[i].expression, 60).c_str(),
                  FAMILIES[cases[i].family].name);
    out << line;
  }
  // The worst family of each construct: where its pricing is furthest off.
  out << "\n== worst ratio of each construct (over its families)\n";
  std::map<std::string, size_t> worst;
  std::vector<std::string> order;
  for (size_t i : run) {
    const std::string key = std::string(cases[i].filter ? "filter " : "xptr   ") + cases[i].expression;
    if (worst.emplace(key, i).second) order.push_back(key);  // run is sorted: the first is the worst
  }
  for (const std::string& key : order) {
    const size_t i = worst[key];
    char line[512];
    std::snprintf(line, sizeof line, "%8.3f  %-67s %s\n", rows[i].ratio(), shortened(key, 67).c_str(),
                  FAMILIES[cases[i].family].name);
    out << line;
  }
  out << "\n" << run.size() << " cases measured, " << failures << " over "
      << MAX_INSTRUCTIONS_PER_UNIT << " instructions per unit, " << missing << " not measured"
      << (childFailed ? " (a callgrind run failed)" : "") << ".\n";
  if (failures || missing || childFailed)
    out << "FAILED with libxml2 " << version
        << ": the bound does not hold for the cases above marked FAIL (or some were not "
           "measured). Only a libxml2 version that passes this check may be listed in "
           "CHECKED_LIBXML2_VERSIONS (src/xmlsig/xmlxpointerbound.cpp).\n";
  else
    out << "PASSED with libxml2 " << version
        << ": this version may be listed in CHECKED_LIBXML2_VERSIONS "
           "(src/xmlsig/xmlxpointerbound.cpp).\n";
  std::cout << out.str();
  std::ofstream(tableFile) << out.str();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return failures || missing || childFailed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 4 && a[0] == "--child")
    return child(std::stoul(a[1]), std::max<size_t>(1, std::stoul(a[2])), a[3]);
  std::string valgrind = "valgrind", table = "cost-table.txt";
  size_t jobs = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  for (size_t i = 0; i + 1 < a.size(); i += 2) {
    if (a[i] == "--valgrind")
      valgrind = a[i + 1];
    else if (a[i] == "--jobs")
      jobs = std::max<size_t>(1, std::stoul(a[i + 1]));
    else if (a[i] == "--table")
      table = a[i + 1];
  }
  if (const char* j = std::getenv("COST_JOBS")) jobs = std::max<size_t>(1, std::stoul(j));
  return driver(valgrind, jobs, table);
}
