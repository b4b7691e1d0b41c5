// A source asset carried into a .glb with trails beside it: a source that
// cannot carry them is refused with what is wrong, never crashes the host,
// and the source's binary bytes stay where they were.
#include "reference_host/play/gltf_with_source.h"

#include <stdint.h>
#include <string.h>

#include <gtest/gtest.h>

namespace vhost {
namespace {

using nlohmann::json;

std::string Word(uint32_t value) {
  std::string bytes(4, '\0');
  memcpy(&bytes[0], &value, 4);  // little-endian, as glTF and every target we test on
  return bytes;
}

// A .glb of a JSON text and a binary chunk, neither padded nor checked: the
// cases below break them on purpose.
std::string RawGlb(const std::string& jsonText, const std::string& bin, uint32_t version = 2) {
  std::string glb = "glTF" + Word(version) + Word(0) + Word(uint32_t(jsonText.size())) + "JSON" +
                    jsonText;
  if (!bin.empty()) glb += Word(uint32_t(bin.size())) + std::string("BIN\0", 4) + bin;
  memcpy(&glb[8], Word(uint32_t(glb.size())).data(), 4);
  return glb;
}

const std::string kAsset = "\"asset\": {\"version\": \"2.0\"}";

GltfParts OneTrail() {
  GltfParts parts;
  parts.buffer = std::string(12, '\x01');
  parts.views = json::array({{{"buffer", 0}, {"byteOffset", 0}, {"byteLength", 12}}});
  parts.accessors = json::array(
      {{{"bufferView", 0}, {"componentType", 5126}, {"count", 1}, {"type", "VEC3"}}});
  parts.meshes = json::array({{{"primitives", json::array({{{"attributes", {{"POSITION", 0}}}}})}}});
  parts.nodes = json::array({{{"name", "trail"}, {"mesh", 0}}});
  return parts;
}

struct RefusedSource {
  const char* what;
  std::string bytes;
  const char* message;
};

TEST(GlbWithSource, RefusesASourceThatCannotCarryTrailsWithWhatIsWrong) {
  const RefusedSource cases[] = {
      {"nested a hundred thousand deep", "{\"a\": " + std::string(100000, '[') + "}",
       "nests its JSON more than 64 levels deep"},
      {"not JSON", "{\"asset\": ", "does not hold a glTF JSON object"},
      {"glTF 1.0", "{\"asset\": {\"version\": \"1.0\"}, \"scenes\": [{}]}", "is not glTF 2.0"},
      {"a version that is a number", "{\"asset\": {\"version\": 2}, \"scenes\": [{}]}",
       "is not glTF 2.0"},
      {"a JSON part of 33 MB", "{" + kAsset + ", \"x\": \"" + std::string(33 << 20, 'x') + "\"}",
       "has a JSON part larger than 32 MB"},
      {"no scene", "{" + kAsset + "}", "has no scene"},
      {"nodes not a list", "{" + kAsset + ", \"scenes\": [{}], \"nodes\": {}}",
       "\"nodes\" that is not an array"},
      {"a buffer in a file beside it",
       "{" + kAsset + ", \"scenes\": [{}], \"buffers\": [{\"uri\": \"a.bin\", \"byteLength\": 4}]}",
       "keeps buffers in files beside it"},
      {"an image in a file beside it",
       "{" + kAsset + ", \"scenes\": [{}], \"images\": [{\"uri\": \"../../etc/passwd\"}]}",
       "keeps images in files beside it"},
      {"a binary file of version 1", RawGlb("{" + kAsset + ", \"scenes\": [{}]}", "", 1),
       "is not a glTF 2.0 binary file"},
      {"a chunk past the end",
       RawGlb("{" + kAsset + ", \"scenes\": [{}]}", "").substr(0, 30) + std::string(4, ' '),
       "has a chunk running past the end"},
  };
  for (const RefusedSource& c : cases) {
    SCOPED_TRACE(c.what);
    std::string glb, message;
    EXPECT_FALSE(GlbWithSource(c.bytes, "fox.glb", OneTrail(), &glb, &message));
    EXPECT_EQ(message.rfind("fox.glb ", 0), 0u) << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

// The trails' bytes go after the source's binary chunk, and their views,
// accessors, meshes and nodes after the source's, at the root of every scene.
TEST(GlbWithSource, AppendsTheTrailsAfterTheSourcesBytesAndIndices) {
  const std::string bin = "ABCDEF";  // six bytes: the trails start at the next multiple of four
  const std::string source = RawGlb(
      "{" + kAsset +
          ", \"scenes\": [{\"nodes\": [0]}, {}], \"nodes\": [{\"mesh\": 0}],"
          " \"meshes\": [{\"primitives\": [{\"attributes\": {\"POSITION\": 0}}]}],"
          " \"accessors\": [{\"bufferView\": 0, \"componentType\": 5121, \"count\": 6,"
          " \"type\": \"SCALAR\"}], \"bufferViews\": [{\"buffer\": 0, \"byteLength\": 6}],"
          " \"buffers\": [{\"byteLength\": 6}]}",
      bin);
  std::string glb, message;
  ASSERT_TRUE(GlbWithSource(source, "s.glb", OneTrail(), &glb, &message)) << message;
  uint32_t jsonLength;
  memcpy(&jsonLength, glb.data() + 12, 4);
  json root = json::parse(glb.substr(20, jsonLength));
  const std::string outBin = glb.substr(20 + jsonLength + 8);
  EXPECT_EQ(outBin.substr(0, 6), bin);
  EXPECT_EQ(outBin.substr(8, 12), std::string(12, '\x01'));
  EXPECT_EQ(root["buffers"][0]["byteLength"], 20);
  EXPECT_EQ(root["bufferViews"][1]["byteOffset"], 8);
  EXPECT_EQ(root["accessors"][1]["bufferView"], 1);
  EXPECT_EQ(root["meshes"][1]["primitives"][0]["attributes"]["POSITION"], 1);
  EXPECT_EQ(root["nodes"][1]["mesh"], 1);
  EXPECT_EQ(root["scenes"][0]["nodes"], json::array({0, 1}));
  EXPECT_EQ(root["scenes"][1]["nodes"], json::array({1}));
}

}  // namespace
}  // namespace vhost
