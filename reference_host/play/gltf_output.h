// The generated line as a glTF 2.0 file, to open in any 3-D tool: one mesh
// per 'GENM' pass with a LINES primitive (one segment per two-vertex polygon
// the plug-in made), POSITION with its bounds, and the frame each point was
// sampled at as the custom attribute _FRAME. `.glb` by extension, else
// `.gltf` with the buffer embedded.
#ifndef VESTREL_REFERENCE_HOST_PLAY_GLTF_OUTPUT_H
#define VESTREL_REFERENCE_HOST_PLAY_GLTF_OUTPUT_H

#include <string>
#include <vector>

#include "hostkit/host_session.h"

namespace vhost {

// The file's bytes; binary makes a .glb. False with a message when a point
// is not finite (glTF has no room for it).
bool GltfBytes(const std::vector<GeneratedModel>& models, const std::string& sceneName, bool binary,
               std::string* bytes, std::string* message);

// Writes the file under a temporary name and renames it into place, so an
// interrupted run leaves no half-written file and loses no earlier one.
bool WriteGltfFile(const std::string& path, const std::vector<GeneratedModel>& models,
                   const std::string& sceneName, std::string* message);

}  // namespace vhost

#endif
