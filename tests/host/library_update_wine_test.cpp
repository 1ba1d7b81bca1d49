// The client's ReplaceLibraryFile under Wine with the shipped 32-bit Tallyhook: an update in the
// order hosts follow (remove the hook, replace the file, install the hook again) while a hooked
// program still maps the old copy; and each failure the real file system can produce.
//
// The newer library is a copy of the built one whose version resource says another revision,
// patched in the file: its code is the very same, so this shows which file a process maps. For
// how two builds get along, what counts is where each has HookProc: a second copy has its
// HookProc export moved to a jump to the same code, which is another build as far as the hook
// goes (see docs/integration.md, "Updating the library").
//
//   host_library_update_wine_test <Tallyhook.dll>          the tests
//   host_library_update_wine_test --child <host window>    a hooked program
#include "host/client/win32_library_update.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/client/pe_export.h"
#include "host/client/win32_icon_hook.h"
#include "host/contract.h"
#include "host/shell/message_pump.h"
#include "host/shell/shell_chain.h"
#include "host/version.h"
#include "host/win32_handles.h"
#include "tests/support/access_violation_guard.h"
#include "tests/support/child_process.h"
#include "tests/support/clean_run.h"
#include "tests/support/crash_guard.h"
#include "tests/support/settings_files.h"
#include "tests/support/test_paths.h"

namespace quillon::test {
namespace {

constexpr UINT kChildReady = WM_APP + 1;  // child -> host: wParam = the child's window
constexpr UINT kRunRound = WM_APP + 2;    // host -> child: WM_SETICON from its own thread
constexpr UINT kRoundDone = WM_APP + 3;   // child -> host: the mapped library's version, MS, LS
constexpr UINT kQuit = WM_APP + 4;        // host -> child: end, exit code = access violations

constexpr DWORD kStartTimeoutMs = 300000;  // a 32-bit process start under qemu takes long
constexpr DWORD kRoundTimeoutMs = 120000;  // the first round also maps the library
constexpr std::uint32_t kVersionSignature = 0xFEEF04BD;
constexpr WORD kNextRevision = 0x7A01;  // the revision of the patched "newer" library

const wchar_t kWindowClass[] = L"QuillonLibraryUpdateTest";
const char* g_library_argument = nullptr;

// Registers the class of this process's windows; true when it is registered (an earlier test of
// this process may have done so).
bool RegisterWindowClass(WNDPROC procedure) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND MakeWindow(const wchar_t* title) {
  return CreateWindowExW(0, kWindowClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

// The fixed part of a version resource within `bytes`; null unless there is exactly one.
VS_FIXEDFILEINFO* FindFixedInfo(unsigned char* bytes, std::size_t size) {
  VS_FIXEDFILEINFO* found = nullptr;
  for (std::size_t i = 0; i + sizeof(VS_FIXEDFILEINFO) <= size; ++i) {
    std::uint32_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    if (word != kVersionSignature) continue;
    if (found != nullptr) return nullptr;
    found = reinterpret_cast<VS_FIXEDFILEINFO*>(bytes + i);
  }
  return found;
}

std::uint64_t Version(const VS_FIXEDFILEINFO& fixed) {
  return std::uint64_t{fixed.dwFileVersionMS} << 32 | fixed.dwFileVersionLS;
}

// The file version in the version resource of a mapped module: its image, not its file name,
// says which file was mapped. 0 when there is no module or it has no version.
std::uint64_t MappedVersion(HMODULE module) {
  if (module == nullptr) return 0;
  const HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
  const HGLOBAL loaded = info != nullptr ? LoadResource(module, info) : nullptr;
  if (loaded == nullptr) return 0;
  std::vector<unsigned char> copy(SizeofResource(module, info));
  std::memcpy(copy.data(), LockResource(loaded), copy.size());
  const VS_FIXEDFILEINFO* fixed = FindFixedInfo(copy.data(), copy.size());
  return fixed != nullptr ? Version(*fixed) : 0;
}

// The whole file as the client's own file port reads it; empty when it cannot be read.
std::vector<unsigned char> ReadWholeFile(const std::wstring& path) {
  std::vector<unsigned char> bytes;
  Win32FilePort().ReadWhole(path, bytes);
  return bytes;
}

bool WriteWholeFile(const std::wstring& path, const std::vector<unsigned char>& bytes) {
  UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return file &&
         WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Empties `folder` of files (what an earlier run left); aside copies an earlier run's programs
// still held would fail to go, and are reported by the tests that count them.
void EmptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  UniqueFind search(FindFirstFileW((folder + L"*").c_str(), &found));
  if (!search) return;
  do {
    const std::wstring path = folder + found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only ones too
      DeleteFileW(path.c_str());
    } else if (found.cFileName[0] != L'.') {
      RemoveDirectoryW(path.c_str());
    }
  } while (FindNextFileW(search.Get(), &found));
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  UniqueFind search(FindFirstFileW((folder + L"*").c_str(), &found));
  if (!search) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
  } while (FindNextFileW(search.Get(), &found));
  return names;
}

// ---- the hooked program ---------------------------------------------------------------------

HWND g_host = nullptr;

LRESULT CALLBACK ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunRound) {
    // From the window's own thread: only then does Wine run this thread's hook, which maps
    // the library here the first time.
    SendMessageW(window, WM_SETICON, ICON_SMALL, 0);
    const std::uint64_t version =
        MappedVersion(GetModuleHandleW(contract::HookLibraryFile<wchar_t>));
    PostMessageW(g_host, kRoundDone, static_cast<WPARAM>(version >> 32),
                 static_cast<LPARAM>(version & 0xFFFFFFFF));
    return 0;
  }
  if (message == kQuit) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int RunChild(const char* host_window) {
  AccessViolationGuard guard;
  g_host =
      reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(host_window, nullptr, 0)));
  if (!RegisterWindowClass(ChildProc)) return 90;
  UniqueWindow window(MakeWindow(L"hooked program"));
  if (!window) return 91;
  PostMessageW(g_host, kChildReady, reinterpret_cast<WPARAM>(window.Get()), 0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return static_cast<int>(AccessViolationGuard::count());
}

