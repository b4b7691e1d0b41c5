#include "benchmarks/bench_host.h"

#include <string.h>

#include "controldata/alloc_record.h"
#include "generate/generate_records.h"
#include "geometry/capture_records.h"
#include "host/creator_record.h"
#include "host/entry.h"
#include "hostkit/call_log.h"

namespace {

using vhost::RecordAt;

BenchHost* currentHost = nullptr;

constexpr uintptr_t kOwnGroup = 0x100;
constexpr uintptr_t kChildGroup = 0x200;

}  // namespace

BenchHost::BenchHost(int32_t maxPoints, int32_t maxFrames, size_t nodeSize)
    : infoBytes_(new uint8_t[sizeof(HostInfoRec)]()),
      info_(reinterpret_cast<HostInfoRec*>(infoBytes_.get())),
      block_(
          new uint8_t[ControlDataSizeFor(maxPoints)]()),  // zeroed: no page faults in timed loops
      blockCapacity_(ControlDataSizeFor(maxPoints)),
      sampleMemory_(new uint8_t[static_cast<size_t>(maxFrames) * nodeSize]()),
      sampleCapacity_(static_cast<intptr_t>(maxFrames) * static_cast<intptr_t>(nodeSize)) {
  info_->hostProc = &BenchHost::Callback;
  info_->owner = this;
  // The group matrices of 'SETM': identity for the group, a shift for the blur.
  for (int k = 0; k < 4; ++k) {
    info_->setup.groupMatrix[5 * k] = 1.0;
    info_->setup.groupBlurMatrix[5 * k] = 1.0;
  }
  info_->setup.groupBlurMatrix[12] = 0.5;
  // The instance starts with the block 'INIT' would have given it.
  reinterpret_cast<CControlData*>(block_.get())->FillDefaults();
  info_->parameterBlock = block_.get();
  info_->parameterBlockSize = kMinControlDataSize;
}

void BenchHost::EnterCall() {
  currentHost = this;
  theInfo = info_;
  theHostProc = info_->hostProc;
  theError = kResultOk;
}

int32_t BenchHost::Send(uint32_t selector) {
  currentHost = this;
  nextVertex_ = 0;
  return Main(selector, nullptr, info_);
}

void BenchHost::SetMotion(const std::vector<Fxyzu>& samples) {
  positions_.clear();
  for (const Fxyzu& sample : samples) {
    positions_.push_back(sample.x);
    positions_.push_back(sample.y);
    positions_.push_back(sample.z);
  }
  lastFrame_ = static_cast<int32_t>(samples.size()) - 1;
}

int32_t BenchHost::Callback(uint32_t selector, int32_t /*size*/, void* record) {
  return currentHost->Serve(selector, record);
}

int32_t BenchHost::Serve(uint32_t selector, void* record) {
  switch (selector) {
    case kSelectorAllocate: {
      // Every block is the one reserved up front: its old bytes are there already.
      auto& alloc = RecordAt<HostAllocDataRec>(record);
      if (alloc.blockSize > blockCapacity_) return -108;  // out of memory
      alloc.blockAddress = block_.get();
      alloc.blockReference = nullptr;
      alloc.blockTag = 0;
      return 0;
    }
    case kSelectorCreator: RecordAt<HostCreatorRec>(record).creatorCode = FourCC("BNCH"); return 0;
    case kSelectorTimeInfo:
      RecordAt<HostTimeInfoRec>(record).firstFrame = 0;
      RecordAt<HostTimeInfoRec>(record).lastFrame = lastFrame_;
      return 0;
    case kSelectorSceneObject: {
      auto& object = RecordAt<HostSceneObjectRec>(record);
      object.objectCount = 1;
      object.objectReference =
          reinterpret_cast<HostOpaque>(object.objectIndex == 0 ? kOwnGroup : kChildGroup);
      object.parentReference =
          reinterpret_cast<HostOpaque>(object.objectIndex == 0 ? 0 : kOwnGroup);
      return 0;
    }
    case kSelectorSyncFrame:
      currentFrame_ = RecordAt<HostSyncFrameRec>(record).frameNumber;
      return 0;
    case kSelectorObjectPosition:
      memcpy(RecordAt<HostObjectPositionRec>(record).position,
             &positions_[3 * static_cast<size_t>(currentFrame_)], 3 * sizeof(double));
      return 0;
    case kSelectorMemAlloc: {
      auto& alloc = RecordAt<HostMemAllocRec>(record);
      alloc.memoryAddress = alloc.byteCount <= sampleCapacity_ ? sampleMemory_.get() : nullptr;
      return 0;
    }
    case kSelectorAddVertex:
      RecordAt<HostModelAddVertexRec>(record).vertexIndex = nextVertex_++;
      return 0;
    default:  // 'MFRE', 'RSET', 'ADDF', 'GETG', 'DELG': nothing to do
      return 0;
  }
}
