// The import of animation files: the evaluator on small glTF files that the
// tests write with tinygltf, each interpolation at frame times worked out by
// hand, and the files the import refuses.
#include <math.h>

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include "reference_host/import/import.h"

namespace vhost {
namespace {

namespace fs = std::filesystem;

// A glTF model built node by node and channel by channel, written as a
// .gltf with its buffer embedded.
class GltfBuilder {
 public:
  GltfBuilder() {
    model_.asset.version = "2.0";
    model_.buffers.resize(1);
  }

  int AddNode(const std::string& name, int parent = -1) {
    tinygltf::Node node;
    node.name = name;
    model_.nodes.push_back(node);
    int index = int(model_.nodes.size()) - 1;
    if (parent >= 0) model_.nodes[size_t(parent)].children.push_back(index);
    return index;
  }
  tinygltf::Node& Node(int index) { return model_.nodes[size_t(index)]; }

  // values: the components of every output element in order.
  void AddChannel(int node, const std::string& path, const std::string& interpolation,
                  const std::vector<float>& times, const std::vector<float>& values) {
    if (model_.animations.empty()) model_.animations.resize(1);
    tinygltf::Animation& animation = model_.animations[0];
    animation.name = "clip";
    tinygltf::AnimationSampler sampler;
    sampler.input = AddAccessor(times, TINYGLTF_TYPE_SCALAR);
    sampler.output =
        AddAccessor(values, path == "rotation" ? TINYGLTF_TYPE_VEC4 : TINYGLTF_TYPE_VEC3);
    sampler.interpolation = interpolation;
    animation.samplers.push_back(sampler);
    tinygltf::AnimationChannel channel;
    channel.sampler = int(animation.samplers.size()) - 1;
    channel.target_node = node;
    channel.target_path = path;
    animation.channels.push_back(channel);
  }

  std::string Write(const std::string& name) {
    std::string path = (fs::path(testing::TempDir()) / name).string();
    if (model_.buffers[0].data.empty()) model_.buffers.clear();  // an empty one is invalid
    tinygltf::TinyGLTF writer;
    EXPECT_TRUE(writer.WriteGltfSceneToFile(&model_, path, true, true, true, false));
    return path;
  }

 private:
  int AddAccessor(const std::vector<float>& data, int type) {
    std::vector<unsigned char>& bytes = model_.buffers[0].data;
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = bytes.size();
    view.byteLength = data.size() * 4;
    bytes.resize(bytes.size() + data.size() * 4);
    memcpy(bytes.data() + view.byteOffset, data.data(), data.size() * 4);
    model_.bufferViews.push_back(view);
    tinygltf::Accessor accessor;
    accessor.bufferView = int(model_.bufferViews.size()) - 1;
    accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    accessor.type = type;
    accessor.count = data.size() / size_t(tinygltf::GetNumComponentsInType(uint32_t(type)));
    model_.accessors.push_back(accessor);
    return int(model_.accessors.size()) - 1;
  }

