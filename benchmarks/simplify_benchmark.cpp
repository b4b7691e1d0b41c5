// SimplifyPath on paths of every shape and size, against two yardsticks run on
// the same samples:
//   - Baseline: one pass that reads every sample and writes its two links,
//     the least any linear algorithm over the array has to do. The ratio of
//     SimplifyPath's time to it says how close the simplification is to the
//     memory limit.
//   - BoostDouglasPeucker: boost::geometry::simplify (Douglas-Peucker) on a
//     3-D linestring of the same points, with a distance tolerance chosen so
//     that it keeps about as many points as SimplifyPath does.
// and against two rivals of our own at -O3 (benchmarks/rivals.h), on a packed
// array of the same points, their natural input:
//   - ReumannWitkam, with a strip width chosen, like Douglas-Peucker's
//     tolerance, so that it keeps about as many points as SimplifyPath.
//   - AngleFilter, a bare one-pass angle filter at the same 5 degrees.
#include <benchmark/benchmark.h>
#include <string.h>

#include <cmath>
#include <map>
#include <utility>
#include <memory>
#include <vector>

#if VESTREL_HAVE_BOOST_GEOMETRY
#include <boost/geometry.hpp>
#endif

#include "benchmarks/bench_host.h"
#include "benchmarks/rivals.h"
#include "benchmarks/sample_paths.h"
#include "geometry/path_simplify.h"
#include "geometry/path_sweep.h"

