// `vestrel-host validate` end to end: the real plug-in passes every check,
// and each fault injected into it is caught, named, and replayable.
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace vhost_e2e {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

HostRun Validate(const std::string& plugin, std::vector<std::string> extra,
                 const std::string& fault = "") {
  std::vector<std::string> args = {"validate", plugin, "--home", VHOST_HOME};
  args.insert(args.end(), extra.begin(), extra.end());
  std::map<std::string, std::string> env;
  if (!fault.empty())
    env = {{"VESTREL_MISBEHAVE", fault}, {"VESTREL_REAL_PLUGIN", VHOST_REAL_PLUGIN}};
  return RunHost(args, env);
}

// The line "N passed, M failed" at the end.
std::string Totals(const std::string& output) {
  size_t end = output.find_last_not_of('\n');
  size_t start = output.rfind('\n', end);
  return output.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

TEST(Validate, RealPluginPassesTheWholeBattery) {
  HostRun run = Validate(VHOST_REAL_PLUGIN, {"--time-limit", "2", "--failures-only"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(Contains(Totals(run.output), " passed, 0 failed")) << run.output;
  EXPECT_TRUE(Contains(run.output, "seed ")) << run.output;
  EXPECT_TRUE(Contains(run.output, "tried: ")) << run.output;
}

// The thorough level adds a longer, two-pass session whose calls are refused
// in turn; the quick level has none of it.
TEST(Validate, ThoroughLevelAddsTheLongSession) {
  HostRun thorough = Validate(
      VHOST_REAL_PLUGIN,
      {"--level", "thorough", "--only", "faults/long/baseline", "--only", "faults/long/call-140"});
  EXPECT_EQ(thorough.exitCode, 0) << thorough.output;
  EXPECT_TRUE(Contains(thorough.output, "thorough level")) << thorough.output;
  EXPECT_EQ(Totals(thorough.output), "2 passed, 0 failed") << thorough.output;
  HostRun quick = Validate(VHOST_REAL_PLUGIN, {"--only", "faults/long/"});
  EXPECT_EQ(Totals(quick.output), "0 passed, 0 failed") << quick.output;
}

struct InjectedFault {
  const char* fault;
  std::vector<std::string> only;  // the checks that find it, to keep the test short
  const char* named;              // how the failure names it
};

void PrintTo(const InjectedFault& fault, std::ostream* out) {
  *out << fault.fault << " named by \"" << fault.named << "\"";
}

class ValidateCatches : public testing::TestWithParam<InjectedFault> {};

TEST_P(ValidateCatches, TheInjectedFaultAndPrintsItsReplay) {
  std::vector<std::string> args = {"--seed",          "5", "--time-limit", "0", "--failures-only",
                                   "--check-timeout", "5"};
  for (const std::string& id : GetParam().only) args.insert(args.end(), {"--only", id});
  HostRun run = Validate(VHOST_MISBEHAVING_PLUGIN, args, GetParam().fault);
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_FALSE(Contains(Totals(run.output), " 0 failed")) << run.output;
  EXPECT_TRUE(Contains(run.output, GetParam().named)) << run.output;
  EXPECT_TRUE(Contains(run.output, "replay: ")) << run.output;
  EXPECT_TRUE(Contains(run.output, "--seed 5 --only ")) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    BrokenPlugins, ValidateCatches,
    testing::Values(
        InjectedFault{"keep-sample-memory",
                      {"faults/accept/baseline"},
                      "left 1 of the host's sample memory ('MMAL') unreleased"},
        InjectedFault{"keep-sample-memory",
                      {"faults/accept/baseline"},
                      "expected 'MFRE' returning the sample memory"},
        InjectedFault{"skip-closing-sync",
                      {"faults/accept/baseline"},
                      "expected 'SYNC' with flag 0 closing the sampling"},
        InjectedFault{"skip-closing-sync",
                      {"faults/accept/baseline"},
                      "'SETM' ended with the sampling still open"},
        InjectedFault{"write-past-block", {"faults/accept/baseline"}, "OVERRUN"},
        InjectedFault{"write-past-block", {"faults/accept/baseline"}, "past its end"},
        InjectedFault{"swallow-errors",
                      {"faults/accept/every-TINF"},
                      "'SETM': returned 0, the design returns"},
        InjectedFault{"crash-on-foreign-block", {"faults/xolr/baseline"}, "the check's process "},
        InjectedFault{
            "hang-in-setm", {"faults/accept/baseline"}, "the check did not finish within 5.0 s"}),
    [](const testing::TestParamInfo<InjectedFault>& info) {
      std::string name = info.param.fault + std::to_string(info.index);
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(Validate, ReplayCommandRepeatsTheFailedCheck) {
  HostRun run =
      Validate(VHOST_MISBEHAVING_PLUGIN,
               {"--seed", "11", "--only", "faults/accept", "--failures-only"}, "swallow-errors");
  ASSERT_EQ(run.exitCode, 3) << run.output;
  size_t at = run.output.find("replay: ");
  ASSERT_NE(at, std::string::npos) << run.output;
  std::string command = run.output.substr(at + 8, run.output.find('\n', at) - at - 8);
  size_t only = command.find("--only ");
  ASSERT_NE(only, std::string::npos) << command;
  std::string id = command.substr(only + 7);
  HostRun replay =
      Validate(VHOST_MISBEHAVING_PLUGIN, {"--seed", "11", "--only", id}, "swallow-errors");
  EXPECT_EQ(replay.exitCode, 3) << replay.output;
  EXPECT_TRUE(Contains(replay.output, "FAIL " + id)) << replay.output;
  EXPECT_EQ(Totals(replay.output), "0 passed, 1 failed") << replay.output;
}

TEST(Validate, SameSeedMakesTheSameRandomChecks) {
  auto checks = [](const std::string& seed) {
    HostRun run = Validate(VHOST_REAL_PLUGIN, {"--seed", seed, "--only", "answers/random/4",
                                               "--only", "blocks/random/9"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return run.output.substr(run.output.find("PASS"),
                             run.output.find("time:") - run.output.find("PASS"));
  };
  EXPECT_EQ(checks("42"), checks("42"));
  EXPECT_TRUE(Contains(checks("42"), "PASS answers/random/4"));
}

TEST(Validate, AMissingPluginIsRefused) {
  HostRun run = RunHost({"validate", std::string(VHOST_HOME) + "/no-such-plugin.so"});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_TRUE(Contains(run.output, "no such plug-in file")) << run.output;
}

}  // namespace
}  // namespace vhost_e2e
