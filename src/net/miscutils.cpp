// The LDAP query of the certificate and CRL searches.
#include "net/miscutils.h"

#include "base/commonerror.h"
#include "pki/names/dname.h"
#include "pki/names/dnprint.h"
#include "pki/common/oids.h"

#include <cstdio>
#include <string>

namespace {

// The country as a DN attribute value (RFC 4514 escaping): a value taken
// from a stranger's name must not add components to the search base.
std::string escapeDnValue(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    bool edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == value.size() && c == ' ');
    if (c < 0x20 || c == 0x7F) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "\\%02X", c);
      out += hex;
      continue;
    }
    if (edge || c == '"' || c == '+' || c == ',' || c == ';' || c == '<' || c == '>' || c == '\\' ||
        c == '=')
      out += '\\';
    out += static_cast<char>(c);
  }
  return out;
}

}  // namespace

void ldapSearchFilter(ServerUrl& out, int kind, const DistinguishedName* name) {
  out.reset();
  out.protocolType = ServerUrl::PROTOCOL_LDAP;
  out.port = 389;
  out.searchBase = "c=PL";
  if (name) {
    name->forEachAttribute([&](const AttributeValue* attribute) {
      if (!attribute || attribute->type != id_at_countryName) return true;
      std::string country;
      dnAppendValue(country, attribute->value);
      if (!country.empty()) out.searchBase = "c=" + escapeDnValue(country);
      return false;
    });
  }
  switch (kind) {
    case LDAP_SEARCH_CERTIFICATES:
      out.addAttribute("userCertificate");
      out.addAttribute("cACertificate");
      out.filterTemplate = "(|(cn=$cn)(sn=$sn)(mail=$mail))";
      break;
    case LDAP_SEARCH_CRLS:
      out.addAttribute("authorityRevocationList");
      out.addAttribute("certificateRevocationList");
      out.filterTemplate = "(|(cn=$cn)(o=$o)(ou=$ou))";
      break;
    default:
      checkInvariant(false, "miscutils", __LINE__, "0");
  }
}
