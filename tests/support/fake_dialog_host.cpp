#include "tests/support/fake_dialog_host.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <sstream>

#include "host/host_functions_detail.h"
#include "hostkit/resource_file.h"

// Not host/host_functions.h: its forwarding functions carry the same names as
// the plain C functions defined here.

namespace {

FakeDialogHost* currentFake = nullptr;

// ---- Handles ---------------------------------------------------------------

template <typename Handle>
uintptr_t Raw(Handle handle) {
  return reinterpret_cast<uintptr_t>(handle);
}

void* AsHandle(uintptr_t value) { return reinterpret_cast<void*>(value); }

FakeDialogHost* Serving(const char* function) {
  if (currentFake != nullptr) currentFake->calls.push_back(function);
  return currentFake;
}

}  // namespace

FakeControl* FakeDialog::Control(int32_t controlId) {
  for (FakeControl& control : controls) {
    if (control.id == controlId) return &control;
  }
  return nullptr;
}

const FakeControl* FakeDialog::Control(int32_t controlId) const {
  return const_cast<FakeDialog*>(this)->Control(controlId);
}

bool ReadFakeDialogs(const std::string& text, std::vector<FakeDialog>* dialogs,
                     std::string* error) {
  vhost::ResourceParseResult parsed = vhost::ParseResourceText(text, "resource file");
  dialogs->clear();
  if (!parsed.ok) {
    *error = parsed.errors.empty() ? "not a resource file" : parsed.errors.front();
    return false;
  }
  for (const vhost::DialogTemplate& dialogTemplate : parsed.file.dialogs) {
    FakeDialog dialog;
    dialog.id = dialogTemplate.id;
    dialog.title = dialogTemplate.title;
    for (const vhost::ControlTemplate& controlTemplate : dialogTemplate.controls) {
      FakeControl control;
      control.kind = vhost::ControlKindName(controlTemplate.kind);
      control.id = controlTemplate.id;
      control.text = controlTemplate.caption;
      dialog.controls.push_back(control);
    }
    dialogs->push_back(dialog);
  }
  return true;
}

// ---- FakeDialogHost ---------------------------------------------------------

FakeDialogHost::FakeDialogHost() : homeDirectory(VESTREL_TEST_HOME_DIRECTORY) {
  user = [](FakeDialog&) { return 1; };
  previousHost_ = currentFake;
  currentFake = this;
  previousLookup_ = ReplaceHostSymbolLookup(&FakeDialogHost::CountingLookup);
  ForgetHostFunctions();
}

FakeDialogHost::~FakeDialogHost() {
  ReplaceHostSymbolLookup(previousLookup_);
  ForgetHostFunctions();
  currentFake = previousHost_;
}

FakeDialogHost* FakeDialogHost::Current() { return currentFake; }

void* FakeDialogHost::CountingLookup(const char* name) {
  if (currentFake == nullptr) return LookUpInProcess(name);
  ++currentFake->lookups[name];
  if (currentFake->hidden_.count(name)) return nullptr;
  return LookUpInProcess(name);
}

int FakeDialogHost::CallsOf(const std::string& name) const {
  int count = 0;
  for (const std::string& call : calls) count += call == name;
  return count;
}

std::map<std::string, int> FakeDialogHost::Live() const {
  std::map<std::string, int> live;
  for (const auto& entry : objects_) ++live[entry.second.kind];
  return live;
}

int FakeDialogHost::LiveCount() const { return static_cast<int>(objects_.size()); }

uintptr_t FakeDialogHost::Add(Object object) {
  uintptr_t handle = nextHandle_;
  nextHandle_ += 0x10;
  objects_[handle] = std::move(object);
  return handle;
}

FakeDialogHost::Object* FakeDialogHost::Find(uintptr_t handle, const char* kind,
                                             const char* function) {
  auto found = objects_.find(handle);
  if (found == objects_.end() || found->second.kind != kind) {
    violations.push_back(std::string(function) + " with a handle that is not a live " + kind);
    return nullptr;
  }
  return &found->second;
}

bool FakeDialogHost::Release(uintptr_t handle, const char* kind, const char* function) {
  if (handle == 0) {
    ++nullReleases;
    return false;
  }
  if (Find(handle, kind, function) == nullptr) return false;
  objects_.erase(handle);
  return true;
}

uintptr_t FakeDialogHost::ControlHandle(uintptr_t dialog, int32_t id) {
  for (const auto& entry : controls_) {
    if (entry.second == std::make_pair(dialog, id)) return entry.first;
  }
  uintptr_t handle = nextHandle_;
  nextHandle_ += 0x10;
  controls_[handle] = {dialog, id};
  return handle;
}

