// Runs vestrel-host as a separate process, the way a person or a script does,
// and reads back what it wrote: the summary, the OBJ file, the trace.
#ifndef VESTREL_REFERENCE_HOST_TESTS_E2E_SUPPORT_H
#define VESTREL_REFERENCE_HOST_TESTS_E2E_SUPPORT_H

#include <array>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vhost_e2e {

struct HostRun {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

// vestrel-host with these arguments; env adds environment variables, input
// is fed to its standard input.
HostRun RunHost(const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env = {}, const std::string& input = "");

// vestrel-host with its files limited to blocks of 512 bytes each, as on a
// nearly full disk: the signal a write past the limit raises is ignored, so
// the write fails with an error instead.
HostRun RunHostWithFileSizeLimit(const std::vector<std::string>& args, int blocks);

// vestrel-host run by a shell script, which finds the program as "$0" and
// args as "$@" (to run it in the background and signal it, or inside a
// mount namespace); stdin is empty, the script's output is kept.
HostRun RunHostInShell(const std::string& script, const std::vector<std::string>& args);

// A fresh folder for the current test's files.
std::string TestFolder();
// Writes text into a file of the test folder and returns its path.
std::string WriteFile(const std::string& name, const std::string& text);
std::string ReadFile(const std::string& path);

struct ObjVertex {
  double x, y, z, u;
};

struct ObjContent {
  std::vector<ObjVertex> vertices;
  std::vector<std::array<int, 2>> lines;  // 1-based vertex numbers
  int objects = 0;
};

ObjContent ReadObj(const std::string& path);
std::vector<nlohmann::json> ReadTrace(const std::string& path);
nlohmann::json ReadJson(const std::string& path);

// The trace events of callback calls made during one kind of entry call.
std::vector<nlohmann::json> CallsDuring(const std::vector<nlohmann::json>& trace,
                                        const std::string& entry);
// The selectors of those calls in order.
std::vector<std::string> SelectorsDuring(const std::vector<nlohmann::json>& trace,
                                         const std::string& entry);

std::string Example(const std::string& name);

// Runs a shell command and returns its output (stdout and stderr together).
std::string RunCommand(const std::string& command, int* exitCode);

}  // namespace vhost_e2e

#endif
