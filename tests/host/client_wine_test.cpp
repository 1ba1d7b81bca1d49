// The client against the real Sidecar64.exe under Wine, in both bitnesses: a normal request, no
// Sidecar64, Sidecar64 killed in the middle of a request, a Sidecar64 stuck behind its mutex,
// "Exit", a client called from a thread not its own, why a start failed, a client bound to its own
// Sidecar64 beside another one, a Sidecar64 left by an earlier host (and one whose host lives),
// and the one-host-per-session claim.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/client/assistant_client.h"
#include "host/client/win32_assistant_port.h"
#include "host/client/win32_assistant_process.h"
#include "host/client/win32_host_instance.h"
#include "host/client/win32_liveness.h"
#include "host/client/win32_process_ancestry.h"
#include "host/contract.h"
#include "host/win32_handles.h"
#include "tests/support/child_process.h"

namespace quillon {
namespace {

std::atomic<int> g_access_violations{0};

LONG CALLBACK CountAccessViolations(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) ++g_access_violations;
  return EXCEPTION_CONTINUE_SEARCH;
}

std::wstring AssistantPath() {
  // The build tree's Linux path, seen through Wine's Z: drive.
  std::wstring path = L"Z:";
  for (const char* p = QUILLON_DIST_DIR; *p != '\0'; ++p) {
    path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
  }
  return path + L"\\" + contract::AssistantFile<wchar_t>;
}

std::wstring OwnPath() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return buffer;
}

// True when nobody owns the request mutex (or it no longer exists).
bool MutexIsFree() {
  UniqueKernelHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, contract::RequestMutex<wchar_t>));
  if (!mutex) return true;
  const DWORD wait = ::WaitForSingleObject(mutex.Get(), 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return false;
  ::ReleaseMutex(mutex.Get());
  return true;
}

// The host's main window: its handle is the liveness value that keeps Sidecar64 running.
class HostEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    handler_ = ::AddVectoredExceptionHandler(1, &CountAccessViolations);
    main_window_.Reset(::CreateWindowExW(0, L"STATIC", L"client test host", WS_POPUP, 0, 0, 0, 0,
                                         nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(main_window_);
    ASSERT_TRUE(WriteLivenessValue(main_window_.Get()));
  }
  void TearDown() override {
    ClearLivenessValue();
    main_window_.Reset();
    EXPECT_EQ(g_access_violations.load(), 0);
    if (handler_) ::RemoveVectoredExceptionHandler(handler_);
  }
  static HWND MainWindow() { return main_window_.Get(); }

 private:
  static inline UniqueWindow main_window_;
  void* handler_ = nullptr;
};

class ClientWithAssistant : public ::testing::Test {
 protected:
  void StartAssistant() {
    ASSERT_EQ(::GetFileAttributesW(AssistantPath().c_str()) == INVALID_FILE_ATTRIBUTES, false)
        << "Sidecar64.exe not built";
    ASSERT_TRUE(assistant_.Start(AssistantPath()));
  }
  void TearDown() override {
    assistant_.Terminate();
    EXPECT_EQ(g_access_violations.load(), 0);
  }

  AssistantProcess assistant_;
};

TEST_F(ClientWithAssistant, WithoutSidecarNothingIsSent) {
  ASSERT_EQ(::FindWindowW(contract::ReceiveClass<wchar_t>, nullptr), nullptr)
      << "a Sidecar64 from elsewhere is running in this prefix";
  Win32AssistantClient client;
  std::wstring path;
  EXPECT_EQ(client.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kNoAssistant);
  EXPECT_EQ(client.SendExit(), RequestStatus::kNoAssistant);
}

TEST_F(ClientWithAssistant, ResolvesPaths) {
  StartAssistant();
  Win32AssistantClient client;
  std::wstring path;
  ASSERT_EQ(client.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kResolved);
  EXPECT_EQ(::lstrcmpiW(path.c_str(), OwnPath().c_str()), 0)
      << std::string(path.begin(), path.end());

  // Sidecar64's own window: a 64-bit process that is not us.
  ASSERT_EQ(client.GetPath(client.FindAssistant(), path), RequestStatus::kResolved);
  EXPECT_EQ(::lstrcmpiW(path.c_str(), AssistantPath().c_str()), 0);

  // A handle that names no window is told apart from an unreadable path, before sending.
  EXPECT_EQ(client.GetPath(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x7FFFFFF0)), path),
            RequestStatus::kNotAWindow);
  EXPECT_EQ(client.GetPath(nullptr, path), RequestStatus::kNotAWindow);
  EXPECT_EQ(client.Client().IgnoredReplies(), 0u);
  EXPECT_TRUE(MutexIsFree());
}

