// Transform tables, parameter reading, the single transforms and the chain.
#include "xmlsig/xmltesthelp.h"

#include "crypto/hash/messagedigests.h"
#include "xmlsig/xmlb64transform.h"
#include "xmlsig/xmlsha1transform.h"
#include "xmlsig/xmlxpointertransform.h"
#include "xmlsig/xmlxslttransform.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <vector>
#include <libxml/c14n.h>
#include <libxml/xpathInternals.h>
#include <libxslt/xsltutils.h>

namespace {

// Algorithm URIs, written out (the vocabulary's exact texts), to kinds and digest ids.
TEST(TransformTables, AlgorithmAndDigestUris) {
  const struct {
    const char* uri;
    int32_t kind;  // -1: unknown (137)
    uint32_t digest;
  } cases[] = {
      {"http://www.w3.org/TR/2001/REC-xml-c14n-20010315", 1, 0},
      {"http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments", 2, 0},
      {"http://www.w3.org/2001/10/xml-exc-c14n#", 8, 0},
      {"http://www.w3.org/2001/10/xml-exc-c14n#WithComments", 9, 0},
      {"http://www.w3.org/2000/09/xmldsig#enveloped-signature", 3, 0},
      {"http://www.w3.org/TR/1999/REC-xpath-19991116", 4, 0},
      {"http://www.w3.org/TR/1999/REC-xslt-19991116", 6, 0},
      {"http://www.w3.org/2000/09/xmldsig#base64", 0, 0},
      {"http://www.w3.org/2000/09/xmldsig#sha1", 5, 1},
      {"http://www.w3.org/2001/04/xmldsig-more#sha224", 5, 2},
      {"http://www.w3.org/2001/04/xmlenc#sha256", 5, 3},
      {"http://www.w3.org/2001/04/xmldsig-more#sha384", 5, 4},
      {"http://www.w3.org/2001/04/xmlenc#sha512", 5, 5},
      {"http://www.w3.org/2001/04/xmlenc#ripemd160", 5, 7},
      {"http://www.w3.org/2001/04/xmldsig-more#md5", 5, 8},
      // SHA-256 and SHA-512 live in the encryption namespace, not in xmldsig-more.
      {"http://www.w3.org/2001/04/xmldsig-more#sha256", -1, 0},
      {"http://www.w3.org/2001/04/xmldsig-more#sha512", -1, 0},
      {"http://www.w3.org/2002/06/xmldsig-filter2", -1, 0},
      {"http://www.w3.org/TR/2001/REC-xml-c14n-20010315#withcomments", -1, 0},
      {"", -1, 0},
  };
  for (const auto& c : cases) {
    int32_t kind = -1;
    uint32_t id = 0;
    std::string back;
    EXPECT_EQ(transformKindFromUri(c.uri, &kind), c.kind < 0 ? 137 : 0) << c.uri;
    EXPECT_EQ(kind, c.kind) << c.uri;
    EXPECT_EQ(digestIdFromUri(c.uri, &id), c.digest != 0) << c.uri;
    EXPECT_EQ(id, c.digest) << c.uri;
    if (c.digest) {
      EXPECT_TRUE(digestUriFromId(c.digest, &back));
      EXPECT_EQ(back, c.uri);
    }
  }
  for (uint32_t id : {0u, 6u, 9u}) EXPECT_FALSE(digestUriFromId(id, nullptr)) << id;
}

class Admitted : public XmlTransformContext {
 public:
  bool isStylesheetAdmitted(const std::string& href) const override {
    return href == "admitted.xsl";
  }
};

TEST(ReadTransformParams, ParametersAndRefusals) {
  ParsedDoc d(
      "<s:Transforms xmlns:s='http://www.w3.org/2000/09/xmldsig#' "
      "xmlns:x='http://www.w3.org/1999/XSL/Transform'>"
      "<s:Transform/>"
      "<s:Transform><s:XPath>self::a</s:XPath></s:Transform>"
      "<s:Transform><s:Other>self::a</s:Other></s:Transform>"
      "<s:Transform><s:XPath></s:XPath></s:Transform>"
      "<s:Transform><x:stylesheet><x:include href='other.xsl'/></x:stylesheet></s:Transform>"
      "<s:Transform><x:stylesheet><x:template/></x:stylesheet></s:Transform>"
      "<s:Transform><InclusiveNamespaces xmlns='http://www.w3.org/2001/10/xml-exc-c14n#' "
      "PrefixList=' a  #default\tb '/></s:Transform>"
      "<Transform/>"
      "</s:Transforms>");
  ASSERT_EQ(d.rc, 0);
  std::vector<xmlNodePtr> t;
  for (xmlNodePtr n = d.holder.root->children; n; n = n->next) t.push_back(n);
  Admitted ctx;
  const struct {
    int node;
    int32_t kind;
    int32_t rc;
    const char* expression;
  } cases[] = {
      // The enveloped expression takes the Transform element's own prefix, "ds" without one.
      {0, XML_TK_ENVELOPED, 0,
       "count(ancestor-or-self::s:Signature | here()/ancestor::s:Signature[1]) > "
       "count(ancestor-or-self::s:Signature)"},
      {7, XML_TK_ENVELOPED, 0,
       "count(ancestor-or-self::ds:Signature | here()/ancestor::ds:Signature[1]) > "
       "count(ancestor-or-self::ds:Signature)"},
      {1, XML_TK_XPATH, 0, "self::a"},
      {2, XML_TK_XPATH, 89, ""},
      {3, XML_TK_XPATH, 89, ""},
      {0, XML_TK_XPATH, 89, ""},
      {4, XML_TK_XSLT, 89, ""},  // not admitted
      {5, XML_TK_XSLT, 89, ""},  // no include
      {0, XML_TK_DIGEST, 137, ""},
      {0, 7, 137, ""},
      {0, XML_TK_C14N, 0, ""},
  };
  for (const auto& c : cases) {
    XmlTransformParam p;
    p.kind = c.kind;
    EXPECT_EQ(codeOf([&] { readTransformParams(&ctx, t[c.node], p); }), c.rc)
        << c.node << " " << c.kind;
    EXPECT_EQ(p.expression, c.expression);
  }
  XmlTransformParam p;
  p.kind = XML_TK_EXC_C14N;
  readTransformParams(&ctx, t[6], p);
  EXPECT_EQ(p.inclusivePrefixes, (std::vector<std::string>{"a", "#default", "b"}));
}

TEST(Base64Transform, DecodeSkipsBlanksAndRefusesJunk) {
  const struct {
    std::string in;
    bool decode;
    int32_t rc;
    std::string out;
  } cases[] = {
      {"YW\r\n J j", true, 0, "abc"},
      {"\tYWJj\n", true, 0, "abc"},
      {"YWJ", true, 140, ""},
      {"YW!j", true, 140, ""},
      {std::string("YW\0j", 4), true, 140, ""},
      {"   ", true, 140, ""},
      {"abc", false, 0, "YWJj"},
  };
  for (const auto& c : cases) {
    XmlB64MemoryTransform t(c.decode);
    auto in = reinterpret_cast<const uint8_t*>(c.in.data());
    EXPECT_EQ(codeOf([&] { t.applyToMemory(in, static_cast<uint32_t>(c.in.size())); }), c.rc)
        << c.in;
    EXPECT_EQ(outputOf(t), c.out);
  }
}

TEST(SelectionTransforms, EmptyResultsAndLimits) {
  ParsedDoc d("<r xmlns:p='urn:p'><p:a Id='x'>t</p:a><b/><c Id='w'/><c Id='w'/></r>");
  ASSERT_EQ(d.rc, 0);
  registerIdAttributes(d.holder.root);
  const struct {
    std::string expr;
    int32_t rc;
  } xpaths[] = {
      {"self::p:a", 0},
      {"self::none", 139},                                          // nothing selected
      {"here()", 0},                                                // the context node itself
      {"here(1)", 140},                                             // arity error
      {"self::q:a", 140},                                           // unknown prefix
      {"count(//*) > 0 and (", 140},                                // syntax
      {std::string(5000, '1'), 140},                                // too long
      {std::string(2000, '(') + "1" + std::string(2000, ')'), -1},  // deep nesting: no crash
      {"count(//node()//node()//node()//node()//node()//node()) >= 0", fullRoadOnly(0)},
  };
  for (const auto& c : xpaths) {
    XmlXPathTransform t(d.holder.root, c.expr);
    int32_t rc = codeOf([&] { t.apply(); });
    if (c.rc >= 0) {
      EXPECT_EQ(rc, c.rc) << c.expr;
    }
  }
  const struct {
    std::string expr;
    int32_t rc;
    const char* selects;  // the nodes selected, in document order ("/" the document)
  } pointers[] = {
      {"x", 0, "a"},
      {"xpointer(id('x'))", 0, "a"},
      {"xpointer(/)", 0, "/"},
      {"xpointer(id('absent'))", 139, ""},
      {"absent", 139, ""},
      // Two elements claim the Id (libxml2's own lookup answers the first),
      // whichever form names it.
      {"w", 139, ""},
      {"xpointer(id('w'))", 139, ""},
      {"xpointer(id(\"w\"))", 139, ""},
      {"xpointer(//c[@Id='w'])", 0, "c c"},
      // Any other expression is libxml2's XPointer.
      {"xpointer(//b | /r/p:a)", fullRoadOnly(0), "a b"},
      {"xpointer(id(\"x\"))", 0, "a"},
      {"xpointer(//@Id)", fullRoadOnly(0), "@Id @Id @Id"},
      // libxml2's here(): a location set, no node set to step from.
      {"xpointer(here())", 140, ""},
      {"xpointer(here()/b)", fullRoadOnly(139), ""},
      {"xmlns(q=urn:p)xpointer(//q:a/text())", fullRoadOnly(0), "text"},
      {"element(/1/2)", 0, "b"},
      {"element(x)", 0, "a"},
      // libxml2's table holds the first c.
      {"element(w)", 139, ""},
      {"element(w )", 139, ""},
      {"xmlns(q=urn:p) element(w)", 139, ""},
      {" w", 139, ""},
      {"xpointer(//none)", 139, ""},
      // libxml2 gives no result for a number or a text; a range is no node set.
      {"xpointer(count(//*))", fullRoadOnly(139), ""},
      {"xpointer(string(/))", fullRoadOnly(139), ""},
      {"xpointer(id('x')/range-to(//b))", 140, ""},
      // libxml2's string-range() would loop without end here.
      {"xpointer(string-range(//*,'t'))", 140, ""},
      {"xpointer(//*[string-range(.,'t')])", 140, ""},
      {"xpointer(//q:a)", 139, ""},  // an unbound prefix: no result
      {"xpointer(", 139, ""},
      {"x' or '1'='1", 139, ""},
      {"p:a", 139, ""},
      {"unknown(x)", 139, ""},
      {"", 140, ""},
      {std::string("xpointer(/") + std::string(5000, ' ') + ")", 140, ""},  // too long
  };
  for (const auto& c : pointers) {
    XmlXPointerTransform t(d.holder.root, c.expr);
    EXPECT_EQ(codeOf([&] { t.apply(); }), c.rc) << c.expr;
    if (c.rc != 0) continue;
    xmlNodeSetPtr set = t.outputNodeSet();
    ASSERT_TRUE(set) << c.expr;
    std::string names;
    for (int i = 0; i < set->nodeNr; ++i) {
      xmlNodePtr n = set->nodeTab[i];
      names += names.empty() ? "" : " ";
      if (n == reinterpret_cast<xmlNodePtr>(d.holder.doc))
        names += "/";
      else
        names += (n->type == XML_ATTRIBUTE_NODE ? "@" : "") +
                 std::string(reinterpret_cast<const char*>(n->name));
    }
    EXPECT_EQ(names, c.selects) << c.expr;
    xmlXPathFreeNodeSet(set);
  }
}

// A budget of the library's units whose deadline, a day away, cannot fire: a 140
// under it is a count's (units, operations, memory), not the clock's, however
// busy the machine. That the run ends at all is ctest's time-out's concern.
XmlWorkBudget countedOnly() { return XmlWorkBudget(XML_TRANSFORM_WORK_LIMIT, std::chrono::hours(24)); }

// Filters whose work or input explodes are stopped, before memory runs out:
// by the operation limit, and by the bound on namespace nodes (200 declarations
// in scope of 100000 elements).
TEST(SelectionTransforms, RunawayFiltersAreStopped) {
  std::string nested = "<r>", wide = "<r";
  for (int i = 0; i < 300; ++i) nested += "<a><b/><b/></a>";
  for (int i = 0; i < 200; ++i)
    wide += " xmlns:p" + std::to_string(i) + "='urn:" + std::to_string(i) + "'";
  wide += ">";
  for (int i = 0; i < 100000; ++i) wide += "<a/>";
  const struct {
    std::string doc;
    const char* expr;
  } cases[] = {
      {nested + "</r>", "count(//*[count(//*[count(//*) > 0]) > 0]) > 0"},
      {wide + "</r>", "true()"},
  };
  for (const auto& c : cases) {
    ParsedDoc d(c.doc);
    ASSERT_EQ(d.rc, 0);
    XmlXPathTransform t(d.holder.root, c.expr);
    XmlWorkBudget units = countedOnly();
    t.budget = &units;
    EXPECT_EQ(codeOf([&] { t.apply(); }), 140) << c.expr;
  }
}

// The nodes an XPointer selects, each with its descendants, canonicalise as
// libxml2 canonicalises that set written out (every descendant, attribute and
// namespace node listed), in every mode, with or without document-order stamps.
// The narrow road takes the first form only.
TEST(SelectionTransforms, XPointerNodesWithTheirDescendants) {
  const std::string xml =
      "<?pi before?><!--c0--><r xmlns='urn:d' xmlns:p='urn:p' xml:lang='pl'>"
      "<b foo='bar' p:q='1'>B<!--c1--><?pi in?><p:x xmlns:z='urn:z'><y/>Y</p:x></b>"
      "<c xml:space='preserve'><b>inner</b><!--c2--></c><e foo='e'/></r><!--c3-->";
  const int32_t fullOnly = fullRoadOnly(0);
  const struct {
    const char* expr;
    int32_t rc;
  } expressions[] = {
      {"//p:x", 0},
      {"/d:r/*[1] | //d:c", fullOnly},
      {"//d:c | //d:c/d:b", fullOnly},
      {"//@foo", fullOnly},
      {"//comment()", fullOnly},
      {"//p:x/namespace::*", fullOnly},
      {"/ | //d:e", fullOnly},
      {"//text()", fullOnly},
      {"//d:b/@* | //d:e", fullOnly},
      {"//processing-instruction() | //d:y", fullOnly},
  };
  for (bool stamped : {true, false}) {
    ParsedDoc parsed(xml);
    ASSERT_EQ(parsed.rc, 0);
    xmlDocPtr raw = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, 0);
    ASSERT_NE(raw, nullptr);
    xmlDocPtr doc = stamped ? parsed.holder.doc : raw;
    xmlXPathContextPtr ctxt = xmlXPathNewContext(doc);
    xmlXPathRegisterNs(ctxt, BAD_CAST "p", BAD_CAST "urn:p");
    xmlXPathRegisterNs(ctxt, BAD_CAST "d", BAD_CAST "urn:d");
    for (const auto& [e, rc] : expressions) {
      const std::string expr = std::string("(") + e + ")";
      const std::string all = expr + " | " + expr + "/descendant::node() | " + expr +
                              "/descendant-or-self::*/@* | " + expr +
                              "/descendant-or-self::*/namespace::*";
      xmlXPathObjectPtr listed = xmlXPathEvalExpression(BAD_CAST all.c_str(), ctxt);
      ASSERT_TRUE(listed && listed->nodesetval) << e;
      for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(std::string(e) + (stamped ? " stamped " : " ") + std::to_string(mode));
        const bool comments = mode & 1, exclusive = mode & 2;
        XmlTransforms chain;
        XmlXPointerTransform* pointer = new XmlXPointerTransform(
            xmlDocGetRootElement(doc),
            std::string("xmlns(p=urn:p)xmlns(d=urn:d)xpointer(") + e + ")");
        chain.add(pointer);
        ASSERT_EQ(codeOf([&] { chain.applyToNode(nullptr); }), rc);
        if (rc != 0) continue;
        xmlChar* theirs = nullptr;
        int n = xmlC14NDocDumpMemory(doc, listed->nodesetval,
                                     exclusive ? XML_C14N_EXCLUSIVE_1_0 : XML_C14N_1_0, nullptr,
                                     comments, &theirs);
        ASSERT_GE(n, 0);
        xmlNodeSetPtr set = pointer->outputNodeSet();
        ASSERT_NE(set, nullptr);
        XmlTransforms c14n;
        c14n.add(new XmlNodeTrees(set));
        c14n.add(new XmlC14NodeSetTransform(doc, comments, exclusive));
        c14n.applyToNode(nullptr);
        xmlXPathFreeNodeSet(set);
        EXPECT_EQ(outputOf(c14n), std::string(reinterpret_cast<const char*>(theirs), n));
        xmlFree(theirs);
      }
      xmlXPathFreeObject(listed);
    }
    xmlXPathFreeContext(ctxt);
    xmlFreeDoc(raw);
  }
}

