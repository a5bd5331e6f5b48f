// Our canonicaliser of whole-element selections against libxml2's, which the
// W3C and merlin vectors already hold to the standard: on the fixtures and on
// documents built around the rules' corners (namespace inheritance and
// undeclaration, xml:* attributes, attribute order, escaping, nodes outside
// the document element), every selection gives the same octets or the same
// refusal. Then the octets written straight into a digest, and the bounds.
#include "xmltesthelp.h"

#include "base/memfile.h"
#include "base/reportstream.h"
#include "xmlsig/xmlc14writer.h"
#include "xmlsig/xmlsigparser.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <functional>
#include <vector>

namespace {

struct Outcome {
  int32_t rc;
  std::string octets;
  bool operator==(const Outcome& o) const { return rc == o.rc && octets == o.octets; }
};

// Runs one canonicaliser, ours or libxml2's.
Outcome canonicalise(const std::function<XmlTransform*()>& make, xmlNodePtr start, bool libxml) {
  XmlTransforms chain;
  XmlTransform* t = make();
  chain.add(t);
  if (auto* d = dynamic_cast<XmlC14DocTransform*>(t)) d->throughLibxml = libxml;
  Outcome o{codeOf([&] { chain.applyToNode(start); }), ""};
  if (o.rc == 0) o.octets = outputOf(chain);
  return o;
}

// The enveloped-signature transform over a subtree, then a node-set canonicaliser.
Outcome enveloped(xmlNodePtr transform, xmlNodePtr start, bool comments, bool exclusive,
                  bool libxml) {
  XmlTransforms chain;
  chain.add(new XmlEnvelopedTransform(transform));
  auto* c = new XmlC14NodeSetTransform(start->doc, comments, exclusive, {"#default", "ds"});
  c->throughLibxml = libxml;
  chain.add(c);
  Outcome o{codeOf([&] { chain.applyToNode(start); }), ""};
  if (o.rc == 0) o.octets = outputOf(chain);
  return o;
}

// A signer's certificate, as an xmlsec1-signed fixture carries it: its KeyInfo.
std::string fixtureKeyInfo() {
  const std::string signed_ = readFixture("sig/enveloped-rsa256.xml");
  size_t from = signed_.find("<KeyInfo>"), to = signed_.find("</KeyInfo>");
  return to == std::string::npos ? std::string() : signed_.substr(from, to + 10 - from);
}

// Parses the signature, its references digested and their octets kept: the
// parser's result, and its report.
int32_t parseKeepingOctets(XmlSigParser& parser, xmlNodePtr signature, std::string& text) {
  parser.keepOctets = true;
  MemFile sink;
  ReportStream report(&sink);
  int32_t rc = parser.parse(&report, signature);
  text.assign(reinterpret_cast<const char*>(sink.data()), static_cast<size_t>(sink.length()));
  return rc;
}

// Collects what a canonicaliser writes, and the size of each write.
struct Blocks : XmlOctetSink {
  void write(const uint8_t* b, size_t n) override {
    text.append(reinterpret_cast<const char*>(b), n);
    sizes.push_back(n);
  }
  std::string text;
  std::vector<size_t> sizes;
};

std::vector<xmlNodePtr> elementsOf(xmlNodePtr root, size_t most) {
  std::vector<xmlNodePtr> out;
  for (xmlNodePtr n = root; n && out.size() < most;) {
    if (n->type == XML_ELEMENT_NODE) out.push_back(n);
    n = xmlNextInDocument(n, root->doc, n->type == XML_ELEMENT_NODE);
  }
  return out;
}

// Every selection of whole elements of the document, in the four forms and
// with inclusive-prefix lists; the number of selections compared.
size_t compareAll(const std::string& name, const std::string& text) {
  ParsedDoc d(text);
  EXPECT_EQ(d.rc, 0) << name;
  if (d.rc != 0) return 0;
  registerIdAttributes(d.holder.root);
  const std::vector<std::vector<std::string>> lists = {
      {}, {"#default"}, {"a", "p", "ds", "xml", "", "none", "a"}};
  std::vector<xmlNodePtr> elements = elementsOf(d.holder.root, 60);
  size_t compared = 0;
  for (int form = 0; form < 4; ++form) {
    bool comments = form & 1, exclusive = form & 2;
    for (const auto& prefixes : lists) {
      if (!exclusive && !prefixes.empty()) continue;
      auto check = [&](uint8_t selection, xmlNodePtr start, const char* what) {
        auto make = [&]() -> XmlTransform* {
          return new XmlC14DocTransform(comments, selection, exclusive, prefixes);
        };
        Outcome ours = canonicalise(make, start, false);
        Outcome theirs = canonicalise(make, start, true);
        EXPECT_EQ(ours.rc, theirs.rc) << name << " " << what << " form " << form;
        EXPECT_EQ(ours.octets, theirs.octets) << name << " " << what << " form " << form;
        ++compared;
      };
      check(1, reinterpret_cast<xmlNodePtr>(d.holder.doc), "whole");
      for (xmlNodePtr e : elements) {
        check(1, e, "subtree");
        check(0, e, "all but the subtree");
      }
    }
  }
  // Enveloped signatures over the document element and over every element.
  for (xmlNodePtr e : elements) {
    if (!isElement(e, xmlc::DS_TRANSFORM.data(), xmlc::NS_DSIG.data())) continue;
    for (xmlNodePtr start : {d.holder.root, elements[elements.size() / 2], e})
      for (int form = 0; form < 4; ++form) {
        Outcome ours = enveloped(e, start, form & 1, form & 2, false);
        Outcome theirs = enveloped(e, start, form & 1, form & 2, true);
        EXPECT_EQ(ours, theirs) << name << " enveloped form " << form << ": " << ours.octets << "\n"
                                << theirs.octets;
        ++compared;
      }
  }
  return compared;
}

void fixturesIn(const std::string& dir, std::vector<std::string>& names) {
  DIR* d = opendir((std::string(TAL_TEST_DATA_DIR) + "/xmlsig/" + dir).c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".xml") == 0) names.push_back(dir + "/" + n);
  }
  closedir(d);
}

}  // namespace

