// The sweep of SimplifyPath, written once for any number of lanes: LaneSweep
// below, over a lane type (four lanes in path_sweep.cpp, eight with AVX2 in
// path_sweep_avx2.cpp) that holds what the compiler's vector types lack:
//   kCount                  lanes in a vector
//   Floats, Flags           kCount floats; kCount 32-bit comparison results
//   Root(v)                 the correctly rounded root, as std::sqrt of a float
//   Bits(flags)             bit l set when lane l holds
//   Broadcast(value)        value in every lane
//   ShiftAcross(u, v)       (u[kCount - 1], v[0], ..., v[kCount - 2])
//   ShiftOut(v, last)       (v[1], ..., v[kCount - 1], last)
//   Transpose(nodes, x, y, z)  the coordinates of kCount consecutive nodes
// +, -, * and / of the vector types work lane by lane with exactly the
// rounding of the scalar operation (no fused multiply-add: the plug-in is built
// with -ffp-contract=off, which covers vector code too).
//
// It applies the rules of path_simplify.cpp (SamePoint, CanRemoveNode, the two
// passes of SimplifyPath), arranged for speed. Each arrangement is exact for
// the reason given next to it:
//   - One sweep instead of pass after pass (RepeatPass, AnglePass, Run).
//   - The repeat test and the staging of survivors a group of nodes at a time,
//     straight from the node array into lanes (RepeatPass::FillGroup).
//   - Every unit direction computed once (RepeatPass::FillGroup from the
//     repeat test's differences, Window::ComputeDirections, AnglePass).
//   - A group of lanes tested at once, each lane as if the samples before it
//     in the group were dropped; after a kept sample the lanes after it are
//     tested again within the group (AnglePass::DropStraight, KeepTurns).
//   - Each link written once where the rules would write it several times.
//   - Kept nodes spread over the array noted for the copy into the block
//     (AnglePass::NoteKept, SweepChains).
#ifndef VESTREL_GEOMETRY_PATH_SWEEP_LANES_H
#define VESTREL_GEOMETRY_PATH_SWEEP_LANES_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "geometry/path_simplify.h"
#include "geometry/path_sweep.h"
#include "geometry/vector_math.h"

// The variants' entries (path_sweep.cpp, path_sweep_avx2.cpp).
int SweepInFourLanes(PathNode* nodes, int n, float c, SweepChains* chains);
int SweepInEightLanes(PathNode* nodes, int n, float c, SweepChains* chains);

template <class Lanes>
class LaneSweep {
 public:
  // Runs both passes over the n >= 3 nodes; returns how many stay in the list.
  static int Run(PathNode* nodes, int n, float c, SweepChains* chains) {
    Window window;
    memset(&window, 0, sizeof window);  // lanes past the last entry read defined values
    nodes[0].prev = nullptr;
    window.Add(&nodes[0]);
    RepeatPass repeats(nodes, n);
    AnglePass angles(c, &nodes[0], n, chains);
    repeats.Fill(window);
    nodes[0].next = window.node[1];  // until samples after it go

    // Entry i is the sample under test. While the path turns at every sample,
    // KeepTurns decides by test 1 alone, without chords; on a straighter
    // course DropStraight runs all three tests.
    bool turning = true;
    int i = 1;
    for (;;) {
      // A group reads up to two entries past its last sample.
      while (!window.complete && i + kLanes + 2 > window.count) {
        window.DropFront(i - 1);
        i = 1;
        repeats.Fill(window);
      }
      int testable = window.complete ? window.count - 1 - i : kLanes + 1;  // with a successor
      if (testable <= 0) break;
      int lanes = testable < kLanes ? testable : kLanes;
      repeats.PrefetchAhead();
      if (turning) {
        int kept = angles.KeepTurns(window, i, lanes);
        i += kept;
        if (kept < lanes) turning = false;
      } else {
        int successorLanes = testable - 1 < kLanes ? testable - 1 : kLanes;
        i += angles.DropStraight(window, i, lanes, successorLanes, &turning);
      }
    }
    nodes[n - 1].prev = angles.anchor();
    return angles.kept() + 1;  // and the last node
  }

 private:
  static constexpr int kLanes = Lanes::kCount;
  typedef typename Lanes::Floats Floats;
  typedef typename Lanes::Flags Flags;

  static Floats Load(const float* from) {
    Floats v;
    memcpy(&v, from, sizeof v);
    return v;
  }

