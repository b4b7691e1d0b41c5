// End-to-end tests of the import on real animation files made by others
// (../shared/animations): vestrel-host plays a node's motion through the
// plug-in, and the line it writes is checked against the files' own keys.
// The files are never copied here; without the folder the tests skip.
#include <math.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "shared_animations.h"

namespace vhost_e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Expected {
  double u, x, y, z;  // a vertex of the line: its frame and position
};

struct RealFileCase {
  const char* file;
  std::vector<std::string> args;
  int framesSampled;
  int pointsKept;
  Expected first, last;
  std::vector<Expected> inside;  // vertices worked out by hand from the keys
};

// The summary entry of the first call of a selector.
json CallOf(const json& summary, const std::string& selector) {
  for (const json& call : summary["calls"])
    if (call["selector"] == selector) return call;
  return json();
}

void ExpectVertex(const ObjContent& obj, const Expected& e) {
  for (const ObjVertex& v : obj.vertices) {
    if (v.u != e.u) continue;
    EXPECT_NEAR(v.x, e.x, 1e-5) << "frame " << e.u;
    EXPECT_NEAR(v.y, e.y, 1e-5) << "frame " << e.u;
    EXPECT_NEAR(v.z, e.z, 1e-5) << "frame " << e.u;
    return;
  }
  ADD_FAILURE() << "the line has no point at frame " << e.u;
}

TEST(ImportRealFiles, TheLineFollowsTheFilesKeys) {
  SKIP_WITHOUT_ANIMATIONS();
  // InterpolationTest's translation clips move one cube along the file's y
  // (the host's z) through 6.6 -> 10 -> 6 -> 10 -> 6; the keys sit at k * 10
  // or 11 frames as floats. BoxAnimated's inner box (node 2) rides its
  // parent up 2.52 and turns half round x; a corner one unit off its origin
  // traces the arc.
  const RealFileCase cases[] = {
      // The plug-in keeps the last frame of each hold. The STEP key at 11/24 s
      // (0.458333343) takes frame 11, so the first hold ends at frame 10; the
      // last key, at 41/24 s (1.708333373), is reached at frame 41.
      {"InterpolationTest.glb",
       {"--animation", "Step Translation"},
       42,
       6,
       {0, 0, 0, 6.665226459503174},
       {41, 0, 0, 6},
       {{10, 0, 0, 6.665226459503174}, {19, 0, 0, 10}}},
      // Frame 9 is 0.9 of the way from the first key to the second.
      {"InterpolationTest.glb",
       {"--animation", "Linear Translation"},
       41,
       11,
       {0, -3.2975807189941406, 0, 6.621014595031738},
       {40, -3.2975807189941406, 0, 6},
       {{9, -3.2975807189941406, 0, 6.621014595031738 + 0.9 * (10 - 6.621014595031738)},
        {10, -3.2975807189941406, 0, 10}}},
      // Zero tangents: the Hermite weight of the next key at s = 0.9 is
      // -2 s^3 + 3 s^2 = 0.972.
      {"InterpolationTest.glb",
       {"--animation", "CubicSpline Translation"},
       41,
       11,
       {0, 3.3051798343658447, 0, 6.640117168426514},
       {40, 3.3051798343658447, 0, 6},
       {{9, 3.3051798343658447, 0, 6.640117168426514 + 0.972 * (10 - 6.640117168426514)}}},
      // At frame 30 (1.25 s) the box is up 2.52 and starts its half turn;
      // at frame 60 it has turned: the corner is below the origin; at
      // frame 89 the box is back down.
      {"BoxAnimated.glb",
       {"--node", "2", "--offset", "0", "1", "0"},
       90,
       35,
       {0, 0, 0, 1},
       {89, 0, 0, -1},
       {{30, 0, 0, 3.52}, {60, 0, 0, 1.52}}},
#ifdef VHOST_HAS_ASSIMP
      // The hips of the motion capture carry the root's position keys: the
      // first and the last line of MOTION, Y-up turned to Z-up, at the file's
      // own 120 frames a second.
      {"01_01_trim600.bvh",
       {"--node", "Hips"},
       600,
       480,
       {0, 9.3722, 17.3198, 17.8693},
       {599, 8.6975, -17.4726, 20.6134},
       {}},
#endif
  };
  for (const RealFileCase& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.args[1]);
    std::string folder = TestFolder();
    std::vector<std::string> args = {"play",           Animation(c.file),
                                     "--obj",          folder + "/line.obj",
                                     "--summary-json", folder + "/summary.json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    HostRun run = RunHost(args);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("import: "), std::string::npos) << run.output;
    json summary = ReadJson(folder + "/summary.json");
    EXPECT_EQ(CallOf(summary, "SETM")["frames_sampled"], c.framesSampled);
    EXPECT_EQ(CallOf(summary, "SETM")["points_stored"], c.pointsKept);
    ObjContent obj = ReadObj(folder + "/line.obj");
    ASSERT_EQ(obj.vertices.size(), size_t(c.pointsKept));
    EXPECT_EQ(obj.vertices.front().u, c.first.u);
    EXPECT_EQ(obj.vertices.back().u, c.last.u);
    ExpectVertex(obj, c.first);
    ExpectVertex(obj, c.last);
    for (const Expected& e : c.inside) ExpectVertex(obj, e);
  }
}

