#include "reference_host/validate/validate.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <ostream>
#include <random>

#include <nlohmann/json.hpp>

#include "reference_host/plugin_loader.h"
#include "reference_host/validate/checks.h"
#include "reference_host/child_process.h"

namespace vhost {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kExitAllPassed = 0;
constexpr int kExitNoPlugin = 2;
constexpr int kExitFailed = 3;

struct Outcome {
  std::vector<std::string> problems;
  json data = json::object();
  bool passed() const { return problems.empty(); }
};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// An id is selected by an --only entry equal to it, or naming a folder of
// ids: "faults/accept" or "faults/accept/" select every check of that session.
bool Matches(const std::string& id, const std::string& filter) {
  if (id == filter) return true;
  std::string folder = filter.empty() || filter.back() == '/' ? filter : filter + "/";
  return StartsWith(id, folder);
}

std::string ShellWord(const std::string& word) {
  if (!word.empty() &&
      word.find_first_not_of(
          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./=:+,@") ==
          std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Seconds(double seconds) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", seconds);
  return text;
}

// The first lines a check's process printed, as problems.
void AddPrintedLines(const std::string& printed, Outcome* outcome) {
  size_t start = 0;
  int lines = 0;
  while (start < printed.size() && lines < 12) {
    size_t end = printed.find('\n', start);
    std::string line =
        printed.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty()) {
      outcome->problems.push_back("printed: " + line);
      ++lines;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

// Runs the battery: the fixed checks and their follow-ups, then random rounds
// until the time is up, each reported as it ends.
class BatteryRun {
 public:
  BatteryRun(const ValidateOptions& options, std::ostream& out) : options_(options), out_(out) {}
  int Execute();

 private:
  bool Selected(const std::string& id) const;
  bool LeadsToSelected(const std::string& id) const;
  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - started_).count(); }
  Outcome Run(const Check& check);
  Outcome RunHere(const Check& check);
  Outcome RunInChild(const Check& check);
  void Report(const Check& check, const Outcome& outcome);
  void RunQueue(std::deque<Check> queue);
  void RunGenerators(const std::vector<CheckGenerator>& generators);
  std::string BaseCommand() const;
  std::string ReplayCommand(const std::string& id) const;

  const ValidateOptions& options_;
  std::ostream& out_;
  uint64_t seed_ = 0;
  bool isolate_ = false;
  CheckEnvironment environment_;
  PluginLibrary library_;  // loaded here only when the checks run in this process
  Clock::time_point started_;
  size_t passed_ = 0;
  size_t failed_ = 0;
  std::map<std::string, size_t> tried_;
};

bool BatteryRun::Selected(const std::string& id) const {
  if (options_.only.empty()) return true;
  for (const std::string& filter : options_.only) {
    if (Matches(id, filter)) return true;
  }
  return false;
}

// A check whose follow-ups may be selected runs for their sake.
bool BatteryRun::LeadsToSelected(const std::string& id) const {
  std::string folder = id.substr(0, id.rfind('/') + 1);
  for (const std::string& filter : options_.only) {
    if (StartsWith(filter, folder) || Matches(folder, filter)) return true;
  }
  return false;
}

std::string BatteryRun::ReplayCommand(const std::string& id) const {
  return BaseCommand() + " --only " + ShellWord(id);
}

// This run's command: the plug-in, the options that change what is checked,
// and the seed.
std::string BatteryRun::BaseCommand() const {
  std::string command = ShellWord(options_.program) + " validate " + ShellWord(options_.pluginPath);
  if (!options_.homeDirectory.empty()) command += " --home " + ShellWord(options_.homeDirectory);
  if (options_.memoryCheck !=
      (GuardPagesAvailable() ? MemoryCheck::kGuardPage : MemoryCheck::kCanary)) {
    command += std::string(" --memory-check ") +
               (options_.memoryCheck == MemoryCheck::kGuardPage ? "guard" : "canary");
  }
  if (!options_.isolate) command += " --no-isolation";
  return command + " --seed " + std::to_string(seed_);
}

Outcome BatteryRun::Run(const Check& check) {
  return isolate_ ? RunInChild(check) : RunHere(check);
}

Outcome BatteryRun::RunHere(const Check& check) {
  CheckContext context;
  context.environment = environment_;
  context.seed = CheckSeed(seed_, check.id);
  check.run(context);
  Outcome outcome;
  outcome.problems = context.problems;
  outcome.data = context.data;
  return outcome;
}

// In a child process the plug-in is loaded afresh (nothing the parent did can
// have touched it); the check's result comes back as one JSON line.
Outcome BatteryRun::RunInChild(const Check& check) {
  const uint64_t seed = CheckSeed(seed_, check.id);
  auto body = [&]() -> std::string {
    json result = {{"problems", json::array()}, {"data", json::object()}};
    PluginLibrary library;
    std::string message;
    if (!library.Load(options_.pluginPath, &message)) {
      result["problems"].push_back(message);
    } else {
      CheckContext context;
      context.environment = environment_;
      context.environment.entry = library.entry();
      context.seed = seed;
      check.run(context);
      result["problems"] = context.problems;
      result["data"] = context.data;
    }
    return result.dump(-1, ' ', false, json::error_handler_t::replace);
  };
  ChildOutcome child = RunInChildProcess(body, options_.checkTimeoutSeconds);

  Outcome outcome;
  json result = child.reported ? json::parse(child.report, nullptr, false) : json();
  if (result.is_object()) {
    for (const json& problem : result["problems"])
      outcome.problems.push_back(problem.get<std::string>());
    outcome.data = result["data"];
  } else {
    outcome.problems.push_back(child.reported ? "the check's report could not be read"
                                              : child.failure);
  }
  // What the process printed besides its result: the host's report of a
  // write past its memory, a sanitizer's report. Shown for failures only.
  if (!outcome.passed()) AddPrintedLines(child.printed, &outcome);
  return outcome;
}

void BatteryRun::Report(const Check& check, const Outcome& outcome) {
  ++tried_[CheckGroup(check.id)];
  if (outcome.passed()) {
    ++passed_;
    if (!options_.failuresOnly) out_ << "PASS " << check.id << "  " << check.title << "\n";
    return;
  }
  ++failed_;
  out_ << "FAIL " << check.id << "  " << check.title << "\n";
  size_t shown = 0;
  for (const std::string& problem : outcome.problems) {
    if (shown++ == 20) {
      out_ << "       ... " << (outcome.problems.size() - 20) << " more\n";
      break;
    }
    out_ << "       - " << problem << "\n";
  }
  out_ << "       replay: " << ReplayCommand(check.id) << "\n";
  out_ << std::flush;
}

void BatteryRun::RunQueue(std::deque<Check> queue) {
  while (!queue.empty()) {
    Check check = queue.front();
    queue.pop_front();
    bool selected = Selected(check.id);
    bool leads = check.followUps && LeadsToSelected(check.id);
    if (!selected && !leads) continue;
    Outcome outcome = Run(check);
    if (selected || !outcome.passed()) Report(check, outcome);
    if (check.followUps) {
      std::vector<Check> more = check.followUps(outcome.data);
      queue.insert(queue.begin(), more.begin(), more.end());
    }
  }
}

// Rounds of each generator in turn: the minimum always, then more while the
// time lasts. An --only naming one round runs just that round.
void BatteryRun::RunGenerators(const std::vector<CheckGenerator>& generators) {
  std::vector<const CheckGenerator*> active;
  for (const CheckGenerator& generator : generators) {
    bool wholeGenerator = options_.only.empty();
    for (const std::string& filter : options_.only) {
      if (StartsWith(filter, generator.prefix + "/")) {
        std::string round = filter.substr(generator.prefix.size() + 1);
        if (!round.empty() && round.find_first_not_of("0123456789") == std::string::npos) {
          Check check = generator.make(std::stoull(round));
          Report(check, Run(check));
        }
      } else if (Matches(generator.prefix, filter)) {
        wholeGenerator = true;
      }
    }
    if (wholeGenerator) active.push_back(&generator);
  }
  for (uint64_t round = 1; !active.empty(); ++round) {
    std::vector<const CheckGenerator*> still;
    for (const CheckGenerator* generator : active) {
      if (round > generator->minimumRounds && Elapsed() >= options_.timeLimitSeconds) continue;
      Check check = generator->make(round);
      Report(check, Run(check));
      still.push_back(generator);
    }
    active = still;
  }
}

int BatteryRun::Execute() {
  started_ = Clock::now();
  seed_ =
      options_.seed
          ? *options_.seed
          : (uint64_t(std::random_device{}()) ^ uint64_t(Clock::now().time_since_epoch().count())) %
                1000000000;
  isolate_ = options_.isolate && IsolationAvailable();

  std::string message;
  if (!library_.Load(options_.pluginPath, &message)) {
    fprintf(stderr, "vestrel-host: %s\n", message.c_str());
    return kExitNoPlugin;
  }
  if (isolate_) library_.Unload();  // each check's process loads its own
  environment_.entry = library_.entry();
  environment_.home = options_.homeDirectory.empty()
                          ? std::filesystem::absolute(std::filesystem::path(options_.pluginPath))
                                .parent_path()
                                .string()
                          : options_.homeDirectory;
  environment_.memoryCheck = options_.memoryCheck;
#if VHOST_CAN_HIDE_FUNCTIONS
  environment_.canHide = isolate_;  // a process of its own, whose plug-in has looked nothing up yet
#endif

  out_ << "vestrel-host validate: " << options_.pluginPath << "\n"
       << "  " << (options_.level == ValidationLevel::kThorough ? "thorough" : "quick")
       << " level, seed " << seed_ << ", time limit " << Seconds(options_.timeLimitSeconds)
       << " s, "
       << (isolate_ ? "each check in a process of its own"
                    : "every check in this process (a crash ends the run)")
       << ", " << (options_.memoryCheck == MemoryCheck::kGuardPage ? "guard pages" : "canary bands")
       << " around host memory\n"
       << "  home directory " << environment_.home << "\n"
       << std::flush;

  Battery battery = MakeBattery(options_.level);
  RunQueue(std::deque<Check>(battery.fixed.begin(), battery.fixed.end()));
  RunGenerators(battery.random);

  if (passed_ + failed_ == 0) {
    out_ << "no check has an id that --only selects\n";
  }
  static const std::vector<std::pair<std::string, std::string>> groups = {
      {"faults", "faults"},
      {"blocks", "parameter blocks"},
      {"answers", "host answers"},
      {"orders", "call orders"},
      {"saveload", "save-and-load round trips"}};
  std::string tried;
  for (const auto& group : groups) {
    if (tried_.count(group.first))
      tried +=
          (tried.empty() ? "" : ", ") + std::to_string(tried_[group.first]) + " " + group.second;
  }
  if (!tried.empty()) out_ << "tried: " << tried << "\n";
  out_ << "time: " << Seconds(Elapsed()) << " s\n";
  if (failed_ != 0) out_ << "replay the whole run with: " << BaseCommand() << "\n";
  out_ << passed_ << " passed, " << failed_ << " failed\n" << std::flush;
  return failed_ == 0 && passed_ != 0 ? kExitAllPassed : kExitFailed;
}

}  // namespace

bool IsolationAvailable() { return ChildProcessesAvailable(); }

int Validate(const ValidateOptions& options, std::ostream& out) {
  BatteryRun run(options, out);
  return run.Execute();
}

}  // namespace vhost
