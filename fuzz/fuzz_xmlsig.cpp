// libFuzzer target over signed XML documents from strangers: every ds:Signature
// of the document (at most a few) read by the signature parser in the
// verification mode, with a detached document beside it, so the structure walk,
// reference resolution, transform chains, digests, KeyInfo and the signer choice
// all see hostile input. A parse answers a code; it never throws or crashes.
#include "base/memfile.h"
#include "base/reportstream.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmlsigparser.h"

#include <libxml/parser.h>

#include <cstdint>
#include <cstdlib>

namespace {
void quiet(void*, const char*, ...) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    xmlSetGenericErrorFunc(nullptr, quiet);
    return true;
  }();
  (void)init;
  MemFile in(const_cast<uint8_t*>(data), static_cast<int32_t>(size), false);
  XmlDocHolder holder;
  if (parseXmlDocument(&holder, &in) != 0) return 0;
  auto* reader = new MemFile();
  reader->write(5, reinterpret_cast<const uint8_t*>("<a/>\n"));
  reader->seek(0);
  TVxmlDoc detached(0, "d.xml", reader, true, 0, nullptr);
  std::vector<TVxmlDoc*> docs{&detached};
  int found = 0;
  for (xmlNodePtr n = findElement(holder.root, "Signature", xmlc::NS_DSIG.data(), 64);
       n && found < 4; n = findElement(n->next, "Signature", xmlc::NS_DSIG.data(), 64), ++found) {
    MemFile sink;
    ReportStream report(&sink);
    XmlSigParser parser(holder.root, docs, 1, false, 3);
    int32_t rc = parser.parse(&report, n);
    // Every refusal leaves its line in the report.
    if (rc != 0 && sink.length() == 0) abort();
    if (rc == 0) {
      for (int32_t i = 0; i < parser.countSignedObjects(); ++i) {
        MemFile out;
        parser.saveSignedObject(i, &out);
      }
    }
  }
  return 0;
}