  tinygltf::Model model_;
};

// Imports with the axes as they are, so positions read like the file's.
ImportResult Import(const std::string& path, ImportOptions options = {}) {
  if (!options.up) options.up = 'z';
  return ImportAnimation(path, options);
}

ImportOptions With(const std::string& node, const std::string& animation = "",
                   const std::string& frames = "", Vec3 offset = {}, char up = 0,
                   double scale = 1) {
  ImportOptions options;
  if (!node.empty()) options.nodes = {node};
  options.animation = animation;
  options.frames = frames;
  options.offset = offset;
  options.up = up;
  options.scale = scale;
  return options;
}

Vec3 PositionAt(const ImportResult& result, int32_t frame) {
  for (const Keyframe& k : result.scene->objects[1].motion.keys)
    if (k.frame == frame) return k.position;
  ADD_FAILURE() << "no key at frame " << frame;
  return {};
}

const float kS = float(sqrt(0.5));

struct EvaluationCase {
  const char* what;
  std::function<void(GltfBuilder&)> build;  // node 0 is the one imported
  ImportOptions options;
  int32_t frame;
  Vec3 expected;
};

TEST(ImportEvaluation, EachInterpolationAtFrameTimes) {
  const EvaluationCase cases[] = {
      // 11/24 s stored as a float lies a hair after frame 11.
      {"STEP key at a float time takes its frame",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "STEP", {0, float(11.0 / 24)},
                      {1, 0, 0, 2, 0, 0});
       },
       {},
       11,
       {2, 0, 0}},
      {"STEP holds the key before",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "STEP", {0, float(11.0 / 24)},
                      {1, 0, 0, 2, 0, 0});
       },
       {},
       10,
       {1, 0, 0}},
      {"LINEAR halfway",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "LINEAR", {0, 1}, {0, 0, 0, 4, 2, -2});
       },
       {},
       12,
       {2, 1, -1}},
      // Hermite with tangents per second: at s = 1/2 over a 2 s interval,
      // 1/2 v0 + 1/8 * 2 * out0 + 1/2 v1 - 1/8 * 2 * in1.
      {"CUBICSPLINE tangents scale by the key interval",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "CUBICSPLINE", {0, 2},
                      {0, 0, 0, 0, 0, 0, 2, 0, 0, /**/ 4, 0, 0, 1, 0, 0, 0, 0, 0});
       },
       {},
       24,
       {0.25 * 2 + 0.5 - 0.25 * 4, 0, 0}},
      {"one key holds everywhere",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "LINEAR", {0.5}, {3, 4, 5});
       },
       With("", "", "0:20"),
       20,
       {3, 4, 5}},
      // +90 degrees about z written as -q: the short way passes 45 degrees.
      {"slerp takes the short way round",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "rotation", "LINEAR", {0, 1}, {0, 0, 0, 1, 0, 0, -kS, -kS});
       },
       With("", "", "", {1, 0, 0}),
       12,
       {sqrt(0.5), sqrt(0.5), 0}},
      {"rotation keys are normalised",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "rotation", "STEP", {0}, {0, 0, 2, 2});
       },
       With("", "", "0:0", {1, 0, 0}),
       0,
       {0, 1, 0}},
      // The parent scales by 2 and moves by 10 along x (column-major matrix).
      {"nested under a matrix node",
       [](GltfBuilder& b) {
         int child = b.AddNode("child");
         int parent = b.AddNode("parent");
         b.Node(parent).children.push_back(child);
         b.Node(parent).matrix = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 10, 0, 0, 1};
         b.AddChannel(child, "translation", "LINEAR", {0, 1}, {1, 0, 0, 1, 1, 0});
       },
       With("child"),
       24,
       {12, 2, 0}},
      {"scale channel moves a point off the origin",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "scale", "LINEAR", {0, 1}, {1, 1, 1, 3, 1, 1});
       },
       With("", "", "", {1, 1, 0}),
       12,
       {2, 1, 0}},
      {"Y-up turned to Z-up, then scaled",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "STEP", {0}, {1, 2, 3});
       },
       With("", "", "0:0", {}, 'y', 10),
       0,
       {10, -30, 20}},
  };
  for (const EvaluationCase& c : cases) {
    SCOPED_TRACE(c.what);
    GltfBuilder builder;
    c.build(builder);
    ImportResult result = Import(builder.Write("case.gltf"), c.options);
    ASSERT_TRUE(result.scene) << result.error;
    Vec3 p = PositionAt(result, c.frame);
    EXPECT_NEAR(p.x, c.expected.x, 1e-6);
    EXPECT_NEAR(p.y, c.expected.y, 1e-6);
    EXPECT_NEAR(p.z, c.expected.z, 1e-6);
  }
}

