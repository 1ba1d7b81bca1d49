// The request texts the host sends, each with its terminator, ready to be sent as they are.
#ifndef QUILLON_HOST_CLIENT_REQUEST_TEXT_H
#define QUILLON_HOST_CLIENT_REQUEST_TEXT_H

#include <string>

#include "host/client/assistant_port.h"

namespace quillon {

// "GetPath 0x%08x 0x%08x": reply window, then target window; handles travel as 32-bit numbers.
std::u16string GetPathRequest(WindowId reply_window, WindowId target);
std::u16string ExitRequest();

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_REQUEST_TEXT_H
