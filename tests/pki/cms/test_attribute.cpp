// CMS attributes and attribute sets against encodings written by openssl
// (tests/data/pki/attributes/gen.sh): round trips, received order kept until
// a change, DER order after one, and the messageDigest of cms -sign.
#include "pki/cms/attribute.h"

#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "pki/fixture_lines.h"
#include "pki/common/oids.h"

#include <gtest/gtest.h>

using pkitest::hex;
using pkitest::unhex;

namespace {

const auto& rows() {
  static const auto r = pkitest::readFixture("attributes/attrs.txt");
  return r;
}

std::string encode(const ASNobject& o) {
  std::vector<unsigned char> v;
  EXPECT_GT(o.encodeVector(v), 0);
  return hex(v);
}

ASNinteger integer(uint32_t v) {
  ASNinteger i;
  i.set(v);
  return i;
}

TEST(Attribute, RoundTripsAndCopies) {
  int seen = 0;
  for (const auto& r : rows()) {
    if (r[0] != "attr" && r[0] != "signed") continue;
    ++seen;
    const auto der = unhex(r[1]);
    for (unsigned char flags : {0, 1}) {
      Attribute one;
      Attributes set;
      ASNobject& o = r[0] == "attr" ? static_cast<ASNobject&>(one) : set;
      ASSERT_EQ(static_cast<int>(der.size()), o.decodeVector(der, flags)) << r[1];
      EXPECT_EQ(r[1], encode(o));
      if (r[0] == "attr") {
        Attribute copy;
        copy = one;
        EXPECT_EQ(r[1], encode(copy));
      }
    }
    // Cut short, it is refused.
    for (size_t n = 0; n < der.size(); n += 7)
      EXPECT_LE(Attributes().decodeVector(std::vector<unsigned char>(der.begin(), der.begin() + n)),
                0);
  }
  EXPECT_EQ(6, seen);
}

TEST(Attribute, ReceivedOrderUntilChanged) {
  const auto* r = &rows()[4];
  ASSERT_EQ("unsorted", (*r)[0]);
  Attribute a;
  ASSERT_GT(a.decodeVector(unhex((*r)[1])), 0);
  EXPECT_EQ((*r)[1], encode(a));

  ASNinteger four;
  ASSERT_GT(four.decodeVector(unhex((*r)[2])), 0);
  ASSERT_TRUE(a.addValue(four));
  EXPECT_EQ((*r)[3], encode(a));

  // Read in place, it refuses changes and keeps its octets.
  Attribute view;
  const auto der = unhex((*r)[1]);
  ASSERT_GT(view.decodeVector(der, ASN_FLAG_CONST), 0);
  EXPECT_FALSE(view.addValue(four));
  EXPECT_FALSE(view.setValue(four));
  EXPECT_EQ((*r)[1], encode(view));
}

TEST(Attribute, BuiltSetsAreInDerOrder) {
  for (const auto& r : rows()) {
    if (r[0] != "built") continue;
    Attributes set;
    ASSERT_TRUE(setAttribute(set, ASNobjectId(r[1].c_str()), integer(std::stoul(r[2])), true));
    ASSERT_TRUE(setAttribute(set, ASNobjectId(r[3].c_str()), integer(std::stoul(r[4])), true));
    EXPECT_EQ(r[5], encode(set));

    // A set read in received order changes to DER order when changed.
    Attributes read;
    ASSERT_GT(read.decodeVector(unhex(r[5])), 0);
    ASSERT_TRUE(setAttribute(read, ASNobjectId(r[1].c_str()), integer(std::stoul(r[2])), true));
    EXPECT_EQ(r[5], encode(read));
    EXPECT_FALSE(read.isKeepingOrder());
  }
}

TEST(Attribute, FindReadAndSet) {
  const auto& r = rows()[6];
  ASSERT_EQ("signed", r[0]);
  Attributes set;
  ASSERT_GT(set.decodeVector(unhex(r[1])), 0);

  // The messageDigest openssl wrote is the SHA-256 of the content.
  ASNoctstr digest;
  ASSERT_TRUE(getAttributeValue(set, id_messageDigest, digest, 0));
  EXPECT_EQ(r[2], hex(std::vector<unsigned char>(digest.data(), digest.data() + digest.length)));
  // Past the values, an absent type, a value of another type.
  EXPECT_FALSE(getAttributeValue(set, id_messageDigest, digest, 1));
  EXPECT_FALSE(getAttributeValue(set, id_at_description, digest, 0));
  EXPECT_FALSE(getAttributeValue(set, id_contentType, digest, 0));
  ASNobjectId type;
  ASSERT_TRUE(getAttributeValue(set, id_contentType, type, 0));
  EXPECT_TRUE(type == id_data);

  for (auto [replace, count] : {std::pair<bool, int32_t>{false, 2}, {false, 3}, {true, 1}}) {
    ASSERT_TRUE(setAttribute(set, id_messageDigest, integer(9), replace));
    EXPECT_EQ(count, findAttribute(set, id_messageDigest)->valueCount());
  }
  ASNinteger nine;
  ASSERT_TRUE(getAttributeValue(set, id_messageDigest, nine, 0));
  EXPECT_EQ(9u, nine.toLong());
  const int32_t before = set.GetCount();
  ASSERT_TRUE(setAttribute(set, id_at_description, integer(1), false));
  EXPECT_EQ(before + 1, set.GetCount());

  // A set read in place cannot be changed.
  Attributes view;
  const auto der = unhex(r[1]);
  ASSERT_GT(view.decodeVector(der, ASN_FLAG_CONST), 0);
  EXPECT_FALSE(setAttribute(view, id_messageDigest, integer(1), true));
  EXPECT_EQ(r[1], encode(view));

  PointerList lists;
  TypedPointerList<Attribute>* list = addNewAttributeList(lists);
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(list, lists.GetHead());
  delete list;
  lists.RemoveAll();
}

}  // namespace
