#include "reference_host/child_process.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <chrono>

#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#define VHOST_HAVE_FORK 1
#else
#define VHOST_HAVE_FORK 0
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VHOST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define VHOST_SANITIZED 1
#endif
#endif
#ifndef VHOST_SANITIZED
#define VHOST_SANITIZED 0
#endif

namespace vhost {

bool ChildProcessesAvailable() { return VHOST_HAVE_FORK != 0; }

bool AddressSpaceLimitAvailable() { return VHOST_HAVE_FORK != 0 && VHOST_SANITIZED == 0; }

#if VHOST_HAVE_FORK
namespace {

using Clock = std::chrono::steady_clock;

// The child's report comes last, framed so that any bytes can be in it and
// whatever the child printed before cannot be taken for it:
// MARK report MARK <16 hex digits: the report's length>.
constexpr char kReportMark = '\x1e';
constexpr size_t kLengthDigits = 16;

void SetLimit(int resource, uint64_t value) {
  struct rlimit limit;
  if (getrlimit(resource, &limit) != 0) return;
  rlim_t wanted = rlim_t(value);
  if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) wanted = limit.rlim_max;
  limit.rlim_cur = wanted;
  setrlimit(resource, &limit);
}

void SetLimits(const ChildLimits& limits) {
  if (limits.addressSpaceBytes != 0 && AddressSpaceLimitAvailable())
    SetLimit(RLIMIT_AS, limits.addressSpaceBytes);
  if (limits.stackBytes != 0) SetLimit(RLIMIT_STACK, limits.stackBytes);
  if (limits.cpuSeconds != 0) SetLimit(RLIMIT_CPU, limits.cpuSeconds);
  if (limits.openFiles != 0) SetLimit(RLIMIT_NOFILE, limits.openFiles);
  if (limits.noNewFiles) {
    SetLimit(RLIMIT_FSIZE, 0);
    SetLimit(RLIMIT_CORE, 0);
  }
}

void WriteAll(int fd, const std::string& bytes) {
  for (size_t written = 0; written < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += size_t(n);
  }
}

[[noreturn]] void ChildMain(const std::function<std::string()>& body, const ChildLimits& limits,
                            int fd) {
  dup2(fd, 1);
  dup2(fd, 2);
  // Writing to a reader that is gone ends the child quietly, not the parent.
  signal(SIGPIPE, SIG_DFL);
  SetLimits(limits);
  std::string report = body();
  char length[kLengthDigits + 1];
  snprintf(length, sizeof length, "%016llx", static_cast<unsigned long long>(report.size()));
  WriteAll(fd, std::string(1, kReportMark) + report + std::string(1, kReportMark) + length);
  _exit(0);  // no destructors: the plug-in's and the host's state die with the process
}

std::string DeathText(const std::string& name, int status) {
  if (WIFSIGNALED(status)) {
    int signal = WTERMSIG(status);
    const char* text = strsignal(signal);
    return name + " died of signal " + std::to_string(signal) + " (" +
           (text != nullptr ? text : "?") + ")";
  }
  if (WIFEXITED(status))
    return name + " ended with exit code " + std::to_string(WEXITSTATUS(status)) +
           " before reporting";
  return name + " ended before reporting";
}

enum class ReadEnd { kClosed, kTimedOut, kTooMuch };

// Everything the child writes until it closes its end, the deadline passes or
// it has written more than maxBytes.
ReadEnd ReadUntil(int fd, Clock::time_point deadline, size_t maxBytes, std::string* text) {
  for (;;) {
    int left =
        int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (left <= 0) return ReadEnd::kTimedOut;
    struct pollfd watch = {fd, POLLIN, 0};
    int ready = poll(&watch, 1, left);
    if (ready <= 0) continue;  // interrupted, or nothing yet: the deadline decides
    char buffer[65536];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ReadEnd::kClosed;
    if (text->size() + size_t(n) > maxBytes) return ReadEnd::kTooMuch;
    text->append(buffer, size_t(n));
  }
}

// Splits the child's output into what it printed and its framed report.
bool SplitReport(const std::string& text, std::string* printed, std::string* report) {
  *printed = text;
  const size_t tail = 1 + kLengthDigits;
  if (text.size() < tail + 1 || text[text.size() - tail] != kReportMark) return false;
  unsigned long long length = strtoull(text.c_str() + text.size() - kLengthDigits, nullptr, 16);
  if (length > text.size() - tail - 1) return false;
  size_t start = text.size() - tail - size_t(length);
  if (text[start - 1] != kReportMark) return false;
  *report = text.substr(start, size_t(length));
  *printed = text.substr(0, start - 1);
  return true;
}

}  // namespace

ChildOutcome RunInChildProcess(const std::function<std::string()>& body,
                               const ChildOptions& options) {
  ChildOutcome outcome;
  int fds[2];
  if (pipe(fds) != 0) {
    outcome.failure = "no pipe for " + options.name;
    return outcome;
  }
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    outcome.failure = options.name + " could not be started";
    return outcome;
  }
  if (pid == 0) {
    close(fds[0]);
    ChildMain(body, options.limits, fds[1]);
  }
  close(fds[1]);
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(int64_t(options.timeoutSeconds * 1000));
  std::string text;
  ReadEnd end = ReadUntil(fds[0], deadline, options.maxOutputBytes, &text);
  if (end != ReadEnd::kClosed) kill(pid, SIGKILL);
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.timedOut = end == ReadEnd::kTimedOut;
  outcome.tooMuchOutput = end == ReadEnd::kTooMuch;
  bool framed = SplitReport(text, &outcome.printed, &outcome.report);
  outcome.reported =
      end == ReadEnd::kClosed && framed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!outcome.reported) outcome.report.clear();
  if (outcome.reported) return outcome;
  if (outcome.timedOut) {
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%.1f", options.timeoutSeconds);
    outcome.failure = options.task + " did not finish within " + seconds + " s" + options.hangText;
  } else if (outcome.tooMuchOutput) {
    outcome.failure = options.name + " handed back more than " +
                      std::to_string(options.maxOutputBytes) + " bytes";
  } else {
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    outcome.failure = DeathText(options.name, status);
  }
  return outcome;
}

#else

ChildOutcome RunInChildProcess(const std::function<std::string()>&, const ChildOptions& options) {
  ChildOutcome outcome;
  outcome.failure = "this platform cannot run " + options.task + " in a process of its own";
  return outcome;
}

#endif

ChildOutcome RunInChildProcess(const std::function<std::string()>& body, double timeoutSeconds) {
  ChildOptions options;
  options.timeoutSeconds = timeoutSeconds;
  options.name = "the check's process";
  options.task = "the check";
  options.hangText = ": the plug-in hangs";
  return RunInChildProcess(body, options);
}

}  // namespace vhost
