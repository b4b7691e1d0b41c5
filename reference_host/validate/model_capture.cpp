// The design's 'SETM': the frame range, the child found among the objects,
// every frame sampled, the path simplified and stored.
#include "reference_host/validate/design_check.h"

namespace vhost {
namespace design {

void DesignCheck::Setup() {
  for (int k = 0; k < 16; ++k) {
    model_.groupMatrix[k] = call_.scene->groupMatrix[k];
    model_.blurMatrix[k] = call_.scene->blurMatrix[k];
  }
  if (model_.creator == kCreatorXolr) return;  // no host call, the block untouched
  BlockState block = call_.before;
  bool fetched = Fetch(&block);
  expectedAfter_ = block;
  if (!fetched || Read<int32_t>(block.bytes, kBlockFreezeAt) != 0) return;

  const ServedCall* time = Expect(kSelectorTimeInfo, "for the frame range");
  if (time == nullptr || time->result != 0) return;
  const int64_t first = Args<TimeInfoCall>(time).firstFrame,
                last = Args<TimeInfoCall>(time).lastFrame, n = last - first + 1;
  if (n < 3) return;
  if (n > INTPTR_MAX / kPathNodeSize ||
      n > (INT32_MAX - int64_t(kBlockMinSize)) / int64_t(kBlockPointSize))
    return;  // too many frames to capture

  uintptr_t child = 0;
  if (!FindChild(&child)) return;
  const ServedCall* memory =
      Expect(kSelectorMemAlloc, "for the samples of " + std::to_string(n) + " frames");
  if (memory == nullptr) return;
  Argument(Args<MemAllocCall>(memory).bytesAsked == n * kPathNodeSize,
           "'MMAL' asked for " + std::to_string(Args<MemAllocCall>(memory).bytesAsked) +
               " bytes, not " + std::to_string(n * kPathNodeSize) + " for " + std::to_string(n) +
               " frames");
  if (memory->result != 0 || Address(Args<MemAllocCall>(memory).memory) == 0) return;

  bool sampled = true;
  int64_t lastAsked = first;
  for (int64_t frame = first; frame <= last && !stopped_; ++frame) {
    const ServedCall* sync =
        Expect(kSelectorSyncFrame, "with flag 1 for frame " + std::to_string(frame));
    if (sync == nullptr) return;
    Argument(
        Args<SyncFrameCall>(sync).samplingFlag == 1 && Args<SyncFrameCall>(sync).frame == frame,
        "'SYNC' with flag " + std::to_string(Args<SyncFrameCall>(sync).samplingFlag) +
            " and frame " + std::to_string(Args<SyncFrameCall>(sync).frame) +
            ", not flag 1 and frame " + std::to_string(frame));
    lastAsked = frame;
    if (sync->result != 0) {
      sampled = false;
      break;
    }
    const ServedCall* position = Expect(
        kSelectorObjectPosition, "for the child's position at frame " + std::to_string(frame));
    if (position == nullptr) return;
    Argument(Address(Args<ObjectPositionCall>(position).object) == child,
             "'TOBJ' named another object than the first child");
    if (position->result != 0) {
      sampled = false;
      break;
    }
  }
  const ServedCall* close =
      Expect(kSelectorSyncFrame, std::string("with flag 0 closing the sampling") +
                                     (sampled ? "" : " after the refusal"));
  if (close == nullptr) return;
  Argument(
      Args<SyncFrameCall>(close).samplingFlag == 0 && Args<SyncFrameCall>(close).frame == lastAsked,
      "the closing 'SYNC' had flag " + std::to_string(Args<SyncFrameCall>(close).samplingFlag) +
          " and frame " + std::to_string(Args<SyncFrameCall>(close).frame) +
          ", not flag 0 and frame " + std::to_string(lastAsked));
  int32_t noted = sampled ? 0 : expectedResult_;
  bool stored = false;
  const ServedCall* resize = nullptr;
  if (sampled) {
    resize = Expect(kSelectorAllocate, "resizing the block for the simplified path");
    if (resize == nullptr) return;
    const AllocateCall path = Args<AllocateCall>(resize);
    const int64_t points = PointsOfSize(path.sizeAsked);
    Argument(path.sizeAsked >= int64_t(BlockSizeFor(2)) &&
                 path.sizeAsked == int64_t(BlockSizeFor(size_t(std::max<int64_t>(points, 0)))) &&
                 points <= n,
             "'ALOC' for the path asked for " + std::to_string(path.sizeAsked) +
                 " bytes, not 52 + 16 k for 2 <= k <= " + std::to_string(n));
    noted = resize->result;
    if (resize->result == 0) {
      std::vector<uint8_t> moved = HostMove(block, path.sizeGranted);
      expectedAfter_ = BlockState{!moved.empty(), moved};
      stored = path.sizeGranted >= path.sizeAsked;
    }
  }
  const ServedCall* free = Expect(kSelectorMemFree, "returning the sample memory");
  if (free == nullptr) return;
  Argument(Address(Args<MemFreeCall>(free).memory) == Address(Args<MemAllocCall>(memory).memory),
           "'MFRE' named other memory than 'MMAL' gave");
  if (stored) CheckStoredPath(Args<AllocateCall>(resize), first, last);
  if (stored && noted == 0) Expect(kSelectorReset, "after the new path was stored");
}

// 'UOBJ' -1, then 0, 1, ... up to the count until the first child of the
// own group turns up. False when the search ends without one.
bool DesignCheck::FindChild(uintptr_t* child) {
  const ServedCall* count = Expect(kSelectorSceneObject, "with index -1 for the object count");
  if (count == nullptr) return false;
  Argument(Args<SceneObjectCall>(count).index == -1,
           "the first 'UOBJ' asked for index " +
               std::to_string(Args<SceneObjectCall>(count).index) + ", not -1");
  if (count->result != 0 || stopped_) return false;
  uintptr_t own = 0;
  for (int64_t index = 0; index <= Args<SceneObjectCall>(count).objectCount; ++index) {
    const ServedCall* object = Expect(kSelectorSceneObject, "with index " + std::to_string(index));
    if (object == nullptr) return false;
    Argument(Args<SceneObjectCall>(object).index == index,
             "'UOBJ' asked for index " + std::to_string(Args<SceneObjectCall>(object).index) +
                 ", not " + std::to_string(index));
    if (object->result != 0 || stopped_) return false;
    if (index == 0) {
      own = Address(Args<SceneObjectCall>(object).object);
    } else if (Address(Args<SceneObjectCall>(object).parent) == own) {
      *child = Address(Args<SceneObjectCall>(object).object);
      return own != 0 && Address(Args<SceneObjectCall>(object).object) != 0;
    }
  }
  return false;
}

// The stored path: every point one of the samples, in frame order, the
// first and the last sample among them; the bytes around them as the host
// moved them.
void DesignCheck::CheckStoredPath(const AllocateCall& resize, int64_t first, int64_t last) {
  checkBlock_ = false;
  const std::vector<uint8_t>& got = call_.after.bytes;
  const int64_t k = PointsOfSize(resize.sizeAsked);
  if (!call_.after.present || int64_t(got.size()) != resize.sizeGranted) {
    Problem("the block after the capture is not the host's block of " +
            std::to_string(resize.sizeGranted) + " bytes");
    return;
  }
  std::vector<uint8_t> expected = expectedAfter_.bytes;
  Write<int32_t>(expected, kBlockCountAt, static_cast<int32_t>(k));
  for (size_t i = 0; i < got.size(); ++i) {
    bool inPoints = i >= kBlockHeaderSize && int64_t(i) < int64_t(PointAt(k));
    if (!inPoints && got[i] != expected[i]) {
      Problem("the capture changed byte " + std::to_string(i) + " (" + FieldAt(i) +
              ") of the block, which it does not write");
      return;
    }
  }
  const std::vector<ObjectPositionCall>& samples = call_.samples;
  if (int64_t(samples.size()) != last - first + 1) {
    Problem("the host gave " + std::to_string(samples.size()) + " positions for " +
            std::to_string(last - first + 1) + " frames");
    return;
  }
  auto matches = [&](int64_t i, size_t s) {
    const size_t at = PointAt(i);
    const ObjectPositionCall& sample = samples[s];
    return SameFloatBits(static_cast<float>(sample.frame), Read<float>(got, at + 12)) &&
           SameFloatBits(static_cast<float>(sample.position[0]), Read<float>(got, at)) &&
           SameFloatBits(static_cast<float>(sample.position[1]), Read<float>(got, at + 4)) &&
           SameFloatBits(static_cast<float>(sample.position[2]), Read<float>(got, at + 8));
  };
  // Point 0 is the first sample, the last point the last sample, and the
  // ones between follow the samples in order.
  size_t s = 0;
  for (int64_t i = 0; i < k; ++i) {
    bool found;
    if (i == 0) {
      found = matches(0, 0);
      s = 1;
    } else if (i == k - 1) {
      found = s < samples.size() && matches(i, samples.size() - 1);
    } else {
      while (s + 1 < samples.size() && !matches(i, s)) ++s;
      found = s + 1 < samples.size();
      ++s;
    }
    if (!found) {
      const size_t at = PointAt(i);
      Problem("stored point " + std::to_string(i) + " of " + std::to_string(k) + " (" +
              Number(Read<float>(got, at)) + ", " + Number(Read<float>(got, at + 4)) + ", " +
              Number(Read<float>(got, at + 8)) + ", u " + Number(Read<float>(got, at + 12)) +
              ") is not " +
              (i == 0       ? "the first sample"
               : i == k - 1 ? "the last sample"
                            : "a later sample in frame order"));
      return;
    }
  }
}

}  // namespace design
}  // namespace vhost