// ---- the host -------------------------------------------------------------------------------

// A hooked program, started and driven by the host's window.
class HookedProgram {
 public:
  explicit HookedProgram(HWND host) : host_(host) {}
  ~HookedProgram() { Stop(); }
  HookedProgram(const HookedProgram&) = delete;
  HookedProgram& operator=(const HookedProgram&) = delete;

  bool Start() {
    if (!child_.Start(OwnPath().c_str(),
                      L"--child " + std::to_wstring(reinterpret_cast<std::uintptr_t>(host_)))) {
      return false;
    }
    return shell::PumpMessagesUntil([this] { return window_ != nullptr; }, kStartTimeoutMs,
                                    Observer()) == shell::PumpResult::kDone;
  }

  struct Round {
    bool noticed = false;              // the dialog got a notice for the program's window
    std::uint64_t mapped_version = 0;  // of the library mapped in the program, 0 for none
  };
  Round RunRound(HWND dialog) {
    dialog_ = dialog;
    round_ = {};
    done_ = false;
    PostMessageW(window_, kRunRound, 0, 0);
    // The notice is posted before kRoundDone, into this same queue.
    EXPECT_EQ(shell::PumpMessagesUntil([this] { return done_; }, kRoundTimeoutMs, Observer()),
              shell::PumpResult::kDone);
    return round_;
  }

  // Asks the program to end; its exit code (its access violations), or -1. A program that does
  // not end in time is ended.
  long Stop() {
    if (window_ == nullptr) return -1;
    PostMessageW(window_, kQuit, 0, 0);
    window_ = nullptr;
    const long code = child_.WaitForExit(std::chrono::seconds(60));
    child_.Stop();
    return code;
  }

 private:
  shell::MessageObserver Observer() {
    return [this](const MSG& msg) {
      if (msg.message == kChildReady && msg.hwnd == host_) {
        window_ = reinterpret_cast<HWND>(msg.wParam);
      } else if (msg.message == kRoundDone && msg.hwnd == host_) {
        round_.mapped_version =
            std::uint64_t{static_cast<DWORD>(msg.wParam)} << 32 | static_cast<DWORD>(msg.lParam);
        done_ = true;
      } else if (msg.message == contract::kNoticeMessage && msg.hwnd == dialog_ &&
                 msg.lParam == contract::kNoticeLParam &&
                 msg.wParam == reinterpret_cast<WPARAM>(window_)) {
        round_.noticed = true;
      }
    };
  }

