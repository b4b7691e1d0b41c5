// What vestrel-host found while serving the plug-in: protocol violations,
// overruns, resources left unreleased, and notes that are not the plug-in's
// fault (a broken resource file, a fault the user asked to inject). Anything
// but notes makes the run fail.
#ifndef VESTREL_HOSTKIT_FINDINGS_H
#define VESTREL_HOSTKIT_FINDINGS_H

#include <stddef.h>

#include <map>
#include <string>
#include <vector>

namespace vhost {

// Host resources that the plug-in obtains and must give back.
enum class ResourceKind { kSampleMemory, kDirectoryRef, kFileRef, kResourceFile, kDialog };
constexpr ResourceKind kAllResourceKinds[] = {ResourceKind::kSampleMemory,
                                              ResourceKind::kDirectoryRef, ResourceKind::kFileRef,
                                              ResourceKind::kResourceFile, ResourceKind::kDialog};
const char* ResourceKindName(ResourceKind kind);

struct ResourceCount {
  size_t obtained = 0;
  size_t released = 0;
  size_t leaked = 0;  // not released by the end of the entry call that obtained it
};

class Findings {
 public:
  // The plug-in broke the protocol. Printed at once to stderr, so that it is
  // seen next to what happened, and listed in the summary.
  void Violation(const std::string& text);
  void Overrun(const std::string& text);
  void Leak(ResourceKind kind, const std::string& text);
  // A resource left unreleased because the host itself refused or hid the
  // function that releases it: counted as not released, noted, not a failure.
  void ExcusedLeak(ResourceKind kind, const std::string& text);
  void Note(const std::string& text);

  void Obtained(ResourceKind kind) { ++counts_[kind].obtained; }
  void Released(ResourceKind kind) { ++counts_[kind].released; }
  const ResourceCount& Count(ResourceKind kind) { return counts_[kind]; }

  const std::vector<std::string>& violations() const { return violations_; }
  const std::vector<std::string>& overruns() const { return overruns_; }
  const std::vector<std::string>& leaks() const { return leaks_; }
  const std::vector<std::string>& notes() const { return notes_; }
  bool Failed() const { return !violations_.empty() || !overruns_.empty() || !leaks_.empty(); }

  // When set, violations are printed as they happen.
  bool echo = true;

 private:
  std::vector<std::string> violations_;
  std::vector<std::string> overruns_;
  std::vector<std::string> leaks_;
  std::vector<std::string> notes_;
  std::map<ResourceKind, ResourceCount> counts_;
};

}  // namespace vhost

#endif
