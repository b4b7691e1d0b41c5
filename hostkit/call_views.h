// Views of the call log for the readers that want one kind of call: the line
// a 'GENM' handed over, the positions a 'SETM' was given. They hold the log's
// own records (AddVertexCall, AddFaceCall, ObjectPositionCall), taken from
// the calls the host answered with success, so every reader sees what the
// trace and the checker saw.
#ifndef VESTREL_HOSTKIT_CALL_VIEWS_H
#define VESTREL_HOSTKIT_CALL_VIEWS_H

#include <stddef.h>
#include <stdint.h>

#include <utility>
#include <vector>

#include "hostkit/call_log.h"

namespace vhost {

// What one 'GENM' handed the host: the vertices it was given indices for and
// the faces the host took, in call order.
struct GeneratedModel {
  int32_t frame = 0;  // the render frame
  std::vector<AddVertexCall> vertices;
  std::vector<AddFaceCall> faces;
};

// The positions the host gave for 'TOBJ', in call order.
std::vector<ObjectPositionCall> SamplesOf(const std::vector<ServedCall>& calls);
// The line of the calls of one 'GENM' at a render frame.
GeneratedModel ModelOf(const std::vector<ServedCall>& calls, int32_t frame);

// The faces of a model as two places in model.vertices each: the one map from
// the vertex indices the host handed out to the vertices, for every writer.
// A face that names an index the host never handed out is left out; where
// the host handed out one index twice, the face means the first vertex.
std::vector<std::pair<size_t, size_t>> Segments(const GeneratedModel& model);

// Keeps the views as the calls are served, so that a host need not keep the
// log itself: the line of every 'GENM', and the positions of the latest
// 'SETM' that sampled any.
class ModelRecorder : public CallObserver {
 public:
  void EntryStarted(const EntryCall& call) override;
  void EntryReturned(const EntryCall& call) override;
  void CallbackServed(const ServedCall& call) override;

  const std::vector<GeneratedModel>& models() const { return models_; }
  const std::vector<ObjectPositionCall>& lastSamples() const { return lastSamples_; }

 private:
  bool generating_ = false;
  std::vector<GeneratedModel> models_;
  std::vector<ObjectPositionCall> samples_;  // of the running entry call
  std::vector<ObjectPositionCall> lastSamples_;
};

}  // namespace vhost

#endif
