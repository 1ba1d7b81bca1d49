// The icon flipper's fault watch sees a fault that the system swallows (Wine, like Windows, lets
// no access violation out of a timer callback), and nothing that is not a fault.
#include "host/standin/fault_watch.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace quillon::standin {
namespace {

constexpr DWORD kNotAFault = 0xE0000001;  // an application's own exception code
bool g_fired = false;

void CALLBACK FaultingTimer(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  g_fired = true;
  ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
}

LONG CALLBACK ContinueAfterOwnException(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == kNotAFault ? EXCEPTION_CONTINUE_EXECUTION
                                                            : EXCEPTION_CONTINUE_SEARCH;
}

TEST(FaultWatch, SeesAnAccessViolationThatATimerCallbackSwallows) {
  const FaultWatch watch;
  const long before = FaultWatch::Count();
  g_fired = false;
  ASSERT_NE(::SetTimer(nullptr, 0, 1, &FaultingTimer), 0u);
  const ULONGLONG until = ::GetTickCount64() + 10000;
  MSG msg;
  while (!g_fired && ::GetTickCount64() < until) {
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::DispatchMessageW(&msg);
    } else {
      ::Sleep(1);
    }
  }
  ASSERT_TRUE(g_fired);
  EXPECT_EQ(FaultWatch::Count(), before + 1);
  EXPECT_EQ(FaultWatch::Latest().code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

TEST(FaultWatch, CountsNoExceptionThatIsNoFault) {
  const FaultWatch watch;
  void* own = ::AddVectoredExceptionHandler(0, &ContinueAfterOwnException);
  ASSERT_NE(own, nullptr);
  const long before = FaultWatch::Count();
  ::RaiseException(kNotAFault, 0, 0, nullptr);
  ::RemoveVectoredExceptionHandler(own);
  EXPECT_EQ(FaultWatch::Count(), before);
}

}  // namespace
}  // namespace quillon::standin
