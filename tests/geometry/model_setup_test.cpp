// 'SETM' as the host sees it: the whole conversation, every way it can end,
// and what lands in the parameter block.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "controldata/alloc_record.h"
#include "geometry/capture_records.h"
#include "geometry/group_matrix.h"
#include "geometry/path_simplify.h"
#include "host/entry.h"
#include "tests/support/test_host.h"

namespace {

// Selectors from text: "TINF UOBJ*3 MMAL" is 'TINF', three 'UOBJ', 'MMAL'.
std::vector<uint32_t> Calls(const std::string& text) {
  std::vector<uint32_t> selectors;
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    char code[5] = {word[0], word[1], word[2], word[3], 0};
    int repeat = word.size() > 5 && word[4] == '*' ? std::stoi(word.substr(5)) : 1;
    for (int i = 0; i < repeat; ++i) selectors.push_back(FourCC(code));
  }
  return selectors;
}

const char* const kFullCapture =
    "TINF UOBJ*3 MMAL SYNC TOBJ SYNC TOBJ SYNC TOBJ SYNC ALOC MFRE RSET";

// A path that turns at every sample, so that nothing is simplified away:
// (0,0,0), (1,0,0), (1,1,0), (1,2,0) ... counted from the first frame.
Position Corner(int64_t k) {
  if (k <= 0) return {0, 0, 0};
  if (k == 1) return {1, 0, 0};
  return {1, double(k - 1), double(k - 1) * double(k - 1)};
}

const std::vector<Fxyzu> kOldPath = {{7, 7, 7, 70}, {8, 8, 8, 80}};

struct Sync {
  int32_t flag;
  int32_t frame;
  bool operator==(const Sync& o) const { return flag == o.flag && frame == o.frame; }
};

std::ostream& operator<<(std::ostream& out, const Sync& s) {
  return out << "(" << s.flag << ", " << s.frame << ")";
}

std::vector<Sync> Syncs(const TestHost& host) {
  std::vector<Sync> syncs;
  for (const RecordedCall* call : host.CallsOf(kSelectorSyncFrame)) {
    auto sync = call->Sent<HostSyncFrameRec>();
    syncs.push_back({sync.samplingFlag, sync.frameNumber});
  }
  return syncs;
}

std::vector<int32_t> ObjectIndices(const TestHost& host) {
  std::vector<int32_t> indices;
  for (const RecordedCall* call : host.CallsOf(kSelectorSceneObject)) {
    indices.push_back(call->Sent<HostSceneObjectRec>().objectIndex);
  }
  return indices;
}

std::vector<Fxyzu> StoredPoints(const TestHost& host) {
  std::vector<Fxyzu> points;
  for (int32_t i = 0; i < host.Block()->pointCount; ++i) points.push_back(*host.Block()->Point(i));
  return points;
}

bool SamePoints(const std::vector<Fxyzu>& a, const std::vector<Fxyzu>& b) {
  return a.size() == b.size() &&
         (a.empty() || memcmp(a.data(), b.data(), a.size() * sizeof(Fxyzu)) == 0);
}

class ModelSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCreator_ = theCreator;
    theCreator = FourCC("TEST");
    host_.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, kOldPath));
    host_.firstFrame = 1;
    host_.lastFrame = 3;
    host_.objects = {{0x100, 0}, {0x200, 0x100}};
    host_.motion = [this](uintptr_t, int32_t frame) {
      return Corner(int64_t(frame) - host_.firstFrame);
    };
    for (int i = 0; i < 16; ++i) {
      host_.groupMatrix[i] = i + 0.5;
      host_.blurMatrix[i] = -i - 0.25;
    }
  }
  // theCreator is process-wide: give the other tests back what they had.
  void TearDown() override { theCreator = savedCreator_; }

  // What holds on every way out: memory that 'MMAL' gave goes back with one
  // 'MFRE' (kept only when the host refuses that 'MFRE'), and sampling once
  // begun is closed by exactly one 'SYNC' with flag 0, the last one.
  void ExpectCleanHost() {
    EXPECT_TRUE(host_.violations.empty()) << host_.violations.front();
    std::vector<const RecordedCall*> mmal = host_.CallsOf(kSelectorMemAlloc);
    std::vector<const RecordedCall*> mfre = host_.CallsOf(kSelectorMemFree);
    void* memory = mmal.empty() ? nullptr : mmal[0]->Answered<HostMemAllocRec>().memoryAddress;
    if (memory != nullptr && mmal[0]->result == 0) {
      ASSERT_EQ(mfre.size(), 1u);
      EXPECT_EQ(mfre[0]->Sent<HostMemFreeRec>().memoryAddress, memory);
      if (mfre[0]->result == 0) {
        EXPECT_EQ(host_.outstandingMemory(), 0u);
      }
    } else {
      EXPECT_TRUE(mfre.empty());
      EXPECT_EQ(host_.outstandingMemory(), 0u);
    }
    std::vector<Sync> syncs = Syncs(host_);
    if (!syncs.empty()) {
      EXPECT_EQ(syncs.back().flag, 0);
      for (size_t i = 0; i + 1 < syncs.size(); ++i) EXPECT_EQ(syncs[i].flag, 1);
    }
  }

  void ExpectMatricesCopied() {
    EXPECT_EQ(memcmp(theGroupMatrix, host_.Info().setup.groupMatrix, sizeof theGroupMatrix), 0);
    EXPECT_EQ(
        memcmp(theGroupBlurMatrix, host_.Info().setup.groupBlurMatrix, sizeof theGroupBlurMatrix),
        0);
  }

  TestHost host_;
  uint32_t savedCreator_ = 0;
};

TEST_F(ModelSetupTest, WholeConversationInOrder) {
  host_.objects = {{0x100, 0}, {0x300, 0x999}, {0x200, 0x100}};

  EXPECT_EQ(host_.Send(kSelectorSetup), 0);

  ASSERT_EQ(host_.Selectors(),
            Calls("TINF UOBJ*4 MMAL SYNC TOBJ SYNC TOBJ SYNC TOBJ SYNC ALOC MFRE RSET"));
  EXPECT_EQ(ObjectIndices(host_), (std::vector<int32_t>{-1, 0, 1, 2}));
  EXPECT_EQ(Syncs(host_), (std::vector<Sync>{{1, 1}, {1, 2}, {1, 3}, {0, 3}}));
  for (const RecordedCall* call : host_.CallsOf(kSelectorObjectPosition)) {
    EXPECT_EQ(call->Sent<HostObjectPositionRec>().objectReference,
              reinterpret_cast<HostOpaque>(0x200));
  }
  auto alloc = host_.CallsOf(kSelectorMemAlloc)[0];
  EXPECT_EQ(alloc->Sent<HostMemAllocRec>().byteCount, intptr_t(3 * sizeof(PathNode)));
  EXPECT_EQ(alloc->Sent<HostMemAllocRec>().memoryAddress, nullptr);
  EXPECT_EQ(host_.CallsOf(kSelectorMemFree)[0]->Sent<HostMemFreeRec>().memoryAddress,
            alloc->Answered<HostMemAllocRec>().memoryAddress);
  EXPECT_EQ(host_.CallsOf(kSelectorAllocate)[0]->Sent<HostAllocDataRec>().blockSize, 52 + 16 * 3);

  EXPECT_TRUE(SamePoints(StoredPoints(host_), {{0, 0, 0, 1}, {1, 0, 0, 2}, {1, 1, 1, 3}}));
  EXPECT_EQ(host_.Block()->angleTolerance, 5.0f);
  ExpectMatricesCopied();
  ExpectCleanHost();
}

// Each case starts from a valid block holding kOldPath, the frame range 1 to 3,
// the own group at index 0 and its child at index 1, and a path that keeps all
// three samples. Call numbers: 0 'TINF', 1-3 'UOBJ', 4 'MMAL', 5-10 'SYNC' and
// 'TOBJ' by turns, 11 the closing 'SYNC', 12 'ALOC', 13 'MFRE', 14 'RSET'.
struct SetupCase {
  const char* name;
  std::function<void(TestHost&)> script;
  const char* calls;
  int32_t result;
  enum Stored { kOld, kNew, kNoBlock } stored;  // what the block holds afterwards
};
void PrintTo(const SetupCase& c, std::ostream* out) { *out << c.name; }
constexpr SetupCase::Stored kOld = SetupCase::kOld;
constexpr SetupCase::Stored kNew = SetupCase::kNew;

class ModelSetupOutcome : public ModelSetupTest, public ::testing::WithParamInterface<SetupCase> {};

