// The validator's checks of group answers/
//   answers/   host answers at the edges: frame ranges, object counts, null references,
//            parent cycles, NaN positions and matrices, short 'ALOC', 'MMAL' without
//            memory, vertex indices that wrap, careless answers of the dialog's
//            host functions
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
// answers/

const double kNaN64 = std::numeric_limits<double>::quiet_NaN();
const double kInf64 = std::numeric_limits<double>::infinity();

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

// A session with the dialog under twisted answers of the host's functions,
// shown again and again after one honest answer of a long text: the
// plug-in's text buffers are a ring that comes round after a few dialogs, so
// whatever the earlier text left in one would show.
void RunFunctionAnswers(CheckContext& context, const Scene& scene,
                        const FunctionAnswerOverrides& answers) {
  Scene typed = scene;
  typed.dialog->texts[kAngleControl] = "123.25";  // a long text first, honestly read
  Harness harness(context.environment);
  Instance& instance = harness.AddInstance(typed);
  harness.CallAll(instance, {kSelectorInit, kSelectorInterface});
  harness.SetFunctionAnswers(answers);
  std::vector<uint32_t> selectors(20, kSelectorInterface);
  selectors.insert(selectors.end(), {kSelectorSetup, kSelectorGenerate});
  harness.CallAll(instance, selectors);
  Finish(harness, context);
}

Scene WithFrames(int32_t first, int32_t last) {
  Scene scene = StandardScene();
  scene.firstFrame = first;
  scene.lastFrame = last;
  return scene;
}

// Frame ranges at the edges of 32 bits and of what a block can hold.
void AddFrameRangeChecks(Battery& battery) {
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
}

// Object counts past the scene, negative and huge.
void AddObjectCountChecks(Battery& battery) {
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
}

// Null references and parent cycles.
void AddReferenceChecks(Battery& battery) {
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
}

