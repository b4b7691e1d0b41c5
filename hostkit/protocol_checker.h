// The protocol's rules, checked on the plug-in's side of every call, once for
// every host of the project. A host asks the checker before it serves a call
// (Admit), tells it what it served (Served), and brackets each entry call
// (BeginEntryCall, EndEntryCall). Every broken rule is reported as one
// sentence to the violation sink; the checker never answers a call itself.
//
// The rules:
//   every record: a selector the protocol has, a record, the record size of
//     this build's layout, the info record's owner value, an entry call during
//     which the selector may come
//   'ALOC'  names the instance's current block, asks for 0 bytes or more
//   'SYNC'  flag 0 or 1;  'TOBJ' only after a 'SYNC' with flag 1
//   'MMAL'  asks for more than 0 bytes;  'MFRE' of memory 'MMAL' gave and
//           that is still out
//   'ADDV'  fixed value -1, fixed vector (0, 0, 1), u vector (u, 0, 0)
//   'ADDF'  fixed value -1, further fields 0, two vertices, both handed out
//           by this 'GENM'
//   'GETG'  only after the host said 'XOLR', fixed value 1;  'DELG' of a group
//           'GETG' handed out
//   'SETM'  ends with the sampling closed
// and, for the info record, that the plug-in wrote only what it may.
#ifndef VESTREL_HOSTKIT_PROTOCOL_CHECKER_H
#define VESTREL_HOSTKIT_PROTOCOL_CHECKER_H

#include <stdint.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/info_record.h"
#include "hostkit/call_log.h"

namespace vhost {

class ProtocolChecker {
 public:
  using ViolationSink = std::function<void(const std::string& text)>;
  explicit ProtocolChecker(ViolationSink violation) : violation_(std::move(violation)) {}

  // [before each entry call] The entry call, the info record's owner value and
  // the block the instance holds.
  void BeginEntryCall(uint32_t entrySelector, HostOpaque owner, const void* block);
  // [after each entry call] Rules about the call as a whole.
  void EndEntryCall();

  // [before serving a callback call] Checks the record as sent. Returns false
  // when the host must not serve it (answer kHostErrorBadRecord): an unknown
  // selector, no record, a wrong size, or arguments the host cannot act on.
  bool Admit(uint32_t selector, int32_t size, const void* record);
  // [after serving or refusing it] Learns what the host handed out or took
  // back: the block, memory, vertices, groups, the creator code.
  void Served(const ServedCall& call);

  bool sampling() const { return sampling_; }
  uint32_t entrySelector() const { return entry_; }

  // Checks that an entry call changed only the bytes of the info record the
  // plug-in may write: the four head fields (after 'ALOC', with what the host
  // returned) and, under 'INFO', its self-description. before is the record
  // as the host handed it over.
  void CheckInfoRecord(uint32_t entrySelector, const std::vector<uint8_t>& before,
                       const HostInfoRec& after);

 private:
  void Violation(const std::string& text) { violation_(text); }
  bool AdmitArguments(uint32_t selector, const void* record);
  void CheckVertexFields(const void* record);
  bool AdmitFace(const void* record);

  ViolationSink violation_;
  uint32_t entry_ = 0;
  HostOpaque owner_ = nullptr;
  const void* block_ = nullptr;
  // The creator code the plug-in last learnt from any host in this process:
  // the plug-in keeps one for all its instances, so the rule about 'GETG'
  // follows the last 'CREA' answered to any of them (0 before the first).
  static uint32_t processCreator_;
  bool sampling_ = false;
  std::set<const void*> memory_;
  std::set<int32_t> vertices_;
  std::set<const void*> groups_;
};

// "'ALOC'", for messages.
std::string Quoted(uint32_t code);

}  // namespace vhost

#endif
