// The settings store against the real system, in both character forms: a settings file in the
// per-user application-data folder and values below HKEY_CURRENT_USER. Everything is written
// below a firm name of this process's own and removed again at the end.
#include <shlobj.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "settings/win32_settings_port.h"
#include "test_forms.h"

namespace quillon::test {
namespace {

// Wine swallows access violations in some callbacks; this one sees them all the same.
LONG CALLBACK NoteAccessViolation(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
    ADD_FAILURE() << "access violation";
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

class AccessViolationWatch : public ::testing::Environment {
 public:
  void SetUp() override { handler_ = AddVectoredExceptionHandler(1, NoteAccessViolation); }
  void TearDown() override { RemoveVectoredExceptionHandler(handler_); }

 private:
  void* handler_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const kWatch =
    ::testing::AddGlobalTestEnvironment(new AccessViolationWatch);

const std::string& FirmName() {
  static const std::string name = "QuillonSettingsTest" + std::to_string(GetCurrentProcessId());
  return name;
}
const std::string kApp = "Quillon";
const std::string kSection = "Options\\Windows\\Main";

std::wstring Wide(const std::string& ascii) { return S<wchar_t>(ascii.c_str()); }

std::wstring AppDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
  return folder;
}
std::wstring FirmFolder() { return AppDataFolder() + L"\\" + Wide(FirmName()); }
std::wstring AppFolder() { return FirmFolder() + L"\\" + Wide(kApp); }
std::wstring SettingsFile() { return AppFolder() + L"\\Quillon.cfg"; }
std::wstring RegistryPath() {
  return L"Software\\" + Wide(FirmName()) + L"\\" + Wide(kApp) + L"\\" + Wide(kSection);
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void RemoveFiles() {
  DeleteFileW(SettingsFile().c_str());
  RemoveDirectoryW(AppFolder().c_str());
  RemoveDirectoryW(FirmFolder().c_str());
}

void WriteSettingsFile(const std::string& contents) {
  CreateDirectoryW(FirmFolder().c_str(), nullptr);
  CreateDirectoryW(AppFolder().c_str(), nullptr);
  const HANDLE file = CreateFileW(SettingsFile().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_TRUE(ok);
  ASSERT_EQ(written, contents.size());
}

std::string Counting(std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
  return text;
}

template <class Ch>
class Win32SettingsTest : public ::testing::Test {
 protected:
  using Store = Win32Settings<Ch>;
  using TextType = CTextT<Ch>;

  static TextType T(const std::string& ascii) { return TextType(S<Ch>(ascii.c_str()).c_str()); }

  // The text a read yields, unit by unit (raw registry bytes need not be printable).
  static std::vector<unsigned> Units(const Ch* text) {
    std::vector<unsigned> units;
    if (text == nullptr) return units;
    for (; *text != Ch(0); ++text) {
      units.push_back(static_cast<unsigned>(static_cast<std::make_unsigned_t<Ch>>(*text)));
    }
    return units;
  }

  static Store MakeStore(bool useRegistry) {
    return Store(useRegistry, T(FirmName()), T(kApp), Win32SettingsPort<Ch>());
  }

  void TearDown() override {
    RemoveFiles();
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\" + Wide(FirmName())).c_str());
  }
};

using Chars = ::testing::Types<char, wchar_t>;
TYPED_TEST_SUITE(Win32SettingsTest, Chars);

TYPED_TEST(Win32SettingsTest, SettingsFile) {
  const std::string longValue = Counting(2000);
  const std::string fullFirstBuffer = Counting(767);
  WriteSettingsFile("[Software\\" + FirmName() + "\\Quillon\\Options\\Windows\\Main]\r\n" +
                    "Handle=12345\r\n" + "Empty=\r\n" + "Long=" + longValue + "\r\n" +
                    "Exact=" + fullFirstBuffer + "\r\n");
  auto store = TestFixture::MakeStore(false);
  store.SetFileName(TestFixture::T("Quillon.cfg"));
  const auto section = TestFixture::T(kSection);
  struct Case {
    const char* key;
    bool found;
    std::string value;
  };
  const Case cases[] = {
      {"Handle", true, "12345"},        {"Empty", false, ""},
      {"Missing", false, ""},           {"Long", true, longValue},
      {"Exact", true, fullFirstBuffer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    auto value = TestFixture::T("keep");
    EXPECT_EQ(store.ReadValue(section, TestFixture::T(c.key), value), c.found);
    EXPECT_EQ(Show(value.GetText()), c.value);
  }
}

TYPED_TEST(Win32SettingsTest, FoldersAreCreatedWhenMissing) {
  RemoveFiles();
  ASSERT_FALSE(FolderExists(FirmFolder()));
  auto store = TestFixture::MakeStore(false);
  store.SetFileName(TestFixture::T("Quillon.cfg"));
  auto value = TestFixture::T("keep");
  EXPECT_FALSE(store.ReadValue(TestFixture::T(kSection), TestFixture::T("Handle"), value));
  EXPECT_EQ(Show(value.GetText()), "");
  EXPECT_TRUE(FolderExists(FirmFolder()));
  EXPECT_TRUE(FolderExists(AppFolder()));
  EXPECT_EQ(GetFileAttributesW(SettingsFile().c_str()), INVALID_FILE_ATTRIBUTES)
      << "the file itself is never created";
}

TYPED_TEST(Win32SettingsTest, Registry) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, RegistryPath().c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const auto set = [key](const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
  };
  const wchar_t text[] = L"4242";
  set(L"Text", REG_SZ, text, sizeof text);
  const DWORD number = 0x00420041;  // bytes 41 00 42 00
  set(L"Number", REG_DWORD, &number, sizeof number);
  const unsigned char bytes[] = {0x61, 0x62, 0x63, 0x64, 0x65};  // odd size, no zero
  set(L"Bytes", REG_BINARY, bytes, sizeof bytes);
  set(L"Empty", REG_SZ, L"", 0);
  RegCloseKey(key);

  const bool wide = sizeof(TypeParam) == 2;
  struct Case {
    const char* name;
    bool found;
    std::vector<unsigned> units;  // of the value after the read; "keep" when not found
  };
  const std::vector<unsigned> keep = {'k', 'e', 'e', 'p'};
  const Case cases[] = {
      {"Text", true, {'4', '2', '4', '2'}},
      {"Number", true, wide ? std::vector<unsigned>{0x41, 0x42} : std::vector<unsigned>{0x41}},
      {"Bytes", true,
       wide ? std::vector<unsigned>{0x6261, 0x6463, 0x0065}
            : std::vector<unsigned>{0x61, 0x62, 0x63, 0x64, 0x65}},
      {"Empty", false, keep},
      {"Missing", false, keep},
  };
  auto store = TestFixture::MakeStore(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = TestFixture::T("keep");
    EXPECT_EQ(store.ReadValue(TestFixture::T(kSection), TestFixture::T(c.name), value), c.found);
    EXPECT_EQ(TestFixture::Units(value.GetText()), c.units);
  }

  auto value = TestFixture::T("keep");
  EXPECT_FALSE(store.ReadValue(TestFixture::T("No\\Such\\Section"), TestFixture::T("Text"), value));
  EXPECT_EQ(Show(value.GetText()), "keep");
}

// The hook library keeps its store in a global of the DLL: the port must be usable while the
// globals are being constructed, whatever their order.
Win32Settings<char> g_globalStore(false, FirmName().c_str(), "Quillon", Win32SettingsPort<char>());

TEST(Win32SettingsGlobal, StoreBuiltDuringStaticInitialisationReads) {
  g_globalStore.SetFileName("Quillon.cfg");
  WriteSettingsFile("[Software\\" + FirmName() + "\\Quillon\\S]\r\nK=9\r\n");
  CTextA value("keep");
  EXPECT_TRUE(g_globalStore.ReadValue("S", "K", value));
  EXPECT_STREQ(value.GetText(), "9");
  RemoveFiles();
}

}  // namespace
}  // namespace quillon::test
