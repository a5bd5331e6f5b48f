// bench-libs: tal_xmlsig
// Same-document references over documents of 10,000 to 1,000,000 elements:
// the whole document with the enveloped signature left out (URI=""), an XPath
// filter (evaluated per node), and a subtree named by Id. The XPath filter's
// reference does the same work with libxml2: its XPath evaluates the same
// expression with each node as the context node, as libxml2's canonicaliser
// asks whether the node is in the set (xmlC14NExecute with a visibility
// callback); the output is checked equal to ours once per size. (libxml2's own
// set membership, xmlC14NDocDumpMemory with the node set of
// "(//. | //@* | //namespace::*)[...]", gives the same octets but is quadratic
// in its union and in its look-ups: seconds at 10,000 elements, hours at a
// million.) The other two are set beside libxml2's canonicaliser over the
// whole document with no selection at all (xmlC14NDocSaveTo, no node set):
// the floor any selection pays, their selections leaving out only the small
// signature. Each document is parsed once; the loop runs the transform chain.
// After the run, every operation is printed as a ratio of its reference at
// the same size and as nanoseconds per element, which stays flat when the
// time grows linearly.
#include <libxml/c14n.h>
#include <libxml/xpathInternals.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "base/memfile.h"
#include "ratio_main.h"
#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmltransformchain.h"
#include "xmlsig/xmlxpathtransform.h"

