#include "host/host_proc.h"

#include "host/info_record.h"
#include "host/reset_record.h"

HostInfoRec* theInfo = nullptr;
HostProc theHostProc = nullptr;
int32_t theError = kResultOk;
uint32_t theCreator = 0;

bool HostCall(uint32_t selector, int32_t recordSize, void* record) {
  theError = theHostProc(selector, recordSize, record);
  return theError == kResultOk;
}

void SendReset() {
  HostResetRec reset;
  reset.owner = theInfo->owner;
  HostCall(kSelectorReset, reset);
}
