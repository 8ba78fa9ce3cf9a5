#include <gtest/gtest.h>

#include <string>

#include "settings/fixed_text.hpp"
#include "settings/print_options.hpp"

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

TEST(PrintOptionsRecord, FieldWidthsAreAsSpecified)
{
    PrintOptions o{};
    EXPECT_EQ(sizeof o.printType.userName, 73u);
    EXPECT_EQ(sizeof o.printType.password, 2048u);
    EXPECT_EQ(sizeof o.printType.documentName, 193u);
    EXPECT_EQ(sizeof o.printType.delayPrint, 17u);
    EXPECT_EQ(sizeof o.kvr.macHostName, 33u);
    EXPECT_EQ(sizeof o.kvr.ipAddress, 46u);
    EXPECT_EQ(sizeof o.kvr.userId, 97u);
    EXPECT_EQ(sizeof o.kvr.domainName, 65u);
    EXPECT_EQ(sizeof o.kvr.accountId, 33u);
    EXPECT_EQ(sizeof o.kvr.storageId, 73u);
    EXPECT_EQ(sizeof o.kvr.loginName, 64u);
    EXPECT_EQ(sizeof o.features.numberUp, 64u);
    EXPECT_EQ(sizeof o.ppd.cupsFilter, 128u);
    EXPECT_EQ(sizeof o.ppd.printerLanguageEncoding, 64u);
}

}  // namespace
