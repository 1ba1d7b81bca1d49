#include "assistant/request_grammar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {
namespace {

struct HandleCase {
  const char* name;
  const char16_t* token;
  std::uint32_t expected;
};

class HandleArgumentTest : public ::testing::TestWithParam<HandleCase> {};

TEST_P(HandleArgumentTest, ReadsTheLenientHexForm) {
  EXPECT_EQ(ParseHandleArgument(GetParam().token), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HandleArgumentTest,
    ::testing::Values(HandleCase{"EightDigits", u"0x00001234", 0x1234u},
                      HandleCase{"FourDigits", u"0x1234", 0x1234u},
                      HandleCase{"MixedCaseDigits", u"0xAbCd", 0xabcdu},
                      HandleCase{"CapitalX", u"0X1234", 0u}, HandleCase{"NoPrefix", u"1234", 0u},
                      HandleCase{"NoZero", u"x1234", 0u}, HandleCase{"PrefixOnly", u"0x", 0u},
                      HandleCase{"Zero", u"0", 0u}, HandleCase{"Empty", u"", 0u},
                      HandleCase{"Signed", u"-0x1", 0u},
                      HandleCase{"NineDigits", u"0x123456789", 0x12345678u},
                      HandleCase{"AllBitsLower", u"0xffffffff", 0xffffffffu},
                      HandleCase{"TenDigitsUpper", u"0xFFFFFFFFFF", 0xffffffffu},
                      HandleCase{"StopsAtNonDigit", u"0x12g4", 0x12u},
                      HandleCase{"NonAsciiDigit", u"0x\x0661", 0u},
                      HandleCase{"LineBreakAfter", u"0x7fffffff\r\n", 0x7fffffffu}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(CommandWordTest, FoldsOnlyAsciiLetters) {
  EXPECT_TRUE(EqualsIgnoringAsciiCase(u"gEtPaTh", u"GetPath"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"EX\u0130T", u"Exit"));  // dotted capital I
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"\uFF25xit", u"Exit"));  // full-width E
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"Exi", u"Exit"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"Exits", u"Exit"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase(u"Exit@", u"Exit["));  // '@' and '[' border A-Z
}

std::vector<std::u16string> Tokens(const RequestTokens<char16_t>& t) {
  std::vector<std::u16string> out;
  if (t.word) out.emplace_back(t.word);
  for (std::size_t i = 0; i < t.argCount && i < t.args.size(); ++i) out.emplace_back(t.args[i]);
  return out;
}

TEST(SplitRequestTest, SplitsAtRunsOfSpacesAndTabsOnly) {
  std::u16string text = u" \tGetPath  \t0x1\r\n 0x2\v\f 3 4\t";
  const auto tokens = SplitRequest(text.data());
  EXPECT_EQ(Tokens(tokens), (std::vector<std::u16string>{u"GetPath", u"0x1\r\n", u"0x2\v\f"}));
  EXPECT_EQ(tokens.argCount, 4u);
}

TEST(SplitRequestTest, WritesTerminatorsOnlyWhereATokenEnds) {
  std::u16string text = u"  Exit  a";
  SplitRequest(text.data());
  EXPECT_EQ(text, std::u16string(u"  Exit\0 a", 9));
}

TEST(SplitRequestTest, FindsNothingInBlankOrNullText) {
  std::u16string blank = u" \t \t";
  EXPECT_EQ(SplitRequest(blank.data()).word, nullptr);
  std::u16string empty;
  EXPECT_EQ(SplitRequest(empty.data()).word, nullptr);
  EXPECT_EQ(SplitRequest<char16_t>(nullptr).word, nullptr);
}

}  // namespace
}  // namespace quillon
