// The validator's checks of group blocks/
//   blocks/    stored parameter blocks of every small size, crafted magic and counts,
//            NaN and infinite fields, random and large blocks
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
// blocks/

template <typename T>
void Put(std::vector<uint8_t>& bytes, size_t at, T value, bool swapped) {
  if (at + sizeof value > bytes.size()) return;
  memcpy(bytes.data() + at, &value, sizeof value);
  if (swapped) std::reverse(bytes.begin() + at, bytes.begin() + at + sizeof value);
}

std::vector<uint8_t> RandomBytes(size_t size, Rng& rng) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng.Next());
  return bytes;
}

// A stored block goes through every handler: 'INIT' fetches (repairs) it,
// 'GENM' reads its points, 'INTF' shows and stores its parameters, 'SETM'
// captures over it, 'GENM' again. At the end it must be sound.
void RunBlock(CheckContext& context, const std::vector<uint8_t>& bytes) {
  Harness harness(context.environment);
  Scene scene = AcceptAsShownScene();
  Instance& instance = harness.AddInstance(scene);
  if (!instance.session->SetBlock(bytes)) {
    context.problems.push_back("the host could not hold a block of " +
                               std::to_string(bytes.size()) + " bytes");
    return;
  }
  harness.CallAll(instance, {kSelectorInit, kSelectorGenerate, kSelectorInterface, kSelectorSetup,
                             kSelectorGenerate});
  std::string soundness = BlockSoundness(instance.Block());
  if (!soundness.empty())
    harness.Problem("after 'INIT', 'GENM', 'INTF', 'SETM', 'GENM': " + soundness);
  context.data["size"] = bytes.size();
  Finish(harness, context);
}

enum class CountKind { kMinimum, kMinusOne, kZero, kExact, kOneTooMany, kHuge, kLarge };
const std::vector<std::pair<CountKind, std::string>> kCountKinds = {
    {CountKind::kMinimum, "int32-min"},
    {CountKind::kMinusOne, "minus-one"},
    {CountKind::kZero, "zero"},
    {CountKind::kExact, "exact"},
    {CountKind::kOneTooMany, "one-too-many"},
    {CountKind::kHuge, "int32-max"},
    {CountKind::kLarge, "large"}};

int32_t CountOf(CountKind kind, size_t size) {
  const int32_t capacity = static_cast<int32_t>(BlockCapacity(size));
  switch (kind) {
    case CountKind::kMinimum: return INT32_MIN;
    case CountKind::kMinusOne: return -1;
    case CountKind::kZero: return 0;
    case CountKind::kExact: return capacity;
    case CountKind::kOneTooMany: return capacity + 1;
    case CountKind::kHuge: return INT32_MAX;
    case CountKind::kLarge: return 0x10000000;
  }
  return 0;
}

// Random bytes with a magic (native, swapped, or left random) and a count.
std::vector<uint8_t> CraftedBlock(size_t size, bool swapped, int32_t count, Rng& rng) {
  std::vector<uint8_t> bytes = RandomBytes(size, rng);
  Put<uint32_t>(bytes, 0, kBlockMagic, swapped);
  Put<float>(bytes, 4, static_cast<float>(rng.Range(-90, 90)) * 0.5f, swapped);
  Put<int32_t>(bytes, 8, rng.Chance(0.7) ? 0 : static_cast<int32_t>(rng.Next()), swapped);
  Put<int32_t>(bytes, 12, rng.Chance(0.5) ? 0 : static_cast<int32_t>(rng.Next()), swapped);
  Put<int32_t>(bytes, 32, count, swapped);
  return bytes;
}

void AddBlockCheck(Battery& battery, const std::string& id, const std::string& title,
                   std::function<std::vector<uint8_t>(Rng&)> make) {
  Check check;
  check.id = "blocks/" + id;
  check.title = title;
  check.run = [make](CheckContext& context) {
    Rng rng(context.seed);
    RunBlock(context, make(rng));
  };
  battery.fixed.push_back(check);
}

// Every size from 0 to 320 bytes: random bytes, or a magic in either order
// with a random count, or with the count the block holds.
void AddSizeChecks(Battery& battery) {
  for (size_t size = 0; size <= 320; ++size) {
    AddBlockCheck(battery, "size-" + std::to_string(size),
                  std::to_string(size) + "-byte stored block", [size](Rng& rng) {
                    switch (size % 4) {
                      case 0: return RandomBytes(size, rng);
                      case 1:
                        return CraftedBlock(size, false, static_cast<int32_t>(rng.Next()), rng);
                      case 2:
                        return CraftedBlock(size, true, static_cast<int32_t>(rng.Next()), rng);
                      default:
                        return CraftedBlock(size, rng.Chance(0.5), CountOf(CountKind::kExact, size),
                                            rng);
                    }
                  });
  }
}

