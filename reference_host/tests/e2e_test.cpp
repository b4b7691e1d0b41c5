// End-to-end tests: the real plug-in, built as the shipped shared library,
// loaded into vestrel-host and played through the example scenes.
#include <math.h>

#include <algorithm>
#include <cstdio>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace vhost_e2e {
namespace {

using nlohmann::json;

// One play of a scene with every output switched on.
struct Played {
  HostRun run;
  json summary;
  std::vector<json> trace;
  ObjContent obj;
  std::string folder;
};

Played Play(const std::string& scene, std::vector<std::string> extra = {},
            const std::map<std::string, std::string>& env = {}, const std::string& input = "") {
  Played played;
  played.folder = TestFolder();
  std::string obj = played.folder + "/line.obj";
  std::string trace = played.folder + "/trace.jsonl";
  std::string summary = played.folder + "/summary.json";
  std::remove(summary.c_str());
  std::vector<std::string> args = {"play"};
  if (!scene.empty()) args.push_back(scene);
  args.insert(args.end(), {"--obj", obj, "--trace", trace, "--summary-json", summary});
  args.insert(args.end(), extra.begin(), extra.end());
  played.run = RunHost(args, env, input);
  if (ReadFile(summary).empty()) return played;  // refused before playing
  played.summary = ReadJson(summary);
  played.trace = ReadTrace(trace);
  played.obj = ReadObj(obj);
  return played;
}

// The summary entry of the nth call of selector (0 for the first).
json CallOf(const Played& played, const std::string& selector, int nth = 0) {
  for (const json& call : played.summary["calls"]) {
    if (call["selector"] == selector && nth-- == 0) return call;
  }
  return json();
}

void ExpectVertex(const ObjVertex& v, double x, double y, double z, double u) {
  EXPECT_NEAR(v.x, x, 1e-5);
  EXPECT_NEAR(v.y, y, 1e-5);
  EXPECT_NEAR(v.z, z, 1e-5);
  EXPECT_EQ(v.u, u);
}

// The OBJ line runs through its vertices in order, one segment after another.
void ExpectChain(const ObjContent& obj) {
  ASSERT_EQ(obj.lines.size() + 1, obj.vertices.size());
  for (size_t i = 0; i < obj.lines.size(); ++i) {
    EXPECT_EQ(obj.lines[i][0], int(i) + 1);
    EXPECT_EQ(obj.lines[i][1], int(i) + 2);
  }
}

TEST(EndToEnd, DefaultScenePrintsTheSummaryAndWritesObjAndSvg) {
  std::string folder = TestFolder();
  HostRun run = RunHost({"play", "--out", folder});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("scene \"helix\" (<embedded default scene>)"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("name \"Vestrel\", type 'STUB', version 1, flags 15"),
            std::string::npos);
  EXPECT_NE(run.output.find("description \"This plug-in creates a line of particles from motion "
                            "path of its first child group\""),
            std::string::npos);
  EXPECT_NE(run.output.find("frames sampled: 289"), std::string::npos);
  EXPECT_NE(run.output.find("SETM -> 0"), std::string::npos);
  EXPECT_NE(run.output.find("GENM -> 0"), std::string::npos);
  EXPECT_NE(run.output.find("violations: none"), std::string::npos);
  EXPECT_NE(run.output.find("result: OK"), std::string::npos);
  ObjContent obj = ReadObj(folder + "/helix.obj");
  EXPECT_GT(obj.vertices.size(), 2u);
  EXPECT_LT(obj.vertices.size(), 289u);
  ExpectChain(obj);
  std::string svg = ReadFile(folder + "/helix.svg");
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  EXPECT_NE(svg.find("class=\"generated\""), std::string::npos);
}

TEST(EndToEnd, NoArgumentsPlaysTheDefaultScene) {
  HostRun run = RunHost({});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("scene \"helix\""), std::string::npos);
}

