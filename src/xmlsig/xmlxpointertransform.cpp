#include "xmlsig/xmlxpointertransform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "xmlsig/xmlmisc.h"

#include <libxml/xpath.h>

XmlXPointerTransform::XmlXPointerTransform(xmlNodePtr contextNode, const std::string& expression)
    : XmlTransform(7, XML_DATA_NODESET, XML_DATA_OWN),
      contextNode(contextNode),
      expression(expression) {}

XmlXPointerTransform::~XmlXPointerTransform() {
  if (output) xmlXPathFreeNodeSet(output);
}

xmlNodeSetPtr XmlXPointerTransform::outputNodeSet() {
  xmlNodeSetPtr set = output;
  output = nullptr;
  return set;
}

void XmlXPointerTransform::apply() {
  if (!contextNode || !contextNode->doc || expression.empty() ||
      expression.size() > XML_MAX_EXPRESSION_LENGTH || expression.find('\0') != std::string::npos)
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  // Only the same-document forms are resolved, and never by libxml2's XPointer
  // engine: an arbitrary expression is refused, and an Id goes through
  // findNodeById, which refuses an Id that two elements claim (its ID table
  // would answer the first of them).
  std::string id;
  XmlFragmentKind kind = parseSameDocumentFragment(expression, &id);
  if (kind == XML_FRAGMENT_INVALID) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  xmlNodePtr selected = reinterpret_cast<xmlNodePtr>(contextNode->doc);
  if (kind == XML_FRAGMENT_ID)
    findNodeById(contextNode, id.c_str(), &selected);  // 139 when not exactly one
  xmlNodeSetPtr set = xmlXPathNodeSetCreate(selected);
  if (!set) throw TalApiException(xmlrc::MEM);
  if (output) xmlXPathFreeNodeSet(output);
  output = set;
}
