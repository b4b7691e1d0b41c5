// The reference host's scene parser on files of many small objects and many
// keys: the time per byte stays flat as the file grows (a parser that
// rescans the enclosing value at every object's end grows with its square).
#include <benchmark/benchmark.h>

#include <string>

#include "reference_host/play/scene_file.h"

namespace {

// n empty objects under a key the scene format does not know (refused once
// the whole file is parsed).
std::string EmptyObjects(int64_t n) {
  std::string text = "{\"name\":\"x\",\"unknown\":[";
  for (int64_t i = 0; i < n; ++i) text += i ? ",{}" : "{}";
  return text + "]}";
}

// n distinct keys in one object.
std::string ManyKeys(int64_t n) {
  std::string text = "{\"name\":\"x\",\"unknown\":{";
  for (int64_t i = 0; i < n; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
  return text + "}}";
}

// A valid scene: one object keyed at n frames.
std::string Keyframes(int64_t n) {
  std::string keys;
  for (int64_t i = 0; i < n; ++i)
    keys +=
        (i ? "," : "") + std::string("{\"frame\":") + std::to_string(i) + ",\"position\":[1,2,3]}";
  return "{\"name\":\"k\",\"frames\":{\"first\":0,\"last\":" + std::to_string(n - 1) +
         "},\"objects\":[{\"name\":\"g\"},{\"name\":\"c\",\"parent\":0,\"motion\":{\"type\":"
         "\"keyframes\",\"keys\":[" +
         keys + "]}}]}";
}

template <std::string (*Make)(int64_t)>
void ParseSceneText(benchmark::State& state) {
  const std::string text = Make(state.range(0));
  vhost::SceneLimits limits;
  limits.maxKeys = size_t(state.range(0));
  limits.maxFrames = state.range(0);
  for (auto _ : state) {
    vhost::SceneResult result = vhost::ParseScene(text, "bench.json", limits);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

BENCHMARK_TEMPLATE(ParseSceneText, EmptyObjects)
    ->Arg(50000)
    ->Arg(200000)
    ->Arg(400000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(ParseSceneText, ManyKeys)
    ->Arg(50000)
    ->Arg(200000)
    ->Arg(400000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(ParseSceneText, Keyframes)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
