#include "ansi_code_page.h"
#include "xfer.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace nightjar::link {
namespace {

TEST(AnsiCodePageTest, SingleByteCodePageGivesOneByteAndItsDefaultForTheRest)
{
    EXPECT_EQ(CodePageCodeOf(1252, u'A'), 65U);
    EXPECT_EQ(CodePageCodeOf(1252, u'\u00e9'), 0xE9U);
    EXPECT_EQ(CodePageCodeOf(1252, u'\u20ac'), 0x80U);  // the euro sign sits at 0x80
    EXPECT_EQ(CodePageCodeOf(1252, u'\u4e2d'), static_cast<std::uint32_t>('?'));
    // No best fit: a letter with a mark the code page lacks is not stripped to 'A'.
    EXPECT_EQ(CodePageCodeOf(1252, u'\u0100'), static_cast<std::uint32_t>('?'));
}

TEST(AnsiCodePageTest, DoubleByteCharacterGivesACodeAboveOneByte)
{
    CPINFO info{};
    if (!::GetCPInfo(932, &info)) GTEST_SKIP() << "code page 932 is not installed";
    EXPECT_EQ(CodePageCodeOf(932, u'A'), 65U);
    EXPECT_EQ(CodePageCodeOf(932, u'\u4e2d'), 0x9286U);
    EXPECT_GT(CodePageCodeOf(65001, u'\u00e9'), 255U);  // two bytes in UTF-8
}

TEST(AnsiCodePageTest, SystemCodePageServesSendString)
{
    EXPECT_EQ(SystemAnsiCodeOf(u'Z'), 90U);
    EXPECT_EQ(SystemAnsiCodeOf(u'\0'), 0U);
    EXPECT_EQ(SystemAnsiCodeOf(u'\u00e9'), CodePageCodeOf(::GetACP(), u'\u00e9'));
    const AnsiCodeOf code_of = SystemAnsiCodeOf;
    EXPECT_EQ(code_of(u'a'), 97U);
}

}  // namespace
}  // namespace nightjar::link
