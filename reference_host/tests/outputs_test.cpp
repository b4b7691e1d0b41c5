// The writers of the generated line (OBJ, SVG, glTF) read one view of the
// call log and map the plug-in's faces onto its vertices the same way.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "hostkit/call_views.h"
#include "reference_host/play/gltf_output.h"
#include "reference_host/play/outputs.h"

namespace vhost {
namespace {

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// One trail holding the model as its only line.
std::vector<Trail> TrailOf(const GeneratedModel& model) {
  Trail trail;
  trail.name = "node";
  trail.models = {model};
  return {trail};
}

// The segments a writer drew for a model.
struct Writer {
  const char* name;
  std::function<size_t(const GeneratedModel&)> segments;
};

size_t ObjSegments(const GeneratedModel& model) {
  std::string obj = ObjText(TrailOf(model), "s");
  EXPECT_EQ(obj.find(" 0/0"), std::string::npos) << obj;  // OBJ numbers vertices from 1
  return Count(obj, "\nl ");
}

size_t SvgSegments(const GeneratedModel& model) {
  return Count(SvgText("s", TrailOf(model)), "class=\"generated\"") / 3;  // one line a panel
}

size_t GltfSegments(const GeneratedModel& model) {
  const std::vector<Trail> trails = TrailOf(model);
  GltfContent content;
  content.sceneName = "s";
  content.trails = &trails;
  std::string bytes, message;
  EXPECT_TRUE(GltfBytes(content, false, &bytes, &message)) << message;
  nlohmann::json gltf = nlohmann::json::parse(bytes);
  const nlohmann::json& primitive = gltf["meshes"][0]["primitives"][0];
  if (!primitive.contains("indices")) return 0;
  return gltf["accessors"][primitive["indices"].get<size_t>()]["count"].get<size_t>() / 2;
}

GeneratedModel Line(std::vector<int32_t> indices, std::vector<std::pair<int32_t, int32_t>> faces) {
  GeneratedModel model;
  for (int32_t index : indices) {
    AddVertexCall vertex;
    vertex.index = index;
    vertex.position[0] = index;
    model.vertices.push_back(vertex);
  }
  for (const auto& face : faces) model.faces.push_back(AddFaceCall{face.first, face.second});
  return model;
}

TEST(LineWriters, DrawOnlyFacesBetweenVerticesTheHostHandedOut) {
  const Writer writers[] = {{"obj", ObjSegments}, {"svg", SvgSegments}, {"gltf", GltfSegments}};
  struct Case {
    const char* name;
    GeneratedModel model;
    size_t segments;
  };
  const Case cases[] = {
      {"all known", Line({10, 11, 12}, {{10, 11}, {11, 12}}), 2},
      {"one end unknown", Line({10, 11}, {{10, 11}, {11, 99}}), 1},
      {"both ends unknown", Line({10, 11}, {{98, 99}}), 0},
      {"indices from the top of the range", Line({INT32_MAX, INT32_MIN}, {{INT32_MAX, INT32_MIN}}),
       1},
  };
  for (const Case& c : cases) {
    for (const Writer& writer : writers) {
      EXPECT_EQ(writer.segments(c.model), c.segments) << c.name << ", " << writer.name;
    }
  }
}

}  // namespace
}  // namespace vhost