TEST(ImportRealFiles, FoxFootWalkIsALoopWithTheFilesAttribution) {
  SKIP_WITHOUT_ANIMATIONS();
  std::string folder = TestFolder();
  std::vector<std::string> choice = {"--animation", "Walk", "--node", "b_LeftFoot02_018"};
  std::vector<std::string> args = {"import", Animation("Fox.glb"), "-o", folder + "/fox.json"};
  args.insert(args.end(), choice.begin(), choice.end());
  HostRun imported = RunHost(args);
  ASSERT_EQ(imported.exitCode, 0) << imported.output;
  json scene = ReadJson(folder + "/fox.json");
  EXPECT_NE(scene["description"].get<std::string>().find("CC-BY 4.0"), std::string::npos);
  const json& keys = scene["objects"][1]["motion"]["keys"];
  ASSERT_EQ(keys.size(), 18u);  // 0.708 s at 24 fps: frames 0 to 17

  // The scene file plays like the animation file itself, and the line keeps
  // every frame of the stride, ending where the walk cycle began.
  args = {"play", Animation("Fox.glb"), "--obj", folder + "/direct.obj"};
  args.insert(args.end(), choice.begin(), choice.end());
  HostRun direct = RunHost(args);
  ASSERT_EQ(direct.exitCode, 0) << direct.output;
  HostRun viaScene = RunHost({"play", folder + "/fox.json", "--obj", folder + "/scene.obj"});
  ASSERT_EQ(viaScene.exitCode, 0) << viaScene.output;
  ObjContent obj = ReadObj(folder + "/direct.obj");
  ObjContent objViaScene = ReadObj(folder + "/scene.obj");
  ASSERT_EQ(obj.vertices.size(), 18u);
  ASSERT_EQ(objViaScene.vertices.size(), 18u);
  for (size_t i : {size_t(0), size_t(17)}) {
    const json& p = keys[i]["position"];
    EXPECT_NEAR(obj.vertices[i].x, p[0].get<double>(), 1e-5);
    EXPECT_NEAR(obj.vertices[i].y, p[1].get<double>(), 1e-5);
    EXPECT_NEAR(obj.vertices[i].z, p[2].get<double>(), 1e-5);
    EXPECT_EQ(obj.vertices[i].x, objViaScene.vertices[i].x);
  }
  EXPECT_NEAR(obj.vertices[0].x, obj.vertices[17].x, 1e-4);
  EXPECT_NEAR(obj.vertices[0].z, obj.vertices[17].z, 1e-4);
}

