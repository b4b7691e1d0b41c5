// The trace of a run as JSON Lines: one object per line for every call of the
// entry, every call of the host callback and every host function, with the
// selector or name, the record size, the fields that matter and the result.
#ifndef VESTREL_REFERENCE_HOST_TRACE_H
#define VESTREL_REFERENCE_HOST_TRACE_H

#include <stdint.h>

#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

namespace vhost {

// Events keep their keys in the order written, so that each line reads
// naturally: what was called first, then its fields, then the result.
using TraceEvent = nlohmann::ordered_json;

class Trace {
 public:
  // Opens the trace file; an empty path makes a trace that writes nothing.
  bool Open(const std::string& path, std::string* message);
  bool enabled() const { return out_.is_open(); }
  // Writes one event, numbered in order ("seq").
  void Write(const TraceEvent& event);
  void Close();

 private:
  std::ofstream out_;
  uint64_t sequence_ = 0;
};

// An address as text for the trace and messages ("0x7f..."; "null").
std::string AddressText(const void* address);

}  // namespace vhost

#endif
