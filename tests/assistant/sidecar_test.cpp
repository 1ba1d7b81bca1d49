// Sidecar64.exe end to end: a real requester process (this one) drives the handshake against the
// shipped program, and the watchdog reads real settings files in the prefix's application data.
#include <windows.h>
// After windows.h, which it builds on.
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crash_guard.h"
#include "host/contract.h"

namespace {

namespace contract = quillon::contract;
using namespace std::chrono_literals;

constexpr DWORD kSendTimeoutMs = 20000;
constexpr const wchar_t* kNotepad32 = L"C:\\windows\\syswow64\\notepad.exe";

// ---- replies ------------------------------------------------------------------------------

struct Reply {
  WPARAM wParam;
  ULONG_PTR dwData;
  DWORD cbData;
  std::wstring text;  // the delivered units, terminator included
};
std::vector<Reply> g_replies;
// When set, the first reply that arrives sends this further request from inside the reply,
// while Sidecar64 still waits in its own send.
HWND g_nestedTo = nullptr;
std::wstring g_nestedRequest;

LRESULT CALLBACK ReplyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const auto* units = static_cast<const wchar_t*>(data->lpData);
    g_replies.push_back({wParam, data->dwData, data->cbData,
                         units ? std::wstring(units, data->cbData / sizeof(wchar_t)) : L""});
    if (g_nestedTo != nullptr) {
      const HWND receiver = std::exchange(g_nestedTo, nullptr);
      COPYDATASTRUCT nested{0, static_cast<DWORD>((g_nestedRequest.size() + 1) * sizeof(wchar_t)),
                            g_nestedRequest.data()};
      SendMessageW(receiver, WM_NULL, 0, 0);
      SendMessageW(receiver, WM_COPYDATA, reinterpret_cast<WPARAM>(window),
                   reinterpret_cast<LPARAM>(&nested));
    }
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeWindow() {
  static const ATOM atom = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &ReplyProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuillonTest_Requester";
    return RegisterClassExW(&windowClass);
  }();
  return atom ? CreateWindowExW(0, L"QuillonTest_Requester", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr)
              : nullptr;
}

std::wstring Decimal(HWND window) {
  return std::to_wstring(static_cast<long long>(reinterpret_cast<INT_PTR>(window)));
}

std::wstring Hex(HWND window) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08x",
                static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window) & 0xffffffffu));
  return text;
}

// A handle value that names no window at the moment.
HWND DeadWindow() {
  const HWND window = MakeWindow();
  DestroyWindow(window);
  return window;
}

// ---- the settings file --------------------------------------------------------------------

std::wstring AppData() {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}
std::wstring FirmFolder() { return AppData() + L"\\" + contract::Firm<wchar_t>; }
std::wstring AppFolder() { return FirmFolder() + L"\\" + contract::App<wchar_t>; }
std::wstring SettingsFile() {
  return AppFolder() + L"\\" + contract::AssistantSettingsFile<wchar_t>;
}