TEST(EndToEnd, HelixSamplesEveryFrameAndTheLineCarriesTheFrames) {
  Played played = Play(Example("helix.json"));
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  std::vector<std::string> setup = SelectorsDuring(played.trace, "SETM");
  EXPECT_EQ(std::count(setup.begin(), setup.end(), "TOBJ"), 289);
  EXPECT_EQ(std::count(setup.begin(), setup.end(), "SYNC"), 290);
  int stored = CallOf(played, "SETM")["points_stored"];
  EXPECT_EQ(CallOf(played, "GENM")["vertices"], stored);
  EXPECT_EQ(CallOf(played, "GENM")["polygons"], stored - 1);
  ASSERT_EQ(played.obj.vertices.size(), size_t(stored));
  ExpectChain(played.obj);
  ExpectVertex(played.obj.vertices.front(), 4, 0, 0, 0);
  ExpectVertex(played.obj.vertices.back(), 4, 0, 6, 288);
  for (size_t i = 1; i < played.obj.vertices.size(); ++i)
    EXPECT_GT(played.obj.vertices[i].u, played.obj.vertices[i - 1].u);
}

TEST(EndToEnd, SquareKeepsItsCornersAndTheirNeighbours) {
  Played played = Play(Example("square.json"));
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  const std::vector<std::array<double, 4>> expected = {
      {0, 0, 0, 0},    {3.5, 0, 0, 7},  {4, 0, 0, 8},    {4, 0.5, 0, 9},
      {4, 3.5, 0, 15}, {4, 4, 0, 16},   {3.5, 4, 0, 17}, {0.5, 4, 0, 23},
      {0, 4, 0, 24},   {0, 3.5, 0, 25}, {0, 0, 0, 32}};
  EXPECT_EQ(CallOf(played, "SETM")["points_stored"], int(expected.size()));
  ASSERT_EQ(played.obj.vertices.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ExpectVertex(played.obj.vertices[i], expected[i][0], expected[i][1], expected[i][2],
                 expected[i][3]);
  }
  ExpectChain(played.obj);
}

TEST(EndToEnd, PausesAreDroppedAsRepeats) {
  Played played = Play(Example("pause.json"));
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  const ObjContent& obj = played.obj;
  ASSERT_GE(obj.vertices.size(), 4u);
  EXPECT_LT(obj.vertices.size(), 12u);
  for (size_t i = 1; i < obj.vertices.size(); ++i) {
    const ObjVertex& a = obj.vertices[i - 1];
    const ObjVertex& b = obj.vertices[i];
    EXPECT_FALSE(a.x == b.x && a.y == b.y && a.z == b.z) << "a repeat at vertex " << i;
  }
  auto has = [&](double x, double y, double z) {
    return std::any_of(obj.vertices.begin(), obj.vertices.end(),
                       [&](const ObjVertex& v) { return v.x == x && v.y == y && v.z == z; });
  };
  EXPECT_TRUE(has(0, 0, 0));
  EXPECT_TRUE(has(6, 0, 0));
  EXPECT_TRUE(has(6, 6, 0));
  EXPECT_TRUE(has(6, 6, 3));
  // The object at index 1 is not a child: the search goes on to index 2.
  std::vector<json> objects = CallsDuring(played.trace, "SETM");
  int asked = 0;
  for (const json& call : objects) asked += call["call"] == "UOBJ";
  EXPECT_EQ(asked, 4);  // -1, 0, 1, 2
}

TEST(EndToEnd, XolrHostCapturesNothingAndFetchesAndDeletesAGroupFirst) {
  Played played = Play(Example("xolr.json"));
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  EXPECT_TRUE(SelectorsDuring(played.trace, "SETM").empty());
  std::vector<std::string> generate = SelectorsDuring(played.trace, "GENM");
  ASSERT_GE(generate.size(), 2u);
  EXPECT_EQ(generate[0], "GETG");
  EXPECT_EQ(generate[1], "DELG");
  EXPECT_EQ(CallsDuring(played.trace, "GENM")[1]["group"],
            CallsDuring(played.trace, "GENM")[0]["group"]);
  ASSERT_EQ(played.obj.vertices.size(), 5u);
  ExpectVertex(played.obj.vertices[0], 0, 0, 0, 1);
  ExpectVertex(played.obj.vertices[3], 0, 3, 1, 30);
  ExpectVertex(played.obj.vertices[4], 0, 0, 2, 40);
  EXPECT_EQ(played.obj.lines.size(), 4u);
}

