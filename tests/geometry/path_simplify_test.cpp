// Simplification of a sampled path: which samples survive, and how the
// survivors reach the parameter block.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "controldata/alloc_record.h"
#include "geometry/path_simplify.h"
#include "geometry/vector_math.h"
#include "host/info_record.h"
#include "tests/support/test_host.h"

namespace {

uint32_t Bits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

struct PendingSimplify {
  std::vector<PathNode> nodes;
  float c = 0;
  bool stored = false;
};

std::vector<PathNode> Samples(const std::vector<Fxyz>& positions) {
  std::vector<PathNode> nodes(positions.size());
  for (size_t i = 0; i < positions.size(); ++i) {
    nodes[i].point = Fxyzu{positions[i].x, positions[i].y, positions[i].z, float(10 + i)};
    nodes[i].next = nodes[i].prev = nullptr;
  }
  return nodes;
}

// Runs SimplifyPath on a host whose instance has a valid block with one old
// point; returns the result code.
int32_t RunSimplify(TestHost& host, PendingSimplify& run) {
  host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {{9, 9, 9, 9}}));
  // SimplifyPath talks to the host through the current call's info record,
  // so it runs inside an entry call, as 'SETM' runs it.
  return host.RunInsideEntryCall(kSelectorSetup, [&run] {
    run.stored = SimplifyPath(run.nodes.data(), static_cast<int>(run.nodes.size()), run.c);
  });
}

std::vector<Fxyzu> StoredPoints(const TestHost& host) {
  std::vector<Fxyzu> points;
  for (int32_t i = 0; i < host.Block()->pointCount; ++i) points.push_back(*host.Block()->Point(i));
  return points;
}

TEST(AngleLimit, FollowsTheToleranceInDegrees) {
  EXPECT_EQ(Bits(AngleLimit(5.0f)), 0x3F7F069Eu);  // cos 5 degrees, 0.99619472
  EXPECT_EQ(AngleLimit(0.0f), 1.0f);
  EXPECT_EQ(AngleLimit(180.0f), -1.0f);
  EXPECT_EQ(AngleLimit(-0.5f), 2.0f);
  EXPECT_EQ(AngleLimit(-INFINITY), 2.0f);
  EXPECT_TRUE(std::isnan(AngleLimit(NAN)));
}

struct SimplifyCase {
  const char* name;
  float tolerance;
  std::vector<Fxyz> samples;
  std::vector<int> kept;  // indices of the samples that are stored
};
void PrintTo(const SimplifyCase& c, std::ostream* out) { *out << c.name; }

class Simplify : public ::testing::TestWithParam<SimplifyCase> {};

