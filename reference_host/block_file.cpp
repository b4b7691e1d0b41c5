#include "reference_host/block_file.h"

#include <string.h>

#include <fstream>
#include <iterator>

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

// How many points a block of size bytes holds.
size_t Capacity(size_t size) {
  return size < kBlockHeaderSize ? 0 : (size - kBlockHeaderSize) / kBlockPointSize;
}

}  // namespace

BlockView DecodeBlock(const uint8_t* bytes, size_t size) {
  BlockView view;
  if (bytes == nullptr || size < kBlockHeaderSize) return view;
  uint32_t magic = ReadWord(bytes, 0, false);
  if (magic != kBlockMagic && Swap32(magic) != kBlockMagic) return view;
  bool swap = magic != kBlockMagic;
  view.isBlock = true;
  view.native = !swap;
  view.angle = AsFloat(ReadWord(bytes, 4, swap));
  view.freeze = static_cast<int32_t>(ReadWord(bytes, 8, swap));
  view.reverse = static_cast<int32_t>(ReadWord(bytes, 12, swap));
  view.count = static_cast<int32_t>(ReadWord(bytes, 32, swap));
  size_t shown = view.count < 0 ? 0 : static_cast<size_t>(view.count);
  if (shown > Capacity(size)) shown = Capacity(size);
  for (size_t i = 0; i < shown; ++i) {
    StoredPoint point;
    for (size_t k = 0; k < 4; ++k)
      point[k] = AsFloat(ReadWord(bytes, kBlockHeaderSize + 16 * i + 4 * k, swap));
    view.points.push_back(point);
  }
  return view;
}

std::vector<uint8_t> MakeBlockBytes(float angle, int32_t freeze, int32_t reverse,
                                    const std::vector<StoredPoint>& points, ByteOrder order) {
  bool swap = order == ByteOrder::kSwapped;
  size_t size = kBlockMinSize + (points.empty() ? 0 : kBlockPointSize * points.size());
  std::vector<uint8_t> bytes(size, 0);
  WriteWord(bytes.data(), 0, kBlockMagic, swap);
  WriteWord(bytes.data(), 4, FloatWord(angle), swap);
  WriteWord(bytes.data(), 8, static_cast<uint32_t>(freeze), swap);
  WriteWord(bytes.data(), 12, static_cast<uint32_t>(reverse), swap);
  WriteWord(bytes.data(), 32, static_cast<uint32_t>(points.size()), swap);
  for (size_t i = 0; i < points.size(); ++i) {
    for (size_t k = 0; k < 4; ++k)
      WriteWord(bytes.data(), kBlockHeaderSize + 16 * i + 4 * k, FloatWord(points[i][k]), swap);
  }
  return bytes;
}

bool SwapBlockByteOrder(std::vector<uint8_t>* bytes) {
  BlockView view = DecodeBlock(bytes->data(), bytes->size());
  if (!view.isBlock) return false;
  uint8_t* data = bytes->data();
  for (size_t offset : {0, 4, 8, 12, 32}) SwapWordInPlace(data, offset);
  for (size_t i = 0; i < view.points.size(); ++i) {
    for (size_t k = 0; k < 4; ++k) SwapWordInPlace(data, kBlockHeaderSize + 16 * i + 4 * k);
  }
  return true;
}

bool SaveBlockFile(const std::string& path, const std::vector<uint8_t>& block, ByteOrder order,
                   std::string* message) {
  std::vector<uint8_t> bytes = block;
  BlockView view = DecodeBlock(bytes.data(), bytes.size());
  if (!view.isBlock) {
    *message = "the instance's block is not a parameter block; nothing saved";
    return false;
  }
  bool wantNative = order == ByteOrder::kNative;
  if (view.native != wantNative) SwapBlockByteOrder(&bytes);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    *message = "cannot write " + path;
    return false;
  }
  return true;
}

bool LoadBlockFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* block,
                   std::string* message) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *message = path + ": cannot open the block file";
    return false;
  }
  in.seekg(0, std::ios::end);
  std::streamoff length = in.tellg();
  if (length < 0 || static_cast<uint64_t>(length) > maxBytes) {
    *message = path + ": a block file of " + std::to_string(length) + " bytes is larger than the " +
               std::to_string(maxBytes) + " bytes allowed";
    return false;
  }
  in.seekg(0, std::ios::beg);
  block->assign(static_cast<size_t>(length), 0);
  in.read(reinterpret_cast<char*>(block->data()), length);
  if (!in) {
    *message = path + ": cannot read the block file";
    return false;
  }
  return true;
}

}  // namespace vhost
