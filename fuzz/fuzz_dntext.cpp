// libFuzzer target over distinguished-name text: the input is parsed at every
// flag level (and at one level taken from its first four octets), each name
// parsed is encoded, decoded again, compared, normalised and turned back into
// text; the input is also read as a DER name and compared and printed. Besides
// crashes, a name that does not survive its own encoding stops
// the run.
#include "pki/names/dname.h"
#include "pki/names/dnprint.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const uint32_t levels[] = {
    0x20000000,                                  // the text constructor's
    0x3 | 0x30 | 0x800 | 0x20000 | 0x80000000,   // RFC 2253
    0x3 | 0x30 | 0x1000 | 0x20000 | 0x20000000,  // "; " and " + "
    0x3 | 0x30 | 0x4000 | 0x20000,               // one RDN a line
    0x4 | 0x10000 | 0x20000,                     // "/C=PL/O=x"
    0x8 | 0x800 | 0x2000,                        // quoted values
    0x3 | 0x20 | 0x40 | 0x80 | 0x800,            // hexadecimal values without "#"
    0x3 | 0x30 | 0x800 | 0x400000 | 0x800000,    // multi-valued values
    0x3 | 0x800 | 0x10000000 | 0x40000000,       // every value multi-valued, short keywords
    0xFFFFFFFF,
};

void exercise(const char* text, int length, uint32_t flags) {
  DistinguishedName name;
  if (!name.fromText(text, length, flags)) return;
  std::vector<unsigned char> der;
  if (name.encodeVector(der) <= 0) abort();
  DistinguishedName again;
  if (again.decodeVector(der) != static_cast<int>(der.size()) || !(again == name)) abort();
  std::string out;
  DnTextStyle style;
  dnAppendName(out, name, style);
  char* report = name.toText(DN_TEXT_SHORT_LABELS);
  delete[] report;
  again.normalise();
}

// The same input as a DER name from a stranger: copies, comparison (which
// normalises every value) and the text forms.
void exerciseDer(const uint8_t* data, size_t size) {
  DistinguishedName name;
  if (name.decodeBuffer(data, static_cast<int>(size), 0) <= 0) return;
  DistinguishedName copy(name);
  if (!(copy == name)) abort();
  std::string out;
  DnTextStyle style;
  dnAppendName(out, name, style);
  char* report = name.toText(DN_TEXT_LINE_BREAKS);
  delete[] report;
  copy.normalise();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  // An exactly sized copy: a read past the given length is caught.
  std::vector<char> text(data, data + size);
  const char* p = text.empty() ? nullptr : text.data();
  const int n = static_cast<int>(text.size());
  exerciseDer(data, size);
  for (uint32_t flags : levels) exercise(p, n, flags);
  if (size >= 4) {
    uint32_t flags = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                     uint32_t(data[3]) << 24;
    exercise(p + 4, n - 4, flags);
  }
  return 0;
}
