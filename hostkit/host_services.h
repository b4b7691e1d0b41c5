// The host side of the sixteen exported functions: the home directory, file
// references, resource files and dialogs. Every handle handed out is recorded,
// checked when it comes back and counted; whatever the plug-in has not
// released by the end of the entry call that obtained it is a leak.
#ifndef VESTREL_HOSTKIT_HOST_SERVICES_H
#define VESTREL_HOSTKIT_HOST_SERVICES_H

#include <stdint.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hostkit/call_log.h"
#include "hostkit/dialogs.h"
#include "hostkit/faults.h"
#include "hostkit/findings.h"
#include "hostkit/resource_file.h"

// Whether a hidden host function can be kept from the plug-in's lookup. On
// glibc vestrel-host defines dlsym for that (exported_functions.cpp), except
// under AddressSanitizer, whose runtime looks up its own functions with dlsym
// relative to itself (RTLD_NEXT) before anything else runs, which an
// executable's dlsym cannot pass on faithfully. Elsewhere a hidden function
// stays findable and refuses service when called.
#if defined(__SANITIZE_ADDRESS__)
#define VHOST_CAN_HIDE_FUNCTIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VHOST_CAN_HIDE_FUNCTIONS 0
#endif
#endif
#if !defined(VHOST_CAN_HIDE_FUNCTIONS) && defined(__GLIBC__)
#define VHOST_CAN_HIDE_FUNCTIONS 1
#elif !defined(VHOST_CAN_HIDE_FUNCTIONS)
#define VHOST_CAN_HIDE_FUNCTIONS 0
#endif

namespace vhost {

struct DirectoryRef {
  std::string path;
};

struct FileRef {
  std::string path;
  uint32_t fileType = 0;
  std::string extension;
};

struct OpenResource {
  ResourceFile file;
};

// Answers that a validator twists to see the plug-in cope with a hostile
// host's functions. Unset fields keep the honest answers.
struct FunctionAnswerOverrides {
  std::optional<int32_t> editTextSize;  // Orvo_GetEditTextStringSize answers this
  // Orvo_GetEditTextString writes these bytes as they are, with no terminator
  // added, as far as the room the plug-in gave (*length) reaches...
  std::optional<std::string> editTextBytes;
  std::optional<int32_t> lengthWritten;  // ... and leaves *length at this
  std::optional<int32_t> controlValue;   // Orvo_GetControlValue answers this
  std::optional<int32_t> executeResult;  // Orvo_ExecuteDialog answers this once the dialog ran
  // Orvo_GetEditTextString fills the whole room with the control's text and
  // writes no terminator when the text does not fit.
  bool textFillsRoom = false;
  std::set<int32_t> removedControls;  // left out of every dialog the host makes
};

class HostServices {
 public:
  // observer, if not null, is told of every call and lookup.
  HostServices(std::string homeDirectory, DialogRunner* runner, const FaultPlan& faults,
               Findings& findings, CallObserver* observer = nullptr);
  ~HostServices();

  // The call of the entry that is running, for messages ("'INTF'"); empty
  // between calls. A host function called between calls is a violation.
  void BeginEntryCall(const std::string& selectorName);
  // Reports and releases whatever the plug-in obtained and did not release.
  void EndEntryCall();

  // The sixteen functions, as the exported ones forward them.
  void* GetHomeDirectory();
  void* MakeFileRef(void* directory, const char* name, uint32_t fileType, const char* extension);
  void DestroyFileRef(void* file);
  void DestroyDirectoryRef(void* directory);
  void* OpenResourceFile(void* file);
  void CloseResourceFile(void* resourceFile);
  void* MakeDialog(void* resourceFile, int32_t dialogId);
  void SetDialogTitle(void* dialog, const char* title);
  int32_t ExecuteDialog(void* dialog);
  void DestroyDialog(void* dialog);
  void* FindControlByID(void* dialog, int32_t controlId);
  int32_t GetControlValue(void* control);
  void SetControlValue(void* control, int32_t value);
  int32_t GetEditTextStringSize(void* control);
  void GetEditTextString(void* control, char* buffer, int32_t* length);
  void SetEditTextString(void* control, const char* text);

  // A call of a function that the host hides, or that refuses service: what
  // the exported function does instead of forwarding.
  void RefusedCall(const char* name, bool hidden);
  // The plug-in looked a host function up by name.
  void Lookup(const char* name, bool found);
  // The plug-in looks a host function up by name: whether this lookup finds
  // nothing (the function hidden, or this lookup hidden alone). A lookup
  // hidden alone is logged as a refused, hidden call of the function.
  bool HidesLookup(const char* name);
  void SetAnswerOverrides(const FunctionAnswerOverrides& overrides) { answers_ = overrides; }

  const std::vector<DialogRun>& dialogRuns() const { return dialogRuns_; }
  // Every call of a host function in order, refused ones marked, when kept.
  void KeepFunctionLog(bool keep) { keepLog_ = keep; }
  const std::vector<FunctionCall>& functionLog() const { return functionLog_; }
  void ClearFunctionLog() { functionLog_.clear(); }
  const std::map<std::string, int>& calls() const { return calls_; }
  const std::map<std::string, int>& lookups() const { return lookups_; }
  const std::string& homeDirectory() const { return home_; }
  void SetHomeDirectory(const std::string& home) { home_ = home; }
  // Handles handed out and not taken back yet, of one kind.
  size_t LiveHandles(ResourceKind kind) const;

 private:
  // Numbers the call; whether the host hides the function or it refuses
  // service, wholly or at this call.
  bool Refuses(const char* name);
  // Counts the call and checks that it comes inside an entry call.
  void Enter(const char* name);
  void Record(FunctionCall call);
  void Record(const char* name, Fields fields);
  Control* FindLiveControl(void* control, const char* function);
  Dialog* FindLiveDialog(void* dialog, const char* function);
  std::string Where() const;

  std::string home_;
  DialogRunner* runner_;
  const FaultPlan& faults_;
  Findings& findings_;
  CallObserver* observer_;
  std::string currentCall_;
  std::map<void*, std::unique_ptr<DirectoryRef>> directories_;
  std::map<void*, std::unique_ptr<FileRef>> files_;
  std::map<void*, std::unique_ptr<OpenResource>> resources_;
  std::map<void*, std::unique_ptr<Dialog>> dialogs_;
  struct ControlEntry {
    void* dialog;
    Control* control;
  };
  std::map<void*, ControlEntry> controls_;  // the controls of live dialogs by handle
  std::vector<DialogRun> dialogRuns_;
  std::map<std::string, int> calls_;
  std::map<std::string, int> lookups_;
  std::map<std::string, int> found_;  // times each function was found
  bool keepLog_ = false;
  std::vector<FunctionCall> functionLog_;
  std::set<std::string> refusedDuringCall_;  // functions refused in the running entry call
  uint64_t functionCallNumber_ = 0;  // calls that reached the host, from 1
  uint64_t lookupNumber_ = 0;        // lookups of host functions, from 1
  FunctionAnswerOverrides answers_;
};

// The services the exported functions forward to. A host sets it when it makes
// its services and clears it before they go; null outside a run.
extern HostServices* theHostServices;

}  // namespace vhost

#endif