TEST(EndToEnd, DialogReverseRunsTheLineBackwardsThroughTheGroupMatrices) {
  Played played = Play(Example("dialog.json"));
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  json dialog = CallOf(played, "INTF")["dialog"];
  EXPECT_EQ(dialog["title"], "Vestrel 1.6");
  EXPECT_TRUE(dialog["accepted"]);
  EXPECT_EQ(played.summary["block"]["angle_tolerance"], 20.0);
  EXPECT_EQ(played.summary["block"]["reverse"], 1);
  const ObjContent& obj = played.obj;
  ASSERT_GE(obj.vertices.size(), 2u);
  // Reversed: the line starts at the last sample (5, 6, 0) and ends at the
  // first (0, 0, 0), both moved by the group matrix; u counts up from 0.
  ExpectVertex(obj.vertices.front(), 15, 6, 0, 0);
  ExpectVertex(obj.vertices.back(), 10, 0, 0, 48);
  // The blur matrix trails the group matrix by half a unit.
  for (const json& call : CallsDuring(played.trace, "GENM")) {
    if (call["call"] != "ADDV") continue;
    EXPECT_NEAR(double(call["position"][0]) - double(call["blur"][0]), 0.5, 1e-9);
  }
}

// A scene with a stored square path; the dialog answers come from the test.
std::string StoredPathScene(const std::string& dialog) {
  return R"({"name": "stored", "frames": {"first": 0, "last": 20},
    "objects": [{}, {"parent": 0, "motion": {"type": "circle", "radius": 2, "frames_per_turn": 20}}],
    "block": {"angle_tolerance": 5, "points": [[0,0,0,0], [1,0,0,5], [1,1,0,10]]})" +
         (dialog.empty() ? std::string() : ", \"dialog\": " + dialog) + "}";
}

TEST(EndToEnd, FreezeSetInTheDialogKeepsTheStoredPath) {
  Played played = Play(WriteFile("freeze.json", StoredPathScene(R"({"freeze": 1})")));
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  EXPECT_EQ(played.summary["block"]["freeze"], 1);
  EXPECT_TRUE(SelectorsDuring(played.trace, "SETM").empty());
  EXPECT_NE(played.run.output.find("(path unchanged)"), std::string::npos);
  ASSERT_EQ(played.obj.vertices.size(), 3u);
  ExpectVertex(played.obj.vertices[2], 1, 1, 0, 10);
}

TEST(EndToEnd, DialogAcceptStoresTheTypedAngleAndResets) {
  Played played = Play(
      WriteFile("accept.json", StoredPathScene(R"({"angle": "12.5 degrees", "accept": true})")));
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  EXPECT_EQ(CallOf(played, "INTF")["result"], 0);
  EXPECT_EQ(SelectorsDuring(played.trace, "INTF"), std::vector<std::string>{"RSET"});
  EXPECT_EQ(played.summary["block"]["angle_tolerance"], 12.5);
}

TEST(EndToEnd, DialogCancelLeavesTheBlockAndSendsNoReset) {
  Played played =
      Play(WriteFile("cancel.json",
                     StoredPathScene(R"({"angle": "30", "reverse": 1, "accept": false})")),
           {"--no-dialog", "--dialog"});
  // --dialog and --no-dialog together are refused before anything runs.
  EXPECT_EQ(played.run.exitCode, 1);
  played = Play(WriteFile("cancel.json",
                          StoredPathScene(R"({"angle": "30", "reverse": 1, "accept": false})")));
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  EXPECT_EQ(CallOf(played, "INTF")["result"], 4);
  EXPECT_TRUE(SelectorsDuring(played.trace, "INTF").empty());
  EXPECT_EQ(played.summary["block"]["angle_tolerance"], 5.0);
  EXPECT_EQ(played.summary["block"]["reverse"], 0);
  EXPECT_NE(played.run.output.find("INTF -> 4"), std::string::npos);
}

TEST(EndToEnd, InteractiveDialogTakesTheAnswersFromTheTerminal) {
  Played played = Play(Example("square.json"), {"--interactive"}, {}, "7.5\n1\n\no\n");
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  EXPECT_NE(played.run.output.find("Angle tolerance (degrees): [5]"), std::string::npos)
      << played.run.output;
  EXPECT_EQ(played.summary["block"]["angle_tolerance"], 7.5);
  EXPECT_EQ(played.summary["block"]["freeze"], 1);
  EXPECT_EQ(played.summary["block"]["reverse"], 0);
}

