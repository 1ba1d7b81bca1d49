// The diagnosis's decisions against a fake desktop: with everything in place every link is ok
// and the verdict is "working"; each broken link of the table is named by its own entry, which
// is the first one not ok, and says what to do. Nothing is changed on the way.
#include "host/client/diagnosis_port.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "tests/host/fake_files.h"
#include "tests/host/fake_pe_image.h"

namespace quillon {
namespace {

constexpr std::uint32_t kHostProcess = 10;
constexpr std::uint32_t kAssistantProcess = 20;
constexpr HookRef kHook = 0xB00C;
const std::wstring kAppData = L"C:\\users\\u\\AppData\\Roaming";
const std::wstring kSettings = kAppData + L"\\Orvane\\Quillon\\";
const std::wstring kInstallFolder = L"C:\\Program Files\\Quillon\\";
const std::wstring kLibrary = kInstallFolder + L"Tallyhook.dll";

std::wstring Widen(const char* text) {
  return std::wstring(text, text + std::char_traits<char>::length(text));
}

struct FakeWindow {
  FakeWindow() = default;
  FakeWindow(std::wstring cls, std::wstring text, WindowId parent_window = 0,
             std::uint32_t process = kHostProcess, bool shown = true)
      : window_class(std::move(cls)),
        title(std::move(text)),
        parent(parent_window),
        process_id(process),
        visible(shown) {}

  std::wstring window_class;
  std::wstring title;
  WindowId parent = 0;
  std::uint32_t process_id = kHostProcess;
  bool visible = true;
  std::map<std::string, HookRef> properties;
};

std::string LibraryImage(std::uint32_t hook_proc_rva) {
  const std::vector<unsigned char> image = test::FakePeImage({{"HookProc", hook_proc_rva}});
  return std::string(image.begin(), image.end());
}

class FakeDesktop final : public DiagnosisPort {
 public:
  std::map<WindowId, FakeWindow> windows;  // window order is the order of the ids
  std::optional<std::wstring> wide_folder = kAppData, ansi_folder = kAppData;
  std::map<std::wstring, std::wstring> settings;  // path -> "Handle"
  std::map<std::uint32_t, ProcessListing> processes;
  InstanceClaim claim;
  RoundTrip trip;
  test::FakeFiles files;

  WindowId Add(FakeWindow window) {
    const WindowId id = next_id_;
    next_id_ += 0x10;
    windows[id] = std::move(window);
    return id;
  }

  WindowId FindTopLevel(const char* window_class, WindowId after) override {
    for (auto found = windows.upper_bound(after); found != windows.end(); ++found) {
      if (found->second.parent == 0 && found->second.window_class == Widen(window_class)) {
        return found->first;
      }
    }
    return 0;
  }
  WindowId FindChild(WindowId parent, const char* window_class, const char* title) override {
    for (const auto& [id, window] : windows) {
      if (window.parent == parent && window.window_class == Widen(window_class) &&
          (title == nullptr || window.title == Widen(title))) {
        return id;
      }
    }
    return 0;
  }
  bool IsVisible(WindowId window) override {
    return windows.count(window) != 0 && windows[window].visible;
  }
  HookRef GetProperty(WindowId window, const char* name) override {
    if (windows.count(window) == 0) return 0;
    const auto found = windows[window].properties.find(name);
    return found == windows[window].properties.end() ? 0 : found->second;
  }

  std::optional<std::wstring> AppDataFolder(Spelling spelling) override {
    return spelling == Spelling::kWide ? wide_folder : ansi_folder;
  }
  bool FileExists(const std::wstring& path, Spelling) override { return settings.count(path) != 0; }
  std::wstring ReadLivenessValue(const std::wstring& path, Spelling) override {
    return settings.count(path) != 0 ? settings[path] : std::wstring();
  }

