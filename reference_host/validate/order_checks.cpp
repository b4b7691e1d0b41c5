// The validator's checks of group orders/
//   orders/    entry calls out of order, unknown selectors, instances interleaved
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
// orders/

void AddOrderCheck(Battery& battery, const std::string& id, const std::string& title,
                   std::vector<uint32_t> selectors, std::function<void(Scene&)> change = nullptr) {
  battery.fixed.push_back(Check{"orders/" + id, title + ": " + SelectorList(selectors),
                                [selectors, change](CheckContext& context) {
                                  Scene scene = StandardScene();
                                  if (change) change(scene);
                                  RunSession(context, scene, selectors);
                                },
                                nullptr});
}

// Selectors the plug-in does not know: some made up, some near its own.
std::vector<uint32_t> UnknownSelectors(Rng& rng, int count) {
  std::vector<uint32_t> selectors = {0,
                                     0xFFFFFFFFu,
                                     FourCC("info"),
                                     FourCC("INF0"),
                                     FourCC("OFNI"),
                                     FourCC("TINI"),
                                     kSelectorInfo + 1,
                                     kSelectorAllocate,
                                     kSelectorSyncFrame,
                                     FourCC("ABCD")};
  while (int(selectors.size()) < count) {
    uint32_t selector = static_cast<uint32_t>(rng.Next());
    bool known = false;
    for (uint32_t entry : kEntrySelectors) known |= entry == selector;
    if (!known) selectors.push_back(selector);
  }
  return selectors;
}

// Instances with scenes and stored blocks of their own, their calls
// interleaved at random; then each instance's calls again alone, in a fresh
// instance: every result, block and vertex count must be the same.
void RunInterleaved(CheckContext& context) {
  Rng rng(context.seed);
  const int instances = int(rng.Range(2, 5));
  std::vector<Scene> scenes;
  for (int i = 0; i < instances; ++i) {
    Scene scene = StandardScene();
    scene.firstFrame = int32_t(rng.Range(-20, 20));
    scene.lastFrame = scene.firstFrame + int32_t(rng.Range(0, 30));
    scene.objects[2].motion.points = {
        {0, 0, 0}, {double(rng.Range(1, 9)), 0, 0}, {0, double(rng.Range(1, 9)), double(i)}};
    scene.objects[2].motion.startFrame = scene.firstFrame;
    if (rng.Chance(0.5)) {
      scene.block = BlockWithPoints(int(rng.Range(0, 5)), float(rng.Range(1, 20)),
                                    int32_t(rng.Range(0, 1)), int32_t(rng.Range(0, 1)),
                                    rng.Chance(0.5) ? ByteOrder::kNative : ByteOrder::kSwapped);
    }
    scene.dialog->texts[kAngleControl] = std::to_string(rng.Range(0, 45));
    scene.dialog->values[kReverseControl] = int32_t(rng.Range(0, 1));
    scene.dialog->accept = rng.Chance(0.7);
    scenes.push_back(scene);
  }
  std::vector<uint32_t> unknown = UnknownSelectors(rng, 12);
  std::vector<std::pair<int, uint32_t>> order;
  for (int step = int(rng.Range(10, 40)); step > 0; --step) {
    int who = int(rng.Range(0, instances - 1));
    uint32_t selector = rng.Chance(0.1) ? rng.Pick(unknown) : kEntrySelectors[rng.Range(0, 4)];
    order.push_back({who, selector});
  }
  context.data["steps"] = order.size();
  Harness harness(context.environment);
  std::vector<Instance*> together, alone;
  for (int i = 0; i < instances; ++i) {
    together.push_back(
        &harness.AddInstance(scenes[size_t(i)], "instance " + std::to_string(i + 1)));
    if (scenes[size_t(i)].block) together.back()->session->SetBlock(*scenes[size_t(i)].block);
  }
  for (const auto& step : order) harness.Call(*together[size_t(step.first)], step.second);
  for (int i = 0; i < instances; ++i) {
    Instance& solo =
        harness.AddInstance(scenes[size_t(i)], "instance " + std::to_string(i + 1) + " alone");
    if (scenes[size_t(i)].block) solo.session->SetBlock(*scenes[size_t(i)].block);
    for (const auto& step : order) {
      if (step.first == i) harness.Call(solo, step.second);
    }
    const auto& a = together[size_t(i)]->outcomes;
    const auto& b = solo.outcomes;
    for (size_t k = 0; k < a.size() && k < b.size(); ++k) {
      if (a[k].result != b[k].result || a[k].block != b[k].block ||
          a[k].vertices != b[k].vertices) {
        harness.Problem("instance " + std::to_string(i + 1) + ": its call " +
                        std::to_string(k + 1) + " ('" + CodeName(a[k].selector) +
                        "') among the others gave another result, block or line than alone: the "
                        "instances mixed");
        break;
      }
    }
  }
  Finish(harness, context);
}

}  // namespace

