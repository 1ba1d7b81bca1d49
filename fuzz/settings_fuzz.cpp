// The settings store in both character forms: arbitrary placeholder lists (add, re-add, remove),
// expansion of arbitrary texts (narrow text also in a double-byte code page), reads through both
// backends with arbitrary application-data folders, names and stored values, and allocation
// failures at any point. Each result is compared with a reference written here with
// std::basic_string; after an allocation failure only the store's own invariants are checked.
//
// Input: [mode][firm][app][op...], a text being [length:2][bytes]. mode bit 0: narrow text in a
// double-byte code page (lead bytes 0x81-0xFE); bit 1: the wide form (char16_t, each byte one
// unit, bytes from 0x80 up mapped past U+3000). Ops, by the low three bits of their first byte:
//   0 add [pattern][replacement]  (bit 6: absent pattern, bit 7: absent replacement)
//   1 remove [pattern]            2 expand [path]
//   3 file read [application-data folder][file name][value length:2]
//   4 registry read [section][key][raw value bytes]
//   5 fail the n-th next allocation [n:1]
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "settings/settings.h"

namespace quillon::fuzz {
namespace {

// ---- allocation that fails on request -----------------------------------------------------

long g_allocationsBeforeFailure = -1;  // -1: never fail
bool g_failed = false;

bool ShouldFail() {
  if (g_allocationsBeforeFailure < 0) return false;
  if (g_allocationsBeforeFailure-- == 0) {
    g_failed = true;
    return true;
  }
  return false;
}

// The narrow form's policy answers with nullptr, the wide form's throws, as in the deliverables.
struct FailingNothrowAlloc {
  static void* Allocate(std::size_t bytes) noexcept {
    return ShouldFail() ? nullptr : NothrowTextAlloc::Allocate(bytes);
  }
  static void Release(void* block) noexcept { NothrowTextAlloc::Release(block); }
};
struct FailingThrowingAlloc {
  static void* Allocate(std::size_t bytes) {
    if (ShouldFail()) throw std::bad_alloc();
    return ThrowingTextAlloc::Allocate(bytes);
  }
  static void Release(void* block) noexcept { ThrowingTextAlloc::Release(block); }
};

template <class Ch>
using AllocFor =
    std::conditional_t<std::is_same_v<Ch, char>, FailingNothrowAlloc, FailingThrowingAlloc>;

// ---- the fake platform --------------------------------------------------------------------

template <class Ch>
class FakePort final : public SettingsPort<Ch> {
 public:
  using String = std::basic_string<Ch>;
  using typename SettingsPort<Ch>::RegistryKey;

  bool dbcs = false;
  String appData;
  String profileValue;
  std::vector<std::uint8_t> registryValue;
  std::vector<String> created;
  std::vector<String> sections;  // sections of the profile reads, and opened registry paths
  std::size_t largestOffer = 0;
  int openKeys = 0;

