// Path simplification.
//
// The rules are spelt out one sample at a time in SamePoint and CanRemoveNode
// below, and SimplifyPath's header says how they are applied. SimplifyPath
// applies exactly these rules, arranged for speed, in a sweep of its own
// (LaneSweep in path_sweep_lanes.h, where each arrangement stands next to the
// reason it is exact), and copies the survivors the cheaper of two ways
// (StoreSurvivors).
//
// tests/geometry/simplify_guard_test.cpp checks every variant of the sweep
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

// Copies the points of the list into the block, in list order, whichever way
// reads less: a dense list (at least 1 in 8 nodes kept) by reading the array
// in order, which the processor reads ahead of (a node is in the list when its
// predecessor links to it); a sparser one by following the links from each of
// the sweep's SweepChains starts, all walks in step, so that the hops of many
// walks (each a cache miss on a long array) wait for memory at once.
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