  HWND host_;
  HWND window_ = nullptr;
  HWND dialog_ = nullptr;
  ChildProcess child_;
  Round round_;
  bool done_ = false;
};

// This build's version as the version resource holds it, and the patched one's.
constexpr std::uint64_t kBuiltVersion = std::uint64_t{QUILLON_VERSION_MAJOR} << 48 |
                                        std::uint64_t{QUILLON_VERSION_MINOR} << 32 |
                                        std::uint64_t{QUILLON_VERSION_PATCH} << 16;
constexpr std::uint64_t kNextVersion = kBuiltVersion | kNextRevision;

// `bytes` with the revision kNextRevision in the version resource.
bool MarkNextVersion(std::vector<unsigned char>& bytes) {
  VS_FIXEDFILEINFO* fixed = FindFixedInfo(bytes.data(), bytes.size());
  if (fixed == nullptr || Version(*fixed) != kBuiltVersion) return false;
  fixed->dwFileVersionLS |= kNextRevision;
  fixed->dwProductVersionLS |= kNextRevision;
  return true;
}

// A copy of `library` at `target` whose version resource names the revision kNextRevision.
bool WriteNextVersion(const std::wstring& library, const std::wstring& target) {
  std::vector<unsigned char> bytes = ReadWholeFile(library);
  return MarkNextVersion(bytes) && WriteWholeFile(target, bytes);
}

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The next version of `library` at `target`, with HookProc at another offset and the same
// behaviour: the export points to a jump to the old HookProc, placed after the code of its
// section in a block of file data added for it. Nothing in the image refers to file offsets
// but the section headers and the symbol table's (a stripped MinGW image keeps only the string
// table of the long section names there; it has no certificate and no debug directory: checked).
bool WriteMovedHookProc(const std::wstring& library, const std::wstring& target) {
  std::vector<unsigned char> bytes = ReadWholeFile(library);
  const std::optional<std::uint32_t> hook_proc = ExportRva(bytes, contract::kHookProcName);
  if (!hook_proc || !MarkNextVersion(bytes)) return false;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY* directories = nt->OptionalHeader.DataDirectory;
  if (directories[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0 ||
      directories[IMAGE_DIRECTORY_ENTRY_DEBUG].Size != 0) {
    return false;
  }
  IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
  const auto section_of = [&](std::uint32_t rva) -> IMAGE_SECTION_HEADER* {
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
      if (rva >= sections[i].VirtualAddress &&
          rva < sections[i].VirtualAddress + sections[i].SizeOfRawData) {
        return &sections[i];
      }
    }
    return nullptr;
  };
  const auto file_offset = [&](std::uint32_t rva) {
    const IMAGE_SECTION_HEADER* section = section_of(rva);
    return section->PointerToRawData + (rva - section->VirtualAddress);
  };

  // The function table entry that holds HookProc's address (the library exports only it).
  const auto& exports = directories[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (section_of(exports.VirtualAddress) == nullptr) return false;
  const auto* directory =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(&bytes[file_offset(exports.VirtualAddress)]);
  if (directory->NumberOfFunctions != 1) return false;
  std::uint32_t entry = file_offset(directory->AddressOfFunctions);

  IMAGE_SECTION_HEADER* code = section_of(*hook_proc);
  if (code == nullptr) return false;
  const std::uint32_t stub = code->VirtualAddress + AlignUp(code->Misc.VirtualSize, 16);
  const std::uint32_t block = nt->OptionalHeader.FileAlignment;
  const std::uint32_t next_section =
      code->VirtualAddress + AlignUp(code->Misc.VirtualSize, nt->OptionalHeader.SectionAlignment);
  constexpr std::uint32_t kJumpSize = 5;  // E9 and a 32-bit displacement
  if (stub + kJumpSize > next_section ||
      stub + kJumpSize - code->VirtualAddress > code->SizeOfRawData + block) {
    return false;
  }
  const std::uint32_t insert_at = code->PointerToRawData + code->SizeOfRawData;
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
    if (sections[i].PointerToRawData >= insert_at) sections[i].PointerToRawData += block;
  }
  if (nt->FileHeader.PointerToSymbolTable >= insert_at)
    nt->FileHeader.PointerToSymbolTable += block;
  code->SizeOfRawData += block;
  code->Misc.VirtualSize = stub + kJumpSize - code->VirtualAddress;
  nt->OptionalHeader.SizeOfCode += block;
  const std::uint32_t stub_at = file_offset(stub);
  if (entry >= insert_at) entry += block;

  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(insert_at), block, 0);
  const std::int32_t displacement = static_cast<std::int32_t>(*hook_proc - (stub + kJumpSize));
  bytes[stub_at] = 0xE9;
  std::memcpy(&bytes[stub_at + 1], &displacement, sizeof displacement);
  std::memcpy(&bytes[entry], &stub, sizeof stub);
  return ExportRva(bytes, contract::kHookProcName) == stub && WriteWholeFile(target, bytes);
}

