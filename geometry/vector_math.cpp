#include "geometry/vector_math.h"

#include <cmath>

Fxyz& Fxyz::operator/=(float d) {
  x /= d;
  y /= d;
  z /= d;
  return *this;
}

Fxyz& Fxyz::Nor() {
  float sumOfSquares = (x * x + y * y) + z * z;
  float length = std::sqrt(sumOfSquares);  // the float overload: a single-precision root
  return *this /= length;
}

Fxyz operator-(const Fxyz& a, const Fxyz& b) { return Fxyz{a.x - b.x, a.y - b.y, a.z - b.z}; }

float Dot(const Fxyz& a, const Fxyz& b) { return (a.x * b.x + a.y * b.y) + a.z * b.z; }

void TransformDCoordinate(double point[3], const double matrix[kMatrixElements]) {
  // All three coordinates are read before any is written, so the result in
  // place equals one into a fresh point.
  const double x = point[0];
  const double y = point[1];
  const double z = point[2];
  point[0] = ((x * matrix[0] + y * matrix[4]) + z * matrix[8]) + matrix[12];
  point[1] = ((x * matrix[1] + y * matrix[5]) + z * matrix[9]) + matrix[13];
  point[2] = ((x * matrix[2] + y * matrix[6]) + z * matrix[10]) + matrix[14];
}
