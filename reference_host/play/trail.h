// What one group of the plug-in left in a run, as the writers draw it: the
// traced node's name, where its motion came from, the lines each 'GENM'
// handed the host, the path its latest 'SETM' sampled and the points its
// block holds at the end. And the frame a written file's positions are in.
#ifndef VESTREL_REFERENCE_HOST_PLAY_TRAIL_H
#define VESTREL_REFERENCE_HOST_PLAY_TRAIL_H

#include <optional>
#include <string>
#include <vector>

#include "hostkit/block_codec.h"
#include "hostkit/call_views.h"
#include "hostkit/scene.h"

namespace vhost {

struct Trail {
  std::string name;                   // the group's name in the scene (the traced node)
  std::optional<SceneSource> source;  // an imported motion's origin
  std::vector<GeneratedModel> models;
  std::vector<ObjectPositionCall> samples;
  std::vector<StoredPoint> storedPoints;
  std::optional<float> toleranceDegrees;  // the block's angle tolerance, when it has a block
};

// The name a writer gives a trail: its group's, else "line".
std::string TrailName(const Trail& trail);

// The frame of the file a scene came from: the import's turn (+90 degrees
// about x for a Y-up file) and scale undone, so that the line lands on the
// node it traced. A scene with no source is in the host's Z-up axes and is
// turned into Y-up (glTF's convention) without scaling.
Vec3 SourceFramePoint(const Vec3& host, const std::optional<SceneSource>& source);

// "host axes: Z up, ..." or "Y up, ...": a sentence for a file's header.
std::string AxesSentence(bool sourceFrame, const std::optional<SceneSource>& source);

// The provenance of a trail as "key: value" lines (its source and the
// plug-in's tolerance), none for a scene written by hand.
std::vector<std::string> ProvenanceLines(const Trail& trail);

}  // namespace vhost

#endif
