#include "reference_host/validate/child_process.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <chrono>

#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#define VHOST_HAVE_FORK 1
#else
#define VHOST_HAVE_FORK 0
#endif

namespace vhost {

bool ChildProcessesAvailable() { return VHOST_HAVE_FORK != 0; }

#if VHOST_HAVE_FORK
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kReportMark = '\x1e';  // starts the child's report

[[noreturn]] void ChildMain(const std::function<std::string()>& body, int fd) {
  dup2(fd, 1);
  dup2(fd, 2);
  std::string line = std::string(1, kReportMark) + body() + "\n";
  for (size_t written = 0; written < line.size();) {
    ssize_t n = write(fd, line.data() + written, line.size() - written);
    if (n <= 0) break;
    written += size_t(n);
  }
  _exit(0);  // no destructors: the plug-in's and the host's state die with the process
}

std::string DeathText(int status) {
  if (WIFSIGNALED(status)) {
    int signal = WTERMSIG(status);
    const char* name = strsignal(signal);
    return "the check's process died of signal " + std::to_string(signal) + " (" +
           (name != nullptr ? name : "?") + ")";
  }
  if (WIFEXITED(status))
    return "the check's process ended with exit code " + std::to_string(WEXITSTATUS(status)) +
           " before reporting";
  return "the check's process ended before reporting";
}

// Everything the child writes until it closes its end or the deadline passes.
std::string ReadUntil(int fd, Clock::time_point deadline, bool* timedOut) {
  std::string text;
  for (;;) {
    int left =
        int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (left <= 0) {
      *timedOut = true;
      return text;
    }
    struct pollfd watch = {fd, POLLIN, 0};
    int ready = poll(&watch, 1, left);
    if (ready <= 0) continue;  // interrupted, or nothing yet: the deadline decides
    char buffer[65536];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return text;
    text.append(buffer, size_t(n));
  }
}

}  // namespace

ChildOutcome RunInChildProcess(const std::function<std::string()>& body, double timeoutSeconds) {
  ChildOutcome outcome;
  int fds[2];
  if (pipe(fds) != 0) {
    outcome.failure = "no pipe for the check's process";
    return outcome;
  }
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    outcome.failure = "the check's process could not be started";
    return outcome;
  }
  if (pid == 0) {
    close(fds[0]);
    ChildMain(body, fds[1]);
  }
  close(fds[1]);
  bool timedOut = false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(int64_t(timeoutSeconds * 1000));
  std::string text = ReadUntil(fds[0], deadline, &timedOut);
  if (timedOut) kill(pid, SIGKILL);
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  size_t mark = text.rfind(kReportMark);
  outcome.printed = text.substr(0, mark == std::string::npos ? text.size() : mark);
  outcome.reported =
      !timedOut && mark != std::string::npos && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (outcome.reported) {
    outcome.report = text.substr(mark + 1);
    if (!outcome.report.empty() && outcome.report.back() == '\n') outcome.report.pop_back();
  } else if (timedOut) {
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%.1f", timeoutSeconds);
    outcome.failure =
        std::string("the check did not finish within ") + seconds + " s: the plug-in hangs";
  } else {
    outcome.failure = DeathText(status);
  }
  return outcome;
}

#else

ChildOutcome RunInChildProcess(const std::function<std::string()>&, double) {
  ChildOutcome outcome;
  outcome.failure = "this platform cannot run a check in a process of its own";
  return outcome;
}

#endif

}  // namespace vhost
