// Bit-for-bit guard of the tuned path simplification.
//
// SimplifyPath is written for speed (each unit direction computed once, the
// passes over the array fused). This test keeps a second implementation,
// written straight from the rules and deliberately naive: every test
// normalises its own differences, the list is walked pass by pass. Both run
// on many seeded random paths of every kind (repeats, near repeats, straight
// runs, reversals, sharp and shallow turns, NaN and infinite samples) with
// tolerances negative, 0, 5, 180, NaN and random ones, and must leave the
// same stored points, bit for bit, and the same links in every node, dropped
// ones included.
//
// SimplifyPath's sweep is compiled in several variants (lanes of four, and
// of eight with AVX2 on x86), of which the plug-in picks the widest the
// processor runs. Every guard runs once for each variant this processor can
// execute, forced in turn; a variant it cannot execute is reported as
// skipped, with the reason.
//
// The number of paths defaults to a few thousand (well under a second
// natively); VESTREL_GUARD_PATHS in the environment sets another, for instance
// a smaller one under an emulator or a larger one for a soak run.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "geometry/path_simplify.h"
#include "geometry/path_sweep.h"
#include "host/info_record.h"
#include "tests/support/test_host.h"

namespace {

// ---------------------------------------------------------------------------
// The reference: the rules, spelt out with plain indices. -1 is "none".

struct RefDirection {
  float x, y, z;
};

// Nor(to - from): the single-precision difference, divided by the
// single-precision root of (x*x + y*y) + z*z; NaNs for a zero difference.
RefDirection RefUnit(const Fxyzu& from, const Fxyzu& to) {
  RefDirection d{to.x - from.x, to.y - from.y, to.z - from.z};
  float length = std::sqrt((d.x * d.x + d.y * d.y) + d.z * d.z);
  d.x /= length;
  d.y /= length;
  d.z /= length;
  return d;
}

float RefDot(const RefDirection& a, const RefDirection& b) {
  return (a.x * b.x + a.y * b.y) + a.z * b.z;
}

bool RefClose(float a, float b) { return std::fabs(static_cast<double>(a - b)) < 5e-05; }

bool RefSamePoint(const Fxyzu& a, const Fxyzu& b) {
  return RefClose(a.x, b.x) && RefClose(a.y, b.y) && RefClose(a.z, b.z);
}

float RefAngleLimit(float degrees) {
  if (degrees < 0.0f) return 2.0f;
  return static_cast<float>(std::cos(static_cast<double>(degrees) * 3.141592653589793 / 180.0));
}

struct RefList {
  std::vector<Fxyzu> points;
  std::vector<int> prev, next;

  void Unlink(int k) {
    next[prev[k]] = next[k];
    prev[next[k]] = prev[k];
  }
};

bool RefCanRemove(const RefList& list, int node, float c) {
  const std::vector<Fxyzu>& pt = list.points;
  int p = list.prev[node];
  int q = list.next[node];
  RefDirection a = RefUnit(pt[node], pt[q]);
  RefDirection b = RefUnit(pt[p], pt[node]);
  if (c > RefDot(a, b)) return false;
  RefDirection d = RefUnit(pt[p], pt[q]);
  int pp = list.prev[p];
  if (pp != -1) {
    RefDirection e = RefUnit(pt[pp], pt[p]);
    if (c > RefDot(d, e)) return false;
  }
  int qq = list.next[q];
  if (qq == -1) return true;
  RefDirection f = RefUnit(pt[q], pt[qq]);
  if (c > RefDot(d, f)) return false;
  return true;
}

// Runs the three steps on the list and returns the surviving points.
std::vector<Fxyzu> RefSimplify(RefList& list, float c) {
  int n = static_cast<int>(list.points.size());
  list.prev.assign(n, -1);
  list.next.assign(n, -1);
  for (int k = 0; k < n; ++k) {
    list.prev[k] = k - 1;
    list.next[k] = k + 1 < n ? k + 1 : -1;
  }
  for (int cur = list.next[0]; list.next[cur] != -1;) {
    int nxt = list.next[cur];
    if (RefSamePoint(list.points[cur], list.points[nxt])) list.Unlink(cur);
    cur = nxt;
  }
  for (int node = list.next[0]; list.next[node] != -1;) {
    int following = list.next[node];
    if (RefCanRemove(list, node, c)) list.Unlink(node);
    node = following;
  }
  std::vector<Fxyzu> kept;
  for (int k = 0; k != -1; k = list.next[k]) kept.push_back(list.points[k]);
  return kept;
}

// ---------------------------------------------------------------------------
// Random paths.

class PathMaker {
 public:
  explicit PathMaker(uint32_t seed) : random_(seed) {}

