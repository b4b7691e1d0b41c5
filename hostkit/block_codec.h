// The parameter block as the host side reads, writes and expects it, from its
// byte layout alone (never from the plug-in's code), so that a block the
// plug-in lays out wrongly is caught rather than trusted:
//   0 magic 'ALIN'   4 angle tolerance (float)   8 freeze flag   12 reverse flag
//   16 reserved (16 bytes)   32 point count n   36 + 16 i: point i (x, y, z, u floats)
// A block is stored in the byte order of the machine that wrote it.
#ifndef VESTREL_HOSTKIT_BLOCK_CODEC_H
#define VESTREL_HOSTKIT_BLOCK_CODEC_H

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <string>
#include <vector>

namespace vhost {

constexpr uint32_t kBlockMagic = 0x414C494E;  // 'ALIN'
constexpr size_t kBlockMagicAt = 0;
constexpr size_t kBlockAngleAt = 4;
constexpr size_t kBlockFreezeAt = 8;
constexpr size_t kBlockReverseAt = 12;
constexpr size_t kBlockCountAt = 32;
constexpr size_t kBlockHeaderSize = 36;  // where the points start
constexpr size_t kBlockPointSize = 16;
constexpr size_t kBlockMinSize = 52;  // the header and one point slot
constexpr float kDefaultAngle = 5.0f;

using StoredPoint = std::array<float, 4>;  // x, y, z, u

enum class ByteOrder { kNative, kSwapped };

// The block's fields as the host reads them.
struct BlockView {
  bool isBlock = false;  // the magic reads 'ALIN' in one of the two orders
  bool native = false;   // ... in this machine's order
  float angle = 0;
  int32_t freeze = 0;
  int32_t reverse = 0;
  int32_t count = 0;                // as stored
  std::vector<StoredPoint> points;  // the points the block holds, at most count
};

// How many points a block of size bytes holds.
int64_t BlockCapacity(size_t size);

// The size of a block sized for n points: 52 + 16 n (52 for none).
size_t BlockSizeFor(size_t points);

// Reads a block in whichever byte order its magic shows.
BlockView DecodeBlock(const uint8_t* bytes, size_t size);

// A block of 52 + 16 n bytes (52 for no points) holding these values, in this
// machine's byte order or in the other one.
std::vector<uint8_t> MakeBlockBytes(float angle, int32_t freeze, int32_t reverse,
                                    const std::vector<StoredPoint>& points,
                                    ByteOrder order = ByteOrder::kNative);

// Turns a block into the other byte order: the magic, the three parameters, the
// count and the four floats of every point the count names and the block holds.
// The reserved bytes stay. Returns false, changing nothing, when the magic
// reads 'ALIN' in neither order.
bool SwapBlockByteOrder(std::vector<uint8_t>* bytes);

// Writes the defaults (native 'ALIN', 5 degrees, no freeze, no reverse, no
// points) over the header fields of a block; the reserved bytes and the point
// slots stay.
void FillDefaultFields(std::vector<uint8_t>& bytes);

// The block as the plug-in's fetch must leave a stored block of at least 52
// bytes: a native block keeps its bytes (its count bounded to what the block
// holds, 0 when negative), one in the other byte order has its fields turned
// into this machine's, anything else gets the defaults over its header fields.
std::vector<uint8_t> ExpectedRepair(const std::vector<uint8_t>& block);

// Whether a block is sound as the plug-in leaves it: at least 52 bytes, the
// magic in this machine's byte order, a point count the block holds. Empty
// when it is; otherwise what is wrong.
std::string BlockSoundness(const std::vector<uint8_t>& block);

}  // namespace vhost

#endif
