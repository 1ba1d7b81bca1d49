#include "host/client/process_ancestry.h"

namespace quillon {

StarterState JudgeStarter(const ProcessFacts& child, const ProcessFacts& parent) {
  using Lookup = ProcessFacts::Lookup;
  if (child.lookup != Lookup::kFound) return StarterState::kUnknown;
  switch (parent.lookup) {
    case Lookup::kNoSuchProcess:
      return StarterState::kGone;
    case Lookup::kNoAccess:
      return StarterState::kUnknown;  // it may well be the starter: never taken for gone
    case Lookup::kFound:
      break;
  }
  if (!parent.running) return StarterState::kGone;
  // Equal times count as alive: the clock's steps are coarser than a start.
  return parent.created <= child.created ? StarterState::kAlive : StarterState::kGone;
}

const char* Describe(StarterState state) {
  switch (state) {
    case StarterState::kAlive:
      return "its starter runs";
    case StarterState::kGone:
      return "its starter is gone";
    case StarterState::kUnknown:
      return "its starter cannot be told";
  }
  return "unknown";
}

}  // namespace quillon
