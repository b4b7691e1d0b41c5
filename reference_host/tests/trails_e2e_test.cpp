// The trails in their source's world: several nodes traced in one run, each
// line written where the node it traced is when an everyday glTF client
// (three.js, under Node.js) loads the file beside its source; the source and
// its trails in one .glb that keeps every byte of the source; the provenance
// and attribution in what is written; FBX at its own frame rate. Real files
// come from ../shared/animations (the tests skip without them) and from the
// small FBX and COLLADA files a Blender script made (fixtures/authored).
#include <string.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "shared_animations.h"

namespace vhost_e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string Authored(const std::string& name) {
  return (fs::path(VHOST_AUTHORED_ANIMATIONS) / name).string();
}

const std::vector<std::string> kFoxFeet = {"b_LeftFoot02_018", "b_RightFoot02_022",
                                           "b_LeftHand_011", "b_RightHand_08"};

std::vector<std::string> FoxWalk(const std::vector<std::string>& nodes) {
  std::vector<std::string> args = {"play", Animation("Fox.glb"), "--animation", "Walk"};
  for (const std::string& node : nodes) args.insert(args.end(), {"--node", node});
  return args;
}

std::vector<std::string> With(std::vector<std::string> args,
                              const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The JSON and binary chunks of a .glb.
struct Glb {
  json root;
  std::string bin;
};

Glb ReadGlb(const std::string& path) {
  const std::string bytes = ReadFile(path);
  Glb glb;
  uint32_t jsonLength = 0, binLength = 0;
  if (bytes.size() < 20) return glb;
  memcpy(&jsonLength, bytes.data() + 12, 4);
  glb.root = json::parse(bytes.substr(20, jsonLength));
  if (20 + jsonLength + 8 <= bytes.size()) {
    memcpy(&binLength, bytes.data() + 20 + jsonLength, 4);
    glb.bin = bytes.substr(20 + jsonLength + 8, binLength);
  }
  return glb;
}

struct OnNodeCase {
  const char* what;
  std::vector<std::string> args;
  const char* output;  // the trails' file, in the test folder
  std::string source;  // loaded beside it; "-" when the output holds it
  long trails;
};

// Each trail, loaded by three.js with its source and the source's clip played
// to each point's frame, lies on the node it traced: within 1e-5 of the span
// of its path.
TEST(TrailsInTheirSource, LieOnTheNodesTheyTracedWhenLoadedBesideTheSource) {
  SKIP_WITHOUT_ANIMATIONS();
  if (!fs::exists(VHOST_NODE) || !fs::exists(VHOST_THREE))
    GTEST_SKIP() << "three.js is not installed (Node.js at '" VHOST_NODE "', three at " VHOST_THREE
                    "; scripts/install-deps.sh installs both)";
  const OnNodeCase cases[] = {
      {"the fox's four feet, source and trails in one .glb",
       With(FoxWalk(kFoxFeet), {"--with-source"}), "fox.glb", "-", 4},
      {"the fox's head and tail at a hundredth of its size, .gltf beside the source",
       {"play", Animation("Fox.glb"), "--animation", "Run", "--node", "b_Head_05", "--node",
        "b_Tail03_014", "--scale", "0.01"},
       "fox.gltf", Animation("Fox.glb"), 2},
      {"a hand and a foot of a BVH capture, scaled, beside the BVH file",
       {"play", Animation("01_01_trim600.bvh"), "--node", "LeftHand", "--node", "RightFoot",
        "--scale", "0.056444"},
       "capture.glb", Animation("01_01_trim600.bvh"), 2},
  };
  for (const OnNodeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string output = TestFolder() + "/" + c.output;
    HostRun run = RunHost(With(c.args, {"--gltf", output}));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    int exitCode = -1;
    const std::string report =
        RunCommand(Quoted(VHOST_NODE) + " " + Quoted(VHOST_TRAILS_CHECK_SCRIPT) + " " +
                       Quoted(VHOST_THREE) + " " + Quoted(output) + " " + Quoted(c.source) +
                       " 1e-5",
                   &exitCode);
    EXPECT_EQ(exitCode, 0) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), c.trails) << report;
  }
}

