// libFuzzer target over the X509time parsers: the input as a time text and as
// DER under the universal and an implicit tag (the first octet chooses), then
// re-encoding, formatting into short buffers, zone conversions and
// comparisons. Besides crashes, a value that does not re-encode to itself or
// a conversion that moves the instant stops the run.
#include "asn1/asngent.h"
#include "pki/common/x509time.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
void require(bool ok) {
  if (!ok) std::abort();
}

void checkValue(const X509time& t) {
  std::vector<unsigned char> der;
  require(t.encodeVector(der) > 0);
  // What was read writes back to a value that reads the same and compares equal.
  X509time again(t.getTag() == 23 || t.getTag() == 24 ? 0 : t.getTag());
  again.type = t.type;
  require(again.decodeVector(der) == static_cast<int>(der.size()));
  std::vector<unsigned char> der2;
  require(again.encodeVector(der2) > 0 && der2 == der);
  require(X509time::compare(t, again, true) == 0);
  char text[64];
  int n = t.format(text, sizeof text);
  require(n > 0 && X509time::classifyTimeText(text, n) == (t.form() == 23 ? 0 : 1));
  for (size_t size = 0; size <= static_cast<size_t>(n); ++size) {
    std::vector<char> small(size ? size : 1);
    require(t.format(size ? small.data() : nullptr, size) == -1);
  }
  // Conversions keep the instant.
  X509time utc(t), local(t), canon(t), shifted(t);
  utc.toUtc();
  local.toLocal();
  canon.canonicalise();
  require(X509time::compare(t, utc, true) == 0);
  require(X509time::compare(t, local, true) == 0);
  require(X509time::compare(t, canon, true) == 0);
  int32_t off = ((static_cast<int32_t>(t.minute) * 97 + t.second) % 2800 - 1400) * 60;
  require(shifted.setZoneOffset(off));
  require(X509time::compare(t, shifted, true) == 0);
  int64_t secs = t.toTime64(true);
  if (secs != X509time::TIME64_ERROR)
    require(t.compareTime64(secs) == 0 && t.compareTime64(secs + 1) < 0);
  t.isValid(true);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "Europe/Warsaw", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* text = reinterpret_cast<const char*>(data + 1);
  const int n = static_cast<int>(size - 1);
  const int cls = X509time::classifyTimeText(text, n);
  const uint8_t mode = data[0] & 3;
  if (n <= 127) {
    // The text as the content of each form.
    for (unsigned char tag : {23, 24}) {
      std::vector<unsigned char> der{tag, static_cast<unsigned char>(n)};
      der.insert(der.end(), data + 1, data + size);
      X509time t;
      int r = t.decodeVector(der);
      // The two text forms never overlap: each text decodes under one tag at most.
      require((r > 0) == (cls == (tag == 23 ? 0 : 1)));
      if (r > 0) checkValue(t);
    }
  }
  // The input as DER under the tag the first octet chooses.
  static const unsigned char tags[4] = {0, 24, 0x80, 0x80};
  X509time t(tags[mode]);
  if (mode == 3) t.type = 24;
  if (t.decodeBuffer(data + 1, n) > 0) checkValue(t);
  ASNgenTime g;
  if (g.decodeBuffer(data + 1, n) > 0) {
    X509time fromGen;
    if (fromGen.toGeneralized(g) && fromGen.isValid(false)) checkValue(fromGen);
  }
  return 0;
}
