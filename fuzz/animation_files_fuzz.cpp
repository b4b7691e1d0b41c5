// Animation files, fuzzed: the bytes of a glTF (text or binary) or, where
// assimp is built in, a BVH file, read as vestrel-host reads a file handed to
// `import` or `play`. The first byte picks the format. Whatever the bytes, the
// reader answers with a file or one message naming it; what it reads imports
// into a scene within the limits, or one message; and the scene the import
// writes is one vestrel-host reads back, with the same frames and objects.
// The same bytes then go through what the import's child process runs (its
// pre-checks, the reading, the sampling, the answer handed to the parent), in
// this process, so that a fault the child would only die of is found here.
// A glTF file is also taken as the source of a .glb with a trail beside it
// (--with-source): a .glb, or one message naming the file.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "reference_host/import/import.h"
#include "reference_host/import/sandbox.h"
#include "reference_host/play/gltf_with_source.h"
#include "reference_host/play/scene_file.h"

namespace {

// A folder that does not exist: a .gltf file's buffers are never found.
const char* const kPaths[] = {
    "/nonexistent-vestrel-fuzz/fuzz.glb",
    "/nonexistent-vestrel-fuzz/fuzz.gltf",
#ifdef VHOST_HAS_ASSIMP
    "/nonexistent-vestrel-fuzz/fuzz.bvh",
#endif
};

// The first clip and the first node it moves: the import then has a choice
// made for it where the file offers several.
vhost::ImportOptions FirstChoice(const vhost::AnimationFile& file) {
  vhost::ImportOptions options;
  if (file.clips.size() > 1) options.animation = "0";
  if (!file.clips.empty() && !file.clips[0].channels.empty()) {
    size_t node = size_t(file.clips[0].channels[0].node);
    if (node < file.nodes.size()) options.nodes = {file.nodes[node].name};
  }
  return options;
}

void CheckImport(const vhost::AnimationFile& file, const std::string& path) {
  vhost::SceneLimits limits;
  limits.maxFrames = 2000;  // keeps a run short; the checks are the same
  limits.maxSamples = 20000;
  vhost::ImportResult result = vhost::ImportScene(file, FirstChoice(file), limits);
  FUZZ_REQUIRE(result.scene.has_value() != !result.error.empty(),
               "a scene, or a message, never both");
  if (!result.scene) {
    FUZZ_REQUIRE(result.error.rfind(path + ": ", 0) == 0, "the message names the file");
    return;
  }
  const vhost::Scene& scene = *result.scene;
  FUZZ_REQUIRE(int64_t(scene.lastFrame) - scene.firstFrame + 1 <= limits.maxFrames,
               "the frame range is within the limit");
  vhost::SceneResult back = vhost::ParseScene(result.sceneText, "imported.json", limits);
  FUZZ_REQUIRE(back.scene.has_value(), "the scene the import writes reads back");
  FUZZ_REQUIRE(back.scene->firstFrame == scene.firstFrame &&
                   back.scene->lastFrame == scene.lastFrame &&
                   back.scene->objects.size() == scene.objects.size(),
               "read back, it has the same frames and objects");
}

// The bytes as the source of a .glb with one trail of one point beside it.
void CheckWithSource(const std::string& bytes, const std::string& path) {
  vhost::GltfParts parts;
  parts.buffer = std::string(12, '\0');
  parts.views = nlohmann::json::array({{{"buffer", 0}, {"byteOffset", 0}, {"byteLength", 12}}});
  parts.accessors = nlohmann::json::array(
      {{{"bufferView", 0}, {"componentType", 5126}, {"count", 1}, {"type", "VEC3"}}});
  parts.meshes = nlohmann::json::array(
      {{{"primitives", nlohmann::json::array({{{"attributes", {{"POSITION", 0}}}}})}}});
  parts.nodes = nlohmann::json::array({{{"name", "trail"}, {"mesh", 0}}});
  std::string glb, message;
  bool ok = vhost::GlbWithSource(bytes, path, parts, &glb, &message);
  FUZZ_REQUIRE(ok == message.empty(), "a .glb, or a message, never both");
  FUZZ_REQUIRE(ok ? glb.compare(0, 4, "glTF") == 0 : message.rfind(path + " ", 0) == 0,
               "a .glb begins with its magic; a message names the file");
}

}  // namespace

// assimp (Debian's build, not ours) leaks the nodes it had made when a BVH
// file breaks off mid-hierarchy, about a kilobyte a bad file; vestrel-host
// reads one file a run, so it is not ours to mend, only to keep out of the
// leak check.
extern "C" const char* __lsan_default_suppressions() { return "leak:libassimp.so\n"; }

// What the child process would hand back: one answer that decodes, a
// message naming the file or a scene that reads back.
void CheckSandboxAnswer(const std::string& bytes, const std::string& path) {
  vhost::ImportRequest request;
  request.path = path;
  request.limits.maxFrames = 2000;
  request.limits.maxSamples = 20000;
  vhost::ImportAnswer answer;
  FUZZ_REQUIRE(vhost::DecodeImportAnswer(vhost::AnswerImportOf(&bytes, request), &answer),
               "the child's answer decodes");
  if (!answer.error.empty()) {
    FUZZ_REQUIRE(answer.error.rfind(path + ": ", 0) == 0, "the child's message names the file");
    return;
  }
  FUZZ_REQUIRE(
      !answer.sceneText.empty() && answer.reportLine.find('\n') + 1 == answer.reportLine.size(),
      "a scene, and a report of one line");
  FUZZ_REQUIRE(vhost::ParseScene(answer.sceneText, "imported.json", request.limits).scene,
               "the scene the child hands back reads back");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const std::string path = kPaths[input.Take<uint8_t>() % (sizeof kPaths / sizeof kPaths[0])];
  const std::vector<uint8_t> bytes = input.Bytes(1 << 18);
  vhost::AnimationFile file;
  std::string error;
  const std::string text(bytes.begin(), bytes.end());
  CheckSandboxAnswer(text, path);
  if (path.find(".gl") != std::string::npos) CheckWithSource(text, path);
  bool ok = vhost::ParseAnimationFile(text, path, &file, &error);
  FUZZ_REQUIRE(ok == error.empty(), "a file, or a message, never both");
  if (!ok) {
    FUZZ_REQUIRE(error.rfind(path + ": ", 0) == 0, "the message names the file");
    return 0;
  }
  vhost::ListText(file);
  CheckImport(file, path);
  return 0;
}