  int Below(int bound) { return static_cast<int>(random_() % static_cast<uint32_t>(bound)); }
  bool Percent(int chance) { return Below(100) < chance; }
  float Between(float low, float high) {
    return low + (high - low) * static_cast<float>(random_() >> 8) / 16777216.0f;
  }

  float Tolerance() {
    switch (Below(10)) {
      case 0: return -1.0f;
      case 1: return -0.0f;
      case 2: return 0.0f;
      case 3: return 180.0f;
      case 4: return std::numeric_limits<float>::quiet_NaN();
      case 5: return Between(0.0f, 180.0f);
      case 6: return Between(0.0f, 2.0f);
      default: return 5.0f;
    }
  }

  std::vector<Fxyzu> Path() {
    int n = 3 + (Percent(5) ? Below(2000) : Below(40));
    float scale = Percent(20) ? Between(1e-4f, 1e-2f) : Percent(10) ? Between(1e3f, 1e6f) : 1.0f;
    Fxyzu at{Coordinate(scale), Coordinate(scale), Coordinate(scale), 0.0f};
    RefDirection step = Step(scale);
    int firstFrame = Below(200) - 100;
    std::vector<Fxyzu> path;
    int specialsLeft = 0;
    Fxyzu special{};
    for (int k = 0; k < n; ++k) {
      at.u = static_cast<float>(firstFrame + k);
      if (specialsLeft == 0 && Percent(3)) {
        special = WithSpecialCoordinate(at);
        specialsLeft = 1 + Below(2);
      }
      if (specialsLeft > 0) {
        --specialsLeft;
        special.u = at.u;
        path.push_back(special);  // the walk itself goes on beside it
      } else {
        path.push_back(at);
      }
      Advance(at, step, scale);
    }
    return path;
  }

 private:
  float Coordinate(float scale) {
    return Percent(50) ? static_cast<float>(Below(9) - 4) : Between(-5, 5) * scale;
  }

  RefDirection Step(float scale) {
    if (Percent(50)) {  // small whole steps: exactly straight runs
      return {static_cast<float>(Below(5) - 2), static_cast<float>(Below(5) - 2),
              static_cast<float>(Below(3) - 1)};
    }
    return {Between(-1, 1) * scale, Between(-1, 1) * scale, Between(-1, 1) * scale};
  }

  // NaN, an infinity, the largest floats or a denormal in one coordinate.
  Fxyzu WithSpecialCoordinate(Fxyzu sample) {
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              3e38f,
                              -3e38f,
                              1e-40f};
    float value = specials[Below(6)];
    switch (Below(3)) {
      case 0: sample.x = value; break;
      case 1: sample.y = value; break;
      default: sample.z = value; break;
    }
    return sample;
  }

