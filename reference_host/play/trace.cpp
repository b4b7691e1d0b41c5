#include "reference_host/play/trace.h"

#include "hostkit/protocol.h"

namespace vhost {

namespace {

TraceEvent Triple(const double* values) {
  return TraceEvent::array({values[0], values[1], values[2]});
}

TraceEvent FieldJson(const FieldValue& value) {
  switch (value.kind) {
    case FieldValue::kInteger: return value.integer;
    case FieldValue::kReal: return value.real;
    case FieldValue::kFlag: return value.flag;
    case FieldValue::kText: return value.text;
    case FieldValue::kTexts: return value.texts;
  }
  return nullptr;
}

// One visitor a selector: sent fields always, answered ones when served.
struct CallFields {
  TraceEvent& event;
  bool served;

  void operator()(std::monostate) {}
  void operator()(const AllocateCall& c) {
    event["block"] = AddressText(c.blockNamed);
    event["requested"] = c.sizeAsked;
    if (!served) return;
    event["returned"] = AddressText(c.blockReturned);
    event["tag"] = c.tag;
  }
  void operator()(const CreatorCall& c) {
    if (served) event["creator"] = CodeName(c.creatorCode);
  }
  void operator()(const ResetCall&) {}
  void operator()(const TimeInfoCall& c) {
    if (!served) return;
    event["first"] = c.firstFrame;
    event["last"] = c.lastFrame;
  }
  void operator()(const SceneObjectCall& c) {
    event["index"] = c.index;
    if (!served) return;
    if (c.index == -1) {
      event["count"] = c.objectCount;
    } else {
      event["object"] = AddressText(c.object);
      event["parent"] = AddressText(c.parent);
    }
  }
  void operator()(const SyncFrameCall& c) {
    event["flag"] = c.samplingFlag;
    event["frame"] = c.frame;
  }
  void operator()(const ObjectPositionCall& c) {
    event["object"] = AddressText(c.object);
    if (!served) return;
    event["frame"] = c.frame;
    event["position"] = Triple(c.position);
  }
  void operator()(const MemAllocCall& c) {
    event["bytes"] = c.bytesAsked;
    if (served) event["address"] = AddressText(c.memory);
  }
  void operator()(const MemFreeCall& c) { event["address"] = AddressText(c.memory); }
  void operator()(const AddVertexCall& c) {
    event["position"] = Triple(c.position);
    event["blur"] = Triple(c.blur);
    event["u"] = c.u;
    if (served) event["index"] = c.index;
  }
  void operator()(const AddFaceCall& c) {
    event["first"] = c.firstVertex;
    event["second"] = c.secondVertex;
  }
  void operator()(const GetGroupCall& c) {
    if (served) event["group"] = AddressText(c.group);
  }
  void operator()(const DeleteGroupCall& c) { event["group"] = AddressText(c.group); }
};

}  // namespace

bool Trace::Open(const std::string& path, std::string* message) {
  if (path.empty()) return true;
  return out_.Open(path, message);
}

void Trace::Write(const TraceEvent& event) {
  if (!out_.is_open()) return;
  TraceEvent line = {{"seq", ++sequence_}};
  line.update(event);
  // Texts from the plug-in may hold any bytes: replace what is not UTF-8.
  out_.Write(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

bool Trace::Close(std::string* message) {
  if (!out_.is_open()) return true;
  return out_.Commit(message);
}

void Trace::EntryStarted(const EntryCall& call) {
  Write({{"entry", CodeName(call.selector)},
         {"frame", call.renderFrame},
         {"block", AddressText(call.block)},
         {"block_size", call.blockSize}});
}

void Trace::EntryReturned(const EntryCall& call) {
  Write({{"entry_result", CodeName(call.selector)},
         {"result", call.result},
         {"block", AddressText(call.block)},
         {"block_size", call.blockSize}});
}

void AddCallFields(const ServedCall& call, TraceEvent* event) {
  std::visit(CallFields{*event, !call.refused && call.result == 0}, call.arguments);
}

void Trace::CallbackServed(const ServedCall& call) {
  if (!enabled()) return;
  TraceEvent event = {{"call", CodeName(call.selector)},
                      {"n", call.number},
                      {"size", call.size},
                      {"during", CodeName(call.entry)}};
  AddCallFields(call, &event);
  if (call.refused) event["refused"] = true;
  event["result"] = call.result;
  Write(event);
}

void Trace::FunctionCalled(const FunctionCall& call) {
  if (!enabled()) return;
  TraceEvent event = {{"function", call.name}};
  if (call.refused) {
    event["refused"] = true;
    event["hidden"] = call.hidden;
  }
  for (const auto& field : call.fields) event[field.first] = FieldJson(field.second);
  Write(event);
}

void Trace::FunctionLookedUp(const std::string& name, bool found) {
  Write({{"lookup", name}, {"found", found}});
}

}  // namespace vhost
