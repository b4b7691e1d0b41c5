// The records of the motion path capture ('SETM'): frame range, object search,
// frame stepping, object position and the temporary sample memory. Each is a
// plain structure on the stack of ModelSetup, passed by address with its size.
// Fields named reserved are the host's: never set and never read.
#ifndef VESTREL_GEOMETRY_CAPTURE_RECORDS_H
#define VESTREL_GEOMETRY_CAPTURE_RECORDS_H

#include <stdint.h>

#include "host/host_proc.h"
#include "host/record_layout.h"

VESTREL_BEGIN_RECORDS

// 'TINF': the animation's frame range.
struct HostTimeInfoRec {
  HostOpaque owner;  // sent: the owner value
  double reserved1[4];
  int32_t reserved2;
  int32_t firstFrame;  // returned: the first frame of the range
  int32_t lastFrame;   // returned: the last frame of the range
};

// 'UOBJ': one record serves the whole search; only objectIndex changes.
struct HostSceneObjectRec {
  HostOpaque owner;            // sent: the owner value
  int32_t objectIndex;         // sent: -1 for the count, then 0, 1, 2, ...
  HostOpaque objectReference;  // returned for index >= 0: the object
  unsigned char reserved1[260];
  int32_t objectCount;         // returned for index -1: the highest index to visit
  HostOpaque parentReference;  // returned for index >= 1: the object's parent
  int32_t reserved2;
};

// 'SYNC': flag 1 puts the scene at frameNumber for the next 'TOBJ'; flag 0
// ends the sampling. Nothing is read back.
struct HostSyncFrameRec {
  HostOpaque owner;      // sent: the owner value
  int32_t samplingFlag;  // sent: 1 before each sample, 0 in the closing call
  int32_t frameNumber;   // sent: the frame; the closing call keeps the last one asked
  double reserved;
};

// 'TOBJ': an object's position at the frame of the last 'SYNC'.
struct HostObjectPositionRec {
  HostOpaque owner;            // sent: the owner value
  HostOpaque objectReference;  // sent: the child group
  double reserved1[12];
  double position[3];  // returned: x, y, z
  double reserved2;
};

// 'MMAL': temporary host memory for the samples, returned with 'MFRE' before
// 'SETM' ends.
struct HostMemAllocRec {
  HostOpaque owner;     // sent: the owner value
  intptr_t byteCount;   // sent: the bytes wanted
  void* memoryAddress;  // sent: null; returned: the memory, or null
};

// 'MFRE': returns the memory of 'MMAL'.
struct HostMemFreeRec {
  HostOpaque owner;     // sent: the owner value
  void* memoryAddress;  // sent: what 'MMAL' returned
};

VESTREL_END_RECORDS

VESTREL_CHECK_OFFSET(HostTimeInfoRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostTimeInfoRec, firstFrame, 44, 44, 44);
VESTREL_CHECK_OFFSET(HostTimeInfoRec, lastFrame, 48, 48, 48);
VESTREL_CHECK_SIZE(HostTimeInfoRec, 56, 56, 52);

VESTREL_CHECK_OFFSET(HostSceneObjectRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostSceneObjectRec, objectIndex, 4, 8, 8);
VESTREL_CHECK_OFFSET(HostSceneObjectRec, objectReference, 8, 16, 12);
VESTREL_CHECK_OFFSET(HostSceneObjectRec, objectCount, 272, 284, 280);
VESTREL_CHECK_OFFSET(HostSceneObjectRec, parentReference, 276, 288, 284);
VESTREL_CHECK_SIZE(HostSceneObjectRec, 284, 304, 296);

VESTREL_CHECK_OFFSET(HostSyncFrameRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostSyncFrameRec, samplingFlag, 4, 8, 8);
VESTREL_CHECK_OFFSET(HostSyncFrameRec, frameNumber, 8, 12, 12);
VESTREL_CHECK_SIZE(HostSyncFrameRec, 24, 24, 24);

VESTREL_CHECK_OFFSET(HostObjectPositionRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostObjectPositionRec, objectReference, 4, 8, 8);
VESTREL_CHECK_OFFSET(HostObjectPositionRec, position, 104, 112, 112);
VESTREL_CHECK_SIZE(HostObjectPositionRec, 136, 144, 144);

VESTREL_CHECK_OFFSET(HostMemAllocRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostMemAllocRec, byteCount, 4, 8, 8);
VESTREL_CHECK_OFFSET(HostMemAllocRec, memoryAddress, 8, 16, 16);
VESTREL_CHECK_SIZE(HostMemAllocRec, 12, 24, 24);

VESTREL_CHECK_OFFSET(HostMemFreeRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostMemFreeRec, memoryAddress, 4, 8, 8);
VESTREL_CHECK_SIZE(HostMemFreeRec, 8, 16, 16);

#endif
