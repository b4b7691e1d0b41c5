// What the host side knows of the host protocol: the selectors the plug-in
// sends, the record size of each in this build's layout, the entry calls each
// may come in, the host's error codes, the sixteen host functions' names and
// the entry's type. Written once here for every host of the project.
// The sizes come from the protocol's table (three layout columns), not from
// sizeof of the plug-in's own structures, so that a record the plug-in lays
// out wrongly is caught rather than trusted.
#ifndef VESTREL_HOSTKIT_PROTOCOL_H
#define VESTREL_HOSTKIT_PROTOCOL_H

#include <stdint.h>

#include <string>

#include "host/four_char_code.h"
#include "host/info_record.h"
#include "host/record_layout.h"

namespace vhost {

// The plug-in's exported entry: selector, an ignored pointer-sized value, the
// info record of the call.
using EntryFunction = int32_t (*)(uint32_t selector, void* unused, HostInfoRec* info);

// The entry calls the host makes, as a bit set, for the table below.
enum EntryCallBits : uint32_t {
  kDuringInfo = 1u << 0,
  kDuringInit = 1u << 1,
  kDuringInterface = 1u << 2,
  kDuringSetup = 1u << 3,
  kDuringGenerate = 1u << 4,
};

// One selector of the callback: its record size in the three layouts
// (32-bit Windows / 64-bit Windows / macOS) and the entry calls during which
// the plug-in may send it.
struct CallbackSelector {
  uint32_t selector;
  size_t win32;
  size_t win64;
  size_t mac;
  uint32_t allowedDuring;  // EntryCallBits
};

constexpr uint32_t kDuringAnyButInfo =
    kDuringInit | kDuringInterface | kDuringSetup | kDuringGenerate;

// The host protocol's callback, one row a selector. Every host-side fact about
// a selector's record size or timing comes from here.
constexpr CallbackSelector kCallbackSelectors[] = {
    {kSelectorAllocate, 20, 40, 32, kDuringAnyButInfo},
    {kSelectorCreator, 8, 16, 12, kDuringInit},
    {kSelectorReset, 4, 8, 8, kDuringSetup | kDuringInterface},
    {kSelectorTimeInfo, 56, 56, 52, kDuringSetup},
    {kSelectorSceneObject, 284, 304, 296, kDuringSetup},
    {kSelectorSyncFrame, 24, 24, 24, kDuringSetup},
    {kSelectorObjectPosition, 136, 144, 144, kDuringSetup},
    {kSelectorMemAlloc, 12, 24, 24, kDuringSetup},
    {kSelectorMemFree, 8, 16, 16, kDuringSetup},
    {kSelectorAddVertex, 120, 120, 112, kDuringGenerate},
    {kSelectorAddFace, 28, 32, 32, kDuringGenerate},
    {kSelectorGetGroup, 408, 424, 416, kDuringGenerate},
    {kSelectorDeleteGroup, 8, 16, 16, kDuringGenerate},
};

// The row of selector, or null for a selector the protocol does not have.
constexpr const CallbackSelector* FindCallbackSelector(uint32_t selector) {
  for (const CallbackSelector& row : kCallbackSelectors) {
    if (row.selector == selector) return &row;
  }
  return nullptr;
}

// The record size of selector in this build's layout, or -1 for a selector
// the protocol does not have.
constexpr int32_t ExpectedRecordSize(uint32_t selector) {
  const CallbackSelector* row = FindCallbackSelector(selector);
  return row ? static_cast<int32_t>(LayoutValue(row->win32, row->win64, row->mac)) : -1;
}

// The bit of an entry selector in EntryCallBits (0 for any other code).
constexpr uint32_t EntryCallBit(uint32_t entrySelector) {
  switch (entrySelector) {
    case kSelectorInfo: return kDuringInfo;
    case kSelectorInit: return kDuringInit;
    case kSelectorInterface: return kDuringInterface;
    case kSelectorSetup: return kDuringSetup;
    case kSelectorGenerate: return kDuringGenerate;
    default: return 0;
  }
}

// Whether the plug-in may send selector while the host's entry call
// entrySelector runs.
constexpr bool AllowedDuring(uint32_t selector, uint32_t entrySelector) {
  const CallbackSelector* row = FindCallbackSelector(selector);
  return row != nullptr && (row->allowedDuring & EntryCallBit(entrySelector)) != 0;
}

// The host's own error codes.
constexpr int32_t kHostErrorBadRecord = -50;  // a record the host cannot serve
constexpr int32_t kHostErrorNoMemory = -108;  // more memory than the host gives

// The sixteen host functions by name, in the order of the host's table. The
// plug-in finds each at run time by this name. This is the one place the names
// are spelled: every other part of the host side names a function by its
// constant.
inline constexpr char kOrvoGetHomeDirectory[] = "Orvo_GetHomeDirectory";
inline constexpr char kOrvoMakeFileRef[] = "Orvo_MakeFileRef";
inline constexpr char kOrvoDestroyFileRef[] = "Orvo_DestroyFileRef";
inline constexpr char kOrvoDestroyDirectoryRef[] = "Orvo_DestroyDirectoryRef";
inline constexpr char kOrvoOpenResourceFile[] = "Orvo_OpenResourceFile";
inline constexpr char kOrvoCloseResourceFile[] = "Orvo_CloseResourceFile";
inline constexpr char kOrvoMakeDialog[] = "Orvo_MakeDialog";
inline constexpr char kOrvoSetDialogTitle[] = "Orvo_SetDialogTitle";
inline constexpr char kOrvoExecuteDialog[] = "Orvo_ExecuteDialog";
inline constexpr char kOrvoDestroyDialog[] = "Orvo_DestroyDialog";
inline constexpr char kOrvoFindControlByID[] = "Orvo_FindControlByID";
inline constexpr char kOrvoGetControlValue[] = "Orvo_GetControlValue";
inline constexpr char kOrvoSetControlValue[] = "Orvo_SetControlValue";
inline constexpr char kOrvoGetEditTextStringSize[] = "Orvo_GetEditTextStringSize";
inline constexpr char kOrvoGetEditTextString[] = "Orvo_GetEditTextString";
inline constexpr char kOrvoSetEditTextString[] = "Orvo_SetEditTextString";

constexpr int kHostFunctionCount = 16;
inline constexpr const char* kHostFunctionNames[kHostFunctionCount] = {
    kOrvoGetHomeDirectory,    kOrvoMakeFileRef,           kOrvoDestroyFileRef,
    kOrvoDestroyDirectoryRef, kOrvoOpenResourceFile,      kOrvoCloseResourceFile,
    kOrvoMakeDialog,          kOrvoSetDialogTitle,        kOrvoExecuteDialog,
    kOrvoDestroyDialog,       kOrvoFindControlByID,       kOrvoGetControlValue,
    kOrvoSetControlValue,     kOrvoGetEditTextStringSize, kOrvoGetEditTextString,
    kOrvoSetEditTextString};
bool IsHostFunctionName(const std::string& name);

// 'ALOC' as text: the four characters, or the hexadecimal value when the code
// holds bytes that are not printable.
std::string CodeName(uint32_t code);

// Parses a four-character code written as four printable ASCII characters.
// Returns false for anything else.
bool ParseCode(const std::string& text, uint32_t* code);

// Whether selector is one of the thirteen the plug-in may send.
bool IsCallbackSelector(uint32_t selector);

}  // namespace vhost

#endif
