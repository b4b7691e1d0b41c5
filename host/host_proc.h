// The host callback and the result code: how the plug-in asks the host for
// services and how it reports back.
#ifndef VESTREL_HOST_HOST_PROC_H
#define VESTREL_HOST_HOST_PROC_H

#include <stdint.h>

#include "host/four_char_code.h"

// Opaque pointer-sized values of the host's: the owner value that leads every
// record, block references, object and group references. Never looked into.
typedef void* HostOpaque;

// The host callback. Called by the plug-in only inside a call of its entry,
// with a selector, the full size of that selector's record in this build, and
// the record's address. The record belongs to the plug-in (usually on its
// stack); the host reads it and writes its answers into it during the call.
// Returns 0 when the service was done, any other value is the host's error,
// which the plug-in passes on without interpreting it.
typedef int32_t (*HostProc)(uint32_t selector, int32_t recordSize, void* record);

// Result codes that the entry returns.
constexpr int32_t kResultOk = 0;
constexpr int32_t kResultCancelled = 4;   // the user cancelled the dialog
constexpr int32_t kResultNoResource = 6;  // resource file or dialog not obtained

struct HostInfoRec;

// Process-wide state of the current call, set by the entry on every call.
// Between calls they hold stale values that nothing reads.
extern HostInfoRec* theInfo;  // the info record of the current call
extern HostProc theHostProc;  // the host callback taken from it
extern int32_t theError;      // the result code; 0 at the start of every call

// The host's creator code: 0 at load, then what the last 'INIT' learnt
// ('UNKN' when its 'CREA' failed). Shared by every instance in the process and
// kept between calls; 'SETM' and 'GENM' read it.
extern uint32_t theCreator;

// Calls the host with a record, stores the host's result in theError and
// returns whether it was 0. Every call the plug-in makes to the host goes
// through here, so the entry always returns the result stored last.
bool HostCall(uint32_t selector, int32_t recordSize, void* record);

// HostCall with the size of the record type of this build.
template <typename Record>
bool HostCall(uint32_t selector, Record& record) {
  return HostCall(selector, static_cast<int32_t>(sizeof(Record)), &record);
}

// Tells the host that the parameter block has changed ('RSET'). Nothing is
// read back; a failure only leaves the host's error in theError.
void SendReset();

#endif
