// `vestrel-host validate PLUGIN`: runs a battery of checks against a built
// plug-in and prints each with PASS or FAIL, then "N passed, M failed".
//
// The battery (validate_checks.h) refuses every host call of a full session
// in turn, hides every host function, hands the plug-in hostile parameter
// blocks and hostile host answers, calls its entry out of order and with
// instances interleaved, and saves and loads blocks in both byte orders. Each
// call is checked against what the design promises (validate_model.h); the
// host's own checks (protocol violations, writes past host memory, resources
// left unreleased) count too.
//
// Every run has a seed, printed at the start; with it a failed check replays
// exactly (the command is printed under the failure). Where the platform has
// fork(), each check runs in a child process of its own, so that a crash of
// the plug-in is reported as that check's failure and the run goes on.
#ifndef VESTREL_REFERENCE_HOST_VALIDATE_VALIDATE_H
#define VESTREL_REFERENCE_HOST_VALIDATE_VALIDATE_H

#include <stdint.h>

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "hostkit/guarded_heap.h"
#include "reference_host/validate/checks.h"

namespace vhost {

struct ValidateOptions {
  std::string pluginPath;
  std::string homeDirectory;     // empty: the plug-in's folder
  std::optional<uint64_t> seed;  // unset: a fresh one
  double timeLimitSeconds =
      10;  // for the whole run; random rounds fill what the fixed checks leave
  double checkTimeoutSeconds = 60;  // a check that runs longer has hung
  std::vector<std::string> only;    // ids or id prefixes ("faults/", "blocks/size-7")
  bool isolate = true;              // each check in a child process (where fork() exists)
  bool failuresOnly = false;        // print only the failed checks and the totals
  ValidationLevel level = ValidationLevel::kQuick;
  MemoryCheck memoryCheck = GuardPagesAvailable() ? MemoryCheck::kGuardPage : MemoryCheck::kCanary;
  std::string program = "vestrel-host";  // how the replay command names this program
};

// Whether checks can run in child processes on this platform.
bool IsolationAvailable();

// Runs the battery; returns 0 when every check passed, 3 when one failed, 2
// when the plug-in cannot be loaded.
int Validate(const ValidateOptions& options, std::ostream& out);

}  // namespace vhost

#endif
