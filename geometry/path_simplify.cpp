// Path simplification.
//
// The rules are spelt out one sample at a time in SamePoint and CanRemoveNode
// below. SimplifyPath applies exactly these rules, but arranged for speed:
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
//   - Four samples at a time. The directions and the three tests of four
//     consecutive samples are computed in four lanes, with the same
//     single-precision operations in the same order as Fxyz::Nor and Dot, so
//     every lane holds the very bits the rules would compute. Each lane of a
//     test assumes the samples before it in the four are dropped (they share
//     the anchor, the last kept sample); the first lane that keeps its sample
//     ends the group and the next group starts after it.
//
// tests/performance/simplify_guard_test.cpp checks the sweep against a plain
// implementation of the rules, bit for bit, on thousands of random paths.
#include "geometry/path_simplify.h"

#include <string.h>

#include <cmath>

#include "geometry/vector_math.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define VESTREL_LANES_SSE2 1
#endif

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

// ---------------------------------------------------------------------------
// Four lanes of floats, one sample each. Built on the compiler's vector
// types: +, -, * and / work lane by lane with exactly the rounding of the
// scalar operation, and the comparisons give all ones or zero per lane. SSE2
// supplies the square root, the lane mask and a shuffle; elsewhere plain
// loops do (std::sqrt of a float is the correctly rounded single-precision
// root, as sqrtps is).

constexpr int kLanes = 4;
typedef float Lanes __attribute__((vector_size(16)));
typedef int32_t LaneFlags __attribute__((vector_size(16)));

Lanes SquareRoot(Lanes v) {
#if VESTREL_LANES_SSE2
  return _mm_sqrt_ps(v);
#else
  for (int lane = 0; lane < kLanes; ++lane) v[lane] = std::sqrt(v[lane]);
  return v;
#endif
}

// Bit l set when lane l of the comparison holds.
int LaneBits(LaneFlags flags) {
#if VESTREL_LANES_SSE2
  __m128 lanes;
  memcpy(&lanes, &flags, sizeof lanes);
  return _mm_movemask_ps(lanes);
#else
  int bits = 0;
  for (int lane = 0; lane < kLanes; ++lane) bits |= (flags[lane] != 0) << lane;
  return bits;
#endif
}

Lanes LoadLanes(const float* from) {
  Lanes v;
  memcpy(&v, from, sizeof v);
  return v;
}

void StoreLanes(float* to, Lanes v) { memcpy(to, &v, sizeof v); }

Lanes Broadcast(float value) { return Lanes{value, value, value, value}; }

Lanes Magnitude(Lanes v) {
  LaneFlags bits;
  memcpy(&bits, &v, sizeof bits);
  bits &= 0x7FFFFFFF;  // clears the sign, as fabs does
  memcpy(&v, &bits, sizeof v);
  return v;
}

// (first, v[0], v[1], v[2]).
Lanes ShiftIn(float first, Lanes v) {
#if VESTREL_LANES_SSE2
  __m128 shifted = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 1, 0, 0));
  return _mm_move_ss(shifted, _mm_set_ss(first));
#else
  return Lanes{first, v[0], v[1], v[2]};
#endif
}

// Unit vectors in lanes: x, y and z of four directions.
struct Directions {
  Lanes x, y, z;

  Fxyz Lane(int lane) const { return Fxyz{x[lane], y[lane], z[lane]}; }
};

// Fxyz::Nor of four differences: divided by the root of (x*x + y*y) + z*z.
Directions Normalised(Lanes x, Lanes y, Lanes z) {
  Lanes length = SquareRoot((x * x + y * y) + z * z);
  return Directions{x / length, y / length, z / length};
}

// Dot of four pairs: (a.x*b.x + a.y*b.y) + a.z*b.z.
Lanes DotLanes(const Directions& a, const Directions& b) {
  return (a.x * b.x + a.y * b.y) + a.z * b.z;
}

// ---------------------------------------------------------------------------
// The window: survivors of the repeat pass that the angle pass has not yet
// passed, in list order, with their positions and the unit direction from
// each to the next, laid out lane by lane.

struct Window {
  static constexpr int kCapacity = 256;
  static constexpr int kSlack = 2 * kLanes;  // lanes may read a little past the last entry

