#include "reference_host/host_session.h"

#include <string.h>

#include <algorithm>

#include "controldata/alloc_record.h"
#include "generate/generate_records.h"
#include "geometry/capture_records.h"
#include "host/creator_record.h"
#include "host/reset_record.h"

namespace vhost {

namespace {

HostSession* currentSession = nullptr;

// Bytes of the info record that belong to the host are filled with this, so
// that a plug-in that writes where it may not shows.
constexpr uint8_t kHostFill = 0xA5;

const HostOpaque kOwnerValue = reinterpret_cast<HostOpaque>(uintptr_t(0x0A0E5000));
constexpr uintptr_t kObjectReferences = 0x0B000000;
constexpr uintptr_t kBlockReferences = 0x0B10C000;

template <typename Record>
Record& As(void* record) {
  return *static_cast<Record*>(record);
}

std::string Quoted(uint32_t code) { return "'" + CodeName(code) + "'"; }

TraceEvent Triple(const double* values) {
  return TraceEvent::array({values[0], values[1], values[2]});
}

}  // namespace

HostSession* HostSession::Current() { return currentSession; }

HostSession::HostSession(const Scene& scene, GuardedHeap& heap, const FaultPlan& faults,
                         Findings& findings, Trace& trace, HostServices& services)
    : scene_(scene),
      heap_(heap),
      faults_(faults),
      findings_(findings),
      trace_(trace),
      services_(services),
      owner_(kOwnerValue) {
  info_ = static_cast<HostInfoRec*>(heap_.Allocate(sizeof(HostInfoRec), "info record"));
  memset(static_cast<void*>(info_), kHostFill, sizeof(HostInfoRec));
}

HostSession::~HostSession() { Finish(); }

void HostSession::Finish() {
  if (info_ == nullptr) return;
  FreeBlock();
  for (void* memory : sampleMemory_) heap_.Free(memory);
  sampleMemory_.clear();
  heap_.Free(info_);
  info_ = nullptr;
  CheckMemory();
}

void HostSession::FreeBlock() {
  if (block_ != nullptr) heap_.Free(block_);
  block_ = nullptr;
  blockSize_ = 0;
}

bool HostSession::SetBlock(const std::vector<uint8_t>& bytes) {
  FreeBlock();
  void* block = heap_.Allocate(bytes.size(), "parameter block");
  if (block == nullptr) return false;
  if (!bytes.empty()) memcpy(block, bytes.data(), bytes.size());
  block_ = block;
  blockSize_ = static_cast<int32_t>(bytes.size());
  blockReference_ = reinterpret_cast<HostOpaque>(kBlockReferences);
  blockTag_ = 0;
  return true;
}

std::vector<uint8_t> HostSession::BlockBytes() const {
  if (block_ == nullptr || blockSize_ <= 0) return {};
  auto* bytes = static_cast<const uint8_t*>(block_);
  return std::vector<uint8_t>(bytes, bytes + blockSize_);
}

void* HostSession::ObjectReference(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= scene_.objects.size()) return nullptr;
  if (scene_.objects[index].nullReference) return nullptr;
  return reinterpret_cast<void*>(kObjectReferences + 0x100 * (uintptr_t(index) + 1));
}

// ---------------------------------------------------------------------------
// Entry calls

void HostSession::PrepareInfoRecord(uint32_t selector) {
  memset(static_cast<void*>(info_), kHostFill, sizeof(HostInfoRec));
  info_->parameterBlock = block_;
  info_->parameterBlockSize = blockSize_;
  info_->blockReference = blockReference_;
  info_->blockTag = blockTag_;
  info_->hostProc = &HostSession::Callback;
  info_->owner = owner_;
  if (selector == kSelectorSetup) {
    memcpy(info_->setup.groupMatrix, scene_.groupMatrix.data(), sizeof info_->setup.groupMatrix);
    memcpy(info_->setup.groupBlurMatrix, scene_.blurMatrix.data(),
           sizeof info_->setup.groupBlurMatrix);
  }
  auto* bytes = reinterpret_cast<const uint8_t*>(info_);
  infoBefore_.assign(bytes, bytes + sizeof(HostInfoRec));
}

