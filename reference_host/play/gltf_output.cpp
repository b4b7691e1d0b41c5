#include "reference_host/play/gltf_output.h"

#include "reference_host/play/gltf_with_source.h"
#include "reference_host/play/safe_files.h"
#include "reference_host/printable_text.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

namespace vhost {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kFloat = 5126;
constexpr int kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr int kModeLines = 1;
constexpr int kModePoints = 0;

template <typename T>
void Append(std::string* buffer, T value) {
  char raw[sizeof(T)];
  memcpy(raw, &value, sizeof(T));  // glTF is little-endian, like every target we write on
  buffer->append(raw, sizeof(T));
}

// A trail's provenance as a node's extras: where its motion came from and
// the plug-in's angle tolerance.
json TrailExtras(const Trail& trail) {
  json extras = json::object();
  if (trail.source) {
    const SceneSource& s = *trail.source;
    extras = {{"source_file", s.file},
              {"source_format", s.format},
              {"node", s.node},
              {"animation", s.animation},
              {"fps", s.fps},
              {"frames", {s.firstFrame, s.lastFrame}}};
    if (!s.copyright.empty()) extras["copyright"] = s.copyright;
  }
  if (trail.toleranceDegrees) extras["angle_tolerance_degrees"] = *trail.toleranceDegrees;
  return extras;
}

// Builds the JSON and the one buffer together, view by view.
class GltfWriter {
 public:
  bool AddModel(const Trail& trail, const GeneratedModel& model, std::string* message) {
    if (model.vertices.empty()) return true;  // an accessor needs at least one element
    float min[3] = {INFINITY, INFINITY, INFINITY}, max[3] = {-INFINITY, -INFINITY, -INFINITY};
    size_t positions = buffer_.size();
    for (const AddVertexCall& v : model.vertices) {
      const Vec3 p = SourceFramePoint({v.position[0], v.position[1], v.position[2]}, trail.source);
      const double coordinates[3] = {p.x, p.y, p.z};
      for (int k = 0; k < 3; ++k) {
        // Bounds of the stored floats, which is what a reader checks.
        float f = float(coordinates[k]);
        if (!isfinite(f)) {
          *message = "the line of frame " + std::to_string(model.frame) +
                     " has a point that is not finite; glTF cannot hold it";
          return false;
        }
        min[k] = fminf(min[k], f);
        max[k] = fmaxf(max[k], f);
        Append(&buffer_, f);
      }
    }
    size_t count = model.vertices.size();
    json attributes;
    attributes["POSITION"] = Accessor(View(positions, kArrayBuffer), count, "VEC3", kFloat);
    accessors_.back()["min"] = {min[0], min[1], min[2]};
    accessors_.back()["max"] = {max[0], max[1], max[2]};
    size_t frames = buffer_.size();
    for (const AddVertexCall& v : model.vertices) Append(&buffer_, float(v.u));
    attributes["_FRAME"] = Accessor(View(frames, kArrayBuffer), count, "SCALAR", kFloat);

    json primitive = {{"attributes", attributes}, {"mode", kModePoints}};
    size_t indices = buffer_.size();
    size_t segments = 0;
    for (const auto& segment : Segments(model)) {
      Append(&buffer_, uint32_t(segment.first));
      Append(&buffer_, uint32_t(segment.second));
      ++segments;
    }
    if (segments > 0) {
      primitive["indices"] =
          Accessor(View(indices, kElementArrayBuffer), segments * 2, "SCALAR", kUnsignedInt);
      primitive["mode"] = kModeLines;
    }
    std::string name = TrailName(trail);
    if (trail.models.size() > 1 || trail.name.empty())
      name += "_frame_" + std::to_string(model.frame);
    meshes_.push_back({{"name", name}, {"primitives", json::array({primitive})}});
    json node = {{"name", name}, {"mesh", meshes_.size() - 1}};
    json extras = TrailExtras(trail);
    if (!extras.empty()) node["extras"] = extras;
    nodes_.push_back(node);
    return true;
  }

  std::string Json(const std::string& sceneName, const std::string& copyright,
                   const std::string& uri) const {
    json scene = {{"name", sceneName}};
    json root = {{"asset", {{"version", "2.0"}, {"generator", "vestrel-host"}}}};
    if (!copyright.empty()) root["asset"]["copyright"] = copyright;
    if (!nodes_.empty()) {
      json sceneNodes = json::array();
      for (size_t i = 0; i < nodes_.size(); ++i) sceneNodes.push_back(i);
      scene["nodes"] = sceneNodes;
      root["nodes"] = nodes_;
      root["meshes"] = meshes_;
      root["accessors"] = accessors_;
      root["bufferViews"] = views_;
      json buffer = {{"byteLength", buffer_.size()}};
      if (!uri.empty()) buffer["uri"] = uri;
      root["buffers"] = json::array({buffer});
    }
    root["scenes"] = json::array({scene});
    root["scene"] = 0;
    return root.dump(-1, ' ', false, json::error_handler_t::replace);
  }

  GltfParts Parts() const { return GltfParts{views_, accessors_, meshes_, nodes_, buffer_}; }
  const std::string& buffer() const { return buffer_; }
  bool empty() const { return nodes_.empty(); }

 private:
  size_t View(size_t offset, int target) {
    views_.push_back({{"buffer", 0},
                      {"byteOffset", offset},
                      {"byteLength", buffer_.size() - offset},
                      {"target", target}});
    return views_.size() - 1;
  }

  size_t Accessor(size_t view, size_t count, const char* type, int componentType) {
    accessors_.push_back(
        {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}});
    return accessors_.size() - 1;
  }

  std::string buffer_;
  json views_ = json::array();
  json accessors_ = json::array();
  json meshes_ = json::array();
  json nodes_ = json::array();
};

// The attribution of the trails' source (they share one), if any.
std::string Copyright(const std::vector<Trail>& trails) {
  for (const Trail& trail : trails)
    if (trail.source && !trail.source->copyright.empty()) return trail.source->copyright;
  return {};
}

}  // namespace

bool GltfBytes(const GltfContent& content, bool binary, std::string* bytes, std::string* message) {
  GltfWriter writer;
  for (const Trail& trail : *content.trails)
    for (const GeneratedModel& model : trail.models)
      if (!writer.AddModel(trail, model, message)) return false;
  if (!content.sourceBytes.empty()) {
    if (!binary) {
      *message = "the source and its trails are written as .glb only";
      return false;
    }
    return GlbWithSource(content.sourceBytes, content.sourceName, writer.Parts(), bytes, message);
  }
  const std::string copyright = Copyright(*content.trails);
  if (binary) {
    *bytes = GlbBytes(writer.Json(content.sceneName, copyright, ""), writer.buffer(), !writer.empty());
  } else {
    *bytes = writer.Json(content.sceneName, copyright,
                         "data:application/octet-stream;base64," + Base64(writer.buffer())) +
             "\n";
  }
  return true;
}

bool WriteGltfFile(const std::string& path, const GltfContent& content, std::string* message) {
  bool binary = LowercaseExtension(path) == ".glb";
  std::string bytes;
  if (!GltfBytes(content, binary, &bytes, message)) {
    *message = "cannot write " + path + ": " + *message;
    return false;
  }
  return WriteFileAtomically(path, bytes, message);
}

}  // namespace vhost