TEST(EndToEnd, InteractiveDialogCancelsAtTheEndOfInput) {
  Played played = Play(Example("square.json"), {"--interactive"}, {}, "");
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  EXPECT_EQ(CallOf(played, "INTF")["result"], 4);
}

TEST(EndToEnd, BlockSavedInTheOtherByteOrderReplaysToTheSameLine) {
  Played first = Play(Example("square.json"), {"--save-block", TestFolder() + "/square.block",
                                               "--block-byte-order", "swapped"});
  ASSERT_EQ(first.run.exitCode, 0) << first.run.output;
  std::string stored = ReadFile(TestFolder() + "/square.block");
  ASSERT_GE(stored.size(), 52u);
  EXPECT_EQ(stored.substr(0, 4), "ALIN");  // the magic, most significant byte first
  // Replay without capturing: an 'XOLR' host keeps the stored path as it is.
  std::string replay =
      WriteFile("replay.json", R"({"name": "replay", "frames": {"first": 0, "last": 32},
      "creator": "XOLR", "objects": [{}]})");
  Played second = Play(replay, {"--load-block", TestFolder() + "/square.block"});
  ASSERT_EQ(second.run.exitCode, 0) << second.run.output;
  EXPECT_TRUE(second.summary["block"]["native"]);  // repaired by the plug-in on 'INIT'
  ASSERT_EQ(second.obj.vertices.size(), first.obj.vertices.size());
  for (size_t i = 0; i < first.obj.vertices.size(); ++i) {
    const ObjVertex& a = first.obj.vertices[i];
    ExpectVertex(second.obj.vertices[i], a.x, a.y, a.z, a.u);
  }
}

TEST(EndToEnd, NativeBlockHandedOverInTheOtherByteOrderIsRepairedByThePlugin) {
  Played first = Play(Example("square.json"), {"--save-block", TestFolder() + "/native.block"});
  ASSERT_EQ(first.run.exitCode, 0) << first.run.output;
  Played second = Play(Example("xolr.json"), {"--load-block", TestFolder() + "/native.block",
                                              "--block-byte-order", "swapped"});
  ASSERT_EQ(second.run.exitCode, 0) << second.run.output;
  EXPECT_NE(second.run.output.find("stored block: 228 bytes, other byte order"), std::string::npos)
      << second.run.output;
  EXPECT_TRUE(second.summary["block"]["native"]);
  ASSERT_EQ(second.obj.vertices.size(), first.obj.vertices.size());
  ExpectVertex(second.obj.vertices.back(), 0, 0, 0, 32);
}

TEST(EndToEnd, RenderRangeSetsUpAndGeneratesAtEveryFrame) {
  std::string scene =
      WriteFile("render.json", R"({"name": "render", "frames": {"first": 0, "last": 8},
      "render": {"first": 3, "last": 5},
      "objects": [{}, {"parent": 0, "motion": {"type": "path", "points": [[0,0,0], [8,0,0]], "frames_per_segment": 8}}]})");
  Played played = Play(scene);
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  EXPECT_EQ(played.obj.objects, 3);
  EXPECT_EQ(CallOf(played, "GENM", 2)["frame"], 5);
  EXPECT_EQ(played.obj.vertices.size(), 6u);
}

TEST(EndToEnd, PluginReachesTheHostFunctionsThroughItsRunTimeLookup) {
  Played played = Play(Example("dialog.json"));
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  for (const char* name :
       {"Orvo_GetHomeDirectory", "Orvo_MakeFileRef", "Orvo_OpenResourceFile", "Orvo_MakeDialog",
        "Orvo_ExecuteDialog", "Orvo_DestroyDialog", "Orvo_CloseResourceFile"}) {
    // Lookups are seen only where the host can watch them (not in sanitizer builds).
    if (played.summary.value("functions_can_be_hidden", true)) {
      EXPECT_EQ(played.summary["lookups"][name], 1) << name;
    }
    EXPECT_GE(played.summary["host_functions"][name], 1) << name;
  }
  EXPECT_EQ(played.summary["resources"]["dialogs"]["released"], 1);
  EXPECT_EQ(played.summary["resources"]["resource files"]["released"], 1);
}