  void Advance(Fxyzu& at, RefDirection& step, float scale) {
    int action = Below(100);
    if (action < 15) return;  // an exact repeat
    if (action < 25) {        // within, at or just beyond the repeat distance
      const float nudges[] = {1e-5f, 4.9e-5f, 5e-5f, 5.1e-5f, 1e-4f};
      float nudge = nudges[Below(5)] * (Percent(50) ? 1.0f : -1.0f);
      switch (Below(3)) {
        case 0: at.x += nudge; break;
        case 1: at.y += nudge; break;
        default: at.z += nudge; break;
      }
      return;
    }
    if (action < 30) {
      step = {-step.x, -step.y, -step.z};  // reversal
    } else if (action < 40) {
      step = Step(scale);  // a sharp turn
    } else if (action < 50) {
      step.x += Between(-0.05f, 0.05f) * scale;  // a shallow turn
      step.y += Between(-0.05f, 0.05f) * scale;
    }
    at.x += step.x;
    at.y += step.y;
    at.z += step.z;
  }

  std::mt19937 random_;
};

// ---------------------------------------------------------------------------
// Running the plug-in's SimplifyPath inside an entry call of the test host.

struct PluginRun {
  std::vector<PathNode> nodes;
  float c = 0;
  bool stored = false;
};

int LinkIndex(const PathNode* link, const std::vector<PathNode>& nodes) {
  return link == nullptr ? -1 : static_cast<int>(link - nodes.data());
}

std::string Describe(const std::vector<Fxyzu>& path, float tolerance) {
  std::string text =
      "tolerance " + std::to_string(tolerance) + ", " + std::to_string(path.size()) + " samples:";
  for (size_t k = 0; k < path.size() && k < 40; ++k) {
    char sample[96];
    snprintf(sample, sizeof sample, " (%.9g %.9g %.9g)", path[k].x, path[k].y, path[k].z);
    text += sample;
  }
  return text;
}

int GuardPathCount() {
  const char* setting = getenv("VESTREL_GUARD_PATHS");
  int count = setting != nullptr ? atoi(setting) : 0;
  return count > 0 ? count : 5000;
}

// Compares one path; returns false (after reporting) on the first difference.
bool MatchesReference(const std::vector<Fxyzu>& path, float tolerance) {
  RefList list;
  list.points = path;
  float c = RefAngleLimit(tolerance);
  std::vector<Fxyzu> expected = RefSimplify(list, c);

  PluginRun run;
  run.c = c;
  run.nodes.resize(path.size());
  for (size_t k = 0; k < path.size(); ++k) run.nodes[k].point = path[k];
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(tolerance, 0, 0, {}));
  int32_t result = host.RunInsideEntryCall(kSelectorSetup, [&run] {
    run.stored = SimplifyPath(run.nodes.data(), static_cast<int>(run.nodes.size()), run.c);
  });

  std::string what = Describe(path, tolerance);
  EXPECT_EQ(result, 0) << what;
  EXPECT_TRUE(run.stored) << what;
  EXPECT_TRUE(host.violations.empty()) << what;
  const CControlData* block = host.Block();
  if (block == nullptr || block->pointCount != static_cast<int32_t>(expected.size())) {
    ADD_FAILURE() << "stored " << (block ? block->pointCount : -1) << " points, the rules keep "
                  << expected.size() << "; " << what;
    return false;
  }
  if (memcmp(reinterpret_cast<const uint8_t*>(block) + kControlDataHeaderSize, expected.data(),
             expected.size() * sizeof(Fxyzu)) != 0) {
    ADD_FAILURE() << "the stored points differ in their bits; " << what;
    return false;
  }
  for (size_t k = 0; k < path.size(); ++k) {
    if (LinkIndex(run.nodes[k].prev, run.nodes) != list.prev[k] ||
        LinkIndex(run.nodes[k].next, run.nodes) != list.next[k]) {
      ADD_FAILURE() << "node " << k << " links to " << LinkIndex(run.nodes[k].prev, run.nodes)
                    << " and " << LinkIndex(run.nodes[k].next, run.nodes) << ", the rules leave "
                    << list.prev[k] << " and " << list.next[k] << "; " << what;
      return false;
    }
  }
  return true;
}

