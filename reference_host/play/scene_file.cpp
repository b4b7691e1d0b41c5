#include "reference_host/play/scene_file.h"

#include <math.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "hostkit/block_codec.h"
#include "hostkit/file_read.h"
#include "hostkit/protocol.h"
#include "reference_host/play/scene_node.h"

namespace vhost {

using nlohmann::json;

// ---------------------------------------------------------------------------
// Parsing

namespace {

char ParseAxis(const SceneNode& node) {
  std::string axis = node.Text();
  if (axis != "x" && axis != "y" && axis != "z")
    node.Fail("expected \"x\", \"y\" or \"z\", got \"" + axis + "\"");
  return axis[0];
}

void ParseTurn(const SceneNode& node, Motion* motion, bool helix) {
  if (helix) {
    node.AllowOnly({"type", "center", "radius", "frames_per_turn", "rise_per_turn", "phase_degrees",
                    "axis", "start_frame"});
  } else {
    node.AllowOnly(
        {"type", "center", "radius", "frames_per_turn", "phase_degrees", "axis", "start_frame"});
  }
  motion->kind = helix ? MotionKind::kHelix : MotionKind::kCircle;
  motion->risePerTurn = helix ? 1 : 0;
  if (node.Has("center")) motion->center = node.Child("center").Position();
  if (node.Has("radius"))
    motion->radius = node.Child("radius").Number(0, node.limits().maxCoordinate);
  if (node.Has("frames_per_turn"))
    motion->framesPerTurn = node.Child("frames_per_turn").Number(1e-3, 1e9);
  if (helix && node.Has("rise_per_turn"))
    motion->risePerTurn = node.Child("rise_per_turn").Coordinate();
  if (node.Has("phase_degrees"))
    motion->phaseDegrees = node.Child("phase_degrees").Number(-1e6, 1e6);
  if (node.Has("axis")) motion->axis = ParseAxis(node.Child("axis"));
  if (node.Has("start_frame")) motion->startFrame = node.Child("start_frame").Int32();
}

void ParseKeyframes(const SceneNode& node, Motion* motion) {
  node.AllowOnly({"type", "interpolation", "keys"});
  motion->kind = MotionKind::kKeyframes;
  if (node.Has("interpolation")) {
    SceneNode interpolation = node.Child("interpolation");
    std::string name = interpolation.Text();
    if (name == "linear") {
      motion->interpolation = Interpolation::kLinear;
    } else if (name == "smooth") {
      motion->interpolation = Interpolation::kSmooth;
    } else {
      interpolation.Fail("expected \"linear\" or \"smooth\", got \"" + name + "\"");
    }
  }
  SceneNode keys = node.Required("keys");
  size_t count = keys.ArraySize(1, node.limits().maxKeys);
  for (size_t i = 0; i < count; ++i) {
    SceneNode key = keys.Element(i);
    key.AllowOnly({"frame", "position"});
    Keyframe keyframe;
    keyframe.frame = key.Required("frame").Int32();
    keyframe.position = key.Required("position").Position();
    if (!motion->keys.empty() && keyframe.frame <= motion->keys.back().frame) {
      key.Child("frame").Fail("key frames must increase: " + std::to_string(keyframe.frame) +
                              " follows " + std::to_string(motion->keys.back().frame));
    }
    motion->keys.push_back(keyframe);
  }
}

void ParsePath(const SceneNode& node, Motion* motion) {
  node.AllowOnly({"type", "points", "frames_per_segment", "pause_frames", "start_frame"});
  motion->kind = MotionKind::kPath;
  SceneNode points = node.Required("points");
  size_t count = points.ArraySize(1, node.limits().maxPathPoints);
  for (size_t i = 0; i < count; ++i) motion->points.push_back(points.Element(i).Position());
  if (node.Has("frames_per_segment"))
    motion->framesPerSegment =
        static_cast<int32_t>(node.Child("frames_per_segment").Integer(1, 10000000));
  if (node.Has("pause_frames"))
    motion->pauseFrames = static_cast<int32_t>(node.Child("pause_frames").Integer(0, 10000000));
  if (node.Has("start_frame")) motion->startFrame = node.Child("start_frame").Int32();
}

Motion ParseMotion(const SceneNode& node) {
  node.ExpectObject();
  SceneNode typeNode = node.Required("type");
  std::string type = typeNode.Text();
  Motion motion;
  if (type == "static") {
    node.AllowOnly({"type", "position"});
    if (node.Has("position")) motion.position = node.Child("position").Position();
  } else if (type == "keyframes") {
    ParseKeyframes(node, &motion);
  } else if (type == "helix" || type == "circle") {
    ParseTurn(node, &motion, type == "helix");
  } else if (type == "path") {
    ParsePath(node, &motion);
  } else {
    typeNode.Fail("unknown motion \"" + type +
                  "\" (expected static, keyframes, helix, circle or path)");
  }
  return motion;
}

void ParseObjects(const SceneNode& node, Scene* scene) {
  size_t count = node.ArraySize(0, node.limits().maxObjects);
  for (size_t i = 0; i < count; ++i) {
    SceneNode objectNode = node.Element(i);
    objectNode.AllowOnly({"name", "parent", "null_reference", "motion"});
    SceneObject object;
    object.name =
        objectNode.Has("name") ? objectNode.Child("name").Text(kMaxSceneNameBytes) : "object " + std::to_string(i);
    if (objectNode.Has("parent") && !objectNode.Child("parent").value().is_null()) {
      SceneNode parent = objectNode.Child("parent");
      object.parent = static_cast<int32_t>(parent.Integer(-1, int64_t(count) - 1));
      if (object.parent == int32_t(i)) parent.Fail("an object cannot be its own parent");
    }
    if (objectNode.Has("null_reference"))
      object.nullReference = objectNode.Child("null_reference").Boolean();
    if (objectNode.Has("motion")) object.motion = ParseMotion(objectNode.Child("motion"));
    scene->objects.push_back(std::move(object));
  }
}

Matrix4 ParseMatrix(const SceneNode& node) {
  node.ArraySize(16, 16);
  Matrix4 matrix;
  for (size_t i = 0; i < 16; ++i) matrix[i] = node.Element(i).Coordinate();
  return matrix;
}

// A frame range {first, last}: last not before first and at most maximum frames.
// A frame range of at most maximum frames; option names what raises it.
void ParseRange(const SceneNode& node, int64_t maximum, const char* option, int32_t* first,
                int32_t* last) {
  node.AllowOnly({"first", "last"});
  *first = node.Required("first").Int32();
  *last = node.Required("last").Int32();
  if (*last < *first) {
    node.Child("last").Fail("the last frame (" + std::to_string(*last) + ") is before the first (" +
                            std::to_string(*first) + ")");
  }
  int64_t frames = int64_t(*last) - *first + 1;
  if (frames > maximum) {
    node.Fail("a range of " + std::to_string(frames) + " frames is more than the " +
              std::to_string(maximum) + " allowed (vestrel-host play " + option +
              " raises the limit)");
  }
}

// Dialog control ids are written as JSON object keys: decimal text.
int32_t ControlId(const SceneNode& map, const std::string& key) {
  SceneNode entry = map.Child(key);
  try {
    size_t used = 0;
    long long id = std::stoll(key, &used, 10);
    if (used == key.size() && id >= INT32_MIN && id <= INT32_MAX) return static_cast<int32_t>(id);
  } catch (const std::exception&) {
  }
  entry.Fail("a control id must be a decimal 32-bit integer, got \"" + key + "\"");
}

DialogAnswers ParseDialog(const SceneNode& node) {
  node.AllowOnly({"angle", "freeze", "reverse", "texts", "values", "accept"});
  DialogAnswers answers;
  if (node.Has("angle")) answers.texts[kAngleControl] = node.Child("angle").Text();
  if (node.Has("freeze")) answers.values[kFreezeControl] = node.Child("freeze").ButtonValue();
  if (node.Has("reverse")) answers.values[kReverseControl] = node.Child("reverse").ButtonValue();
  if (node.Has("texts")) {
    SceneNode texts = node.Child("texts");
    texts.ExpectObject();
    for (auto it = texts.value().begin(); it != texts.value().end(); ++it) {
      answers.texts[ControlId(texts, it.key())] = texts.Child(it.key()).Text();
    }
  }
  if (node.Has("values")) {
    SceneNode values = node.Child("values");
    values.ExpectObject();
    for (auto it = values.value().begin(); it != values.value().end(); ++it) {
      answers.values[ControlId(values, it.key())] = values.Child(it.key()).ButtonValue();
    }
  }
  if (node.Has("accept")) answers.accept = node.Child("accept").Boolean();
  return answers;
}

std::vector<uint8_t> ParseHexBlock(const SceneNode& node) {
  std::string text = node.Text(node.limits().maxFileBytes);
  std::vector<uint8_t> bytes;
  int pending = -1;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t') continue;
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) node.Fail(std::string("expected hexadecimal digits, found '") + c + "'");
    if (pending < 0) {
      pending = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(pending * 16 + digit));
      pending = -1;
    }
  }
  if (pending >= 0) node.Fail("an odd number of hexadecimal digits");
  return bytes;
}

