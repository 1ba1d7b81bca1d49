// The names, numbers and texts that Quillon (the host) and its two companions agree on.
// Both deliverables and every stand-in for the host take them from here, so that a typo can
// only ever be made once.
#ifndef QUILLON_HOST_CONTRACT_H
#define QUILLON_HOST_CONTRACT_H

#include <cstdint>

// Declares a text in every character form we build: Name<char> for the ANSI calls,
// Name<wchar_t> for the wide calls, Name<char16_t> for portable UTF-16 code and tests.
#define QUILLON_TEXT(Name, literal)                            \
  template <class Ch>                                          \
  inline constexpr const Ch* Name = nullptr;                   \
  template <>                                                  \
  inline constexpr const char* Name<char> = literal;           \
  template <>                                                  \
  inline constexpr const wchar_t* Name<wchar_t> = L"" literal; \
  template <>                                                  \
  inline constexpr const char16_t* Name<char16_t> = u"" literal

namespace quillon {

// A window handle as a number, the way handles travel between the host and its companions;
// 0 is "no window".
using WindowId = std::uintptr_t;

}  // namespace quillon

namespace quillon::contract {

// The shell's window chain down to the host's dialog:
// first visible top-level TrayClass > first RebarClass child > first TaskSwitchClass child >
// dialog (DialogClass) titled DialogTitleAlt (looked for first) or DialogTitle.
QUILLON_TEXT(TrayClass, "Shell_TrayWnd");
QUILLON_TEXT(RebarClass, "ReBarWindow32");
QUILLON_TEXT(TaskSwitchClass, "MSTaskSwWClass");
QUILLON_TEXT(DialogClass, "#32770");
QUILLON_TEXT(DialogTitleAlt, "Wendril");
QUILLON_TEXT(DialogTitle, "Quillon");

// Window property on the host's dialog holding the handle of the host's hook.
QUILLON_TEXT(HookProperty, "WDIcon_hook");

// The hook the host installs for all threads with the library's export HookProcName.
inline constexpr int kHookType = 12;  // WH_CALLWNDPROCRET
inline constexpr const char* kHookProcName = "HookProc";
QUILLON_TEXT(HookLibraryFile, "Tallyhook.dll");
QUILLON_TEXT(AssistantFile, "Sidecar64.exe");

// Icon-change notice, posted to the host's dialog: wParam is the window that processed
// WM_SETICON.
inline constexpr unsigned kNoticeMessage = 0x000F;    // the number of WM_PAINT
inline constexpr std::intptr_t kNoticeLParam = 0x80;  // the number of WM_SETICON

// Liveness value: the host's main window handle as decimal text, in
// <application data>\<Firm>\<App>\<file>, section LivenessSection, key LivenessKey.
QUILLON_TEXT(Firm, "Orvane");
QUILLON_TEXT(App, "Quillon");
QUILLON_TEXT(LivenessSection, "Options\\Windows\\Main");
QUILLON_TEXT(LivenessKey, "Handle");
QUILLON_TEXT(HookSettingsFile, "QuillonFree.cfg");   // read by the hook library
QUILLON_TEXT(AssistantSettingsFile, "Quillon.cfg");  // read by the assistant
inline constexpr unsigned kWatchdogPeriodMs = 10000;
// A look at the liveness value that finds no live host is repeated after this pause before
// either companion acts on it: a save of the settings file leaves it empty for a moment.
// Hosts that save by writing a temporary file and replacing the old one leave no such moment.
inline constexpr unsigned kLivenessConfirmDelayMs = 1000;
// The identifier of Sidecar64's watchdog timer on its receive window (WM_TIMER's wParam).
inline constexpr unsigned kAssistantWatchdogTimerId = 678;

// The settings store's key path (below HKEY_CURRENT_USER for the registry backend, the section
// prefix for the file backend) and the placeholders it fills in: firm name, application name.
QUILLON_TEXT(SettingsBaseKey, "Software\\*firm*\\*app*\\");
QUILLON_TEXT(FirmPlaceholder, "*firm*");
QUILLON_TEXT(AppPlaceholder, "*app*");

// The assistant's request channel: a hidden top-level window of ReceiveClass with an empty
// title; per request one synchronous WM_NULL, then exactly one synchronous WM_COPYDATA with a
// zero-terminated UTF-16 text of at most kMaxRequestUnits - 1 characters. Never hold the mutex
// while sending.
QUILLON_TEXT(ReceiveClass, "OVQL_Recv64Wnd");
QUILLON_TEXT(RequestMutex, "OV_QL_WaitForProcessDataMutex");
inline constexpr unsigned kMaxRequestUnits = 1024;

// Requests: "Exit", and "GetPath 0x%08x 0x%08x" (reply window, target window). The GetPath
// reply is a WM_COPYDATA to the reply window: wParam and dwData = target window, data = the
// UTF-16 image path with its terminator (empty when it cannot be had).
QUILLON_TEXT(ExitCommand, "Exit");
QUILLON_TEXT(GetPathCommand, "GetPath");
inline constexpr unsigned kMaxPathUnits = 260;  // reply buffer, terminator included
// Sidecar64 waits this long for a reply window to process its reply; past it the reply is given
// up and the request ends as if answered. The reply window's thread must take sent messages
// while it waits for its request (a thread inside SendMessage does).
inline constexpr unsigned kReplySendLimitMs = 10000;

}  // namespace quillon::contract

#endif  // QUILLON_HOST_CONTRACT_H