namespace {

#if VESTREL_HAVE_BOOST_GEOMETRY
namespace bg = boost::geometry;
using BoostPoint = bg::model::point<float, 3, bg::cs::cartesian>;
using BoostLine = bg::model::linestring<BoostPoint>;
#else
using BoostLine = std::vector<Fxyzu>;  // unused
#endif

constexpr float kAngleTolerance = 5.0f;  // the default of a new instance
constexpr int32_t kCalibrationSamples = 100000;

// The samples of one benchmark, kept while the repetitions of that benchmark
// run and replaced by the next one, so that only one large path is in memory.
struct Workload {
  PathShape shape;
  int32_t n = 0;
  std::vector<PathNode> nodes;
  std::unique_ptr<BenchHost> host;
  BoostLine boostLine;        // made by the first Douglas-Peucker run
  double tolerance = -1.0;    // found by the first Douglas-Peucker run
  std::vector<Fxyzu> points;  // the samples packed, for the rivals
  std::vector<Fxyzu> kept;    // the rivals' output, room for every sample
  float stripWidth = -1.0f;   // found by the first Reumann-Witkam run
};

Workload& LoadWorkload(PathShape shape, int32_t n) {
  static Workload workload;
  if (workload.n != n || workload.shape != shape || !workload.host) {
    workload = Workload();
    std::vector<Fxyzu> samples = MakePath(shape, n);
    workload.shape = shape;
    workload.n = n;
    workload.nodes.resize(n);
    for (int32_t k = 0; k < n; ++k) workload.nodes[k].point = samples[k];
    workload.host.reset(new BenchHost(n, 0, 0));
    workload.points = samples;
    workload.kept.resize(n);
  }
  return workload;
}

// How many samples SimplifyPath keeps of these.
int32_t KeptBySimplifyPath(const std::vector<Fxyzu>& samples) {
  int32_t n = static_cast<int32_t>(samples.size());
  std::vector<PathNode> nodes(n);
  for (int32_t k = 0; k < n; ++k) nodes[k].point = samples[k];
  BenchHost host(n, 0, 0);
  host.EnterCall();
  SimplifyPath(nodes.data(), n, AngleLimit(kAngleTolerance));
  return host.Block()->pointCount;
}

// The Reumann-Witkam strip width at which it keeps about as many points of the
// path as SimplifyPath: found by bisection (on a logarithmic scale) on the
// first samples of the path.
float MatchingStripWidth(PathShape shape, int32_t n) {
  std::vector<Fxyzu> prefix = MakePath(shape, n < kCalibrationSamples ? n : kCalibrationSamples);
  int32_t target = KeptBySimplifyPath(prefix);
  std::vector<Fxyzu> kept(prefix.size());
  double low = 1e-7, high = 1e3;  // keeps (nearly) all, keeps two
  for (int step = 0; step < 40; ++step) {
    double middle = std::sqrt(low * high);
    if (ReumannWitkam(prefix.data(), static_cast<int32_t>(prefix.size()),
                      static_cast<float>(middle), kept.data()) > target) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return static_cast<float>(high);
}

#if VESTREL_HAVE_BOOST_GEOMETRY
BoostLine ToBoostLine(const std::vector<Fxyzu>& samples) {
  BoostLine line;
  line.reserve(samples.size());
  for (const Fxyzu& s : samples) line.push_back(BoostPoint(s.x, s.y, s.z));
  return line;
}

size_t KeptByDouglasPeucker(const BoostLine& line, double tolerance) {
  BoostLine kept;
  bg::simplify(line, kept, tolerance);
  return kept.size();
}

// The Douglas-Peucker tolerance at which it keeps about the same share of a
// path as SimplifyPath: found by bisection (on a logarithmic scale) on the
// first samples of the path, which repeat the shape of the whole.
double MatchingTolerance(PathShape shape, int32_t n) {
  std::vector<Fxyzu> prefix = MakePath(shape, n < kCalibrationSamples ? n : kCalibrationSamples);
  size_t target = static_cast<size_t>(KeptBySimplifyPath(prefix));
  BoostLine line = ToBoostLine(prefix);
  double low = 1e-7, high = 1e3;  // keeps (nearly) all, keeps two
  for (int step = 0; step < 40; ++step) {
    double middle = std::sqrt(low * high);
    if (KeptByDouglasPeucker(line, middle) > target) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return high;
}
#endif

uint32_t Bits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The memory-bound floor: reads every sample and writes both of its links.
__attribute__((noinline)) uint32_t ReadSamplesWriteLinks(PathNode* nodes, int32_t n) {
  uint32_t checksum = 0;
  for (int32_t k = 0; k < n; ++k) {
    const Fxyzu& p = nodes[k].point;
    checksum ^= Bits(p.x) ^ Bits(p.y) ^ Bits(p.z) ^ Bits(p.u);
    nodes[k].prev = k > 0 ? &nodes[k - 1] : nullptr;
    nodes[k].next = k < n - 1 ? &nodes[k + 1] : nullptr;
  }
  return checksum;
}

void SetSampleCounters(benchmark::State& state, int32_t n) {
  state.SetItemsProcessed(state.iterations() * n);
  // Seconds per sample (shown as ns in the console).
  state.counters["time_per_sample"] = benchmark::Counter(
      n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SimplifyPath(benchmark::State& state, PathShape shape) {
  int32_t n = static_cast<int32_t>(state.range(0));
  Workload& workload = LoadWorkload(shape, n);
  float c = AngleLimit(kAngleTolerance);
  workload.host->EnterCall();
  for (auto _ : state) {
    // The links are set afresh by every call; the points are only read.
    SimplifyPath(workload.nodes.data(), n, c);
    benchmark::ClobberMemory();
  }
  SetSampleCounters(state, n);
  state.counters["kept"] = workload.host->Block()->pointCount;
}

void BM_Baseline(benchmark::State& state, PathShape shape) {
  int32_t n = static_cast<int32_t>(state.range(0));
  Workload& workload = LoadWorkload(shape, n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadSamplesWriteLinks(workload.nodes.data(), n));
    benchmark::ClobberMemory();
  }
  SetSampleCounters(state, n);
}

void BM_ReumannWitkam(benchmark::State& state, PathShape shape) {
  int32_t n = static_cast<int32_t>(state.range(0));
  Workload& workload = LoadWorkload(shape, n);
  if (workload.stripWidth < 0.0f) {
    // Kept across reloads of the workload: interleaved repetitions reload it often.
    static std::map<std::pair<PathShape, int32_t>, float> widths;
    auto found = widths.find({shape, n});
    if (found == widths.end())
      found = widths.emplace(std::make_pair(shape, n), MatchingStripWidth(shape, n)).first;
    workload.stripWidth = found->second;
  }
  int32_t kept = 0;
  for (auto _ : state) {
    kept = ReumannWitkam(workload.points.data(), n, workload.stripWidth, workload.kept.data());
    benchmark::ClobberMemory();
  }
  SetSampleCounters(state, n);
  state.counters["kept"] = kept;
  state.counters["tolerance"] = workload.stripWidth;
}

void BM_AngleFilter(benchmark::State& state, PathShape shape) {
  int32_t n = static_cast<int32_t>(state.range(0));
  Workload& workload = LoadWorkload(shape, n);
  float c = AngleLimit(kAngleTolerance);
  int32_t kept = 0;
  for (auto _ : state) {
    kept = AngleFilter(workload.points.data(), n, c, workload.kept.data());
    benchmark::ClobberMemory();
  }
  SetSampleCounters(state, n);
  state.counters["kept"] = kept;
}

#if VESTREL_HAVE_BOOST_GEOMETRY
void BM_BoostDouglasPeucker(benchmark::State& state, PathShape shape) {
  int32_t n = static_cast<int32_t>(state.range(0));
  Workload& workload = LoadWorkload(shape, n);
  if (workload.tolerance < 0.0) {
    static std::map<std::pair<PathShape, int32_t>, double> tolerances;
    auto found = tolerances.find({shape, n});
    if (found == tolerances.end())
      found = tolerances.emplace(std::make_pair(shape, n), MatchingTolerance(shape, n)).first;
    workload.tolerance = found->second;
    workload.boostLine = ToBoostLine(MakePath(shape, n));
  }
  BoostLine kept;
  for (auto _ : state) {
    kept.clear();
    bg::simplify(workload.boostLine, kept, workload.tolerance);
    benchmark::DoNotOptimize(kept.data());
  }
  SetSampleCounters(state, n);
  state.counters["kept"] = static_cast<double>(kept.size());
  state.counters["tolerance"] = workload.tolerance;
}
#endif

// Every shape at 1 thousand, 100 thousand, 1 million and 10 million samples;
// the contenders of one path run one after the other, on one copy of it.
const bool registered = [] {
  benchmark::AddCustomContext("sweep", SweepVariantName(ChosenSweepVariant()));
  for (PathShape shape : kAllShapes) {
    for (int64_t n : {1000, 100000, 1000000, 10000000}) {
      std::string path = ShapeName(shape);
      benchmark::RegisterBenchmark(("SimplifyPath/" + path).c_str(), BM_SimplifyPath, shape)
          ->Arg(n)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("Baseline/" + path).c_str(), BM_Baseline, shape)
          ->Arg(n)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("ReumannWitkam/" + path).c_str(), BM_ReumannWitkam, shape)
          ->Arg(n)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("AngleFilter/" + path).c_str(), BM_AngleFilter, shape)
          ->Arg(n)
          ->Unit(benchmark::kMicrosecond);
#if VESTREL_HAVE_BOOST_GEOMETRY
      benchmark::RegisterBenchmark(("BoostDouglasPeucker/" + path).c_str(), BM_BoostDouglasPeucker,
                                   shape)
          ->Arg(n)
          ->Unit(benchmark::kMicrosecond);
#endif
    }
  }
  return true;
}();

}  // namespace
