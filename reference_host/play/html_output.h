// The 3-D page: one self-contained HTML file (three.js and the data inside,
// nothing fetched) that shows each instance's trail, its stored points and the
// sampled motion path to turn round, zoom and pan, and, when it holds the
// source model as glTF, plays the model's clip beside the trails.
#ifndef VESTREL_REFERENCE_HOST_PLAY_HTML_OUTPUT_H
#define VESTREL_REFERENCE_HOST_PLAY_HTML_OUTPUT_H

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

#include "hostkit/block_codec.h"
#include "hostkit/call_views.h"
#include "reference_host/play/trail.h"

namespace vhost {

// One plug-in instance: what it traced and what it made.
struct PageInstance {
  std::string name;                      // as the legend names it
  std::string node;                      // the traced node, where known
  std::string clip;                      // the animation it moved in, where known
  size_t framesSampled = 0;
  std::vector<StoredPoint> storedPoints;  // x, y, z and the frame, in the page's axes
  std::vector<ObjectPositionCall> samples;  // the sampled motion path, in the page's axes
  // The trail: the generated line's vertex positions, in the order the glTF
  // file holds them, and its segments as pairs of positions in that list.
  std::vector<std::array<float, 3>> linePoints;
  std::vector<std::array<uint32_t, 2>> lineSegments;
};

struct PageContent {
  std::string scene;
  std::string source;       // the file the scene came from
  std::string attribution;  // of the source asset, when there is one
  std::string units;        // what a unit of the axes is (default "scene units")
  char up = 'z';            // which axis is up: 'z' (the host's) or 'y' (glTF's)
  double tolerance = -1;    // degrees; negative when not known
  std::vector<PageInstance> instances;
  // Optional: the source model with its animation (a GLB file's bytes), the
  // clip to play, the names of the file's trail nodes (hidden: the page draws
  // its own) and how frames map to the clip's seconds.
  std::string glb;
  std::string clip;
  std::vector<std::string> glbTrailNodes;
  double fps = 24;
  double frameAtZero = 0;  // the frame at the clip's time 0
};

// Whether this vestrel-host carries the page's script; if not, why not.
bool HtmlPageBuilt(std::string* whyNot);

// A path or point set longer than this is drawn by every Nth element (the
// last always kept), and the legend says so.
constexpr size_t kMostPageElements = 100000;

// The page of a run's trails, in the axes and units the glTF file is written
// in (SourceFramePoint): one instance per trail with its latest line, its
// sampled path and stored points, and its provenance. sceneFile names the
// scene's file where the trails have no source.
PageContent PageOfTrails(const std::string& sceneName, const std::string& sceneFile,
                         const std::vector<Trail>& trails);

// The page; HtmlPageBuilt must be true.
std::string HtmlText(const PageContent& content);

}  // namespace vhost

#endif