TEST_F(ClientWithAssistant, ExitEndsSidecar) {
  StartAssistant();
  Win32AssistantClient client;
  EXPECT_EQ(client.SendExit(), RequestStatus::kDelivered);
  ASSERT_TRUE(assistant_.WaitForExit(10000));
  EXPECT_EQ(assistant_.ExitCode(), 0u);
  EXPECT_TRUE(MutexIsFree());
  std::wstring path;
  EXPECT_EQ(client.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kNoAssistant);
}

// Passes replies on to the client, but kills Sidecar64 first: it dies while it waits for the
// reply to be processed, holding the mutex.
class KillingPort final : public AssistantPort, private ReplySink {
 public:
  KillingPort(AssistantPort& inner, AssistantProcess& victim) : inner_(inner), victim_(victim) {}
  WindowId FindReceiveWindow() override { return inner_.FindReceiveWindow(); }
  bool IsWindow(WindowId target) const override { return inner_.IsWindow(target); }
  WindowId ReplyWindow() const override { return inner_.ReplyWindow(); }
  bool OnOwnerThread() const override { return inner_.OnOwnerThread(); }
  void SetReplySink(ReplySink* sink) override {
    sink_ = sink;
    inner_.SetReplySink(sink ? this : nullptr);
  }
  bool BeginHandshake(WindowId receiver, std::u16string text) override {
    return inner_.BeginHandshake(receiver, std::move(text));
  }
  std::optional<SendOutcome> AwaitHandshake(unsigned timeout_ms) override {
    return inner_.AwaitHandshake(timeout_ms);
  }
  bool killed = false;

 private:
  void OnReply(const ReplyRecord& record) override {
    killed = victim_.Terminate();
    if (sink_) sink_->OnReply(record);
  }
  AssistantPort& inner_;
  AssistantProcess& victim_;
  ReplySink* sink_ = nullptr;
};

TEST_F(ClientWithAssistant, SidecarKilledMidRequest) {
  StartAssistant();
  Win32AssistantPort win32_port;
  KillingPort port(win32_port, assistant_);
  AssistantClient client(port, 5000);
  const PathAnswer answer =
      client.GetPath(reinterpret_cast<WindowId>(HostEnvironment::MainWindow()));
  ASSERT_TRUE(port.killed);
  EXPECT_EQ(answer.status, RequestStatus::kAssistantGone) << Describe(answer.status);
  EXPECT_TRUE(answer.path.empty());

  // Gone for good: the next request finds no window and sends nothing.
  EXPECT_EQ(client.GetPath(reinterpret_cast<WindowId>(HostEnvironment::MainWindow())).status,
            RequestStatus::kNoAssistant);

  // The mutex died with its owner; a new Sidecar64 takes it over and serves again.
  StartAssistant();
  Win32AssistantClient fresh;
  std::wstring path;
  EXPECT_EQ(fresh.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kResolved);
  EXPECT_TRUE(MutexIsFree());
}

// A third party that holds the request mutex on a thread of its own until released (or until
// it goes), so that Sidecar64's WM_NULL waits inside its handling.
class ThirdPartyMutexHolder {
 public:
  ThirdPartyMutexHolder()
      : taken_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        release_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        thread_([this] {
          UniqueKernelHandle mutex(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE,
                                                contract::RequestMutex<wchar_t>));
          if (mutex) ::WaitForSingleObject(mutex.Get(), INFINITE);
          ::SetEvent(taken_.Get());
          ::WaitForSingleObject(release_.Get(), INFINITE);
          if (mutex) ::ReleaseMutex(mutex.Get());
        }) {}
  ~ThirdPartyMutexHolder() { Release(); }
  ThirdPartyMutexHolder(const ThirdPartyMutexHolder&) = delete;
  ThirdPartyMutexHolder& operator=(const ThirdPartyMutexHolder&) = delete;

  bool Holds() const { return ::WaitForSingleObject(taken_.Get(), 5000) == WAIT_OBJECT_0; }
  void Release() {
    ::SetEvent(release_.Get());
    if (thread_.joinable()) thread_.join();
  }

 private:
  UniqueKernelHandle taken_, release_;
  std::thread thread_;
};