std::vector<uint8_t> ParseBlock(const SceneNode& node) {
  node.ExpectObject();
  if (node.Has("bytes")) {
    node.AllowOnly({"bytes"});
    return ParseHexBlock(node.Child("bytes"));
  }
  node.AllowOnly({"angle_tolerance", "freeze", "reverse", "points", "byte_order"});
  constexpr double kFloatMax = 3.4028234663852886e38;
  float angle =
      node.Has("angle_tolerance")
          ? static_cast<float>(node.Child("angle_tolerance").Number(-kFloatMax, kFloatMax))
          : 5.0f;
  int32_t freeze = node.Has("freeze") ? node.Child("freeze").ButtonValue() : 0;
  int32_t reverse = node.Has("reverse") ? node.Child("reverse").ButtonValue() : 0;
  std::vector<StoredPoint> points;
  if (node.Has("points")) {
    SceneNode list = node.Child("points");
    size_t count = list.ArraySize(0, node.limits().maxBlockPoints);
    for (size_t i = 0; i < count; ++i) {
      SceneNode point = list.Element(i);
      point.ArraySize(4, 4);
      StoredPoint stored;
      for (size_t k = 0; k < 4; ++k) stored[k] = static_cast<float>(point.Element(k).Coordinate());
      points.push_back(stored);
    }
  }
  ByteOrder order = ByteOrder::kNative;
  if (node.Has("byte_order")) {
    SceneNode orderNode = node.Child("byte_order");
    std::string name = orderNode.Text();
    if (name == "swapped") {
      order = ByteOrder::kSwapped;
    } else if (name != "native") {
      orderNode.Fail("expected \"native\" or \"swapped\", got \"" + name + "\"");
    }
  }
  return MakeBlockBytes(angle, freeze, reverse, points, order);
}

