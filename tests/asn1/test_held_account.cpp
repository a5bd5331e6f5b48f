// What a decode holds is charged to the memory side of the thread's work
// account: under a small allowance the decode is refused and the account is
// over; with no account, or a large enough allowance, the same value decodes,
// and the account's charge is the hold budget's; values decoded and let go
// again and again pass the charges, not the heap's growth, and decode.
// Counted in held octets.
#include "asn1/asnint.h"
#include "asn1/asnseql.h"
#include "base/workaccount.h"
#include "pki/names/dname.h"
#include "pki/x509/crl.h"
#include "derbytes.h"
#include "test_cont_helpers.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

using derbytes::cat;
using derbytes::tlv;

Bytes repeated(const Bytes& item, size_t n)
{
    Bytes out;
    for (size_t i = 0; i < n; ++i)
        out.insert(out.end(), item.begin(), item.end());
    return out;
}

// A Name of one RDN of n common names "x".
Bytes longRdnName(size_t n)
{
    const Bytes cn = tlv(0x30, {0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x01, 'x'});
    return tlv(0x30, tlv(0x31, repeated(cn, n)));
}

// A CRL of n entries (a garbage signature: only decoded here).
Bytes crlOfEntries(size_t n)
{
    const Bytes sha256Rsa = tlv(0x30, {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B, 0x05, 0x00});
    const Bytes time = tlv(0x17, {'2', '6', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z'});
    Bytes entries;
    for (size_t i = 0; i < n; ++i) {
        const Bytes serial = tlv(0x02, {0x10, static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)});
        const Bytes entry = tlv(0x30, cat({serial, time}));
        entries.insert(entries.end(), entry.begin(), entry.end());
    }
    const Bytes tbs = tlv(0x30, cat({tlv(0x02, {0x01}), sha256Rsa, longRdnName(1), time, tlv(0x30, entries)}));
    return tlv(0x30, cat({tbs, sha256Rsa, tlv(0x03, cat({{0x00}, Bytes(64, 0x40)}))}));
}

struct Row {
    const char* name;
    Bytes der;
    std::function<std::unique_ptr<ASNobject>()> make;
};

// The value decoded in place over a private copy, as carried values are: the
// decode's result and the octets charged to the hold budget meanwhile.
int decodeCharged(const Row& row, int64_t& charged)
{
    std::unique_ptr<ASNobject> value = row.make();
    const int64_t before = asnHeldCounter();
    const int r = value->decodeBuffer(row.der.data(), static_cast<int>(row.der.size()),
                                      ASN_FLAG_CONST | ASN_FLAG_COPY);
    charged = asnHeldCounter() - before;
    return r;
}

std::unique_ptr<WorkAccount> accountHolding(uint64_t octets)
{
    auto account = std::make_unique<WorkAccount>(UINT64_MAX / 2, std::chrono::hours(24));
    account->setMemoryLimit(octets);
    return account;
}

TEST(HeldAccount, SmallAllowanceRefusesTheDecodeNoAccountDecodes)
{
    const Row rows[] = {
        {"RDN of 3,000 attributes", longRdnName(3000),
         [] { return std::unique_ptr<ASNobject>(new DistinguishedName()); }},
        {"CRL of 20,000 entries", crlOfEntries(20000),
         [] { return std::unique_ptr<ASNobject>(new SignedCertRevList()); }},
        {"SEQUENCE OF 20,000 INTEGERs of 10 octets", tlv(0x30, repeated(tlv(0x02, Bytes(10, 0x11)), 20000)),
         [] { return std::unique_ptr<ASNobject>(new ASNsequenceList<ASNinteger>()); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int size = static_cast<int>(row.der.size());
        // No account: the value decodes, holding what the hold budget counts.
        int64_t held = 0;
        ASSERT_EQ(decodeCharged(row, held), size);
        ASSERT_GT(held, 10 * static_cast<int64_t>(row.der.size()));

        // An allowance of a quarter of that: refused, the account over by its
        // memory, before the decode ended (it stops at its next value).
        auto small = accountHolding(static_cast<uint64_t>(held / 4));
        {
            WorkAccountScope scope(small.get());
            int64_t charged = 0;
            EXPECT_LT(decodeCharged(row, charged), 1);
            EXPECT_LT(charged, held);
        }
        EXPECT_TRUE(small->over());
        EXPECT_TRUE(small->memoryPassed());
        EXPECT_FALSE(small->netPassed());
        EXPECT_GT(small->memoryCharged(), small->memoryLimit());

        // Twice that: decodes, and the account is charged what the budget counts.
        auto ample = accountHolding(static_cast<uint64_t>(held * 2));
        {
            WorkAccountScope scope(ample.get());
            int64_t charged = 0;
            EXPECT_EQ(decodeCharged(row, charged), size);
            EXPECT_EQ(static_cast<int64_t>(ample->memoryCharged()), charged);
        }
        EXPECT_FALSE(ample->over());
        EXPECT_EQ(ample->memoryHeapReads(), 0u);

        // Decoded and let go four times over: the charges pass the allowance,
        // the heap's growth does not.
        auto again = accountHolding(static_cast<uint64_t>(held * 2));
        {
            WorkAccountScope scope(again.get());
            for (int i = 0; i < 4; ++i) {
                int64_t charged = 0;
                EXPECT_EQ(decodeCharged(row, charged), size);
            }
        }
        EXPECT_FALSE(again->over());
        EXPECT_GT(again->memoryCharged(), again->memoryLimit());
        EXPECT_GT(again->memoryHeapReads(), 0u);

        // A closed account only counts.
        auto closed = accountHolding(1);
        closed->close();
        {
            WorkAccountScope scope(closed.get());
            int64_t charged = 0;
            EXPECT_EQ(decodeCharged(row, charged), size);
        }
        EXPECT_FALSE(closed->over());
    }
}

// The heap is the process's: another thread's document growing it within its
// own allowance does not refuse this one's once its charges pass its
// allowance; the same growth with no other account open does.
TEST(HeldAccount, AnotherThreadsDocumentDoesNotRefuseThisOne)
{
    const uint64_t MiB = 1ull << 20;
    const size_t grown = 32 * MiB;
    auto mine = accountHolding(4 * MiB);
    auto other = accountHolding(64 * MiB);
    unsigned char* held = nullptr;
    std::thread([&] {
        held = new unsigned char[grown];
        for (size_t i = 0; i < grown; i += 4096)
            held[i] = 1;
    }).join();
    {
        WorkAccountScope scope(mine.get());
        EXPECT_TRUE(workChargeMemory(static_cast<int64_t>(5 * MiB)));
        EXPECT_FALSE(mine->over());
        EXPECT_EQ(mine->memoryHeapReads(), 1u);
        // The other document done, the growth is no open account's.
        other->close();
        EXPECT_FALSE(workChargeMemory(static_cast<int64_t>(2 * MiB)));
        EXPECT_TRUE(mine->memoryPassed());
    }
    delete[] held;
}

TEST(HeldAccount, DocumentAllowanceLeavesTheTreeAndReserveOut)
{
    const uint64_t MiB = 1ull << 20;
    const struct {
        uint64_t octets, tree, allowance;
    } rows[] = {
        {6589, 100000, 20 * 6589 + 40 * MiB - WORK_MEMORY_RESERVE - 3 * 6589 - 100000},
        {8 * MiB, 120 * MiB, 200 * MiB - WORK_MEMORY_RESERVE - 24 * MiB - 120 * MiB},
        // A tree at its guard's bound: the floor is left.
        {8 * MiB, 164 * MiB, WORK_MEMORY_FLOOR},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(WorkAccount::documentMemory(row.octets, row.tree), row.allowance);
        EXPECT_EQ(WorkAccount::forDocument(row.octets, row.tree)->memoryLimit(), row.allowance);
    }
    // Made by its constructor an account holds no memory limit.
    EXPECT_EQ(WorkAccount(1, std::chrono::seconds(1)).memoryLimit(), UINT64_MAX);
}

} // namespace
