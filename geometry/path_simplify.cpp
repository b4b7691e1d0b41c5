// Path simplification.
//
// The rules are spelt out one sample at a time in SamePoint and CanRemoveNode
// below, and SimplifyPath's header says how they are applied. SimplifyPath
// applies exactly these rules, but arranged for speed, in a sweep of its own
// (path_sweep_lanes.inc, where each arrangement stands next to the reason it
// is exact):
//
//   - One sweep instead of pass after pass. The repeat pass walks the array,
//     sets the links and collects its survivors in a small window; the angle
//     pass follows it through the window a few survivors behind, while their
//     nodes are still in the cache. Both passes still see the list exactly as
//     the rules do: the angle pass never touches a node before the repeat
//     pass is done with it and with its successor.
//   - Every unit direction is computed once. CanRemoveNode normalises up to
//     five differences per sample; the sweep keeps the direction from each
//     survivor to the next (the test's node -> successor is the next test's
//     predecessor -> node when the sample stays) and the chord from the last
//     kept sample (the predecessor -> successor chord of a dropped sample is
//     the next test's predecessor -> node).
//   - Several samples at a time: four, or eight where the processor runs AVX2
//     (path_sweep.cpp picks the variant once per process). The directions and
//     the three tests of consecutive samples are computed in lanes, with the
//     same single-precision operations in the same order as Fxyz::Nor and
//     Dot, so every lane holds the very bits the rules would compute. Each
//     lane of a test assumes the samples before it in the group are dropped
//     (they share the anchor, the last kept sample); where one stays, the
//     lanes after it are tested again against it.
//   - Each link is written once, with the value the rules leave in it.
//   - The survivors are copied the cheaper of two ways (StoreSurvivors).
//
// tests/performance/simplify_guard_test.cpp checks every variant of the sweep
// against a plain implementation of the rules, bit for bit, on thousands of
// random paths.
#include "geometry/path_simplify.h"

#include <cmath>

#include "geometry/path_sweep.h"
#include "geometry/vector_math.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kSamePointDistance = 5e-05;
constexpr float kKeepEveryAngle = 2.0f;  // above every dot product of unit vectors

// ---------------------------------------------------------------------------
// The rules, one sample at a time.

Fxyz PositionOf(const PathNode& node) { return Fxyz{node.point.x, node.point.y, node.point.z}; }

// The unit direction from one sample to another; NaNs when they coincide.
Fxyz Direction(const PathNode& from, const PathNode& to) {
  Fxyz direction = PositionOf(to) - PositionOf(from);
  return direction.Nor();
}

// Strictly below the limit: the turn is larger than the tolerance. False when
// either side is NaN.
bool TurnsTooMuch(float c, const Fxyz& a, const Fxyz& b) { return c > Dot(a, b); }

bool IsClose(float a, float b) {
  return std::fabs(static_cast<double>(a - b)) < kSamePointDistance;
}

}  // namespace

float AngleLimit(float angleToleranceDegrees) {
  if (angleToleranceDegrees < 0.0f) return kKeepEveryAngle;
  double radians = static_cast<double>(angleToleranceDegrees) * kPi / 180.0;
  return static_cast<float>(std::cos(radians));
}

bool SamePoint(const PathNode& a, const PathNode& b) {
  return IsClose(a.point.x, b.point.x) && IsClose(a.point.y, b.point.y) &&
         IsClose(a.point.z, b.point.z);
}

bool CanRemoveNode(const PathNode& node, float c) {
  const PathNode& before = *node.prev;
  const PathNode& after = *node.next;

  // Test 1: the path itself turns at the sample.
  if (TurnsTooMuch(c, Direction(node, after), Direction(before, node))) return false;

  // Tests 2 and 3: the chord that would replace the sample turns too much
  // against the path before the predecessor or after the successor.
  Fxyz chord = Direction(before, after);
  if (before.prev != nullptr && TurnsTooMuch(c, chord, Direction(*before.prev, before)))
    return false;
  if (after.next == nullptr) return true;
  return !TurnsTooMuch(c, chord, Direction(after, *after.next));
}

namespace {

// Copies the points of the list into the block, in list order, in one of two
// ways, whichever reads less:
//
//   - A dense list (at least 1 in 8 nodes kept) is copied by reading the array
//     in order, which the processor reads ahead of: a node is in the list when
//     its predecessor links to it.
//   - A sparser one is copied by following the links, so that only the kept
//     nodes are read. A single walk would wait for every hop (on a long array
//     each is a cache miss of about 100 ns), so the sweep has left a few kept
//     nodes spread over the array, each with its place in the block
//     (SweepChains), and the copy follows the links from each of them to the
//     next, all walks in step: the processor then fetches the nodes of many
//     walks at once.
void StoreSurvivors(const PathNode* nodes, int n, int count, const SweepChains& chains,
                    CControlData* block) {
  if (count >= n / 8) {
    Fxyzu* slot = block->Point(0);
    *slot++ = nodes[0].point;
    for (int k = 1; k < n; ++k) {
      if (nodes[k].prev->next == &nodes[k]) *slot++ = nodes[k].point;
    }
    return;
  }
  const PathNode* at[SweepChains::kCapacity];
  const PathNode* end[SweepChains::kCapacity];
  Fxyzu* to[SweepChains::kCapacity];
  int walks = chains.count;
  for (int k = 0; k < walks; ++k) {
    at[k] = chains.start[k];
    end[k] = k + 1 < walks ? chains.start[k + 1] : nullptr;
    to[k] = block->Point(chains.slot[k]);
  }
  while (walks > 0) {
    for (int k = 0; k < walks;) {
      if (at[k] == end[k]) {  // this walk is done: the last one takes its place
        --walks;
        at[k] = at[walks];
        end[k] = end[walks];
        to[k] = to[walks];
        continue;
      }
      *to[k]++ = at[k]->point;
      at[k] = at[k]->next;
      ++k;
    }
  }
}

}  // namespace

bool SimplifyPath(PathNode* nodes, int n, float c) {
  if (nodes == nullptr || n < 1) return false;
  int count = n;
  SweepChains chains;
  if (n <= 2) {  // nothing to test: both samples stay
    nodes[0].prev = nullptr;
    nodes[0].next = n == 2 ? &nodes[1] : nullptr;
    if (n == 2) nodes[1] = PathNode{nodes[1].point, nullptr, &nodes[0]};
    chains.start[0] = &nodes[0];
    chains.slot[0] = 0;
    chains.count = 1;
  } else {
    count = SweepPath(nodes, n, c, &chains);
  }

  // The resize may move the block: the points go through the address it
  // returns, never through one taken before.
  CControlData* block = GetControlData(count);
  if (block == nullptr) return false;
  StoreSurvivors(nodes, n, count, chains, block);
  return true;
}
