#include "tests/soak/leftovers.h"

#include <psapi.h>
#include <tlhelp32.h>

#include "host/contract.h"
#include "host/win32_handles.h"
#include "tests/support/settings_files.h"

namespace quillon::soak {
namespace {

bool SameName(const wchar_t* a, const wchar_t* b) {
  return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

void ListBelow(const std::wstring& folder, std::set<std::wstring>& found, int depth) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    found.insert(path);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && depth > 0) {
      ListBelow(path, found, depth - 1);
    }
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
}

}  // namespace

std::vector<DWORD> SidecarProcesses() {
  std::vector<DWORD> found;
  const UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || snapshot.Get() == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (SameName(entry.szExeFile, contract::AssistantFile<wchar_t>)) {
      found.push_back(entry.th32ProcessID);
    }
  }
  return found;
}

bool HasHookLibrary(HANDLE process) {
  HMODULE modules[1024];
  DWORD needed = 0;
  if (!::EnumProcessModulesEx(process, modules, sizeof(modules), &needed, LIST_MODULES_ALL)) {
    return false;
  }
  const DWORD count = std::min<DWORD>(needed / sizeof(HMODULE), 1024);
  for (DWORD i = 0; i < count; ++i) {
    wchar_t name[MAX_PATH];
    if (::GetModuleBaseNameW(process, modules[i], name, MAX_PATH) != 0 &&
        SameName(name, contract::HookLibraryFile<wchar_t>)) {
      return true;
    }
  }
  return false;
}

bool RunningOnWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::set<std::wstring> WrittenPlaces() {
  std::set<std::wstring> found;
  wchar_t temp[MAX_PATH];
  const DWORD length = ::GetTempPathW(MAX_PATH, temp);
  if (length > 0 && length < MAX_PATH) {
    std::wstring folder(temp, length);
    if (folder.back() == L'\\') folder.pop_back();
    ListBelow(folder, found, 2);
  }
  ListBelow(test::FirmFolder(), found, 3);
  return found;
}

std::wstring LivenessValueIn(const wchar_t* file_name) {
  wchar_t value[64] = {};
  ::GetPrivateProfileStringW(contract::LivenessSection<wchar_t>, contract::LivenessKey<wchar_t>,
                             L"", value, 64, test::SettingsFilePath(file_name).c_str());
  return value;
}

}  // namespace quillon::soak
