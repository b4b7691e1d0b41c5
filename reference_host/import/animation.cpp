#include "reference_host/import/animation.h"

#include "hostkit/file_read.h"

#include <math.h>

#include <stdint.h>

#include <algorithm>

namespace vhost {

namespace {

using Value = std::array<double, 4>;
using Matrix = std::array<double, 16>;  // row-major, column vectors: p' = M p

Matrix Identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix m{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += a[r * 4 + k] * b[k * 4 + c];
      m[r * 4 + c] = sum;
    }
  return m;
}

Value Normalised(Value q) {
  double length = sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (!(length > 0)) return {0, 0, 0, 1};
  for (double& c : q) c /= length;
  return q;
}

// T * R * S, the order glTF composes a node's local transform in.
Matrix Compose(const Vec3& t, const Value& rotation, const Vec3& s) {
  Value q = Normalised(rotation);
  double x = q[0], y = q[1], z = q[2], w = q[3];
  double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - z * w),     2 * (x * z + y * w),
                 2 * (x * y + z * w),     1 - 2 * (x * x + z * z), 2 * (y * z - x * w),
                 2 * (x * z - y * w),     2 * (y * z + x * w),     1 - 2 * (x * x + y * y)};
  double scale[3] = {s.x, s.y, s.z};
  Matrix m = Identity();
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) m[row * 4 + col] = r[row * 3 + col] * scale[col];
  m[3] = t.x;
  m[7] = t.y;
  m[11] = t.z;
  return m;
}

Value Lerp(const Value& a, const Value& b, double s) {
  Value v;
  for (int i = 0; i < 4; ++i) v[i] = a[i] + (b[i] - a[i]) * s;
  return v;
}

// Spherical interpolation the short way round: q and -q are one rotation.
Value Slerp(const Value& a, Value b, double s) {
  double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  if (dot < 0) {
    for (double& c : b) c = -c;
    dot = -dot;
  }
  if (dot > 0.9995) return Normalised(Lerp(a, b, s));  // nearly equal: sin() loses precision
  double angle = acos(std::min(dot, 1.0));
  double wa = sin((1 - s) * angle) / sin(angle), wb = sin(s * angle) / sin(angle);
  Value v;
  for (int i = 0; i < 4; ++i) v[i] = wa * a[i] + wb * b[i];
  return Normalised(v);
}

bool Finite(const Value& v) {
  return isfinite(v[0]) && isfinite(v[1]) && isfinite(v[2]) && isfinite(v[3]);
}

const char* PathName(ChannelPath path) {
  switch (path) {
    case ChannelPath::kTranslation: return "translation";
    case ChannelPath::kRotation: return "rotation";
    case ChannelPath::kScale: return "scale";
  }
  return "?";
}

}  // namespace

double AnimationClip::Start() const {
  double start = INFINITY;
  for (const AnimationChannel& c : channels)
    if (!c.times.empty()) start = std::min(start, c.times.front());
  return isfinite(start) ? start : 0;
}

double AnimationClip::End() const {
  double end = -INFINITY;
  for (const AnimationChannel& c : channels)
    if (!c.times.empty()) end = std::max(end, c.times.back());
  return isfinite(end) ? end : 0;
}

double KeyTimeTolerance(double time) {
  // A float carries 24 bits: its rounding is below 6e-8 of the value; the
  // absolute part covers times near 0 and is far below any frame interval.
  return 1e-6 + 4e-7 * fabs(time);
}

std::string CheckClip(const AnimationFile& file, const AnimationClip& clip) {
  for (size_t i = 0; i < clip.channels.size(); ++i) {
    const AnimationChannel& c = clip.channels[i];
    std::string where = "animation \"" + clip.name + "\", channel " + std::to_string(i);
    if (c.node < 0 || size_t(c.node) >= file.nodes.size())
      return where + ": no such node " + std::to_string(c.node);
    where += " (" + std::string(PathName(c.path)) + " of \"" + file.nodes[c.node].name + "\")";
    if (c.times.empty()) return where + ": no keys";
    size_t perKey = c.interpolation == KeyInterpolation::kCubicSpline ? 3 : 1;
    if (c.values.size() != c.times.size() * perKey)
      return where + ": " + std::to_string(c.times.size()) + " key times but " +
             std::to_string(c.values.size()) + " values";
    for (size_t k = 0; k < c.times.size(); ++k) {
      if (!isfinite(c.times[k]))
        return where + ": key time " + std::to_string(k) + " is not finite";
      if (k > 0 && !(c.times[k] > c.times[k - 1]))
        return where + ": key times out of order (key " + std::to_string(k) + " at " +
               std::to_string(c.times[k]) + " s is not after " + std::to_string(c.times[k - 1]) +
               " s)";
    }
    for (size_t k = 0; k < c.values.size(); ++k)
      if (!Finite(c.values[k])) return where + ": value " + std::to_string(k) + " is not finite";
  }
  return {};
}

