// Allocation failures while a signed object is saved: the n-th allocation after
// arming fails, whether it is libxml2's (its functions set to count with operator
// new's) or ours. Each ends in a code or the saved element whole, never a crash or
// a leak (LeakSanitizer), and the tree is left as it was.
#include "xmlsig/xmltesthelp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include <libxml/globals.h>

#include "failonce.h"

namespace {

void* failingMalloc(size_t n) { return testAllocate(n); }
void* failingRealloc(void* p, size_t n) {
  if (failAt && ++counted == failAt) {
    failed = true;
    return nullptr;
  }
  return std::realloc(p, n ? n : 1);
}
char* failingStrdup(const char* s) {
  const size_t n = std::strlen(s) + 1;
  void* p = testAllocate(n);
  if (p) std::memcpy(p, s, n);
  return static_cast<char*>(p);
}

std::string textOf(const MemFile& f) {
  return std::string(reinterpret_cast<const char*>(f.data()), static_cast<size_t>(f.length()));
}

TEST(SavedObjectAllocation, DeclarationsAddedOrACode) {
  ASSERT_EQ(0, xmlMemSetup(std::free, failingMalloc, failingRealloc, failingStrdup));
  ParsedDoc d("<S xmlns:p='urn:p' xmlns='urn:d'><Object><p:a q='1'>t<b/></p:a></Object></S>");
  ASSERT_EQ(d.rc, 0);
  xmlNodePtr object = findElement(d.holder.root, "Object", nullptr, -1);
  ASSERT_NE(object, nullptr);
  const std::string expected = "<p:a xmlns:p=\"urn:p\" xmlns=\"urn:d\" q=\"1\">t<b/></p:a>";
  MemFile whole;
  ASSERT_EQ(writeDocumentElement(reinterpret_cast<xmlNodePtr>(d.holder.doc), nullptr, &whole), 0);
  long n = 0;
  for (;; ++n) {
    SCOPED_TRACE(n);
    MemFile out;
    int32_t rc = -1;
    const bool hit = failingOnce(n, [&] {
      try {
        rc = writeSignedObjectContent(object, &out);
      } catch (const TalApiException& e) {
        rc = e.getCode();
      } catch (const std::bad_alloc&) {
        rc = 100;
      }
    });
    if (rc == 0) {
      EXPECT_EQ(textOf(out), expected);
    } else {
      EXPECT_TRUE(rc == 100 || rc == 62) << rc;
    }
    MemFile again;
    ASSERT_EQ(writeDocumentElement(reinterpret_cast<xmlNodePtr>(d.holder.doc), nullptr, &again), 0);
    EXPECT_EQ(textOf(again), textOf(whole));
    if (n > 0 && !hit) break;
  }
  EXPECT_GT(n, 3) << "the save allocates";
}

}  // namespace
