#include "hostkit/findings.h"

#include <stdio.h>

namespace vhost {

namespace {
// At most this many of one kind are kept and printed: a plug-in that breaks
// the protocol in a loop would otherwise flood the terminal.
constexpr size_t kMaxKept = 100;

void Keep(std::vector<std::string>* list, const std::string& text, const char* tag, bool echo) {
  if (list->size() < kMaxKept) {
    list->push_back(text);
    if (echo) fprintf(stderr, "vestrel-host: %s: %s\n", tag, text.c_str());
  } else if (list->size() == kMaxKept) {
    list->push_back("... further ones not listed");
  }
}
}  // namespace

const char* ResourceKindName(ResourceKind kind) {
  switch (kind) {
    case ResourceKind::kSampleMemory: return "sample memory ('MMAL')";
    case ResourceKind::kDirectoryRef: return "directory references";
    case ResourceKind::kFileRef: return "file references";
    case ResourceKind::kResourceFile: return "resource files";
    case ResourceKind::kDialog: return "dialogs";
  }
  return "resources";
}

void Findings::Violation(const std::string& text) { Keep(&violations_, text, "VIOLATION", echo); }
void Findings::Overrun(const std::string& text) { Keep(&overruns_, text, "OVERRUN", echo); }

void Findings::Leak(ResourceKind kind, const std::string& text) {
  ++counts_[kind].leaked;
  Keep(&leaks_, text, "LEAK", echo);
}

void Findings::ExcusedLeak(ResourceKind kind, const std::string& text) {
  ++counts_[kind].leaked;
  Note(text + ", a consequence of the fault the host was asked to inject");
}

void Findings::Note(const std::string& text) { Keep(&notes_, text, "note", false); }

}  // namespace vhost
