// Block files: the parameter block as the host stores it with a scene, its
// bytes exactly as the plug-in left them, in the byte order of the machine that
// wrote them (hostkit/block_codec.h reads and converts them).
#ifndef VESTREL_REFERENCE_HOST_PLAY_BLOCK_FILE_H
#define VESTREL_REFERENCE_HOST_PLAY_BLOCK_FILE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "hostkit/block_codec.h"

namespace vhost {

// Writes a block file in the given order (converting a native block when the
// other order is asked for). Returns false with a message on failure.
bool SaveBlockFile(const std::string& path, const std::vector<uint8_t>& block, ByteOrder order,
                   std::string* message);
// The bytes SaveBlockFile writes; false with a message when block is no block.
bool BlockFileBytes(const std::vector<uint8_t>& block, ByteOrder order, std::string* bytes,
                    std::string* message);
// Reads a block file as stored. Refuses files larger than maxBytes.
bool LoadBlockFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* block,
                   std::string* message);

}  // namespace vhost

#endif