// An update while a program maps the old library: the installed file and the next build in
// folders of their own, a host with its dialog and the hook, and a program hooked under it.
class UpdateWhileMapped : public testing::Test {
 protected:
  using WriteNext = bool (*)(const std::wstring& library, const std::wstring& target);

  void Prepare(const std::wstring& name, WriteNext write_next) {
    const std::wstring library = WindowsPath(g_library_argument);
    folder = TempFolder(name.c_str());
    EmptyFolder(folder);
    installed = folder + contract::HookLibraryFile<wchar_t>;
    newer = TempFolder((name + L"-next").c_str()) + contract::HookLibraryFile<wchar_t>;
    ASSERT_TRUE(CopyFileW(library.c_str(), installed.c_str(), FALSE));
    ASSERT_TRUE(write_next(library, newer));
  }

  void StartHostAndOldProgram() {
    ASSERT_TRUE(RegisterWindowClass(DefWindowProcW));
    main.Reset(MakeWindow(L"host main"));
    ASSERT_TRUE(main);
    ASSERT_TRUE(WriteHostWindow(contract::HookSettingsFile<wchar_t>, main.Get()));
    chain = shell::ShellChain::Create({.dialogTitle = contract::DialogTitle<wchar_t>});
    ASSERT_NE(chain, nullptr);
    dialog = chain->dialog();
    ASSERT_EQ(hook.Install(dialog, installed), HookStatus::kInstalled);
    old_program = std::make_unique<HookedProgram>(main.Get());
    ASSERT_TRUE(old_program->Start());
  }

  void TearDown() override { RemoveSettingsFile(contract::HookSettingsFile<wchar_t>); }

  SettingsBackup settings;
  std::wstring folder, installed, newer;
  UniqueWindow main;
  std::unique_ptr<shell::ShellChain> chain;
  HWND dialog = nullptr;
  IconHook hook;
  std::unique_ptr<HookedProgram> old_program;
};

