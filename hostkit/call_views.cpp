#include "hostkit/call_views.h"

#include <map>

#include "host/four_char_code.h"

namespace vhost {

namespace {

// The record of an answered call of type T, or null.
template <typename T>
const T* Answered(const ServedCall& call) {
  return call.result == 0 ? call.As<T>() : nullptr;
}

// Adds an answered 'ADDV' or 'ADDF' to model.
void AddToModel(const ServedCall& call, GeneratedModel* model) {
  if (const auto* vertex = Answered<AddVertexCall>(call)) model->vertices.push_back(*vertex);
  if (const auto* face = Answered<AddFaceCall>(call)) model->faces.push_back(*face);
}

}  // namespace

std::vector<ObjectPositionCall> SamplesOf(const std::vector<ServedCall>& calls) {
  std::vector<ObjectPositionCall> samples;
  for (const ServedCall& call : calls) {
    if (const auto* position = Answered<ObjectPositionCall>(call)) samples.push_back(*position);
  }
  return samples;
}

GeneratedModel ModelOf(const std::vector<ServedCall>& calls, int32_t frame) {
  GeneratedModel model;
  model.frame = frame;
  for (const ServedCall& call : calls) AddToModel(call, &model);
  return model;
}

std::vector<std::pair<size_t, size_t>> Segments(const GeneratedModel& model) {
  std::map<int32_t, size_t> place;  // vertex index handed out -> place in model.vertices
  for (size_t i = 0; i < model.vertices.size(); ++i) place.emplace(model.vertices[i].index, i);
  std::vector<std::pair<size_t, size_t>> segments;
  segments.reserve(model.faces.size());
  for (const AddFaceCall& face : model.faces) {
    auto a = place.find(face.firstVertex), b = place.find(face.secondVertex);
    if (a == place.end() || b == place.end()) continue;  // not a vertex the host handed out
    segments.emplace_back(a->second, b->second);
  }
  return segments;
}

void ModelRecorder::EntryStarted(const EntryCall& call) {
  generating_ = call.selector == kSelectorGenerate;
  if (generating_) models_.push_back(GeneratedModel{call.renderFrame, {}, {}});
  samples_.clear();
}

void ModelRecorder::EntryReturned(const EntryCall& call) {
  if (call.selector == kSelectorSetup && !samples_.empty()) lastSamples_ = std::move(samples_);
  samples_.clear();
  generating_ = false;
}

void ModelRecorder::CallbackServed(const ServedCall& call) {
  if (generating_) AddToModel(call, &models_.back());
  if (const auto* position = Answered<ObjectPositionCall>(call)) samples_.push_back(*position);
}

}  // namespace vhost
