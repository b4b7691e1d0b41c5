// What one play of a scene did, as one value: gathered by the player as it
// goes, then rendered for people (SummaryText) and for tools (SummaryJson),
// so the two never disagree.
#ifndef VESTREL_REFERENCE_HOST_PLAY_SUMMARY_H
#define VESTREL_REFERENCE_HOST_PLAY_SUMMARY_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hostkit/dialogs.h"

namespace vhost {

// The plug-in's self-description, from 'INFO'.
struct PluginDescription {
  std::string name;
  std::string description;
  std::string copyright;
  std::string author;
  uint32_t type = 0;
  int32_t version = 0;
  int32_t flags = 0;
};

// One call of the entry and what it did.
struct EntrySummary {
  std::string instance;  // the group the call was for, in a scene of several
  uint32_t selector = 0;
  int32_t result = 0;
  int32_t frame = 0;
  std::map<uint32_t, int> hostCalls;             // callback calls by selector
  std::vector<std::string> refused;              // faults injected during it
  std::optional<PluginDescription> description;  // 'INFO'
  std::optional<uint32_t> creatorAnswered;       // 'INIT'
  std::optional<std::string> blockAfter;         // 'INIT', 'INTF': the block, as a line
  std::optional<DialogRun> dialog;               // 'INTF', when a dialog ran
  struct Capture {
    int framesSampled = 0;
    int32_t pointsStored = 0;
    bool resetSent = false;
    bool pathChanged = false;
  };
  std::optional<Capture> capture;  // 'SETM'
  struct Model {
    size_t vertices = 0;
    size_t polygons = 0;
  };
  std::optional<Model> model;  // 'GENM'
};

struct ResourceSummary {
  std::string kind;
  size_t obtained = 0;
  size_t released = 0;  // by the plug-in
  size_t leaked = 0;
};

struct PlaySummary {
  std::string sceneName;
  std::string sceneSource;
  int32_t firstFrame = 0;
  int32_t lastFrame = 0;
  size_t objects = 0;
  size_t groups = 1;  // instances of the plug-in in the scene
  uint32_t creator = 0;
  int32_t renderFirst = 0;
  int32_t renderLast = 0;
  std::string initialBlock;  // as a line
  std::string pluginPath;
  std::vector<EntrySummary> calls;
  std::vector<uint8_t> finalBlock;
  uint64_t hostCalls = 0;
  std::map<uint32_t, int> hostCallTotals;
  std::map<std::string, int> functionsCalled;
  std::map<std::string, int> functionsLookedUp;
  std::vector<std::string> faults;
  std::vector<ResourceSummary> resources;
  std::vector<std::string> violations;
  std::vector<std::string> overruns;
  std::vector<std::string> leaks;
  std::vector<std::string> notes;
  bool functionsCanBeHidden = false;
  std::vector<std::string> written;
  int exitCode = 0;
};

// A block as one line: "68 bytes, native byte order; angle tolerance 5, ...".
std::string BlockLine(const std::vector<uint8_t>& bytes);

std::string SummaryText(const PlaySummary& summary);
std::string SummaryJson(const PlaySummary& summary);

}  // namespace vhost

#endif