namespace {

struct Document {
  std::string text;
  XmlDocHolder holder;
  xmlNodePtr signature = nullptr, data = nullptr, xpath = nullptr;
};

// <r> <data Id="d"> n elements with a namespace, an attribute and text </data>
// <ds:Signature> with one Reference and an XPath transform </ds:Signature> </r>
Document& document(int n) {
  static std::map<int, std::unique_ptr<Document>> all;
  auto& slot = all[n];
  if (slot) return *slot;
  slot = std::make_unique<Document>();
  Document& d = *slot;
  d.text = "<r xmlns='urn:bench' xmlns:x='urn:x'><data Id='d'>";
  // Text as records carry it: a tree of bare one-letter elements is over the
  // parser's memory allowance (twenty times the octets) from 100,000 on.
  for (int i = 0; i < n; ++i)
    d.text += "<x:e a='" + std::to_string(i % 10) + "'>text " + std::to_string(i) + "</x:e>";
  d.text +=
      "</data><ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'><ds:SignedInfo>"
      "<ds:Reference URI=''><ds:Transforms><ds:Transform "
      "Algorithm='http://www.w3.org/TR/1999/REC-xpath-19991116'><ds:XPath>"
      "not(ancestor-or-self::ds:Signature)</ds:XPath></ds:Transform></ds:Transforms>"
      "</ds:Reference></ds:SignedInfo></ds:Signature></r>";
  MemFile in(reinterpret_cast<uint8_t*>(d.text.data()), static_cast<int32_t>(d.text.size()), false);
  if (parseXmlDocument(&d.holder, &in) != 0) return d;
  registerIdAttributes(d.holder.root);
  const char* ds = xmlc::NS_DSIG.data();
  d.signature = findElement(d.holder.root, "Signature", ds, -1);
  d.data = findElement(d.holder.root, "data", nullptr, 1);
  d.xpath = findElement(d.signature, "XPath", ds, -1);
  return d;
}

enum Case { ENVELOPED, XPATH, SUBTREE };

const char kFilter[] = "not(ancestor-or-self::ds:Signature)";

// One run of our transform chain; false when it refused.
bool runOurs(Document& d, Case which, XmlTransforms& chain) {
  xmlNodePtr start = d.signature;
  if (which == ENVELOPED) {
    chain.add(new XmlC14DocTransform(false, 0, false));  // everything but the signature
  } else if (which == XPATH) {
    chain.add(new XmlXPathTransform(d.xpath, kFilter));
    chain.add(new XmlC14NodeSetTransform(d.holder.doc, false, false));
  } else {
    chain.add(new XmlC14DocTransform(false, 1, false));
    start = d.data;
  }
  try {
    chain.applyToNode(start);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void ours(benchmark::State& state, Case which) {
  Document& d = document(static_cast<int>(state.range(0)));
  if (!d.signature || !d.data || !d.xpath) {
    state.SkipWithError("document");
    return;
  }
  for (auto _ : state) {
    XmlTransforms chain;
    if (!runOurs(d, which, chain)) {
      state.SkipWithError("refused");
      break;
    }
    benchmark::DoNotOptimize(chain.outputLength());
  }
  state.counters["elements"] = static_cast<double>(state.range(0));
}

// The XPath filter with libxml2: the compiled expression evaluated with each
// node the canonicaliser meets as the context node.
struct LibxmlFilter {
  xmlXPathContextPtr context;
  xmlXPathCompExprPtr expression;
};

int inFilter(void* data, xmlNodePtr node, xmlNodePtr parent) {
  const LibxmlFilter& f = *static_cast<LibxmlFilter*>(data);
  // A namespace node reaches XPath as a copy whose `next` is its element
  // (libxml2's own convention, as its node-set test builds it).
  xmlNs ns;
  if (node->type == XML_NAMESPACE_DECL) {
    std::memcpy(&ns, node, sizeof ns);
    ns.next = reinterpret_cast<xmlNsPtr>(
        parent && parent->type == XML_ATTRIBUTE_NODE ? parent->parent : parent);
    node = reinterpret_cast<xmlNodePtr>(&ns);
  }
  f.context->node = node;
  return xmlXPathCompiledEvalToBoolean(f.expression, f.context) == 1;
}

// The canonical form through the filter, in `out`; false when libxml2 failed.
bool libxml2Filtered(Document& d, xmlOutputBufferPtr out) {
  LibxmlFilter f{xmlXPathNewContext(d.holder.doc), nullptr};
  bool ok = f.context &&
            xmlXPathRegisterNs(f.context, BAD_CAST "ds", BAD_CAST xmlc::NS_DSIG.data()) == 0 &&
            (f.expression = xmlXPathCtxtCompile(f.context, BAD_CAST kFilter)) != nullptr &&
            xmlC14NExecute(d.holder.doc, inFilter, &f, XML_C14N_1_0, nullptr, 0, out) >= 0;
  xmlXPathFreeCompExpr(f.expression);
  xmlXPathFreeContext(f.context);
  return ok;
}

// Whether libxml2's filtered output is ours, octet for octet.
bool sameAsOurs(Document& d) {
  XmlTransforms chain;
  xmlOutputBufferPtr out = xmlAllocOutputBuffer(nullptr);
  bool same = out && runOurs(d, XPATH, chain) && libxml2Filtered(d, out);
  same =
      same && static_cast<uint32_t>(xmlOutputBufferGetSize(out)) == chain.outputLength() &&
      std::memcmp(xmlOutputBufferGetContent(out), chain.outputBytes(), chain.outputLength()) == 0;
  if (out) xmlOutputBufferClose(out);
  return same;
}

void libxml2XPath(benchmark::State& state) {
  Document& d = document(static_cast<int>(state.range(0)));
  if (!d.signature || !d.data || !d.xpath) {
    state.SkipWithError("document");
    return;
  }
  // Once per size: the framework calls this again for each run.
  static std::map<const Document*, bool> checked;
  auto check = checked.find(&d);
  if (check == checked.end()) check = checked.emplace(&d, sameAsOurs(d)).first;
  if (!check->second) {
    state.SkipWithError("libxml2's selection differs from ours");
    return;
  }
  for (auto _ : state) {
    xmlOutputBufferPtr out = xmlAllocOutputBuffer(nullptr);
    if (!libxml2Filtered(d, out)) state.SkipWithError("libxml2");
    benchmark::DoNotOptimize(xmlOutputBufferGetSize(out));
    xmlOutputBufferClose(out);
  }
}

void libxml2Whole(benchmark::State& state) {
  Document& d = document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    xmlOutputBufferPtr out = xmlAllocOutputBuffer(nullptr);
    int n = xmlC14NDocSaveTo(d.holder.doc, nullptr, XML_C14N_1_0, nullptr, 0, out);
    if (n < 0) state.SkipWithError("libxml2");
    benchmark::DoNotOptimize(xmlOutputBufferGetSize(out));
    xmlOutputBufferClose(out);
  }
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

BENCHMARK_CAPTURE(ours, enveloped_whole, ENVELOPED)->Apply(sizes);
BENCHMARK_CAPTURE(ours, xpath_filter, XPATH)->Apply(sizes);
BENCHMARK_CAPTURE(ours, id_subtree, SUBTREE)->Apply(sizes);
BENCHMARK(libxml2Whole)->Apply(sizes);
BENCHMARK(libxml2XPath)->Apply(sizes);

// The reference each operation is set beside: the same selection where libxml2 makes it.
std::string referenceOf(const std::string& op) {
  return op == "ours/xpath_filter" ? "libxml2XPath" : "libxml2Whole";
}

// Times of each operation against libxml2's whole-document time at the same size.
class XmlReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred || r.iterations == 0) continue;
      // "<operation>/<elements>[/min_time:...]"
      std::string name = r.benchmark_name(), op;
      long elements = 0;
      size_t at = 0;
      while (at <= name.size() && elements == 0) {
        size_t next = name.find('/', at);
        std::string part = name.substr(at, next == std::string::npos ? next : next - at);
        if (!part.empty() && part.find_first_not_of("0123456789") == std::string::npos)
          elements = std::stol(part);
        else
          op += (op.empty() ? "" : "/") + part;
        if (next == std::string::npos) break;
        at = next + 1;
      }
      if (elements > 0) times[{op, elements}] = r.GetAdjustedRealTime();
    }
  }
  void PrintRatios() const {
    std::printf("\n%-22s %10s %12s %12s %10s %12s\n", "operation", "elements", "ours ms",
                "libxml2 ms", "ratio", "ns/element");
    for (const auto& [key, t] : times) {
      if (key.first.rfind("libxml2", 0) == 0) continue;
      auto ref = times.find({referenceOf(key.first), key.second});
      const double perElement = t * 1e6 / static_cast<double>(key.second);
      // No reference time (it failed or was filtered out): no ratio.
      if (ref == times.end() || t <= 0)
        std::printf("%-22s %10ld %12.2f %12s %10s %12.1f\n", key.first.c_str(), key.second, t, "-",
                    "-", perElement);
      else
        std::printf("%-22s %10ld %12.2f %12.2f %10.2f %12.1f\n", key.first.c_str(), key.second, t,
                    ref->second, ref->second / t, perElement);
    }
    std::printf(
        "(ratio = libxml2 time / our time: the same filter for xpath_filter, the whole document "
        "with no selection for the others; ns/element flat = linear)\n");
  }

 private:
  std::map<std::pair<std::string, long>, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  XmlReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