int32_t HostSession::Call(EntryFunction entry, uint32_t selector, int32_t renderFrame) {
  EntryCallReport report;
  report.selector = selector;
  report.renderFrame = renderFrame;
  reports_.push_back(report);
  currentSelector_ = selector;
  samples_.clear();
  handedOutVertices_.clear();
  if (selector == kSelectorGenerate) {
    GeneratedModel model;
    model.frame = renderFrame;
    models_.push_back(model);
  }
  PrepareInfoRecord(selector);
  services_.BeginEntryCall(CodeName(selector));
  trace_.Write({{"entry", CodeName(selector)},
                {"frame", renderFrame},
                {"block", AddressText(block_)},
                {"block_size", blockSize_}});

  HostSession* previous = currentSession;
  currentSession = this;
  int32_t result = entry(selector, nullptr, info_);
  currentSession = previous;

  reports_.back().result = result;
  trace_.Write({{"entry_result", CodeName(selector)},
                {"result", result},
                {"block", AddressText(block_)},
                {"block_size", blockSize_}});
  EndOfCall(selector);
  return result;
}

void HostSession::EndOfCall(uint32_t selector) {
  CheckInfoRecord(selector);
  if (selector == kSelectorSetup) {
    if (sampling_)
      findings_.Violation(
          "'SETM' ended with the sampling still open (no closing 'SYNC' with flag 0)");
    if (!samples_.empty()) lastSamples_ = samples_;
    reports_.back().framesSampled = static_cast<int>(samples_.size());
  }
  sampling_ = false;
  for (void* memory : sampleMemory_) {
    findings_.Leak(ResourceKind::kSampleMemory,
                   "sample memory " + AddressText(memory) + " (" +
                       std::to_string(heap_.SizeOf(memory)) +
                       " bytes) from 'MMAL' was not returned by the end of " + Quoted(selector));
    findings_.Released(ResourceKind::kSampleMemory);
    heap_.Free(memory);
  }
  sampleMemory_.clear();
  services_.EndEntryCall();
  CheckMemory();
  currentSelector_ = 0;
}

void HostSession::CheckMemory() {
  heap_.CheckAll();
  for (const std::string& problem : heap_.TakeProblems()) findings_.Overrun(problem);
}

// The plug-in may write the four head fields (after 'ALOC', with what the host
// returned) and, under 'INFO', its self-description; every other byte of the
// info record is the host's.
void HostSession::CheckInfoRecord(uint32_t selector) {
  if (info_->parameterBlock != block_ || info_->parameterBlockSize != blockSize_ ||
      info_->blockReference != blockReference_ || info_->blockTag != blockTag_) {
    findings_.Violation("after " + Quoted(selector) + " the info record names block " +
                        AddressText(info_->parameterBlock) + " of " +
                        std::to_string(info_->parameterBlockSize) +
                        " bytes, but the host's answer to 'ALOC' was " + AddressText(block_) +
                        " of " + std::to_string(blockSize_) + " bytes");
  }
  const size_t size = sizeof(HostInfoRec);
  std::vector<bool> mayChange(size, false);
  auto allow = [&](size_t offset, size_t length) {
    for (size_t i = offset; i < offset + length && i < size; ++i) mayChange[i] = true;
  };
  allow(0, offsetof(HostInfoRec, hostProc));
  if (selector == kSelectorInfo) {
    const HostPluginDescription& d = info_->info;
    allow(offsetof(HostInfoRec, info.pluginType), sizeof d.pluginType);
    allow(offsetof(HostInfoRec, info.pluginVersion), sizeof d.pluginVersion);
    allow(offsetof(HostInfoRec, info.pluginName), 1 + size_t(d.pluginName[0]));
    allow(offsetof(HostInfoRec, info.copyright), 1 + size_t(d.copyright[0]));
    allow(offsetof(HostInfoRec, info.authorName), 1 + size_t(d.authorName[0]));
    allow(offsetof(HostInfoRec, info.description), 1 + size_t(d.description[0]));
    allow(offsetof(HostInfoRec, info.infoFlags), sizeof d.infoFlags);
  }
  auto* now = reinterpret_cast<const uint8_t*>(info_);
  size_t changed = 0, first = 0;
  for (size_t i = 0; i < size; ++i) {
    if (!mayChange[i] && now[i] != infoBefore_[i]) {
      if (changed++ == 0) first = i;
    }
  }
  if (changed != 0) {
    findings_.Violation(Quoted(selector) + " wrote " + std::to_string(changed) +
                        " byte(s) of the info record that are the host's (the first at offset " +
                        std::to_string(first) + ")");
  }
}