  PathNode* node[kCapacity + kSlack];
  float x[kCapacity + kSlack];
  float y[kCapacity + kSlack];
  float z[kCapacity + kSlack];
  float outX[kCapacity + kSlack];  // Nor(entry j + 1 - entry j), for j < directions
  float outY[kCapacity + kSlack];
  float outZ[kCapacity + kSlack];
  int count;
  int directions;
  bool complete;  // the array's last node is the last entry

  void Add(PathNode* survivor, float px, float py, float pz) {
    node[count] = survivor;
    x[count] = px;
    y[count] = py;
    z[count] = pz;
    ++count;
  }

  Fxyz Out(int entry) const { return Fxyz{outX[entry], outY[entry], outZ[entry]}; }

  Directions OutLanes(int entry) const {
    return Directions{LoadLanes(outX + entry), LoadLanes(outY + entry), LoadLanes(outZ + entry)};
  }

  // Forgets the entries before `first`, to make room.
  void DropFront(int first) {
    count -= first;
    directions -= first;
    memmove(node, node + first, count * sizeof node[0]);
    MoveDown(x, first, count);
    MoveDown(y, first, count);
    MoveDown(z, first, count);
    MoveDown(outX, first, directions);
    MoveDown(outY, first, directions);
    MoveDown(outZ, first, directions);
  }

  static void MoveDown(float* lane, int first, int count) {
    memmove(lane, lane + first, count * sizeof(float));
  }

  // The directions between the entries added since the last call, four at a
  // time (lanes past the last entry compute values that are never used).
  void ComputeDirections() {
    for (int j = directions; j < count - 1; j += kLanes) {
      Directions out = Normalised(LoadLanes(x + j + 1) - LoadLanes(x + j),
                                  LoadLanes(y + j + 1) - LoadLanes(y + j),
                                  LoadLanes(z + j + 1) - LoadLanes(z + j));
      StoreLanes(outX + j, out.x);
      StoreLanes(outY + j, out.y);
      StoreLanes(outZ + j, out.z);
    }
    directions = count - 1;
  }
};

// ---------------------------------------------------------------------------
// The repeat pass: links the array in order and drops every node k,
// 1 <= k <= n - 2, that is the same point as node k + 1, leaving each node's
// links as linking and unlinking would.

// SamePoint compares each |a - b|, widened to a double, with the double
// 5e-05. For a float d that holds exactly when |d| <= the largest float below
// 5e-05, which is what 5e-05f is (tests/performance checks both neighbours).
constexpr float kSamePointLimit = 5e-05f;
static_assert(static_cast<double>(kSamePointLimit) < kSamePointDistance,
              "the largest float below 5e-05");

class RepeatPass {
 public:
  RepeatPass(PathNode* nodes, int n) : nodes_(nodes), n_(n), next_(1), lastSurvivor_(&nodes[0]) {}

  int survivors() const { return survivors_; }

  // Carries the pass on until the window is full or the array ends; node 0
  // is already in the window.
  void Fill(Window& window) {
    const int last = n_ - 1;
    int end = last;
    if (end - next_ > Window::kCapacity - window.count)
      end = next_ + (Window::kCapacity - window.count);
    const int before = window.count;
    const Lanes limit = Broadcast(kSamePointLimit);
    Lanes position = LoadLanes(&nodes_[next_].point.x);  // x, y, z, u
    int k = next_;
    for (; k < end; ++k) {
      PathNode& node = nodes_[k];
      Lanes following = LoadLanes(&nodes_[k + 1].point.x);
      node.next = &node + 1;
      node.prev = lastSurvivor_;
      bool repeats = (LaneBits(Magnitude(position - following) <= limit) & 7) == 7;  // x, y and z
      if (!repeats) {
        lastSurvivor_->next = &node;
        lastSurvivor_ = &node;
        window.Add(&node, position[0], position[1], position[2]);
      }
      position = following;
    }
    if (k == last && window.count < Window::kCapacity) {  // the last node is never dropped
      PathNode& node = nodes_[last];
      node.next = nullptr;
      node.prev = lastSurvivor_;
      lastSurvivor_->next = &node;
      lastSurvivor_ = &node;
      window.Add(&node, node.point.x, node.point.y, node.point.z);
      window.complete = true;
      k = n_;
    }
    next_ = k;
    survivors_ += window.count - before;
    window.ComputeDirections();
  }

 private:
  PathNode* nodes_;
  int n_;
  int next_;                // the next node to look at
  PathNode* lastSurvivor_;  // the last node the pass has kept
  int survivors_ = 1;       // node 0
};