  WindowFacts DescribeWindow(WindowId window) override {
    WindowFacts facts;
    const auto found = windows.find(window);
    if (found == windows.end()) return facts;
    facts.exists = true;
    facts.visible = found->second.visible;
    facts.process_id = found->second.process_id;
    facts.class_name = found->second.window_class;
    facts.title = found->second.title;
    return facts;
  }
  std::vector<WindowId> Children(WindowId parent) override {
    std::vector<WindowId> children;
    for (const auto& [id, window] : windows) {
      if (window.parent == parent) children.push_back(id);
    }
    return children;
  }
  ProcessListing DescribeProcess(std::uint32_t process_id) override {
    return processes.count(process_id) != 0 ? processes[process_id] : ProcessListing{};
  }
  std::uint32_t OwnProcessId() override { return kHostProcess; }
  InstanceClaim QueryInstanceClaim() override { return claim; }
  RoundTrip GetPathRoundTrip() override {
    ++round_trips;
    return trip;
  }
  FilePort& Files() override { return files; }
  std::optional<std::wstring> FileVersion(const std::wstring& path) override {
    if (files.Inspect(path) != FileKind::kFile) return std::nullopt;
    return library_version;
  }
  std::optional<std::wstring> library_version = L"1.2.0.0";

  int round_trips = 0;

 private:
  WindowId next_id_ = 0x100;
};

// A host (process 10) with its chain, dialog, hook and settings; its Sidecar64 (process 20)
// answers; its folder holds the library.
struct Desktop {
  FakeDesktop port;
  WindowId main = 0, tray = 0, rebar = 0, task_switch = 0, dialog = 0, receive = 0;

  Desktop() {
    main = port.Add({L"QuillonMain", L"Quillon"});
    tray = port.Add({L"Shell_TrayWnd", L""});
    rebar = port.Add({L"ReBarWindow32", L"", tray});
    task_switch = port.Add({L"MSTaskSwWClass", L"", rebar});
    dialog = port.Add({L"#32770", L"Quillon", task_switch});
    port.windows[dialog].properties["WDIcon_hook"] = kHook;
    receive = port.Add({L"OVQL_Recv64Wnd", L"", 0, kAssistantProcess, false});
    WriteHandle(std::to_wstring(main));
    port.processes[kHostProcess] = {true, L"host.exe", 1, StarterState::kAlive};
    port.processes[kAssistantProcess] = {true, L"Sidecar64.exe", kHostProcess,
                                         StarterState::kAlive};
    port.claim = {true, true, kHostProcess, main, ""};
    port.trip = {RequestStatus::kResolved, L"C:\\Program Files\\Quillon\\host.exe",
                 L"C:\\program files\\quillon\\HOST.exe", 12};
    port.files.files[kLibrary] = test::Entry{LibraryImage(0x1234)};
  }

  void WriteHandle(const std::wstring& text) {
    port.settings[kSettings + L"QuillonFree.cfg"] = text;
    port.settings[kSettings + L"Quillon.cfg"] = text;
  }

  // The per-user folder renamed to letters the ANSI code page lacks, the files moved with it.
  void UnspellableFolder() {
    port.wide_folder = L"C:\\users\\\x041f\x0440\\AppData\\Roaming";
    port.ansi_folder = L"C:\\users\\??\\AppData\\Roaming";
    port.settings.clear();
    const std::wstring settings = *port.wide_folder + L"\\Orvane\\Quillon\\";
    port.settings[settings + L"QuillonFree.cfg"] = std::to_wstring(main);
    port.settings[settings + L"Quillon.cfg"] = std::to_wstring(main);
  }

