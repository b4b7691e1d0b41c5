#include "reference_host/play/html_output.h"

#include <stdint.h>
#include <string.h>

#include <nlohmann/json.hpp>

#include "reference_host/play/gltf_with_source.h"


#ifdef VHOST_HAS_HTML_PAGE
namespace vhost {
std::string PageScript();
extern const char kThreeVersion[];
extern const char kThreeLicenceName[];
extern const char kThreeLicenceText[];
}  // namespace vhost
#endif

namespace vhost {

namespace {

using nlohmann::json;

// Little-endian, as the page's Float32Array and Uint32Array read them on
// every machine a browser runs on.
template <typename T>
void Append(std::string* bytes, T value) {
  char raw[sizeof(T)];
  memcpy(raw, &value, sizeof(T));
  bytes->append(raw, sizeof(T));
}

size_t Stride(size_t count) {
  return count <= kMostPageElements ? 1 : (count + kMostPageElements - 1) / kMostPageElements;
}

bool Kept(size_t i, size_t count, size_t stride) { return i % stride == 0 || i + 1 == count; }

std::string Ordinal(size_t n) {
  return std::to_string(n) + (n == 2 ? "nd" : n == 3 ? "rd" : "th");
}

std::string ThinnedNote(const char* what, size_t count) {
  return std::string(what) + ": every " + Ordinal(Stride(count)) + " of " + std::to_string(count) +
         " drawn";
}

// The trail, thinned to a chain through every Nth vertex when it is long.
void AddLine(const PageInstance& instance, json* out, json* notes) {
  std::string positions, segments;
  const size_t count = instance.linePoints.size(), stride = Stride(count);
  if (stride == 1) {
    for (const auto& p : instance.linePoints)
      for (float f : p) Append(&positions, f);
    for (const auto& s : instance.lineSegments) {
      Append(&segments, s[0]);
      Append(&segments, s[1]);
    }
  } else {
    uint32_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
      if (!Kept(i, count, stride)) continue;
      for (float f : instance.linePoints[i]) Append(&positions, f);
      if (kept > 0) {
        Append(&segments, kept - 1);
        Append(&segments, kept);
      }
      ++kept;
    }
    notes->push_back(ThinnedNote("trail", count));
  }
  (*out)["line"] = Base64(positions);
  (*out)["segments"] = Base64(segments);
}

void AddPoints(const PageInstance& instance, json* out, json* notes) {
  std::string points;
  const size_t count = instance.storedPoints.size(), stride = Stride(count);
  for (size_t i = 0; i < count; ++i)
    if (Kept(i, count, stride))
      for (float f : instance.storedPoints[i]) Append(&points, f);
  if (stride > 1) notes->push_back(ThinnedNote("stored points", count));
  (*out)["points"] = Base64(points);
}

void AddSamples(const PageInstance& instance, json* out, json* notes) {
  std::string positions, frames;
  const size_t count = instance.samples.size(), stride = Stride(count);
  for (size_t i = 0; i < count; ++i) {
    if (!Kept(i, count, stride)) continue;
    const ObjectPositionCall& s = instance.samples[i];
    for (double coordinate : s.position) Append(&positions, float(coordinate));
    Append(&frames, float(s.frame));
  }
  if (stride > 1) notes->push_back(ThinnedNote("sampled path", count));
  (*out)["samples"] = Base64(positions);
  (*out)["sampleFrames"] = Base64(frames);
}

json InstanceJson(const PageInstance& instance) {
  json out = {{"name", instance.name},
              {"framesSampled", instance.framesSampled},
              {"pointsStored", instance.storedPoints.size()}};
  if (!instance.node.empty()) out["node"] = instance.node;
  if (!instance.clip.empty()) out["clip"] = instance.clip;
  json notes = json::array();
  AddLine(instance, &out, &notes);
  AddPoints(instance, &out, &notes);
  AddSamples(instance, &out, &notes);
  out["thinned"] = notes;
  return out;
}

// JSON inside <script>: no '<' may open a tag, so each is written as \u003c
// (a '<' can only stand inside a JSON string).
std::string ScriptSafeJson(const json& value) {
  std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '<') {
      out += "\\u003c";
    } else {
      out += c;
    }
  }
  return out;
}

std::string EscapeHtml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  }
  return out;
}

// A text inside <!-- -->, which must not hold "--".
std::string CommentText(std::string text) {
  for (size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at))
    text.replace(at, 2, "- -");
  return text;
}

constexpr const char kStyle[] = R"css(
html, body { margin: 0; height: 100%; overflow: hidden; font: 13px/1.35 sans-serif; color: #222; }
#view { position: absolute; inset: 0; }
#legend { position: absolute; top: 8px; left: 8px; max-width: 340px; max-height: calc(100% - 70px);
  overflow: auto; background: rgba(255,255,255,0.88); border: 1px solid #ccc; border-radius: 4px;
  padding: 6px 10px; }
#legend h1 { font-size: 16px; margin: 2px 0 6px; }
#legend dl { display: grid; grid-template-columns: auto 1fr; gap: 1px 8px; margin: 0 0 6px; }
#legend dt { color: #666; } #legend dd { margin: 0; }
#legend ul { list-style: none; padding: 0; margin: 0 0 6px; }
#legend li { margin: 4px 0; }
.swatch { display: inline-block; width: 14px; height: 4px; margin: 0 6px 3px 0; }
.key, .credit, .attribution { color: #555; font-size: 12px; margin-top: 4px; }
#controls { position: absolute; left: 8px; right: 8px; bottom: 8px; display: flex; gap: 8px;
  align-items: center; background: rgba(255,255,255,0.88); border: 1px solid #ccc;
  border-radius: 4px; padding: 4px 8px; }
