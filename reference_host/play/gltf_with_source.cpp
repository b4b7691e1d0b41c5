#include "reference_host/play/gltf_with_source.h"

#include <stdint.h>
#include <string.h>

#include <vector>

namespace vhost {

namespace {

using nlohmann::json;

constexpr uint32_t kChunkJson = 0x4E4F534A;  // "JSON" read little-endian
constexpr uint32_t kChunkBin = 0x004E4942;   // "BIN\0"

uint32_t ReadU32(const std::string& bytes, size_t at) {
  uint8_t raw[4];
  memcpy(raw, bytes.data() + at, 4);
  return uint32_t(raw[0]) | uint32_t(raw[1]) << 8 | uint32_t(raw[2]) << 16 | uint32_t(raw[3]) << 24;
}

struct SourceParts {
  std::string json;
  std::string bin;
  bool hasBin = false;
};

// A .glb's header and chunks, each checked against the file's length.
bool SplitGlb(const std::string& bytes, SourceParts* parts, std::string* message) {
  if (bytes.size() < 20 || ReadU32(bytes, 4) != 2) {
    *message = "is not a glTF 2.0 binary file";
    return false;
  }
  const size_t length = std::min<size_t>(ReadU32(bytes, 8), bytes.size());
  size_t at = 12;
  for (int chunk = 0; at + 8 <= length; ++chunk) {
    const size_t size = ReadU32(bytes, at);
    const uint32_t type = ReadU32(bytes, at + 4);
    if (size > length - at - 8) {
      *message = "has a chunk running past the end of the file";
      return false;
    }
    if (chunk == 0 && type != kChunkJson) {
      *message = "does not begin with a JSON chunk";
      return false;
    }
    if (chunk == 0) parts->json = bytes.substr(at + 8, size);
    if (chunk == 1 && type == kChunkBin) {
      parts->bin = bytes.substr(at + 8, size);
      parts->hasBin = true;
    }
    at += 8 + size;
  }
  if (parts->json.empty()) {
    *message = "has no JSON chunk";
    return false;
  }
  return true;
}

// Whether the JSON text nests arrays and objects no deeper than the bound:
// checked on the bytes before a recursive parser sees them.
bool NestingWithin(const std::string& text, size_t maxDepth) {
  size_t depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

bool IsArrayOrAbsent(const json& root, const char* key) {
  return !root.contains(key) || root[key].is_array();
}

// The source's JSON as an object whose parts the trails are added to, each
// of the type the merge needs.
bool ParseSourceJson(const std::string& text, json* root, std::string* message) {
  if (text.size() > kMaxSourceJsonBytes) {
    *message = "has a JSON part larger than " + std::to_string(kMaxSourceJsonBytes >> 20) + " MB";
    return false;
  }
  if (!NestingWithin(text, kMaxSourceJsonDepth)) {
    *message = "nests its JSON more than " + std::to_string(kMaxSourceJsonDepth) + " levels deep";
    return false;
  }
  *root = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (root->is_discarded() || !root->is_object()) {
    *message = "does not hold a glTF JSON object";
    return false;
  }
  const json& r = *root;
  const bool version2 = r.contains("asset") && r["asset"].is_object() &&
                        r["asset"].contains("version") && r["asset"]["version"].is_string() &&
                        r["asset"]["version"].get<std::string>() == "2.0";
  if (!version2) {
    *message = "is not glTF 2.0 (asset.version is not \"2.0\")";
    return false;
  }
  for (const char* key : {"buffers", "bufferViews", "accessors", "meshes", "nodes", "images"}) {
    if (!IsArrayOrAbsent(r, key)) {
      *message = std::string("has \"") + key + "\" that is not an array";
      return false;
    }
  }
  if (!r.contains("scenes") || !r["scenes"].is_array() || r["scenes"].empty()) {
    *message = "has no scene to add the trails to";
    return false;
  }
  for (const json& scene : r["scenes"]) {
    if (!scene.is_object() || (scene.contains("nodes") && !scene["nodes"].is_array())) {
      *message = "has a scene that is not an object with a node list";
      return false;
    }
  }
  return true;
}

// Buffers and images named by a URI other than data: live in files beside
// the source, which the .glb written elsewhere cannot reach.
bool RefersToFiles(const json& root, std::string* which) {
  for (const char* key : {"buffers", "images"}) {
    if (!root.contains(key)) continue;
    for (const json& item : root[key]) {
      if (!item.is_object() || !item.contains("uri")) continue;
      const json& uri = item["uri"];
      if (!uri.is_string() || uri.get<std::string>().compare(0, 5, "data:") != 0) {
        *which = std::string(key) + " in files beside it";
        return true;
      }
    }
  }
  return false;
}

size_t Size(const json& root, const char* key) {
  return root.contains(key) ? root[key].size() : 0;
}

void AppendAll(json& root, const char* key, const json& items) {
  if (!root.contains(key)) root[key] = json::array();
  for (const json& item : items) root[key].push_back(item);
}

void Pad(std::string* chunk, char fill) {
  while (chunk->size() % 4 != 0) chunk->push_back(fill);
}

void AppendWord(std::string* bytes, uint32_t value) {
  char raw[4];
  memcpy(raw, &value, 4);  // glTF is little-endian, like every target we write on
  bytes->append(raw, 4);
}

}  // namespace

std::string GlbBytes(std::string jsonChunk, std::string binChunk, bool withBin) {
  Pad(&jsonChunk, ' ');
  Pad(&binChunk, '\0');
  std::string glb = "glTF";
  uint32_t total = uint32_t(12 + 8 + jsonChunk.size() + (withBin ? 8 + binChunk.size() : 0));
  AppendWord(&glb, 2);
  AppendWord(&glb, total);
  AppendWord(&glb, uint32_t(jsonChunk.size()));
  glb += "JSON";
  glb += jsonChunk;
  if (withBin) {
    AppendWord(&glb, uint32_t(binChunk.size()));
    glb += std::string("BIN\0", 4);
    glb += binChunk;
  }
  return glb;
}

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

bool GlbWithSource(const std::string& sourceBytes, const std::string& sourceName,
                   const GltfParts& parts, std::string* glb, std::string* message) {
  SourceParts source;
  const bool binary = sourceBytes.compare(0, 4, "glTF") == 0;
  std::string what;
  if (binary && !SplitGlb(sourceBytes, &source, &what)) {
    *message = sourceName + " " + what;
    return false;
  }
  if (!binary) source.json = sourceBytes;
  json root;
  if (!ParseSourceJson(source.json, &root, &what)) {
    *message = sourceName + " " + what;
    return false;
  }
  std::string files;
  if (RefersToFiles(root, &files)) {
    *message = sourceName + " keeps " + files +
               "; a .glb written elsewhere cannot carry them (make the source a .glb first)";
    return false;
  }

  // The trails' bytes go after the source's binary chunk, whose bytes stay
  // where they are; where the source has none they make it, as buffer 0
  // when the source has no buffer, else as a buffer of their own.
  const size_t buffers = Size(root, "buffers");
  std::string bin = source.bin;
  size_t buffer = buffers, offset = 0;
  bool withBin = source.hasBin;
  if (source.hasBin && buffers > 0 && root["buffers"][0].is_object() &&
      !root["buffers"][0].contains("uri")) {
    while (bin.size() % 4 != 0) bin.push_back('\0');
    buffer = 0;
    offset = bin.size();
    bin += parts.buffer;
    root["buffers"][0]["byteLength"] = bin.size();
  } else if (buffers == 0) {
    buffer = 0;
    bin = parts.buffer;
    withBin = true;
    root["buffers"] = json::array({{{"byteLength", parts.buffer.size()}}});
  } else {
    AppendAll(root, "buffers",
              json::array({{{"byteLength", parts.buffer.size()},
                            {"uri", "data:application/octet-stream;base64," +
                                        Base64(parts.buffer)}}}));
  }

  const size_t views = Size(root, "bufferViews"), accessors = Size(root, "accessors");
  const size_t meshes = Size(root, "meshes"), nodes = Size(root, "nodes");
  json newViews = parts.views, newAccessors = parts.accessors, newMeshes = parts.meshes;
  json newNodes = parts.nodes;
  for (json& view : newViews) {
    view["buffer"] = buffer;
    view["byteOffset"] = view["byteOffset"].get<size_t>() + offset;
  }
  for (json& accessor : newAccessors)
    accessor["bufferView"] = accessor["bufferView"].get<size_t>() + views;
  for (json& mesh : newMeshes) {
    for (json& primitive : mesh["primitives"]) {
      for (auto& attribute : primitive["attributes"].items())
        attribute.value() = attribute.value().get<size_t>() + accessors;
      if (primitive.contains("indices"))
        primitive["indices"] = primitive["indices"].get<size_t>() + accessors;
    }
  }
  for (json& node : newNodes) node["mesh"] = node["mesh"].get<size_t>() + meshes;
  AppendAll(root, "bufferViews", newViews);
  AppendAll(root, "accessors", newAccessors);
  AppendAll(root, "meshes", newMeshes);
  AppendAll(root, "nodes", newNodes);
  // At the root of every scene, so whichever one a viewer opens shows them.
  for (json& scene : root["scenes"]) {
    if (!scene.contains("nodes")) scene["nodes"] = json::array();
    for (size_t i = 0; i < newNodes.size(); ++i) scene["nodes"].push_back(nodes + i);
  }
  *glb = GlbBytes(root.dump(-1, ' ', false, json::error_handler_t::replace), bin, withBin);
  return true;
}

}  // namespace vhost
