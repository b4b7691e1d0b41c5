#include "tests/support/test_host.h"

#include "controldata/alloc_record.h"
#include "generate/generate_records.h"
#include "geometry/capture_records.h"
#include "host/creator_record.h"
#include "host/entry.h"
#include "host/host_proc.h"
#include "hostkit/block_codec.h"
#include "hostkit/protocol.h"

namespace {

// The host whose entry call is running: the callback serves it.
TestHost* currentHost = nullptr;

// Filler for bytes that belong to the host, so that a plug-in that reads or
// writes them shows.
constexpr uint8_t kHostFill = 0xA5;

template <typename Record>
Record& As(void* record) {
  return *static_cast<Record*>(record);
}

HostOpaque Opaque(uintptr_t value) { return reinterpret_cast<HostOpaque>(value); }

}  // namespace

std::string CodeText(uint32_t code) { return "'" + vhost::CodeName(code) + "'"; }

vhost::MemoryCheck HeapMode() {
  return vhost::GuardPagesAvailable() ? vhost::MemoryCheck::kGuardPage
                                      : vhost::MemoryCheck::kCanary;
}

TestHost::TestHost()
    : heap_(HeapMode()), checker_([this](const std::string& text) { violations.push_back(text); }) {
  infoBytes_.reset(new uint8_t[sizeof(HostInfoRec)]);
  memset(infoBytes_.get(), kHostFill, sizeof(HostInfoRec));
  info_ = reinterpret_cast<HostInfoRec*>(infoBytes_.get());
  info_->parameterBlock = nullptr;
  info_->parameterBlockSize = 0;
  info_->blockReference = nullptr;
  info_->blockTag = 0;
  info_->hostProc = &TestHost::Callback;
  info_->owner = this;
  motion = [](uintptr_t, int32_t frame) { return Position{double(frame), 0.0, 0.0}; };
}

TestHost::~TestHost() {
  RemoveBlock();
  for (void* memory : memory_) heap_.Free(memory);
}

int32_t TestHost::Send(uint32_t selector) { return SendTo(&Main, selector); }

int32_t TestHost::SendTo(EntryFunction entry, uint32_t selector) {
  TestHost* previous = currentHost;
  const uint32_t previousEntry = entry_;
  currentHost = this;
  entry_ = selector;
  checker_.BeginEntryCall(selector, info_->owner, info_->parameterBlock);
  int32_t result = entry(selector, nullptr, info_);
  checker_.EndEntryCall();
  heap_.CheckAll();
  TakeHeapProblems();
  entry_ = previousEntry;
  currentHost = previous;
  return result;
}

namespace {

const std::function<void()>* bodyToRun = nullptr;

// An entry that sets the plug-in's current-call state as the real entry
// does, then runs the body instead of a handler.
int32_t BodyEntry(uint32_t, void*, HostInfoRec* info) {
  theInfo = info;
  theHostProc = info->hostProc;
  theError = kResultOk;
  (*bodyToRun)();
  return theError;
}

}  // namespace

int32_t TestHost::RunInsideEntryCall(uint32_t selector, const std::function<void()>& body) {
  const std::function<void()>* previous = bodyToRun;
  bodyToRun = &body;
  int32_t result = SendTo(&BodyEntry, selector);
  bodyToRun = previous;
  return result;
}

void TestHost::TakeHeapProblems() {
  for (const std::string& problem : heap_.TakeProblems()) violations.push_back(problem);
}

void TestHost::Refuse(uint32_t selector, int32_t code) { refusedSelectors_[selector] = code; }

void TestHost::RefuseCall(size_t callNumber, int32_t code) { refusedCalls_[callNumber] = code; }

int32_t TestHost::Callback(uint32_t selector, int32_t size, void* record) {
  if (currentHost == nullptr) return -9999;  // called outside an entry call
  return currentHost->Serve(selector, size, record);
}

