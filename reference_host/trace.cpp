#include "reference_host/trace.h"

#include <stdio.h>

namespace vhost {

bool Trace::Open(const std::string& path, std::string* message) {
  if (path.empty()) return true;
  out_.open(path, std::ios::trunc);
  if (!out_) {
    *message = "cannot write the trace file " + path;
    return false;
  }
  return true;
}

void Trace::Write(const TraceEvent& event) {
  if (!out_.is_open()) return;
  TraceEvent line = {{"seq", ++sequence_}};
  line.update(event);
  // Texts from the plug-in may hold any bytes: replace what is not UTF-8.
  out_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

void Trace::Close() {
  if (out_.is_open()) out_.close();
}

std::string AddressText(const void* address) {
  if (address == nullptr) return "null";
  char text[32];
  snprintf(text, sizeof text, "%p", address);
  return text;
}

}  // namespace vhost