  static void Store(float* to, Floats v) { memcpy(to, &v, sizeof v); }

  // How many of the first `lanes` bits are set before the first clear one.
  static int CountLeadingLanes(int bits, int lanes) { return __builtin_ctz(~bits | (1 << lanes)); }

  // x, y and z in lanes: kLanes unit directions (or the anchor's position).
  struct Directions {
    Floats x, y, z;
    Fxyz Lane(int lane) const { return Fxyz{x[lane], y[lane], z[lane]}; }
    static Directions Spread(const Fxyz& d) {  // d in every lane
      return Directions{Lanes::Broadcast(d.x), Lanes::Broadcast(d.y), Lanes::Broadcast(d.z)};
    }
  };

  // Fxyz::Nor of kLanes differences: divided by the root of (x*x + y*y) + z*z,
  // the same operations in the same order in every lane, so every lane holds
  // the very bits Nor gives.
  static Directions Normalised(Floats x, Floats y, Floats z) {
    Floats length = Lanes::Root((x * x + y * y) + z * z);
    return Directions{x / length, y / length, z / length};
  }

  // Dot of kLanes pairs: (a.x*b.x + a.y*b.y) + a.z*b.z, as Dot.
  static Floats DotLanes(const Directions& a, const Directions& b) {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
  }

  // Every tested sample's links, written once: its next is the next survivor
  // of the repeat pass (a dropped sample keeps it; a kept one has it rewritten
  // when samples after it go), its prev the anchor it was tested against.
  static void Link(PathNode* node, PathNode* next, PathNode* prev) {
    node->next = next;
    node->prev = prev;
  }

  // Links entries from to to - 1 each to the entry after it and to the anchor
  // (LinkGroup for a whole group of consecutive nodes: most of a moving path).
  static void LinkRun(PathNode* const* node, int from, int to, PathNode* anchor) {
    if (to - from == kLanes && node[to] - node[from] == kLanes)
      return LinkGroup(node[from], anchor);
    for (int lane = from; lane < to; ++lane) Link(node[lane], node[lane + 1], anchor);
  }

  // Links kLanes consecutive nodes from `at` each to the node after it and to
  // `prev`: one store of both links a node, the next pointer a node on.
  static void LinkGroup(PathNode* at, PathNode* prev) {
    static_assert(offsetof(PathNode, prev) == offsetof(PathNode, next) + sizeof(PathNode*),
                  "prev follows next");
    typedef uintptr_t Pair __attribute__((vector_size(2 * sizeof(uintptr_t))));
    Pair links = {reinterpret_cast<uintptr_t>(at + 1), reinterpret_cast<uintptr_t>(prev)};
    const Pair step = {sizeof(PathNode), 0};
#pragma GCC unroll 16
    for (int lane = 0; lane < kLanes; ++lane, links += step)
      memcpy(&at[lane].next, &links, sizeof links);
  }

  // -------------------------------------------------------------------------
  // The window: survivors of the repeat pass that the angle pass has not yet
  // passed, in list order, with their positions and the unit direction from
  // each to the next, laid out lane by lane.
  struct Window {
    static constexpr int kCapacity = 256;
    static constexpr int kSize = kCapacity + 2 * kLanes;  // lanes read a little past the end
    static_assert(kCapacity > 2 * kLanes, "the window holds a group and what it looks ahead at");

    PathNode* node[kSize];
    float x[kSize], y[kSize], z[kSize];
    float outX[kSize], outY[kSize], outZ[kSize];  // Nor(entry j + 1 - entry j), j < directions
    int count;
    int directions;
    bool complete;  // the array's last node is the last entry

    void Add(PathNode* survivor) {
      x[count] = survivor->point.x, y[count] = survivor->point.y, z[count] = survivor->point.z;
      node[count++] = survivor;
    }

    Fxyz Out(int entry) const { return Fxyz{outX[entry], outY[entry], outZ[entry]}; }

    Directions OutLanes(int entry) const {
      return Directions{Load(outX + entry), Load(outY + entry), Load(outZ + entry)};
    }

    // Forgets the entries before `first`, to make room.
    void DropFront(int first) {
      count -= first, directions -= first;
      memmove(node, node + first, count * sizeof node[0]);
      float* rows[] = {x, y, z, outX, outY, outZ};  // the last entry's direction may be known
      for (float* row : rows) memmove(row, row + first, count * sizeof(float));
    }

