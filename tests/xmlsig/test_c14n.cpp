// Canonical forms compared byte for byte with what xmlsec1 computed for the same
// references (c14n/*.refN, made by gen.sh) and with the W3C interop vectors.
#include "xmlsig/xmltesthelp.h"

#include <gtest/gtest.h>

namespace {

struct RefCase {
  const char* doc;
  int ref;
  const char* expected;
  bool narrow = true;  // the narrow road takes its forms (else it refuses them: 140)
};

// Named by document and reference (not by the bytes of its pointers, which
// change from build to build).
void PrintTo(const RefCase& c, std::ostream* os) { *os << c.doc << " reference " << c.ref; }

class C14nAgainstOthers : public ::testing::TestWithParam<RefCase> {};

TEST_P(C14nAgainstOthers, SameOctets) {
  const RefCase& c = GetParam();
  ParsedDoc d(readFixture(c.doc));
  ASSERT_EQ(d.rc, 0);
  registerIdAttributes(d.holder.root);
  xmlNodePtr ref = nthReference(d.holder.root, c.ref);
  ASSERT_NE(ref, nullptr);
  std::string out;
  const int32_t rc = codeOf([&] { out = runReference(ref); });
  ASSERT_EQ(rc, c.narrow ? 0 : fullRoadOnly(0));
  if (rc == 0) {
    EXPECT_EQ(out, readFixture(c.expected));
  }
}

const RefCase xmlsecCases[] = {
    // Subtree by Id: the processing instruction inside the element is kept, the
    // ones outside it are not; ancestors' namespaces and xml:lang are inherited.
    {"c14n/pis.xml", 0, "c14n/pis.ref0"},
    // Subtree by Id of the element holding the signature, enveloped: the signature is left out.
    {"c14n/pis.xml", 1, "c14n/pis.ref1"},
    // Whole document with the signature left out: the PIs around the root stay.
    {"c14n/pis.xml", 2, "c14n/pis.ref2"},
    {"c14n/pis.xml", 3, "c14n/pis.ref3"},
    {"c14n/pis.xml", 4, "c14n/pis.ref4"},
    {"c14n/pis.xml", 5, "c14n/pis.ref5"},
    {"c14n/pis.xml", 6, "c14n/pis.ref6"},
    {"c14n/pis.xml", 7, "c14n/pis.ref7"},
    {"c14n/pis.xml", 8, "c14n/pis.ref8", false},  // self::comment()
    {"c14n/dtd.xml", 0, "c14n/dtd.ref0"},
    {"c14n/dtd.xml", 1, "c14n/dtd.ref1"},
    {"c14n/dtd.xml", 2, "c14n/dtd.ref2"},
};
INSTANTIATE_TEST_SUITE_P(Xmlsec, C14nAgainstOthers, ::testing::ValuesIn(xmlsecCases));

// merlin-c14n-three: reference i's expected octets are c14n-i.txt. Each nine
// filters are the same; the narrow road takes the first (one step) only.
std::vector<RefCase> merlinCases() {
  static std::string names[27];
  std::vector<RefCase> out;
  for (int i = 0; i < 27; ++i) {
    names[i] = "merlin/c14n-three-c14n-" + std::to_string(i) + ".txt";
    out.push_back({"merlin/c14n-three.xml", i, names[i].c_str(), i % 9 == 0});
  }
  return out;
}
INSTANTIATE_TEST_SUITE_P(MerlinC14nThree, C14nAgainstOthers, ::testing::ValuesIn(merlinCases()));

// SignedInfo canonicalised as a subtree (what the signature value is computed over).
TEST(C14nSignedInfo, MatchesInteropVectors) {
  const struct {
    const char* doc;
    const char* expected;
  } cases[] = {
      {"merlin/c14n-three.xml", "merlin/c14n-three-c14n-27.txt"},
      {"merlin/filter2-sign-example.xml", "merlin/filter2-sign-example-c14n-2.txt"},
  };
  for (const auto& c : cases) {
    ParsedDoc d(readFixture(c.doc));
    ASSERT_EQ(d.rc, 0) << c.doc;
    xmlNodePtr si = findElement(d.holder.root, "SignedInfo", xmlc::NS_DSIG.data(), -1);
    ASSERT_NE(si, nullptr);
    XmlC14DocTransform t(false, 1, false);
    t.applyToNode(si);
    EXPECT_EQ(outputOf(t), readFixture(c.expected)) << c.doc;
  }
}

// The PI rule on the document element itself: a subtree reference to the root
// leaves out the PIs before and after it, as xmlsec1 does (pis.ref1 is that
// reference with the signature enveloped; here the same without the signature).
TEST(C14nSignedInfo, RootSubtreeLeavesOutsidePIs) {
  ParsedDoc d(readFixture("c14n/pis.xml"));
  ASSERT_EQ(d.rc, 0);
  XmlC14DocTransform t(false, 1, false);
  t.applyToNode(d.holder.root);
  std::string out = outputOf(t);
  EXPECT_EQ(out.find("pi-before"), std::string::npos);
  EXPECT_EQ(out.find("pi-after"), std::string::npos);
  EXPECT_NE(out.find("<?pi-outside here?>"), std::string::npos);
  std::string ref1 = readFixture("c14n/pis.ref1");
  EXPECT_EQ(out.substr(0, out.find("<Signature")), ref1.substr(0, ref1.find("\n  \n</root>") + 3));
}

// The prefixes of an XPath filter are those in scope at its ds:XPath element:
// evaluated from ds:Transforms, a prefix declared on ds:XPath is unknown.
TEST(C14nXPathContext, NamespacesOfTheXPathElement) {
  ParsedDoc d(readFixture("c14n/pis.xml"));
  ASSERT_EQ(d.rc, 0);
  xmlNodePtr ref = nthReference(d.holder.root, 8);
  xmlNodePtr transforms = firstElement(ref->children);
  xmlNodePtr xpath = firstElement(firstElement(transforms->children)->children);
  ASSERT_TRUE(isElement(xpath, "XPath", xmlc::NS_DSIG.data()));
  XmlXPathTransform fromXPath(xpath, "not(ancestor-or-self::ds:Signature)");
  EXPECT_NO_THROW(fromXPath.apply());
  XmlXPathTransform fromTransforms(transforms, "not(ancestor-or-self::ds:Signature)");
  EXPECT_THROW(fromTransforms.apply(), TalApiException);
}
}  // namespace

