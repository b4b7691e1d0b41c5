// The typed call log: every call the plug-in makes to its host, as the host
// served it, one record type per callback selector, plus the calls of the
// host functions and of the entry itself. A host produces each record once,
// where it serves the call; the protocol checker, the trace, the validator's
// model and the tests all read the same record.
//
// Observers (CallObserver) are told of each record as it is made; a host may
// also keep the records (ServedCall, FunctionCall) in a list.
#ifndef VESTREL_HOSTKIT_CALL_LOG_H
#define VESTREL_HOSTKIT_CALL_LOG_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vhost {

// ---------------------------------------------------------------------------
// The callback, one record type a selector. "Sent" fields are what the
// plug-in put into the record; "answered" fields are what the host wrote
// back, and stay at their defaults when the host refused the call.

struct AllocateCall {                   // 'ALOC'
  int32_t sizeAsked = 0;                // sent
  const void* blockNamed = nullptr;     // sent: the block the plug-in holds
  int32_t sizeGranted = 0;              // answered
  const void* blockReturned = nullptr;  // answered
  int32_t tag = 0;                      // answered
};
struct CreatorCall {         // 'CREA'
  uint32_t creatorCode = 0;  // answered
};
struct ResetCall {};       // 'RSET'
struct TimeInfoCall {      // 'TINF'
  int32_t firstFrame = 0;  // answered
  int32_t lastFrame = 0;   // answered
};
struct SceneObjectCall {         // 'UOBJ'
  int32_t index = 0;             // sent: -1 for the count
  int32_t objectCount = 0;       // answered for index -1: the highest index
  const void* object = nullptr;  // answered for index >= 0
  const void* parent = nullptr;  // answered for index >= 0
};
struct SyncFrameCall {       // 'SYNC'
  int32_t samplingFlag = 0;  // sent: 1 before each sample, 0 to close
  int32_t frame = 0;         // sent
};
struct ObjectPositionCall {        // 'TOBJ'
  const void* object = nullptr;    // sent
  int32_t frame = 0;               // the host's: the frame the last 'SYNC' set
  double position[3] = {0, 0, 0};  // answered
};
struct MemAllocCall {            // 'MMAL'
  int64_t bytesAsked = 0;        // sent
  const void* memory = nullptr;  // answered
};
struct MemFreeCall {             // 'MFRE'
  const void* memory = nullptr;  // sent
};
struct AddVertexCall {             // 'ADDV'
  double position[3] = {0, 0, 0};  // sent
  double blur[3] = {0, 0, 0};      // sent
  double u = 0;                    // sent: uVector[0]
  int32_t index = 0;               // answered: the vertex index handed out
};
struct AddFaceCall {         // 'ADDF'
  int32_t firstVertex = 0;   // sent
  int32_t secondVertex = 0;  // sent
};
struct GetGroupCall {           // 'GETG'
  const void* group = nullptr;  // answered
};
struct DeleteGroupCall {        // 'DELG'
  const void* group = nullptr;  // sent
};

// std::monostate: a selector the protocol does not have, or no record.
using CallArguments =
    std::variant<std::monostate, AllocateCall, CreatorCall, ResetCall, TimeInfoCall,
                 SceneObjectCall, SyncFrameCall, ObjectPositionCall, MemAllocCall, MemFreeCall,
                 AddVertexCall, AddFaceCall, GetGroupCall, DeleteGroupCall>;

// A copy of a record of the plug-in's layout read from bytes. The packed
// layouts may put a double where a pointer to it would be misaligned, so
// fields are read from an aligned copy, never in place.
template <typename Record>
Record CopyRecord(const void* bytes) {
  Record record;
  memcpy(static_cast<void*>(&record), bytes, sizeof record);
  return record;
}

// The record a callback call hands the host, to answer in place. The host's
// own layout is the plug-in's, so the record is used where it lies.
template <typename Record>
Record& RecordAt(void* record) {
  return *static_cast<Record*>(record);
}