TEST(XmlC14Writer, SameOctetsAsLibxml2OnFixtures) {
  std::vector<std::string> names;
  for (const char* dir : {"c14n", "merlin", "sig", "xades"}) fixturesIn(dir, names);
  ASSERT_GE(names.size(), 25u);
  size_t compared = 0;
  for (const std::string& n : names) compared += compareAll(n, readFixture(n));
  EXPECT_GT(compared, 10000u);
}

TEST(XmlC14Writer, SameOctetsAsLibxml2OnCorners) {
  const std::string sig =
      "<ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'><ds:SignedInfo>"
      "<ds:Reference URI=''><ds:Transforms><ds:Transform "
      "Algorithm='http://www.w3.org/2000/09/xmldsig#enveloped-signature'/></ds:Transforms>"
      "</ds:Reference></ds:SignedInfo></ds:Signature>";
  const struct {
    const char* name;
    std::string text;
  } docs[] = {
      {"outside the document element",
       "<?xml version='1.0'?>\n<?before data?><!--c1-->\n<r xmlns='urn:d' xmlns:a='urn:a'>"
       "<a:e a:x='1' y='2' xmlns:b='urn:b' b:z='3'>t&amp;&lt;&gt;&#13;\"'</a:e>"
       "<e xmlns=''><f xmlns='urn:d'/></e><![CDATA[<&>\r]]><?inside?><!--c2-->" +
           sig + "</r><!--c3--><?after data ?>"},
      {"xml attributes inherited",
       "<r xml:lang='pl' xml:space='preserve'><a xml:lang='en'><b xml:base='http://x/' "
       "xml:id='i'><c a='1'/></b></a>" +
           sig + "</r>"},
      {"escaping in values", "<r a='&quot;&apos;&#9;&#10;&#13;&lt;&amp;>' b='x\"y' c=''>&#9;</r>"},
      {"redeclarations",
       "<r xmlns:a='urn:a'><b xmlns:a='urn:a'><c xmlns:a='urn:b'><d xmlns:a='urn:a' "
       "a:t='1'/></c></b></r>"},
      {"default undeclared",
       "<r xmlns='urn:x'><a xmlns=''><b/><c xmlns='urn:y'><d xmlns=''/></c></a>" + sig + "</r>"},
      {"empty default at the top",
       "<r xmlns=''><a xmlns=''/><b xmlns='urn:b'><c xmlns=''/></b></r>"},
      {"attribute order",
       "<r xmlns:b='urn:a' xmlns:a='urn:b' xmlns:c='urn:c'><e c:z='1' a:y='2' b:y2='3' x='4' "
       "a:a='5' w='6' xml:lang='pl'/></r>"},
      {"entities",
       "<!DOCTYPE r [<!ENTITY e 'v&amp;w'><!ATTLIST r d CDATA 'def'>]>"
       "<r a='x&e;y'>&e;<s b='&e;'/></r>"},
      {"exclusive prefixes",
       "<r xmlns='urn:d' xmlns:p='urn:p' xmlns:q='urn:q' xmlns:a='urn:a'><p:a><b q:at='1'>"
       "<c xmlns=''><d a:x='1'/></c></b></p:a>" +
           sig + "</r>"},
      {"unused declarations", "<r xmlns:u='urn:u'><a xmlns:v='urn:v'><u:b/></a></r>"},
      {"relative namespace", "<r><a xmlns:n='rel/x'><n:e/></a><b/></r>"},
      {"relative namespace in the signature",
       "<r><ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#' xmlns:n='rel'>"
       "<ds:Transform Algorithm='http://www.w3.org/2000/09/xmldsig#enveloped-signature'/>"
       "</ds:Signature><a/></r>"},
      {"comments only", "<!--a--><r><!--b--><!--\r--></r><!--c-->"},
      {"text with characters",
       "<r>\xC5\x82\xC3\xB3"
       "d\xC5\xBA &#x10000; ]]&gt;</r>"},
      {"deep", std::string(200, ' ') + "<r>" +
                   [] {
                     std::string s;
                     for (int i = 0; i < 60; ++i)
                       s += "<e n='" + std::to_string(i) + "' xmlns:p" + std::to_string(i % 3) +
                            "='urn:" + std::to_string(i) + "'>";
                     for (int i = 0; i < 60; ++i) s += "</e>";
                     return s;
                   }() +
                   "</r>"},
      {"namespace without a server mailto", "<r xmlns:m='mailto:a@b'><m:e/><f/></r>"},
      {"namespace without a server file", "<r><a xmlns:f='file:///x/y'><f:e/></a><b/></r>"},
      {"namespace without a server tag", "<r xmlns='tag:x.org,2000:y'><e/></r>"},
      {"namespace urn in capitals", "<r xmlns:u='URN:x:y'><u:e/></r>"},
      {"namespace dav", "<r xmlns:d='DAV:'><d:e/></r>"},
      {"namespace http without a server", "<r xmlns:h='http:x'><h:e/></r>"},
      {"namespace with markup characters",
       "<r xmlns:a='urn:x&amp;y&lt;z&gt;&quot;' xmlns:b=\"urn:&apos;\"><a:e b:f='1'/></r>"},
      {"namespace with both quotes", "<r xmlns:a='urn:&quot;&apos;'><a:e/></r>"},
      {"xml namespace declared",
       "<r xmlns:xml='http://www.w3.org/XML/1998/namespace' xml:lang='pl'><e xml:space='x'/></r>"},
      {"one URI under two prefixes",
       "<r xmlns:a='urn:s' xmlns:b='urn:s'><e b:y='1' a:z='2' a:a='0' z='3'/><a:f b:g='1'/></r>"},
      {"one attribute under two prefixes",
       "<r xmlns:a='urn:s' xmlns:b='urn:s'><e a:x='1' b:x='2' c='3' b:y='4' a:y='5'/></r>"},
      {"processing instructions", "<?p?><?p   ?><r><?q   x  ?><?q?></r><?p ?><!---->"},
      {"exclusive empty default",
       "<r xmlns='urn:d'><a xmlns=''><b/></a><c xmlns='' xmlns:p='urn:p' p:x='1'><p:d/></c></r>"},
      {"xml attributes nearest first",
       "<r xml:lang='a' xml:space='default' b='0'><s xml:space='preserve' b='x'>"
       "<t xml:base='http://x/' c='y' xml:lang='b'><u xml:id='i'/></t></s></r>"},
  };
  for (const auto& d : docs) EXPECT_GT(compareAll(d.name, d.text), 0u) << d.name;
}

