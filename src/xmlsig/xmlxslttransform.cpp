#include "xmlsig/xmlxslttransform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "xmlsig/xmlmemcharge.h"
#include "xmlsig/xmlmisc.h"

#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltutils.h>

namespace {

// Security preferences that refuse every file and network access, document() included.
xsltSecurityPrefsPtr forbidAllPrefs() {
  static xsltSecurityPrefsPtr prefs = [] {
    xsltSecurityPrefsPtr p = xsltNewSecurityPrefs();
    if (p) {
      xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_FILE, xsltSecurityForbid);
      xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
      xsltSetSecurityPrefs(p, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
      xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
      xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
    }
    return p;
  }();
  return prefs;
}

void quietXslt(void*, const char*, ...) {}

// A transformation past its memory or the processor-time net stops at its next
// instruction, and its XPath evaluation at its next operation.
void stopTransformation(void* context) {
  auto* tctxt = static_cast<xsltTransformContextPtr>(context);
  tctxt->state = XSLT_STATE_STOPPED;
  if (tctxt->xpathCtxt) tctxt->xpathCtxt->opCount = tctxt->xpathCtxt->opLimit;
}

}  // namespace

XmlXsltBaseTransform::XmlXsltBaseTransform(uint32_t tag, uint32_t inputKind,
                                           xsltStylesheetPtr stylesheet, bool borrowed)
    : XmlTransform(tag, XML_DATA_NODE, inputKind),
      borrowed(borrowed ? 1 : 0),
      stylesheet(stylesheet) {}

XmlXsltBaseTransform::~XmlXsltBaseTransform() {
  if (resultDoc) xmlFreeDoc(resultDoc);
  if (stylesheet && !borrowed) xsltFreeStylesheet(stylesheet);
}

void XmlXsltBaseTransform::transform(xmlDocPtr doc) {
  if (!stylesheet || !doc) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  xsltSecurityPrefsPtr prefs = forbidAllPrefs();
  if (!prefs) throw TalApiException(xmlrc::MEM);
  xsltTransformContextPtr tctxt = xsltNewTransformContext(stylesheet, doc);
  if (!tctxt) throw TalApiException(xmlrc::MEM);
  xsltSetCtxtSecurityPrefs(prefs, tctxt);
  xsltSetTransformErrorFunc(tctxt, nullptr, quietXslt);
  // Its XPath operations are the chain's work: no more than the budget has left.
  XmlWorkBudget own;
  XmlWorkBudget* spend = budget ? budget : &own;
  const uint64_t left = spend->remaining();
  if (left == 0) {
    xsltFreeTransformContext(tctxt);
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  }
  tctxt->opLimit = static_cast<unsigned long>(left < XML_XPATH_OP_LIMIT ? left : XML_XPATH_OP_LIMIT);
  if (tctxt->xpathCtxt) {
    tctxt->xpathCtxt->opLimit = tctxt->opLimit;
    tctxt->xpathCtxt->opCount = 0;
    tctxt->xpathCtxt->error = xmlQuietStructuredError;
  }
  tctxt->maxTemplateDepth = 1000;
  tctxt->maxTemplateVars = 15000;
  xmlDocPtr result;
  bool overMemory = false;
  {
    XmlMemoryScope memory(xmlDocumentMemoryLeft(doc));
    memory.onOver(stopTransformation, tctxt);
    XmlNoExternalScope scope;
    XmlLibxmlWork work(*spend, stopTransformation, tctxt);
    result = xsltApplyStylesheetUser(stylesheet, doc, nullptr, nullptr, nullptr, tctxt);
    overMemory = memory.over();
  }
  // libxslt's own count and its XPath context's (whichever it keeps)
  unsigned long ops = tctxt->opCount;
  if (tctxt->xpathCtxt && tctxt->xpathCtxt->opCount > ops) ops = tctxt->xpathCtxt->opCount;
  bool withinBudget = spend->charge(1 + ops, true);
  bool failed = tctxt->state != XSLT_STATE_OK || overMemory || !withinBudget;
  xsltFreeTransformContext(tctxt);
  if (resultDoc) xmlFreeDoc(resultDoc);
  resultDoc = result;
  resultRoot = result ? xmlDocGetRootElement(result) : nullptr;
  if (failed || !resultRoot) {
    // A stopped transformation leaves no partial output behind.
    if (resultDoc) xmlFreeDoc(resultDoc);
    resultDoc = nullptr;
    resultRoot = nullptr;
    throw TalApiException(overMemory ? xmlrc::INV_MSG : xmlrc::TRANSFORM_FAILED);
  }
}

void XmlXsltFileTransform::applyToFile(TVxmlDoc* doc) {
  checkInvariant(doc != nullptr, "xml/libxmlsignature/xmlxslttransform", 69, "detachedDoc != NULL");
  int32_t rc = doc->ensureParsed();
  if (rc != 0) throw TalApiException(rc);
  transform(doc->holder->doc);
}

XsltStylesheetCache& XsltStylesheetCache::instance() {
  static XsltStylesheetCache cache;
  return cache;
}

XsltStylesheetCache::~XsltStylesheetCache() {
  std::lock_guard<std::mutex> guard(lock);
  for (auto& entry : sheets) xsltFreeStylesheet(entry.second);
  sheets.clear();
}

xsltStylesheetPtr XsltStylesheetCache::find(const char* name) {
  if (!name) return nullptr;
  std::lock_guard<std::mutex> guard(lock);
  auto it = sheets.find(name);
  return it == sheets.end() ? nullptr : it->second;
}

bool XsltStylesheetCache::add(const std::string& name, xsltStylesheetPtr stylesheet) {
  if (!stylesheet) return false;
  std::lock_guard<std::mutex> guard(lock);
  if (!sheets.emplace(name, stylesheet).second) {
    xsltFreeStylesheet(stylesheet);
    return false;
  }
  return true;
}