TEST_P(ModelSetupOutcome, EndsAsTheHostExpects) {
  const SetupCase& c = GetParam();
  c.script(host_);

  EXPECT_EQ(host_.Send(kSelectorSetup), c.result);

  EXPECT_EQ(host_.Selectors(), Calls(c.calls));
  switch (c.stored) {
    case SetupCase::kNew:
      EXPECT_TRUE(SamePoints(StoredPoints(host_), {{0, 0, 0, 1}, {1, 0, 0, 2}, {1, 1, 1, 3}}));
      break;
    case SetupCase::kOld:
      EXPECT_TRUE(SamePoints(StoredPoints(host_), kOldPath)) << "the stored path changed";
      break;
    case SetupCase::kNoBlock: EXPECT_EQ(host_.Block(), nullptr); break;
  }
  ExpectMatricesCopied();
  ExpectCleanHost();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelSetupOutcome,
    ::testing::Values(
        SetupCase{"captures_and_resets", [](TestHost&) {}, kFullCapture, 0, kNew},
        SetupCase{"xolr_host_makes_no_call", [](TestHost&) { theCreator = kCreatorXolr; }, "", 0,
                  kOld},
        SetupCase{"frozen_path_makes_no_call",
                  [](TestHost& h) { h.SetBlock(TestHost::MakeBlock(5.0f, 1, 0, kOldPath)); }, "", 0,
                  kOld},
        SetupCase{"two_frames_are_not_captured", [](TestHost& h) { h.lastFrame = 2; }, "TINF", 0,
                  kOld},
        SetupCase{"backward_range_is_not_captured",
                  [](TestHost& h) {
                    h.firstFrame = 3;
                    h.lastFrame = 1;
                  },
                  "TINF", 0, kOld},
        SetupCase{"refused_tinf_ends_with_its_error",
                  [](TestHost& h) { h.Refuse(kSelectorTimeInfo, 11); }, "TINF", 11, kOld},
        SetupCase{"refused_object_count", [](TestHost& h) { h.RefuseCall(1, 12); }, "TINF UOBJ", 12,
                  kOld},
        SetupCase{"refused_object_lookup", [](TestHost& h) { h.RefuseCall(3, 13); }, "TINF UOBJ*3",
                  13, kOld},
        SetupCase{"no_child_ends_quietly",
                  [](TestHost& h) {
                    h.objects = {{0x100, 0}, {0x200, 0x999}, {0x300, 0}, {0x400, 0x999}};
                  },
                  "TINF UOBJ*5", 0, kOld},
        SetupCase{"negative_object_count_asks_no_index",
                  [](TestHost& h) {
                    h.useObjectCount = true;
                    h.objectCount = -1;
                  },
                  "TINF UOBJ", 0, kOld},
        SetupCase{"null_own_group_stops_at_first_parentless_object",
                  [](TestHost& h) {
                    h.objects = {{0, 0}, {0x200, 0x100}, {0x300, 0}, {0x400, 0}};
                  },
                  "TINF UOBJ*4", 0, kOld},
        SetupCase{"null_child_reference_ends_quietly",
                  [](TestHost& h) {
                    h.objects = {{0x100, 0}, {0, 0x100}, {0x300, 0x100}};
                  },
                  "TINF UOBJ*3", 0, kOld},
        SetupCase{"missing_block_is_created_then_captured", [](TestHost& h) { h.RemoveBlock(); },
                  "ALOC TINF UOBJ*3 MMAL SYNC TOBJ SYNC TOBJ SYNC TOBJ SYNC ALOC MFRE RSET", 0,
                  kNew},
        SetupCase{"refused_block_creation_ends_with_its_error",
                  [](TestHost& h) {
                    h.RemoveBlock();
                    h.Refuse(kSelectorAllocate, 22);
                  },
                  "ALOC", 22, SetupCase::kNoBlock},
        SetupCase{"refused_mmal_sends_no_sync",
                  [](TestHost& h) { h.Refuse(kSelectorMemAlloc, 14); }, "TINF UOBJ*3 MMAL", 14,
                  kOld},
        SetupCase{"mmal_without_memory_sends_no_sync",
                  [](TestHost& h) { h.memAllocReturnsNull = true; }, "TINF UOBJ*3 MMAL", 0, kOld},
        SetupCase{"refused_first_sync_still_closes_and_frees",
                  [](TestHost& h) { h.RefuseCall(5, 15); }, "TINF UOBJ*3 MMAL SYNC SYNC MFRE", 0,
                  kOld},
        SetupCase{"refused_tobj_still_closes_and_frees", [](TestHost& h) { h.RefuseCall(8, 16); },
                  "TINF UOBJ*3 MMAL SYNC TOBJ SYNC TOBJ SYNC MFRE", 0, kOld},
        SetupCase{"failed_sampling_ends_with_the_mfre_result",
                  [](TestHost& h) {
                    h.RefuseCall(8, 16);
                    h.RefuseCall(10, 17);
                  },
                  "TINF UOBJ*3 MMAL SYNC TOBJ SYNC TOBJ SYNC MFRE", 17, kOld},
        SetupCase{"refused_closing_sync_still_stores", [](TestHost& h) { h.RefuseCall(11, 18); },
                  kFullCapture, 0, kNew},
        SetupCase{"refused_resize_keeps_old_path_and_sends_no_reset",
                  [](TestHost& h) { h.RefuseCall(12, 19); },
                  "TINF UOBJ*3 MMAL SYNC TOBJ SYNC TOBJ SYNC TOBJ SYNC ALOC MFRE", 0, kOld},
        SetupCase{"refused_resize_and_mfre_end_with_the_mfre_error",
                  [](TestHost& h) {
                    h.RefuseCall(12, 19);
                    h.RefuseCall(13, 20);
                  },
                  "TINF UOBJ*3 MMAL SYNC TOBJ SYNC TOBJ SYNC TOBJ SYNC ALOC MFRE", 20, kOld},
        SetupCase{"resize_granted_too_small_sends_no_reset",
                  [](TestHost& h) { h.allocShortfall = 4; },
                  "TINF UOBJ*3 MMAL SYNC TOBJ SYNC TOBJ SYNC TOBJ SYNC ALOC MFRE", 0, kOld},
        SetupCase{"refused_mfre_after_a_capture_still_resets",
                  [](TestHost& h) { h.RefuseCall(13, 21); }, kFullCapture, 0, kNew},
        SetupCase{"refused_reset_ends_with_its_error", [](TestHost& h) { h.RefuseCall(14, 23); },
                  kFullCapture, 23, kNew}),
    [](const ::testing::TestParamInfo<SetupCase>& info) { return info.param.name; });

