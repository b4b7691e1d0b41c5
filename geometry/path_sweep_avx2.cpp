// The sweep in lanes of eight samples, every function of this file compiled
// for AVX2 (the pragmas below); path_sweep.cpp calls it only once the
// processor has said it runs AVX2. Headers that define functions come before
// the pragmas, and the lane type (so the sweep's instantiation) is local to
// this file: no function compiled for AVX2 can stand in for another one.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "geometry/path_simplify.h"
#include "geometry/path_sweep.h"
#include "geometry/vector_math.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "geometry/path_sweep_lanes.h"

namespace {

struct EightLanes {
  static constexpr int kCount = 8;
  typedef float Floats __attribute__((vector_size(32)));
  typedef int32_t Flags __attribute__((vector_size(32)));

  static Floats Root(Floats v) { return _mm256_sqrt_ps(v); }
  static int Bits(Flags flags) { return _mm256_movemask_ps(reinterpret_cast<__m256>(flags)); }
  static Floats Broadcast(float value) { return _mm256_set1_ps(value); }
  static Floats ShiftAcross(Floats u, Floats v) {
    return __builtin_shufflevector(u, v, 7, 8, 9, 10, 11, 12, 13, 14);
  }
  static Floats ShiftOut(Floats v, float last) {
    return __builtin_shufflevector(v, Floats{last}, 1, 2, 3, 4, 5, 6, 7, 8);
  }

  static __m256 Pair(const PathNode* nodes, int k) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(&nodes[k].point.x)),
                                _mm_loadu_ps(&nodes[k + 4].point.x), 1);
  }

  // Nodes k and k + 4 share a register, and the 4 x 4 transposition of
  // each half gives x, y and z of the eight nodes in order.
  static void Transpose(const PathNode* nodes, Floats* x, Floats* y, Floats* z) {
    __m256 p0 = Pair(nodes, 0), p1 = Pair(nodes, 1), p2 = Pair(nodes, 2), p3 = Pair(nodes, 3);
    __m256 xy01 = _mm256_unpacklo_ps(p0, p1), xy23 = _mm256_unpacklo_ps(p2, p3);
    __m256 zu01 = _mm256_unpackhi_ps(p0, p1), zu23 = _mm256_unpackhi_ps(p2, p3);
    *x = _mm256_shuffle_ps(xy01, xy23, _MM_SHUFFLE(1, 0, 1, 0));
    *y = _mm256_shuffle_ps(xy01, xy23, _MM_SHUFFLE(3, 2, 3, 2));
    *z = _mm256_shuffle_ps(zu01, zu23, _MM_SHUFFLE(1, 0, 1, 0));
  }
};

}  // namespace

int SweepInEightLanes(PathNode* nodes, int n, float c, SweepChains* chains) {
  return LaneSweep<EightLanes>::Run(nodes, n, c, chains);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
