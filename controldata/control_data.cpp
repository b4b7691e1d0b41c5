#include "controldata/control_data.h"

#include "controldata/alloc_record.h"
#include "host/info_record.h"

namespace {

bool IsMissing(const void* block, int32_t size) {
  return block == nullptr || size < kMinControlDataSize;
}

void ReversePoint(Fxyzu* point) {
  ReverseField(&point->x, 4);
  ReverseField(&point->y, 4);
  ReverseField(&point->z, 4);
  ReverseField(&point->u, 4);
}

// Asks the host for a block of requestedSize bytes in place of the current one
// and copies its answer into the info record. Returns the new block, or null
// when the host refused or broke its promise of a block of that size.
CControlData* AllocateThroughHost(int32_t requestedSize) {
  HostAllocDataRec alloc;
  alloc.owner = theInfo->owner;
  alloc.blockAddress = theInfo->parameterBlock;
  alloc.blockSize = requestedSize;
  alloc.blockReference = nullptr;
  alloc.blockTag = 0;
  if (!HostCall(kSelectorAllocate, alloc)) return nullptr;

  theInfo->parameterBlock = alloc.blockAddress;
  theInfo->parameterBlockSize = alloc.blockSize;
  theInfo->blockReference = alloc.blockReference;
  theInfo->blockTag = alloc.blockTag;
  if (alloc.blockAddress == nullptr || alloc.blockSize < requestedSize) return nullptr;
  return static_cast<CControlData*>(alloc.blockAddress);
}

}  // namespace

int32_t CControlData::Capacity(int32_t blockSize) {
  return blockSize < kControlDataHeaderSize ? 0 : (blockSize - kControlDataHeaderSize) / kPointSize;
}

void CControlData::FillDefaults() {
  magic = kControlDataMagic;
  angleTolerance = kDefaultAngleTolerance;
  freezeFlag = 0;
  reverseFlag = 0;
  pointCount = 0;
}

void CControlData::BoundPointCount(int32_t blockSize) {
  // A stored count that the block cannot hold would send the repair and every
  // later reader past the end of the host's block; bound it where it is stored.
  if (pointCount < 0) pointCount = 0;
  if (pointCount > Capacity(blockSize)) pointCount = Capacity(blockSize);
}

void CControlData::FixData(int32_t blockSize) {
  if (magic == kControlDataMagic) {
    BoundPointCount(blockSize);
    return;
  }
  ReverseField(&magic, 4);
  if (magic != kControlDataMagic) {
    FillDefaults();  // neither byte order: not a parameter block
    return;
  }
  // Written on a machine of the other byte order: every field is reversed,
  // the count first, since it says how many points follow.
  ReverseField(&angleTolerance, 4);
  ReverseField(&freezeFlag, 4);
  ReverseField(&reverseFlag, 4);
  ReverseField(&pointCount, 4);
  BoundPointCount(blockSize);
  for (int32_t i = 0; i < pointCount; ++i) ReversePoint(Point(i));
}

int32_t ControlDataSizeFor(int32_t n) {
  return n > 0 ? kMinControlDataSize + kPointSize * n : kMinControlDataSize;
}

bool ControlDataSizeFits(int64_t n) { return n <= (INT32_MAX - kMinControlDataSize) / kPointSize; }

CControlData* GetControlData(int32_t n) {
  auto* block = static_cast<CControlData*>(theInfo->parameterBlock);
  int32_t size = theInfo->parameterBlockSize;
  bool missing = IsMissing(block, size);

  if (!missing && n < 0) {
    block->FixData(size);
    return block;
  }

  block = AllocateThroughHost(ControlDataSizeFor(n));
  if (block == nullptr) return nullptr;
  if (missing) {
    block->FillDefaults();
  } else {
    block->pointCount = n;
  }
  return block;
}

void ReverseField(void* field, int32_t length) {
  auto* bytes = static_cast<uint8_t*>(field);
  int32_t first = 0;
  int32_t last = length - 1;
  while (first < last) {
    uint8_t swap = bytes[first];
    bytes[first] = bytes[last];
    bytes[last] = swap;
    ++first;
    --last;
  }
}
