// The sixteen host functions, exported from the vestrel-host executable under
// their plain C names so that the plug-in finds them by name at run time
// (dlsym with RTLD_DEFAULT; GetProcAddress of the main module on Windows).
// Each forwards to the host services of the running session.
//
// Hiding a function (--hide-function, --hide-lookup): on glibc the executable also defines
// dlsym, which the plug-in's own dlsym calls bind to (the executable comes
// first in the global lookup scope). It answers "not found" for a hidden name,
// records every lookup of a host function, and passes everything else on to
// the C library's dlsym. Elsewhere a hidden function cannot be kept from the
// plug-in's lookup, so it stays found and refuses service when called.
#include <stdint.h>

#include "hostkit/protocol.h"
#include "hostkit/host_services.h"

#if defined(_WIN32)
#define VHOST_EXPORT extern "C" __declspec(dllexport)
#else
#define VHOST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using vhost::theHostServices;

VHOST_EXPORT void* Orvo_GetHomeDirectory(void) {
  return theHostServices ? theHostServices->GetHomeDirectory() : nullptr;
}

VHOST_EXPORT void* Orvo_MakeFileRef(void* directory, const char* name, uint32_t fileType,
                                    const char* extension) {
  return theHostServices ? theHostServices->MakeFileRef(directory, name, fileType, extension)
                         : nullptr;
}

VHOST_EXPORT void Orvo_DestroyFileRef(void* file) {
  if (theHostServices) theHostServices->DestroyFileRef(file);
}

VHOST_EXPORT void Orvo_DestroyDirectoryRef(void* directory) {
  if (theHostServices) theHostServices->DestroyDirectoryRef(directory);
}

VHOST_EXPORT void* Orvo_OpenResourceFile(void* file) {
  return theHostServices ? theHostServices->OpenResourceFile(file) : nullptr;
}

VHOST_EXPORT void Orvo_CloseResourceFile(void* resourceFile) {
  if (theHostServices) theHostServices->CloseResourceFile(resourceFile);
}

VHOST_EXPORT void* Orvo_MakeDialog(void* resourceFile, int32_t dialogId) {
  return theHostServices ? theHostServices->MakeDialog(resourceFile, dialogId) : nullptr;
}

VHOST_EXPORT void Orvo_SetDialogTitle(void* dialog, const char* title) {
  if (theHostServices) theHostServices->SetDialogTitle(dialog, title);
}

VHOST_EXPORT int32_t Orvo_ExecuteDialog(void* dialog) {
  return theHostServices ? theHostServices->ExecuteDialog(dialog) : 0;
}

VHOST_EXPORT void Orvo_DestroyDialog(void* dialog) {
  if (theHostServices) theHostServices->DestroyDialog(dialog);
}

VHOST_EXPORT void* Orvo_FindControlByID(void* dialog, int32_t controlId) {
  return theHostServices ? theHostServices->FindControlByID(dialog, controlId) : nullptr;
}

VHOST_EXPORT int32_t Orvo_GetControlValue(void* control) {
  return theHostServices ? theHostServices->GetControlValue(control) : 0;
}

VHOST_EXPORT void Orvo_SetControlValue(void* control, int32_t value) {
  if (theHostServices) theHostServices->SetControlValue(control, value);
}

VHOST_EXPORT int32_t Orvo_GetEditTextStringSize(void* control) {
  return theHostServices ? theHostServices->GetEditTextStringSize(control) : 0;
}

VHOST_EXPORT void Orvo_GetEditTextString(void* control, char* buffer, int32_t* length) {
  if (theHostServices) theHostServices->GetEditTextString(control, buffer, length);
}

VHOST_EXPORT void Orvo_SetEditTextString(void* control, const char* text) {
  if (theHostServices) theHostServices->SetEditTextString(control, text);
}

#if VHOST_CAN_HIDE_FUNCTIONS
#include <dlfcn.h>

namespace {

using DlsymFunction = void* (*)(void*, const char*);

// The C library's dlsym, found past this executable in the lookup order. Its
// version name differs between architectures and glibc releases.
DlsymFunction LibraryDlsym() {
  static const DlsymFunction library = [] {
    for (const char* version :
         {"GLIBC_2.34", "GLIBC_2.2.5", "GLIBC_2.17", "GLIBC_2.0", "GLIBC_2.27", "GLIBC_2.4"}) {
      if (void* found = dlvsym(RTLD_NEXT, "dlsym", version))
        return reinterpret_cast<DlsymFunction>(found);
    }
    return static_cast<DlsymFunction>(nullptr);
  }();
  return library;
}

}  // namespace

// Every dlsym call in the process comes here. Only RTLD_DEFAULT lookups of the
// host functions are looked at; the rest passes straight on. (RTLD_NEXT would
// be resolved relative to this executable rather than the caller; nothing
// loaded into vestrel-host uses it.)
VHOST_EXPORT void* dlsym(void* __restrict handle, const char* __restrict name) noexcept {
  DlsymFunction library = LibraryDlsym();
  bool watched =
      handle == RTLD_DEFAULT && theHostServices != nullptr && vhost::IsHostFunctionName(name);
  if (watched && theHostServices->HidesLookup(name)) {
    theHostServices->Lookup(name, false);
    return nullptr;
  }
  void* found = library != nullptr ? library(handle, name) : nullptr;
  if (watched) theHostServices->Lookup(name, found != nullptr);
  return found;
}
#endif
