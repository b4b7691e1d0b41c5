// Files from anywhere and output names of any kind, tried as a hostile user
// would: whatever the animation file, the scene or the names, vestrel-host
// names the file and what is wrong, stays within its memory bound, reads
// nothing outside the animation file's folder, and changes no file the run
// reads. Every file is made here, small; the memory bound is lowered so that
// a file that would need gigabytes needs only a few megabytes to meet it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"

// The table's rows leave the fields they do not need at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using vhost_e2e::HostRun;
using vhost_e2e::ReadFile;
using vhost_e2e::RunHost;
using vhost_e2e::RunHostInShell;
using vhost_e2e::TestFolder;
using vhost_e2e::WriteFile;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryBounded = false;  // a sanitizer's shadow memory takes the address space
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryBounded = false;
#else
constexpr bool kMemoryBounded = true;
#endif
#else
constexpr bool kMemoryBounded = true;
#endif

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

std::string Base64Zeros(size_t bytes) {
  const char* const kTail[] = {"", "AA==", "AAA="};
  return Repeat("AAAA", bytes / 3) + kTail[bytes % 3];
}

// A glTF file moving node 0 with `count` keys from one accessor pair; the
// offsets, the node's name, the channel count and the buffer are chosen.
struct GltfParts {
  std::string accessorOffset = "0";
  std::string viewOffset = "0";
  size_t count = 2;
  size_t channels = 1;
  std::string nodeName = "n";
  std::string copyright = "";
  std::string buffer;  // a URI; default: zeros inline
  std::string nodeExtras;
};

std::string Gltf(const GltfParts& p) {
  const size_t bytes = p.count * 16;
  std::string uri =
      p.buffer.empty() ? "data:application/octet-stream;base64," + Base64Zeros(bytes) : p.buffer;
  std::string channels, samplers;
  for (size_t i = 0; i < p.channels; ++i) {
    channels += std::string(i ? "," : "") +
                "{\"sampler\":0,\"target\":{\"node\":0,\"path\":\"translation\"}}";
  }
  nlohmann::json name = p.nodeName, copyright = p.copyright;
  return "{\"asset\":{\"version\":\"2.0\",\"copyright\":" + copyright.dump() +
         "},\"nodes\":[{\"name\":" + name.dump() + p.nodeExtras +
         "}],\"buffers\":[{\"byteLength\":" + std::to_string(bytes) + ",\"uri\":\"" + uri +
         "\"}],\"bufferViews\":[{\"buffer\":0,\"byteOffset\":" + p.viewOffset +
         ",\"byteLength\":" + std::to_string(bytes) +
         "}],\"accessors\":[{\"bufferView\":0,\"byteOffset\":" + p.accessorOffset +
         ",\"componentType\":5126,\"count\":" + std::to_string(p.count) +
         ",\"type\":\"SCALAR\"},{\"bufferView\":0,\"componentType\":5126,\"count\":" +
         std::to_string(p.count) + ",\"type\":\"VEC3\"}],\"animations\":[{\"channels\":[" +
         channels + "],\"samplers\":[{\"input\":0,\"output\":1}]}]}";
}

// Key times 0, 1, 2, ... and positions (k, 0, 0): a valid buffer for Gltf.
std::string KeyBuffer(size_t count) {
  std::string bytes(count * 16, '\0');
  for (size_t k = 0; k < count; ++k) {
    float time = float(k);
    memcpy(&bytes[k * 4], &time, 4);
  }
  return bytes;
}

std::string Glb(const std::string& json, uint32_t version = 2) {
  std::string chunk = json;
  while (chunk.size() % 4) chunk += ' ';
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  return "glTF" + u32(version) + u32(uint32_t(12 + 8 + chunk.size())) +
         u32(uint32_t(chunk.size())) + "JSON" + chunk;
}

std::string NestedBvh(size_t depth) {
  std::string text =
      "HIERARCHY\nROOT r\n{\nOFFSET 0 0 0\nCHANNELS 3 Xposition Yposition Zposition\n";
  text += Repeat("JOINT j\n{\nOFFSET 0 0 0\nCHANNELS 0\n", depth);
  text += Repeat("}\n", depth) + "}\nMOTION\nFrames: 1\nFrame Time: 0.04\n0 0 0\n";
  return text;
}

