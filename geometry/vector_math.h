// Small vector and matrix arithmetic of the path capture and line generation.
//
// Stored points and vertex positions must come out as the same bits on every
// compiler and processor, so every operation here fixes its precision and the
// order of its sums: Fxyz works in single precision throughout, the matrix
// transform in double precision. The plug-in is compiled without fused
// multiply-add contraction and without fast-math for the same reason.
#ifndef VESTREL_GEOMETRY_VECTOR_MATH_H
#define VESTREL_GEOMETRY_VECTOR_MATH_H

// Three single-precision floats; copied by value.
struct Fxyz {
  float x;
  float y;
  float z;

  // Divides x, y and z by d, in this order: three divisions, never a
  // multiplication by 1 / d, which rounds differently.
  Fxyz& operator/=(float d);

  // Normalises in place: divides by the single-precision root of
  // (x*x + y*y) + z*z. There is no test for a zero length: a zero vector
  // becomes three NaNs, which the path simplification relies on (every
  // comparison with a NaN is false).
  Fxyz& Nor();
};

static_assert(sizeof(Fxyz) == 12, "Fxyz is three floats without padding");

// a - b, component by component, in single precision.
Fxyz operator-(const Fxyz& a, const Fxyz& b);

// (a.x*b.x + a.y*b.y) + a.z*b.z, in single precision and in this order.
float Dot(const Fxyz& a, const Fxyz& b);

// A 4x4 matrix of doubles, row-major: element (row r, column c) at 4r + c.
constexpr int kMatrixElements = 16;

// Applies the matrix to the point (x, y, z) as the row vector (x, y, z, 1)
// times the matrix, in place. The translation is row 3 (elements 12, 13, 14);
// the fourth column is never read and there is no homogeneous division.
void TransformDCoordinate(double point[3], const double matrix[kMatrixElements]);

#endif
