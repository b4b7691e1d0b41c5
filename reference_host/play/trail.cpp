#include "reference_host/play/trail.h"

#include <sstream>

namespace vhost {

std::string TrailName(const Trail& trail) { return trail.name.empty() ? "line" : trail.name; }

Vec3 SourceFramePoint(const Vec3& host, const std::optional<SceneSource>& source) {
  // The import turned a Y-up file's (x, y, z) into the host's (x, -z, y);
  // the host's Z-up goes into Y-up the same way back: (x, y, z) -> (x, z, -y).
  const bool turn = !source || source->up == 'y';
  Vec3 p = turn ? Vec3{host.x, host.z, -host.y} : host;
  if (source && source->scale != 1) {
    p.x /= source->scale;
    p.y /= source->scale;
    p.z /= source->scale;
  }
  return p;
}

std::string AxesSentence(bool sourceFrame, const std::optional<SceneSource>& source) {
  if (!sourceFrame)
    return "the host's axes: Z up, right-handed, in the scene's units" +
           std::string(source ? " (the source's positions turned and scaled on import)" : "");
  if (!source) return "Y up, right-handed: the host's Z-up scene turned -90 degrees about x";
  return std::string(source->up == 'y' ? "Y up" : "the source's own axes") +
         ", right-handed, in the source's units: the import's turn and scale undone";
}

std::vector<std::string> ProvenanceLines(const Trail& trail) {
  std::vector<std::string> lines;
  if (!trail.source) return lines;
  const SceneSource& s = *trail.source;
  std::ostringstream text;
  text << "source: " << s.file << " (" << s.format << "), node \"" << s.node << "\", animation \""
       << s.animation << "\", " << s.fps << " fps, frames " << s.firstFrame << " to "
       << s.lastFrame;
  lines.push_back(text.str());
  if (trail.toleranceDegrees) {
    std::ostringstream tolerance;
    tolerance << "angle tolerance: " << *trail.toleranceDegrees << " degrees";
    lines.push_back(tolerance.str());
  }
  return lines;
}

}  // namespace vhost
