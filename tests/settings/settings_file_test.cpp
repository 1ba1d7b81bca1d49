// The settings-file backend: the full path and its folders, the growing read buffer, the
// long-path guard and what a failed allocation leaves behind; in each form, and in the narrow
// form whose file calls are wide.
#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "fake_settings_port.h"
#include "settings/settings.h"
#include "test_forms.h"

namespace quillon::test {
namespace {

template <class Form>
class FileReadTest : public ::testing::Test {
 protected:
  using Char = typename Form::Ch;
  using FileChar = typename Form::FileCh;
  using Store = CSettingsT<Char, typename Form::Alloc, FileChar>;
  using Port = FakeSettingsPort<Char, FileChar>;
  using TextType = typename Store::Text;
  using String = std::basic_string<FileChar>;  // of the file calls

  static String L(const char* ascii) { return S<FileChar>(ascii); }
  static TextType T(const char* ascii) { return TextType(S<Char>(ascii).c_str()); }

  FileReadTest() {
    port.appData = L(kAppData);
    store.SetFileName(T("Quillon.cfg"));
  }

  void SetStored(const String& value) {
    port.profile[{L(kFile), L(kSection), L("Handle")}] = value;
  }
  bool Read(TextType& value) {
    return store.ReadValue(T("Options\\Windows\\Main"), T("Handle"), value);
  }

  static constexpr const char* kAppData = "C:\\users\\me\\AppData\\Roaming";
  static constexpr const char* kFile =
      "C:\\users\\me\\AppData\\Roaming\\Orvane\\Quillon\\Quillon.cfg";
  static constexpr const char* kSection = "Software\\Orvane\\Quillon\\Options\\Windows\\Main";

