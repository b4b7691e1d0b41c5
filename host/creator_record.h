// 'CREA': the plug-in asks the host for its creator code during 'INIT'.
#ifndef VESTREL_HOST_CREATOR_RECORD_H
#define VESTREL_HOST_CREATOR_RECORD_H

#include <stdint.h>

#include "host/host_proc.h"
#include "host/record_layout.h"

VESTREL_BEGIN_RECORDS

struct HostCreatorRec {
  HostOpaque owner;      // sent: the owner value; not read back
  uint32_t creatorCode;  // not set; on success the host's creator code
};

VESTREL_END_RECORDS

VESTREL_CHECK_OFFSET(HostCreatorRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostCreatorRec, creatorCode, 4, 8, 8);
VESTREL_CHECK_SIZE(HostCreatorRec, 8, 16, 12);

#endif
