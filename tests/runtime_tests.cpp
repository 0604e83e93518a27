#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/CodePage.h"
#include "runtime/Convert.h"
#include "runtime/Exceptions.h"

namespace {

struct IntCase {
    const char* text;
    std::optional<int32_t> value; // empty: the text must be refused
};

class StrToIntTest : public testing::TestWithParam<IntCase> {};

TEST_P(StrToIntTest, ConvertsOrRefuses)
{
    const IntCase& c = GetParam();
    if (c.value) {
        EXPECT_EQ(StrToInt(c.text), *c.value) << '"' << c.text << '"';
    } else {
        try {
            StrToInt(c.text);
            FAIL() << '"' << c.text << "\" was accepted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + c.text + "' is not a valid integer value");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Conventions, StrToIntTest, testing::Values(
    IntCase{"0", 0}, IntCase{"17", 17}, IntCase{"  42", 42}, IntCase{"+5", 5}, IntCase{"-1", -1},
    IntCase{"007", 7}, IntCase{"2147483647", INT32_MAX}, IntCase{"-2147483648", INT32_MIN},
    IntCase{"00000000002147483647", INT32_MAX},
    IntCase{"$FF", 255}, IntCase{"x1a", 26}, IntCase{"X1A", 26}, IntCase{"0x10", 16}, IntCase{"0XfF", 255},
    IntCase{"$FFFFFFFF", -1}, IntCase{"$80000000", INT32_MIN}, IntCase{"$000000000001", 1},
    IntCase{"-$10", -16}, IntCase{" -0x1", -1},
    IntCase{"", std::nullopt}, IntCase{" ", std::nullopt}, IntCase{"-", std::nullopt},
    IntCase{"$", std::nullopt}, IntCase{"0x", std::nullopt}, IntCase{"12 ", std::nullopt},
    IntCase{"1.5", std::nullopt}, IntCase{"abc", std::nullopt}, IntCase{"--1", std::nullopt},
    IntCase{"+-1", std::nullopt}, IntCase{"2147483648", std::nullopt}, IntCase{"-2147483649", std::nullopt},
    IntCase{"99999999999999999999", std::nullopt}, IntCase{"$100000000", std::nullopt},
    IntCase{"$-1", std::nullopt}, IntCase{"\t1", std::nullopt}, IntCase{"00x1", std::nullopt},
    IntCase{"$G", std::nullopt}, IntCase{"１", std::nullopt}));

std::string ConvertErrorOf(const std::string& Text)
{
    try {
        StrToInt(Text);
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "accepted";
}

TEST(StrToIntMessage, QuotesALongTextByItsFirstHundredCharacters)
{
    const std::string suffix = "' is not a valid integer value";
    std::string cyrillic;
    for (int i = 0; i < 101; ++i) cyrillic += "ж";
    const std::string megabyte(1 << 20, '1');
    const struct {
        std::string text, quoted;
    } cases[] = {
        {std::string(100, 'a'), std::string(100, 'a')},
        {std::string(101, 'a'), std::string(100, 'a') + "..."},
        {megabyte, std::string(100, '1') + "..."},
        {std::string(99, ' ') + "1x", std::string(99, ' ') + "1..."},
        // Two bytes a character: cut after the 100th character, not inside one.
        {cyrillic, cyrillic.substr(0, 200) + "..."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConvertErrorOf(c.text), "'" + c.quoted + suffix) << c.text.size() << " bytes";
}

TEST(IntToStr, PlainDecimalWithMinusSign)
{
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(123456), "123456");
    EXPECT_EQ(IntToStr(-2147483648LL), "-2147483648");
}

TEST(CodePage, Cp1251CoversCyrillicAndPunctuation)
{
    const std::vector<uint8_t> bytes = {0xC2, 0xF5, 0xEE, 0xE4, 0x20, 0xB8, 0xA8, 0xB9, 0x96, 0x41};
    EXPECT_EQ(Cp1251ToUtf8(bytes), "Вход ёЁ№–A");
}

TEST(CodePage, DecodingErrorIsToldApartFromAnEncodedReplacementCharacter)
{
    const struct {
        const char* utf8;
        std::u32string decoded;
    } cases[] = {
        {"\xEF\xBF\xBD", U"\uFFFD"},                 // U+FFFD itself: one character
        {"a\xEF\xBF\xBD" "b", U"a\uFFFDb"},
        {"\xEF\xBF\xBD\xEF\xBF\xBD", U"\uFFFD\uFFFD"},
        {"\xC6", U"\uFFFD"},                          // a Windows-1251 letter: one error
        {"\xC6z", U"\uFFFDz"},
        {"\xEF\xBF", U"\uFFFD\uFFFD"},                // cut short: one per byte
        {"\xE0\x80\x80", U"\uFFFD\uFFFD\uFFFD"},      // overlong
        {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},      // a surrogate
        {"\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"}, // beyond U+10FFFF
        {"\xD0\x96\xF0\x9F\x98\x80", U"\u0416\U0001F600"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeUtf8(c.utf8), c.decoded) << c.utf8;
    EXPECT_EQ(Utf8ToCp1251("\xEF\xBF\xBD"), std::vector<uint8_t>{'?'});
}

TEST(CodePage, Latin1KeepsCodePoints)
{
    const std::vector<uint8_t> bytes = {'V', 0xC1, 0xFF};
    EXPECT_EQ(Latin1ToUtf8(bytes), "V\u00C1\u00FF");
}

} // namespace
