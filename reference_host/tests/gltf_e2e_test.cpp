// The generated line as glTF (--gltf): the file holds what the OBJ holds,
// point for point and segment for segment, in both the .gltf and the .glb
// form, and the Khronos glTF validator finds nothing wrong with any of them.
#include <stdio.h>
#include <string.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace vhost_e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Gltf {
  json root;
  std::string buffer;
};

std::string FromBase64(const std::string& text) {
  std::string bytes;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = strchr(digits, c);
    if (c == '=' || !at || c == '\0') break;
    bits = (bits << 6) | uint32_t(at - digits);
    if ((count += 6) >= 8) bytes += char((bits >> (count -= 8)) & 0xFF);
  }
  return bytes;
}

uint32_t Word(const std::string& bytes, size_t at) {
  uint32_t w = 0;
  if (at + 4 <= bytes.size()) memcpy(&w, bytes.data() + at, 4);
  return w;
}

Gltf ReadGltf(const std::string& path) {
  std::string bytes = ReadFile(path);
  Gltf gltf;
  if (bytes.compare(0, 4, "glTF") == 0) {
    EXPECT_EQ(Word(bytes, 8), bytes.size());
    uint32_t jsonLength = Word(bytes, 12);
    gltf.root = json::parse(bytes.substr(20, jsonLength));
    if (20 + jsonLength < bytes.size())
      gltf.buffer = bytes.substr(20 + jsonLength + 8, Word(bytes, 20 + jsonLength));
  } else {
    gltf.root = json::parse(bytes);
    if (gltf.root.contains("buffers")) {
      std::string uri = gltf.root["buffers"][0]["uri"];
      gltf.buffer = FromBase64(uri.substr(uri.find(',') + 1));
    }
  }
  return gltf;
}

// The elements of an accessor as doubles.
template <typename T>
std::vector<double> Elements(const Gltf& gltf, int accessor) {
  const json& a = gltf.root["accessors"][accessor];
  const json& view = gltf.root["bufferViews"][a["bufferView"].get<int>()];
  size_t components = a["type"] == "VEC3" ? 3 : 1;
  size_t count = a["count"].get<size_t>() * components;
  EXPECT_EQ(view["byteLength"].get<size_t>(), count * sizeof(T));
  std::vector<double> values;
  for (size_t i = 0; i < count; ++i) {
    T v;
    memcpy(&v, gltf.buffer.data() + view["byteOffset"].get<size_t>() + i * sizeof(T), sizeof(T));
    values.push_back(double(v));
  }
  return values;
}

struct ExportCase {
  const char* what;
  std::vector<std::string> args;
};

const ExportCase kExportCases[] = {
    {"square, three passes", {"play", Example("square.json"), "--dialog"}},
    {"default helix", {"play"}},
    {"points without segments", {"play", Example("square.json"), "--refuse", "ADDF"}},
    {"no points at all", {"play", "--refuse", "ADDV"}},
};

