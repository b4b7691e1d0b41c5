// Vector normalisation and the matrix transform, down to the bits: a change of
// compiler flags (contraction into fused multiply-add, fast-math, a double
// root, a multiplication by the reciprocal) shows here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "geometry/vector_math.h"

namespace {

uint32_t Bits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

uint64_t Bits(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

struct NorCase {
  const char* name;
  Fxyz in;
  uint32_t x, y, z;  // expected bits
};
void PrintTo(const NorCase& c, std::ostream* out) { *out << c.name; }

class NorBits : public ::testing::TestWithParam<NorCase> {};

TEST_P(NorBits, GivesTheSinglePrecisionResult) {
  const NorCase& c = GetParam();
  Fxyz v = c.in;
  Fxyz& result = v.Nor();
  EXPECT_EQ(&result, &v) << "Nor returns the vector itself";
  EXPECT_EQ(Bits(v.x), c.x);
  EXPECT_EQ(Bits(v.y), c.y);
  EXPECT_EQ(Bits(v.z), c.z);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, NorBits,
    ::testing::Values(NorCase{"three_four_zero", {3, 4, 0}, 0x3F19999A, 0x3F4CCCCD, 0x00000000},
                      // Divided: multiplying by 1/length gives ...044, ...0d6, ...91e here;
                      // a double root or a fused sum of squares changes the length.
                      NorCase{"three_divisions_not_a_reciprocal",
                              {-0x1.91964p+2f, -0x1.1ef2dp+1f, -0x1.8b5d5p+1f},
                              0xBF5AB823,
                              0xBE9C486C,
                              0xBED75490}),
    [](const ::testing::TestParamInfo<NorCase>& info) { return info.param.name; });

TEST(Nor, ZeroVectorBecomesThreeNaNs) {
  Fxyz v{0, 0, 0};
  v.Nor();
  EXPECT_TRUE(std::isnan(v.x) && std::isnan(v.y) && std::isnan(v.z));
}

TEST(Nor, InfiniteComponentBecomesNaNAndTheOthersZero) {
  Fxyz v{INFINITY, 2, -3};
  v.Nor();
  EXPECT_TRUE(std::isnan(v.x));
  EXPECT_EQ(Bits(v.y), 0u);
  EXPECT_EQ(Bits(v.z), 0x80000000u);  // -3 / inf is -0
}

TEST(FxyzDivide, ByZeroGivesSignedInfinitiesAndNaNForZero) {
  Fxyz v{1, -2, 0};
  Fxyz& result = (v /= 0.0f);
  EXPECT_EQ(&result, &v);
  EXPECT_EQ(v.x, INFINITY);
  EXPECT_EQ(v.y, -INFINITY);
  EXPECT_TRUE(std::isnan(v.z));
}

TEST(Dot, SumsInSingleOrder) {
  // (1e8 * 1 + 1 * 1) + (-1e8 * 1): the 1 is lost in single precision.
  EXPECT_EQ(Dot(Fxyz{1e8f, 1, -1e8f}, Fxyz{1, 1, 1}), 0.0f);
}

TEST(TransformDCoordinate, IdentityLeavesThePoint) {
  double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  double p[3] = {0.1, -2.5, 1e300};
  TransformDCoordinate(p, m);
  EXPECT_EQ(p[0], 0.1);
  EXPECT_EQ(p[1], -2.5);
  EXPECT_EQ(p[2], 1e300);
}

TEST(TransformDCoordinate, FourthColumnPlaysNoPart) {
  double m[16] = {1, 0, 0, 7, 0, 1, 0, NAN, 0, 0, 1, -3, 10, 20, 30, 0};
  double p[3] = {1, 2, 3};
  TransformDCoordinate(p, m);
  EXPECT_EQ(p[0], 11);
  EXPECT_EQ(p[1], 22);
  EXPECT_EQ(p[2], 33);
}

TEST(TransformDCoordinate, AppliesRowVectorTimesMatrix) {
  double m[16] = {};
  m[4] = 1;  // row 1, column 0: y goes into x
  m[10] = 1;
  double p[3] = {1, 2, 3};
  TransformDCoordinate(p, m);
  EXPECT_EQ(p[0], 2);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 3);
}

TEST(TransformDCoordinate, SumsInTheFixedOrderWithoutFusedMultiplyAdd) {
  double m[16] = {1.1, 2.3, -0.7, 9, 0.3, 1.7, 0.9, 9, -1.3, 0.11, 2.9, 9, 0.01, -5.5, 7.25, 9};
  double p[3] = {0.1, 0.2, 0.3};
  TransformDCoordinate(p, m);
  // x differs when the products are fused, z when the sum runs from the back.
  EXPECT_EQ(Bits(p[0]), Bits(-0x1.ae147ae147ae1p-3));
  EXPECT_EQ(Bits(p[1]), Bits(-0x1.396872b020c4ap+2));
  EXPECT_EQ(Bits(p[2]), Bits(0x1.075c28f5c28f6p+3));
}

}  // namespace
