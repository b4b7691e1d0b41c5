#include "tests/support/fake_dialog_host.h"

#include <stdlib.h>

#include "host/host_functions_detail.h"
#include "hostkit/resource_file.h"

// Not host/host_functions.h: its forwarding functions carry the same names as
// the plain C functions defined here.

namespace {

FakeDialogHost* currentFake = nullptr;

// The kinds of handle by the names the tests use.
constexpr std::pair<vhost::ResourceKind, const char*> kHandleKinds[] = {
    {vhost::ResourceKind::kDirectoryRef, "directory"},
    {vhost::ResourceKind::kFileRef, "file"},
    {vhost::ResourceKind::kResourceFile, "resource file"},
    {vhost::ResourceKind::kDialog, "dialog"},
};

FakeDialog FakeOf(const vhost::Dialog& dialog) {
  FakeDialog fake;
  fake.id = dialog.id;
  fake.title = dialog.title;
  for (const auto& control : dialog.controls) {
    fake.controls.push_back(FakeControl{vhost::ControlKindName(control->kind), control->id,
                                        control->text, control->value});
  }
  return fake;
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
  for (const vhost::DialogTemplate& dialogTemplate : parsed.file.dialogs)
    dialogs->push_back(FakeOf(*vhost::BuildDialog(dialogTemplate)));
  return true;
}

// ---- FakeDialogHost ---------------------------------------------------------

FakeDialogHost::FakeDialogHost()
    : homeDirectory(VESTREL_TEST_HOME_DIRECTORY),
      runner_(*this),
      services_(homeDirectory, &runner_, faults_, findings_) {
  findings_.echo = false;
  user = [](FakeDialog&) { return 1; };
  services_.KeepFunctionLog(true);
  services_.BeginEntryCall("the test");
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

vhost::HostServices* FakeDialogHost::Serving() {
  if (currentFake == nullptr) return nullptr;
  vhost::HostServices& services = currentFake->services_;
  services.SetHomeDirectory(currentFake->homeDirectory);
  vhost::FunctionAnswerOverrides answers;
  answers.removedControls = currentFake->removedControls;
  answers.textFillsRoom = currentFake->textFillsWholeBuffer;
  services.SetAnswerOverrides(answers);
  return &services;
}

// The user sees the dialog as the host shows it and answers; what the user
// typed and set goes back into the host's dialog.
bool FakeDialogHost::UserRunner::Run(vhost::Dialog& dialog, vhost::DialogRun* run) {
  fake_.shown.push_back(FakeOf(dialog));
  FakeDialog answered = fake_.shown.back();
  const int32_t answer = fake_.user(answered);
  for (const auto& control : dialog.controls) {
    if (const FakeControl* edited = answered.Control(control->id)) {
      control->text = edited->text;
      control->value = edited->value;
    }
  }
  run->answer = answer;
  return answer != 0;
}

void* FakeDialogHost::CountingLookup(const char* name) {
  if (currentFake == nullptr) return LookUpInProcess(name);
  vhost::HostServices& services = currentFake->services_;
  void* found = services.HidesLookup(name) ? nullptr : LookUpInProcess(name);
  services.Lookup(name, found != nullptr);
  return found;
}

std::vector<std::string> FakeDialogHost::calls() const {
  std::vector<std::string> names;
  for (const vhost::FunctionCall& call : services_.functionLog()) names.push_back(call.name);
  return names;
}

int FakeDialogHost::CallsOf(const std::string& name) const {
  int count = 0;
  for (const vhost::FunctionCall& call : services_.functionLog()) count += call.name == name;
  return count;
}

std::vector<const vhost::FieldValue*> FakeDialogHost::Fields(const char* function,
                                                             const char* key) const {
  std::vector<const vhost::FieldValue*> values;
  for (const vhost::FunctionCall& call : services_.functionLog()) {
    const vhost::FieldValue* value = call.name == function ? call.Find(key) : nullptr;
    if (value != nullptr) values.push_back(value);
  }
  return values;
}

std::vector<std::string> FakeDialogHost::fileNames() const {
  std::vector<std::string> names;
  for (const vhost::FieldValue* value : Fields(vhost::kOrvoMakeFileRef, "name"))
    names.push_back(value->text);
  return names;
}

std::vector<std::string> FakeDialogHost::extensions() const {
  std::vector<std::string> extensions;
  for (const vhost::FieldValue* value : Fields(vhost::kOrvoMakeFileRef, "extension"))
    extensions.push_back(value->text);
  return extensions;
}

// The log names a type as its four characters, or in hexadecimal.
std::vector<uint32_t> FakeDialogHost::fileTypes() const {
  std::vector<uint32_t> types;
  for (const vhost::FieldValue* value : Fields(vhost::kOrvoMakeFileRef, "type")) {
    uint32_t type = 0;
    if (!vhost::ParseCode(value->text, &type))
      type = static_cast<uint32_t>(strtoul(value->text.c_str(), nullptr, 16));
    types.push_back(type);
  }
  return types;
}

std::vector<int32_t> FakeDialogHost::dialogIds() const {
  std::vector<int32_t> ids;
  for (const vhost::FieldValue* value : Fields(vhost::kOrvoMakeDialog, "dialog_id"))
    ids.push_back(static_cast<int32_t>(value->integer));
  return ids;
}

std::vector<int32_t> FakeDialogHost::textLengthsOffered() const {
  std::vector<int32_t> lengths;
  for (const vhost::FieldValue* value : Fields(vhost::kOrvoGetEditTextString, "length"))
    lengths.push_back(static_cast<int32_t>(value->integer));
  return lengths;
}

int FakeDialogHost::nullReleases() const {
  const std::pair<const char*, const char*> releases[] = {
      {vhost::kOrvoDestroyFileRef, "file"},
      {vhost::kOrvoDestroyDirectoryRef, "directory"},
      {vhost::kOrvoCloseResourceFile, "resource_file"},
      {vhost::kOrvoDestroyDialog, "dialog"},
  };
  int count = 0;
  for (const auto& release : releases) {
    for (const vhost::FieldValue* value : Fields(release.first, release.second))
      count += value->text == vhost::AddressText(nullptr);
  }
  return count;
}

std::map<std::string, int> FakeDialogHost::Live() const {
  std::map<std::string, int> live;
  for (const auto& kind : kHandleKinds) {
    if (size_t count = services_.LiveHandles(kind.first)) live[kind.second] = int(count);
  }
  return live;
}

int FakeDialogHost::LiveCount() const {
  int count = 0;
  for (const auto& entry : Live()) count += entry.second;
  return count;
}

// ---- The exported host functions ----------------------------------------------
// Each forwards to the fake's services; without a fake it answers null or 0.

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT void* Orvo_GetHomeDirectory() {
  vhost::HostServices* services = FakeDialogHost::Serving();
  return services ? services->GetHomeDirectory() : nullptr;
}

FAKE_EXPORT void* Orvo_MakeFileRef(void* directory, const char* name, uint32_t type,
                                   const char* extension) {
  vhost::HostServices* services = FakeDialogHost::Serving();
  return services ? services->MakeFileRef(directory, name, type, extension) : nullptr;
}

FAKE_EXPORT void Orvo_DestroyFileRef(void* file) {
  if (vhost::HostServices* services = FakeDialogHost::Serving()) services->DestroyFileRef(file);
}

FAKE_EXPORT void Orvo_DestroyDirectoryRef(void* directory) {
  if (vhost::HostServices* services = FakeDialogHost::Serving())
    services->DestroyDirectoryRef(directory);
}

FAKE_EXPORT void* Orvo_OpenResourceFile(void* file) {
  vhost::HostServices* services = FakeDialogHost::Serving();
  return services ? services->OpenResourceFile(file) : nullptr;
}

FAKE_EXPORT void Orvo_CloseResourceFile(void* resources) {
  if (vhost::HostServices* services = FakeDialogHost::Serving())
    services->CloseResourceFile(resources);
}

FAKE_EXPORT void* Orvo_MakeDialog(void* resources, int32_t id) {
  vhost::HostServices* services = FakeDialogHost::Serving();
  return services ? services->MakeDialog(resources, id) : nullptr;
}

FAKE_EXPORT void Orvo_SetDialogTitle(void* dialog, const char* title) {
  if (vhost::HostServices* services = FakeDialogHost::Serving())
    services->SetDialogTitle(dialog, title);
}

FAKE_EXPORT int32_t Orvo_ExecuteDialog(void* dialog) {
  vhost::HostServices* services = FakeDialogHost::Serving();
  return services ? services->ExecuteDialog(dialog) : 0;
}

FAKE_EXPORT void Orvo_DestroyDialog(void* dialog) {
  if (vhost::HostServices* services = FakeDialogHost::Serving()) services->DestroyDialog(dialog);
}

FAKE_EXPORT void* Orvo_FindControlByID(void* dialog, int32_t id) {
  vhost::HostServices* services = FakeDialogHost::Serving();
  return services ? services->FindControlByID(dialog, id) : nullptr;
}

FAKE_EXPORT int32_t Orvo_GetControlValue(void* control) {
  vhost::HostServices* services = FakeDialogHost::Serving();
  return services ? services->GetControlValue(control) : 0;
}

FAKE_EXPORT void Orvo_SetControlValue(void* control, int32_t value) {
  if (vhost::HostServices* services = FakeDialogHost::Serving())
    services->SetControlValue(control, value);
}

FAKE_EXPORT int32_t Orvo_GetEditTextStringSize(void* control) {
  vhost::HostServices* services = FakeDialogHost::Serving();
  return services ? services->GetEditTextStringSize(control) : 0;
}

FAKE_EXPORT void Orvo_GetEditTextString(void* control, char* buffer, int32_t* length) {
  if (vhost::HostServices* services = FakeDialogHost::Serving())
    services->GetEditTextString(control, buffer, length);
}

FAKE_EXPORT void Orvo_SetEditTextString(void* control, const char* text) {
  if (vhost::HostServices* services = FakeDialogHost::Serving())
    services->SetEditTextString(control, text);
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
