// The memory charge over an application's own allocator (xmlMemSetup before the
// library's first use, counting through a header of its own): the library
// wraps it, charges the sizes asked, refuses trees of tiny elements and
// processes real documents, within the allowance by the application's own
// count; and when the application sets its allocator again after the library,
// the next parse finds the wrapper gone and wraps the new functions.
#include "xmlsig/xmlmemcharge.h"
#include "xmlsig/xmltesthelp.h"
#include "xmlheapcount.h"

#include <gtest/gtest.h>

namespace {

std::string repeat(const std::string& s, size_t bytes) {
  std::string out;
  out.reserve(bytes + s.size());
  while (out.size() < bytes) out += s;
  return out;
}

const std::string kRecord =
    "\n <item id='12345'><name>Product name</name><price currency='PLN'>12.50</price></item>";

// Parses and canonicalises the whole document: its code.
int32_t process(const std::string& doc) {
  ParsedDoc d(doc);
  if (d.rc != 0) return d.rc;
  return codeOf([&] {
    XmlTransforms chain;
    chain.add(new XmlC14DocTransform(false, 1, false));
    chain.applyToNode(reinterpret_cast<xmlNodePtr>(d.holder.doc));
  });
}

// The application's second set of functions: other addresses, the same blocks.
void otherFree(void* p) { xmlheap::countedFree(p); }
void* otherMalloc(size_t n) { return xmlheap::countedMalloc(n); }
void* otherRealloc(void* p, size_t n) { return xmlheap::countedRealloc(p, n); }
char* otherStrdup(const char* s) { return xmlheap::countedStrdup(s); }

bool wrapperInPlace() {
  xmlFreeFunc f = nullptr;
  xmlMallocFunc m = nullptr, a = nullptr;
  xmlReallocFunc r = nullptr;
  xmlStrdupFunc s = nullptr;
  xmlGcMemGet(&f, &m, &a, &r, &s);
  return f != xmlheap::countedFree && f != otherFree && m != xmlheap::countedMalloc &&
         m != otherMalloc;
}

}  // namespace

TEST(XmlForeignAllocator, ChargedOverAnApplicationAllocator) {
  ASSERT_TRUE(xmlheap::counting);
  const struct {
    const char* name;
    std::string doc;
    int32_t rc;
  } cases[] = {
      {"empty elements 1 MB", "<r>" + repeat("<a/>", 1 << 20) + "</r>", 89},
      {"attributes of one octet 1 MB", "<r>" + repeat("<a b='1' c='2' d='3'/>", 1 << 20) + "</r>", 89},
      {"records 1 MB", "<r>" + repeat(kRecord, 1 << 20) + "</r>", 0},
      {"records 100 KB", "<r>" + repeat(kRecord, 100 << 10) + "</r>", 0},
      {"signed c14n-three.xml", readFixture("merlin/c14n-three.xml"), 0},
      {"signed pis.xml", readFixture("c14n/pis.xml"), 0},
  };
  for (const auto& c : cases) {
    int32_t rc = -1;
    size_t peak = xmlheap::peakDuring([&] { rc = process(c.doc); });
    EXPECT_EQ(rc, c.rc) << c.name;
    EXPECT_LT(peak, xmlMemoryAllowance(c.doc.size())) << c.name;
    printf("%-30s %8zu octets  rc %3d  peak by the application's count %5.1fx\n", c.name,
           c.doc.size(), rc, double(peak) / double(c.doc.size()));
  }
  EXPECT_TRUE(wrapperInPlace());
}

TEST(XmlForeignAllocator, AllocatorSetAfterTheLibraryIsWrappedAgain) {
  ASSERT_EQ(process("<r/>"), 0);
  ASSERT_TRUE(wrapperInPlace());
  // the application sets its allocator again: libxml2 no longer calls the wrapper
  ASSERT_EQ(xmlMemSetup(otherFree, otherMalloc, otherRealloc, otherStrdup), 0);
  ASSERT_FALSE(wrapperInPlace());
  const std::string tiny = "<r>" + repeat("<a/>", 1 << 20) + "</r>";
  int32_t rc = -1;
  size_t peak = xmlheap::peakDuring([&] { rc = process(tiny); });
  EXPECT_EQ(rc, 89);
  EXPECT_TRUE(wrapperInPlace());
  // the application's functions still allocate underneath
  EXPECT_GT(peak, size_t(1) << 20);
  EXPECT_LT(peak, xmlMemoryAllowance(tiny.size()));
  EXPECT_EQ(process("<r>" + repeat(kRecord, 100 << 10) + "</r>"), 0);
}

namespace {

// An application layer over whatever libxml2 had (the wrapper, here): it
// counts the calls and passes each on to the function it found.
struct Found {
  xmlFreeFunc free = nullptr;
  xmlMallocFunc malloc = nullptr, atomic = nullptr;
  xmlReallocFunc realloc = nullptr;
  xmlStrdupFunc strdup = nullptr;
} g_found;
long g_layerCalls = 0;
void layerFree(void* p) {
  g_layerCalls++;
  g_found.free(p);
}
void* layerMalloc(size_t n) {
  g_layerCalls++;
  return g_found.malloc(n);
}
void* layerAtomic(size_t n) {
  g_layerCalls++;
  return g_found.atomic(n);
}
void* layerRealloc(void* p, size_t n) {
  g_layerCalls++;
  return g_found.realloc(p, n);
}
char* layerStrdup(const char* s) {
  g_layerCalls++;
  return g_found.strdup(s);
}

}  // namespace

// An application that lays its functions over the ones it finds (the wrapper)
// after the library's first use: wrapped again, the calls that come back
// through the layer go to what the layer wrapped, not round again (which ran
// until the stack was gone); documents are still charged and processed.
TEST(XmlForeignAllocator, ApplicationLayerOverTheWrapper) {
  ASSERT_EQ(process("<r/>"), 0);
  ASSERT_TRUE(wrapperInPlace());
  ASSERT_EQ(xmlGcMemGet(&g_found.free, &g_found.malloc, &g_found.atomic, &g_found.realloc,
                        &g_found.strdup),
            0);
  ASSERT_EQ(xmlGcMemSetup(layerFree, layerMalloc, layerAtomic, layerRealloc, layerStrdup), 0);
  EXPECT_EQ(process("<r>" + repeat(kRecord, 100 << 10) + "</r>"), 0);
  EXPECT_TRUE(wrapperInPlace());
  EXPECT_GT(g_layerCalls, 1000);
  EXPECT_EQ(process("<r>" + repeat("<a/>", 1 << 20) + "</r>"), 89);
  // the application's count sees every block back
  const size_t live = xmlheap::liveBytes;
  EXPECT_EQ(process("<r>" + repeat(kRecord, 10 << 10) + "</r>"), 0);
  EXPECT_EQ(size_t(xmlheap::liveBytes), live);
}