// ---------------------------------------------------------------------------
// The callback

int32_t HostSession::Callback(uint32_t selector, int32_t size, void* record) {
  if (currentSession == nullptr) return kHostErrorBadRecord;  // not inside an entry call
  return currentSession->Serve(selector, size, record);
}

void HostSession::CheckPhase(uint32_t selector) {
  if (!AllowedDuring(selector, currentSelector_)) {
    findings_.Violation(Quoted(selector) + " sent during " + Quoted(currentSelector_) +
                        ", where the host does not expect it");
  }
}

int32_t HostSession::Serve(uint32_t selector, int32_t size, void* record) {
  uint64_t number = ++callNumber_;
  ++totals_[selector];
  EntryCallReport& report = reports_.back();
  ++report.calls[selector];
  TraceEvent event = {{"call", CodeName(selector)},
                      {"n", number},
                      {"size", size},
                      {"during", CodeName(currentSelector_)}};

  logging_ = nullptr;
  if (keepLog_) {
    log_.push_back(CallbackCall{});
    logging_ = &log_.back();
    logging_->entry = currentSelector_;
    logging_->selector = selector;
  }
  int32_t expected = ExpectedRecordSize(selector);
  int32_t result = 0;
  if (expected < 0) {
    findings_.Violation("unknown selector " + Quoted(selector) + " (size " + std::to_string(size) +
                        ")");
    result = kHostErrorBadRecord;
  } else if (record == nullptr) {
    findings_.Violation(Quoted(selector) + " sent without a record");
    result = kHostErrorBadRecord;
  } else if (size != expected) {
    findings_.Violation(Quoted(selector) + " sent with size " + std::to_string(size) +
                        ", the record of this build has " + std::to_string(expected));
    result = kHostErrorBadRecord;
  }
  if (result == 0) {
    HostOpaque owner;
    memcpy(&owner, record, sizeof owner);
    if (owner != owner_) {
      findings_.Violation(Quoted(selector) + " carries the owner value " + AddressText(owner) +
                          ", not the info record's " + AddressText(owner_));
    }
    CheckPhase(selector);
    if (std::optional<int32_t> refusal = faults_.CallbackRefusal(selector, number)) {
      result = *refusal;
      event["refused"] = true;
      if (logging_ != nullptr) {
        logging_->refused = true;
        NoteRefusedRecord(selector, record);
      }
      // The plug-in closed the sampling; that the host refused the call does
      // not leave it open.
      if (selector == kSelectorSyncFrame && As<HostSyncFrameRec>(record).samplingFlag == 0)
        sampling_ = false;
      report.refused.push_back(Quoted(selector) + " (call #" + std::to_string(number) +
                               ") refused with " + std::to_string(result));
    } else {
      result = Dispatch(selector, record, &event);
    }
  }
  event["result"] = result;
  trace_.Write(std::move(event));
  if (logging_ != nullptr) logging_->result = result;
  logging_ = nullptr;
  return result;
}

