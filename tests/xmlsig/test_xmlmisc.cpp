// Document parsing under hostile input, Id lookup, fragments and tree helpers.
#include "xmlsig/xmltesthelp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include <libxml/xpathInternals.h>
#include <libxml/xpointer.h>

namespace {

// A file whose every opening is noticed (inotify) and a listening socket whose
// every connection attempt is noticed: hostile documents must touch neither.
TEST(Tripwires, ExternalResourcesAreNeverLoaded) {
  char name[] = "/tmp/xmlsig_secretXXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "TOPSECRET", 9), 9);
  close(fd);
  int watch = inotify_init1(IN_NONBLOCK);
  ASSERT_GE(inotify_add_watch(watch, name, IN_OPEN | IN_ACCESS), 0);
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  const std::string secret = name,
                    url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/x";
  const struct {
    std::string doc;
    int32_t rc;
  } cases[] = {
      // External general entities (file and URL) make the document malformed.
      {"<!DOCTYPE a [<!ENTITY x SYSTEM 'file://" + secret + "'>]><a>&x;</a>", xmlrc::INV_MSG},
      {"<!DOCTYPE a [<!ENTITY x SYSTEM '" + secret + "'>]><a>&x;</a>", xmlrc::INV_MSG},
      {"<!DOCTYPE a [<!ENTITY x SYSTEM '" + url + "'>]><a>&x;</a>", xmlrc::INV_MSG},
      // In an attribute value an external entity is not well-formed at all.
      {"<!DOCTYPE a [<!ENTITY x SYSTEM '" + url + "'>]><a b='&x;'/>", xmlrc::INV_MSG},
      // An external DTD or parameter entity is simply not read.
      {"<!DOCTYPE a SYSTEM '" + secret + "'><a/>", xmlrc::OK},
      {"<!DOCTYPE a SYSTEM '" + url + "'><a/>", xmlrc::OK},
      {"<!DOCTYPE a [<!ENTITY % p SYSTEM '" + url + "'> %p;]><a/>", xmlrc::OK},
      {"<!DOCTYPE a [<!ENTITY % p SYSTEM 'file://" + secret + "'> %p;]><a/>", xmlrc::OK},
      // XInclude is not processed.
      {"<a xmlns:xi='http://www.w3.org/2001/XInclude'><xi:include href='" + secret +
           "' parse='text'/></a>",
       xmlrc::OK},
  };
  for (const auto& c : cases) {
    ParsedDoc d(c.doc);
    EXPECT_EQ(d.rc, c.rc) << c.doc;
    if (d.rc == 0) {
      std::string text;
      serializeNode(d.holder.root, text);
      EXPECT_EQ(text.find("TOPSECRET"), std::string::npos) << c.doc;
    }
    char buf[4096];
    EXPECT_LE(read(watch, buf, sizeof buf), 0) << c.doc;
    int connection = accept(listener, nullptr, nullptr);
    EXPECT_LT(connection, 0) << c.doc;
    if (connection >= 0) close(connection);
  }
  close(watch);
  close(listener);
  unlink(name);
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

// Entities ten deep, each ten references to the one below: 10^9 "lol"s.
std::string billionLaughs(bool inAttribute) {
  std::string d = "<!DOCTYPE lolz [<!ENTITY l0 'lol'>";
  for (int i = 1; i < 10; ++i)
    d += "<!ENTITY l" + std::to_string(i) + " '" + repeat("&l" + std::to_string(i - 1) + ";", 10) +
         "'>";
  return d + (inAttribute ? "]><lolz a='&l9;'/>" : "]><lolz>&l9;</lolz>");
}

// Entity content restarts the parser's depth count: ten entities of 100 levels
// each nest to a tree 1000 levels deep.
std::string deepThroughEntities() {
  std::string d = "<!DOCTYPE r [<!ENTITY e0 '" + repeat("<a>", 100) + repeat("</a>", 100) + "'>";
  for (int i = 1; i < 10; ++i)
    d += "<!ENTITY e" + std::to_string(i) + " '" + repeat("<a>", 100) + "&e" +
         std::to_string(i - 1) + ";" + repeat("</a>", 100) + "'>";
  return d + "]><r>&e9;</r>";
}

TEST(ParseXmlDocument, HostileAndOrdinaryDocuments) {
  const struct {
    const char* what;
    std::string doc;
    int32_t rc;
  } cases[] = {
      {"three bytes", "<a>", xmlrc::RD_INFILE},
      {"empty", "", xmlrc::RD_INFILE},
      {"four bytes", "<a/>", xmlrc::OK},
      {"malformed", "<a><b></a>", xmlrc::INV_MSG},
      {"trailing junk", "<a/><b/>", xmlrc::INV_MSG},
      {"billion laughs", billionLaughs(false), xmlrc::INV_MSG},
      {"billion laughs in an attribute", billionLaughs(true), xmlrc::INV_MSG},
      {"quadratic blowup",
       "<!DOCTYPE q [<!ENTITY big '" + std::string(100000, 'x') + "'>]><q>" +
           repeat("&big;", 100000) + "</q>",
       xmlrc::INV_MSG},
      {"deep nesting", repeat("<a>", 100000) + repeat("</a>", 100000), xmlrc::INV_MSG},
      {"moderate nesting", repeat("<a>", 200) + repeat("</a>", 200), xmlrc::OK},
      {"deep through entities", deepThroughEntities(), xmlrc::INV_MSG},
      // A parameter entity referring to another is refused at its declaration
      // (libxml2 expands such references without bound); a '%' in other
      // parameter entities and in general entities is text.
      {"parameter entity referring to another",
       "<!DOCTYPE r [<!ENTITY % a ' '><!ENTITY % b '&#37;a;'>]><r/>", xmlrc::INV_MSG},
      {"parameter entities without references",
       "<!DOCTYPE r [<!ENTITY % a ' '><!ENTITY % b 'x &#37; y'>]><r/>", xmlrc::OK},
      // The '%' written any way a character reference can, or brought in by a
      // declaration that a parameter entity holds.
      {"parameter entity referring to another in hex",
       "<!DOCTYPE r [<!ENTITY % a ' '><!ENTITY % b '&#x25;a;'>]><r/>", xmlrc::INV_MSG},
      {"parameter entity referring to another, zeros first",
       "<!DOCTYPE r [<!ENTITY % a ' '><!ENTITY % b 'x&#00037;a;'>]><r/>", xmlrc::INV_MSG},
      {"parameter entity declared by a parameter entity",
       "<!DOCTYPE r [<!ENTITY % a ' '><!ENTITY % d '<!ENTITY &#x25; e \"&#x26;#x25;a;\">'>%d;]><r/>",
       xmlrc::INV_MSG},
      {"parameter entity declaring one that refers to another",
       "<!DOCTYPE r [<!ENTITY % a ' '><!ENTITY % d '<!ENTITY &#37; e \"&#37;a;\">'>%d;]><r/>",
       xmlrc::INV_MSG},
      {"parameter entity holding a declaration",
       "<!DOCTYPE r [<!ENTITY % d '<!ATTLIST r x CDATA \"1\">'>%d;]><r/>", xmlrc::OK},
      {"general entity with a '%'",
       "<!DOCTYPE r [<!ENTITY g '50&#37;off'><!ENTITY h '&#37;a;'>]><r>&g;&h;</r>", xmlrc::OK},
      {"too large", "<a>" + std::string(XML_MAX_DOCUMENT_SIZE, ' ') + "</a>", xmlrc::INV_MSG},
  };
  for (const auto& c : cases) {
    const double t0 = threadSeconds();  // a busy machine does not stretch it
    EXPECT_EQ(ParsedDoc(c.doc).rc, c.rc) << c.what;
    EXPECT_LT(threadSeconds() - t0, 5.0) << c.what;
  }
}

TEST(ParseXmlDocument, KeepsInternalEntitiesAndDefaultAttributes) {
  ParsedDoc d("<!DOCTYPE a [<!ENTITY e 'ent&#233;'><!ATTLIST a d CDATA 'def'>]><a>&e;</a>");
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(propOf(d.holder.root, "d"), "def");
  XmlC14DocTransform t(false, 1, false);
  t.applyToNode(d.holder.root);
  EXPECT_EQ(outputOf(t), "<a d=\"def\">ent\xC3\xA9</a>");
}

TEST(FindNodeById, ExactlyOneElementOrNotFound) {
  const struct {
    const char* doc;
    const char* id;
    const char* expectedName;  // null: not found (139)
  } cases[] = {
      {"<r><a Id='x'/><b/></r>", "x", "a"},
      {"<r><a/><b id='x'/></r>", "x", "b"},
      {"<r><a/><b ID='x'/></r>", "x", "b"},
      {"<r><a xml:id='x'/></r>", "x", "a"},
      {"<!DOCTYPE r [<!ATTLIST a ident ID #IMPLIED>]><r><a ident='x'/></r>", "x", "a"},
      // One element carrying the Id twice is still one element.
      {"<r><a Id='x' id='x'/></r>", "x", "a"},
      // Signature wrapping: two candidates are refused.
      {"<r><a Id='x'/><b Id='x'/></r>", "x", nullptr},
      {"<r><a Id='x'/><b id='x'/></r>", "x", nullptr},
      {"<r><a ID='x'/><b><c xml:id='x'/></b></r>", "x", nullptr},
      {"<!DOCTYPE r [<!ATTLIST a ident ID #IMPLIED>]><r><a ident='x'/><b Id='x'/></r>", "x",
       nullptr},
      {"<r><a Id='x'/></r>", "y", nullptr},
      // A namespaced Id is not an Id attribute.
      {"<r xmlns:p='urn:p'><a p:Id='x'/></r>", "x", nullptr},
      // Fragments with quotes or XPointer text never reach an evaluation.
      {"<r><a Id='x'/></r>", "x' or '1'='1", nullptr},
      {"<r><a Id='x'/></r>", "xpointer(id('x'))", nullptr},
      {"<r><a Id='x'/></r>", "", nullptr},
  };
  ParsedDoc other("<r><a Id='x'/><b Id='y'/></r>");
  ASSERT_EQ(other.rc, 0);
  // By a walk; by the index of an open scope (nested, and beside one of another document).
  for (int indexed = 0; indexed < 2; ++indexed) {
    for (const auto& c : cases) {
      ParsedDoc d(c.doc);
      ASSERT_EQ(d.rc, 0) << c.doc;
      registerIdAttributes(d.holder.root);
      std::unique_ptr<XmlIdIndexScope> outer, otherDoc, inner;
      if (indexed) {
        outer = std::make_unique<XmlIdIndexScope>(d.holder.doc);
        otherDoc = std::make_unique<XmlIdIndexScope>(other.holder.doc);
        inner = std::make_unique<XmlIdIndexScope>(d.holder.doc);
        EXPECT_EQ(XmlIdIndexScope::of(d.holder.doc), outer.get());
      }
      xmlNodePtr n = nullptr;
      if (c.expectedName) {
        findNodeById(d.holder.root, c.id, &n);
        ASSERT_NE(n, nullptr);
        EXPECT_STREQ(reinterpret_cast<const char*>(n->name), c.expectedName) << c.doc;
      } else {
        try {
          findNodeById(d.holder.root, c.id, &n);
          ADD_FAILURE() << c.doc << " " << c.id << (indexed ? " indexed" : "");
        } catch (const TalApiException& e) {
          EXPECT_EQ(e.getCode(), xmlrc::EMPTY_TRANSFORM);
        }
      }
      xmlNodePtr y = nullptr;
      findNodeById(other.holder.root, "y", &y);
      EXPECT_STREQ(reinterpret_cast<const char*>(y->name), "b");
    }
  }
  EXPECT_EQ(XmlIdIndexScope::of(other.holder.doc), nullptr);
}

// A thousand lookups over a document of 200,000 Ids: one walk for the index,
// not one per lookup; the element last in document order and a value that two
// elements claim are answered as by the walk. Counted, not timed: once the
// first lookup has built the index, the thousand elements looked up are taken
// out of the tree (kept alive, put back after), so a lookup that walked the
// tree again could not find them.
TEST(FindNodeById, IndexedLookupsCostOneWalk) {
  std::string doc = "<r>";
  for (int i = 0; i < 200000; ++i) doc += "<e Id='i" + std::to_string(i) + "'/>";
  doc += "<d id='i7'/></r>";
  ParsedDoc d(doc);
  ASSERT_EQ(d.rc, 0);
  std::vector<xmlNodePtr> taken;
  {
    XmlIdIndexScope ids(d.holder.doc);
    xmlNodePtr n = nullptr;
    findNodeById(d.holder.root, "i0", &n);
    ASSERT_EQ(propOf(n, "Id"), "i0");
    xmlNodePtr last = d.holder.root->last;  // the d element claiming i7 too
    for (xmlNodePtr e = last->prev; taken.size() < 1000; e = e->prev) taken.push_back(e);
    for (xmlNodePtr e : taken) xmlUnlinkNode(e);
    for (int i = 0; i < 1000; ++i) {
      n = nullptr;
      findNodeById(d.holder.root, ("i" + std::to_string(199999 - i)).c_str(), &n);
      ASSERT_EQ(n, taken[static_cast<size_t>(i)]) << i;
    }
    EXPECT_EQ(codeOf([&] { findNodeById(d.holder.root, "i7", &n); }), xmlrc::EMPTY_TRANSFORM);
  }
  // Outside the scope the walk answers, and the taken elements are not in the tree.
  xmlNodePtr n = nullptr;
  EXPECT_EQ(codeOf([&] { findNodeById(d.holder.root, "i199999", &n); }), xmlrc::EMPTY_TRANSFORM);
  for (auto e = taken.rbegin(); e != taken.rend(); ++e) xmlAddPrevSibling(d.holder.root->last, *e);
  findNodeById(d.holder.root, "i199999", &n);
  EXPECT_EQ(n, taken.front());
}

TEST(XPointerSelect, OnlyFragmentsAndOnlyUniqueIds) {
  ParsedDoc d("<r><a Id='x'/><b Id='y'/><b Id='y'/></r>");
  ASSERT_EQ(d.rc, 0);
  registerIdAttributes(d.holder.root);
  xmlNodePtr n = nullptr;
  EXPECT_TRUE(xpointerSelectNode(d.holder.root, "x", &n));
  EXPECT_STREQ(reinterpret_cast<const char*>(n->name), "a");
  EXPECT_FALSE(xpointerSelectNode(d.holder.root, "y", &n));  // two elements claim it
  EXPECT_FALSE(xpointerSelectNode(d.holder.root, "xpointer(id('absent'))", &n));
  EXPECT_FALSE(xpointerSelectNode(d.holder.root, "xpointer(//b)", &n));  // not one node
  EXPECT_TRUE(xpointerSelectNode(d.holder.root, "xpointer(//a)", &n));
  EXPECT_FALSE(xpointerSelectNode(d.holder.root, "xpointer(//b[@Id='y'])", &n));
  // The application's own expression: libxml2's XPointer, the document's
  // unique Ids known to it for the evaluation only.
  ParsedDoc plain("<r><a Id='x'/><b Id='y'/><b Id='y'/></r>");
  std::vector<xmlNodePtr> nodes;
  EXPECT_EQ(xpointerSelectNodes(&plain.holder, "xpointer(id('x'))", nodes), 0);
  EXPECT_EQ(nodes.size(), 1u);
  EXPECT_EQ(xpointerSelectNodes(&plain.holder, "y", nodes), 0);  // an empty set
  EXPECT_TRUE(nodes.empty());
  EXPECT_EQ(xpointerSelectNodes(&plain.holder, "xpointer(//b)", nodes), 0);
  EXPECT_EQ(nodes.size(), 2u);
  EXPECT_EQ(xmlGetID(plain.holder.doc, BAD_CAST "x"), nullptr);
}

// The application's expression selects what libxml2's XPointer itself
// selects (its Ids registered, its namespaces bound as in scope of the root),
// elements only, in document order; no node set is 89; a costly one 140.
TEST(XPointerSelect, CallerExpressionsAsLibxml2SelectsThem) {
  const std::string ds = "http://www.w3.org/2000/09/xmldsig#";
  const std::string xml =
      "<r xmlns:ds='" + ds + "'><ds:Signature Id='a'><ds:Object><ds:Signature Id='n'/>"
      "</ds:Object></ds:Signature><ds:Signature Id='x'/><p><ds:Signature Id='c'/></p></r>";
  const struct {
    std::string expression;
    int32_t result;
    const char* ids;
  } cases[] = {
      {"xpointer(//ds:Signature[1])", 0, "a n c"},
      {"xmlns(ds=" + ds + ")xpointer(id('x'))", 0, "x"},
      {"xmlns(s=" + ds + ")xpointer(//s:Signature[@Id='c'])", 0, "c"},
      {"x", 0, "x"},
      // Ids below and after other subtrees are made known too.
      {"n", 0, "n"},
      {"c", 0, "c"},
      {"xpointer(id('c n a'))", 0, "a n c"},
      {"xpointer(//ds:Signature/@Id)", 0, ""},  // attributes are no signatures
      {"xpointer(//z:Signature)", xmlrc::INV_MSG, ""},  // an unbound prefix
      {"xpointer(//nothing)", xmlrc::INV_MSG, ""},
      {"xpointer(count(//*))", xmlrc::INV_MSG, ""},  // a number
      {"xpointer(here())", xmlrc::INV_MSG, ""},      // a location set
      {"xpointer((", xmlrc::INV_MSG, ""},
  };
  auto idsOf = [](const std::vector<xmlNodePtr>& nodes) {
    std::string ids;
    for (xmlNodePtr n : nodes) {
      xmlChar* id = xmlGetProp(n, BAD_CAST "Id");
      ids += (ids.empty() ? "" : " ") + std::string(id ? reinterpret_cast<const char*>(id) : "?");
      xmlFree(id);
    }
    return ids;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expression);
    ParsedDoc d(xml);
    ASSERT_EQ(d.rc, 0);
    std::vector<xmlNodePtr> nodes;
    EXPECT_EQ(xpointerSelectNodes(&d.holder, c.expression.c_str(), nodes), c.result);
    EXPECT_EQ(idsOf(nodes), c.ids);
    // libxml2 itself over another copy, its Ids registered for good.
    ParsedDoc own(xml);
    registerIdAttributes(own.holder.root);
    xmlXPathContextPtr ctxt = xmlXPtrNewContext(own.holder.doc, own.holder.root, nullptr);
    ASSERT_NE(ctxt, nullptr);
    xmlXPathRegisterNs(ctxt, BAD_CAST "ds", BAD_CAST ds.c_str());
    ctxt->error = xmlQuietStructuredError;
    xmlXPathObjectPtr r = xmlXPtrEval(BAD_CAST c.expression.c_str(), ctxt);
    std::vector<xmlNodePtr> theirs;
    if (r && r->type == XPATH_NODESET && r->nodesetval)
      for (int i = 0; i < r->nodesetval->nodeNr; ++i)
        if (r->nodesetval->nodeTab[i]->type == XML_ELEMENT_NODE)
          theirs.push_back(r->nodesetval->nodeTab[i]);
    EXPECT_EQ(idsOf(theirs), c.ids);
    EXPECT_EQ(r == nullptr || r->type != XPATH_NODESET, c.result == xmlrc::INV_MSG);
    xmlXPathFreeObject(r);
    xmlXPathFreeContext(ctxt);
  }
  // Work past the budget: refused, not run to its end.
  std::string wide = "<r>";
  for (int i = 0; i < 300; ++i) wide += "<e/>";
  ParsedDoc d(wide + "</r>");
  std::vector<xmlNodePtr> nodes;
  EXPECT_EQ(xpointerSelectNodes(&d.holder, "xpointer(//*[count(//*[count(//*) > 1]) > 1])", nodes),
            xmlrc::TRANSFORM_FAILED);
  // libxml2's string-range() would loop without end.
  ParsedDoc text("<r><e>t</e></r>");
  EXPECT_EQ(xpointerSelectNodes(&text.holder, "xpointer(string-range(//e,'t'))", nodes),
            xmlrc::TRANSFORM_FAILED);
  // A linear expression over a large document keeps the usual operation limit
  // (a signed document's own expression gets fewer, scaled to its size).
  std::string large = "<r>";
  for (int i = 0; i < 20000; ++i) large += "<e a='1'>t</e>";
  ParsedDoc big(large + "<s/></r>");
  ASSERT_EQ(big.rc, 0);
  EXPECT_EQ(xpointerSelectNodes(&big.holder, "xpointer(//s | /r/e[@a='2'])", nodes), 0);
  EXPECT_EQ(nodes.size(), 1u);
}

// The Ids an evaluation makes known to libxml2 are gone after it, whatever it
// answered: values with white space (which libxml2 cannot take back out of its
// table, and which no bare name or id() token can name) included; Ids the
// document's own DTD declares stay as they were.
TEST(XPointerSelect, NoIdIsLeftBehind) {
  const std::string xml =
      "<!DOCTYPE r [<!ATTLIST d Id ID #IMPLIED>]>"
      "<r><a Id='x '/><b Id=' y'/><c Id='p  q'/><d Id='w'/><e Id='z'/><f id='v&#9;'/></r>";
  const char* const expressions[] = {"z", "xpointer(//*)", "xpointer((", "xpointer(id('w z'))"};
  for (const char* expression : expressions) {
    SCOPED_TRACE(expression);
    ParsedDoc d(xml);
    ASSERT_EQ(d.rc, 0);
    std::vector<xmlNodePtr> nodes;
    xpointerSelectNodes(&d.holder, expression, nodes);
    for (xmlNodePtr n = d.holder.root->children; n; n = n->next) {
      SCOPED_TRACE(reinterpret_cast<const char*>(n->name));
      const bool declared = xmlStrEqual(n->name, BAD_CAST "d");
      EXPECT_EQ(n->properties->atype == XML_ATTRIBUTE_ID, declared);
      xmlChar* value = xmlNodeListGetString(d.holder.doc, n->properties->children, 1);
      EXPECT_EQ(xmlGetID(d.holder.doc, value) != nullptr, declared);
      xmlFree(value);
    }
  }
  // An evaluation past its memory, which refuses large blocks from then on,
  // still takes back an Id longer than such a block.
  const std::string longId(5000, 'k');
  std::string big = "<r><a Id='" + longId + "'/>";
  for (int i = 0; i < 2000; ++i) big += "<t>" + std::string(50, 'x') + "</t>";
  ParsedDoc d(big + "</r>");
  ASSERT_EQ(d.rc, 0);
  std::string expression = "xpointer(//t[string-length(concat(string(/)";
  for (int i = 0; i < 60; ++i) expression += ",string(/)";
  expression += ")) > 1])";
  std::vector<xmlNodePtr> nodes;
  EXPECT_EQ(xpointerSelectNodes(&d.holder, expression.c_str(), nodes), xmlrc::TRANSFORM_FAILED);
  EXPECT_EQ(xmlGetID(d.holder.doc, BAD_CAST longId.c_str()), nullptr);
  EXPECT_NE(d.holder.root->children->properties->atype, XML_ATTRIBUTE_ID);
}

// The library's own selections, evaluated by namespace URI whatever the
// document's prefixes; every other expression is libxml2's XPointer.
TEST(XPointerSelect, LibraryExpressionsByNamespace) {
  const std::string ds = "http://www.w3.org/2000/09/xmldsig#";
  const std::string e132 = "http://uri.etsi.org/01903/v1.3.2#";
  const std::string e141 = "http://uri.etsi.org/01903/v1.4.1#";
  const std::string xenc = "http://www.w3.org/2001/04/xmlenc#";
  const struct {
    const char* expression;
    std::string xml;
    const char* selectedIds;  // the Id of each selected element, in document order
  } cases[] = {
      {XPOINTER_SIGNATURES, "<Signature xmlns='" + ds + "' Id='root'/>", "root"},
      {XPOINTER_SIGNATURES,
       "<r xmlns:ds='urn:other'><ds:Signature Id='no'/><s:Signature xmlns:s='" + ds +
           "' Id='a'/><Signature xmlns='" + ds + "' Id='b'/></r>",
       "a b"},
      // A counter-signature of 1.3.2 is reached through its signature; one of
      // another namespace is not a CounterSignature of the message's format.
      {XPOINTER_SIGNATURES,
       "<r xmlns:d='" + ds + "'><d:Signature Id='s'><d:Object><x:CounterSignature xmlns:x='" +
           e132 + "'><d:Signature Id='c132'/></x:CounterSignature><y:CounterSignature xmlns:y='" +
           e141 + "'><d:Signature Id='c141'/></y:CounterSignature></d:Object></d:Signature></r>",
       "s c141"},
      {XPOINTER_SIGNATURES, "<r><Signature Id='plain'/></r>", ""},
      {XPOINTER_ENCRYPTED_DATA,
       "<r><e:EncryptedData xmlns:e='" + xenc + "' Id='1'/><p><EncryptedData xmlns='" + xenc +
           "' Id='2'/><EncryptedData Id='no'/></p></r>",
       "1 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xml);
    ParsedDoc d(c.xml);
    ASSERT_EQ(d.rc, 0);
    std::vector<xmlNodePtr> nodes;
    ASSERT_EQ(xpointerSelectNodes(&d.holder, c.expression, nodes), 0);
    std::string ids;
    for (xmlNodePtr n : nodes) {
      xmlChar* id = xmlGetProp(n, BAD_CAST "Id");
      ids += (ids.empty() ? "" : " ") + std::string(reinterpret_cast<const char*>(id));
      xmlFree(id);
    }
    EXPECT_EQ(ids, c.selectedIds);
  }
  // The same text with another namespace is no longer the library's own.
  ParsedDoc d("<Signature xmlns='" + ds + "'/>");
  std::vector<xmlNodePtr> nodes;
  std::string other = XPOINTER_SIGNATURES;
  other.replace(other.find("xmldsig#"), 8, "xmldsig2#");
  EXPECT_EQ(xpointerSelectNodes(&d.holder, other.c_str(), nodes), xmlrc::INV_MSG);  // selects nothing
  EXPECT_EQ(xpointerSelectNodes(&d.holder, "xpointer(//Signature)", nodes), xmlrc::INV_MSG);
}

// A tree far deeper than any parsed one (built here) is walked without recursion.
TEST(TreeWalks, DeepTreesAndDepthLimits) {
  ParsedDoc d("<r><a><b Id='q'><c/></b></a><c/></r>");
  ASSERT_EQ(d.rc, 0);
  xmlNodePtr a = d.holder.root->children;
  // Siblings are searched at every depth; children only while depth remains,
  // and before the next sibling.
  EXPECT_EQ(findElement(a, "c", nullptr, 0), a->next);
  EXPECT_EQ(findElement(a, "c", nullptr, 1), a->next);
  EXPECT_EQ(findElement(a, "c", nullptr, 2), a->children->children);
  EXPECT_EQ(findElement(a, "c", nullptr, -1), a->children->children);
  EXPECT_EQ(findElement(a->children, "c", nullptr, 0), nullptr);

  xmlNodePtr deep = d.holder.root;
  for (int i = 0; i < 200000; ++i) deep = xmlNewChild(deep, nullptr, BAD_CAST "n", nullptr);
  xmlNewProp(deep, BAD_CAST "Id", BAD_CAST "bottom");
  EXPECT_EQ(findElement(d.holder.root, "absent", nullptr, -1), nullptr);
  registerIdAttributes(d.holder.root);
  xmlNodePtr n = nullptr;
  findNodeById(d.holder.root, "q", &n);
  EXPECT_STREQ(reinterpret_cast<const char*>(n->name), "b");
}

TEST(Namespaces, ElementTestsAndChildCreation) {
  ParsedDoc d(
      "<Signature xmlns='http://www.w3.org/2000/09/xmldsig#' "
      "xmlns:ds='http://www.w3.org/2000/09/xmldsig#'>"
      "<x:o xmlns:x='urn:x'/></Signature>");
  ASSERT_EQ(d.rc, 0);
  xmlNodePtr sig = d.holder.root;
  EXPECT_TRUE(isElement(sig, "Signature", xmlc::NS_DSIG.data()));
  EXPECT_FALSE(isElement(sig, "Signature", xmlc::NS_XADES.data()));
  EXPECT_TRUE(isElement(sig, "Signature", nullptr));
  EXPECT_FALSE(isElement(sig->children, "o", xmlc::NS_DSIG.data()));
  // The prefix is declared but the parent's default namespace is the same: unprefixed child.
  xmlNodePtr obj = addChildElement(sig, "Object", "ds");
  std::string text;
  serializeNode(obj, text, false);
  EXPECT_EQ(text, "<Object/>");
  EXPECT_STREQ(reinterpret_cast<const char*>(nodeNamespaceUri(obj)), xmlc::NS_DSIG.data());
  // A prefix not in scope is declared from the prefix table.
  xmlNodePtr qp = addChildElement(obj, "QualifyingProperties", "xades");
  serializeNode(qp, text, false);
  EXPECT_EQ(text,
            "<xades:QualifyingProperties xmlns:xades=\"http://uri.etsi.org/01903/v1.3.2#\"/>");
  EXPECT_THROW(addChildElement(obj, "X", "nope"), std::runtime_error);
}

TEST(SignedObjects, ContentByEncodingAndMimeType) {
  const struct {
    const char* doc;
    const char* expected;
  } cases[] = {
      {"<Object Encoding='http://www.w3.org/2000/09/xmldsig#base64'>aGVs\n bG8=</Object>", "hello"},
      {"<Object MimeType='text/xml'>text<a x='1'><b/></a><c/></Object>", "<a x=\"1\"><b/></a>"},
      {"<Object>plain <i>text</i></Object>", "plain text"},
      // No type: one element between XML white space (space, tab, CR, LF) is its markup; any
      // other character beside it (a no-break space too) keeps the text.
      {"<Object> \t&#13;\n<a x='1'>t<b/></a>\n</Object>", "<a x=\"1\">t<b/></a>"},
      // A type of its own that is not XML keeps the text; an XML one is markup.
      {"<Object MimeType='text/plain'><a>t</a></Object>", "t"},
      {"<Object MimeType='image/svg+xml'><a>t</a></Object>", "<a>t</a>"},
      {"<Object MimeType=''><a>t</a></Object>", "<a>t</a>"},
      {"<Object MimeType='Application/XML; charset=UTF-8'><a>t</a></Object>", "<a>t</a>"},
      {"<Object MimeType='application/xml-dtd'><a>t</a></Object>", "t"},
      {"<Object>&#xA0;<a>t</a></Object>", "\xC2\xA0t"},
      {"<Object><a>t</a>&#12288;</Object>", "t\xE3\x80\x80"},
  };
  for (const auto& c : cases) {
    ParsedDoc d(c.doc);
    ASSERT_EQ(d.rc, 0);
    MemFile out;
    EXPECT_EQ(writeSignedObjectContent(d.holder.root, &out), 0);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.length())),
        c.expected);
  }
}