namespace {
// The subtree rule without its apex: the canonicaliser walks the whole document
// and asks about every node, libxml2's own way of canonicalising a subtree.
class WholeWalkSubtree : public XmlNodeFilter {
 public:
  explicit WholeWalkSubtree(xmlNodePtr top) : subtree(top) {}
  int visible(xmlNodePtr node, xmlNodePtr parent) override {
    return subtree.contains(node, parent) ? 1 : 0;
  }

 private:
  XmlSubtree subtree;
};

// A subtree is canonicalised by walking it alone; every element of a document
// with inherited namespaces (default, undeclared, prefixed, redeclared),
// xml: attributes, comments and PIs inside and around gives the octets of the
// whole-document walk, in all four methods.
TEST(C14nSubtreeWalk, SameOctetsAsTheWholeDocumentWalk) {
  const char* docs[] = {
      "<?pi before?><!--c0--><r xmlns='urn:d' xmlns:a='urn:a' xml:lang='pl' xml:space='preserve'>"
      "<!--c1--><a:x a:at='1' xmlns:b='urn:b'><?pi in?><y xmlns='' b:q='2'>t<!--c2--><z "
      "xmlns:a='urn:a2' xml:lang='en'><a:w/>&#13;</z></y></a:x><e Id='e'><!--c3--></e></r>"
      "<!--c4--><?pi after?>",
      "<a:r xmlns:a='urn:a'><a:s xmlns='urn:d'><t/><u xmlns:c='urn:c' c:k='v'><c:v/></u></a:s>"
      "<Signature xmlns='http://www.w3.org/2000/09/xmldsig#'><SignedInfo><Reference/>"
      "</SignedInfo></Signature></a:r>",
  };
  for (const char* text : docs) {
    const std::string bytes(text);
    ParsedDoc d(bytes);
    ASSERT_EQ(d.rc, 0) << text;
    int elements = 0;
    for (xmlNodePtr n = d.holder.root; n; n = xmlNextInDocument(n, d.holder.doc, true)) {
      if (n->type != XML_ELEMENT_NODE) continue;
      ++elements;
      for (int mode = 0; mode < 4; ++mode) {
        const bool comments = mode & 1, exclusive = mode & 2;
        XmlC14DocTransform apex(comments, 1, exclusive);
        apex.applyToNode(n);
        WholeWalkSubtree rule(n);
        XmlC14NodeSetTransform whole(d.holder.doc, comments, exclusive);
        whole.applyToFilter(&rule);
        EXPECT_EQ(outputOf(apex), outputOf(whole)) << text << " element " << elements
                                                   << " mode " << mode;
      }
    }
    EXPECT_GE(elements, 6);
  }
}
}  // namespace