TEST(GltfOutput, HoldsWhatTheObjHolds) {
  for (const ExportCase& c : kExportCases) {
    for (const char* extension : {".gltf", ".glb"}) {
      SCOPED_TRACE(std::string(c.what) + " " + extension);
      std::string folder = TestFolder();
      std::string path = folder + "/line" + extension;
      WriteFile(std::string("line") + extension, "an earlier file");
      std::vector<std::string> args = c.args;
      args.insert(args.end(), {"--obj", folder + "/line.obj", "--gltf", path});
      HostRun run = RunHost(args);
      ASSERT_EQ(run.exitCode, 0) << run.output;
      for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
            << "a temporary file was left: " << entry.path();
      ObjContent obj = ReadObj(folder + "/line.obj");
      Gltf gltf = ReadGltf(path);
      EXPECT_EQ(gltf.root["asset"]["version"], "2.0");
      std::vector<double> positions, frames;
      std::vector<std::array<int, 2>> segments;
      size_t base = 0;
      for (const json& mesh : gltf.root.value("meshes", json::array())) {
        const json& primitive = mesh["primitives"][0];
        int position = primitive["attributes"]["POSITION"];
        std::vector<double> p = Elements<float>(gltf, position);
        const json& accessor = gltf.root["accessors"][position];
        for (size_t k = 0; k < 3; ++k) {
          double lo = INFINITY, hi = -INFINITY;
          for (size_t i = k; i < p.size(); i += 3) lo = std::min(lo, p[i]), hi = std::max(hi, p[i]);
          EXPECT_EQ(accessor["min"][k].get<double>(), lo);
          EXPECT_EQ(accessor["max"][k].get<double>(), hi);
        }
        std::vector<double> f = Elements<float>(gltf, primitive["attributes"]["_FRAME"]);
        if (primitive.contains("indices")) {
          EXPECT_EQ(primitive["mode"], 1);  // LINES
          std::vector<double> indices = Elements<uint32_t>(gltf, primitive["indices"]);
          for (size_t i = 0; i + 1 < indices.size(); i += 2)
            segments.push_back({int(base + indices[i]) + 1, int(base + indices[i + 1]) + 1});
        }
        positions.insert(positions.end(), p.begin(), p.end());
        frames.insert(frames.end(), f.begin(), f.end());
        base += f.size();
      }
      ASSERT_EQ(frames.size(), obj.vertices.size());
      // The OBJ keeps the host's Z-up axes; glTF is Y-up: (x, y, z) -> (x, z, -y).
      for (size_t i = 0; i < obj.vertices.size(); ++i) {
        EXPECT_EQ(positions[i * 3], float(obj.vertices[i].x));
        EXPECT_EQ(positions[i * 3 + 1], float(obj.vertices[i].z));
        EXPECT_EQ(positions[i * 3 + 2], float(-obj.vertices[i].y));
        EXPECT_EQ(frames[i], obj.vertices[i].u);
      }
      EXPECT_EQ(segments, obj.lines);
    }
  }
}

TEST(GltfOutput, KhronosValidatorFindsNoErrorOrWarning) {
  if (!fs::exists(VHOST_NODE) || !fs::exists(VHOST_GLTF_VALIDATOR))
    GTEST_SKIP() << "the Khronos glTF validator is not installed (Node.js at '" VHOST_NODE
                    "', gltf-validator at " VHOST_GLTF_VALIDATOR
                    "; scripts/install-deps.sh "
                    "installs both)";
  std::string folder = TestFolder();
  std::vector<std::string> files;
  std::vector<std::vector<std::string>> plays;
  for (const ExportCase& c : kExportCases) plays.push_back(c.args);
#ifdef VHOST_ANIMATIONS
  // A real motion too, where the import is built and the files are at hand.
  fs::path animations = VHOST_ANIMATIONS;
  if (fs::exists(animations))
    plays.push_back({"play", (animations / "Fox.glb").string(), "--animation", "Walk", "--node",
                     "b_LeftFoot02_018"});
#endif
  for (size_t i = 0; i < plays.size(); ++i) {
    for (const char* extension : {".gltf", ".glb"}) {
      std::string path = folder + "/line" + std::to_string(i) + extension;
      std::vector<std::string> args = plays[i];
      args.insert(args.end(), {"--gltf", path});
      HostRun run = RunHost(args);
      ASSERT_EQ(run.exitCode, 0) << run.output;
      files.push_back(path);
    }
  }
  std::string command = std::string("'") + VHOST_NODE + "' '" + VHOST_GLTF_VALIDATE_SCRIPT + "' '" +
                        VHOST_GLTF_VALIDATOR + "'";
  for (const std::string& file : files) command += " '" + file + "'";
  int exitCode = -1;
  std::string output = RunCommand(command, &exitCode);
  EXPECT_EQ(exitCode, 0) << output;
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), long(files.size())) << output;
}

}  // namespace
}  // namespace vhost_e2e