  Port port;
  Store store{false, T("Orvane"), T("Quillon"), port};
};

using Forms = ::testing::Types<NarrowForm, WideForm, NarrowWithWideFileForm>;
TYPED_TEST_SUITE(FileReadTest, Forms);

// Digits that change with the position, so that a cut or a repeated piece shows.
std::string Counting(std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('0' + i % 10));
  return text;
}

TYPED_TEST(FileReadTest, ReadGrowsUntilTheValueFits) {
  struct Case {
    const char* name;
    bool stored;
    std::size_t length;
    bool found;
    std::vector<std::size_t> sizes;
    std::optional<std::uint64_t> fileBytes = std::nullopt;
  };
  const Case cases[] = {
      {"missing key", false, 0, false, {768}},
      {"empty value", true, 0, false, {768}},
      {"one character", true, 1, true, {768}},
      {"766", true, 766, true, {768}},
      {"767 fills the first buffer exactly", true, 767, true, {768, 1536}},
      {"768", true, 768, true, {768, 1536}},
      {"1534", true, 1534, true, {768, 1536}},
      {"1535 fills the second buffer exactly", true, 1535, true, {768, 1536, 3072}},
      {"2000", true, 2000, true, {768, 1536, 3072}},
      {"a million: the room doubles",
       true,
       1000000,
       true,
       {768, 1536, 3072, 6144, 12288, 24576, 49152, 98304, 196608, 393216, 786432, 1572864}},
      {"a million, the file's size known: room for the whole file",
       true,
       1000000,
       true,
       {768, 1000051},
       1000050},
      {"a small file still doubles", true, 800, true, {768, 1536}, 830},
      {"a file that grew since its size was taken", true, 3000, true, {768, 2001, 4002}, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    this->port.profile.clear();
    this->port.offeredSizes.clear();
    this->port.fileBytes = c.fileBytes;
    const std::string expected = Counting(c.length);
    if (c.stored) this->SetStored(TestFixture::L(expected.c_str()));
    auto value = TestFixture::T("keep");
    EXPECT_EQ(this->Read(value), c.found);
    EXPECT_EQ(Show(value.GetText()), expected);
    EXPECT_EQ(this->port.offeredSizes, c.sizes);
  }
}

TYPED_TEST(FileReadTest, FoldersAreCreatedWhenMissing) {
  const std::string firmFolder = std::string(TestFixture::kAppData) + "\\Orvane\\";
  const std::string appFolder = std::string(TestFixture::kAppData) + "\\Orvane\\Quillon";
  auto value = TestFixture::T("keep");

  EXPECT_FALSE(this->Read(value));
  EXPECT_EQ(Show(value.GetText()), "");
  ASSERT_EQ(this->port.created.size(), 2u);
  EXPECT_EQ(Show(this->port.created[0].c_str()), firmFolder);
  EXPECT_EQ(Show(this->port.created[1].c_str()), appFolder);
  ASSERT_EQ(this->port.readFiles.size(), 1u);
  EXPECT_EQ(Show(this->port.readFiles[0].c_str()), TestFixture::kFile);

  this->port.created.clear();
  this->SetStored(TestFixture::L("1234"));
  EXPECT_TRUE(this->Read(value));
  EXPECT_EQ(Show(value.GetText()), "1234");
  EXPECT_TRUE(this->port.created.empty()) << "folders that exist are left alone";

  this->port.folders.erase(TestFixture::L(appFolder.c_str()));
  EXPECT_TRUE(this->Read(value));
  ASSERT_EQ(this->port.created.size(), 1u);
  EXPECT_EQ(Show(this->port.created[0].c_str()), appFolder);
}

TYPED_TEST(FileReadTest, SeparatorAfterTheApplicationDataFolder) {
  struct Case {
    const char* appData;
    const char* file;
  };
  const Case cases[] = {
      {"C:\\data", "C:\\data\\Orvane\\Quillon\\Quillon.cfg"},
      {"C:\\data\\", "C:\\data\\Orvane\\Quillon\\Quillon.cfg"},
      {"C:/data/", "C:/data/Orvane\\Quillon\\Quillon.cfg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.appData);
    this->port.appData = TestFixture::L(c.appData);
    this->port.readFiles.clear();
    auto value = TestFixture::T("keep");
    this->Read(value);
    ASSERT_EQ(this->port.readFiles.size(), 1u);
    EXPECT_EQ(Show(this->port.readFiles[0].c_str()), c.file);
  }
}

// Re-adding "*firm*" changes the section but not the folder, which uses the names directly.
TYPED_TEST(FileReadTest, FolderPathIgnoresThePlaceholderList) {
  this->store.AddPlaceholder(TestFixture::T("*firm*"), TestFixture::T("Other"));
  this->port.profile[{TestFixture::L(TestFixture::kFile),
                      TestFixture::L("Software\\Other\\Quillon\\Options\\Windows\\Main"),
                      TestFixture::L("Handle")}] = TestFixture::L("77");
  auto value = TestFixture::T("keep");
  EXPECT_TRUE(this->Read(value));
  EXPECT_EQ(Show(value.GetText()), "77");
}

TYPED_TEST(FileReadTest, NothingToReadFrom) {
  this->port.appDataAvailable = false;
  auto value = TestFixture::T("keep");
  EXPECT_FALSE(this->Read(value));
  EXPECT_EQ(Show(value.GetText()), "keep");
  EXPECT_TRUE(this->port.created.empty());
  EXPECT_TRUE(this->port.offeredSizes.empty());

  this->port.appDataAvailable = true;
  typename TestFixture::Store unnamed(false, TestFixture::T("Orvane"), TestFixture::T("Quillon"),
                                      this->port);
  EXPECT_FALSE(unnamed.ReadValue(TestFixture::T("S"), TestFixture::T("K"), value))
      << "no file name set";
  EXPECT_EQ(Show(value.GetText()), "keep");
  EXPECT_TRUE(this->port.created.empty());

  EXPECT_FALSE(this->store.ReadValue(TestFixture::T("S"), typename TestFixture::TextType(), value))
      << "an absent key would list the section's keys";
  EXPECT_TRUE(this->port.offeredSizes.empty());
}

// The full path must fit 260 characters with its terminator: application data (232 here) + "\" +
// "Orvane" + "\" + "Quillon" + "\" + "Quillon.cfg" + terminator is 260.
TYPED_TEST(FileReadTest, PathThatDoesNotFit) {
  struct Case {
    std::size_t appDataLength;
    const char* firm;
    bool fits;
  };
  const std::string longFirm(300, 'F');
  const Case cases[] = {
      {232, "Orvane", true},
      {233, "Orvane", false},
      {259, "Orvane", false},
      {10, longFirm.c_str(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.appDataLength);
    typename TestFixture::Port shortPort;
    shortPort.appData = TestFixture::L(("C:\\" + std::string(c.appDataLength - 3, 'd')).c_str());
    typename TestFixture::Store shortStore(false, TestFixture::T(c.firm), TestFixture::T("Quillon"),
                                           shortPort);
    shortStore.SetFileName(TestFixture::T("Quillon.cfg"));
    auto value = TestFixture::T("keep");
    EXPECT_FALSE(shortStore.ReadValue(TestFixture::T("S"), TestFixture::T("K"), value));
    EXPECT_EQ(Show(value.GetText()), "");
    if (c.fits) {
      ASSERT_EQ(shortPort.readFiles.size(), 1u);
      EXPECT_EQ(shortPort.readFiles[0].size(), 259u);
      EXPECT_EQ(shortPort.created.size(), 2u);
    } else {
      EXPECT_TRUE(shortPort.readFiles.empty());
      EXPECT_TRUE(shortPort.created.empty()) << "no folder from a cut path";
    }
  }
}

// Each allocation of a read fails in turn: the narrow form ends the read as not found, the
// wide form lets std::bad_alloc through; neither ever yields a wrong text.
TYPED_TEST(FileReadTest, FailedAllocationAnywhereInARead) {
  const std::string stored = Counting(900);
  this->SetStored(TestFixture::L(stored.c_str()));
  for (int failAt = 1;; ++failAt) {
    SCOPED_TRACE(failAt);
    auto value = TestFixture::T("keep");
    const ReadUnderFailure read =
        ReadWithFailureAt(this->store, failAt, TestFixture::T("Options\\Windows\\Main"),
                          TestFixture::T("Handle"), value);
    if (read.calls < failAt) {  // the read needed fewer allocations: it ran untouched
      EXPECT_TRUE(read.found);
      EXPECT_EQ(Show(value.GetText()), stored);
      break;
    }
    EXPECT_EQ(read.thrown, TypeParam::kThrows);
    EXPECT_FALSE(read.found);
    const std::string shown = Show(value.GetText());
    EXPECT_TRUE(shown == "keep" || shown == "(absent)") << shown;
  }
}

// The narrow store whose file calls are wide: the per-user folder is named in letters no ANSI
// code page holds, and the path is measured in the file calls' characters.
TEST(NarrowStoreWithWideFile, FindsItsFileUnderAFolderTheCodePageCannotSpell) {
  using Store = CSettingsT<char, DefaultTextAlloc<char>, char16_t>;
  const std::u16string appData =
      u"C:\\users\\\u041f\u0440\u043e\u0444\u0438\u043b\u044c "
      u"\u4e2d\u6587\\Roaming";
  const std::u16string file = appData + u"\\Orvane\\Quillon\\QuillonFree.cfg";
  const std::u16string section = u"Options\\Windows\\Main";
  FakeSettingsPort<char, char16_t> port;
  port.appData = appData;
  Store store(false, "Orvane", "Quillon", port);
  store.SetBaseKey("");
  store.SetFileName("QuillonFree.cfg");

  // Every value an ANSI file holds comes back byte for byte; what no byte spells reads as "?".
  struct Case {
    std::u16string stored;
    std::string read;
  };
  const Case cases[] = {
      {u"123", "123"},
      {u"caf\u00e9 \u00ff\u0080", "caf\xe9 \xff\x80"},
      {u"\u4e2d", "?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.read);
    port.profile[{file, section, u"Handle"}] = c.stored;
    CTextA value("keep");
    EXPECT_TRUE(store.ReadValue("Options\\Windows\\Main", "Handle", value));
    EXPECT_EQ(std::string(value.GetText()), c.read);
  }
  EXPECT_EQ(port.created,
            (std::vector<std::u16string>{appData + u"\\Orvane\\", appData + u"\\Orvane\\Quillon"}))
      << "the folders under their real names";
  EXPECT_EQ(port.readFiles.back(), file);

  // 228 units of folder leave room for the rest, however many bytes its letters would take.
  port.appData = u"C:\\" + std::u16string(225, u'\u4e2d');
  port.readFiles.clear();
  CTextA value("keep");
  store.ReadValue("S", "K", value);
  ASSERT_EQ(port.readFiles.size(), 1u);
  EXPECT_EQ(port.readFiles[0].size(), 259u);
  port.appData += u'\u4e2d';
  port.readFiles.clear();
  EXPECT_FALSE(store.ReadValue("S", "K", value));
  EXPECT_TRUE(port.readFiles.empty()) << "a path of 261 units is not built";
}

}  // namespace
}  // namespace quillon::test
