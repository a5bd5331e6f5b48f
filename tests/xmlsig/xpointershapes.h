// Documents for the XPointer bound's tests and benchmark: the crafted shapes'
// nesting, a root with many namespace declarations, and a legitimate document
// of some 50,000 nodes.
#pragma once

#include <string>

// `nesting` nested elements with `children` children inside (empty ones by default), as a
// stranger's ds:Object would hold.
inline std::string xpointerNestedDoc(int children, int nesting = 50,
                                     const std::string& child = "<a/>") {
  std::string s = "<r xmlns:p='urn:p'>";
  for (int i = 0; i < nesting; ++i) s += "<n>";
  for (int i = 0; i < children; ++i) s += child;
  for (int i = 0; i < nesting; ++i) s += "</n>";
  return s + "</r>";
}

// A root declaring 200 prefixes over 1,000 empty elements: a namespace node per element and
// declaration in scope.
inline std::string xpointerNamespacesDoc() {
  std::string s = "<r";
  for (int i = 0; i < 200; ++i)
    s += " xmlns:n" + std::to_string(i) + "='u" + std::to_string(i) + "'";
  s += ">";
  for (int i = 0; i < 1000; ++i) s += "<e/>";
  return s + "</r>";
}

// 500 groups "g<i>" of 24 elements "x<i>_<j>" with an Id, an attribute k and a text each, and
// a p:b: some 50,000 nodes.
inline std::string xpointerLargeDoc() {
  std::string s = "<r xmlns:p='urn:p'>";
  for (int g = 0; g < 500; ++g) {
    s += "<g Id='g" + std::to_string(g) + "'>";
    for (int a = 0; a < 24; ++a)
      s += "<a Id='x" + std::to_string(g) + "_" + std::to_string(a) + "' k='" +
           std::to_string(a % 3) + "'>t</a>";
    s += "<p:b/></g>";
  }
  return s + "</r>";
}

// A receipt of some `items` invoice lines (0.4 KB each: attributes, texts, a comment per ten)
// and an attachment of `rows` rows under one element, and an enveloped ds:Signature: the
// documents signers' enveloped forms go over.
inline std::string xpointerReceiptDoc(int items, int rows) {
  std::string s = "<Document xmlns:inv='urn:tal:invoice' Id='doc'>\n";
  for (int i = 0; i < items; ++i) {
    const std::string n = std::to_string(i);
    if (i % 10 == 0) s += "  <!-- section " + n + " -->\n";
    s += "  <inv:Item Id='item-" + n + "' line='" + n + "'>\n    <inv:Name unit='kg'>Towar nr " +
         n + "</inv:Name>\n    <inv:Amount currency='PLN' vat='23'>" + n +
         ".00</inv:Amount>\n    <Note>Pozycja " + n +
         ": dostawa do magazynu, termin platnosci 30 dni od daty wystawienia faktury, reklamacje "
         "przyjmuje dzial obslugi klienta.</Note>\n  </inv:Item>\n";
  }
  s += "  <Attachment>\n";
  for (int r = 0; r < rows; ++r)
    s += "    <Row n='" + std::to_string(r) + "'>wiersz " + std::to_string(r) + "</Row>\n";
  return s + "  </Attachment>\n  <ds:Signature xmlns:ds='http://www.w3.org/2000/09/xmldsig#'>"
             "<ds:SignedInfo><ds:Reference URI=''/></ds:SignedInfo></ds:Signature>\n</Document>\n";
}