// The rule of a selection, counting the questions the canonicaliser asks it.
class CountedTrees : public XmlTransform, public XmlNodeFilter {
 public:
  explicit CountedTrees(xmlNodeSetPtr set) : XmlTransform(7, XML_DATA_NODESET, XML_DATA_OWN), trees(set) {}
  XmlNodeFilter* outputFilter() override { return this; }
  void apply() override {}
  int visible(xmlNodePtr node, xmlNodePtr parent) override {
    ++asked;
    return trees.visible(node, parent);
  }
  xmlNodePtr apex() const override { return trees.apex(); }
  bool wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const override {
    return trees.wholeElements(apex, hole);
  }
  uint64_t asked = 0;

 private:
  XmlNodeTrees trees;
};

// Many selected elements: each node is answered by a search of the selected
// ranges, so four times the elements cost some four times as much, not sixteen:
// the canonicaliser's work as the budget's units count it (the nodes shown,
// the questions asked of the rule) and the questions themselves. Counts, not
// times: a busy machine moves none of them. The XPointer's own work grows so
// too, but for a union: libxml2 counts its duplicate checks, the product of the
// two sets, among its operations, and past the operations its size leaves an
// evaluation is refused.
TEST(SelectionTransforms, ManyXPointerTreesInLinearWork) {
  struct Work {
    int32_t rc = 0;
    uint64_t pointer = 0, canonical = 0, asked = 0;
  };
  auto work = [](int count, const char* expression) {
    std::string xml = "<r xmlns:p='urn:p'>";
    for (int i = 0; i < count; ++i) xml += "<a><b k='v'>t<p:c/></b><!--n--></a>";
    ParsedDoc d(xml + "</r>");
    EXPECT_EQ(d.rc, 0);
    Work w;
    XmlWorkBudget units = countedOnly();
    XmlXPointerTransform pointer(d.holder.root, expression);
    pointer.budget = &units;
    w.rc = codeOf([&] { pointer.apply(); });
    if (w.rc != 0) return w;
    w.pointer = XML_TRANSFORM_WORK_LIMIT - units.remaining();
    xmlNodeSetPtr set = pointer.outputNodeSet();
    XmlTransforms c14n;
    auto* rule = new CountedTrees(set);
    c14n.add(rule);
    c14n.add(new XmlC14NodeSetTransform(d.holder.doc, true, false));
    c14n.applyToNode(nullptr, &units);
    xmlXPathFreeNodeSet(set);
    EXPECT_EQ(outputOf(c14n).size(), static_cast<size_t>(count) * 41);
    w.canonical = XML_TRANSFORM_WORK_LIMIT - units.remaining() - w.pointer;
    w.asked = rule->asked;
    return w;
  };
  // The same output either way (the trees of p:c lie in those of b); the narrow
  // road takes no union.
  std::vector<const char*> expressions = {"xpointer(//b)"};
  if (xmlBoundRoad() != XmlBoundRoad::NARROW) expressions.push_back("xpointer(//b | //p:c)");
  for (const char* expression : expressions) {
    const bool unions = std::strchr(expression, '|') != nullptr;
    const Work small = work(2000, expression), large = work(8000, expression);
    std::printf("%s: pointer %llu, %llu; canonicaliser %llu, %llu; questions %llu, %llu\n",
                expression, static_cast<unsigned long long>(small.pointer),
                static_cast<unsigned long long>(large.pointer),
                static_cast<unsigned long long>(small.canonical),
                static_cast<unsigned long long>(large.canonical),
                static_cast<unsigned long long>(small.asked), static_cast<unsigned long long>(large.asked));
    ASSERT_EQ(small.rc, 0) << expression;
    ASSERT_EQ(large.rc, 0) << expression;
    // At least a question for each element, attribute, text and comment: the rule was asked.
    EXPECT_GE(small.asked, 2000u * 6) << expression;
    EXPECT_GE(small.canonical, 2000u * 6) << expression;
    EXPECT_LE(large.canonical, small.canonical * 9 / 2) << expression;
    EXPECT_LE(large.asked, small.asked * 9 / 2) << expression;
    if (!unions) {
      EXPECT_LE(large.pointer, small.pointer * 9 / 2) << expression;
    }
  }
  for (const char* worst : {"xpointer(//*/ancestor-or-self::*)", "xpointer(//*/..)"})
    EXPECT_EQ(work(15000, worst).rc, 140) << worst;
}

