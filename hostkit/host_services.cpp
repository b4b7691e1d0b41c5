#include "hostkit/host_services.h"

#include <string.h>

#include <algorithm>
#include <filesystem>

#include "hostkit/protocol.h"

namespace vhost {

HostServices* theHostServices = nullptr;

namespace {

// Handles are made-up values, never reused within a run, so that a released
// handle that comes back is always recognised as such. Each kind has its own
// range, which makes them easy to tell apart in a trace.
enum HandleRange : uintptr_t {
  kDirectoryHandles = 0x0D100000,
  kFileHandles = 0x0F100000,
  kResourceHandles = 0x0E100000,
  kDialogHandles = 0x0DA00000,
  kControlHandles = 0x0C000000,
};

void* MakeHandle(uintptr_t range, uint64_t serial) {
  return reinterpret_cast<void*>(range + static_cast<uintptr_t>(serial) * 16);
}

// Handles are numbered over the whole process, not per HostServices, so that a
// handle from one session (the validator runs many in one process) is never
// mistaken for a live one of the next. Only the service functions below
// advance it; nothing resets it.
uint64_t nextSerial = 1;

std::string SafeText(const char* text) {
  return text == nullptr ? std::string("(null)") : std::string(text);
}

}  // namespace

HostServices::HostServices(std::string homeDirectory, DialogRunner* runner, const FaultPlan& faults,
                           Findings& findings, CallObserver* observer)
    : home_(std::move(homeDirectory)),
      runner_(runner),
      faults_(faults),
      findings_(findings),
      observer_(observer) {}

HostServices::~HostServices() = default;

std::string HostServices::Where() const {
  return currentCall_.empty() ? "between entry calls" : "during " + currentCall_;
}

void HostServices::BeginEntryCall(const std::string& selectorName) {
  currentCall_ = "'" + selectorName + "'";
  refusedDuringCall_.clear();
}

void HostServices::EndEntryCall() {
  // A leak is the plug-in's unless the host hid the very function that
  // releases the resource, or refused a call of it during this entry call.
  auto report = [&](auto& live, ResourceKind kind, const char* what, const char* release) {
    const bool excused = faults_.Hidden(release) || refusedDuringCall_.count(release) != 0;
    for (auto& entry : live) {
      const std::string text = std::string(what) + " " + AddressText(entry.first) + " obtained " +
                               Where() + " was not released by its end";
      if (excused) {
        findings_.ExcusedLeak(kind, text);
      } else {
        findings_.Leak(kind, text);
      }
      findings_.Released(kind);
    }
    live.clear();
  };
  report(dialogs_, ResourceKind::kDialog, "dialog", kOrvoDestroyDialog);
  report(resources_, ResourceKind::kResourceFile, "resource file", kOrvoCloseResourceFile);
  report(files_, ResourceKind::kFileRef, "file reference", kOrvoDestroyFileRef);
  report(directories_, ResourceKind::kDirectoryRef, "directory reference",
         kOrvoDestroyDirectoryRef);
  controls_.clear();
  currentCall_.clear();
}

size_t HostServices::LiveHandles(ResourceKind kind) const {
  switch (kind) {
    case ResourceKind::kDirectoryRef: return directories_.size();
    case ResourceKind::kFileRef: return files_.size();
    case ResourceKind::kResourceFile: return resources_.size();
    case ResourceKind::kDialog: return dialogs_.size();
    case ResourceKind::kSampleMemory: return 0;  // the session's
  }
  return 0;
}

bool HostServices::Refuses(const char* name) {
  ++functionCallNumber_;
  return faults_.Hidden(name) || faults_.FunctionRefused(name) ||
         faults_.FunctionCallRefused(functionCallNumber_);
}

void HostServices::Enter(const char* name) {
  ++calls_[name];
  if (currentCall_.empty()) findings_.Violation(std::string(name) + " called between entry calls");
}

void HostServices::Record(FunctionCall call) {
  if (keepLog_) functionLog_.push_back(call);
  if (observer_ != nullptr) observer_->FunctionCalled(call);
}

void HostServices::Record(const char* name, Fields fields) {
  Record(FunctionCall{name, false, false, std::move(fields)});
}

void HostServices::RefusedCall(const char* name, bool hidden) {
  ++calls_[name];
  refusedDuringCall_.insert(name);
  if (hidden) {
#if VHOST_CAN_HIDE_FUNCTIONS
    findings_.Violation(std::string(name) + " called " + Where() +
                        ", but the host hides it: the plug-in cannot have found it by name");
#else
    findings_.Note(std::string(name) + " called " + Where() +
                   " although hidden: this platform cannot keep the plug-in's lookup from finding "
                   "it, so it refuses service instead");
#endif
  }
  FunctionCall call{name, true, hidden, {}};
  if (keepLog_) functionLog_.push_back(call);
  if (observer_ != nullptr) observer_->FunctionCalled(call);
}

bool HostServices::HidesLookup(const char* name) {
  ++lookupNumber_;
  if (faults_.Hidden(name)) return true;
  if (!faults_.LookupHidden(lookupNumber_)) return false;
  refusedDuringCall_.insert(name);
  Record(FunctionCall{name, true, true, {{"lookup", "not found"}}});
  return true;
}

void HostServices::Lookup(const char* name, bool found) {
  // A plug-in keeps what it found; looking a found function up again costs
  // the lookup each time. Noted, not a failure.
  if (found && found_.count(name) != 0 && found_[name]++ == 1) {
    findings_.Note(std::string("the plug-in looked ") + name + " up again after it had found it");
  }
  if (found && found_.count(name) == 0) found_[name] = 1;
  ++lookups_[name];
  if (observer_ != nullptr) observer_->FunctionLookedUp(name, found);
}

Dialog* HostServices::FindLiveDialog(void* dialog, const char* function) {
  auto it = dialogs_.find(dialog);
  if (it != dialogs_.end()) return it->second.get();
  if (dialog != nullptr)
    findings_.Violation(std::string(function) + " with " + AddressText(dialog) +
                        ", which is not a live dialog");
  return nullptr;
}

Control* HostServices::FindLiveControl(void* control, const char* function) {
  auto it = controls_.find(control);
  if (it != controls_.end()) return it->second.control;
  if (control != nullptr)
    findings_.Violation(std::string(function) + " with " + AddressText(control) +
                        ", which is not a control of a live dialog");
  return nullptr;
}

// Each function first asks the fault plan whether it serves at all.
#define VHOST_SERVE_OR_RETURN(name, value)                       \
  do {                                                           \
    if (Refuses(name)) {                                         \
      RefusedCall(name, faults_.Hidden(name));                   \
      return value;                                              \
    }                                                            \
    Enter(name);                                                 \
  } while (0)

void* HostServices::GetHomeDirectory() {
  VHOST_SERVE_OR_RETURN(kOrvoGetHomeDirectory, nullptr);
  void* handle = MakeHandle(kDirectoryHandles, nextSerial++);
  directories_[handle] = std::make_unique<DirectoryRef>(DirectoryRef{home_});
  findings_.Obtained(ResourceKind::kDirectoryRef);
  Record(kOrvoGetHomeDirectory, {{"result", AddressText(handle)}, {"path", home_}});
  return handle;
}

void* HostServices::MakeFileRef(void* directory, const char* name, uint32_t fileType,
                                const char* extension) {
  VHOST_SERVE_OR_RETURN(kOrvoMakeFileRef, nullptr);
  FunctionCall event{kOrvoMakeFileRef,
                     false,
                     false,
                     {{"directory", AddressText(directory)},
                      {"name", SafeText(name)},
                      {"type", CodeName(fileType)},
                      {"extension", SafeText(extension)}}};
  void* handle = nullptr;
  auto dir = directories_.find(directory);
  if (directory != nullptr && dir == directories_.end()) {
    findings_.Violation("Orvo_MakeFileRef with " + AddressText(directory) +
                        ", which is not a live directory reference");
  } else if (name == nullptr || extension == nullptr) {
    findings_.Violation("Orvo_MakeFileRef with a null name or extension");
  } else if (dir != directories_.end()) {
    handle = MakeHandle(kFileHandles, nextSerial++);
    std::string path = (std::filesystem::path(dir->second->path) / name).string();
    files_[handle] = std::make_unique<FileRef>(FileRef{path, fileType, extension});
    findings_.Obtained(ResourceKind::kFileRef);
  }
  event.Add("result", AddressText(handle));
  Record(std::move(event));
  return handle;
}

void HostServices::DestroyFileRef(void* file) {
  VHOST_SERVE_OR_RETURN(kOrvoDestroyFileRef, );
  Record(kOrvoDestroyFileRef, {{"file", AddressText(file)}});
  if (file == nullptr) return;
  if (files_.erase(file) == 0) {
    findings_.Violation("Orvo_DestroyFileRef with " + AddressText(file) +
                        ", which is not a live file reference");
    return;
  }
  findings_.Released(ResourceKind::kFileRef);
}

void HostServices::DestroyDirectoryRef(void* directory) {
  VHOST_SERVE_OR_RETURN(kOrvoDestroyDirectoryRef, );
  Record(kOrvoDestroyDirectoryRef, {{"directory", AddressText(directory)}});
  if (directory == nullptr) return;
  if (directories_.erase(directory) == 0) {
    findings_.Violation("Orvo_DestroyDirectoryRef with " + AddressText(directory) +
                        ", which is not a live directory reference");
    return;
  }
  findings_.Released(ResourceKind::kDirectoryRef);
}

void* HostServices::OpenResourceFile(void* file) {
  VHOST_SERVE_OR_RETURN(kOrvoOpenResourceFile, nullptr);
  FunctionCall event{kOrvoOpenResourceFile, false, false, {{"file", AddressText(file)}}};
  void* handle = nullptr;
  auto ref = files_.find(file);
  if (file != nullptr && ref == files_.end()) {
    findings_.Violation("Orvo_OpenResourceFile with " + AddressText(file) +
                        ", which is not a live file reference");
  } else if (ref != files_.end()) {
    event.Add("path", ref->second->path);
    if (ref->second->fileType != FourCC("rsrc")) {
      findings_.Note("Orvo_OpenResourceFile of a file reference of type '" +
                     CodeName(ref->second->fileType) + "', not 'rsrc'");
    }
    ResourceParseResult parsed = LoadResourceFile(ref->second->path);
    if (parsed.ok) {
      handle = MakeHandle(kResourceHandles, nextSerial++);
      resources_[handle] = std::make_unique<OpenResource>(OpenResource{parsed.file});
      findings_.Obtained(ResourceKind::kResourceFile);
    } else {
      for (const std::string& error : parsed.errors) {
        fprintf(stderr, "vestrel-host: resource file: %s\n", error.c_str());
        findings_.Note("resource file: " + error);
      }
      event.Add("errors", parsed.errors);
    }
  }
  event.Add("result", AddressText(handle));
  Record(std::move(event));
  return handle;
}

void HostServices::CloseResourceFile(void* resourceFile) {
  VHOST_SERVE_OR_RETURN(kOrvoCloseResourceFile, );
  Record(kOrvoCloseResourceFile, {{"resource_file", AddressText(resourceFile)}});
  if (resourceFile == nullptr) return;
  if (resources_.erase(resourceFile) == 0) {
    findings_.Violation("Orvo_CloseResourceFile with " + AddressText(resourceFile) +
                        ", which is not an open resource file");
    return;
  }
  findings_.Released(ResourceKind::kResourceFile);
}

void* HostServices::MakeDialog(void* resourceFile, int32_t dialogId) {
  VHOST_SERVE_OR_RETURN(kOrvoMakeDialog, nullptr);
  FunctionCall event{kOrvoMakeDialog,
                     false,
                     false,
                     {{"resource_file", AddressText(resourceFile)}, {"dialog_id", dialogId}}};
  void* handle = nullptr;
  auto resource = resources_.find(resourceFile);
  if (resourceFile != nullptr && resource == resources_.end()) {
    findings_.Violation("Orvo_MakeDialog with " + AddressText(resourceFile) +
                        ", which is not an open resource file");
  } else if (resource != resources_.end()) {
    const DialogTemplate* found = resource->second->file.FindDialog(dialogId);
    if (found == nullptr) {
      findings_.Note("dialog " + std::to_string(dialogId) + " is not in " +
                     resource->second->file.path);
    } else {
      handle = MakeHandle(kDialogHandles, nextSerial++);
      std::unique_ptr<Dialog> dialog = BuildDialog(*found);
      auto& controls = dialog->controls;
      controls.erase(std::remove_if(controls.begin(), controls.end(),
                                    [this](const std::unique_ptr<Control>& control) {
                                      return answers_.removedControls.count(control->id) != 0;
                                    }),
                     controls.end());
      for (const auto& control : dialog->controls) {
        controls_[MakeHandle(kControlHandles, nextSerial++)] = ControlEntry{handle, control.get()};
      }
      dialogs_[handle] = std::move(dialog);
      findings_.Obtained(ResourceKind::kDialog);
    }
  }
  event.Add("result", AddressText(handle));
  Record(std::move(event));
  return handle;
}

void HostServices::SetDialogTitle(void* dialog, const char* title) {
  VHOST_SERVE_OR_RETURN(kOrvoSetDialogTitle, );
  Record(kOrvoSetDialogTitle, {{"dialog", AddressText(dialog)}, {"title", SafeText(title)}});
  Dialog* live = FindLiveDialog(dialog, kOrvoSetDialogTitle);
  if (live == nullptr) return;
  if (title == nullptr) {
    findings_.Violation("Orvo_SetDialogTitle with a null title");
    return;
  }
  live->title = title;
}

int32_t HostServices::ExecuteDialog(void* dialog) {
  VHOST_SERVE_OR_RETURN(kOrvoExecuteDialog, 0);
  Dialog* live = FindLiveDialog(dialog, kOrvoExecuteDialog);
  int32_t result = 0;
  if (live != nullptr) {
    DialogRun run;
    run.id = live->id;
    run.title = live->title;
    run.shown = DescribeControls(*live);
    run.accepted = runner_->Run(*live, &run);
    run.answered = DescribeControls(*live);
    for (const auto& control : live->controls) {
      if (control->kind == ControlKind::kEdit) run.finalTexts[control->id] = control->text;
      if (control->kind == ControlKind::kCheckbox) run.finalValues[control->id] = control->value;
    }
    for (const std::string& problem : run.problems) findings_.Note(problem);
    result = answers_.executeResult.value_or(run.answer.value_or(run.accepted ? 1 : 0));
    dialogRuns_.push_back(run);
  }
  Record(kOrvoExecuteDialog, {{"dialog", AddressText(dialog)}, {"result", result}});
  return result;
}

void HostServices::DestroyDialog(void* dialog) {
  VHOST_SERVE_OR_RETURN(kOrvoDestroyDialog, );
  Record(kOrvoDestroyDialog, {{"dialog", AddressText(dialog)}});
  if (dialog == nullptr) return;
  if (dialogs_.erase(dialog) == 0) {
    findings_.Violation("Orvo_DestroyDialog with " + AddressText(dialog) +
                        ", which is not a live dialog");
    return;
  }
  for (auto it = controls_.begin(); it != controls_.end();) {
    it = it->second.dialog == dialog ? controls_.erase(it) : std::next(it);
  }
  findings_.Released(ResourceKind::kDialog);
}

void* HostServices::FindControlByID(void* dialog, int32_t controlId) {
  VHOST_SERVE_OR_RETURN(kOrvoFindControlByID, nullptr);
  void* handle = nullptr;
  if (FindLiveDialog(dialog, kOrvoFindControlByID) != nullptr) {
    for (const auto& entry : controls_) {
      if (entry.second.dialog == dialog && entry.second.control->id == controlId)
        handle = entry.first;
    }
  }
  Record(kOrvoFindControlByID, {{"dialog", AddressText(dialog)},
                                {"control_id", controlId},
                                {"result", AddressText(handle)}});
  return handle;
}

int32_t HostServices::GetControlValue(void* control) {
  VHOST_SERVE_OR_RETURN(kOrvoGetControlValue, 0);
  Control* live = FindLiveControl(control, kOrvoGetControlValue);
  int32_t value = live == nullptr ? 0 : answers_.controlValue.value_or(live->value);
  Record(kOrvoGetControlValue, {{"control", AddressText(control)}, {"result", value}});
  return value;
}

void HostServices::SetControlValue(void* control, int32_t value) {
  VHOST_SERVE_OR_RETURN(kOrvoSetControlValue, );
  Record(kOrvoSetControlValue, {{"control", AddressText(control)}, {"value", value}});
  Control* live = FindLiveControl(control, kOrvoSetControlValue);
  if (live != nullptr) live->value = value;
}

int32_t HostServices::GetEditTextStringSize(void* control) {
  VHOST_SERVE_OR_RETURN(kOrvoGetEditTextStringSize, 0);
  Control* live = FindLiveControl(control, kOrvoGetEditTextStringSize);
  // The size of the text with its terminating NUL: what a buffer must hold.
  int32_t size = live == nullptr ? 0
                                 : answers_.editTextSize.value_or(
                                       static_cast<int32_t>(live->text.size() + 1));
  Record(kOrvoGetEditTextStringSize, {{"control", AddressText(control)}, {"result", size}});
  return size;
}

void HostServices::GetEditTextString(void* control, char* buffer, int32_t* length) {
  VHOST_SERVE_OR_RETURN(kOrvoGetEditTextString, );
  FunctionCall event{kOrvoGetEditTextString, false, false, {{"control", AddressText(control)}}};
  Control* live = FindLiveControl(control, kOrvoGetEditTextString);
  if (live != nullptr && (buffer == nullptr || length == nullptr)) {
    findings_.Violation("Orvo_GetEditTextString with a null buffer or length");
    live = nullptr;
  }
  if (live != nullptr) {
    // *length is the buffer's usable size: the text goes in with its NUL,
    // cut to fit.
    int32_t room = *length;
    event.Add("length", room);
    if (answers_.editTextBytes) {
      // A careless host: the bytes as they are, no terminator.
      const std::string& bytes = *answers_.editTextBytes;
      size_t n = room <= 0 ? 0 : std::min(bytes.size(), size_t(room));
      memcpy(buffer, bytes.data(), n);
      event.Add("text", std::string(buffer, n));
    } else if (answers_.textFillsRoom && room > 0 && live->text.size() >= size_t(room)) {
      memcpy(buffer, live->text.data(), size_t(room));  // no room left for a terminator
      event.Add("text", std::string(buffer, size_t(room)));
    } else if (room > 0) {
      size_t n = live->text.size() < size_t(room - 1) ? live->text.size() : size_t(room - 1);
      memcpy(buffer, live->text.data(), n);
      buffer[n] = 0;
      event.Add("text", std::string(buffer, n));
    }
    if (answers_.lengthWritten) *length = *answers_.lengthWritten;
  }
  Record(std::move(event));
}

void HostServices::SetEditTextString(void* control, const char* text) {
  VHOST_SERVE_OR_RETURN(kOrvoSetEditTextString, );
  Record(kOrvoSetEditTextString, {{"control", AddressText(control)}, {"text", SafeText(text)}});
  Control* live = FindLiveControl(control, kOrvoSetEditTextString);
  if (live == nullptr) return;
  if (text == nullptr) {
    findings_.Violation("Orvo_SetEditTextString with a null text");
    return;
  }
  live->text = text;
}

}  // namespace vhost
