// The parameter block: everything of an instance that outlives one call. The
// host allocates it at the plug-in's request, saves it with the scene and hands
// it back on every call, possibly written on a machine of the other byte
// order. Its byte layout is a file format, the same in every build:
//
//   0  magic 'ALIN'         4  angle tolerance (float, degrees)
//   8  freeze flag          12 reverse flag
//   16 reserved (16 bytes, never touched)
//   32 point count n        36 + 16 i  point i (x, y, z, u as floats)
//
// A block made for n points is 52 + 16 n bytes (52 for n <= 0): the header and
// one spare point slot more than it needs.
#ifndef VESTREL_CONTROLDATA_CONTROL_DATA_H
#define VESTREL_CONTROLDATA_CONTROL_DATA_H

#include <stddef.h>
#include <stdint.h>

// One stored point of the path: a position and the frame it was sampled at.
struct Fxyzu {
  float x;
  float y;
  float z;
  float u;  // the frame number, an integer held as a float
};

constexpr float kDefaultAngleTolerance = 5.0f;
constexpr int32_t kControlDataHeaderSize = 36;
constexpr int32_t kPointSize = 16;
constexpr int32_t kMinControlDataSize = 52;  // smaller blocks are treated as missing

class CControlData {
 public:
  uint32_t magic;        // 'ALIN' when the block is in this machine's byte order
  float angleTolerance;  // degrees; the simplification threshold
  int32_t freezeFlag;    // non-zero: 'SETM' keeps the stored path
  int32_t reverseFlag;   // non-zero: 'GENM' emits the path last point first
  uint8_t reserved[16];  // never read, never written
  int32_t pointCount;    // points that follow
  Fxyzu spareSlot;       // first point slot; the array runs on past the struct

  // Point i of the block, for 0 <= i < the count the block was sized for.
  Fxyzu* Point(int32_t i) {
    return reinterpret_cast<Fxyzu*>(reinterpret_cast<uint8_t*>(this) + kControlDataHeaderSize) + i;
  }

  // Brings a block of blockSize bytes (at least 52) into a sound native state:
  // a block in this byte order keeps every byte; one in the other byte order
  // has its fields reversed in place; one that is neither gets the defaults
  // (the reserved bytes and the point area are not touched). A point count that
  // is negative or more than the block can hold is bounded, so that nothing
  // past the block is ever read or written.
  void FixData(int32_t blockSize);

  // Magic, the default parameters and an empty path.
  void FillDefaults();

  // How many points a block of blockSize bytes can hold.
  static int32_t Capacity(int32_t blockSize);

 private:
  void BoundPointCount(int32_t blockSize);
};

static_assert(offsetof(CControlData, magic) == 0, "block layout");
static_assert(offsetof(CControlData, angleTolerance) == 4, "block layout");
static_assert(offsetof(CControlData, freezeFlag) == 8, "block layout");
static_assert(offsetof(CControlData, reverseFlag) == 12, "block layout");
static_assert(offsetof(CControlData, reserved) == 16, "block layout");
static_assert(offsetof(CControlData, pointCount) == 32, "block layout");
static_assert(offsetof(CControlData, spareSlot) == 36, "block layout");
static_assert(sizeof(CControlData) == kMinControlDataSize, "block layout");
static_assert(sizeof(Fxyzu) == kPointSize, "point layout");

// The size of a block made for n points: 52 + 16 n, and 52 for n <= 0. The
// caller keeps n so that the size fits a signed 32-bit value.
int32_t ControlDataSizeFor(int32_t n);

// Whether a block for n points still has a size that fits a signed 32-bit value.
bool ControlDataSizeFits(int64_t n);

// The single access path to the parameter block of the current call.
//   n < 0: fetch. The instance's block after byte-order repair, or, when it has
//          none (null, or smaller than 52 bytes), a new one with defaults.
//   n >= 0: resize the block for n points through the host and set its point
//          count to n; the caller then writes the points.
// Returns null when the host refused 'ALOC' (its error stays in theError and
// the old block is untouched) or answered with a block smaller than asked for.
// After every 'ALOC' the info record describes the host's new block, and the
// caller must not use any block address taken before.
CControlData* GetControlData(int32_t n);

// Reverses the order of length bytes at field, in place.
void ReverseField(void* field, int32_t length);

#endif
