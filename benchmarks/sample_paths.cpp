#include "benchmarks/sample_paths.h"

#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kHelixRadius = 10.0;
constexpr double kHelixStep = 0.2 * kPi / 180.0;  // radians a frame: 1800 frames a turn
constexpr double kHelixHeight = 20.0;
constexpr double kHelixRiseSlowdown = 50.0;  // up and down once in 50 turns
constexpr double kNoiseAmplitude = 0.05;     // above the 0.035 a frame of the helix
constexpr int32_t kMovingFrames = 100;
constexpr int32_t kPausedFrames = 50;

// A small reproducible generator (splitmix64): the same noise on every
// compiler and standard library.
class Noise {
 public:
  // Uniform in [-1, 1).
  double Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 4503599627370496.0 - 1.0;  // 2^52
  }

 private:
  uint64_t state_ = 12345;
};

Fxyzu Sample(double x, double y, double z, int32_t frame) {
  return Fxyzu{static_cast<float>(x), static_cast<float>(y), static_cast<float>(z),
               static_cast<float>(frame)};
}

Fxyzu HelixAt(double steps, int32_t frame) {
  double t = steps * kHelixStep;
  return Sample(kHelixRadius * std::cos(t), kHelixRadius * std::sin(t),
                kHelixHeight * std::sin(t / kHelixRiseSlowdown), frame);
}

}  // namespace

std::string ShapeName(PathShape shape) {
  switch (shape) {
    case PathShape::kHelix: return "helix";
    case PathShape::kNoisyHelix: return "noisy";
    case PathShape::kStraight: return "straight";
    case PathShape::kStandStill: return "still";
    case PathShape::kPauses: return "pauses";
  }
  return "?";
}

std::vector<Fxyzu> MakePath(PathShape shape, int32_t n) {
  std::vector<Fxyzu> samples;
  samples.reserve(n);
  Noise noise;
  for (int32_t k = 0; k < n; ++k) {
    switch (shape) {
      case PathShape::kHelix: samples.push_back(HelixAt(k, k)); break;
      case PathShape::kNoisyHelix: {
        Fxyzu p = HelixAt(k, k);
        samples.push_back(Sample(p.x + kNoiseAmplitude * noise.Next(),
                                 p.y + kNoiseAmplitude * noise.Next(),
                                 p.z + kNoiseAmplitude * noise.Next(), k));
        break;
      }
      case PathShape::kStraight: samples.push_back(Sample(k, 2.0 * k, 2.0 * k, k)); break;
      case PathShape::kStandStill: samples.push_back(Sample(5.0, -3.0, 1.5, k)); break;
      case PathShape::kPauses: {
        int32_t cycle = k / (kMovingFrames + kPausedFrames);
        int32_t within = k % (kMovingFrames + kPausedFrames);
        int32_t moved = cycle * kMovingFrames + (within < kMovingFrames ? within : kMovingFrames);
        samples.push_back(HelixAt(moved, k));
        break;
      }
    }
  }
  return samples;
}
