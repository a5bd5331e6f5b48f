// The tvXml* entry points: XML contexts and their options, documents loaded
// from files, the signed objects of a verified signature, and the unprotect
// flow that verifies every signature of a document and writes the report.
// These entry points write no trace lines; anything thrown becomes 161.
#include "api/tvxml.h"

#include "talvorin.h"

#include "api/apitrace.h"
#include "api/ctxdecryption.h"
#include "api/ctxrevocation.h"
#include "api/ctxtimestamp.h"
#include "api/sigverifier.h"
#include "api/talctx.h"
#include "api/xmlrefmatch.h"
#include "asn1/asngent.h"
#include "base/file.h"
#include "base/livehandles.h"
#include "base/workaccount.h"
#include "platform/clock.h"
#include "platform/fileio.h"
#include "xmlsig/sigpropsxml.h"
#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmlcodes.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmemcharge.h"

#include <libxml/tree.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include <sys/stat.h>

namespace {

const uint32_t MASK_VERIFY = 1;
const uint32_t MASK_DECRYPT = 8;
const char* const MSG_DOCUMENT_WORK =
    "Weryfikacja dokumentu przekroczyła dopuszczalny nakład pracy !!!\r\n";

// The contexts tvXmlCreateCtx handed out that are still alive (the process's
// live handles). A handle that is gone (deleted, or released with the message
// that owned it) is refused instead of being used or freed again.
void registerContext(const XmlSigContext* context) {
  enlistHandle(context, HandleKind::XmlContext);
}

void unregisterContext(const XmlSigContext* context) { dropHandle(context); }

// The context behind a handle for one call: held (a delete on another thread waits for it) and
// locked (calls on one context take turns); null for a handle that is none (any more). The lock
// goes before the hold, so a delete never frees a locked mutex.
class XmlCtxUse {
 public:
  explicit XmlCtxUse(tvXmlCtx* handle) : hold(handle, HandleKind::XmlContext) {
    if (hold) lock = std::unique_lock<std::recursive_mutex>(hold.as<XmlSigContext>()->inUse);
  }
  XmlSigContext* get() const { return hold.as<XmlSigContext>(); }

 private:
  HandleHold hold;
  std::unique_lock<std::recursive_mutex> lock;
};

// Guards the ties between messages and the contexts their signatures point into
// (MsgInfoXml::source, XmlSigContext::messages): a message and its context may go on two
// threads at once.
std::mutex& tiesLock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: handles may go at exit
  return *lock;
}

// The document handle when it is one of the context's documents.
TVxmlDoc* documentOf(XmlSigContext* context, tvXmlDoc* handle) {
  for (TVxmlDoc* doc : context->docs.items)
    if (reinterpret_cast<tvXmlDoc*>(doc) == handle) return doc;
  return nullptr;
}

// The parser of an XML signature handle, which `hold` holds for the call; null for anything
// else.
const XmlSigParser* parserOf(const talSigInfo* handle, HandleHold& hold) {
  hold = HandleHold(handle, HandleKind::Signature);
  const SigInfo* info = hold.as<const SigInfo>();
  if (!info) return nullptr;
  auto* props = dynamic_cast<SignaturePropertiesXml*>(info->properties);
  return props ? &props->sigParser() : nullptr;
}

// "XPath: " and the node's path; nothing when there is none. The path is
// UTF-8 (element names as the document spells them, a long one cut anywhere):
// a data item of the report, not a Windows-1250 text.
void writeNodePath(talCtx* ctx, XmlNodePaths& paths, xmlNodePtr node) {
  std::string path;
  if (!ctx->report.accepts() || !paths.path(node, path)) return;
  ctx->report << "XPath: ";
  ctx->report.writeData(path);
  ctx->report << "\r\n";
}

// The step name xmlGetNodePath gives an element: "prefix:name" (cut as its
// 100-byte buffer cuts it), the name without a namespace, "*" in a default
// namespace.
std::string stepName(xmlNodePtr e) {
  const char* name = reinterpret_cast<const char*>(e->name);
  if (!e->ns) return name;
  if (!e->ns->prefix) return "*";
  std::string prefixed = std::string(reinterpret_cast<const char*>(e->ns->prefix)) + ":" + name;
  if (prefixed.size() > 98) prefixed.resize(98);
  return prefixed;
}

