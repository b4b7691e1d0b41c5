// The entry, its dispatch, and the two handlers that belong to the binding
// itself: 'INFO' (self-description) and 'INIT' (parameter block and creator
// code of a new instance).
#include "host/entry.h"

#include "controldata/control_data.h"
#include "host/creator_record.h"
#include "host/handlers.h"
#include "host/pascal_string.h"

namespace {

constexpr int32_t kPluginVersion = 1;
constexpr int32_t kInfoFlags = 15;
constexpr const char* kPluginName = "Vestrel";
constexpr const char* kCopyright = "Copyright (c) 2026 the Vestrel developers";
constexpr const char* kAuthorName = "The Vestrel developers";
constexpr const char* kDescription =
    "This plug-in creates a line of particles from motion path of its first child group";

void Dispatch(uint32_t selector) {
  switch (selector) {
    case kSelectorInfo: Information(); break;
    case kSelectorInit: Initialize(); break;
    case kSelectorInterface: Interface(); break;
    case kSelectorSetup: ModelSetup(); break;
    case kSelectorGenerate: ModelGenerate(); break;
    default: break;  // any other selector is accepted and does nothing
  }
}

}  // namespace

extern "C" int32_t Main(uint32_t selector, void* /*unused*/, HostInfoRec* info) {
  theInfo = info;
  theHostProc = info->hostProc;
  theError = kResultOk;
  Dispatch(selector);
  return theError;
}

void Information() {
  HostPluginDescription& description = theInfo->info;
  description.pluginType = kPluginTypeStub;
  description.pluginVersion = kPluginVersion;
  // PStrCpy writes exactly 1 + n bytes, so the rest of each field stays the host's.
  PStrCpy(description.pluginName, PS(kPluginName));
  PStrCpy(description.copyright, PS(kCopyright));
  PStrCpy(description.authorName, PS(kAuthorName));
  PStrCpy(description.description, PS(kDescription));
  description.infoFlags = kInfoFlags;
}

void Initialize() {
  // Gives a new instance its block with defaults, or repairs a stored one. A
  // refused 'ALOC' does not stop the handler: the result of 'CREA' replaces it.
  GetControlData(-1);

  HostCreatorRec creator;
  creator.owner = theInfo->owner;
  theCreator = kCreatorUnknown;
  if (HostCall(kSelectorCreator, creator)) theCreator = creator.creatorCode;
}
