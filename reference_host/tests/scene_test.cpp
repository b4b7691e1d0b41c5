#include "reference_host/play/scene_file.h"

#include <gtest/gtest.h>

#include "host/four_char_code.h"
#include "reference_host/play/block_file.h"

namespace vhost {
namespace {

// A valid scene with one part replaced: the tests below break one thing each.
std::string SceneWith(const std::string& frames, const std::string& objects,
                      const std::string& extra = "") {
  return "{\"frames\": " + frames + ", \"objects\": " + objects +
         (extra.empty() ? "" : ", " + extra) + "}";
}

const std::string kFrames = "{\"first\": 0, \"last\": 10}";
const std::string kObjects =
    "[{\"name\": \"group\"}, {\"parent\": 0, \"motion\": {\"type\": \"static\"}}]";

struct BadScene {
  const char* name;
  std::string text;
  const char* expected;  // part of the message
};

// Test names say what a case is; gtest need not print its bytes.
void PrintTo(const BadScene& value, std::ostream* out) { *out << value.name; }

class BadSceneTest : public testing::TestWithParam<BadScene> {};

TEST_P(BadSceneTest, IsRefusedWithAMessageNamingFileAndPlace) {
  SceneResult result = ParseScene(GetParam().text, "bad.json");
  ASSERT_FALSE(result.scene.has_value());
  EXPECT_EQ(result.error.rfind("bad.json: ", 0), 0u) << result.error;
  EXPECT_NE(result.error.find(GetParam().expected), std::string::npos) << result.error;
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, BadSceneTest,
    testing::Values(
        BadScene{"malformed_json_names_the_line", "{\n  \"frames\": {\"first\": 0,\n}\n", "line 3"},
        BadScene{"empty_file", "", "not valid JSON"},
        BadScene{"top_level_array", "[]", "at $: expected an object, got an array"},
        BadScene{"frames_missing", "{\"objects\": []}", "at $: missing \"frames\""},
        BadScene{"objects_missing", "{\"frames\": " + kFrames + "}", "missing \"objects\""},
        BadScene{"frame_as_text", SceneWith("{\"first\": \"0\", \"last\": 10}", kObjects),
                 "at $.frames.first: expected an integer, got a string"},
        BadScene{"frame_with_fraction", SceneWith("{\"first\": 0.5, \"last\": 10}", kObjects),
                 "expected an integer"},
        BadScene{"frame_beyond_32_bits",
                 SceneWith("{\"first\": 0, \"last\": 3000000000}", kObjects),
                 "$.frames.last: 3000000000 is out of range"},
        BadScene{"frame_beyond_64_bits",
                 SceneWith("{\"first\": 0, \"last\": 18446744073709551615}", kObjects),
                 "out of range"},
        BadScene{"last_before_first", SceneWith("{\"first\": 5, \"last\": 3}", kObjects),
                 "is before the first"},
        BadScene{"huge_frame_range_refused",
                 SceneWith("{\"first\": -2000000000, \"last\": 2000000000}", kObjects),
                 "more than the 100000 allowed"},
        BadScene{"unknown_key_is_a_typo", SceneWith(kFrames, kObjects, "\"creater\": \"XOLR\""),
                 "at $.creater: unknown key \"creater\""},
        BadScene{"objects_not_an_array", SceneWith(kFrames, "{}"),
                 "at $.objects: expected an array"},
        BadScene{"unknown_motion", SceneWith(kFrames, "[{}, {\"motion\": {\"type\": \"spiral\"}}]"),
                 "$.objects[1].motion.type: unknown motion \"spiral\""},
        BadScene{"motion_without_type", SceneWith(kFrames, "[{}, {\"motion\": {}}]"),
                 "missing \"type\""},
        BadScene{"radius_as_text",
                 SceneWith(kFrames, "[{}, {\"motion\": {\"type\": \"helix\", \"radius\": \"2\"}}]"),
                 "$.objects[1].motion.radius: expected a number"},
        BadScene{"negative_radius",
                 SceneWith(kFrames, "[{}, {\"motion\": {\"type\": \"circle\", \"radius\": -1}}]"),
                 "out of range"},
        BadScene{
            "zero_frames_per_turn",
            SceneWith(kFrames, "[{}, {\"motion\": {\"type\": \"helix\", \"frames_per_turn\": 0}}]"),
            "out of range"},
        BadScene{"bad_axis",
                 SceneWith(kFrames, "[{}, {\"motion\": {\"type\": \"helix\", \"axis\": \"w\"}}]"),
                 "expected \"x\", \"y\" or \"z\""},
        BadScene{"keys_not_increasing",
                 SceneWith(kFrames,
                           "[{}, {\"motion\": {\"type\": \"keyframes\", \"keys\": [{\"frame\": 5, "
                           "\"position\": [0,0,0]}, "
                           "{\"frame\": 5, \"position\": [1,0,0]}]}}]"),
                 "$.objects[1].motion.keys[1].frame: key frames must increase"},
        BadScene{"no_keys",
                 SceneWith(kFrames, "[{}, {\"motion\": {\"type\": \"keyframes\", \"keys\": []}}]"),
                 "expected at least 1 elements"},
        BadScene{
            "position_of_two_numbers",
            SceneWith(kFrames, "[{}, {\"motion\": {\"type\": \"static\", \"position\": [1, 2]}}]"),
            "$.objects[1].motion.position: expected at least 3 elements"},
        BadScene{
            "absurd_coordinate",
            SceneWith(kFrames,
                      "[{}, {\"motion\": {\"type\": \"static\", \"position\": [1e300, 0, 0]}}]"),
            "$.objects[1].motion.position[0]: 1e+300 is out of range"},
        BadScene{"unknown_interpolation",
                 SceneWith(kFrames,
                           "[{}, {\"motion\": {\"type\": \"keyframes\", \"interpolation\": "
                           "\"cubic\", \"keys\": "
                           "[{\"frame\": 0, \"position\": [0,0,0]}]}}]"),
                 "expected \"linear\" or \"smooth\""},
        BadScene{"path_without_points",
                 SceneWith(kFrames, "[{}, {\"motion\": {\"type\": \"path\"}}]"),
                 "missing \"points\""},
        BadScene{"negative_pause",
                 SceneWith(kFrames,
                           "[{}, {\"motion\": {\"type\": \"path\", \"points\": [[0,0,0]], "
                           "\"pause_frames\": -1}}]"),
                 "out of range"},
        BadScene{"parent_out_of_range", SceneWith(kFrames, "[{}, {\"parent\": 5}]"),
                 "$.objects[1].parent: 5 is out of range"},
        BadScene{"own_parent", SceneWith(kFrames, "[{}, {\"parent\": 1}]"),
                 "cannot be its own parent"},
        BadScene{"matrix_of_fifteen",
                 SceneWith(kFrames, kObjects, "\"group_matrix\": [1,0,0,0,0,1,0,0,0,0,1,0,0,0,0]"),
                 "$.group_matrix: expected at least 16 elements"},
        BadScene{
            "matrix_element_as_text",
            SceneWith(kFrames, kObjects, "\"blur_matrix\": [1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,\"1\"]"),
            "$.blur_matrix[15]: expected a number"},
        BadScene{"creator_of_five_characters",
                 SceneWith(kFrames, kObjects, "\"creator\": \"XOLRS\""),
                 "four printable characters"},
        BadScene{"dialog_angle_as_number",
                 SceneWith(kFrames, kObjects, "\"dialog\": {\"angle\": 5}"),
                 "$.dialog.angle: expected a string"},
        BadScene{"dialog_accept_as_text",
                 SceneWith(kFrames, kObjects, "\"dialog\": {\"accept\": \"yes\"}"),
                 "expected true or false"},
        BadScene{"dialog_control_id_not_a_number",
                 SceneWith(kFrames, kObjects, "\"dialog\": {\"values\": {\"four\": 1}}"),
                 "$.dialog.values.four: a control id must be a decimal"},
        BadScene{"block_hex_odd", SceneWith(kFrames, kObjects, "\"block\": {\"bytes\": \"414\"}"),
                 "odd number"},
        BadScene{"block_hex_not_hex",
                 SceneWith(kFrames, kObjects, "\"block\": {\"bytes\": \"41zz\"}"), "hexadecimal"},
        BadScene{"block_point_of_three",
                 SceneWith(kFrames, kObjects, "\"block\": {\"points\": [[0, 0, 0]]}"),
                 "$.block.points[0]: expected at least 4 elements"},
        BadScene{"block_byte_order_unknown",
                 SceneWith(kFrames, kObjects, "\"block\": {\"byte_order\": \"big\"}"),
                 "expected \"native\" or \"swapped\""},
        BadScene{"render_passes_times_frames_bounded",
                 SceneWith("{\"first\": 0, \"last\": 99999}", kObjects,
                           "\"render\": {\"first\": 0, \"last\": 99}"),
                 "$.render: rendering every frame of this range samples 10000000 frames in all"},
        BadScene{"render_range_too_long",
                 SceneWith(kFrames, kObjects, "\"render\": {\"first\": 0, \"last\": 5000}"),
                 "more than the 1000 allowed"},
        BadScene{"too_many_objects",
                 SceneWith(
                     kFrames, "[" +
                                  [] {
                                    std::string list;
                                    for (int i = 0; i < 10001; ++i)
                                      list += std::string(i ? "," : "") + "{}";
                                    return list;
                                  }() +
                                  "]"),
                 "at most 10000 elements"},
        BadScene{"instances_beside_objects",
                 SceneWith(kFrames, kObjects, "\"instances\": [{\"objects\": " + kObjects + "}]"),
                 "unknown key \"objects\""},
        BadScene{"no_instance", "{\"frames\": " + kFrames + ", \"instances\": []}",
                 "$.instances: expected at least 1 elements"},
        BadScene{"instance_without_objects",
                 "{\"frames\": " + kFrames + ", \"instances\": [{\"name\": \"a\"}]}",
                 "$.instances[0]: missing \"objects\""},
        BadScene{"instance_with_a_render_range_of_its_own",
                 "{\"frames\": " + kFrames + ", \"instances\": [{\"objects\": " + kObjects +
                     ", \"render\": {\"first\": 0, \"last\": 1}}]}",
                 "$.instances[0].render: unknown key"},
        BadScene{"groups_sampling_too_much",
                 "{\"frames\": {\"first\": 0, \"last\": 99999}, \"instances\": [" +
                     [] {
                       std::string list;
                       for (int i = 0; i < 21; ++i)
                         list += std::string(i ? "," : "") + "{\"objects\": " + kObjects + "}";
                       return list;
                     }() +
                     "]}",
                 "$.instances: 21 groups sampling every frame of this range sample 2100000 frames"},
        BadScene{"source_up_axis_unknown",
                 SceneWith(kFrames, kObjects, "\"source\": {\"up\": \"x\"}"),
                 "$.source.up: expected \"y\" or \"z\""},
        BadScene{"source_scale_zero", SceneWith(kFrames, kObjects, "\"source\": {\"scale\": 0}"),
                 "$.source.scale: the scale cannot be 0"}),
    [](const testing::TestParamInfo<BadScene>& info) { return std::string(info.param.name); });

TEST(SceneTest, DeeplyNestedJsonIsRefusedWithoutCrashing) {
  std::string text = "{\"frames\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
  SceneResult result = ParseScene(text, "deep.json");
  EXPECT_FALSE(result.scene.has_value());
  EXPECT_NE(result.error.find("$.frames: expected an object"), std::string::npos) << result.error;
}

TEST(SceneTest, MissingFileIsNamed) {
  SceneResult result = LoadSceneFile("/nonexistent/scene.json");
  ASSERT_FALSE(result.scene.has_value());
  EXPECT_EQ(result.error, "/nonexistent/scene.json: no such scene file");
}

TEST(SceneTest, MinimalSceneTakesTheDefaults) {
  SceneResult result = ParseScene(SceneWith(kFrames, kObjects), "ok.json");
  ASSERT_TRUE(result.scene.has_value()) << result.error;
  const Scene& scene = *result.scene;
  EXPECT_EQ(scene.firstFrame, 0);
  EXPECT_EQ(scene.lastFrame, 10);
  ASSERT_EQ(scene.objects.size(), 2u);
  EXPECT_EQ(scene.objects[0].parent, -1);
  EXPECT_EQ(scene.objects[1].parent, 0);
  EXPECT_EQ(scene.creator, FourCC("VHST"));
  EXPECT_EQ(scene.groupMatrix, IdentityMatrix());
  EXPECT_EQ(scene.blurMatrix, IdentityMatrix());
  EXPECT_FALSE(scene.dialog.has_value());
  EXPECT_FALSE(scene.block.has_value());
  EXPECT_EQ(scene.renderFirst, 0);
  EXPECT_EQ(scene.renderLast, 0);
}

// A scene of several groups: each instance keeps its own objects, block and
// source, and shares the scene's frames, creator and render range.
TEST(SceneTest, InstancesShareTheScenesFramesAndKeepTheirOwnParts) {
  const std::string text =
      "{\"frames\": " + kFrames + ", \"creator\": \"ABCD\", \"render\": {\"first\": 2, \"last\": 3},"
      " \"source\": {\"file\": \"a.glb\", \"up\": \"y\", \"scale\": 2},"
      " \"instances\": [{\"name\": \"left\", \"objects\": " + kObjects + "},"
      " {\"name\": \"right\", \"objects\": " + kObjects +
      ", \"block\": {\"angle_tolerance\": 7}, \"source\": {\"node\": \"r\", \"up\": \"z\"}}]}";
  SceneResult result = ParseScene(text, "two.json");
  ASSERT_TRUE(result.scene.has_value()) << result.error;
  const Scene& scene = *result.scene;
  ASSERT_EQ(scene.instances.size(), 2u);
  for (const Scene& instance : scene.instances) {
    EXPECT_EQ(instance.lastFrame, 10);
    EXPECT_EQ(instance.creator, FourCC("ABCD"));
    EXPECT_EQ(instance.renderFirst, 2);
    EXPECT_EQ(instance.renderLast, 3);
    ASSERT_TRUE(instance.source.has_value());
  }
  EXPECT_EQ(scene.instances[0].name, "left");
  EXPECT_EQ(scene.instances[0].source->file, "a.glb");
  EXPECT_EQ(scene.instances[0].source->scale, 2);
  EXPECT_FALSE(scene.instances[0].block.has_value());
  EXPECT_EQ(scene.instances[1].source->node, "r");
  EXPECT_EQ(scene.instances[1].source->up, 'z');
  ASSERT_TRUE(scene.instances[1].block.has_value());
  // The first instance also stands as the scene's own objects.
  EXPECT_EQ(scene.objects.size(), 2u);
}

TEST(SceneTest, CommentsAndCommentKeysAreAllowed) {
  std::string text =
      "// a scene\n{\"comment\": \"why\", \"frames\": " + kFrames + ", \"objects\": []}";
  EXPECT_TRUE(ParseScene(text, "c.json").scene.has_value());
}

TEST(SceneTest, DialogAnswersMapToTheControlsOfThePluginsDialog) {
  SceneResult result = ParseScene(SceneWith(kFrames, kObjects,
                                            "\"dialog\": {\"angle\": \"12.5\", \"freeze\": true, "
                                            "\"reverse\": 7, \"texts\": {\"9\": \"x\"}, "
                                            "\"values\": {\"-2\": 3}, \"accept\": false}"),
                                  "d.json");
  ASSERT_TRUE(result.scene.has_value()) << result.error;
  const DialogAnswers& answers = *result.scene->dialog;
  EXPECT_EQ(answers.texts.at(kAngleControl), "12.5");
  EXPECT_EQ(answers.texts.at(9), "x");
  EXPECT_EQ(answers.values.at(kFreezeControl), 1);
  EXPECT_EQ(answers.values.at(kReverseControl), 7);
  EXPECT_EQ(answers.values.at(-2), 3);
  EXPECT_FALSE(answers.accept);
}

TEST(SceneTest, StoredBlockInTheOtherByteOrderReadsBackTheSameValues) {
  SceneResult result = ParseScene(SceneWith(kFrames, kObjects,
                                            "\"block\": {\"angle_tolerance\": 7.5, \"freeze\": 1, "
                                            "\"reverse\": 1, \"points\": [[1, 2, 3, 4]], "
                                            "\"byte_order\": \"swapped\"}"),
                                  "b.json");
  ASSERT_TRUE(result.scene.has_value()) << result.error;
  const std::vector<uint8_t>& bytes = *result.scene->block;
  ASSERT_EQ(bytes.size(), 68u);
  BlockView view = DecodeBlock(bytes.data(), bytes.size());
  EXPECT_TRUE(view.isBlock);
  EXPECT_FALSE(view.native);
  EXPECT_EQ(view.angle, 7.5f);
  EXPECT_EQ(view.freeze, 1);
  EXPECT_EQ(view.reverse, 1);
  ASSERT_EQ(view.points.size(), 1u);
  EXPECT_EQ(view.points[0], (StoredPoint{1, 2, 3, 4}));
}

// ---------------------------------------------------------------------------
// Motion

Motion ParseMotion(const std::string& motion) {
  SceneResult result =
      ParseScene(SceneWith(kFrames, "[{}, {\"motion\": " + motion + "}]"), "m.json");
  EXPECT_TRUE(result.scene.has_value()) << result.error;
  return result.scene ? result.scene->objects[1].motion : Motion();
}

void ExpectNear(const Vec3& actual, const Vec3& expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-12);
  EXPECT_NEAR(actual.y, expected.y, 1e-12);
  EXPECT_NEAR(actual.z, expected.z, 1e-12);
}

TEST(MotionTest, LinearKeyframesInterpolateAndHoldBeyondTheEnds) {
  Motion motion = ParseMotion(
      "{\"type\": \"keyframes\", \"keys\": [{\"frame\": 10, \"position\": [0, 0, 0]}, {\"frame\": "
      "20, \"position\": [10, -10, 4]}]}");
  ExpectNear(motion.At(0), {0, 0, 0});
  ExpectNear(motion.At(15), {5, -5, 2});
  ExpectNear(motion.At(20), {10, -10, 4});
  ExpectNear(motion.At(99), {10, -10, 4});
}

TEST(MotionTest, SmoothKeyframesPassThroughTheKeysAndEaseAtTheEnds) {
  Motion motion = ParseMotion(
      "{\"type\": \"keyframes\", \"interpolation\": \"smooth\", \"keys\": [{\"frame\": 0, "
      "\"position\": [0, 0, 0]}, "
      "{\"frame\": 10, \"position\": [10, 0, 0]}, {\"frame\": 20, \"position\": [20, 0, 0]}]}");
  ExpectNear(motion.At(10), {10, 0, 0});
  // Eased: slower than linear near the start.
  EXPECT_LT(motion.At(1).x, 1.0);
  EXPECT_GT(motion.At(1).x, 0.0);
}

TEST(MotionTest, HelixClimbsOneRisePerTurn) {
  Motion motion = ParseMotion(
      "{\"type\": \"helix\", \"center\": [1, 2, 3], \"radius\": 2, \"frames_per_turn\": 8, "
      "\"rise_per_turn\": 4}");
  ExpectNear(motion.At(0), {3, 2, 3});
  ExpectNear(motion.At(2), {1, 4, 4});
  ExpectNear(motion.At(8), {3, 2, 7});
}

TEST(MotionTest, CircleRoundTheYAxisStaysInItsPlane) {
  Motion motion =
      ParseMotion("{\"type\": \"circle\", \"radius\": 1, \"frames_per_turn\": 4, \"axis\": \"y\"}");
  for (int frame = 0; frame < 8; ++frame) EXPECT_NEAR(motion.At(frame).y, 0, 1e-12);
  ExpectNear(motion.At(4), motion.At(0));
}

TEST(MotionTest, PathPausesAtEveryPointThenRunsToTheNext) {
  Motion motion = ParseMotion(
      "{\"type\": \"path\", \"points\": [[0, 0, 0], [4, 0, 0], [4, 4, 0]], \"frames_per_segment\": "
      "4, "
      "\"pause_frames\": 2, \"start_frame\": 10}");
  ExpectNear(motion.At(9), {0, 0, 0});
  ExpectNear(motion.At(12), {0, 0, 0});  // still pausing at the first point
  ExpectNear(motion.At(13), {1, 0, 0});
  ExpectNear(motion.At(16), {4, 0, 0});
  ExpectNear(motion.At(18), {4, 0, 0});  // pausing at the second point
  ExpectNear(motion.At(20), {4, 2, 0});
  ExpectNear(motion.At(1000), {4, 4, 0});
}

TEST(SceneTest, EmbeddedDefaultSceneParses) {
  SceneResult result = ParseScene(DefaultSceneText(), kDefaultSceneSource);
  ASSERT_TRUE(result.scene.has_value()) << result.error;
  EXPECT_EQ(result.scene->name, "helix");
}

}  // namespace
}  // namespace vhost
