// The validator's model of the design: the repair of stored blocks it
// expects, and that it flags a call sequence that departs from the design.
#include <string.h>

#include <gtest/gtest.h>

#include "reference_host/play/block_file.h"
#include "reference_host/validate/model.h"

namespace vhost {
namespace {

int32_t CountOf(const std::vector<uint8_t>& block) {
  int32_t count;
  memcpy(&count, block.data() + 32, 4);
  return count;
}

void SetCount(std::vector<uint8_t>& block, int32_t count) { memcpy(block.data() + 32, &count, 4); }

TEST(ExpectedRepair, NativeBlockKeepsItsBytesAndBoundsItsCount) {
  std::vector<uint8_t> block =
      MakeBlockBytes(7.5f, 1, 0, {{1, 2, 3, 4}, {5, 6, 7, 8}}, ByteOrder::kNative);
  EXPECT_EQ(ExpectedRepair(block), block);
  const struct {
    int32_t stored;
    int32_t bounded;
  } cases[] = {{-1, 0}, {INT32_MIN, 0}, {3, 3}, {4, 3}, {INT32_MAX, 3}};  // 84 bytes hold 3 points
  for (const auto& c : cases) {
    SetCount(block, c.stored);
    EXPECT_EQ(CountOf(ExpectedRepair(block)), c.bounded) << c.stored;
  }
}

TEST(ExpectedRepair, OtherByteOrderIsReversedIntoTheNativeBlock) {
  std::vector<uint8_t> native =
      MakeBlockBytes(7.5f, 1, 2, {{1, 2, 3, 4}, {5, 6, 7, 8}}, ByteOrder::kNative);
  std::vector<uint8_t> swapped =
      MakeBlockBytes(7.5f, 1, 2, {{1, 2, 3, 4}, {5, 6, 7, 8}}, ByteOrder::kSwapped);
  native[20] = swapped[20] = 0x77;  // reserved bytes stay as they are
  EXPECT_EQ(ExpectedRepair(swapped), native);
}

TEST(ExpectedRepair, NeitherByteOrderGetsTheDefaultsOverTheHeaderOnly) {
  std::vector<uint8_t> block(70, 0xEE);
  std::vector<uint8_t> repaired = ExpectedRepair(block);
  EXPECT_EQ(repaired.size(), 70u);
  EXPECT_EQ(CountOf(repaired), 0);
  float angle;
  memcpy(&angle, repaired.data() + 4, 4);
  EXPECT_EQ(angle, 5.0f);
  for (size_t i : {16u, 31u, 36u, 69u}) EXPECT_EQ(repaired[i], 0xEE) << i;
}

// One 'GENM' of a block with two points, as the host saw it.
EntryObservation Generation(const Scene& scene, const std::vector<uint8_t>& block) {
  EntryObservation call;
  call.selector = kSelectorGenerate;
  call.before = call.after = BlockState{true, block};
  call.scene = &scene;
  ServedCall vertex;
  vertex.selector = kSelectorAddVertex;
  AddVertexCall added;
  added.u = 4;
  vertex.arguments = added;
  call.calls.push_back(vertex);
  added.u = 8;
  added.index = 1;
  vertex.arguments = added;
  call.calls.push_back(vertex);
  ServedCall face;
  face.selector = kSelectorAddFace;
  face.arguments = AddFaceCall{0, 1};
  call.calls.push_back(face);
  return call;
}

TEST(CheckEntryCall, FindsEachDepartureFromTheDesign) {
  Scene scene;
  const std::vector<uint8_t> block =
      MakeBlockBytes(5, 0, 0, {{0, 0, 0, 4}, {0, 0, 0, 8}}, ByteOrder::kNative);
  const struct {
    const char* name;
    void (*change)(EntryObservation&);
    const char* problem;  // empty: none
  } cases[] = {
      {"the design's calls", [](EntryObservation&) {}, ""},
      {"polygon left out", [](EntryObservation& c) { c.calls.pop_back(); }, "expected 'ADDF'"},
      {"extra call", [](EntryObservation& c) { c.calls.push_back(c.calls.back()); },
       "where the design makes no further call"},
      {"wrong u", [](EntryObservation& c) { std::get<AddVertexCall>(c.calls[1].arguments).u = 9; },
       "vertex 1 went out"},
      {"polygon of other indices",
       [](EntryObservation& c) { std::get<AddFaceCall>(c.calls[2].arguments).secondVertex = 5; },
       "'ADDF' joined the indices 0 and 5"},
      {"refusal not passed on",
       [](EntryObservation& c) {
         c.calls[2].refused = true;
         c.calls[2].result = -3;
       },
       "returned 0, the design returns -3"},
      {"block written", [](EntryObservation& c) { c.after.bytes[40] ^= 1; },
       "block byte 40 (point 0)"},
      {"'ALOC' for a valid block",
       [](EntryObservation& c) {
         ServedCall alloc;
         alloc.selector = kSelectorAllocate;
         c.calls.insert(c.calls.begin(), alloc);
       },
       "the plug-in sent 'ALOC'"},
  };
  for (const auto& c : cases) {
    EntryObservation call = Generation(scene, block);
    c.change(call);
    ProcessModel model;
    std::vector<std::string> problems;
    CheckEntryCall(call, model, &problems);
    if (c.problem[0] == 0) {
      EXPECT_TRUE(problems.empty()) << c.name << ": " << (problems.empty() ? "" : problems[0]);
    } else {
      ASSERT_EQ(problems.size(), 1u) << c.name;
      EXPECT_NE(problems[0].find(c.problem), std::string::npos) << c.name << ": " << problems[0];
    }
  }
}

TEST(BlockSoundness, NamesWhatIsWrong) {
  std::vector<uint8_t> sound = MakeBlockBytes(5, 0, 0, {{1, 2, 3, 4}}, ByteOrder::kNative);
  EXPECT_EQ(BlockSoundness(BlockState{true, sound}), "");
  EXPECT_NE(BlockSoundness(BlockState{false, {}}), "");
  EXPECT_NE(
      BlockSoundness(BlockState{true, std::vector<uint8_t>(sound.begin(), sound.begin() + 51)}),
      "");
  std::vector<uint8_t> tooMany = sound;
  SetCount(tooMany, 3);
  EXPECT_NE(BlockSoundness(BlockState{true, tooMany}).find("point count 3"), std::string::npos);
  EXPECT_NE(BlockSoundness(BlockState{true, MakeBlockBytes(5, 0, 0, {}, ByteOrder::kSwapped)}), "");
}

}  // namespace
}  // namespace vhost