SceneSource ParseSource(const SceneNode& node) {
  node.AllowOnly({"file", "format", "node", "animation", "fps", "frames", "copyright", "up",
                  "scale"});
  SceneSource source;
  if (node.Has("file")) source.file = node.Child("file").Text(kMaxSceneNameBytes);
  if (node.Has("format")) source.format = node.Child("format").Text(kMaxSceneNameBytes);
  if (node.Has("node")) source.node = node.Child("node").Text(kMaxSceneNameBytes);
  if (node.Has("animation")) source.animation = node.Child("animation").Text(kMaxSceneNameBytes);
  if (node.Has("fps")) source.fps = node.Child("fps").Number(0, 1000);
  if (node.Has("frames")) {
    SceneNode frames = node.Child("frames");
    frames.AllowOnly({"first", "last"});
    source.firstFrame = frames.Required("first").Int32();
    source.lastFrame = frames.Required("last").Int32();
  }
  if (node.Has("copyright"))
    source.copyright = node.Child("copyright").Text(kMaxSceneDescriptionBytes);
  if (node.Has("up")) {
    SceneNode up = node.Child("up");
    std::string axis = up.Text();
    if (axis != "y" && axis != "z") up.Fail("expected \"y\" or \"z\", got \"" + axis + "\"");
    source.up = axis[0];
  }
  if (node.Has("scale")) {
    source.scale = node.Child("scale").Number(-1e9, 1e9);
    if (source.scale == 0) node.Child("scale").Fail("the scale cannot be 0");
  }
  return source;
}

// What one group of the plug-in brings: its objects (its group at index 0),
// matrices, dialog answers, stored block and where its motion came from.
void ParseInstance(const SceneNode& node, Scene* scene) {
  ParseObjects(node.Required("objects"), scene);
  if (node.Has("group_matrix")) scene->groupMatrix = ParseMatrix(node.Child("group_matrix"));
  if (node.Has("blur_matrix")) scene->blurMatrix = ParseMatrix(node.Child("blur_matrix"));
  if (node.Has("dialog")) scene->dialog = ParseDialog(node.Child("dialog"));
  if (node.Has("block")) scene->block = ParseBlock(node.Child("block"));
  if (node.Has("first_vertex_index"))
    scene->firstVertexIndex =
        static_cast<int32_t>(node.Child("first_vertex_index").Integer(INT32_MIN, INT32_MAX / 2));
  if (node.Has("source")) scene->source = ParseSource(node.Child("source"));
}

