#include "tests/support/test_host.h"

#include "host/entry.h"
#include "host/host_proc.h"
#include "hostkit/block_codec.h"
#include "hostkit/protocol.h"

namespace {

// Filler for a block that holds nothing useful.
constexpr uint8_t kHostFill = 0xA5;

vhost::MemoryCheck HeapMode() {
  return vhost::GuardPagesAvailable() ? vhost::MemoryCheck::kGuardPage
                                      : vhost::MemoryCheck::kCanary;
}

}  // namespace

std::string CodeText(uint32_t code) { return "'" + vhost::CodeName(code) + "'"; }

TestHost::TestHost()
    : heap_(HeapMode()),
      runner_(std::nullopt),
      services_("", &runner_, faults_, findings_),
      session_(scene_, heap_, faults_, findings_, services_) {
  findings_.echo = false;
  session_.KeepCallLog(true, true);
  session_.SetNewBlockFill(vhost::kUnsetBytesFill);  // a read of an unset byte shows
  motion = [](uintptr_t, int32_t frame) { return Position{double(frame), 0.0, 0.0}; };
}

TestHost::~TestHost() = default;

// The fields as the kit's scene and overrides: a null reference is the
// scene's null reference, parents are references as the test names them.
void TestHost::Script() {
  scene_.creator = creatorCode;
  scene_.firstFrame = firstFrame;
  scene_.lastFrame = lastFrame;
  scene_.firstVertexIndex = firstVertexIndex;
  scene_.groupMatrix = groupMatrix;
  scene_.blurMatrix = blurMatrix;
  scene_.objects.clear();
  for (const ScriptedObject& scripted : objects) {
    vhost::SceneObject object;
    object.nullReference = scripted.reference == 0;
    object.reference = scripted.reference;
    object.parentReference = scripted.parent;
    scene_.objects.push_back(object);
  }
  vhost::HostAnswerOverrides answers;
  if (useObjectCount) answers.objectCount = objectCount;
  answers.position = [this](const void* object, int32_t frame, const vhost::Vec3&) {
    Position p = motion(reinterpret_cast<uintptr_t>(object), frame);
    return vhost::Vec3{p[0], p[1], p[2]};
  };
  answers.memoryNullWithSuccess = memAllocReturnsNull;
  answers.allocationShortBy = allocShortfall;
  answers.vertexIndexStep = vertexIndexStep;
  session_.SetOverrides(answers);
}

int32_t TestHost::Send(uint32_t selector) { return SendTo(&Main, selector); }

int32_t TestHost::SendTo(EntryFunction entry, uint32_t selector) {
  Script();
  int32_t result = session_.Call(entry, selector, firstFrame);
  std::vector<RecordedCall> served = session_.TakeCallLog();
  calls.insert(calls.end(), std::make_move_iterator(served.begin()),
               std::make_move_iterator(served.end()));
  TakeFindings();
  return result;
}

void TestHost::TakeFindings() {
  const auto& found = findings_.violations();
  for (; violationsSeen_ < found.size(); ++violationsSeen_)
    violations.push_back(found[violationsSeen_]);
  const auto& overruns = findings_.overruns();
  for (; overrunsSeen_ < overruns.size(); ++overrunsSeen_)
    violations.push_back(overruns[overrunsSeen_]);
}

size_t TestHost::outstandingMemory() {
  return findings_.Count(vhost::ResourceKind::kSampleMemory).leaked;
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

// A code of 0 refuses nothing: the call is answered.
void TestHost::Refuse(uint32_t selector, int32_t code) {
  if (code != 0) faults_.RefuseSelector(selector, code);
}

void TestHost::RefuseCall(size_t callNumber, int32_t code) {
  if (code != 0) faults_.RefuseCall(callNumber + 1, code);
}

int32_t TestHost::Callback(uint32_t selector, int32_t size, void* record) {
  return vhost::HostSession::Callback(selector, size, record);
}

void TestHost::SetBlock(const std::vector<uint8_t>& bytes) { session_.SetBlock(bytes); }

void TestHost::SetBlockOfSize(int32_t size) {
  SetBlock(std::vector<uint8_t>(size > 0 ? size : 0, kHostFill));
}

void TestHost::RemoveBlock() { session_.RemoveBlock(); }

std::vector<uint8_t> TestHost::BlockBytes() const { return session_.BlockBytes(); }

CControlData* TestHost::Block() const { return static_cast<CControlData*>(session_.block()); }

int32_t TestHost::BlockSize() const { return session_.blockSize(); }

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
