// The whole request path of Sidecar64 from the raw bytes of a WM_COPYDATA: the bounded copy, the
// tokenizer, the command words and the handle arguments, down to a fake platform. Every effect
// is checked against a reference written here independently with std::u16string.
//
// Input: [flags:1][cbData:2][slack:1][world:8][path units...][0xFFFF separator][request bytes]
// The request bytes are exactly what the system would hand over: a heap block of cbData bytes
// (so reading past it is an ASan finding); with "slack", the sender's block is longer than cbData
// (an in-process send), and bytes past cbData must not matter.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "assistant/execute_command.h"
#include "assistant/request_text.h"
#include "fuzz/fuzz_input.h"

namespace quillon::fuzz {
namespace {

using Text = std::u16string;

// ---- reference model ----------------------------------------------------------------------

std::optional<Text> ReferenceCopy(const std::uint8_t* bytes, std::size_t byteCount) {
  const std::size_t units = byteCount / 2;
  for (std::size_t i = 0; i < units && i < contract::kMaxRequestUnits; ++i) {
    char16_t unit;
    std::memcpy(&unit, bytes + 2 * i, 2);
    if (unit == 0) {
      Text text(i, u'\0');
      std::memcpy(text.data(), bytes, 2 * i);
      return text;
    }
  }
  return std::nullopt;
}

std::vector<Text> ReferenceTokens(const Text& text) {
  std::vector<Text> tokens;
  Text token;
  for (char16_t c : text) {
    if (c == u' ' || c == u'\t') {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token.push_back(c);
    }
  }
  if (!token.empty()) tokens.push_back(token);
  return tokens;
}

bool ReferenceWordIs(const Text& token, const char* word) {
  const std::size_t length = std::strlen(word);
  if (token.size() != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    char16_t c = token[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    char w = word[i];
    if (w >= 'A' && w <= 'Z') w = static_cast<char>(w + 32);
    if (c != static_cast<char16_t>(w)) return false;
  }
  return true;
}

std::uint64_t ReferenceHandle(const Text& token) {
  if (token.size() < 2 || token[0] != u'0' || token[1] != u'x') return 0;
  std::uint64_t value = 0;
  for (std::size_t i = 2; i < token.size() && i < 10; ++i) {
    const char16_t c = token[i];
    int digit = -1;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    if (digit < 0) break;
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  return value;
}

// ---- the fake platform --------------------------------------------------------------------

struct World {
  bool windowExists;
  std::uint32_t processId;  // owner of the target window (when it exists)
  bool opens;               // OpenForImagePath succeeds with kQueryAndReadAccess
  bool opensLimited;        // OpenForImagePath succeeds with kQueryLimitedAccess
  bool writesPath;          // ReadImagePath writes something
  Text path;                // what it writes, terminator not included; may be cut by the size
};

class FakePort;
void RunRequest(const std::uint8_t* bytes, std::size_t byteCount, FakePort& port);

class FakePort final : public CommandPort<char16_t> {
 public:
  explicit FakePort(const World& world) : world_(world) {}

  int quits = 0;
  int sends = 0;
  int opens = 0;
  int closes = 0;
  std::uint32_t lastIdAsked = 0xFFFFFFFFu;
  std::uintptr_t lastReceiver = 0;
  std::uintptr_t lastWParam = 0;
  CopyDataRecord lastRecord{};
  Text lastData;
  std::vector<std::uint8_t> nested;  // a request that arrives during the reply send
  int depth = 0;

  void Quit(int exitCode) override {
    FUZZ_CHECK(exitCode == 0);
    ++quits;
  }
  void WindowProcessId(WindowId window, std::uint32_t* processId) override {
    FUZZ_CHECK(processId != nullptr);
    FUZZ_CHECK(*processId == 0);        // the interpreter starts from 0
    FUZZ_CHECK(window <= 0xFFFFFFFFu);  // zero extension of a 32-bit value
    if (world_.windowExists) *processId = world_.processId;
  }
  ProcessHandle OpenForImagePath(std::uint32_t access, bool inherit,
                                 std::uint32_t processId) override {
    FUZZ_CHECK(!inherit);
    lastIdAsked = processId;
    if (processId == 0) return nullptr;
    if (access == kQueryAndReadAccess) {
      FUZZ_CHECK(opens == 0);  // asked for once
      if (!world_.opens) return nullptr;
    } else {
      FUZZ_CHECK(access == kQueryLimitedAccess);
      FUZZ_CHECK(opens == 0);  // only after the full open failed
      if (!world_.opensLimited) return nullptr;
      limited_ = true;
    }
    ++opens;
    return &handle_;
  }
  bool ReadImagePath(ProcessHandle process, char16_t* buffer, std::uint32_t size) override {
    FUZZ_CHECK(!limited_);
    return Read(process, buffer, size);
  }
  bool QueryImagePath(ProcessHandle process, char16_t* buffer, std::uint32_t size) override {
    FUZZ_CHECK(limited_);
    return Read(process, buffer, size);
  }
  void CloseProcess(ProcessHandle process) override {
    FUZZ_CHECK(process == &handle_);
    ++closes;
  }
  void SendReply(WindowId window, unsigned message, std::uintptr_t wParam,
                 const CopyDataRecord& record) override {
    FUZZ_CHECK(message == kCopyDataMessage);
    ++sends;
    lastReceiver = window;
    lastWParam = wParam;
    lastRecord = record;
    // The system hands on exactly cbData bytes; they must be a terminated text.
    FUZZ_CHECK(record.cbData >= 2 && record.cbData % 2 == 0);
    FUZZ_CHECK(record.cbData <= 2 * contract::kMaxPathUnits);
    const auto* units = static_cast<const char16_t*>(record.lpData);
    const std::size_t count = record.cbData / 2;
    FUZZ_CHECK(units[count - 1] == 0);
    lastData.assign(units, count - 1);
    FUZZ_CHECK(lastData.find(u'\0') == Text::npos);

    // A further request arrives while this send waits: it runs nested, on a copy of its own,
    // and must leave the outer request's reply untouched.
    if (!nested.empty() && depth < 2) {
      const CopyDataRecord before = record;
      const Text dataBefore = lastData;
      std::vector<std::uint8_t> request;
      request.swap(nested);
      FakePort inner(world_);
      inner.depth = depth + 1;
      RunRequest(request.data(), request.size(), inner);
      FUZZ_CHECK(record.dwData == before.dwData && record.cbData == before.cbData &&
                 record.lpData == before.lpData);
      FUZZ_CHECK(Text(units, count - 1) == dataBefore);
    }
  }

 private:
  // Like the oldest systems: a path that fills the buffer comes without its terminator. It is
  // reported whole when it fits with its terminator.
  bool Read(ProcessHandle process, char16_t* buffer, std::uint32_t size) {
    FUZZ_CHECK(process == &handle_);
    FUZZ_CHECK(size == contract::kMaxPathUnits);
    if (!world_.writesPath) return false;
    const std::size_t n = world_.path.size() < size ? world_.path.size() : size;
    for (std::size_t i = 0; i < n; ++i) buffer[i] = world_.path[i];
    if (n < size) buffer[n] = 0;
    return world_.path.size() < size;
  }

  World world_;
  int handle_ = 0;
  bool limited_ = false;
};

// The receive window's handling of one WM_COPYDATA, checked against the reference.
void RunRequest(const std::uint8_t* bytes, std::size_t byteCount, FakePort& port) {
  const std::optional<Text> expectedText = ReferenceCopy(bytes, byteCount);
  auto copy = CopyRequestText<char16_t>(bytes, byteCount);
  FUZZ_CHECK(copy.has_value() == expectedText.has_value());
  if (!copy) return;
  FUZZ_CHECK(Text(copy->data()) == *expectedText);
  for (std::size_t i = expectedText->size(); i < copy->size(); ++i) FUZZ_CHECK((*copy)[i] == 0);

  ExecuteCommand(copy->data(), port);

  const std::vector<Text> tokens = ReferenceTokens(*expectedText);
  const bool exit = !tokens.empty() && ReferenceWordIs(tokens[0], "Exit");
  const bool getPath =
      !tokens.empty() && !exit && ReferenceWordIs(tokens[0], "GetPath") && tokens.size() >= 3;
  FUZZ_CHECK(port.quits == (exit ? 1 : 0));
  FUZZ_CHECK(port.sends == (getPath ? 1 : 0));
  FUZZ_CHECK(port.opens == port.closes);
  if (!getPath) return;
  const std::uint64_t reply = ReferenceHandle(tokens[1]);
  const std::uint64_t target = ReferenceHandle(tokens[2]);
  FUZZ_CHECK(port.lastReceiver == reply);
  FUZZ_CHECK(port.lastWParam == target);
  FUZZ_CHECK(port.lastRecord.dwData == target);
}

Text ExpectedPath(const World& world, const FakePort& port) {
  // Only a path that fits whole goes out; a cut one is answered with the empty text.
  if (port.opens == 0 || !world.writesPath || world.path.size() >= contract::kMaxPathUnits) {
    return Text();
  }
  const std::size_t zero = world.path.find(u'\0');
  return zero == Text::npos ? world.path : world.path.substr(0, zero);
}

}  // namespace
}  // namespace quillon::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon::fuzz;
  FuzzInput input(data, size);
  const std::uint8_t flags = input.Take<std::uint8_t>();
  const std::uint16_t cbData = input.Take<std::uint16_t>();
  const std::uint8_t slack = input.Take<std::uint8_t>();
  World world{};
  world.windowExists = (flags & 1) != 0;
  world.opens = (flags & 2) != 0;
  world.writesPath = (flags & 4) != 0;
  const bool nestedRequest = (flags & 8) != 0;
  world.opensLimited = (flags & 16) != 0;
  world.processId = input.Take<std::uint32_t>();
  input.Take<std::uint32_t>();  // reserved
  // The path units up to a 0xFFFF unit (or the end).
  for (char16_t unit = input.Take<char16_t>(); !input.Empty() && unit != 0xFFFF;
       unit = input.Take<char16_t>()) {
    world.path.push_back(unit);
  }
  std::size_t restSize = 0;
  const std::uint8_t* rest = input.Rest(restSize);

  // The request block: cbData bytes (taken from the rest, zero-padded when the input is short),
  // placed at the end of a heap block so that ASan sees any read past what was delivered. With a
  // nested request, the rest after cbData is the nested one.
  const std::size_t delivered = cbData;
  const std::size_t blockSize = delivered + ((slack & 1) ? (slack >> 1) : 0);
  std::vector<std::uint8_t> block(blockSize, 0xAA);
  const std::size_t copied = delivered < restSize ? delivered : restSize;
  if (copied != 0) std::memcpy(block.data(), rest, copied);
  if (delivered > copied) std::memset(block.data() + copied, 0, delivered - copied);

  FakePort port(world);
  if (nestedRequest && restSize > delivered) {
    port.nested.assign(rest + delivered, rest + restSize);
  }
  RunRequest(block.data(), delivered, port);
  if (port.sends == 1) {
    const Text expected = ExpectedPath(world, port);
    FUZZ_CHECK(port.lastData == expected);
    FUZZ_CHECK(port.lastRecord.cbData == 2 * (expected.size() + 1));
    FUZZ_CHECK(port.lastIdAsked == (world.windowExists ? world.processId : 0u));
  }
  return 0;
}