FakeControl* FakeDialogHost::FindControl(uintptr_t control, const char* function) {
  auto found = controls_.find(control);
  if (found == controls_.end()) {
    violations.push_back(std::string(function) +
                         " with a control handle the host did not hand out");
    return nullptr;
  }
  Object* dialog = Find(found->second.first, "dialog", function);
  return dialog ? dialog->dialog.Control(found->second.second) : nullptr;
}

// ---- The exported host functions ----------------------------------------------

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT void* Orvo_GetHomeDirectory() {
  FakeDialogHost* host = Serving(vhost::kOrvoGetHomeDirectory);
  if (host == nullptr) return nullptr;
  FakeDialogHost::Object directory;
  directory.kind = "directory";
  directory.path = host->homeDirectory;
  return AsHandle(host->Add(directory));
}

FAKE_EXPORT void* Orvo_MakeFileRef(void* directory, const char* name, uint32_t type,
                                   const char* extension) {
  FakeDialogHost* host = Serving(vhost::kOrvoMakeFileRef);
  if (host == nullptr) return nullptr;
  host->fileNames.push_back(name ? name : "(null)");
  host->fileTypes.push_back(type);
  host->extensions.push_back(extension ? extension : "(null)");
  if (directory == nullptr || name == nullptr) return nullptr;
  FakeDialogHost::Object* folder = host->Find(Raw(directory), "directory", vhost::kOrvoMakeFileRef);
  if (folder == nullptr) return nullptr;
  FakeDialogHost::Object file;
  file.kind = "file";
  file.path = folder->path + "/" + name;
  return AsHandle(host->Add(file));
}

FAKE_EXPORT void Orvo_DestroyFileRef(void* file) {
  if (FakeDialogHost* host = Serving(vhost::kOrvoDestroyFileRef))
    host->Release(Raw(file), "file", vhost::kOrvoDestroyFileRef);
}

FAKE_EXPORT void Orvo_DestroyDirectoryRef(void* directory) {
  if (FakeDialogHost* host = Serving(vhost::kOrvoDestroyDirectoryRef)) {
    host->Release(Raw(directory), "directory", vhost::kOrvoDestroyDirectoryRef);
  }
}

FAKE_EXPORT void* Orvo_OpenResourceFile(void* file) {
  FakeDialogHost* host = Serving(vhost::kOrvoOpenResourceFile);
  if (host == nullptr || file == nullptr) return nullptr;
  FakeDialogHost::Object* reference = host->Find(Raw(file), "file", vhost::kOrvoOpenResourceFile);
  if (reference == nullptr) return nullptr;
  std::ifstream stream(reference->path);
  if (!stream) return nullptr;
  std::stringstream text;
  text << stream.rdbuf();
  FakeDialogHost::Object resources;
  resources.kind = "resource file";
  std::string error;
  if (!ReadFakeDialogs(text.str(), &resources.dialogs, &error)) return nullptr;
  return AsHandle(host->Add(resources));
}

FAKE_EXPORT void Orvo_CloseResourceFile(void* resources) {
  if (FakeDialogHost* host = Serving(vhost::kOrvoCloseResourceFile)) {
    host->Release(Raw(resources), "resource file", vhost::kOrvoCloseResourceFile);
  }
}

FAKE_EXPORT void* Orvo_MakeDialog(void* resources, int32_t id) {
  FakeDialogHost* host = Serving(vhost::kOrvoMakeDialog);
  if (host == nullptr) return nullptr;
  host->dialogIds.push_back(id);
  if (resources == nullptr) return nullptr;
  FakeDialogHost::Object* file = host->Find(Raw(resources), "resource file", vhost::kOrvoMakeDialog);
  if (file == nullptr) return nullptr;
  for (const FakeDialog& made : file->dialogs) {
    if (made.id != id) continue;
    FakeDialogHost::Object dialog;
    dialog.kind = "dialog";
    dialog.owner = Raw(resources);
    dialog.dialog = made;
    for (int32_t removed : host->removedControls) {
      auto& controls = dialog.dialog.controls;
      for (auto it = controls.begin(); it != controls.end(); ++it) {
        if (it->id == removed) {
          controls.erase(it);
          break;
        }
      }
    }
    return AsHandle(host->Add(dialog));
  }
  return nullptr;
}

FAKE_EXPORT void Orvo_SetDialogTitle(void* dialog, const char* title) {
  FakeDialogHost* host = Serving(vhost::kOrvoSetDialogTitle);
  if (host == nullptr) return;
  if (FakeDialogHost::Object* made = host->Find(Raw(dialog), "dialog", vhost::kOrvoSetDialogTitle))
    made->dialog.title = title;
}

FAKE_EXPORT int32_t Orvo_ExecuteDialog(void* dialog) {
  FakeDialogHost* host = Serving(vhost::kOrvoExecuteDialog);
  if (host == nullptr) return 0;
  FakeDialogHost::Object* made = host->Find(Raw(dialog), "dialog", vhost::kOrvoExecuteDialog);
  if (made == nullptr) return 0;
  host->shown.push_back(made->dialog);
  return host->user(made->dialog);
}

