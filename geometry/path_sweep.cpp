// The sweep's variants and the choice among them. LaneSweep runs here in lanes
// of four samples, which every processor runs (SSE2 on x86, plain loops
// elsewhere); path_sweep_avx2.cpp has the eight-lane variant for AVX2, which
// is only called once the processor has said it runs AVX2, so that the module
// still loads and runs on any x86 processor.
#include "geometry/path_sweep.h"

#include <cmath>

#include "geometry/path_sweep_lanes.h"

#if defined(__x86_64__) || defined(__i386__)
#define VESTREL_SWEEP_HAS_AVX2_VARIANT 1
#include <cpuid.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct FourLanes {
  static constexpr int kCount = 4;
  typedef float Floats __attribute__((vector_size(16)));
  typedef int32_t Flags __attribute__((vector_size(16)));

#if defined(__SSE2__)
  static Floats Root(Floats v) { return _mm_sqrt_ps(v); }
  static int Bits(Flags flags) { return _mm_movemask_ps(reinterpret_cast<__m128>(flags)); }

  // The 4 x 4 transposition of the nodes' x, y, z and u.
  static void Transpose(const PathNode* nodes, Floats* x, Floats* y, Floats* z) {
    __m128 a = _mm_loadu_ps(&nodes[0].point.x), b = _mm_loadu_ps(&nodes[1].point.x);
    __m128 c = _mm_loadu_ps(&nodes[2].point.x), d = _mm_loadu_ps(&nodes[3].point.x);
    __m128 xy01 = _mm_unpacklo_ps(a, b), xy23 = _mm_unpacklo_ps(c, d);
    *x = _mm_movelh_ps(xy01, xy23);
    *y = _mm_movehl_ps(xy23, xy01);
    *z = _mm_movelh_ps(_mm_unpackhi_ps(a, b), _mm_unpackhi_ps(c, d));
  }
  // Two instructions each, where SSE2 has no blend for the general shuffle.
  static Floats ShiftAcross(Floats u, Floats v) {
    __m128 joined = _mm_shuffle_ps(u, v, _MM_SHUFFLE(0, 0, 3, 3));  // (u3, u3, v0, v0)
    return _mm_shuffle_ps(joined, v, _MM_SHUFFLE(2, 1, 2, 0));
  }
  static Floats ShiftOut(Floats v, float last) {
    __m128 rotated = _mm_move_ss(v, _mm_set_ss(last));  // (last, v[1], v[2], v[3])
    return _mm_shuffle_ps(rotated, rotated, _MM_SHUFFLE(0, 3, 2, 1));
  }
#else
  static Floats Root(Floats v) {
    return Floats{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
  }
  static int Bits(Flags f) {
    return (f[0] != 0) | (f[1] != 0) << 1 | (f[2] != 0) << 2 | (f[3] != 0) << 3;
  }
  static void Transpose(const PathNode* nodes, Floats* x, Floats* y, Floats* z) {
    for (int lane = 0; lane < kCount; ++lane)
      (*x)[lane] = nodes[lane].point.x, (*y)[lane] = nodes[lane].point.y,
      (*z)[lane] = nodes[lane].point.z;
  }
  static Floats ShiftAcross(Floats u, Floats v) { return Floats{u[3], v[0], v[1], v[2]}; }
  static Floats ShiftOut(Floats v, float last) { return Floats{v[1], v[2], v[3], last}; }
#endif
  static Floats Broadcast(float value) { return Floats{value, value, value, value}; }
};

#if VESTREL_SWEEP_HAS_AVX2_VARIANT
// Whether the processor executes AVX2 and the operating system saves the
// 256-bit registers on a task switch. Asked with cpuid and xgetbv directly:
// the compiler's own feature test would tie the module to a run-time library
// symbol, and the plug-in links against nothing but the C and C++ runtime.
bool ProcessorRunsAvx2() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const unsigned kOsSavesState = 1u << 27;  // OSXSAVE: xgetbv may be used
  const unsigned kAvx = 1u << 28;
  if ((ecx & (kOsSavesState | kAvx)) != (kOsSavesState | kAvx)) return false;
  unsigned low = 0, high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  (void)high;
  const unsigned kSseAndAvxState = 0x6;  // XCR0: XMM and YMM registers saved
  if ((low & kSseAndAvxState) != kSseAndAvxState) return false;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const unsigned kAvx2 = 1u << 5;  // leaf 7, EBX
  return (ebx & kAvx2) != 0;
}
#endif

// Process-wide, set at the first SimplifyPath (the plug-in runs on the host's
// thread only). A plain variable without a dynamic initialiser: nothing runs
// when the module loads, and no guard of the runtime is needed.
bool chosenKnown = false;
SweepVariant chosen = SweepVariant::kFourLanes;
bool forcedKnown = false;
SweepVariant forced = SweepVariant::kFourLanes;

}  // namespace

int SweepInFourLanes(PathNode* nodes, int n, float c, SweepChains* chains) {
  return LaneSweep<FourLanes>::Run(nodes, n, c, chains);
}

const char* SweepVariantName(SweepVariant variant) {
  switch (variant) {
    case SweepVariant::kFourLanes: return "4 lanes";
    case SweepVariant::kEightLanes: return "8 lanes (AVX2)";
  }
  return "?";
}

bool SweepVariantRuns(SweepVariant variant, const char** why) {
  const char* missing = nullptr;
  switch (variant) {
    case SweepVariant::kFourLanes: break;
    case SweepVariant::kEightLanes:
#if VESTREL_SWEEP_HAS_AVX2_VARIANT
      if (!ProcessorRunsAvx2()) missing = "the processor (or its operating system) lacks AVX2";
#else
      missing = "not built for this processor (x86 only)";
#endif
      break;
  }
  if (why != nullptr) *why = missing;
  return missing == nullptr;
}

SweepVariant ChosenSweepVariant() {
  if (!chosenKnown) {
    chosen = SweepVariantRuns(SweepVariant::kEightLanes, nullptr) ? SweepVariant::kEightLanes
                                                                  : SweepVariant::kFourLanes;
    chosenKnown = true;
  }
  return chosen;
}

void UseSweepVariant(const SweepVariant* variant) {
  forcedKnown = variant != nullptr;
  if (variant != nullptr) forced = *variant;
}

int SweepPath(PathNode* nodes, int n, float c, SweepChains* chains) {
  SweepVariant variant = forcedKnown ? forced : ChosenSweepVariant();
#if VESTREL_SWEEP_HAS_AVX2_VARIANT
  if (variant == SweepVariant::kEightLanes) return SweepInEightLanes(nodes, n, c, chains);
#endif
  (void)variant;
  return SweepInFourLanes(nodes, n, c, chains);
}
