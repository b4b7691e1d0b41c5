// An in-process host for the tests: a scripting façade over the host kit.
// The kit's HostSession calls the plug-in's entry and serves every selector
// of the host callback, as it does in every host of the project; the test
// scripts its answers with the fields below, which become the session's
// scene, answer overrides and fault plan before each call. Every call is
// kept as the kit's typed record, with the record's bytes as sent and as
// answered, so that a test can check the whole conversation.
//
// The kit's protocol checker watches every call (record sizes, the owner
// value, the entry calls each selector may come in, 'SYNC' before 'TOBJ',
// 'MFRE' of memory 'MMAL' gave, 'ADDF' of vertices handed out, the info
// record's fields, ...) and the parameter block and sample memory come from
// the kit's guarded heap, so a write past either end is caught. Anything
// wrong lands in violations.
#ifndef VESTREL_TESTS_SUPPORT_TEST_HOST_H
#define VESTREL_TESTS_SUPPORT_TEST_HOST_H

#include <stdint.h>
#include <string.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "controldata/control_data.h"
#include "host/info_record.h"
#include "hostkit/call_log.h"
#include "hostkit/dialogs.h"
#include "hostkit/faults.h"
#include "hostkit/findings.h"
#include "hostkit/guarded_heap.h"
#include "hostkit/host_services.h"
#include "hostkit/host_session.h"

// One call of the host callback as the test host saw it: the host kit's
// typed record, with the record's bytes as sent and as answered kept.
using RecordedCall = vhost::ServedCall;

// An object of the scene, in index order (index 0 is the plug-in's own group).
struct ScriptedObject {
  uintptr_t reference = 0;  // 0 stands for a null reference
  uintptr_t parent = 0;
};

using Position = std::array<double, 3>;

// The text form of a four-character code, for messages: 'ALOC'.
std::string CodeText(uint32_t code);

class TestHost {
 public:
  TestHost();
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Calls the plug-in's entry with this host's info record and returns what it
  // returned. Calls of all TestHost objects may be interleaved.
  int32_t Send(uint32_t selector);
  // Runs body inside an entry call of this host, as the handler of selector
  // would run: the plug-in's current-call state points at this host's info
  // record, and the host serves the calls body makes. Returns the call's
  // result code (the plug-in's theError when body ends).
  int32_t RunInsideEntryCall(uint32_t selector, const std::function<void()>& body);
  // The same through another entry, such as the Main of a plug-in loaded with
  // dlopen.
  using EntryFunction = vhost::EntryFunction;
  int32_t SendTo(EntryFunction entry, uint32_t selector);

  // ---- Scripted answers -------------------------------------------------
  // Every call of selector fails with code.
  void Refuse(uint32_t selector, int32_t code);
  // The call with this number (0 for the first call this host served) fails.
  // Refusals are the host's own: the checker still sees each call.
  void RefuseCall(size_t callNumber, int32_t code);

  uint32_t creatorCode = FourCC("TEST");  // answer of 'CREA'
  int32_t firstFrame = 1;                 // answers of 'TINF'
  int32_t lastFrame = 10;
  // The scene's objects; 'UOBJ' with index -1 answers objects.size() - 1
  // unless objectCount is set (the kit answers indices beyond the objects
  // with objects of their own, without a parent).
  std::vector<ScriptedObject> objects = {{0x100, 0}, {0x200, 0x100}};
  bool useObjectCount = false;
  int32_t objectCount = 0;
  // Position of an object at a frame ('TOBJ'); by default (frame, 0, 0).
  std::function<Position(uintptr_t object, int32_t frame)> motion;
  // The group's matrices that 'SETM' carries in the info record.
  vhost::Matrix4 groupMatrix = vhost::IdentityMatrix();
  vhost::Matrix4 blurMatrix = vhost::IdentityMatrix();
  bool memAllocReturnsNull = false;  // 'MMAL' succeeds without memory
  int32_t allocShortfall = 0;        // 'ALOC' returns this many bytes fewer
  int32_t firstVertexIndex = 0;      // 'ADDV' hands out first, first + step, ...
  int32_t vertexIndexStep = 1;

  // ---- The instance's parameter block ----------------------------------
  // Gives the instance a block with these bytes (allocated to exactly their size).
  void SetBlock(const std::vector<uint8_t>& bytes);
  // Gives the instance a block of size bytes at a non-null address holding
  // nothing useful (for blocks too small to be valid).
  void SetBlockOfSize(int32_t size);
  void RemoveBlock();
  std::vector<uint8_t> BlockBytes() const;
  CControlData* Block() const;
  int32_t BlockSize() const;
  // A native block with the given parameters and points, sized as the plug-in
  // sizes blocks (52 + 16 n).
  static std::vector<uint8_t> MakeBlock(float angle, int32_t freeze, int32_t reverse,
                                        const std::vector<Fxyzu>& points);

  // The info record as the last entry call left it.
  const HostInfoRec& Info() const { return session_.info(); }
  HostOpaque Owner() const { return session_.owner(); }
  // The callback the info record carries: a wrapper that forwards to Callback.
  void WrapCallback(HostProc wrapper) { session_.SetCallbackInRecord(wrapper); }

  // ---- What the plug-in did ---------------------------------------------
  std::vector<RecordedCall> calls;
  std::vector<uint32_t> Selectors() const;
  // Calls of one selector, in order.
  std::vector<const RecordedCall*> CallsOf(uint32_t selector) const;
  std::vector<std::string> violations;  // violations and overruns the kit found
  // Sample memory that 'MMAL' gave and the plug-in did not give back by the
  // end of the entry call (the session takes it back then).
  size_t outstandingMemory();
  void ClearCalls() { calls.clear(); }

  // The callback the info record carries.
  static int32_t Callback(uint32_t selector, int32_t size, void* record);

 private:
  // The script as the session's scene and answer overrides.
  void Script();
  void TakeFindings();

  vhost::Scene scene_;
  vhost::GuardedHeap heap_;
  vhost::FaultPlan faults_;
  vhost::Findings findings_;
  vhost::ScriptedDialogRunner runner_;
  vhost::HostServices services_;  // idle: the tests' host functions are FakeDialogHost's
  vhost::HostSession session_;
  size_t violationsSeen_ = 0;
  size_t overrunsSeen_ = 0;
};

#endif
