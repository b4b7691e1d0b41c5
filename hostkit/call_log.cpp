#include "hostkit/call_log.h"

#include <stdio.h>

#include "controldata/alloc_record.h"
#include "generate/generate_records.h"
#include "geometry/capture_records.h"
#include "host/creator_record.h"
#include "host/four_char_code.h"

namespace vhost {

namespace {

// Reads the sent fields of Record from sent and the answered ones from
// answered, when the host answered.
template <typename Record, typename Call, typename ReadSent, typename ReadAnswered>
Call Decode(const void* sent, const void* answered, ReadSent readSent, ReadAnswered readAnswered) {
  Call call;
  readSent(CopyRecord<Record>(sent), call);
  if (answered != nullptr) readAnswered(CopyRecord<Record>(answered), call);
  return call;
}

// Three doubles of a record field. The field may sit at a 4-byte offset (the
// macOS packing), so it is copied as bytes, never read through a double*.
void CopyTriple(const void* from, double* to) { memcpy(to, from, 3 * sizeof(double)); }

CallArguments DecodeCapture(uint32_t selector, const void* sent, const void* answered) {
  switch (selector) {
    case kSelectorTimeInfo:
      return Decode<HostTimeInfoRec, TimeInfoCall>(
          sent, answered, [](const HostTimeInfoRec&, TimeInfoCall&) {},
          [](const HostTimeInfoRec& r, TimeInfoCall& c) {
            c.firstFrame = r.firstFrame;
            c.lastFrame = r.lastFrame;
          });
    case kSelectorSceneObject:
      return Decode<HostSceneObjectRec, SceneObjectCall>(
          sent, answered,
          [](const HostSceneObjectRec& r, SceneObjectCall& c) { c.index = r.objectIndex; },
          [](const HostSceneObjectRec& r, SceneObjectCall& c) {
            if (c.index == -1) {
              c.objectCount = r.objectCount;
            } else {
              c.object = r.objectReference;
              c.parent = r.parentReference;
            }
          });
    case kSelectorSyncFrame:
      return Decode<HostSyncFrameRec, SyncFrameCall>(
          sent, answered,
          [](const HostSyncFrameRec& r, SyncFrameCall& c) {
            c.samplingFlag = r.samplingFlag;
            c.frame = r.frameNumber;
          },
          [](const HostSyncFrameRec&, SyncFrameCall&) {});
    case kSelectorObjectPosition:
      return Decode<HostObjectPositionRec, ObjectPositionCall>(
          sent, answered,
          [](const HostObjectPositionRec& r, ObjectPositionCall& c) {
            c.object = r.objectReference;
          },
          [](const HostObjectPositionRec& r, ObjectPositionCall& c) {
            CopyTriple(r.position, c.position);
          });
    case kSelectorMemAlloc:
      return Decode<HostMemAllocRec, MemAllocCall>(
          sent, answered,
          [](const HostMemAllocRec& r, MemAllocCall& c) {
            c.bytesAsked = static_cast<int64_t>(r.byteCount);
          },
          [](const HostMemAllocRec& r, MemAllocCall& c) { c.memory = r.memoryAddress; });
    case kSelectorMemFree:
      return Decode<HostMemFreeRec, MemFreeCall>(
          sent, answered,
          [](const HostMemFreeRec& r, MemFreeCall& c) { c.memory = r.memoryAddress; },
          [](const HostMemFreeRec&, MemFreeCall&) {});
    default: return std::monostate{};
  }
}

CallArguments DecodeGenerate(uint32_t selector, const void* sent, const void* answered) {
  switch (selector) {
    case kSelectorAddVertex:
      return Decode<HostModelAddVertexRec, AddVertexCall>(
          sent, answered,
          [](const HostModelAddVertexRec& r, AddVertexCall& c) {
            CopyTriple(r.position, c.position);
            CopyTriple(r.blurPosition, c.blur);
            c.u = r.uVector[0];
          },
          [](const HostModelAddVertexRec& r, AddVertexCall& c) { c.index = r.vertexIndex; });
    case kSelectorAddFace:
      return Decode<HostModelAddFaceRec, AddFaceCall>(
          sent, answered,
          [](const HostModelAddFaceRec& r, AddFaceCall& c) {
            c.firstVertex = r.firstVertex;
            c.secondVertex = r.secondVertex;
          },
          [](const HostModelAddFaceRec&, AddFaceCall&) {});
    case kSelectorGetGroup:
      return Decode<HostGetGroupRec, GetGroupCall>(
          sent, answered, [](const HostGetGroupRec&, GetGroupCall&) {},
          [](const HostGetGroupRec& r, GetGroupCall& c) { c.group = r.groupReference; });
    case kSelectorDeleteGroup:
      return Decode<HostDeleteGroupRec, DeleteGroupCall>(
          sent, answered,
          [](const HostDeleteGroupRec& r, DeleteGroupCall& c) { c.group = r.groupReference; },
          [](const HostDeleteGroupRec&, DeleteGroupCall&) {});
    default: return std::monostate{};
  }
}

}  // namespace

CallArguments DecodeCall(uint32_t selector, const void* sent, const void* answered) {
  if (sent == nullptr) return std::monostate{};
  switch (selector) {
    case kSelectorAllocate:
      return Decode<HostAllocDataRec, AllocateCall>(
          sent, answered,
          [](const HostAllocDataRec& r, AllocateCall& c) {
            c.sizeAsked = r.blockSize;
            c.blockNamed = r.blockAddress;
          },
          [](const HostAllocDataRec& r, AllocateCall& c) {
            c.sizeGranted = r.blockSize;
            c.blockReturned = r.blockAddress;
            c.tag = r.blockTag;
          });
    case kSelectorCreator:
      return Decode<HostCreatorRec, CreatorCall>(
          sent, answered, [](const HostCreatorRec&, CreatorCall&) {},
          [](const HostCreatorRec& r, CreatorCall& c) { c.creatorCode = r.creatorCode; });
    case kSelectorReset: return ResetCall{};
    case kSelectorAddVertex:
    case kSelectorAddFace:
    case kSelectorGetGroup:
    case kSelectorDeleteGroup: return DecodeGenerate(selector, sent, answered);
    default: return DecodeCapture(selector, sent, answered);
  }
}

std::string AddressText(const void* address) {
  if (address == nullptr) return "null";
  char text[32];
  snprintf(text, sizeof text, "%p", address);
  return text;
}

}  // namespace vhost
