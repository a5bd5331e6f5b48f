#include "net/serverurl.h"

#include <gtest/gtest.h>

namespace {

TEST(ServerUrl, ResetEmptiesTheRecord)
{
    ServerUrl url;
    url.protocolType = ServerUrl::PROTOCOL_LDAP;
    url.port = 389;
    url.searchBase = "c=PL";
    url.addAttribute("userCertificate");
    url.addAttribute("cACertificate");
    url.filterTemplate = "(|(cn=$cn)(sn=$sn)(mail=$mail))";
    ASSERT_EQ(2, url.attributes.GetCount());
    EXPECT_STREQ("userCertificate", url.attributes.elementAt(0));
    EXPECT_STREQ("cACertificate", url.attributes.elementAt(1));
    url.reset();
    EXPECT_EQ(ServerUrl::PROTOCOL_NONE, url.protocolType);
    EXPECT_EQ(0u, url.port);
    EXPECT_TRUE(url.searchBase.empty());
    EXPECT_EQ(0, url.attributes.GetCount());
    EXPECT_TRUE(url.filterTemplate.empty());
}

} // namespace
