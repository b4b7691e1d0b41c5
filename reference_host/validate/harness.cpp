#include "reference_host/validate/harness.h"

#include <string.h>

#include "hostkit/call_views.h"

namespace vhost {

namespace {

// The host function that releases each kind of resource: a plug-in cannot be
// blamed for what stays out when the host will not take it back.
const char* ReleaseFunction(ResourceKind kind) {
  switch (kind) {
    case ResourceKind::kDirectoryRef: return kOrvoDestroyDirectoryRef;
    case ResourceKind::kFileRef: return kOrvoDestroyFileRef;
    case ResourceKind::kResourceFile: return kOrvoCloseResourceFile;
    case ResourceKind::kDialog: return kOrvoDestroyDialog;
    case ResourceKind::kSampleMemory: return "";
  }
  return "";
}

// The plug-in's process-wide state lives as long as the process: a check run
// in a process of its own starts from the plug-in as loaded, checks run one
// after another in one process see what the earlier ones left (the creator
// code, the matrices). The model follows the plug-in either way.
ProcessModel& ProcessWideModel() {
  static ProcessModel model;
  return model;
}

}  // namespace

bool InstanceDialogRunner::Run(Dialog& dialog, DialogRun* run) {
  ScriptedDialogRunner scripted(answers_ != nullptr ? *answers_ : std::nullopt);
  return scripted.Run(dialog, run);
}

BlockState Instance::Block() const {
  std::vector<uint8_t> bytes = session->BlockBytes();
  return BlockState{!bytes.empty(), bytes};
}

Harness::Harness(const CheckEnvironment& environment)
    : environment_(environment), heap_(environment.memoryCheck), model_(ProcessWideModel()) {
  findings_.echo = false;
  services_ = std::make_unique<HostServices>(environment_.home, &runner_, faults_, findings_);
  services_->KeepFunctionLog(true);
  theHostServices = services_.get();
}

Harness::~Harness() {
  Finish();
  theHostServices = nullptr;
}

void Harness::RefuseSelector(uint32_t selector, int32_t code) {
  std::string message;
  faults_.AddSelectorRefusal(CodeName(selector) + ":" + std::to_string(code), &message);
  refusedSelectors_.insert(selector);
}

void Harness::RefuseCall(uint64_t number, int32_t code) {
  std::string message;
  faults_.AddCallRefusal(std::to_string(number) + ":" + std::to_string(code), &message);
  refusedCalls_ = true;
}

void Harness::DisableFunction(const std::string& name, bool hide) {
  std::string message;
  if (hide && environment_.canHide) {
    faults_.AddHiddenFunction(name, &message);
    hidden_.insert(name);
  } else {
    faults_.AddFunctionRefusal(name, &message);
  }
  dead_.insert(name);
}

void Harness::RefuseFunctionCall(uint64_t number) {
  std::string message;
  faults_.AddFunctionCallRefusal(std::to_string(number), &message);
}

void Harness::HideLookup(uint64_t number) {
  std::string message;
  faults_.AddHiddenLookup(std::to_string(number), &message);
}

Instance& Harness::AddInstance(const Scene& scene, const std::string& name) {
  auto instance = std::make_unique<Instance>();
  instance->name = name;
  instance->scene = scene;
  instance->session =
      std::make_unique<HostSession>(instance->scene, heap_, faults_, findings_, *services_);
  instance->session->KeepCallLog(true);
  instance->session->SetNewBlockFill(kUnsetBytesFill);  // a read of an unset byte shows
  instances_.push_back(std::move(instance));
  return *instances_.back();
}

uint64_t Harness::callbackCalls() const {
  uint64_t total = 0;
  for (const auto& instance : instances_) total += instance->session->callbackCalls();
  return total;
}

int32_t Harness::Call(Instance& instance, uint32_t selector) {
  EntryObservation observation;
  observation.selector = selector;
  observation.before = instance.Block();
  observation.scene = &instance.scene;
  observation.deadFunctions = dead_;
  observation.hiddenFunctions = hidden_;
  size_t dialogsBefore = services_->dialogRuns().size();
  std::map<ResourceKind, size_t> leakedBefore;
  for (ResourceKind kind : kAllResourceKinds) leakedBefore[kind] = findings_.Count(kind).leaked;
  services_->ClearFunctionLog();
  runner_.Use(&instance.scene.dialog);

  observation.result =
      instance.session->Call(environment_.entry, selector, instance.scene.renderFirst);

  // Taken, not copied: the log of one call of a large block is tens of
  // megabytes, more than twice of which a 32-bit host under emulation lacks.
  observation.calls = instance.session->TakeCallLog();
  observation.functions = services_->functionLog();
  observation.samples = SamplesOf(observation.calls);
  if (services_->dialogRuns().size() > dialogsBefore)
    observation.dialog = services_->dialogRuns().back();
  observation.after = instance.Block();
  observation.info = &instance.session->info();

  std::string where = instance.name.empty() ? "" : instance.name + ": ";
  std::vector<std::string> problems;
  CheckEntryCall(observation, model_, &problems);
  for (const std::string& problem : problems) problems_.push_back(where + problem);

  // Leaks: only of what the host refused to take back.
  bool memoryRefused = false;
  for (const ServedCall& call : observation.calls)
    memoryRefused |= call.selector == kSelectorMemFree && call.refused;
  for (ResourceKind kind : kAllResourceKinds) {
    size_t leaked = findings_.Count(kind).leaked - leakedBefore[kind];
    bool excused = kind == ResourceKind::kSampleMemory ? memoryRefused
                                                       : ReleaseRefused(observation, kind);
    if (leaked != 0 && !excused) {
      problems_.push_back(where + Quoted(selector) + ": left " + std::to_string(leaked) +
                          " of the host's " + ResourceKindName(kind) + " unreleased at its end");
    }
  }
  TakeFindings(where + Quoted(selector));

  const size_t vertices = ModelOf(observation.calls, instance.scene.renderFirst).vertices.size();
  instance.outcomes.push_back({selector, observation.result, observation.after.bytes, vertices});
  return observation.result;
}

bool Harness::ReleaseRefused(const EntryObservation& observation, ResourceKind kind) const {
  const std::string release = ReleaseFunction(kind);
  if (dead_.count(release) != 0) return true;
  for (const FunctionCall& call : observation.functions)
    if (call.refused && call.name == release) return true;
  return false;
}

void Harness::CallAll(Instance& instance, const std::vector<uint32_t>& selectors) {
  for (uint32_t selector : selectors) Call(instance, selector);
}

void Harness::TakeFindings(const std::string& where) {
  const auto& violations = findings_.violations();
  for (; violationsSeen_ < violations.size(); ++violationsSeen_) {
    problems_.push_back(where +
                        ": the host saw a protocol violation: " + violations[violationsSeen_]);
  }
  const auto& overruns = findings_.overruns();
  for (; overrunsSeen_ < overruns.size(); ++overrunsSeen_)
    problems_.push_back(where + ": " + overruns[overrunsSeen_]);
}

void Harness::Finish() {
  if (finished_) return;
  finished_ = true;
  for (const auto& instance : instances_) instance->session->Finish();
  TakeFindings("at the end");
}

}  // namespace vhost