// XPointer expressions whose work explodes (nested paths and predicates,
// unions of ever longer paths) stop at the operation limit, the memory
// allowance or the work budget's units with 140; the same within a chain's
// budget that an earlier step spent.
TEST(SelectionTransforms, RunawayXPointersAreStopped) {
  std::string nested = "<r>";
  for (int i = 0; i < 300; ++i) nested += "<a><b/><b/>t</a>";
  nested += "</r>";
  std::string deep;
  for (int i = 0; i < 200; ++i) deep += "<a>";
  for (int i = 0; i < 200; ++i) deep += "</a>";
  // Unions of ever longer paths, nested in a predicate of each one's nodes.
  std::string u = "//*";
  for (int i = 1; i < 5; ++i) {
    u += " | //*";
    for (int j = 0; j < i; ++j) u += "//*";
  }
  const std::string unions = "xpointer((" + u + ")[count(" + u + ") > 0])";
  const std::string nestedUnions =
      "xpointer((" + u + ")[count((" + u + ")[count(" + u + ") > 0]) > 0])";
  // Namespace nodes: one per element and declaration in scope, each one
  // libxml2 compares by prefix.
  std::string spaces = "<r";
  for (int i = 0; i < 200; ++i) spaces += " xmlns:n" + std::to_string(i) + "='u" + std::to_string(i) + "'";
  spaces += ">";
  for (int i = 0; i < 1000; ++i) spaces += "<e/>";
  spaces += "</r>";
  const struct {
    const std::string& doc;
    std::string expr;
  } cases[] = {
      {spaces, "xpointer(//*/namespace::* | //*/namespace::*)"},
      {spaces, "xpointer(//*/namespace::*/../namespace::*)"},
      {nested, "xpointer(//*[count(//*[count(//*) > 0]) > 0])"},
      {deep, "xpointer(//node()[count(//node()//node()[count(//node()//node()) > 0]) > 0])"},
      {nested, unions},
      {deep, unions},
      {nested, nestedUnions},
      {nested,
       "xpointer(//*[string-length(concat(string(/),string(/),string(/))) > 0]"
       "[count(//*[count(//*) > 0]) > 0])"},
  };
  for (const auto& c : cases) {
    ParsedDoc d(c.doc);
    ASSERT_EQ(d.rc, 0);
    XmlXPointerTransform t(d.holder.root, c.expr);
    XmlWorkBudget units = countedOnly();
    t.budget = &units;
    EXPECT_EQ(codeOf([&] { t.apply(); }), 140) << c.expr;
  }
  ParsedDoc d(nested);
  XmlWorkBudget spent(100);
  XmlXPointerTransform t(d.holder.root, "xpointer(//b)");
  t.budget = &spent;
  EXPECT_EQ(codeOf([&] { t.apply(); }), 140);
}

