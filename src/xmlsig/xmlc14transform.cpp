#include "xmlsig/xmlc14transform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "xmlsig/xmlmisc.h"

#include <libxml/c14n.h>

namespace {
const char* const SRC = "XML/libxmlsignature/xmlc14transform";

// Copies of the prefixes as the null-terminated array that libxml2 wants.
class PrefixArray {
 public:
  PrefixArray(bool exclusive, const std::vector<std::string>& prefixes) {
    if (!exclusive || prefixes.empty()) return;
    for (const std::string& p : prefixes) items.push_back(xmlStrdup(BAD_CAST p.c_str()));
    items.push_back(nullptr);
  }
  ~PrefixArray() {
    for (xmlChar* p : items)
      if (p) xmlFree(p);
  }
  xmlChar** get() { return items.empty() ? nullptr : items.data(); }

 private:
  std::vector<xmlChar*> items;
};

bool inSubtree(xmlNodePtr node, xmlNodePtr start) {
  for (int i = 0; node && i <= XML_MAX_TREE_DEPTH * 2; node = node->parent, ++i)
    if (node == start) return true;
  return false;
}

void closeBuffer(xmlOutputBufferPtr& buffer) {
  if (buffer) {
    xmlOutputBufferClose(buffer);
    buffer = nullptr;
  }
}

void runC14N(xmlDocPtr doc, xmlC14NIsVisibleCallback cb, void* user, bool exclusive,
             const std::vector<std::string>& prefixes, bool withComments,
             xmlOutputBufferPtr& buffer) {
  closeBuffer(buffer);
  buffer = xmlAllocOutputBuffer(nullptr);
  if (!buffer) throw TalApiException(xmlrc::MEM);
  PrefixArray array(exclusive, prefixes);
  int rc = xmlC14NExecute(doc, cb, user, exclusive ? XML_C14N_EXCLUSIVE_1_0 : XML_C14N_1_0,
                          array.get(), withComments ? 1 : 0, buffer);
  if (rc < 0 || xmlOutputBufferGetSize(buffer) == 0) {
    closeBuffer(buffer);
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  }
}

const uint8_t* bufferBytes(xmlOutputBufferPtr buffer) {
  return buffer ? reinterpret_cast<const uint8_t*>(xmlOutputBufferGetContent(buffer)) : nullptr;
}
uint32_t bufferLength(xmlOutputBufferPtr buffer) {
  return buffer ? static_cast<uint32_t>(xmlOutputBufferGetSize(buffer)) : 0;
}
}  // namespace

int xmlC14SubtreeVisible(void* startNode, xmlNodePtr node, xmlNodePtr parent) {
  xmlNodePtr start = static_cast<xmlNodePtr>(startNode);
  if (node && node->type == XML_NAMESPACE_DECL) return inSubtree(parent, start) ? 1 : 0;
  return inSubtree(node, start) ? 1 : 0;
}

int xmlC14ExcludingVisible(void* startNode, xmlNodePtr node, xmlNodePtr parent) {
  return xmlC14SubtreeVisible(startNode, node, parent) ? 0 : 1;
}

XmlC14DocTransform::XmlC14DocTransform(bool withComments, uint8_t selection, bool exclusive,
                                       const std::vector<std::string>& prefixes)
    : XmlTransform(withComments ? 2 : 1, XML_DATA_OCTETS, XML_DATA_NODE),
      prefixes(prefixes),
      withComments(withComments ? 1 : 0),
      selection(selection),
      exclusive(exclusive ? 1 : 0) {}

XmlC14DocTransform::~XmlC14DocTransform() { closeBuffer(buffer); }
const uint8_t* XmlC14DocTransform::outputBytes() { return bufferBytes(buffer); }
uint32_t XmlC14DocTransform::outputLength() { return bufferLength(buffer); }

void XmlC14DocTransform::applyToNode(xmlNodePtr node) {
  checkInvariant(node != nullptr, SRC, 47, "idNode != NULL");
  runC14N(node->doc, selection == 1 ? xmlC14SubtreeVisible : xmlC14ExcludingVisible, node,
          exclusive != 0, prefixes, withComments != 0, buffer);
}

XmlC14NodeSetTransform::XmlC14NodeSetTransform(xmlDocPtr doc, bool withComments, bool exclusive,
                                               const std::vector<std::string>& prefixes)
    : XmlTransform(withComments ? 2 : 1, XML_DATA_OCTETS, XML_DATA_NODESET),
      prefixes(prefixes),
      doc(doc),
      withComments(withComments ? 1 : 0),
      exclusive(exclusive ? 1 : 0) {}

XmlC14NodeSetTransform::~XmlC14NodeSetTransform() {
  if (output) xmlFree(output);
}

void XmlC14NodeSetTransform::applyToNodeSet(xmlNodeSetPtr set) {
  if (output) xmlFree(output);
  output = nullptr;
  length = 0;
  // libxml2 reads a missing set as the whole document: a chain that lost its
  // node set must fail, not digest everything.
  if (!set) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  PrefixArray array(exclusive != 0, prefixes);
  int n = xmlC14NDocDumpMemory(doc, set, exclusive ? XML_C14N_EXCLUSIVE_1_0 : XML_C14N_1_0,
                               array.get(), withComments, &output);
  // A node set of only namespace or excluded nodes canonicalises to no octets,
  // which is a valid input of a digest (the W3C interop vectors sign such sets).
  if (n < 0) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  length = static_cast<uint32_t>(n);
}

XmlC14FileTransform::XmlC14FileTransform(bool withComments, bool exclusive)
    : XmlTransform(withComments ? 2 : 1, XML_DATA_OCTETS, XML_DATA_FILE),
      withComments(withComments ? 1 : 0),
      exclusive(exclusive ? 1 : 0) {}

XmlC14FileTransform::~XmlC14FileTransform() { closeBuffer(buffer); }
const uint8_t* XmlC14FileTransform::outputBytes() { return bufferBytes(buffer); }
uint32_t XmlC14FileTransform::outputLength() { return bufferLength(buffer); }

void XmlC14FileTransform::applyToFile(TVxmlDoc* doc) {
  checkInvariant(doc != nullptr, SRC, 244, "detachedDoc != NULL");
  int32_t rc = doc->ensureParsed();
  if (rc != 0) throw TalApiException(rc);
  if (!doc->holder->root) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  // A detached document is canonicalised whole: the nodes before and after its
  // root element (comments when asked for, processing instructions) belong to it.
  runC14N(doc->holder->doc, nullptr, nullptr, exclusive != 0, {}, withComments != 0, buffer);
}
