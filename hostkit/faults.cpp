#include "hostkit/faults.h"

#include "hostkit/protocol.h"

#include <charconv>

namespace vhost {

namespace {

// A decimal integer and nothing else: no blank, no '+', nothing past the
// type's range ("2147483648" is no int32_t).
template <typename Number>
bool WholeNumber(const std::string& text, Number* value) {
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, *value, 10);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// "TEXT" or "TEXT:CODE" with CODE a signed 32-bit decimal.
bool SplitCode(const std::string& spec, std::string* head, int32_t* code, std::string* message) {
  size_t colon = spec.rfind(':');
  *head = spec.substr(0, colon);
  *code = kDefaultRefusalCode;
  if (colon == std::string::npos) return true;
  std::string text = spec.substr(colon + 1);
  int32_t value = 0;
  if (WholeNumber(text, &value) && value != 0) {
    *code = value;
    return true;
  }
  *message = "'" + spec + "': the code after ':' must be a non-zero 32-bit integer";
  return false;
}

bool CheckFunctionName(const std::string& name, std::string* message) {
  if (IsHostFunctionName(name)) return true;
  *message = "'" + name + "' is not one of the sixteen host functions (" + kHostFunctionNames[0] +
             " ... " + kHostFunctionNames[kHostFunctionCount - 1] + ")";
  return false;
}

// A call number: decimal, 1 to 2^31 - 1, as every count option takes.
bool ParseCallNumber(const std::string& text, uint64_t* number) {
  int32_t n = 0;
  if (!WholeNumber(text, &n) || n < 1) return false;
  *number = static_cast<uint64_t>(n);
  return true;
}

// Adds text, a number of what counts from 1 ("call", "lookup"), to numbers.
bool AddNumber(const std::string& text, const char* what, std::set<uint64_t>* numbers,
               std::string* message) {
  uint64_t n;
  if (!ParseCallNumber(text, &n)) {
    *message =
        "'" + text + "': the " + what + " number must be a whole number from 1 to 2147483647";
    return false;
  }
  numbers->insert(n);
  return true;
}

}  // namespace

bool FaultPlan::AddSelectorRefusal(const std::string& spec, std::string* message) {
  std::string name;
  int32_t code;
  if (!SplitCode(spec, &name, &code, message)) return false;
  uint32_t selector;
  if (!ParseCode(name, &selector) || !IsCallbackSelector(selector)) {
    std::string known;
    for (const CallbackSelector& row : kCallbackSelectors)
      known += (known.empty() ? "" : ", ") + CodeName(row.selector);
    *message = "'" + name + "' is not a selector the plug-in sends (" + known + ")";
    return false;
  }
  refusedSelectors_[selector] = code;
  return true;
}

bool FaultPlan::AddCallRefusal(const std::string& spec, std::string* message) {
  std::string number;
  int32_t code;
  if (!SplitCode(spec, &number, &code, message)) return false;
  uint64_t n;
  if (!ParseCallNumber(number, &n)) {
    *message = "'" + spec + "': the call number must be a whole number from 1 to 2147483647";
    return false;
  }
  refusedCalls_[n] = code;
  return true;
}

bool FaultPlan::AddHiddenLookup(const std::string& number, std::string* message) {
  return AddNumber(number, "lookup", &hiddenLookups_, message);
}

bool FaultPlan::AddFunctionCallRefusal(const std::string& number, std::string* message) {
  return AddNumber(number, "call", &refusedFunctionCalls_, message);
}

bool FaultPlan::AddFunctionRefusal(const std::string& name, std::string* message) {
  if (!CheckFunctionName(name, message)) return false;
  refusedFunctions_.insert(name);
  return true;
}

bool FaultPlan::AddHiddenFunction(const std::string& name, std::string* message) {
  if (!CheckFunctionName(name, message)) return false;
  hiddenFunctions_.insert(name);
  return true;
}

std::optional<int32_t> FaultPlan::CallbackRefusal(uint32_t selector, uint64_t callNumber) const {
  auto call = refusedCalls_.find(callNumber);
  if (call != refusedCalls_.end()) return call->second;
  auto all = refusedSelectors_.find(selector);
  if (all != refusedSelectors_.end()) return all->second;
  return std::nullopt;
}

bool FaultPlan::Empty() const {
  return refusedSelectors_.empty() && refusedCalls_.empty() && refusedFunctions_.empty() &&
         hiddenFunctions_.empty() && refusedFunctionCalls_.empty() && hiddenLookups_.empty();
}

std::vector<std::string> FaultPlan::Describe() const {
  std::vector<std::string> lines;
  for (const auto& entry : refusedSelectors_) {
    lines.push_back("every '" + CodeName(entry.first) + "' refused with " +
                    std::to_string(entry.second));
  }
  for (const auto& entry : refusedCalls_) {
    lines.push_back("callback call #" + std::to_string(entry.first) + " refused with " +
                    std::to_string(entry.second));
  }
  for (const std::string& name : refusedFunctions_) lines.push_back(name + " refuses service");
  for (const std::string& name : hiddenFunctions_) lines.push_back(name + " hidden");
  for (uint64_t n : refusedFunctionCalls_)
    lines.push_back("host-function call #" + std::to_string(n) + " refuses service");
  for (uint64_t n : hiddenLookups_)
    lines.push_back("host-function lookup #" + std::to_string(n) + " finds nothing");
  return lines;
}

}  // namespace vhost