TEST_F(ClientWithAssistant, SidecarStuckBehindTheMutex) {
  StartAssistant();
  ThirdPartyMutexHolder holder;
  ASSERT_TRUE(holder.Holds());

  Win32AssistantClient impatient(1000);
  std::wstring path;
  EXPECT_EQ(impatient.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kTimedOut);
  // Its handshake still waits inside Sidecar64: nothing more is sent meanwhile.
  EXPECT_EQ(impatient.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kBusy);
  EXPECT_EQ(impatient.SendExit(), RequestStatus::kBusy);

  holder.Release();

  // The stuck request completes once the mutex is free (its late reply is dropped), the mutex
  // comes back free, and requests are served again by either client.
  Win32AssistantClient client;
  EXPECT_EQ(client.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kResolved);
  EXPECT_TRUE(MutexIsFree());
  ::Sleep(200);  // lets the stuck handshake's thread report its end
  EXPECT_EQ(impatient.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kResolved);
  EXPECT_EQ(impatient.Client().IgnoredReplies(), 1u);
  EXPECT_EQ(client.SendExit(), RequestStatus::kDelivered);
  EXPECT_TRUE(assistant_.WaitForExit(10000));
  EXPECT_TRUE(MutexIsFree());
}

TEST_F(ClientWithAssistant, RefusesCallsFromAnotherThread) {
  StartAssistant();
  Win32AssistantClient client;
  RequestStatus from_other = RequestStatus::kResolved;
  RequestStatus exit_from_other = RequestStatus::kResolved;
  RequestStatus own_client_there = RequestStatus::kFailed;
  std::thread([&] {
    std::wstring path;
    from_other = client.GetPath(HostEnvironment::MainWindow(), path);
    exit_from_other = client.SendExit();
    // A client of that thread's own serves it.
    Win32AssistantClient there;
    own_client_there = there.GetPath(HostEnvironment::MainWindow(), path);
  }).join();
  EXPECT_EQ(from_other, RequestStatus::kWrongThread) << Describe(from_other);
  EXPECT_EQ(exit_from_other, RequestStatus::kWrongThread) << Describe(exit_from_other);
  EXPECT_EQ(own_client_there, RequestStatus::kResolved) << Describe(own_client_there);
  EXPECT_TRUE(assistant_.Running());  // the refused "Exit" was not sent
  std::wstring path;
  EXPECT_EQ(client.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kResolved);
  EXPECT_TRUE(MutexIsFree());
}

// Anyone may send WM_NCCREATE to a live window, with a creation parameter of their own: the
// reply window must keep leading to its port.
TEST_F(ClientWithAssistant, ReplyWindowIgnoresALateCreationMessage) {
  StartAssistant();
  Win32AssistantPort port;
  AssistantClient client(port, 5000);
  CREATESTRUCTW forged{};
  forged.lpCreateParams = nullptr;
  ::SendMessageW(reinterpret_cast<HWND>(port.ReplyWindow()), WM_NCCREATE, 0,
                 reinterpret_cast<LPARAM>(&forged));
  const PathAnswer answer =
      client.GetPath(reinterpret_cast<WindowId>(HostEnvironment::MainWindow()));
  EXPECT_EQ(answer.status, RequestStatus::kResolved) << Describe(answer.status);
}

// This program again, as a program that runs but never makes a receive window. It tells the
// test its process id, so the test can see whether it was left behind.
constexpr wchar_t kIdleChildVariable[] = L"QUILLON_CLIENT_TEST_IDLE_CHILD";
constexpr UINT kIdleChildStarted = WM_APP + 7;