  DiagnoseOptions AsHost() const {
    DiagnoseOptions options;
    options.install_folder = kInstallFolder;
    options.host_window = main;
    options.own_hook = kHook;
    return options;
  }
};

TEST(Diagnosis, EverythingInPlaceIsWorking) {
  for (const bool as_host : {true, false}) {
    SCOPED_TRACE(as_host ? "asked by the host" : "asked from outside");
    Desktop desktop;
    DiagnoseOptions options = desktop.AsHost();
    if (!as_host) options.host_window = options.own_hook = 0;
    const Diagnosis diagnosis = Diagnose(desktop.port, options);
    for (const DiagnosisEntry& entry : diagnosis.entries) {
      EXPECT_EQ(entry.state, LinkState::kOk) << FormatText(diagnosis);
      EXPECT_TRUE(entry.remedy.empty()) << entry.link;
    }
    EXPECT_TRUE(diagnosis.Working());
    EXPECT_EQ(Verdict(diagnosis), "icon tracking: working");
    for (const char* link :
         {"Settings", "Other instances", "Shell chain", "Sidecar64", "Library"}) {
      EXPECT_NE(diagnosis.Find(link), nullptr) << link;
    }
  }
}

TEST(Diagnosis, EachBrokenLinkIsNamedByItsEntry) {
  struct Case {
    const char* name;
    std::function<void(Desktop&, DiagnoseOptions&)> spoil;
    const char* link;
  };
  const Case cases[] = {
      {"no settings files", [](Desktop& d, DiagnoseOptions&) { d.port.settings.clear(); },
       "Settings"},
      {"only Sidecar64's file",
       [](Desktop& d, DiagnoseOptions&) { d.port.settings.erase(kSettings + L"QuillonFree.cfg"); },
       "Settings"},
      {"\"Handle\" empty", [](Desktop& d, DiagnoseOptions&) { d.WriteHandle(L""); }, "Settings"},
      {"\"Handle\" naming a dead window",
       [](Desktop& d, DiagnoseOptions&) { d.WriteHandle(L"4660"); }, "Settings"},
      {"\"Handle\" naming another instance's window",
       [](Desktop& d, DiagnoseOptions&) {
         d.WriteHandle(std::to_wstring(d.port.Add({L"QuillonMain", L"Quillon", 0, 30})));
       },
       "Settings"},
      {"a folder the ANSI code page cannot spell, with a library before 1.2.0",
       [](Desktop& d, DiagnoseOptions&) {
         d.UnspellableFolder();
         d.port.library_version = L"1.1.0.0";
       },
       "Settings"},
      {"a second host's dialog",
       [](Desktop& d, DiagnoseOptions&) {
         d.port.Add({L"#32770", L"Quillon", d.task_switch, 30});
       },
       "Other instances"},
      {"the claim held by another process",
       [](Desktop& d, DiagnoseOptions&) { d.port.claim.holder_process_id = 30; },
       "Other instances"},
      {"no visible tray",
       [](Desktop& d, DiagnoseOptions&) { d.port.windows[d.tray].visible = false; }, "Shell chain"},
      {"a dialog nested one level too deep",
       [](Desktop& d, DiagnoseOptions&) {
         const WindowId pane = d.port.Add({L"ToolbarWindow32", L"", d.task_switch});
         d.port.windows[d.dialog].parent = pane;
       },
       "Shell chain"},
      {"a dialog without the property",
       [](Desktop& d, DiagnoseOptions&) { d.port.windows[d.dialog].properties.clear(); },
       "Shell chain"},
      {"the property holding another hook than the host's",
       [](Desktop& d, DiagnoseOptions&) { d.port.windows[d.dialog].properties["WDIcon_hook"] = 7; },
       "Shell chain"},
      {"the host holding no hook while the property holds one",
       [](Desktop&, DiagnoseOptions& options) { options.own_hook = 0; }, "Shell chain"},
      {"no Sidecar64", [](Desktop& d, DiagnoseOptions&) { d.port.windows.erase(d.receive); },
       "Sidecar64"},
      {"two receive windows",
       [](Desktop& d, DiagnoseOptions&) {
         d.port.Add({L"OVQL_Recv64Wnd", L"", 0, 21, false});
         d.port.processes[21] = {true, L"Sidecar64.exe", kHostProcess, StarterState::kAlive};
       },
       "Sidecar64"},
      {"a Sidecar64 whose starter is gone",
       [](Desktop& d, DiagnoseOptions&) {
         d.port.processes[kAssistantProcess].starter = StarterState::kGone;
       },
       "Sidecar64"},
      {"GetPath timing out",
       [](Desktop& d, DiagnoseOptions&) { d.port.trip.status = RequestStatus::kTimedOut; },
       "Sidecar64"},
      {"GetPath giving another path",
       [](Desktop& d, DiagnoseOptions&) { d.port.trip.path = L"C:\\other.exe"; }, "Sidecar64"},
      {"no library in the folder", [](Desktop& d, DiagnoseOptions&) { d.port.files.files.clear(); },
       "Library"},
      {"a library without HookProc",
       [](Desktop& d, DiagnoseOptions&) { d.port.files.files[kLibrary].content = "MZ"; },
       "Library"},
      {"an aside copy with HookProc elsewhere",
       [](Desktop& d, DiagnoseOptions&) {
         d.port.files.files[kLibrary + L".old-0000000000000001"] =
             test::Entry{LibraryImage(0x2000)};
       },
       "Library"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Desktop desktop;
    DiagnoseOptions options = desktop.AsHost();
    c.spoil(desktop, options);
    const Diagnosis diagnosis = Diagnose(desktop.port, options);
    const DiagnosisEntry* first = diagnosis.FirstNotOk();
    ASSERT_NE(first, nullptr) << FormatText(diagnosis);
    EXPECT_EQ(first->link, c.link) << FormatText(diagnosis);
    EXPECT_EQ(first->state, LinkState::kBroken);
    EXPECT_FALSE(first->summary.empty());
    EXPECT_FALSE(first->remedy.empty());
    EXPECT_FALSE(diagnosis.Working());
    EXPECT_EQ(Verdict(diagnosis).rfind("icon tracking: not working: " + std::string(c.link), 0), 0u)
        << Verdict(diagnosis);
  }
}

// Whether a folder the ANSI code page cannot spell breaks the settings link depends on the
// library that would read the file: before 1.2.0 it spelt the path with the ANSI calls, since
// then it reads the wide path; without a readable version nobody can say.
TEST(Diagnosis, AnUnspellableFolderIsJudgedByTheLibrarysVersion) {
  struct Case {
    const char* name;
    std::function<void(Desktop&, DiagnoseOptions&)> library;
    LinkState settings;
  };
  const Case cases[] = {
      {"1.2.0", [](Desktop&, DiagnoseOptions&) {}, LinkState::kOk},
      {"1.10.0", [](Desktop& d, DiagnoseOptions&) { d.port.library_version = L"1.10.0.0"; },
       LinkState::kOk},
      {"2.0.0", [](Desktop& d, DiagnoseOptions&) { d.port.library_version = L"2.0.0.0"; },
       LinkState::kOk},
      {"1.1.0", [](Desktop& d, DiagnoseOptions&) { d.port.library_version = L"1.1.0.0"; },
       LinkState::kBroken},
      {"1.1.9", [](Desktop& d, DiagnoseOptions&) { d.port.library_version = L"1.1.9.0"; },
       LinkState::kBroken},
      {"0.9.0", [](Desktop& d, DiagnoseOptions&) { d.port.library_version = L"0.9.0.0"; },
       LinkState::kBroken},
      {"no version resource",
       [](Desktop& d, DiagnoseOptions&) { d.port.library_version = std::nullopt; },
       LinkState::kUnknown},
      {"a version that is no number",
       [](Desktop& d, DiagnoseOptions&) { d.port.library_version = L"1.x.0.0"; },
       LinkState::kUnknown},
      {"no library in the folder", [](Desktop& d, DiagnoseOptions&) { d.port.files.files.clear(); },
       LinkState::kUnknown},
      {"no install folder given",
       [](Desktop&, DiagnoseOptions& options) { options.install_folder.clear(); },
       LinkState::kUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Desktop desktop;
    DiagnoseOptions options = desktop.AsHost();
    desktop.UnspellableFolder();
    c.library(desktop, options);
    const Diagnosis diagnosis = Diagnose(desktop.port, options);
    const DiagnosisEntry* settings = diagnosis.Find("Settings");
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->state, c.settings) << FormatText(diagnosis);
    if (c.settings == LinkState::kOk) {
      // Beyond the listing of both spellings, a fact says that this library reads the wide path.
      bool told = false;
      for (const std::string& fact : settings->facts) {
        told = told ||
               (fact.find("??") != std::string::npos && fact.find("wide") != std::string::npos);
      }
      EXPECT_TRUE(told) << FormatText(diagnosis);
      EXPECT_TRUE(settings->remedy.empty());
      EXPECT_TRUE(diagnosis.Working()) << FormatText(diagnosis);
    } else {
      EXPECT_FALSE(settings->summary.empty());
      EXPECT_FALSE(settings->remedy.empty());
    }
    if (c.settings == LinkState::kUnknown) {
      EXPECT_NE(settings->summary.find("version"), std::string::npos) << settings->summary;
    }
  }

  // The same libraries under a folder the code page spells: the version does not matter.
  for (const char* version : {"1.1.0.0", "1.2.0.0"}) {
    SCOPED_TRACE(version);
    Desktop desktop;
    desktop.port.library_version = Widen(version);
    const Diagnosis diagnosis = Diagnose(desktop.port, desktop.AsHost());
    EXPECT_EQ(diagnosis.Find("Settings")->state, LinkState::kOk) << FormatText(diagnosis);
  }
  {
    Desktop desktop;
    DiagnoseOptions options = desktop.AsHost();
    options.install_folder.clear();
    const Diagnosis diagnosis = Diagnose(desktop.port, options);
    EXPECT_EQ(diagnosis.Find("Settings")->state, LinkState::kOk) << FormatText(diagnosis);
  }
}

TEST(Diagnosis, AsideCopiesAreCountedNotDeleted) {
  // A copy nobody holds, which CheckOldCopies on its own would delete; and one with HookProc at
  // the installed offset, which is safe.
  Desktop desktop;
  const std::wstring moved = kLibrary + L".old-0000000000000001";
  const std::wstring same = kLibrary + L".old-0000000000000002";
  desktop.port.files.files[moved] = test::Entry{LibraryImage(0x2000)};
  desktop.port.files.files[same] = test::Entry{LibraryImage(0x1234)};
  const auto before = desktop.port.files.files.size();

  const Diagnosis diagnosis = Diagnose(desktop.port, desktop.AsHost());
  EXPECT_EQ(desktop.port.files.files.size(), before) << "a diagnosis deletes nothing";
  EXPECT_EQ(desktop.port.files.files.count(moved), 1u);
  const DiagnosisEntry* library = diagnosis.Find("Library");
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(library->state, LinkState::kBroken);
  EXPECT_NE(library->summary.find("1 aside"), std::string::npos) << library->summary;
}

TEST(Diagnosis, UnjudgedLinksAreUnknownNotBroken) {
  Desktop desktop;
  DiagnoseOptions options = desktop.AsHost();
  options.install_folder.clear();
  desktop.port.claim = {false, false, 0, 0, "not available"};
  const Diagnosis diagnosis = Diagnose(desktop.port, options);
  EXPECT_EQ(diagnosis.Find("Library")->state, LinkState::kUnknown);
  EXPECT_EQ(diagnosis.Find("Other instances")->state, LinkState::kUnknown);
  EXPECT_FALSE(diagnosis.Working());
  EXPECT_EQ(Verdict(diagnosis).rfind("icon tracking: not confirmed: ", 0), 0u);
}

TEST(Diagnosis, NoRoundTripWithoutSidecar64) {
  Desktop desktop;
  desktop.port.windows.erase(desktop.receive);
  Diagnose(desktop.port, desktop.AsHost());
  EXPECT_EQ(desktop.port.round_trips, 0);
}

TEST(DiagnosisReport, JsonEscapesWhatTheDesktopNames) {
  Diagnosis diagnosis;
  diagnosis.entries.push_back(
      {"Shell chain", LinkState::kBroken, "a \"title\" with \\ and\ttab", {"line\none"}, "fix"});
  const std::string json = FormatJson(diagnosis);
  EXPECT_NE(json.find(R"(a \"title\" with \\ and\u0009tab)"), std::string::npos) << json;
  EXPECT_NE(json.find(R"(line\u000aone)"), std::string::npos) << json;
  EXPECT_NE(json.find("\"working\": false"), std::string::npos);
  EXPECT_EQ(FormatText(diagnosis).rfind("icon tracking: not working: Shell chain: ", 0), 0u);
}

TEST(DiagnosisReport, AnsiSpellingDecision) {
  EXPECT_TRUE(AnsiSpellsFolder(L"C:\\users\\u", L"C:\\users\\u"));
  EXPECT_FALSE(AnsiSpellsFolder(L"C:\\users\\\x4e2d", L"C:\\users\\?"));
}

}  // namespace
}  // namespace quillon
