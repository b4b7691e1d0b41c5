// The scene a host plays: the frame range, the objects in index order with
// their parents and motion, the group's two matrices, the host's creator code,
// the user's answers at the dialog and, optionally, the parameter block stored
// with the scene. The model only; files are read elsewhere (the reference
// host's scene files are JSON), into this model and within SceneLimits.
#ifndef VESTREL_HOSTKIT_SCENE_H
#define VESTREL_HOSTKIT_SCENE_H

#include <stdint.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vhost {

struct Vec3 {
  double x = 0;
  double y = 0;
  double z = 0;
};

using Matrix4 = std::array<double, 16>;  // row-major; row vector times matrix
Matrix4 IdentityMatrix();

struct Keyframe {
  int32_t frame = 0;
  Vec3 position;
};

enum class MotionKind { kStatic, kKeyframes, kHelix, kCircle, kPath };
enum class Interpolation { kLinear, kSmooth };

// How an object moves. Positions are what the host reports with 'TOBJ'.
struct Motion {
  MotionKind kind = MotionKind::kStatic;
  Vec3 position;               // static
  std::vector<Keyframe> keys;  // keyframes, frames increasing
  Interpolation interpolation = Interpolation::kLinear;
  Vec3 center;  // helix, circle
  double radius = 1;
  double framesPerTurn = 48;
  double risePerTurn = 0;  // helix: along the axis per turn
  double phaseDegrees = 0;
  char axis = 'z';                // the axis the turn goes round
  int32_t startFrame = 0;         // helix, circle, path: frame of the start
  std::vector<Vec3> points;       // path: the corners
  int32_t framesPerSegment = 10;  // path: frames from one point to the next
  int32_t pauseFrames = 0;        // path: frames spent at each point

  // The position at a frame.
  Vec3 At(int32_t frame) const;
};

struct SceneObject {
  std::string name;
  int32_t parent = -1;         // index of the parent object, -1 for none
  bool nullReference = false;  // the host reports a null reference for it
  Motion motion;
  // A host's own references, for a host that numbers its objects itself (the
  // unit tests' host): the object's, and its parent's, which need not be an
  // object of the scene (0: none). Unset, both are made from the indices.
  std::optional<uintptr_t> reference;
  std::optional<uintptr_t> parentReference;
};

// The user's answers at the dialog. Texts go into edit controls, values into
// buttons, keyed by control id; accept says which button closes the dialog.
struct DialogAnswers {
  std::map<int32_t, std::string> texts;
  std::map<int32_t, int32_t> values;
  bool accept = true;
};

// The control ids of the plug-in's dialog that the friendly names stand for.
constexpr int32_t kAngleControl = 3;
constexpr int32_t kFreezeControl = 4;
constexpr int32_t kReverseControl = 5;

// Where an imported scene's motion came from, carried into every file written
// from it: the source file (its name, not its folder), the node, the clip, the
// frame rate and range, the attribution text, and how the file's axes and
// units were turned into the host's (up 'y': +90 degrees about x; then scale),
// so that a writer can turn the line back into the source's own frame.
struct SceneSource {
  std::string file;
  std::string format;
  std::string node;
  std::string animation;
  double fps = 0;
  int32_t firstFrame = 0;
  int32_t lastFrame = 0;
  std::string copyright;
  char up = 'z';  // 'z': the file's axes were kept
  double scale = 1;
};

struct Scene {
  std::string name = "scene";
  std::string description;
  int32_t firstFrame = 0;
  int32_t lastFrame = 0;
  std::vector<SceneObject> objects;  // index 0 is the plug-in's own group
  Matrix4 groupMatrix = IdentityMatrix();
  Matrix4 blurMatrix = IdentityMatrix();
  uint32_t creator = 0;  // set by the parser; 'VHST' unless the file says
  std::optional<DialogAnswers> dialog;
  std::optional<std::vector<uint8_t>> block;  // the parameter block stored with the scene
  int32_t firstVertexIndex = 0;               // 'ADDV' hands out first, first + 1, ...
  // Frames at which the host asks for the model ('SETM' then 'GENM'); one
  // pass at the first frame when the file names none.
  int32_t renderFirst = 0;
  int32_t renderLast = 0;
  std::optional<SceneSource> source;  // an imported scene's origin
  // A scene with several groups of the plug-in: each instance is a scene of
  // its own (its group at index 0, its objects, matrices, dialog and block)
  // sharing this scene's frames, creator and render range. Empty: the scene
  // itself is the one instance.
  std::vector<Scene> instances;
};

// The longest name (of a scene, of an object) and description a scene file
// may hold, in bytes of UTF-8.
constexpr size_t kMaxSceneNameBytes = 256;
constexpr size_t kMaxSceneDescriptionBytes = size_t(1) << 16;

struct SceneLimits {
  int64_t maxFrames = 100000;      // frames in the animation's range
  int64_t maxRenderFrames = 1000;  // passes of 'SETM' and 'GENM'
  int64_t maxSamples = 2000000;    // frames sampled over all passes (at least maxFrames)
  size_t maxObjects = 10000;
  size_t maxKeys = 100000;
  size_t maxPathPoints = 100000;
  size_t maxBlockPoints = 1000000;
  double maxCoordinate = 1e12;  // bound on every coordinate and matrix element
  size_t maxFileBytes = size_t(16) << 20;
};

}  // namespace vhost

#endif
