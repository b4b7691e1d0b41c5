// `vestrel-host play`: loads the plug-in, plays a scene through it ('INFO',
// 'INIT', optionally 'INTF', then 'SETM' and 'GENM' for each render frame),
// writes what the user asked for and prints a summary.
#ifndef VESTREL_REFERENCE_HOST_PLAY_PLAYER_H
#define VESTREL_REFERENCE_HOST_PLAY_PLAYER_H

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "reference_host/play/block_file.h"
#include "hostkit/faults.h"
#include "hostkit/guarded_heap.h"
#include "reference_host/play/safe_files.h"
#include "reference_host/play/scene_file.h"

namespace vhost {

// Exit codes of vestrel-host.
constexpr int kExitOk = 0;
constexpr int kExitBadInput = 1;     // scene, options, block or output files
constexpr int kExitNoPlugin = 2;     // the plug-in or its entry is missing
constexpr int kExitPluginFault = 3;  // violation, overrun or leak by the plug-in

enum class CallOrder { kGroupByGroup, kSetupPassFirst };

struct PlayOptions {
  std::string scenePath;      // empty: the embedded default scene
  std::string sceneText;      // when set, the scene's JSON, made from scenePath (an import)
  std::string pluginPath;     // empty: the plug-in built beside vestrel-host
  std::string homeDirectory;  // empty: the plug-in's folder
  std::string outDirectory;   // writes <scene>.obj and <scene>.svg there
  std::string objPath;
  std::string svgPath;
  std::string gltfPath;  // the line as glTF: .glb by extension, else .gltf
  bool objInSourceAxes = false;  // the OBJ in the source's frame, as the glTF, not the host's
  bool html = false;      // write the 3-D page: to htmlPath, else <scene>.html under outDirectory
  std::string htmlPath;
  std::string tracePath;
  std::string summaryJsonPath;
  // Blocks saved at the end and loaded at the start: "PATH" for a scene of
  // one group, "INSTANCE=PATH" naming the group in a scene of several.
  std::vector<std::string> saveBlocks;
  std::vector<std::string> loadBlocks;
  // The order of 'SETM' and 'GENM' over the groups of a scene at a render
  // frame: each group's 'SETM' then its 'GENM' (a host that builds one group's
  // model at a time), or every 'SETM' first (one set-up pass, then one
  // generation pass).
  CallOrder callOrder = CallOrder::kGroupByGroup;
  // With --gltf: the animation file the scene was imported from, written
  // whole into the .glb with the lines beside it.
  std::string withSourcePath;
  // Files the run reads besides the scene, the block, the plug-in and the
  // resource files (those an animation file names): no output may be one.
  std::vector<RunFile> otherInputs;
  // The byte order of stored blocks: --save-block writes in it (native when
  // unset), and a block from --load-block is turned into it before the
  // plug-in sees it (handed over as stored when unset).
  std::optional<ByteOrder> blockOrder;
  bool interactive = false;
  std::optional<bool> sendDialog;  // unset: when the scene answers a dialog or --interactive
  MemoryCheck memoryCheck = GuardPagesAvailable() ? MemoryCheck::kGuardPage : MemoryCheck::kCanary;
  SceneLimits limits;
  FaultPlan faults;
};

// The plug-in file that vestrel-host loads when none is named.
std::string DefaultPluginPath();

// Plays and returns the exit code. The summary goes to out, messages to stderr.
int Play(const PlayOptions& options, std::ostream& out);

}  // namespace vhost

#endif
