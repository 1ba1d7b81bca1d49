#include "host/client/request_text.h"

#include <cstdint>

#include "host/contract.h"

namespace quillon {
namespace {

void AppendHandle(std::u16string& text, WindowId handle) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  const auto value = static_cast<std::uint32_t>(handle);
  text += u"0x";
  for (int shift = 28; shift >= 0; shift -= 4) text.push_back(kDigits[(value >> shift) & 0xFu]);
}

}  // namespace

std::u16string GetPathRequest(WindowId reply_window, WindowId target) {
  std::u16string text = contract::GetPathCommand<char16_t>;
  text += u' ';
  AppendHandle(text, reply_window);
  text += u' ';
  AppendHandle(text, target);
  text.push_back(u'\0');
  return text;
}

std::u16string ExitRequest() {
  std::u16string text = contract::ExitCommand<char16_t>;
  text.push_back(u'\0');
  return text;
}

}  // namespace quillon
