#include "hostkit/host_session.h"

#include <string.h>

#include <algorithm>

namespace vhost {

namespace {

// The session whose entry call is running: set by HostSession::Call for the
// length of the call and restored after it, read only by the callback.
HostSession* currentSession = nullptr;

// Bytes of the info record that belong to the host are filled with this, so
// that a plug-in that writes where it may not shows.
constexpr uint8_t kHostFill = 0xA5;

const HostOpaque kOwnerValue = reinterpret_cast<HostOpaque>(uintptr_t(0x0A0E5000));
constexpr uintptr_t kObjectReferences = 0x0B000000;
constexpr uintptr_t kBlockReferences = 0x0B10C000;

}  // namespace

HostSession* HostSession::Current() { return currentSession; }

HostSession::HostSession(const Scene& scene, GuardedHeap& heap, const FaultPlan& faults,
                         Findings& findings, HostServices& services)
    : scene_(scene),
      heap_(heap),
      faults_(faults),
      findings_(findings),
      services_(services),
      checker_([&findings](const std::string& text) { findings.Violation(text); }),
      owner_(kOwnerValue) {
  info_ = static_cast<HostInfoRec*>(heap_.Allocate(sizeof(HostInfoRec), "info record"));
  PrepareInfoRecord(0);
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

void HostSession::RemoveBlock() {
  FreeBlock();
  blockReference_ = nullptr;
  blockTag_ = 0;
  NameBlockInInfoRecord();
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
  NameBlockInInfoRecord();
  return true;
}

std::vector<uint8_t> HostSession::BlockBytes() const {
  if (block_ == nullptr || blockSize_ <= 0) return {};
  auto* bytes = static_cast<const uint8_t*>(block_);
  return std::vector<uint8_t>(bytes, bytes + blockSize_);
}

// References are made from indices unless the scene names its own.
void* HostSession::ObjectReference(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= scene_.objects.size()) return nullptr;
  const SceneObject& object = scene_.objects[index];
  if (object.nullReference) return nullptr;
  if (object.reference) return reinterpret_cast<void*>(*object.reference);
  return reinterpret_cast<void*>(kObjectReferences + 0x100 * (uintptr_t(index) + 1));
}

void* HostSession::ParentReference(int32_t index) const {
  const SceneObject& object = scene_.objects[index];
  if (object.parentReference) return reinterpret_cast<void*>(*object.parentReference);
  return ObjectReference(object.parent);
}

// A made reference gives its index back by arithmetic, checked by making the
// reference again; a scene's own references are looked for.
int32_t HostSession::ObjectIndex(const void* reference) const {
  if (reference == nullptr) return -1;
  const uintptr_t value = reinterpret_cast<uintptr_t>(reference);
  if (value > kObjectReferences && (value - kObjectReferences) % 0x100 == 0) {
    const uintptr_t candidate = (value - kObjectReferences) / 0x100 - 1;
    if (candidate < scene_.objects.size()) {
      if (ObjectReference(static_cast<int32_t>(candidate)) == reference)
        return static_cast<int32_t>(candidate);
    } else if (overrides_.objectCount && *overrides_.objectCount >= 0 &&
               candidate <= uintptr_t(*overrides_.objectCount)) {
      return static_cast<int32_t>(candidate);  // announced beyond the scene's objects
    }
  }
  for (size_t i = 0; i < scene_.objects.size(); ++i) {
    if (ObjectReference(static_cast<int32_t>(i)) == reference) return static_cast<int32_t>(i);
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Entry calls

// The info record names the instance's block from the moment it has one.
void HostSession::NameBlockInInfoRecord() {
  if (info_ == nullptr) return;
  info_->parameterBlock = block_;
  info_->parameterBlockSize = blockSize_;
  info_->blockReference = blockReference_;
  info_->blockTag = blockTag_;
}

void HostSession::PrepareInfoRecord(uint32_t selector) {
  memset(static_cast<void*>(info_), kHostFill, sizeof(HostInfoRec));
  NameBlockInInfoRecord();
  info_->hostProc = callbackInRecord_;
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
  memoryFreeRefused_ = false;
  verticesHandedOut_ = 0;
  PrepareInfoRecord(selector);
  services_.BeginEntryCall(CodeName(selector));
  checker_.BeginEntryCall(selector, owner_, block_);
  EntryCall entryCall{selector, renderFrame, 0, block_, blockSize_};
  for (CallObserver* observer : observers_) observer->EntryStarted(entryCall);

  HostSession* previous = currentSession;
  currentSession = this;
  int32_t result = entry(selector, nullptr, info_);
  currentSession = previous;

  reports_.back().result = result;
  entryCall = EntryCall{selector, renderFrame, result, block_, blockSize_};
  for (CallObserver* observer : observers_) observer->EntryReturned(entryCall);
  EndOfCall(selector);
  return result;
}

void HostSession::EndOfCall(uint32_t selector) {
  CheckInfoRecord(selector);
  checker_.EndEntryCall();
  for (void* memory : sampleMemory_) {
    const std::string text =
        "sample memory " + AddressText(memory) + " (" + std::to_string(heap_.SizeOf(memory)) +
        " bytes) from 'MMAL' was not returned by the end of " + Quoted(selector);
    // The plug-in cannot give back what the host refuses to take.
    if (memoryFreeRefused_) {
      findings_.ExcusedLeak(ResourceKind::kSampleMemory, text);
    } else {
      findings_.Leak(ResourceKind::kSampleMemory, text);
    }
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

// The four head fields must name what the host's last answer to 'ALOC' gave;
// the checker sees to the rest of the record.
void HostSession::CheckInfoRecord(uint32_t selector) {
  if (info_->parameterBlock != block_ || info_->parameterBlockSize != blockSize_ ||
      info_->blockReference != blockReference_ || info_->blockTag != blockTag_) {
    findings_.Violation("after " + Quoted(selector) + " the info record names block " +
                        AddressText(info_->parameterBlock) + " of " +
                        std::to_string(info_->parameterBlockSize) +
                        " bytes, but the host's answer to 'ALOC' was " + AddressText(block_) +
                        " of " + std::to_string(blockSize_) + " bytes");
  }
  checker_.CheckInfoRecord(selector, infoBefore_, *info_);
}

// ---------------------------------------------------------------------------
// The callback

int32_t HostSession::Callback(uint32_t selector, int32_t size, void* record) {
  if (currentSession == nullptr) return kHostErrorBadRecord;  // not inside an entry call
  return currentSession->Serve(selector, size, record);
}

// Every callback call goes this way: the checker admits the record, the host
// answers or refuses it, and the call is logged once.
int32_t HostSession::Serve(uint32_t selector, int32_t size, void* record) {
  ServedCall call;
  call.number = ++callNumber_;
  call.entry = currentSelector_;
  call.selector = selector;
  call.size = size;
  const bool whole = record != nullptr && size == ExpectedRecordSize(selector);
  std::vector<uint8_t> sent;
  if (whole) sent.assign(static_cast<uint8_t*>(record), static_cast<uint8_t*>(record) + size);

  bool answered = false;
  if (!checker_.Admit(selector, size, record)) {
    call.result = kHostErrorBadRecord;
  } else if (std::optional<int32_t> refusal = faults_.CallbackRefusal(selector, call.number)) {
    call.result = *refusal;
    call.refused = true;
  } else {
    call.result = Answer(selector, record);
    answered = call.result == 0;
  }
  if (whole) call.arguments = DecodeCall(selector, sent.data(), answered ? record : nullptr);
  if (whole && keepBytes_) {
    call.answered.assign(static_cast<uint8_t*>(record), static_cast<uint8_t*>(record) + size);
    call.sent = std::move(sent);
  }
  if (auto* position = std::get_if<ObjectPositionCall>(&call.arguments))
    position->frame = currentFrame_;
  const int32_t result = call.result;
  Log(std::move(call));
  return result;
}

// What every reader of the log learns of a call, in one place.
void HostSession::Log(ServedCall call) {
  ++totals_[call.selector];
  EntryCallReport& report = reports_.back();
  ++report.calls[call.selector];
  if (call.selector == kSelectorReset && call.result == 0) report.resetSent = true;
  if (call.selector == kSelectorObjectPosition && call.result == 0) ++report.framesSampled;
  if (call.refused && call.selector == kSelectorMemFree) memoryFreeRefused_ = true;
  if (call.refused) {
    report.refused.push_back(Quoted(call.selector) + " (call #" + std::to_string(call.number) +
                             ") refused with " + std::to_string(call.result));
  }
  checker_.Served(call);
  for (CallObserver* observer : observers_) observer->CallbackServed(call);
  if (keepLog_) log_.push_back(std::move(call));
}

int32_t HostSession::Answer(uint32_t selector, void* record) {
  switch (selector) {
    case kSelectorAllocate: return Allocate(RecordAt<HostAllocDataRec>(record));
    case kSelectorCreator: return AnswerCreator(RecordAt<HostCreatorRec>(record));
    case kSelectorReset: return 0;
    case kSelectorTimeInfo: return AnswerTimeInfo(RecordAt<HostTimeInfoRec>(record));
    case kSelectorSceneObject: return AnswerSceneObject(RecordAt<HostSceneObjectRec>(record));
    case kSelectorSyncFrame: return Sync(RecordAt<HostSyncFrameRec>(record));
    case kSelectorObjectPosition: return AnswerPosition(RecordAt<HostObjectPositionRec>(record));
    case kSelectorMemAlloc: return MemAlloc(RecordAt<HostMemAllocRec>(record));
    case kSelectorMemFree: return MemFree(RecordAt<HostMemFreeRec>(record));
    case kSelectorAddVertex: return AddVertex(RecordAt<HostModelAddVertexRec>(record));
    case kSelectorAddFace: return 0;  // the checker knows the vertices handed out
    case kSelectorGetGroup: return GetGroup(RecordAt<HostGetGroupRec>(record));
    case kSelectorDeleteGroup: return 0;  // the checker knows the groups handed out
    default: return kHostErrorBadRecord;
  }
}

// 'ALOC' always moves the block: a new allocation of exactly the size asked
// for, the old bytes carried over up to the smaller size, the host's fill
// after them, the old block freed.
// A plug-in that keeps using the old address is caught that way.
int32_t HostSession::Allocate(HostAllocDataRec& alloc) {
  // A hostile host may grant less than asked and still report success.
  const int64_t wanted = int64_t(alloc.blockSize) - std::max(0, overrides_.allocationShortBy) +
                         std::max(0, overrides_.allocationExtra);
  const int32_t granted =
      static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(0, wanted), INT32_MAX));
  void* fresh = heap_.Allocate(static_cast<size_t>(granted), "parameter block");
  if (fresh == nullptr) {
    findings_.Note("'ALOC' for " + std::to_string(alloc.blockSize) +
                   " bytes refused: more than the host gives");
    return kHostErrorNoMemory;
  }
  const size_t kept = block_ != nullptr ? static_cast<size_t>(std::min(blockSize_, granted)) : 0;
  if (kept != 0) memcpy(fresh, block_, kept);
  memset(static_cast<uint8_t*>(fresh) + kept, newBlockFill_, static_cast<size_t>(granted) - kept);
  FreeBlock();
  block_ = fresh;
  blockSize_ = granted;
  alloc.blockSize = granted;
  blockReference_ = reinterpret_cast<HostOpaque>(kBlockReferences + uintptr_t(++blockGeneration_));
  blockTag_ = blockGeneration_;
  alloc.blockAddress = block_;
  alloc.blockReference = blockReference_;
  alloc.blockTag = blockTag_;
  for (const std::string& problem : heap_.TakeProblems()) findings_.Overrun(problem);
  return 0;
}

int32_t HostSession::AnswerCreator(HostCreatorRec& creator) {
  creator.creatorCode = scene_.creator;
  return 0;
}

int32_t HostSession::AnswerTimeInfo(HostTimeInfoRec& time) {
  time.firstFrame = scene_.firstFrame;
  time.lastFrame = scene_.lastFrame;
  return 0;
}

// Index -1 asks for the highest index to visit; 0 up to that index, for the
// object's reference and its parent's.
int32_t HostSession::AnswerSceneObject(HostSceneObjectRec& object) {
  int32_t index = object.objectIndex;
  int32_t highest = static_cast<int32_t>(scene_.objects.size()) - 1;
  if (index == -1) {
    object.objectCount = overrides_.objectCount.value_or(highest);
    return 0;
  }
  if (overrides_.objectCount && index > highest && index <= *overrides_.objectCount) {
    // Objects the host announced beyond the scene's: each its own, no parent.
    if (overrides_.beyondObjectsResult != 0) return overrides_.beyondObjectsResult;
    object.objectReference =
        reinterpret_cast<void*>(kObjectReferences + 0x100 * (uintptr_t(uint32_t(index)) + 1));
    object.parentReference = nullptr;
    return 0;
  }
  if (index < -1 || index > highest) {
    findings_.Violation("'UOBJ' asks for object " + std::to_string(index) +
                        "; the indices go from -1 to " + std::to_string(highest));
    return kHostErrorBadRecord;
  }
  object.objectReference = ObjectReference(index);
  object.parentReference = ParentReference(index);
  return 0;
}

int32_t HostSession::Sync(const HostSyncFrameRec& sync) {
  if (sync.samplingFlag == 1) currentFrame_ = sync.frameNumber;
  return 0;
}

int32_t HostSession::AnswerPosition(HostObjectPositionRec& position) {
  const int32_t index = ObjectIndex(position.objectReference);
  if (index < 0) {
    findings_.Violation("'TOBJ' for " + AddressText(position.objectReference) +
                        ", which is no object's reference");
    return kHostErrorBadRecord;
  }
  // Objects announced beyond the scene's stand still at the origin.
  Vec3 p = static_cast<size_t>(index) < scene_.objects.size()
               ? scene_.objects[index].motion.At(currentFrame_)
               : Vec3{};
  if (overrides_.position) p = overrides_.position(position.objectReference, currentFrame_, p);
  position.position[0] = p.x;
  position.position[1] = p.y;
  position.position[2] = p.z;
  return 0;
}

int32_t HostSession::MemAlloc(HostMemAllocRec& alloc) {
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
  return 0;
}

int32_t HostSession::MemFree(const HostMemFreeRec& free) {
  sampleMemory_.erase(free.memoryAddress);
  heap_.Free(free.memoryAddress);
  findings_.Released(ResourceKind::kSampleMemory);
  for (const std::string& problem : heap_.TakeProblems()) findings_.Overrun(problem);
  return 0;
}

int32_t HostSession::AddVertex(HostModelAddVertexRec& vertex) {
  // Counted in 32 bits with wrap-around, so a first index near the top of the
  // range carries on from the bottom instead of overflowing.
  vertex.vertexIndex = static_cast<int32_t>(static_cast<uint32_t>(scene_.firstVertexIndex) +
                                            static_cast<uint32_t>(overrides_.vertexIndexStep) *
                                                verticesHandedOut_++);
  return 0;
}

int32_t HostSession::GetGroup(HostGetGroupRec& group) {
  memset(group.reserved, 0, sizeof group.reserved);
  group.groupReference = overrides_.nullGroup ? nullptr : reinterpret_cast<HostOpaque>(nextGroup_);
  nextGroup_ += 0x10;
  return 0;
}

}  // namespace vhost
