// Faults that vestrel-host injects on request, to show what the plug-in does
// when the host refuses a service or lacks a function:
//   --refuse SEL[:CODE]        every call of a callback selector fails with CODE
//   --refuse-call N[:CODE]     the Nth call of the callback (counted from 1) fails
//   --refuse-function NAME     the host function exists but refuses service
//                              (returns null or 0 and does nothing)
//   --refuse-function-call N   the Nth call of a host function (counted from 1
//                              over all sixteen) refuses service, alone
//   --hide-function NAME       the host function is missing: the plug-in's
//                              run-time lookup does not find it
//   --hide-lookup N            the plug-in's Nth lookup of a host function by
//                              name (counted from 1) finds nothing, alone: a
//                              later lookup finds it (where lookups can be
//                              kept from finding, as on glibc)
#ifndef VESTREL_HOSTKIT_FAULTS_H
#define VESTREL_HOSTKIT_FAULTS_H

#include <stdint.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vhost {

constexpr int32_t kDefaultRefusalCode = -1;

class FaultPlan {
 public:
  // Each parser returns false with a message for a malformed option value.
  bool AddSelectorRefusal(const std::string& spec, std::string* message);
  bool AddCallRefusal(const std::string& spec, std::string* message);
  bool AddFunctionRefusal(const std::string& name, std::string* message);
  bool AddHiddenFunction(const std::string& name, std::string* message);
  bool AddFunctionCallRefusal(const std::string& number, std::string* message);
  bool AddHiddenLookup(const std::string& number, std::string* message);
  // The same refusals from values, for hosts that script them in code.
  void RefuseSelector(uint32_t selector, int32_t code) { refusedSelectors_[selector] = code; }
  void RefuseCall(uint64_t callNumber, int32_t code) { refusedCalls_[callNumber] = code; }
  void HideFunction(const std::string& name) { hiddenFunctions_.insert(name); }
  void ShowFunction(const std::string& name) { hiddenFunctions_.erase(name); }

  // The code with which callback call number callNumber (from 1) of selector
  // is refused, if it is.
  std::optional<int32_t> CallbackRefusal(uint32_t selector, uint64_t callNumber) const;
  bool FunctionRefused(const std::string& name) const { return refusedFunctions_.count(name) != 0; }
  bool Hidden(const std::string& name) const { return hiddenFunctions_.count(name) != 0; }
  // Whether host-function call number callNumber (from 1) refuses service.
  bool FunctionCallRefused(uint64_t callNumber) const {
    return refusedFunctionCalls_.count(callNumber) != 0;
  }
  // Whether lookup number lookupNumber (from 1) finds nothing, alone.
  bool LookupHidden(uint64_t lookupNumber) const { return hiddenLookups_.count(lookupNumber) != 0; }
  bool Empty() const;

  // The numbered faults asked for, to tell which never fired.
  const std::map<uint64_t, int32_t>& refusedCalls() const { return refusedCalls_; }
  const std::set<uint64_t>& refusedFunctionCalls() const { return refusedFunctionCalls_; }
  const std::set<uint64_t>& hiddenLookups() const { return hiddenLookups_; }

  // What was asked for, for the summary.
  std::vector<std::string> Describe() const;

 private:
  std::map<uint32_t, int32_t> refusedSelectors_;
  std::map<uint64_t, int32_t> refusedCalls_;
  std::set<std::string> refusedFunctions_;
  std::set<std::string> hiddenFunctions_;
  std::set<uint64_t> refusedFunctionCalls_;
  std::set<uint64_t> hiddenLookups_;
};

}  // namespace vhost

#endif
