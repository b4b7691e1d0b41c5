// Four-character codes: selectors, the plug-in type, creator codes, file types
// and the parameter block's magic. The first character sits in the most
// significant byte ('ALOC' is 0x414C4F43); codes are passed and compared as
// 32-bit integers, never as byte strings, so they read the same on either
// byte order.
#ifndef VESTREL_HOST_FOUR_CHAR_CODE_H
#define VESTREL_HOST_FOUR_CHAR_CODE_H

#include <stdint.h>

constexpr uint32_t FourCC(const char (&text)[5]) {
  return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
         (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

// Selectors the host sends to the entry.
constexpr uint32_t kSelectorInfo = FourCC("INFO");       // self-description
constexpr uint32_t kSelectorInit = FourCC("INIT");       // start-up of an instance
constexpr uint32_t kSelectorInterface = FourCC("INTF");  // parameter dialog
constexpr uint32_t kSelectorSetup = FourCC("SETM");      // model set-up: capture the path
constexpr uint32_t kSelectorGenerate = FourCC("GENM");   // model generation

// Selectors the plug-in sends to the host callback.
constexpr uint32_t kSelectorAllocate = FourCC("ALOC");     // create or resize the parameter block
constexpr uint32_t kSelectorCreator = FourCC("CREA");      // the host's creator code
constexpr uint32_t kSelectorReset = FourCC("RSET");        // the parameter block has changed
constexpr uint32_t kSelectorTimeInfo = FourCC("TINF");     // the frame range
constexpr uint32_t kSelectorSceneObject = FourCC("UOBJ");  // object search
constexpr uint32_t kSelectorSyncFrame =
    FourCC("SYNC");  // put the scene at a frame, or end sampling
constexpr uint32_t kSelectorObjectPosition = FourCC("TOBJ");  // an object's position now
constexpr uint32_t kSelectorMemAlloc = FourCC("MMAL");        // temporary host memory
constexpr uint32_t kSelectorMemFree = FourCC("MFRE");         // return that memory
constexpr uint32_t kSelectorAddVertex = FourCC("ADDV");       // add a vertex
constexpr uint32_t kSelectorAddFace = FourCC("ADDF");         // add a two-vertex polygon
constexpr uint32_t kSelectorGetGroup = FourCC("GETG");        // fetch the group ('XOLR' hosts)
constexpr uint32_t kSelectorDeleteGroup = FourCC("DELG");     // delete the group ('XOLR' hosts)

// Other codes.
constexpr uint32_t kPluginTypeStub = FourCC("STUB");    // the plug-in type reported by 'INFO'
constexpr uint32_t kCreatorUnknown = FourCC("UNKN");    // creator code after a refused 'CREA'
constexpr uint32_t kCreatorXolr = FourCC("XOLR");       // the host variant with its own set-up
constexpr uint32_t kFileTypeResource = FourCC("rsrc");  // file type of the resource file
constexpr uint32_t kControlDataMagic = FourCC("ALIN");  // magic of the parameter block

#endif
