// The client against the real Sidecar64.exe under Wine, in both bitnesses: a normal request, no
// Sidecar64, Sidecar64 killed in the middle of a request, a Sidecar64 stuck behind its mutex,
// "Exit", a client called from a thread not its own, a start whose program never serves, and a
// Sidecar64 left by an earlier host.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <string>
#include <thread>

#include "host/client/assistant_client.h"
#include "host/client/win32_assistant_port.h"
#include "host/client/win32_assistant_process.h"
#include "host/client/win32_liveness.h"
#include "host/contract.h"
#include "host/win32_handles.h"

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

  // A handle that names no window: Sidecar64 answers with the empty text.
  EXPECT_EQ(client.GetPath(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x7FFFFFF0)), path),
            RequestStatus::kNotAvailable);
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

// What a host does at its start: a Sidecar64 left by an earlier life of the host (the liveness
// value names a live window, so it would stay) is ended, on "Exit" when it answers...
TEST_F(ClientWithAssistant, EndsASidecarLeftByAnEarlierHost) {
  StartAssistant();
  EXPECT_EQ(EndLeftoverAssistants(), 1u);
  ASSERT_TRUE(assistant_.WaitForExit(1000));
  EXPECT_EQ(assistant_.ExitCode(), 0u) << "not ended by \"Exit\"";
  EXPECT_EQ(::FindWindowW(contract::ReceiveClass<wchar_t>, nullptr), nullptr);
  EXPECT_TRUE(MutexIsFree());
  EXPECT_EQ(EndLeftoverAssistants(), 0u);
}

// ...and by force when it cannot answer (here: stuck behind a mutex someone else holds).
TEST_F(ClientWithAssistant, EndsAStuckLeftoverByForce) {
  StartAssistant();
  ThirdPartyMutexHolder holder;
  ASSERT_TRUE(holder.Holds());
  EXPECT_EQ(EndLeftoverAssistants(1000), 1u);
  EXPECT_FALSE(assistant_.Running());
  EXPECT_EQ(::FindWindowW(contract::ReceiveClass<wchar_t>, nullptr), nullptr);
  holder.Release();
  EXPECT_TRUE(MutexIsFree());
}

int RunIdleChild(const wchar_t* host_window) {
  const auto host =
      reinterpret_cast<HWND>(static_cast<std::intptr_t>(std::wcstol(host_window, nullptr, 10)));
  ::PostMessageW(host, kIdleChildStarted, ::GetCurrentProcessId(), 0);
  ::Sleep(120000);
  return 0;
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  wchar_t host_window[32] = {};
  if (::GetEnvironmentVariableW(quillon::kIdleChildVariable, host_window, 32) != 0) {
    return quillon::RunIdleChild(host_window);
  }
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new quillon::HostEnvironment);
  return RUN_ALL_TESTS();
}
