// Replacing the installed library, against an in-memory file system that holds files the way
// Windows holds a mapped image (renamed freely, never deleted) and fails any step on demand:
// every failure leaves either the old or the new file at the installed path, or says where the
// old one lies, and the clean-up deletes exactly the aside copies nobody holds.
#include "host/client/library_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/host/fake_files.h"
#include "tests/host/fake_pe_image.h"

namespace quillon {
namespace {

using test::Entry;
using test::FakeFiles;
using test::kAccessDenied;
using test::kFileExists;
using test::StartsWith;

constexpr std::uint32_t kSharingViolation = 32;
constexpr std::uint32_t kDiskFull = 112;

const std::wstring kFolder = L"C:\\app\\";
const std::wstring kInstalled = kFolder + L"Tallyhook.dll";
const std::wstring kNewFile = L"D:\\update\\Tallyhook.dll";

std::wstring AsideName(std::uint64_t number) {
  wchar_t digits[17];
  std::swprintf(digits, 17, L"%016llx", static_cast<unsigned long long>(number));
  return kInstalled + L".old-" + digits;
}

FakeFiles::Fault FailWhen(std::function<bool(const std::wstring&, const std::wstring&)> when,
                          FileResult result) {
  return [when, result](const std::wstring& from,
                        const std::wstring& to) -> std::optional<FileResult> {
    if (when(from, to)) return result;
    return std::nullopt;
  };
}

bool IsStagingName(const std::wstring& path) { return StartsWith(path, kInstalled + L".new-"); }

TEST(LibraryUpdate, EveryStepThatFailsLeavesALibraryInPlaceOrSaysWhereItIs) {
  struct Case {
    const char* name;
    std::function<void(FakeFiles&)> arrange;
    UpdateStatus status;
    std::uint32_t system_error;
    std::optional<std::string> installed;  // content at the installed path afterwards
    bool old_aside;                        // the old file lies aside afterwards (and is named)
    std::wstring new_file = kNewFile;      // what the call is given as the new file
  };
  // The rollback after kRestoreFailed: ReplaceInstalledFile(update.aside, installed), here with
  // the name spelt in other case.
  const std::wstring rollback = AsideName(0x42);
  std::wstring rollback_spelt = rollback;
  std::transform(
      rollback_spelt.begin(), rollback_spelt.end(), rollback_spelt.begin(),
      [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; });
  const auto hold_old = [](FakeFiles& f) { f.files[kInstalled].held = true; };
  const Case cases[] = {
      {"nobody holds the old file: it is deleted at once", [](FakeFiles&) {},
       UpdateStatus::kReplaced, 0, "new", false},
      {"a process maps the old file: it stays aside", hold_old, UpdateStatus::kReplaced, 0, "new",
       true},
      {"nothing installed yet", [](FakeFiles& f) { f.files.erase(kInstalled); },
       UpdateStatus::kReplaced, 0, "new", false},
      {"the installed file vanishes before its rename",
       [](FakeFiles& f) {
         f.rename_fault = [&f](auto& from, auto&) -> std::optional<FileResult> {
           if (from != kInstalled) return std::nullopt;
           f.files.erase(kInstalled);  // by someone else, just before
           return FileResult{FileOutcome::kNotFound, 2};
         };
       },
       UpdateStatus::kReplaced, 0, "new", false},
      {"the new file is missing", [](FakeFiles& f) { f.files.erase(kNewFile); },
       UpdateStatus::kNewFileMissing, 0, "old", false},
      {"the new file is a folder", [](FakeFiles& f) { f.files[kNewFile].folder = true; },
       UpdateStatus::kNewFileMissing, 0, "old", false},
      {"a folder at the installed path", [](FakeFiles& f) { f.files[kInstalled].folder = true; },
       UpdateStatus::kInstalledNotAFile, 0, "old", false},
      {"the staging copy fails (disk full)",
       [](FakeFiles& f) {
         f.copy_fault =
             FailWhen([](auto&, auto&) { return true; }, {FileOutcome::kFailed, kDiskFull});
       },
       UpdateStatus::kStagingFailed, kDiskFull, "old", false},
      {"every staging name is taken",
       [](FakeFiles& f) {
         f.copy_fault =
             FailWhen([](auto&, auto&) { return true; }, {FileOutcome::kExists, kFileExists});
       },
       UpdateStatus::kStagingFailed, kFileExists, "old", false},
      {"the installed file cannot be renamed aside (opened without share-delete)",
       [](FakeFiles& f) {
         f.rename_fault = FailWhen([](auto& from, auto&) { return from == kInstalled; },
                                   {FileOutcome::kFailed, kSharingViolation});
       },
       UpdateStatus::kMoveAsideFailed, kSharingViolation, "old", false},
      {"the staged copy cannot be renamed in: the old one goes back",
       [hold_old](FakeFiles& f) {
         hold_old(f);
         f.rename_fault = FailWhen([](auto& from, auto&) { return IsStagingName(from); },
                                   {FileOutcome::kFailed, kAccessDenied});
       },
       UpdateStatus::kPutInPlaceFailed, kAccessDenied, "old", false},
      {"first install, and the staged copy cannot be renamed in",
       [](FakeFiles& f) {
         f.files.erase(kInstalled);
         f.rename_fault = FailWhen([](auto& from, auto&) { return IsStagingName(from); },
                                   {FileOutcome::kFailed, kAccessDenied});
       },
       UpdateStatus::kPutInPlaceFailed, kAccessDenied, std::nullopt, false},
      {"neither the new file nor the old one can be renamed in",
       [](FakeFiles& f) {
         f.rename_fault =
             FailWhen([](auto& from, auto& to) { return to == kInstalled && from != kInstalled; },
                      {FileOutcome::kFailed, kSharingViolation});
       },
       UpdateStatus::kRestoreFailed, kSharingViolation, std::nullopt, true},
      {"the new file is an aside copy (a rollback): it stays",
       [&rollback](FakeFiles& f) {
         f.files.erase(kNewFile);
         f.files[rollback] = Entry{"new"};
       },
       UpdateStatus::kReplaced, 0, "new", false, rollback_spelt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFiles f;
    f.files[kInstalled] = Entry{"old"};
    f.files[kNewFile] = Entry{"new"};
    c.arrange(f);
    const std::size_t files_before = f.files.size();
    const std::optional<std::string> new_before = f.Content(c.new_file);

    const LibraryUpdate update = ReplaceInstalledFile(f, c.new_file, kInstalled);
    EXPECT_EQ(update.status, c.status) << Describe(update.status);
    EXPECT_EQ(update.system_error, c.system_error);
    EXPECT_EQ(f.Content(kInstalled), c.installed);
    EXPECT_EQ(f.Content(c.new_file), new_before) << "the new file is left as given";
    EXPECT_TRUE(f.Named(kInstalled, L".new-").empty()) << "no staging copy is left behind";
    std::vector<std::wstring> aside = f.Named(kInstalled, L".old-");
    std::erase_if(aside, [&](const std::wstring& path) {
      return !test::FoldedLess{}(path, c.new_file) && !test::FoldedLess{}(c.new_file, path);
    });
    if (c.old_aside) {
      ASSERT_EQ(aside.size(), 1u);
      EXPECT_EQ(f.Content(aside[0]), "old");
      EXPECT_EQ(update.aside, aside[0]);
    } else {
      EXPECT_TRUE(aside.empty());
      EXPECT_TRUE(update.aside.empty());
    }
    if (c.status == UpdateStatus::kReplaced) {
      EXPECT_EQ(update.aside_copies_left, aside.size());
    } else if (c.status != UpdateStatus::kRestoreFailed) {
      EXPECT_EQ(f.files.size(), files_before) << "a failure changes nothing else";
    }
  }
}

TEST(LibraryUpdate, RefusesPathsWithoutAFolderOrAName) {
  for (const wchar_t* installed : {L"Tallyhook.dll", L"C:\\app\\", L""}) {
    FakeFiles f;
    f.files[kNewFile] = Entry{"new"};
    EXPECT_EQ(ReplaceInstalledFile(f, kNewFile, installed).status, UpdateStatus::kBadPath);
    EXPECT_EQ(f.files.size(), 1u);
  }
}

TEST(LibraryUpdate, TakenNamesAreSkippedAndLeftAlone) {
  FakeFiles f;
  f.files[kInstalled] = Entry{"old"};
  f.files[kNewFile] = Entry{"new"};
  wchar_t digits[17];
  std::swprintf(digits, 17, L"%016llx", static_cast<unsigned long long>(f.next_number));
  const std::wstring staging_taken = kInstalled + L".new-" + digits;
  const std::wstring aside_taken = AsideName(f.next_number + 2);  // a held copy of an earlier run
  f.files[staging_taken] = Entry{"another update's"};
  f.files[aside_taken] = Entry{"older", true};
  f.files[kInstalled].held = true;

  const LibraryUpdate update = ReplaceInstalledFile(f, kNewFile, kInstalled);
  EXPECT_EQ(update.status, UpdateStatus::kReplaced);
  EXPECT_EQ(f.Content(kInstalled), "new");
  EXPECT_EQ(f.Content(staging_taken), "another update's");
  EXPECT_EQ(f.Content(aside_taken), "older");
  EXPECT_EQ(update.aside, AsideName(f.next_number - 1));
  EXPECT_EQ(f.Content(update.aside), "old");
  EXPECT_EQ(update.aside_copies_left, 2u);
}

TEST(LibraryUpdate, ReplacingAFileWithItselfKeepsIt) {
  FakeFiles f;
  f.files[kInstalled] = Entry{"same"};
  const LibraryUpdate update = ReplaceInstalledFile(f, kInstalled, kInstalled);
  EXPECT_EQ(update.status, UpdateStatus::kReplaced);
  EXPECT_EQ(f.Content(kInstalled), "same");
  EXPECT_EQ(f.files.size(), 1u);
}

TEST(LibraryUpdate, SaysWhenThisProcessStillHasTheOldLibraryLoaded) {
  for (const bool loaded : {false, true}) {
    FakeFiles f;
    f.files[kInstalled] = Entry{"old"};
    f.files[kNewFile] = Entry{"new"};
    if (loaded) f.loaded.push_back(kInstalled);
    EXPECT_EQ(ReplaceInstalledFile(f, kNewFile, kInstalled).loaded_here, loaded);
  }
}

TEST(LibraryUpdate, AHeldAsideCopyIsRemovedByALaterCallOnceFree) {
  FakeFiles f;
  f.files[kInstalled] = Entry{"1", true};
  f.files[kNewFile] = Entry{"2"};
  const LibraryUpdate first = ReplaceInstalledFile(f, kNewFile, kInstalled);
  ASSERT_EQ(first.status, UpdateStatus::kReplaced);
  EXPECT_EQ(first.aside_copies_left, 1u);

  const AsideCleanup still_held = RemoveAsideCopies(f, kInstalled);
  EXPECT_EQ(still_held.removed, 0u);
  EXPECT_EQ(still_held.left, 1u);

  // The next update, while the first aside copy is still held and the second one is not.
  f.files[kNewFile].content = "3";
  const LibraryUpdate second = ReplaceInstalledFile(f, kNewFile, kInstalled);
  ASSERT_EQ(second.status, UpdateStatus::kReplaced);
  EXPECT_TRUE(second.aside.empty());
  EXPECT_EQ(second.aside_copies_left, 1u);
  EXPECT_EQ(f.Content(first.aside), "1");

  f.files[first.aside].held = false;  // the last program holding it ended
  const AsideCleanup freed = RemoveAsideCopies(f, kInstalled);
  EXPECT_EQ(freed.removed, 1u);
  EXPECT_EQ(freed.left, 0u);
  EXPECT_TRUE(f.Named(kInstalled, L".old-").empty());
  EXPECT_EQ(f.Content(kInstalled), "3");
}

TEST(LibraryUpdate, CleanUpDeletesOnlyAsideCopiesAndNeverTheLastCopy) {
  FakeFiles f;
  f.files[kInstalled] = Entry{"current"};
  const std::wstring removable[] = {kInstalled + L".old-0123456789abcdef",
                                    kFolder + L"TALLYHOOK.DLL.OLD-0123456789ABCDEE"};
  const std::wstring held = kInstalled + L".old-00000000000000ff";
  const std::wstring kept[] = {
      kInstalled + L".old",
      kInstalled + L".old-0123456789abcde",    // 15 digits
      kInstalled + L".old-0123456789abcdef0",  // 17 digits
      kInstalled + L".old-0123456789abcdeg",
      kInstalled + L".old-0123456789abcdef.txt",
      kInstalled + L".new-0123456789abcdef",
      kFolder + L"Other.dll.old-0123456789abcdef",
      kFolder + L"xTallyhook.dll.old-0123456789abcdef",
      kFolder + L"sub\\Tallyhook.dll.old-0123456789abcdef",
  };
  for (const auto& path : removable) f.files[path] = Entry{"aside"};
  for (const auto& path : kept) f.files[path] = Entry{"not ours"};
  f.files[held] = Entry{"aside", true};

  const AsideCleanup cleanup = RemoveAsideCopies(f, kInstalled);
  EXPECT_EQ(cleanup.removed, 2u);
  EXPECT_EQ(cleanup.left, 1u);
  for (const auto& path : removable) EXPECT_FALSE(f.Content(path)) << "removed";
  for (const auto& path : kept) EXPECT_TRUE(f.Content(path)) << "kept";
  EXPECT_TRUE(f.Content(held));

  // With nothing installed, an aside copy may be the only library left: none is deleted.
  f.files.erase(kInstalled);
  f.files[removable[0]] = Entry{"aside"};
  const AsideCleanup uninstalled = RemoveAsideCopies(f, kInstalled);
  EXPECT_EQ(uninstalled.removed, 0u);
  EXPECT_EQ(uninstalled.left, 2u);
  EXPECT_TRUE(f.Content(removable[0]));
}

// A library with these exports, as the content of a fake file.
std::string Library(const std::vector<test::FakeExport>& exports) {
  const std::vector<unsigned char> image = test::FakePeImage(exports);
  return std::string(image.begin(), image.end());
}
std::string LibraryWithHookProcAt(std::uint32_t rva) {
  return Library({{"TimerProc", 0x1100}, {"HookProc", rva}});
}

// Installing the hook again is safe unless an old copy still held has HookProc elsewhere (or
// nothing shows that it has not); the free copies go first and count for nothing.
TEST(LibraryUpdate, OldCopiesHeldWithHookProcElsewhereMakeTheHookWait) {
  const std::string here = LibraryWithHookProcAt(0x16B6);
  const std::string same = LibraryWithHookProcAt(0x16B6);
  const std::string moved = LibraryWithHookProcAt(0x1702);
  struct Copy {
    std::string content;
    bool held;
    bool unreadable;
  };
  struct Case {
    const char* name;
    std::optional<std::string> installed;  // nothing: no file at the installed path
    std::vector<Copy> copies;
    std::size_t held, hook_proc_moved;
  };
  const Case cases[] = {
      {"no aside copy", here, {}, 0, 0},
      {"a free copy with HookProc elsewhere is deleted first", here, {{moved, false, false}}, 0, 0},
      {"a held copy with HookProc at the same offset", here, {{same, true, false}}, 1, 0},
      {"a held copy with HookProc elsewhere", here, {{moved, true, false}}, 1, 1},
      {"one held copy of each", here, {{same, true, false}, {moved, true, false}}, 2, 1},
      {"a held copy that is no library", here, {{"not a library", true, false}}, 1, 1},
      {"a held copy that cannot be read", here, {{same, true, true}}, 1, 1},
      {"a held copy without HookProc",
       here,
       {{Library({{"TimerProc", 0x16B6}}), true, false}},
       1,
       1},
      {"an installed file that is no library",
       std::string("not a library"),
       {{same, true, false}},
       1,
       1},
      {"nothing installed: nothing to install from, loading says so",
       std::nullopt,
       {{moved, false, false}},
       1,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFiles f;
    if (c.installed) f.files[kInstalled] = Entry{*c.installed};
    for (std::size_t i = 0; i < c.copies.size(); ++i) {
      Entry entry{c.copies[i].content, c.copies[i].held};
      entry.unreadable = c.copies[i].unreadable;
      f.files[AsideName(0x100 + i)] = entry;
    }
    f.files[kFolder + L"Other.dll.old-0000000000000001"] = Entry{moved, true};  // not ours
    const OldCopyCheck check = CheckOldCopies(f, kInstalled, "HookProc");
    EXPECT_EQ(check.held, c.held);
    EXPECT_EQ(check.hook_proc_moved, c.hook_proc_moved);
    EXPECT_EQ(check.SafeToInstall(), c.hook_proc_moved == 0);
    EXPECT_EQ(f.Named(kInstalled, L".old-").size(), c.held)
        << "exactly the free copies were deleted";
  }
}

}  // namespace
}  // namespace quillon
