// The generated lines as a glTF 2.0 file, to open in any 3-D tool: one node
// and mesh per trail and 'GENM' pass, named after the traced node, with a
// LINES primitive (one segment per two-vertex polygon the plug-in made),
// POSITION with its bounds, and the frame each point was sampled at as the
// custom attribute _FRAME. `.glb` by extension, else `.gltf` with the buffer
// embedded.
//
// Positions are written in glTF's own frame (Y up, right-handed, in the
// source's units): the import's turn and scale are undone point by point
// (SourceFramePoint), so every trail node sits at the scene root with no
// transform of its own and lands on the node it traced when the file is
// loaded beside its source. Each trail node's `extras` carry its provenance;
// the asset's `copyright` the source's attribution.
#ifndef VESTREL_REFERENCE_HOST_PLAY_GLTF_OUTPUT_H
#define VESTREL_REFERENCE_HOST_PLAY_GLTF_OUTPUT_H

#include <string>
#include <vector>

#include "reference_host/play/trail.h"

namespace vhost {

struct GltfContent {
  std::string sceneName;
  const std::vector<Trail>* trails = nullptr;
  // The bytes of a .glb or .gltf source to carry whole, with the trails
  // added at its scene root; empty: the trails alone.
  std::string sourceBytes;
  std::string sourceName;  // for messages
};

// The file's bytes; binary makes a .glb. False with a message when a point
// is not finite (glTF has no room for it) or the source cannot carry trails.
bool GltfBytes(const GltfContent& content, bool binary, std::string* bytes, std::string* message);

// Writes the file under a temporary name and renames it into place, so an
// interrupted run leaves no half-written file and loses no earlier one.
bool WriteGltfFile(const std::string& path, const GltfContent& content, std::string* message);

}  // namespace vhost

#endif