void AddOrderChecks(Battery& battery) {
  AddOrderCheck(battery, "genm-before-init", "'GENM' on a new instance before 'INIT'",
                {kSelectorGenerate, kSelectorInit, kSelectorSetup, kSelectorGenerate});
  AddOrderCheck(battery, "setm-before-init", "'SETM' on a new instance before 'INIT'",
                {kSelectorSetup, kSelectorGenerate, kSelectorInit, kSelectorGenerate});
  AddOrderCheck(battery, "intf-before-init", "'INTF' on a new instance before 'INIT'",
                {kSelectorInterface, kSelectorSetup, kSelectorGenerate, kSelectorInit});
  AddOrderCheck(battery, "init-twice", "'INIT' twice, and once more later",
                {kSelectorInit, kSelectorInit, kSelectorSetup, kSelectorGenerate, kSelectorInit,
                 kSelectorGenerate});
  AddOrderCheck(battery, "info-everywhere", "'INFO' between all others",
                {kSelectorInfo, kSelectorInit, kSelectorInfo, kSelectorInterface, kSelectorInfo,
                 kSelectorSetup, kSelectorInfo, kSelectorGenerate, kSelectorInfo, kSelectorInfo});
  AddOrderCheck(
      battery, "setm-twice", "'SETM' twice before 'GENM'",
      {kSelectorInit, kSelectorSetup, kSelectorSetup, kSelectorGenerate, kSelectorGenerate});
  AddOrderCheck(battery, "intf-thrice", "'INTF' three times",
                {kSelectorInit, kSelectorInterface, kSelectorInterface, kSelectorInterface,
                 kSelectorSetup, kSelectorGenerate});
  AddOrderCheck(battery, "only-generate", "'GENM' alone, many times",
                {kSelectorGenerate, kSelectorGenerate, kSelectorGenerate});
  AddOrderCheck(
      battery, "xolr-setm-before-init", "'SETM' and 'GENM' before 'INIT' says 'XOLR'",
      {kSelectorSetup, kSelectorGenerate, kSelectorInit, kSelectorSetup, kSelectorGenerate},
      [](Scene& scene) { scene.creator = kCreatorXolr; });
  battery.fixed.push_back(Check{"orders/unknown-selectors",
                                "unknown selectors before, between and after the others",
                                [](CheckContext& context) {
                                  Rng rng(context.seed);
                                  std::vector<uint32_t> unknown = UnknownSelectors(rng, 40);
                                  std::vector<uint32_t> selectors;
                                  size_t next = 0;
                                  for (uint32_t selector : kFullSession) {
                                    for (int k = 0; k < 8 && next < unknown.size(); ++k)
                                      selectors.push_back(unknown[next++]);
                                    selectors.push_back(selector);
                                  }
                                  while (next < unknown.size())
                                    selectors.push_back(unknown[next++]);
                                  RunSession(context, StandardScene(), selectors);
                                },
                                nullptr});
  CheckGenerator interleaved;
  interleaved.prefix = "orders/interleaved";
  interleaved.minimumRounds = 12;
  interleaved.make = [](uint64_t round) {
    return Check{"orders/interleaved/" + std::to_string(round),
                 "instances with their own blocks, calls interleaved", RunInterleaved, nullptr};
  };
  battery.random.push_back(interleaved);
}

}  // namespace vhost