// ---------------------------------------------------------------------------
// Faults the host injects: the run succeeds, the summary shows what the
// plug-in did about it.

struct InjectedFault {
  const char* name;
  std::string scene;
  std::vector<std::string> options;
  const char* selector;  // the entry call to look at
  int result;            // what it returned
  const char* summaryText;
};

// Test names say what a case is; gtest need not print its bytes.
void PrintTo(const InjectedFault& value, std::ostream* out) { *out << value.name; }

class InjectedFaultTest : public testing::TestWithParam<InjectedFault> {};

TEST_P(InjectedFaultTest, PluginCopesAndTheSummaryShowsIt) {
  const InjectedFault& fault = GetParam();
  Played played = Play(fault.scene, fault.options);
  if (played.run.output.find("this build cannot keep the plug-in's lookups") != std::string::npos)
    GTEST_SKIP() << "this build of vestrel-host cannot hide a lookup (a sanitized one)";
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  EXPECT_EQ(CallOf(played, fault.selector)["result"], fault.result) << played.run.output;
  EXPECT_NE(played.run.output.find(fault.summaryText), std::string::npos) << played.run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InjectedFaultTest,
    testing::Values(InjectedFault{"hidden_execute_dialog_is_a_cancel",
                                  Example("dialog.json"),
                                  {"--hide-function", "Orvo_ExecuteDialog"},
                                  "INTF",
                                  4,
                                  "Orvo_ExecuteDialog hidden"},
                    InjectedFault{"hidden_open_resource_file_is_no_resource",
                                  Example("dialog.json"),
                                  {"--hide-function", "Orvo_OpenResourceFile"},
                                  "INTF",
                                  6,
                                  "resource files 0/0 released"},
                    InjectedFault{"refused_make_dialog_is_no_resource",
                                  Example("dialog.json"),
                                  {"--refuse-function", "Orvo_MakeDialog"},
                                  "INTF",
                                  6,
                                  "resource files 1/1 released"},
                    InjectedFault{"refused_tobj_stores_nothing",
                                  Example("square.json"),
                                  {"--refuse", "TOBJ:-7"},
                                  "SETM",
                                  0,
                                  "points stored: 0 (path unchanged)"},
                    InjectedFault{"refused_tinf_is_passed_on",
                                  Example("square.json"),
                                  {"--refuse", "TINF:-9"},
                                  "SETM",
                                  -9,
                                  "fault injected: 'TINF' (call #3) refused with -9"},
                    InjectedFault{"refused_creator_is_passed_on",
                                  Example("square.json"),
                                  {"--refuse-call", "2:-5"},
                                  "INIT",
                                  -5,
                                  "INIT -> -5"},
                    InjectedFault{"refused_addf_stops_generation",
                                  Example("square.json"),
                                  {"--refuse", "ADDF:-3"},
                                  "GENM",
                                  -3,
                                  "vertices received: 2, polygons received: 0"},
                    InjectedFault{"refused_mfre_leak_is_the_hosts_doing",
                                  Example("square.json"),
                                  {"--refuse", "MFRE"},
                                  "SETM",
                                  0,
                                  "a consequence of the fault the host was asked to inject"},
                    InjectedFault{"hidden_destroy_dialog_leak_is_the_hosts_doing",
                                  Example("dialog.json"),
                                  {"--hide-function", "Orvo_DestroyDialog"},
                                  "INTF",
                                  0,
                                  "a consequence of the fault the host was asked to inject"},
                    InjectedFault{"one_refused_destroy_dialog_call_leak_is_the_hosts_doing",
                                  Example("dialog.json"),
                                  {"--refuse-function-call", "22"},
                                  "INTF",
                                  0,
                                  "a consequence of the fault the host was asked to inject"},
                    InjectedFault{"one_refused_control_value_reads_zero",
                                  Example("dialog.json"),
                                  {"--refuse-function-call", "21"},
                                  "INTF",
                                  0,
                                  "reverse 0, points 0"},
                    InjectedFault{"one_hidden_lookup_of_close_resource_file_is_the_hosts_doing",
                                  Example("dialog.json"),
                                  {"--hide-lookup", "16"},
                                  "INTF",
                                  0,
                                  "a consequence of the fault the host was asked to inject"},
                    InjectedFault{"refused_getg_is_ignored",
                                  Example("xolr.json"),
                                  {"--refuse", "GETG"},
                                  "GENM",
                                  0,
                                  "vertices received: 5, polygons received: 4"}),
    [](const testing::TestParamInfo<InjectedFault>& info) { return std::string(info.param.name); });