TEST_F(ClientWithAssistant, FailedStartLeavesNoProcess) {
  ASSERT_TRUE(::SetEnvironmentVariableW(kIdleChildVariable,
                                        LivenessText(HostEnvironment::MainWindow()).c_str()));
  const DWORD ready_ms = sizeof(void*) == 8 ? 10000 : 20000;  // 32-bit starts slower here
  const StartResult started = assistant_.Start(OwnPath(), ready_ms);
  ::SetEnvironmentVariableW(kIdleChildVariable, nullptr);
  EXPECT_EQ(started.status, StartStatus::kNoWindowInTime) << Describe(started.status);
  EXPECT_FALSE(assistant_.Running());

  MSG msg{};
  ASSERT_TRUE(::PeekMessageW(&msg, HostEnvironment::MainWindow(), kIdleChildStarted,
                             kIdleChildStarted, PM_REMOVE))
      << "the child did not start within the wait";
  const auto child_id = static_cast<DWORD>(msg.wParam);
  UniqueKernelHandle child(::OpenProcess(SYNCHRONIZE, FALSE, child_id));
  if (child) {
    EXPECT_EQ(::WaitForSingleObject(child.Get(), 5000), WAIT_OBJECT_0) << "left running";
  }
  // And a second start does not take a left-over process for a running Sidecar64.
  StartAssistant();
  EXPECT_NE(assistant_.ProcessId(), child_id);
}

// This program again, as a host that starts Sidecar64 and ends without ending it: the Sidecar64
// it leaves has a starter that is gone. It tells the test that Sidecar64's process id.
constexpr wchar_t kStarterChildVariable[] = L"QUILLON_CLIENT_TEST_STARTER_CHILD";
constexpr UINT kStarterChildStarted = WM_APP + 8;

// Runs a starter child; the process of the Sidecar64 it left, or 0.
DWORD StartLeftoverAssistant() {
  if (!::SetEnvironmentVariableW(kStarterChildVariable,
                                 LivenessText(HostEnvironment::MainWindow()).c_str())) {
    return 0;
  }
  test::ChildProcess starter;
  const bool started = starter.Start(OwnPath().c_str());
  ::SetEnvironmentVariableW(kStarterChildVariable, nullptr);
  if (!started) return 0;
  // Taken before waiting for the end: that wait serves this thread's messages, this one too.
  MSG msg{};
  const ULONGLONG deadline = ::GetTickCount64() + 60000;
  bool told = false;
  while (!(told = ::PeekMessageW(&msg, HostEnvironment::MainWindow(), kStarterChildStarted,
                                 kStarterChildStarted, PM_REMOVE) != FALSE) &&
         starter.Running() && ::GetTickCount64() < deadline) {
    ::Sleep(50);
  }
  if (!told) {
    told = ::PeekMessageW(&msg, HostEnvironment::MainWindow(), kStarterChildStarted,
                          kStarterChildStarted, PM_REMOVE) != FALSE;
  }
  EXPECT_EQ(starter.WaitForExit(std::chrono::seconds(30)), 0) << "the starter child failed";
  if (!told) return 0;
  return static_cast<DWORD>(msg.wParam);
}

// A Sidecar64 that is not the fixture's: ended when the test ends.
struct OtherAssistant {
  explicit OtherAssistant(DWORD id)
      : process_id(id),
        process(id == 0 ? nullptr
                        : ::OpenProcess(
                              SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                              FALSE, id)) {}
  ~OtherAssistant() {
    if (process) ::TerminateProcess(process.Get(), 1);
    if (process) ::WaitForSingleObject(process.Get(), 5000);
  }
  bool Running() const {
    return process && ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
  }
  DWORD ExitCode() const {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process.Get(), &code);
    return code;
  }
  DWORD process_id;
  UniqueKernelHandle process;
};

// What a host does at its start: a Sidecar64 left by an earlier life of the host (the liveness
// value names a live window, so it would stay) is ended, on "Exit" when it answers, while a
// Sidecar64 whose starter runs (here: this test's own, as another host's would be) stays.
TEST_F(ClientWithAssistant, EndsOnlyASidecarWhoseHostIsGone) {
  StartAssistant();
  EXPECT_EQ(FindStarter(assistant_.ProcessId()).state, StarterState::kAlive);
  EXPECT_EQ(FindStarter(assistant_.ProcessId()).parent_id, ::GetCurrentProcessId());
  EXPECT_EQ(EndLeftoverAssistants(), 0u) << "a live host's Sidecar64 was ended";
  EXPECT_TRUE(assistant_.Running());

  OtherAssistant leftover(StartLeftoverAssistant());
  ASSERT_TRUE(leftover.Running()) << "the starter child left no Sidecar64";
  EXPECT_EQ(FindStarter(leftover.process_id).state, StarterState::kGone);
  EXPECT_EQ(EndLeftoverAssistants(), 1u);
  ASSERT_EQ(::WaitForSingleObject(leftover.process.Get(), 1000), WAIT_OBJECT_0);
  EXPECT_EQ(leftover.ExitCode(), 0u) << "not ended by \"Exit\"";
  EXPECT_TRUE(assistant_.Running()) << "\"Exit\" reached the live host's Sidecar64";
  EXPECT_EQ(AssistantProcessIds(), std::vector<DWORD>{assistant_.ProcessId()});
  EXPECT_TRUE(MutexIsFree());
  EXPECT_EQ(EndLeftoverAssistants(), 0u);
}

