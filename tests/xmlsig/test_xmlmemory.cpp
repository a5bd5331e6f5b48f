// Memory libxml2 takes for a document, counted by replacing its allocation
// functions: parsing and canonicalising documents of every shape stays within
// twenty times their size plus a constant, or the document is refused (89)
// when its tree alone would take more; typical signed documents and real
// records of any size are processed.
#include "xmlsig/xmlmemcharge.h"
#include "xmlsig/xmltesthelp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace {

// Peak octets libxml2 held while f ran, as the library charges them: over
// libc's allocator, the usable size of every block, less the blocks freed.
template <class F>
size_t peakDuring(F&& f) {
  XmlMemoryScope all(UINT64_MAX);
  f();
  return static_cast<size_t>(all.peak());
}

std::string repeat(const std::string& s, size_t bytes) {
  std::string out;
  out.reserve(bytes + s.size());
  while (out.size() < bytes) out += s;
  return out;
}

std::string record(int i) {
  std::string n = std::to_string(i);
  return "  <item id=\"" + n + "\">\n    <name>Product name " + n +
         "</name>\n    <price currency=\"PLN\">12.50</price>\n    <qty>3</qty>\n  </item>\n";
}

std::string records(size_t bytes) {
  std::string out = "<?xml version=\"1.0\"?>\n<invoice>\n";
  for (int i = 0; out.size() < bytes; ++i) out += record(i);
  return out + "</invoice>\n";
}

std::string base64Object(size_t bytes) {
  std::string line = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2\n";
  return "<Object Id=\"o\">" + repeat(line, bytes) + "</Object>";
}

struct Shape {
  const char* name;
  std::string doc;
  int32_t rc;  // 89: refused while parsing, for its tree
};

struct Measured {
  int32_t rc;
  size_t parse;  // peak while parsing
  size_t whole;  // peak while parsing and canonicalising
  double seconds;
};

Measured measure(const std::string& doc) {
  Measured m{};
  const double t0 = threadSeconds();
  m.whole = peakDuring([&] {
    ParsedDoc d(doc);
    m.rc = d.rc;
    if (d.rc != 0) return;
    m.rc = codeOf([&] {
      XmlTransforms chain;
      chain.add(new XmlC14DocTransform(false, 1, false));
      chain.applyToNode(reinterpret_cast<xmlNodePtr>(d.holder.doc));
    });
  });
  m.seconds = threadSeconds() - t0;
  m.parse = peakDuring([&] { ParsedDoc d(doc); });
  return m;
}

}  // namespace

// Documents of tiny elements, of short attributes, of records, of text, and
// signed documents: each is processed or refused (tiny elements, where the
// tree alone passes twenty times the text), and libxml2's peak stays within
// the allowance either way.
TEST(XmlMemory, PeakWithinTheAllowance) {
  const Shape shapes[] = {
      {"empty elements 100 KB", "<r>" + repeat("<a/>", 100 << 10) + "</r>", 0},
      {"empty elements 1 MB", "<r>" + repeat("<a/>", 1 << 20) + "</r>", 89},
      {"empty elements 8 MB", "<r>" + repeat("<a/>", 8 << 20) + "</r>", 89},
      {"indented empty elements 1 MB", "<r>" + repeat("\n  <a/>", 1 << 20) + "</r>", 89},
      {"16 short attributes 1 MB",
       "<r>" + repeat("<a b0='1' b1='2' b2='3' b3='4' b4='5' b5='6' b6='7' b7='8' b8='9' b9='0' "
                      "c0='1' c1='2' c2='3' c3='4' c4='5' c5='6'/>",
                      1 << 20) +
           "</r>",
       89},
      {"records 100 KB", records(100 << 10), 0},
      {"records 4 MB", records(4 << 20), 0},
      {"base64 object 4 MB", base64Object(4 << 20), 0},
      {"signed pis.xml", readFixture("c14n/pis.xml"), 0},
      {"signed dtd.xml", readFixture("c14n/dtd.xml"), 0},
      {"signed filter2-sign-example.xml", readFixture("merlin/filter2-sign-example.xml"), 0},
      {"signed c14n-three.xml", readFixture("merlin/c14n-three.xml"), 0},
  };
  for (const Shape& s : shapes) {
    Measured m = measure(s.doc);
    EXPECT_EQ(m.rc, s.rc) << s.name;
    EXPECT_LT(m.whole, xmlMemoryAllowance(s.doc.size())) << s.name;
    EXPECT_LT(m.seconds, 300.0) << s.name;  // memory is the bound here; time only a hang guard
    const double n = double(s.doc.size());
    printf("%-34s %9zu octets  rc %3d  parse %6.1fx  parse+c14n %6.1fx  %6.2f s\n", s.name,
           s.doc.size(), m.rc, double(m.parse) / n, double(m.whole) / n, m.seconds);
  }
  // real documents of some size stay within twenty times theirs, the constant aside
  for (const Shape& s : shapes)
    if (s.rc == 0 && s.doc.size() >= (1u << 20)) {
      Measured m = measure(s.doc);
      EXPECT_LT(m.whole, XML_MEMORY_RATIO * s.doc.size()) << s.name;
    }
}
