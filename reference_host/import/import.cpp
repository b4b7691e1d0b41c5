#include "reference_host/import/import.h"

#include <math.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "reference_host/import/gltf_reader.h"
#include "reference_host/printable_text.h"
#ifdef VHOST_HAS_ASSIMP
#include "reference_host/import/assimp_reader.h"
#endif

namespace vhost {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kMaxFps = 1000;
// Frame numbers from key times: a float key a hair after a frame still counts
// as that frame.
constexpr double kFrameTolerance = 1e-3;
constexpr size_t kMaxListedNames = 40;

std::string Extension(const std::string& path) { return LowercaseExtension(path); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// "a", "b", "c" (and N more).
std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  for (size_t i = 0; i < names.size() && i < kMaxListedNames; ++i)
    list += (i ? ", " : "") + Quoted(names[i]);
  if (names.size() > kMaxListedNames)
    list += " and " + std::to_string(names.size() - kMaxListedNames) + " more";
  return list;
}

bool ParseInt(const std::string& text, int64_t* value) {
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, *value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// Scene names become output file names: keep them to plain characters.
std::string SceneName(const std::string& path) {
  std::string name = fs::path(path).stem().string();
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  return name.empty() ? "imported" : name.substr(0, 200);
}

// A node's name as a scene file can hold it: a byte that does not begin a
// well-formed UTF-8 character becomes U+FFFD, and the text ends, at a
// character's end, before it would pass maxBytes.
std::string WellFormedText(const std::string& bytes, size_t maxBytes) {
  static const std::string kReplacement = "\xEF\xBF\xBD";
  std::string text;
  for (size_t i = 0; i < bytes.size();) {
    size_t length = Utf8CharacterLength(bytes, i);
    const std::string character = length != 0 ? bytes.substr(i, length) : kReplacement;
    if (text.size() + character.size() > maxBytes) break;
    text += character;
    i += length != 0 ? length : 1;
  }
  return text;
}

class Importer {
 public:
  Importer(const AnimationFile& file, const ImportOptions& options, const SceneLimits& limits)
      : file_(file), options_(options), limits_(limits) {}

  ImportResult Run() {
    ImportResult result;
    if (!CheckOptions() || !PickClip() || !PickNodes() || !PickFrames() || !SampleAll()) {
      result.error = file_.path + ": " + error_;
      return result;
    }
    result.report = report_;
    result.scene = MakeScene();
    result.sceneText = SceneText(*result.scene);
    return result;
  }

 private:
  bool Fail(const std::string& message) {
    error_ = message;
    return false;
  }

  // Where the frame rate came from, for the report line.
  std::string FpsOrigin() const {
    if (options_.fps > 0) return "set by --fps";
    if (file_.frameTime > 0) return "the file's own";
    if (file_.format == "DAE") return "24 by default, COLLADA has no frame rate of its own";
    if (file_.format == "glTF") return "24 by default, glTF keeps time in seconds";
    return "24 by default";
  }

  bool CheckOptions() {
    fps_ = options_.fps > 0 ? options_.fps : file_.frameTime > 0 ? 1 / file_.frameTime : 24;
    report_.fpsOrigin = FpsOrigin();
    if (!(isfinite(options_.fps) && options_.fps >= 0 && fps_ <= kMaxFps))
      return Fail("the frame rate must be above 0 and at most " + std::to_string(int(kMaxFps)));
    if (!(isfinite(options_.scale) && options_.scale != 0 && fabs(options_.scale) <= 1e9))
      return Fail("the scale must be a finite number other than 0");
    const Vec3& o = options_.offset;
    if (!(isfinite(o.x) && isfinite(o.y) && isfinite(o.z)))
      return Fail("the offset must be finite");
    char up = options_.up ? options_.up : file_.yUp ? 'y' : 'z';
    if (up != 'y' && up != 'z') return Fail("the up axis must be y or z");
    turnYUp_ = up == 'y';
    return true;
  }

  bool PickClip() {
    std::vector<std::string> names;
    for (const AnimationClip& c : file_.clips) names.push_back(c.name);
    if (file_.clips.empty()) return Fail("the file has no animation");
    if (options_.animation.empty()) {
      if (file_.clips.size() > 1)
        return Fail("the file has " + std::to_string(names.size()) +
                    " animations; choose one with --animation: " + NameList(names));
      clip_ = &file_.clips[0];
    } else {
      for (const AnimationClip& c : file_.clips)
        if (c.name == options_.animation && !clip_) clip_ = &c;
      int64_t index;
      if (!clip_ && ParseInt(options_.animation, &index) && index >= 0 &&
          size_t(index) < file_.clips.size())
        clip_ = &file_.clips[size_t(index)];
      if (!clip_)
        return Fail("no animation " + Quoted(options_.animation) + "; the animations are " +
                    NameList(names));
    }
    if (clip_->channels.empty()) return Fail("animation " + Quoted(clip_->name) + " moves no node");
    return true;
  }

  // One traced node per --node, in the order given (a node named twice is
  // traced once); every node the clip moves with allAnimatedNodes.
  bool PickNodes() {
    std::vector<int> animated = AnimatedNodes(*clip_);
    std::vector<std::string> candidates;
    for (int n : animated) candidates.push_back(file_.nodes[n].name);
    if (options_.allAnimatedNodes) {
      if (!options_.nodes.empty()) return Fail("name nodes or ask for every animated node, not both");
      nodes_ = animated;
      return !nodes_.empty() || Fail("animation " + Quoted(clip_->name) + " moves no node");
    }
    if (options_.nodes.empty()) {
      if (animated.size() != 1)
        return Fail("animation " + Quoted(clip_->name) + " moves " +
                    std::to_string(animated.size()) +
                    " nodes; choose one or more with --node: " + NameList(candidates));
      nodes_ = animated;
      return true;
    }
    for (const std::string& name : options_.nodes) {
      int node = FindNode(name);
      if (node < 0)
        return Fail("no node " + Quoted(name) + "; the nodes animation " + Quoted(clip_->name) +
                    " moves are " + NameList(candidates));
      if (std::find(nodes_.begin(), nodes_.end(), node) == nodes_.end()) nodes_.push_back(node);
    }
    return true;
  }

  // A node by name, else by index; -1 when there is none.
  int FindNode(const std::string& name) const {
    for (size_t i = 0; i < file_.nodes.size(); ++i)
      if (file_.nodes[i].name == name) return int(i);
    int64_t index;
    if (ParseInt(name, &index) && index >= 0 && size_t(index) < file_.nodes.size())
      return int(index);
    return -1;
  }

  bool PickFrames() {
    int64_t first, last;
    if (options_.frames.empty()) {
      // Key times are finite but may be huge: bound them before any cast.
      double from = floor(clip_->Start() * fps_ + kFrameTolerance);
      double to = ceil(clip_->End() * fps_ - kFrameTolerance);
      if (!(fabs(from) <= INT32_MAX && fabs(to) <= INT32_MAX))
        return Fail("animation " + Quoted(clip_->name) + " spans more than " +
                    std::to_string(limits_.maxFrames) + " frames");
      first = int64_t(from);
      last = std::max(first, int64_t(to));
    } else {
      size_t colon = options_.frames.find(':');
      if (colon == std::string::npos || !ParseInt(options_.frames.substr(0, colon), &first) ||
          !ParseInt(options_.frames.substr(colon + 1), &last))
        return Fail("the frame range must be A:B with whole numbers, not " +
                    Quoted(options_.frames));
      if (last < first) return Fail("the frame range " + options_.frames + " is empty");
    }
    if (first < INT32_MIN / 2 || last > INT32_MAX / 2 || last - first + 1 > limits_.maxFrames)
      return Fail("the frame range " + std::to_string(first) + " to " + std::to_string(last) +
                  " has more than " + std::to_string(limits_.maxFrames) + " frames");
    // Every node traced holds a key a frame: bound them all together.
    const int64_t keys = (last - first + 1) * int64_t(nodes_.size());
    if (keys > std::max(limits_.maxSamples, limits_.maxFrames))
      return Fail(std::to_string(nodes_.size()) + " nodes over " + std::to_string(last - first + 1) +
                  " frames are " + std::to_string(keys) + " positions, more than the " +
                  std::to_string(std::max(limits_.maxSamples, limits_.maxFrames)) + " allowed");
    first_ = int32_t(first);
    last_ = int32_t(last);
    return true;
  }

  bool SampleAll() {
    for (int node : nodes_) {
      positions_.emplace_back();
      report_.pathLengths.push_back(0);
      report_.nodes.push_back(file_.nodes[size_t(node)].name);
      if (!Sample(node, &positions_.back(), &report_.pathLengths.back())) return false;
    }
    report_.file = file_.path;
    report_.animation = clip_->name;
    report_.fps = fps_;
    report_.firstFrame = first_;
    report_.lastFrame = last_;
    report_.duration = (last_ - first_) / fps_;
    return true;
  }

  bool Sample(int node, std::vector<Vec3>* positions, double* pathLength) {
    NodeSampler sampler(file_, clip_, node, options_.offset);
    for (int64_t f = first_; f <= last_; ++f) {
      Vec3 p = sampler.At(double(f) / fps_);
      if (turnYUp_) p = {p.x, -p.z, p.y};  // Y-up to the host's Z-up: +90 degrees about x
      p = {p.x * options_.scale, p.y * options_.scale, p.z * options_.scale};
      double largest = std::max({fabs(p.x), fabs(p.y), fabs(p.z)});
      if (!(largest <= limits_.maxCoordinate))
        return Fail("the position of node " + Quoted(file_.nodes[size_t(node)].name) + " at frame " +
                    std::to_string(f) + " is not finite or beyond " +
                    std::to_string(limits_.maxCoordinate));
      if (!positions->empty()) {
        const Vec3& q = positions->back();
        *pathLength +=
            sqrt((p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) + (p.z - q.z) * (p.z - q.z));
      }
      positions->push_back(p);
    }
    return true;
  }

  // "node "a"" or "nodes "a", "b"".
  std::string NodesText() const {
    std::vector<std::string> quoted;
    for (const std::string& name : report_.nodes) quoted.push_back(Quoted(name));
    std::string text = report_.nodes.size() == 1 ? "node " : "nodes ";
    for (size_t i = 0; i < quoted.size(); ++i) text += (i ? ", " : "") + quoted[i];
    return text;
  }

  SceneSource Source(size_t instance) const {
    SceneSource source;
    source.file = WellFormedText(fs::path(file_.path).filename().string(), kMaxSceneNameBytes);
    source.format = file_.format;
    source.node = WellFormedText(report_.nodes[instance], kMaxSceneNameBytes);
    source.animation = WellFormedText(report_.animation, kMaxSceneNameBytes);
    source.fps = fps_;
    source.firstFrame = first_;
    source.lastFrame = last_;
    source.copyright = WellFormedText(file_.attribution, kMaxSceneDescriptionBytes);
    source.up = turnYUp_ ? 'y' : 'z';
    source.scale = options_.scale;
    return source;
  }

  // One instance: the plug-in's group and the node as its child, keyed at
  // every frame.
  Scene Instance(size_t index) const {
    Scene instance;
    instance.name = WellFormedText(report_.nodes[index], kMaxSceneNameBytes);
    SceneObject group;
    group.name = "Vestrel group";
    SceneObject node;
    node.name = instance.name;
    node.parent = 0;
    node.motion.kind = MotionKind::kKeyframes;
    for (size_t i = 0; i < positions_[index].size(); ++i)
      node.motion.keys.push_back(Keyframe{int32_t(first_ + int64_t(i)), positions_[index][i]});
    instance.objects = {group, node};
    instance.source = Source(index);
    return instance;
  }

  Scene MakeScene() const {
    Scene scene;
    scene.name = SceneName(file_.path);
    std::ostringstream description;
    description << "Imported from " << fs::path(file_.path).filename().string() << " ("
                << file_.format << "): " << NodesText() << ", animation "
                << Quoted(report_.animation) << ", " << fps_ << " fps, frames " << first_ << " to "
                << last_ << ".";
    if (!file_.attribution.empty()) description << " " << file_.attribution;
    scene.description = WellFormedText(description.str(), kMaxSceneDescriptionBytes);
    scene.firstFrame = scene.renderFirst = scene.renderLast = first_;
    scene.lastFrame = last_;
    for (size_t i = 0; i < nodes_.size(); ++i) scene.instances.push_back(Instance(i));
    scene.objects = scene.instances[0].objects;
    scene.source = scene.instances[0].source;
    // One node: the scene of one group, as scenes have always been.
    if (nodes_.size() == 1) scene.instances.clear();
    for (Scene& instance : scene.instances) {
      instance.description = scene.description;
      instance.firstFrame = instance.renderFirst = instance.renderLast = first_;
      instance.lastFrame = last_;
    }
    return scene;
  }

  static json SourceJson(const SceneSource& source) {
    json text = {{"file", source.file},
                 {"format", source.format},
                 {"node", source.node},
                 {"animation", source.animation},
                 {"fps", source.fps},
                 {"frames", {{"first", source.firstFrame}, {"last", source.lastFrame}}},
                 {"up", std::string(1, source.up)},
                 {"scale", source.scale}};
    if (!source.copyright.empty()) text["copyright"] = source.copyright;
    return text;
  }

  static json ObjectsJson(const Scene& instance) {
    json keys = json::array();
    for (const Keyframe& k : instance.objects[1].motion.keys)
      keys.push_back(
          {{"frame", k.frame}, {"position", {k.position.x, k.position.y, k.position.z}}});
    return {{{"name", instance.objects[0].name}},
            {{"name", instance.objects[1].name},
             {"parent", 0},
             {"motion", {{"type", "keyframes"}, {"interpolation", "linear"}, {"keys", keys}}}}};
  }

  static std::string SceneText(const Scene& scene) {
    json root = {{"name", scene.name},
                 {"description", scene.description},
                 {"frames", {{"first", scene.firstFrame}, {"last", scene.lastFrame}}}};
    if (scene.instances.empty()) {
      root["objects"] = ObjectsJson(scene);
      root["source"] = SourceJson(*scene.source);
    } else {
      json instances = json::array();
      for (const Scene& instance : scene.instances)
        instances.push_back({{"name", instance.name},
                             {"objects", ObjectsJson(instance)},
                             {"source", SourceJson(*instance.source)}});
      root["instances"] = instances;
    }
    // Names come from the file as bytes; one that is not UTF-8 is written
    // with replacement characters rather than ending the run.
    return root.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  }

  const AnimationFile& file_;
  const ImportOptions& options_;
  const SceneLimits& limits_;
  std::string error_;
  double fps_ = 24;
  bool turnYUp_ = true;
  const AnimationClip* clip_ = nullptr;
  std::vector<int> nodes_;
  int32_t first_ = 0, last_ = 0;
  std::vector<std::vector<Vec3>> positions_;  // one list per node
  ImportReport report_;
};

// Depth first, without recursion: a file's tree can be deep.
void ListNodes(const AnimationFile& file, const std::vector<std::vector<int>>& children,
               const std::vector<bool>& animated, std::ostringstream& out) {
  std::vector<std::pair<int, size_t>> stack;  // node, depth
  for (size_t i = file.nodes.size(); i-- > 0;)
    if (file.nodes[i].parent < 0) stack.push_back({int(i), 0});
  while (!stack.empty()) {
    auto [node, depth] = stack.back();
    stack.pop_back();
    const AnimationNode& n = file.nodes[size_t(node)];
    out << (animated[size_t(node)] ? "  * " : "    ") << std::string(depth * 2, ' ')
        << EscapedText(n.name) << (n.hasMatrix ? " (matrix)" : "") << "\n";
    const std::vector<int>& c = children[size_t(node)];
    for (auto it = c.rbegin(); it != c.rend(); ++it) stack.push_back({*it, depth + 1});
  }
}

}  // namespace

bool IsAnimationFile(const std::string& path) {
  std::string extension = Extension(path);
#ifdef VHOST_HAS_ASSIMP
  if (extension == ".bvh" || extension == ".fbx" || extension == ".dae") return true;
#endif
  return extension == ".gltf" || extension == ".glb";
}

bool ParseAnimationFile(const std::string& bytes, const std::string& path, AnimationFile* file,
                        std::string* error) {
  std::string extension = Extension(path);
  bool ok = false;
  if (extension == ".gltf" || extension == ".glb") {
    ok = ParseGltfFile(bytes, path, file, error);
#ifdef VHOST_HAS_ASSIMP
  } else if (IsAnimationFile(path)) {
    ok = ParseAssimpFile(bytes, path, file, error);
#endif
  } else {
#ifdef VHOST_HAS_ASSIMP
    *error = "not an animation file the import reads (.gltf, .glb, .bvh, .fbx, .dae)";
#else
    *error = "not an animation file the import reads (.gltf, .glb)";
#endif
  }
  if (!ok) *error = path + ": " + *error;
  return ok;
}

bool ReadAnimationFile(const std::string& path, AnimationFile* file, std::string* error) {
  std::string bytes;
  if (IsAnimationFile(path) && !ReadAnimationBytes(path, kMaxAnimationFileBytes, &bytes, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return ParseAnimationFile(bytes, path, file, error);
}

ImportResult ImportScene(const AnimationFile& file, const ImportOptions& options,
                         const SceneLimits& limits) {
  return Importer(file, options, limits).Run();
}

ImportResult ImportAnimation(const std::string& path, const ImportOptions& options,
                             const SceneLimits& limits) {
  AnimationFile file;
  ImportResult result;
  if (!ReadAnimationFile(path, &file, &result.error)) return result;
  return ImportScene(file, options, limits);
}

std::string ListText(const AnimationFile& file) {
  std::ostringstream out;
  out << EscapedText(file.path) << " (" << file.format << "): " << file.nodes.size() << " nodes, "
      << file.clips.size() << " animations\n";
  if (!file.attribution.empty()) out << "attribution: " << EscapedText(file.attribution) << "\n";
  std::vector<std::vector<int>> children(file.nodes.size());
  std::vector<bool> animated(file.nodes.size(), false);
  for (const AnimationClip& clip : file.clips)
    for (int n : AnimatedNodes(clip)) animated[size_t(n)] = true;
  for (size_t i = 0; i < file.nodes.size(); ++i)
    if (file.nodes[i].parent >= 0) children[size_t(file.nodes[i].parent)].push_back(int(i));
  out << "nodes (* moved by an animation):\n";
  ListNodes(file, children, animated, out);
  out << "animations:\n";
  for (size_t i = 0; i < file.clips.size(); ++i) {
    const AnimationClip& clip = file.clips[i];
    out << "  " << i << " " << Quoted(EscapedText(clip.name)) << ": " << clip.channels.size()
        << " channels on " << AnimatedNodes(clip).size() << " nodes, " << clip.Start() << " to "
        << clip.End() << " s\n";
  }
  return out.str();
}

std::string ReportLine(const ImportReport& r) {
  std::ostringstream out;
  out << "import: " << EscapedText(r.file) << ", " << (r.nodes.size() == 1 ? "node " : "nodes ");
  for (size_t i = 0; i < r.nodes.size(); ++i)
    out << (i ? ", " : "") << Quoted(EscapedText(r.nodes[i]));
  out << ", animation " << Quoted(EscapedText(r.animation)) << ": frames " << r.firstFrame << " to "
      << r.lastFrame << " (" << (int64_t(r.lastFrame) - r.firstFrame + 1) << " frames at " << r.fps
      << " fps, " << r.duration << " s; rate: " << r.fpsOrigin << "), path length"
      << (r.pathLengths.size() == 1 ? " " : "s ");
  for (size_t i = 0; i < r.pathLengths.size(); ++i) out << (i ? ", " : "") << r.pathLengths[i];
  out << "\n";
  return out.str();
}

}  // namespace vhost
