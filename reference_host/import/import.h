// `vestrel-host import`: a node's motion taken from an animation file made
// elsewhere (glTF 2.0) and sampled at frame times into a scene of the
// reference host, which `play` then plays like any scene file.
#ifndef VESTREL_REFERENCE_HOST_IMPORT_IMPORT_H
#define VESTREL_REFERENCE_HOST_IMPORT_IMPORT_H

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "hostkit/scene.h"
#include "reference_host/import/animation.h"

namespace vhost {

struct ImportOptions {
  // Each node named is traced by a group of the plug-in of its own; empty:
  // the one node the animation moves.
  std::vector<std::string> nodes;
  bool allAnimatedNodes = false;  // every node the clip moves, in node order
  std::string animation;  // name or index; empty: the only one
  double fps = 0;         // 0: the file's own frame rate, else 24
  std::string frames;     // "A:B"; empty: the whole animation
  char up = 0;            // the file's up axis, 'y' or 'z'; 0: the format's (Y for glTF)
  double scale = 1;
  Vec3 offset;  // a point fixed to the node, in its own axes
};

// What was sampled, for the summary line.
struct ImportReport {
  std::string file;
  std::vector<std::string> nodes;
  std::string animation;
  double fps = 0;
  std::string fpsOrigin;  // where the rate came from: "--fps", "the file", ...
  int32_t firstFrame = 0;
  int32_t lastFrame = 0;
  double duration = 0;    // of the sampled range, seconds
  std::vector<double> pathLengths;  // of each node's sampled positions, in scene units
};

struct ImportResult {
  std::optional<Scene> scene;
  std::string sceneText;  // the scene as a scene file (JSON)
  ImportReport report;
  std::string error;  // "<file>: <what is wrong>" when scene is empty
};

// True for the extensions the import reads.
bool IsAnimationFile(const std::string& path);

// Reads an animation file of any supported format: the file is read once,
// bounded, then parsed. False with "<path>: <what is wrong>".
bool ReadAnimationFile(const std::string& path, AnimationFile* file, std::string* error);
// Parses bytes as the animation file at path would be (the extension picks
// the format; a .gltf file's buffers are looked for beside path).
bool ParseAnimationFile(const std::string& bytes, const std::string& path, AnimationFile* file,
                        std::string* error);

// Samples the chosen node of the chosen clip into a scene.
ImportResult ImportScene(const AnimationFile& file, const ImportOptions& options,
                         const SceneLimits& limits = {});
// Reads the file and imports it.
ImportResult ImportAnimation(const std::string& path, const ImportOptions& options,
                             const SceneLimits& limits = {});

// The node tree with the animated nodes marked, and each clip's name,
// channels and duration.
std::string ListText(const AnimationFile& file);

// "import: <file>, node ..., N frames at F fps (D s), path length L".
std::string ReportLine(const ImportReport& report);

}  // namespace vhost

#endif
