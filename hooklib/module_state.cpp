#include "hooklib/module_state.h"

#include "host/contract.h"
#include "settings/win32_settings_port.h"

HWND g_hTrayWnd = nullptr;
HWND g_hRebarWnd = nullptr;
HWND g_hTaskSwWnd = nullptr;
std::atomic<quillon::WindowId> g_hHostDlg{0};
std::atomic<std::uint32_t> g_dwLastWalkTime{0};
HHOOK g_hHook = nullptr;
HWND g_hWatchedDlg = nullptr;
UINT_PTR g_idTimer = 0;

HMODULE g_hWatchdogModule = nullptr;
std::atomic<DWORD> g_dwWatchdogThread{0};
quillon::WatchdogStage g_eWatchdogStage = quillon::WatchdogStage::kRetired;
quillon::LivenessConfirmation g_livenessConfirmation;
std::atomic<long> g_lHookCalls{0};

quillon::Win32Settings<char> g_settings(false, quillon::CTextA(quillon::contract::Firm<char>),
                                        quillon::CTextA(quillon::contract::App<char>),
                                        quillon::Win32SettingsPort<char>());
