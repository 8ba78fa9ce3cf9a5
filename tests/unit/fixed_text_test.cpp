#include <gtest/gtest.h>

#include <string>

#include "settings/fixed_text.hpp"

using namespace pdftopjl;

namespace {

TEST(FixedText, KeepsAtMostWidthMinusOneBytes)
{
    FixedText<33> field;
    field.clear();
    std::string value(100, 'h');
    EXPECT_EQ(field.set(value), 32u);
    EXPECT_EQ(field.view(), std::string(32, 'h'));
    EXPECT_EQ(field.data[32], '\0');
}

TEST(FixedText, CutsOnAByteBoundaryInsideACharacter)
{
    FixedText<4> field;
    field.clear();
    field.set("\xE3\x81\x82\xE3\x81\x84");  // two 3-byte characters
    EXPECT_EQ(field.view(), "\xE3\x81\x82");
    field.set("a\xE3\x81\x82");
    EXPECT_EQ(field.view(), "a\xE3\x81");
}

TEST(FixedText, ReplacesEarlierContentCompletely)
{
    FixedText<8> field;
    field.clear();
    field.set("abcdefg");
    field.set("xy");
    EXPECT_EQ(field.view(), "xy");
    for (size_t i = 2; i < 8; ++i) EXPECT_EQ(field.data[i], '\0');
}

}  // namespace
