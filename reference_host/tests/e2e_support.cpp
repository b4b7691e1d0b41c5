#include "e2e_support.h"

#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace vhost_e2e {

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a shell command line and keeps what it printed and how it ended.
HostRun RunCommand(const std::string& command) {
  HostRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace

std::string TestFolder() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  fs::path folder = fs::path(VHOST_E2E_WORK) / name;
  static std::string prepared;
  if (prepared != folder.string()) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    prepared = folder.string();
  }
  return folder.string();
}

std::string WriteFile(const std::string& name, const std::string& text) {
  std::string path = TestFolder() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

HostRun RunHost(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                const std::string& input) {
  // A host that waits on an input for good fails the test instead of hanging it.
  std::string command = "timeout 120 env";
  for (const auto& entry : env) command += " " + Quote(entry.first + "=" + entry.second);
  command += " " + Quote(VHOST_EXECUTABLE);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " 2>&1 < " + Quote(WriteFile("stdin.txt", input));
  return RunCommand(command);
}

HostRun RunHostInShell(const std::string& script, const std::vector<std::string>& args) {
  std::string command = "timeout 120 /bin/sh -c " + Quote(script) + " " + Quote(VHOST_EXECUTABLE);
  for (const std::string& arg : args) command += " " + Quote(arg);
  return RunCommand(command + " 2>&1 < /dev/null");
}

HostRun RunHostWithFileSizeLimit(const std::vector<std::string>& args, int blocks) {
  std::string command =
      "/bin/sh -c " +
      Quote("trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; exec \"$0\" \"$@\"") + " " +
      Quote(VHOST_EXECUTABLE);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " 2>&1 < /dev/null";
  return RunCommand(command);
}

ObjContent ReadObj(const std::string& path) {
  ObjContent obj;
  std::istringstream lines(ReadFile(path));
  std::string line;
  std::vector<double> us;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "v") {
      ObjVertex v{0, 0, 0, 0};
      fields >> v.x >> v.y >> v.z;
      obj.vertices.push_back(v);
    } else if (kind == "vt") {
      double u;
      fields >> u;
      us.push_back(u);
    } else if (kind == "l") {
      std::string a, b;
      fields >> a >> b;
      obj.lines.push_back({std::stoi(a), std::stoi(b)});
    } else if (kind == "o") {
      ++obj.objects;
    }
  }
  for (size_t i = 0; i < obj.vertices.size() && i < us.size(); ++i) obj.vertices[i].u = us[i];
  return obj;
}

std::vector<nlohmann::json> ReadTrace(const std::string& path) {
  std::vector<nlohmann::json> events;
  std::istringstream lines(ReadFile(path));
  std::string line;
  while (std::getline(lines, line)) events.push_back(nlohmann::json::parse(line));
  return events;
}

nlohmann::json ReadJson(const std::string& path) { return nlohmann::json::parse(ReadFile(path)); }

std::vector<nlohmann::json> CallsDuring(const std::vector<nlohmann::json>& trace,
                                        const std::string& entry) {
  std::vector<nlohmann::json> calls;
  for (const nlohmann::json& event : trace) {
    if (event.contains("call") && event["during"] == entry) calls.push_back(event);
  }
  return calls;
}

std::vector<std::string> SelectorsDuring(const std::vector<nlohmann::json>& trace,
                                         const std::string& entry) {
  std::vector<std::string> selectors;
  for (const nlohmann::json& call : CallsDuring(trace, entry)) selectors.push_back(call["call"]);
  return selectors;
}

std::string Example(const std::string& name) { return std::string(VHOST_EXAMPLES) + "/" + name; }

std::string RunCommand(const std::string& command, int* exitCode) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char chunk[4096];
  size_t n;
  while (pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  int status = pipe ? pclose(pipe) : -1;
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

}  // namespace vhost_e2e
