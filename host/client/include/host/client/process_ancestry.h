// Whether the process that started another one still runs: the decision, apart from the system.
//
// A process id names the process that has it now; once a process has ended the system may give
// its id to a new one. So "the parent id names a live process" is not enough: the live process
// must also have been created no later than the child, or it is a newcomer that took a freed id
// and never started anything of ours.
#ifndef QUILLON_HOST_CLIENT_PROCESS_ANCESTRY_H
#define QUILLON_HOST_CLIENT_PROCESS_ANCESTRY_H

#include <cstdint>

namespace quillon {

// What the system tells about one process, without reading its memory.
struct ProcessFacts {
  enum class Lookup {
    kFound,
    kNoSuchProcess,  // no process has that id (any more)
    kNoAccess,       // one has, but it may not be queried: nothing is known of it
  };
  Lookup lookup = Lookup::kNoSuchProcess;
  std::uint64_t created = 0;  // creation time, in the system's 100-ns units (kFound only)
  bool running = false;       // false once it has ended (a handle may keep an ended one known)
};

enum class StarterState {
  kAlive,    // the process that started it still runs
  kGone,     // it has ended, or its id now names a process created later
  kUnknown,  // the child, or the process with its parent's id, could not be looked at
};

const char* Describe(StarterState state);

// `child`: the process asked about. `parent`: the process that has the child's parent id now.
StarterState JudgeStarter(const ProcessFacts& child, const ProcessFacts& parent);

}  // namespace quillon

#endif  // QUILLON_HOST_CLIENT_PROCESS_ANCESTRY_H