// The .glb with the source: every array of the source comes first and
// unchanged, its binary chunk is the start of the new one byte for byte, and
// the validator finds no more in it than in the source.
TEST(TrailsInTheirSource, WithSourceKeepsEverySourceByteAndValidates) {
  SKIP_WITHOUT_ANIMATIONS();
  const std::string output = TestFolder() + "/fox.glb";
  HostRun run = RunHost(With(FoxWalk(kFoxFeet), {"--gltf", output, "--with-source"}));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const Glb source = ReadGlb(Animation("Fox.glb")), written = ReadGlb(output);
  ASSERT_GE(written.bin.size(), source.bin.size());
  EXPECT_TRUE(written.bin.compare(0, source.bin.size(), source.bin) == 0)
      << "the source's binary chunk changed";
  for (const char* key : {"accessors", "bufferViews", "images", "textures", "samplers",
                          "materials", "meshes", "skins", "animations", "nodes"}) {
    SCOPED_TRACE(key);
    const json& before = source.root.value(key, json::array());
    const json& after = written.root.value(key, json::array());
    ASSERT_GE(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]) << key << " " << i;
  }
  EXPECT_EQ(written.root["asset"], source.root["asset"]);
  std::vector<std::string> trailNames;
  for (size_t i = source.root["nodes"].size(); i < written.root["nodes"].size(); ++i)
    trailNames.push_back(written.root["nodes"][i]["name"]);
  EXPECT_EQ(trailNames, kFoxFeet);

  if (!fs::exists(VHOST_NODE) || !fs::exists(VHOST_GLTF_VALIDATOR))
    GTEST_SKIP() << "the Khronos glTF validator is not installed (scripts/install-deps.sh)";
  int exitCode = -1;
  const std::string report = RunCommand(
      Quoted(VHOST_NODE) + " " + Quoted(VHOST_GLTF_VALIDATE_SCRIPT) + " " +
          Quoted(VHOST_GLTF_VALIDATOR) + " " + Quoted(Animation("Fox.glb")) + " " + Quoted(output),
      &exitCode);
  EXPECT_EQ(exitCode, 0) << report;
}

// The lines of one run over several nodes are the lines of one run a node:
// the groups do not disturb each other, whichever order the calls go in.
TEST(SeveralNodes, TheFoxsFourFeetInOneRunAreFourSingleRuns) {
  SKIP_WITHOUT_ANIMATIONS();
  const std::string folder = TestFolder();
  ObjContent singles;
  for (const std::string& node : kFoxFeet) {
    HostRun run = RunHost(With(FoxWalk({node}), {"--obj", folder + "/one.obj"}));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ObjContent one = ReadObj(folder + "/one.obj");
    const int base = int(singles.vertices.size());
    singles.vertices.insert(singles.vertices.end(), one.vertices.begin(), one.vertices.end());
    for (const auto& line : one.lines) singles.lines.push_back({line[0] + base, line[1] + base});
    singles.objects += one.objects;
  }
  for (const char* order : {"group", "setup-first"}) {
    SCOPED_TRACE(order);
    HostRun run =
        RunHost(With(FoxWalk(kFoxFeet), {"--obj", folder + "/four.obj", "--call-order", order}));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ObjContent four = ReadObj(folder + "/four.obj");
    EXPECT_EQ(four.objects, 4);
    EXPECT_EQ(four.lines, singles.lines);
    ASSERT_EQ(four.vertices.size(), singles.vertices.size());
    for (size_t i = 0; i < four.vertices.size(); ++i) {
      EXPECT_EQ(four.vertices[i].x, singles.vertices[i].x) << i;
      EXPECT_EQ(four.vertices[i].y, singles.vertices[i].y) << i;
      EXPECT_EQ(four.vertices[i].z, singles.vertices[i].z) << i;
      EXPECT_EQ(four.vertices[i].u, singles.vertices[i].u) << i;
    }
  }
}

struct OrderCase {
  const char* order;
  std::vector<std::string> calls;  // "SELECTOR group" in the order sent
  size_t borrowedNotes;            // lines placed with another group's matrices
};

