#include "xmlsig/xmlb64transform.h"

#include "base/b64file.h"
#include "base/commonerror.h"
#include "base/talexception.h"

#include <vector>

namespace {
const char* const SRC = "XML/libxmlsignature/xmlb64transform";
}

void XmlB64MemoryTransform::applyToMemory(const uint8_t* bytes, uint32_t length) {
  output.clear();
  // No octets (a transform over an empty element) come from the document, not
  // from a fault of ours: the decoder's "nothing decoded" answer.
  if (!bytes || length == 0 || length > 0x3FFFFFF0u) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  if (decode) {
    // White space goes before decoding, tested inline into a buffer sized once: a call
    // per octet was a third of the time of a document naming one large object many times.
    std::string text(length, '\0');
    size_t kept = 0;
    for (uint32_t i = 0; i < length; ++i) {
      const uint8_t b = bytes[i];
      if (b != '\t' && b != '\n' && b != '\r' && b != ' ') text[kept++] = static_cast<char>(b);
    }
    text.resize(kept);
    std::vector<uint8_t> out(text.size() + 4);
    int32_t n = text.empty()
                    ? 0
                    : decodeBase64Block(text.data(), static_cast<int32_t>(text.size()), out.data());
    if (n <= 0) throw TalApiException(xmlrc::TRANSFORM_FAILED);
    output.assign(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
  } else {
    std::vector<char> out(2 * static_cast<size_t>(length) + 4);
    int32_t n = encodeBase64Buffer(bytes, static_cast<int32_t>(length), out.data());
    if (n <= 0) throw TalApiException(xmlrc::TRANSFORM_FAILED);
    output.assign(out.data(), static_cast<size_t>(n));
  }
}

XmlNodeContToMemTransform::~XmlNodeContToMemTransform() {
  if (output) xmlFree(output);
}

void XmlNodeContToMemTransform::applyToNode(xmlNodePtr node) {
  checkInvariant(node != nullptr, SRC, 91, "startNode != NULL");
  if (output) xmlFree(output);
  output = xmlNodeGetContent(node);
  if (!output) throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  length = static_cast<uint32_t>(xmlStrlen(output));
}
