// The XML signature C API behind its opaque handles: the XML context (its
// documents, the elements its last selections found, its options), the message
// information that tvXmlUnprotect hands out, and the pieces of the unprotect
// flow the other roads share (the closing report line).
#pragma once

#include "asn1/stlptrlist.h"
#include "pki/sig/sigrecords.h"
#include "xmlsig/sigpropsxml.h"
#include "xmlsig/xmlmisc.h"

#include <libxml/tree.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct talCtx;
class XmlSigContext;

// The creator of signatures; the library verifies only, so it stays empty.
class XmlSigCreator {
 public:
  explicit XmlSigCreator(XmlSigContext* context) : context(context) {}

  XmlSigContext* context;  // not owned
  std::string texts[4];
  TVxmlRefs refs;
};

// The documents a signature being created would cover; empty for the same reason.
class XmlDocumentSet {
 public:
  explicit XmlDocumentSet(XmlSigContext* context) : context(context) {}

  XmlSigContext* context;  // not owned
  TVxmlDoc* mainDocument = nullptr;
  std::vector<TVxmlDoc*> documents;  // not owned
  TVxmlRefs refs;
};

class MsgInfoXml;

// The object behind a tvXmlCtx handle.
class XmlSigContext {
 public:
  XmlSigContext();
  ~XmlSigContext();
  XmlSigContext(const XmlSigContext&) = delete;
  XmlSigContext& operator=(const XmlSigContext&) = delete;

  // The loaded documents as the signature parser takes them.
  std::vector<TVxmlDoc*> documentList() const;

  XmlSigCreator* creator;
  XmlDocumentSet* documentSet;
  std::vector<xmlNodePtr> signatures;
  std::vector<xmlNodePtr> encryptedData;
  xmlNodePtr selectedRoot = nullptr;
  StlPointerList<TVxmlDoc> docs;
  TVxmlDoc* selectedDocument = nullptr;
  int32_t option0 = 1;
  uint32_t option1 = 4;
  uint32_t option2 = 2;
  uint32_t option3Set = 0;
  uint32_t option3 = 0;
  std::string texts[3];
  // The Ids of elements that extending a signature creates.
  XmlUniqueIds ids;
  uint8_t option4 = 0;
  uint8_t option5 = 1;
  // The message that owns this context (option 4 after a successful
  // unprotect); only it may destroy the context then.
  MsgInfoXml* owner = nullptr;
  // The messages handed out whose signatures point into these documents (not
  // owned; without option 4 they may outlive the context, which then makes
  // them forget the elements).
  std::vector<MsgInfoXml*> messages;
  // Held by every call on the context: calls of several threads on one context
  // take turns instead of changing its documents and selections under each
  // other.
  std::recursive_mutex inUse;
};

// Message types of MsgInfoXml.
const int32_t XML_MESSAGE_SIGNED = 4;
const int32_t XML_MESSAGE_SIGNED_DECRYPTED = 12;

// The results of one tvXmlUnprotect: one SigInfo per signature, the message
// status, and under option 4 the XML context, which dies with it.
class MsgInfoXml : public MsgInfo {
 public:
  MsgInfoXml() = default;
  // The signatures first (they point into the context's documents), then the
  // owned context.
  ~MsgInfoXml() override;
  MsgInfoXml(const MsgInfoXml&) = delete;
  MsgInfoXml& operator=(const MsgInfoXml&) = delete;

  // Takes the context; false when another message owns it already.
  bool adopt(XmlSigContext* context);
  // Ties the message to the context whose documents its signatures point into.
  void attach(XmlSigContext* source);
  // The documents are going: no signature points at their elements any more.
  void forgetDocuments();

  int32_t messageType = XML_MESSAGE_SIGNED;
  XmlSigContext* context = nullptr;  // owned when not null
  XmlSigContext* source = nullptr;   // not owned; null once it is gone
};

// The paths of elements as libxml2's xmlGetNodePath writes them ("/doc/ds:
// Signature[2]"), for many elements of one unchanged tree: each parent's
// children are counted once, where xmlGetNodePath scans every ancestor's
// siblings for every path (time quadratic in a stranger's sibling count).
class XmlNodePaths {
 public:
  // False when there is no path (no node, a node of another kind) or when it
  // is longer than XML_MAX_EXPRESSION_LENGTH: a stranger's deep chain of long
  // names would otherwise be written again for every signature below it.
  bool path(xmlNodePtr node, std::string& out);

 private:
  struct Occurrence {
    int sameName = 0;     // same-named siblings before it
    int elements = 0;     // element siblings before it
    bool shared = false;  // another sibling has its name
    bool alone = true;    // no other element sibling
    std::string step;     // "/name[n]", once asked for
  };
  void countChildren(xmlNodePtr parent);
  std::unordered_map<xmlNodePtr, Occurrence> occurrences;
  std::unordered_set<xmlNodePtr> counted;
};

// How the signatures of the context's selected document are parsed: the
// configured digest, the context's report, the store matchers, the XML
// context's Ids and the context's time-stamp requests.
XmlSignatureSetup xmlSignatureSetup(talCtx* ctx, XmlSigContext* context);

// Appends the message of a result code, CR LF and the closing line with the
// current time to the context's report.
void writeReportEnd(talCtx* ctx, int32_t code);

// Decrypts one xenc:EncryptedData element in place (it is replaced and freed):
// 0 or a result code. The default decrypts with the user's key
// (ctxdecryption.h); tests put their own in place.
typedef int32_t (*XmlDecryptFunction)(talCtx* ctx, XmlSigContext* context, xmlNodePtr element);
extern XmlDecryptFunction xmlDecryptElement;