#frame { flex: 1; }
#tip { position: fixed; display: none; pointer-events: none; background: #222; color: #fff;
  padding: 2px 6px; border-radius: 3px; font-size: 12px; }
.error { color: #b00; white-space: pre-wrap; }
)css";

}  // namespace

bool HtmlPageBuilt(std::string* whyNot) {
#ifdef VHOST_HAS_HTML_PAGE
  (void)whyNot;
  return true;
#else
#ifndef VHOST_HTML_PAGE_MISSING
#define VHOST_HTML_PAGE_MISSING "it was not built in"
#endif
  *whyNot = std::string("this vestrel-host has no 3-D page (--html): ") + VHOST_HTML_PAGE_MISSING;
  return false;
#endif
}

namespace {

std::array<float, 3> PagePoint(const Vec3& host, const std::optional<SceneSource>& source) {
  const Vec3 p = SourceFramePoint(host, source);
  return {float(p.x), float(p.y), float(p.z)};
}

// The trail of a generated model, as the glTF file holds it.
void SetPageLine(const GeneratedModel& model, const std::optional<SceneSource>& source,
                 PageInstance* instance) {
  for (const AddVertexCall& v : model.vertices)
    instance->linePoints.push_back(
        PagePoint({v.position[0], v.position[1], v.position[2]}, source));
  for (const auto& segment : Segments(model))
    instance->lineSegments.push_back({uint32_t(segment.first), uint32_t(segment.second)});
}

PageInstance InstanceOfTrail(const Trail& trail) {
  PageInstance instance;
  instance.name = TrailName(trail);
  instance.node = trail.source ? trail.source->node : trail.name;
  if (trail.source) instance.clip = trail.source->animation;
  instance.framesSampled = trail.samples.size();
  for (ObjectPositionCall sample : trail.samples) {
    const Vec3 p = SourceFramePoint({sample.position[0], sample.position[1], sample.position[2]},
                                    trail.source);
    sample.position[0] = p.x;
    sample.position[1] = p.y;
    sample.position[2] = p.z;
    instance.samples.push_back(sample);
  }
  for (const StoredPoint& point : trail.storedPoints) {
    const std::array<float, 3> p = PagePoint({point[0], point[1], point[2]}, trail.source);
    instance.storedPoints.push_back({p[0], p[1], p[2], point[3]});
  }
  if (!trail.models.empty()) SetPageLine(trail.models.back(), trail.source, &instance);
  return instance;
}

}  // namespace

PageContent PageOfTrails(const std::string& sceneName, const std::string& sceneFile,
                         const std::vector<Trail>& trails) {
  PageContent page;
  page.scene = sceneName;
  page.source = sceneFile;
  const std::optional<SceneSource>& source =
      trails.empty() ? std::optional<SceneSource>() : trails.front().source;
  // Where the source kept its own axes they are the host's, Z up; else the
  // page is in glTF's Y-up frame, as the glTF file.
  page.up = source && source->up != 'y' ? 'z' : 'y';
  if (source) {
    page.source = source->file;
    page.attribution = source->copyright;
    page.units = "source units";
    page.clip = source->animation;
    if (source->fps > 0) page.fps = source->fps;
  }
  for (const Trail& trail : trails) {
    if (page.tolerance < 0 && trail.toleranceDegrees) page.tolerance = *trail.toleranceDegrees;
    page.instances.push_back(InstanceOfTrail(trail));
  }
  return page;
}

std::string HtmlText(const PageContent& content) {
  std::string version = "unknown", licenceName = "unknown", licenceText, script;
#ifdef VHOST_HAS_HTML_PAGE
  version = kThreeVersion;
  licenceName = kThreeLicenceName;
  licenceText = kThreeLicenceText;
  script = PageScript();
#endif
  json data = {{"format", "vestrel-page-1"},
               {"scene", content.scene},
               {"source", content.source},
               {"up", std::string(1, content.up == 'y' ? 'y' : 'z')},
               {"units", content.units.empty() ? "scene units" : content.units},
               {"three", {{"version", version}, {"licence", licenceName}}},
               {"fps", content.fps},
               {"frameAtZero", content.frameAtZero}};
  if (content.tolerance >= 0) data["tolerance"] = content.tolerance;
  if (!content.attribution.empty()) data["attribution"] = content.attribution;
  json instances = json::array();
  for (const PageInstance& instance : content.instances) instances.push_back(InstanceJson(instance));
  data["instances"] = instances;
  if (!content.glb.empty()) {
    data["glb"] = Base64(content.glb);
    data["clip"] = content.clip;
    data["glbTrailNodes"] = content.glbTrailNodes;
  }

  std::string page;
  page += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  page += "<meta name=\"generator\" content=\"vestrel-host\">\n";
  page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  page += "<title>Vestrel trails of " + EscapeHtml(content.scene) + "</title>\n";
  page += "<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
  page += "<div id=\"view\"></div>\n<div id=\"legend\"></div>\n<div id=\"controls\"></div>\n";
  page += "<div id=\"tip\"></div>\n";
  page += "<script id=\"vestrel-data\" type=\"application/json\">" + ScriptSafeJson(data) +
          "</script>\n";
  page += "<!-- The script below holds three.js " + CommentText(version) + ", under the " +
          CommentText(licenceName) + " licence:\n" + CommentText(licenceText) + "\n-->\n";
  page += "<script>" + script + "</script>\n</body>\n</html>\n";
  return page;
}

}  // namespace vhost
