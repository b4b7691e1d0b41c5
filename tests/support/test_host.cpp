#include "tests/support/test_host.h"

#include "generate/generate_records.h"
#include "geometry/capture_records.h"
#include "host/creator_record.h"
#include "host/entry.h"
#include "controldata/alloc_record.h"
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

TestHost::TestHost() {
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

TestHost::~TestHost() = default;

int32_t TestHost::Send(uint32_t selector) { return SendTo(&Main, selector); }

int32_t TestHost::SendTo(EntryFunction entry, uint32_t selector) {
  TestHost* previous = currentHost;
  currentHost = this;
  int32_t result = entry(selector, nullptr, info_);
  currentHost = previous;
  return result;
}

void TestHost::Refuse(uint32_t selector, int32_t code) { refusedSelectors_[selector] = code; }

void TestHost::RefuseCall(size_t callNumber, int32_t code) { refusedCalls_[callNumber] = code; }

int32_t TestHost::Callback(uint32_t selector, int32_t size, void* record) {
  if (currentHost == nullptr) return -9999;  // called outside an entry call
  return currentHost->Serve(selector, size, record);
}

int32_t TestHost::ScriptedResult(uint32_t selector) const {
  auto call = refusedCalls_.find(callsServed_);
  if (call != refusedCalls_.end()) return call->second;
  auto sel = refusedSelectors_.find(selector);
  if (sel != refusedSelectors_.end()) return sel->second;
  return 0;
}

void TestHost::CheckRecord(uint32_t selector, int32_t size, const void* record) {
  int32_t expected = vhost::ExpectedRecordSize(selector);
  if (expected < 0) {
    violations.push_back("unknown selector " + CodeText(selector));
    return;
  }
  if (size != expected) {
    violations.push_back(CodeText(selector) + " sent with size " + std::to_string(size) +
                         ", expected " + std::to_string(expected));
  }
  HostOpaque owner;
  memcpy(&owner, record, sizeof owner);
  if (owner != info_->owner)
    violations.push_back(CodeText(selector) + " carries a wrong owner value");
}

int32_t TestHost::Serve(uint32_t selector, int32_t size, void* record) {
  CheckRecord(selector, size, record);
  RecordedCall call;
  call.selector = selector;
  call.size = size;
  if (size > 0)
    call.sent.assign(static_cast<uint8_t*>(record), static_cast<uint8_t*>(record) + size);

  int32_t result = ScriptedResult(selector);
  ++callsServed_;
  if (result == 0 && vhost::ExpectedRecordSize(selector) == size) {
    switch (selector) {
      case kSelectorAllocate: Allocate(record); break;
      case kSelectorCreator: AnswerCreator(record); break;
      case kSelectorTimeInfo: AnswerTimeInfo(record); break;
      case kSelectorSceneObject: AnswerSceneObject(record); break;
      case kSelectorSyncFrame: Sync(record); break;
      case kSelectorObjectPosition: AnswerPosition(record); break;
      case kSelectorMemAlloc: MemAlloc(record); break;
      case kSelectorMemFree: MemFree(record); break;
      case kSelectorAddVertex: AddVertex(record); break;
      case kSelectorAddFace: AddFace(record); break;
      case kSelectorGetGroup: GetGroup(record); break;
      default: break;  // 'RSET', 'DELG': nothing to answer
    }
  }
  if (size > 0)
    call.answered.assign(static_cast<uint8_t*>(record), static_cast<uint8_t*>(record) + size);
  call.result = result;
  calls.push_back(std::move(call));
  return result;
}

// 'ALOC' moves the block: a new allocation of exactly the size granted, the
// old bytes carried over up to the smaller size, the old block freed.
void TestHost::Allocate(void* record) {
  auto& alloc = As<HostAllocDataRec>(record);
  if (alloc.blockAddress != info_->parameterBlock)
    violations.push_back("'ALOC' names a block the instance does not have");
  int32_t granted = alloc.blockSize - allocShortfall;
  if (granted < 0) granted = 0;
  std::unique_ptr<uint8_t[]> fresh(new uint8_t[granted > 0 ? granted : 1]);
  memset(fresh.get(), 0xCD, granted);
  int32_t oldSize = block_ ? info_->parameterBlockSize : 0;
  if (block_) memcpy(fresh.get(), block_.get(), oldSize < granted ? oldSize : granted);
  block_ = std::move(fresh);
  alloc.blockAddress = block_.get();
  alloc.blockSize = granted;
  alloc.blockReference = Opaque(0xB10C);
  alloc.blockTag = 7;
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

void TestHost::Sync(void* record) {
  auto& sync = As<HostSyncFrameRec>(record);
  sampling_ = sync.samplingFlag == 1;
  currentFrame_ = sync.frameNumber;
}

void TestHost::AnswerPosition(void* record) {
  auto& position = As<HostObjectPositionRec>(record);
  if (!sampling_) violations.push_back("'TOBJ' without a 'SYNC' with flag 1 before it");
  Position p = motion(reinterpret_cast<uintptr_t>(position.objectReference), currentFrame_);
  for (int k = 0; k < 3; ++k) position.position[k] = p[k];
}

void TestHost::MemAlloc(void* record) {
  auto& alloc = As<HostMemAllocRec>(record);
  if (memAllocReturnsNull || alloc.byteCount <= 0) {
    alloc.memoryAddress = nullptr;
    return;
  }
  std::unique_ptr<uint8_t[]> memory(new uint8_t[alloc.byteCount]);
  alloc.memoryAddress = memory.get();
  memory_[memory.get()] = std::move(memory);
}

void TestHost::MemFree(void* record) {
  auto& free = As<HostMemFreeRec>(record);
  if (memory_.erase(free.memoryAddress) == 0)
    violations.push_back("'MFRE' of memory that 'MMAL' did not give");
}

void TestHost::AddVertex(void* record) {
  auto& vertex = As<HostModelAddVertexRec>(record);
  vertex.vertexIndex = firstVertexIndex + vertexIndexStep * nextVertex_++;
  handedOutVertices.insert(vertex.vertexIndex);
}

void TestHost::AddFace(void* record) {
  auto& face = As<HostModelAddFaceRec>(record);
  if (!handedOutVertices.count(face.firstVertex) || !handedOutVertices.count(face.secondVertex)) {
    violations.push_back("'ADDF' names a vertex the host did not hand out");
  }
}

void TestHost::GetGroup(void* record) {
  As<HostGetGroupRec>(record).groupReference = Opaque(groupReference);
}

void TestHost::SetBlock(const std::vector<uint8_t>& bytes) {
  block_.reset(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
  if (!bytes.empty()) memcpy(block_.get(), bytes.data(), bytes.size());
  info_->parameterBlock = block_.get();
  info_->parameterBlockSize = static_cast<int32_t>(bytes.size());
}

void TestHost::SetBlockOfSize(int32_t size) {
  SetBlock(std::vector<uint8_t>(size > 0 ? size : 0, kHostFill));
}

void TestHost::RemoveBlock() {
  block_.reset();
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
  int32_t count = static_cast<int32_t>(points.size());
  std::vector<uint8_t> bytes(ControlDataSizeFor(count), 0);
  CControlData header;
  memset(&header, 0, sizeof header);
  header.magic = kControlDataMagic;
  header.angleTolerance = angle;
  header.freezeFlag = freeze;
  header.reverseFlag = reverse;
  header.pointCount = count;
  memcpy(bytes.data(), &header, kControlDataHeaderSize);
  if (count > 0)
    memcpy(bytes.data() + kControlDataHeaderSize, points.data(), points.size() * sizeof(Fxyzu));
  return bytes;
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
