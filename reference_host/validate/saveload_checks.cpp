// The validator's checks of group saveload/
//   saveload/  blocks saved, loaded into a new instance and saved again, in both byte
//            orders
#include <math.h>
#include <string.h>

#include <limits>

#include "hostkit/block_codec.h"
#include "hostkit/faults.h"
#include "hostkit/resource_file.h"
#include "reference_host/validate/check_kit.h"

namespace vhost {

namespace {

using nlohmann::json;

// ---------------------------------------------------------------------------
// saveload/

// A block saved (in an order), loaded into a new instance, used, and saved
// again in the same order is the same bytes; loaded in the other order, the
// plug-in repairs it into exactly the native block.
void RunSaveLoad(CheckContext& context, const std::vector<uint8_t>& native, Harness& harness) {
  for (ByteOrder order : {ByteOrder::kNative, ByteOrder::kSwapped}) {
    std::vector<uint8_t> stored = native;
    if (order == ByteOrder::kSwapped) SwapBlockByteOrder(&stored);
    Scene scene = StandardScene();
    scene.dialog->accept = false;
    std::string name =
        order == ByteOrder::kNative ? "loaded native" : "loaded in the other byte order";
    Instance& loaded = harness.AddInstance(scene, name);
    loaded.session->SetBlock(stored);
    harness.CallAll(loaded, {kSelectorInit, kSelectorGenerate, kSelectorInterface, kSelectorInfo,
                             kSelectorGenerate});
    std::vector<uint8_t> now = loaded.Block().bytes;
    if (now != native)
      harness.Problem(
          name + ": after 'INIT' the block is not the saved block in this machine's byte order");
    std::vector<uint8_t> saved = now;
    if (order == ByteOrder::kSwapped) SwapBlockByteOrder(&saved);
    if (saved != stored)
      harness.Problem(name + ": saved again, the block is not the bytes that were loaded");
  }
  context.data["size"] = native.size();
}

}  // namespace

void AddSaveLoadChecks(Battery& battery) {
  battery.fixed.push_back(
      Check{"saveload/captured", "a captured path saved and loaded, in both byte orders",
            [](CheckContext& context) {
              Harness harness(context.environment);
              Instance& original = harness.AddInstance(StandardScene(), "original");
              harness.CallAll(
                  original, {kSelectorInit, kSelectorInterface, kSelectorSetup, kSelectorGenerate});
              RunSaveLoad(context, original.Block().bytes, harness);
              Finish(harness, context);
            },
            nullptr});
  battery.fixed.push_back(
      Check{"saveload/defaults", "a new block with the defaults saved and loaded",
            [](CheckContext& context) {
              Harness harness(context.environment);
              Instance& original = harness.AddInstance(StandardScene(), "original");
              harness.CallAll(original, {kSelectorInit});
              RunSaveLoad(context, original.Block().bytes, harness);
              Finish(harness, context);
            },
            nullptr});
  CheckGenerator random;
  random.prefix = "saveload/random";
  random.minimumRounds = 16;
  random.make = [](uint64_t round) {
    Check check;
    check.id = "saveload/random/" + std::to_string(round);
    check.title = "a random sound block saved and loaded, in both byte orders";
    check.run = [](CheckContext& context) {
      Rng rng(context.seed);
      int n = rng.Chance(0.9) ? int(rng.Range(0, 40)) : int(rng.Range(0, 3000));
      std::vector<StoredPoint> points;
      for (int i = 0; i < n; ++i) {
        StoredPoint point;
        for (float& value : point) {
          uint32_t bits = static_cast<uint32_t>(rng.Next());
          memcpy(&value, &bits, 4);  // any bits: NaNs with payloads, infinities, subnormals
        }
        points.push_back(point);
      }
      float angle;
      uint32_t angleBits = static_cast<uint32_t>(rng.Next());
      memcpy(&angle, &angleBits, 4);
      std::vector<uint8_t> native = MakeBlockBytes(angle, int32_t(rng.Range(-2, 2)),
                                                   int32_t(rng.Next()), points, ByteOrder::kNative);
      for (size_t k = 16; k < 32; ++k) native[k] = static_cast<uint8_t>(rng.Next());
      for (int extra = int(rng.Range(0, 40)); extra > 0; --extra)
        native.push_back(static_cast<uint8_t>(rng.Next()));
      // The spare slot and the extra bytes: whatever the host kept there.
      for (size_t k = 36 + 16 * size_t(n); k < native.size(); ++k)
        native[k] = static_cast<uint8_t>(rng.Next());
      Harness harness(context.environment);
      RunSaveLoad(context, native, harness);
      Finish(harness, context);
    };
    return check;
  };
  battery.random.push_back(random);
}

}  // namespace vhost