TEST(EndToEnd, HiddenTitleFunctionIsNotFoundAndTheDialogStillRuns) {
  std::string scene =
      WriteFile("twice.json", R"({"name": "twice", "frames": {"first": 0, "last": 4},
      "objects": [{}], "dialog": {}, "render": {"first": 0, "last": 0}})");
  Played played = Play(scene, {"--hide-function", "Orvo_SetDialogTitle"});
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  if (!played.summary.value("functions_can_be_hidden", true)) {
    GTEST_SKIP() << "this build of vestrel-host cannot keep a function from the plug-in's lookup "
                    "(sanitizer build)";
  }
  EXPECT_EQ(played.summary["lookups"]["Orvo_SetDialogTitle"], 1);
  EXPECT_TRUE(played.summary["host_functions"]["Orvo_SetDialogTitle"].is_null());
  EXPECT_EQ(CallOf(played, "INTF")["result"], 0);  // a title is not needed to run the dialog
}

// ---------------------------------------------------------------------------
// Refusals: bad scenes, a missing plug-in or entry.

struct BadInput {
  const char* name;
  std::string sceneText;  // written to bad.json; empty: the file is missing
  const char* expected;
};

// Test names say what a case is; gtest need not print its bytes.
void PrintTo(const BadInput& value, std::ostream* out) { *out << value.name; }

class BadSceneFileTest : public testing::TestWithParam<BadInput> {};

