// 'RSET': the plug-in tells the host that its parameter block has changed.
#ifndef VESTREL_HOST_RESET_RECORD_H
#define VESTREL_HOST_RESET_RECORD_H

#include "host/host_proc.h"
#include "host/record_layout.h"

VESTREL_BEGIN_RECORDS

// Sent after a new path is stored ('SETM') or the dialog was accepted ('INTF').
// The host returns nothing in it.
struct HostResetRec {
  HostOpaque owner;  // the owner value of the current info record
};

VESTREL_END_RECORDS

VESTREL_CHECK_OFFSET(HostResetRec, owner, 0, 0, 0);
VESTREL_CHECK_SIZE(HostResetRec, 4, 8, 8);

#endif
