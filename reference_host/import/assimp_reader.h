// BVH, FBX and COLLADA files read with assimp into the format-free
// AnimationFile. assimp hands over keys only, without their interpolation:
// positions and scales are taken as linear, rotations as slerp. Its times are
// in ticks (ticks per second from the file; 25 where the file gives none).
#ifndef VESTREL_REFERENCE_HOST_IMPORT_ASSIMP_READER_H
#define VESTREL_REFERENCE_HOST_IMPORT_ASSIMP_READER_H

#include <string>

#include "reference_host/import/animation.h"

namespace vhost {

// Parses bytes, the whole file at path (its extension names the format);
// false with a message (without the path) on a fault.
bool ParseAssimpFile(const std::string& bytes, const std::string& path, AnimationFile* file,
                     std::string* error);

}  // namespace vhost

#endif
