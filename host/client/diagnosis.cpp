// The decisions of a diagnosis: what each link's facts mean and what to do about them.
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "host/client/diagnosis_port.h"
#include "host/client/handle_text.h"
#include "host/client/pe_export.h"

namespace quillon {
namespace {

// Tree searches below the tray stop here: a shell's window tree is shallow, a broken one may
// be anything.
constexpr int kMaxSearchDepth = 6;
constexpr std::size_t kMaxWindowsListed = 32;

// A library version from its version resource, "1.2.0.0" (the fourth number is not compared).
struct LibraryVersion {
  unsigned major = 0, minor = 0, patch = 0;
  bool AtLeast(const LibraryVersion& other) const {
    if (major != other.major) return major > other.major;
    if (minor != other.minor) return minor > other.minor;
    return patch >= other.patch;
  }
};

// Since 1.2.0 Tallyhook builds its settings path and reads the file through the wide calls, so it
// finds the file under a folder whose name the ANSI code page cannot spell. Libraries before it
// spelled the path with the ANSI calls ("?" for every letter the code page lacks), found no
// file, and their watchdog removed the host's hook.
constexpr LibraryVersion kWideSettingsPathSince{1, 2, 0};

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto code = static_cast<std::uint32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
        const auto low = static_cast<std::uint32_t>(text[i + 1]);
        if (low >= 0xDC00 && low < 0xE000) {
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;  // a lone half
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08" PRIx64, value);
  return text;
}

std::string Quoted(const std::wstring& text) { return "\"" + Utf8(text) + "\""; }

// The first three numbers of "1.2.0.0"; nothing unless the text is numbers and dots only.
std::optional<LibraryVersion> ParseVersion(const std::wstring& text) {
  unsigned numbers[3] = {};
  std::size_t count = 0;
  bool digit_seen = false;
  for (const wchar_t c : text) {
    if (c == L'.') {
      if (!digit_seen) return std::nullopt;
      ++count;
      digit_seen = false;
    } else if (c >= L'0' && c <= L'9') {
      if (count < 3) {
        if (numbers[count] > 65535) return std::nullopt;  // a resource holds 16-bit numbers
        numbers[count] = numbers[count] * 10 + static_cast<unsigned>(c - L'0');
      }
      digit_seen = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digit_seen || count < 2) return std::nullopt;
  return LibraryVersion{numbers[0], numbers[1], numbers[2]};
}

bool SameIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

const char* StarterWord(StarterState state) {
  switch (state) {
    case StarterState::kAlive:
      return "alive";
    case StarterState::kGone:
      return "gone";
    case StarterState::kUnknown:
      return "not known";
  }
  return "not known";
}

std::string ProcessText(DiagnosisPort& port, std::uint32_t process_id) {
  const ProcessListing process = port.DescribeProcess(process_id);
  std::string text = "process " + std::to_string(process_id);
  if (process.found) text += " (" + Utf8(process.image_name) + ")";
  return text;
}

std::string WindowText(DiagnosisPort& port, WindowId window) {
  const WindowFacts facts = port.DescribeWindow(window);
  if (!facts.exists) return Hex(window) + " (no window)";
  return Hex(window) + " " + Utf8(facts.class_name) + " " + Quoted(facts.title) + ", " +
         (facts.visible ? "visible" : "hidden") + ", " + ProcessText(port, facts.process_id);
}

// Collects a link's facts and problems; the first problem decides the summary and the remedy.
class EntryBuilder {
 public:
  explicit EntryBuilder(const char* link) { entry_.link = link; }

  void Fact(std::string fact) { entry_.facts.push_back(std::move(fact)); }
  void Problem(std::string summary, std::string remedy) {
    entry_.facts.push_back("! " + summary);
    if (entry_.state == LinkState::kBroken) return;
    entry_.state = LinkState::kBroken;
    entry_.summary = std::move(summary);
    entry_.remedy = std::move(remedy);
  }
  void Unknown(std::string summary, std::string remedy) {
    if (entry_.state != LinkState::kUnknown || !entry_.summary.empty()) return;
    entry_.summary = std::move(summary);
    entry_.remedy = std::move(remedy);
  }
  DiagnosisEntry Done(std::string ok_summary) {
    if (entry_.summary.empty()) {
      entry_.state = LinkState::kOk;
      entry_.summary = std::move(ok_summary);
    }
    return std::move(entry_);
  }

 private:
  DiagnosisEntry entry_;
};

// Read-only view of the file port: every change is refused as if the file were held, so that
// CheckOldCopies deletes nothing and counts every aside copy as one a program may still map.
class ReadOnlyFiles final : public FilePort {
 public:
  explicit ReadOnlyFiles(FilePort& files) : files_(files) {}
  FileKind Inspect(const std::wstring& path) override { return files_.Inspect(path); }
  FileResult CopyNew(const std::wstring&, const std::wstring&) override { return Refused(); }
  FileResult Rename(const std::wstring&, const std::wstring&) override { return Refused(); }
  FileResult Delete(const std::wstring&) override { return Refused(); }
  std::vector<std::wstring> ListFiles(const std::wstring& folder,
                                      const std::wstring& prefix) override {
    return files_.ListFiles(folder, prefix);
  }
  std::uint64_t UniqueNumber() override { return files_.UniqueNumber(); }
  bool LoadedInThisProcess(const std::wstring& path) override {
    return files_.LoadedInThisProcess(path);
  }
  bool ReadWhole(const std::wstring& path, std::vector<unsigned char>& bytes) override {
    return files_.ReadWhole(path, bytes);
  }

 private:
  static FileResult Refused() { return {FileOutcome::kFailed, 0}; }
  FilePort& files_;
};

// Tallyhook.dll in the install folder, looked at before the links: the settings entry needs its
// version too.
struct InstalledLibrary {
  std::wstring folder;  // with its separator; empty when no install folder was given
  std::wstring path;
  bool present = false;
  std::optional<std::wstring> version_text;  // the version resource, "1.2.0.0"
  std::optional<LibraryVersion> version;     // the same, when it reads as numbers
};

InstalledLibrary LookAtLibrary(DiagnosisPort& port, const DiagnoseOptions& options) {
  InstalledLibrary library;
  if (options.install_folder.empty()) return library;
  library.folder = options.install_folder;
  if (library.folder.back() != L'\\' && library.folder.back() != L'/') library.folder += L'\\';
  library.path = library.folder + contract::HookLibraryFile<wchar_t>;
  library.present = port.Files().Inspect(library.path) == FileKind::kFile;
  if (!library.present) return library;
  library.version_text = port.FileVersion(library.path);
  if (library.version_text) library.version = ParseVersion(*library.version_text);
  return library;
}

std::string VersionText(const LibraryVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.patch);
}

// Why the library's version is not known, for a link that depends on it.
std::string WhyVersionUnknown(const InstalledLibrary& library) {
  if (library.folder.empty()) return "no install folder given";
  if (!library.present) return "no " + Utf8(library.path);
  if (!library.version_text) return Utf8(library.path) + " has no version resource";
  return Utf8(library.path) + " has the version \"" + Utf8(*library.version_text) +
         "\", which is not a number";
}

// What the settings entry learnt, for the entries after it.
struct HostSeen {
  WindowId window = 0;  // the live window "Handle" names (Sidecar64's reading first)
  std::uint32_t process_id = 0;
};

struct LivenessRead {
  LivenessRead(const wchar_t* file_name, const char* reader_name)
      : file(file_name), reader(reader_name) {}
  const wchar_t* file;
  const char* reader;
  bool exists = false;
  std::wstring text;
  WindowId window = 0;
  WindowFacts facts;
};

const char* const kStartHost =
    "start the host: it writes \"Handle\" into both files before it installs the hook";

void JudgeValue(DiagnosisPort& port, LivenessRead& read, EntryBuilder& entry) {
  const std::string file = Utf8(read.file);
  if (!read.exists) {
    entry.Problem("no " + file + " (no host has run as this user, or it was removed)", kStartHost);
    return;
  }
  read.facts = port.DescribeWindow(read.window);
  std::string fact = "\"Handle\" in " + file + " = " + Quoted(read.text) + ", read by " +
                     read.reader + " as " + Hex(read.window);
  if (read.facts.exists) fact += ": " + WindowText(port, read.window);
  entry.Fact(fact);
  if (read.window == 0) {
    entry.Problem("\"Handle\" in " + file + " is empty: no host runs (a host clears it as it ends)",
                  kStartHost);
  } else if (!read.facts.exists) {
    entry.Problem("\"Handle\" in " + file + " names " + Hex(read.window) +
                      ", which is no window: the host that wrote it has gone without clearing it "
                      "(killed?)",
                  "start the host again; both companions stop once they see the value");
  }
}

DiagnosisEntry JudgeSettings(DiagnosisPort& port, const DiagnoseOptions& options,
                             const InstalledLibrary& library, HostSeen& seen) {
  using namespace contract;
  EntryBuilder entry("Settings");
  const std::optional<std::wstring> wide = port.AppDataFolder(Spelling::kWide);
  const std::optional<std::wstring> ansi = port.AppDataFolder(Spelling::kAnsi);
  if (!wide) {
    entry.Problem("the application-data folder is not known (the shell's folder query failed)",
                  "check the user's profile: \"AppData\" under User Shell Folders");
    return entry.Done("");
  }
  const std::wstring below = std::wstring(L"\\") + Firm<wchar_t> + L"\\" + App<wchar_t> + L"\\";
  const auto path = [&](const std::wstring& folder, const wchar_t* file) {
    return folder + below + file;
  };
  for (const wchar_t* file : {HookSettingsFile<wchar_t>, AssistantSettingsFile<wchar_t>}) {
    entry.Fact(Utf8(file) + ", wide calls: " + Utf8(path(*wide, file)));
    entry.Fact(Utf8(file) + ", ANSI calls: " + (ansi ? Utf8(path(*ansi, file)) : "(none)"));
  }

  // Tallyhook: its file through the calls its version uses, the wrapping 32-bit rule.
  LivenessRead hook{HookSettingsFile<wchar_t>, "Tallyhook"};
  const std::wstring hook_wide = path(*wide, hook.file);
  const bool ansi_reaches = ansi && AnsiSpellsFolder(*wide, *ansi);
  const bool reads_wide = library.version && library.version->AtLeast(kWideSettingsPathSince);
  if (!ansi_reaches) {
    const std::string ansi_path =
        ansi ? Utf8(path(*ansi, hook.file)) : std::string("nothing (the ANSI folder query failed)");
    const std::string since = VersionText(kWideSettingsPathSince);
    if (reads_wide) {
      entry.Fact("the ANSI calls spell the path as " + ansi_path + "; Tallyhook " +
                 Utf8(*library.version_text) +
                 " reads the wide path, so the ANSI spelling does not matter (a library before " +
                 since + " would not find the file)");
    } else if (library.version) {
      entry.Problem("the folder's name has letters the ANSI code page lacks: Tallyhook " +
                        Utf8(*library.version_text) + " spells the path with the ANSI calls as " +
                        ansi_path + ", so its watchdog finds no file and removes the hook",
                    "update the library to " + since +
                        " or later (it reads the wide path), or give the application-data folder "
                        "a name of the ANSI code page");
    } else {
      std::string summary =
          "the folder's name has letters the ANSI code page lacks (the ANSI calls spell " +
          ansi_path + ") and the library's version is not known (" + WhyVersionUnknown(library) +
          "): a Tallyhook before " + since + " finds no file there, " + since +
          " and later read the wide path";
      entry.Fact("? " + summary);
      entry.Unknown(std::move(summary),
                    "name the host's install folder with its Tallyhook.dll, so that its version "
                    "can be read; or give the application-data folder a name of the ANSI code "
                    "page");
    }
  }
  const bool hook_by_ansi =
      !reads_wide && ansi_reaches && port.FileExists(path(*ansi, hook.file), Spelling::kAnsi);
  hook.exists = hook_by_ansi || port.FileExists(hook_wide, Spelling::kWide);
  if (hook.exists) {
    hook.text = hook_by_ansi ? port.ReadLivenessValue(path(*ansi, hook.file), Spelling::kAnsi)
                             : port.ReadLivenessValue(hook_wide, Spelling::kWide);
    hook.window = static_cast<WindowId>(ParseHandleWrapping(hook.text.c_str()));
  }
  JudgeValue(port, hook, entry);

  // Sidecar64: its file through the wide calls, the saturating signed rule, sign-extended.
  LivenessRead assistant{AssistantSettingsFile<wchar_t>, "Sidecar64"};
  const std::wstring assistant_path = path(*wide, assistant.file);
  assistant.exists = port.FileExists(assistant_path, Spelling::kWide);
  if (assistant.exists) {
    assistant.text = port.ReadLivenessValue(assistant_path, Spelling::kWide);
    assistant.window = static_cast<WindowId>(
        static_cast<std::intptr_t>(ParseHandleSaturating(assistant.text.c_str())));
  }
  JudgeValue(port, assistant, entry);

  for (const LivenessRead* read : {&assistant, &hook}) {
    if (seen.window == 0 && read->facts.exists) {
      seen.window = read->window;
      seen.process_id = read->facts.process_id;
    }
  }
  if (hook.facts.exists && assistant.facts.exists && hook.window != assistant.window) {
    entry.Problem("the two files name different windows (" + Hex(hook.window) + ", " +
                      Hex(assistant.window) + "): two hosts wrote them",
                  "run one host (see Other instances) and start it again");
  }
  if (options.host_window != 0) {
    for (const LivenessRead* read : {&hook, &assistant}) {
      if (read->exists && read->window != 0 && read->window != options.host_window) {
        entry.Problem("\"Handle\" in " + Utf8(read->file) + " names " + Hex(read->window) +
                          ", not this host's main window " + Hex(options.host_window) +
                          ": another host instance wrote it",
                      "run one host; this one writes its window again when it starts");
      }
    }
  }
  return entry.Done("both files name the live window " + Hex(seen.window) + " (" +
                    ProcessText(port, seen.process_id) + ")");
}

bool IsHostDialog(const WindowFacts& facts) {
  using namespace contract;
  return facts.class_name == DialogClass<wchar_t> &&
         (facts.title == DialogTitle<wchar_t> || facts.title == DialogTitleAlt<wchar_t>);
}

// A host dialog anywhere below `root` (depth 1: a direct child); 0 when there is none.
WindowId FindDialogBelow(DiagnosisPort& port, WindowId root, int depth, int& found_depth) {
  if (depth > kMaxSearchDepth) return 0;
  for (const WindowId child : port.Children(root)) {
    if (IsHostDialog(port.DescribeWindow(child))) {
      found_depth = depth;
      return child;
    }
    const WindowId deeper = FindDialogBelow(port, child, depth + 1, found_depth);
    if (deeper != 0) return deeper;
  }
  return 0;
}

const char* const kMakeChain =
    "the host makes a visible \"Shell_TrayWnd\" > \"ReBarWindow32\" > \"MSTaskSwWClass\" chain "
    "(Wine shows none of its own) and its dialog as a direct child of the last one";

void ExplainMissingDialog(DiagnosisPort& port, const Discovery& walk,
                          const std::vector<WindowId>& trays, EntryBuilder& entry) {
  int depth = 0;
  const WindowId root = walk.taskSwitch != 0 ? walk.taskSwitch : walk.tray;
  WindowId deeper = root != 0 ? FindDialogBelow(port, root, 1, depth) : 0;
  if (deeper != 0 && walk.taskSwitch != 0) {
    entry.Problem("the host dialog " + WindowText(port, deeper) + " lies " +
                      std::to_string(depth - 1) +
                      " level(s) too deep below \"MSTaskSwWClass\": Tallyhook looks only at its "
                      "direct children",
                  "create the dialog as a direct child of the \"MSTaskSwWClass\" window");
    return;
  }
  if (deeper != 0) {
    entry.Problem("the host dialog " + WindowText(port, deeper) +
                      " is not where Tallyhook looks (below the first \"ReBarWindow32\" > "
                      "\"MSTaskSwWClass\")",
                  kMakeChain);
    return;
  }
  for (const WindowId tray : trays) {
    if (tray == walk.tray) continue;
    deeper = FindDialogBelow(port, tray, 1, depth);
    if (deeper != 0) {
      entry.Problem("the host dialog " + WindowText(port, deeper) + " lies below another tray " +
                        Hex(tray) + ", not the first visible one",
                    "make the host's tray visible, or put the dialog below the first visible "
                    "\"Shell_TrayWnd\"");
      return;
    }
  }
  entry.Problem(
      "no \"#32770\" dialog titled \"Wendril\" or \"Quillon\" below the task-switch "
      "window: no host runs, or it has not made its dialog yet",
      "start the host; it makes its dialog before it installs the hook");
}

DiagnosisEntry JudgeShellChain(DiagnosisPort& port, const DiagnoseOptions& options,
                               const HostSeen& seen, std::vector<std::uint32_t>& dialog_owners) {
  using namespace contract;
  EntryBuilder entry("Shell chain");
  std::vector<WindowId> trays;
  for (WindowId tray = port.FindTopLevel(TrayClass<char>, 0);
       tray != 0 && trays.size() < kMaxWindowsListed;
       tray = port.FindTopLevel(TrayClass<char>, tray)) {
    trays.push_back(tray);
    entry.Fact("tray " + WindowText(port, tray));
  }
  const Discovery walk = WalkToHost(port);
  if (walk.tray == 0) {
    entry.Problem("no visible \"Shell_TrayWnd\"", kMakeChain);
    return entry.Done("");
  }
  entry.Fact("the first visible tray: " + Hex(walk.tray));
  if (walk.rebar == 0) {
    entry.Problem("the first visible tray " + Hex(walk.tray) + " has no \"ReBarWindow32\" child",
                  kMakeChain);
    ExplainMissingDialog(port, walk, trays, entry);
    return entry.Done("");
  }
  entry.Fact("rebar " + WindowText(port, walk.rebar));
  if (walk.taskSwitch == 0) {
    entry.Problem("the rebar " + Hex(walk.rebar) + " has no \"MSTaskSwWClass\" child", kMakeChain);
    ExplainMissingDialog(port, walk, trays, entry);
    return entry.Done("");
  }
  entry.Fact("task-switch window " + WindowText(port, walk.taskSwitch));
  for (const WindowId child : port.Children(walk.taskSwitch)) {
    const WindowFacts facts = port.DescribeWindow(child);
    if (facts.class_name != DialogClass<wchar_t>) continue;
    entry.Fact("dialog below it: " + WindowText(port, child));
    if (IsHostDialog(facts)) dialog_owners.push_back(facts.process_id);
  }
  entry.Fact("Tallyhook looks for \"Wendril\" first, then \"Quillon\"");
  if (walk.hostDialog == 0) {
    ExplainMissingDialog(port, walk, trays, entry);
    return entry.Done("");
  }
  const WindowFacts dialog = port.DescribeWindow(walk.hostDialog);
  entry.Fact("Tallyhook finds " + WindowText(port, walk.hostDialog));
  if (seen.window != 0 && dialog.process_id != seen.process_id) {
    entry.Problem("the dialog Tallyhook finds belongs to " + ProcessText(port, dialog.process_id) +
                      ", the window \"Handle\" names to " + ProcessText(port, seen.process_id),
                  "run one host; a second instance's dialog or a leftover one takes the notices");
  }
  if (walk.outcome == AttachOutcome::kAltDialog) {
    entry.Fact("a \"Wendril\" dialog gets the notices; Tallyhook arms no watchdog for it");
    return entry.Done("Tallyhook finds the \"Wendril\" dialog " + Hex(walk.hostDialog));
  }
  if (walk.outcome == AttachOutcome::kDialogWithoutHook) {
    entry.Problem(
        "the dialog has no \"WDIcon_hook\" property: the hook is not installed (icon "
        "tracking off, or the install failed)",
        "install the hook (IconHook::Install) once the dialog exists; it sets the "
        "property");
    return entry.Done("");
  }
  entry.Fact("\"WDIcon_hook\" = " + Hex(walk.hook));
  if (options.host_window != 0) {
    if (options.own_hook == 0) {
      entry.Problem("this host has no hook installed, yet the property holds " + Hex(walk.hook) +
                        " (a killed host's, left behind?)",
                    "install the hook again; it replaces the property");
    } else if (options.own_hook != walk.hook) {
      entry.Problem("the property holds " + Hex(walk.hook) + ", not this host's hook " +
                        Hex(options.own_hook),
                    "run one host; install the hook again");
    } else {
      entry.Fact("it is this host's installed hook");
    }
  } else {
    entry.Fact("whether that hook is live cannot be seen from another process");
  }
  return entry.Done("Tallyhook finds the dialog " + Hex(walk.hostDialog) + " with a hook");
}

DiagnosisEntry JudgeOtherInstances(DiagnosisPort& port, const DiagnoseOptions& options,
                                   const std::vector<std::uint32_t>& dialog_owners) {
  EntryBuilder entry("Other instances");
  const InstanceClaim claim = port.QueryInstanceClaim();
  if (!claim.known) {
    entry.Fact("the single-instance claim: " + claim.note);
  } else if (!claim.held) {
    entry.Fact("no process holds the single-instance claim");
  } else {
    entry.Fact("the single-instance claim is held by " +
               ProcessText(port, claim.holder_process_id) + ", window " + Hex(claim.holder_window));
    if (options.host_window != 0 && claim.holder_process_id != port.OwnProcessId()) {
      entry.Problem("another host instance holds the claim: this one is the second",
                    "end this instance; the first one serves the session");
    }
  }
  std::vector<std::uint32_t> owners;
  for (const std::uint32_t owner : dialog_owners) {
    bool known = false;
    for (const std::uint32_t seen : owners) known = known || seen == owner;
    if (!known) owners.push_back(owner);
  }
  if (owners.size() > 1) {
    std::string list;
    for (const std::uint32_t owner : owners) {
      list += (list.empty() ? "" : ", ") + ProcessText(port, owner);
    }
    entry.Problem("host dialogs of " + std::to_string(owners.size()) +
                      " processes below the task bar: " + list,
                  "run one host; end the others");
  }
  if (claim.known && claim.held && claim.holder_process_id != 0) {
    for (const std::uint32_t owner : owners) {
      if (owner != claim.holder_process_id) {
        entry.Problem("a host dialog of " + ProcessText(port, owner) +
                          ", which does not hold the single-instance claim",
                      "end that process");
        break;
      }
    }
  }
  if (!claim.known && owners.size() <= 1) {
    entry.Unknown("the single-instance claim cannot be queried",
                  "see the host's own log for a second instance");
  }
  return entry.Done(owners.empty() ? "no host runs" : "one host runs");
}

DiagnosisEntry JudgeAssistant(DiagnosisPort& port) {
  using namespace contract;
  EntryBuilder entry("Sidecar64");
  std::vector<WindowId> windows;
  for (WindowId window = port.FindTopLevel(ReceiveClass<char>, 0);
       window != 0 && windows.size() < kMaxWindowsListed;
       window = port.FindTopLevel(ReceiveClass<char>, window)) {
    windows.push_back(window);
  }
  if (windows.empty()) {
    entry.Problem("no Sidecar64 runs (no \"OVQL_Recv64Wnd\" window): GetPath cannot be answered",
                  "the host starts Sidecar64.exe from its folder after it writes \"Handle\" "
                  "(AssistantProcess::Start)");
    return entry.Done("");
  }
  for (const WindowId window : windows) {
    const WindowFacts facts = port.DescribeWindow(window);
    const ProcessListing process = port.DescribeProcess(facts.process_id);
    entry.Fact("receive window " + Hex(window) + " of " + ProcessText(port, facts.process_id) +
               ", started by process " + std::to_string(process.starter_id) + " (" +
               StarterWord(process.starter) + ")");
    if (process.starter == StarterState::kGone) {
      entry.Problem("Sidecar64 (process " + std::to_string(facts.process_id) +
                        ") was started by a process that has ended: a leftover",
                    "EndLeftoverAssistants() at the host's start ends it; it also ends by itself "
                    "within 10 s once \"Handle\" names no window");
    }
  }
  if (windows.size() > 1) {
    entry.Problem(std::to_string(windows.size()) +
                      " Sidecar64 processes run: requests go to the first receive window, "
                      "whoever started it",
                  "end the leftovers (EndLeftoverAssistants() at the host's start), or the "
                  "second host (see Other instances)");
  }
  const RoundTrip trip = port.GetPathRoundTrip();
  entry.Fact("GetPath for a window of this process: " + std::string(Describe(trip.status)) +
             " in " + std::to_string(trip.elapsed_ms) + " ms" +
             (trip.status == RequestStatus::kResolved ? ": " + Utf8(trip.path) : std::string()));
  if (trip.status != RequestStatus::kResolved) {
    entry.Problem(std::string("GetPath for a window of this process: ") + Describe(trip.status),
                  "end Sidecar64 and let the host start it again");
  } else if (!trip.expected_path.empty() && !SameIgnoringAsciiCase(trip.path, trip.expected_path)) {
    entry.Problem(
        "GetPath gave " + Utf8(trip.path) + ", not this program's " + Utf8(trip.expected_path),
        "end Sidecar64 and let the host start it again");
  }
  return entry.Done("one Sidecar64 answers GetPath in " + std::to_string(trip.elapsed_ms) + " ms");
}

std::optional<std::uint32_t> HookProcOffset(FilePort& files, const std::wstring& path) {
  std::vector<unsigned char> bytes;
  if (!files.ReadWhole(path, bytes)) return std::nullopt;
  return ExportRva(bytes, contract::kHookProcName);
}

DiagnosisEntry JudgeLibrary(DiagnosisPort& port, const InstalledLibrary& library) {
  using namespace contract;
  EntryBuilder entry("Library");
  if (library.folder.empty()) {
    entry.Unknown("no install folder given", "name the host's install folder");
    return entry.Done("");
  }
  const std::wstring& folder = library.folder;
  const std::wstring& installed = library.path;
  FilePort& files = port.Files();
  if (!library.present) {
    entry.Problem("no " + Utf8(HookLibraryFile<wchar_t>) + " in " + Utf8(folder),
                  "install the library beside the host");
    return entry.Done("");
  }
  const std::optional<std::wstring>& version = library.version_text;
  entry.Fact(Utf8(installed) + ", version " + (version ? Utf8(*version) : "(no version resource)"));
  const std::optional<std::uint32_t> offset = HookProcOffset(files, installed);
  if (!offset) {
    entry.Problem("the library has no export \"HookProc\" (not Tallyhook, or a damaged copy)",
                  "install the library from the package again");
    return entry.Done("");
  }
  entry.Fact("HookProc at offset " + Hex(*offset));
  const std::wstring name = HookLibraryFile<wchar_t>;
  for (const std::wstring& aside : files.ListFiles(folder, name + L".old-")) {
    if (!IsAsideName(aside, name)) continue;
    const std::optional<std::uint32_t> old = HookProcOffset(files, folder + aside);
    entry.Fact("aside copy " + Utf8(aside) + ": " +
               (!old              ? std::string("no HookProc readable")
                : *old == *offset ? "HookProc at the same offset"
                                  : "HookProc elsewhere, at " + Hex(*old)));
  }
  ReadOnlyFiles read_only(files);
  const OldCopyCheck check = CheckOldCopies(read_only, installed, kHookProcName);
  if (!check.SafeToInstall()) {
    entry.Problem(std::to_string(check.hook_proc_moved) +
                      " aside copy(ies) with HookProc elsewhere: Install refuses "
                      "(kOldLibraryInUse) while a program may still map one",
                  "end the programs that ran before the update (or sign out); Install deletes "
                  "an aside copy nobody maps any more and then goes ahead");
  }
  return entry.Done("version " + (version ? Utf8(*version) : std::string("unknown")) +
                    ", HookProc at " + Hex(*offset));
}

}  // namespace

bool AnsiSpellsFolder(const std::wstring& wide, const std::wstring& ansi) { return wide == ansi; }

Diagnosis Diagnose(DiagnosisPort& port, const DiagnoseOptions& options) {
  Diagnosis diagnosis;
  HostSeen seen;
  std::vector<std::uint32_t> dialog_owners;
  const InstalledLibrary library = LookAtLibrary(port, options);
  diagnosis.entries.push_back(JudgeSettings(port, options, library, seen));
  DiagnosisEntry chain = JudgeShellChain(port, options, seen, dialog_owners);
  diagnosis.entries.push_back(JudgeOtherInstances(port, options, dialog_owners));
  diagnosis.entries.push_back(std::move(chain));
  diagnosis.entries.push_back(JudgeAssistant(port));
  diagnosis.entries.push_back(JudgeLibrary(port, library));
  return diagnosis;
}

}  // namespace quillon
