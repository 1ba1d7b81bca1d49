// The facts of a diagnosis, asked of the system: window, file, process-list and version queries.
// The window walk uses the ANSI calls, as Tallyhook does.
#include "host/client/win32_diagnosis.h"

#include <windows.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "host/client/win32_assistant_port.h"
#include "host/client/win32_host_instance.h"
#include "host/client/win32_library_update.h"
#include "host/client/win32_process_ancestry.h"
#include "host/win32_handles.h"

namespace quillon {
namespace {

constexpr unsigned kRoundTripTimeoutMs = 5000;

HWND ToHwnd(WindowId window) { return reinterpret_cast<HWND>(window); }
WindowId FromHwnd(HWND window) { return reinterpret_cast<WindowId>(window); }

std::wstring Widen(const char* text) {
  const int units = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units <= 1) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
  wide.pop_back();
  return wide;
}

std::string Narrow(const std::wstring& text) {
  const int bytes =
      ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), bytes, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

bool IsFile(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

class Win32DiagnosisPort final : public DiagnosisPort {
 public:
  WindowId FindTopLevel(const char* window_class, WindowId after) override {
    return FromHwnd(::FindWindowExA(nullptr, ToHwnd(after), window_class, nullptr));
  }
  WindowId FindChild(WindowId parent, const char* window_class, const char* title) override {
    return FromHwnd(::FindWindowExA(ToHwnd(parent), nullptr, window_class, title));
  }
  bool IsVisible(WindowId window) override { return ::IsWindowVisible(ToHwnd(window)) != FALSE; }
  HookRef GetProperty(WindowId window, const char* name) override {
    return reinterpret_cast<HookRef>(::GetPropA(ToHwnd(window), name));
  }

  std::optional<std::wstring> AppDataFolder(Spelling spelling) override {
    if (spelling == Spelling::kWide) {
      wchar_t folder[MAX_PATH] = {};
      if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        return std::nullopt;
      }
      return std::wstring(folder);
    }
    char folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
      return std::nullopt;
    }
    return Widen(folder);
  }

  bool FileExists(const std::wstring& path, Spelling spelling) override {
    if (spelling == Spelling::kWide) return IsFile(::GetFileAttributesW(path.c_str()));
    return IsFile(::GetFileAttributesA(Narrow(path).c_str()));
  }

  std::wstring ReadLivenessValue(const std::wstring& path, Spelling spelling) override {
    using namespace contract;
    if (spelling == Spelling::kWide) {
      wchar_t value[256] = {};
      ::GetPrivateProfileStringW(LivenessSection<wchar_t>, LivenessKey<wchar_t>, L"", value,
                                 static_cast<DWORD>(std::size(value)), path.c_str());
      return value;
    }
    char value[256] = {};
    ::GetPrivateProfileStringA(LivenessSection<char>, LivenessKey<char>, "", value,
                               static_cast<DWORD>(std::size(value)), Narrow(path).c_str());
    return Widen(value);
  }

  WindowFacts DescribeWindow(WindowId window) override {
    WindowFacts facts;
    const HWND hwnd = ToHwnd(window);
    if (window == 0 || !::IsWindow(hwnd)) return facts;
    facts.exists = true;
    facts.visible = ::IsWindowVisible(hwnd) != FALSE;
    DWORD process_id = 0;
    ::GetWindowThreadProcessId(hwnd, &process_id);
    facts.process_id = process_id;
    wchar_t text[256] = {};
    if (::GetClassNameW(hwnd, text, static_cast<int>(std::size(text))) > 0) facts.class_name = text;
    // Another process's caption is read from the window manager, nothing is sent to it.
    text[0] = L'\0';
    ::GetWindowTextW(hwnd, text, static_cast<int>(std::size(text)));
    facts.title = text;
    return facts;
  }

  std::vector<WindowId> Children(WindowId parent) override {
    std::vector<WindowId> children;
    for (HWND child = ::FindWindowExW(ToHwnd(parent), nullptr, nullptr, nullptr);
         child != nullptr && children.size() < 1024;
         child = ::FindWindowExW(ToHwnd(parent), child, nullptr, nullptr)) {
      children.push_back(FromHwnd(child));
    }
    return children;
  }

  ProcessListing DescribeProcess(std::uint32_t process_id) override {
    ProcessListing facts;
    const UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.Get() == INVALID_HANDLE_VALUE) return facts;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
      if (entry.th32ProcessID == process_id) {
        facts.found = true;
        facts.image_name = entry.szExeFile;
        facts.starter_id = entry.th32ParentProcessID;
      }
    }
    if (!facts.found) return facts;
    const ProcessStarter starter = FindStarter(process_id);
    if (starter.parent_id != 0) facts.starter_id = starter.parent_id;
    facts.starter = starter.state;
    return facts;
  }

  std::uint32_t OwnProcessId() override { return ::GetCurrentProcessId(); }

  InstanceClaim QueryInstanceClaim() override {
    InstanceClaim claim;
    claim.known = true;
    if (const std::optional<HostHolder> holder = FindRunningHost()) {
      claim.held = true;
      claim.holder_process_id = holder->process_id;
      claim.holder_window = FromHwnd(holder->main_window);
    }
    return claim;
  }

  RoundTrip GetPathRoundTrip() override {
    RoundTrip trip;
    wchar_t own[MAX_PATH] = {};
    if (::GetModuleFileNameW(nullptr, own, MAX_PATH) < MAX_PATH) trip.expected_path = own;
    const UniqueWindow target(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                                nullptr, nullptr, nullptr));
    if (!target) return trip;
    Win32AssistantClient client(kRoundTripTimeoutMs);
    const ULONGLONG start = ::GetTickCount64();
    trip.status = client.GetPath(target.Get(), trip.path);
    trip.elapsed_ms = static_cast<unsigned>(::GetTickCount64() - start);
    return trip;
  }

  FilePort& Files() override { return files_; }

  std::optional<std::wstring> FileVersion(const std::wstring& path) override {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> data(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::nullopt;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
        fixed == nullptr || length < sizeof *fixed) {
      return std::nullopt;
    }
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionLS));
  }

 private:
  Win32FilePort files_;
};

}  // namespace

Diagnosis Diagnose(const DiagnoseOptions& options) {
  Win32DiagnosisPort port;
  return Diagnose(port, options);
}

}  // namespace quillon
