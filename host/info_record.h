// The info record that comes with every call of the entry.
#ifndef VESTREL_HOST_INFO_RECORD_H
#define VESTREL_HOST_INFO_RECORD_H

#include <stdint.h>

#include "host/host_proc.h"
#include "host/record_layout.h"

VESTREL_BEGIN_RECORDS

// Fields that only 'INFO' gives a meaning: the plug-in's self-description.
struct HostPluginDescription {
  uint32_t pluginType;             // written: 'STUB'
  int32_t pluginVersion;           // written: 1
  unsigned char pluginName[256];   // Str255, written
  unsigned char copyright[256];    // Str255, written
  unsigned char authorName[256];   // Str255, written
  unsigned char description[256];  // Str255, written
  int32_t infoFlags;               // written: 15
};

// Fields that only 'SETM' gives a meaning: the group's placement.
struct HostGroupPlacement {
  unsigned char hostArea1[404];  // the host's, never touched
  double groupMatrix[16];        // read: row-major 4x4, copied by 'SETM'
  unsigned char hostArea2[128];  // the host's, never touched
  double groupBlurMatrix[16];    // read: row-major 4x4, copied by 'SETM'
};

// The host owns this record; its address is valid for one call of the entry.
// The plug-in reads and writes only the fields named here; every other byte
// is the host's.
struct HostInfoRec {
  void* parameterBlock;        // the instance's block, or null; replaced after 'ALOC'
  int32_t parameterBlockSize;  // its size in bytes; replaced after 'ALOC'
  HostOpaque blockReference;   // written only: what 'ALOC' returns
  int32_t blockTag;            // written only: what 'ALOC' returns
  HostProc hostProc;           // the callback, read by the entry on every call
  HostOpaque owner;            // copied into the first field of every record sent
  union {                      // meaning depends on the selector
    HostPluginDescription info;
    HostGroupPlacement setup;
  };
};

VESTREL_END_RECORDS

VESTREL_CHECK_OFFSET(HostInfoRec, parameterBlock, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostInfoRec, parameterBlockSize, 4, 8, 8);
VESTREL_CHECK_OFFSET(HostInfoRec, blockReference, 8, 16, 12);
VESTREL_CHECK_OFFSET(HostInfoRec, blockTag, 12, 24, 20);
VESTREL_CHECK_OFFSET(HostInfoRec, hostProc, 16, 32, 24);
VESTREL_CHECK_OFFSET(HostInfoRec, owner, 20, 40, 32);
VESTREL_CHECK_OFFSET(HostInfoRec, info.pluginType, 24, 48, 40);
VESTREL_CHECK_OFFSET(HostInfoRec, info.pluginVersion, 28, 52, 44);
VESTREL_CHECK_OFFSET(HostInfoRec, info.pluginName, 32, 56, 48);
VESTREL_CHECK_OFFSET(HostInfoRec, info.copyright, 288, 312, 304);
VESTREL_CHECK_OFFSET(HostInfoRec, info.authorName, 544, 568, 560);
VESTREL_CHECK_OFFSET(HostInfoRec, info.description, 800, 824, 816);
VESTREL_CHECK_OFFSET(HostInfoRec, info.infoFlags, 1056, 1080, 1072);
VESTREL_CHECK_OFFSET(HostInfoRec, setup.groupMatrix, 432, 456, 444);
VESTREL_CHECK_OFFSET(HostInfoRec, setup.groupBlurMatrix, 688, 712, 700);

#endif
