#include "reference_host/play/outputs.h"

#include "reference_host/play/safe_files.h"

#include <math.h>

#include <stdio.h>

#include <array>
#include <charconv>
#include <fstream>
#include <map>
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

std::string ObjText(const std::vector<GeneratedModel>& models, const std::string& sceneName) {
  std::ostringstream obj;
  obj << "# The line that the Vestrel plug-in generated, received by vestrel-host\n"
      << "# from scene \"" << PrintableText(sceneName) << "\".\n"
      << "# Each vertex is a `v` (placed by the group matrix) with a `vt u 0` whose u\n"
      << "# is the frame its point was sampled at; each segment is an `l`.\n";
  size_t base = 0;  // OBJ indices count from 1 across the whole file
  for (const GeneratedModel& model : models) {
    obj << "o line_frame_" << model.frame << "\n";
    std::map<int32_t, size_t> objIndex;
    for (size_t i = 0; i < model.vertices.size(); ++i) {
      const ReceivedVertex& v = model.vertices[i];
      obj << "v " << NumberText(v.position[0]) << " " << NumberText(v.position[1]) << " "
          << NumberText(v.position[2]) << "\n";
      obj << "vt " << NumberText(v.u) << " 0\n";
      objIndex[v.index] = base + i + 1;
    }
    for (const ReceivedFace& face : model.faces) {
      size_t a = objIndex[face.first], b = objIndex[face.second];
      obj << "l " << a << "/" << a << " " << b << "/" << b << "\n";
    }
    base += model.vertices.size();
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

double Coordinate(const double (&p)[3], int k) { return p[k]; }

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

void Panel(std::ostringstream& svg, const PictureContent& content, const Projection& projection,
           double left) {
  auto sampleAt = [](const Sample& s) {
    return std::array<double, 3>{s.position.x, s.position.y, s.position.z};
  };
  Bounds bounds;
  for (const Sample& s : content.samples)
    bounds.Add(sampleAt(s)[projection.a], sampleAt(s)[projection.b]);
  for (const StoredPoint& p : content.storedPoints) bounds.Add(p[projection.a], p[projection.b]);
  if (content.model != nullptr) {
    for (const ReceivedVertex& v : content.model->vertices)
      bounds.Add(Coordinate(v.position, projection.a), Coordinate(v.position, projection.b));
  }
  PanelMap map(bounds, left);

  svg << "<g>\n<rect x=\"" << left << "\" y=\"" << kTop << "\" width=\"" << kPanel << "\" height=\""
      << kPanel << "\" fill=\"#fafafa\" stroke=\"#bbb\"/>\n";
  svg << "<text x=\"" << left + 8 << "\" y=\"" << kTop + 16 << "\" font-size=\"13\">"
      << projection.name << " (" << projection.axisA << " across, " << projection.axisB
      << " up)</text>\n";

  if (!content.samples.empty()) {
    svg << "<polyline class=\"sampled\" fill=\"none\" stroke=\"#999\" stroke-width=\"1\" "
           "stroke-dasharray=\"3 2\" points=\"";
    const size_t count = content.samples.size(), stride = Stride(count);
    for (size_t i = 0; i < count; ++i) {
      if (!Drawn(i, count, stride)) continue;
      const Sample& s = content.samples[i];
      Point2 p = map.Map(sampleAt(s)[projection.a], sampleAt(s)[projection.b]);
      if (isfinite(p.x) && isfinite(p.y)) svg << Fixed(p.x) << "," << Fixed(p.y) << " ";
    }
    svg << "\"/>\n";
    for (size_t i = 0; i < count; ++i) {
      if (!Drawn(i, count, stride)) continue;
      const Sample& s = content.samples[i];
      Point2 p = map.Map(sampleAt(s)[projection.a], sampleAt(s)[projection.b]);
      if (!isfinite(p.x) || !isfinite(p.y)) continue;
      svg << "<circle class=\"sample\" cx=\"" << Fixed(p.x) << "\" cy=\"" << Fixed(p.y)
          << "\" r=\"1.5\" fill=\"#999\"/>\n";
    }
  }
  if (content.model != nullptr) {
    std::map<int32_t, const ReceivedVertex*> byIndex;
    for (const ReceivedVertex& v : content.model->vertices) byIndex[v.index] = &v;
    const size_t count = content.model->faces.size(), stride = Stride(count);
    for (size_t i = 0; i < count; ++i) {
      if (!Drawn(i, count, stride)) continue;
      const ReceivedFace& face = content.model->faces[i];
      const ReceivedVertex* a = byIndex[face.first];
      const ReceivedVertex* b = byIndex[face.second];
      if (a == nullptr || b == nullptr) continue;
      Point2 pa = map.Map(a->position[projection.a], a->position[projection.b]);
      Point2 pb = map.Map(b->position[projection.a], b->position[projection.b]);
      if (!isfinite(pa.x + pa.y + pb.x + pb.y)) continue;
      svg << "<line class=\"generated\" x1=\"" << Fixed(pa.x) << "\" y1=\"" << Fixed(pa.y)
          << "\" x2=\"" << Fixed(pb.x) << "\" y2=\"" << Fixed(pb.y)
          << "\" stroke=\"#d23\" stroke-width=\"2\"/>\n";
    }
  }
  const size_t stored = content.storedPoints.size(), storedStride = Stride(stored);
  for (size_t i = 0; i < stored; ++i) {
    if (!Drawn(i, stored, storedStride)) continue;
    const StoredPoint& point = content.storedPoints[i];
    Point2 p = map.Map(point[projection.a], point[projection.b]);
    if (!isfinite(p.x) || !isfinite(p.y)) continue;
    svg << "<circle class=\"stored\" cx=\"" << Fixed(p.x) << "\" cy=\"" << Fixed(p.y) << "\" r=\""
        << (i == 0 ? 5 : 3) << "\" fill=\"" << (i == 0 ? "#1a7f37" : "#2457c5")
        << "\"><title>point " << i << ", frame " << NumberText(point[3]) << "</title></circle>\n";
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

std::string SvgText(const PictureContent& content) {
  double width = 3 * kPanel + 4 * kMargin;
  double height = kTop + kPanel + 48;
  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\" font-family=\"sans-serif\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << kMargin << "\" y=\"30\" font-size=\"18\">" << Escape(content.title)
      << "</text>\n";
  for (int i = 0; i < 3; ++i)
    Panel(svg, content, kProjections[i], kMargin + i * (kPanel + kMargin));
  double legendY = kTop + kPanel + 28;
  svg << "<g font-size=\"12\">\n"
      << "<line x1=\"" << kMargin << "\" y1=\"" << legendY - 4 << "\" x2=\"" << kMargin + 24
      << "\" y2=\"" << legendY - 4 << "\" stroke=\"#999\" stroke-dasharray=\"3 2\"/><text x=\""
      << kMargin + 30 << "\" y=\"" << legendY << "\">sampled motion path ("
      << content.samples.size() << " frames" << Thinned(content.samples.size()) << ")</text>\n"
      << "<circle cx=\"" << kMargin + 312 << "\" cy=\"" << legendY - 4
      << "\" r=\"3\" fill=\"#2457c5\"/><text x=\"" << kMargin + 320 << "\" y=\"" << legendY
      << "\">stored points (" << content.storedPoints.size() << Thinned(content.storedPoints.size())
      << "; the first in green)</text>\n"
      << "<line x1=\"" << kMargin + 612 << "\" y1=\"" << legendY - 4 << "\" x2=\"" << kMargin + 636
      << "\" y2=\"" << legendY - 4 << "\" stroke=\"#d23\" stroke-width=\"2\"/><text x=\""
      << kMargin + 642 << "\" y=\"" << legendY << "\">generated line, placed by the group matrix ("
      << (content.model ? content.model->faces.size() : 0) << " segments"
      << Thinned(content.model ? content.model->faces.size() : 0) << ")</text>\n"
      << "</g>\n</svg>\n";
  return svg.str();
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string* message) {
  return WriteFileAtomically(path, text, message);
}

}  // namespace vhost
