#include "geometry/path_simplify.h"

#include <cmath>

#include "geometry/vector_math.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kSamePointDistance = 5e-05;
constexpr float kKeepEveryAngle = 2.0f;  // above every dot product of unit vectors

Fxyz PositionOf(const PathNode& node) {
  return Fxyz{node.point.x, node.point.y, node.point.z};
}

// The unit direction from one sample to another; NaNs when they coincide.
Fxyz Direction(const PathNode& from, const PathNode& to) {
  Fxyz direction = PositionOf(to) - PositionOf(from);
  return direction.Nor();
}

// Strictly below the limit: the turn is larger than the tolerance. False when
// either side is NaN.
bool TurnsTooMuch(float c, const Fxyz& a, const Fxyz& b) {
  return c > Dot(a, b);
}

bool IsClose(float a, float b) {
  return std::fabs(static_cast<double>(a - b)) < kSamePointDistance;
}

void Unlink(PathNode& node) {
  node.prev->next = node.next;
  node.next->prev = node.prev;
}

void LinkInArrayOrder(PathNode* nodes, int n) {
  for (int k = 0; k < n; ++k) {
    nodes[k].prev = k > 0 ? &nodes[k - 1] : nullptr;
    nodes[k].next = k < n - 1 ? &nodes[k + 1] : nullptr;
  }
}

// Drops every node k, 1 <= k <= n - 2, that is the same point as node k + 1.
void DropRepeats(PathNode* head) {
  for (PathNode* cur = head->next; cur != nullptr && cur->next != nullptr;) {
    PathNode* following = cur->next;
    if (SamePoint(*cur, *following)) Unlink(*cur);
    cur = following;
  }
}

void DropStraightRuns(PathNode* head, float c) {
  for (PathNode* node = head->next; node != nullptr && node->next != nullptr;) {
    PathNode* following = node->next;
    if (CanRemoveNode(*node, c)) Unlink(*node);
    node = following;
  }
}

int CountList(const PathNode* head) {
  int count = 0;
  for (const PathNode* node = head; node != nullptr; node = node->next) ++count;
  return count;
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

  // The path itself turns at the sample.
  if (TurnsTooMuch(c, Direction(node, after), Direction(before, node))) return false;

  // The chord that would replace the sample turns too much against the path
  // before the predecessor or after the successor.
  Fxyz chord = Direction(before, after);
  if (before.prev != nullptr && TurnsTooMuch(c, chord, Direction(*before.prev, before))) return false;
  if (after.next == nullptr) return true;
  return !TurnsTooMuch(c, chord, Direction(after, *after.next));
}

bool SimplifyPath(PathNode* nodes, int n, float c) {
  if (nodes == nullptr || n < 1) return false;
  PathNode* head = &nodes[0];
  LinkInArrayOrder(nodes, n);
  DropRepeats(head);
  DropStraightRuns(head, c);

  // The resize may move the block: the points go through the address it
  // returns, never through one taken before.
  CControlData* block = GetControlData(CountList(head));
  if (block == nullptr) return false;
  int32_t slot = 0;
  for (const PathNode* node = head; node != nullptr; node = node->next) {
    *block->Point(slot++) = node->point;
  }
  return true;
}