    // The directions between the entries added since the last call, kLanes at
    // a time (lanes past the last entry compute values that are never used).
    // Each serves twice: as test 1's node -> successor, and as the next test's
    // predecessor -> node when the sample stays (or test 3's successor -> its
    // successor): the same difference normalised the same way.
    void ComputeDirections(int end) {
      for (int j = directions; j < end; j += kLanes) {
        Directions out = Normalised(Load(x + j + 1) - Load(x + j), Load(y + j + 1) - Load(y + j),
                                    Load(z + j + 1) - Load(z + j));
        Store(outX + j, out.x), Store(outY + j, out.y), Store(outZ + j, out.z);
      }
      directions = end;
    }
  };

  // -------------------------------------------------------------------------
  // The repeat pass: drops every node k, 1 <= k <= n - 2, that is the same
  // point as node k + 1, and puts the others in the window. A dropped repeat's
  // links are final here: its next is the node after it in the array, its
  // prev the survivor before it. The survivors' links depend on the angle
  // pass, which writes them.
  //
  // SamePoint compares each |a - b|, widened to a double, with the double
  // 5e-05. For a float d that holds exactly when -l <= d <= l for l the largest
  // float below 5e-05, which is what 5e-05f is (the guard test checks both
  // neighbours); a NaN difference passes neither.
  // And a - b is -(b - a) to the bit, so the differences to the next node
  // serve as they come.
  class RepeatPass {
   public:
    RepeatPass(PathNode* nodes, int n)
        : nodes_(nodes), last_(n - 1), next_(1), lastSurvivor_(&nodes[0]) {}

    // Carries the pass on until the window is full or the array ends; node 0
    // is already in the window.
    void Fill(Window& window) {
      while (next_ + kLanes <= last_ && window.count + kLanes <= Window::kCapacity)
        FillGroup(window);
      while (next_ < last_ && window.count < Window::kCapacity) {
        const Fxyzu &a = nodes_[next_].point, &b = nodes_[next_ + 1].point;
        Consider(window, &nodes_[next_++], Close(a.x, b.x) && Close(a.y, b.y) && Close(a.z, b.z));
      }
      if (next_ == last_ && window.count < Window::kCapacity) {  // the last node is never dropped
        PathNode& node = nodes_[last_];
        node.next = nullptr;
        window.Add(&node);
        window.complete = true;
        ++next_;
      }
      if (prefetched_ < next_) prefetched_ = next_;
      if (window.directions < window.count - 1) aimedAt_ = nullptr;  // stores past the last entry
      window.ComputeDirections(window.count - 1);
    }

    // Asks the memory for kLanes more of the nodes the next Fill reads, so that
    // they arrive while the angle pass works through the window; called once
    // a group. (Reading ahead changes nothing but when the bytes arrive.)
    void PrefetchAhead() {
      if (prefetched_ + kLanes > last_ + 1 || prefetched_ >= next_ + 2 * Window::kCapacity) return;
#pragma GCC unroll 8
      for (int k = 0; k < kLanes; k += 2) __builtin_prefetch(&nodes_[prefetched_ + k], 1);
      prefetched_ += kLanes;
    }

   private:
    static constexpr float kSamePointLimit = 5e-05f;
    static_assert(static_cast<double>(kSamePointLimit) < 5e-05, "the largest float below 5e-05");

    static bool Close(float a, float b) {
      return a - b <= kSamePointLimit && a - b >= -kSamePointLimit;
    }

    void Consider(Window& window, PathNode* node, bool repeats) {
      if (repeats) {
        Link(node, node + 1, lastSurvivor_);
      } else {
        lastSurvivor_ = node;
        window.Add(node);
      }
    }

