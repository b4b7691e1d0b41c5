// What the plug-in's design promises for one call of its entry, checked
// against what the host saw. The validator hands the model everything it
// knows of a call: the parameter block before and after, every callback call
// in order with the host's answers, the host functions called, the faults the
// host injected, the dialog the user answered. The model walks the calls as
// the design makes them, step by step from those answers, and reports each
// place where the plug-in went another way: a call it should not have made or
// a call it left out, a wrong argument, a wrong result code, a block that
// changed where nothing was to change, or changed in another way than the
// design says.
#ifndef VESTREL_REFERENCE_HOST_VALIDATE_MODEL_H
#define VESTREL_REFERENCE_HOST_VALIDATE_MODEL_H

#include <stdint.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hostkit/block_codec.h"
#include "hostkit/dialogs.h"
#include "hostkit/host_services.h"
#include "hostkit/host_session.h"

namespace vhost {

// State the design shares between all instances in the process.
struct ProcessModel {
  uint32_t creator = 0;         // 0 until the first 'INIT'
  double groupMatrix[16] = {};  // zeros until the first 'SETM'
  double blurMatrix[16] = {};
};

// A parameter block as the host holds it: none, or bytes.
struct BlockState {
  bool present = false;
  std::vector<uint8_t> bytes;
};

// Everything the validator knows of one call of the entry.
struct EntryObservation {
  uint32_t selector = 0;
  int32_t result = 0;
  BlockState before;
  BlockState after;
  std::vector<ServedCall> calls;        // this call's only
  std::vector<FunctionCall> functions;  // this call's only
  std::vector<ObjectPositionCall> samples;  // positions 'TOBJ' gave
  const Scene* scene = nullptr;
  std::set<std::string> deadFunctions;    // hidden or refusing service
  std::set<std::string> hiddenFunctions;  // hidden: the plug-in cannot call them
  std::optional<DialogRun> dialog;        // the dialog the user answered in this call
  const HostInfoRec* info = nullptr;      // the info record after the call
};

// Checks one call against the design; each departure is appended to problems
// as a sentence. Updates the process model (creator code, matrices).
void CheckEntryCall(const EntryObservation& call, ProcessModel& model,
                    std::vector<std::string>* problems);

// BlockSoundness of the block, and "the instance has no block" without one.
std::string BlockSoundness(const BlockState& block);

}  // namespace vhost

#endif
