#include "hostkit/protocol_checker.h"

#include <stddef.h>
#include <string.h>

#include "controldata/alloc_record.h"
#include "generate/generate_records.h"
#include "geometry/capture_records.h"
#include "hostkit/protocol.h"

namespace vhost {

uint32_t ProtocolChecker::processCreator_ = 0;

std::string Quoted(uint32_t code) { return "'" + CodeName(code) + "'"; }

void ProtocolChecker::BeginEntryCall(uint32_t entrySelector, HostOpaque owner, const void* block) {
  entry_ = entrySelector;
  owner_ = owner;
  block_ = block;
  vertices_.clear();
}

void ProtocolChecker::EndEntryCall() {
  if (entry_ == kSelectorSetup && sampling_)
    Violation("'SETM' ended with the sampling still open (no closing 'SYNC' with flag 0)");
  sampling_ = false;
  // Sample memory is the host's again at the end of every call.
  memory_.clear();
  entry_ = 0;
}

bool ProtocolChecker::Admit(uint32_t selector, int32_t size, const void* record) {
  const int32_t expected = ExpectedRecordSize(selector);
  if (expected < 0) {
    Violation("unknown selector " + Quoted(selector) + " (size " + std::to_string(size) + ")");
    return false;
  }
  if (record == nullptr) {
    Violation(Quoted(selector) + " sent without a record");
    return false;
  }
  if (size != expected) {
    Violation(Quoted(selector) + " sent with size " + std::to_string(size) +
              ", the record of this build has " + std::to_string(expected));
    return false;
  }
  HostOpaque owner;
  memcpy(&owner, record, sizeof owner);
  if (owner != owner_) {
    Violation(Quoted(selector) + " carries the owner value " + AddressText(owner) +
              ", not the info record's " + AddressText(owner_));
  }
  if (!AllowedDuring(selector, entry_)) {
    Violation(Quoted(selector) + " sent during " + Quoted(entry_) +
              ", where the host does not expect it");
  }
  return AdmitArguments(selector, record);
}

bool ProtocolChecker::AdmitArguments(uint32_t selector, const void* record) {
  switch (selector) {
    case kSelectorAllocate: {
      auto alloc = CopyRecord<HostAllocDataRec>(record);
      if (alloc.blockAddress != block_) {
        Violation("'ALOC' names block " + AddressText(alloc.blockAddress) +
                  ", but the instance's block is " + AddressText(block_));
        return false;
      }
      if (alloc.blockSize < 0) {
        Violation("'ALOC' asks for " + std::to_string(alloc.blockSize) + " bytes");
        return false;
      }
      return true;
    }
    case kSelectorSyncFrame: {
      auto sync = CopyRecord<HostSyncFrameRec>(record);
      if (sync.samplingFlag != 0 && sync.samplingFlag != 1) {
        Violation("'SYNC' with the sampling flag " + std::to_string(sync.samplingFlag) +
                  " (0 or 1 expected)");
        return false;
      }
      return true;
    }
    case kSelectorObjectPosition:
      if (!sampling_) Violation("'TOBJ' without a 'SYNC' with flag 1 before it");
      return true;
    case kSelectorMemAlloc: {
      auto alloc = CopyRecord<HostMemAllocRec>(record);
      if (alloc.byteCount <= 0) {
        Violation("'MMAL' asks for " + std::to_string(static_cast<int64_t>(alloc.byteCount)) +
                  " bytes");
        return false;
      }
      return true;
    }
    case kSelectorMemFree: {
      auto free = CopyRecord<HostMemFreeRec>(record);
      if (memory_.count(free.memoryAddress) == 0) {
        Violation("'MFRE' of " + AddressText(free.memoryAddress) +
                  ", which is not memory that 'MMAL' gave and is still out");
        return false;
      }
      return true;
    }
    case kSelectorAddVertex: CheckVertexFields(record); return true;
    case kSelectorAddFace: return AdmitFace(record);
    case kSelectorGetGroup: {
      if (processCreator_ != kCreatorXolr) {
        Violation("'GETG' from a plug-in whose host told it the creator code " +
                  Quoted(processCreator_) + ", not 'XOLR'");
      }
      auto group = CopyRecord<HostGetGroupRec>(record);
      if (group.fixedValue != 1)
        Violation("'GETG' with the fixed value " + std::to_string(group.fixedValue) +
                  " (1 expected)");
      return true;
    }
    case kSelectorDeleteGroup: {
      auto group = CopyRecord<HostDeleteGroupRec>(record);
      if (groups_.count(group.groupReference) == 0) {
        Violation("'DELG' of " + AddressText(group.groupReference) +
                  ", which is not a group 'GETG' handed out");
        return false;
      }
      return true;
    }
    default: return true;
  }
}

void ProtocolChecker::CheckVertexFields(const void* record) {
  auto vertex = CopyRecord<HostModelAddVertexRec>(record);
  if (vertex.fixedValue != -1)
    Violation("'ADDV' with the fixed value " + std::to_string(vertex.fixedValue) +
              " (-1 expected)");
  if (vertex.fixedVector[0] != 0 || vertex.fixedVector[1] != 0 || vertex.fixedVector[2] != 1)
    Violation("'ADDV' with a fixed vector other than (0, 0, 1)");
  if (vertex.uVector[1] != 0 || vertex.uVector[2] != 0)
    Violation("'ADDV' with a u vector other than (u, 0, 0)");
}

bool ProtocolChecker::AdmitFace(const void* record) {
  auto face = CopyRecord<HostModelAddFaceRec>(record);
  if (face.fixedValue != -1)
    Violation("'ADDF' with the fixed value " + std::to_string(face.fixedValue) + " (-1 expected)");
  if (face.furtherFields[0] != 0 || face.furtherFields[1] != 0)
    Violation("'ADDF' with further fields other than 0, 0");
  if (face.vertexCount != 2) {
    Violation("'ADDF' with a vertex count of " + std::to_string(face.vertexCount) +
              " (2 expected)");
    return false;
  }
  if (!vertices_.count(face.firstVertex) || !vertices_.count(face.secondVertex)) {
    Violation("'ADDF' names vertex " + std::to_string(face.firstVertex) + " and " +
              std::to_string(face.secondVertex) + ", not both handed out by this 'GENM'");
    return false;
  }
  return true;
}

void ProtocolChecker::Served(const ServedCall& call) {
  if (const auto* sync = call.As<SyncFrameCall>()) {
    // The plug-in closed the sampling; that the host refused the call does
    // not leave it open.
    if (sync->samplingFlag == 0) sampling_ = false;
    if (sync->samplingFlag == 1 && call.result == 0) sampling_ = true;
  }
  // A refused 'CREA' leaves the plug-in with the unknown creator code.
  if (const auto* creator = call.As<CreatorCall>())
    processCreator_ = call.result == 0 ? creator->creatorCode : kCreatorUnknown;
  if (call.result != 0) return;
  if (const auto* alloc = call.As<AllocateCall>()) block_ = alloc->blockReturned;
  if (const auto* memory = call.As<MemAllocCall>()) {
    if (memory->memory != nullptr) memory_.insert(memory->memory);
  }
  if (const auto* free = call.As<MemFreeCall>()) memory_.erase(free->memory);
  if (const auto* vertex = call.As<AddVertexCall>()) vertices_.insert(vertex->index);
  if (const auto* group = call.As<GetGroupCall>()) groups_.insert(group->group);
  if (const auto* group = call.As<DeleteGroupCall>()) groups_.erase(group->group);
}

void ProtocolChecker::CheckInfoRecord(uint32_t entrySelector, const std::vector<uint8_t>& before,
                                      const HostInfoRec& after) {
  const size_t size = sizeof(HostInfoRec);
  if (before.size() != size) return;
  std::vector<bool> mayChange(size, false);
  auto allow = [&](size_t offset, size_t length) {
    for (size_t i = offset; i < offset + length && i < size; ++i) mayChange[i] = true;
  };
  allow(0, offsetof(HostInfoRec, hostProc));
  if (entrySelector == kSelectorInfo) {
    const HostPluginDescription& d = after.info;
    allow(offsetof(HostInfoRec, info.pluginType), sizeof d.pluginType);
    allow(offsetof(HostInfoRec, info.pluginVersion), sizeof d.pluginVersion);
    allow(offsetof(HostInfoRec, info.pluginName), 1 + size_t(d.pluginName[0]));
    allow(offsetof(HostInfoRec, info.copyright), 1 + size_t(d.copyright[0]));
    allow(offsetof(HostInfoRec, info.authorName), 1 + size_t(d.authorName[0]));
    allow(offsetof(HostInfoRec, info.description), 1 + size_t(d.description[0]));
    allow(offsetof(HostInfoRec, info.infoFlags), sizeof d.infoFlags);
  }
  auto* now = reinterpret_cast<const uint8_t*>(&after);
  size_t changed = 0, first = 0;
  for (size_t i = 0; i < size; ++i) {
    if (!mayChange[i] && now[i] != before[i]) {
      if (changed++ == 0) first = i;
    }
  }
  if (changed != 0) {
    Violation(Quoted(entrySelector) + " wrote " + std::to_string(changed) +
              " byte(s) of the info record that are the host's (the first at offset " +
              std::to_string(first) + ")");
  }
}

}  // namespace vhost
