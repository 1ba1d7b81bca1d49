// The registry backend: the two queries, stored data of any size and shape, and the key always
// closed again.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "fake_settings_port.h"
#include "settings/settings.h"
#include "test_forms.h"

namespace quillon::test {
namespace {

template <class Form>
class RegistryReadTest : public ::testing::Test {
 protected:
  using Char = typename Form::Ch;
  using Store = CSettingsT<Char, typename Form::Alloc>;
  using TextType = typename Store::Text;
  using String = std::basic_string<Char>;

  static String L(const char* ascii) { return S<Char>(ascii); }
  static TextType T(const char* ascii) { return TextType(S<Char>(ascii).c_str()); }

  std::vector<std::uint8_t>& Stored() { return port.registry[L(kPath)][L("Handle")]; }
  bool Read(TextType& value) {
    return store.ReadValue(T("Options\\Windows\\Main"), T("Handle"), value);
  }

  static constexpr const char* kPath = "Software\\Orvane\\Quillon\\Options\\Windows\\Main";

  FakeSettingsPort<Char> port;
  Store store{true, T("Orvane"), T("Quillon"), port};
};

using Forms = ::testing::Types<NarrowForm, WideForm>;
TYPED_TEST_SUITE(RegistryReadTest, Forms);

TYPED_TEST(RegistryReadTest, StoredData) {
  const bool wide = sizeof(typename TestFixture::Char) == 2;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      {"terminated text", TextBytes(TestFixture::L("12345"), true), true, "12345"},
      {"no terminator", TextBytes(TestFixture::L("12345"), false), true, "12345"},
      {"zero inside", TextBytes(TestFixture::L(std::string("ab\0cd", 5).c_str()), false), true,
       "ab"},
      {"size 0", {}, false, "keep"},
      {"one byte", {0x41}, true, "A"},
      // Odd sizes end inside a wide character: its missing byte reads as zero.
      {"three bytes", {0x41, 0x00, 0x42}, true, wide ? "AB" : "A"},
      {"five bytes, no zero", {0x41, 0x42, 0x43, 0x44, 0x45}, true, wide ? "??E" : "ABCDE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    this->Stored() = c.bytes;
    auto value = TestFixture::T("keep");
    EXPECT_EQ(this->Read(value), c.found);
    EXPECT_EQ(Show(value.GetText()), c.value);
    EXPECT_EQ(this->port.openKeys, 0);
  }
}

TYPED_TEST(RegistryReadTest, NothingStored) {
  auto value = TestFixture::T("keep");
  EXPECT_FALSE(this->Read(value)) << "no key";
  EXPECT_EQ(Show(value.GetText()), "keep");
  EXPECT_EQ(this->port.queries, 0);

  this->port.registry[TestFixture::L(TestFixture::kPath)];
  EXPECT_FALSE(this->Read(value)) << "no value";
  EXPECT_EQ(Show(value.GetText()), "keep");
  EXPECT_EQ(this->port.queries, 1);
  EXPECT_EQ(this->port.openKeys, 0);
}

TYPED_TEST(RegistryReadTest, ValueChangesBetweenTheQueries) {
  this->Stored() = TextBytes(TestFixture::L("123"), true);
  this->port.afterSizeQuery = [this] {
    this->Stored() = TextBytes(TestFixture::L("1234567"), true);
  };
  auto value = TestFixture::T("keep");
  EXPECT_FALSE(this->Read(value)) << "grown";
  EXPECT_EQ(Show(value.GetText()), "");
  EXPECT_EQ(this->port.queries, 2);
  EXPECT_EQ(this->port.openKeys, 0);

  this->Stored() = TextBytes(TestFixture::L("1234567"), true);
  this->port.afterSizeQuery = [this] { this->Stored() = TextBytes(TestFixture::L("89"), false); };
  EXPECT_TRUE(this->Read(value)) << "shrunk";
  EXPECT_EQ(Show(value.GetText()), "89");
  EXPECT_EQ(this->port.openKeys, 0);
}

TYPED_TEST(RegistryReadTest, FailedAllocationClosesTheKey) {
  this->Stored() = TextBytes(TestFixture::L("4242"), true);
  for (int failAt = 1;; ++failAt) {
    SCOPED_TRACE(failAt);
    auto value = TestFixture::T("keep");
    const ReadUnderFailure read =
        ReadWithFailureAt(this->store, failAt, TestFixture::T("Options\\Windows\\Main"),
                          TestFixture::T("Handle"), value);
    EXPECT_EQ(this->port.openKeys, 0);
    if (read.calls < failAt) {
      EXPECT_TRUE(read.found);
      EXPECT_EQ(Show(value.GetText()), "4242");
      break;
    }
    EXPECT_EQ(read.thrown, TypeParam::kThrows);
    EXPECT_FALSE(read.found);
    const std::string shown = Show(value.GetText());
    EXPECT_TRUE(shown == "keep" || shown == "(absent)") << shown;
  }
}

}  // namespace
}  // namespace quillon::test
