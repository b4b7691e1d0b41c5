#include "reference_host/validate/check_kit.h"

#include "hostkit/resource_file.h"

namespace vhost {

const std::vector<uint32_t> kFullSession = {kSelectorInfo, kSelectorInit, kSelectorInterface,
                                            kSelectorSetup, kSelectorGenerate};

// ---------------------------------------------------------------------------
// Scenes

SceneObject Object(const std::string& name, int32_t parent) {
  SceneObject object;
  object.name = name;
  object.parent = parent;
  return object;
}

// Eight frames; the child at index 2 runs round three corners, so that the
// simplified path keeps a few points; a bystander before it and a second
// child after it, which must never be asked for. The matrices scale and move,
// so that a vertex placed by the wrong one shows.
Scene StandardScene() {
  Scene scene;
  scene.name = "validate";
  scene.firstFrame = 0;
  scene.lastFrame = 7;
  SceneObject bystander = Object("bystander", -1);
  bystander.motion.position = {1, 1, 1};
  SceneObject runner = Object("runner", 0);
  runner.motion.kind = MotionKind::kPath;
  runner.motion.points = {{0, 0, 0}, {3, 0, 0}, {3, 3, 0}, {3, 3, 3}};
  runner.motion.framesPerSegment = 2;
  scene.objects = {Object("group", -1), bystander, runner, Object("second child", 0)};
  scene.groupMatrix = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1};
  scene.blurMatrix = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5, 0, 0, 1};
  scene.creator = FourCC("VHST");
  DialogAnswers answers;
  answers.texts[kAngleControl] = "12.5";
  answers.values[kFreezeControl] = 0;
  answers.values[kReverseControl] = 1;
  scene.dialog = answers;
  return scene;
}

// The standard scene whose user accepts the dialog as shown.
Scene AcceptAsShownScene() {
  Scene scene = StandardScene();
  scene.dialog = DialogAnswers{};
  return scene;
}

std::vector<uint8_t> BlockWithPoints(int n, float angle, int32_t freeze, int32_t reverse,
                                     ByteOrder order) {
  std::vector<StoredPoint> points;
  for (int i = 0; i < n; ++i)
    points.push_back({float(i), float(i * i) * 0.5f, -float(i), float(3 * i + 1)});
  return MakeBlockBytes(angle, freeze, reverse, points, order);
}

void Finish(Harness& harness, CheckContext& context) {
  harness.Finish();
  context.problems.insert(context.problems.end(), harness.problems().begin(),
                          harness.problems().end());
}

// Runs selectors for one instance on scene and checks every call.
void RunSession(CheckContext& context, const Scene& scene, const std::vector<uint32_t>& selectors,
                const std::function<void(Harness&)>& faults) {
  Harness harness(context.environment);
  if (faults) faults(harness);
  Instance& instance = harness.AddInstance(scene);
  if (scene.block) instance.session->SetBlock(*scene.block);
  harness.CallAll(instance, selectors);
  context.data["calls"] = harness.callbackCalls();
  Finish(harness, context);
}

int32_t RefusalCode(Rng& rng) {
  static const std::vector<int32_t> codes = {-1, 1, -108, 2, INT32_MIN, INT32_MAX, 4, 6};
  if (rng.Chance(0.3)) {
    int32_t code = static_cast<int32_t>(rng.Next());
    return code == 0 ? -7 : code;
  }
  return rng.Pick(codes);
}

std::string SelectorList(const std::vector<uint32_t>& selectors) {
  std::string text;
  for (uint32_t selector : selectors) text += (text.empty() ? "" : ", ") + CodeName(selector);
  return text;
}

// setup/: the host's side is ready before any check runs.

void AddSetupChecks(Battery& battery) {
  battery.fixed.push_back(
      Check{"setup/resource-file", "the home directory holds a resource file with dialog 21000",
            [](CheckContext& context) {
              std::string path = context.environment.home + "/Vestrel.rsc";
              ResourceParseResult parsed = LoadResourceFile(path);
              if (!parsed.ok) {
                context.problems.push_back(
                    path + " cannot be read as a resource file (name the folder with --home)");
                for (const std::string& error : parsed.errors) context.problems.push_back(error);
              } else if (parsed.file.FindDialog(21000) == nullptr) {
                context.problems.push_back(path + " has no dialog 21000");
              }
            },
            nullptr});
}

uint64_t Rng::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int64_t Rng::Range(int64_t low, int64_t high) {
  if (high <= low) return low;
  uint64_t span = uint64_t(high) - uint64_t(low) + 1;
  return span == 0 ? int64_t(Next()) : int64_t(uint64_t(low) + Next() % span);
}

bool Rng::Chance(double probability) {
  return double(Next() >> 11) * (1.0 / 9007199254740992.0) < probability;
}

uint64_t CheckSeed(uint64_t runSeed, const std::string& id) {
  uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a: the same on every platform
  for (unsigned char c : id) hash = (hash ^ c) * 0x100000001B3ull;
  Rng mix(runSeed ^ hash);
  return mix.Next();
}

std::string CheckGroup(const std::string& id) { return id.substr(0, id.find('/')); }

Battery MakeBattery(ValidationLevel level) {
  const bool thorough = level == ValidationLevel::kThorough;
  Battery battery;
  AddSetupChecks(battery);
  AddFaultChecks(battery, thorough);
  AddBlockChecks(battery);
  AddAnswerChecks(battery);
  AddOrderChecks(battery);
  AddSaveLoadChecks(battery);
  if (thorough) {
    // Rounds on top of the fixed checks, whatever the time limit.
    for (CheckGenerator& generator : battery.random) {
      if (generator.prefix == "blocks/random") generator.minimumRounds = 10000;
      if (generator.prefix == "answers/random") generator.minimumRounds = 1000;
      if (generator.prefix != "blocks/random" && generator.prefix != "answers/random")
        generator.minimumRounds *= 10;
    }
  }
  return battery;
}

}  // namespace vhost
