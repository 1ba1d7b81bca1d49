// The settings store's key path: the placeholder list and its expansion rules, in both forms.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "fake_settings_port.h"
#include "settings/settings.h"
#include "test_forms.h"

namespace quillon::test {
namespace {

template <class Form>
class ExpandTest : public ::testing::Test {
 protected:
  using Char = typename Form::Ch;
  using StoreType = CSettingsT<Char, typename Form::Alloc>;
  using TextType = typename StoreType::Text;

  static std::basic_string<Char> L(const char* ascii) { return S<Char>(ascii); }
  static TextType T(const char* ascii) { return TextType(S<Char>(ascii).c_str()); }

  static std::vector<std::string> Patterns(const StoreType& store) {
    std::vector<std::string> patterns;
    for (const auto& pair : store.GetPlaceholders())
      patterns.push_back(Show(pair.pattern.GetText()));
    return patterns;
  }

  FakeSettingsPort<Char> port;
};

using Forms = ::testing::Types<NarrowForm, WideForm>;
TYPED_TEST_SUITE(ExpandTest, Forms);

TYPED_TEST(ExpandTest, Table) {
  using Store = typename TestFixture::StoreType;
  struct Pair {
    const char* pattern;
    const char* replacement;
  };
  struct Case {
    const char* name;
    const char* firm;
    const char* app;
    std::vector<Pair> added;  // AddPlaceholder after construction, in order
    const char* path;
    const char* expanded;
  };
  const Case cases[] = {
      {"default base key",
       "Orvane",
       "Quillon",
       {},
       "Software\\*firm*\\*app*\\Options\\Windows\\Main",
       "Software\\Orvane\\Quillon\\Options\\Windows\\Main"},
      {"no pattern", "Orvane", "Quillon", {}, "Options\\Windows\\Main", "Options\\Windows\\Main"},
      {"empty path", "Orvane", "Quillon", {}, "", ""},
      {"twice", "Orvane", "Quillon", {}, "*app*\\x\\*app*", "Quillon\\x\\Quillon"},
      {"not quite a pattern",
       "Orvane",
       "Quillon",
       {},
       "*app\\app*\\**app**",
       "*app\\app*\\*Quillon*"},
      {"firm name holds the app pattern", "F*app*", "Quillon", {}, "*firm*", "FQuillon"},
      {"replacement holds its own pattern",
       "Orvane",
       "Quillon",
       {{"*x*", "<*x*>"}},
       "*x*-*x*",
       "<*x*>-<*x*>"},
      {"left to right, no overlaps", "Orvane", "Quillon", {{"aa", "b"}}, "aaaaa", "bba"},
      {"re-added pair moves behind *app*",
       "Orvane",
       "Quillon",
       {{"*firm*", "A*app*"}},
       "*firm*",
       "A*app*"},
      {"empty replacement", "Orvane", "Quillon", {{"*gone*", ""}}, "a*gone*b*gone*", "ab"},
      {"later pairs scan earlier results", "Orvane", "Quillon", {{"Q", "q"}}, "*app*", "quillon"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Store store(false, TestFixture::T(c.firm), TestFixture::T(c.app), this->port);
    for (const Pair& pair : c.added) {
      EXPECT_TRUE(
          store.AddPlaceholder(TestFixture::T(pair.pattern), TestFixture::T(pair.replacement)));
    }
    EXPECT_EQ(Show(store.ExpandPath(TestFixture::T(c.path)).GetText()), c.expanded);
  }
}

TYPED_TEST(ExpandTest, ExpandingAnAbsentPathGivesAbsent) {
  typename TestFixture::StoreType store(false, TestFixture::T("Orvane"), TestFixture::T("Quillon"),
                                        this->port);
  EXPECT_EQ(store.ExpandPath(typename TestFixture::TextType()).GetText(), nullptr);
}

TYPED_TEST(ExpandTest, PlaceholderList) {
  typename TestFixture::StoreType store(false, TestFixture::T("Orvane"), TestFixture::T("Quillon"),
                                        this->port);
  using Patterns = std::vector<std::string>;
  EXPECT_EQ(TestFixture::Patterns(store), (Patterns{"*firm*", "*app*"}));

  // An empty pattern would match everywhere without advancing: refused.
  EXPECT_FALSE(store.AddPlaceholder(TestFixture::T(""), TestFixture::T("x")));
  EXPECT_FALSE(store.AddPlaceholder(typename TestFixture::TextType(), TestFixture::T("x")));
  EXPECT_EQ(TestFixture::Patterns(store), (Patterns{"*firm*", "*app*"}));

  EXPECT_TRUE(store.AddPlaceholder(TestFixture::T("*firm*"), TestFixture::T("Other")));
  EXPECT_EQ(TestFixture::Patterns(store), (Patterns{"*app*", "*firm*"}));

  // A pair's own pattern as the argument: it is copied before the pair goes.
  const auto& last = store.GetPlaceholders()[1];
  EXPECT_TRUE(store.AddPlaceholder(last.pattern, TestFixture::T("Third")));
  EXPECT_EQ(TestFixture::Patterns(store), (Patterns{"*app*", "*firm*"}));
  EXPECT_EQ(Show(store.ExpandPath(TestFixture::T("*firm*")).GetText()), "Third");

  for (char c = 'a'; c <= 'j'; ++c) {
    const std::string pattern = std::string("<") + c + ">";
    const std::string replacement = std::string(1, static_cast<char>(c - 'a' + 'A'));
    ASSERT_TRUE(
        store.AddPlaceholder(TestFixture::T(pattern.c_str()), TestFixture::T(replacement.c_str())));
  }
  ASSERT_EQ(store.GetPlaceholders().size(), 12u);
  EXPECT_EQ(Show(store.ExpandPath(TestFixture::T("<a><j>*app*<e>")).GetText()), "AJQuillonE");

  EXPECT_FALSE(store.RemovePlaceholder(TestFixture::T("*APP*"))) << "patterns compare exactly";
  EXPECT_FALSE(store.RemovePlaceholder(typename TestFixture::TextType()));
  EXPECT_TRUE(store.RemovePlaceholder(TestFixture::T("<c>")));
  EXPECT_FALSE(store.RemovePlaceholder(TestFixture::T("<c>")));
  EXPECT_TRUE(store.RemovePlaceholder(TestFixture::T("*app*")));
  EXPECT_EQ(TestFixture::Patterns(store),
            (Patterns{"*firm*", "<a>", "<b>", "<d>", "<e>", "<f>", "<g>", "<h>", "<i>", "<j>"}));
  EXPECT_EQ(Show(store.ExpandPath(TestFixture::T("<c>*app*<d>")).GetText()), "<c>*app*D");
}

// Each allocation of AddPlaceholder fails in turn (re-adding an existing pattern and adding a
// new one past the list's first growth): the list is either fully updated or left as it was.
TYPED_TEST(ExpandTest, FailedAddLeavesTheListAsItWas) {
  using Patterns = std::vector<std::string>;
  struct Case {
    const char* pattern;
    Patterns before;
    Patterns after;
    const char* expandedAfter;  // of "*firm*\\*app*\\<4>"
  };
  const Case cases[] = {
      {"*firm*",
       {"*firm*", "*app*", "<3>", "<4>"},
       {"*app*", "<3>", "<4>", "*firm*"},
       "new\\Quillon\\four"},
      {"<5>",
       {"*firm*", "*app*", "<3>", "<4>"},
       {"*firm*", "*app*", "<3>", "<4>", "<5>"},
       "Orvane\\Quillon\\four"},
  };
  for (const Case& c : cases) {
    for (int failAt = 1;; ++failAt) {
      SCOPED_TRACE(std::string(c.pattern) + " failing allocation " + std::to_string(failAt));
      typename TestFixture::StoreType store(false, TestFixture::T("Orvane"),
                                            TestFixture::T("Quillon"), this->port);
      store.AddPlaceholder(TestFixture::T("<3>"), TestFixture::T("three"));
      store.AddPlaceholder(TestFixture::T("<4>"), TestFixture::T("four"));
      ASSERT_EQ(TestFixture::Patterns(store), c.before);
      const auto pattern = TestFixture::T(c.pattern);
      const auto replacement = TestFixture::T("new");
      bool added = false;
      int calls = 0;
      {
        ScopedAllocFailure failure(failAt);
        try {
          added = store.AddPlaceholder(pattern, replacement);
        } catch (const std::bad_alloc&) {
        }
        calls = AllocFailure::Calls();
      }
      const auto expanded = store.ExpandPath(TestFixture::T("*firm*\\*app*\\<4>"));
      if (calls < failAt) {
        EXPECT_TRUE(added);
        EXPECT_EQ(TestFixture::Patterns(store), c.after);
        EXPECT_EQ(Show(expanded.GetText()), c.expandedAfter);
        break;
      }
      EXPECT_FALSE(added);
      EXPECT_EQ(TestFixture::Patterns(store), c.before);
      EXPECT_EQ(Show(expanded.GetText()), "Orvane\\Quillon\\four");
    }
  }
}

// The key path is the base key followed directly by the section, expanded as a whole; the
// registry backend opens exactly that subkey.
TYPED_TEST(ExpandTest, KeyPathOfARead) {
  using Store = typename TestFixture::StoreType;
  struct Case {
    const char* name;
    const char* baseKey;  // nullptr: the default
    const char* section;
    const char* opened;
  };
  const Case cases[] = {
      {"default", nullptr, "Options\\Windows\\Main",
       "Software\\Orvane\\Quillon\\Options\\Windows\\Main"},
      {"empty base key", "", "Options\\Windows\\Main", "Options\\Windows\\Main"},
      {"no separator added", "Root", "Section", "RootSection"},
      {"section holds a pattern", nullptr, "*app*\\*firm*",
       "Software\\Orvane\\Quillon\\Quillon\\Orvane"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    this->port.openedPaths.clear();
    Store store(true, TestFixture::T("Orvane"), TestFixture::T("Quillon"), this->port);
    if (c.baseKey != nullptr) store.SetBaseKey(TestFixture::T(c.baseKey));
    auto value = TestFixture::T("keep");
    EXPECT_FALSE(store.ReadValue(TestFixture::T(c.section), TestFixture::T("Handle"), value));
    ASSERT_EQ(this->port.openedPaths.size(), 1u);
    EXPECT_EQ(Show(this->port.openedPaths[0].c_str()), c.opened);
    EXPECT_EQ(Show(value.GetText()), "keep");
  }
}

// In a double-byte code page a match may start only where a character starts: the byte pair
// 0x81 '*' is one character, so "*a*" inside "\x81*a*" is no match there.
TEST(ExpandNarrow, MatchesStartAtCharacterBoundaries) {
  FakeSettingsPort<char> port;
  CSettingsA store(false, "Orvane", "Quillon", port);
  ASSERT_TRUE(store.AddPlaceholder("*a*", "X"));

  EXPECT_STREQ(store.ExpandPath("\x81*a*|*a*").GetText(), "\x81X|X") << "single-byte code page";
  port.leadBytes = {0x81};
  EXPECT_STREQ(store.ExpandPath("\x81*a*|*a*").GetText(), "\x81*a*|X");
  EXPECT_STREQ(store.ExpandPath("\x81\x81*a*").GetText(), "\x81\x81X");
  EXPECT_STREQ(store.ExpandPath("*a*\x81").GetText(), "X\x81") << "a lone lead byte at the end";
}

}  // namespace
}  // namespace quillon::test