  bool GetAppDataFolder(Ch* buffer) override {
    if (appData.empty()) return false;
    std::size_t i = 0;
    for (; i < appData.size() && i + 1 < kSettingsPathChars; ++i) buffer[i] = appData[i];
    buffer[i] = Ch(0);
    return true;
  }
  bool PathExists(const Ch*) override { return false; }
  void CreateFolder(const Ch* path) override { created.emplace_back(path); }
  std::size_t ReadProfileString(const Ch* section, const Ch* key, Ch* buffer, std::size_t size,
                                const Ch* file) override {
    FUZZ_CHECK(section != nullptr && key != nullptr && file != nullptr && size >= 1);
    sections.emplace_back(section);
    if (size > largestOffer) largestOffer = size;
    const std::size_t count = profileValue.size() < size - 1 ? profileValue.size() : size - 1;
    for (std::size_t i = 0; i < count; ++i) buffer[i] = profileValue[i];
    buffer[count] = Ch(0);
    return count;
  }
  bool OpenKey(const Ch* path, RegistryKey& key) override {
    sections.emplace_back(path);
    ++openKeys;
    key = &registryValue;
    return true;
  }
  bool QueryValue(RegistryKey key, const Ch*, void* data, std::uint32_t& bytes) override {
    FUZZ_CHECK(key == &registryValue);
    const auto stored = static_cast<std::uint32_t>(registryValue.size());
    if (data == nullptr) {
      bytes = stored;
      return true;
    }
    if (bytes < stored) {  // ERROR_MORE_DATA
      bytes = stored;
      return false;
    }
    if (stored != 0) std::memcpy(data, registryValue.data(), stored);
    bytes = stored;
    return true;
  }
  void CloseKey(RegistryKey key) override {
    FUZZ_CHECK(key == &registryValue);
    --openKeys;
  }
  const Ch* NextChar(const Ch* p) override {
    if constexpr (sizeof(Ch) == 1) {
      const auto unit = static_cast<unsigned char>(*p);
      if (dbcs && unit >= 0x81 && unit <= 0xFE && p[1] != Ch(0)) return p + 2;
    }
    return p + 1;
  }
};

// ---- reference ----------------------------------------------------------------------------

template <class Ch>
using String = std::basic_string<Ch>;

template <class Ch>
struct Pair {
  String<Ch> pattern;
  String<Ch> replacement;
};

template <class Ch>
std::size_t ReferenceStep(const String<Ch>& text, std::size_t at, bool dbcs) {
  if constexpr (sizeof(Ch) == 1) {
    const auto unit = static_cast<unsigned char>(text[at]);
    if (dbcs && unit >= 0x81 && unit <= 0xFE && at + 1 < text.size()) return 2;
  }
  return 1;
}

template <class Ch>
String<Ch> ReferenceExpand(String<Ch> text, const std::vector<Pair<Ch>>& pairs, bool dbcs) {
  for (const Pair<Ch>& pair : pairs) {
    String<Ch> result;
    std::size_t scan = 0;
    for (;;) {
      std::size_t match = String<Ch>::npos;
      for (std::size_t at = scan; at < text.size(); at += ReferenceStep(text, at, dbcs)) {
        if (text.compare(at, pair.pattern.size(), pair.pattern) == 0) {
          match = at;
          break;
        }
      }
      if (match == String<Ch>::npos) break;
      result += text.substr(scan, match - scan);
      result += pair.replacement;
      scan = match + pair.pattern.size();
    }
    result += text.substr(scan);
    text = std::move(result);
  }
  return text;
}

// ---- the run ------------------------------------------------------------------------------

template <class Ch>
String<Ch> TakeText(FuzzInput& input) {
  const std::size_t length = input.Take<std::uint16_t>() % 1200;
  String<Ch> text;
  for (std::size_t i = 0; i < length && !input.Empty(); ++i) {
    const auto byte = input.Take<std::uint8_t>();
    if constexpr (sizeof(Ch) == 1) {
      text.push_back(static_cast<Ch>(byte == 0 ? 'z' : byte));
    } else {
      text.push_back(static_cast<Ch>(byte == 0 ? 'z' : byte < 0x80 ? byte : 0x3000 + byte));
    }
  }
  return text;
}

template <class Ch>
String<Ch> Widen(const char* text) {
  String<Ch> result;
  for (; *text != 0; ++text) result.push_back(static_cast<Ch>(*text));
  return result;
}

template <class Ch>
class Run {
 public:
  using Alloc = AllocFor<Ch>;
  using Text = CTextT<Ch, Alloc>;
  using Store = CSettingsT<Ch, Alloc>;

  Run(FuzzInput& input, bool dbcs) : input_(input), dbcs_(dbcs) {
    port_.dbcs = dbcs;
    firm_ = TakeText<Ch>(input);
    app_ = TakeText<Ch>(input);
  }

  void Go() {
    const Text firm(firm_.c_str());
    const Text app(app_.c_str());
    Store store(false, firm, app, port_);
    model_ = {{Widen<Ch>("*firm*"), firm_}, {Widen<Ch>("*app*"), app_}};
    CheckList(store);
    for (int ops = 0; ops < 64 && !input_.Empty(); ++ops) {
      const auto op = input_.Take<std::uint8_t>();
      g_failed = false;
      try {
        Step(store, op);
      } catch (const std::bad_alloc&) {
        FUZZ_CHECK(g_failed);
      }
      g_allocationsBeforeFailure = -1;
      if (g_failed) Resync(store);
      CheckList(store);
    }
  }