// ---------------------------------------------------------------------------
// The angle pass over the window: CanRemoveNode for each survivor in turn.
// It carries what the next test needs: the anchor p (the last kept sample,
// the predecessor of the sample under test), the direction into the anchor
// from its own predecessor (test 2's pp -> p) and the direction from the
// anchor into the sample under test (test 1's p -> node).

class AnglePass {
 public:
  AnglePass(float c, PathNode* head) : limit_(Broadcast(c)) { SetAnchor(head); }

  int dropped() const { return dropped_; }

  // When the sample before entry i was kept. Test 1 alone decides, since the
  // direction into the sample is the one out of its kept predecessor. Keeps
  // the leading samples of entries i to i + lanes - 1 whose path turns by
  // more than the tolerance and returns how many; the sample after them (if
  // it is among the lanes) passes test 1 and goes on to DropStraight. (The
  // direction into the sample under test is then entry i - 1's direction out.)
  int KeepTurns(const Window& window, int i, int lanes) {
    Directions toSuccessor = window.OutLanes(i);
    Directions fromPredecessor = window.OutLanes(i - 1);
    int turns = LaneBits(limit_ > DotLanes(toSuccessor, fromPredecessor));
    int kept = CountLeadingLanes(turns, lanes);
    if (kept > 0) {
      intoAnchor_ = window.Out(i + kept - 2);
      SetAnchor(window.node[i + kept - 1]);
    }
    intoNode_ = window.Out(i + kept - 1);
    return kept;
  }

  // Tests 1 to 3 for entries i to i + lanes - 1, each lane as if the samples
  // before it in the group were dropped; test 3 applies to the first
  // `successorLanes` lanes (the others' successors are the array's last
  // node). Drops the leading samples that may go and returns how many; the
  // sample after them, if it is among the lanes, stays.
  int DropStraight(const Window& window, int i, int lanes, int successorLanes) {
    // The chords p -> successor that would replace each sample.
    Directions chord =
        Normalised(LoadLanes(window.x + i + 1) - anchorX_, LoadLanes(window.y + i + 1) - anchorY_,
                   LoadLanes(window.z + i + 1) - anchorZ_);
    // p -> node: into the first sample from the anchor, into each later one
    // the chord of the sample before it.
    Directions intoNode{ShiftIn(intoNode_.x, chord.x), ShiftIn(intoNode_.y, chord.y),
                        ShiftIn(intoNode_.z, chord.z)};
    Directions toSuccessor = window.OutLanes(i);          // node -> successor
    Directions beyondSuccessor = window.OutLanes(i + 1);  // successor -> its successor

    int keeps = LaneBits(limit_ > DotLanes(toSuccessor, intoNode));  // test 1
    if (anchorHasPredecessor_) {                                     // test 2
      Directions intoAnchor{Broadcast(intoAnchor_.x), Broadcast(intoAnchor_.y),
                            Broadcast(intoAnchor_.z)};
      keeps |= LaneBits(limit_ > DotLanes(chord, intoAnchor));
    }
    keeps |= LaneBits(limit_ > DotLanes(chord, beyondSuccessor)) &
             ((1 << successorLanes) - 1);  // test 3

    if (lanes == kLanes &&
        (keeps & 15) == 0) {  // the common case on a straight course: all four go
      UnlinkFour(window, i);
      intoNode_ = chord.Lane(kLanes - 1);
      return kLanes;
    }
    int dropped = CountLeadingLanes(~keeps, lanes);
    if (dropped > 0) {
      Unlink(window, i, dropped);
      intoNode_ = chord.Lane(dropped - 1);
    }
    if (dropped < lanes) {
      intoAnchor_ = intoNode_;
      intoNode_ = window.Out(i + dropped);
      SetAnchor(window.node[i + dropped]);
    }
    return dropped;
  }

 private:
  // How many of the first `lanes` bits are set before the first clear one.
  static int CountLeadingLanes(int bits, int lanes) {
    int count = 0;
    while (count < lanes && (bits & (1 << count)) != 0) ++count;
    return count;
  }

  void SetAnchor(PathNode* node) {
    anchorHasPredecessor_ = node->prev != nullptr;
    anchorX_ = Broadcast(node->point.x);
    anchorY_ = Broadcast(node->point.y);
    anchorZ_ = Broadcast(node->point.z);
    anchor_ = node;
  }

