// What the fuzz targets share: a reader that takes typed values off the
// fuzzer's bytes, and the check that stops a run when a promise is broken.
#ifndef VESTREL_FUZZ_FUZZ_SUPPORT_H
#define VESTREL_FUZZ_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

// Takes values off the input from the front; past its end every value is 0.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  template <typename T>
  T Take() {
    T value;
    memset(&value, 0, sizeof value);
    size_t n = size_ - used_ < sizeof value ? size_ - used_ : sizeof value;
    memcpy(&value, data_ + used_, n);
    used_ += n;
    return value;
  }

  // Up to limit bytes of what is left.
  std::vector<uint8_t> Bytes(size_t limit) {
    size_t n = size_ - used_ < limit ? size_ - used_ : limit;
    std::vector<uint8_t> bytes(data_ + used_, data_ + used_ + n);
    used_ += n;
    return bytes;
  }

  std::vector<uint8_t> Rest() { return Bytes(size_ - used_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

// A broken promise is a crash for the fuzzer: it saves the input.
#define FUZZ_REQUIRE(condition, what)                                                  \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      fprintf(stderr, "fuzz: broken promise: %s (%s:%d)\n", what, __FILE__, __LINE__); \
      abort();                                                                         \
    }                                                                                  \
  } while (0)

#endif