// What a refused call named, for the log: the arguments that tell which call
// of a run it was.
void HostSession::NoteRefusedRecord(uint32_t selector, void* record) {
  switch (selector) {
    case kSelectorAllocate: {
      auto& alloc = As<HostAllocDataRec>(record);
      logging_->a = alloc.blockSize;
      logging_->p = reinterpret_cast<uintptr_t>(alloc.blockAddress);
      break;
    }
    case kSelectorSceneObject: logging_->a = As<HostSceneObjectRec>(record).objectIndex; break;
    case kSelectorSyncFrame:
      logging_->a = As<HostSyncFrameRec>(record).samplingFlag;
      logging_->b = As<HostSyncFrameRec>(record).frameNumber;
      break;
    case kSelectorObjectPosition:
      logging_->p = reinterpret_cast<uintptr_t>(As<HostObjectPositionRec>(record).objectReference);
      break;
    case kSelectorMemAlloc:
      logging_->a = static_cast<int64_t>(As<HostMemAllocRec>(record).byteCount);
      break;
    case kSelectorMemFree:
      logging_->p = reinterpret_cast<uintptr_t>(As<HostMemFreeRec>(record).memoryAddress);
      break;
    case kSelectorAddVertex: logging_->u = As<HostModelAddVertexRec>(record).uVector[0]; break;
    case kSelectorAddFace:
      logging_->a = As<HostModelAddFaceRec>(record).firstVertex;
      logging_->b = As<HostModelAddFaceRec>(record).secondVertex;
      break;
    case kSelectorDeleteGroup:
      logging_->p = reinterpret_cast<uintptr_t>(As<HostDeleteGroupRec>(record).groupReference);
      break;
    default: break;
  }
}

int32_t HostSession::Dispatch(uint32_t selector, void* record, TraceEvent* event) {
  switch (selector) {
    case kSelectorAllocate: return Allocate(record, event);
    case kSelectorCreator: return AnswerCreator(record, event);
    case kSelectorReset: reports_.back().resetSent = true; return 0;
    case kSelectorTimeInfo: return AnswerTimeInfo(record, event);
    case kSelectorSceneObject: return AnswerSceneObject(record, event);
    case kSelectorSyncFrame: return Sync(record, event);
    case kSelectorObjectPosition: return AnswerPosition(record, event);
    case kSelectorMemAlloc: return MemAlloc(record, event);
    case kSelectorMemFree: return MemFree(record, event);
    case kSelectorAddVertex: return AddVertex(record, event);
    case kSelectorAddFace: return AddFace(record, event);
    case kSelectorGetGroup: return GetGroup(record, event);
    case kSelectorDeleteGroup: return DeleteGroup(record, event);
    default: return kHostErrorBadRecord;
  }
}

// 'ALOC' always moves the block: a new allocation of exactly the size asked
// for, the old bytes carried over up to the smaller size, the old block freed.
// A plug-in that keeps using the old address is caught that way.
int32_t HostSession::Allocate(void* record, TraceEvent* event) {
  auto& alloc = As<HostAllocDataRec>(record);
  (*event)["block"] = AddressText(alloc.blockAddress);
  (*event)["requested"] = alloc.blockSize;
  if (alloc.blockAddress != block_) {
    findings_.Violation("'ALOC' names block " + AddressText(alloc.blockAddress) +
                        ", but the instance's block is " + AddressText(block_));
    return kHostErrorBadRecord;
  }
  if (alloc.blockSize < 0) {
    findings_.Violation("'ALOC' asks for " + std::to_string(alloc.blockSize) + " bytes");
    return kHostErrorBadRecord;
  }
  if (logging_ != nullptr) {
    logging_->a = alloc.blockSize;
    logging_->p = reinterpret_cast<uintptr_t>(alloc.blockAddress);
  }
  // A hostile host may grant less than asked and still report success.
  const int32_t granted = std::max(0, alloc.blockSize - std::max(0, overrides_.allocationShortBy));
  void* fresh = heap_.Allocate(static_cast<size_t>(granted), "parameter block");
  if (fresh == nullptr) {
    findings_.Note("'ALOC' for " + std::to_string(alloc.blockSize) +
                   " bytes refused: more than the host gives");
    return kHostErrorNoMemory;
  }
  if (block_ != nullptr) memcpy(fresh, block_, static_cast<size_t>(std::min(blockSize_, granted)));
  FreeBlock();
  block_ = fresh;
  blockSize_ = granted;
  alloc.blockSize = granted;
  blockReference_ = reinterpret_cast<HostOpaque>(kBlockReferences + uintptr_t(++blockGeneration_));
  blockTag_ = blockGeneration_;
  alloc.blockAddress = block_;
  alloc.blockReference = blockReference_;
  alloc.blockTag = blockTag_;
  (*event)["returned"] = AddressText(block_);
  (*event)["tag"] = blockTag_;
  if (logging_ != nullptr) {
    logging_->b = granted;
    logging_->q = reinterpret_cast<uintptr_t>(block_);
  }
  for (const std::string& problem : heap_.TakeProblems()) findings_.Overrun(problem);
  return 0;
}

