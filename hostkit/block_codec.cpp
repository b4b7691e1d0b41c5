#include "hostkit/block_codec.h"

#include <string.h>

#include <algorithm>

namespace vhost {

namespace {

uint32_t Swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

uint32_t ReadWord(const uint8_t* bytes, size_t offset, bool swap) {
  uint32_t word;
  memcpy(&word, bytes + offset, 4);
  return swap ? Swap32(word) : word;
}

void WriteWord(uint8_t* bytes, size_t offset, uint32_t word, bool swap) {
  if (swap) word = Swap32(word);
  memcpy(bytes + offset, &word, 4);
}

float AsFloat(uint32_t word) {
  float value;
  memcpy(&value, &word, 4);
  return value;
}

uint32_t FloatWord(float value) {
  uint32_t word;
  memcpy(&word, &value, 4);
  return word;
}

void SwapWordInPlace(uint8_t* bytes, size_t offset) {
  WriteWord(bytes, offset, ReadWord(bytes, offset, true), false);
}

size_t PointOffset(size_t i, size_t k) { return kBlockHeaderSize + kBlockPointSize * i + 4 * k; }

// The count bounded to what the block holds, 0 when negative.
int32_t BoundedCount(int32_t count, size_t size) {
  return static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(count, BlockCapacity(size))));
}

}  // namespace

void FillDefaultFields(std::vector<uint8_t>& bytes) {
  if (bytes.size() < kBlockHeaderSize) return;
  uint8_t* data = bytes.data();
  WriteWord(data, kBlockMagicAt, kBlockMagic, false);
  WriteWord(data, kBlockAngleAt, FloatWord(kDefaultAngle), false);
  WriteWord(data, kBlockFreezeAt, 0, false);
  WriteWord(data, kBlockReverseAt, 0, false);
  WriteWord(data, kBlockCountAt, 0, false);
}

int64_t BlockCapacity(size_t size) {
  return size < kBlockHeaderSize ? 0 : int64_t((size - kBlockHeaderSize) / kBlockPointSize);
}

size_t BlockSizeFor(size_t points) { return kBlockMinSize + kBlockPointSize * points; }

BlockView DecodeBlock(const uint8_t* bytes, size_t size) {
  BlockView view;
  if (bytes == nullptr || size < kBlockHeaderSize) return view;
  uint32_t magic = ReadWord(bytes, kBlockMagicAt, false);
  if (magic != kBlockMagic && Swap32(magic) != kBlockMagic) return view;
  bool swap = magic != kBlockMagic;
  view.isBlock = true;
  view.native = !swap;
  view.angle = AsFloat(ReadWord(bytes, kBlockAngleAt, swap));
  view.freeze = static_cast<int32_t>(ReadWord(bytes, kBlockFreezeAt, swap));
  view.reverse = static_cast<int32_t>(ReadWord(bytes, kBlockReverseAt, swap));
  view.count = static_cast<int32_t>(ReadWord(bytes, kBlockCountAt, swap));
  size_t shown = static_cast<size_t>(BoundedCount(view.count, size));
  for (size_t i = 0; i < shown; ++i) {
    StoredPoint point;
    for (size_t k = 0; k < 4; ++k) point[k] = AsFloat(ReadWord(bytes, PointOffset(i, k), swap));
    view.points.push_back(point);
  }
  return view;
}

std::vector<uint8_t> MakeBlockBytes(float angle, int32_t freeze, int32_t reverse,
                                    const std::vector<StoredPoint>& points, ByteOrder order) {
  bool swap = order == ByteOrder::kSwapped;
  std::vector<uint8_t> bytes(BlockSizeFor(points.size()), 0);
  uint8_t* data = bytes.data();
  WriteWord(data, kBlockMagicAt, kBlockMagic, swap);
  WriteWord(data, kBlockAngleAt, FloatWord(angle), swap);
  WriteWord(data, kBlockFreezeAt, static_cast<uint32_t>(freeze), swap);
  WriteWord(data, kBlockReverseAt, static_cast<uint32_t>(reverse), swap);
  WriteWord(data, kBlockCountAt, static_cast<uint32_t>(points.size()), swap);
  for (size_t i = 0; i < points.size(); ++i) {
    for (size_t k = 0; k < 4; ++k)
      WriteWord(data, PointOffset(i, k), FloatWord(points[i][k]), swap);
  }
  return bytes;
}

bool SwapBlockByteOrder(std::vector<uint8_t>* bytes) {
  BlockView view = DecodeBlock(bytes->data(), bytes->size());
  if (!view.isBlock) return false;
  uint8_t* data = bytes->data();
  for (size_t offset :
       {kBlockMagicAt, kBlockAngleAt, kBlockFreezeAt, kBlockReverseAt, kBlockCountAt})
    SwapWordInPlace(data, offset);
  for (size_t i = 0; i < view.points.size(); ++i) {
    for (size_t k = 0; k < 4; ++k) SwapWordInPlace(data, PointOffset(i, k));
  }
  return true;
}

std::vector<uint8_t> ExpectedRepair(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> bytes = block;
  if (bytes.size() < kBlockMinSize) return bytes;
  const uint32_t magic = ReadWord(bytes.data(), kBlockMagicAt, false);
  if (magic != kBlockMagic && Swap32(magic) != kBlockMagic) {
    FillDefaultFields(bytes);
    return bytes;
  }
  // The count is bounded first, in the stored order, and only the points it
  // then names are turned.
  const bool swap = magic != kBlockMagic;
  int32_t count = static_cast<int32_t>(ReadWord(bytes.data(), kBlockCountAt, swap));
  count = BoundedCount(count, bytes.size());
  WriteWord(bytes.data(), kBlockCountAt, static_cast<uint32_t>(count), swap);
  if (swap) SwapBlockByteOrder(&bytes);
  return bytes;
}

std::string BlockSoundness(const std::vector<uint8_t>& block) {
  if (block.size() < kBlockMinSize)
    return "the block has " + std::to_string(block.size()) + " bytes, fewer than 52";
  if (ReadWord(block.data(), kBlockMagicAt, false) != kBlockMagic)
    return "the block's magic is not 'ALIN' in this machine's byte order";
  int32_t count = static_cast<int32_t>(ReadWord(block.data(), kBlockCountAt, false));
  if (count < 0 || count > BlockCapacity(block.size())) {
    return "the block's point count " + std::to_string(count) + " is not one its " +
           std::to_string(block.size()) + " bytes hold";
  }
  return {};
}

}  // namespace vhost