// The enveloped filters signers write, recognised and served by our
// canonicaliser in one walk, against the same expressions evaluated by
// libxml2's XPath node by node and canonicalised by libxml2: here()'s filter
// leaves out only the signature holding it, not(ancestor-or-self::ds:Signature)
// every signature; comments as the canonicalisation asks. Texts that differ
// from the two (another binding, another prefix in one place, more after them)
// take the general road.
TEST(XmlC14Writer, RecognisedEnvelopedFiltersSelectAsLibxml2sXPath) {
  const std::string DS = "http://www.w3.org/2000/09/xmldsig#";
  const std::string filter = "<ds:Transform Algorithm=\"http://www.w3.org/TR/1999/REC-xpath-19991116\">"
                             "<ds:XPath@D>@E</ds:XPath></ds:Transform>";
  const std::string docs[] = {
      // Enveloped, a counter-signature inside it, another signature beside it
      // under another prefix, comments and instructions around.
      "<?pi before?><!-- before --><r xmlns=\"urn:r\" xmlns:p=\"urn:p\" xml:lang=\"pl\">"
      "<p:a k=\"1\">t<!-- in --></p:a><ds:Signature xmlns:ds=\"" + DS + "\" Id=\"outer\">"
      "<ds:SignedInfo><ds:Reference URI=\"\"><ds:Transforms>" + filter +
      "</ds:Transforms></ds:Reference></ds:SignedInfo><ds:Object><ds:Signature Id=\"counter\">"
      "<ds:SignedInfo>c</ds:SignedInfo></ds:Signature></ds:Object></ds:Signature>"
      "<q:Signature xmlns:q=\"" + DS + "\"><q:SignedInfo>x</q:SignedInfo></q:Signature>"
      "<b xmlns=\"\">z<!-- last --></b></r><!-- after -->",
      // Enveloping: the signature is the document element.
      "<!-- c --><ds:Signature xmlns:ds=\"" + DS + "\"><ds:SignedInfo><ds:Transforms>" + filter +
      "</ds:Transforms></ds:SignedInfo><ds:Object><o>v</o></ds:Object></ds:Signature>",
      // The filter inside a counter-signature: here() names the inner one.
      "<r><Signature xmlns=\"" + DS + "\"><SignedInfo/><Object><x/><Signature Id=\"in\">"
      "<ds:SignedInfo xmlns:ds=\"" + DS + "\"><ds:Transforms>" + filter +
      "</ds:Transforms></ds:SignedInfo></Signature><y>w</y></Object></Signature><z/></r>",
  };
  const std::string dsig = " xmlns:dsig=\"" + DS + "\"";
  const std::string here =
      "\n   count(ancestor-or-self::dsig:Signature |\n   here()/ancestor::dsig:Signature[1]) >"
      "\n   count(ancestor-or-self::dsig:Signature)";
  const struct {
    std::string declaration, expression;
    bool recognised;
  } filters[] = {
      {dsig, here, true},
      {"", "not(ancestor-or-self::ds:Signature)", true},
      {"", " not( ancestor-or-self::ds:Signature )\n", true},
      {" xmlns:ds=\"urn:other\"", "not(ancestor-or-self::ds:Signature)", false},
      {"", "not(ancestor-or-self::ds:Signature) and true()", false},
      {dsig, "count(ancestor-or-self::dsig:Signature | here()/ancestor::ds:Signature[1]) > "
             "count(ancestor-or-self::dsig:Signature)", false},
  };
  for (const std::string& shape : docs)
    for (const auto& f : filters) {
      std::string text = shape;
      text.replace(text.find("@D"), 2, f.declaration);
      std::string escaped = f.expression;
      for (size_t at; (at = escaped.find('>')) != std::string::npos;) escaped.replace(at, 1, "&gt;");
      text.replace(text.find("@E"), 2, escaped);
      ParsedDoc d(text);
      ASSERT_EQ(d.rc, 0) << text;
      xmlNodePtr xpath = nullptr;
      for (xmlNodePtr n = d.holder.root; n && !xpath;
           n = xmlNextInDocument(n, d.holder.doc, n->type == XML_ELEMENT_NODE))
        if (n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, BAD_CAST "XPath")) xpath = n;
      ASSERT_NE(xpath, nullptr);
      for (int form = 0; form < 4; ++form) {
        bool comments = form & 1, exclusive = form & 2;
        auto run = [&](bool recognise, bool& oneWalk, bool libxml = false) {
          XmlTransforms chain;
          auto* xp = new XmlXPathTransform(xpath, f.expression);
          xp->allowRecognised = recognise;
          chain.add(xp);
          auto* c = new XmlC14NodeSetTransform(d.holder.doc, comments, exclusive);
          c->throughLibxml = !recognise || libxml;
          chain.add(c);
          Outcome o{codeOf([&] { chain.applyToNode(nullptr); }), ""};
          if (o.rc == 0) o.octets = outputOf(chain);
          xmlNodePtr apex = nullptr, hole = nullptr;
          oneWalk = xp->wholeElements(apex, hole);
          return o;
        };
        bool oneWalk = false, general = false, asked = false;
        Outcome ours = run(true, oneWalk);
        // The recognised rule asked node by node, as libxml2's canonicaliser asks.
        EXPECT_EQ(run(true, asked, true), ours) << text << " form " << form;
        FullRoadScope full;
        Outcome theirs = run(false, general);
        EXPECT_EQ(oneWalk, f.recognised) << f.expression;
        EXPECT_FALSE(general);
        EXPECT_EQ(ours.rc, 0) << text;
        EXPECT_EQ(ours, theirs) << text << " form " << form << "\n" << ours.octets << "\n"
                                << theirs.octets;
      }
    }
}

