// The host's liveness value: its main window's handle as decimal text, value "Handle" in section
// "Options\Windows\Main" of both settings files (the hook library reads one, Sidecar64 the
// other) in <application data>\Orvane\Quillon. Both companions stop once it names no window.
#ifndef QUILLON_HOST_CLIENT_WIN32_LIVENESS_H
#define QUILLON_HOST_CLIENT_WIN32_LIVENESS_H

#include <windows.h>

#include <string>

namespace quillon {

// <application data>\Orvane\Quillon\<file>, creating the two folders; empty on failure.
std::wstring HostSettingsPath(const wchar_t* file_name);

// Writes the handle (as a signed 32-bit decimal, which both readers take back to the handle)
// into both files; false when either write failed.
bool WriteLivenessValue(HWND main_window);
// Leaves "Handle" empty in both files: both readers then treat the host as gone.
bool ClearLivenessValue();

// Decimal text of a window handle as the readers expect it.
std::wstring LivenessText(HWND main_window);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_WIN32_LIVENESS_H
