// Canonical XML 1.0 and Exclusive Canonical XML 1.0 (with or without comments)
// of a subtree, of a node set and of a detached document, through libxml2's C14N.
#pragma once

#include "xmlsig/xmltransform.h"

#include <libxml/xmlIO.h>

class XmlC14DocTransform : public XmlTransform {
 public:
  // selection 1: the start node's subtree; 0: everything except that subtree.
  XmlC14DocTransform(bool withComments, uint8_t selection, bool exclusive,
                     const std::vector<std::string>& prefixes = {});
  ~XmlC14DocTransform() override;
  const uint8_t* outputBytes() override;
  uint32_t outputLength() override;
  void applyToNode(xmlNodePtr node) override;

  std::vector<std::string> prefixes;
  uint8_t withComments;
  uint8_t selection;
  uint8_t exclusive;
  xmlOutputBufferPtr buffer = nullptr;
};

class XmlC14NodeSetTransform : public XmlTransform {
 public:
  XmlC14NodeSetTransform(xmlDocPtr doc, bool withComments, bool exclusive,
                         const std::vector<std::string>& prefixes = {});
  ~XmlC14NodeSetTransform() override;
  const uint8_t* outputBytes() override { return output; }
  uint32_t outputLength() override { return length; }
  void applyToNodeSet(xmlNodeSetPtr set) override;

  std::vector<std::string> prefixes;
  xmlDocPtr doc;
  uint8_t withComments;
  uint8_t exclusive;
  xmlChar* output = nullptr;
  uint32_t length = 0;
};

class XmlC14FileTransform : public XmlTransform {
 public:
  XmlC14FileTransform(bool withComments, bool exclusive);
  ~XmlC14FileTransform() override;
  const uint8_t* outputBytes() override;
  uint32_t outputLength() override;
  void applyToFile(TVxmlDoc* doc) override;

  uint8_t withComments;
  uint8_t exclusive;
  xmlOutputBufferPtr buffer = nullptr;
};

// Visibility rules of a subtree reference (user data: the start node): every
// node, processing instructions included, is visible when it is the start node
// or lies inside its subtree; namespace nodes by their element.
int xmlC14SubtreeVisible(void* startNode, xmlNodePtr node, xmlNodePtr parent);
int xmlC14ExcludingVisible(void* startNode, xmlNodePtr node, xmlNodePtr parent);