// Known answers of the corners that decide the namespace axis.
TEST(XmlC14Writer, NamespaceAxis) {
  static const char kExclusiveExample[] =
      "<n0:local xmlns:n0=\"foo:bar\" xmlns:n3=\"ftp://example.org\">\n"
      "  <n1:elem2 xmlns:n1=\"http://example.net\" xml:lang=\"en\">\n"
      "    <n3:stuff xmlns:n3=\"ftp://example.org\"/>\n  </n1:elem2>\n</n0:local>";
  const struct {
    const char* doc;
    const char* apex;  // local name of the apex element
    bool exclusive;
    std::vector<std::string> prefixes;
    const char* expected;
  } cases[] = {
      {"<r xmlns='urn:x' xmlns:a='urn:a'><e/></r>",
       "e",
       false,
       {},
       "<e xmlns=\"urn:x\" xmlns:a=\"urn:a\"></e>"},
      {"<r xmlns='urn:x' xmlns:a='urn:a'><e/></r>", "e", true, {}, "<e xmlns=\"urn:x\"></e>"},
      {"<r xmlns='urn:x' xmlns:a='urn:a'><e/></r>",
       "e",
       true,
       {"a"},
       "<e xmlns=\"urn:x\" xmlns:a=\"urn:a\"></e>"},
      {"<r xmlns='urn:x'><e xmlns=''><f/></e></r>",
       "r",
       false,
       {},
       "<r xmlns=\"urn:x\"><e xmlns=\"\"><f></f></e></r>"},
      {"<r xmlns='urn:x'><e xmlns=''><f/></e></r>", "e", false, {}, "<e><f></f></e>"},
      {"<r xmlns:a='urn:a'><a:e><a:f xmlns:a='urn:a'/></a:e></r>",
       "r",
       true,
       {},
       "<r><a:e xmlns:a=\"urn:a\"><a:f></a:f></a:e></r>"},
      {"<r xml:lang='pl'><e a='1'/></r>", "e", false, {}, "<e a=\"1\" xml:lang=\"pl\"></e>"},
      {"<r xml:lang='pl'><e a='1'/></r>", "e", true, {}, "<e a=\"1\"></e>"},
      // The example of W3C Exclusive XML Canonicalization, both ways.
      {kExclusiveExample, "elem2", false, {},
       "<n1:elem2 xmlns:n0=\"foo:bar\" xmlns:n1=\"http://example.net\" "
       "xmlns:n3=\"ftp://example.org\" xml:lang=\"en\">\n    <n3:stuff></n3:stuff>\n  </n1:elem2>"},
      {kExclusiveExample, "elem2", true, {},
       "<n1:elem2 xmlns:n1=\"http://example.net\" xml:lang=\"en\">\n"
       "    <n3:stuff xmlns:n3=\"ftp://example.org\"></n3:stuff>\n  </n1:elem2>"},
  };
  for (const auto& c : cases) {
    ParsedDoc d(c.doc);
    ASSERT_EQ(d.rc, 0) << c.doc;
    xmlNodePtr apex = findElement(d.holder.root, c.apex, nullptr, -1);
    ASSERT_NE(apex, nullptr);
    XmlC14DocTransform t(false, 1, c.exclusive, c.prefixes);
    t.applyToNode(apex);
    EXPECT_EQ(outputOf(t), c.expected) << c.doc << " at " << c.apex;
  }
}