  // Unlinks entries i to i + count - 1, which follow the anchor in the list:
  // one after the other, each leaves its successor linked to the anchor.
  void Unlink(const Window& window, int i, int count) {
    for (int k = 1; k <= count; ++k) window.node[i + k]->prev = anchor_;
    anchor_->next = window.node[i + count];
    dropped_ += count;
  }

  void UnlinkFour(const Window& window, int i) {
    window.node[i + 1]->prev = anchor_;
    window.node[i + 2]->prev = anchor_;
    window.node[i + 3]->prev = anchor_;
    window.node[i + 4]->prev = anchor_;
    anchor_->next = window.node[i + 4];
    dropped_ += kLanes;
  }

  Lanes limit_;  // c in every lane
  PathNode* anchor_ = nullptr;
  bool anchorHasPredecessor_ = false;
  Lanes anchorX_, anchorY_, anchorZ_;
  Fxyz intoAnchor_{0, 0, 0};  // pp -> p, when the anchor has a predecessor
  Fxyz intoNode_{0, 0, 0};    // p -> the sample under test
  int dropped_ = 0;
};

// Runs both passes over the array; returns how many nodes stay in the list.
int SweepPasses(PathNode* nodes, int n, float c) {
  static_assert(Window::kCapacity > 2 * kLanes,
                "the window holds a group and what it looks ahead at");
  Window window;
  memset(&window, 0, sizeof window);  // lanes past the last entry read defined values
  nodes[0].prev = nullptr;
  window.Add(&nodes[0], nodes[0].point.x, nodes[0].point.y, nodes[0].point.z);
  RepeatPass repeats(nodes, n);
  AnglePass angles(c, &nodes[0]);

  // Entry i is the sample under test. While the path turns at every sample,
  // KeepTurns decides by test 1 alone, without chords; on a straighter course
  // DropStraight runs all three tests. A sample kept after a run of dropped
  // ones usually starts another run, so DropStraight carries on after it;
  // one kept at once hands over to KeepTurns.
  bool turning = true;
  int i = 1;
  for (;;) {
    // A group reads up to two entries past its last sample.
    while (!window.complete && i + kLanes + 2 > window.count) {
      window.DropFront(i - 1);
      i = 1;
      repeats.Fill(window);
    }
    int testable = window.complete ? window.count - 1 - i : kLanes + 1;  // samples with a successor
    if (testable <= 0) break;
    int lanes = testable < kLanes ? testable : kLanes;
    if (turning) {
      int kept = angles.KeepTurns(window, i, lanes);
      i += kept;
      if (kept < lanes) turning = false;
    } else {
      int successorLanes = testable - 1 < kLanes ? testable - 1 : kLanes;
      int dropped = angles.DropStraight(window, i, lanes, successorLanes);
      if (dropped == kLanes) {  // a separate branch, so the next group need not wait for this one
        i += kLanes;
        continue;
      }
      i += dropped;
      if (dropped < lanes) {
        i += 1;  // the sample that stays
        turning = dropped == 0;
      }
    }
  }
  return repeats.survivors() - angles.dropped();
}

// Copies the points of the list into the block. A very sparse list is walked
// along its links. Otherwise the array is read in order, which the processor
// reads ahead of (each hop of a walk through a long array is a cache miss of
// about 100 ns, reading a node in order about 1 ns): a node is in the list
// when its predecessor links to it.
void StoreSurvivors(const PathNode* nodes, int n, int count, CControlData* block) {
  Fxyzu* slot = block->Point(0);
  if (count < n / 128) {
    for (const PathNode* node = &nodes[0]; node != nullptr; node = node->next)
      *slot++ = node->point;
    return;
  }
  *slot++ = nodes[0].point;
  for (int k = 1; k < n; ++k) {
    if (nodes[k].prev->next == &nodes[k]) *slot++ = nodes[k].point;
  }
}

}  // namespace

bool SimplifyPath(PathNode* nodes, int n, float c) {
  if (nodes == nullptr || n < 1) return false;
  int count = n;
  if (n <= 2) {  // nothing to test: both samples stay
    nodes[0].prev = nullptr;
    nodes[0].next = n == 2 ? &nodes[1] : nullptr;
    if (n == 2) nodes[1] = PathNode{nodes[1].point, nullptr, &nodes[0]};
  } else {
    count = SweepPasses(nodes, n, c);
  }

  // The resize may move the block: the points go through the address it
  // returns, never through one taken before.
  CControlData* block = GetControlData(count);
  if (block == nullptr) return false;
  StoreSurvivors(nodes, n, count, block);
  return true;
}