TEST(SeveralNodes, GroupsAreCalledInTheOrderChosenAndBorrowedMatricesNoted) {
  SKIP_WITHOUT_ANIMATIONS();
  const OrderCase cases[] = {
      {"group",
       {"INFO ", "INIT b_Head_05", "INIT b_Tail03_014", "SETM b_Head_05", "GENM b_Head_05",
        "SETM b_Tail03_014", "GENM b_Tail03_014"},
       0},
      {"setup-first",
       {"INFO ", "INIT b_Head_05", "INIT b_Tail03_014", "SETM b_Head_05", "SETM b_Tail03_014",
        "GENM b_Head_05", "GENM b_Tail03_014"},
       1},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.order);
    const std::string summary = TestFolder() + "/summary.json";
    HostRun run = RunHost(With(FoxWalk({"b_Head_05", "b_Tail03_014"}),
                               {"--call-order", c.order, "--summary-json", summary}));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    json s = ReadJson(summary);
    std::vector<std::string> calls;
    for (const json& call : s["calls"])
      calls.push_back(call["selector"].get<std::string>() + " " + call.value("instance", ""));
    EXPECT_EQ(calls, c.calls);
    size_t borrowed = 0;
    for (const json& note : s["notes"])
      if (note.get<std::string>().find("placed with the matrices of group") != std::string::npos)
        ++borrowed;
    EXPECT_EQ(borrowed, c.borrowedNotes) << s["notes"].dump();
  }
}

struct BlockNamingCase {
  const char* what;
  std::vector<std::string> args;
  int exitCode;
  const char* message;  // in the output
};

