#include "reference_host/play/html_output.h"

#include <string.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace vhost {
namespace {

using nlohmann::json;

// The page's data as the page's script reads it: the JSON between the data
// script's tags, which must end at the first "</script>".
json PageData(const std::string& page) {
  const std::string open = "<script id=\"vestrel-data\" type=\"application/json\">";
  size_t start = page.find(open);
  EXPECT_NE(start, std::string::npos);
  start += open.size();
  size_t end = page.find("</script>", start);
  return json::parse(page.substr(start, end - start));
}

std::string Unbase64(const std::string& text) {
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = (bits << 6) | uint32_t(kDigits.find(c));
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(char((bits >> count) & 0xFF));
    }
  }
  return bytes;
}

std::vector<float> Floats(const json& base64) {
  std::string bytes = Unbase64(base64.get<std::string>());
  std::vector<float> out(bytes.size() / 4);
  memcpy(out.data(), bytes.data(), out.size() * 4);
  return out;
}

// Names from scenes and files reach the page as they are, and none of them
// can close the data's script or open markup.
TEST(HtmlPage, NamesReachThePageIntactAndCannotEndItsScript) {
  const char* names[] = {"</script><script>alert(1)</script>", "<!-- a -- b -->", "a\"b'c&d",
                         "\xE2\x80\xA8 line separator", "caf\xC3\xA9"};
  for (const char* name : names) {
    PageContent content;
    content.scene = name;
    content.source = name;
    PageInstance instance;
    instance.name = name;
    content.instances.push_back(instance);
    std::string page = HtmlText(content);
    json data = PageData(page);
    EXPECT_EQ(data["scene"], name);
    EXPECT_EQ(data["instances"][0]["name"], name);
    EXPECT_EQ(page.find("<script>alert"), std::string::npos) << name;
  }
}

// Long paths are drawn by every Nth element, the last one kept, and the
// legend's notes say so; short ones are drawn whole, with no note.
TEST(HtmlPage, LongPathsAreThinnedKeepingTheLastElement) {
  struct Case {
    size_t samples;
    size_t drawn;
    const char* note;
  } cases[] = {
      {10, 10, nullptr},
      {kMostPageElements, kMostPageElements, nullptr},
      {kMostPageElements + 1, 50001, "sampled path: every 2nd of 100001 drawn"},
      {250000, 83334, "sampled path: every 3rd of 250000 drawn"},
  };
  for (const Case& c : cases) {
    PageContent content;
    PageInstance instance;
    for (size_t i = 0; i < c.samples; ++i)
      instance.samples.push_back(ObjectPositionCall{nullptr, int32_t(i), {double(i), 0, 0}});
    content.instances.push_back(instance);
    json data = PageData(HtmlText(content))["instances"][0];
    std::vector<float> frames = Floats(data["sampleFrames"]);
    ASSERT_EQ(frames.size(), c.drawn) << c.samples;
    EXPECT_EQ(frames.back(), float(c.samples - 1));
    EXPECT_EQ(Floats(data["samples"]).size(), 3 * c.drawn);
    if (c.note == nullptr) {
      EXPECT_TRUE(data["thinned"].empty());
    } else {
      EXPECT_EQ(data["thinned"], json::array({c.note}));
    }
  }
}

// A thinned trail stays one chain through the kept vertices.
TEST(HtmlPage, AThinnedTrailIsAChainThroughTheKeptVertices) {
  PageContent content;
  PageInstance instance;
  const uint32_t count = 2 * kMostPageElements + 1;
  for (uint32_t i = 0; i < count; ++i) {
    instance.linePoints.push_back({float(i), 1, 2});
    if (i > 0) instance.lineSegments.push_back({i - 1, i});
  }
  content.instances.push_back(instance);
  json data = PageData(HtmlText(content))["instances"][0];
  std::vector<float> points = Floats(data["line"]);
  std::string segments = Unbase64(data["segments"].get<std::string>());
  std::vector<uint32_t> index(segments.size() / 4);
  memcpy(index.data(), segments.data(), segments.size());
  ASSERT_EQ(points.size() % 3, 0u);
  const size_t kept = points.size() / 3;
  EXPECT_EQ(points[0], 0);
  EXPECT_EQ(points[3 * (kept - 1)], float(count - 1));
  ASSERT_EQ(index.size(), 2 * (kept - 1));
  for (size_t i = 0; i + 1 < kept; ++i) {
    EXPECT_EQ(index[2 * i], i);
    EXPECT_EQ(index[2 * i + 1], i + 1);
  }
  EXPECT_EQ(data["thinned"], json::array({"trail: every 3rd of 200001 drawn"}));
}

}  // namespace
}  // namespace vhost
