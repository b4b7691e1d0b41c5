// What a run leaves for people: the generated line as a Wavefront OBJ file and
// a picture of the motion path, the stored points and the line as SVG.
#ifndef VESTREL_REFERENCE_HOST_PLAY_OUTPUTS_H
#define VESTREL_REFERENCE_HOST_PLAY_OUTPUTS_H

#include <string>
#include <vector>

#include "reference_host/play/trail.h"

namespace vhost {

// A number in its shortest form that reads back to the same double.
std::string NumberText(double value);

// The OBJ text of the trails: one object per trail and 'GENM' pass, named
// after the traced node, a `v` per vertex placed by the group matrix, a
// `vt u 0` per vertex carrying the frame its point was sampled at, and an
// `l a/a b/b` per two-vertex polygon. The header says which axes the
// positions are in (the host's, or with sourceFrame the source's) and
// carries each trail's provenance and attribution.
std::string ObjText(const std::vector<Trail>& trails, const std::string& sceneName,
                    bool sourceFrame = false);

// Three projections side by side: top (x, y), front (x, z), side (y, z); the
// sampled path, the stored points and the line of every trail, one colour a
// trail, with a legend naming them.
std::string SvgText(const std::string& title, const std::vector<Trail>& trails);

bool WriteTextFile(const std::string& path, const std::string& text, std::string* message);

}  // namespace vhost

#endif
