// SET OF container: received order, DER order, hashing and streaming.
#include "asn1/asnany.h"
#include "asn1/asncont.h"
#include "asn1/asnseql.h"
#include "asn1/asnsetl.h"
#include "test_cont_helpers.h"

#include <algorithm>
#include <stdexcept>

namespace {

// The elements of a list, each as its own encoding.
template <class L>
std::vector<Bytes> elementsOf(const L& list)
{
    std::vector<Bytes> out;
    for (POSITION pos = list.GetHeadPosition(); pos;)
        out.push_back(encoded(*list.GetNext(pos)));
    return out;
}

int compareHex(const char* a, const char* b)
{
    Bytes x = hexBytes(a), y = hexBytes(b);
    return asnCompareEncodings(x.data(), static_cast<int32_t>(x.size()), y.data(), static_cast<int32_t>(y.size()));
}

TEST(ContSetList, ComparisonPadsTheShorterEncodingWithZeros)
{
    EXPECT_EQ(0, compareHex("04 01 00", "04 01 00 00"));
    EXPECT_EQ(0, compareHex("04 01 00 00", "04 01 00"));
    EXPECT_LT(compareHex("04 01 00", "04 01 01"), 0);
    EXPECT_GT(compareHex("05 00", "04 01 FF"), 0);
    EXPECT_LT(compareHex("04 01", "04 01 00 01"), 0);
    EXPECT_GT(compareHex("04 01 00 01", "04 01"), 0);
    EXPECT_LT(compareHex("04 01 7F", "04 01 80"), 0); // octets are unsigned
}

TEST(ContSetList, ReceivedOrderUntilChangedThenDerOrder)
{
    Bytes input = hexBytes("31 06 04 01 02 04 01 01");
    ASNsetList<ASNany> set;
    ASSERT_EQ(8, decodeAll(set, input));
    EXPECT_TRUE(set.isKeepingOrder());
    EXPECT_EQ(input, encoded(set));
    ASNany* extra = new ASNany();
    ASSERT_EQ(3, decodeAll(*extra, hexBytes("04 01 00")));
    EXPECT_EQ(1, set.append(extra));
    EXPECT_EQ(hexBytes("31 09 04 01 00 04 01 01 04 01 02"), encoded(set));
    EXPECT_EQ(hexBytes("04 01 02"), encoded(*set.GetHead())); // the list itself is not reordered

    // A set read in place cannot take more elements (they would be lost).
    ASNsetList<ASNany> view;
    ASSERT_EQ(8, decodeAll(view, input, ASN_FLAG_CONST | ASN_FLAG_COPY));
    ASNany more(4);
    EXPECT_THROW(view.append(&more), std::runtime_error);
    EXPECT_EQ(input, encoded(view));

    ASNsetList<ASNany> empty;
    ASSERT_EQ(2, decodeAll(empty, hexBytes("31 00")));
    EXPECT_TRUE(empty.isKeepingOrder());
    EXPECT_EQ(hexBytes("31 00"), encoded(empty));
}

TEST(ContSetList, DerOrderMatchesOpenssl)
{
    // Twelve values received out of order, and the same as openssl orders them.
    Bytes received = readData("set_items_recv.der");
    Bytes opensslOrder = readData("set_items_der.der");
    ASNsetList<ASNany> set;
    ASSERT_EQ(static_cast<int>(received.size()), decodeAll(set, received));
    EXPECT_EQ(12, set.GetCount());
    EXPECT_EQ(received, encoded(set));
    EXPECT_EQ(readData("set_items_recv.sha256"), sha256Of(set));

    ASNsetList<ASNany> built;
    for (const Bytes& e : elementsOf(set))
        ASSERT_NE(nullptr, built.addEncoded(e.data(), static_cast<int>(e.size())));
    EXPECT_EQ(opensslOrder, encoded(built));
    EXPECT_EQ(readData("set_items_der.sha256"), sha256Of(built));
    Bytes two = hexBytes("02 01 01 02 01 02"); // addEncoded takes exactly one value
    EXPECT_EQ(nullptr, built.addEncoded(two.data(), static_cast<int>(two.size())));

    EXPECT_EQ(1, set.sortElements());
    EXPECT_EQ(opensslOrder, encoded(set));
    ASNsetList<ASNany> fromOpenssl;
    ASSERT_GT(decodeAll(fromOpenssl, opensslOrder), 0);
    EXPECT_EQ(elementsOf(fromOpenssl), elementsOf(set));

    // A three-valued RDN of a name, rebuilt in reverse, comes out as openssl wrote it.
    Bytes name = readData("cert_name.der");
    ASNsequenceList<ASNsetList<ASNany>> rdns;
    ASSERT_EQ(static_cast<int>(name.size()), decodeAll(rdns, name));
    EXPECT_EQ(name, encoded(rdns));
    EXPECT_EQ(readData("cert_name.sha256"), sha256Of(rdns));
    std::vector<Bytes> values = elementsOf(*rdns.elementAt(1));
    ASSERT_EQ(3u, values.size());
    std::reverse(values.begin(), values.end());
    ASNsetList<ASNany> rebuilt;
    for (const Bytes& v : values)
        rebuilt.addEncoded(v.data(), static_cast<int>(v.size()));
    EXPECT_EQ(encoded(*rdns.elementAt(1)), encoded(rebuilt));
}

TEST(ContSetList, OpensslSetsWholeAndStreamed)
{
    // [0] IMPLICIT SET OFs of a CMS SignedData, its SET OF SignerInfo and the
    // out-of-order set: whole decode, re-sorting, and streaming in any split.
    for (const char* file : {"signed_attrs", "signed_certs", "signed_signerinfos", "set_items_recv"}) {
        Bytes der = readData(std::string(file) + ".der");
        unsigned char tag = der[0] == 0xA0 ? 0xA0 : 0;
        ASNsetList<ASNany> whole(tag);
        ASSERT_EQ(static_cast<int>(der.size()), decodeAll(whole, der)) << file;
        EXPECT_EQ(der, encoded(whole));
        std::vector<Bytes> want = elementsOf(whole);
        for (unsigned seed = 0; seed < 4; ++seed) {
            ASNsetList<ASNany> set(tag);
            ASSERT_EQ(static_cast<int>(der.size()), streamInPieces(set, der, splitFor(der.size(), seed))) << file;
            EXPECT_EQ(want, elementsOf(set)) << file;
            EXPECT_FALSE(set.isKeepingOrder());
        }
        if (std::string(file) == "set_items_recv") // the only one not written by openssl
            continue;
        EXPECT_EQ(1, whole.sortElements());
        EXPECT_EQ(der, encoded(whole));
        EXPECT_EQ(readData(std::string(file) + ".sha256"), sha256Of(whole));
    }
}

TEST(ContSetList, IndefiniteLengthOnlyThroughTheStreamingDecoder)
{
    Bytes input = hexBytes("31 80 04 01 02 04 01 01 00 00");
    ASNsetList<ASNany> set;
    EXPECT_EQ(0, decodeAll(set, input));
    EXPECT_EQ(10, set.decodeStreamBuffer(input.data(), static_cast<int>(input.size()), nullptr));
    ASSERT_EQ(2, set.GetCount());
    EXPECT_EQ(hexBytes("31 80 04 01 01 04 01 02 00 00"), encoded(set)); // DER order, as long as it came

    // Input stopping after the first octet of the end-of-contents.
    ASNsetList<ASNany> split;
    EXPECT_EQ(10, streamInPieces(split, input, {9}));
    EXPECT_EQ(2, split.GetCount());

    // The stream context serves another value after a reset.
    Bytes other = hexBytes("31 80 02 01 07 00 00");
    set.resetStreamCtx();
    ASSERT_EQ(7, set.decodeStreamBuffer(other.data(), static_cast<int>(other.size()), nullptr));
    EXPECT_EQ(other, encoded(set));
}

TEST(ContSetList, StreamingRefusesElementsBeyondTheContent)
{
    // The second element announces more than the set holds: no octet after
    // the set's content is taken, whole or one octet at a time.
    Bytes overrun = hexBytes("31 05 04 01 01 04 05 01 02 03 04 05");
    ASNsetList<ASNany> set;
    MemFile whole(overrun.data(), static_cast<int32_t>(overrun.size()), false);
    EXPECT_EQ(0, set.decodeStream(&whole, nullptr));
    EXPECT_EQ(7u, whole.tell());
    EXPECT_EQ(1, set.GetCount());
    ASNsetList<ASNany> slow;
    EXPECT_EQ(0, streamInPieces(slow, overrun, {0}));

    Bytes shortContent = hexBytes("31 04 04 01 01 05 00");
    EXPECT_EQ(0, slow.decodeStreamBuffer(shortContent.data(), static_cast<int>(shortContent.size()), nullptr));
}

TEST(ContSetList, FailuresAreReported)
{
    ASNsetList<ASNany> set;
    ASNany untagged;
    EXPECT_THROW(set.append(&untagged), std::runtime_error);

    // An element that cannot be written: encode and digest fail, never a
    // digest over part of the set.
    ASNsetList<Broken> broken;
    broken.append(new Broken());
    MemFile out;
    EXPECT_EQ(EASN_FILE, broken.encodeSorted(&out));
    EXPECT_LT(broken.encode(&out), 1);
    unsigned char d[32];
    EXPECT_THROW(broken.digest(3, d, sizeof d), std::exception);
    broken.append(new Broken());
    EXPECT_THROW(broken.digest(3, d, sizeof d), std::exception);
    EXPECT_THROW(broken.sortElements(), std::runtime_error);

    // A failed element in a whole decode drops the received order.
    ASNsetList<Pair> pairs;
    EXPECT_EQ(0, decodeAll(pairs, hexBytes("31 0B 30 06 02 01 01 04 01 61 04 01 00")));
    EXPECT_EQ(1, pairs.GetCount());
    EXPECT_FALSE(pairs.isKeepingOrder());
}

} // namespace