int32_t HostSession::AnswerCreator(void* record, TraceEvent* event) {
  As<HostCreatorRec>(record).creatorCode = scene_.creator;
  creatorAnswered_ = scene_.creator;
  (*event)["creator"] = CodeName(scene_.creator);
  return 0;
}

int32_t HostSession::AnswerTimeInfo(void* record, TraceEvent* event) {
  auto& time = As<HostTimeInfoRec>(record);
  time.firstFrame = scene_.firstFrame;
  time.lastFrame = scene_.lastFrame;
  (*event)["first"] = scene_.firstFrame;
  (*event)["last"] = scene_.lastFrame;
  if (logging_ != nullptr) {
    logging_->a = scene_.firstFrame;
    logging_->b = scene_.lastFrame;
  }
  return 0;
}

// Index -1 asks for the highest index to visit; 0 up to that index, for the
// object's reference and its parent's.
int32_t HostSession::AnswerSceneObject(void* record, TraceEvent* event) {
  auto& object = As<HostSceneObjectRec>(record);
  int32_t index = object.objectIndex;
  int32_t highest = static_cast<int32_t>(scene_.objects.size()) - 1;
  (*event)["index"] = index;
  if (logging_ != nullptr) logging_->a = index;
  if (index == -1) {
    object.objectCount = overrides_.objectCount.value_or(highest);
    (*event)["count"] = object.objectCount;
    if (logging_ != nullptr) logging_->b = object.objectCount;
    return 0;
  }
  if (overrides_.objectCount && index > highest && index <= *overrides_.objectCount) {
    // Objects the host announced beyond the scene's: each its own, no parent.
    if (overrides_.beyondObjectsResult != 0) return overrides_.beyondObjectsResult;
    object.objectReference =
        reinterpret_cast<void*>(kObjectReferences + 0x100 * (uintptr_t(uint32_t(index)) + 1));
    object.parentReference = nullptr;
    if (logging_ != nullptr) logging_->p = reinterpret_cast<uintptr_t>(object.objectReference);
    return 0;
  }
  if (index < -1 || index > highest) {
    findings_.Violation("'UOBJ' asks for object " + std::to_string(index) +
                        "; the indices go from -1 to " + std::to_string(highest));
    return kHostErrorBadRecord;
  }
  object.objectReference = ObjectReference(index);
  object.parentReference = ObjectReference(scene_.objects[index].parent);
  (*event)["object"] = AddressText(object.objectReference);
  (*event)["parent"] = AddressText(object.parentReference);
  if (logging_ != nullptr) {
    logging_->p = reinterpret_cast<uintptr_t>(object.objectReference);
    logging_->q = reinterpret_cast<uintptr_t>(object.parentReference);
  }
  return 0;
}

int32_t HostSession::Sync(void* record, TraceEvent* event) {
  auto& sync = As<HostSyncFrameRec>(record);
  (*event)["flag"] = sync.samplingFlag;
  (*event)["frame"] = sync.frameNumber;
  if (logging_ != nullptr) {
    logging_->a = sync.samplingFlag;
    logging_->b = sync.frameNumber;
  }
  if (sync.samplingFlag != 0 && sync.samplingFlag != 1) {
    findings_.Violation("'SYNC' with the sampling flag " + std::to_string(sync.samplingFlag) +
                        " (0 or 1 expected)");
    return kHostErrorBadRecord;
  }
  sampling_ = sync.samplingFlag == 1;
  if (sampling_) currentFrame_ = sync.frameNumber;
  return 0;
}

