// The source asset and its trails in one .glb: the glTF file a scene was
// imported from, carried whole (its meshes, skins, animations, materials,
// textures and extensions, every byte of its binary buffer as it was), with
// one node per trail added at the root of its scenes, so that any glTF viewer
// plays the animation with the trails in place.
#ifndef VESTREL_REFERENCE_HOST_PLAY_GLTF_WITH_SOURCE_H
#define VESTREL_REFERENCE_HOST_PLAY_GLTF_WITH_SOURCE_H

#include <stddef.h>

#include <string>

#include <nlohmann/json.hpp>

namespace vhost {

// The trails' part of a glTF file, indexed from 0 and offset into a buffer
// of their own: views, accessors, meshes and nodes, and that buffer.
struct GltfParts {
  nlohmann::json views;
  nlohmann::json accessors;
  nlohmann::json meshes;
  nlohmann::json nodes;
  std::string buffer;
};

// The deepest nesting of arrays and objects a source's JSON may have: real
// files nest a handful of levels, and a parser's recursion must not be left
// to a file's mercy.
constexpr size_t kMaxSourceJsonDepth = 64;
// The largest JSON part a source may have: a parsed value takes many times
// its text's bytes, and real files keep their bulk in the binary chunk.
constexpr size_t kMaxSourceJsonBytes = size_t(32) << 20;

// A .glb from the bytes of a .glb or .gltf source (sourceName for messages)
// and the trails' parts. False with what is wrong with the source: not glTF
// 2.0, a JSON too deep or malformed, buffers or images in files beside it
// (a .glb must carry them), no scene to add the trails to.
bool GlbWithSource(const std::string& sourceBytes, const std::string& sourceName,
                   const GltfParts& parts, std::string* glb, std::string* message);

// Bytes as base64, for a data: URI.
std::string Base64(const std::string& bytes);

// A .glb of a JSON chunk and a binary chunk (both padded here).
std::string GlbBytes(std::string jsonChunk, std::string binChunk, bool withBin);

}  // namespace vhost

#endif
