// A function run in a child process of its own (where the platform has
// fork()), so that a crash, a hang or the memory of what it calls ends that
// child only. The child hands back one report (any bytes); everything else it
// printed (a guard page's message, a sanitizer's report, a library's chatter)
// comes back too. Limits on the child's memory, stack, processor time and
// files are set in the child before the function runs.
#ifndef VESTREL_REFERENCE_HOST_CHILD_PROCESS_H
#define VESTREL_REFERENCE_HOST_CHILD_PROCESS_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>

namespace vhost {

// Whether functions can run in child processes here.
bool ChildProcessesAvailable();

// Whether this build can bound a child's address space: a sanitizer's shadow
// memory takes terabytes of it, so such builds leave memory unbounded.
bool AddressSpaceLimitAvailable();

// Limits set in the child before the function runs; 0 leaves one as it is.
struct ChildLimits {
  uint64_t addressSpaceBytes = 0;  // RLIMIT_AS: every allocation beyond it fails
  uint64_t stackBytes = 0;         // RLIMIT_STACK
  uint64_t cpuSeconds = 0;         // RLIMIT_CPU: the kernel ends the child (SIGXCPU, SIGKILL)
  bool noNewFiles = false;         // RLIMIT_FSIZE 0 and no core file: the child writes nothing
  uint64_t openFiles = 0;          // RLIMIT_NOFILE
};

struct ChildOptions {
  double timeoutSeconds = 10;  // wall clock; then the child is killed
  ChildLimits limits;
  size_t maxOutputBytes = size_t(1) << 30;  // all it hands back; beyond, it is killed
  std::string name = "the child process";   // "the check's process", in messages
  std::string task = "the child";           // "the check", in "... did not finish within"
  std::string hangText;                     // after the time: ": the plug-in hangs"
};

struct ChildOutcome {
  bool reported = false;  // the child ended normally after handing back its report
  std::string report;     // what body returned, when reported
  std::string printed;    // what the child printed besides its report
  std::string failure;    // when not reported: why ("died of signal 11 (...)", a timeout)
  int signal = 0;         // the signal that ended the child, if one did
  bool timedOut = false;
  bool tooMuchOutput = false;
};

// Runs body in a child process with its standard output and error captured,
// and waits at most options.timeoutSeconds for it (then kills it). The child
// never returns into the caller's code: it exits as soon as body has
// returned. Without fork(), runs nothing and says so in failure.
ChildOutcome RunInChildProcess(const std::function<std::string()>& body,
                               const ChildOptions& options);
ChildOutcome RunInChildProcess(const std::function<std::string()>& body, double timeoutSeconds);

}  // namespace vhost

#endif
