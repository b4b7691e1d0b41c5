#include "hostkit/scene.h"

#include <math.h>

#include <algorithm>

namespace vhost {

Matrix4 IdentityMatrix() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

// ---------------------------------------------------------------------------
// Motion

namespace {

constexpr double kPi = 3.141592653589793;

Vec3 Lerp(const Vec3& a, const Vec3& b, double t) {
  return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}

Vec3 Add(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 Scale(const Vec3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }

// Tangent (units per frame) at key k: centred difference inside, zero at the
// ends so that the motion eases in and out.
Vec3 KeyTangent(const std::vector<Keyframe>& keys, size_t k) {
  if (k == 0 || k + 1 >= keys.size()) return {};
  const Keyframe& before = keys[k - 1];
  const Keyframe& after = keys[k + 1];
  double span = double(after.frame) - double(before.frame);
  return Scale(Add(after.position, Scale(before.position, -1)), 1.0 / span);
}

Vec3 SmoothSegment(const std::vector<Keyframe>& keys, size_t k, double t) {
  const Keyframe& a = keys[k];
  const Keyframe& b = keys[k + 1];
  double span = double(b.frame) - double(a.frame);
  double t2 = t * t, t3 = t2 * t;
  double h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t, h01 = -2 * t3 + 3 * t2, h11 = t3 - t2;
  Vec3 result = Scale(a.position, h00);
  result = Add(result, Scale(KeyTangent(keys, k), h10 * span));
  result = Add(result, Scale(b.position, h01));
  result = Add(result, Scale(KeyTangent(keys, k + 1), h11 * span));
  return result;
}

Vec3 KeyframesAt(const Motion& motion, int32_t frame) {
  const std::vector<Keyframe>& keys = motion.keys;
  if (keys.empty()) return {};
  if (frame <= keys.front().frame) return keys.front().position;
  if (frame >= keys.back().frame) return keys.back().position;
  // The segment whose start is the last key at or before the frame, found by
  // binary search: linear in frames overall, whatever the number of keys.
  auto after = std::upper_bound(keys.begin(), keys.end(), frame,
                                [](int32_t f, const Keyframe& key) { return f < key.frame; });
  size_t k = static_cast<size_t>(after - keys.begin()) - 1;
  double t = (double(frame) - keys[k].frame) / (double(keys[k + 1].frame) - keys[k].frame);
  if (motion.interpolation == Interpolation::kSmooth) return SmoothSegment(keys, k, t);
  return Lerp(keys[k].position, keys[k + 1].position, t);
}

// A point on a circle round the axis, risen by height along it.
Vec3 AroundAxis(const Motion& motion, double angle, double height) {
  double a = motion.radius * cos(angle), b = motion.radius * sin(angle);
  Vec3 offset;
  switch (motion.axis) {
    case 'x': offset = {height, a, b}; break;
    case 'y': offset = {b, height, a}; break;
    default: offset = {a, b, height}; break;
  }
  return Add(motion.center, offset);
}

Vec3 TurnAt(const Motion& motion, int32_t frame, double rise) {
  double turns = (double(frame) - motion.startFrame) / motion.framesPerTurn;
  return AroundAxis(motion, 2 * kPi * turns + motion.phaseDegrees * kPi / 180.0, rise * turns);
}

// The path: a pause at each point, then a straight run to the next one.
Vec3 PathAt(const Motion& motion, int32_t frame) {
  const std::vector<Vec3>& points = motion.points;
  if (points.empty()) return {};
  int64_t t = int64_t(frame) - motion.startFrame;
  if (t <= 0) return points.front();
  for (size_t k = 0; k + 1 < points.size(); ++k) {
    if (t <= motion.pauseFrames) return points[k];
    t -= motion.pauseFrames;
    if (t < motion.framesPerSegment)
      return Lerp(points[k], points[k + 1], double(t) / motion.framesPerSegment);
    t -= motion.framesPerSegment;
  }
  return points.back();
}

}  // namespace

Vec3 Motion::At(int32_t frame) const {
  switch (kind) {
    case MotionKind::kStatic: return position;
    case MotionKind::kKeyframes: return KeyframesAt(*this, frame);
    case MotionKind::kHelix: return TurnAt(*this, frame, risePerTurn);
    case MotionKind::kCircle: return TurnAt(*this, frame, 0);
    case MotionKind::kPath: return PathAt(*this, frame);
  }
  return position;
}

}  // namespace vhost
