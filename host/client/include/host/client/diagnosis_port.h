// The facts a diagnosis looks at, behind a port: the Win32 adapter (win32_diagnosis.cpp) asks
// the system, the unit tests hand in a fake desktop. Only queries: nothing here writes, and
// nothing reads another process's memory.
#ifndef QUILLON_HOST_CLIENT_DIAGNOSIS_PORT_H
#define QUILLON_HOST_CLIENT_DIAGNOSIS_PORT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/client/assistant_client.h"
#include "host/client/diagnosis.h"
#include "host/client/library_update.h"
#include "host/client/process_ancestry.h"
#include "host/client/shell_walk.h"
#include "host/contract.h"

namespace quillon {

// How a call spells a path: the wide calls give the real name, the ANSI calls (the hook library's
// file backend before 1.2.0, in other hosts' older copies) give it in the ANSI code page, with "?"
// for every letter the code page lacks.
enum class Spelling { kWide, kAnsi };

struct WindowFacts {
  bool exists = false;
  bool visible = false;
  std::uint32_t process_id = 0;
  std::wstring class_name;
  std::wstring title;
};

struct ProcessListing {
  bool found = false;       // in the process list
  std::wstring image_name;  // the executable's file name, as the process list gives it
  std::uint32_t starter_id = 0;
  // Whether the process that started it still runs: the same process, not a later one that got
  // its id (FindStarter, win32_process_ancestry.h).
  StarterState starter = StarterState::kUnknown;
};

// One GetPath request to Sidecar64 for a window of the caller's own.
struct RoundTrip {
  RequestStatus status = RequestStatus::kFailed;
  std::wstring path;           // the answer (kResolved only)
  std::wstring expected_path;  // the caller's own image path
  unsigned elapsed_ms = 0;
};

// Who claims to be the only host of the session.
struct InstanceClaim {
  bool known = false;  // false: the claim cannot be queried (see `note`)
  bool held = false;   // some process holds it
  std::uint32_t holder_process_id = 0;
  WindowId holder_window = 0;
  std::string note;  // UTF-8, when not known
};

class DiagnosisPort : public WindowTreePort {
 public:
  // The application-data folder as the call of that spelling gives it (the ANSI one widened back
  // through the ANSI code page, "?" kept); nothing when the call fails.
  virtual std::optional<std::wstring> AppDataFolder(Spelling spelling) = 0;
  // Whether a file lies at `path` (a text of that spelling) as the calls of that spelling see it.
  virtual bool FileExists(const std::wstring& path, Spelling spelling) = 0;
  // The value "Handle" of the liveness section as the profile call of that spelling reads it;
  // empty when there is none.
  virtual std::wstring ReadLivenessValue(const std::wstring& path, Spelling spelling) = 0;

  virtual WindowFacts DescribeWindow(WindowId window) = 0;
  // The direct children of `parent`, in window order.
  virtual std::vector<WindowId> Children(WindowId parent) = 0;
  virtual ProcessListing DescribeProcess(std::uint32_t process_id) = 0;
  virtual std::uint32_t OwnProcessId() = 0;

  virtual InstanceClaim QueryInstanceClaim() = 0;

  // A GetPath round trip through the first receive window, for a window of the caller's own.
  virtual RoundTrip GetPathRoundTrip() = 0;

  // The file queries of the library check. A diagnosis passes them through a guard that refuses
  // every change, so that CheckOldCopies counts every aside copy and deletes none.
  virtual FilePort& Files() = 0;
  // The version resource of the file ("1.2.0.0"); nothing when it has none.
  virtual std::optional<std::wstring> FileVersion(const std::wstring& path) = 0;
};

struct DiagnoseOptions {
  // The host's install folder, where Tallyhook.dll lies (trailing separator optional); empty:
  // the library is not looked at.
  std::wstring install_folder;
  // Set when the caller is the host: its main window and the hook it installed (IconHook::Hook();
  // 0 while it has none).
  WindowId host_window = 0;
  HookRef own_hook = 0;
};

// The links in the order the chain needs them: Settings, Other instances, Shell chain,
// Sidecar64, Library. The library's version is read first: the settings entry depends on it.
Diagnosis Diagnose(DiagnosisPort& port, const DiagnoseOptions& options);

// Whether the ANSI spelling of the folder is the real name, so that a hook library that spells
// its path with the ANSI calls (before 1.2.0) reaches the file. A false answer breaks the
// settings link only for such a library; for one that reads the wide path it is a fact, and with
// no readable library version it leaves the link unknown.
bool AnsiSpellsFolder(const std::wstring& wide, const std::wstring& ansi);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_DIAGNOSIS_PORT_H
