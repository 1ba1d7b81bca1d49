// CText: absent versus present-empty, the result codes, aliasing, and what a failed allocation
// leaves behind in either form.
#include "settings/text.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "test_forms.h"

namespace quillon::test {
namespace {

template <class Form>
class TextTest : public ::testing::Test {
 protected:
  using Char = typename Form::Ch;
  using TextType = CTextT<Char, typename Form::Alloc>;
  static std::basic_string<Char> L(const char* ascii) { return S<Char>(ascii); }
};

using Forms = ::testing::Types<NarrowForm, WideForm>;
TYPED_TEST_SUITE(TextTest, Forms);

TYPED_TEST(TextTest, AbsentAndEmptyAreDifferentStates) {
  using Text = typename TestFixture::TextType;
  using Ch = typename TestFixture::Char;
  const auto empty = TestFixture::L("");

  EXPECT_EQ(Show(Text().GetText()), "(absent)");
  EXPECT_EQ(Show(Text(static_cast<const Ch*>(nullptr)).GetText()), "(absent)");
  const Text present(empty.c_str());
  ASSERT_NE(present.GetText(), nullptr);
  EXPECT_EQ(present.GetText()[0], Ch(0));

  const Text absent;
  const Text copyOfAbsent(absent);
  EXPECT_EQ(copyOfAbsent.GetText(), nullptr);
  const Text copyOfEmpty(present);
  ASSERT_NE(copyOfEmpty.GetText(), nullptr);
  EXPECT_NE(copyOfEmpty.GetText(), present.GetText()) << "a copy has a buffer of its own";
}

TYPED_TEST(TextTest, AssignCodesAndResults) {
  using Text = typename TestFixture::TextType;
  const auto abc = TestFixture::L("abc");
  const auto empty = TestFixture::L("");

  Text value(abc.c_str());
  EXPECT_EQ(value.Assign(nullptr), kTextNoBuffer);
  EXPECT_EQ(Show(value.GetText()), "abc") << "a null source changes nothing";

  EXPECT_EQ(value.Assign(empty.c_str()), kTextOk);
  ASSERT_NE(value.GetText(), nullptr);
  EXPECT_EQ(Show(value.GetText()), "");

  const auto longer = TestFixture::L("a longer text");
  EXPECT_EQ(value.Assign(longer.c_str()), kTextOk);
  EXPECT_EQ(Show(value.GetText()), "a longer text");
  EXPECT_NE(value.GetText(), longer.c_str());

  Text other;
  other = value;
  EXPECT_EQ(Show(other.GetText()), "a longer text");
  other = Text();  // assigning an absent value is a null source: the old text stays
  EXPECT_EQ(Show(other.GetText()), "a longer text");
}

TYPED_TEST(TextTest, AppendCodesAndResults) {
  using Text = typename TestFixture::TextType;
  const auto ab = TestFixture::L("ab");
  const auto cd = TestFixture::L("cd");
  const auto empty = TestFixture::L("");

  Text absent;
  EXPECT_EQ(absent.Append(nullptr), kTextNoBuffer);
  EXPECT_EQ(absent.GetText(), nullptr);

  Text fromAbsent;
  EXPECT_EQ(fromAbsent.Append(ab.c_str()), kTextOk);
  EXPECT_EQ(Show(fromAbsent.GetText()), "ab");

  Text emptyFromAbsent;
  EXPECT_EQ(emptyFromAbsent.Append(empty.c_str()), kTextOk);
  ASSERT_NE(emptyFromAbsent.GetText(), nullptr);
  EXPECT_EQ(Show(emptyFromAbsent.GetText()), "");

  fromAbsent += cd.c_str();
  fromAbsent += empty.c_str();
  EXPECT_EQ(Show(fromAbsent.GetText()), "abcd");
  EXPECT_EQ(fromAbsent.Append(nullptr), kTextNoBuffer);
  EXPECT_EQ(Show(fromAbsent.GetText()), "abcd");
}

// A value's own text (or a part of it) as the source behaves as if it had been copied first.
TYPED_TEST(TextTest, OwnTextAsSource) {
  using Text = typename TestFixture::TextType;
  const auto hello = TestFixture::L("hello");

  Text value(hello.c_str());
  EXPECT_EQ(value.Assign(value.GetText()), kTextOk);
  EXPECT_EQ(Show(value.GetText()), "hello");
  value = value;
  EXPECT_EQ(Show(value.GetText()), "hello");
  EXPECT_EQ(value.Assign(value.GetText() + 2), kTextOk);
  EXPECT_EQ(Show(value.GetText()), "llo");

  EXPECT_EQ(value.Append(value.GetText()), kTextOk);
  EXPECT_EQ(Show(value.GetText()), "llollo");
  value += value.GetText() + 4;
  EXPECT_EQ(Show(value.GetText()), "llollolo");
}

// One failed allocation, by operation: the narrow form reports a code, the wide form throws;
// both leave the value in the same state (absent once its old buffer was gone).
TYPED_TEST(TextTest, FailedAllocation) {
  using Text = typename TestFixture::TextType;
  using Ch = typename TestFixture::Char;
  enum class Op { kAssign, kAppend, kAssignOwnSuffix, kAppendOwn, kConstruct };
  struct Case {
    const char* name;
    Op op;
    int failAt;  // which allocation of the operation fails
    int narrowCode;
    const char* after;  // nullptr: absent
  };
  const Case cases[] = {
      {"assign", Op::kAssign, 1, kTextNoBuffer, nullptr},
      {"append temporary", Op::kAppend, 1, kTextNoTemporary, "old"},
      {"append final buffer", Op::kAppend, 2, kTextNoBuffer, nullptr},
      {"assign own suffix", Op::kAssignOwnSuffix, 1, kTextNoBuffer, nullptr},
      {"append own text, temporary", Op::kAppendOwn, 1, kTextNoTemporary, "old"},
      {"append own text, final buffer", Op::kAppendOwn, 2, kTextNoBuffer, nullptr},
      {"construct", Op::kConstruct, 1, kTextNoBuffer, nullptr},
  };
  const auto old = TestFixture::L("old");
  const auto source = TestFixture::L("new");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Text value(old.c_str());
    const Ch* ownSuffix = value.GetText() + 1;
    int code = -1;
    bool thrown = false;
    {
      ScopedAllocFailure failure(c.failAt);
      try {
        switch (c.op) {
          case Op::kAssign:
            code = value.Assign(source.c_str());
            break;
          case Op::kAppend:
            code = value.Append(source.c_str());
            break;
          case Op::kAssignOwnSuffix:
            code = value.Assign(ownSuffix);
            break;
          case Op::kAppendOwn:
            code = value.Append(value.GetText());
            break;
          case Op::kConstruct: {
            Text constructed(source.c_str());
            code = constructed.GetText() == nullptr ? kTextNoBuffer : kTextOk;
            value.Assign(nullptr);
            break;
          }
        }
      } catch (const std::bad_alloc&) {
        thrown = true;
      }
    }
    if (c.op == Op::kConstruct) {
      if (!TypeParam::kThrows) {
        EXPECT_EQ(code, c.narrowCode);
      }
      EXPECT_EQ(thrown, TypeParam::kThrows);
      continue;
    }
    if (TypeParam::kThrows) {
      EXPECT_TRUE(thrown);
      // The wide form allocates the copy of an own suffix before it lets the old buffer go.
      const char* after = c.op == Op::kAssignOwnSuffix ? "old" : c.after;
      EXPECT_EQ(Show(value.GetText()), after == nullptr ? "(absent)" : after);
    } else {
      EXPECT_FALSE(thrown);
      EXPECT_EQ(code, c.narrowCode);
      EXPECT_EQ(Show(value.GetText()), c.after == nullptr ? "(absent)" : c.after);
    }
  }
}

TYPED_TEST(TextTest, NoFourteenWithoutFailure) {
  using Text = typename TestFixture::TextType;
  // Every operation succeeds when memory is there: the codes only ever report a failure.
  const auto a = TestFixture::L("a");
  Text value;
  for (int i = 0; i < 100; ++i) ASSERT_EQ(value.Append(a.c_str()), kTextOk);
  EXPECT_EQ(Show(value.GetText()), std::string(100, 'a'));
}

template <class Form>
class TextEqualTest : public TextTest<Form> {};
TYPED_TEST_SUITE(TextEqualTest, Forms);

TYPED_TEST(TextEqualTest, Table) {
  using Ch = typename TestFixture::Char;
  struct Case {
    const char* left;  // nullptr: a null pointer
    const char* right;
    bool equal;
  };
  const Case cases[] = {
      {"*app*", "*app*", true},
      {"*app*", "*APP*", false},
      {"*app*", "*app*x", false},
      {"*app*x", "*app*", false},
      {"", "", true},
      {"", "a", false},
      {"a", "", false},
      {nullptr, "", false},
      {"", nullptr, false},
      {nullptr, nullptr, false},
      {"\xe9t\xe9", "\xc9T\xc9", false},  // no case folding beyond ASCII either
      {"abc", "abd", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.left ? c.left : "(null)") + " vs " + (c.right ? c.right : "(null)"));
    const auto left = S<Ch>(c.left ? c.left : "");
    const auto right = S<Ch>(c.right ? c.right : "");
    EXPECT_EQ(TextEqual(c.left ? left.c_str() : nullptr, c.right ? right.c_str() : nullptr),
              c.equal);
  }
}

}  // namespace
}  // namespace quillon::test