// ...and by force when it cannot answer (here: stuck behind a mutex someone else holds).
TEST_F(ClientWithAssistant, EndsAStuckLeftoverByForce) {
  OtherAssistant leftover(StartLeftoverAssistant());
  ASSERT_TRUE(leftover.Running());
  ThirdPartyMutexHolder holder;
  ASSERT_TRUE(holder.Holds());
  EXPECT_EQ(EndLeftoverAssistants(1000), 1u);
  EXPECT_FALSE(leftover.Running());
  EXPECT_EQ(::FindWindowW(contract::ReceiveClass<wchar_t>, nullptr), nullptr);
  holder.Release();
  EXPECT_TRUE(MutexIsFree());
}

// Two Sidecar64s at once, as with two hosts: a client bound to one reaches that one only.
TEST_F(ClientWithAssistant, BoundClientReachesOnlyItsOwnSidecar) {
  StartAssistant();
  AssistantProcess other;
  ASSERT_TRUE(other.Start(AssistantPath()));
  Win32AssistantClient own(assistant_);
  Win32AssistantClient others(AssistantProcessId{other.ProcessId()});
  EXPECT_EQ(own.FindAssistant(), FindReceiveWindowOf(assistant_.ProcessId()));
  EXPECT_EQ(others.FindAssistant(), FindReceiveWindowOf(other.ProcessId()));
  ASSERT_NE(own.FindAssistant(), others.FindAssistant());
  std::wstring path;
  EXPECT_EQ(own.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kResolved);

  // "Exit" ends the other one only, whichever receive window comes first.
  EXPECT_EQ(others.SendExit(), RequestStatus::kDelivered);
  EXPECT_TRUE(other.WaitForExit(10000));
  EXPECT_TRUE(assistant_.Running());
  EXPECT_EQ(others.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kNoAssistant);
  EXPECT_EQ(own.GetPath(HostEnvironment::MainWindow(), path), RequestStatus::kResolved);

  // Bound to the process object: once it has ended, nothing is sent to anyone else.
  EXPECT_EQ(own.SendExit(), RequestStatus::kDelivered);
  EXPECT_TRUE(assistant_.WaitForExit(10000));
  ASSERT_TRUE(other.Start(AssistantPath()));
  EXPECT_EQ(own.SendExit(), RequestStatus::kNoAssistant);
  EXPECT_TRUE(other.Running());
  other.Terminate();
}