TEST_F(ModelSetupTest, FirstOfTwoChildrenIsSampled) {
  host_.objects = {{0x100, 0}, {0x300, 0}, {0x200, 0x100}, {0x400, 0}, {0x500, 0}, {0x600, 0x100}};

  EXPECT_EQ(host_.Send(kSelectorSetup), 0);

  EXPECT_EQ(ObjectIndices(host_), (std::vector<int32_t>{-1, 0, 1, 2}));
  for (const RecordedCall* call : host_.CallsOf(kSelectorObjectPosition)) {
    EXPECT_EQ(call->Sent<HostObjectPositionRec>().objectReference,
              reinterpret_cast<HostOpaque>(0x200));
  }
  ExpectCleanHost();
}

TEST_F(ModelSetupTest, RefusedTobjAtFourthFrameClosesAtThatFrame) {
  host_.firstFrame = 1;
  host_.lastFrame = 10;
  host_.RefuseCall(4 + 2 * 3 + 2, 31);  // 'MMAL' is call 4, then 'SYNC' and 'TOBJ' per frame

  EXPECT_EQ(host_.Send(kSelectorSetup), 0);

  std::vector<Sync> syncs = Syncs(host_);
  ASSERT_EQ(syncs.size(), 5u);
  EXPECT_EQ(syncs.back(), (Sync{0, 4}));
  EXPECT_EQ(host_.Selectors().back(), kSelectorMemFree);
  EXPECT_TRUE(host_.CallsOf(kSelectorAllocate).empty());
  EXPECT_TRUE(SamePoints(StoredPoints(host_), kOldPath));
  ExpectCleanHost();
}

TEST_F(ModelSetupTest, PositionsAreRoundedToFloatAndFramesBecomeU) {
  host_.firstFrame = -4;
  host_.lastFrame = -2;
  host_.motion = [](uintptr_t, int32_t frame) {
    if (frame == -4) return Position{1.0000000001, 2, 3};
    return frame == -3 ? Position{5, 2, 3} : Position{5, 9, 3};
  };

  EXPECT_EQ(host_.Send(kSelectorSetup), 0);

  EXPECT_TRUE(SamePoints(StoredPoints(host_), {{1, 2, 3, -4}, {5, 2, 3, -3}, {5, 9, 3, -2}}));
}