int32_t HostSession::AnswerPosition(void* record, TraceEvent* event) {
  auto& position = As<HostObjectPositionRec>(record);
  (*event)["object"] = AddressText(position.objectReference);
  if (logging_ != nullptr) {
    logging_->p = reinterpret_cast<uintptr_t>(position.objectReference);
    logging_->a = currentFrame_;
  }
  if (!sampling_) findings_.Violation("'TOBJ' without a 'SYNC' with flag 1 before it");
  int32_t index = -1;
  for (size_t i = 0; i < scene_.objects.size(); ++i) {
    if (position.objectReference != nullptr &&
        ObjectReference(static_cast<int32_t>(i)) == position.objectReference) {
      index = static_cast<int32_t>(i);
    }
  }
  if (index < 0) {
    findings_.Violation("'TOBJ' for " + AddressText(position.objectReference) +
                        ", which is no object's reference");
    return kHostErrorBadRecord;
  }
  Vec3 p = scene_.objects[index].motion.At(currentFrame_);
  if (overrides_.position) p = overrides_.position(currentFrame_, p);
  if (logging_ != nullptr) {
    logging_->position[0] = p.x;
    logging_->position[1] = p.y;
    logging_->position[2] = p.z;
  }
  position.position[0] = p.x;
  position.position[1] = p.y;
  position.position[2] = p.z;
  samples_.push_back(Sample{currentFrame_, p});
  (*event)["frame"] = currentFrame_;
  (*event)["position"] = Triple(position.position);
  return 0;
}

int32_t HostSession::MemAlloc(void* record, TraceEvent* event) {
  auto& alloc = As<HostMemAllocRec>(record);
  (*event)["bytes"] = static_cast<int64_t>(alloc.byteCount);
  if (logging_ != nullptr) logging_->a = static_cast<int64_t>(alloc.byteCount);
  if (alloc.byteCount <= 0) {
    findings_.Violation("'MMAL' asks for " + std::to_string(static_cast<int64_t>(alloc.byteCount)) +
                        " bytes");
    return kHostErrorBadRecord;
  }
  if (overrides_.memoryNullWithSuccess) {
    alloc.memoryAddress = nullptr;
    return 0;
  }
  void* memory = heap_.Allocate(static_cast<size_t>(alloc.byteCount), "sample memory ('MMAL')");
  if (memory == nullptr) {
    findings_.Note("'MMAL' for " + std::to_string(static_cast<int64_t>(alloc.byteCount)) +
                   " bytes refused: more than the host gives");
    return kHostErrorNoMemory;
  }
  sampleMemory_.insert(memory);
  findings_.Obtained(ResourceKind::kSampleMemory);
  alloc.memoryAddress = memory;
  (*event)["address"] = AddressText(memory);
  if (logging_ != nullptr) logging_->q = reinterpret_cast<uintptr_t>(memory);
  return 0;
}

int32_t HostSession::MemFree(void* record, TraceEvent* event) {
  auto& free = As<HostMemFreeRec>(record);
  (*event)["address"] = AddressText(free.memoryAddress);
  if (logging_ != nullptr) logging_->p = reinterpret_cast<uintptr_t>(free.memoryAddress);
  if (sampleMemory_.erase(free.memoryAddress) == 0) {
    findings_.Violation("'MFRE' of " + AddressText(free.memoryAddress) +
                        ", which is not memory that 'MMAL' gave and is still out");
    return kHostErrorBadRecord;
  }
  heap_.Free(free.memoryAddress);
  findings_.Released(ResourceKind::kSampleMemory);
  for (const std::string& problem : heap_.TakeProblems()) findings_.Overrun(problem);
  return 0;
}

