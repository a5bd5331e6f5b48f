// Name texts read and written by the XML conversions, compared with openssl's
// RFC 2253 rendering of names it encoded itself (dn/N.der, dn/N.txt by gen_dn.sh).
#include "base/talexception.h"
#include "store/dnutils.h"
#include "xmlsig/conv_xml.h"
#include "xmlsig/xmlcodes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/xmlsig/dn/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// openssl's spellings that the XML name text writes differently: keywords, and a
// trailing blank escaped as "\ " where the XML text writes "\20".
std::string asXmlText(std::string s) {
  const std::pair<std::string, std::string> keywords[] = {
      {"emailAddress=", "EMAILADDRESS="}, {"serialNumber=", "SERIALNUMBER="}, {"title=", "T="}};
  for (const auto& k : keywords)
    for (size_t p = s.find(k.first); p != std::string::npos; p = s.find(k.first, p + 1))
      if (p == 0 || s[p - 1] == ',') s.replace(p, k.first.size(), k.second);
  for (size_t p = s.find("\\ ,"); p != std::string::npos; p = s.find("\\ ,", p))
    s.replace(p, 2, "\\20");
  if (s.size() >= 2 && s.compare(s.size() - 2, 2, "\\ ") == 0) s.replace(s.size() - 2, 2, "\\20");
  return s;
}

TEST(DnConversions, WrittenAndReadLikeOpenssl) {
  for (int n = 0; n < 5; ++n) {
    std::string der = fixture(std::to_string(n) + ".der");
    std::string text = fixture(std::to_string(n) + ".txt");
    ASSERT_FALSE(der.empty());
    DistinguishedName name;
    ASSERT_GT(name.decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()),
                                static_cast<int>(der.size()), 0),
              0);
    std::string out;
    convXml::dnToString(&name, out);
    EXPECT_EQ(out, asXmlText(text)) << n;

    DistinguishedName parsed;
    convXml::parseDN(asXmlText(text), parsed, makeDnAttribute);
    EXPECT_TRUE(parsed == name) << n;
    std::string again;
    convXml::dnToString(&parsed, again);
    EXPECT_EQ(again, out) << n;
  }
}

TEST(DnConversions, OrderHexValuesAndRefusals) {
  DistinguishedName name;
  convXml::parseDN("CN=Name,O=Org,C=PL", name, makeDnAttribute);
  ASSERT_EQ(name.GetCount(), 3);
  std::string first;
  static_cast<RDname*>(PointerList::GetAt(name.FindIndex(0)))
      ->getAttribute(0)
      ->type.toString(first);
  EXPECT_EQ(first, "2.5.4.6");

  DistinguishedName hex;
  convXml::parseDN("2.5.4.45=#030200FF,CN=x", hex, makeDnAttribute);
  std::string out;
  convXml::dnToString(&hex, out);
  EXPECT_EQ(out, "2.5.4.45=#030200FF,CN=x");

  const char* bad[] = {"CN=\"a,b", "XX=1", "CN", "CN=#GG", "cn=x"};
  for (const char* t : bad) {
    DistinguishedName d;
    try {
      convXml::parseDN(t, d, makeDnAttribute);
      ADD_FAILURE() << t;
    } catch (const TalApiException& e) {
      EXPECT_EQ(e.getCode(), xmlrc::INV_MSG) << t;
    }
  }
  // A multi-valued RDN (CN=a + O=b) has no one-attribute text: refused, not cut short.
  const unsigned char multi[] = {0x30, 0x16, 0x31, 0x14, 0x30, 0x08, 0x06, 0x03,
                                 0x55, 0x04, 0x03, 0x0C, 0x01, 0x61, 0x30, 0x08,
                                 0x06, 0x03, 0x55, 0x04, 0x0A, 0x0C, 0x01, 0x62};
  DistinguishedName mv;
  ASSERT_EQ(mv.decodeBuffer(multi, sizeof multi, 0), static_cast<int>(sizeof multi));
  try {
    convXml::dnToString(&mv, out);
    ADD_FAILURE() << out;
  } catch (const TalApiException& e) {
    EXPECT_EQ(e.getCode(), xmlrc::INV_MSG);
  }
  EXPECT_THROW(convXml::dnToString(nullptr, out), std::runtime_error);
}

}  // namespace
