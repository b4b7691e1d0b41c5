#include "reference_host/validate_checks.h"

#include <math.h>
#include <string.h>

#include <limits>

#include "reference_host/block_file.h"
#include "hostkit/faults.h"
#include "hostkit/resource_file.h"

namespace vhost {

namespace {

using nlohmann::json;

constexpr uint32_t kEntrySelectors[] = {kSelectorInfo, kSelectorInit, kSelectorInterface,
                                        kSelectorSetup, kSelectorGenerate};
const std::vector<uint32_t> kFullSession = {kSelectorInfo, kSelectorInit, kSelectorInterface,
                                            kSelectorSetup, kSelectorGenerate};
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

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
                const std::function<void(Harness&)>& faults = nullptr) {
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

// ---------------------------------------------------------------------------
// faults/

struct FaultSession {
  std::string name;
  std::string what;
  Scene scene;
  std::vector<uint32_t> selectors;
};

std::vector<FaultSession> FaultSessions() {
  std::vector<FaultSession> sessions;
  sessions.push_back({"accept", "the dialog accepted", StandardScene(), kFullSession});
  Scene cancel = StandardScene();
  cancel.dialog->accept = false;
  sessions.push_back({"cancel", "the dialog cancelled", cancel, kFullSession});
  Scene xolr = StandardScene();
  xolr.creator = kCreatorXolr;
  xolr.block = BlockWithPoints(4, 5.0f, 0, 1, ByteOrder::kSwapped);
  sessions.push_back(
      {"xolr", "the 'XOLR' host, a stored block in the other byte order", xolr, kFullSession});
  Scene stored = StandardScene();
  stored.block = BlockWithPoints(3, 7.5f, 0, 0, ByteOrder::kNative);
  sessions.push_back({"stored",
                      "a stored block, 'GENM' before and after 'SETM'",
                      stored,
                      {kSelectorInit, kSelectorGenerate, kSelectorSetup, kSelectorGenerate}});
  return sessions;
}

std::vector<Check> FaultFollowUps(const FaultSession& session, const json& data) {
  std::vector<Check> checks;
  const uint64_t calls = data.value("calls", uint64_t(0));
  const std::string base = "faults/" + session.name + "/";
  for (uint64_t n = 1; n <= calls; ++n) {
    Check check;
    check.id = base + "call-" + std::to_string(n);
    check.title =
        "host call #" + std::to_string(n) + " of the session refused (" + session.what + ")";
    check.run = [session, n](CheckContext& context) {
      Rng rng(context.seed);
      int32_t code = RefusalCode(rng);
      context.data["code"] = code;
      RunSession(context, session.scene, session.selectors,
                 [&](Harness& harness) { harness.RefuseCall(n, code); });
    };
    checks.push_back(check);
  }
  for (const json& name : data.value("selectors", json::array())) {
    uint32_t selector = 0;
    ParseCode(name.get<std::string>(), &selector);
    Check check;
    check.id = base + "every-" + name.get<std::string>();
    check.title = "every '" + name.get<std::string>() + "' refused (" + session.what + ")";
    check.run = [session, selector](CheckContext& context) {
      Rng rng(context.seed);
      int32_t code = RefusalCode(rng);
      RunSession(context, session.scene, session.selectors,
                 [&](Harness& harness) { harness.RefuseSelector(selector, code); });
    };
    checks.push_back(check);
  }
  return checks;
}

void AddFaultChecks(Battery& battery) {
  for (const FaultSession& session : FaultSessions()) {
    Check baseline;
    baseline.id = "faults/" + session.name + "/baseline";
    baseline.title =
        "the session " + SelectorList(session.selectors) + " without faults (" + session.what + ")";
    baseline.run = [session](CheckContext& context) {
      Harness harness(context.environment);
      Instance& instance = harness.AddInstance(session.scene);
      if (session.scene.block) instance.session->SetBlock(*session.scene.block);
      harness.CallAll(instance, session.selectors);
      context.data["calls"] = harness.callbackCalls();
      json selectors = json::array();
      for (const CallbackSelector& row : kCallbackSelectors) {
        if (instance.session->totals().count(row.selector))
          selectors.push_back(CodeName(row.selector));
      }
      context.data["selectors"] = selectors;
      Finish(harness, context);
    };
    baseline.followUps = [session](const json& data) { return FaultFollowUps(session, data); };
    battery.fixed.push_back(baseline);
  }
  // The sixteen host functions, each hidden and each refusing service, for
  // the session whose dialog the user accepts.
  FaultSession accept = FaultSessions()[0];
  for (const char* name : kHostFunctionNames) {
    for (bool hide : {true, false}) {
      Check check;
      check.id = std::string("faults/accept/") + (hide ? "hide-" : "refuse-") + name;
      check.title = std::string(name) + (hide ? " missing from the host" : " refusing service");
      std::string function = name;
      check.run = [accept, function, hide](CheckContext& context) {
        RunSession(context, accept.scene, accept.selectors,
                   [&](Harness& harness) { harness.DisableFunction(function, hide); });
      };
      battery.fixed.push_back(check);
    }
  }
}

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

void AddBlockChecks(Battery& battery) {
  // Every size from 0 to 320 bytes: random bytes, or a magic in either order
  // with a random count, or with the count the block holds.
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
  // Magic in either order, counts at and past every edge.
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
  // NaN, infinite and odd parameter and point fields, in both orders.
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
  // Large blocks.
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

// ---------------------------------------------------------------------------
// answers/

void AddAnswerCheck(Battery& battery, const std::string& id, const std::string& title,
                    std::function<void(CheckContext&)> run) {
  battery.fixed.push_back(Check{"answers/" + id, title, std::move(run), nullptr});
}

void RunAnswers(CheckContext& context, const Scene& scene, const HostAnswerOverrides& overrides,
                const std::vector<uint32_t>& selectors = {kSelectorInit, kSelectorSetup,
                                                          kSelectorGenerate, kSelectorInterface,
                                                          kSelectorSetup, kSelectorGenerate}) {
  Harness harness(context.environment);
  Instance& instance = harness.AddInstance(scene);
  instance.session->SetOverrides(overrides);
  if (scene.block) instance.session->SetBlock(*scene.block);
  harness.CallAll(instance, selectors);
  Finish(harness, context);
}

Scene WithFrames(int32_t first, int32_t last) {
  Scene scene = StandardScene();
  scene.firstFrame = first;
  scene.lastFrame = last;
  return scene;
}

void AddAnswerChecks(Battery& battery) {
  const int32_t kMaxCapturable = (INT32_MAX - 52) / 16;  // frames whose block size still fits
  const std::vector<std::tuple<std::string, int32_t, int32_t>> ranges = {
      {"whole-int32", INT32_MIN, INT32_MAX},
      {"backwards-extremes", INT32_MAX, INT32_MIN},
      {"top-three", INT32_MAX - 2, INT32_MAX},
      {"top-two", INT32_MAX - 1, INT32_MAX},
      {"bottom-three", INT32_MIN, INT32_MIN + 2},
      {"single-frame", 7, 7},
      {"backwards", 5, -5},
      {"negative", -10, -3},
      {"one-past-capturable", 0, kMaxCapturable},
      {"most-capturable", 1, kMaxCapturable},
  };
  for (const auto& range : ranges) {
    Scene scene = WithFrames(std::get<1>(range), std::get<2>(range));
    AddAnswerCheck(battery, "frames-" + std::get<0>(range),
                   "frame range " + std::to_string(std::get<1>(range)) + " to " +
                       std::to_string(std::get<2>(range)),
                   [scene](CheckContext& context) { RunAnswers(context, scene, {}); });
  }
  // Object counts.
  const std::vector<std::pair<std::string, int32_t>> counts = {
      {"int32-min", INT32_MIN}, {"minus-two", -2}, {"minus-one", -1}, {"zero", 0}, {"one", 1},
      {"int32-max", INT32_MAX}};
  for (const auto& count : counts) {
    int32_t value = count.second;
    AddAnswerCheck(battery, "object-count-" + count.first, "object count " + std::to_string(value),
                   [value](CheckContext& context) {
                     HostAnswerOverrides overrides;
                     overrides.objectCount = value;
                     RunAnswers(context, StandardScene(), overrides);
                   });
  }
  AddAnswerCheck(battery, "object-count-huge-no-child",
                 "object count int32-max, no child; the host fails index 40",
                 [](CheckContext& context) {
                   Scene scene = StandardScene();
                   scene.objects.resize(2);
                   HostAnswerOverrides overrides;
                   overrides.objectCount = INT32_MAX;
                   overrides.beyondObjectsResult = 0;
                   // Objects of their own up to index 39, then the host has no more.
                   Scene many = scene;
                   for (int i = 2; i < 40; ++i)
                     many.objects.push_back(Object("object " + std::to_string(i), i - 1));
                   HostAnswerOverrides failing = overrides;
                   failing.beyondObjectsResult = -1;
                   RunAnswers(context, many, failing);
                 });
  AddAnswerCheck(battery, "object-count-beyond-scene", "object count 500, no child among them",
                 [](CheckContext& context) {
                   Scene scene = StandardScene();
                   scene.objects.resize(2);
                   HostAnswerOverrides overrides;
                   overrides.objectCount = 500;
                   RunAnswers(context, scene, overrides);
                 });
  // Null references and parent cycles.
  const std::vector<std::pair<std::string, std::function<void(Scene&)>>> shapes = {
      {"null-own-group", [](Scene& s) { s.objects[0].nullReference = true; }},
      {"null-child", [](Scene& s) { s.objects[2].nullReference = true; }},
      {"null-everything",
       [](Scene& s) {
         for (SceneObject& o : s.objects) o.nullReference = true;
       }},
      {"null-bystander", [](Scene& s) { s.objects[1].nullReference = true; }},
      {"own-group-child-of-child", [](Scene& s) { s.objects[0].parent = 2; }},
      {"own-group-its-own-parent", [](Scene& s) { s.objects[0].parent = 0; }},
      {"cycle-without-child",
       [](Scene& s) {
         s.objects[2].parent = 1;
         s.objects[1].parent = 2;
         s.objects[3].parent = 3;
       }},
      {"only-own-group", [](Scene& s) { s.objects.resize(1); }},
  };
  for (const auto& shape : shapes) {
    auto change = shape.second;
    AddAnswerCheck(battery, "scene-" + shape.first, "objects: " + shape.first,
                   [change](CheckContext& context) {
                     Scene scene = StandardScene();
                     change(scene);
                     RunAnswers(context, scene, {});
                   });
  }
  // Positions.
  const double nan = std::numeric_limits<double>::quiet_NaN(),
               inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<std::string, std::function<Vec3(int32_t, const Vec3&)>>> positions = {
      {"nan",
       [=](int32_t, const Vec3&) {
         return Vec3{nan, nan, nan};
       }},
      {"infinite",
       [=](int32_t, const Vec3&) {
         return Vec3{inf, -inf, inf};
       }},
      {"nan-at-one-frame",
       [=](int32_t f, const Vec3& p) {
         return f == 3 ? Vec3{nan, p.y, p.z} : p;
       }},
      {"beyond-float",
       [](int32_t f, const Vec3&) {
         return Vec3{1e300 * f, -1e39, 3.5e38};
       }},
      {"subnormal",
       [](int32_t f, const Vec3&) {
         return Vec3{1e-320 * f, -0.0, 1e-45};
       }},
      {"all-equal",
       [](int32_t, const Vec3&) {
         return Vec3{1, 2, 3};
       }},
      {"alternating",
       [](int32_t f, const Vec3&) {
         return Vec3{double(f % 2), 0, 0};
       }},
  };
  for (const auto& position : positions) {
    auto answer = position.second;
    AddAnswerCheck(battery, "positions-" + position.first, "'TOBJ' positions: " + position.first,
                   [answer](CheckContext& context) {
                     HostAnswerOverrides overrides;
                     overrides.position = answer;
                     RunAnswers(context, StandardScene(), overrides);
                   });
  }
  // Matrices.
  const std::vector<std::pair<std::string, std::function<void(Scene&)>>> matrices = {
      {"nan-group", [=](Scene& s) { s.groupMatrix.fill(nan); }},
      {"infinite-blur", [=](Scene& s) { s.blurMatrix.fill(inf); }},
      {"overflowing",
       [](Scene& s) {
         s.groupMatrix.fill(1e308);
         s.blurMatrix.fill(-1e308);
       }},
      {"zero",
       [](Scene& s) {
         s.groupMatrix.fill(0);
         s.blurMatrix.fill(0);
       }},
  };
  for (const auto& matrix : matrices) {
    auto change = matrix.second;
    AddAnswerCheck(battery, "matrices-" + matrix.first, "group matrices: " + matrix.first,
                   [change](CheckContext& context) {
                     Scene scene = StandardScene();
                     change(scene);
                     RunAnswers(context, scene, {});
                   });
  }
  // 'ALOC' that grants less than asked, on a new instance and on a resize.
  for (int32_t shortBy : {1, 4, 16, 51, 52, 100, INT32_MAX}) {
    for (bool stored : {false, true}) {
      AddAnswerCheck(
          battery,
          std::string("alloc-short-") + std::to_string(shortBy) + (stored ? "-stored" : "-new"),
          "'ALOC' grants " + std::to_string(shortBy) + " bytes fewer than asked" +
              (stored ? ", block stored" : ""),
          [shortBy, stored](CheckContext& context) {
            Scene scene = StandardScene();
            if (stored) scene.block = BlockWithPoints(3, 5, 0, 0, ByteOrder::kNative);
            HostAnswerOverrides overrides;
            overrides.allocationShortBy = shortBy;
            RunAnswers(context, scene, overrides);
          });
    }
  }
  AddAnswerCheck(battery, "mmal-null-with-success", "'MMAL' answers 0 without memory",
                 [](CheckContext& context) {
                   HostAnswerOverrides overrides;
                   overrides.memoryNullWithSuccess = true;
                   RunAnswers(context, StandardScene(), overrides);
                 });
  for (int32_t first : {INT32_MAX - 2, INT32_MIN, -1}) {
    AddAnswerCheck(battery, "vertex-indices-from-" + std::to_string(first),
                   "'ADDV' indices from " + std::to_string(first), [first](CheckContext& context) {
                     Scene scene = StandardScene();
                     scene.firstVertexIndex = first;
                     RunAnswers(context, scene, {});
                   });
  }

  CheckGenerator random;
  random.prefix = "answers/random";
  random.minimumRounds = 20;
  random.make = [](uint64_t round) {
    Check check;
    check.id = "answers/random/" + std::to_string(round);
    check.title = "random host answers and one refusal";
    check.run = [](CheckContext& context) {
      Rng rng(context.seed);
      Scene scene = StandardScene();
      int32_t first =
          static_cast<int32_t>(rng.Chance(0.1) ? int64_t(int32_t(rng.Next())) : rng.Range(-50, 50));
      int64_t last = rng.Chance(0.1) ? int64_t(int32_t(rng.Next())) : first + rng.Range(-2, 40);
      scene.firstFrame = first;
      scene.lastFrame =
          static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, last)));
      for (SceneObject& object : scene.objects) {
        if (rng.Chance(0.1)) object.nullReference = true;
        if (rng.Chance(0.15)) object.parent = static_cast<int32_t>(rng.Range(-1, 3));
      }
      const double nan = std::numeric_limits<double>::quiet_NaN();
      if (rng.Chance(0.1)) scene.groupMatrix[size_t(rng.Range(0, 15))] = nan;
      if (rng.Chance(0.1))
        scene.blurMatrix[size_t(rng.Range(0, 15))] = std::numeric_limits<double>::infinity();
      scene.firstVertexIndex = rng.Chance(0.2) ? int32_t(rng.Next()) : 0;
      if (rng.Chance(0.3))
        scene.block = BlockWithPoints(int(rng.Range(0, 6)), 5, 0, int32_t(rng.Range(0, 1)),
                                      rng.Chance(0.5) ? ByteOrder::kNative : ByteOrder::kSwapped);
      HostAnswerOverrides overrides;
      if (rng.Chance(0.2))
        overrides.objectCount = rng.Chance(0.5) ? int32_t(rng.Range(-3, 10)) : int32_t(rng.Next());
      overrides.beyondObjectsResult = rng.Chance(0.5) ? 0 : -2;
      if (overrides.objectCount && *overrides.objectCount > 1000)
        overrides.beyondObjectsResult = -2;
      if (rng.Chance(0.15)) overrides.allocationShortBy = int32_t(rng.Range(1, 60));
      overrides.memoryNullWithSuccess = rng.Chance(0.05);
      if (rng.Chance(0.2)) {
        uint64_t badFrame = rng.Next();
        overrides.position = [badFrame, nan](int32_t frame, const Vec3& p) {
          return (uint64_t(uint32_t(frame)) * 2654435761u + badFrame) % 5 == 0
                     ? Vec3{nan, p.y, -p.z}
                     : p;
        };
      }
      uint64_t refusal = rng.Chance(0.5) ? uint64_t(rng.Range(1, 60)) : 0;
      int32_t code = RefusalCode(rng);
      context.data["frames"] = {scene.firstFrame, scene.lastFrame};
      Harness harness(context.environment);
      if (refusal != 0) harness.RefuseCall(refusal, code);
      Instance& instance = harness.AddInstance(scene);
      instance.session->SetOverrides(overrides);
      if (scene.block) instance.session->SetBlock(*scene.block);
      harness.CallAll(instance, {kSelectorInit, kSelectorSetup, kSelectorGenerate,
                                 kSelectorInterface, kSelectorSetup, kSelectorGenerate});
      Finish(harness, context);
    };
    return check;
  };
  battery.random.push_back(random);
}

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

// ---------------------------------------------------------------------------
// setup/

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

}  // namespace

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

Battery MakeBattery() {
  Battery battery;
  AddSetupChecks(battery);
  AddFaultChecks(battery);
  AddBlockChecks(battery);
  AddAnswerChecks(battery);
  AddOrderChecks(battery);
  AddSaveLoadChecks(battery);
  return battery;
}

}  // namespace vhost
