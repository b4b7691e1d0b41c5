// What vestrel-host knows of the host protocol: the selectors the plug-in
// sends, the record size of each in this build's layout, and the entry's type.
// The sizes come from the protocol's table (three layout columns), not from
// sizeof of the plug-in's own structures, so that a record the plug-in lays
// out wrongly is caught rather than trusted.
#ifndef VESTREL_REFERENCE_HOST_PROTOCOL_H
#define VESTREL_REFERENCE_HOST_PROTOCOL_H

#include <stdint.h>

#include <string>

#include "host/four_char_code.h"
#include "host/info_record.h"
#include "host/record_layout.h"

namespace vhost {

// The plug-in's exported entry: selector, an ignored pointer-sized value, the
// info record of the call.
using EntryFunction = int32_t (*)(uint32_t selector, void* unused, HostInfoRec* info);

// One selector of the callback with its record size in the three layouts
// (32-bit Windows / 64-bit Windows / macOS).
struct CallbackSelector {
  uint32_t selector;
  size_t win32;
  size_t win64;
  size_t mac;
};

constexpr CallbackSelector kCallbackSelectors[] = {
    {kSelectorAllocate, 20, 40, 32},
    {kSelectorCreator, 8, 16, 12},
    {kSelectorReset, 4, 8, 8},
    {kSelectorTimeInfo, 56, 56, 52},
    {kSelectorSceneObject, 284, 304, 296},
    {kSelectorSyncFrame, 24, 24, 24},
    {kSelectorObjectPosition, 136, 144, 144},
    {kSelectorMemAlloc, 12, 24, 24},
    {kSelectorMemFree, 8, 16, 16},
    {kSelectorAddVertex, 120, 120, 112},
    {kSelectorAddFace, 28, 32, 32},
    {kSelectorGetGroup, 408, 424, 416},
    {kSelectorDeleteGroup, 8, 16, 16},
};

// The record size of selector in this build's layout, or -1 for a selector
// the protocol does not have.
constexpr int32_t ExpectedRecordSize(uint32_t selector) {
  for (const CallbackSelector& row : kCallbackSelectors) {
    if (row.selector == selector)
      return static_cast<int32_t>(LayoutValue(row.win32, row.win64, row.mac));
  }
  return -1;
}

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