FAKE_EXPORT void Orvo_DestroyDialog(void* dialog) {
  if (FakeDialogHost* host = Serving(vhost::kOrvoDestroyDialog))
    host->Release(Raw(dialog), "dialog", vhost::kOrvoDestroyDialog);
}

FAKE_EXPORT void* Orvo_FindControlByID(void* dialog, int32_t id) {
  FakeDialogHost* host = Serving(vhost::kOrvoFindControlByID);
  if (host == nullptr) return nullptr;
  FakeDialogHost::Object* made = host->Find(Raw(dialog), "dialog", vhost::kOrvoFindControlByID);
  if (made == nullptr || made->dialog.Control(id) == nullptr) return nullptr;
  return AsHandle(host->ControlHandle(Raw(dialog), id));
}

FAKE_EXPORT int32_t Orvo_GetControlValue(void* control) {
  FakeDialogHost* host = Serving(vhost::kOrvoGetControlValue);
  FakeControl* found = host ? host->FindControl(Raw(control), vhost::kOrvoGetControlValue) : nullptr;
  return found ? found->value : 0;
}

FAKE_EXPORT void Orvo_SetControlValue(void* control, int32_t value) {
  FakeDialogHost* host = Serving(vhost::kOrvoSetControlValue);
  FakeControl* found = host ? host->FindControl(Raw(control), vhost::kOrvoSetControlValue) : nullptr;
  if (found) found->value = value;
}

// The size of the text with its terminator.
FAKE_EXPORT int32_t Orvo_GetEditTextStringSize(void* control) {
  FakeDialogHost* host = Serving(vhost::kOrvoGetEditTextStringSize);
  FakeControl* found =
      host ? host->FindControl(Raw(control), vhost::kOrvoGetEditTextStringSize) : nullptr;
  return found ? static_cast<int32_t>(found->text.size() + 1) : 0;
}

FAKE_EXPORT void Orvo_GetEditTextString(void* control, char* buffer, int32_t* length) {
  FakeDialogHost* host = Serving(vhost::kOrvoGetEditTextString);
  FakeControl* found = host ? host->FindControl(Raw(control), vhost::kOrvoGetEditTextString) : nullptr;
  if (found == nullptr) return;
  host->textLengthsOffered.push_back(*length);
  if (*length <= 0) return;
  size_t usable = static_cast<size_t>(*length);
  const std::string& text = found->text;
  if (host->textFillsWholeBuffer && text.size() >= usable) {
    memcpy(buffer, text.data(), usable);  // no room left for a terminator, none written
    return;
  }
  size_t n = text.size() < usable - 1 ? text.size() : usable - 1;
  memcpy(buffer, text.data(), n);
  buffer[n] = 0;
}

FAKE_EXPORT void Orvo_SetEditTextString(void* control, const char* text) {
  FakeDialogHost* host = Serving(vhost::kOrvoSetEditTextString);
  FakeControl* found = host ? host->FindControl(Raw(control), vhost::kOrvoSetEditTextString) : nullptr;
  if (found) found->text = text;
}

void* FakeDialogHost::ExportedFunction(const std::string& name) {
  // In the order of the kit's table of names.
  static void* const functions[vhost::kHostFunctionCount] = {
      reinterpret_cast<void*>(&Orvo_GetHomeDirectory),
      reinterpret_cast<void*>(&Orvo_MakeFileRef),
      reinterpret_cast<void*>(&Orvo_DestroyFileRef),
      reinterpret_cast<void*>(&Orvo_DestroyDirectoryRef),
      reinterpret_cast<void*>(&Orvo_OpenResourceFile),
      reinterpret_cast<void*>(&Orvo_CloseResourceFile),
      reinterpret_cast<void*>(&Orvo_MakeDialog),
      reinterpret_cast<void*>(&Orvo_SetDialogTitle),
      reinterpret_cast<void*>(&Orvo_ExecuteDialog),
      reinterpret_cast<void*>(&Orvo_DestroyDialog),
      reinterpret_cast<void*>(&Orvo_FindControlByID),
      reinterpret_cast<void*>(&Orvo_GetControlValue),
      reinterpret_cast<void*>(&Orvo_SetControlValue),
      reinterpret_cast<void*>(&Orvo_GetEditTextStringSize),
      reinterpret_cast<void*>(&Orvo_GetEditTextString),
      reinterpret_cast<void*>(&Orvo_SetEditTextString),
  };
  for (int i = 0; i < vhost::kHostFunctionCount; ++i) {
    if (name == vhost::kHostFunctionNames[i]) return functions[i];
  }
  return nullptr;
}