std::string BvhWithFrameTime(const std::string& frameTime) {
  return "HIERARCHY\nROOT r\n{\nOFFSET 0 0 0\nCHANNELS 3 Xposition Yposition Zposition\n"
         "End Site\n{\nOFFSET 0 1 0\n}\n}\nMOTION\nFrames: 2\nFrame Time: " +
         frameTime + "\n0 0 0\n1 0 0\n";
}

std::string Collada(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<COLLADA xmlns=\"http://www.collada.org/2005/11/"
         "COLLADASchema\" version=\"1.4.1\">\n<asset><up_axis>Y_UP</up_axis></asset>\n" +
         body + "</COLLADA>\n";
}

// One hostile case: the files it makes (in its own folder), the arguments
// (with @ for that folder), and what must come of it.
struct HostileCase {
  std::string name;
  std::function<void(const std::string& folder)> make;
  std::vector<std::string> args;
  int exitCode;
  std::vector<std::string> messageHas;  // each in the output
  std::vector<std::string> unchanged;   // files of the folder that must stay as they were
  bool needsAssimp = false;
  bool needsMemoryBound = false;
  std::string shell;  // run through this script instead ("$0" "$@" ...)
  std::vector<std::string> messageLacks = {};
};

class HostileInputs : public ::testing::TestWithParam<HostileCase> {};

std::string InFolder(const std::string& arg, const std::string& folder) {
  std::string out = arg;
  for (size_t at; (at = out.find('@')) != std::string::npos;) out.replace(at, 1, folder);
  return out;
}

TEST_P(HostileInputs, NamesTheFileAndChangesNoInput) {
  const HostileCase& c = GetParam();
#ifndef VHOST_HAS_ASSIMP
  if (c.needsAssimp) GTEST_SKIP() << "built without assimp";
#endif
  if (c.needsMemoryBound && !kMemoryBounded)
    GTEST_SKIP() << "a sanitizer build does not bound the reading's memory";
  const std::string folder = TestFolder();
  c.make(folder);
  std::vector<std::string> before;
  for (const std::string& file : c.unchanged) before.push_back(ReadFile(folder + "/" + file));
  std::vector<std::string> args;
  for (const std::string& arg : c.args) args.push_back(InFolder(arg, folder));
  HostRun run = c.shell.empty() ? RunHost(args) : RunHostInShell(c.shell, args);
  EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
  for (const std::string& text : c.messageHas)
    EXPECT_NE(run.output.find(InFolder(text, folder)), std::string::npos)
        << "no \"" << text << "\" in:\n"
        << run.output;
  for (const std::string& text : c.messageLacks)
    EXPECT_EQ(run.output.find(text), std::string::npos) << run.output;
  for (size_t i = 0; i < c.unchanged.size(); ++i)
    EXPECT_EQ(ReadFile(folder + "/" + c.unchanged[i]), before[i]) << c.unchanged[i] << " changed";
}

