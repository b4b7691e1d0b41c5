// The trace of a run as JSON Lines: one object per line for every call of the
// entry, every call of the host callback and every host function, with the
// selector or name, the record size, the fields that matter and the result.
// It is an observer of the host kit's call log: it renders each record as it
// is made and adds nothing of its own.
#ifndef VESTREL_REFERENCE_HOST_PLAY_TRACE_H
#define VESTREL_REFERENCE_HOST_PLAY_TRACE_H

#include <stdint.h>

#include <string>

#include <nlohmann/json.hpp>

#include "hostkit/call_log.h"
#include "reference_host/play/safe_files.h"

namespace vhost {

// Events keep their keys in the order written, so that each line reads
// naturally: what was called first, then its fields, then the result.
using TraceEvent = nlohmann::ordered_json;

class Trace : public CallObserver {
 public:
  // Starts the trace file; an empty path makes a trace that writes nothing.
  // The file appears, whole, only when Close succeeds.
  bool Open(const std::string& path, std::string* message);
  bool enabled() const { return out_.is_open(); }
  // Puts the file in place. False with a message when any of it could not be
  // written; the temporary file is removed and an older trace stays.
  bool Close(std::string* message);
  // The trace file being written, for a batch of outputs that puts it in
  // place with the others; null when there is none.
  AtomicFile* file() { return out_.is_open() ? &out_ : nullptr; }

  void EntryStarted(const EntryCall& call) override;
  void EntryReturned(const EntryCall& call) override;
  void CallbackServed(const ServedCall& call) override;
  void FunctionCalled(const FunctionCall& call) override;
  void FunctionLookedUp(const std::string& name, bool found) override;

 private:
  // Writes one event, numbered in order ("seq").
  void Write(const TraceEvent& event);

  AtomicFile out_;
  uint64_t sequence_ = 0;
};

// The arguments of a callback call as trace fields: what the plug-in sent,
// and what the host answered when it served the call.
void AddCallFields(const ServedCall& call, TraceEvent* event);

}  // namespace vhost

#endif
