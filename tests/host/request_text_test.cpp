#include "host/client/request_text.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(RequestText, GetPathCarriesBothHandlesAsEightLowerCaseDigits) {
  struct Case {
    WindowId reply, target;
    std::u16string_view text;
  };
  const Case cases[] = {
      {0x1, 0xABCDEF, u"GetPath 0x00000001 0x00abcdef"},
      {0, 0, u"GetPath 0x00000000 0x00000000"},
      {0xFFFFFFFF, 0x80000000, u"GetPath 0xffffffff 0x80000000"},
      // Only the low 32 bits travel; a 64-bit host's sign-extended handle keeps them.
      {static_cast<WindowId>(0xFFFFFFFF80000010ull & UINTPTR_MAX), 0x20,
       u"GetPath 0x80000010 0x00000020"},
  };
  for (const Case& c : cases) {
    const std::u16string text = GetPathRequest(c.reply, c.target);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), u'\0');
    EXPECT_EQ(std::u16string_view(text.data(), text.size() - 1), c.text);
  }
}

TEST(RequestText, ExitCarriesItsTerminator) {
  EXPECT_EQ(ExitRequest(), std::u16string(u"Exit", 5));
}

}  // namespace
}  // namespace quillon
