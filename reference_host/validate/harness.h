// The host world of one validator check: the guarded heap, the host
// functions, the faults to inject, and one or more plug-in instances, each a
// host session on a scene of its own with its own parameter block. Every call
// of the entry goes through Call, which hands what the host saw to the model
// of the design (validate_model.h) and keeps each departure as a problem.
#ifndef VESTREL_REFERENCE_HOST_VALIDATE_VALIDATE_HARNESS_H
#define VESTREL_REFERENCE_HOST_VALIDATE_VALIDATE_HARNESS_H

#include <stdint.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hostkit/dialogs.h"
#include "hostkit/faults.h"
#include "hostkit/findings.h"
#include "hostkit/guarded_heap.h"
#include "hostkit/host_services.h"
#include "hostkit/host_session.h"
#include "hostkit/protocol.h"
#include "reference_host/validate/model.h"

namespace vhost {

// What every check gets from the validator.
struct CheckEnvironment {
  EntryFunction entry = nullptr;
  std::string home;  // where the resource file is
  MemoryCheck memoryCheck = MemoryCheck::kCanary;
  bool canHide = false;  // hidden functions are unseen by the plug-in (a fresh process on glibc)
};

// A dialog runner that answers with the answers of whichever instance's call
// is running.
class InstanceDialogRunner : public DialogRunner {
 public:
  void Use(const std::optional<DialogAnswers>* answers) { answers_ = answers; }
  bool Run(Dialog& dialog, DialogRun* run) override;

 private:
  const std::optional<DialogAnswers>* answers_ = nullptr;
};

struct Instance {
  std::string name;
  Scene scene;
  std::unique_ptr<HostSession> session;
  // What each call of the entry gave, in order: for comparing instances.
  struct CallOutcome {
    uint32_t selector;
    int32_t result;
    std::vector<uint8_t> block;
    size_t vertices;
  };
  std::vector<CallOutcome> outcomes;
  BlockState Block() const;
};

class Harness {
 public:
  explicit Harness(const CheckEnvironment& environment);
  ~Harness();
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  // Faults, set before the calls they concern.
  void RefuseSelector(uint32_t selector, int32_t code);
  void RefuseCall(uint64_t number, int32_t code);  // counted over all instances, from 1
  // A host function that does not serve: hidden where the plug-in's lookup
  // can be kept from finding it, refusing service otherwise.
  void DisableFunction(const std::string& name, bool hide);
  // The Nth call of a host function (counted over all of them, from 1)
  // refuses service, alone.
  void RefuseFunctionCall(uint64_t number);
  // The plug-in's Nth lookup of a host function (counted from 1) finds
  // nothing, alone; only where lookups can be hidden (environment().canHide).
  void HideLookup(uint64_t number);
  // Twisted answers of the host's functions, from the next call on.
  void SetFunctionAnswers(const FunctionAnswerOverrides& answers) {
    services_->SetAnswerOverrides(answers);
  }

  Instance& AddInstance(const Scene& scene, const std::string& name = "");
  // Calls the entry for the instance and checks the call against the design.
  int32_t Call(Instance& instance, uint32_t selector);
  // Several calls in a row; stops early only when the process model says so.
  void CallAll(Instance& instance, const std::vector<uint32_t>& selectors);

  // Ends the sessions and turns what the host found (violations, overruns,
  // leaks not owed to a refused release) into problems.
  void Finish();

  std::vector<std::string>& problems() { return problems_; }
  void Problem(const std::string& text) { problems_.push_back(text); }
  ProcessModel& model() { return model_; }
  HostServices& services() { return *services_; }
  uint64_t callbackCalls() const;
  const CheckEnvironment& environment() const { return environment_; }

 private:
  void TakeFindings(const std::string& where);
  // Whether the host would not take back a resource of this kind during the
  // call: its release function dead, or a call of it refused alone.
  bool ReleaseRefused(const EntryObservation& observation, ResourceKind kind) const;

  CheckEnvironment environment_;
  FaultPlan faults_;
  Findings findings_;
  GuardedHeap heap_;
  InstanceDialogRunner runner_;
  std::unique_ptr<HostServices> services_;
  std::vector<std::unique_ptr<Instance>> instances_;
  std::set<std::string> dead_;
  std::set<std::string> hidden_;
  std::set<uint32_t> refusedSelectors_;
  bool refusedCalls_ = false;
  ProcessModel& model_;
  std::vector<std::string> problems_;
  size_t violationsSeen_ = 0;
  size_t overrunsSeen_ = 0;
  bool finished_ = false;
};

}  // namespace vhost

#endif
