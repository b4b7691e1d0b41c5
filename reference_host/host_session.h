// The host's side of the callback: one plug-in instance in one scene. It calls
// the entry with an info record of its own, serves the thirteen selectors the
// plug-in sends from the scene, and checks everything it receives: the record
// size of each selector, the owner value, the order of 'SYNC' and 'TOBJ', the
// memory that comes back, the vertices that polygons name, the bytes of the
// info record the plug-in may not touch. Violations go to the findings.
#ifndef VESTREL_REFERENCE_HOST_HOST_SESSION_H
#define VESTREL_REFERENCE_HOST_HOST_SESSION_H

#include <stdint.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hostkit/faults.h"
#include "hostkit/findings.h"
#include "hostkit/guarded_heap.h"
#include "reference_host/host_services.h"
#include "hostkit/protocol.h"
#include "hostkit/scene.h"
#include "reference_host/trace.h"

namespace vhost {

struct ReceivedVertex {
  int32_t index = 0;
  double position[3] = {0, 0, 0};
  double blur[3] = {0, 0, 0};
  double u = 0;
};

struct ReceivedFace {
  int32_t first = 0;
  int32_t second = 0;
};

// What one 'GENM' handed the host.
struct GeneratedModel {
  int32_t frame = 0;  // the render frame
  std::vector<ReceivedVertex> vertices;
  std::vector<ReceivedFace> faces;
};

struct Sample {
  int32_t frame = 0;
  Vec3 position;
};

// One call of the entry as the host saw it.
struct EntryCallReport {
  uint32_t selector = 0;
  int32_t renderFrame = 0;
  int32_t result = 0;
  std::map<uint32_t, int> calls;     // callback calls by selector
  std::vector<std::string> refused;  // "'TOBJ' #45 refused with -1"
  bool resetSent = false;
  int framesSampled = 0;
};

// One call of the host callback as the host served it, for a validator that
// checks the order and the arguments of what the plug-in sends. The fields
// that carry meaning depend on the selector:
//   'ALOC'  a = size asked for, b = size granted, p = block named, q = block returned
//   'TINF'  a = first frame, b = last frame
//   'UOBJ'  a = object index, b = object count (index -1), p = object, q = parent
//   'SYNC'  a = sampling flag, b = frame number
//   'TOBJ'  p = object named, a = frame of the position given
//   'MMAL'  a = bytes asked for, q = memory returned
//   'MFRE'  p = memory named
//   'ADDV'  u = the u sent, a = the vertex index handed out
//   'ADDF'  a = first vertex, b = second vertex
//   'GETG'  q = group returned;  'DELG'  p = group named
struct CallbackCall {
  uint32_t entry = 0;  // the entry call during which it came
  uint32_t selector = 0;
  bool refused = false;  // a fault the host was asked to inject
  int32_t result = 0;
  int64_t a = 0;
  int64_t b = 0;
  uintptr_t p = 0;
  uintptr_t q = 0;
  double u = 0;
  double position[3] = {0, 0, 0};  // 'ADDV': position; 'TOBJ': what the host gave
  double blur[3] = {0, 0, 0};      // 'ADDV': blur position
};

// Answers that a validator twists to see the plug-in cope with a hostile
// host. Unset fields keep the scene's answers.
struct HostAnswerOverrides {
  std::optional<int32_t> objectCount;  // the answer to 'UOBJ' index -1
  // Indices past the scene's objects, up to objectCount: answered with this
  // result; on 0 with an object of its own (a fresh reference, no parent).
  int32_t beyondObjectsResult = 0;
  // Replaces the position 'TOBJ' reports at a frame.
  std::function<Vec3(int32_t frame, const Vec3& scenePosition)> position;
  int32_t allocationShortBy = 0;  // 'ALOC' grants this many bytes fewer than asked, with success
  bool memoryNullWithSuccess = false;  // 'MMAL' answers 0 without memory
};

class HostSession {
 public:
  HostSession(const Scene& scene, GuardedHeap& heap, const FaultPlan& faults, Findings& findings,
              Trace& trace, HostServices& services);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Gives the instance a parameter block holding bytes, as stored with a scene.
  bool SetBlock(const std::vector<uint8_t>& bytes);
  // The instance's block as it stands (empty when it has none).
  std::vector<uint8_t> BlockBytes() const;