// The filter's context: position and size 1 for every node, the result taken
// as a boolean (a number is no position to compare with).
TEST(SelectionTransforms, FilterContextIsEachNodeAlone) {
  ParsedDoc d("<r><a/><b/><a/></r>");
  ASSERT_EQ(d.rc, 0);
  const struct {
    const char* expr;
    int32_t rc;
    const char* out;
  } cases[] = {
      {"self::a and position() = 1 and last() = 1", fullRoadOnly(0), "<a></a><a></a>"},
      {"count(self::a)", 0, "<a></a><a></a>"},
      {"self::b or 0", 0, "<b></b>"},
  };
  for (const auto& c : cases) {
    XmlTransforms chain;
    chain.add(new XmlXPathTransform(d.holder.root, c.expr));
    chain.add(new XmlC14NodeSetTransform(d.holder.doc, false, false));
    ASSERT_EQ(codeOf([&] { chain.applyToNode(nullptr); }), c.rc) << c.expr;
    if (c.rc == 0) {
      EXPECT_EQ(outputOf(chain), c.out) << c.expr;
    }
  }
}

// A detached file of exactly one block (digests by python3 hashlib).
TEST(HashFileTransform, BlocksDigestsAndRunningDigests) {
  const struct {
    uint32_t hashId;
    const char* hex;
  } cases[] = {
      {1, "12ff347b4f27d69e1f328e6f4b5573e3666e122f"},
      {3, "f3336bea752b5a28743033dd2c844a4a63fba08871aaee2586a2bf2d69be83a2"},
  };
  for (const auto& c : cases) {
    auto doc = detachedDoc(std::string(16384, 'a'));
    MessageDigestCtx running(1);
    XmlHashFileTransform t(&running, nullptr, c.hashId);
    t.applyToFile(doc.get());
    std::string hex;
    for (unsigned char b : outputOf(t)) {
      char h[3];
      snprintf(h, sizeof h, "%02x", b);
      hex += h;
    }
    EXPECT_EQ(hex, c.hex);
    running.finish();
    EXPECT_EQ(running.getBytesFed(), 16384u);
  }
}