// "instances": several groups of the plug-in in one scene. Each is a scene of
// its own sharing the frames, creator and render range; the first also
// stands as the scene's own objects, so readers of one instance see it.
void ParseInstances(const SceneNode& node, Scene* scene) {
  size_t count = node.ArraySize(1, node.limits().maxObjects);
  size_t objects = 0;
  for (size_t i = 0; i < count; ++i) {
    SceneNode element = node.Element(i);
    element.AllowOnly({"name", "objects", "group_matrix", "blur_matrix", "dialog", "block",
                       "first_vertex_index", "source"});
    Scene instance;
    instance.name = element.Has("name") ? element.Child("name").Text(kMaxSceneNameBytes)
                                        : "instance " + std::to_string(i);
    ParseInstance(element, &instance);
    objects += instance.objects.size();
    if (objects > node.limits().maxObjects)
      element.Fail("the instances hold more than " + std::to_string(node.limits().maxObjects) +
                   " objects in all");
    scene->instances.push_back(std::move(instance));
  }
}

// Each instance plays the scene's frames for the scene's creator; the first
// instance's group and objects also stand as the scene's own.
void ShareWithInstances(Scene* scene) {
  for (Scene& instance : scene->instances) {
    instance.description = scene->description;
    instance.firstFrame = scene->firstFrame;
    instance.lastFrame = scene->lastFrame;
    instance.creator = scene->creator;
    instance.renderFirst = scene->renderFirst;
    instance.renderLast = scene->renderLast;
    if (!instance.source) instance.source = scene->source;
  }
  if (scene->instances.empty()) return;
  const Scene& first = scene->instances[0];
  scene->objects = first.objects;
  scene->groupMatrix = first.groupMatrix;
  scene->blurMatrix = first.blurMatrix;
  scene->dialog = first.dialog;
  scene->block = first.block;
  scene->firstVertexIndex = first.firstVertexIndex;
}

Scene ParseDocument(const SceneNode& root) {
  const bool several = root.Has("instances");
  if (several) {
    root.AllowOnly({"name", "description", "frames", "creator", "render", "source", "instances"});
  } else {
    root.AllowOnly({"name", "description", "frames", "objects", "group_matrix", "blur_matrix",
                    "creator", "dialog", "block", "render", "first_vertex_index", "source"});
  }
  Scene scene;
  if (root.Has("name")) scene.name = root.Child("name").Text(kMaxSceneNameBytes);
  if (root.Has("description")) scene.description = root.Child("description").Text(kMaxSceneDescriptionBytes);
  ParseRange(root.Required("frames"), root.limits().maxFrames, "--max-frames", &scene.firstFrame,
             &scene.lastFrame);
  if (several) {
    ParseInstances(root.Child("instances"), &scene);
  } else {
    ParseInstance(root, &scene);
  }
  scene.creator = FourCC("VHST");
  if (root.Has("creator")) {
    SceneNode creator = root.Child("creator");
    std::string text = creator.Text();
    if (!ParseCode(text, &scene.creator))
      creator.Fail("a creator code is four printable characters, got \"" + text + "\"");
  }
  if (several && root.Has("source")) scene.source = ParseSource(root.Child("source"));
  scene.renderFirst = scene.renderLast = scene.firstFrame;
  if (root.Has("render")) {
    SceneNode render = root.Child("render");
    ParseRange(render, root.limits().maxRenderFrames, "--max-render-frames", &scene.renderFirst,
               &scene.renderLast);
    // Every pass samples the whole range and the host keeps what each 'GENM'
    // sends: bound the total, so that a scene cannot make a run endless.
    int64_t samples = (int64_t(scene.renderLast) - scene.renderFirst + 1) *
                      (int64_t(scene.lastFrame) - scene.firstFrame + 1);
    int64_t allowed = std::max(root.limits().maxSamples, root.limits().maxFrames);
    if (samples > allowed) {
      render.Fail("rendering every frame of this range samples " + std::to_string(samples) +
                  " frames in all, more than the " + std::to_string(allowed) +
                  " allowed (render fewer frames, or raise --max-frames)");
    }
  }
  if (several) {
    // Every group samples the whole range at every pass: bound them together.
    int64_t samples = int64_t(scene.instances.size()) *
                      (int64_t(scene.renderLast) - scene.renderFirst + 1) *
                      (int64_t(scene.lastFrame) - scene.firstFrame + 1);
    int64_t allowed = std::max(root.limits().maxSamples, root.limits().maxFrames);
    if (samples > allowed) {
      root.Child("instances").Fail(
          std::to_string(scene.instances.size()) + " groups sampling every frame of this range "
          "sample " + std::to_string(samples) + " frames in all, more than the " +
          std::to_string(allowed) + " allowed");
    }
  }
  ShareWithInstances(&scene);
  return scene;
}

