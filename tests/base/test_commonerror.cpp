#include "base/commonerror.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(CheckInvariant, Texts)
{
    EXPECT_NO_THROW(checkInvariant(true, "ptrlist", 39, "nBlockSize > 0", nullptr));
    try {
        checkInvariant(false, "ptrlist", 39, "nBlockSize > 0", nullptr);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Naruszenie niezmiennika: ptrlist(39), warunek: nBlockSize > 0", e.what());
    }
    try {
        checkInvariant(false, "ptrlist", 39, "nBlockSize > 0", "abc");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Naruszenie niezmiennika: ptrlist(39), warunek: nBlockSize > 0 abc", e.what());
    }
}

TEST(CommonError, Table)
{
    EXPECT_STREQ("Sukces", commonErrorText(0));
    // Windows-1250 bytes, written out so the check does not depend on the compiler's code page.
    EXPECT_STREQ("Funkcjonalno\x9C\xE6 nie zaimplementowana", commonErrorText(53));
    EXPECT_STREQ("B\xB3\xB9" "d gniazdka", commonErrorText(20));
    EXPECT_EQ(nullptr, commonErrorText(54));
    EXPECT_EQ(nullptr, commonErrorText(0xFFFFFFFFu));
    for (uint32_t c = 0; c < 54; ++c)
        EXPECT_NE(nullptr, commonErrorText(c)) << c;
}

TEST(BadAllocation, Text)
{
    try {
        throwBadAllocation();
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ("bad allocation", e.what());
    }
}

} // namespace
