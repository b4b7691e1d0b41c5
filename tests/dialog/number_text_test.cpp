// Reals to dialog text and back: RealTrimStr, Num2Str, Str2Num, FixDouble.
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <string.h>

#include <limits>
#include <string>

#include "dialog/number_text.h"
#include "host/pascal_string.h"

namespace {

std::string Text(const unsigned char* p) {
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

uint64_t Bits(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

double FromBits(uint64_t bits) {
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

// A Pascal string of text, in a buffer of the test's own.
struct Pascal {
  unsigned char bytes[256];
  explicit Pascal(const std::string& text) {
    bytes[0] = static_cast<unsigned char>(text.size());
    memcpy(bytes + 1, text.data(), text.size());
  }
};

struct TrimCase {
  const char* behaviour;
  double value;
  int32_t digits;
  const char* text;
};

TEST(RealTrimStr, FormatsTrimsAndRewritesMinusZero) {
  const TrimCase cases[] = {
      {"whole number loses point and zero", 5.0, 1, "5"},
      {"significant decimal stays", 12.5, 1, "12.5"},
      {"zeros before the point stay", 10.0, 2, "10"},
      {"zero", 0.0, 1, "0"},
      {"no decimals: nothing to trim", 3.0, 0, "3"},
      {"no decimals keeps zeros of the integer", 100.0, 0, "100"},
      {"only trailing zeros go", 1.5, 3, "1.5"},
      {"rounds to the digits asked", 2.34, 1, "2.3"},
      {"small value rounds to zero", 0.04, 1, "0"},
      {"small negative trims to -0, written 0", -0.04, 1, "0"},
      {"negative zero written 0", -0.0, 1, "0"},
      {"negative with no decimals rounds to -0, written 0", -0.3, 0, "0"},
      {"only the exact text -0 is rewritten", -0.04, 2, "-0.04"},
      {"negative value keeps its sign", -10.0, 1, "-10"},
      {"negative digits: fixed, two zeros", 5.0, -2, "5.00"},
      {"negative digits: fixed, one zero", 5.0, -1, "5.0"},
      {"fixed mode has no minus-zero rule", -0.0, -1, "-0.0"},
      {"only the low 16 bits of digits: 0x10001 is 1", 5.25, 0x10001, "5.2"},
      {"0xFFFE is -2", 5.0, 0xFFFE, "5.00"},
      {"largest float with one decimal", 3.4028234663852886e38, 1,
       "340282346638528859811704183484516925440"},
  };
  for (const TrimCase& c : cases) {
    EXPECT_EQ(Text(RealTrimStr(c.value, c.digits)), c.text) << c.behaviour;
  }
}

TEST(RealTrimStr, Bit0x8000OfDigitsIsTheSign) {
  // -32768 decimals: a fixed text cut to the buffer's 255 characters.
  EXPECT_EQ(Text(RealTrimStr(1.0, 0x18000)), "1." + std::string(253, '0'));
}

TEST(RealTrimStr, UsesOneRingBufferPerCall) {
  unsigned char* first = RealTrimStr(1.0, 1);
  for (int k = 1; k < kStringRingSize; ++k) EXPECT_NE(RealTrimStr(1.0, 1), first) << "call " << k;
  EXPECT_EQ(RealTrimStr(1.0, 1), first);
}

TEST(Num2Str, FormatsWithoutTrimming) {
  unsigned char buffer[256];
  EXPECT_EQ(Text(Num2Str(0, 2.0, buffer)), "2");
  EXPECT_EQ(Text(Num2Str(-1, 2.0, buffer)), "2.0");
  EXPECT_EQ(Text(Num2Str(2, 10.0, buffer)), "10.00");
  EXPECT_EQ(Text(Num2Str(1, -0.04, buffer)), "-0.0");
  EXPECT_EQ(Num2Str(1, 1.0, buffer), buffer);
}

TEST(Num2Str, OverlongTextKeepsItsFirst255CharactersWithinTheBuffer) {
  // 1e300 with 10 decimals is 312 characters; a guard byte behind the buffer
  // shows whether the formatting ran past it.
  unsigned char bytes[257];
  bytes[256] = 0x5A;
  Num2Str(10, 1e300, bytes);
  EXPECT_EQ(bytes[0], 255);
  EXPECT_EQ(bytes[256], 0x5A);
  EXPECT_EQ(Text(Num2Str(INT32_MIN, 1.0, bytes)).substr(0, 4), "1.00");
  EXPECT_EQ(bytes[256], 0x5A);
}

struct ScanCase {
  const char* behaviour;
  const char* text;
  double value;
};

TEST(Str2Num, ReadsTheNumberAtTheStart) {
  const ScanCase cases[] = {
      {"decimal", "7.5", 7.5},
      {"leading blanks skipped, trailing letters ignored", " 12abc", 12.0},
      {"exponent", "1e2", 100.0},
      {"words after the number ignored", "5 degrees", 5.0},
      {"negative", "-10", -10.0},
      {"empty text gives 0", "", 0.0},
      {"no number gives 0", "abc", 0.0},
      {"a lone sign gives 0", "-", 0.0},
  };
  for (const ScanCase& c : cases) {
    Pascal text(c.text);
    EXPECT_EQ(Bits(Str2Num(text.bytes)), Bits(c.value)) << c.behaviour;
  }
  Pascal minusZero("-0");
  EXPECT_EQ(Bits(Str2Num(minusZero.bytes)), Bits(-0.0));
}

TEST(Str2Num, LeavesItsTextUnchanged) {
  Pascal text("3.25xyz");
  Pascal before = text;
  Str2Num(text.bytes);
  EXPECT_EQ(memcmp(text.bytes, before.bytes, 8), 0);
}

struct FixCase {
  const char* behaviour;
  uint64_t in;
  uint64_t out;
};

TEST(FixDouble, ClearsNegativeZeroInfinitiesAndNaNsOnly) {
  const uint64_t kPlusZero = 0;
  const FixCase cases[] = {
      {"negative zero", 0x8000000000000000ull, kPlusZero},
      {"positive zero", 0, 0},
      {"+infinity", 0x7FF0000000000000ull, kPlusZero},
      {"-infinity", 0xFFF0000000000000ull, kPlusZero},
      {"quiet NaN", 0x7FF8000000000000ull, kPlusZero},
      {"signalling NaN", 0x7FF0000000000001ull, kPlusZero},
      {"negative NaN", 0xFFF8000000000123ull, kPlusZero},
      {"-2.0 stays", Bits(-2.0), Bits(-2.0)},
      {"largest finite stays", Bits(std::numeric_limits<double>::max()),
       Bits(std::numeric_limits<double>::max())},
      {"negative subnormal stays", 0x8000000000000001ull, 0x8000000000000001ull},
      {"positive subnormal stays", 0x000FFFFFFFFFFFFFull, 0x000FFFFFFFFFFFFFull},
  };
  for (const FixCase& c : cases) EXPECT_EQ(Bits(FixDouble(FromBits(c.in))), c.out) << c.behaviour;
}

}  // namespace
