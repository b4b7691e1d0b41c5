// Where the time of SimplifyPath on the smooth path goes, on the helix of one
// million samples:
//   - Breakdown/keep_all: tolerance -1. Every sample stays at its first test,
//     so no chord is computed: the sweep, one unit direction per sample and
//     the copy of all points into the block.
//   - Breakdown/drop_all: tolerance NaN. Every inner sample goes after all
//     three tests: two unit directions per sample, and two points copied.
//   - Breakdown/two_directions: only the arithmetic the rules cannot do
//     without, two unit directions per sample (to the next sample and the
//     chord from the last kept one), four samples at a time with the same
//     single-precision operations as the plug-in. This is the floor the
//     square root and division units set, whatever the rest of the code does.
//   - Breakdown/four_lanes, Breakdown/eight_lanes: SimplifyPath at tolerance 5
//     with each variant of its sweep forced (eight lanes only where the
//     processor runs AVX2; SimplifyPath itself uses the widest that runs).
#include <benchmark/benchmark.h>
#include <string.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "benchmarks/bench_host.h"
#include "benchmarks/sample_paths.h"
#include "geometry/path_simplify.h"
#include "geometry/path_sweep.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int32_t kSamples = 1000000;

typedef float Lanes __attribute__((vector_size(16)));

Lanes SquareRoot(Lanes v) {
#if defined(__SSE2__)
  return _mm_sqrt_ps(v);
#else
  for (int lane = 0; lane < 4; ++lane) v[lane] = std::sqrt(v[lane]);
  return v;
#endif
}

Lanes Load(const float* from) {
  Lanes v;
  memcpy(&v, from, sizeof v);
  return v;
}

void SetSampleCounters(benchmark::State& state, int32_t n) {
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["time_per_sample"] = benchmark::Counter(
      n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void RunSimplify(benchmark::State& state, float c) {
  std::vector<Fxyzu> samples = MakePath(PathShape::kHelix, kSamples);
  std::vector<PathNode> nodes(kSamples);
  for (int32_t k = 0; k < kSamples; ++k) nodes[k].point = samples[k];
  BenchHost host(kSamples, 0, 0);
  host.EnterCall();
  for (auto _ : state) {
    SimplifyPath(nodes.data(), kSamples, c);
    benchmark::ClobberMemory();
  }
  SetSampleCounters(state, kSamples);
  state.counters["kept"] = host.Block()->pointCount;
}

void BM_KeepAll(benchmark::State& state) { RunSimplify(state, AngleLimit(-1.0f)); }

void BM_DropAll(benchmark::State& state) {
  RunSimplify(state, AngleLimit(std::numeric_limits<float>::quiet_NaN()));
}

void BM_Variant(benchmark::State& state, SweepVariant variant) {
  const char* why = nullptr;
  if (!SweepVariantRuns(variant, &why)) {
    state.SkipWithError(why);
    for (auto _ : state) {
    }
    return;
  }
  UseSweepVariant(&variant);
  RunSimplify(state, AngleLimit(5.0f));
  UseSweepVariant(nullptr);
}

void BM_TwoDirections(benchmark::State& state) {
  std::vector<Fxyzu> samples = MakePath(PathShape::kHelix, kSamples + 8);
  std::vector<float> x, y, z;
  for (const Fxyzu& s : samples) {
    x.push_back(s.x);
    y.push_back(s.y);
    z.push_back(s.z);
  }
  for (auto _ : state) {
    Lanes sum{0, 0, 0, 0};
    Lanes anchorX{x[0], x[0], x[0], x[0]}, anchorY{y[0], y[0], y[0], y[0]},
        anchorZ{z[0], z[0], z[0], z[0]};
    for (int32_t j = 0; j < kSamples; j += 4) {
      Lanes dx = Load(&x[j + 1]) - Load(&x[j]), dy = Load(&y[j + 1]) - Load(&y[j]),
            dz = Load(&z[j + 1]) - Load(&z[j]);
      Lanes length = SquareRoot((dx * dx + dy * dy) + dz * dz);
      Lanes cx = Load(&x[j + 1]) - anchorX, cy = Load(&y[j + 1]) - anchorY,
            cz = Load(&z[j + 1]) - anchorZ;
      Lanes chordLength = SquareRoot((cx * cx + cy * cy) + cz * cz);
      sum += (dx / length + dy / length + dz / length) +
             (cx / chordLength + cy / chordLength + cz / chordLength);
    }
    benchmark::DoNotOptimize(sum);
  }
  SetSampleCounters(state, kSamples);
}

BENCHMARK(BM_KeepAll)->Name("Breakdown/keep_all/1000000")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DropAll)->Name("Breakdown/drop_all/1000000")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Variant, four_lanes, SweepVariant::kFourLanes)
    ->Name("Breakdown/four_lanes/1000000")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Variant, eight_lanes, SweepVariant::kEightLanes)
    ->Name("Breakdown/eight_lanes/1000000")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TwoDirections)
    ->Name("Breakdown/two_directions/1000000")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
