// A function run in a child process of its own (where the platform has
// fork()), so that a crash or a hang of what it calls ends that child only.
// The child hands back one line of text, its report; everything else it
// printed (a guard page's message, a sanitizer's report) comes back too.
#ifndef VESTREL_REFERENCE_HOST_VALIDATE_CHILD_PROCESS_H
#define VESTREL_REFERENCE_HOST_VALIDATE_CHILD_PROCESS_H

#include <functional>
#include <string>

namespace vhost {

// Whether functions can run in child processes here.
bool ChildProcessesAvailable();

struct ChildOutcome {
  bool reported = false;  // the child ended normally after handing back its report
  std::string report;     // what body returned, when reported
  std::string printed;    // what the child printed besides its report
  std::string failure;    // when not reported: why ("died of signal 11 (...)", a timeout)
};

// Runs body in a child process with its standard output and error captured,
// and waits at most timeoutSeconds for it (then kills it). The child never
// returns into the caller's code: it exits as soon as body has returned.
// Without fork(), runs nothing and says so in failure.
ChildOutcome RunInChildProcess(const std::function<std::string()>& body, double timeoutSeconds);

}  // namespace vhost

#endif
