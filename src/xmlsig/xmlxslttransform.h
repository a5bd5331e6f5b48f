// XSLT over a detached document with an admitted, precompiled style sheet, and
// the process-wide cache of compiled style sheets.
#pragma once

#include "xmlsig/xmltransform.h"

#include <map>
#include <mutex>

class XmlXsltBaseTransform : public XmlTransform {
 public:
  XmlXsltBaseTransform(uint32_t tag, uint32_t inputKind, xsltStylesheetPtr stylesheet,
                       bool borrowed);
  ~XmlXsltBaseTransform() override;
  xmlNodePtr outputNode() override { return resultRoot; }

  xmlDocPtr resultDoc = nullptr;
  xmlNodePtr resultRoot = nullptr;
  uint8_t borrowed;
  xsltStylesheetPtr stylesheet;

 protected:
  // Runs the style sheet with no file, network or document() access and
  // libxml2's operation limit.
  void transform(xmlDocPtr doc);
};

class XmlXsltFileTransform : public XmlXsltBaseTransform {
 public:
  XmlXsltFileTransform(xsltStylesheetPtr stylesheet, bool borrowed = true)
      : XmlXsltBaseTransform(4, XML_DATA_FILE, stylesheet, borrowed) {}
  void applyToFile(TVxmlDoc* doc) override;
};

// Compiled style sheets by name (the href of xsl:include). Only sheets put here
// by the application can ever run.
class XsltStylesheetCache {
 public:
  static XsltStylesheetCache& instance();
  ~XsltStylesheetCache();

  xsltStylesheetPtr find(const char* name);
  // Takes ownership of the sheet; false (and the sheet freed) when the name is taken.
  bool add(const std::string& name, xsltStylesheetPtr stylesheet);

 private:
  XsltStylesheetCache() = default;
  std::mutex lock;
  std::map<std::string, xsltStylesheetPtr> sheets;
};
