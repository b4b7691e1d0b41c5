#include "host/pascal_string.h"

namespace {

unsigned char pStrQueue[kStringRingSize][256];
int32_t pStrQueueIndex = 0;  // the buffer to hand out next; 20 stands for 0

int32_t CappedLength(const char* s) {
  int32_t n = 0;
  while (s[n] != 0 && n < kMaxPascalLength) ++n;
  return n;
}

}  // namespace

unsigned char* PStrNext() {
  int32_t index = pStrQueueIndex == kStringRingSize ? 0 : pStrQueueIndex;
  pStrQueueIndex = index + 1;
  return pStrQueue[index];
}

unsigned char* PStrC2P(char* s) {
  int32_t n = CappedLength(s);
  // Moving the characters up from the end lets the conversion work in place.
  for (int32_t k = n; k >= 1; --k) s[k] = s[k - 1];
  s[0] = static_cast<char>(n);
  return reinterpret_cast<unsigned char*>(s);
}

char* PStrPToC(const unsigned char* p, char* dst) {
  int32_t n = p[0];
  if (dst == nullptr) dst = reinterpret_cast<char*>(PStrNext());
  // Ascending, so that p and dst may be the same buffer.
  for (int32_t k = 0; k < n; ++k) dst[k] = static_cast<char>(p[k + 1]);
  dst[n] = 0;
  return dst;
}

unsigned char* PS(const char* s) {
  unsigned char* b = PStrNext();
  int32_t n = CappedLength(s);
  b[0] = static_cast<unsigned char>(n);
  for (int32_t k = n; k >= 1; --k) b[k] = static_cast<unsigned char>(s[k - 1]);
  return b;
}

unsigned char* PStrCpy(unsigned char* dst, const unsigned char* src) {
  int32_t n = src[0];
  if (dst == nullptr) dst = PStrNext();
  dst[0] = static_cast<unsigned char>(n);
  for (int32_t k = n; k >= 1; --k) dst[k] = src[k];
  return dst;
}