int32_t TestHost::ScriptedResult(uint32_t selector) const {
  auto call = refusedCalls_.find(callsServed_ - 1);
  if (call != refusedCalls_.end()) return call->second;
  auto sel = refusedSelectors_.find(selector);
  if (sel != refusedSelectors_.end()) return sel->second;
  return 0;
}

// Every call goes the kit's way: the checker admits the record, the host
// answers it or refuses it as scripted, and the call is logged once.
int32_t TestHost::Serve(uint32_t selector, int32_t size, void* record) {
  RecordedCall call;
  call.number = ++callsServed_;
  call.entry = entry_;
  call.selector = selector;
  call.size = size;
  auto* bytes = static_cast<uint8_t*>(record);
  if (size > 0 && record != nullptr) call.sent.assign(bytes, bytes + size);

  const bool admitted = checker_.Admit(selector, size, record);
  int32_t result = ScriptedResult(selector);
  call.refused = admitted && result != 0;
  if (!admitted && result == 0) result = vhost::kHostErrorBadRecord;
  if (result == 0) result = Answer(selector, record);

  if (size > 0 && record != nullptr) call.answered.assign(bytes, bytes + size);
  call.result = result;
  if (record != nullptr && size == vhost::ExpectedRecordSize(selector))
    call.arguments = vhost::DecodeCall(selector, call.sent.data(), result == 0 ? record : nullptr);
  if (auto* position = std::get_if<vhost::ObjectPositionCall>(&call.arguments))
    position->frame = currentFrame_;
  checker_.Served(call);
  TakeHeapProblems();
  calls.push_back(std::move(call));
  return result;
}

int32_t TestHost::Answer(uint32_t selector, void* record) {
  switch (selector) {
    case kSelectorAllocate: return Allocate(record);
    case kSelectorCreator: AnswerCreator(record); break;
    case kSelectorTimeInfo: AnswerTimeInfo(record); break;
    case kSelectorSceneObject: AnswerSceneObject(record); break;
    case kSelectorSyncFrame: Sync(record); break;
    case kSelectorObjectPosition: AnswerPosition(record); break;
    case kSelectorMemAlloc: return MemAlloc(record);
    case kSelectorMemFree: MemFree(record); break;
    case kSelectorAddVertex: AddVertex(record); break;
    case kSelectorAddFace: AddFace(record); break;
    case kSelectorGetGroup: GetGroup(record); break;
    default: break;  // 'RSET', 'DELG': nothing to answer
  }
  return 0;
}

// 'ALOC' moves the block: a new allocation of exactly the size granted, the
// old bytes carried over up to the smaller size, the old block freed.
int32_t TestHost::Allocate(void* record) {
  auto& alloc = As<HostAllocDataRec>(record);
  int32_t granted = alloc.blockSize - allocShortfall;
  if (granted < 0) granted = 0;
  auto* fresh =
      static_cast<uint8_t*>(heap_.Allocate(static_cast<size_t>(granted), "parameter block"));
  if (fresh == nullptr) return vhost::kHostErrorNoMemory;  // more than the heap gives
  memset(fresh, 0xCD, static_cast<size_t>(granted));
  int32_t oldSize = block_ ? info_->parameterBlockSize : 0;
  if (block_) memcpy(fresh, block_, static_cast<size_t>(oldSize < granted ? oldSize : granted));
  if (block_) heap_.Free(block_);
  block_ = fresh;
  alloc.blockAddress = block_;
  alloc.blockSize = granted;
  alloc.blockReference = Opaque(0xB10C);
  alloc.blockTag = 7;
  return 0;
}

void TestHost::AnswerCreator(void* record) { As<HostCreatorRec>(record).creatorCode = creatorCode; }

void TestHost::AnswerTimeInfo(void* record) {
  auto& time = As<HostTimeInfoRec>(record);
  time.firstFrame = firstFrame;
  time.lastFrame = lastFrame;
}