void Put(const std::string& folder, const std::string& name, const std::string& bytes) {
  FILE* file = fopen((folder + "/" + name).c_str(), "wb");
  ASSERT_NE(file, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

GltfParts Valid() {
  GltfParts p;
  p.buffer = "ok.bin";
  return p;
}

void MakeValid(const std::string& folder) {
  Put(folder, "ok.gltf", Gltf(Valid()));
  Put(folder, "ok.bin", KeyBuffer(2));
}

const char* const kNear64 = "18446744073709551600";

INSTANTIATE_TEST_SUITE_P(
    Rows, HostileInputs,
    ::testing::Values(
        HostileCase{"offset_wraps_in_text_gltf",
                    [](const std::string& f) {
                      GltfParts p;
                      p.accessorOffset = kNear64;
                      Put(f, "wrap.gltf", Gltf(p));
                    },
                    {"import", "@/wrap.gltf"},
                    1,
                    {"@/wrap.gltf: "},
                    {"wrap.gltf"}},
        HostileCase{"view_offset_wraps_in_binary_gltf",
                    [](const std::string& f) {
                      GltfParts p;
                      p.viewOffset = kNear64;
                      Put(f, "wrap.glb", Glb(Gltf(p)));
                    },
                    {"import", "@/wrap.glb"},
                    1,
                    {"@/wrap.glb: "},
                    {"wrap.glb"}},
        HostileCase{"json_nested_30000_deep",
                    [](const std::string& f) {
                      GltfParts p;
                      p.nodeExtras = ",\"extras\":" + Repeat("[", 30000) + Repeat("]", 30000);
                      Put(f, "deep.gltf", Gltf(p));
                    },
                    {"import", "@/deep.gltf"},
                    1,
                    {"@/deep.gltf: ", "256 deep"},
                    {"deep.gltf"}},
        HostileCase{"bvh_joints_30000_deep",
                    [](const std::string& f) { Put(f, "deep.bvh", NestedBvh(30000)); },
                    {"import", "@/deep.bvh"},
                    1,
                    {"@/deep.bvh: ", "deep"},
                    {"deep.bvh"},
                    true},
        HostileCase{"collada_nodes_30000_deep",
                    [](const std::string& f) {
                      Put(f, "deep.dae",
                          Collada("<library_visual_scenes><visual_scene id=\"s\">" +
                                  Repeat("<node>", 30000) + Repeat("</node>", 30000) +
                                  "</visual_scene></library_visual_scenes>\n"));
                    },
                    {"import", "@/deep.dae"},
                    1,
                    {"@/deep.dae: ", "deep"},
                    {"deep.dae"},
                    true},
        HostileCase{"text_fbx_scopes_30000_deep",
                    [](const std::string& f) {
                      Put(f, "deep.fbx",
                          "; FBX 7.4.0 project file\nObjects:  " + Repeat("{ A: ", 30000) +
                              Repeat("}", 30000) + "\n");
                    },
                    {"import", "@/deep.fbx"},
                    1,
                    {"@/deep.fbx: ", "deep"},
                    {"deep.fbx"},
                    true},
        HostileCase{"collada_negative_count",
                    [](const std::string& f) {
                      Put(f, "neg.dae",
                          Collada("<library_geometries><geometry id=\"g\"><mesh>"
                                  "<source id=\"p\"><float_array id=\"pa\" count=\"-5\">"
                                  "0 0 0 1 0 0 0 1 0</float_array><technique_common>"
                                  "<accessor source=\"#pa\" count=\"3\" stride=\"3\">"
                                  "<param name=\"X\" type=\"float\"/><param name=\"Y\" "
                                  "type=\"float\"/><param name=\"Z\" type=\"float\"/>"
                                  "</accessor></technique_common></source>"
                                  "<vertices id=\"v\"><input semantic=\"POSITION\" "
                                  "source=\"#p\"/></vertices><triangles count=\"1\">"
                                  "<input semantic=\"VERTEX\" source=\"#v\" offset=\"0\"/>"
                                  "<p>0 1 2</p></triangles></mesh></geometry>"
                                  "</library_geometries><library_visual_scenes>"
                                  "<visual_scene id=\"s\"><node id=\"n\"><instance_geometry "
                                  "url=\"#g\"/></node></visual_scene></library_visual_scenes>"
                                  "<scene><instance_visual_scene url=\"#s\"/></scene>\n"));
                    },
                    {"import", "@/neg.dae"},
                    1,
                    {"@/neg.dae: not a readable animation file: the reading process"},
                    {"neg.dae"},
                    true},
        HostileCase{"forty_channels_share_one_large_accessor",
                    [](const std::string& f) {
                      GltfParts p = Valid();
                      p.count = 200000;
                      p.channels = 40;
                      Put(f, "big.gltf", Gltf(p));
                      Put(f, "ok.bin", KeyBuffer(200000));
                    },
                    {"import", "@/big.gltf", "--max-memory", "64"},
                    1,
                    {"@/big.gltf: not a readable animation file", "64 MB", "--max-memory"},
                    {"big.gltf", "ok.bin"},
                    false,
                    true},
        HostileCase{"bvh_of_too_many_flat_joints",
                    [](const std::string& f) {
                      Put(f, "flat.bvh",
                          "HIERARCHY\nROOT r\n{\nOFFSET 0 0 0\nCHANNELS 0\n" +
                              Repeat("JOINT j\n{\nOFFSET 0 0 0\nCHANNELS 0\n}\n", 100001) +
                              "}\nMOTION\nFrames: 0\nFrame Time: 0.04\n");
                    },
                    {"import", "@/flat.bvh"},
                    1,
                    {"@/flat.bvh: ", "more than 100000 joints"},
                    {"flat.bvh"},
                    true},
        HostileCase{"import_output_is_the_animation_file",
                    MakeValid,
                    {"import", "@/ok.gltf", "-o", "@/./ok.gltf"},
                    1,
                    {"an input of the run"},
                    {"ok.gltf", "ok.bin"}},
        HostileCase{"import_output_is_a_buffer",
                    MakeValid,
                    {"import", "@/ok.gltf", "-o", "@/ok.bin"},
                    1,
                    {"an input of the run"},
                    {"ok.gltf", "ok.bin"}},
        HostileCase{"play_output_is_a_buffer_of_the_animation",
                    MakeValid,
                    {"play", "@/ok.gltf", "--svg", "@/ok.bin"},
                    1,
                    {"an input of the run", "nothing was played"},
                    {"ok.gltf", "ok.bin"}},
        HostileCase{
            "play_output_is_the_resource_file",
            [](const std::string& f) {
              Put(f, "Vestrel.rsc", ReadFile(VHOST_HOME "/Vestrel.rsc"));
            },
            {"play", VHOST_EXAMPLES "/dialog.json", "--home", "@", "--obj", "@/Vestrel.rsc"},
            1,
            {"a resource file of the host"},
            {"Vestrel.rsc"}},
        HostileCase{"import_to_a_full_standard_output",
                    MakeValid,
                    {"import", "@/ok.gltf"},
                    1,
                    {"standard output"},
                    {"ok.gltf"},
                    false,
                    false,
                    "\"$0\" \"$@\" > /dev/full"},
        HostileCase{"listing_to_a_full_standard_output",
                    MakeValid,
                    {"import", "@/ok.gltf", "--list"},
                    1,
                    {"standard output"},
                    {"ok.gltf"},
                    false,
                    false,
                    "\"$0\" \"$@\" > /dev/full"},
        HostileCase{"control_characters_in_texts_of_the_file",
                    [](const std::string& f) {
                      GltfParts p = Valid();
                      p.nodeName = "\x1b]0;title\x07\nresult: OK\x01";
                      p.copyright = "\x1b[2J(c)";
                      Put(f, "esc.gltf", Gltf(p));
                      Put(f, "ok.bin", KeyBuffer(2));
                    },
                    {"import", "@/esc.gltf", "--list"},
                    0,
                    {"\\x1B]0;title\\x07\\nresult: OK\\x01", "attribution: \\x1B[2J(c)"},
                    {"esc.gltf"},
                    false,
                    false,
                    "",
                    {"\x1b", "\nresult: OK"}},
        HostileCase{"control_characters_in_a_scene_name",
                    [](const std::string& f) {
                      std::string scene = ReadFile(VHOST_EXAMPLES "/square.json");
                      size_t name = scene.find("\"name\"");
                      ASSERT_NE(name, std::string::npos);
                      scene.insert(scene.find('"', name + 7) + 1, "\\u001b[2J\\u0007");
                      Put(f, "scene.json", scene);
                    },
                    {"play", "@/scene.json"},
                    0,
                    {"scene \"\\x1B[2J\\x07"},
                    {"scene.json"},
                    false,
                    false,
                    "",
                    {"\x1b", "\x07"}},
        HostileCase{"binary_gltf_extension_in_mixed_case",
                    [](const std::string& f) {
                      GltfParts p;
                      p.count = 1;
                      Put(f, "x.Glb", Glb(Gltf(p)));
                    },
                    {"import", "@/x.Glb", "--list"},
                    0,
                    {"1 animations"},
                    {"x.Glb"}},
        HostileCase{"buffer_linked_out_of_the_folder",
                    [](const std::string& f) {
                      mkdir((f + "/in").c_str(), 0755);
                      Put(f, "secret.bin", KeyBuffer(2));
                      GltfParts p = Valid();
                      Put(f + "/in", "ok.gltf", Gltf(p));
                      ASSERT_EQ(symlink("../secret.bin", (f + "/in/ok.bin").c_str()), 0);
                    },
                    {"import", "@/in/ok.gltf"},
                    1,
                    {"@/in/ok.gltf: ", "File not found : ok.bin"},
                    {"secret.bin"}},
        HostileCase{
            "one_output_fails_so_none_is_replaced",
            [](const std::string& f) { Put(f, "keep.obj", "kept\n"); },
            {"play", VHOST_EXAMPLES "/helix.json", "--obj", "@/keep.obj", "--svg", "/dev/full"},
            1,
            {"none was replaced"},
            {"keep.obj"}},
        HostileCase{"binary_gltf_of_version_1",
                    [](const std::string& f) { Put(f, "v1.glb", Glb(Gltf(GltfParts()), 1)); },
                    {"import", "@/v1.glb"},
                    1,
                    {"@/v1.glb: ", "version 1"},
                    {"v1.glb"}},
        HostileCase{"bvh_frame_time_zero",
                    [](const std::string& f) { Put(f, "t.bvh", BvhWithFrameTime("0")); },
                    {"import", "@/t.bvh"},
                    1,
                    {"@/t.bvh: line 13: the frame time \"0\""},
                    {"t.bvh"},
                    true},
        HostileCase{"bvh_frame_time_negative",
                    [](const std::string& f) { Put(f, "t.bvh", BvhWithFrameTime("-0.5")); },
                    {"import", "@/t.bvh"},
                    1,
                    {"line 13: the frame time \"-0.5\""},
                    {"t.bvh"},
                    true},
        HostileCase{"bvh_frame_time_not_a_number",
                    [](const std::string& f) { Put(f, "t.bvh", BvhWithFrameTime("nan")); },
                    {"import", "@/t.bvh"},
                    1,
                    {"line 13: the frame time \"nan\""},
                    {"t.bvh"},
                    true},
        HostileCase{"bvh_frame_time_huge",
                    [](const std::string& f) { Put(f, "t.bvh", BvhWithFrameTime("1e300")); },
                    {"import", "@/t.bvh"},
                    1,
                    {"line 13: the frame time \"1e300\""},
                    {"t.bvh"},
                    true}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

TEST(HostileOutputs, ANumberedFaultBeyondTheCallsMadeIsNoted) {
  const std::string folder = TestFolder();
  HostRun run = RunHost({"play", "--refuse-function-call", "1000", "--refuse-call", "100000",
                         "--summary-json", folder + "/summary.json"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  for (const char* option : {"--refuse-function-call 1000: ", "--refuse-call 100000: "}) {
    EXPECT_NE(run.output.find(std::string(option)), std::string::npos) << run.output;
    nlohmann::json notes = vhost_e2e::ReadJson(folder + "/summary.json")["notes"];
    bool noted = false;
    for (const auto& text : notes) noted = noted || text.get<std::string>().rfind(option, 0) == 0;
    EXPECT_TRUE(noted) << notes.dump();
  }
}

TEST(HostileOutputs, AReplacedFileKeepsItsMode) {
  const std::string folder = TestFolder();
  const std::string obj = folder + "/line.obj";
  Put(folder, "line.obj", "old\n");
  chmod(obj.c_str(), 0444);
  HostRun run = RunHost({"play", VHOST_EXAMPLES "/helix.json", "--obj", obj});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  struct stat status;
  ASSERT_EQ(stat(obj.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0444u);
  EXPECT_NE(ReadFile(obj), "old\n");
}

}  // namespace
