// vestrel-host against hostile files and outputs: a scene's name that tries
// to leave the output folder, outputs that cannot be written (a full disk, a
// device that is full, a folder in the way), inputs that are no regular files,
// a block file cut short, an output naming an input. Each must end with one
// message naming the file and the reason, exit 1, no file written outside the
// folder, and no earlier file lost.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace vhost_e2e {
namespace {

namespace fs = std::filesystem;

// A scene of 40 frames under a name of the case's choosing.
std::string NamedScene(const std::string& name) {
  std::string quoted;
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return WriteFile("named.json",
                   R"({"name": ")" + quoted + R"(", "frames": {"first": 0, "last": 40},
    "objects": [{"name": "group"}, {"name": "child", "parent": 0,
                 "motion": {"type": "helix", "radius": 2, "frames_per_turn": 20}}]})");
}

// Every file below folder, relative to it.
std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
  }
  return files;
}

struct HostileName {
  const char* title;
  std::string name;
};

void PrintTo(const HostileName& value, std::ostream* out) { *out << value.title; }

class HostileSceneNameTest : public testing::TestWithParam<HostileName> {};

// The files land in the output folder under a safe name, and the summary says so.
TEST_P(HostileSceneNameTest, NeverLeavesTheOutputFolder) {
  const std::string root = TestFolder() + "/root";
  const std::string out = root + "/out/sub";
  fs::create_directories(out);
  HostRun run = RunHost({"play", NamedScene(GetParam().name), "--out", out});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  for (const std::string& file : FilesBelow(root)) {
    EXPECT_EQ(file.rfind("out/sub/", 0), 0u) << file << " was written outside the folder";
    EXPECT_EQ(file.find('\n'), std::string::npos) << file;
  }
  EXPECT_EQ(FilesBelow(out).size(), 3u) << run.output;  // OBJ, SVG and glTF
  EXPECT_NE(run.output.find("no safe file name"), std::string::npos) << run.output;
  // The OBJ holds no line the name made up.
  for (const std::string& file : FilesBelow(out)) {
    if (file.size() > 4 && file.substr(file.size() - 4) == ".obj") {
      EXPECT_EQ(ReadFile(out + "/" + file).find("\nINJECTED"), std::string::npos);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, HostileSceneNameTest,
    testing::Values(HostileName{"parent_folder", "../escaped"},
                    HostileName{"absolute_path", "/tmp/vhost-absolute-escape"},
                    HostileName{"newline_injects_lines", "line\nINJECTED 1 2 3"},
                    HostileName{"nul_cuts_the_suffix", std::string("cut\0off", 7)},
                    HostileName{"hidden_file", ".hidden"}, HostileName{"only_dots", ".."}),
    [](const testing::TestParamInfo<HostileName>& info) { return std::string(info.param.title); });

// ---------------------------------------------------------------------------

struct HostileFile {
  const char* title;
  // Prepares the case's files in folder and returns vestrel-host's arguments.
  std::function<std::vector<std::string>(const std::string& folder)> arguments;
  const char* message;  // what the output must say
  // Checks what is left in folder afterwards.
  std::function<void(const std::string& folder)> leftBehind;
  int fileSizeLimit = 0;  // in blocks of 512 bytes; 0: none
};

void PrintTo(const HostileFile& value, std::ostream* out) { *out << value.title; }

class HostileFileTest : public testing::TestWithParam<HostileFile> {};

TEST_P(HostileFileTest, FailsWithTheReasonAndLosesNothing) {
  const std::string folder = TestFolder();
  const std::vector<std::string> args = GetParam().arguments(folder);
  HostRun run = GetParam().fileSizeLimit != 0
                    ? RunHostWithFileSizeLimit(args, GetParam().fileSizeLimit)
                    : RunHost(args);
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find(GetParam().message), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("result: OK"), std::string::npos) << run.output;
  if (GetParam().leftBehind) GetParam().leftBehind(folder);
  for (const std::string& file : FilesBelow(folder))
    EXPECT_EQ(file.find(".tmp-"), std::string::npos) << "a temporary file was left: " << file;
}

// A block saved from the square example, as a good file already in place.
std::string GoodBlock(const std::string& folder) {
  std::string path = folder + "/kept.block";
  RunHost({"play", Example("square.json"), "--save-block", path});
  return path;
}

const HostileFile kHostileFiles[] = {
    {"trace_onto_a_full_device",
     [](const std::string&) {
       return std::vector<std::string>{"play", Example("square.json"), "--trace", "/dev/full"};
     },
     "cannot write /dev/full: No space left on device", nullptr},
    {"summary_onto_a_full_device",
     [](const std::string&) {
       return std::vector<std::string>{"play", Example("square.json"), "--summary-json",
                                       "/dev/full"};
     },
     "cannot write /dev/full: No space left on device", nullptr},
    {"obj_naming_a_folder",
     [](const std::string& folder) {
       fs::create_directories(folder + "/a-folder");
       return std::vector<std::string>{"play", Example("square.json"), "--obj",
                                       folder + "/a-folder"};
     },
     "Is a directory", nullptr},
    {"load_block_of_a_folder",
     [](const std::string& folder) {
       return std::vector<std::string>{"play", Example("square.json"), "--load-block", folder};
     },
     "not a regular file", nullptr},
    {"load_block_of_a_pipe",
     [](const std::string& folder) {
       mkfifo((folder + "/pipe").c_str(), 0600);
       return std::vector<std::string>{"play", Example("square.json"), "--load-block",
                                       folder + "/pipe"};
     },
     "not a regular file", nullptr},
    {"load_block_of_an_endless_device",
     [](const std::string&) {
       return std::vector<std::string>{"play", Example("square.json"), "--load-block", "/dev/zero"};
     },
     "not a regular file", nullptr},
    {"load_block_cut_short",
     [](const std::string& folder) {
       std::string block = ReadFile(GoodBlock(folder));
       WriteFile("cut.block", block.substr(0, block.size() - 20));
       return std::vector<std::string>{"play", Example("square.json"), "--load-block",
                                       folder + "/cut.block"};
     },
     "the file is cut short", nullptr},
    {"save_block_onto_the_scene",
     [](const std::string& folder) {
       WriteFile("scene.json", ReadFile(Example("square.json")));
       return std::vector<std::string>{"play", folder + "/scene.json", "--save-block",
                                       folder + "/scene.json"};
     },
     "is the scene, an input of the run",
     [](const std::string& folder) {
       EXPECT_EQ(ReadFile(folder + "/scene.json"), ReadFile(Example("square.json")));
     }},
    {"two_outputs_onto_one_file",
     [](const std::string& folder) {
       return std::vector<std::string>{"play",  Example("square.json"), "--obj", folder + "/same",
                                       "--svg", folder + "/same"};
     },
     "both name", nullptr},
    {"save_block_onto_a_full_disk_keeps_the_old_block",
     [](const std::string& folder) {
       GoodBlock(folder);
       return std::vector<std::string>{"play", Example("helix.json"), "--save-block",
                                       folder + "/kept.block"};
     },
     "cannot write",
     [](const std::string& folder) {
       // The old block is whole: it still loads and plays.
       HostRun replay =
           RunHost({"play", Example("square.json"), "--load-block", folder + "/kept.block"});
       EXPECT_EQ(replay.exitCode, 0) << replay.output;
     },
     2},
};

// The home folder's resource file swapped for a link to an endless device or
// a pipe: the dialog is not had (result 6), the run ends, nothing hangs.
TEST(ResourceFile, NoRegularFileIsRefusedWithoutWaiting) {
  for (const std::string kind : {"device", "pipe"}) {
    const std::string home = TestFolder() + "/home-" + kind;
    fs::create_directories(home);
    const std::string resource = home + "/Vestrel.rsc";
    if (kind == "device") {
      fs::create_symlink("/dev/zero", resource);
    } else {
      mkfifo(resource.c_str(), 0600);
    }
    HostRun run = RunHost({"play", Example("dialog.json"), "--home", home});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("INTF -> 6"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Vestrel.rsc: not a regular file"), std::string::npos) << run.output;
  }
}

// A path of 20,000 samples is drawn by every 4th sample, and the legend says so.
TEST(LongPath, PictureIsThinnedToWhatItCanShow) {
  const std::string scene =
      WriteFile("long.json", R"({"name": "long", "frames": {"first": 0, "last": 19999},
    "objects": [{"name": "group"}, {"name": "child", "parent": 0,
                 "motion": {"type": "helix", "radius": 2, "frames_per_turn": 7}}]})");
  const std::string svg = TestFolder() + "/long.svg";
  HostRun run = RunHost({"play", scene, "--svg", svg});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string text = ReadFile(svg);
  EXPECT_NE(text.find("20000 frames, every 4th drawn"), std::string::npos);
  size_t circles = 0;
  for (size_t at = text.find("class=\"sample\""); at != std::string::npos;
       at = text.find("class=\"sample\"", at + 1))
    ++circles;
  EXPECT_EQ(circles, 3u * 5001u);  // three projections: every 4th sample, and the last
}

INSTANTIATE_TEST_SUITE_P(Files, HostileFileTest, testing::ValuesIn(kHostileFiles),
                         [](const testing::TestParamInfo<HostileFile>& info) {
                           return std::string(info.param.title);
                         });

// ---------------------------------------------------------------------------

// An output folder on a read-only file system, in a mount namespace of the
// test's own: the run fails with the system's reason. Skipped where the
// machine gives no mount namespace (no root, no user namespaces).
TEST(ReadOnlyFolder, RunFailsWithTheSystemsReason) {
  const std::string folder = TestFolder() + "/read-only";
  fs::create_directories(folder);
  HostRun mounted = RunHostInShell(
      "unshare -m --propagation private true 2>/dev/null || exit 77", {});
  if (mounted.exitCode == 77) GTEST_SKIP() << "no mount namespace on this machine";
  HostRun run = RunHostInShell(
      "exec unshare -m --propagation private /bin/sh -c "
      "'mount -t tmpfs -o ro,size=64k tmpfs \"$1\" || exit 77; shift; exec \"$0\" \"$@\"' "
      "\"$0\" \"$@\"",
      {folder, "play", Example("square.json"), "--out", folder});
  if (run.exitCode == 77) GTEST_SKIP() << "no tmpfs mount on this machine: " << run.output;
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("Read-only file system"), std::string::npos) << run.output;
}