TEST(ImportEvaluation, DefaultRangeReachesTheLastFloatKey) {
  // 41/24 s as a float is a hair after frame 41: the range still ends there
  // and the last frame has the last key.
  GltfBuilder builder;
  builder.AddChannel(builder.AddNode("n"), "translation", "STEP", {0, float(41.0 / 24)},
                     {0, 0, 0, 1, 0, 0});
  ImportResult result = Import(builder.Write("last.gltf"));
  ASSERT_TRUE(result.scene) << result.error;
  EXPECT_EQ(result.scene->firstFrame, 0);
  EXPECT_EQ(result.scene->lastFrame, 41);
  EXPECT_EQ(PositionAt(result, 41).x, 1);
}

struct RefusalCase {
  const char* what;
  std::function<void(GltfBuilder&)> build;
  ImportOptions options;
  const char* message;
};

TEST(ImportRefusals, OneMessageNamingTheFile) {
  auto simple = [](GltfBuilder& b) {
    b.AddChannel(b.AddNode("n"), "translation", "LINEAR", {0, 1}, {0, 0, 0, 1, 0, 0});
  };
  const RefusalCase cases[] = {
      {"keys out of order",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "LINEAR", {0, 0.5f, 0.25f},
                      {0, 0, 0, 1, 0, 0, 2, 0, 0});
       },
       {},
       "key times out of order"},
      {"fewer values than keys",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "LINEAR", {0, 1}, {0, 0, 0});
       },
       {},
       "2 key times but 1 values"},
      {"a value that is not finite",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "LINEAR", {0, 1}, {0, 0, 0, NAN, 0, 0});
       },
       {},
       "not finite"},
      {"no animation", [](GltfBuilder& b) { b.AddNode("n"); }, {}, "has no animation"},
      {"an animated matrix node",
       [](GltfBuilder& b) {
         int n = b.AddNode("n");
         b.Node(n).matrix = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
         b.AddChannel(n, "translation", "LINEAR", {0}, {0, 0, 0});
       },
       {},
       "given by a matrix"},
      {"a node that is its own ancestor",
       [](GltfBuilder& b) {
         int a = b.AddNode("a");
         int c = b.AddNode("c", a);
         b.Node(c).children.push_back(a);
         b.AddChannel(a, "translation", "LINEAR", {0}, {0, 0, 0});
       },
       {},
       "cycle"},
      {"unknown node", simple, With("foot"),
       "no node \"foot\"; the nodes animation \"clip\" moves are \"n\""},
      {"unknown animation", simple, With("", "Walk"),
       "no animation \"Walk\"; the animations are \"clip\""},
      {"empty range", simple, With("", "", "5:2"), "the frame range 5:2 is empty"},
      {"keys a lifetime apart",
       [](GltfBuilder& b) {
         b.AddChannel(b.AddNode("n"), "translation", "LINEAR", {0, 1e30f}, {0, 0, 0, 1, 0, 0});
       },
       {},
       "spans more than 100000 frames"},
      {"too many frames", simple, With("", "", "0:100000000"), "more than"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.what);
    GltfBuilder builder;
    c.build(builder);
    std::string path = builder.Write("refused.gltf");
    ImportResult result = Import(path, c.options);
    EXPECT_FALSE(result.scene);
    EXPECT_EQ(result.error.rfind(path + ": ", 0), 0u) << result.error;
    EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
  }
}

TEST(ImportRefusals, ChoosesTheOnlyMovedNodeOrListsThem) {
  GltfBuilder builder;
  int a = builder.AddNode("hip");
  builder.AddNode("still", a);
  builder.AddChannel(a, "translation", "LINEAR", {0}, {0, 0, 0});
  ImportResult result = Import(builder.Write("one.gltf"));
  ASSERT_TRUE(result.scene) << result.error;
  EXPECT_EQ(result.scene->objects[1].name, "hip");
  builder.AddChannel(builder.AddNode("foot", a), "rotation", "LINEAR", {0}, {0, 0, 0, 1});
  result = Import(builder.Write("two.gltf"));
  EXPECT_NE(result.error.find("moves 2 nodes; choose one or more with --node: \"hip\", \"foot\""),
            std::string::npos)
      << result.error;
}

}  // namespace
}  // namespace vhost