TEST(SeveralNodes, StoredBlocksNameTheirGroup) {
  SKIP_WITHOUT_ANIMATIONS();
  const std::string folder = TestFolder();
  const std::vector<std::string> two = FoxWalk({"b_Head_05", "b_Tail03_014"});
  const BlockNamingCase cases[] = {
      {"each group's block saved by name",
       With(two, {"--save-block", "b_Head_05=" + folder + "/head.blk", "--save-block",
                  "b_Tail03_014=" + folder + "/tail.blk"}),
       0, "wrote " "" },
      {"a block loaded into one group by name",
       With(two, {"--load-block", "b_Tail03_014=" + folder + "/tail.blk"}), 0, "result: OK"},
      {"a bare path among several groups",
       With(two, {"--save-block", folder + "/which.blk"}), 1,
       "names no group of the scene; it has 2, give one as INSTANCE=PATH: \"b_Head_05\", "
       "\"b_Tail03_014\""},
      {"a group that is not in the scene",
       With(two, {"--load-block", "b_Neck_04=" + folder + "/tail.blk"}), 1,
       "names no group of the scene"},
  };
  for (const BlockNamingCase& c : cases) {
    SCOPED_TRACE(c.what);
    HostRun run = RunHost(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
  }
  EXPECT_TRUE(fs::exists(folder + "/head.blk"));
  EXPECT_NE(ReadFile(folder + "/head.blk"), ReadFile(folder + "/tail.blk"));
  EXPECT_FALSE(fs::exists(folder + "/which.blk"));
}

struct ProvenanceCase {
  const char* what;
  std::vector<std::string> args;
  std::vector<std::string> objHeader;  // lines the OBJ's comments hold
  bool copyright;                      // asset.copyright and extras in the glTF
};

TEST(Provenance, AttributionAndSourceTravelIntoObjAndGltfWhereTheSceneHasThem) {
  SKIP_WITHOUT_ANIMATIONS();
  const ProvenanceCase cases[] = {
      {"an imported fox",
       FoxWalk({"b_LeftFoot02_018"}),
       {"# Axes: the host's axes: Z up, right-handed",
        "# b_LeftFoot02_018: source: Fox.glb (glTF), node \"b_LeftFoot02_018\", animation "
        "\"Walk\", 24 fps, frames 0 to 17",
        "# b_LeftFoot02_018: angle tolerance: 5 degrees",
        "# copyright: CC-BY 4.0 Model by PixelMannen"},
       true},
      {"an imported fox with the OBJ in its source's axes",
       With(FoxWalk({"b_LeftFoot02_018"}), {"--obj-axes", "source"}),
       {"# Axes: Y up, right-handed, in the source's units"},
       true},
      {"a scene written by hand", {"play", Example("square.json")}, {"# Axes: the host's axes"},
       false},
  };
  for (const ProvenanceCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = TestFolder();
    HostRun run =
        RunHost(With(c.args, {"--obj", folder + "/l.obj", "--gltf", folder + "/l.gltf"}));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string obj = ReadFile(folder + "/l.obj");
    for (const std::string& line : c.objHeader)
      EXPECT_NE(obj.find(line), std::string::npos) << line << "\n" << obj.substr(0, 800);
    EXPECT_EQ(obj.find("copyright"), c.copyright ? obj.find("copyright") : std::string::npos);
    const json gltf = ReadJson(folder + "/l.gltf");
    EXPECT_EQ(gltf["asset"].contains("copyright"), c.copyright);
    const json& node = gltf["nodes"][0];
    EXPECT_EQ(node.contains("extras") && node["extras"].contains("source_file"), c.copyright);
    if (c.copyright) {
      EXPECT_EQ(node["name"], "b_LeftFoot02_018");
      EXPECT_EQ(node["extras"]["animation"], "Walk");
      EXPECT_EQ(node["extras"]["frames"], json::array({0, 17}));
      EXPECT_EQ(node["extras"]["fps"], 24);
    }
  }
}

struct RefusedSourceCase {
  const char* what;
  std::vector<std::string> args;
  const char* message;
};

TEST(TrailsInTheirSource, WithSourceIsRefusedWhereThereIsNoGltfToCarry) {
  SKIP_WITHOUT_ANIMATIONS();
  const std::string folder = TestFolder();
  const RefusedSourceCase cases[] = {
      {"a BVH source",
       {"play", Animation("01_01_trim600.bvh"), "--node", "LeftHand", "--gltf",
        folder + "/a.glb", "--with-source"},
       "is not glTF, and its skeleton and animation are not converted"},
      {"a .gltf output", With(FoxWalk({"b_Head_05"}), {"--gltf", folder + "/a.gltf", "--with-source"}),
       "--with-source writes one .glb: give --gltf FILE.glb"},
      {"no glTF output", With(FoxWalk({"b_Head_05"}), {"--with-source"}),
       "--with-source writes one .glb: give --gltf FILE.glb"},
  };
  for (const RefusedSourceCase& c : cases) {
    SCOPED_TRACE(c.what);
    HostRun run = RunHost(c.args);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
  }
  EXPECT_FALSE(fs::exists(folder + "/a.glb"));
  EXPECT_FALSE(fs::exists(folder + "/a.gltf"));
}

struct RateCase {
  const char* file;
  const char* line;  // in the import line
  size_t frames;
  std::array<double, 3> first, last;  // the node's positions, in the host's axes
};

// Blender's files: a cube keyed on frames 0 to 39 at 25 fps, under a parent at
// (1, 2, 3) turned a quarter about Z; assimp gives the FBX in centimetres.
TEST(ImportRates, FbxPlaysAtItsOwnRateAndColladaAt24SayingSo) {
#ifndef VHOST_HAS_ASSIMP
  GTEST_SKIP() << "vestrel-host is built without assimp: no FBX or COLLADA import";
#endif
  const RateCase cases[] = {
      {"mover_25fps.fbx", "frames 0 to 39 (40 frames at 25 fps, 1.56 s; rate: the file's own)",
       40, {100, 200, 300}, {100, 600, 400}},
      {"mover.dae",
       "frames 0 to 38 (39 frames at 24 fps, 1.58333 s; rate: 24 by default, COLLADA has no "
       "frame rate of its own)",
       39, {1, 2, 3}, {1, 6, 4}},
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string scene = TestFolder() + "/mover.json";
    HostRun run = RunHost({"import", Authored(c.file), "--node", "Mover", "-o", scene});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(c.line), std::string::npos) << run.output;
    const json keys = ReadJson(scene)["objects"][1]["motion"]["keys"];
    ASSERT_EQ(keys.size(), c.frames);
    for (size_t k = 0; k < 3; ++k) {
      EXPECT_NEAR(keys.front()["position"][k].get<double>(), c.first[k], 1e-4);
      EXPECT_NEAR(keys.back()["position"][k].get<double>(), c.last[k], 1e-4);
    }
  }
}

}  // namespace
}  // namespace vhost_e2e
