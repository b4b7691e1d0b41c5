// The fast sweep behind SimplifyPath (path_simplify.cpp), and the choice of
// the processor's variant of it.
//
// The sweep (path_sweep_lanes.h) runs in lanes of four samples on every
// processor and, on x86, in lanes of eight with AVX2. Every variant does the
// same single-precision operations in the same order, so every variant leaves
// the same bits.
#ifndef VESTREL_GEOMETRY_PATH_SWEEP_H
#define VESTREL_GEOMETRY_PATH_SWEEP_H

#include "geometry/path_simplify.h"

// Where the survivors' copy starts its walks (StoreSurvivors): a few kept nodes
// spread over the array, each with its place among the survivors.
struct SweepChains {
  static constexpr int kCapacity = 64;
  PathNode* start[kCapacity];  // start[0] is node 0
  int slot[kCapacity];         // how many survivors come before start[k]
  int count;
};

enum class SweepVariant { kFourLanes, kEightLanes };
constexpr SweepVariant kSweepVariants[] = {SweepVariant::kFourLanes, SweepVariant::kEightLanes};

const char* SweepVariantName(SweepVariant variant);

// Whether this build has the variant and this processor runs it. When not,
// *why (if given) says which of the two is missing.
bool SweepVariantRuns(SweepVariant variant, const char** why);

// The variant SimplifyPath uses: the widest that runs here, found by asking
// the processor once per process.
SweepVariant ChosenSweepVariant();

// For the tests and the benchmarks: SimplifyPath uses the variant given
// (which must run here) until the next call; a null pointer goes back to the
// chosen one.
void UseSweepVariant(const SweepVariant* variant);

// Runs the variant in use over the n >= 3 nodes: links them, drops repeats and
// what the angle pass allows, and fills `chains`. Returns how many nodes stay.
int SweepPath(PathNode* nodes, int n, float c, SweepChains* chains);

#endif
