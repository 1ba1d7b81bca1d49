// The diagnosis on a real desktop under Wine, with the shipped Tallyhook, Sidecar64 and
// QuillonDoctor: with no host it says so; with this program as a complete host every link is ok
// and the verdict is "working"; each broken link of the table is named by its own entry, and a
// folder the ANSI code page cannot spell breaks nothing for the shipped library; the doctor
// program gives the same verdict, its exit code and JSON.
//
//   host_diagnosis_wine_test <Tallyhook.dll> | --start-and-leave <Sidecar64.exe>
#include "host/client/win32_diagnosis.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/client/win32_assistant_process.h"
#include "host/client/win32_host_instance.h"
#include "host/client/win32_icon_hook.h"
#include "host/client/win32_liveness.h"
#include "host/contract.h"
#include "host/shell/message_pump.h"
#include "host/shell/shell_chain.h"
#include "host/win32_handles.h"
#include "tests/host/fake_pe_image.h"
#include "tests/support/child_process.h"
#include "tests/support/clean_run.h"
#include "tests/support/plain_window.h"
#include "tests/support/settings_files.h"
#include "tests/support/test_paths.h"

namespace quillon::test {
namespace {

const char* g_library_argument = nullptr;
const std::wstring kDist = WindowsPath(QUILLON_DIST_DIR) + L"\\";
const std::wstring kSidecar = kDist + L"Sidecar64.exe";
const std::wstring kDoctor = kDist + L"QuillonDoctor.exe";

std::string Report(const Diagnosis& diagnosis) { return FormatText(diagnosis); }

const DiagnosisEntry& EntryOf(const Diagnosis& diagnosis, const char* link) {
  static const DiagnosisEntry missing{"(missing)", LinkState::kUnknown, "", {}, ""};
  const DiagnosisEntry* entry = diagnosis.Find(link);
  return entry != nullptr ? *entry : missing;
}

// This program as the host: claim, main window, chain and dialog, "Handle", the hook from a copy
// of the library in an install folder of its own, and its Sidecar64.
struct Host {
  HostInstance instance = HostInstance::Claim();
  UniqueWindow main{MakePlainWindow(L"Quillon host")};
  std::unique_ptr<shell::ShellChain> chain =
      shell::ShellChain::Create({contract::DialogTitle<wchar_t>});
  std::wstring folder = TempFolder(L"diagnosis-install");
  IconHook hook;
  AssistantProcess assistant;

  bool Start() {
    if (!instance.Claimed() || !main || chain == nullptr) return false;
    instance.PublishMainWindow(main.Get());
    const std::wstring library =
        CopyToTemp(WindowsPath(g_library_argument), L"diagnosis-install", L"Tallyhook.dll");
    if (library.empty() || !WriteLivenessValue(main.Get())) return false;
    if (hook.Install(chain->dialog(), library) != HookStatus::kInstalled) return false;
    return static_cast<bool>(assistant.Start(kSidecar));
  }

  DiagnoseOptions Options() const {
    DiagnoseOptions options;
    options.install_folder = folder;
    options.host_window = reinterpret_cast<WindowId>(main.Get());
    options.own_hook = reinterpret_cast<HookRef>(hook.Hook());
    return options;
  }

  ~Host() {
    hook.Remove();
    ClearLivenessValue();
    assistant.Terminate();
  }
};

// The first receive window whose process is not `except`, waiting up to 20 s.
HWND WaitForReceiveWindow(DWORD except) {
  for (int round = 0; round < 200; ++round) {
    for (HWND window = ::FindWindowExW(nullptr, nullptr, contract::ReceiveClass<wchar_t>, nullptr);
         window != nullptr;
         window = ::FindWindowExW(nullptr, window, contract::ReceiveClass<wchar_t>, nullptr)) {
      DWORD owner = 0;
      ::GetWindowThreadProcessId(window, &owner);
      if (owner != except) return window;
    }
    shell::PumpMessagesFor(100);
  }
  return nullptr;
}

void EndProcessOf(HWND window) {
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  const UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, owner));
  if (!process) return;
  ::TerminateProcess(process.Get(), 1);
  ::WaitForSingleObject(process.Get(), 5000);
}

