// The reference host's own inputs, fuzzed: the files a user hands vestrel-host
// (a scene, a stored block, a resource file). One target a kind of file; the
// first byte of each input picks the kind in the replay corpus, so one corpus
// serves all three. Whatever the bytes, the reader answers with a value or one
// message, never crashes, never hangs, and what it accepts is within limits.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "hostkit/block_codec.h"
#include "hostkit/resource_file.h"
#include "reference_host/play/scene_file.h"

namespace {

void FuzzScene(const std::string& text) {
  vhost::SceneLimits limits;
  limits.maxFrames = 5000;  // keeps a run short; the checks are the same
  limits.maxSamples = 20000;
  vhost::SceneResult result = vhost::ParseScene(text, "fuzz.json", limits);
  FUZZ_REQUIRE(result.scene.has_value() != !result.error.empty(),
               "a scene, or a message, never both");
  if (!result.scene) {
    FUZZ_REQUIRE(result.error.rfind("fuzz.json: ", 0) == 0, "the message names the file");
    return;
  }
  const vhost::Scene& scene = *result.scene;
  FUZZ_REQUIRE(int64_t(scene.lastFrame) - scene.firstFrame + 1 <= limits.maxFrames,
               "the frame range is within the limit");
  FUZZ_REQUIRE(scene.objects.size() <= limits.maxObjects, "the objects are within the limit");
  for (const vhost::SceneObject& object : scene.objects) {
    FUZZ_REQUIRE(object.parent >= -1 && object.parent < int32_t(scene.objects.size()),
                 "a parent is an object of the scene or none");
  }
  // Every object's motion can be asked for at the range's ends and outside.
  for (const vhost::SceneObject& object : scene.objects) {
    for (int32_t frame : {scene.firstFrame, scene.lastFrame, scene.firstFrame - 1, INT32_MIN}) {
      vhost::Vec3 p = object.motion.At(frame);
      (void)p;
    }
  }
}

void FuzzBlock(const std::vector<uint8_t>& bytes) {
  vhost::BlockView view = vhost::DecodeBlock(bytes.data(), bytes.size());
  FUZZ_REQUIRE(view.points.size() <= size_t(vhost::BlockCapacity(bytes.size())),
               "no more points than the block holds");
  std::vector<uint8_t> swapped = bytes;
  if (vhost::SwapBlockByteOrder(&swapped)) {
    FUZZ_REQUIRE(swapped.size() == bytes.size(), "turning keeps the size");
    std::vector<uint8_t> back = swapped;
    FUZZ_REQUIRE(vhost::SwapBlockByteOrder(&back) && back == bytes,
                 "turning twice gives the block back");
  } else {
    FUZZ_REQUIRE(!view.isBlock && swapped == bytes, "what is no block stays untouched");
  }
  if (bytes.size() >= vhost::kBlockMinSize) {
    std::vector<uint8_t> repaired = vhost::ExpectedRepair(bytes);
    FUZZ_REQUIRE(vhost::BlockSoundness(repaired).empty(), "the repair leaves a sound block");
    FUZZ_REQUIRE(vhost::ExpectedRepair(repaired) == repaired, "a sound block needs no repair");
  }
}

void FuzzResource(const std::string& text) {
  vhost::ResourceParseResult result = vhost::ParseResourceText(text, "fuzz.rsc");
  FUZZ_REQUIRE(result.ok == result.errors.empty(), "a file, or its errors, never both");
  for (const vhost::DialogTemplate& dialog : result.file.dialogs) {
    FUZZ_REQUIRE(result.file.FindDialog(dialog.id) != nullptr, "every dialog can be found");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint8_t kind = input.Take<uint8_t>();
  const std::vector<uint8_t> bytes = input.Bytes(1 << 16);
  switch (kind % 3) {
    case 0: FuzzScene(std::string(bytes.begin(), bytes.end())); break;
    case 1: FuzzBlock(bytes); break;
    default: FuzzResource(std::string(bytes.begin(), bytes.end())); break;
  }
  return 0;
}
