#include "reference_host/import/sandbox.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <new>

#include "reference_host/child_process.h"

namespace vhost {

namespace {

constexpr uint64_t kMegabyte = uint64_t(1) << 20;
// The answer is a scene (bounded like every scene file) or a listing.
constexpr size_t kMaxAnswerBytes = size_t(256) << 20;
// The files a reading may hold open at once: the file, a buffer, the
// libraries' own.
constexpr uint64_t kReaderOpenFiles = 64;

// Fields of the answer, each "name length\n" and its bytes: any bytes may be
// in a field, and nothing in one can be taken for the next.
void AddField(std::string* out, const std::string& name, const std::string& value) {
  *out += name + " " + std::to_string(value.size()) + "\n" + value;
}

bool TakeField(const std::string& text, size_t* at, std::string* name, std::string* value) {
  size_t space = text.find(' ', *at), newline = text.find('\n', *at);
  if (space == std::string::npos || newline == std::string::npos || space > newline) return false;
  char* end = nullptr;
  unsigned long long length = strtoull(text.c_str() + space + 1, &end, 10);
  if (end != text.c_str() + newline || length > text.size() - newline - 1) return false;
  *name = text.substr(*at, space - *at);
  *value = text.substr(newline + 1, size_t(length));
  *at = newline + 1 + size_t(length);
  return true;
}

std::string MemoryText(uint64_t megabytes) {
  return "more memory than the " + std::to_string(megabytes) +
         " MB the reading may use (--max-memory)";
}

bool MeansNoMemory(const std::string& error) {
  return error.find("bad_alloc") != std::string::npos ||
         error.find("bad_array_new_length") != std::string::npos;
}

std::string Answer(const std::string* bytes, const ImportRequest& request) {
  std::string out;
  AnimationFile file;
  std::string error;
  bool read = bytes != nullptr ? ParseAnimationFile(*bytes, request.path, &file, &error)
                               : ReadAnimationFile(request.path, &file, &error);
  if (!read) {
    // A library that reports a failed allocation as its message ran out of
    // the memory it may use.
    if (MeansNoMemory(error))
      error = request.path + ": not a readable animation file: it needs " +
              MemoryText(request.maxMemoryMegabytes);
    AddField(&out, "error", error);
    return out;
  }
  for (const std::string& read : file.filesRead) AddField(&out, "read", read);
  if (request.list) {
    AddField(&out, "list", ListText(file));
    return out;
  }
  ImportResult result = ImportScene(file, request.options, request.limits);
  if (!result.scene) {
    AddField(&out, "error", result.error);
    return out;
  }
  AddField(&out, "report", ReportLine(result.report));
  AddField(&out, "scene", result.sceneText);
  return out;
}

#if !defined(_WIN32)
// What ended the reading process, and the limit it may have met.
std::string DeathReason(const ChildOutcome& outcome, const ImportRequest& request) {
  std::string memory =
      AddressSpaceLimitAvailable()
          ? "its " + std::to_string(request.maxMemoryMegabytes) + " MB of memory (--max-memory)"
          : "the machine's memory";
  const std::string stack = "its " + std::to_string(kReaderStackMegabytes) + " MB stack";
  if (outcome.timedOut)
    return "the reading did not finish within " + std::to_string(int(kReaderWallSeconds)) + " s";
  if (outcome.tooMuchOutput) return outcome.failure;
  switch (outcome.signal) {
    case SIGXCPU:
      return "the reading used up its " + std::to_string(kReaderCpuSeconds) +
             " s of processor time (" + outcome.failure + ")";
    case SIGKILL:
      return outcome.failure + ": its " + std::to_string(kReaderCpuSeconds) +
             " s of processor time, or the system, ended it";
    case SIGABRT:
      return outcome.failure + ": a reader gave up on the file (an assertion), or " + memory +
             " ran out";
    case SIGSEGV:
    case SIGBUS:
      return outcome.failure + ": a reader crashed on the file, or " + stack + " or " + memory +
             " ran out";
    default: return outcome.failure;
  }
}
#endif

}  // namespace

std::string AnswerImport(const ImportRequest& request) { return AnswerImportOf(nullptr, request); }

std::string AnswerImportOf(const std::string* bytes, const ImportRequest& request) {
  try {
    return Answer(bytes, request);
  } catch (const std::bad_alloc&) {
    std::string out;
    AddField(&out, "error",
             request.path + ": not a readable animation file: it needs " +
                 MemoryText(request.maxMemoryMegabytes));
    return out;
  }
}

bool DecodeImportAnswer(const std::string& text, ImportAnswer* answer) {
  *answer = ImportAnswer();
  std::string name, value;
  bool some = false;
  for (size_t at = 0; at < text.size();) {
    if (!TakeField(text, &at, &name, &value)) return false;
    if (name == "error") {
      answer->error = value;
    } else if (name == "list") {
      answer->listText = value;
    } else if (name == "report") {
      answer->reportLine = value;
    } else if (name == "scene") {
      answer->sceneText = value;
    } else if (name == "read") {
      answer->filesRead.push_back(value);
    } else {
      return false;
    }
    some = some || name != "read";
  }
  return some;
}

ImportAnswer ImportInSandbox(const ImportRequest& request) {
  ImportAnswer answer;
  auto body = [&request] { return AnswerImport(request); };
  if (!ChildProcessesAvailable()) {
    DecodeImportAnswer(body(), &answer);
    return answer;
  }
#if !defined(_WIN32)
  ChildOptions options;
  options.timeoutSeconds = kReaderWallSeconds;
  options.limits.addressSpaceBytes = request.maxMemoryMegabytes * kMegabyte;
  options.limits.stackBytes = kReaderStackMegabytes * kMegabyte;
  options.limits.cpuSeconds = kReaderCpuSeconds;
  options.limits.noNewFiles = true;
  options.limits.openFiles = kReaderOpenFiles;
  options.maxOutputBytes = kMaxAnswerBytes;
  options.name = "the reading process";
  options.task = "the reading";
  ChildOutcome outcome = RunInChildProcess(body, options);
  if (outcome.reported && DecodeImportAnswer(outcome.report, &answer)) return answer;
  answer = ImportAnswer();
  answer.error = request.path + ": not a readable animation file: " +
                 (outcome.reported ? "the reading process handed back no answer"
                                   : DeathReason(outcome, request));
#endif
  return answer;
}

}  // namespace vhost