// The arguments of a call from its record: sent fields from sent, answered
// fields from answered (null: the host did not answer). Either may be the
// same record; both must hold the selector's record of this build's layout.
CallArguments DecodeCall(uint32_t selector, const void* sent, const void* answered);

// One call of the host callback.
struct ServedCall {
  uint64_t number = 0;  // counted from 1 over the host's whole life
  uint32_t entry = 0;   // the entry call during which it came
  uint32_t selector = 0;
  int32_t size = 0;
  bool refused = false;  // a fault the host was asked to inject
  int32_t result = 0;
  CallArguments arguments;
  // The record's bytes as the plug-in sent it and as the host left it, when
  // the host keeps them (the tests' host does).
  std::vector<uint8_t> sent;
  std::vector<uint8_t> answered;

  // The arguments as T, or null when the call is of another selector.
  template <typename T>
  const T* As() const {
    return std::get_if<T>(&arguments);
  }
  // The kept bytes as a record of the plug-in's layout (zeros past the end).
  template <typename Record>
  Record Sent() const {
    return CopyAs<Record>(sent);
  }
  template <typename Record>
  Record Answered() const {
    return CopyAs<Record>(answered);
  }

 private:
  template <typename Record>
  static Record CopyAs(const std::vector<uint8_t>& bytes) {
    Record record;
    memset(static_cast<void*>(&record), 0, sizeof record);
    memcpy(static_cast<void*>(&record), bytes.data(),
           bytes.size() < sizeof record ? bytes.size() : sizeof record);
    return record;
  }
};

// ---------------------------------------------------------------------------
// Host functions and entry calls. Their details are a short list of named
// values, in the order a reader wants them.

// One named value: a number, a flag, a text or a list of texts.
struct FieldValue {
  enum Kind { kInteger, kReal, kFlag, kText, kTexts };
  FieldValue(int32_t value) : kind(kInteger), integer(value) {}
  FieldValue(int64_t value) : kind(kInteger), integer(value) {}
  FieldValue(uint64_t value) : kind(kInteger), integer(static_cast<int64_t>(value)) {}
  FieldValue(double value) : kind(kReal), real(value) {}
  FieldValue(bool value) : kind(kFlag), flag(value) {}
  FieldValue(const char* value) : kind(kText), text(value) {}
  FieldValue(std::string value) : kind(kText), text(std::move(value)) {}
  FieldValue(std::vector<std::string> value) : kind(kTexts), texts(std::move(value)) {}

  Kind kind;
  int64_t integer = 0;
  double real = 0;
  bool flag = false;
  std::string text;
  std::vector<std::string> texts;
};
using Fields = std::vector<std::pair<std::string, FieldValue>>;

// One call of a host function.
struct FunctionCall {
  std::string name;
  bool refused = false;  // hidden or refusing service on request
  bool hidden = false;
  Fields fields;  // arguments and answers: "file", "result", ...

  FunctionCall& Add(std::string key, FieldValue value) {
    fields.emplace_back(std::move(key), std::move(value));
    return *this;
  }
  // The value named key; null when the call has none.
  const FieldValue* Find(const std::string& key) const {
    for (const auto& field : fields)
      if (field.first == key) return &field.second;
    return nullptr;
  }
};

// One call of the entry, when it starts and when it returns.
struct EntryCall {
  uint32_t selector = 0;
  int32_t renderFrame = 0;
  int32_t result = 0;  // set when it returned
  const void* block = nullptr;
  int32_t blockSize = 0;
};

// Told of every record as the host makes it. Each method may be left out.
class CallObserver {
 public:
  virtual ~CallObserver() = default;
  virtual void EntryStarted(const EntryCall& /*call*/) {}
  virtual void EntryReturned(const EntryCall& /*call*/) {}
  virtual void CallbackServed(const ServedCall& /*call*/) {}
  virtual void FunctionCalled(const FunctionCall& /*call*/) {}
  virtual void FunctionLookedUp(const std::string& /*name*/, bool /*found*/) {}
};

// An address as text for logs and messages ("0x7f..."; "null").
std::string AddressText(const void* address);

}  // namespace vhost

#endif
