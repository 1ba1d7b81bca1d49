#include "host/client/win32_host_instance.h"

#include <utility>

#include "host/client/win32_process_ancestry.h"

namespace quillon {
namespace {

// The published record. Fixed-size fields, so that a 32-bit host and a 64-bit tool agree; a
// window handle's significant bits fit 32 (the system's handles are shared across bitnesses).
// The holder writes process_id last and clears it first: a reader that sees the same non-zero
// id before and after reading the rest has a whole record.
struct SharedRecord {
  volatile LONG process_id;
  volatile LONG created_low;
  volatile LONG created_high;
  volatile LONG main_window;
};

SharedRecord* AsRecord(void* view) { return static_cast<SharedRecord*>(view); }

std::optional<HostHolder> ReadRecord(const SharedRecord& record) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const LONG id = record.process_id;
    ::MemoryBarrier();
    HostHolder holder;
    holder.created = (static_cast<std::uint64_t>(static_cast<DWORD>(record.created_high)) << 32) |
                     static_cast<DWORD>(record.created_low);
    holder.main_window =
        reinterpret_cast<HWND>(static_cast<LONG_PTR>(record.main_window));  // sign-extended
    ::MemoryBarrier();
    if (record.process_id != id) continue;  // rewritten meanwhile
    if (id == 0) return std::nullopt;
    holder.process_id = static_cast<DWORD>(id);
    return holder;
  }
  return std::nullopt;
}

}  // namespace

HostInstance HostInstance::Claim() {
  HostInstance instance;
  instance.mutex_.Reset(::CreateMutexW(nullptr, FALSE, kHostInstanceMutex));
  instance.info_.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(SharedRecord), kHostInstanceInfo));
  if (!instance.mutex_ || !instance.info_) return instance;  // kFailed
  instance.view_ = ::MapViewOfFile(instance.info_.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                   sizeof(SharedRecord));
  if (instance.view_ == nullptr) return instance;

  // An abandoned mutex is the claim of a host that was killed: ours now.
  const DWORD wait = ::WaitForSingleObject(instance.mutex_.Get(), 0);
  if (wait == WAIT_TIMEOUT) {
    instance.status_ = ClaimStatus::kHeldByAnother;
    return instance;
  }
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return instance;
  instance.status_ = ClaimStatus::kClaimed;

  SharedRecord& record = *AsRecord(instance.view_);
  ::InterlockedExchange(&record.process_id, 0);
  const std::uint64_t created = QueryProcessFacts(::GetCurrentProcessId()).created;
  ::InterlockedExchange(&record.created_low, static_cast<LONG>(created & 0xFFFFFFFFu));
  ::InterlockedExchange(&record.created_high, static_cast<LONG>(created >> 32));
  ::InterlockedExchange(&record.main_window, 0);
  ::InterlockedExchange(&record.process_id, static_cast<LONG>(::GetCurrentProcessId()));
  return instance;
}

HostInstance::HostInstance(HostInstance&& other) noexcept
    : status_(std::exchange(other.status_, ClaimStatus::kFailed)),
      mutex_(std::move(other.mutex_)),
      info_(std::move(other.info_)),
      view_(std::exchange(other.view_, nullptr)) {}

HostInstance& HostInstance::operator=(HostInstance&& other) noexcept {
  if (this != &other) {
    Release();
    status_ = std::exchange(other.status_, ClaimStatus::kFailed);
    mutex_ = std::move(other.mutex_);
    info_ = std::move(other.info_);
    view_ = std::exchange(other.view_, nullptr);
  }
  return *this;
}

HostInstance::~HostInstance() { Release(); }

void HostInstance::Release() {
  if (status_ == ClaimStatus::kClaimed) {
    ::InterlockedExchange(&AsRecord(view_)->process_id, 0);
    ::ReleaseMutex(mutex_.Get());  // fails off the claiming thread; the claim then ends with it
  }
  if (view_ != nullptr) ::UnmapViewOfFile(view_);
  view_ = nullptr;
  status_ = ClaimStatus::kFailed;
  info_.Reset();
  mutex_.Reset();
}

bool HostInstance::PublishMainWindow(HWND main_window) {
  if (!Claimed()) return false;
  ::InterlockedExchange(&AsRecord(view_)->main_window,
                        static_cast<LONG>(reinterpret_cast<LONG_PTR>(main_window)));
  return true;
}

HostHolder HostInstance::Holder() const {
  if (view_ == nullptr) return {};
  return ReadRecord(*AsRecord(view_)).value_or(HostHolder{});
}

std::optional<HostHolder> FindRunningHost() {
  const UniqueKernelHandle info(::OpenFileMappingW(FILE_MAP_READ, FALSE, kHostInstanceInfo));
  if (!info) return std::nullopt;
  const void* view = ::MapViewOfFile(info.Get(), FILE_MAP_READ, 0, 0, sizeof(SharedRecord));
  if (view == nullptr) return std::nullopt;
  std::optional<HostHolder> holder = ReadRecord(*static_cast<const SharedRecord*>(view));
  ::UnmapViewOfFile(view);
  if (!holder) return std::nullopt;
  // A holder that may not be queried cannot be disproved, and counts.
  const ProcessFacts facts = QueryProcessFacts(holder->process_id);
  if (facts.lookup == ProcessFacts::Lookup::kNoSuchProcess) return std::nullopt;
  if (facts.lookup == ProcessFacts::Lookup::kFound &&
      (!facts.running || facts.created != holder->created)) {
    return std::nullopt;
  }
  return holder;
}

const char* Describe(ClaimStatus status) {
  switch (status) {
    case ClaimStatus::kClaimed:
      return "this is the only host in the session";
    case ClaimStatus::kHeldByAnother:
      return "another host runs in this session";
    case ClaimStatus::kFailed:
      return "the single-instance claim could not be made";
  }
  return "unknown";
}

}  // namespace quillon
