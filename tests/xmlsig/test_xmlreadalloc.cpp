// Allocation failures while XML is read: this program makes the n-th allocation
// (operator new) after arming fail, and LeakSanitizer tells whether a failure
// anywhere leaves a record, a text of libxml2 or parsed nodes unowned.
#include "xmlsig/sigpropsxml.h"
#include "xmlsig/xmltesthelp.h"

#include "base/reportstream.h"
#include "api/xmlrefmatch.h"

#include <gtest/gtest.h>

#include <new>

#include "failonce.h"

namespace {

// Every allocation of the analysis of an X-L signature (its certificate, CRL and
// OCSP values and references) failing in turn: a code, never a crash or a leak.
TEST(XmlReadAllocation, XadesValuesAnalysed) {
  const std::string xml = readFixture("xades/xl.xml");
  long n = 0;
  for (;; ++n) {
    SCOPED_TRACE(n);
    ParsedDoc doc(xml);
    ASSERT_EQ(0, doc.rc);
    MemFile sink;
    ReportStream report(&sink);
    XmlSignatureSetup setup;
    setup.root = doc.holder.root;
    useStoreMatchers(setup);
    setup.report = &report;
    xmlNodePtr sig = findElement(doc.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
    int32_t rc = -1;
    const bool hit = failingOnce(n, [&] {
      try {
        SignaturePropertiesXml props(nullptr, setup, sig);
        rc = props.analyse();
      } catch (const std::bad_alloc&) {
        rc = 100;
      } catch (const std::exception&) {
        // A hash that cannot be made: a failed invariant, or the hash
        // layer's own memory exception; the C API answers both.
        rc = 161;
      }
    });
    if (n == 0) {
      ASSERT_EQ(0, rc);
      continue;
    }
    if (!hit) break;
  }
  EXPECT_GT(n, 100) << "the analysis allocates";
}

// A fragment parsed into a document whose internal subset types an attribute:
// its value is normalised by a copy that may fail, after the nodes were parsed.
TEST(XmlReadAllocation, FragmentWithDeclaredAttributes) {
  ParsedDoc doc(
      "<!DOCTYPE r [<!ATTLIST e t NMTOKENS #IMPLIED d CDATA 'default value'>]>"
      "<r><p/></r>");
  ASSERT_EQ(0, doc.rc);
  const std::string fragment = "<e t='  first-token   second-token   third-token  '/>";
  xmlNodePtr context = findElement(doc.holder.root, "p", nullptr, -1);
  ASSERT_NE(nullptr, context);
  int refusals = 0;
  long n = 0;
  for (;; ++n) {
    SCOPED_TRACE(n);
    xmlNodePtr list = nullptr;
    int32_t rc = -1;
    const bool hit = failingOnce(n, [&] {
      try {
        rc = xmlSafeParseInNodeContext(context, reinterpret_cast<const uint8_t*>(fragment.data()),
                                       fragment.size(), &list);
      } catch (const std::bad_alloc&) {
        rc = 100;
      }
    });
    if (rc == 0) {
      ASSERT_NE(nullptr, list);
      EXPECT_EQ("first-token second-token third-token", propOf(list, "t"));
      EXPECT_EQ("default value", propOf(list, "d"));
      xmlFreeNodeList(list);
    } else {
      EXPECT_EQ(nullptr, list);
      ++refusals;
    }
    if (n > 0 && !hit) break;
  }
  EXPECT_GT(refusals, 0);
}

}  // namespace