TEST(ImportRealFiles, ListMarksTheAnimatedNodes) {
  SKIP_WITHOUT_ANIMATIONS();
  HostRun run = RunHost({"import", Animation("Fox.glb"), "--list"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("  *             b_LeftFoot01_017\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("                  b_LeftFoot02_018\n"), std::string::npos);
  EXPECT_NE(run.output.find("1 \"Walk\": 21 channels on 20 nodes, 0 to 0.708333 s"),
            std::string::npos);
}

struct BadInputCase {
  const char* what;
  std::function<std::string()> file;  // makes the file in the test folder
  std::vector<std::string> args;
  const char* message;
};

std::string Copy(const std::string& from, const std::string& name, size_t bytes = SIZE_MAX) {
  std::string text = ReadFile(Animation(from));
  return WriteFile(name, text.substr(0, std::min(bytes, text.size())));
}

TEST(ImportRealFiles, BadInputIsOneMessageAndExitOne) {
  SKIP_WITHOUT_ANIMATIONS();
  const BadInputCase cases[] = {
      {"truncated",
       [] { return Copy("Fox.glb", "cut.glb", 5000); },
       {},
       "not a readable glTF 2.0 file"},
      {"binary under .gltf",
       [] { return Copy("Fox.glb", "fox.gltf"); },
       {},
       "a binary glTF file under a .gltf name"},
      {"text under .glb",
       [] { return WriteFile("text.glb", "{\"asset\":{\"version\":\"2.0\"}}"); },
       {},
       "not a binary glTF file"},
      {"corrupt JSON",
       [] { return WriteFile("bad.gltf", "{\"asset\": [1, 2"); },
       {},
       "not a readable glTF 2.0 file"},
      {"missing", [] { return TestFolder() + "/none.glb"; }, {}, "no such file"},
      {"no animation",
       [] { return WriteFile("still.gltf", "{\"asset\":{\"version\":\"2.0\"},\"nodes\":[{}]}"); },
       {},
       "has no animation"},
      {"unknown animation",
       [] { return Animation("Fox.glb"); },
       {"--animation", "Jump"},
       "no animation \"Jump\"; the animations are \"Survey\", \"Walk\", \"Run\""},
      {"several animations",
       [] { return Animation("Fox.glb"); },
       {},
       "choose one with --animation"},
      {"unknown node",
       [] { return Animation("Fox.glb"); },
       {"--animation", "Run", "--node", "tail"},
       "no node \"tail\"; the nodes animation \"Run\" moves are \"b_Hip_01\""},
#ifdef VHOST_HAS_ASSIMP
      {"truncated BVH",
       [] { return Copy("01_01_trim600.bvh", "cut.bvh", 20000); },
       {},
       "the file says 600 frames of 96 values, but holds at most"},
      {"glTF under .bvh", [] { return Copy("Fox.glb", "fox.bvh"); }, {}, "not a readable file"},
#endif
      {"empty range",
       [] { return Animation("BoxAnimated.glb"); },
       {"--node", "2", "--frames", "9:3"},
       "the frame range 9:3 is empty"},
  };
  for (const BadInputCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = c.file();
    for (const char* command : {"import", "play"}) {
      std::vector<std::string> args = {command, path};
      args.insert(args.end(), c.args.begin(), c.args.end());
      HostRun run = RunHost(args);
      EXPECT_EQ(run.exitCode, 1) << run.output;
      EXPECT_EQ(run.output, "vestrel-host: " + path + ": " + run.output.substr(16 + path.size()))
          << run.output;
      EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
      EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    }
  }
}

}  // namespace
}  // namespace vhost_e2e

namespace vhost_e2e {
namespace {

// A glTF file in folder whose one buffer is the file uri names.
std::string GltfWithBuffer(const std::string& folder, const std::string& uri) {
  std::string path = folder + "/named.gltf";
  std::ofstream(path) << R"({"asset":{"version":"2.0"},"nodes":[{}],"buffers":[{"uri":")" << uri
                      << R"(","byteLength":16}]})";
  return path;
}