TEST(SimplifyGuard, AngleLimitFollowsTheRule) {
  const float tolerances[] = {-1.0f,
                              -0.0f,
                              0.0f,
                              1e-3f,
                              5.0f,
                              45.0f,
                              90.0f,
                              179.99f,
                              180.0f,
                              360.0f,
                              std::numeric_limits<float>::quiet_NaN()};
  for (float tolerance : tolerances) {
    float expected = RefAngleLimit(tolerance);
    float actual = AngleLimit(tolerance);
    EXPECT_EQ(memcmp(&expected, &actual, sizeof expected), 0) << "tolerance " << tolerance;
  }
}

// The plug-in asks the processor itself (cpuid, xgetbv) whether it runs
// AVX2; the compiler's own test, which the plug-in cannot link against, must
// agree, and the variant chosen is the widest that runs.
TEST(SimplifyGuard, ChoosesTheWidestVariantTheProcessorRuns) {
  for (SweepVariant variant : kSweepVariants) {
    const char* why = nullptr;
    bool runs = SweepVariantRuns(variant, &why);
    printf("sweep variant %s: %s%s\n", SweepVariantName(variant),
           runs ? "runs here" : "skipped: ", runs ? "" : why);
  }
  EXPECT_TRUE(SweepVariantRuns(SweepVariant::kFourLanes, nullptr));
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  bool avx2 = __builtin_cpu_supports("avx2");
  EXPECT_EQ(SweepVariantRuns(SweepVariant::kEightLanes, nullptr), avx2);
  EXPECT_EQ(ChosenSweepVariant(), avx2 ? SweepVariant::kEightLanes : SweepVariant::kFourLanes);
#else
  EXPECT_FALSE(SweepVariantRuns(SweepVariant::kEightLanes, nullptr));
  EXPECT_EQ(ChosenSweepVariant(), SweepVariant::kFourLanes);
#endif
}

// Each guard below runs with one sweep variant forced.
class SimplifyGuardVariant : public ::testing::TestWithParam<SweepVariant> {
 protected:
  void SetUp() override {
    const char* why = nullptr;
    SweepVariant variant = GetParam();
    if (!SweepVariantRuns(variant, &why)) GTEST_SKIP() << SweepVariantName(variant) << ": " << why;
    UseSweepVariant(&variant);
  }
  void TearDown() override { UseSweepVariant(nullptr); }
};

INSTANTIATE_TEST_SUITE_P(Sweep, SimplifyGuardVariant, ::testing::ValuesIn(kSweepVariants),
                         [](const ::testing::TestParamInfo<SweepVariant>& info) {
                           return info.param == SweepVariant::kFourLanes ? "four_lanes"
                                                                         : "eight_lanes_avx2";
                         });

// The tuned repeat test compares float differences with 5e-05f instead of
// widening them to double and comparing with 5e-05; that is the same test
// only because 5e-05f is the largest float below 5e-05.
TEST_P(SimplifyGuardVariant, RepeatDistanceBoundaryMatchesTheRule) {
  const float limit = 5e-05f;
  const float above = std::nextafter(limit, 1.0f);
  EXPECT_LT(static_cast<double>(limit), 5e-05);
  EXPECT_GE(static_cast<double>(above), 5e-05);
  for (float step : {limit, above, std::nextafter(limit, 0.0f), -limit, -above}) {
    for (float base : {0.0f, 1.0f, -3.5f}) {
      // The middle sample sits `step` away in one coordinate from the next.
      for (int axis = 0; axis < 3; ++axis) {
        Fxyzu far{base, base, base, 0.0f};
        Fxyzu near = far;
        (&near.x)[axis] = base + step;
        std::vector<Fxyzu> path = {{base - 1.0f, base + 2.0f, base, 0.0f},
                                   near,
                                   far,
                                   {base + 3.0f, base, base - 1.0f, 3.0f}};
        for (size_t k = 0; k < path.size(); ++k) path[k].u = static_cast<float>(k);
        ASSERT_TRUE(MatchesReference(path, -1.0f)) << "step " << step << " on axis " << axis;
      }
    }
  }
}

