// 'SETM' then 'GENM' through the entry, per frame of the animation, against
// the same host calls made without the plug-in (HostCallsOnly). The
// difference of the two is the plug-in's own cost per frame: rounding and
// storing the samples, the simplification, and placing every kept point by
// the two group matrices.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "benchmarks/bench_host.h"
#include "benchmarks/sample_paths.h"
#include "controldata/alloc_record.h"
#include "generate/generate_records.h"
#include "geometry/capture_records.h"
#include "geometry/path_simplify.h"
#include "host/reset_record.h"

namespace {

struct Scene {
  PathShape shape;
  int32_t frames = 0;
  std::unique_ptr<BenchHost> host;
  int32_t kept = 0;  // points stored by the plug-in's 'SETM'
};

// One scene at a time, kept while both benchmarks of it run.
Scene& LoadScene(PathShape shape, int32_t frames) {
  static Scene scene;
  if (scene.frames != frames || scene.shape != shape || !scene.host) {
    scene = Scene();
    scene.shape = shape;
    scene.frames = frames;
    scene.host.reset(new BenchHost(frames, frames, sizeof(PathNode)));
    scene.host->SetMotion(MakePath(shape, frames));
    scene.host->Send(kSelectorInit);
    scene.host->Send(kSelectorSetup);
    scene.kept = scene.host->Block()->pointCount;
  }
  return scene;
}

template <typename Record>
void Call(HostProc proc, uint32_t selector, Record& record) {
  proc(selector, static_cast<int32_t>(sizeof record), &record);
}

// The calls the plug-in makes in one 'SETM' that samples the frames 0 to n - 1
// and keeps `kept` points, and in the 'GENM' that follows, with the records
// filled as the plug-in fills them.
__attribute__((noinline)) void ReplayHostCalls(BenchHost& host, int32_t frames, int32_t kept) {
  HostProc proc = host.Info().hostProc;
  HostOpaque owner = host.Info().owner;

  HostTimeInfoRec time;
  time.owner = owner;
  Call(proc, kSelectorTimeInfo, time);
  HostSceneObjectRec object;
  object.owner = owner;
  for (int32_t index = -1; index <= 1; ++index) {
    object.objectIndex = index;
    Call(proc, kSelectorSceneObject, object);
  }
  HostMemAllocRec memory;
  memory.owner = owner;
  memory.byteCount = static_cast<intptr_t>(frames) * static_cast<intptr_t>(sizeof(PathNode));
  memory.memoryAddress = nullptr;
  Call(proc, kSelectorMemAlloc, memory);

  HostSyncFrameRec sync;
  sync.owner = owner;
  sync.samplingFlag = 1;
  HostObjectPositionRec position;
  position.owner = owner;
  position.objectReference = object.objectReference;
  for (int32_t frame = 0; frame < frames; ++frame) {
    sync.frameNumber = frame;
    Call(proc, kSelectorSyncFrame, sync);
    Call(proc, kSelectorObjectPosition, position);
    benchmark::DoNotOptimize(position.position[0]);
  }
  sync.samplingFlag = 0;
  Call(proc, kSelectorSyncFrame, sync);

  HostAllocDataRec alloc;
  alloc.owner = owner;
  alloc.blockAddress = host.Info().parameterBlock;
  alloc.blockSize = ControlDataSizeFor(kept);
  alloc.blockReference = nullptr;
  alloc.blockTag = 0;
  Call(proc, kSelectorAllocate, alloc);
  HostMemFreeRec memoryFree;
  memoryFree.owner = owner;
  memoryFree.memoryAddress = memory.memoryAddress;
  Call(proc, kSelectorMemFree, memoryFree);
  HostResetRec reset;
  reset.owner = owner;
  Call(proc, kSelectorReset, reset);

  HostModelAddVertexRec vertex;
  vertex.owner = owner;
  HostModelAddFaceRec face;
  face.owner = owner;
  for (int32_t k = 0; k < kept; ++k) {
    Call(proc, kSelectorAddVertex, vertex);
    face.firstVertex = face.secondVertex;
    face.secondVertex = vertex.vertexIndex;
    if (k > 0) Call(proc, kSelectorAddFace, face);
  }
}

void SetFrameCounters(benchmark::State& state, const Scene& scene) {
  state.SetItemsProcessed(state.iterations() * scene.frames);
  // Seconds per frame (shown as ns in the console).
  state.counters["time_per_frame"] = benchmark::Counter(
      scene.frames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["kept"] = scene.kept;
}

void BM_SetupAndGenerate(benchmark::State& state, PathShape shape) {
  Scene& scene = LoadScene(shape, static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    scene.host->Send(kSelectorSetup);
    scene.host->Send(kSelectorGenerate);
  }
  if (scene.host->Block()->pointCount != scene.kept || scene.host->verticesAdded() != scene.kept) {
    state.SkipWithError("the plug-in did not store and emit the expected points");
  }
  SetFrameCounters(state, scene);
}

void BM_HostCallsOnly(benchmark::State& state, PathShape shape) {
  Scene& scene = LoadScene(shape, static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    scene.host->EnterCall();
    ReplayHostCalls(*scene.host, scene.frames, scene.kept);
  }
  SetFrameCounters(state, scene);
}

const bool registered = [] {
  for (PathShape shape : {PathShape::kHelix, PathShape::kNoisyHelix, PathShape::kStandStill}) {
    for (int64_t frames : {1000, 100000, 1000000}) {
      std::string path = ShapeName(shape);
      benchmark::RegisterBenchmark(("SetupAndGenerate/" + path).c_str(), BM_SetupAndGenerate, shape)
          ->Arg(frames)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("HostCallsOnly/" + path).c_str(), BM_HostCallsOnly, shape)
          ->Arg(frames)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  return true;
}();

}  // namespace
