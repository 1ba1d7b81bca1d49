// A CommandPort over a made-up world of windows and processes that records what the interpreter
// asks of it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "assistant/command_port.h"

namespace quillon::testing {

using Text = std::u16string;

struct SentReply {
  WindowId receiver;
  unsigned message;
  std::uintptr_t wParam;
  std::uintptr_t dwData;
  std::uint32_t cbData;
  Text data;  // the cbData bytes at lpData, as the system would hand them on
};

class FakeCommandPort : public CommandPort<char16_t> {
 public:
  std::map<WindowId, std::uint32_t> windowOwners;  // window -> process id
  std::map<std::uint32_t, Text> imagePaths;        // openable process -> image path
  std::set<std::uint32_t> limitedOnly;  // refused kQueryAndReadAccess, granted kQueryLimitedAccess
                                        // (an elevated process, seen from a normal one)
  std::set<std::uint32_t> unreadablePaths;  // opens, but the path read fails
  bool pathWithoutTerminator = false;       // fills the whole buffer, no zero, and claims it whole

  std::vector<int> quitCodes;
  std::vector<SentReply> sent;
  std::vector<std::uint32_t> openAccess;
  std::vector<std::uint32_t> openIds;
  std::vector<std::string> reads;  // "module" (GetModuleFileNameExW) or "image" (QueryFull...)
  int openHandles = 0;
  // Runs inside SendReply, after the reply has been recorded: the receiver's turn.
  std::function<void(const CopyDataRecord&)> onSend;

  void Quit(int exitCode) override { quitCodes.push_back(exitCode); }

  void WindowProcessId(WindowId window, std::uint32_t* processId) override {
    const auto it = windowOwners.find(window);
    if (it != windowOwners.end()) *processId = it->second;
  }

  ProcessHandle OpenForImagePath(std::uint32_t access, bool inherit,
                                 std::uint32_t processId) override {
    openAccess.push_back(access);
    openIds.push_back(processId);
    if (inherit || !imagePaths.contains(processId)) return nullptr;
    const bool granted = access == kQueryLimitedAccess ||
                         (access == kQueryAndReadAccess && !limitedOnly.contains(processId));
    if (!granted) return nullptr;
    ++openHandles;
    handles_[processId] = access;
    return &handles_[processId];
  }

  bool ReadImagePath(ProcessHandle process, char16_t* buffer, std::uint32_t size) override {
    reads.push_back("module");
    if (handles_.at(IdOf(process)) != kQueryAndReadAccess) {
      throw std::logic_error("GetModuleFileNameExW needs query and read access");
    }
    return Read(process, buffer, size);
  }

  bool QueryImagePath(ProcessHandle process, char16_t* buffer, std::uint32_t size) override {
    reads.push_back("image");
    return Read(process, buffer, size);
  }

  void CloseProcess(ProcessHandle process) override {
    IdOf(process);  // must be one of ours
    --openHandles;
  }

  void SendReply(WindowId window, unsigned message, std::uintptr_t wParam,
                 const CopyDataRecord& record) override {
    const auto* units = static_cast<const char16_t*>(record.lpData);
    Text data(units, units + record.cbData / sizeof(char16_t));
    sent.push_back({window, message, wParam, record.dwData, record.cbData, data});
    if (onSend) onSend(record);
  }

 private:
  std::uint32_t IdOf(ProcessHandle process) const {
    for (const auto& [id, handle] : handles_) {
      if (&handle == process) return id;
    }
    throw std::logic_error("not a process handle of this port");
  }
  // What the system leaves in the buffer: a path that does not fit comes cut to the buffer and
  // terminated, and is reported as not whole.
  bool Read(ProcessHandle process, char16_t* buffer, std::uint32_t size) {
    const std::uint32_t id = IdOf(process);
    if (unreadablePaths.contains(id)) return false;
    if (pathWithoutTerminator) {
      for (std::uint32_t i = 0; i < size; ++i) buffer[i] = u'x';
      return true;
    }
    const Text& path = imagePaths.at(id);
    const std::size_t n = path.size() < size - 1 ? path.size() : size - 1;
    path.copy(buffer, n);
    buffer[n] = 0;
    return path.size() < size;
  }

  std::map<std::uint32_t, std::uint32_t> handles_;  // process id -> the access it was opened with
};

}  // namespace quillon::testing
