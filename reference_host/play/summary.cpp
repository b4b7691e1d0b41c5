#include "reference_host/play/summary.h"

#include "reference_host/printable_text.h"

#include <sstream>

#include <nlohmann/json.hpp>

#include "hostkit/block_codec.h"
#include "hostkit/protocol.h"
#include "reference_host/play/outputs.h"
#include "reference_host/play/player.h"

namespace vhost {

namespace {

using nlohmann::json;

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

// Callback calls by selector, in the protocol's order, unknown ones last.
std::string CallCounts(const std::map<uint32_t, int>& calls) {
  std::vector<std::string> parts;
  for (const CallbackSelector& row : kCallbackSelectors) {
    auto it = calls.find(row.selector);
    if (it != calls.end())
      parts.push_back(CodeName(row.selector) + " " + std::to_string(it->second));
  }
  for (const auto& entry : calls) {
    if (!IsCallbackSelector(entry.first))
      parts.push_back(CodeName(entry.first) + " " + std::to_string(entry.second));
  }
  return parts.empty() ? "none" : Join(parts, ", ");
}

std::string NameCounts(const std::map<std::string, int>& counts) {
  std::vector<std::string> parts;
  for (const auto& entry : counts)
    parts.push_back(entry.first + " " + std::to_string(entry.second));
  return parts.empty() ? "none" : Join(parts, ", ");
}

json BlockJson(const std::vector<uint8_t>& bytes) {
  BlockView view = DecodeBlock(bytes.data(), bytes.size());
  json block = {{"size", bytes.size()}, {"is_block", view.isBlock}};
  if (view.isBlock) {
    block["native"] = view.native;
    block["angle_tolerance"] = view.angle;
    block["freeze"] = view.freeze;
    block["reverse"] = view.reverse;
    block["points"] = view.count;
  }
  return block;
}

// The lines under one entry call.
std::vector<std::string> EntryDetails(const EntrySummary& call) {
  std::vector<std::string> details;
  if (const auto& d = call.description) {
    details.push_back("name \"" + d->name + "\", type '" + CodeName(d->type) + "', version " +
                      std::to_string(d->version) + ", flags " + std::to_string(d->flags));
    details.push_back("description \"" + d->description + "\"");
  }
  if (call.creatorAnswered)
    details.push_back("creator answered '" + CodeName(*call.creatorAnswered) + "'");
  if (const auto& run = call.dialog) {
    details.push_back("dialog " + std::to_string(run->id) + " \"" + run->title +
                      "\" shown: " + Join(run->shown, ", "));
    details.push_back("answered: " + Join(run->answered, ", ") +
                      (run->accepted ? "; accepted" : "; cancelled"));
  }
  if (call.blockAfter) details.push_back("block " + *call.blockAfter);
  if (const auto& capture = call.capture) {
    details.push_back("frames sampled: " + std::to_string(capture->framesSampled) +
                      ", points stored: " + std::to_string(capture->pointsStored) +
                      (capture->resetSent ? " ('RSET' sent)" : " (path unchanged)"));
  }
  if (const auto& model = call.model) {
    details.push_back("vertices received: " + std::to_string(model->vertices) +
                      ", polygons received: " + std::to_string(model->polygons));
  }
  details.push_back("host calls: " + CallCounts(call.hostCalls));
  for (const std::string& refusal : call.refused) details.push_back("fault injected: " + refusal);
  return details;
}

json EntryJson(const EntrySummary& call) {
  json entry = {{"selector", CodeName(call.selector)},
                {"result", call.result},
                {"frame", call.frame},
                {"host_calls", json::object()}};
  if (!call.instance.empty()) entry["instance"] = call.instance;
  for (const auto& count : call.hostCalls)
    entry["host_calls"][CodeName(count.first)] = count.second;
  if (const auto& d = call.description) {
    entry["name"] = d->name;
    entry["description"] = d->description;
    entry["copyright"] = d->copyright;
    entry["author"] = d->author;
    entry["type"] = CodeName(d->type);
    entry["version"] = d->version;
    entry["flags"] = d->flags;
  }
  if (const auto& run = call.dialog) {
    entry["dialog"] = {{"id", run->id},
                       {"title", run->title},
                       {"shown", run->shown},
                       {"answered", run->answered},
                       {"accepted", run->accepted}};
  }
  if (const auto& capture = call.capture) {
    entry["frames_sampled"] = capture->framesSampled;
    entry["points_stored"] = capture->pointsStored;
    entry["reset_sent"] = capture->resetSent;
    entry["path_changed"] = capture->pathChanged;
  }
  if (const auto& model = call.model) {
    entry["vertices"] = model->vertices;
    entry["polygons"] = model->polygons;
  }
  entry["refused"] = call.refused;
  return entry;
}

const char* ResultText(int exitCode) {
  return exitCode == kExitOk            ? "OK"
         : exitCode == kExitPluginFault ? "FAILED (the plug-in broke the host's rules)"
                                        : "FAILED";
}

}  // namespace

std::string BlockLine(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return "none";
  BlockView view = DecodeBlock(bytes.data(), bytes.size());
  std::string line = std::to_string(bytes.size()) + " bytes";
  if (!view.isBlock) return line + ", not a parameter block";
  line += std::string(view.native ? ", native byte order" : ", other byte order") +
          "; angle tolerance " + NumberText(view.angle) + ", freeze " +
          std::to_string(view.freeze) + ", reverse " + std::to_string(view.reverse) + ", points " +
          std::to_string(view.count);
  return line;
}

std::string SummaryText(const PlaySummary& s) {
  std::ostringstream text;
  text << "vestrel-host: scene \"" << EscapedText(s.sceneName) << "\" ("
       << EscapedText(s.sceneSource) << ")\n"
       << "  frames " << s.firstFrame << " to " << s.lastFrame << ", " << s.objects << " objects"
       << (s.groups > 1 ? " in " + std::to_string(s.groups) + " groups of the plug-in" : "")
       << ", creator '" << CodeName(s.creator) << "', render frames " << s.renderFirst
       << " to " << s.renderLast << "\n"
       << "  stored block: " << s.initialBlock << "\n"
       << "plug-in: " << s.pluginPath << "\n"
       << "calls:\n";
  for (const EntrySummary& call : s.calls) {
    text << "  " << CodeName(call.selector) << " -> " << call.result
         << (call.instance.empty() ? "" : "  [" + EscapedText(call.instance) + "]") << "\n";
    for (const std::string& detail : EntryDetails(call)) text << "      " << detail << "\n";
  }
  text << "parameter block: " << BlockLine(s.finalBlock) << "\n";
  text << "host calls: " << s.hostCalls << " (" << CallCounts(s.hostCallTotals) << ")\n";
  text << "host functions called: " << NameCounts(s.functionsCalled) << "\n";
  text << "host functions looked up: " << NameCounts(s.functionsLookedUp) << "\n";
  text << "faults asked for: " << (s.faults.empty() ? "none" : Join(s.faults, "; ")) << "\n";
  std::vector<std::string> resources;
  for (const ResourceSummary& r : s.resources) {
    resources.push_back(r.kind + " " + std::to_string(r.released) + "/" +
                        std::to_string(r.obtained) + " released");
  }
  text << "resources: " << Join(resources, ", ") << "\n";
  auto list = [&](const char* title, const std::vector<std::string>& items) {
    text << title << ": " << (items.empty() ? "none" : std::to_string(items.size())) << "\n";
    for (const std::string& item : items) text << "  - " << item << "\n";
  };
  list("violations", s.violations);
  list("overruns", s.overruns);
  list("leaks", s.leaks);
  if (!s.notes.empty()) list("notes", s.notes);
  for (const std::string& path : s.written) text << "wrote " << path << "\n";
  text << "result: " << ResultText(s.exitCode) << "\n";
  return text.str();
}

std::string SummaryJson(const PlaySummary& s) {
  json summary;
  summary["calls"] = json::array();
  for (const EntrySummary& call : s.calls) summary["calls"].push_back(EntryJson(call));
  summary["scene"] = {{"name", s.sceneName}, {"source", s.sceneSource}};
  summary["plugin"] = s.pluginPath;
  summary["block"] = BlockJson(s.finalBlock);
  summary["initial_block"] = s.initialBlock;
  summary["host_calls"] = s.hostCalls;
  summary["host_functions"] = s.functionsCalled;
  summary["lookups"] = s.functionsLookedUp;
  json resources = json::object();
  for (const ResourceSummary& r : s.resources) {
    resources[r.kind] = {{"obtained", r.obtained}, {"released", r.released}, {"leaked", r.leaked}};
  }
  summary["resources"] = resources;
  summary["violations"] = s.violations;
  summary["overruns"] = s.overruns;
  summary["leaks"] = s.leaks;
  summary["notes"] = s.notes;
  summary["functions_can_be_hidden"] = s.functionsCanBeHidden;
  summary["written"] = s.written;
  summary["exit_code"] = s.exitCode;
  return summary.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace vhost