// What xmlGetNodePath counts as the same name: the name and, with a
// namespace, its prefix ("" for none; never "*", which counts every element).
std::string sameNameKey(xmlNodePtr e) {
  std::string key(reinterpret_cast<const char*>(e->name));
  key += '\0';
  if (e->ns && e->ns->prefix) key += reinterpret_cast<const char*>(e->ns->prefix);
  else if (e->ns) key += '\0';
  return key;
}

// Everything up to the last separator cut off ('/' and '\' both count).
std::string documentName(const char* path) {
  std::string name(path);
  size_t cut = name.find_last_of("/\\");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

int32_t setOptionBody(XmlSigContext* context, int32_t option, const void* value, int32_t length) {
  if (!context || !value || length != 4 || option < 0 || option > 5) return ETAL_API_INV_PAR;
  uint32_t v;
  std::memcpy(&v, value, sizeof v);
  switch (option) {
    case 0:
      if (v > 2) return ETAL_API_INV_PAR;
      context->option0 = static_cast<int32_t>(v);
      return 0;
    case 1:
      if (v != 0 && (v & 7u) == 0) return ETAL_API_INV_PAR;
      context->option1 = v;
      return 0;
    case 2:
      if (v != 0 && (v & 2u) == 0) return ETAL_API_INV_PAR;
      context->option2 = v;
      return 0;
    case 3:
      context->option3 = v;
      context->option3Set = 1;
      return 0;
    case 4:
      // Once asked for, ownership stays asked for.
      if (v != 0) context->option4 = 1;
      return 0;
    default:
      context->option5 = v != 0 ? 1 : 0;
      return 0;
  }
}

int32_t loadDocFileBody(XmlSigContext* context, const char* path, void* owner, tvXmlDoc** out) {
  if (!context || !path || !out) return ETAL_API_INV_PAR;
  // Only a regular file is a document: opening a named pipe would wait for a
  // writer.
  auto file = std::make_unique<File>();
  if (file->openRegular(path) != 0) return ETAL_OP_INFILE;
  if (file->size() == 0) return ETAL_RD_INFILE;
  std::string name = documentName(path);
  if (name.empty()) return ETAL_API_INV_PAR;
  std::unique_ptr<TVxmlDoc> doc(
      new (std::nothrow) TVxmlDoc(owner ? 1 : 0, name.c_str(), file.get(), true, 0, context));
  if (!doc) return ETAL_MEM;
  file.release();
  context->docs.items.push_back(doc.get());
  *out = reinterpret_cast<tvXmlDoc*>(doc.release());
  return 0;
}

// A write-only stream over a file descriptor, in blocks: the signed object goes
// to its file as it is serialised, never held whole in memory.
class DescriptorSink : public GenericFile {
 public:
  explicit DescriptorSink(int fd) : fd(fd) {}
  int32_t read(uint32_t, uint8_t*, uint32_t*) override { return -1; }
  int32_t seek(int32_t) override { return -1; }
  uint32_t tell() override { return static_cast<uint32_t>(total); }
  uint32_t size() override { return static_cast<uint32_t>(total); }
  int32_t write(uint32_t length, const uint8_t* data) override {
    if (failed || (length && !data)) return -1;
    if (pending.size() + length > BLOCK && !flush()) return -1;
    if (length >= BLOCK) {
      failed = platform::writeFile(fd, data, length) != length;
    } else {
      pending.insert(pending.end(), data, data + length);
    }
    total += length;
    return failed ? -1 : 0;
  }
  bool flush() {
    if (!failed && !pending.empty())
      failed = platform::writeFile(fd, pending.data(), pending.size()) != pending.size();
    pending.clear();
    return !failed;
  }

 private:
  static constexpr size_t BLOCK = 1 << 16;
  int fd;
  std::vector<uint8_t> pending;
  uint64_t total = 0;
  bool failed = false;
};

int32_t saveObjFileBody(XmlSigContext* context, const talSigInfo* signature, int32_t index,
                        const char* path) {
  if (!context || !signature || index < 0 || !path) return ETAL_API_INV_PAR;
  HandleHold hold;
  const XmlSigParser* parser = parserOf(signature, hold);
  // The index is checked before the path is touched: a wrong index leaves
  // whatever the path holds as it was.
  if (!parser || index >= parser->countSignedObjects()) return ETAL_API_INV_PAR;
  // Through a temporary file renamed over the path: a failure never leaves a
  // half-written file, nor touches a file that was there. Not synced: an output
  // file like any other, which the receipt can give again.
  int32_t result = ETAL_OP_OUTFILE;
  bool saved = platform::replaceFileContentWith(
      path,
      [&](int fd) {
        DescriptorSink sink(fd);
        result = parser->saveSignedObject(index, &sink);
        if (result > 10) return false;
        if (!sink.flush()) result = ETAL_WR_OUTFILE;
        return result <= 10;
      },
      0666, false);
  if (!saved) return result > 10 ? result : ETAL_OP_OUTFILE;
  return result;
}

// The selection of the encrypted elements (the context's array replaced) and
// their decryption: 0 and whether something was decrypted, or a result code.
int32_t decryptDocument(talCtx* ctx, XmlSigContext* context, TVxmlDoc* doc, const char* expression,
                        bool* decrypted) {
  *decrypted = false;
  if (doc->owner != 0) return ETAL_API_INV_PAR;
  int32_t parsed = doc->ensureParsed();
  if (parsed != 0) return parsed;
  std::vector<xmlNodePtr> found;
  if (!expression) {
    int32_t rc = xpointerSelectNodes(doc->holder, XPOINTER_ENCRYPTED_DATA, found);
    if (rc > 10) return rc;
  } else {
    // An explicit expression names what to verify; of what it selects only
    // encrypted elements are decrypted before the signatures are looked for.
    if (!*expression) return ETAL_API_INV_PAR;
    std::vector<xmlNodePtr> nodes;
    int32_t rc = xpointerSelectNodes(doc->holder, expression, nodes);
    if (rc > 10) return rc;
    if (nodes.empty()) return ETAL_XML_EMPTY_TRANSFORM;
    for (xmlNodePtr n : nodes)
      if (isElement(n, "EncryptedData", xmlc::NS_XENC.data())) found.push_back(n);
  }
  context->encryptedData = found;
  if (found.empty()) return 0;
  context->selectedRoot = doc->holder->root;
  if (!(ctx->operationMask & MASK_DECRYPT)) return ETAL_KEYS_NOT_PRES;
  // An element inside another selected one is replaced with its ancestor and
  // freed: it is marked now, while every selected node is alive, and skipped.
  // Ancestors are at most the tree's depth: linear in the selection.
  std::unordered_set<xmlNodePtr> selected(found.begin(), found.end());
  std::vector<bool> nested(found.size(), false);
  for (size_t i = 0; i < found.size(); ++i)
    for (xmlNodePtr up = found[i]->parent; up && !nested[i]; up = up->parent)
      nested[i] = selected.count(up) != 0;
  // The elements go: messages handed out earlier, whose signatures may point
  // at them, hand out nothing of the changed documents any more.
  {
    std::lock_guard<std::mutex> ties(tiesLock());
    for (MsgInfoXml* m : context->messages) m->forgetDocuments();
  }
  context->signatures.clear();
  int32_t result = 0;
  for (size_t i = 0; i < found.size() && result == 0; ++i) {
    if (nested[i]) continue;
    XmlNodePaths paths;  // the tree changes with every element decrypted
    writeNodePath(ctx, paths, found[i]);
    result = xmlDecryptElement(ctx, context, found[i]);
    *decrypted = true;
  }
  // The elements were replaced (or may have been): none is pointed at again.
  context->encryptedData.clear();
  // The root element itself may have been one of them (a whole document
  // encrypted): the one there now is the root from here on.
  doc->holder->root = xmlDocGetRootElement(doc->holder->doc);
  context->selectedRoot = doc->holder->root;
  // The new elements in document order too (canonicalisation's fast path).
  xmlStampDocumentOrder(doc->holder->doc);
  if (result == 0 && !doc->holder->root) return ETAL_INV_TAL_MSG;
  return result;
}

// More signatures than one document may carry (selection answers TOO_MANY_SIGNATURES, which
// is no result code of the table and never leaves this unit).
const size_t MAX_SIGNATURES_PER_DOCUMENT = 4096;
const int32_t TOO_MANY_SIGNATURES = -1;

// Selection of the signatures into the context's array: 0 or a result code.
int32_t selectSignatures(XmlSigContext* context, TVxmlDoc* doc, const char* expression) {
  if (doc->owner != 0) return ETAL_API_INV_PAR;
  int32_t parsed = doc->ensureParsed();
  if (parsed != 0) return parsed;
  std::vector<xmlNodePtr> found;
  int32_t rc = xpointerSelectNodes(doc->holder,
                                   expression ? expression : XPOINTER_SIGNATURES, found);
  if (rc > 10) return rc;
  // Each signature keeps its records and report lines until the message goes: a document of
  // tens of thousands of tiny signatures would hold hundreds of megabytes.
  if (found.size() > MAX_SIGNATURES_PER_DOCUMENT) return TOO_MANY_SIGNATURES;
  context->signatures = found;
  if (!found.empty()) {
    context->selectedRoot = doc->holder->root;
    context->selectedDocument = doc;
  }
  return 0;
}

// The verification time word as a time (seconds since 1970, UTC); null for 0.
std::unique_ptr<ASNgenTime> verificationTimeOf(const talCtx* ctx) {
  if (ctx->verificationTime == 0) return nullptr;
  struct tm t = {};
  if (!platform::toUtcTime(ctx->verificationTime, t)) return nullptr;
  auto time = std::make_unique<ASNgenTime>();
  time->set(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return time;
}

int32_t verifySignatures(talCtx* ctx, XmlSigContext* context, TVxmlDoc* doc, const char* expression,
                         MsgInfoXml* message) {
  if (!(ctx->operationMask & MASK_VERIFY)) return ETAL_KEYS_NOT_PRES;
  int32_t rc = selectSignatures(context, doc, expression);
  if (rc == TOO_MANY_SIGNATURES) {
    ctx->report << "Zbyt wiele podpisów Xml Signature w podanym dokumencie!\r\n";
    return ETAL_INV_TAL_MSG;
  }
  if (rc != 0) return rc;
  if (context->signatures.empty()) {
    ctx->report << "Brak podpisów Xml Signature w podanym dokumencie!\r\n";
    return ETAL_INV_TAL_MSG;
  }
  message->status = SIG_STATUS_VALID;
  XmlSignatureSetup setup = xmlSignatureSetup(ctx, context);
  // One account for the whole document's verification, whatever the number of
  // its signatures: their transforms, digests, key checks, paths and
  // revocation all charge it, and its clock is the net.
  // It grows with all the octets verified: the document's, and those of the
  // detached files it may digest.
  uint64_t octets = doc->holder->octets;
  for (TVxmlDoc* other : setup.docs)
    if (other != doc && other->reader) octets += static_cast<uint64_t>(other->reader->size());
  // What the document's decoded values may hold is what its tree leaves of
  // the process's figure for it.
  const uint64_t treeAllowance = xmlMemoryAllowance(doc->holder->octets);
  const uint64_t treeLeft = xmlDocumentMemoryLeft(doc->holder->doc);
  setup.account =
      WorkAccount::forDocument(octets, treeAllowance > treeLeft ? treeAllowance - treeLeft : 0);
  WorkAccountScope charged(setup.account.get());
  // The signatures' records keep the account after this call; their later
  // work is no longer this verification's.
  struct CloseAfter {
    WorkAccount& account;
    ~CloseAfter() { account.close(); }
  } closeAfter{*setup.account};
  // A refused document leaves the context as it was for later documents: no
  // CRL it brought is kept (a forged newer CRL would make theirs incomplete)
  // nor moved, no certificate it carried is remembered, no path cached.
  VerificationSnapshot before(*ctx);
  auto refuse = [&] {
    before.restore();
    // The line that says why is the library's, not the document's work: its
    // report takes it though the account is over or the report cut.
    ctx->reportBuffer.lastWord(MSG_DOCUMENT_WORK);
    return xmlrc::TRANSFORM_FAILED;
  };
  std::unique_ptr<ASNgenTime> verificationTime = verificationTimeOf(ctx);
  int number = 0;
  XmlNodePaths paths;
  // Verification only reads the tree: its Ids are indexed once for all the signatures.
  XmlIdIndexScope ids(doc->holder->doc);
  for (xmlNodePtr element : context->signatures) {
    // Work that charges nothing (reading properties, writing the report) is
    // judged by the clock between signatures.
    if (setup.account->timeSpent()) return refuse();
    ctx->report << "\r\n";
    ctx->report.writeFormatted("---- PODPIS NUMER: %d ----\r\n", ++number);
    writeNodePath(ctx, paths, element);
    auto info = std::make_unique<SigInfo>();
    info->owner = message;
    info->setProperties(new SignaturePropertiesXml(ctx, setup, element));
    try {
      SignatureVerifier verifier(ctx);
      verifier.verifyAt(info.get(), info->properties, ctx->timeMark.get(), verificationTime.get());
    } catch (const TalApiException& e) {
      if (!setup.account->over()) return e.getCode();
    } catch (...) {
      // A primitive the account's net refused may fail as malformed input
      // does there (a decoder's invariant): still the account's refusal.
      if (!setup.account->over()) throw;
    }
    // Work refused below for want of the account (a key check, a path, a CRL)
    // is no verdict on the signature: the document is refused as a whole.
    if (setup.account->over()) return refuse();
    if (!message->addSignature(info.get())) return ETAL_MEM;
    info.release();
  }
  // The last signature's uncharged work is judged by the clock as each one's before was by the
  // next's: a document past its allowance is refused whichever signature spent it.
  if (setup.account->timeSpent()) return refuse();
  return 0;
}

// The octets a verification may read: the context's documents, the one
// verified and the detached files it may digest (their sizes as their readers
// give them, before any is parsed).
uint64_t documentOctets(const XmlSigContext* context) {
  uint64_t octets = 0;
  for (const TVxmlDoc* d : context->docs.items) {
    const uint32_t size = d->reader ? d->reader->size() : 0;
    if (size != 0xFFFFFFFFu) octets += size;
  }
  return octets;
}

int32_t unprotectBody(talCtx* handle, XmlSigContext* context, tvXmlDoc* document,
                      const char* expression, talMsgInfo** out) {
  if (!handle || !context || !document || !out) return ETAL_API_INV_PAR;
  CtxUse use(handle);
  if (use.code() != 0) return use.code();
  // A context that a message owns already is that message's: a second
  // ownership would free it twice.
  if (context->owner) return ETAL_API_INV_PAR;
  TVxmlDoc* doc = documentOf(context, document);
  if (!doc) return ETAL_API_INV_PAR;
  talCtx* ctx = checkCtxAndResetReport(use);
  ctx->reportBuffer.bound(documentOctets(context));
  ctx->report.writeUtcTime("---- RAPORT Z ODBEZPIECZANIA WIADOMOŚCI: %s ----\r\n");
  bool decrypted = false;
  int32_t rc = decryptDocument(ctx, context, doc, expression, &decrypted);
  if (rc != 0) return rc;
  auto message = std::make_unique<MsgInfoXml>();
  rc = verifySignatures(ctx, context, doc, expression, message.get());
  if (rc != 0) return rc;
  message->messageType = decrypted ? XML_MESSAGE_SIGNED_DECRYPTED : XML_MESSAGE_SIGNED;
  message->attach(context);  // first: it may throw, and then nothing is adopted
  if (context->option4 && !message->adopt(context)) return ETAL_API_INV_PAR;
  *out = reinterpret_cast<talMsgInfo*>(static_cast<MsgInfo*>(message.release()));
  return 0;
}

}  // namespace

XmlDecryptFunction xmlDecryptElement = decryptWithUserKey;

XmlSignatureSetup xmlSignatureSetup(talCtx* ctx, XmlSigContext* context) {
  XmlSignatureSetup setup;
  setup.root = context->selectedRoot;
  setup.docs = context->documentList();
  setup.mode = 1;
  int32_t digest = ctx->configuration.getDigestAlgorithm(false, true);
  setup.configuredDigest = digest > 0 ? static_cast<uint32_t>(digest) : 0;
  setup.report = &ctx->report;
  setup.ids = &context->ids;
  useStoreMatchers(setup);
  useContextTimeStamps(setup, ctx);
  return setup;
}

XmlSigContext::XmlSigContext() : creator(nullptr), documentSet(nullptr) {
  std::unique_ptr<XmlSigCreator> c(new XmlSigCreator(this));
  documentSet = new XmlDocumentSet(this);
  creator = c.release();
}

XmlSigContext::~XmlSigContext() {
  unregisterContext(this);
  std::lock_guard<std::mutex> ties(tiesLock());
  for (MsgInfoXml* m : messages) {
    m->forgetDocuments();
    m->source = nullptr;
  }
  delete creator;
  delete documentSet;
}

std::vector<TVxmlDoc*> XmlSigContext::documentList() const {
  return std::vector<TVxmlDoc*>(docs.items.begin(), docs.items.end());
}

MsgInfoXml::~MsgInfoXml() {
  // No call reads the message from here on; untied first, so a context going meanwhile on
  // another thread no longer walks its signatures.
  dropHandle(this);
  {
    std::lock_guard<std::mutex> ties(tiesLock());
    if (source) {
      std::vector<MsgInfoXml*>& list = source->messages;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
  }
  deleteAll();
  if (context) {
    // Dropped before it is disowned: a tvXmlDeleteCtx weighing it meanwhile sees it owned.
    unregisterContext(context);
    context->owner = nullptr;
    delete context;
  }
}

bool MsgInfoXml::adopt(XmlSigContext* c) {
  if (!c || c->owner || context) return false;
  c->owner = this;
  context = c;
  return true;
}

void MsgInfoXml::attach(XmlSigContext* c) {
  std::lock_guard<std::mutex> ties(tiesLock());
  c->messages.push_back(this);
  source = c;
}

namespace {

// The elements of a signature and of its counter-signatures, forgotten. A call reading the
// signature (saving a signed object) is waited for, and none begins meanwhile.
void forgetElements(SigInfo* info) {
  HandlePause pause(info);
  auto* props = info ? dynamic_cast<SignaturePropertiesXml*>(info->properties) : nullptr;
  if (!props) return;
  for (XmlRef* r : props->sigParser().references.items) r->target = nullptr;
  // In one walk: reaching each by index walked the list again.
  for (SigInfo* counter : props->properties().counterSignatures.items) forgetElements(counter);
}

}  // namespace

void MsgInfoXml::forgetDocuments() {
  for (POSITION p = GetHeadPosition(); p;) forgetElements(GetNext(p));
}

void XmlNodePaths::countChildren(xmlNodePtr parent) {
  if (!counted.insert(parent).second) return;
  std::unordered_map<std::string, int> seen;
  std::vector<xmlNodePtr> elements;
  for (xmlNodePtr c = parent->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    Occurrence& o = occurrences[c];
    o.sameName = seen[sameNameKey(c)]++;
    o.elements = static_cast<int>(elements.size());
    elements.push_back(c);
  }
  for (xmlNodePtr c : elements) {
    Occurrence& o = occurrences[c];
    o.shared = seen[sameNameKey(c)] > 1;
    o.alone = elements.size() == 1;
  }
}

bool XmlNodePaths::path(xmlNodePtr node, std::string& out) {
  out.clear();
  if (!node) return false;
  if (node->type == XML_DOCUMENT_NODE) {
    out = "/";
    return true;
  }
  if (node->type != XML_ELEMENT_NODE) return false;
  std::vector<const std::string*> steps;
  size_t length = 0;
  for (xmlNodePtr e = node; e && e->type != XML_DOCUMENT_NODE; e = e->parent) {
    if (e->type != XML_ELEMENT_NODE || !e->parent) return false;
    countChildren(e->parent);
    Occurrence& o = occurrences[e];
    if (o.step.empty()) {
      const bool generic = e->ns && !e->ns->prefix;  // "*": every element counts
      const int before = generic ? o.elements : o.sameName;
      const bool others = generic ? !o.alone : o.shared;
      o.step = "/" + stepName(e);
      if (before > 0)
        o.step += "[" + std::to_string(before + 1) + "]";
      else if (others)
        o.step += "[1]";
    }
    length += o.step.size();
    if (length > XML_MAX_EXPRESSION_LENGTH) return false;
    steps.push_back(&o.step);
  }
  out.reserve(length);
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) out += **it;
  return true;
}

void writeReportEnd(talCtx* ctx, int32_t code) {
  const char* text = talErrorText(ctx, code);
  ctx->report << (text ? text : "") << "\r\n";
  ctx->report.writeUtcTime("---- KONIEC RAPORTU: %s ----\r\n");
}

extern "C" {

int32_t tvXmlCreateCtx(tvXmlCtx** out) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
    if (!out) return ETAL_API_INV_PAR;
    auto context = std::make_unique<XmlSigContext>();
    registerContext(context.get());
    *out = reinterpret_cast<tvXmlCtx*>(context.release());
    return 0;
  });
}