TEST_F(UpdateWhileMapped, ReplacesTheLibraryWhileAHookedProgramMapsTheOldCopy) {
  ASSERT_NO_FATAL_FAILURE(Prepare(L"library-update", WriteNextVersion));
  ASSERT_NO_FATAL_FAILURE(StartHostAndOldProgram());
  HookedProgram::Round round = old_program->RunRound(dialog);
  EXPECT_TRUE(round.noticed);
  EXPECT_EQ(round.mapped_version, kBuiltVersion);

  // 1. Remove the hook: this process's own copy goes, the program keeps its copy.
  hook.Remove();
  EXPECT_EQ(GetModuleHandleW(installed.c_str()), nullptr);

  // 2. Replace the file while the program maps the old one.
  const std::vector<unsigned char> old_bytes = ReadWholeFile(installed);
  const LibraryUpdate update = ReplaceLibraryFile(newer, installed);
  ASSERT_EQ(update.status, UpdateStatus::kReplaced) << Describe(update.status);
  EXPECT_FALSE(update.loaded_here);
  EXPECT_EQ(update.aside_copies_left, 1u) << "the program's copy cannot be deleted yet";
  ASSERT_FALSE(update.aside.empty());
  EXPECT_EQ(update.aside.rfind(installed + L".old-", 0), 0u);
  EXPECT_EQ(ReadWholeFile(update.aside), old_bytes);
  EXPECT_EQ(ReadWholeFile(installed), ReadWholeFile(newer));
  EXPECT_EQ(FilesIn(folder).size(), 2u) << "the library and the aside copy, nothing else";

  // 3. Install the hook again: this process and a program started now map the new file.
  ASSERT_EQ(hook.Install(dialog, installed), HookStatus::kInstalled);
  EXPECT_EQ(MappedVersion(hook.Library()), kNextVersion);
  HookedProgram new_program(main.Get());
  ASSERT_TRUE(new_program.Start());
  round = new_program.RunRound(dialog);
  EXPECT_TRUE(round.noticed);
  EXPECT_EQ(round.mapped_version, kNextVersion);

  // The program hooked before the update runs on, hooked, with its old copy.
  round = old_program->RunRound(dialog);
  EXPECT_TRUE(round.noticed);
  EXPECT_EQ(round.mapped_version, kBuiltVersion);

  // The aside copy stays while the program holds it, and goes at the next call once it ended.
  AsideCleanup cleanup = RemoveAsideCopies(installed);
  EXPECT_EQ(cleanup.removed, 0u);
  EXPECT_EQ(cleanup.left, 1u);
  EXPECT_TRUE(Exists(update.aside));
  EXPECT_EQ(old_program->Stop(), 0) << "the old program saw no access violation";
  cleanup = RemoveAsideCopies(installed);
  EXPECT_EQ(cleanup.removed, 1u);
  EXPECT_EQ(cleanup.left, 0u);
  EXPECT_FALSE(Exists(update.aside));

  round = new_program.RunRound(dialog);
  EXPECT_TRUE(round.noticed);
  EXPECT_EQ(new_program.Stop(), 0);
  hook.Remove();
}

// The same update with a newer library whose HookProc lies at another offset: while the program
// hooked before maps the old copy, installing the hook again would run the new offset in the old
// code there, so IconHook waits; once the program has ended the hook is installed as usual.
TEST_F(UpdateWhileMapped, TheHookWaitsWhileAnOldCopyWithHookProcElsewhereIsMapped) {
  ASSERT_NO_FATAL_FAILURE(Prepare(L"library-update-moved", WriteMovedHookProc));
  ASSERT_NE(ExportRva(ReadWholeFile(newer), contract::kHookProcName),
            ExportRva(ReadWholeFile(installed), contract::kHookProcName));
  ASSERT_NO_FATAL_FAILURE(StartHostAndOldProgram());
  EXPECT_TRUE(old_program->RunRound(dialog).noticed);
  hook.Remove();
  const LibraryUpdate update = ReplaceLibraryFile(newer, installed);
  ASSERT_EQ(update.status, UpdateStatus::kReplaced) << Describe(update.status);
  EXPECT_EQ(update.aside_copies_left, 1u);

  // Refused before anything was loaded, and refused again while the program runs.
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(hook.Install(dialog, installed), HookStatus::kOldLibraryInUse);
    EXPECT_FALSE(hook.Installed());
    EXPECT_EQ(GetModuleHandleW(installed.c_str()), nullptr);
    EXPECT_EQ(GetPropW(dialog, contract::HookProperty<wchar_t>), nullptr);
    const HookedProgram::Round round = old_program->RunRound(dialog);
    EXPECT_EQ(round.mapped_version, kBuiltVersion) << "the program still maps the old copy";
  }
  EXPECT_TRUE(Exists(update.aside));
  EXPECT_EQ(old_program->Stop(), 0) << "the old program saw no access violation";

  // Its copy is free now: Install deletes it and installs the hook from the new file.
  ASSERT_EQ(hook.Install(dialog, installed), HookStatus::kInstalled);
  EXPECT_FALSE(Exists(update.aside));
  EXPECT_EQ(MappedVersion(hook.Library()), kNextVersion);
  HookedProgram new_program(main.Get());
  ASSERT_TRUE(new_program.Start());
  const HookedProgram::Round round = new_program.RunRound(dialog);
  EXPECT_TRUE(round.noticed) << "the moved HookProc is the same code";
  EXPECT_EQ(round.mapped_version, kNextVersion);
  EXPECT_EQ(new_program.Stop(), 0);
  hook.Remove();
  EmptyFolder(folder);
}

