// The reading and sampling of an animation file in a process of its own.
// Three libraries the project did not write parse files from anywhere; one
// aborts on bad input by design, and none bounds its memory or its recursion.
// So the whole of it runs in a child process under limits set before the file
// is opened (address space, stack, processor time, no new files), and the
// child hands the parent the finished scene as the scene file's own text, or
// one message. The parent alone writes outputs. A child that dies is one
// message naming the file and the limit it may have met.
#ifndef VESTREL_REFERENCE_HOST_IMPORT_SANDBOX_H
#define VESTREL_REFERENCE_HOST_IMPORT_SANDBOX_H

#include <stdint.h>

#include <string>
#include <vector>

#include "reference_host/import/import.h"

namespace vhost {

// The default bound on the reading process's memory, in megabytes.
constexpr uint64_t kDefaultMaxMemoryMegabytes = 2048;
// Its stack and its processor time; the wall clock allows for a busy machine.
constexpr uint64_t kReaderStackMegabytes = 8;
constexpr uint64_t kReaderCpuSeconds = 120;
constexpr double kReaderWallSeconds = 300;

struct ImportRequest {
  std::string path;
  ImportOptions options;
  SceneLimits limits;
  bool list = false;  // the listing instead of a scene
  uint64_t maxMemoryMegabytes = kDefaultMaxMemoryMegabytes;
};

// What the reading hands back. Every text from the file in listText and
// reportLine is already made printable; sceneText keeps the file's texts.
struct ImportAnswer {
  std::string error;                   // "<file>: <what is wrong>"; empty when the rest holds
  std::string listText;                // for a listing
  std::string reportLine;              // "import: <file>, node ...", for a scene
  std::string sceneText;               // the scene, as the scene file's text
  std::vector<std::string> filesRead;  // every file the reading opened besides the animation file
};

// What the child runs: reads, checks, samples, and encodes the answer.
std::string AnswerImport(const ImportRequest& request);
// The same for bytes already read (the fuzz target's), as the file at
// request.path would be; null bytes: the file is read.
std::string AnswerImportOf(const std::string* bytes, const ImportRequest& request);
// Decodes what AnswerImport made; false when the text is not such an answer.
bool DecodeImportAnswer(const std::string& text, ImportAnswer* answer);

// Reads and samples in a child process under the request's limits (in this
// process, with the same checks, where the platform has no fork()).
ImportAnswer ImportInSandbox(const ImportRequest& request);

}  // namespace vhost

#endif