// The whole document as libxml2 writes it: what a save must leave as it found it.
std::string documentText(const ParsedDoc& d) {
  MemFile out;
  EXPECT_EQ(writeDocumentElement(reinterpret_cast<xmlNodePtr>(d.holder.doc), nullptr, &out), 0);
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.length()));
}

// A saved element is a document of its own: it carries the declarations it and its
// descendants take from above it (those it uses, after its own, in the order of first use),
// and reads back, namespaces checked, into the namespace it had. The tree is left as it was.
TEST(SignedObjects, SavedElementCarriesTheDeclarationsAboveIt) {
  const struct {
    const char* doc;  // the object is the element named Object
    const char* expected;
  } cases[] = {
      {"<S xmlns:p='urn:p' xmlns:u='urn:u'><Object><p:a>t</p:a></Object></S>",
       "<p:a xmlns:p=\"urn:p\">t</p:a>"},
      {"<Object xmlns:p='urn:p' xmlns:q='urn:q'>\n<a q:x='1'>t<p:b/><p:c/></a>\n</Object>",
       "<a xmlns:q=\"urn:q\" xmlns:p=\"urn:p\" q:x=\"1\">t<p:b/><p:c/></a>"},
      // A redeclaration inside covers only its own subtree; the default namespace used by a
      // descendant alone.
      {"<S xmlns:p='urn:p'><Object><a><p:b xmlns:p='urn:o'/><p:c>t</p:c></a></Object></S>",
       "<a xmlns:p=\"urn:p\"><p:b xmlns:p=\"urn:o\"/><p:c>t</p:c></a>"},
      {"<S xmlns='urn:d' xmlns:p='urn:p'><Object><p:a><b>t</b></p:a></Object></S>",
       "<p:a xmlns:p=\"urn:p\" xmlns=\"urn:d\"><b>t</b></p:a>"},
      {"<S xmlns:p='urn:outer'><Object xmlns:p='urn:p'><p:a>t</p:a></Object></S>",
       "<p:a xmlns:p=\"urn:p\">t</p:a>"},
      {"<Object xmlns='urn:d'><a>t<b/></a></Object>", "<a xmlns=\"urn:d\">t<b/></a>"},
      {"<Object xmlns='urn:d'><a>t<b xmlns=''><c/></b></a></Object>",
       "<a xmlns=\"urn:d\">t<b xmlns=\"\"><c/></b></a>"},
      {"<Object xmlns='urn:d' xmlns:p='urn:p'><a p:x='1'>t</a></Object>",
       "<a xmlns=\"urn:d\" xmlns:p=\"urn:p\" p:x=\"1\">t</a>"},
      {"<Object xmlns:p='urn:p'><p:a xmlns:q='urn:q' q:x='1'>t</p:a></Object>",
       "<p:a xmlns:q=\"urn:q\" xmlns:p=\"urn:p\" q:x=\"1\">t</p:a>"},
      {"<Object xmlns:p='urn:a?b=1&amp;c=2'><p:a>t</p:a></Object>",
       "<p:a xmlns:p=\"urn:a?b=1&amp;c=2\">t</p:a>"},
      // Declared where it is used, or not needed: libxml2's bytes as they were.
      {"<Object xmlns:p='urn:p'><p:a xmlns:p='urn:p'>t</p:a></Object>",
       "<p:a xmlns:p=\"urn:p\">t</p:a>"},
      {"<Object xmlns:p='urn:p'><a>t<p:b xmlns:p='urn:other'/></a></Object>",
       "<a>t<p:b xmlns:p=\"urn:other\"/></a>"},
      {"<S xmlns='urn:d'><Object xmlns=''><a xml:lang='pl'>t</a></Object></S>",
       "<a xml:lang=\"pl\">t</a>"},
      // The "text/xml" road alike, an empty element too.
      {"<S xmlns:p='urn:p'><Object MimeType='text/xml'>x<p:a/>y</Object></S>",
       "<p:a xmlns:p=\"urn:p\"/>"},
      {"<S xmlns:p='urn:p'><Object MimeType='application/p+xml'> <p:a>t</p:a> </Object></S>",
       "<p:a xmlns:p=\"urn:p\">t</p:a>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.doc);
    ParsedDoc d(c.doc);
    ASSERT_EQ(d.rc, 0);
    xmlNodePtr object = findElement(d.holder.root, "Object", nullptr, -1);
    ASSERT_NE(object, nullptr);
    const std::string before = documentText(d);
    MemFile out;
    ASSERT_EQ(writeSignedObjectContent(object, &out), 0);
    const std::string saved(reinterpret_cast<const char*>(out.data()),
                            static_cast<size_t>(out.length()));
    EXPECT_EQ(saved, c.expected);
    EXPECT_EQ(documentText(d), before);
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    ASSERT_NE(ctxt, nullptr);
    xmlDocPtr back = xmlCtxtReadMemory(
        ctxt, saved.data(), static_cast<int>(saved.size()), nullptr, nullptr,
        XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    EXPECT_NE(back, nullptr);
    EXPECT_TRUE(ctxt->wellFormed && ctxt->nsWellFormed);
    if (back) {
      xmlNodePtr element = firstElement(object->children);
      const xmlChar* uri = nodeNamespaceUri(xmlDocGetRootElement(back));
      const xmlChar* was = nodeNamespaceUri(element);
      EXPECT_STREQ(uri ? reinterpret_cast<const char*>(uri) : "",
                   was ? reinterpret_cast<const char*>(was) : "");
      xmlFreeDoc(back);
    }
    xmlFreeParserCtxt(ctxt);
  }
}

// The one-pass text content against libxml2's own xmlNodeGetContent, on the shapes a
// signed object takes: nested elements, CDATA, comments and processing instructions
// (left out), an internal entity, text beside elements.
TEST(SignedObjects, TextContentAsLibxml2GivesIt) {
  const char* docs[] = {
      "<o/>",
      "<o>plain</o>",
      "<o>a<i>b<j>c</j></i>d<![CDATA[<e>]]><!--no--><?pi no?>f</o>",
      "<o><a><b><c>deep</c></b></a><a/>tail</o>",
      "<!DOCTYPE o [<!ENTITY e 'ent<b>x</b>'>]><o>1&e;2</o>",
  };
  for (const char* doc : docs) {
    ParsedDoc d(doc);
    ASSERT_EQ(d.rc, 0) << doc;
    for (xmlNodePtr n : {d.holder.root, d.holder.root->children}) {
      if (!n) continue;
      xmlChar* expected = xmlNodeGetContent(n);
      EXPECT_EQ(nodeTextContent(n), expected ? reinterpret_cast<const char*>(expected) : "") << doc;
      xmlFree(expected);
    }
  }
}

// A receipt object of many entries is saved in linear time: libxml2's own text
// content took minutes for 10 MB of small elements (exact-size buffer growth).
TEST(SignedObjects, ManyChildrenSavedInLinearTime) {
  const int entries = 100000;
  const std::string text(40, 'x');  // entries as a receipt has them, within the parser's caps
  std::string doc = "<Object MimeType='text/xml'><r>";
  for (int i = 0; i < entries; ++i) doc += "<e>" + text + "</e>";
  doc += "</r></Object>";
  ParsedDoc d(doc);
  ASSERT_EQ(d.rc, 0);
  const double start = threadSeconds();  // a busy machine does not stretch it
  MemFile out;
  ASSERT_EQ(writeSignedObjectContent(d.holder.root, &out), 0);
  EXPECT_EQ(static_cast<size_t>(out.length()), doc.size() - 37);  // the r element alone
  EXPECT_EQ(nodeTextContent(d.holder.root).size(), text.size() * entries);
  EXPECT_LT(threadSeconds() - start, 5.0);
}

// r || s of equal halves to the DER of a Dss-Sig-Value (minimal INTEGERs, a
// zero octet before a set top bit), replacing what the output held.
TEST(DsaSignatureValue, ToDer) {
  const uint8_t value[] = {0x00, 0x01, 0x80, 0x00};
  MemFile out;
  out.write(12, reinterpret_cast<const uint8_t*>("old contents"));
  ASSERT_TRUE(dsaXmlSignatureToDer(value, sizeof value, &out));
  const uint8_t der[] = {0x30, 0x08, 0x02, 0x01, 0x01, 0x02, 0x03, 0x00, 0x80, 0x00};
  EXPECT_EQ(
      std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.length())),
      std::string(reinterpret_cast<const char*>(der), sizeof der));
  EXPECT_FALSE(dsaXmlSignatureToDer(value, 3, &out));
  EXPECT_FALSE(dsaXmlSignatureToDer(value, 0, &out));
}

}  // namespace
