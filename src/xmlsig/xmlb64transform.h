// Base64 decoding and encoding of octets, and the text content of a node.
#pragma once

#include "xmlsig/xmltransform.h"

class XmlB64MemoryTransform : public XmlTransform {
 public:
  explicit XmlB64MemoryTransform(bool decode)
      : XmlTransform(0, XML_DATA_OCTETS, XML_DATA_OCTETS), decode(decode ? 1 : 0) {}
  const uint8_t* outputBytes() override { return reinterpret_cast<const uint8_t*>(output.data()); }
  uint32_t outputLength() override { return static_cast<uint32_t>(output.size()); }
  void applyToMemory(const uint8_t* bytes, uint32_t length) override;

  uint32_t decode;
  std::string output;
};

class XmlNodeContToMemTransform : public XmlTransform {
 public:
  XmlNodeContToMemTransform() : XmlTransform(0, XML_DATA_OCTETS, XML_DATA_NODE) {}
  ~XmlNodeContToMemTransform() override;
  const uint8_t* outputBytes() override { return output; }
  uint32_t outputLength() override { return length; }
  void applyToNode(xmlNodePtr node) override;

  xmlChar* output = nullptr;
  uint32_t length = 0;
};
