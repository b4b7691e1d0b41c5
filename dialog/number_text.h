// Reals to dialog text and back.
//
// Texts are Pascal strings (Str255); temporary results come from the string
// ring (host/pascal_string.h). Formatting and scanning are the C library's
// ("%1.*lf", "%#1.*lf", "%lf") under its current numeric locale; trimming and
// the '-0' rule recognise only the character '.'.
#ifndef VESTREL_DIALOG_NUMBER_TEXT_H
#define VESTREL_DIALOG_NUMBER_TEXT_H

#include <stdint.h>

// Formats value into buffer (256 bytes) and returns it as a Pascal string.
// digits >= 0: exactly digits decimals ("%1.*lf").
// digits < 0: exactly -digits decimals after a point that is always written
// ("%#1.*lf"). Nothing is trimmed. A text longer than 255 characters keeps
// its first 255.
unsigned char* Num2Str(int32_t digits, double value, unsigned char* buffer);

// Formats value into the next buffer of the string ring. Only the low 16 bits
// of digits count, as a signed 16-bit number (0x10001 is 1, 0xFFFE is -2).
// digits >= 0: at most digits decimals; trailing zeros of the decimals are
// removed, and the point too when nothing remains after it ('10.00' -> '10');
// a result of exactly '-0' becomes '0'.
// digits < 0: Num2Str's fixed form, unchanged ('5.00' for -2).
unsigned char* RealTrimStr(double value, int32_t digits);

// The real at the start of the Pascal string text (leading white space
// skipped, anything after the number ignored); the text is left unchanged and
// one ring buffer is used. A text that holds no number gives 0.0.
double Str2Num(const unsigned char* text);

// value, except that negative zero, both infinities and every NaN become
// +0.0. Decided on the bit pattern alone.
double FixDouble(double value);

#endif
