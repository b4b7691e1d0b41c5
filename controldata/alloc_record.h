// 'ALOC': the plug-in asks the host to create or resize its parameter block.
#ifndef VESTREL_CONTROLDATA_ALLOC_RECORD_H
#define VESTREL_CONTROLDATA_ALLOC_RECORD_H

#include <stdint.h>

#include "host/host_proc.h"
#include "host/record_layout.h"

VESTREL_BEGIN_RECORDS

// The four fields from blockAddress on have the order and widths of the first
// four fields of HostInfoRec, into which the plug-in copies the host's answer.
// On failure the host leaves the old block as it was.
struct HostAllocDataRec {
  HostOpaque owner;           // sent: the owner value; not read back
  void* blockAddress;         // sent: the current block (may be null or too small);
                              // returned: the block to use from now on
  int32_t blockSize;          // sent: the size wanted; returned: the block's size
  HostOpaque blockReference;  // sent: 0; returned: the host's, copied to the info record
  int32_t blockTag;           // sent: 0; returned: the host's, copied to the info record
};

VESTREL_END_RECORDS

VESTREL_CHECK_OFFSET(HostAllocDataRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostAllocDataRec, blockAddress, 4, 8, 8);
VESTREL_CHECK_OFFSET(HostAllocDataRec, blockSize, 8, 16, 16);
VESTREL_CHECK_OFFSET(HostAllocDataRec, blockReference, 12, 24, 20);
VESTREL_CHECK_OFFSET(HostAllocDataRec, blockTag, 16, 32, 28);
VESTREL_CHECK_SIZE(HostAllocDataRec, 20, 40, 32);

#endif