// Builds the document as the library's own parser does, and refuses an
// object naming a key twice: which of the two values counts would be a guess.
// Done as events arrive, the keys of each open object kept in a set: the
// library's filtering callback rescans the enclosing value at the end of
// every object, which makes a file of many small objects quadratic.
class DuplicateRefusingParser {
 public:
  explicit DuplicateRefusingParser(json* document) : builder_(*document, true) {}

  bool null() { return builder_.null(); }
  bool boolean(bool value) { return builder_.boolean(value); }
  bool number_integer(json::number_integer_t value) { return builder_.number_integer(value); }
  bool number_unsigned(json::number_unsigned_t value) { return builder_.number_unsigned(value); }
  bool number_float(json::number_float_t value, const json::string_t& text) {
    return builder_.number_float(value, text);
  }
  bool string(json::string_t& value) { return builder_.string(value); }
  bool binary(json::binary_t& value) { return builder_.binary(value); }
  bool start_object(std::size_t elements) {
    keys_.emplace_back();
    return builder_.start_object(elements);
  }
  bool key(json::string_t& value) {
    if (!keys_.back().insert(value).second)
      throw SceneFault{"key \"" + value + "\"",
                       "named twice in one object; which one counts is ambiguous"};
    return builder_.key(value);
  }
  bool end_object() {
    keys_.pop_back();
    return builder_.end_object();
  }
  bool start_array(std::size_t elements) { return builder_.start_array(elements); }
  bool end_array() { return builder_.end_array(); }
  bool parse_error(std::size_t position, const std::string& token,
                   const nlohmann::detail::exception& error) {
    return builder_.parse_error(position, token, error);
  }

 private:
  nlohmann::detail::json_sax_dom_parser<json> builder_;
  std::vector<std::set<std::string>> keys_;
};

}  // namespace

SceneResult ParseScene(const std::string& text, const std::string& source,
                       const SceneLimits& limits) {
  SceneResult result;
  if (text.size() > limits.maxFileBytes) {
    result.error =
        source + ": the file is larger than " + std::to_string(limits.maxFileBytes) + " bytes";
    return result;
  }
  json document;
  try {
    DuplicateRefusingParser parser(&document);
    json::sax_parse(text, &parser, json::input_format_t::json, true, /*ignore_comments=*/true);
  } catch (const SceneFault& fault) {
    result.error = source + ": at " + fault.where + ": " + fault.what;
    return result;
  } catch (const json::exception& error) {
    // The library's message already names the line and column; a number out
    // of double's range ("out_of_range") lands here as well.
    std::string what = error.what();
    size_t tagEnd = what.find("] ");
    if (what.compare(0, 1, "[") == 0 && tagEnd != std::string::npos) what = what.substr(tagEnd + 2);
    result.error = source + ": not valid JSON: " + what;
    return result;
  }
  try {
    result.scene = ParseDocument(SceneNode(document, "$", limits));
  } catch (const SceneFault& fault) {
    result.error = source + ": at " + fault.where + ": " + fault.what;
  } catch (const std::exception& error) {
    result.error = source + ": " + error.what();
  }
  return result;
}

SceneResult LoadSceneFile(const std::string& path, const SceneLimits& limits) {
  std::string text, message;
  if (!ReadRegularFile(path, "scene file", limits.maxFileBytes, &text, &message)) {
    SceneResult result;
    result.error = message;
    return result;
  }
  return ParseScene(text, path, limits);
}

}  // namespace vhost