    // Nodes next_ to next_ + kLanes - 1, each with the node after it: their
    // coordinates transposed into lanes, the differences to the following
    // nodes (kLanes more, the last from the node past the group) tested in
    // lanes. Where none repeats, which is most of a moving path, the group
    // goes into the window as a whole; where all repeat, none does.
    void FillGroup(Window& window) {
      PathNode* first = nodes_ + next_;
      Floats x, y, z;
      Lanes::Transpose(first, &x, &y, &z);
      const Fxyzu& past = first[kLanes].point;
      Floats dx = Lanes::ShiftOut(x, past.x) - x, dy = Lanes::ShiftOut(y, past.y) - y,
             dz = Lanes::ShiftOut(z, past.z) - z, limit = Lanes::Broadcast(kSamePointLimit);
      Flags same = (dx <= limit) & (dx >= -limit) & (dy <= limit) & (dy >= -limit) & (dz <= limit) &
                   (dz >= -limit);
      int repeats = Lanes::Bits(same);
      next_ += kLanes;
      if (repeats == 0) {
        // Each node's direction to the next entry, from the differences (the
        // last lane's holds if the node past the group stays: aimedAt_).
        Directions d = Normalised(dx, dy, dz);
        const int at = window.count;
        Store(window.x + at, x), Store(window.y + at, y), Store(window.z + at, z);
        for (int lane = 0; lane < kLanes; ++lane) window.node[at + lane] = first + lane;
        if (window.directions < at - 1 || aimedAt_ != first) window.ComputeDirections(at);
        Store(window.outX + at, d.x), Store(window.outY + at, d.y), Store(window.outZ + at, d.z);
        window.directions = window.count + kLanes - 1;
        aimedAt_ = first + kLanes;
        window.count += kLanes;
        lastSurvivor_ = first + kLanes - 1;
        return;
      }
      if (repeats == (1 << kLanes) - 1) return LinkGroup(first, lastSurvivor_);  // all go
      for (int lane = 0; lane < kLanes; ++lane)
        Consider(window, first + lane, (repeats >> lane) & 1);
    }

    PathNode* nodes_;
    int last_;
    int next_;                     // the next node to look at
    PathNode* lastSurvivor_;       // the last node the pass has kept
    int prefetched_ = 0;           // the nodes before this one have been asked for
    PathNode* aimedAt_ = nullptr;  // the last entry's direction is to this node, if it stays
  };

  // -------------------------------------------------------------------------
  // The angle pass over the window: CanRemoveNode for each survivor in turn.
  // It carries what the next test needs: the anchor p (the last kept sample,
  // the predecessor of the sample under test), the direction into the anchor
  // from its own predecessor (test 2's pp -> p) and the direction from the
  // anchor into the sample under test (test 1's p -> node). It writes every
  // tested sample's links (Link) and the anchor's next when samples after it
  // go, and notes kept samples spread over the array for the copy.
  class AnglePass {
   public:
    AnglePass(float c, PathNode* head, int n, SweepChains* chains)
        : limit_(Lanes::Broadcast(c)), head_(head), chains_(chains) {
      chainStep_ = n / SweepChains::kCapacity + 1;
      nextChain_ = chainStep_;
      chains_->start[0] = head;
      chains_->slot[0] = 0;
      chains_->count = 1;
      SetAnchor(head, Fxyz{0, 0, 0});
    }

    int kept() const { return kept_; }
    PathNode* anchor() const { return anchor_; }

    // When the sample before entry i was kept, test 1 alone decides (the
    // direction into the sample is the one out of its kept predecessor): keeps
    // the leading samples of entries i to i + lanes - 1 that turn by more than
    // the tolerance, and returns how many; the next one goes on to DropStraight.
    int KeepTurns(const Window& window, int i, int lanes) {
      // Test 1: node -> successor against predecessor -> node.
      int turns = Lanes::Bits(limit_ > DotLanes(window.OutLanes(i), window.OutLanes(i - 1)));
      int kept = CountLeadingLanes(turns, lanes);
      if (kept > 0) {
        for (int lane = 0; lane < kept; ++lane)
          Link(window.node[i + lane], window.node[i + lane + 1], window.node[i + lane - 1]);
        NoteKept(window.node[i + kept - 1], kept);
        SetAnchor(window.node[i + kept - 1], window.Out(i + kept - 2));
      }
      if (kept < lanes)
        intoNode_ = Directions::Spread(window.Out(i + kept - 1));  // for DropStraight
      return kept;
    }

