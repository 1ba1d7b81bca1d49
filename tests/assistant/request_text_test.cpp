#include "assistant/request_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace quillon {
namespace {

std::vector<unsigned char> Bytes(const std::u16string& units) {
  std::vector<unsigned char> bytes(units.size() * sizeof(char16_t));
  std::memcpy(bytes.data(), units.data(), bytes.size());
  return bytes;
}

std::optional<std::u16string> Copy(const std::vector<unsigned char>& bytes, std::size_t count) {
  const auto text = CopyRequestText<char16_t>(bytes.empty() ? nullptr : bytes.data(), count);
  if (!text) return std::nullopt;
  return std::u16string(text->data());
}

std::vector<unsigned char> WithByte(std::vector<unsigned char> bytes, unsigned char extra) {
  bytes.push_back(extra);
  return bytes;
}

struct CopyCase {
  const char* name;
  std::vector<unsigned char> bytes;  // what the sender's buffer holds
  std::size_t cbData;
  std::optional<std::u16string> expected;
};

TEST(CopyRequestTextTest, TakesTheTextOnlyWhenItsTerminatorIsDelivered) {
  const std::u16string longest(contract::kMaxRequestUnits - 1, u'a');
  const std::u16string tooLong(contract::kMaxRequestUnits, u'a');
  const auto exit = Bytes(std::u16string(u"Exit\0", 5));
  const CopyCase cases[] = {
      {"terminated", exit, 10, u"Exit"},
      {"bytes after the terminator", Bytes(std::u16string(u"Exit\0junk", 9)), 18, u"Exit"},
      {"empty text", Bytes(std::u16string(u"\0", 1)), 2, u""},
      {"no terminator", Bytes(u"Exit"), 8, std::nullopt},
      {"terminator outside cbData", exit, 8, std::nullopt},
      {"half a terminator", exit, 9, std::nullopt},
      {"odd trailing byte", WithByte(exit, 0x41), 11, u"Exit"},
      {"1023 units fit", Bytes(longest + u'\0'), 2048, longest},
      {"1024 units do not", Bytes(tooLong + u'\0'), 2050, std::nullopt},
      {"endless", Bytes(std::u16string(5000, u'b')), 10000, std::nullopt},
  };
  for (const CopyCase& c : cases) {
    ASSERT_LE(c.cbData, c.bytes.size()) << c.name;
    EXPECT_EQ(Copy(c.bytes, c.cbData), c.expected) << c.name;
  }
}

TEST(CopyRequestTextTest, RejectsMissingData) {
  const char16_t text[] = u"Exit";
  EXPECT_FALSE(CopyRequestText<char16_t>(nullptr, 10));
  EXPECT_FALSE(CopyRequestText<char16_t>(text, 0));
  EXPECT_FALSE(CopyRequestText<char16_t>(text, 1));
}

TEST(CopyRequestTextTest, ReadsUnalignedDataAndZeroFillsTheRest) {
  std::vector<unsigned char> bytes(1 + 4 * sizeof(char16_t));
  const char16_t text[] = u"a b";
  std::memcpy(bytes.data() + 1, text, sizeof text);
  const auto copy = CopyRequestText<char16_t>(bytes.data() + 1, sizeof text);
  ASSERT_TRUE(copy);
  EXPECT_EQ(std::u16string(copy->data()), u"a b");
  for (std::size_t i = 3; i < copy->size(); ++i) ASSERT_EQ((*copy)[i], 0) << i;
}

}  // namespace
}  // namespace quillon
