// glTF 2.0 files (.gltf with its buffers, .glb) read with tinygltf into the
// format-free AnimationFile. Every index and accessor is checked against the
// file before it is used: tinygltf parses, it does not validate.
#ifndef VESTREL_REFERENCE_HOST_IMPORT_GLTF_READER_H
#define VESTREL_REFERENCE_HOST_IMPORT_GLTF_READER_H

#include <string>

#include "reference_host/import/animation.h"

namespace vhost {

// Parses bytes, the whole file at path (.glb: binary; its buffers are looked
// for beside it); false with a message (without the path) on a fault.
bool ParseGltfFile(const std::string& bytes, const std::string& path, AnimationFile* file,
                   std::string* error);

}  // namespace vhost

#endif
