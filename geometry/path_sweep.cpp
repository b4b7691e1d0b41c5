// The sweep's variants and the choice among them.
//
// path_sweep_lanes.inc holds the sweep, written for any number of lanes; it is
// included here once per variant, each time in a namespace of its own, with
//   VESTREL_SWEEP_LANES   how many samples a vector holds (4 or 8)
//   VESTREL_SWEEP_TARGET  the attribute every function of the variant carries
//   VESTREL_SWEEP_AVX2    1 when the 8-lane vectors use AVX2 instructions
// The eight-lane variant is compiled for AVX2 by its functions' target
// attribute alone, so the module still loads and runs on any x86 processor;
// it is only called once the processor has said it runs AVX2.
#include "geometry/path_sweep.h"

#include <string.h>

#include <cmath>

#include "geometry/vector_math.h"

#if defined(__x86_64__) || defined(__i386__)
#define VESTREL_SWEEP_HAS_AVX2_VARIANT 1
#include <cpuid.h>
#include <immintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

namespace four_lanes {
#define VESTREL_SWEEP_LANES 4
#define VESTREL_SWEEP_TARGET
#define VESTREL_SWEEP_AVX2 0
#include "geometry/path_sweep_lanes.inc"
#undef VESTREL_SWEEP_LANES
#undef VESTREL_SWEEP_TARGET
#undef VESTREL_SWEEP_AVX2
}  // namespace four_lanes

#if VESTREL_SWEEP_HAS_AVX2_VARIANT
namespace eight_lanes {
#define VESTREL_SWEEP_LANES 8
#define VESTREL_SWEEP_TARGET __attribute__((target("avx2")))
#define VESTREL_SWEEP_AVX2 1
#include "geometry/path_sweep_lanes.inc"
#undef VESTREL_SWEEP_LANES
#undef VESTREL_SWEEP_TARGET
#undef VESTREL_SWEEP_AVX2
}  // namespace eight_lanes

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

typedef int (*SweepFunction)(PathNode* nodes, int n, float c, SweepChains* chains);

SweepFunction FunctionOf(SweepVariant variant) {
#if VESTREL_SWEEP_HAS_AVX2_VARIANT
  if (variant == SweepVariant::kEightLanes) return &eight_lanes::Sweep;
#endif
  (void)variant;
  return &four_lanes::Sweep;
}

// Process-wide, set at the first SimplifyPath (the plug-in runs on the host's
// thread only). A plain variable without a dynamic initialiser: nothing runs
// when the module loads, and no guard of the runtime is needed.
bool chosenKnown = false;
SweepVariant chosen = SweepVariant::kFourLanes;
bool forcedKnown = false;
SweepVariant forced = SweepVariant::kFourLanes;

}  // namespace

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
  return FunctionOf(variant)(nodes, n, c, chains);
}
