// Pascal strings (Str255) as the host's records carry them, and the
// process-wide ring of twenty temporary buffers.
//
// A Str255 is 256 bytes: a length byte n (0 to 255), then n characters and no
// terminator. A ring buffer stays valid until twenty further buffers have been
// handed out (by PStrNext, PS, or PStrPToC / PStrCpy with a null destination);
// whoever needs a string longer copies it.
#ifndef VESTREL_HOST_PASCAL_STRING_H
#define VESTREL_HOST_PASCAL_STRING_H

#include <stdint.h>

typedef unsigned char Str255[256];

constexpr int32_t kStringRingSize = 20;
constexpr int32_t kMaxPascalLength = 255;

// The next 256-byte buffer of the ring; it is not cleared.
unsigned char* PStrNext();

// Turns the zero-terminated string in s into a Pascal string in place and
// returns s. A text of more than 255 characters keeps its first 255; the bytes
// behind them are left as they were.
unsigned char* PStrC2P(char* s);

// Writes the Pascal string p as a zero-terminated string into dst (n + 1
// bytes), or into the next ring buffer when dst is null. p and dst may be the
// same buffer.
char* PStrPToC(const unsigned char* p, char* dst);

// A ring buffer holding s as a Pascal string (at most 255 characters).
unsigned char* PS(const char* s);

// Copies the Pascal string src into dst (exactly n + 1 bytes), or into the
// next ring buffer when dst is null.
unsigned char* PStrCpy(unsigned char* dst, const unsigned char* src);

#endif
