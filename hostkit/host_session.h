// The host's side of the callback: one plug-in instance in one scene. It calls
// the entry with an info record of its own and serves the thirteen selectors
// the plug-in sends from the scene. Each call goes the same way (Serve): the
// protocol checker admits the record, the host answers it (or refuses it, as
// the fault plan says), and the call is logged once as a typed record that
// the checker, the reports and every observer read; the call log is the one
// record of what was served (call_views.h reads the line and the samples from
// it). Violations, overruns and leaks go to the findings.
#ifndef VESTREL_HOSTKIT_HOST_SESSION_H
#define VESTREL_HOSTKIT_HOST_SESSION_H

#include <stdint.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "controldata/alloc_record.h"
#include "generate/generate_records.h"
#include "geometry/capture_records.h"
#include "host/creator_record.h"
#include "hostkit/call_log.h"
#include "hostkit/faults.h"
#include "hostkit/findings.h"
#include "hostkit/guarded_heap.h"
#include "hostkit/host_services.h"
#include "hostkit/protocol.h"
#include "hostkit/protocol_checker.h"
#include "hostkit/scene.h"

namespace vhost {

// One call of the entry as the host saw it.
struct EntryCallReport {
  uint32_t selector = 0;
  int32_t renderFrame = 0;
  int32_t result = 0;
  std::map<uint32_t, int> calls;     // callback calls by selector
  std::vector<std::string> refused;  // "'TOBJ' #45 refused with -1"
  bool resetSent = false;
  int framesSampled = 0;  // positions 'TOBJ' gave
};

// The position 'TOBJ' reports for an object at a frame, given the scene's.
using PositionAnswer =
    std::function<Vec3(const void* object, int32_t frame, const Vec3& scenePosition)>;

// A fill for the bytes 'ALOC' gives a block past what it carries over from
// the old one, for the hosts that look for reads of bytes the plug-in never
// set (the tests' host, the validator): not zero, so such a read shows.
// vestrel-host play leaves them zero, so a block it saves holds what it
// always held.
constexpr uint8_t kUnsetBytesFill = 0xCD;

// Answers that a validator or a test twists to see the plug-in cope with a
// hostile host. Unset fields keep the scene's answers.
struct HostAnswerOverrides {
  std::optional<int32_t> objectCount;  // the answer to 'UOBJ' index -1
  // Indices past the scene's objects, up to objectCount: answered with this
  // result; on 0 with an object of its own (a fresh reference, no parent).
  int32_t beyondObjectsResult = 0;
  PositionAnswer position;        // replaces the position 'TOBJ' reports
  int32_t allocationShortBy = 0;  // 'ALOC' grants this many bytes fewer than asked, with success
  int32_t allocationExtra = 0;    // ... or this many more
  bool memoryNullWithSuccess = false;  // 'MMAL' answers 0 without memory
  int32_t vertexIndexStep = 1;         // 'ADDV' hands out first, first + step, ...
  bool nullGroup = false;              // 'GETG' answers a null group with success
};

class HostSession {
 public:
  HostSession(const Scene& scene, GuardedHeap& heap, const FaultPlan& faults, Findings& findings,
              HostServices& services);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Gives the instance a parameter block holding bytes, as stored with a scene.
  bool SetBlock(const std::vector<uint8_t>& bytes);
  // Takes the instance's block away: it has none, as a new instance.
  void RemoveBlock();
  // The instance's block as it stands (empty when it has none).
  std::vector<uint8_t> BlockBytes() const;
  void* block() const { return block_; }
  int32_t blockSize() const { return blockSize_; }

  // Calls the entry with selector and returns its result. For 'SETM' the info
  // record carries the scene's matrices; renderFrame is the frame the host
  // stands at.
  int32_t Call(EntryFunction entry, uint32_t selector, int32_t renderFrame);

  // Ends the session: checks the memory bands and frees what the host holds.
  void Finish();

  const HostInfoRec& info() const { return *info_; }
  // The owner value every record of the plug-in must carry.
  HostOpaque owner() const { return owner_; }
  // The callback the info record carries: Callback unless a host wraps it
  // (a wrapper must forward to Callback).
  void SetCallbackInRecord(HostProc callback) { callbackInRecord_ = callback; }
  const std::vector<EntryCallReport>& reports() const { return reports_; }
  uint64_t callbackCalls() const { return callNumber_; }
  const std::map<uint32_t, int>& totals() const { return totals_; }

