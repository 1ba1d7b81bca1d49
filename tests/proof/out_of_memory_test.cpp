// What an allocation failure leaves behind in the wide settings store, whose allocation throws
// std::bad_alloc through the caller. The store must stay usable afterwards: no half-built pair.
#include <gtest/gtest.h>

#include <cstddef>
#include <new>

#include "settings/settings.h"

namespace quillon {
namespace {

// Throws on the n-th allocation from now, counting from 0; never when negative.
long g_allocationsBeforeFailure = -1;

struct FailingAlloc {
  static void* Allocate(std::size_t bytes) {
    if (g_allocationsBeforeFailure >= 0 && g_allocationsBeforeFailure-- == 0) {
      throw std::bad_alloc();
    }
    return ThrowingTextAlloc::Allocate(bytes);
  }
  static void Release(void* block) noexcept { ThrowingTextAlloc::Release(block); }
};

using Text = CTextT<char16_t, FailingAlloc>;
using Store = CSettingsT<char16_t, FailingAlloc>;

class NoPort final : public SettingsPort<char16_t> {
 public:
  bool GetAppDataFolder(char16_t*) override { return false; }
  bool PathExists(const char16_t*) override { return false; }
  void CreateFolder(const char16_t*) override {}
  std::size_t ReadProfileString(const char16_t*, const char16_t*, char16_t*, std::size_t,
                                const char16_t*) override {
    return 0;
  }
  bool OpenKey(const char16_t*, RegistryKey&) override { return false; }
  bool QueryValue(RegistryKey, const char16_t*, void*, std::uint32_t&) override { return false; }
  void CloseKey(RegistryKey) override {}
};

// Each allocation of AddPlaceholder in turn fails: whatever it leaves, every pair in the list
// has its pattern, and expansion still works.
TEST(WideStoreOutOfMemory, FailedAddLeavesNoHalfBuiltPair) {
  for (long failAt = 0; failAt < 8; ++failAt) {
    SCOPED_TRACE(failAt);
    NoPort port;
    Store store(false, Text(u"Orvane"), Text(u"Quillon"), port);
    const Text pattern(u"*x*");
    const Text replacement(u"y");
    g_allocationsBeforeFailure = failAt;
    bool threw = false;
    try {
      store.AddPlaceholder(pattern, replacement);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    g_allocationsBeforeFailure = -1;
    for (const auto& pair : store.GetPlaceholders()) {
      ASSERT_NE(pair.pattern.GetText(), nullptr) << "a pair without pattern stayed in the list";
      ASSERT_NE(pair.replacement.GetText(), nullptr) << "a pair without replacement stayed";
    }
    const Text expanded = store.ExpandPath(Text(u"*firm*\\*app*\\*x*"));
    ASSERT_NE(expanded.GetText(), nullptr);
    if (!threw) {
      EXPECT_EQ(std::u16string(expanded.GetText()), u"Orvane\\Quillon\\y");
    }
  }
}

}  // namespace
}  // namespace quillon