// The text with every address ("0x7f5c...") made the same: a trace names the
// host memory it handed out, which lies elsewhere each run.
std::string WithoutAddresses(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '0' && i + 1 < text.size() && text[i + 1] == 'x') {
      out += 'x';
      for (i += 2; i < text.size() && isxdigit(static_cast<unsigned char>(text[i])); ++i) {
      }
      --i;
    }
  }
  return out;
}

// Interrupted at any moment (SIGINT, as from the terminal), a run leaves each
// output as it was before or whole, and no temporary file behind.
TEST(Interrupt, EachOutputIsTheOldOneOrTheWholeNewOne) {
  const std::string scene = WriteFile("long.json", R"({"name": "long",
      "frames": {"first": 0, "last": 19999},
      "objects": [{"name": "group"}, {"name": "climber", "parent": 0, "motion": {"type": "helix",
        "center": [0, 0, 0], "radius": 4, "frames_per_turn": 37, "rise_per_turn": 3, "axis": "z"}}]})");
  auto arguments = [&](const std::string& out) {
    return std::vector<std::string>{"play", scene, "--out", out, "--trace", out + "/long.trace",
                                    "--save-block", out + "/long.block", "--max-frames", "100000"};
  };
  const std::string whole = TestFolder() + "/whole";
  fs::create_directories(whole);
  const auto start = std::chrono::steady_clock::now();
  HostRun reference = RunHost(arguments(whole));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(reference.exitCode, 0) << reference.output;
  std::vector<std::string> outputs;
  for (const std::string& path : FilesBelow(whole)) outputs.push_back(fs::path(path).filename());
  ASSERT_EQ(outputs.size(), 5u);  // trace, block, OBJ, SVG, glTF

  for (double share : {0.1, 0.3, 0.5, 0.65, 0.8, 0.9, 0.97}) {
    const std::string out = TestFolder() + "/cut-" + std::to_string(int(share * 100));
    SCOPED_TRACE(out);
    fs::create_directories(out);
    for (const std::string& name : outputs) std::ofstream(out + "/" + name) << "old " << name;
    RunHostInShell("\"$0\" \"$@\" >/dev/null 2>&1 & sleep " + std::to_string(seconds * share) +
                       "; kill -INT $! 2>/dev/null; wait $!",
                   arguments(out));
    for (const std::string& name : outputs) {
      const std::string now = ReadFile(out + "/" + name);
      EXPECT_TRUE(now == "old " + name ||
                  WithoutAddresses(now) == WithoutAddresses(ReadFile(whole + "/" + name)))
          << name << " is neither the old file nor the whole new one (" << now.size() << " bytes)";
    }
    for (const std::string& file : FilesBelow(out))
      EXPECT_EQ(file.find(".tmp-"), std::string::npos) << "a temporary file was left: " << file;
  }
}

}  // namespace
}  // namespace vhost_e2e