  // Calls the entry with selector and returns its result. For 'SETM' the info
  // record carries the scene's matrices; renderFrame is the frame the host
  // stands at.
  int32_t Call(EntryFunction entry, uint32_t selector, int32_t renderFrame);

  // Ends the session: checks the memory bands and frees what the host holds.
  void Finish();

  const HostInfoRec& info() const { return *info_; }
  const std::vector<EntryCallReport>& reports() const { return reports_; }
  const std::vector<GeneratedModel>& models() const { return models_; }
  const std::vector<Sample>& lastSamples() const { return lastSamples_; }
  uint64_t callbackCalls() const { return callNumber_; }
  const std::map<uint32_t, int>& totals() const { return totals_; }

  // Keeps every callback call in callLog() from now on.
  void KeepCallLog(bool keep) { keepLog_ = keep; }
  const std::vector<CallbackCall>& callLog() const { return log_; }
  void SetOverrides(const HostAnswerOverrides& overrides) { overrides_ = overrides; }
  // The samples 'TOBJ' gave during the most recent entry call.
  const std::vector<Sample>& callSamples() const { return samples_; }
  // The process-wide session the callback serves while an entry call runs.
  static HostSession* Current();

  // The callback that the info record carries.
  static int32_t Callback(uint32_t selector, int32_t size, void* record);

 private:
  int32_t Serve(uint32_t selector, int32_t size, void* record);
  int32_t Dispatch(uint32_t selector, void* record, TraceEvent* event);
  void CheckPhase(uint32_t selector);
  void NoteRefusedRecord(uint32_t selector, void* record);

  int32_t Allocate(void* record, TraceEvent* event);
  int32_t AnswerCreator(void* record, TraceEvent* event);
  int32_t AnswerTimeInfo(void* record, TraceEvent* event);
  int32_t AnswerSceneObject(void* record, TraceEvent* event);
  int32_t Sync(void* record, TraceEvent* event);
  int32_t AnswerPosition(void* record, TraceEvent* event);
  int32_t MemAlloc(void* record, TraceEvent* event);
  int32_t MemFree(void* record, TraceEvent* event);
  int32_t AddVertex(void* record, TraceEvent* event);
  int32_t AddFace(void* record, TraceEvent* event);
  int32_t GetGroup(void* record, TraceEvent* event);
  int32_t DeleteGroup(void* record, TraceEvent* event);

  void PrepareInfoRecord(uint32_t selector);
  void CheckInfoRecord(uint32_t selector);
  void CheckMemory();
  void EndOfCall(uint32_t selector);
  void* ObjectReference(int32_t index) const;
  void FreeBlock();

  const Scene& scene_;
  GuardedHeap& heap_;
  const FaultPlan& faults_;
  Findings& findings_;
  Trace& trace_;
  HostServices& services_;

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
  uint32_t creatorAnswered_ = 0;
  bool sampling_ = false;
  int32_t currentFrame_ = 0;
  std::set<void*> sampleMemory_;
  std::set<int32_t> handedOutVertices_;
  std::set<uintptr_t> outstandingGroups_;
  uintptr_t nextGroup_ = 0x06000000;
  std::vector<EntryCallReport> reports_;
  std::vector<GeneratedModel> models_;
  std::vector<Sample> samples_;
  std::vector<Sample> lastSamples_;
  std::map<uint32_t, int> totals_;
  bool keepLog_ = false;
  std::vector<CallbackCall> log_;
  CallbackCall* logging_ = nullptr;  // the entry of the call being served
  HostAnswerOverrides overrides_;
};

}  // namespace vhost

#endif
