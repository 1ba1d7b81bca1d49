// What may be left behind once the system has ended: Sidecar64 processes, files in the places
// the companions and the host write to, a liveness value that still names a window, and the hook
// library in programs after the host let it go.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace quillon::soak {

// Every running process whose image is Sidecar64.exe.
std::vector<DWORD> SidecarProcesses();

// True when the process has Tallyhook.dll mapped.
bool HasHookLibrary(HANDLE process);

// Wine says who it is through ntdll; there it never unmaps a library it mapped for a global hook.
bool RunningOnWine();

// The files and folders below %TEMP% and <application data>\Orvane, as full paths.
std::set<std::wstring> WrittenPlaces();

// "Handle" as it stands in one of the host's settings files ("" when missing or empty).
std::wstring LivenessValueIn(const wchar_t* file_name);

}  // namespace quillon::soak
