// Forwarding of the host's sixteen exported functions, and OpenResourceFile.
#include "host/host_functions.h"

#include "host/four_char_code.h"
#include "host/host_functions_detail.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// One cache slot per host function: its exported name and the address found
// for it, null until the first lookup succeeds.
struct APICallback {
  const char* name;
  void* address;
};

enum HostFunctionSlot {
  kGetHomeDirectory,
  kMakeFileRef,
  kDestroyFileRef,
  kDestroyDirectoryRef,
  kOpenResourceFile,
  kCloseResourceFile,
  kMakeDialog,
  kSetDialogTitle,
  kExecuteDialog,
  kDestroyDialog,
  kFindControlByID,
  kGetControlValue,
  kSetControlValue,
  kGetEditTextStringSize,
  kGetEditTextString,
  kSetEditTextString,
  kHostFunctionCount
};

APICallback theHostFunctions[kHostFunctionCount] = {
    {"Orvo_GetHomeDirectory", nullptr},  {"Orvo_MakeFileRef", nullptr},
    {"Orvo_DestroyFileRef", nullptr},    {"Orvo_DestroyDirectoryRef", nullptr},
    {"Orvo_OpenResourceFile", nullptr},  {"Orvo_CloseResourceFile", nullptr},
    {"Orvo_MakeDialog", nullptr},        {"Orvo_SetDialogTitle", nullptr},
    {"Orvo_ExecuteDialog", nullptr},     {"Orvo_DestroyDialog", nullptr},
    {"Orvo_FindControlByID", nullptr},   {"Orvo_GetControlValue", nullptr},
    {"Orvo_SetControlValue", nullptr},   {"Orvo_GetEditTextStringSize", nullptr},
    {"Orvo_GetEditTextString", nullptr}, {"Orvo_SetEditTextString", nullptr},
};

HostSymbolLookup theSymbolLookup = &LookUpInProcess;

// The host's function of a slot: looked up on the first call, and again on
// every call for as long as it has not been found.
void* Resolve(HostFunctionSlot slot) {
  APICallback& callback = theHostFunctions[slot];
  if (callback.address == nullptr) callback.address = theSymbolLookup(callback.name);
  return callback.address;
}

// The type a host function is called with: the host's functions are plain C
// functions whose handles are untyped pointers, so each typed handle crosses
// as void* and is typed again on return. Calling a function through a pointer
// of another type would be undefined, even where the machine code is the same.
template <typename T>
struct HostCType {
  using Type = T;
  static T In(T value) { return value; }
  static T Out(T value) { return value; }
};
template <>
struct HostCType<void> {
  using Type = void;
};
template <typename Opaque>
struct HostCType<Opaque*> {
  using Type = void*;
  static void* In(Opaque* value) { return value; }
  static Opaque* Out(void* value) { return static_cast<Opaque*>(value); }
};
template <>
struct HostCType<const char*> {
  using Type = const char*;
  static const char* In(const char* value) { return value; }
};
template <>
struct HostCType<char*> {
  using Type = char*;
  static char* In(char* value) { return value; }
};
template <>
struct HostCType<int32_t*> {
  using Type = int32_t*;
  static int32_t* In(int32_t* value) { return value; }
};

// Passes a call on to the host's function of the slot, with the same arguments
// in the same order. A missing function is not called: the result is 0 or null
// (nothing for functions without a result).
template <HostFunctionSlot slot, typename Result, typename... Args>
struct Forwarder {
  static Result Call(Args... args) {
    using Function = typename HostCType<Result>::Type (*)(typename HostCType<Args>::Type...);
    Function host = reinterpret_cast<Function>(Resolve(slot));
    if (host == nullptr) return Result();
    return HostCType<Result>::Out(host(HostCType<Args>::In(args)...));
  }
};
template <HostFunctionSlot slot, typename... Args>
struct Forwarder<slot, void, Args...> {
  static void Call(Args... args) {
    using Function = void (*)(typename HostCType<Args>::Type...);
    Function host = reinterpret_cast<Function>(Resolve(slot));
    if (host != nullptr) host(HostCType<Args>::In(args)...);
  }
};

template <HostFunctionSlot slot, typename Result, typename... Args>
Result Forward(Args... args) {
  return Forwarder<slot, Result, Args...>::Call(args...);
}

}  // namespace

void* LookUpInProcess(const char* name) {
#if defined(_WIN32)
  // The null module is the process's main executable: the host application.
  return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), name));
#else
  return dlsym(RTLD_DEFAULT, name);
#endif
}

HostSymbolLookup ReplaceHostSymbolLookup(HostSymbolLookup lookup) {
  HostSymbolLookup previous = theSymbolLookup;
  theSymbolLookup = lookup;
  return previous;
}

void ForgetHostFunctions() {
  for (APICallback& callback : theHostFunctions) callback.address = nullptr;
}

HostDirectoryRef Orvo_GetHomeDirectory() { return Forward<kGetHomeDirectory, HostDirectoryRef>(); }

HostFileRef Orvo_MakeFileRef(HostDirectoryRef directory, const char* fileName, uint32_t fileType,
                             const char* extension) {
  return Forward<kMakeFileRef, HostFileRef>(directory, fileName, fileType, extension);
}

void Orvo_DestroyFileRef(HostFileRef file) { Forward<kDestroyFileRef, void>(file); }

void Orvo_DestroyDirectoryRef(HostDirectoryRef directory) {
  Forward<kDestroyDirectoryRef, void>(directory);
}

HostResourceFile Orvo_OpenResourceFile(HostFileRef file) {
  return Forward<kOpenResourceFile, HostResourceFile>(file);
}

void Orvo_CloseResourceFile(HostResourceFile resourceFile) {
  Forward<kCloseResourceFile, void>(resourceFile);
}

HostDialog Orvo_MakeDialog(HostResourceFile resourceFile, int32_t dialogId) {
  return Forward<kMakeDialog, HostDialog>(resourceFile, dialogId);
}

void Orvo_SetDialogTitle(HostDialog dialog, const char* title) {
  Forward<kSetDialogTitle, void>(dialog, title);
}

int32_t Orvo_ExecuteDialog(HostDialog dialog) { return Forward<kExecuteDialog, int32_t>(dialog); }

void Orvo_DestroyDialog(HostDialog dialog) { Forward<kDestroyDialog, void>(dialog); }

HostControl Orvo_FindControlByID(HostDialog dialog, int32_t controlId) {
  return Forward<kFindControlByID, HostControl>(dialog, controlId);
}

int32_t Orvo_GetControlValue(HostControl control) {
  return Forward<kGetControlValue, int32_t>(control);
}

void Orvo_SetControlValue(HostControl control, int32_t value) {
  Forward<kSetControlValue, void>(control, value);
}

int32_t Orvo_GetEditTextStringSize(HostControl control) {
  return Forward<kGetEditTextStringSize, int32_t>(control);
}

void Orvo_GetEditTextString(HostControl control, char* buffer, int32_t* length) {
  Forward<kGetEditTextString, void>(control, buffer, length);
}

void Orvo_SetEditTextString(HostControl control, const char* text) {
  Forward<kSetEditTextString, void>(control, text);
}

HostResourceFile OpenResourceFile(const char* name) {
  // Every step runs, null or not, so that both references are always released.
  HostDirectoryRef directory = Orvo_GetHomeDirectory();
  HostFileRef file = Orvo_MakeFileRef(directory, name, kFileTypeResource, "rsc");
  HostResourceFile resourceFile = Orvo_OpenResourceFile(file);
  Orvo_DestroyFileRef(file);
  Orvo_DestroyDirectoryRef(directory);
  return resourceFile;
}