// Points the per-user application-data folder at `folder` for as long as it lives (the same
// registry values as moving the folder in the shell's settings).
class AppDataRedirect {
 public:
  explicit AppDataRedirect(const std::wstring& folder) {
    for (Value& value : values_) {
      HKEY key = nullptr;
      if (::RegOpenKeyExW(HKEY_CURRENT_USER, value.key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
          ERROR_SUCCESS) {
        continue;
      }
      wchar_t old[MAX_PATH] = {};
      DWORD size = sizeof old;
      value.had = ::RegQueryValueExW(key, L"AppData", nullptr, &value.type,
                                     reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS;
      value.old = old;
      ::RegSetValueExW(key, L"AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
      ::RegCloseKey(key);
    }
  }
  ~AppDataRedirect() {
    for (const Value& value : values_) {
      HKEY key = nullptr;
      if (::RegOpenKeyExW(HKEY_CURRENT_USER, value.key, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        continue;
      }
      if (value.had) {
        ::RegSetValueExW(key, L"AppData", 0, value.type,
                         reinterpret_cast<const BYTE*>(value.old.c_str()),
                         static_cast<DWORD>((value.old.size() + 1) * sizeof(wchar_t)));
      } else {
        ::RegDeleteValueW(key, L"AppData");
      }
      ::RegCloseKey(key);
    }
  }
  AppDataRedirect(const AppDataRedirect&) = delete;
  AppDataRedirect& operator=(const AppDataRedirect&) = delete;

 private:
  struct Value {
    explicit Value(const wchar_t* name) : key(name) {}
    const wchar_t* key;
    bool had = false;
    DWORD type = REG_SZ;
    std::wstring old;
  };
  Value values_[2] = {
      Value{L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"},
      Value{L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"}};
};

std::wstring AppData() {
  const std::wstring firm = FirmFolder();  // <application data>\Orvane
  return firm.substr(0, firm.rfind(L'\\'));
}

// Moves the application-data folder to one whose name has Cyrillic and CJK letters, which the
// ANSI code page lacks, and writes the host's "Handle" there; returns what puts it back.
std::function<void()> MoveAppDataToUnspellableFolder(HWND host_window) {
  const std::wstring user = AppData().substr(0, AppData().rfind(L"\\AppData"));
  const std::wstring odd = user + L"\\\x041f\x0440\x043e\x0444\x0438\x043b\x044c \x4e2d\x6587";
  ::CreateDirectoryW(odd.c_str(), nullptr);
  ::CreateDirectoryW((odd + L"\\Roaming").c_str(), nullptr);
  auto redirect = std::make_shared<AppDataRedirect>(odd + L"\\Roaming");
  WriteLivenessValue(host_window);
  return [redirect, odd]() mutable {
    RemoveSettingsFile(contract::HookSettingsFile<wchar_t>);
    RemoveSettingsFile(contract::AssistantSettingsFile<wchar_t>);
    RemoveSettingsFolders();
    redirect.reset();
    ::RemoveDirectoryW((odd + L"\\Roaming").c_str());
    ::RemoveDirectoryW(odd.c_str());
  };
}

// Runs the doctor with `arguments` and returns its exit code (-1 when it did not end in time);
// what it printed goes to `output`.
long RunDoctor(const std::wstring& arguments, std::string& output) {
  // A file of its own per run: a doctor that has just ended may still hold the last one a moment.
  static int runs = 0;
  const std::wstring out_path =
      TempFolder(L"diagnosis-doctor") + L"out-" + std::to_wstring(++runs) + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  long code = -1;
  {
    const UniqueFileHandle out(::CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                             &inherit, CREATE_ALWAYS, 0, nullptr));
    if (!out) return -1;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = out.Get();
    PROCESS_INFORMATION info{};
    std::wstring command = L"\"" + kDoctor + L"\" " + arguments;
    if (!::CreateProcessW(kDoctor.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &info)) {
      return -1;
    }
    const UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    // Serves this thread's windows meanwhile: the doctor looks at them.
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    for (ULONGLONG now = ::GetTickCount64(); now < deadline; now = ::GetTickCount64()) {
      const HANDLE waited = process.Get();
      if (::MsgWaitForMultipleObjects(1, &waited, FALSE, static_cast<DWORD>(deadline - now),
                                      QS_ALLINPUT) == WAIT_OBJECT_0) {
        break;
      }
      shell::PumpMessagesFor(0);
    }
    DWORD exit_code = 0;
    if (::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(process.Get(), &exit_code)) {
      code = static_cast<long>(exit_code);
    } else {
      ::TerminateProcess(process.Get(), 1);
    }
  }
  // What it printed, read back once its handle on the file has gone.
  for (int attempt = 0; attempt < 20; ++attempt) {
    output.clear();
    const UniqueFileHandle in(::CreateFileW(out_path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    char buffer[4096];
    DWORD got = 0;
    while (in && ::ReadFile(in.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
      output.append(buffer, got);
    }
    if (!output.empty()) break;
    shell::PumpMessagesFor(100);
  }
  return code;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The structure of JSON: brackets balanced outside strings, strings closed, one object.
bool LooksLikeJson(const std::string& text) {
  std::vector<char> open;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        return false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      open.push_back(c);
    } else if (c == '}' || c == ']') {
      if (open.empty() || open.back() != (c == '}' ? '{' : '[')) return false;
      open.pop_back();
    }
  }
  const auto first = text.find_first_not_of(" \r\n\t");
  return !in_string && open.empty() && first != std::string::npos && text[first] == '{';
}

// Runs first: nothing of a host exists yet.
TEST(Diagnosis, WithoutAHostItSaysSo) {
  FirmFolderSetAside no_settings;
  const Diagnosis diagnosis = Diagnose(DiagnoseOptions{});
  EXPECT_EQ(EntryOf(diagnosis, "Settings").state, LinkState::kBroken) << Report(diagnosis);
  ASSERT_NE(diagnosis.FirstNotOk(), nullptr);
  EXPECT_EQ(diagnosis.FirstNotOk()->link, "Settings") << Report(diagnosis);
  EXPECT_EQ(Verdict(diagnosis).rfind("icon tracking: not working: Settings", 0), 0u);

  std::string output;
  EXPECT_EQ(RunDoctor(L"", output), 1) << output;
  EXPECT_EQ(FirstLine(output).rfind("icon tracking: not working: ", 0), 0u) << output;
}

TEST(Diagnosis, AWorkingHostAndEachBrokenLink) {
  SettingsBackup keep_settings;
  Host host;
  ASSERT_TRUE(host.Start());
  shell::PumpMessagesFor(200);

  {
    const Diagnosis diagnosis = Diagnose(host.Options());
    EXPECT_TRUE(diagnosis.Working()) << Report(diagnosis);
    EXPECT_EQ(Verdict(diagnosis), "icon tracking: working") << Report(diagnosis);
  }

  struct Case {
    const char* name;
    // Breaks the link and returns what puts it back (run before the next case).
    std::function<std::function<void()>()> spoil;
    const char* link;
  };
  const Case cases[] = {
      {"no settings file",
       [] {
         auto aside = std::make_shared<FirmFolderSetAside>();
         return [aside]() mutable { aside.reset(); };
       },
       "Settings"},
      {"\"Handle\" naming a dead window",
       [&] {
         const HWND gone = MakePlainWindow(L"gone");
         ::DestroyWindow(gone);
         WriteHostWindow(contract::HookSettingsFile<wchar_t>, gone);
         WriteHostWindow(contract::AssistantSettingsFile<wchar_t>, gone);
         return [&] { WriteLivenessValue(host.main.Get()); };
       },
       "Settings"},
      {"two receive windows",
       [&] {
         auto second = std::make_shared<AssistantProcess>();
         // A second start from a second object: the first one's process still runs.
         second->Start(kSidecar);
         return [second] { second->Terminate(); };
       },
       "Sidecar64"},
      {"a Sidecar64 whose starter is gone",
       [&] {
         host.assistant.Terminate();
         ChildProcess starter;
         starter.Start(OwnPath().c_str(), L"--start-and-leave \"" + kSidecar + L"\"");
         starter.WaitForExit(std::chrono::seconds(30));
         const HWND left = WaitForReceiveWindow(0);
         return [&, left] {
           if (left != nullptr) EndProcessOf(left);
           host.assistant.Start(kSidecar);
         };
       },
       "Sidecar64"},
      {"a dialog nested one level too deep",
       [&] {
         // A newer visible chain comes first in window order; its dialog lies below a pane.
         auto chain = std::shared_ptr<shell::ShellChain>(shell::ShellChain::Create());
         const HWND pane = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                                             chain->taskSwitch(), nullptr, nullptr, nullptr);
         chain->AddDialog(contract::DialogTitle<wchar_t>, pane);
         return [chain]() mutable { chain.reset(); };
       },
       "Shell chain"},
      {"a dialog without the property",
       [&] {
         const HWND dialog = host.chain->dialog();
         const HANDLE value = ::RemovePropW(dialog, contract::HookProperty<wchar_t>);
         return [dialog, value] { ::SetPropW(dialog, contract::HookProperty<wchar_t>, value); };
       },
       "Shell chain"},
      {"an aside copy with HookProc elsewhere",
       [&] {
         const std::wstring aside = host.folder + L"Tallyhook.dll.old-0000000000000001";
         const std::vector<unsigned char> image = FakePeImage({{"HookProc", 0x1010}});
         const UniqueFileHandle file(
             ::CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
         DWORD written = 0;
         ::WriteFile(file.Get(), image.data(), static_cast<DWORD>(image.size()), &written, nullptr);
         return [aside] { ::DeleteFileW(aside.c_str()); };
       },
       "Library"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::function<void()> restore = c.spoil();
    shell::PumpMessagesFor(200);
    const Diagnosis diagnosis = Diagnose(host.Options());
    const DiagnosisEntry* first = diagnosis.FirstNotOk();
    ASSERT_NE(first, nullptr) << Report(diagnosis);
    EXPECT_EQ(first->link, c.link) << Report(diagnosis);
    EXPECT_EQ(first->state, LinkState::kBroken) << Report(diagnosis);
    EXPECT_FALSE(first->remedy.empty());
    restore();
    shell::PumpMessagesFor(200);
    const Diagnosis again = Diagnose(host.Options());
    ASSERT_TRUE(again.Working()) << "put back after " << c.name << ":\n" << Report(again);
  }

  // A folder the ANSI code page cannot spell: the shipped library reads the wide path, so the
  // link holds, and a fact names the ANSI spelling. (A library before 1.2.0, for which the link
  // is broken, is a case of the native table: no such library is built here.)
  {
    const std::function<void()> restore = MoveAppDataToUnspellableFolder(host.main.Get());
    shell::PumpMessagesFor(200);
    const Diagnosis diagnosis = Diagnose(host.Options());
    const DiagnosisEntry& settings = EntryOf(diagnosis, "Settings");
    EXPECT_EQ(settings.state, LinkState::kOk) << Report(diagnosis);
    bool ansi_told = false;
    for (const std::string& fact : settings.facts) {
      ansi_told = ansi_told ||
                  (fact.find("ANSI") != std::string::npos && fact.find('?') != std::string::npos &&
                   fact.find("wide") != std::string::npos);
    }
    EXPECT_TRUE(ansi_told) << Report(diagnosis);
    EXPECT_TRUE(diagnosis.Working()) << Report(diagnosis);
    restore();
    shell::PumpMessagesFor(200);
    const Diagnosis again = Diagnose(host.Options());
    ASSERT_TRUE(again.Working()) << "put back after the unspellable folder:\n" << Report(again);
  }
}

TEST(Diagnosis, TheDoctorProgramGivesTheVerdict) {
  SettingsBackup keep_settings;
  Host host;
  ASSERT_TRUE(host.Start());

  std::string output;
  EXPECT_EQ(RunDoctor(L"\"" + host.folder + L"\"", output), 0) << output;
  EXPECT_EQ(FirstLine(output), "icon tracking: working") << output;

  EXPECT_EQ(RunDoctor(L"--json \"" + host.folder + L"\"", output), 0) << output;
  EXPECT_TRUE(LooksLikeJson(output)) << output;
  EXPECT_NE(output.find("\"verdict\": \"icon tracking: working\""), std::string::npos) << output;
  EXPECT_NE(output.find("\"working\": true"), std::string::npos) << output;

  // The same folder without its library: the library's link breaks.
  EXPECT_EQ(RunDoctor(L"\"" + TempFolder(L"diagnosis-empty") + L"\"", output), 1) << output;
  EXPECT_EQ(FirstLine(output).rfind("icon tracking: not working: Library", 0), 0u) << output;

  EXPECT_EQ(RunDoctor(L"--no-such-option", output), 2) << output;
}

// Child mode: starts Sidecar64 and ends at once, leaving it without its starter.
int StartAndLeave(const wchar_t* sidecar) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::wstring command = L"\"" + std::wstring(sidecar) + L"\"";
  if (!::CreateProcessW(sidecar, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return 1;
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return 0;
}

}  // namespace
}  // namespace quillon::test

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--start-and-leave") {
    const std::string sidecar = argv[2];  // a Windows path of ASCII letters (the build tree's)
    return quillon::test::StartAndLeave(std::wstring(sidecar.begin(), sidecar.end()).c_str());
  }
  return quillon::test::RunAllTestsWithCleanRunLine(
      argc, argv, "host_diagnosis_wine_test <Tallyhook.dll>", {&quillon::test::g_library_argument});
}