// A sink takes the octets as they are made, in blocks, and the transform keeps none.
TEST(XmlC14Writer, WritesStraightIntoASink) {
  std::string big = "<r xmlns='urn:r'>";
  for (int i = 0; i < 20000; ++i) big += "<e a='" + std::to_string(i) + "'>x&amp;y</e>";
  big += "</r>";
  ParsedDoc d(big);
  ASSERT_EQ(d.rc, 0);
  Blocks blocks;
  XmlC14DocTransform kept(false, 1, false), sent(false, 1, false);
  kept.applyToNode(d.holder.root);
  sent.sink = &blocks;
  sent.applyToNode(d.holder.root);
  EXPECT_EQ(sent.outputLength(), 0u);
  EXPECT_EQ(blocks.text, outputOf(kept));
  EXPECT_GT(blocks.sizes.size(), 10u);
  // libxml2's canonicaliser hands its octets to the sink too, once finished.
  Blocks late;
  XmlC14DocTransform reference(false, 1, false);
  reference.throughLibxml = 1;
  reference.sink = &late;
  reference.applyToNode(d.holder.root);
  EXPECT_EQ(late.text, blocks.text);
  EXPECT_EQ(reference.outputLength(), 0u);
}

// The walk is charged to the budget and stops when it is spent; the output
// stays within six times what was read.
TEST(XmlC14Writer, Bounded) {
  std::string doc = "<r>";
  for (int i = 0; i < 5000; ++i) doc += "<e/>";
  doc += "</r>";
  ParsedDoc d(doc);
  ASSERT_EQ(d.rc, 0);
  XmlWorkBudget small(1000);
  XmlC14DocTransform t(false, 1, false);
  t.budget = &small;
  EXPECT_EQ(codeOf([&] { t.applyToNode(d.holder.root); }), 140);
  EXPECT_TRUE(small.exhausted());
  EXPECT_EQ(t.outputLength(), 0u);
  // Exclusive canonicalisation renders a namespace again on every sibling
  // that uses it: past six times the document plus 1 MiB, it is refused.
  std::string uri(3000, 'u');
  std::string wide = "<r xmlns:p='urn:" + uri + "'>";
  for (int i = 0; i < 300; ++i) wide += "<p:e/>";
  wide += "</r>";
  ParsedDoc w(wide);
  ASSERT_EQ(w.rc, 0);
  XmlC14DocTransform fits(false, 1, true);
  fits.applyToNode(w.holder.root);
  EXPECT_GT(fits.outputLength(), 300u * 3000u);
  std::string wider = "<r xmlns:p='urn:" + std::string(30000, 'u') + "'>";
  for (int i = 0; i < 4000; ++i) wider += "<p:e/>";
  wider += "</r>";
  ParsedDoc ww(wider);
  ASSERT_EQ(ww.rc, 0);
  XmlC14DocTransform refused(false, 1, true);
  EXPECT_EQ(codeOf([&] { refused.applyToNode(ww.holder.root); }), 140);
}

