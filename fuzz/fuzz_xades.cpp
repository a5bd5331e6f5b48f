// libFuzzer target over XAdES documents from strangers: every ds:Signature of
// the document (at most a few) analysed through SignaturePropertiesXml, so the
// QualifyingProperties reader (signed and unsigned properties, time-stamp
// tokens, references, values, counter-signatures, each analysed in turn) and
// the time-stamp data digests see hostile input. Answers are codes; nothing
// throws out or crashes. The store matchers compare references with values.
// Each analysed signature is then extended; a failed extension leaves the
// document as it was.
#include "base/memfile.h"
#include "base/reportstream.h"
#include "base/talexception.h"
#include "api/xmlrefmatch.h"
#include "xmlsig/sigpropsxml.h"
#include "xmlsig/xmlconst.h"

#include <libxml/parser.h>

#include <cstdint>
#include <cstdlib>

namespace {
void quiet(void*, const char*, ...) {}

void exercise(SignaturePropertiesXml& props, int level) {
  if (props.analyse() != 0) return;
  props.checkMessageDigest();
  std::vector<std::string> out;
  try {
    if (SignatureTimeStampTokens* t = props.signatureTimeStamps())
      for (TimeStampToken* token : t->items) props.timeStampImprintData(*token, 3, out);
    if (ArchiveTimeStampTokens* a = props.archiveTimeStamps())
      for (TimeStampToken* token : a->items) props.archiveImprintData(*token, 3, out);
  } catch (const TalApiException&) {
  }
  for (int32_t i = 0; i < props.counterSignatureCount() && level < 8; ++i)
    if (SigInfo* info = props.counterSignature(i))
      exercise(static_cast<SignaturePropertiesXml&>(*info->properties), level + 1);
}
std::string serialised(xmlDocPtr doc) {
  xmlChar* text = nullptr;
  int size = 0;
  xmlDocDumpMemory(doc, &text, &size);
  std::string out(text ? reinterpret_cast<const char*>(text) : "", text ? static_cast<size_t>(size) : 0);
  xmlFree(text);
  return out;
}

// The extension over the stranger's signature, with nothing collected and an
// authority that never answers: a failed archive step must leave the
// document as it was.
void extend(SignaturePropertiesXml& props, xmlDocPtr doc) {
  ValidationData none;
  props.addCompleteRefs(none);
  props.addValues(none);
  const std::string before = serialised(doc);
  if (props.makeArchiveForm(nullptr) != 0 && serialised(doc) != before) abort();
}
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
  int found = 0;
  for (xmlNodePtr n = findElement(holder.root, "Signature", xmlc::NS_DSIG.data(), 64);
       n && found < 4; n = findElement(n->next, "Signature", xmlc::NS_DSIG.data(), 64), ++found) {
    MemFile sink;
    ReportStream report(&sink);
    XmlSignatureSetup setup;
    setup.root = holder.root;
    setup.configuredDigest = 3;
    setup.report = &report;
    // The store matchers read the references against the values.
    useStoreMatchers(setup);
    setup.requestTimeStamp = [](talCtx*, const std::string&, int32_t, ArchiveTimeStampTokens&) { return 128; };
    SignaturePropertiesXml props(nullptr, setup, n);
    exercise(props, 0);
    if (props.form != SIG_FORM_UNKNOWN) extend(props, holder.doc);
  }
  return 0;
}