// Positions that are not numbers, infinite or huge.
void AddPositionChecks(Battery& battery) {
  const std::vector<std::pair<std::string, PositionAnswer>> positions = {
      {"nan",
       [=](const void*, int32_t, const Vec3&) {
         return Vec3{kNaN64, kNaN64, kNaN64};
       }},
      {"infinite",
       [=](const void*, int32_t, const Vec3&) {
         return Vec3{kInf64, -kInf64, kInf64};
       }},
      {"nan-at-one-frame",
       [=](const void*, int32_t f, const Vec3& p) {
         return f == 3 ? Vec3{kNaN64, p.y, p.z} : p;
       }},
      {"beyond-float",
       [](const void*, int32_t f, const Vec3&) {
         return Vec3{1e300 * f, -1e39, 3.5e38};
       }},
      {"subnormal",
       [](const void*, int32_t f, const Vec3&) {
         return Vec3{1e-320 * f, -0.0, 1e-45};
       }},
      {"all-equal",
       [](const void*, int32_t, const Vec3&) {
         return Vec3{1, 2, 3};
       }},
      {"alternating",
       [](const void*, int32_t f, const Vec3&) {
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
}

// Group and blur matrices that are not numbers or infinite.
void AddMatrixChecks(Battery& battery) {
  const std::vector<std::pair<std::string, std::function<void(Scene&)>>> matrices = {
      {"nan-group", [=](Scene& s) { s.groupMatrix.fill(kNaN64); }},
      {"infinite-blur", [=](Scene& s) { s.blurMatrix.fill(kInf64); }},
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
}

// 'ALOC' that grants less than asked, on a new instance and on a resize, and
// 'MMAL' that succeeds without memory.
void AddMemoryAnswerChecks(Battery& battery) {
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
  for (int32_t extra : {1, 16, 1000}) {
    AddAnswerCheck(battery, "alloc-extra-" + std::to_string(extra),
                   "'ALOC' grants " + std::to_string(extra) + " bytes more than asked",
                   [extra](CheckContext& context) {
                     Scene scene = StandardScene();
                     scene.block = BlockWithPoints(3, 5, 0, 0, ByteOrder::kNative);
                     HostAnswerOverrides overrides;
                     overrides.allocationExtra = extra;
                     RunAnswers(context, scene, overrides);
                   });
  }
  AddAnswerCheck(battery, "mmal-null-with-success", "'MMAL' answers 0 without memory",
                 [](CheckContext& context) {
                   HostAnswerOverrides overrides;
                   overrides.memoryNullWithSuccess = true;
                   RunAnswers(context, StandardScene(), overrides);
                 });
}

// 'ADDV' indices that wrap round the top of 32 bits or do not follow one
// another; an 'XOLR' host whose 'GETG' answers a null group.
void AddVertexIndexChecks(Battery& battery) {
  for (int32_t step : {2, -1, 1000003}) {
    AddAnswerCheck(battery, "vertex-indices-step-" + std::to_string(step),
                   "'ADDV' indices " + std::to_string(step) + " apart",
                   [step](CheckContext& context) {
                     HostAnswerOverrides overrides;
                     overrides.vertexIndexStep = step;
                     RunAnswers(context, StandardScene(), overrides);
                   });
  }
  AddAnswerCheck(battery, "getg-null-group", "'GETG' answers a null group ('XOLR' host)",
                 [](CheckContext& context) {
                   Scene scene = StandardScene();
                   scene.creator = kCreatorXolr;
                   scene.block = BlockWithPoints(3, 5, 0, 0, ByteOrder::kNative);
                   HostAnswerOverrides overrides;
                   overrides.nullGroup = true;
                   RunAnswers(context, scene, overrides);
                 });
  for (int32_t first : {INT32_MAX - 2, INT32_MIN, -1}) {
    AddAnswerCheck(battery, "vertex-indices-from-" + std::to_string(first),
                   "'ADDV' indices from " + std::to_string(first), [first](CheckContext& context) {
                     Scene scene = StandardScene();
                     scene.firstVertexIndex = first;
                     RunAnswers(context, scene, {});
                   });
  }
}

// The dialog's host functions answering carelessly: edit-text sizes that are
// negative, zero or huge; text bytes with no terminator, past the plug-in's
// buffer, or not a number; control values and dialog results other than 0
// and 1.
void AddFunctionAnswerChecks(Battery& battery) {
  const std::string kLong(300, '7');
  const std::vector<std::pair<std::string, std::function<void(FunctionAnswerOverrides&)>>> twists = {
      {"size-int32-min", [](FunctionAnswerOverrides& a) { a.editTextSize = INT32_MIN; }},
      {"size-minus-one", [](FunctionAnswerOverrides& a) { a.editTextSize = -1; }},
      {"size-zero", [](FunctionAnswerOverrides& a) { a.editTextSize = 0; }},
      {"size-one", [](FunctionAnswerOverrides& a) { a.editTextSize = 1; }},
      {"size-int32-max", [](FunctionAnswerOverrides& a) { a.editTextSize = INT32_MAX; }},
      {"text-unterminated", [](FunctionAnswerOverrides& a) { a.editTextBytes = "12"; }},
      {"text-fills-buffer",
       [kLong](FunctionAnswerOverrides& a) {
         a.editTextSize = 1000;
         a.editTextBytes = kLong;
       }},
      {"text-nul-inside", [](FunctionAnswerOverrides& a) { a.editTextBytes = std::string("3\0009", 3); }},
      {"text-high-bytes", [](FunctionAnswerOverrides& a) { a.editTextBytes = "\xff\xfe 4\x80"; }},
      {"text-overflowing", [](FunctionAnswerOverrides& a) { a.editTextBytes = "1e400"; }},
      {"text-nan", [](FunctionAnswerOverrides& a) { a.editTextBytes = "nan"; }},
      {"text-negative-zero", [](FunctionAnswerOverrides& a) { a.editTextBytes = "-0"; }},
      {"length-written-huge", [](FunctionAnswerOverrides& a) { a.lengthWritten = INT32_MAX; }},
      {"length-written-negative", [](FunctionAnswerOverrides& a) { a.lengthWritten = -7; }},
      {"control-value-int32-min", [](FunctionAnswerOverrides& a) { a.controlValue = INT32_MIN; }},
      {"control-value-two", [](FunctionAnswerOverrides& a) { a.controlValue = 2; }},
      {"control-value-minus-one", [](FunctionAnswerOverrides& a) { a.controlValue = -1; }},
      {"execute-minus-one", [](FunctionAnswerOverrides& a) { a.executeResult = -1; }},
      {"execute-two", [](FunctionAnswerOverrides& a) { a.executeResult = 2; }},
      {"execute-int32-min", [](FunctionAnswerOverrides& a) { a.executeResult = INT32_MIN; }},
      {"execute-zero-after-accept", [](FunctionAnswerOverrides& a) { a.executeResult = 0; }},
  };
  for (const auto& twist : twists) {
    auto change = twist.second;
    AddAnswerCheck(battery, "functions-" + twist.first, "host functions: " + twist.first,
                   [change](CheckContext& context) {
                     FunctionAnswerOverrides answers;
                     change(answers);
                     RunFunctionAnswers(context, StandardScene(), answers);
                   });
  }
}

// Careless answers of the dialog's host functions, now and then.
FunctionAnswerOverrides RandomFunctionAnswers(Rng& rng) {
  const int32_t kEdges[] = {INT32_MIN, -1, 0, 1, 2, 5, 255, 256, 257, INT32_MAX};
  auto edge = [&]() { return rng.Chance(0.5) ? kEdges[rng.Range(0, 9)] : int32_t(rng.Next()); };
  FunctionAnswerOverrides answers;
  if (rng.Chance(0.15)) answers.editTextSize = edge();
  if (rng.Chance(0.15)) {
    std::string bytes(size_t(rng.Range(0, 300)), '\0');
    for (char& byte : bytes) byte = rng.Chance(0.7) ? "0123456789.-+eE "[rng.Range(0, 15)] : char(rng.Next());
    answers.editTextBytes = bytes;
  }
  if (rng.Chance(0.1)) answers.lengthWritten = edge();
  if (rng.Chance(0.1)) answers.controlValue = edge();
  if (rng.Chance(0.1)) answers.executeResult = edge();
  return answers;
}

// Random rounds: hostile answers mixed, with a refusal now and then.
void AddRandomAnswerRounds(Battery& battery) {
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
      if (rng.Chance(0.1)) scene.groupMatrix[size_t(rng.Range(0, 15))] = kNaN64;
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
        overrides.position = [badFrame](const void*, int32_t frame, const Vec3& p) {
          return (uint64_t(uint32_t(frame)) * 2654435761u + badFrame) % 5 == 0
                     ? Vec3{kNaN64, p.y, -p.z}
                     : p;
        };
      }
      uint64_t refusal = rng.Chance(0.5) ? uint64_t(rng.Range(1, 60)) : 0;
      int32_t code = RefusalCode(rng);
      context.data["frames"] = {scene.firstFrame, scene.lastFrame};
      Harness harness(context.environment);
      if (refusal != 0) harness.RefuseCall(refusal, code);
      if (rng.Chance(0.2)) harness.RefuseFunctionCall(uint64_t(rng.Range(1, 25)));
      harness.SetFunctionAnswers(RandomFunctionAnswers(rng));
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

}  // namespace

void AddAnswerChecks(Battery& battery) {
  AddFrameRangeChecks(battery);
  AddObjectCountChecks(battery);
  AddReferenceChecks(battery);
  AddPositionChecks(battery);
  AddMatrixChecks(battery);
  AddMemoryAnswerChecks(battery);
  AddVertexIndexChecks(battery);
  AddFunctionAnswerChecks(battery);
  AddRandomAnswerRounds(battery);
}

}  // namespace vhost