  // observer is told of every entry call and callback call from now on; it
  // must outlive the session or be removed first.
  void AddObserver(CallObserver* observer) { observers_.push_back(observer); }
  // Keeps every callback call in callLog() from now on; with bytes, also the
  // record's bytes as sent and as answered (ServedCall::sent, answered).
  void KeepCallLog(bool keep, bool withBytes = false) {
    keepLog_ = keep;
    keepBytes_ = keep && withBytes;
  }
  const std::vector<ServedCall>& callLog() const { return log_; }
  // Hands over the calls kept so far and keeps none of them: a reader that
  // takes the log after every entry call never holds two copies of it.
  std::vector<ServedCall> TakeCallLog() { return std::exchange(log_, {}); }
  void SetOverrides(const HostAnswerOverrides& overrides) { overrides_ = overrides; }
  // What 'ALOC' writes past the bytes it carries over (zero unless set).
  void SetNewBlockFill(uint8_t fill) { newBlockFill_ = fill; }
  // The session whose entry call is running: Call sets it for the length of
  // the call (restoring the one before, so sessions may nest) and the
  // callback serves it. Null between entry calls.
  static HostSession* Current();

  // The callback that the info record carries.
  static int32_t Callback(uint32_t selector, int32_t size, void* record);

 private:
  int32_t Serve(uint32_t selector, int32_t size, void* record);
  int32_t Answer(uint32_t selector, void* record);
  void Log(ServedCall call);

  // The answers, one a selector: each writes the host's answer into the
  // record and returns the result.
  int32_t Allocate(HostAllocDataRec& alloc);
  int32_t AnswerCreator(HostCreatorRec& creator);
  int32_t AnswerTimeInfo(HostTimeInfoRec& time);
  int32_t AnswerSceneObject(HostSceneObjectRec& object);
  int32_t Sync(const HostSyncFrameRec& sync);
  int32_t AnswerPosition(HostObjectPositionRec& position);
  int32_t MemAlloc(HostMemAllocRec& alloc);
  int32_t MemFree(const HostMemFreeRec& free);
  int32_t AddVertex(HostModelAddVertexRec& vertex);
  int32_t GetGroup(HostGetGroupRec& group);

  void PrepareInfoRecord(uint32_t selector);
  void NameBlockInInfoRecord();
  void CheckInfoRecord(uint32_t selector);
  void CheckMemory();
  void EndOfCall(uint32_t selector);
  void* ObjectReference(int32_t index) const;
  void* ParentReference(int32_t index) const;
  // The index of the object whose reference this is, or -1.
  int32_t ObjectIndex(const void* reference) const;
  void FreeBlock();

  const Scene& scene_;
  GuardedHeap& heap_;
  const FaultPlan& faults_;
  Findings& findings_;
  HostServices& services_;
  ProtocolChecker checker_;
  std::vector<CallObserver*> observers_;

  HostInfoRec* info_ = nullptr;
  std::vector<uint8_t> infoBefore_;
  HostOpaque owner_;

  // The instance's parameter block as the host knows it.
  void* block_ = nullptr;
  int32_t blockSize_ = 0;
  HostOpaque blockReference_ = nullptr;
  int32_t blockTag_ = 0;
  int32_t blockGeneration_ = 0;

  uint32_t currentSelector_ = 0;
  uint64_t callNumber_ = 0;
  int32_t currentFrame_ = 0;  // the frame the last 'SYNC' with flag 1 set
  std::set<void*> sampleMemory_;
  bool memoryFreeRefused_ = false;  // the host refused an 'MFRE' of this entry call
  uintptr_t nextGroup_ = 0x06000000;
  std::vector<EntryCallReport> reports_;
  uint32_t verticesHandedOut_ = 0;  // by 'ADDV' in the running entry call
  std::map<uint32_t, int> totals_;
  bool keepLog_ = false;
  bool keepBytes_ = false;
  uint8_t newBlockFill_ = 0;
  HostProc callbackInRecord_ = &HostSession::Callback;
  std::vector<ServedCall> log_;
  HostAnswerOverrides overrides_;
};

}  // namespace vhost

#endif
