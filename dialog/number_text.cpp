#include "dialog/number_text.h"

#include <stdio.h>
#include <string.h>

#include "host/pascal_string.h"

namespace {

constexpr int32_t kTextBufferSize = 256;

// A double has at most 1074 decimals before its exact expansion ends, so any
// larger precision only appends zeros. Capping it keeps the text's first 255
// characters as they were and the formatting's work bounded.
constexpr int64_t kMaxPrecision = 1100;

int32_t CappedPrecision(int64_t precision) {
  return static_cast<int32_t>(precision > kMaxPrecision ? kMaxPrecision : precision);
}

uint64_t BitsOf(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Position (1-based) of the first '.' in the Pascal string s, or 0.
int32_t DecimalPointPosition(const unsigned char* s) {
  for (int32_t k = 1; k <= s[0]; ++k) {
    if (s[k] == '.') return k;
  }
  return 0;
}

// Removes trailing '0's after the point, and the point itself once no decimal
// remains. Characters before the point are never removed.
void TrimDecimals(unsigned char* s, int32_t point) {
  int32_t length = s[0];
  while (length >= point && (s[length] == '0' || s[length] == '.')) --length;
  s[0] = static_cast<unsigned char>(length);
}

}  // namespace

unsigned char* Num2Str(int32_t digits, double value, unsigned char* buffer) {
  char* text = reinterpret_cast<char*>(buffer);
  // snprintf rather than sprintf: an overlong text is cut to 255 characters
  // instead of running past the buffer.
  if (digits >= 0) {
    snprintf(text, kTextBufferSize, "%1.*lf", CappedPrecision(digits), value);
  } else {
    snprintf(text, kTextBufferSize, "%#1.*lf", CappedPrecision(-int64_t(digits)), value);
  }
  return PStrC2P(text);
}

unsigned char* RealTrimStr(double value, int32_t digits) {
  unsigned char* buffer = PStrNext();
  int16_t lowDigits = static_cast<int16_t>(static_cast<uint16_t>(digits & 0xFFFF));
  Num2Str(lowDigits, value, buffer);
  if (lowDigits < 0) return buffer;  // fixed mode: the zeros stay

  int32_t point = DecimalPointPosition(buffer);
  if (point != 0) TrimDecimals(buffer, point);
  // A small negative value trimmed to '-0' reads as plain zero.
  if (buffer[0] == 2 && buffer[1] == '-' && buffer[2] == '0') {
    buffer[0] = 1;
    buffer[1] = '0';
  }
  return buffer;
}

double Str2Num(const unsigned char* text) {
  // When the scan converts nothing (an empty text, or one that starts with a
  // letter) the value keeps this 0.0: the dialog then stores an angle of 0.
  double value = 0.0;
  sscanf(PStrPToC(text, nullptr), "%lf", &value);
  return value;
}

double FixDouble(double value) {
  constexpr uint64_t kNegativeZero = 0x8000000000000000ull;
  constexpr uint64_t kExponentMask = 0x7FF0000000000000ull;  // all ones: infinity or NaN
  uint64_t bits = BitsOf(value);
  if (bits == kNegativeZero || (bits & kExponentMask) == kExponentMask) return 0.0;
  return value;
}