// What the real file system refuses, each reported as its own result and leaving the installed
// file as it was.
TEST(LibraryUpdate, ReportsWhatTheFileSystemRefuses) {
  const std::wstring library = WindowsPath(g_library_argument);
  const std::wstring folder = TempFolder(L"library-update-faults");
  const std::wstring installed = folder + L"Tallyhook.dll";
  const std::wstring missing_folder = folder + L"no such folder\\Tallyhook.dll";
  UniqueFileHandle locked;  // opened without share-delete, as by a program reading the file
  const std::wstring read_only = TempFolder(L"library-update-read-only") + L"Tallyhook.dll";
  SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(CopyFileW(library.c_str(), read_only.c_str(), FALSE));
  ASSERT_TRUE(SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY));

  struct Case {
    const char* name;
    std::wstring new_file, installed;
    bool install_first;
    bool lock_installed;
    UpdateStatus status;
    DWORD system_error;
  };
  const Case cases[] = {
      {"first install into an empty folder", library, installed, false, false,
       UpdateStatus::kReplaced, 0},
      {"the new file is missing", library + L".missing", installed, true, false,
       UpdateStatus::kNewFileMissing, 0},
      {"the new file is a folder", folder, installed, true, false, UpdateStatus::kNewFileMissing,
       0},
      {"a folder at the installed path", library, folder + L"sub", false, false,
       UpdateStatus::kInstalledNotAFile, 0},
      {"the installed folder does not exist", library, missing_folder, false, false,
       UpdateStatus::kStagingFailed, ERROR_PATH_NOT_FOUND},
      {"the installed file is open without share-delete", library, installed, true, true,
       UpdateStatus::kMoveAsideFailed, ERROR_SHARING_VIOLATION},
      {"the new file is read-only (taken from read-only media)", read_only, installed, true, false,
       UpdateStatus::kReplaced, 0},
      {"no folder in the path", library, L"", false, false, UpdateStatus::kBadPath, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmptyFolder(folder);
    CreateDirectoryW((folder + L"sub").c_str(), nullptr);
    const char old_text[] = "an older library";
    if (c.install_first) {
      ASSERT_TRUE(WriteWholeFile(installed, {std::begin(old_text), std::end(old_text)}));
    }
    if (c.lock_installed) {
      locked.Reset(CreateFileW(installed.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(locked);
    }
    const LibraryUpdate update = ReplaceLibraryFile(c.new_file, c.installed);
    locked.Reset();
    EXPECT_EQ(update.status, c.status) << Describe(update.status);
    EXPECT_EQ(update.system_error, c.system_error);
    EXPECT_TRUE(update.aside.empty());
    if (c.status == UpdateStatus::kReplaced) {
      EXPECT_EQ(ReadWholeFile(c.installed), ReadWholeFile(library));
      EXPECT_EQ(GetFileAttributesW(c.installed.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    } else if (c.install_first) {
      EXPECT_EQ(ReadWholeFile(installed),
                std::vector<unsigned char>(std::begin(old_text), std::end(old_text)));
    }
    const std::size_t files_expected = c.install_first || c.status == UpdateStatus::kReplaced;
    EXPECT_EQ(FilesIn(folder).size(), files_expected) << "no staging copy is left behind";
  }
  EmptyFolder(folder);
  SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(read_only.c_str());
}

// Only aside copies are deleted, by their names' exact pattern, and a held one stays.
TEST(LibraryUpdate, CleanUpTakesOnlyFreeAsideCopies) {
  const std::wstring folder = TempFolder(L"library-update-clean-up");
  EmptyFolder(folder);
  const std::wstring installed = folder + L"Tallyhook.dll";
  const std::wstring free_copies[] = {installed + L".old-01d9a0b1c2d3e4f5",
                                      folder + L"TALLYHOOK.DLL.OLD-01D9A0B1C2D3E4F6"};
  const std::wstring held_copy = installed + L".old-01d9a0b1c2d3e4f7";
  const std::wstring others[] = {installed + L".old", installed + L".old-01d9a0b1c2d3e4f",
                                 installed + L".old-01d9a0b1c2d3e4f5.bak",
                                 folder + L"Other.dll.old-01d9a0b1c2d3e4f5"};
  const std::wstring folder_like_a_copy = installed + L".old-01d9a0b1c2d3e4f8";
  const std::vector<unsigned char> text = {'x'};
  ASSERT_TRUE(WriteWholeFile(installed, text));
  for (const auto& path : free_copies) ASSERT_TRUE(WriteWholeFile(path, text));
  // An aside copy of a library that was installed read-only goes too.
  ASSERT_TRUE(SetFileAttributesW(free_copies[1].c_str(), FILE_ATTRIBUTE_READONLY));
  for (const auto& path : others) ASSERT_TRUE(WriteWholeFile(path, text));
  ASSERT_TRUE(WriteWholeFile(held_copy, text));
  ASSERT_TRUE(CreateDirectoryW(folder_like_a_copy.c_str(), nullptr));
  UniqueFileHandle held(CreateFileW(held_copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  const AsideCleanup cleanup = RemoveAsideCopies(installed);
  EXPECT_EQ(cleanup.removed, 2u);
  EXPECT_EQ(cleanup.left, 1u);
  for (const auto& path : free_copies) EXPECT_FALSE(Exists(path));
  for (const auto& path : others) EXPECT_TRUE(Exists(path));
  EXPECT_TRUE(Exists(held_copy));
  EXPECT_TRUE(Exists(folder_like_a_copy));
  EXPECT_TRUE(Exists(installed));

  held.Reset();
  EXPECT_EQ(RemoveAsideCopies(installed).removed, 1u);
  EXPECT_FALSE(Exists(held_copy));
  RemoveDirectoryW(folder_like_a_copy.c_str());
  EmptyFolder(folder);
}

// A process that still has the old library loaded gets that copy from LoadLibrary of the
// installed path even after the file was replaced: the result says so.
TEST(LibraryUpdate, SaysWhenThisProcessStillHasTheOldCopy) {
  const std::wstring library = WindowsPath(g_library_argument);
  const std::wstring folder = TempFolder(L"library-update-loaded");
  EmptyFolder(folder);
  const std::wstring installed = folder + L"Tallyhook.dll";
  const std::wstring newer = folder + L"next.dll";
  ASSERT_TRUE(CopyFileW(library.c_str(), installed.c_str(), FALSE));
  ASSERT_TRUE(WriteNextVersion(library, newer));
  // No task bar chain exists here: the library finds no dialog and arms nothing.
  UniqueModule old_copy(LoadLibraryW(installed.c_str()));
  ASSERT_TRUE(old_copy);
  // The offset the system keeps for HookProc is the one the file's export table gives.
  const auto* hook_proc = reinterpret_cast<const unsigned char*>(
      GetProcAddress(old_copy.Get(), contract::kHookProcName));
  ASSERT_NE(hook_proc, nullptr);
  EXPECT_EQ(ExportRva(ReadWholeFile(installed), contract::kHookProcName),
            static_cast<std::uint32_t>(hook_proc -
                                       reinterpret_cast<const unsigned char*>(old_copy.Get())));

  const LibraryUpdate update = ReplaceLibraryFile(newer, installed);
  EXPECT_EQ(update.status, UpdateStatus::kReplaced);
  EXPECT_TRUE(update.loaded_here);
  EXPECT_EQ(update.aside_copies_left, 1u);
  // This process holds the old copy, whose HookProc lies where the new file has it.
  const OldCopyCheck check = CheckOldCopies(installed);
  EXPECT_EQ(check.held, 1u);
  EXPECT_TRUE(check.SafeToInstall());
  UniqueModule again(LoadLibraryW(installed.c_str()));
  EXPECT_EQ(again.Get(), old_copy.Get());
  EXPECT_EQ(MappedVersion(again.Get()), kBuiltVersion);

  again.Reset();
  old_copy.Reset();
  EXPECT_EQ(RemoveAsideCopies(installed).removed, 1u);
  UniqueModule fresh(LoadLibraryW(installed.c_str()));
  EXPECT_EQ(MappedVersion(fresh.Get()), kNextVersion);
  fresh.Reset();
  EmptyFolder(folder);
}

}  // namespace
}  // namespace quillon::test

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--child") return quillon::test::RunChild(argv[2]);
  return quillon::test::RunAllTestsWithCleanRunLine(
      argc, argv, "host_library_update_wine_test <Tallyhook.dll> | --child <host window>",
      {&quillon::test::g_library_argument});
}
