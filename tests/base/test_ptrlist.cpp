#include "base/ptrlist.h"
#include "base/typedptrlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

int a, b, c;

TEST(PointerList, AddRemoveAndFind)
{
    PointerList list(8);
    EXPECT_EQ(nullptr, list.FindIndex(0));
    list.AddTail(&a);
    list.AddTail(&b);
    EXPECT_EQ(nullptr, list.FindIndex(2));
    EXPECT_EQ(&a, list.RemoveHead());
    EXPECT_EQ(&b, list.GetHead());
    EXPECT_EQ(&b, list.GetTail());
    EXPECT_EQ(1, list.GetCount());
    list.AddHead(&c);
    POSITION pc = list.GetHeadPosition();
    list.AddTail(&c);
    // Find starts after the given node.
    POSITION second = list.Find(&c, pc);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(pc, second);
    EXPECT_EQ(second, list.GetTailPosition());
    EXPECT_EQ(pc, list.Find(&c));
    EXPECT_EQ(nullptr, list.Find(&a));
    EXPECT_EQ(&b, PointerList::GetAt(list.FindIndex(1)));
    // c b c -> remove the middle
    EXPECT_EQ(&b, list.RemoveAt(list.FindIndex(1)));
    std::vector<void*> seen;
    for (POSITION p = list.GetHeadPosition(); p;)
        seen.push_back(PointerList::GetNext(p));
    EXPECT_EQ((std::vector<void*>{&c, &c}), seen);
    seen.clear();
    for (POSITION p = list.GetTailPosition(); p;)
        seen.push_back(PointerList::GetPrev(p));
    EXPECT_EQ(2u, seen.size());
    list.RemoveAll();
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ(nullptr, list.GetHeadPosition());
}

// Every index of lists of odd and even length finds its element, walked from the nearer end
// (the steps counted are the distance to that end); none past the end, nor in an empty list.
TEST(PointerList, FindIndexWalksFromTheNearerEnd)
{
    for (int n : {0, 1, 2, 7, 8}) {
        std::vector<int> items(static_cast<size_t>(n));
        PointerList list(3);
        for (int& item : items)
            list.AddTail(&item);
        uint64_t total = 0;
        for (int i = 0; i < n; ++i) {
            const uint64_t before = pointerListIndexSteps();
            EXPECT_EQ(&items[static_cast<size_t>(i)], PointerList::GetAt(list.FindIndex(i))) << n << " " << i;
            const uint64_t steps = pointerListIndexSteps() - before;
            EXPECT_EQ(static_cast<uint64_t>(std::min(i, n - 1 - i)), steps) << n << " " << i;
            total += steps;
        }
        EXPECT_LE(total, static_cast<uint64_t>(n * n / 4)) << n;
        EXPECT_EQ(nullptr, list.FindIndex(n));
        EXPECT_EQ(nullptr, list.FindIndex(n + 5));
    }
}

TEST(PointerList, NodesComeFromBlocksAndAreReused)
{
    PointerList list(8);
    std::vector<POSITION> nodes;
    for (int i = 0; i < 9; ++i)
        nodes.push_back(list.AddTail(&a));
    // The first block hands its nodes out in ascending order.
    for (int i = 1; i < 8; ++i)
        EXPECT_EQ(nodes[i - 1] + 1, nodes[i]);
    EXPECT_EQ(9, list.GetCount());
    list.RemoveAt(nodes[3]);
    EXPECT_EQ(nodes[3], list.AddHead(&b));
    while (list.GetCount() > 0)
        list.RemoveTail(); // the leak checker sees the blocks freed once the list is empty
    EXPECT_EQ(nullptr, list.GetHeadPosition());
    list.AddTail(&c);
    EXPECT_EQ(&c, list.GetHead());
}

TEST(PointerList, Invariants)
{
    PointerList list(8);
    try {
        list.RemoveTail();
        FAIL();
    } catch (const std::runtime_error& e) {
        std::string text = e.what();
        EXPECT_EQ(0u, text.find("Naruszenie niezmiennika: ptrlist("));
        EXPECT_NE(std::string::npos, text.find("), warunek: m_pNodeTail != NULL"));
    }
    EXPECT_THROW(list.RemoveHead(), std::runtime_error);
    EXPECT_THROW(list.FindIndex(-1), std::runtime_error);
    try {
        PointerList bad(0);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("warunek: nBlockSize > 0"));
    }
}

std::vector<int> destroyed;
struct Tracked
{
    explicit Tracked(int id = 0) : id(id) {}
    virtual ~Tracked() { destroyed.push_back(id); }
    int id;
};

TEST(TypedPointerList, OwningListDeletesLastFirst)
{
    destroyed.clear();
    {
        TypedPointerList<Tracked> list;
        list.AddTail(new Tracked(1));
        list.AddTail(nullptr);
        list.AddTail(new Tracked(2));
        list.AddTail(new Tracked(3));
    }
    EXPECT_EQ((std::vector<int>{3, 2, 1}), destroyed);

    destroyed.clear();
    Tracked kept(7);
    {
        TypedPointerList<Tracked> view;
        view.owns = false;
        view.AddTail(&kept);
    }
    EXPECT_TRUE(destroyed.empty());

    TypedPointerList<Tracked> list;
    Tracked* t = list.addNew();
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(t, list.elementAt(0));
    EXPECT_EQ(nullptr, list.elementAt(1));
    list.deleteTail();
    EXPECT_EQ(0, list.GetCount());
    EXPECT_THROW(list.deleteTail(), std::runtime_error);
}

TEST(TextStringList, BuffersAreZeroedAndOwned)
{
    TextStringList list;
    char* p = list.addBuffer(5);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(0, p[i]);
    std::strcpy(p, "abcde");
    list.addBuffer(0);
    EXPECT_EQ(2, list.GetCount());
    EXPECT_STREQ("abcde", list.GetHead());
    EXPECT_THROW(list.addBuffer(-1), std::bad_alloc);
}

} // namespace