    // Tests 1 to 3 for entries i to i + lanes - 1 (test 3 for the first
    // `successorLanes`: the others' successors are the array's last node), each
    // lane as if the samples before it in the group were dropped (they share
    // the anchor). The first lane that keeps its sample decides the lanes before
    // it; those after it are tested again against the new anchor. Returns how
    // many entries it decided; *turning tells whether it stopped because the
    // sample after a kept one turns by test 1 alone (KeepTurns goes on).
    int DropStraight(const Window& window, int i, int lanes, int successorLanes, bool* turning) {
      PathNode* const* node = window.node + i;
      const Floats successorX = Load(window.x + i + 1), successorY = Load(window.y + i + 1),
                   successorZ = Load(window.z + i + 1);
      const Directions toSuccessor = window.OutLanes(i);          // node -> successor
      const Directions beyondSuccessor = window.OutLanes(i + 1);  // successor -> its successor
      const int successorMask = (1 << successorLanes) - 1;
      for (int first = 0;;) {  // the first lane not yet decided
        // The chords p -> successor that would replace each sample.
        Directions chord = Normalised(successorX - anchorAt_.x, successorY - anchorAt_.y,
                                      successorZ - anchorAt_.z);
        // p -> node: into the first sample the direction carried along, into
        // each later one the chord of the sample before it. After a kept
        // sample that chord is the direction out of the new anchor itself: the
        // same difference, normalised the same way.
        Directions intoNode{Lanes::ShiftAcross(intoNode_.x, chord.x),
                            Lanes::ShiftAcross(intoNode_.y, chord.y),
                            Lanes::ShiftAcross(intoNode_.z, chord.z)};
        Flags keeps = limit_ > DotLanes(toSuccessor, intoNode);                // test 1
        if (anchor_ != head_) keeps |= limit_ > DotLanes(chord, intoAnchor_);  // test 2
        int keep = Lanes::Bits(keeps) | (Lanes::Bits(limit_ > DotLanes(chord, beyondSuccessor)) &
                                         successorMask);  // test 3

        if (first == 0 && lanes == kLanes && keep == 0) {
          // The common case on a straight course: every lane goes. A branch of
          // its own, so that the next group need not wait for this one.
          LinkRun(node, 0, kLanes, anchor_);
          anchor_->next = node[kLanes];
          intoNode_ = chord;
          return kLanes;
        }
        int stays = CountLeadingLanes(~(keep >> first), lanes - first) + first;  // lanes if none
        *turning = false;
        LinkRun(node, first, stays < lanes ? stays + 1 : lanes, anchor_);
        if (stays > first) {  // lanes first to stays - 1 go
          anchor_->next = node[stays];
          intoNode_ = Directions::Spread(chord.Lane(stays - 1));
        }
        if (stays == lanes) return lanes;
        // The sample in lane `stays` stays and becomes the anchor.
        NoteKept(node[stays], 1);
        SetAnchor(node[stays], intoNode_.Lane(kLanes - 1));
        intoNode_ = Directions::Spread(window.Out(i + stays));
        first = stays + 1;
        if (first == lanes) return lanes;
        // Where the path turns at the next sample too, test 1 alone keeps it,
        // without chords: KeepTurns carries on from there.
        if (Lanes::Bits(limit_ > DotLanes(window.OutLanes(i + first), intoNode_)) & 1) {
          *turning = true;
          return first;
        }
      }
    }

   private:
    // The anchor and the direction into it from its predecessor (none for
    // node 0, which has no predecessor and so no test 2).
    void SetAnchor(PathNode* node, const Fxyz& intoAnchor) {
      intoAnchor_ = Directions::Spread(intoAnchor);
      anchorAt_ = Directions::Spread(Fxyz{node->point.x, node->point.y, node->point.z});
      anchor_ = node;
    }

    // `count` more samples kept, the last of them `last`. Now and then one of
    // them starts a chain for the copy: the first kept one past every
    // 1 / kCapacity of the array.
    void NoteKept(PathNode* last, int count) {
      kept_ += count;
      if (last - head_ >= nextChain_ && chains_->count < SweepChains::kCapacity) {
        chains_->start[chains_->count] = last;
        chains_->slot[chains_->count] = kept_ - 1;
        ++chains_->count;
        nextChain_ = static_cast<int>(last - head_) + chainStep_;
      }
    }

    Floats limit_;  // c in every lane
    PathNode* head_;
    SweepChains* chains_;
    PathNode* anchor_ = nullptr;
    Directions anchorAt_;    // p in every lane
    Directions intoAnchor_;  // pp -> p in every lane, when the anchor has a predecessor
    Directions intoNode_{};  // p -> the sample under test, in the last lane
    int kept_ = 1;           // node 0
    int chainStep_;
    int nextChain_;
  };
};

#endif