 private:
  void Step(Store& store, std::uint8_t op) {
    switch (op & 7) {
      case 0: {
        const String<Ch> pattern = TakeText<Ch>(input_);
        const String<Ch> replacement = TakeText<Ch>(input_);
        const bool absentPattern = (op & 0x40) != 0;
        const bool absentReplacement = (op & 0x80) != 0;
        const Text patternText = absentPattern ? Text() : Text(pattern.c_str());
        const Text replacementText = absentReplacement ? Text() : Text(replacement.c_str());
        const bool added = store.AddPlaceholder(patternText, replacementText);
        if (g_failed) return;
        const bool acceptable = !absentPattern && !pattern.empty();
        FUZZ_CHECK(added == acceptable);
        if (!acceptable) return;
        RemoveFromModel(pattern);
        model_.push_back({pattern, absentReplacement ? String<Ch>() : replacement});
        return;
      }
      case 1: {
        const String<Ch> pattern = TakeText<Ch>(input_);
        const bool removed = store.RemovePlaceholder(Text(pattern.c_str()));
        if (g_failed) return;
        FUZZ_CHECK(removed == RemoveFromModel(pattern));
        return;
      }
      case 2: {
        const String<Ch> path = TakeText<Ch>(input_);
        const Text expanded = store.ExpandPath(Text(path.c_str()));
        if (g_failed && expanded.GetText() == nullptr) return;  // memory ran out: no result
        FUZZ_CHECK(expanded.GetText() != nullptr);
        FUZZ_CHECK(String<Ch>(expanded.GetText()) == ReferenceExpand(path, model_, dbcs_));
        return;
      }
      case 3:
        FileRead();
        return;
      case 4:
        RegistryRead();
        return;
      case 5:
        g_allocationsBeforeFailure = input_.Take<std::uint8_t>();
        Step(store, input_.Take<std::uint8_t>());
        return;
      default:
        return;
    }
  }

  // A store as the deliverables use it for reading: default pairs, the file or registry backend.
  void FileRead() {
    port_.appData = TakeText<Ch>(input_);
    const String<Ch> fileName = TakeText<Ch>(input_);
    port_.profileValue = String<Ch>(input_.Take<std::uint16_t>() % 5000, Ch('v'));
    for (std::size_t i = 0; i < port_.profileValue.size(); i += 7) {
      port_.profileValue[i] = static_cast<Ch>('a' + i % 26);
    }
    port_.created.clear();
    port_.sections.clear();
    port_.largestOffer = 0;
    const String<Ch> section = Widen<Ch>("Options\\Windows\\Main");

    Store store(false, Text(firm_.c_str()), Text(app_.c_str()), port_);
    store.SetFileName(Text(fileName.c_str()));
    Text value(Widen<Ch>("untouched").c_str());
    const bool found =
        store.ReadValue(Text(section.c_str()), Text(Widen<Ch>("Handle").c_str()), value);
    if (g_failed) return;

    // What the path must be, and whether it fits the 260-character buffer.
    String<Ch> folder = port_.appData.substr(0, kSettingsPathChars - 1);
    if (folder.empty()) {
      FUZZ_CHECK(!found);
      FUZZ_CHECK(String<Ch>(value.GetText()) == Widen<Ch>("untouched"));
      FUZZ_CHECK(port_.created.empty());
      return;
    }
    const Ch last = folder.back();
    if (last != Ch('\\') && last != Ch('/')) folder.push_back(Ch('\\'));
    const String<Ch> firmFolder = folder + firm_ + Ch('\\');
    const String<Ch> appFolder = firmFolder + app_;
    const String<Ch> file = appFolder + Ch('\\') + fileName;
    if (file.size() + 1 > kSettingsPathChars) {
      FUZZ_CHECK(!found);
      FUZZ_CHECK(value.GetText() != nullptr && value.GetText()[0] == Ch(0));
      FUZZ_CHECK(port_.created.empty());  // nothing is created under a cut path
      FUZZ_CHECK(port_.sections.empty());
      return;
    }
    FUZZ_CHECK(port_.created.size() == 2);
    FUZZ_CHECK(port_.created[0] == firmFolder && port_.created[1] == appFolder);
    FUZZ_CHECK(!port_.sections.empty());
    const std::vector<Pair<Ch>> defaults = {{Widen<Ch>("*firm*"), firm_},
                                            {Widen<Ch>("*app*"), app_}};
    const String<Ch> expectedSection =
        ReferenceExpand(Widen<Ch>("Software\\*firm*\\*app*\\") + section, defaults, dbcs_);
    for (const auto& asked : port_.sections) FUZZ_CHECK(asked == expectedSection);
    FUZZ_CHECK(found == !port_.profileValue.empty());
    FUZZ_CHECK(String<Ch>(value.GetText()) == port_.profileValue);
    FUZZ_CHECK(port_.largestOffer > port_.profileValue.size() + 1);
  }

