#include "reference_host/play/block_file.h"

#include "hostkit/file_read.h"
#include "reference_host/play/safe_files.h"

#include <string.h>

#include <fstream>
#include <iterator>

namespace vhost {

bool SaveBlockFile(const std::string& path, const std::vector<uint8_t>& block, ByteOrder order,
                   std::string* message) {
  std::string bytes;
  return BlockFileBytes(block, order, &bytes, message) && WriteFileAtomically(path, bytes, message);
}

bool BlockFileBytes(const std::vector<uint8_t>& block, ByteOrder order, std::string* out,
                    std::string* message) {
  std::vector<uint8_t> bytes = block;
  BlockView view = DecodeBlock(bytes.data(), bytes.size());
  if (!view.isBlock) {
    *message = "the instance's block is not a parameter block; nothing saved";
    return false;
  }
  bool wantNative = order == ByteOrder::kNative;
  if (view.native != wantNative) SwapBlockByteOrder(&bytes);
  out->assign(bytes.begin(), bytes.end());
  return true;
}

bool LoadBlockFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* block,
                   std::string* message) {
  std::string bytes;
  if (!ReadRegularFile(path, "block file", maxBytes, &bytes, message)) return false;
  block->assign(bytes.begin(), bytes.end());
  // A parameter block names how many points it holds; one that names more
  // than its bytes hold was cut short (a full disk, an interrupted copy).
  BlockView view = DecodeBlock(block->data(), block->size());
  if (view.isBlock && view.count > BlockCapacity(block->size())) {
    *message = path + ": the block names " + std::to_string(view.count) + " points but its " +
               std::to_string(block->size()) + " bytes hold " +
               std::to_string(BlockCapacity(block->size())) + ": the file is cut short";
    return false;
  }
  return true;
}

}  // namespace vhost