TEST_P(SimplifyGuardVariant, RandomPathsStoreWhatTheRulesKeep) {
  int paths = GuardPathCount();
  for (int seed = 1; seed <= paths; ++seed) {
    PathMaker maker(static_cast<uint32_t>(seed));
    float tolerance = maker.Tolerance();
    std::vector<Fxyzu> path = maker.Path();
    if (!MatchesReference(path, tolerance)) {
      FAIL() << "first difference with seed " << seed;
    }
  }
}

// Long paths of one kind each, where a tuned pass could go wrong at its
// block or batch boundaries. `corners` runs straight for 1, 2, ... 11 samples
// in turn between right-angle corners, so that kept samples fall on every lane
// of a group, several to a group, each followed by samples that go.
TEST_P(SimplifyGuardVariant, LongRegularPathsStoreWhatTheRulesKeep) {
  for (int n : {3, 4, 5, 7, 8, 9, 15, 16, 17, 63, 64, 65, 255, 256, 257, 1023, 1024, 1025, 5000}) {
    std::vector<Fxyzu> helix, still, line, zigzag, corners;
    Fxyzu corner{0.0f, 0.0f, 0.0f, 0.0f};
    int run = 1, left = 1, heading = 0;
    for (int k = 0; k < n; ++k) {
      float t = 0.01f * static_cast<float>(k);
      float u = static_cast<float>(k);
      helix.push_back({10.0f * std::cos(t), 10.0f * std::sin(t), 0.1f * t, u});
      still.push_back({1.0f, 2.0f, 3.0f, u});
      line.push_back({u, 2.0f * u, -u, u});
      zigzag.push_back({u, static_cast<float>(k % 2), 0.0f, u});
      corner.u = u;
      corners.push_back(corner);
      if (--left == 0) {
        heading = (heading + 1) % 4;
        run = run % 11 + 1;
        left = run;
      }
      (heading % 2 == 0 ? corner.x : corner.y) += heading < 2 ? 1.0f : -0.5f;
    }
    for (float tolerance : {5.0f, 0.0f, -1.0f, 180.0f}) {
      ASSERT_TRUE(MatchesReference(helix, tolerance)) << "helix of " << n;
      ASSERT_TRUE(MatchesReference(still, tolerance)) << "still of " << n;
      ASSERT_TRUE(MatchesReference(line, tolerance)) << "line of " << n;
      ASSERT_TRUE(MatchesReference(zigzag, tolerance)) << "zigzag of " << n;
      ASSERT_TRUE(MatchesReference(corners, tolerance)) << "corners of " << n;
    }
  }
}

// Long smooth paths that turn by a random angle near the tolerance at every
// sample, so that runs of dropped samples end at every lane of a group, and
// the turn at which a sample stays is often within a rounding of the limit: a
// lane that tests against the wrong direction or anchor keeps or drops a
// sample the rules do not.
TEST_P(SimplifyGuardVariant, WanderingPathsStoreWhatTheRulesKeep) {
  int paths = GuardPathCount() / 20 + 1;
  for (int seed = 1; seed <= paths; ++seed) {
    PathMaker maker(static_cast<uint32_t>(seed) * 7919u);
    float tolerance = maker.Between(0.5f, 10.0f);
    float radians = tolerance * 3.14159265f / 180.0f;
    std::vector<Fxyzu> path;
    float x = 0, y = 0, z = 0, heading = 0, climb = 0;
    int n = 100 + maker.Below(400);
    for (int k = 0; k < n; ++k) {
      path.push_back({x, y, z, static_cast<float>(k)});
      heading += maker.Between(-0.6f, 0.6f) * radians;
      climb += maker.Between(-0.3f, 0.3f) * radians;
      x += std::cos(heading) * std::cos(climb);
      y += std::sin(heading) * std::cos(climb);
      z += std::sin(climb);
    }
    ASSERT_TRUE(MatchesReference(path, tolerance)) << "seed " << seed;
  }
}

}  // namespace
