// The two decimal rules for the host's window handle, over the same inputs in both forms.
#include "settings/handle_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "test_forms.h"

namespace quillon::test {
namespace {

struct HandleCase {
  const char* text;
  std::uint32_t wrapping;
  std::int32_t saturating;
};

const HandleCase kHandleCases[] = {
    {"123", 123u, 123},
    {" \t\n\v\f\r42", 42u, 42},
    {"42abc", 42u, 42},
    {"0x1F", 0u, 0},
    {"", 0u, 0},
    {"-", 0u, 0},
    {"+", 0u, 0},
    {"+7", 7u, 7},
    {"- 5", 0u, 0},
    {"abc", 0u, 0},
    {" -12x", 0xFFFFFFF4u, -12},
    {"-1", 0xFFFFFFFFu, -1},
    {"2147483647", 2147483647u, INT32_MAX},
    {"2147483648", 2147483648u, INT32_MAX},
    {"4294967295", 4294967295u, INT32_MAX},
    {"4294967296", 0u, INT32_MAX},
    {"4294967297", 1u, INT32_MAX},
    {"99999999999999999999", 1661992959u, INT32_MAX},
    {"-2147483648", 0x80000000u, INT32_MIN},
    {"-2147483649", 0x7FFFFFFFu, INT32_MIN},
    {"-99999999999999999999", 2632974337u, INT32_MIN},
    {"00000000000000000000000123", 123u, 123},
    {"\xA0"
     "5",
     0u, 0},  // only the six ASCII spaces count as white space
};

template <class Ch>
void CheckHandleTable() {
  for (const HandleCase& c : kHandleCases) {
    SCOPED_TRACE(c.text);
    const auto text = S<Ch>(c.text);
    EXPECT_EQ(ParseHandleWrapping(text.c_str()), c.wrapping);
    EXPECT_EQ(ParseHandleSaturating(text.c_str()), c.saturating);
  }
  EXPECT_EQ(ParseHandleWrapping(static_cast<const Ch*>(nullptr)), 0u);
  EXPECT_EQ(ParseHandleSaturating(static_cast<const Ch*>(nullptr)), 0);
}

TEST(HandleText, NarrowTable) { CheckHandleTable<char>(); }
TEST(HandleText, WideTable) { CheckHandleTable<char16_t>(); }
TEST(HandleText, WcharTable) { CheckHandleTable<wchar_t>(); }

}  // namespace
}  // namespace quillon::test