void TestHost::AnswerSceneObject(void* record) {
  auto& object = As<HostSceneObjectRec>(record);
  int32_t index = object.objectIndex;
  if (index == -1) {
    object.objectCount = useObjectCount ? objectCount : static_cast<int32_t>(objects.size()) - 1;
    return;
  }
  bool known = index >= 0 && static_cast<size_t>(index) < objects.size();
  object.objectReference = known ? Opaque(objects[index].reference) : nullptr;
  object.parentReference = known ? Opaque(objects[index].parent) : nullptr;
}

void TestHost::Sync(void* record) { currentFrame_ = As<HostSyncFrameRec>(record).frameNumber; }

void TestHost::AnswerPosition(void* record) {
  auto& position = As<HostObjectPositionRec>(record);
  Position p = motion(reinterpret_cast<uintptr_t>(position.objectReference), currentFrame_);
  for (int k = 0; k < 3; ++k) position.position[k] = p[k];
}

int32_t TestHost::MemAlloc(void* record) {
  auto& alloc = As<HostMemAllocRec>(record);
  alloc.memoryAddress = nullptr;
  if (memAllocReturnsNull) return 0;
  void* memory = heap_.Allocate(static_cast<size_t>(alloc.byteCount), "sample memory ('MMAL')");
  if (memory == nullptr) return vhost::kHostErrorNoMemory;  // more than the heap gives
  memory_.insert(memory);
  alloc.memoryAddress = memory;
  return 0;
}

void TestHost::MemFree(void* record) {
  void* memory = As<HostMemFreeRec>(record).memoryAddress;
  memory_.erase(memory);
  heap_.Free(memory);
}

void TestHost::AddVertex(void* record) {
  As<HostModelAddVertexRec>(record).vertexIndex =
      firstVertexIndex + vertexIndexStep * nextVertex_++;
}

void TestHost::AddFace(void*) {}  // the checker sees that both vertices were handed out

void TestHost::GetGroup(void* record) {
  As<HostGetGroupRec>(record).groupReference = Opaque(groupReference);
}

void TestHost::SetBlock(const std::vector<uint8_t>& bytes) {
  RemoveBlock();
  block_ = heap_.Allocate(bytes.size(), "parameter block");
  if (!bytes.empty()) memcpy(block_, bytes.data(), bytes.size());
  info_->parameterBlock = block_;
  info_->parameterBlockSize = static_cast<int32_t>(bytes.size());
}

void TestHost::SetBlockOfSize(int32_t size) {
  SetBlock(std::vector<uint8_t>(size > 0 ? size : 0, kHostFill));
}

void TestHost::RemoveBlock() {
  if (block_ != nullptr) heap_.Free(block_);
  block_ = nullptr;
  info_->parameterBlock = nullptr;
  info_->parameterBlockSize = 0;
}

std::vector<uint8_t> TestHost::BlockBytes() const {
  if (!info_->parameterBlock || info_->parameterBlockSize <= 0) return {};
  auto* bytes = static_cast<const uint8_t*>(info_->parameterBlock);
  return std::vector<uint8_t>(bytes, bytes + info_->parameterBlockSize);
}

CControlData* TestHost::Block() const { return static_cast<CControlData*>(info_->parameterBlock); }

int32_t TestHost::BlockSize() const { return info_->parameterBlockSize; }

std::vector<uint8_t> TestHost::MakeBlock(float angle, int32_t freeze, int32_t reverse,
                                         const std::vector<Fxyzu>& points) {
  std::vector<vhost::StoredPoint> stored;
  for (const Fxyzu& p : points) stored.push_back({p.x, p.y, p.z, p.u});
  return vhost::MakeBlockBytes(angle, freeze, reverse, stored);
}

std::vector<uint32_t> TestHost::Selectors() const {
  std::vector<uint32_t> selectors;
  for (const RecordedCall& call : calls) selectors.push_back(call.selector);
  return selectors;
}

std::vector<const RecordedCall*> TestHost::CallsOf(uint32_t selector) const {
  std::vector<const RecordedCall*> matching;
  for (const RecordedCall& call : calls) {
    if (call.selector == selector) matching.push_back(&call);
  }
  return matching;
}