// The signature parser digests each reference as its octets are made, block
// by block: the kept octets are libxml2's canonical form, and both the
// reference's digest and the combined one are the digest of those octets
// taken whole.
TEST(XmlC14Writer, ParserDigestsWhileCanonicalising) {
  const std::string sha256 = "<DigestMethod Algorithm='http://www.w3.org/2001/04/xmlenc#sha256'/>";
  std::string doc = "<r xmlns='urn:r' xmlns:x='urn:x'><data Id='d'>";
  for (int i = 0; i < 8000; ++i)
    doc += "<x:e a='" + std::to_string(i) + "'>t &amp; " + std::to_string(i) + "</x:e>";
  doc +=
      "</data><Signature xmlns='http://www.w3.org/2000/09/xmldsig#'><SignedInfo>"
      "<CanonicalizationMethod Algorithm='http://www.w3.org/2001/10/xml-exc-c14n#'/>"
      "<SignatureMethod Algorithm='http://www.w3.org/2001/04/xmldsig-more#rsa-sha256'/>"
      "<Reference URI=''><Transforms><Transform "
      "Algorithm='http://www.w3.org/2000/09/xmldsig#enveloped-signature'/></Transforms>" +
      sha256 +
      "<DigestValue>AAAA</DigestValue></Reference><Reference URI='#d'><Transforms><Transform "
      "Algorithm='http://www.w3.org/2001/10/xml-exc-c14n#'/></Transforms>" +
      sha256 +
      "<DigestValue>AAAA</DigestValue></Reference></SignedInfo>"
      "<SignatureValue>AAAA</SignatureValue>";
  doc += fixtureKeyInfo() + "</Signature></r>";
  ParsedDoc d(doc);
  ASSERT_EQ(d.rc, 0);
  xmlNodePtr signature = findElement(d.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
  XmlSigParser parser(d.holder.root, {}, 1);
  std::string report;
  ASSERT_EQ(parseKeepingOctets(parser, signature, report), 0) << report;
  ASSERT_EQ(parser.references.items.size(), 2u);
  const XmlRef* whole = parser.references.items.front();
  const XmlRef* subtree = parser.references.items.back();
  // The same selections through libxml2's canonicaliser.
  XmlC14DocTransform lessSignature(false, 0, false), data(false, 1, true);
  lessSignature.throughLibxml = data.throughLibxml = 1;
  lessSignature.applyToNode(signature);
  data.applyToNode(findElement(d.holder.root, "data", nullptr, 1));
  EXPECT_EQ(whole->octets, outputOf(lessSignature));
  EXPECT_EQ(subtree->octets, outputOf(data));
  EXPECT_GT(whole->octets.size(), 4u * 16384u);
  std::string all;
  for (const XmlRef* r : {whole, subtree}) {
    MessageDigestCtx h(3);
    h.update(r->octets.data(), static_cast<uint32_t>(r->octets.size()));
    h.finish();
    std::string expected, computed;
    ASSERT_TRUE(h.getDigest(expected));
    ASSERT_TRUE(r->digest->context().getDigest(computed));
    EXPECT_EQ(computed, expected);
    all += r->octets;
  }
  MessageDigestCtx h(3);
  h.update(all.data(), static_cast<uint32_t>(all.size()));
  h.finish();
  MessageDigestCtx* running = parser.combinedDigests.find(3);
  ASSERT_NE(running, nullptr);
  if (!running->isFinished()) running->finish();
  std::string combined, expected;
  ASSERT_TRUE(running->getDigest(combined));
  ASSERT_TRUE(h.getDigest(expected));
  EXPECT_EQ(combined, expected);
}

// The signature parser serves a recognised filter in one walk only alone over
// the whole document (URI="" or "#xpointer(/)"), with a canonicalisation
// after it; with another transform it takes the general road. Every form
// digests what libxml2's XPath and canonicaliser make of it, comments as
// the URI keeps them, and hands out as its signed object what it digested.
TEST(XmlC14Writer, ParserServesRecognisedFiltersAlone) {
  const std::string DS = "http://www.w3.org/2000/09/xmldsig#";
  const std::string xpath = "<Transform Algorithm='http://www.w3.org/TR/1999/REC-xpath-19991116'>"
                            "<XPath xmlns:dsig='" + DS + "'>";
  const std::string here = xpath +
                           "count(ancestor-or-self::dsig:Signature | "
                           "here()/ancestor::dsig:Signature[1]) &gt; "
                           "count(ancestor-or-self::dsig:Signature)</XPath></Transform>";
  const std::string every = xpath + "not(ancestor-or-self::dsig:Signature)</XPath></Transform>";
  const std::string env = "<Transform Algorithm='" + DS + "enveloped-signature'/>";
  const std::string c14n = "<Transform Algorithm='http://www.w3.org/TR/2001/REC-xml-c14n-20010315'/>";
  const std::string c14nc = "<Transform Algorithm='http://www.w3.org/TR/2001/REC-xml-c14n-20010315"
                            "#WithComments'/>";
  const struct {
    const char* uri;
    std::string transforms;
    uint8_t leavesOut;  // what the parser recorded: 0 the general road
    bool saved;         // handed out as the signed object
  } refs[] = {
      {"", here + c14n, 1, true},
      {"", every + c14n, 2, false},  // another signature stands beside it
      {"#xpointer(/)", here + c14nc, 1, true},
      {"#xpointer(/descendant-or-self::node())", env + c14nc, 0, true},
      {"", env + here + c14n, 0, false},
      {"", here + env + c14n, 0, false},
  };
  std::string doc = "<r xmlns='urn:r' xmlns:x='urn:x'><!-- c --><x:e a='1'>t</x:e>"
                    "<s:Signature xmlns:s='" + DS + "'><s:SignedInfo>o</s:SignedInfo></s:Signature>"
                    "<Signature xmlns='" + DS + "'><SignedInfo>"
                    "<CanonicalizationMethod Algorithm='http://www.w3.org/2001/10/xml-exc-c14n#'/>"
                    "<SignatureMethod Algorithm='http://www.w3.org/2001/04/xmldsig-more#rsa-sha256'/>";
  for (const auto& r : refs)
    doc += std::string("<Reference URI='") + r.uri + "'><Transforms>" + r.transforms +
           "</Transforms><DigestMethod Algorithm='http://www.w3.org/2001/04/xmlenc#sha256'/>"
           "<DigestValue>AAAA</DigestValue></Reference>";
  doc += "</SignedInfo><SignatureValue>AAAA</SignatureValue>";
  doc += fixtureKeyInfo() + "</Signature><!-- d --></r>";
  ParsedDoc d(doc);
  ASSERT_EQ(d.rc, 0);
  xmlNodePtr signature = findElement(d.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
  ASSERT_EQ(xmlStrEqual(signature->parent->name, BAD_CAST "r"), 1);
  while (signature->ns->prefix) signature = signature->next;
  XmlSigParser parser(d.holder.root, {}, 1);
  std::string report;
  ASSERT_EQ(parseKeepingOctets(parser, signature, report), 0) << report;
  ASSERT_EQ(parser.references.items.size(), std::size(refs));
  // The general road: libxml2's XPath, node by node, and libxml2's canonicaliser.
  xmlNodePtr filter = findElement(signature, "XPath", xmlc::NS_DSIG.data(), -1);
  auto general = [&](const std::string& expression, bool comments) {
    FullRoadScope full;
    XmlTransforms chain;
    chain.add(new XmlXPathTransform(filter, expression));
    auto* c = new XmlC14NodeSetTransform(d.holder.doc, comments, false);
    c->throughLibxml = 1;
    chain.add(c);
    chain.applyToNode(nullptr);
    return outputOf(chain);
  };
  const std::string hereText = "count(ancestor-or-self::dsig:Signature | here()/ancestor::"
                               "dsig:Signature[1]) > count(ancestor-or-self::dsig:Signature)";
  const std::string lessThis = general(hereText, false);
  const std::string expected[] = {lessThis, general("not(ancestor-or-self::dsig:Signature)", false),
                                  general(hereText, true), "", lessThis, lessThis};
  size_t i = 0;
  for (const XmlRef* r : parser.references.items) {
    SCOPED_TRACE(refs[i].uri + refs[i].transforms);
    EXPECT_EQ(r->filterLeavesOut, refs[i].leavesOut);
    EXPECT_EQ(r->octets, i == 3 ? expected[2] : expected[i]);
    MemFile out;
    EXPECT_EQ(parser.saveSignedObject(static_cast<int32_t>(i), &out), refs[i].saved ? 0 : 139);
    ++i;
  }
  EXPECT_EQ(lessThis.find("<!--"), std::string::npos);
  EXPECT_NE(expected[2].find("<!-- c -->"), std::string::npos);
  EXPECT_NE(expected[1].find("x:e"), std::string::npos);
  EXPECT_EQ(expected[1].find("s:Signature"), std::string::npos);
  EXPECT_NE(lessThis.find("s:Signature"), std::string::npos);
}

// Octets of every length land on both sides of the sink's block edges: text,
// attribute values, names and escapes of lengths around the block size and
// the short-copy threshold, each run compared with libxml2's octets and
// collected from blocks of whatever sizes the writer hands over.
TEST(XmlC14Writer, NoOctetLostAtBlockEdges) {
  std::string doc = "<r xmlns:n='urn:n'>";
  uint32_t seed = 7;
  auto next = [&seed](uint32_t most) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % most;
  };
  for (int i = 0; i < 3000; ++i) {
    std::string name = "e" + std::string(next(24), 'n');
    std::string value(next(40), 'v');
    if (!value.empty() && next(3) == 0) value[next(static_cast<uint32_t>(value.size()))] = '"';
    std::string text(next(i % 100 == 0 ? 40000 : 30), 't');
    for (size_t k = 0; k < text.size(); k += 1 + next(5000)) text[k] = '&';
    for (auto& c : text)
      if (c == '&') c = '<';  // written as an escape below
    std::string escapedText;
    for (char c : text) escapedText += c == '<' ? std::string("&lt;") : std::string(1, c);
    doc += "<n:" + name + " a='" + value + "'>" + escapedText + "</n:" + name + ">";
  }
  doc += "</r>";
  ParsedDoc d(doc);
  ASSERT_EQ(d.rc, 0);
  for (bool exclusive : {false, true}) {
    Blocks ours;
    XmlC14DocTransform sent(false, 1, exclusive);
    sent.sink = &ours;
    sent.applyToNode(d.holder.root);
    XmlC14DocTransform reference(false, 1, exclusive);
    reference.throughLibxml = 1;
    reference.applyToNode(d.holder.root);
    EXPECT_EQ(ours.text.size(), reference.outputLength());
    EXPECT_TRUE(ours.text == outputOf(reference)) << "exclusive " << exclusive;
    // Full blocks and the long runs written around them.
    EXPECT_GT(ours.sizes.size(), 40u);
  }
}

// No legitimate output outgrows the cap, in either canonicaliser: exclusive
// canonicalisation rendering a namespace again on every element that uses it
// before the text that makes up the bulk of the document, prefixes written
// twice per element and once per attribute, processing-instruction targets.
TEST(XmlC14Writer, CapFitsLegitimateOutput) {
  const std::string prefix(60, 'p');
  std::string front = "<r xmlns:p='urn:" + std::string(3000, 'u') + "'>";
  for (int i = 0; i < 3000; ++i) front += "<p:e/>";  // about 9 MB of declarations
  front += "<t>" + std::string(2u << 20, 'x') + "</t></r>";
  std::string prefixes = "<" + prefix + ":r xmlns:" + prefix + "='urn:p'>";
  for (int i = 0; i < 30000; ++i) prefixes += "<" + prefix + ":e " + prefix + ":a=''/>";
  prefixes += "</" + prefix + ":r>";
  std::string targets = "<r>";
  for (int i = 0; i < 20000; ++i) targets += "<?" + std::string(200, 't') + "?>";
  targets += "</r>";
  const struct {
    const char* name;
    const std::string& doc;
    bool exclusive;
  } cases[] = {
      {"namespaces again before the text", front, true},
      {"long prefixes", prefixes, false},
      {"long prefixes, exclusive", prefixes, true},
      {"long targets", targets, false},
  };
  for (const auto& c : cases) {
    ParsedDoc d(c.doc);
    ASSERT_EQ(d.rc, 0) << c.name;
    XmlC14DocTransform reference(false, 1, c.exclusive);
    reference.throughLibxml = 1;
    XmlC14DocTransform ours(false, 1, c.exclusive);
    EXPECT_EQ(codeOf([&] { reference.applyToNode(d.holder.root); }), 0) << c.name;
    EXPECT_EQ(codeOf([&] { ours.applyToNode(d.holder.root); }), 0) << c.name;
    EXPECT_GT(ours.outputLength(), 1u << 20) << c.name;
    EXPECT_TRUE(outputOf(ours) == outputOf(reference)) << c.name;
  }
}

// The worked examples of W3C Canonical XML 1.0 (nodes outside the document
// element, start and end tags, character modifications), whole documents
// through our canonicaliser.
TEST(XmlC14Writer, W3cExamples) {
  const std::string outside =
      "<?xml version=\"1.0\"?>\n\n<?xml-stylesheet   href=\"doc.xsl\"\n   type=\"text/xsl\"   ?>\n\n"
      "<doc>Hello, world!<!-- Comment 1 --></doc>\n\n<?pi-without-data     ?>\n\n"
      "<!-- Comment 2 -->\n\n<!-- Comment 3 -->\n";
  const std::string tags =
      "<!DOCTYPE doc [<!ATTLIST e9 attr CDATA \"default\">]>\n<doc>\n   <e1   />\n   <e2   ></e2>\n"
      "   <e3   name = \"elem3\"   id=\"elem3\"   />\n   <e4   name=\"elem4\"   id=\"elem4\"   ></e4>\n"
      "   <e5 a:attr=\"out\" b:attr=\"sorted\" attr2=\"all\" attr=\"I'm\"\n"
      "      xmlns:b=\"http://www.ietf.org\"\n      xmlns:a=\"http://www.w3.org\"\n"
      "      xmlns=\"http://example.org\"/>\n   <e6 xmlns=\"\" xmlns:a=\"http://www.w3.org\">\n"
      "      <e7 xmlns=\"http://www.ietf.org\">\n         <e8 xmlns=\"\" xmlns:a=\"http://www.w3.org\">\n"
      "            <e9 xmlns=\"\" xmlns:a=\"http://www.ietf.org\"/>\n         </e8>\n      </e7>\n"
      "   </e6>\n</doc>";
  const std::string characters =
      "<doc>\n   <text>First line&#x0d;&#10;Second line</text>\n   <value>&#x32;</value>\n"
      "   <compute><![CDATA[value>\"0\" && value<\"10\" ?\"valid\":\"error\"]]></compute>\n"
      "   <compute expr='value>\"0\" &amp;&amp; value&lt;\"10\" ?\"valid\":\"error\"'>valid</compute>\n"
      "   <norm attr=' &apos;   &#x20;&#13;&#xa;&#9;   &apos; '/>\n</doc>";
  const struct {
    const std::string& doc;
    bool comments;
    const char* expected;
  } cases[] = {
      {outside, false,
       "<?xml-stylesheet href=\"doc.xsl\"\n   type=\"text/xsl\"   ?>\n<doc>Hello, world!</doc>\n"
       "<?pi-without-data?>"},
      {outside, true,
       "<?xml-stylesheet href=\"doc.xsl\"\n   type=\"text/xsl\"   ?>\n"
       "<doc>Hello, world!<!-- Comment 1 --></doc>\n<?pi-without-data?>\n<!-- Comment 2 -->\n"
       "<!-- Comment 3 -->"},
      {tags, false,
       "<doc>\n   <e1></e1>\n   <e2></e2>\n   <e3 id=\"elem3\" name=\"elem3\"></e3>\n"
       "   <e4 id=\"elem4\" name=\"elem4\"></e4>\n   <e5 xmlns=\"http://example.org\" "
       "xmlns:a=\"http://www.w3.org\" xmlns:b=\"http://www.ietf.org\" attr=\"I'm\" attr2=\"all\" "
       "b:attr=\"sorted\" a:attr=\"out\"></e5>\n   <e6 xmlns:a=\"http://www.w3.org\">\n"
       "      <e7 xmlns=\"http://www.ietf.org\">\n         <e8 xmlns=\"\">\n"
       "            <e9 xmlns:a=\"http://www.ietf.org\" attr=\"default\"></e9>\n         </e8>\n"
       "      </e7>\n   </e6>\n</doc>"},
      {characters, false,
       "<doc>\n   <text>First line&#xD;\nSecond line</text>\n   <value>2</value>\n"
       "   <compute>value&gt;\"0\" &amp;&amp; value&lt;\"10\" ?\"valid\":\"error\"</compute>\n"
       "   <compute expr=\"value>&quot;0&quot; &amp;&amp; value&lt;&quot;10&quot; "
       "?&quot;valid&quot;:&quot;error&quot;\">valid</compute>\n"
       "   <norm attr=\" '    &#xD;&#xA;&#x9;   ' \"></norm>\n</doc>"},
  };
  for (const auto& c : cases) {
    ParsedDoc d(c.doc);
    ASSERT_EQ(d.rc, 0) << c.doc;
    XmlC14DocTransform t(c.comments, 1, false);
    t.applyToNode(reinterpret_cast<xmlNodePtr>(d.holder.doc));
    EXPECT_EQ(outputOf(t), c.expected);
  }
}
