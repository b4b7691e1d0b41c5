#include "reference_host/play/outputs.h"

#include "reference_host/play/safe_files.h"

#include <math.h>

#include <stdio.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace vhost {

std::string NumberText(double value) {
  if (value == 0) return "0";  // also for -0
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// A text from a scene as one line: control characters become spaces, so a
// name cannot start a line of its own in an OBJ file or break an SVG.
std::string PrintableText(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return out;
}

namespace {

// An object's name: the trail's, with the frame where a trail has a line for
// each of several render frames. Names hold no spaces in OBJ.
std::string ObjectName(const Trail& trail, const GeneratedModel& model) {
  std::string name = PrintableText(TrailName(trail));
  for (char& c : name)
    if (c == ' ') c = '_';
  if (trail.models.size() > 1 || trail.name.empty())
    name += "_frame_" + std::to_string(model.frame);
  return name;
}

}  // namespace

std::string ObjText(const std::vector<Trail>& trails, const std::string& sceneName,
                    bool sourceFrame) {
  std::ostringstream obj;
  obj << "# The line that the Vestrel plug-in generated, received by vestrel-host\n"
      << "# from scene \"" << PrintableText(sceneName) << "\".\n"
      << "# Each vertex is a `v` (placed by the group matrix) with a `vt u 0` whose u\n"
      << "# is the frame its point was sampled at; each segment is an `l`.\n"
      << "# Axes: "
      << AxesSentence(sourceFrame, trails.empty() ? std::nullopt : trails[0].source) << ".\n";
  std::vector<std::string> copyrights;  // each attribution once, however many trails share it
  for (const Trail& trail : trails) {
    for (const std::string& line : ProvenanceLines(trail))
      obj << "# " << PrintableText(TrailName(trail)) << ": " << PrintableText(line) << "\n";
    const std::string copyright = trail.source ? trail.source->copyright : "";
    if (!copyright.empty() &&
        std::find(copyrights.begin(), copyrights.end(), copyright) == copyrights.end())
      copyrights.push_back(copyright);
  }
  for (const std::string& copyright : copyrights)
    obj << "# copyright: " << PrintableText(copyright) << "\n";
  size_t base = 0;  // OBJ indices count from 1 across the whole file
  for (const Trail& trail : trails) {
    for (const GeneratedModel& model : trail.models) {
      obj << "o " << ObjectName(trail, model) << "\n";
      for (const AddVertexCall& v : model.vertices) {
        Vec3 p{v.position[0], v.position[1], v.position[2]};
        if (sourceFrame) p = SourceFramePoint(p, trail.source);
        obj << "v " << NumberText(p.x) << " " << NumberText(p.y) << " " << NumberText(p.z) << "\n";
        obj << "vt " << NumberText(v.u) << " 0\n";
      }
      for (const auto& segment : Segments(model)) {
        size_t a = base + segment.first + 1, b = base + segment.second + 1;
        obj << "l " << a << "/" << a << " " << b << "/" << b << "\n";
      }
      base += model.vertices.size();
    }
  }
  return obj.str();
}

namespace {

struct Point2 {
  double x, y;
};

struct Projection {
  const char* name;
  int a, b;  // the coordinates shown across and up
  const char* axisA;
  const char* axisB;
};

constexpr Projection kProjections[] = {
    {"top", 0, 1, "x", "y"}, {"front", 0, 2, "x", "z"}, {"side", 1, 2, "y", "z"}};

struct Bounds {
  double minA = INFINITY, maxA = -INFINITY, minB = INFINITY, maxB = -INFINITY;
  void Add(double a, double b) {
    if (!isfinite(a) || !isfinite(b)) return;
    minA = fmin(minA, a);
    maxA = fmax(maxA, a);
    minB = fmin(minB, b);
    maxB = fmax(maxB, b);
  }
  bool Empty() const { return minA > maxA; }
};

constexpr double kPanel = 360;
constexpr double kMargin = 24;
constexpr double kTop = 56;

// Maps scene coordinates into a panel with one scale for both axes.
class PanelMap {
 public:
  PanelMap(const Bounds& bounds, double left) : left_(left) {
    Bounds b = bounds;
    if (b.Empty()) b.Add(0, 0);
    double span = fmax(b.maxA - b.minA, b.maxB - b.minB);
    if (span <= 0) span = 1;
    scale_ = (kPanel - 2 * kMargin) / span;
    centreA_ = (b.minA + b.maxA) / 2;
    centreB_ = (b.minB + b.maxB) / 2;
  }
  Point2 Map(double a, double b) const {
    return {left_ + kPanel / 2 + (a - centreA_) * scale_,
            kTop + kPanel / 2 - (b - centreB_) * scale_};
  }

 private:
  double left_, scale_, centreA_, centreB_;
};

std::string Fixed(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : PrintableText(text)) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A picture shows at most this many of each kind of mark; longer paths are
// drawn by every Nth sample, point or segment (the first and last always),
// and the legend says so. A million circles would make a file no viewer opens.
constexpr size_t kMostMarks = 5000;

size_t Stride(size_t count) {
  return count <= kMostMarks ? 1 : (count + kMostMarks - 1) / kMostMarks;
}

// Whether item i of count is drawn at this stride.
bool Drawn(size_t i, size_t count, size_t stride) { return i % stride == 0 || i + 1 == count; }

// A trail's colours: its line, and its stored points (the first in green).
// One trail keeps the picture's classic red line and blue points.
struct TrailColours {
  const char* line;
  const char* points;
};

TrailColours ColoursOf(size_t trail, size_t trails) {
  static const char* const kPalette[] = {"#d23", "#2457c5", "#b35c00", "#7b3fb5",
                                         "#0a8a8a", "#c2185b", "#5d6d00", "#455a64"};
  if (trails == 1) return {"#d23", "#2457c5"};
  const char* colour = kPalette[trail % (sizeof kPalette / sizeof kPalette[0])];
  return {colour, colour};
}

const GeneratedModel* LastModel(const Trail& trail) {
  return trail.models.empty() ? nullptr : &trail.models.back();
}

Bounds BoundsOf(const std::vector<Trail>& trails, const Projection& projection) {
  Bounds bounds;
  for (const Trail& trail : trails) {
    for (const ObjectPositionCall& s : trail.samples)
      bounds.Add(s.position[projection.a], s.position[projection.b]);
    for (const StoredPoint& p : trail.storedPoints) bounds.Add(p[projection.a], p[projection.b]);
    if (const GeneratedModel* model = LastModel(trail)) {
      for (const AddVertexCall& v : model->vertices)
        bounds.Add(v.position[projection.a], v.position[projection.b]);
    }
  }
  return bounds;
}

void SampledPath(std::ostringstream& svg, const Trail& trail, const Projection& projection,
                 const PanelMap& map) {
  if (trail.samples.empty()) return;
  svg << "<polyline class=\"sampled\" fill=\"none\" stroke=\"#999\" stroke-width=\"1\" "
         "stroke-dasharray=\"3 2\" points=\"";
  const size_t count = trail.samples.size(), stride = Stride(count);
  for (size_t i = 0; i < count; ++i) {
    if (!Drawn(i, count, stride)) continue;
    const ObjectPositionCall& s = trail.samples[i];
    Point2 p = map.Map(s.position[projection.a], s.position[projection.b]);
    if (isfinite(p.x) && isfinite(p.y)) svg << Fixed(p.x) << "," << Fixed(p.y) << " ";
  }
  svg << "\"/>\n";
  for (size_t i = 0; i < count; ++i) {
    if (!Drawn(i, count, stride)) continue;
    const ObjectPositionCall& s = trail.samples[i];
    Point2 p = map.Map(s.position[projection.a], s.position[projection.b]);
    if (!isfinite(p.x) || !isfinite(p.y)) continue;
    svg << "<circle class=\"sample\" cx=\"" << Fixed(p.x) << "\" cy=\"" << Fixed(p.y)
        << "\" r=\"1.5\" fill=\"#999\"/>\n";
  }
}

void GeneratedLine(std::ostringstream& svg, const GeneratedModel& model, const char* colour,
                   const Projection& projection, const PanelMap& map) {
  const std::vector<std::pair<size_t, size_t>> segments = Segments(model);
  const size_t count = segments.size(), stride = Stride(count);
  for (size_t i = 0; i < count; ++i) {
    if (!Drawn(i, count, stride)) continue;
    const AddVertexCall& a = model.vertices[segments[i].first];
    const AddVertexCall& b = model.vertices[segments[i].second];
    Point2 pa = map.Map(a.position[projection.a], a.position[projection.b]);
    Point2 pb = map.Map(b.position[projection.a], b.position[projection.b]);
    if (!isfinite(pa.x + pa.y + pb.x + pb.y)) continue;
    svg << "<line class=\"generated\" x1=\"" << Fixed(pa.x) << "\" y1=\"" << Fixed(pa.y)
        << "\" x2=\"" << Fixed(pb.x) << "\" y2=\"" << Fixed(pb.y) << "\" stroke=\"" << colour
        << "\" stroke-width=\"2\"/>\n";
  }
}

void StoredPoints(std::ostringstream& svg, const std::vector<StoredPoint>& points,
                  const char* colour, const Projection& projection, const PanelMap& map) {
  const size_t stored = points.size(), storedStride = Stride(stored);
  for (size_t i = 0; i < stored; ++i) {
    if (!Drawn(i, stored, storedStride)) continue;
    const StoredPoint& point = points[i];
    Point2 p = map.Map(point[projection.a], point[projection.b]);
    if (!isfinite(p.x) || !isfinite(p.y)) continue;
    svg << "<circle class=\"stored\" cx=\"" << Fixed(p.x) << "\" cy=\"" << Fixed(p.y) << "\" r=\""
        << (i == 0 ? 5 : 3) << "\" fill=\"" << (i == 0 ? "#1a7f37" : colour)
        << "\"><title>point " << i << ", frame " << NumberText(point[3]) << "</title></circle>\n";
  }
}

void Panel(std::ostringstream& svg, const std::vector<Trail>& trails, const Projection& projection,
           double left) {
  PanelMap map(BoundsOf(trails, projection), left);
  svg << "<g>\n<rect x=\"" << left << "\" y=\"" << kTop << "\" width=\"" << kPanel << "\" height=\""
      << kPanel << "\" fill=\"#fafafa\" stroke=\"#bbb\"/>\n";
  svg << "<text x=\"" << left + 8 << "\" y=\"" << kTop + 16 << "\" font-size=\"13\">"
      << projection.name << " (" << projection.axisA << " across, " << projection.axisB
      << " up)</text>\n";
  for (const Trail& trail : trails) SampledPath(svg, trail, projection, map);
  for (size_t i = 0; i < trails.size(); ++i) {
    const TrailColours colours = ColoursOf(i, trails.size());
    if (const GeneratedModel* model = LastModel(trails[i]))
      GeneratedLine(svg, *model, colours.line, projection, map);
    StoredPoints(svg, trails[i].storedPoints, colours.points, projection, map);
  }
  svg << "</g>\n";
}

}  // namespace

// ", every 3rd drawn" where a kind of mark is thinned, else nothing.
std::string Thinned(size_t count) {
  size_t stride = Stride(count);
  if (stride == 1) return "";
  return ", every " + std::to_string(stride) +
         (stride == 2   ? "nd"
          : stride == 3 ? "rd"
                        : "th") +
         " drawn";
}

namespace {

// One legend row a trail, in its colour, when there are several.
void TrailLegend(std::ostringstream& svg, const std::vector<Trail>& trails, double y) {
  for (size_t i = 0; i < trails.size(); ++i) {
    const double rowY = y + 18 * double(i);
    const GeneratedModel* model = LastModel(trails[i]);
    const size_t segments = model ? Segments(*model).size() : 0;
    svg << "<line x1=\"" << kMargin << "\" y1=\"" << rowY - 4 << "\" x2=\"" << kMargin + 24
        << "\" y2=\"" << rowY - 4 << "\" stroke=\"" << ColoursOf(i, trails.size()).line
        << "\" stroke-width=\"3\"/><text class=\"trail\" x=\"" << kMargin + 30 << "\" y=\"" << rowY
        << "\">" << Escape(TrailName(trails[i])) << ": " << segments << " segments"
        << Thinned(segments) << ", " << trails[i].storedPoints.size() << " stored points, "
        << trails[i].samples.size() << " frames sampled</text>\n";
  }
}

}  // namespace

std::string SvgText(const std::string& title, const std::vector<Trail>& trails) {
  const size_t legendRows = trails.size() > 1 ? trails.size() : 0;
  double width = 3 * kPanel + 4 * kMargin;
  double height = kTop + kPanel + 48 + 18 * double(legendRows);
  size_t samples = 0, stored = 0, segments = 0;
  for (const Trail& trail : trails) {
    samples += trail.samples.size();
    stored += trail.storedPoints.size();
    if (const GeneratedModel* model = LastModel(trail)) segments += Segments(*model).size();
  }
  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\" font-family=\"sans-serif\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << kMargin << "\" y=\"30\" font-size=\"18\">" << Escape(title)
      << "</text>\n";
  for (int i = 0; i < 3; ++i)
    Panel(svg, trails, kProjections[i], kMargin + i * (kPanel + kMargin));
  double legendY = kTop + kPanel + 28;
  const char* lineColour = trails.size() == 1 ? "#d23" : "#555";
  const char* pointColour = trails.size() == 1 ? "#2457c5" : "#555";
  svg << "<g font-size=\"12\">\n"
      << "<line x1=\"" << kMargin << "\" y1=\"" << legendY - 4 << "\" x2=\"" << kMargin + 24
      << "\" y2=\"" << legendY - 4 << "\" stroke=\"#999\" stroke-dasharray=\"3 2\"/><text x=\""
      << kMargin + 30 << "\" y=\"" << legendY << "\">sampled motion path (" << samples << " frames"
      << Thinned(samples) << ")</text>\n"
      << "<circle cx=\"" << kMargin + 312 << "\" cy=\"" << legendY - 4 << "\" r=\"3\" fill=\""
      << pointColour << "\"/><text x=\"" << kMargin + 320 << "\" y=\"" << legendY
      << "\">stored points (" << stored << Thinned(stored) << "; the first in green)</text>\n"
      << "<line x1=\"" << kMargin + 612 << "\" y1=\"" << legendY - 4 << "\" x2=\"" << kMargin + 636
      << "\" y2=\"" << legendY - 4 << "\" stroke=\"" << lineColour
      << "\" stroke-width=\"2\"/><text x=\"" << kMargin + 642 << "\" y=\"" << legendY
      << "\">generated line, placed by the group matrix (" << segments << " segments"
      << Thinned(segments) << ")</text>\n";
  if (legendRows > 0) TrailLegend(svg, trails, legendY + 22);
  svg << "</g>\n</svg>\n";
  return svg.str();
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string* message) {
  return WriteFileAtomically(path, text, message);
}

}  // namespace vhost
