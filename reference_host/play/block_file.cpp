#include "reference_host/play/block_file.h"

#include <string.h>

#include <fstream>
#include <iterator>

namespace vhost {

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