void WriteHandle(const std::wstring& value) {
  CreateDirectoryW(FirmFolder().c_str(), nullptr);
  CreateDirectoryW(AppFolder().c_str(), nullptr);
  std::string text = "[Options\\Windows\\Main]\r\nHandle=";
  for (wchar_t c : value) text += static_cast<char>(c);
  text += "\r\n";
  const HANDLE file = CreateFileW(SettingsFile().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

void RemoveSettings() {
  DeleteFileW(SettingsFile().c_str());
  RemoveDirectoryW(AppFolder().c_str());
  RemoveDirectoryW(FirmFolder().c_str());
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// ---- processes ----------------------------------------------------------------------------

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { Stop(); }

  bool Start(const wchar_t* path) {
    std::wstring commandLine = L"\"" + std::wstring(path) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    return CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info_) != 0;
  }

  // The first top-level window of `className` (any class when null) that this process owns.
  HWND FindWindowOf(const wchar_t* className, std::chrono::seconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    do {
      for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window != nullptr;
           window = FindWindowExW(nullptr, window, className, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == info_.dwProcessId && (className != nullptr || IsWindowVisible(window))) {
          return window;
        }
      }
      if (WaitForSingleObject(info_.hProcess, 100) == WAIT_OBJECT_0) return nullptr;
    } while (std::chrono::steady_clock::now() < end);
    return nullptr;
  }

  // Waits for the end while serving our own windows; returns the exit code or -1 on timeout.
  long WaitForExit(std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (WaitForSingleObject(info_.hProcess, 20) == WAIT_TIMEOUT) {
      Pump();
      if (std::chrono::steady_clock::now() >= end) return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
  }

  bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

  void Stop() {
    if (info_.hProcess == nullptr) return;
    if (Running()) {
      TerminateProcess(info_.hProcess, 1);
      WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
    info_ = {};
  }

 private:
  PROCESS_INFORMATION info_{};
};

// ---- the requester ------------------------------------------------------------------------

class SidecarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_replies.clear();
    replyWindow_ = MakeWindow();
    ASSERT_NE(replyWindow_, nullptr);
  }
  void TearDown() override {
    sidecar_.Stop();
    if (mutex_ != nullptr) CloseHandle(mutex_);
    DestroyWindow(replyWindow_);
  }

  // Starts Sidecar64 with the reply window as the host's live main window.
  void StartSidecar() { StartSidecarWith(Decimal(replyWindow_)); }

  void StartSidecarWith(const std::wstring& handleText) {
    WriteHandle(handleText);
    StartSidecarAsIs();
  }

  void StartSidecarAsIs() {
    ASSERT_TRUE(sidecar_.Start(SIDECAR64_EXE));
    receiveWindow_ = sidecar_.FindWindowOf(contract::ReceiveClass<wchar_t>, 10s);
    ASSERT_NE(receiveWindow_, nullptr) << "no receive window appeared";
    wchar_t title[8] = L"x";
    GetWindowTextW(receiveWindow_, title, 8);
    EXPECT_STREQ(title, L"");
    EXPECT_FALSE(IsWindowVisible(receiveWindow_));
    mutex_ = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, contract::RequestMutex<wchar_t>);
    ASSERT_NE(mutex_, nullptr);
  }

  bool Send(UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(receiveWindow_, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs,
                               &result) != 0;
  }
  bool SendNull() { return Send(WM_NULL, 0, 0); }
  bool SendData(const void* data, DWORD bytes) {
    COPYDATASTRUCT copy{0, bytes, const_cast<void*>(data)};
    return Send(WM_COPYDATA, reinterpret_cast<WPARAM>(replyWindow_),
                reinterpret_cast<LPARAM>(&copy));
  }
  bool SendText(const std::wstring& text) {
    return SendData(text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  bool Request(const std::wstring& text) { return SendNull() && SendText(text); }

  std::wstring GetPathRequest(HWND target) {
    return std::wstring(contract::GetPathCommand<wchar_t>) + L" " + Hex(replyWindow_) + L" " +
           Hex(target);
  }

  // What a party waiting on the mutex gets right now; a free mutex is taken and given back.
  DWORD TryMutex(DWORD waitMs = 0) {
    const DWORD result = WaitForSingleObject(mutex_, waitMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex_);
    return result;
  }

  void ExpectReply(HWND target, const std::wstring& path) {
    ASSERT_EQ(g_replies.size(), 1u);
    const Reply& reply = g_replies.front();
    EXPECT_EQ(reply.wParam, reinterpret_cast<WPARAM>(target));
    EXPECT_EQ(reply.dwData, reinterpret_cast<ULONG_PTR>(target));
    EXPECT_EQ(reply.cbData, (path.size() + 1) * sizeof(wchar_t));
    ASSERT_FALSE(reply.text.empty());
    EXPECT_EQ(reply.text.back(), L'\0');
    EXPECT_EQ(CompareStringOrdinal(reply.text.c_str(), -1, path.c_str(), -1, TRUE), CSTR_EQUAL)
        << "reply: " << std::string(reply.text.begin(), reply.text.end());
    g_replies.clear();
  }

  ChildProcess sidecar_;
  HWND replyWindow_ = nullptr;
  HWND receiveWindow_ = nullptr;
  HANDLE mutex_ = nullptr;
};

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

TEST_F(SidecarTest, GetPathAnswersWithTheImageOfTheWindowsProcess) {
  StartSidecar();
  ASSERT_TRUE(Request(GetPathRequest(replyWindow_)));
  ExpectReply(replyWindow_, OwnPath());
  EXPECT_EQ(TryMutex(), static_cast<DWORD>(WAIT_OBJECT_0));

  const HWND dead = DeadWindow();
  ASSERT_TRUE(Request(GetPathRequest(dead)));
  ExpectReply(dead, L"");
  EXPECT_EQ(TryMutex(), static_cast<DWORD>(WAIT_OBJECT_0));

  // Case, extra arguments and spacing do not matter; an unknown word gets no answer.
  ASSERT_TRUE(Request(L"  gETpATH\t" + Hex(replyWindow_) + L"   " + Hex(replyWindow_) + L" 0x1"));
  ExpectReply(replyWindow_, OwnPath());
  ASSERT_TRUE(Request(L"GetPathX " + Hex(replyWindow_) + L" " + Hex(replyWindow_)));
  EXPECT_TRUE(g_replies.empty());
  EXPECT_EQ(TryMutex(), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(SidecarTest, ARequestSentFromInsideAReplyIsServedAndBothRepliesArrive) {
  StartSidecar();
  const HWND dead = DeadWindow();
  g_nestedTo = receiveWindow_;
  g_nestedRequest = GetPathRequest(dead);
  ASSERT_TRUE(Request(GetPathRequest(replyWindow_)));
  // The nested request was answered while the outer reply was being delivered.
  ASSERT_EQ(g_replies.size(), 2u);
  const Reply outer = g_replies[0];
  g_replies.erase(g_replies.begin());
  ExpectReply(dead, L"");
  g_replies.push_back(outer);
  ExpectReply(replyWindow_, OwnPath());
  EXPECT_EQ(TryMutex(), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(SidecarTest, WithoutItsMutexItServesNoRequestButStillWatches) {
  // An object of another kind under the mutex's name makes the mutex's creation fail.
  const HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, contract::RequestMutex<wchar_t>);
  ASSERT_NE(squatter, nullptr);
  WriteHandle(Decimal(replyWindow_));
  ASSERT_TRUE(sidecar_.Start(SIDECAR64_EXE));
  receiveWindow_ = sidecar_.FindWindowOf(contract::ReceiveClass<wchar_t>, 10s);
  ASSERT_NE(receiveWindow_, nullptr);
  ASSERT_TRUE(Request(GetPathRequest(replyWindow_)));
  EXPECT_TRUE(g_replies.empty());
  WriteHandle(L"0");
  PostMessageW(receiveWindow_, WM_TIMER, contract::kAssistantWatchdogTimerId, 0);
  EXPECT_EQ(sidecar_.WaitForExit(5s), 0);
  CloseHandle(squatter);
}

TEST_F(SidecarTest, ARequestWithoutWmNullIsStillServed) {
  StartSidecar();
  ASSERT_TRUE(SendText(GetPathRequest(replyWindow_)));
  ExpectReply(replyWindow_, OwnPath());
  EXPECT_EQ(TryMutex(), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(SidecarTest, MalformedRequestsRunNothingAndReleaseTheMutex) {
  StartSidecar();
  const std::wstring valid = GetPathRequest(replyWindow_);
  const std::wstring tooLong = valid + std::wstring(contract::kMaxRequestUnits, L' ');
  struct Case {
    const char* name;
    const void* data;
    DWORD bytes;
  };
  const Case cases[] = {
      {"no data", nullptr, 0},
      {"empty size", valid.c_str(), 0},
      {"no terminator", valid.c_str(), static_cast<DWORD>(valid.size() * sizeof(wchar_t))},
      {"half a terminator", valid.c_str(), static_cast<DWORD>(valid.size() * 2 + 1)},
      {"1024 units and more", tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(SendNull());
    ASSERT_TRUE(SendData(c.data, c.bytes));
    EXPECT_TRUE(g_replies.empty());
    EXPECT_EQ(TryMutex(), static_cast<DWORD>(WAIT_OBJECT_0));
  }
  // Exactly 1023 units still fit: the padding spaces are only delimiters.
  const std::wstring longest =
      valid + std::wstring(contract::kMaxRequestUnits - 1 - valid.size(), L' ');
  ASSERT_TRUE(Request(longest));
  ExpectReply(replyWindow_, OwnPath());
  ASSERT_TRUE(sidecar_.Running());
}

TEST_F(SidecarTest, TwoWmNullNeedTwoRequestsBeforeTheMutexIsFree) {
  StartSidecar();
  ASSERT_TRUE(SendNull());
  ASSERT_TRUE(SendNull());
  ASSERT_TRUE(SendText(GetPathRequest(replyWindow_)));
  ExpectReply(replyWindow_, OwnPath());
  EXPECT_EQ(TryMutex(300), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SendText(L"Nothing"));
  EXPECT_EQ(TryMutex(), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(SidecarTest, ExitReleasesTheMutexAndEndsWithCodeZero) {
  StartSidecar();
  ASSERT_TRUE(Request(L"eXIT now"));
  EXPECT_EQ(TryMutex(), static_cast<DWORD>(WAIT_OBJECT_0));  // released, not abandoned
  EXPECT_EQ(sidecar_.WaitForExit(5s), 0);
}

TEST_F(SidecarTest, CloseEndsWithCodeZero) {
  StartSidecar();
  PostMessageW(receiveWindow_, WM_CLOSE, 0, 0);
  EXPECT_EQ(sidecar_.WaitForExit(5s), 0);
}

// The watchdog, driven by a posted watchdog WM_TIMER so that no case waits for the 10-second period.
struct LivenessCase {
  const char* name;
  std::wstring (*handleText)(HWND live);
  bool staysAlive;
};

class WatchdogTest : public SidecarTest, public ::testing::WithParamInterface<LivenessCase> {};

TEST_P(WatchdogTest, EndsExactlyWhenTheHandleNamesNoWindow) {
  StartSidecarWith(GetParam().handleText(replyWindow_));
  // Another timer identifier is not the watchdog: the settings are not looked at.
  PostMessageW(receiveWindow_, WM_TIMER, 5, 0);
  EXPECT_EQ(sidecar_.WaitForExit(1500ms), -1) << "ended on a foreign timer";
  PostMessageW(receiveWindow_, WM_TIMER, contract::kAssistantWatchdogTimerId, 0);
  if (GetParam().staysAlive) {
    EXPECT_EQ(sidecar_.WaitForExit(1500ms), -1);
  } else {
    EXPECT_EQ(sidecar_.WaitForExit(5s), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, WatchdogTest,
    ::testing::Values(
        LivenessCase{"Live", [](HWND live) { return Decimal(live); }, true},
        LivenessCase{"LiveWithTrailingText", [](HWND live) { return Decimal(live) + L"x9"; }, true},
        LivenessCase{"LiveWithSignAndSpace", [](HWND live) { return L" +" + Decimal(live); }, true},
        LivenessCase{"Zero", [](HWND) { return std::wstring(L"0"); }, false},
        LivenessCase{"Empty", [](HWND) { return std::wstring(); }, false},
        LivenessCase{"NoDigits", [](HWND) { return std::wstring(L"main"); }, false},
        LivenessCase{"DeadWindow", [](HWND) { return Decimal(DeadWindow()); }, false},
        LivenessCase{"Saturated", [](HWND) { return std::wstring(L"99999999999999"); }, false}),
    [](const auto& param) { return std::string(param.param.name); });

// Sets the firm folder aside (other programs' settings files may live there too), so that a test
// starts with no folders at all, and puts it back afterwards.
class FirmFolderSetAside {
 public:
  FirmFolderSetAside() : aside_(FirmFolder() + L".aside") {
    RemoveSettings();
    moved_ = MoveFileW(FirmFolder().c_str(), aside_.c_str()) != 0;
  }
  ~FirmFolderSetAside() {
    RemoveSettings();
    if (moved_) MoveFileW(aside_.c_str(), FirmFolder().c_str());
  }

 private:
  std::wstring aside_;
  bool moved_ = false;
};

TEST_F(SidecarTest, WithoutASettingsFileItEndsAtTheFirstExpiryAndMakesTheFolders) {
  FirmFolderSetAside aside;
  ASSERT_FALSE(FolderExists(FirmFolder()));
  const auto start = std::chrono::steady_clock::now();
  StartSidecarAsIs();
  EXPECT_EQ(sidecar_.WaitForExit(20s), 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 9s);
  EXPECT_LE(elapsed, 15s);
  EXPECT_TRUE(FolderExists(AppFolder()));
}

TEST_F(SidecarTest, ALiveHandleOutlastsARealExpiryADeadOneEndsTheNext) {
  StartSidecar();
  EXPECT_EQ(sidecar_.WaitForExit(12s), -1) << "ended although the host window lives";
  WriteHandle(Decimal(DeadWindow()));
  EXPECT_EQ(sidecar_.WaitForExit(12s), 0);
}

// ---- a hostile desktop ------------------------------------------------------------------------

// Sidecar64 still serves: a GetPath is answered, the mutex is free, the program runs.
#define EXPECT_STILL_SERVING()                                \
  do {                                                        \
    ASSERT_TRUE(sidecar_.Running()) << "Sidecar64 ended";     \
    ASSERT_TRUE(Request(GetPathRequest(replyWindow_)));       \
    ExpectReply(replyWindow_, OwnPath());                     \
    EXPECT_EQ(TryMutex(), static_cast<DWORD>(WAIT_OBJECT_0)); \
  } while (false)

// An address that is writable in every process: a writable section of ntdll, which the system
// maps at the same address everywhere.
void* SharedWritableAddress() {
  auto* base = reinterpret_cast<std::uint8_t*>(GetModuleHandleW(L"ntdll.dll"));
  if (base == nullptr) return nullptr;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if ((section->Characteristics & IMAGE_SCN_MEM_WRITE) != 0) {
      return base + section->VirtualAddress + 64;
    }
  }
  return nullptr;
}

// Another process sends the live window creation messages whose creation parameter it chose;
// the system copies the sender's CREATESTRUCT across, parameter included.
TEST_F(SidecarTest, ForgedCreationMessagesDecideNothing) {
  StartSidecar();
  void* const shared = SharedWritableAddress();
  ASSERT_NE(shared, nullptr);
  const struct {
    const char* name;
    void* parameter;
  } forgeries[] = {
      {"wild pointer", reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x00007ff0deadbee0))},
      {"memory writable in every process", shared},
      {"zero", nullptr},
  };
  for (const auto& forged : forgeries) {
    SCOPED_TRACE(forged.name);
    for (const UINT message : {UINT{WM_NCCREATE}, UINT{WM_CREATE}}) {
      CREATESTRUCTW create{};
      create.lpCreateParams = forged.parameter;
      Send(message, 0, reinterpret_cast<LPARAM>(&create));
      EXPECT_STILL_SERVING();
    }
  }
}

// Every message number below WM_USER, from another process, with parameters the system hands
// on as they are. Left out: what ends Sidecar64 by design (WM_DESTROY, WM_CLOSE, WM_QUIT,
// WM_ENDSESSION), the request channel itself (WM_NULL takes the mutex until the next
// WM_COPYDATA), and the messages whose parameters point to data that the system marshals for
// the sender, so that a forged pointer would only fault in the sender's own copy.
// Wine's, not ours: WM_ASKCBFORMATNAME with a size of all ones ends the receiving process inside
// Wine's copying of the reply buffer, before any window procedure runs (seen with a bare window
// whose procedure answers everything with 0); it is a marshalled message anyway.
bool SweepLeavesOut(UINT message) {
  switch (message) {
    case WM_NULL:
    case WM_DESTROY:
    case WM_CLOSE:
    case WM_QUIT:
    case WM_ENDSESSION:
    case WM_COPYDATA:
    // Pointers the system marshals:
    case WM_CREATE:
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_WININICHANGE:
    case WM_DEVMODECHANGE:
    case WM_GETMINMAXINFO:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_DELETEITEM:
    case WM_COMPAREITEM:
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED:
    case WM_HELP:
    case WM_STYLECHANGING:
    case WM_STYLECHANGED:
    case WM_NCCREATE:
    case WM_NCCALCSIZE:
    case WM_GETDLGCODE:
    case WM_ASKCBFORMATNAME:
      return true;
    default:
      return false;
  }
}

TEST_F(SidecarTest, EveryMessageFromAnotherProcessLeavesItServing) {
  StartSidecar();
  constexpr auto kSweepLimit = 120s;
  constexpr UINT kBatch = 64;
  const std::pair<WPARAM, LPARAM> parameters[] = {{0, 0}, {1, 2}, {~WPARAM{0}, ~LPARAM{0}}};
  const auto start = std::chrono::steady_clock::now();
  for (UINT first = 0; first < WM_USER; first += kBatch) {
    for (UINT message = first; message < first + kBatch; ++message) {
      if (SweepLeavesOut(message)) continue;
      for (const auto& [wParam, lParam] : parameters) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(receiveWindow_, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000,
                            &result);
      }
    }
    SCOPED_TRACE(::testing::Message()
                 << "after messages " << first << " to " << first + kBatch - 1);
    EXPECT_STILL_SERVING();
    ASSERT_LT(std::chrono::steady_clock::now() - start, kSweepLimit);
  }
}

// A liveness value of a million digits (leading zeros, then the live handle): a tick reads the
// whole value, and a request that arrives meanwhile waits only for what is left of the tick.
TEST_F(SidecarTest, AMillionDigitHandleCostsATickNoMoreThanAFewReads) {
  const std::wstring handle = Decimal(replyWindow_);
  StartSidecarWith(std::wstring(1000000 - handle.size(), L'0') + handle);
  constexpr auto kTickBudget = 100ms;
  for (const auto delay : {0ms, 5ms, 20ms, 40ms}) {
    PostMessageW(receiveWindow_, WM_TIMER, contract::kAssistantWatchdogTimerId, 0);
    std::this_thread::sleep_for(delay);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Request(GetPathRequest(replyWindow_)));
    const auto took = std::chrono::steady_clock::now() - start;
    ExpectReply(replyWindow_, OwnPath());
    std::printf("request %lld ms after a tick began: answered in %lld ms\n",
                static_cast<long long>(delay.count()),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_LT(took, kTickBudget);
  }
  EXPECT_EQ(sidecar_.WaitForExit(500ms), -1) << "the long value named a live window";
}

// A 32-bit target: its start costs about a minute here, so it is started once, up front, and
// only when the test that needs it runs.
ChildProcess* g_notepad = nullptr;
constexpr const char* k32BitTestName = "GetPathReachesIntoA32BitProcess";

bool WillRun(const char* testName) {
  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  for (int i = 0; i < unit.total_test_suite_count(); ++i) {
    const ::testing::TestSuite& suite = *unit.GetTestSuite(i);
    for (int j = 0; j < suite.total_test_count(); ++j) {
      const ::testing::TestInfo& test = *suite.GetTestInfo(j);
      if (test.should_run() && std::string(test.name()) == testName) return true;
    }
  }
  return false;
}

class Notepad32Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_notepad = &notepad_;
    if (WillRun(k32BitTestName)) started_ = notepad_.Start(kNotepad32);
  }
  void TearDown() override { notepad_.Stop(); }
  bool started_ = false;

 private:
  ChildProcess notepad_;
};
Notepad32Environment* const g_notepadEnvironment = static_cast<Notepad32Environment*>(
    ::testing::AddGlobalTestEnvironment(new Notepad32Environment));

// The tests rewrite the prefix's settings file; whatever was there before is put back.
class SettingsBackup : public ::testing::Environment {
 public:
  void SetUp() override { existed_ = Read(SettingsFile(), content_); }
  void TearDown() override {
    if (!existed_) {
      RemoveSettings();
      return;
    }
    CreateDirectoryW(FirmFolder().c_str(), nullptr);
    CreateDirectoryW(AppFolder().c_str(), nullptr);
    const HANDLE file = CreateFileW(SettingsFile().c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, content_.data(), static_cast<DWORD>(content_.size()), &written, nullptr);
    CloseHandle(file);
  }

 private:
  static bool Read(const std::wstring& path, std::string& content) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      content.append(buffer, got);
    }
    CloseHandle(file);
    return true;
  }
  bool existed_ = false;
  std::string content_;
};
::testing::Environment* const g_settingsBackup =
    ::testing::AddGlobalTestEnvironment(new SettingsBackup);

// The name of this test is k32BitTestName.
TEST_F(SidecarTest, GetPathReachesIntoA32BitProcess) {
  ASSERT_TRUE(g_notepadEnvironment->started_);
  const HWND target = g_notepad->FindWindowOf(nullptr, 240s);
  ASSERT_NE(target, nullptr) << "the 32-bit program showed no window";
  StartSidecar();
  ASSERT_TRUE(Request(GetPathRequest(target)));
  ExpectReply(target, kNotepad32);
}

}  // namespace