  void RegistryRead() {
    const String<Ch> section = TakeText<Ch>(input_);
    const String<Ch> key = TakeText<Ch>(input_);
    const std::size_t length = input_.Take<std::uint16_t>() % 600;
    port_.registryValue.clear();
    for (std::size_t i = 0; i < length && !input_.Empty(); ++i) {
      port_.registryValue.push_back(input_.Take<std::uint8_t>());
    }
    port_.sections.clear();
    Store store(true, Text(firm_.c_str()), Text(app_.c_str()), port_);
    Text value(Widen<Ch>("untouched").c_str());
    const bool found = store.ReadValue(Text(section.c_str()), Text(key.c_str()), value);
    FUZZ_CHECK(port_.openKeys == 0);  // the key is closed however the read ends
    if (g_failed) return;
    const std::vector<Pair<Ch>> defaults = {{Widen<Ch>("*firm*"), firm_},
                                            {Widen<Ch>("*app*"), app_}};
    FUZZ_CHECK(port_.sections.size() == 1);
    FUZZ_CHECK(port_.sections[0] ==
               ReferenceExpand(Widen<Ch>("Software\\*firm*\\*app*\\") + section, defaults, dbcs_));
    if (port_.registryValue.empty()) {
      FUZZ_CHECK(!found);
      FUZZ_CHECK(String<Ch>(value.GetText()) == Widen<Ch>("untouched"));
      return;
    }
    // The stored bytes as whole characters (a partial last one zero-padded), up to a zero.
    std::vector<std::uint8_t> padded = port_.registryValue;
    while (padded.size() % sizeof(Ch) != 0) padded.push_back(0);
    String<Ch> expected(padded.size() / sizeof(Ch), Ch(0));
    std::memcpy(expected.data(), padded.data(), padded.size());
    expected = expected.substr(0, expected.find(Ch(0)));
    FUZZ_CHECK(found);
    FUZZ_CHECK(String<Ch>(value.GetText()) == expected);
  }

  bool RemoveFromModel(const String<Ch>& pattern) {
    for (auto it = model_.begin(); it != model_.end(); ++it) {
      if (it->pattern == pattern) {
        model_.erase(it);
        return true;
      }
    }
    return false;
  }

  // After an allocation failure the store may hold fewer pairs than the model; take its list.
  void Resync(const Store& store) {
    model_.clear();
    for (const auto& pair : store.GetPlaceholders()) {
      FUZZ_CHECK(pair.pattern.GetText() != nullptr);
      const Ch* replacement = pair.replacement.GetText();
      model_.push_back({pair.pattern.GetText(), replacement ? replacement : String<Ch>()});
    }
  }

  // Every pair has a present, non-empty pattern, patterns are unique, and the list is the model.
  void CheckList(const Store& store) {
    const auto& list = store.GetPlaceholders();
    FUZZ_CHECK(list.size() == model_.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Ch* pattern = list[i].pattern.GetText();
      FUZZ_CHECK(pattern != nullptr && pattern[0] != Ch(0));
      FUZZ_CHECK(String<Ch>(pattern) == model_[i].pattern);
      const Ch* replacement = list[i].replacement.GetText();
      FUZZ_CHECK(String<Ch>(replacement ? replacement : String<Ch>()) == model_[i].replacement);
      for (std::size_t j = 0; j < i; ++j) FUZZ_CHECK(model_[j].pattern != model_[i].pattern);
    }
  }

  FuzzInput& input_;
  bool dbcs_;
  FakePort<Ch> port_;
  String<Ch> firm_;
  String<Ch> app_;
  std::vector<Pair<Ch>> model_;
};

}  // namespace
}  // namespace quillon::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon::fuzz;
  FuzzInput input(data, size);
  const auto mode = input.Take<std::uint8_t>();
  g_allocationsBeforeFailure = -1;
  if ((mode & 2) != 0) {
    Run<char16_t> run(input, false);
    run.Go();
  } else {
    Run<char> run(input, (mode & 1) != 0);
    run.Go();
  }
  g_allocationsBeforeFailure = -1;
  return 0;
}
