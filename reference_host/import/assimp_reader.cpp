#include "reference_host/import/assimp_reader.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <map>

#include <assimp/Importer.hpp>
#include <assimp/MemoryIOWrapper.h>
#include <assimp/scene.h>

#include "reference_host/printable_text.h"

namespace vhost {

namespace {

namespace fs = std::filesystem;

constexpr double kDefaultTicksPerSecond = 25;

// The node tree in depth-first order, without recursion.
bool ReadNodes(const aiNode* root, AnimationFile* file, std::map<std::string, int>* byName,
               std::string* error) {
  std::vector<std::pair<const aiNode*, int>> stack = {{root, -1}};
  while (!stack.empty()) {
    auto [in, parent] = stack.back();
    stack.pop_back();
    if (file->nodes.size() >= kMaxAnimationNodes) {
      *error = "more than " + std::to_string(kMaxAnimationNodes) + " nodes";
      return false;
    }
    AnimationNode node;
    node.name = in->mName.length ? std::string(in->mName.C_Str())
                                 : "node " + std::to_string(file->nodes.size());
    node.parent = parent;
    node.hasMatrix = true;
    const aiMatrix4x4& m = in->mTransformation;  // row-major, column vectors
    const float* rows[4] = {m[0], m[1], m[2], m[3]};
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) node.matrix[size_t(c * 4 + r)] = rows[r][c];
    aiVector3D scaling, position;
    aiQuaternion rotation;
    m.Decompose(scaling, rotation, position);
    node.translation = {position.x, position.y, position.z};
    node.rotation = {rotation.x, rotation.y, rotation.z, rotation.w};
    node.scale = {scaling.x, scaling.y, scaling.z};
    for (double v : node.matrix)
      if (!std::isfinite(v)) {
        *error = "node \"" + node.name + "\" has a value that is not finite";
        return false;
      }
    byName->emplace(node.name, int(file->nodes.size()));
    file->nodes.push_back(node);
    int self = int(file->nodes.size()) - 1;
    for (unsigned i = in->mNumChildren; i-- > 0;)
      if (in->mChildren[i]) stack.push_back({in->mChildren[i], self});
  }
  *error = CheckNodes(*file);
  return error->empty();
}

template <typename Key, typename Value>
AnimationChannel Channel(int node, ChannelPath path, const Key* keys, unsigned count,
                         double ticksPerSecond, Value value) {
  AnimationChannel channel;
  channel.node = node;
  channel.path = path;
  channel.interpolation = KeyInterpolation::kLinear;
  for (unsigned k = 0; k < count; ++k) {
    channel.times.push_back(keys[k].mTime / ticksPerSecond);
    channel.values.push_back(value(keys[k].mValue));
  }
  return channel;
}

bool ReadClip(const aiAnimation& in, size_t index, std::map<std::string, int>& byName,
              AnimationFile* file, std::string* error) {
  AnimationClip clip;
  clip.name =
      in.mName.length ? std::string(in.mName.C_Str()) : "animation " + std::to_string(index);
  double tps = in.mTicksPerSecond > 0 ? in.mTicksPerSecond : kDefaultTicksPerSecond;
  for (unsigned i = 0; i < in.mNumChannels; ++i) {
    const aiNodeAnim* c = in.mChannels[i];
    if (!c) continue;
    auto found = byName.find(c->mNodeName.C_Str());
    if (found == byName.end()) {
      *error =
          "animation \"" + clip.name + "\" moves an unknown node \"" + c->mNodeName.C_Str() + "\"";
      return false;
    }
    int node = found->second;
    file->nodes[size_t(node)].hasMatrix = false;  // its keys replace parts of the rest transform
    auto vector = [](const aiVector3D& v) { return std::array<double, 4>{v.x, v.y, v.z, 0}; };
    auto quaternion = [](const aiQuaternion& q) {
      return std::array<double, 4>{q.x, q.y, q.z, q.w};
    };
    if (c->mNumPositionKeys)
      clip.channels.push_back(Channel(node, ChannelPath::kTranslation, c->mPositionKeys,
                                      c->mNumPositionKeys, tps, vector));
    if (c->mNumRotationKeys)
      clip.channels.push_back(Channel(node, ChannelPath::kRotation, c->mRotationKeys,
                                      c->mNumRotationKeys, tps, quaternion));
    if (c->mNumScalingKeys)
      clip.channels.push_back(
          Channel(node, ChannelPath::kScale, c->mScalingKeys, c->mNumScalingKeys, tps, vector));
  }
  *error = CheckClip(*file, clip);
  if (!error->empty()) return false;
  if (index == 0 && in.mTicksPerSecond > 0) file->frameTime = 1 / in.mTicksPerSecond;
  file->clips.push_back(std::move(clip));
  return true;
}

// The longest frame a BVH file may give: an hour. Beyond it, or at zero, the
// file's rate would be no rate.
constexpr double kMaxBvhFrameTime = 3600;
// How deep a file's scopes may nest before its reader sees it: the readers
// recurse, and the node tree is bounded at kMaxNodeDepth anyway; the rest
// leaves room for the format's own levels.
constexpr size_t kMaxNesting = kMaxNodeDepth + 64;

// A BVH file says how many frames of motion it holds before it holds them,
// and assimp makes room for them all (frames times channels values) before it
// reads one. A count the file's bytes cannot hold is refused here, so that a
// few bytes cannot ask for gigabytes. Counts whitespace-separated words, as
// the format does: each value is one. The joints and the frame time are
// checked on the way: assimp builds every joint before the bound on nodes
// applies, and takes a frame time it cannot use for 25 frames a second.
bool CheckBvhCounts(const std::string& bytes, std::string* error) {
  double channels = 0, frames = 0, valuesAfter = 0;
  size_t joints = 0, line = 1, frameTimeLine = 0;
  std::string word, framesWord, frameTimeWord;
  bool inMotion = false, framesSeen = false, expectFrames = false, expectChannels = false;
  bool expectTime = false, timeSeen = false;
  std::string previous;
  auto take = [&](const std::string& w) {
    if (expectChannels) channels += strtod(w.c_str(), nullptr);
    if (expectFrames) {
      framesWord = w;
      frames = strtod(w.c_str(), nullptr);
      framesSeen = true;
    }
    if (expectTime) {
      frameTimeWord = w;
      frameTimeLine = line;
      timeSeen = true;
    }
    expectChannels = !inMotion && w == "CHANNELS";
    expectFrames = inMotion && !framesSeen && w == "Frames:";
    expectTime = inMotion && !timeSeen && (w == "Time:" && previous == "Frame");
    if (!inMotion && (w == "JOINT" || w == "ROOT" || w == "End")) ++joints;
    if (w == "MOTION") inMotion = true;
    if (framesSeen && !expectFrames &&
        !(expectTime || w == "Frame" || w == "Time:" ||
          (timeSeen && w == frameTimeWord && line == frameTimeLine)))
      ++valuesAfter;
    previous = w;
  };
  for (char c : bytes) {
    if (isspace(static_cast<unsigned char>(c))) {
      if (!word.empty()) take(word);
      word.clear();
      if (c == '\n') ++line;
    } else {
      word += c;
    }
  }
  if (!word.empty()) take(word);
  if (joints > kMaxAnimationNodes) {
    *error = "more than " + std::to_string(kMaxAnimationNodes) + " joints";
    return false;
  }
  if (timeSeen) {
    char* end = nullptr;
    double time = strtod(frameTimeWord.c_str(), &end);
    if (*end != '\0' || !(time > 0 && time <= kMaxBvhFrameTime)) {
      *error = "line " + std::to_string(frameTimeLine) + ": the frame time \"" +
               frameTimeWord.substr(0, 40) + "\" is not a time above 0 and at most " +
               std::to_string(int(kMaxBvhFrameTime)) + " s";
      return false;
    }
  }
  if (!framesSeen) return true;
  if (!(frames >= 0 && frames <= 4294967295.0)) {
    *error = "the frame count \"" + framesWord.substr(0, 40) + "\" is not a count of frames";
    return false;
  }
  if (!(frames * channels > valuesAfter)) return true;
  char text[160];
  snprintf(text, sizeof text,
           "the file says %.0f frames of %.0f values, but holds at most %.0f values", frames,
           channels, valuesAfter);
  *error = text;
  return false;
}

// How deep the scopes of a text file nest: braces in BVH and text FBX
// (quoted strings skipped), elements in COLLADA's XML. Stops once past limit.
size_t Nesting(const std::string& bytes, bool xml, size_t limit) {
  size_t depth = 0, deepest = 0;
  bool quoted = false;
  for (size_t i = 0; i < bytes.size() && deepest <= limit; ++i) {
    const char c = bytes[i];
    if (xml) {
      if (c != '<' || i + 1 >= bytes.size()) continue;
      const char next = bytes[i + 1];
      if (next == '/') {
        if (depth > 0) --depth;
      } else if (next != '?' && next != '!') {
        size_t close = bytes.find('>', i);
        bool selfClosing = close != std::string::npos && close > i && bytes[close - 1] == '/';
        if (!selfClosing) deepest = std::max(deepest, ++depth);
      }
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (!quoted && c == '}' && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

bool PreCheck(const std::string& bytes, const std::string& extension, std::string* error) {
  if (extension == ".BVH" && !CheckBvhCounts(bytes, error)) return false;
  const bool binaryFbx = extension == ".FBX" && bytes.compare(0, 18, "Kaydara FBX Binary") == 0;
  if (!binaryFbx && Nesting(bytes, extension == ".DAE", kMaxNesting) > kMaxNesting) {
    *error = "its scopes nest more than " + std::to_string(kMaxNesting) + " deep";
    return false;
  }
  return true;
}

}  // namespace

bool ParseAssimpFile(const std::string& bytes, const std::string& path, AnimationFile* file,
                     std::string* error) {
  // Handed over from memory: assimp opens nothing by name, neither this file
  // again nor any file it names.
  std::string extension = LowercaseExtension(path);
  for (char& ch : extension) ch = char(toupper(static_cast<unsigned char>(ch)));
  if (!PreCheck(bytes, extension, error)) return false;
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFileFromMemory(
      bytes.data(), bytes.size(), 0, extension.size() > 1 ? extension.c_str() + 1 : "");
  if (!scene || !scene->mRootNode) {
    std::string message = importer.GetErrorString();
    // assimp names the in-memory file by a made-up name; the caller names the
    // real one, so only the line number is kept.
    const std::string madeUpName =
        AI_MEMORYIO_MAGIC_FILENAME "." + (extension.empty() ? "" : extension.substr(1)) + ":";
    for (size_t at; (at = message.find(madeUpName)) != std::string::npos;)
      message.replace(at, madeUpName.size(), "line ");
    *error = "not a readable file" + (message.empty() ? "" : ": " + message);
    return false;
  }
  file->path = path;
  file->format = extension.size() > 1 ? extension.substr(1) : "assimp";
  file->yUp = true;  // assimp hands every format over Y-up
  std::map<std::string, int> byName;
  if (!ReadNodes(scene->mRootNode, file, &byName, error)) return false;
  for (unsigned i = 0; i < scene->mNumAnimations; ++i)
    if (scene->mAnimations[i] && !ReadClip(*scene->mAnimations[i], i, byName, file, error))
      return false;
  // A BVH file's ticks are its frames, and assimp counts an FBX file's time
  // in the file's own frames (its time mode or custom rate): both rates are
  // the file's. COLLADA keeps time in seconds with no rate of its own.
  if (file->format != "BVH" && file->format != "FBX") file->frameTime = 0;
  return true;
}

}  // namespace vhost