// Magic in either order, counts at and past every edge.
void AddCountChecks(Battery& battery) {
  for (bool swapped : {false, true}) {
    for (size_t size : {52, 53, 67, 68, 100, 1000}) {
      for (const auto& kind : kCountKinds) {
        std::string id = std::string(swapped ? "swapped" : "native") + "-count-" + kind.second +
                         "-size-" + std::to_string(size);
        std::string title = std::string(swapped ? "other" : "native") + " byte order, count " +
                            kind.second + ", " + std::to_string(size) + " bytes";
        CountKind count = kind.first;
        AddBlockCheck(battery, id, title, [=](Rng& rng) {
          return CraftedBlock(size, swapped, CountOf(count, size), rng);
        });
      }
    }
  }
}

// NaN, infinite and odd parameter and point fields, in both orders.
void AddFieldChecks(Battery& battery) {
  struct Fields {
    std::string name;
    float angle;
    int32_t freeze, reverse;
    float point;  // written into every coordinate and u of the points
  };
  const std::vector<Fields> fields = {
      {"nan-angle", kNaN, 0, 0, 1},
      {"infinite-angle", kInf, 0, 1, 1},
      {"minus-infinite-angle", -kInf, 0, 0, 2},
      {"negative-angle", -30, 0, 0, 1},
      {"largest-angle", 3.4028235e38f, 0, 0, 1},
      {"subnormal-angle", 1e-40f, 0, 0, 1},
      {"nan-points", 5, 0, 0, kNaN},
      {"infinite-points", 5, 0, 1, kInf},
      {"minus-infinite-points", 5, 0, 1, -kInf},
      {"odd-flags", 5, INT32_MIN, -1, 1},
      {"frozen-nan", kNaN, 1, 1, kNaN},
  };
  for (bool swapped : {false, true}) {
    for (const Fields& f : fields) {
      AddBlockCheck(battery, std::string(swapped ? "swapped-" : "native-") + f.name,
                    f.name + " in a block of the " + (swapped ? "other" : "native") + " byte order",
                    [f, swapped](Rng& rng) {
                      const int n = 4;
                      std::vector<StoredPoint> points;
                      for (int i = 0; i < n; ++i)
                        points.push_back({f.point, float(i), f.point, i == 2 ? f.point : float(i)});
                      std::vector<uint8_t> bytes =
                          MakeBlockBytes(f.angle, f.freeze, f.reverse, points,
                                         swapped ? ByteOrder::kSwapped : ByteOrder::kNative);
                      for (size_t k = 16; k < 32; ++k) bytes[k] = static_cast<uint8_t>(rng.Next());
                      return bytes;
                    });
    }
  }
}

// Large blocks.
void AddLargeBlockChecks(Battery& battery) {
  AddBlockCheck(battery, "large-4096-exact", "4096-byte block holding all it can", [](Rng& rng) {
    return CraftedBlock(4096, false, CountOf(CountKind::kExact, 4096), rng);
  });
  AddBlockCheck(battery, "large-65543-swapped-huge",
                "65543-byte block of the other byte order, count int32-max",
                [](Rng& rng) { return CraftedBlock(65543, true, INT32_MAX, rng); });
  AddBlockCheck(battery, "large-1mib-random", "1 MiB of random bytes",
                [](Rng& rng) { return RandomBytes(1 << 20, rng); });
  AddBlockCheck(battery, "large-1mib-exact", "1 MiB block holding all it can", [](Rng& rng) {
    return CraftedBlock(1 << 20, false, CountOf(CountKind::kExact, 1 << 20), rng);
  });
}

// Random rounds: crafted or random blocks of any size, a few floats made NaN
// or infinite.
void AddRandomBlockRounds(Battery& battery) {
  CheckGenerator random;
  random.prefix = "blocks/random";
  random.make = [](uint64_t round) {
    Check check;
    check.id = "blocks/random/" + std::to_string(round);
    check.title = "random stored block";
    check.run = [](CheckContext& context) {
      Rng rng(context.seed);
      size_t size = rng.Chance(0.5)   ? size_t(rng.Range(0, 400))
                    : rng.Chance(0.6) ? size_t(52 + 16 * rng.Range(0, 64))
                                      : size_t(rng.Range(0, 200000));
      int32_t count = rng.Chance(0.5) ? CountOf(rng.Pick(kCountKinds).first, size)
                                      : static_cast<int32_t>(rng.Next());
      std::vector<uint8_t> bytes = rng.Chance(0.15)
                                       ? RandomBytes(size, rng)
                                       : CraftedBlock(size, rng.Chance(0.5), count, rng);
      // Some floats made NaN or infinite.
      for (int k = int(rng.Range(0, 4)); k > 0 && bytes.size() >= 40; --k) {
        size_t at = 4 + 4 * size_t(rng.Range(0, int64_t(bytes.size() - 8) / 4));
        if (at >= 8 && at < 36) continue;
        float value = rng.Chance(0.5) ? kNaN : rng.Chance(0.5) ? kInf : -kInf;
        memcpy(bytes.data() + at, &value, 4);
      }
      context.data["size"] = size;
      RunBlock(context, bytes);
    };
    return check;
  };
  random.minimumRounds = 20;
  battery.random.push_back(random);
}

}  // namespace

void AddBlockChecks(Battery& battery) {
  AddSizeChecks(battery);
  AddCountChecks(battery);
  AddFieldChecks(battery);
  AddLargeBlockChecks(battery);
  AddRandomBlockRounds(battery);
}

}  // namespace vhost