// A detached document is canonicalised whole, PIs and comments around the root included.
TEST(FileCanonicalisation, WholeDetachedDocument) {
  const char* doc = "<?p a?><!--c--><r  b='1'   a=\"2\"><!--i--><e/></r><?q?>";
  const struct {
    const char* doc;
    bool comments;
    int32_t rc;
    const char* out;
  } cases[] = {
      {doc, false, 0, "<?p a?>\n<r a=\"2\" b=\"1\"><e></e></r>\n<?q?>"},
      {doc, true, 0, "<?p a?>\n<!--c-->\n<r a=\"2\" b=\"1\"><!--i--><e></e></r>\n<?q?>"},
      {"<r><unclosed></r>", false, 89, ""},
      {"<r", false, 59, ""},
  };
  for (const auto& c : cases) {
    auto detached = detachedDoc(c.doc);
    XmlC14FileTransform t(c.comments, false);
    EXPECT_EQ(codeOf([&] { t.applyToFile(detached.get()); }), c.rc) << c.doc;
    EXPECT_EQ(outputOf(t), c.out);
  }
}

xsltStylesheetPtr compile(const std::string& text) {
  xmlDocPtr d = xmlSafeParseMemory(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return d ? xsltParseStylesheetDoc(d) : nullptr;
}

// Only an admitted sheet found in the cache runs, and it reads no file.
TEST(XsltTransform, AdmittedCachedSheetsRunWithoutFileAccess) {
  const std::string head =
      "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      "<xsl:template match='/'><out><xsl:";
  const struct {
    std::string sheet;
    int32_t rc;
    const char* out;
  } cases[] = {
      {head + "value-of select='name(/*)'/></out></xsl:template></xsl:stylesheet>", 0,
       "<out>in</out>"},
      {head +
           "copy-of select=\"document('/etc/hostname')\"/></out></xsl:template></xsl:stylesheet>",
       140, ""},
  };
  for (const auto& c : cases) {
    auto doc = detachedDoc("<in/>");
    XmlXsltFileTransform t(compile(c.sheet), false);
    ASSERT_NE(t.stylesheet, nullptr);
    EXPECT_EQ(codeOf([&] { t.applyToFile(doc.get()); }), c.rc) << c.sheet;
    std::string text;
    serializeNode(t.outputNode(), text, false);
    EXPECT_EQ(text, c.out);
  }

  ParsedDoc d(
      "<s:Transform xmlns:s='http://www.w3.org/2000/09/xmldsig#'>"
      "<x:stylesheet xmlns:x='http://www.w3.org/1999/XSL/Transform'><x:include "
      "href='admitted.xsl'/>"
      "</x:stylesheet></s:Transform>");
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(XsltStylesheetCache::instance().find(nullptr), nullptr);
  EXPECT_TRUE(XsltStylesheetCache::instance().add("admitted.xsl", compile(cases[0].sheet)));
  Admitted ctx;
  XmlTransformParam p;
  p.kind = XML_TK_XSLT;
  readTransformParams(&ctx, d.holder.root, p);
  EXPECT_EQ(p.stylesheet, XsltStylesheetCache::instance().find("admitted.xsl"));
  EXPECT_EQ(codeOf([&] { readTransformParams(nullptr, d.holder.root, p); }), 89);
}

TEST(TransformChain, EmptyChainAndHandOver) {
  XmlTransforms empty;
  EXPECT_THROW(empty.outputKind(), std::runtime_error);
  EXPECT_THROW(empty.applyToNode(nullptr), std::runtime_error);

  // XPath node set -> canonical octets -> base64 encoding.
  ParsedDoc d("<r><a>x</a><b/></r>");
  ASSERT_EQ(d.rc, 0);
  XmlTransforms chain;
  chain.add(new XmlXPathTransform(d.holder.root, "ancestor-or-self::a"));
  chain.add(new XmlC14NodeSetTransform(d.holder.doc, false, false));
  chain.add(new XmlB64MemoryTransform(false));
  chain.applyToNode(nullptr);
  EXPECT_EQ(chain.outputKind(), static_cast<uint32_t>(XML_DATA_OCTETS));
  EXPECT_EQ(outputOf(chain), "PGE+eDwvYT4=");

  // Node content -> base64 decoding.
  ParsedDoc o("<o>aGk=</o>");
  XmlTransforms chain2;
  chain2.add(new XmlNodeContToMemTransform());
  chain2.add(new XmlB64MemoryTransform(true));
  chain2.applyToNode(o.holder.root);
  EXPECT_EQ(outputOf(chain2), "hi");

  // A node-set canonicaliser with no set before it fails (libxml2 would take
  // the whole document).
  XmlTransforms noSet;
  noSet.add(new XmlC14NodeSetTransform(o.holder.doc, false, false));
  EXPECT_EQ(codeOf([&] { noSet.applyToNode(o.holder.root); }), 140);
}

}  // namespace
