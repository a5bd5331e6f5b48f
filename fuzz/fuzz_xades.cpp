// libFuzzer target over XAdES documents from strangers: every ds:Signature of
// the document (at most a few) analysed through SignaturePropertiesXml, so the
// QualifyingProperties reader (signed and unsigned properties, time-stamp
// tokens, references, values, counter-signatures, each analysed in turn) and
// the time-stamp data digests see hostile input. Answers are codes; nothing
// throws out or crashes. The store matchers compare references with values.
// Each analysed signature is then extended with its own certificates and
// revocation values: a failed step leaves the document as it was, a step
// that succeeds leaves one that still parses.
#include "base/memfile.h"
#include "base/reportstream.h"
#include "base/talexception.h"
#include "base/workaccount.h"
#include "api/xmlrefmatch.h"
#include "xmlsig/sigpropsxml.h"
#include "xmlsig/xmlconst.h"

#include <libxml/parser.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

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

bool parses(const std::string& text) {
  MemFile in(reinterpret_cast<uint8_t*>(const_cast<char*>(text.data())), static_cast<int32_t>(text.size()), false);
  XmlDocHolder again;
  return parseXmlDocument(&again, &in) == 0;
}

// One extension step: a failed one leaves the document as it was, and one
// that succeeds leaves a document that still parses.
void step(xmlDocPtr doc, const std::function<int32_t()>& run) {
  const std::string before = serialised(doc);
  const bool parsedBefore = parses(before);
  const int32_t r = run();
  const std::string after = serialised(doc);
  if (r != 0 && after != before) abort();
  if (r == 0 && parsedBefore && !parses(after)) abort();
}

// The extension over the stranger's signature, its own certificates and
// revocation values handed over as the collected data (names and all), and
// an authority that never answers.
void extend(SignaturePropertiesXml& props, xmlDocPtr doc) {
  ValidationData collected;
  collected.path.certificates.owns = 0;
  if (ASNsequenceList<SignedCertificate>* carried = props.carriedCertificates())
    for (POSITION pos = carried->GetHeadPosition(); pos;)
      if (SignedCertificate* c = carried->GetNext(pos)) collected.path.certificates.items.push_back(c);
  for (SignedCertificate* c : props.certificateValues()->items) collected.path.certificates.items.push_back(c);
  for (const CrlOrOcspValue* v : props.revocationValues()->items)
    collected.path.revocations.items.push_back(new CrlOrOcspValue(v->crl, v->ocsp, 0));
  step(doc, [&] { return props.addCompleteRefs(collected); });
  step(doc, [&] { return props.addValues(collected); });
  step(doc, [&] { return props.makeArchiveForm(nullptr); });
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
  // One account for the whole input, as a verification opens one per document: without it each
  // budget would have a net of its own, and an input of many the time of all their nets.
  std::shared_ptr<WorkAccount> account = WorkAccount::forDocument(size);
  WorkAccountScope charged(account.get());
  int found = 0;
  for (xmlNodePtr n = findElement(holder.root, "Signature", xmlc::NS_DSIG.data(), 64);
       n && found < 4; n = findElement(n->next, "Signature", xmlc::NS_DSIG.data(), 64), ++found) {
    MemFile sink;
    ReportStream report(&sink);
    XmlSignatureSetup setup;
    setup.root = holder.root;
    setup.configuredDigest = 3;
    setup.report = &report;
    setup.account = account;
    // The store matchers read the references against the values.
    useStoreMatchers(setup);
    setup.requestTimeStamp = [](talCtx*, const std::string&, int32_t, ArchiveTimeStampTokens&) { return 128; };
    SignaturePropertiesXml props(nullptr, setup, n);
    exercise(props, 0);
    if (props.form != SIG_FORM_UNKNOWN) extend(props, holder.doc);
  }
  return 0;
}
