#include "xmlsig/xmlxslttransform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
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
  tctxt->opLimit = XML_XPATH_OP_LIMIT;
  tctxt->maxTemplateDepth = 1000;
  tctxt->maxTemplateVars = 15000;
  xmlDocPtr result;
  {
    XmlNoExternalScope scope;
    result = xsltApplyStylesheetUser(stylesheet, doc, nullptr, nullptr, nullptr, tctxt);
  }
  bool failed = tctxt->state != XSLT_STATE_OK;
  xsltFreeTransformContext(tctxt);
  if (resultDoc) xmlFreeDoc(resultDoc);
  resultDoc = result;
  resultRoot = result ? xmlDocGetRootElement(result) : nullptr;
  if (failed || !resultRoot) {
    // A stopped transformation leaves no partial output behind.
    if (resultDoc) xmlFreeDoc(resultDoc);
    resultDoc = nullptr;
    resultRoot = nullptr;
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
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
