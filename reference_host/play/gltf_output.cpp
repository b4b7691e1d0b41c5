#include "reference_host/play/gltf_output.h"

#include "reference_host/play/safe_files.h"
#include "reference_host/printable_text.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

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

std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) n |= uint32_t(uint8_t(bytes[i + 2]));
    text += kDigits[(n >> 18) & 63];
    text += kDigits[(n >> 12) & 63];
    text += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
  }
  return text;
}

template <typename T>
void Append(std::string* buffer, T value) {
  char raw[sizeof(T)];
  memcpy(raw, &value, sizeof(T));  // glTF is little-endian, like every target we write on
  buffer->append(raw, sizeof(T));
}

// Builds the JSON and the one buffer together, view by view.
class GltfWriter {
 public:
  bool AddModel(const GeneratedModel& model, std::string* message) {
    if (model.vertices.empty()) return true;  // an accessor needs at least one element
    std::map<int32_t, uint32_t> position;     // vertex index the plug-in gave -> element
    float min[3] = {INFINITY, INFINITY, INFINITY}, max[3] = {-INFINITY, -INFINITY, -INFINITY};
    size_t positions = buffer_.size();
    for (const ReceivedVertex& v : model.vertices) {
      for (int k = 0; k < 3; ++k) {
        // Bounds of the stored floats, which is what a reader checks.
        float f = float(v.position[k]);
        if (!isfinite(f)) {
          *message = "the line of frame " + std::to_string(model.frame) +
                     " has a point that is not finite; glTF cannot hold it";
          return false;
        }
        min[k] = fminf(min[k], f);
        max[k] = fmaxf(max[k], f);
        Append(&buffer_, f);
      }
      position.emplace(v.index, uint32_t(position.size()));
    }
    size_t count = model.vertices.size();
    json attributes;
    attributes["POSITION"] = Accessor(View(positions, kArrayBuffer), count, "VEC3", kFloat);
    accessors_.back()["min"] = {min[0], min[1], min[2]};
    accessors_.back()["max"] = {max[0], max[1], max[2]};
    size_t frames = buffer_.size();
    for (const ReceivedVertex& v : model.vertices) Append(&buffer_, float(v.u));
    attributes["_FRAME"] = Accessor(View(frames, kArrayBuffer), count, "SCALAR", kFloat);

    json primitive = {{"attributes", attributes}, {"mode", kModePoints}};
    size_t indices = buffer_.size();
    size_t segments = 0;
    for (const ReceivedFace& face : model.faces) {
      auto a = position.find(face.first), b = position.find(face.second);
      if (a == position.end() || b == position.end()) continue;  // not a vertex it handed over
      Append(&buffer_, a->second);
      Append(&buffer_, b->second);
      ++segments;
    }
    if (segments > 0) {
      primitive["indices"] =
          Accessor(View(indices, kElementArrayBuffer), segments * 2, "SCALAR", kUnsignedInt);
      primitive["mode"] = kModeLines;
    }
    meshes_.push_back({{"name", "line_frame_" + std::to_string(model.frame)},
                       {"primitives", json::array({primitive})}});
    nodes_.push_back(
        {{"name", "line_frame_" + std::to_string(model.frame)}, {"mesh", meshes_.size() - 1}});
    return true;
  }

  std::string Json(const std::string& sceneName, const std::string& uri) const {
    json scene = {{"name", sceneName}};
    json root = {{"asset", {{"version", "2.0"}, {"generator", "vestrel-host"}}}};
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
    return root.dump();
  }

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

void Pad(std::string* chunk, char fill) {
  while (chunk->size() % 4 != 0) chunk->push_back(fill);
}

std::string Glb(std::string jsonChunk, std::string binChunk, bool withBin) {
  Pad(&jsonChunk, ' ');
  Pad(&binChunk, '\0');
  std::string glb = "glTF";
  uint32_t total = uint32_t(12 + 8 + jsonChunk.size() + (withBin ? 8 + binChunk.size() : 0));
  Append(&glb, uint32_t(2));
  Append(&glb, total);
  Append(&glb, uint32_t(jsonChunk.size()));
  glb += "JSON";
  glb += jsonChunk;
  if (withBin) {
    Append(&glb, uint32_t(binChunk.size()));
    glb += std::string("BIN\0", 4);
    glb += binChunk;
  }
  return glb;
}

}  // namespace

bool GltfBytes(const std::vector<GeneratedModel>& models, const std::string& sceneName, bool binary,
               std::string* bytes, std::string* message) {
  GltfWriter writer;
  for (const GeneratedModel& model : models)
    if (!writer.AddModel(model, message)) return false;
  if (binary) {
    *bytes = Glb(writer.Json(sceneName, ""), writer.buffer(), !writer.empty());
  } else {
    *bytes =
        writer.Json(sceneName, "data:application/octet-stream;base64," + Base64(writer.buffer())) +
        "\n";
  }
  return true;
}

bool WriteGltfFile(const std::string& path, const std::vector<GeneratedModel>& models,
                   const std::string& sceneName, std::string* message) {
  bool binary = LowercaseExtension(path) == ".glb";
  std::string bytes;
  if (!GltfBytes(models, sceneName, binary, &bytes, message)) {
    *message = "cannot write " + path + ": " + *message;
    return false;
  }
  return WriteFileAtomically(path, bytes, message);
}

}  // namespace vhost
