// The LDAP query of the certificate and CRL searches.
#include "net/miscutils.h"

#include "pki/names/dname.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(LdapSearchFilter, KindsCountriesAndEscaping) {
  struct Case {
    int kind;
    const char* name;  // name text (RDNs separated by ","), null for no name
    const char* base;
    const char* first;
    const char* second;
    const char* filter;
  } cases[] = {
      {1, nullptr, "c=PL", "userCertificate", "cACertificate", "(|(cn=$cn)(sn=$sn)(mail=$mail))"},
      {2, "O=x,C=DE", "c=DE", "authorityRevocationList", "certificateRevocationList",
       "(|(cn=$cn)(o=$o)(ou=$ou))"},
      {1, "CN=x", "c=PL", "userCertificate", "cACertificate", "(|(cn=$cn)(sn=$sn)(mail=$mail))"},
      // A country that would add components to the search base is escaped.
      {1, "C=#0C09504C2C6F3D6576696C", "c=PL\\,o\\=evil", "userCertificate", "cACertificate",
       "(|(cn=$cn)(sn=$sn)(mail=$mail))"},
  };
  for (const Case& c : cases) {
    DistinguishedName name;
    if (c.name) {
      ASSERT_TRUE(name.fromText(c.name, -1, 0x800 | 0x20)) << c.name;
    }
    ServerUrl url;
    url.searchBase = "left over";
    url.addAttribute("left over");
    ldapSearchFilter(url, c.kind, c.name ? &name : nullptr);
    EXPECT_EQ(ServerUrl::PROTOCOL_LDAP, url.protocolType);
    EXPECT_EQ(389u, url.port);
    EXPECT_EQ(c.base, url.searchBase);
    ASSERT_EQ(2, url.attributes.GetCount());
    EXPECT_STREQ(c.first, url.attributes.elementAt(0));
    EXPECT_STREQ(c.second, url.attributes.elementAt(1));
    EXPECT_EQ(c.filter, url.filterTemplate);
  }
  ServerUrl url;
  EXPECT_THROW(ldapSearchFilter(url, 3, nullptr), std::runtime_error);
}

}  // namespace
