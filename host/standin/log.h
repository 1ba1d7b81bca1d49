// One readable, time-stamped line per event on standard output (UTF-8), flushed at once so that
// a reader of a pipe or file sees it as it happens.
#pragma once

#include <windows.h>

#include <string>

namespace quillon::standin {

void LogLine(const std::wstring& text);
std::wstring HandleText(HWND window);  // "0x%08x"

}  // namespace quillon::standin
