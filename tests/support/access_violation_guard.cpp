#include "tests/support/access_violation_guard.h"

#include <windows.h>

#include <cstdio>

namespace quillon::test {
namespace {

volatile LONG g_accessViolations = 0;

LONG CALLBACK CountAccessViolation(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
    InterlockedIncrement(&g_accessViolations);
    std::fprintf(stderr, "access violation at %p\n", info->ExceptionRecord->ExceptionAddress);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

AccessViolationGuard::AccessViolationGuard()
    : handler_(AddVectoredExceptionHandler(1, CountAccessViolation)) {}

AccessViolationGuard::~AccessViolationGuard() { RemoveVectoredExceptionHandler(handler_); }

long AccessViolationGuard::count() { return g_accessViolations; }

}  // namespace quillon::test