std::string CheckNodes(const AnimationFile& file) {
  // Each node is walked up once: state 1 marks the current walk (meeting it
  // again is a cycle), 2 a node whose depth is known.
  size_t count = file.nodes.size();
  std::vector<char> state(count, 0);
  std::vector<size_t> depth(count, 0);
  std::vector<int> walk;
  for (size_t i = 0; i < count; ++i) {
    walk.clear();
    int n = int(i);
    while (n >= 0 && state[size_t(n)] == 0) {
      state[size_t(n)] = 1;
      walk.push_back(n);
      n = file.nodes[size_t(n)].parent;
      if (n >= 0 && size_t(n) >= count)
        return "node " + std::to_string(walk.back()) + " has no valid parent";
    }
    if (n >= 0 && state[size_t(n)] == 1)
      return "the node tree has a cycle through node " + std::to_string(n);
    size_t d = n >= 0 ? depth[size_t(n)] : 0;
    for (auto it = walk.rbegin(); it != walk.rend(); ++it) {
      depth[size_t(*it)] = ++d;
      state[size_t(*it)] = 2;
    }
    if (d > kMaxNodeDepth)
      return "node \"" + file.nodes[i].name + "\" is deeper than " + std::to_string(kMaxNodeDepth) +
             " levels";
  }
  return {};
}

std::array<double, 4> EvaluateChannel(const AnimationChannel& c, double time) {
  bool cubic = c.interpolation == KeyInterpolation::kCubicSpline;
  bool rotation = c.path == ChannelPath::kRotation;
  auto keyValue = [&](size_t k) { return cubic ? c.values[k * 3 + 1] : c.values[k]; };
  auto finish = [&](const Value& v) { return rotation ? Normalised(v) : v; };
  double tolerance = KeyTimeTolerance(time);
  // The last key at or (within the tolerance) just after the time.
  size_t after =
      size_t(std::upper_bound(c.times.begin(), c.times.end(), time + tolerance) - c.times.begin());
  if (after == 0) return finish(keyValue(0));
  size_t k = after - 1;
  if (k + 1 == c.times.size() || fabs(time - c.times[k]) <= tolerance) return finish(keyValue(k));
  if (c.interpolation == KeyInterpolation::kStep) return finish(keyValue(k));
  double t0 = c.times[k], t1 = c.times[k + 1], d = t1 - t0;
  double s = std::clamp((time - t0) / d, 0.0, 1.0);
  if (!cubic)
    return rotation ? Slerp(keyValue(k), keyValue(k + 1), s)
                    : Lerp(keyValue(k), keyValue(k + 1), s);
  // Hermite: the tangents are per second, so they scale by the key interval.
  const Value& v0 = c.values[k * 3 + 1];
  const Value& out0 = c.values[k * 3 + 2];
  const Value& in1 = c.values[(k + 1) * 3];
  const Value& v1 = c.values[(k + 1) * 3 + 1];
  double s2 = s * s, s3 = s2 * s;
  double h00 = 2 * s3 - 3 * s2 + 1, h10 = s3 - 2 * s2 + s, h01 = -2 * s3 + 3 * s2, h11 = s3 - s2;
  Value v;
  for (int i = 0; i < 4; ++i)
    v[i] = h00 * v0[i] + h10 * d * out0[i] + h01 * v1[i] + h11 * d * in1[i];
  return finish(v);
}

NodeSampler::NodeSampler(const AnimationFile& file, const AnimationClip* clip, int node,
                         const Vec3& offset)
    : offset_(offset) {
  std::vector<size_t> linkOf(file.nodes.size(), SIZE_MAX);
  for (int n = node; n >= 0; n = file.nodes[size_t(n)].parent) {
    linkOf[size_t(n)] = chain_.size();
    chain_.push_back(Link{&file.nodes[size_t(n)], {}});
  }
  if (!clip) return;
  for (const AnimationChannel& channel : clip->channels) {
    size_t link = linkOf[size_t(channel.node)];
    if (link != SIZE_MAX) chain_[link].channels.push_back(&channel);
  }
}

Vec3 NodeSampler::At(double time) const {
  Matrix world = Identity();
  for (const Link& link : chain_) {
    const AnimationNode& an = *link.node;
    Matrix local;
    if (an.hasMatrix) {
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) local[r * 4 + c] = an.matrix[c * 4 + r];
    } else {
      Vec3 t = an.translation, s = an.scale;
      Value q = an.rotation;
      for (const AnimationChannel* channel : link.channels) {
        Value v = EvaluateChannel(*channel, time);
        switch (channel->path) {
          case ChannelPath::kTranslation: t = {v[0], v[1], v[2]}; break;
          case ChannelPath::kRotation: q = v; break;
          case ChannelPath::kScale: s = {v[0], v[1], v[2]}; break;
        }
      }
      local = Compose(t, q, s);
    }
    world = Multiply(local, world);  // the parent's transform applies after the child's
  }
  const Matrix& m = world;
  const Vec3& o = offset_;
  return {m[0] * o.x + m[1] * o.y + m[2] * o.z + m[3], m[4] * o.x + m[5] * o.y + m[6] * o.z + m[7],
          m[8] * o.x + m[9] * o.y + m[10] * o.z + m[11]};
}

std::vector<int> AnimatedNodes(const AnimationClip& clip) {
  std::vector<int> nodes;
  for (const AnimationChannel& c : clip.channels) nodes.push_back(c.node);
  std::sort(nodes.begin(), nodes.end());
  nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
  return nodes;
}

bool ReadAnimationBytes(const std::string& path, size_t maxBytes, std::string* bytes,
                        std::string* error) {
  std::string message;
  if (ReadRegularFile(path, "file", maxBytes, bytes, &message)) return true;
  // The message starts with the path, which the caller puts in front again.
  const std::string prefix = path + ": ";
  *error = message.compare(0, prefix.size(), prefix) == 0 ? message.substr(prefix.size()) : message;
  return false;
}

}  // namespace vhost
