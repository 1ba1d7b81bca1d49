#include "host/standin/fault_watch.h"

namespace quillon::standin {
namespace {

volatile LONG g_count = 0;
volatile LONG g_latest_code = 0;
void* volatile g_latest_address = nullptr;

bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_STACK_OVERFLOW:
      return true;
    default:
      return false;
  }
}

// Runs first for every exception on any thread: it only records, and lets the search go on.
LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (IsFault(record->ExceptionCode)) {
    ::InterlockedExchange(&g_latest_code, static_cast<LONG>(record->ExceptionCode));
    ::InterlockedExchangePointer(const_cast<void**>(&g_latest_address), record->ExceptionAddress);
    ::InterlockedIncrement(&g_count);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

FaultWatch::FaultWatch() : handler_(::AddVectoredExceptionHandler(1, &OnException)) {}

FaultWatch::~FaultWatch() {
  if (handler_ != nullptr) ::RemoveVectoredExceptionHandler(handler_);
}

long FaultWatch::Count() { return ::InterlockedCompareExchange(&g_count, 0, 0); }

FaultRecord FaultWatch::Latest() {
  return {
      static_cast<DWORD>(::InterlockedCompareExchange(&g_latest_code, 0, 0)),
      ::InterlockedCompareExchangePointer(const_cast<void**>(&g_latest_address), nullptr, nullptr)};
}

}  // namespace quillon::standin
