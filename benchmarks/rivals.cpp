#include "benchmarks/rivals.h"

#include <cmath>

int32_t ReumannWitkam(const Fxyzu* points, int32_t n, float tolerance, Fxyzu* kept) {
  if (n <= 2) {
    for (int32_t k = 0; k < n; ++k) kept[k] = points[k];
    return n;
  }
  const float limit = tolerance * tolerance;
  int32_t count = 0;
  kept[count++] = points[0];
  // The strip's line: through the key point, along the unit direction to its
  // successor.
  int32_t key = 0;
  float ux = points[1].x - points[0].x, uy = points[1].y - points[0].y,
        uz = points[1].z - points[0].z;
  float length = std::sqrt(ux * ux + uy * uy + uz * uz);
  if (length > 0.0f) ux /= length, uy /= length, uz /= length;
  for (int32_t i = 2; i < n; ++i) {
    // Squared distance from the line: |(p - key) x u|^2.
    float dx = points[i].x - points[key].x, dy = points[i].y - points[key].y,
          dz = points[i].z - points[key].z;
    float cx = dy * uz - dz * uy, cy = dz * ux - dx * uz, cz = dx * uy - dy * ux;
    if (cx * cx + cy * cy + cz * cz <= limit) continue;
    key = i - 1;
    kept[count++] = points[key];
    ux = points[i].x - points[key].x, uy = points[i].y - points[key].y,
    uz = points[i].z - points[key].z;
    length = std::sqrt(ux * ux + uy * uy + uz * uz);
    if (length > 0.0f) ux /= length, uy /= length, uz /= length;
  }
  kept[count++] = points[n - 1];
  return count;
}

int32_t AngleFilter(const Fxyzu* points, int32_t n, float cosLimit, Fxyzu* kept) {
  if (n <= 2) {
    for (int32_t k = 0; k < n; ++k) kept[k] = points[k];
    return n;
  }
  int32_t count = 0;
  kept[count++] = points[0];
  Fxyzu last = points[0];
  for (int32_t i = 1; i < n - 1; ++i) {
    const Fxyzu& p = points[i];
    const Fxyzu& q = points[i + 1];
    float ax = p.x - last.x, ay = p.y - last.y, az = p.z - last.z;
    float bx = q.x - p.x, by = q.y - p.y, bz = q.z - p.z;
    // cos(angle) < cosLimit, without dividing: a.b < cosLimit |a| |b|.
    float dot = ax * bx + ay * by + az * bz;
    float lengths = std::sqrt((ax * ax + ay * ay + az * az) * (bx * bx + by * by + bz * bz));
    if (dot < cosLimit * lengths) {
      kept[count++] = p;
      last = p;
    }
  }
  kept[count++] = points[n - 1];
  return count;
}