TEST_P(Simplify, StoresTheSurvivorsInFrameOrder) {
  const SimplifyCase& c = GetParam();
  TestHost host;
  PendingSimplify run;
  run.nodes = Samples(c.samples);
  run.c = AngleLimit(c.tolerance);
  const std::vector<PathNode> original = run.nodes;

  EXPECT_EQ(RunSimplify(host, run), 0);
  EXPECT_TRUE(run.stored);

  ASSERT_EQ(host.Selectors(), std::vector<uint32_t>{kSelectorAllocate});
  EXPECT_EQ(host.calls[0].Sent<HostAllocDataRec>().blockSize, int32_t(52 + 16 * c.kept.size()));
  std::vector<Fxyzu> stored = StoredPoints(host);
  ASSERT_EQ(stored.size(), c.kept.size());
  for (size_t i = 0; i < c.kept.size(); ++i) {
    EXPECT_EQ(memcmp(&stored[i], &original[c.kept[i]].point, sizeof(Fxyzu)), 0)
        << "stored point " << i << " is not sample " << c.kept[i];
  }
  EXPECT_EQ(host.Block()->angleTolerance, 5.0f) << "the parameters survive the resize";
  EXPECT_TRUE(host.violations.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Simplify,
    ::testing::Values(
        SimplifyCase{"straight_line_keeps_the_ends",
                     5,
                     {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}},
                     {0, 4}},
        SimplifyCase{"right_angle_keeps_the_corner_and_its_neighbours",
                     5,
                     {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {2, 2, 0}},
                     {0, 1, 2, 3, 4}},
        SimplifyCase{"nine_samples_keep_the_run_up_to_the_corner",
                     5,
                     {{0, 0, 0},
                      {1, 0, 0},
                      {2, 0, 0},
                      {3, 0, 0},
                      {4, 0, 0},
                      {4, 1, 0},
                      {4, 2, 0},
                      {4, 3, 0},
                      {4, 4, 0}},
                     {0, 3, 4, 5, 8}},
        SimplifyCase{"three_equal_samples_keep_two", 5, {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}, {0, 2}},
        SimplifyCase{"slow_drift_drops_every_inner_sample",
                     5,
                     {{0, 0, 0},
                      {0.00004f, 0, 0},
                      {0.00008f, 0, 0},
                      {0.00012f, 0, 0},
                      {0.00016f, 0, 0},
                      {0.0002f, 0.00004f, 0}},
                     {0, 5}},
        SimplifyCase{"repeat_of_the_first_sample_falls_to_the_angle_pass",
                     5,
                     {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {2, 0, 0}},
                     {0, 3}},
        SimplifyCase{"negative_tolerance_keeps_a_straight_line",
                     -1,
                     {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}},
                     {0, 1, 2, 3}},
        SimplifyCase{"negative_tolerance_still_drops_repeats",
                     -1,
                     {{0, 0, 0}, {1, 0, 0}, {1.00004f, 0, 0}, {2, 0, 0}},
                     {0, 2, 3}},
        SimplifyCase{"difference_of_0_0001_is_no_repeat",
                     -1,
                     {{0, 0, 0}, {1, 0, 0}, {1.0001f, 0, 0}, {2, 0, 0}},
                     {0, 1, 2, 3}},
        SimplifyCase{"zero_tolerance_drops_an_exactly_straight_run",
                     0,
                     {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}},
                     {0, 3}},
        SimplifyCase{"tolerance_180_drops_every_inner_sample",
                     180,
                     {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 2, 0}},
                     {0, 4}},
        SimplifyCase{"tolerance_5_keeps_the_same_zigzag",
                     5,
                     {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 2, 0}},
                     {0, 1, 2, 3, 4}},
        SimplifyCase{"out_and_back_keeps_the_reversal",
                     5,
                     {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}, {-1, 0, 0}},
                     {0, 1, 2, 3}},
        SimplifyCase{"nan_tolerance_drops_every_inner_sample",
                     NAN,
                     {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {2, 2, 0}},
                     {0, 4}},
        SimplifyCase{"nan_sample_is_never_a_repeat_and_never_kept_by_angle",
                     5,
                     {{0, 0, 0}, {NAN, 0, 0}, {1, 0, 0}, {2, 0, 0}},
                     {0, 3}}),
    [](const ::testing::TestParamInfo<SimplifyCase>& info) { return info.param.name; });

TEST(Simplify, DroppedNodesKeepTheirOwnLinks) {
  TestHost host;
  PendingSimplify run;
  run.nodes = Samples({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
  run.c = AngleLimit(5);
  ASSERT_EQ(RunSimplify(host, run), 0);
  PathNode* n = run.nodes.data();
  EXPECT_EQ(n[0].next, &n[3]);
  EXPECT_EQ(n[3].prev, &n[0]);
  EXPECT_EQ(n[1].prev, &n[0]);  // unlinked with the list as it stood then
  EXPECT_EQ(n[1].next, &n[2]);
  EXPECT_EQ(n[2].prev, &n[0]);  // its predecessor was already node 0
  EXPECT_EQ(n[2].next, &n[3]);
}

TEST(Simplify, RefusedResizeStoresNothingAndLeavesTheError) {
  TestHost host;
  host.Refuse(kSelectorAllocate, 42);
  PendingSimplify run;
  run.nodes = Samples({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
  run.c = AngleLimit(5);

  EXPECT_EQ(RunSimplify(host, run), 42);
  EXPECT_FALSE(run.stored);
  ASSERT_EQ(host.Block()->pointCount, 1);
  EXPECT_EQ(host.Block()->Point(0)->x, 9.0f) << "the old point stays";
}

TEST(Simplify, BlockGrantedTooSmallStoresNothingWithResultZero) {
  TestHost host;
  host.allocShortfall = 16;
  PendingSimplify run;
  run.nodes = Samples({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
  run.c = AngleLimit(5);

  EXPECT_EQ(RunSimplify(host, run), 0);
  EXPECT_FALSE(run.stored) << "a block too small for the points must not be written";
  EXPECT_EQ(host.BlockSize(), 52 + 16 * 3 - 16);
}

}  // namespace
