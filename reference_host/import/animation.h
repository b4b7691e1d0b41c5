// The animation of an imported file, independent of its format: the node tree
// with each node's rest transform, and the clips with their keyed channels.
// The evaluation is exact and our own: no reader library evaluates an
// animation at a given time, and the one that reads every format drops the
// STEP and CUBICSPLINE interpolation of glTF.
#ifndef VESTREL_REFERENCE_HOST_IMPORT_ANIMATION_H
#define VESTREL_REFERENCE_HOST_IMPORT_ANIMATION_H

#include <array>
#include <string>
#include <vector>

#include "hostkit/scene.h"

#include <stdint.h>

namespace vhost {

using Quaternion = std::array<double, 4>;  // x, y, z, w (glTF's order)

enum class ChannelPath { kTranslation, kRotation, kScale };
enum class KeyInterpolation { kStep, kLinear, kCubicSpline };

struct AnimationChannel {
  int node = -1;
  ChannelPath path = ChannelPath::kTranslation;
  KeyInterpolation interpolation = KeyInterpolation::kLinear;
  std::vector<double> times;  // seconds, strictly increasing
  // One value per key (x, y, z and, for rotations, w); three per key for
  // CUBICSPLINE: in-tangent, value, out-tangent.
  std::vector<std::array<double, 4>> values;
};

struct AnimationClip {
  std::string name;
  std::vector<AnimationChannel> channels;
  double Start() const;  // the first key time over all channels
  double End() const;    // the last key time over all channels
};

struct AnimationNode {
  std::string name;
  int parent = -1;
  bool hasMatrix = false;
  std::array<double, 16> matrix{};  // column-major, as glTF stores it
  Vec3 translation;
  Quaternion rotation{0, 0, 0, 1};
  Vec3 scale{1, 1, 1};
};

// Bounds on what an animation file can make the host hold, whatever its
// format: the file itself (the readers keep it in memory) and its nodes.
constexpr uintmax_t kMaxAnimationFileBytes = uintmax_t(256) << 20;
constexpr size_t kMaxAnimationNodes = 100000;

// Reads a whole animation file (or a file one names) into *bytes, at most
// maxBytes, through one descriptor: a pipe, a device or a folder is refused,
// not waited on. False with what is wrong, without the path (the caller
// names the file).
bool ReadAnimationBytes(const std::string& path, size_t maxBytes, std::string* bytes,
                        std::string* error);

struct AnimationFile {
  std::string path;
  std::string format;       // "glTF", "BVH", ...
  std::string attribution;  // copyright or author text the file carries
  std::vector<AnimationNode> nodes;
  std::vector<AnimationClip> clips;
  double frameTime = 0;                // seconds per frame where the file has its own rate (BVH)
  std::vector<std::string> filesRead;  // the files read besides this one (a glTF file's buffers)
  bool yUp = true;
};

// Key times are single-precision floats in glTF: 11/24 s is stored as
// 0.458333343 s. A sample time within this of a key takes that key exactly.
double KeyTimeTolerance(double time);

// Checks what evaluation relies on: known nodes, matching value counts,
// strictly increasing finite times, finite values. Empty when sound.
std::string CheckClip(const AnimationFile& file, const AnimationClip& clip);
// Checks the node tree: parents in range, no cycle, no chain deeper than
// kMaxNodeDepth. Empty when sound.
std::string CheckNodes(const AnimationFile& file);

// The value of a channel at a time: before the first key the first value,
// after the last key the last value; rotations normalised.
std::array<double, 4> EvaluateChannel(const AnimationChannel& channel, double time);

// Where a point fixed to a node (offset, in the node's own axes) is in the
// file's world at a time of the clip (none: the rest pose). Finds the
// channels of the node's parent chain once, for sampling many times.
class NodeSampler {
 public:
  NodeSampler(const AnimationFile& file, const AnimationClip* clip, int node, const Vec3& offset);
  Vec3 At(double time) const;

 private:
  struct Link {
    const AnimationNode* node;
    std::vector<const AnimationChannel*> channels;
  };
  std::vector<Link> chain_;  // the node first, the root last
  Vec3 offset_;
};

// The deepest node chain the import follows (CheckNodes refuses deeper ones).
constexpr size_t kMaxNodeDepth = 1000;

// The nodes a clip moves, in node order.
std::vector<int> AnimatedNodes(const AnimationClip& clip);

}  // namespace vhost

#endif