TEST_P(BadSceneFileTest, IsRefusedWithOneClearMessage) {
  std::string path = GetParam().sceneText.empty() ? TestFolder() + "/missing.json"
                                                  : WriteFile("bad.json", GetParam().sceneText);
  HostRun run = RunHost({"play", path});
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("vestrel-host: bad scene: " + path + ": "), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find(GetParam().expected), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("calls:"), std::string::npos);  // nothing was played
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, BadSceneFileTest,
    testing::Values(
        BadInput{"missing_file", "", "no such scene file"},
        BadInput{"malformed_json", "{\"frames\": {\"first\": 0, \"last\": }", "line 1, column"},
        BadInput{"binary_garbage",
                 std::string("\x7f"
                             "ELF\x01\x02",
                             6),
                 "not valid JSON"},
        BadInput{"wrong_type", R"({"frames": {"first": 0, "last": 9}, "objects": "none"})",
                 "at $.objects: expected an array"},
        BadInput{"missing_field", R"({"objects": []})", "missing \"frames\""},
        BadInput{"absurd_frame_range",
                 R"({"frames": {"first": -2147483648, "last": 2147483647}, "objects": []})",
                 "more than the 100000 allowed"},
        BadInput{"number_beyond_double",
                 R"({"frames": {"first": 0, "last": 1e400}, "objects": []})", "not valid JSON"},
        BadInput{"render_range_beyond_the_limit",
                 R"({"frames": {"first": 0, "last": 9}, "render": {"first": 0, "last": 5000},
                     "objects": []})",
                 "--max-render-frames raises the limit"},
        BadInput{"key_named_twice",
                 R"({"frames": {"first": 0, "last": 9, "last": 3}, "objects": []})",
                 "key \"last\": named twice in one object"},
        BadInput{
            "absurd_coordinate",
            R"({"frames": {"first": 0, "last": 9}, "objects": [{"motion": {"type": "static", "position": [0, 1e200, 0]}}]})",
            "at $.objects[0].motion.position[1]"}),
    [](const testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

TEST(EndToEnd, MaxFramesRaisesTheCap) {
  std::string scene =
      WriteFile("long.json", R"({"frames": {"first": 0, "last": 150000}, "objects": [{}]})");
  EXPECT_EQ(RunHost({"play", scene}).exitCode, 1);
  HostRun run = RunHost({"play", scene, "--max-frames", "200000"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
}

TEST(EndToEnd, MissingPluginFileIsRefused) {
  HostRun run = RunHost({"play", "--plugin", TestFolder() + "/Nothing.so"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("Nothing.so: no such plug-in file"), std::string::npos) << run.output;
}

TEST(EndToEnd, FileThatIsNotALibraryIsRefused) {
  std::string fake = WriteFile("Fake.so", "this is not a shared library\n");
  HostRun run = RunHost({"play", "--plugin", fake});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("Fake.so: cannot be loaded as a plug-in"), std::string::npos)
      << run.output;
}

TEST(EndToEnd, LibraryWithoutTheEntryIsRefused) {
  HostRun run = RunHost({"play", "--plugin", VHOST_NO_ENTRY_PLUGIN});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("the plug-in has no entry named 'Main'"), std::string::npos)
      << run.output;
}

TEST(EndToEnd, BrokenResourceFileIsReportedWithItsLine) {
  std::string home = TestFolder();
  WriteFile("Vestrel.rsc", "dialog 21000 \"Vestrel\"\n  edit 3 \"5\n end\n");
  Played played = Play(Example("dialog.json"), {"--home", home});
  ASSERT_EQ(played.run.exitCode, 0) << played.run.output;
  EXPECT_EQ(CallOf(played, "INTF")["result"], 6);
  EXPECT_NE(played.run.output.find("Vestrel.rsc:2: the caption has no closing double quote"),
            std::string::npos)
      << played.run.output;
}

// ---------------------------------------------------------------------------
// A plug-in that breaks the rules makes the run fail loudly.

struct Misbehaviour {
  const char* name;
  const char* scene;
  const char* expected;
};

// Test names say what a case is; gtest need not print its bytes.
void PrintTo(const Misbehaviour& value, std::ostream* out) { *out << value.name; }

class MisbehavingPluginTest : public testing::TestWithParam<Misbehaviour> {};

TEST_P(MisbehavingPluginTest, FailsTheRunWithAMessage) {
  std::vector<std::string> args = {"play", Example(GetParam().scene), "--plugin",
                                   VHOST_MISBEHAVING_PLUGIN};
  HostRun run = RunHost(args, {{"VESTREL_MISBEHAVE", GetParam().name}});
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_NE(run.output.find(GetParam().expected), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MisbehavingPluginTest,
    testing::Values(
        Misbehaviour{"overrun-block", "square.json", "OVERRUN: the parameter block (52 bytes"},
        Misbehaviour{"overrun-far", "square.json",
                     "OVERRUN: the plug-in touched memory past the end of the parameter block"},
        Misbehaviour{"overrun-memory", "square.json", "past the end of the sample memory ('MMAL')"},
        Misbehaviour{"stale-block", "square.json",
                     "touched the parameter block after the host had moved or freed it"},
        Misbehaviour{"leak-memory", "square.json", "LEAK: sample memory"},
        Misbehaviour{"leak-directory", "dialog.json", "LEAK: directory reference"},
        Misbehaviour{"wrong-size", "square.json", "'CREA' sent with size 4"},
        Misbehaviour{"wrong-owner", "square.json", "'CREA' carries the owner value null"},
        Misbehaviour{"tobj-without-sync", "square.json",
                     "'TOBJ' without a 'SYNC' with flag 1 before it"},
        Misbehaviour{"bad-free", "square.json", "'MFRE' of 0x1234"},
        Misbehaviour{"bad-face", "square.json", "'ADDF' names vertex 100 and 101"},
        Misbehaviour{"info-write", "square.json", "of the info record that are the host's"}),
    [](const testing::TestParamInfo<Misbehaviour>& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST(EndToEnd, CanaryModeCatchesTheOverrunAtTheEndOfTheCall) {
  HostRun run = RunHost({"play", Example("square.json"), "--plugin", VHOST_MISBEHAVING_PLUGIN,
                         "--memory-check", "canary"},
                        {{"VESTREL_MISBEHAVE", "overrun-block"}});
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_NE(run.output.find("was written past its end"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("result: FAILED"), std::string::npos);
}

}  // namespace
}  // namespace vhost_e2e