#ifdef VHOST_HAS_ASSIMP
// A BVH file in folder of one moving joint, with its frame count as given.
std::string Bvh(const std::string& folder, const std::string& frames) {
  std::ofstream(folder + "/frames.bvh")
      << "HIERARCHY\nROOT Hips\n{\n OFFSET 0 0 0\n CHANNELS 3 Xposition Yposition Zposition\n"
         " End Site\n {\n  OFFSET 0 1 0\n }\n}\nMOTION\nFrames: "
      << frames << "\nFrame Time: 0.04\n0 0 0\n";
  return folder + "/frames.bvh";
}
#endif

struct HostileAnimation {
  const char* title;
  std::function<std::string(const std::string& folder)> file;  // prepares it in folder
  const char* message;
};

// Files that once made the import wait on a pipe, read a device without end
// or read outside the file's own folder: refused at once with one message.
TEST(ImportHostileFiles, RefusedAtOnceWithOneMessage) {
  const HostileAnimation cases[] = {
      {"a pipe named .glb",
       [](const std::string& folder) {
         mkfifo((folder + "/pipe.glb").c_str(), 0600);
         return folder + "/pipe.glb";
       },
       "not a regular file"},
      {"a folder named .gltf",
       [](const std::string& folder) {
         fs::create_directories(folder + "/folder.gltf");
         return folder + "/folder.gltf";
       },
       "not a regular file"},
      {"a buffer in the parent folder",
       [](const std::string& folder) {
         std::ofstream(folder + "/outside.bin") << std::string(16, '\0');
         fs::create_directories(folder + "/inner");
         return GltfWithBuffer(folder + "/inner", "../outside.bin");
       },
       "File not found : ../outside.bin"},
      {"a buffer that is an endless device",
       [](const std::string& folder) { return GltfWithBuffer(folder, "/dev/zero"); },
       "File not found : /dev/zero"},
      {"a buffer linked to an endless device",
       [](const std::string& folder) {
         fs::create_symlink("/dev/zero", folder + "/zero.bin");
         return GltfWithBuffer(folder, "zero.bin");
       },
       "File not found : zero.bin"},
#ifdef VHOST_HAS_ASSIMP
      {"a BVH file claiming more frames than it holds",
       [](const std::string& folder) { return Bvh(folder, "3000000000"); },
       "the file says 3000000000 frames of 3 values"},
      {"a BVH file with a negative frame count",
       [](const std::string& folder) { return Bvh(folder, "-3"); },
       "the frame count \"-3\" is not a count of frames"},
#endif
      {"a buffer that is a pipe",
       [](const std::string& folder) {
         mkfifo((folder + "/pipe.bin").c_str(), 0600);
         return GltfWithBuffer(folder, "pipe.bin");
       },
       "File not found : pipe.bin"},
  };
  for (const HostileAnimation& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string folder = TestFolder() + "/" + std::to_string(&c - cases);
    fs::create_directories(folder);
    HostRun run = RunHost({"import", c.file(folder)});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
  }
}

#ifdef VHOST_HAS_ASSIMP
// Node names are a file's bytes: one that is not UTF-8 once ended the run
// with an exception where the scene was written.
TEST(ImportHostileFiles, NameThatIsNotUtf8IsWrittenWithAReplacement) {
  const std::string folder = TestFolder();
  std::ofstream(folder + "/name.bvh")
      << "HIERARCHY\nROOT Hips\xff\n{\n OFFSET 0 0 0\n"
         " CHANNELS 6 Xposition Yposition Zposition Zrotation Yrotation Xrotation\n"
         " End Site\n {\n  OFFSET 0 1 0\n }\n}\n"
         "MOTION\nFrames: 3\nFrame Time: 0.04\n0 0 0 0 0 0\n1 0 0 0 0 0\n2 0 0 0 0 0\n";
  HostRun imported = RunHost({"import", folder + "/name.bvh", "-o", folder + "/name.json"});
  EXPECT_EQ(imported.exitCode, 0) << imported.output;
  EXPECT_NE(ReadFile(folder + "/name.json").find("Hips\xef\xbf\xbd"), std::string::npos);
  HostRun played = RunHost({"play", folder + "/name.bvh"});
  EXPECT_EQ(played.exitCode, 0) << played.output;
}
#endif

}  // namespace
}  // namespace vhost_e2e
