// 'SETM': copies the group's matrices and, unless the path is frozen or the
// host is the 'XOLR' variant, captures the motion path of the first child
// group: the frame range ('TINF'), the child ('UOBJ'), one position per frame
// ('SYNC', 'TOBJ') into host memory ('MMAL', 'MFRE'), simplified and stored
// in the parameter block, then 'RSET'.
#include <stdint.h>
#include <string.h>

#include "controldata/control_data.h"
#include "geometry/capture_records.h"
#include "geometry/group_matrix.h"
#include "geometry/path_simplify.h"
#include "host/handlers.h"
#include "host/host_proc.h"
#include "host/info_record.h"

double theGroupMatrix[kMatrixElements];
double theGroupBlurMatrix[kMatrixElements];

namespace {

// Fewer frames than this are not captured: the simplification needs a first,
// a last and at least one sample between them.
constexpr int64_t kMinFramesToCapture = 3;

struct FrameRange {
  int32_t first;
  int32_t last;
  // Frames are counted in 64 bits: last - first + 1 of two 32-bit frame
  // numbers does not fit 32 bits at the ends of their range.
  int64_t Count() const { return int64_t(last) - int64_t(first) + 1; }
};

void CopyGroupMatrices() {
  memcpy(theGroupMatrix, theInfo->setup.groupMatrix, sizeof theGroupMatrix);
  memcpy(theGroupBlurMatrix, theInfo->setup.groupBlurMatrix, sizeof theGroupBlurMatrix);
}

bool AskFrameRange(FrameRange& range) {
  HostTimeInfoRec time;
  time.owner = theInfo->owner;
  if (!HostCall(kSelectorTimeInfo, time)) return false;
  range.first = time.firstFrame;
  range.last = time.lastFrame;
  return true;
}

// Whether n samples fit everything they pass through: the byte count of
// 'MMAL' (pointer-sized, so the tighter limit on a 32-bit build) and the
// block of 52 + 16 n bytes the survivors may need (a signed 32-bit size; the
// survivors are never more than the samples).
bool CaptureFits(int64_t n) {
  return n <= INTPTR_MAX / static_cast<int64_t>(sizeof(PathNode)) && ControlDataSizeFits(n);
}

// Finds the plug-in's own group (index 0) and its first child: the object of
// lowest index from 1 on whose parent is the own group. Returns false when a
// 'UOBJ' was refused or there is no such child with a non-null reference.
bool FindFirstChild(HostOpaque& child) {
  HostSceneObjectRec object;
  object.owner = theInfo->owner;
  object.objectIndex = -1;
  if (!HostCall(kSelectorSceneObject, object)) return false;
  const int32_t lastIndex = object.objectCount;

  HostOpaque ownGroup = nullptr;
  // 64-bit index: a count of INT32_MAX must not make the loop wrap around.
  for (int64_t index = 0; index <= lastIndex; ++index) {
    object.objectIndex = static_cast<int32_t>(index);
    if (!HostCall(kSelectorSceneObject, object)) return false;
    if (index == 0) {
      ownGroup = object.objectReference;
    } else if (object.parentReference == ownGroup) {
      child = object.objectReference;
      return ownGroup != nullptr && child != nullptr;
    }
  }
  return false;
}

PathNode* AllocateSamples(int64_t n) {
  HostMemAllocRec alloc;
  alloc.owner = theInfo->owner;
  alloc.byteCount = static_cast<intptr_t>(n * static_cast<int64_t>(sizeof(PathNode)));
  alloc.memoryAddress = nullptr;
  if (!HostCall(kSelectorMemAlloc, alloc)) return nullptr;
  return static_cast<PathNode*>(alloc.memoryAddress);
}

void FreeSamples(PathNode* nodes) {
  HostMemFreeRec memFree;
  memFree.owner = theInfo->owner;
  memFree.memoryAddress = nodes;
  HostCall(kSelectorMemFree, memFree);
}

// Steps the scene through every frame of the range and reads the child's
// position at each, then closes the sampling with a 'SYNC' of flag 0 (always,
// also after a failure; its own result decides nothing). Returns the result
// of the sampling itself: 0, or the error of the 'SYNC' or 'TOBJ' that
// stopped it.
int32_t SampleFrames(const FrameRange& range, HostOpaque child, PathNode* nodes) {
  HostSyncFrameRec sync;
  sync.owner = theInfo->owner;
  sync.samplingFlag = 1;
  HostObjectPositionRec position;
  position.owner = theInfo->owner;
  position.objectReference = child;

  for (int64_t frame = range.first; frame <= range.last; ++frame) {
    sync.frameNumber = static_cast<int32_t>(frame);
    if (!HostCall(kSelectorSyncFrame, sync)) break;
    if (!HostCall(kSelectorObjectPosition, position)) break;
    Fxyzu& point = nodes[frame - range.first].point;
    point.x = static_cast<float>(position.position[0]);
    point.y = static_cast<float>(position.position[1]);
    point.z = static_cast<float>(position.position[2]);
    point.u = static_cast<float>(sync.frameNumber);
  }
  const int32_t samplingResult = theError;

  sync.samplingFlag = 0;  // the frame number stays the last one asked for
  HostCall(kSelectorSyncFrame, sync);
  return samplingResult;
}

}  // namespace

void ModelSetup() {
  CopyGroupMatrices();
  if (theCreator == kCreatorXolr) return;  // that host sets its groups up itself

  CControlData* block = GetControlData(-1);
  if (block == nullptr || block->freezeFlag != 0) return;

  FrameRange range;
  if (!AskFrameRange(range)) return;
  const int64_t n = range.Count();
  if (n < kMinFramesToCapture) return;  // the stored path stays
  // A range too large for the sample memory or the parameter block is not
  // captured: nothing more is asked of the host, the stored path stays and
  // the result code is that of 'TINF', 0.
  if (!CaptureFits(n)) return;

  HostOpaque child = nullptr;
  if (!FindFirstChild(child)) return;

  PathNode* nodes = AllocateSamples(n);
  if (nodes == nullptr) return;

  int32_t result = SampleFrames(range, child, nodes);
  bool stored = false;
  if (result == kResultOk) {
    // CaptureFits bounds n far below INT32_MAX.
    stored = SimplifyPath(nodes, static_cast<int>(n), AngleLimit(block->angleTolerance));
    result = theError;
  }
  FreeSamples(nodes);
  // 'RSET' only for a newly stored path: not after a failed sampling or a
  // refused resize, and not after a resize the host granted too small (its
  // result is 0, but nothing was stored).
  if (stored && result == kResultOk) SendReset();
}