int32_t tvXmlDeleteCtx(tvXmlCtx* handle) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
    // An owned context dies with its message (tvXmlDeleteMsgInfo). Taken in one step with that
    // check, once no other call uses it: of two deletes one frees it.
    XmlSigContext* context = reinterpret_cast<XmlSigContext*>(handle);
    if (!takeHandle(handle, HandleKind::XmlContext, nullptr, [&] { return !context->owner; }))
      return ETAL_API_INV_PAR;
    delete context;
    return 0;
  });
}

int32_t tvXmlSetOption(tvXmlCtx* handle, int32_t option, const void* value, int32_t length) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&] {
    XmlCtxUse use(handle);
    return setOptionBody(use.get(), option, value, length);
  });
}

int32_t tvXmlLoadDocFile(tvXmlCtx* handle, const char* path, void* owner, tvXmlDoc** document) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&] {
    XmlCtxUse use(handle);
    return loadDocFileBody(use.get(), path, owner, document);
  });
}

int32_t tvXmlUnprotect(talCtx* ctx, tvXmlCtx* handle, tvXmlDoc* document, const char* expression,
                       talMsgInfo** message) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&] {
    XmlCtxUse use(handle);
    return unprotectBody(ctx, use.get(), document, expression, message);
  });
}

int32_t tvXmlGetObjCount(tvXmlCtx* handle, const talSigInfo* signature, int32_t* count) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
    XmlCtxUse context(handle);
    if (!context.get() || !signature || !count) return ETAL_API_INV_PAR;
    HandleHold hold;
    const XmlSigParser* parser = parserOf(signature, hold);
    if (!parser) return ETAL_API_INV_PAR;
    const int64_t total = static_cast<int64_t>(*count) + parser->countSignedObjects();
    if (total > INT32_MAX) return ETAL_API_INV_PAR;  // the caller's counter would wrap
    *count = static_cast<int32_t>(total);
    return 0;
  });
}

int32_t tvXmlSaveObjFile(tvXmlCtx* handle, const talSigInfo* signature, int32_t index,
                         const char* path) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&] {
    XmlCtxUse use(handle);
    return saveObjFileBody(use.get(), signature, index, path);
  });
}

int32_t tvXmlDeleteMsgInfo(talMsgInfo* handle) {
  return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
    // Looked up before the cast: a freed message or another kind of handle is no object. Taken
    // in one step, once no other call reads it: of two deletes one frees it.
    MsgInfoXml* message = nullptr;
    if (!takeHandle(handle, HandleKind::Message, nullptr, [&] {
          message = dynamic_cast<MsgInfoXml*>(reinterpret_cast<MsgInfo*>(handle));
          return message != nullptr;
        }))
      return ETAL_API_INV_PAR;
    delete message;
    return 0;
  });
}

}  // extern "C"