TEST_F(ModelSetupTest, SimplifiesWithTheStoredTolerance) {
  host_.SetBlock(TestHost::MakeBlock(-1.0f, 0, 0, kOldPath));
  host_.lastFrame = 5;
  host_.motion = [](uintptr_t, int32_t frame) { return Position{double(frame), 0, 0}; };

  EXPECT_EQ(host_.Send(kSelectorSetup), 0);
  EXPECT_EQ(host_.Block()->pointCount, 5) << "a negative tolerance keeps a straight line";

  host_.Block()->angleTolerance = 5.0f;
  EXPECT_EQ(host_.Send(kSelectorSetup), 0);
  EXPECT_TRUE(SamePoints(StoredPoints(host_), {{1, 0, 0, 1}, {5, 0, 0, 5}}));
}

// Frame numbers at the ends of the signed 32-bit range. The largest range that
// is captured is bounded by the parameter block (52 + 16 n must stay a signed
// 32-bit size) and, on 32-bit builds, by the byte count of 'MMAL'.
int64_t LargestCapture() {
  int64_t bySize = (INT32_MAX - 52) / 16;
  int64_t byMemory = INTPTR_MAX / int64_t(sizeof(PathNode));
  return bySize < byMemory ? bySize : byMemory;
}

struct RangeCase {
  const char* name;
  int32_t first;
  int32_t last;
  bool sampled;  // otherwise 'TINF' is the only call
};
void PrintTo(const RangeCase& c, std::ostream* out) { *out << c.name; }

class ModelSetupRange : public ModelSetupTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(ModelSetupRange, NeverOverflows) {
  const RangeCase& c = GetParam();
  host_.firstFrame = c.first;
  host_.lastFrame = c.last;

  EXPECT_EQ(host_.Send(kSelectorSetup), 0);

  if (!c.sampled) {
    EXPECT_EQ(host_.Selectors(), Calls("TINF"));
    EXPECT_TRUE(SamePoints(StoredPoints(host_), kOldPath));
    return;
  }
  EXPECT_EQ(host_.Selectors(), Calls(kFullCapture));
  EXPECT_EQ(Syncs(host_),
            (std::vector<Sync>{{1, c.first}, {1, c.first + 1}, {1, c.last}, {0, c.last}}));
  std::vector<Fxyzu> stored = StoredPoints(host_);
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0].u, float(c.first));
  EXPECT_EQ(stored[2].u, float(c.last));
  ExpectCleanHost();
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ModelSetupRange,
    ::testing::Values(
        RangeCase{"whole_int32_range_is_too_large", INT32_MIN, INT32_MAX, false},
        RangeCase{"backward_over_the_whole_int32_range", INT32_MAX, INT32_MIN, false},
        RangeCase{"three_frames_ending_at_int32_max", INT32_MAX - 2, INT32_MAX, true},
        RangeCase{"three_frames_starting_at_int32_min", INT32_MIN, INT32_MIN + 2, true},
        RangeCase{"one_frame_more_than_the_block_can_hold", 0, int32_t(LargestCapture()), false},
        RangeCase{"too_large_a_range_of_negative_frames", INT32_MIN,
                  int32_t(INT32_MIN + LargestCapture()), false}),
    [](const ::testing::TestParamInfo<RangeCase>& info) { return info.param.name; });

TEST_F(ModelSetupTest, LargestRangeIsAskedForInFull) {
  host_.firstFrame = INT32_MAX - int32_t(LargestCapture() - 1);
  host_.lastFrame = INT32_MAX;
  host_.Refuse(kSelectorMemAlloc, 5);  // no need to hand out the memory

  EXPECT_EQ(host_.Send(kSelectorSetup), 5);

  ASSERT_EQ(host_.Selectors(), Calls("TINF UOBJ*3 MMAL"));
  EXPECT_EQ(host_.CallsOf(kSelectorMemAlloc)[0]->Sent<HostMemAllocRec>().byteCount,
            intptr_t(LargestCapture() * int64_t(sizeof(PathNode))));
}

}  // namespace
