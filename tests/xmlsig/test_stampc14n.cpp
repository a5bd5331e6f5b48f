// The octets a time-stamp covers in each canonicalisation its token may name,
// exclusive with comments included, against libxml2's own canonicaliser
// (xmlC14NExecute over the element's subtree; the items go through this
// library's writer). The document is the xmlsec1-signed, `openssl ts`-stamped
// t-c14n.xml with an unused namespace in scope and a comment in the
// SignatureValue, so that each mode gives other octets.
#include "xmlsig/xmltesthelp.h"

#include "base/reportstream.h"
#include "crypto/hash/messagedigests.h"
#include "store/dnutils.h"
#include "xmlsig/sigpropsxml.h"

#include <libxml/c14n.h>

#include <gtest/gtest.h>

#include <set>

namespace {

std::string sha256(const std::string& bytes) {
  MessageDigestCtx h(3);
  h.update(bytes.data(), static_cast<uint32_t>(bytes.size()));
  h.finish();
  return std::string(reinterpret_cast<const char*>(h.getDigestPtr()), h.getDigestLength());
}

// The subtree of the element `data` names: namespace nodes are known by their element.
int inSubtree(void* data, xmlNodePtr node, xmlNodePtr parent) {
  xmlNodePtr n = node->type == XML_NAMESPACE_DECL ? parent : node;
  for (; n; n = n->parent)
    if (n == static_cast<xmlNodePtr>(data)) return 1;
  return 0;
}

std::string libxmlC14n(xmlNodePtr top, bool exclusive, bool comments) {
  xmlOutputBufferPtr out = xmlAllocOutputBuffer(nullptr);
  EXPECT_GE(
      xmlC14NExecute(top->doc, inSubtree, top, exclusive ? XML_C14N_EXCLUSIVE_1_0 : XML_C14N_1_0,
                     nullptr, comments ? 1 : 0, out),
      0);
  std::string text(reinterpret_cast<const char*>(xmlOutputBufferGetContent(out)),
                   xmlOutputBufferGetSize(out));
  xmlOutputBufferClose(out);
  return text;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

const struct Mode {
  std::string_view uri;
  bool exclusive;
  bool comments;
} kModes[] = {
    {xmlc::ALG_C14N, false, false},
    {xmlc::ALG_C14N_COMMENTS, false, true},
    {xmlc::ALG_EXC_C14N, true, false},
    {xmlc::ALG_EXC_C14N_COMMENTS, true, true},
};

}  // namespace

TEST(StampC14n, SignatureTimeStampInEveryMode) {
  std::string base = readFixture("xades/t-c14n.xml");
  base = replaced(base, "<doc>", "<doc xmlns:unused=\"urn:unused\">");
  base = replaced(base, "</ds:SignatureValue>", "<!-- kept or not --></ds:SignatureValue>");
  std::set<std::string> seen;
  for (const Mode& m : kModes) {
    SCOPED_TRACE(std::string(m.uri));
    const std::string xml =
        replaced(base,
                 "<ds:CanonicalizationMethod Algorithm=\"" + std::string(xmlc::ALG_C14N) +
                     "\"/><xades:EncapsulatedTimeStamp>",
                 "<ds:CanonicalizationMethod Algorithm=\"" + std::string(m.uri) +
                     "\"/><xades:EncapsulatedTimeStamp>");
    ParsedDoc doc(xml);
    ASSERT_EQ(doc.rc, 0);
    MemFile sink;
    ReportStream report(&sink);
    XmlSignatureSetup setup;
    setup.root = doc.holder.root;
    setup.makeDnAttribute = makeDnAttribute;
    setup.report = &report;
    xmlNodePtr sig = findElement(doc.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
    SignaturePropertiesXml props(nullptr, setup, sig);
    ASSERT_EQ(props.analyse(), 0);
    SignatureTimeStampTokens* stamps = props.signatureTimeStamps();
    ASSERT_TRUE(stamps && stamps->items.size() == 1u);
    std::vector<std::string> imprint;
    props.timeStampImprintData(*stamps->items.front(), 3, imprint);
    ASSERT_EQ(imprint.size(), 1u);

    xmlNodePtr value =
        findElement(doc.holder.root, xmlc::DS_SIGNATURE_VALUE.data(), xmlc::NS_DSIG.data(), -1);
    ASSERT_NE(value, nullptr);
    const std::string expected = libxmlC14n(value, m.exclusive, m.comments);
    EXPECT_EQ(expected.find("urn:unused") == std::string::npos, m.exclusive);
    EXPECT_EQ(expected.find("<!--") != std::string::npos, m.comments);
    EXPECT_EQ(imprint[0], sha256(expected));
    seen.insert(imprint[0]);

    // Several items: the digest runs over their canonical octets one after the other.
    xmlNodePtr signedInfo =
        findElement(doc.holder.root, xmlc::DS_SIGNED_INFO.data(), xmlc::NS_DSIG.data(), -1);
    XmlDataItems items(2);
    items[0].node = signedInfo;
    items[1].node = value;
    std::string digest;
    digestDataItems(items, std::string(m.uri), 3, nullptr, digest);
    EXPECT_EQ(digest, sha256(libxmlC14n(signedInfo, m.exclusive, m.comments) + expected));
  }
  EXPECT_EQ(seen.size(), 4u);
}
