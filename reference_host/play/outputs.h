// What a run leaves for people: the generated line as a Wavefront OBJ file and
// a picture of the motion path, the stored points and the line as SVG.
#ifndef VESTREL_REFERENCE_HOST_PLAY_OUTPUTS_H
#define VESTREL_REFERENCE_HOST_PLAY_OUTPUTS_H

#include <string>
#include <vector>

#include "reference_host/play/block_file.h"
#include "hostkit/host_session.h"

namespace vhost {

// A number in its shortest form that reads back to the same double.
std::string NumberText(double value);

// The OBJ text of the models: one object per model, a `v` per vertex placed by
// the group matrix, a `vt u 0` per vertex carrying the frame its point was
// sampled at, and an `l a/a b/b` per two-vertex polygon.
std::string ObjText(const std::vector<GeneratedModel>& models, const std::string& sceneName);

struct PictureContent {
  std::string title;
  std::vector<Sample> samples;            // the sampled motion path
  std::vector<StoredPoint> storedPoints;  // the points in the parameter block
  const GeneratedModel* model = nullptr;  // the generated line, if any
};

// Three projections side by side: top (x, y), front (x, z), side (y, z).
std::string SvgText(const PictureContent& content);

bool WriteTextFile(const std::string& path, const std::string& text, std::string* message);

}  // namespace vhost

#endif
