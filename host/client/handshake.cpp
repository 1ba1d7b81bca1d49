#include "host/client/assistant_port.h"

namespace quillon {

SendOutcome RunHandshake(HandshakeSender& sender, WindowId receiver, std::u16string_view text) {
  if (sender.SendNull(receiver) == SendOutcome::kNoWindow) return SendOutcome::kNoWindow;
  return sender.SendText(receiver, text);
}

}  // namespace quillon