// Why a start failed, each reason its own status; nothing is left running after any of them.
TEST_F(ClientWithAssistant, StartTellsWhyItFailed) {
  wchar_t temp[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring text_file = std::wstring(temp) + L"quillon_not_a_program.exe";
  {
    const UniqueFileHandle file(::CreateFileW(text_file.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ::WriteFile(file.Get(), "plain text", 10, &written, nullptr);
  }
  struct Case {
    const char* name;
    std::wstring path;
    StartStatus expected;
  };
  const Case cases[] = {
      {"no such file", std::wstring(temp) + L"quillon_missing.exe", StartStatus::kNoFile},
      {"no such folder", std::wstring(temp) + L"quillon_missing\\Sidecar64.exe",
       StartStatus::kNoFile},
      {"not a program", text_file, StartStatus::kNotAProgram},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const StartResult result = assistant_.Start(c.path, 2000);
    EXPECT_EQ(result.status, c.expected)
        << Describe(result.status) << ", error " << result.system_error;
    EXPECT_FALSE(result);
    EXPECT_FALSE(assistant_.Running());
  }
  ::DeleteFileW(text_file.c_str());

  // A program that ends at once, before any receive window.
  ASSERT_TRUE(::SetEnvironmentVariableW(kStarterChildVariable, L"end at once"));
  const StartResult ended = assistant_.Start(OwnPath(), 60000);
  ::SetEnvironmentVariableW(kStarterChildVariable, nullptr);
  EXPECT_EQ(ended.status, StartStatus::kEndedEarly) << Describe(ended.status);
  EXPECT_EQ(ended.exit_code, 5u);

  StartAssistant();
  EXPECT_EQ(assistant_.Start(AssistantPath()).status, StartStatus::kAlreadyRunning);
}

// A host thread that claims the session and ends without giving the claim up: ExitThread skips
// the destructor, as a kill would.
DWORD WINAPI ClaimAndVanish(void*) {
  HostInstance vanishing = HostInstance::Claim();
  ::ExitThread(vanishing.Claimed() ? 0 : 1);
}

// One host per session: the claim is taken by the first, seen by the second and by a reader
// that claims nothing, and passes on when the holder gives it up or its thread ends.
TEST(HostInstanceClaim, OneHolderPerSession) {
  ASSERT_FALSE(FindRunningHost().has_value()) << "a host runs in this prefix";
  {
    HostInstance first = HostInstance::Claim();
    ASSERT_EQ(first.Status(), ClaimStatus::kClaimed) << Describe(first.Status());
    ASSERT_TRUE(first.PublishMainWindow(HostEnvironment::MainWindow()));

    // The second one (on another thread: the claim is a thread's) learns who holds it.
    ClaimStatus second_status = ClaimStatus::kClaimed;
    HostHolder seen;
    bool second_publishes = true;
    std::thread([&] {
      HostInstance second = HostInstance::Claim();
      second_status = second.Status();
      seen = second.Holder();
      second_publishes = second.PublishMainWindow(HostEnvironment::MainWindow());
    }).join();
    EXPECT_EQ(second_status, ClaimStatus::kHeldByAnother) << Describe(second_status);
    EXPECT_EQ(seen.process_id, ::GetCurrentProcessId());
    EXPECT_EQ(seen.main_window, HostEnvironment::MainWindow());
    EXPECT_FALSE(second_publishes);

    const std::optional<HostHolder> running = FindRunningHost();
    ASSERT_TRUE(running.has_value());
    EXPECT_EQ(running->process_id, ::GetCurrentProcessId());
    EXPECT_EQ(running->main_window, HostEnvironment::MainWindow());
    EXPECT_EQ(first.Holder().process_id, ::GetCurrentProcessId());
  }
  EXPECT_FALSE(FindRunningHost().has_value()) << "given up, yet still found";

  // A holder whose thread ends without giving the claim up (a killed host) leaves it free.
  const UniqueKernelHandle killed(::CreateThread(nullptr, 0, &ClaimAndVanish, nullptr, 0, nullptr));
  ASSERT_TRUE(killed);
  ASSERT_EQ(::WaitForSingleObject(killed.Get(), 10000), WAIT_OBJECT_0);
  DWORD claimed = 1;
  ::GetExitCodeThread(killed.Get(), &claimed);
  EXPECT_EQ(claimed, 0u);
  HostInstance next = HostInstance::Claim();
  EXPECT_EQ(next.Status(), ClaimStatus::kClaimed) << Describe(next.Status());
}

int RunIdleChild(const wchar_t* host_window) {
  const auto host =
      reinterpret_cast<HWND>(static_cast<std::intptr_t>(std::wcstol(host_window, nullptr, 10)));
  ::PostMessageW(host, kIdleChildStarted, ::GetCurrentProcessId(), 0);
  ::Sleep(120000);
  return 0;
}

// Starts Sidecar64, tells the test its process id and ends without ending it; with "end at
// once", ends at once.
int RunStarterChild(const wchar_t* host_window) {
  if (std::wcscmp(host_window, L"end at once") == 0) return 5;
  const auto host =
      reinterpret_cast<HWND>(static_cast<std::intptr_t>(std::wcstol(host_window, nullptr, 10)));
  AssistantProcess sidecar;
  if (!sidecar.Start(AssistantPath(), 30000)) return 1;
  ::PostMessageW(host, kStarterChildStarted, sidecar.ProcessId(), 0);
  return 0;
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  wchar_t host_window[32] = {};
  if (::GetEnvironmentVariableW(quillon::kIdleChildVariable, host_window, 32) != 0) {
    return quillon::RunIdleChild(host_window);
  }
  if (::GetEnvironmentVariableW(quillon::kStarterChildVariable, host_window, 32) != 0) {
    return quillon::RunStarterChild(host_window);
  }
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new quillon::HostEnvironment);
  return RUN_ALL_TESTS();
}
