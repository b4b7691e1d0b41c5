// The parameter block as the host stores it with a scene: its bytes exactly as
// the plug-in left them, in the byte order of the machine that wrote them. The
// host reads and converts the block itself, from its byte layout, without the
// plug-in's code:
//   0 magic 'ALIN'   4 angle tolerance (float)   8 freeze flag   12 reverse flag
//   16 reserved (16 bytes)   32 point count n   36 + 16 i: point i (x, y, z, u floats)
#ifndef VESTREL_REFERENCE_HOST_BLOCK_FILE_H
#define VESTREL_REFERENCE_HOST_BLOCK_FILE_H

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <string>
#include <vector>

namespace vhost {

constexpr uint32_t kBlockMagic = 0x414C494E;  // 'ALIN'
constexpr size_t kBlockHeaderSize = 36;
constexpr size_t kBlockPointSize = 16;
constexpr size_t kBlockMinSize = 52;

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

// Reads a block in whichever byte order its magic shows.
BlockView DecodeBlock(const uint8_t* bytes, size_t size);

// A block of 52 + 16 n bytes (52 for no points) holding these values, in this
// machine's byte order or in the other one.
std::vector<uint8_t> MakeBlockBytes(float angle, int32_t freeze, int32_t reverse,
                                    const std::vector<StoredPoint>& points, ByteOrder order);

// Turns a block into the other byte order: the magic, the three parameters, the
// count and the four floats of every point the count names and the block holds.
// The reserved bytes stay. Returns false, changing nothing, when the magic
// reads 'ALIN' in neither order.
bool SwapBlockByteOrder(std::vector<uint8_t>* bytes);

// Writes a block file in the given order (converting a native block when the
// other order is asked for). Returns false with a message on failure.
bool SaveBlockFile(const std::string& path, const std::vector<uint8_t>& block, ByteOrder order,
                   std::string* message);
// Reads a block file as stored. Refuses files larger than maxBytes.
bool LoadBlockFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* block,
                   std::string* message);

}  // namespace vhost

#endif