int32_t HostSession::AddVertex(void* record, TraceEvent* event) {
  auto& vertex = As<HostModelAddVertexRec>(record);
  if (vertex.fixedValue != -1)
    findings_.Violation("'ADDV' with the fixed value " + std::to_string(vertex.fixedValue) +
                        " (-1 expected)");
  if (vertex.fixedVector[0] != 0 || vertex.fixedVector[1] != 0 || vertex.fixedVector[2] != 1) {
    findings_.Violation("'ADDV' with a fixed vector other than (0, 0, 1)");
  }
  if (vertex.uVector[1] != 0 || vertex.uVector[2] != 0)
    findings_.Violation("'ADDV' with a u vector other than (u, 0, 0)");
  if (models_.empty()) return kHostErrorBadRecord;
  GeneratedModel& model = models_.back();
  ReceivedVertex received;
  // Counted in 32 bits with wrap-around, so a first index near the top of the
  // range carries on from the bottom instead of overflowing.
  received.index = static_cast<int32_t>(static_cast<uint32_t>(scene_.firstVertexIndex) +
                                        static_cast<uint32_t>(model.vertices.size()));
  for (int k = 0; k < 3; ++k) {
    received.position[k] = vertex.position[k];
    received.blur[k] = vertex.blurPosition[k];
  }
  received.u = vertex.uVector[0];
  vertex.vertexIndex = received.index;
  handedOutVertices_.insert(received.index);
  model.vertices.push_back(received);
  (*event)["position"] = Triple(vertex.position);
  (*event)["blur"] = Triple(vertex.blurPosition);
  (*event)["u"] = vertex.uVector[0];
  (*event)["index"] = received.index;
  if (logging_ != nullptr) {
    logging_->u = vertex.uVector[0];
    logging_->a = received.index;
    for (int k = 0; k < 3; ++k) {
      logging_->position[k] = vertex.position[k];
      logging_->blur[k] = vertex.blurPosition[k];
    }
  }
  return 0;
}

int32_t HostSession::AddFace(void* record, TraceEvent* event) {
  auto& face = As<HostModelAddFaceRec>(record);
  (*event)["first"] = face.firstVertex;
  (*event)["second"] = face.secondVertex;
  if (logging_ != nullptr) {
    logging_->a = face.firstVertex;
    logging_->b = face.secondVertex;
  }
  if (face.fixedValue != -1)
    findings_.Violation("'ADDF' with the fixed value " + std::to_string(face.fixedValue) +
                        " (-1 expected)");
  if (face.furtherFields[0] != 0 || face.furtherFields[1] != 0)
    findings_.Violation("'ADDF' with further fields other than 0, 0");
  if (face.vertexCount != 2) {
    findings_.Violation("'ADDF' with a vertex count of " + std::to_string(face.vertexCount) +
                        " (2 expected)");
    return kHostErrorBadRecord;
  }
  if (!handedOutVertices_.count(face.firstVertex) || !handedOutVertices_.count(face.secondVertex)) {
    findings_.Violation("'ADDF' names vertex " + std::to_string(face.firstVertex) + " and " +
                        std::to_string(face.secondVertex) + ", not both handed out by this 'GENM'");
    return kHostErrorBadRecord;
  }
  if (models_.empty()) return kHostErrorBadRecord;
  models_.back().faces.push_back(ReceivedFace{face.firstVertex, face.secondVertex});
  return 0;
}

int32_t HostSession::GetGroup(void* record, TraceEvent* event) {
  auto& group = As<HostGetGroupRec>(record);
  if (creatorAnswered_ != kCreatorXolr) {
    findings_.Violation("'GETG' from a plug-in whose host told it the creator code " +
                        Quoted(creatorAnswered_) + ", not 'XOLR'");
  }
  if (group.fixedValue != 1)
    findings_.Violation("'GETG' with the fixed value " + std::to_string(group.fixedValue) +
                        " (1 expected)");
  memset(group.reserved, 0, sizeof group.reserved);
  uintptr_t reference = nextGroup_;
  nextGroup_ += 0x10;
  outstandingGroups_.insert(reference);
  group.groupReference = reinterpret_cast<HostOpaque>(reference);
  (*event)["group"] = AddressText(group.groupReference);
  if (logging_ != nullptr) logging_->q = reference;
  return 0;
}

int32_t HostSession::DeleteGroup(void* record, TraceEvent* event) {
  auto& group = As<HostDeleteGroupRec>(record);
  (*event)["group"] = AddressText(group.groupReference);
  if (logging_ != nullptr) logging_->p = reinterpret_cast<uintptr_t>(group.groupReference);
  if (outstandingGroups_.erase(reinterpret_cast<uintptr_t>(group.groupReference)) == 0) {
    findings_.Violation("'DELG' of " + AddressText(group.groupReference) +
                        ", which is not a group 'GETG' handed out");
    return kHostErrorBadRecord;
  }
  return 0;
}

}  // namespace vhost
