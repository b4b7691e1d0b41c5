#include "reference_host/play/player.h"

#include <stdio.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "hostkit/dialogs.h"
#include "reference_host/play/terminal_dialog.h"
#include "hostkit/findings.h"
#include "hostkit/host_services.h"
#include "hostkit/host_session.h"
#include "reference_host/play/outputs.h"
#include "reference_host/plugin_loader.h"
#include "reference_host/play/trace.h"

#ifndef VESTREL_PLUGIN_FILE_NAME
#define VESTREL_PLUGIN_FILE_NAME "Vestrel.so"
#endif

namespace vhost {

namespace fs = std::filesystem;
using nlohmann::json;

std::string DefaultPluginPath() {
  std::string folder = ExecutableDirectory();
  return (fs::path(folder.empty() ? "." : folder) / VESTREL_PLUGIN_FILE_NAME).string();
}

namespace {

std::string PascalText(const unsigned char* field) {
  return std::string(reinterpret_cast<const char*>(field) + 1, field[0]);
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

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

std::string AngleText(float angle) { return NumberText(angle); }

std::string BlockLine(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return "none";
  BlockView view = DecodeBlock(bytes.data(), bytes.size());
  std::string line = std::to_string(bytes.size()) + " bytes";
  if (!view.isBlock) return line + ", not a parameter block";
  line += std::string(view.native ? ", native byte order" : ", other byte order") +
          "; angle tolerance " + AngleText(view.angle) + ", freeze " + std::to_string(view.freeze) +
          ", reverse " + std::to_string(view.reverse) + ", points " + std::to_string(view.count);
  return line;
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

// Everything the run needs, in the order it is made and torn down.
class Run {
 public:
  Run(const PlayOptions& options, std::ostream& out) : options_(options), out_(out) {}
  int Go();

 private:
  bool LoadScene();
  bool LoadPlugin();
  bool PrepareBlock(std::vector<uint8_t>* initial);
  void PlayCalls();
  int32_t Call(uint32_t selector, int32_t frame);
  void DescribeCall(const EntryCallReport& report, std::vector<uint8_t>* blockBefore);
  bool MakeOutDirectory();
  bool WriteOutputs();
  void PrintSummary(int exitCode);
  std::string OutputPath(const std::string& given, const char* extension) const;

  const PlayOptions& options_;
  std::ostream& out_;
  std::string sceneSource_;
  Scene scene_;
  PluginLibrary plugin_;
  std::string pluginPath_;
  Trace trace_;
  Findings findings_;
  std::unique_ptr<GuardedHeap> heap_;
  std::unique_ptr<DialogRunner> runner_;
  std::unique_ptr<HostServices> services_;
  std::unique_ptr<HostSession> session_;
  std::vector<std::string> callLines_;
  json summary_;
  std::vector<std::string> written_;
  std::vector<uint8_t> finalBlock_;
  std::string pluginName_;
  std::string initialBlockLine_;
};

bool Run::LoadScene() {
  SceneResult result;
  if (options_.scenePath.empty()) {
    sceneSource_ = kDefaultSceneSource;
    result = ParseScene(DefaultSceneText(), sceneSource_, options_.limits);
  } else {
    sceneSource_ = options_.scenePath;
    result = LoadSceneFile(options_.scenePath, options_.limits);
  }
  if (!result.scene) {
    fprintf(stderr, "vestrel-host: bad scene: %s\n", result.error.c_str());
    return false;
  }
  scene_ = *result.scene;
  return true;
}

bool Run::LoadPlugin() {
  pluginPath_ = options_.pluginPath.empty() ? DefaultPluginPath() : options_.pluginPath;
  std::string message;
  if (!plugin_.Load(pluginPath_, &message)) {
    fprintf(stderr, "vestrel-host: %s\n", message.c_str());
    return false;
  }
  return true;
}

bool Run::PrepareBlock(std::vector<uint8_t>* initial) {
  if (!options_.loadBlockPath.empty()) {
    std::string message;
    if (!LoadBlockFile(options_.loadBlockPath, GuardedHeap::kMaxAllocation, initial, &message)) {
      fprintf(stderr, "vestrel-host: %s\n", message.c_str());
      return false;
    }
  } else if (scene_.block) {
    *initial = *scene_.block;
  }
  if (options_.blockOrder && !initial->empty()) {
    BlockView view = DecodeBlock(initial->data(), initial->size());
    bool wantNative = *options_.blockOrder == ByteOrder::kNative;
    if (!view.isBlock) {
      fprintf(
          stderr,
          "vestrel-host: the stored block is not a parameter block; it is handed over as it is\n");
    } else if (view.native != wantNative) {
      SwapBlockByteOrder(initial);
    }
  }
  initialBlockLine_ = BlockLine(*initial);
  return true;
}

int32_t Run::Call(uint32_t selector, int32_t frame) {
  std::vector<uint8_t> before = session_->BlockBytes();
  int32_t result = session_->Call(plugin_.entry(), selector, frame);
  DescribeCall(session_->reports().back(), &before);
  return result;
}

// One line per entry call: its result and what it did.
void Run::DescribeCall(const EntryCallReport& report, std::vector<uint8_t>* blockBefore) {
  std::string name = CodeName(report.selector);
  std::string line = name + " -> " + std::to_string(report.result);
  json entry = {{"selector", name},
                {"result", report.result},
                {"frame", report.renderFrame},
                {"host_calls", json::object()}};
  for (const auto& count : report.calls) entry["host_calls"][CodeName(count.first)] = count.second;
  std::vector<std::string> details;
  std::vector<uint8_t> after = session_->BlockBytes();
  BlockView view = DecodeBlock(after.data(), after.size());

  if (report.selector == kSelectorInfo) {
    const HostPluginDescription& d = session_->info().info;
    pluginName_ = PascalText(d.pluginName);
    details.push_back("name \"" + pluginName_ + "\", type '" + CodeName(d.pluginType) +
                      "', version " + std::to_string(d.pluginVersion) + ", flags " +
                      std::to_string(d.infoFlags));
    details.push_back("description \"" + PascalText(d.description) + "\"");
    entry["name"] = pluginName_;
    entry["description"] = PascalText(d.description);
    entry["copyright"] = PascalText(d.copyright);
    entry["author"] = PascalText(d.authorName);
    entry["type"] = CodeName(d.pluginType);
    entry["version"] = d.pluginVersion;
    entry["flags"] = d.infoFlags;
  } else if (report.selector == kSelectorInit) {
    details.push_back("creator answered '" + CodeName(scene_.creator) + "'");
    details.push_back("block " + BlockLine(after));
  } else if (report.selector == kSelectorInterface) {
    const std::vector<DialogRun>& runs = services_->dialogRuns();
    if (!runs.empty()) {
      const DialogRun& run = runs.back();
      details.push_back("dialog " + std::to_string(run.id) + " \"" + run.title +
                        "\" shown: " + Join(run.shown, ", "));
      details.push_back("answered: " + Join(run.answered, ", ") +
                        (run.accepted ? "; accepted" : "; cancelled"));
      entry["dialog"] = {{"id", run.id},
                         {"title", run.title},
                         {"shown", run.shown},
                         {"answered", run.answered},
                         {"accepted", run.accepted}};
    }
    details.push_back("block " + BlockLine(after));
  } else if (report.selector == kSelectorSetup) {
    bool stored = report.resetSent && after != *blockBefore;
    details.push_back("frames sampled: " + std::to_string(report.framesSampled) +
                      ", points stored: " + std::to_string(view.isBlock ? view.count : 0) +
                      (report.resetSent ? " ('RSET' sent)" : " (path unchanged)"));
    entry["frames_sampled"] = report.framesSampled;
    entry["points_stored"] = view.isBlock ? view.count : 0;
    entry["reset_sent"] = report.resetSent;
    entry["path_changed"] = stored;
  } else if (report.selector == kSelectorGenerate) {
    const GeneratedModel& model = session_->models().back();
    details.push_back("vertices received: " + std::to_string(model.vertices.size()) +
                      ", polygons received: " + std::to_string(model.faces.size()));
    entry["vertices"] = model.vertices.size();
    entry["polygons"] = model.faces.size();
  }
  details.push_back("host calls: " + CallCounts(report.calls));
  for (const std::string& refusal : report.refused) details.push_back("fault injected: " + refusal);
  entry["refused"] = report.refused;
  callLines_.push_back(line);
  for (const std::string& detail : details) callLines_.push_back("    " + detail);
  summary_["calls"].push_back(entry);
}

void Run::PlayCalls() {
  int32_t frame = scene_.renderFirst;
  Call(kSelectorInfo, frame);
  Call(kSelectorInit, frame);
  bool dialog = options_.sendDialog.value_or(scene_.dialog.has_value() || options_.interactive);
  if (dialog) Call(kSelectorInterface, frame);
  for (int64_t f = scene_.renderFirst; f <= scene_.renderLast; ++f) {
    Call(kSelectorSetup, static_cast<int32_t>(f));
    Call(kSelectorGenerate, static_cast<int32_t>(f));
  }
}

std::string Run::OutputPath(const std::string& given, const char* extension) const {
  if (!given.empty()) return given;
  if (options_.outDirectory.empty()) return {};
  return (fs::path(options_.outDirectory) / (scene_.name + extension)).string();
}

bool Run::MakeOutDirectory() {
  if (options_.outDirectory.empty()) return true;
  std::error_code error;
  fs::create_directories(options_.outDirectory, error);
  if (error) {
    fprintf(stderr, "vestrel-host: cannot make the folder %s: %s\n", options_.outDirectory.c_str(),
            error.message().c_str());
    return false;
  }
  return true;
}

bool Run::WriteOutputs() {
  bool ok = true;
  std::string message;
  std::string objPath = OutputPath(options_.objPath, ".obj");
  if (!objPath.empty()) {
    if (WriteTextFile(objPath, ObjText(session_->models(), scene_.name), &message)) {
      written_.push_back(objPath);
    } else {
      fprintf(stderr, "vestrel-host: %s\n", message.c_str());
      ok = false;
    }
  }
  std::string svgPath = OutputPath(options_.svgPath, ".svg");
  if (!svgPath.empty()) {
    PictureContent picture;
    picture.title = "Vestrel line of scene \"" + scene_.name + "\"";
    picture.samples = session_->lastSamples();
    picture.storedPoints = DecodeBlock(finalBlock_.data(), finalBlock_.size()).points;
    if (!session_->models().empty()) picture.model = &session_->models().back();
    if (WriteTextFile(svgPath, SvgText(picture), &message)) {
      written_.push_back(svgPath);
    } else {
      fprintf(stderr, "vestrel-host: %s\n", message.c_str());
      ok = false;
    }
  }
  if (!options_.saveBlockPath.empty()) {
    if (SaveBlockFile(options_.saveBlockPath, finalBlock_,
                      options_.blockOrder.value_or(ByteOrder::kNative), &message)) {
      written_.push_back(options_.saveBlockPath);
    } else {
      fprintf(stderr, "vestrel-host: cannot save the block: %s\n", message.c_str());
      ok = false;
    }
  }
  return ok;
}

void Run::PrintSummary(int exitCode) {
  std::ostringstream text;
  text << "vestrel-host: scene \"" << scene_.name << "\" (" << sceneSource_ << ")\n"
       << "  frames " << scene_.firstFrame << " to " << scene_.lastFrame << ", "
       << scene_.objects.size() << " objects, creator '" << CodeName(scene_.creator)
       << "', render frames " << scene_.renderFirst << " to " << scene_.renderLast << "\n"
       << "  stored block: " << initialBlockLine_ << "\n"
       << "plug-in: " << pluginPath_ << "\n"
       << "calls:\n";
  for (const std::string& line : callLines_) text << "  " << line << "\n";
  text << "parameter block: " << BlockLine(finalBlock_) << "\n";
  text << "host calls: " << session_->callbackCalls() << " (" << CallCounts(session_->totals())
       << ")\n";

  std::vector<std::string> functions;
  for (const auto& entry : services_->calls())
    functions.push_back(entry.first + " " + std::to_string(entry.second));
  text << "host functions called: " << (functions.empty() ? "none" : Join(functions, ", ")) << "\n";
  std::vector<std::string> lookups;
  for (const auto& entry : services_->lookups())
    lookups.push_back(entry.first + " " + std::to_string(entry.second));
  text << "host functions looked up: " << (lookups.empty() ? "none" : Join(lookups, ", ")) << "\n";

  std::vector<std::string> faults = options_.faults.Describe();
  text << "faults asked for: " << (faults.empty() ? "none" : Join(faults, "; ")) << "\n";

  std::vector<std::string> resources;
  json resourceJson = json::object();
  for (ResourceKind kind : kAllResourceKinds) {
    const ResourceCount& count = findings_.Count(kind);
    resources.push_back(std::string(ResourceKindName(kind)) + " " +
                        std::to_string(count.released - count.leaked) + "/" +
                        std::to_string(count.obtained) + " released");
    resourceJson[ResourceKindName(kind)] = {{"obtained", count.obtained},
                                            {"released", count.released - count.leaked},
                                            {"leaked", count.leaked}};
  }
  text << "resources: " << Join(resources, ", ") << "\n";
  auto list = [&](const char* title, const std::vector<std::string>& items) {
    text << title << ": " << (items.empty() ? "none" : std::to_string(items.size())) << "\n";
    for (const std::string& item : items) text << "  - " << item << "\n";
  };
  list("violations", findings_.violations());
  list("overruns", findings_.overruns());
  list("leaks", findings_.leaks());
  if (!findings_.notes().empty()) list("notes", findings_.notes());
  for (const std::string& path : written_) text << "wrote " << path << "\n";
  text << "result: "
       << (exitCode == kExitOk            ? "OK"
           : exitCode == kExitPluginFault ? "FAILED (the plug-in broke the host's rules)"
                                          : "FAILED")
       << "\n";
  out_ << text.str() << std::flush;

  summary_["scene"] = {{"name", scene_.name}, {"source", sceneSource_}};
  summary_["plugin"] = pluginPath_;
  summary_["block"] = BlockJson(finalBlock_);
  summary_["initial_block"] = initialBlockLine_;
  summary_["host_calls"] = session_->callbackCalls();
  summary_["host_functions"] = services_->calls();
  summary_["lookups"] = services_->lookups();
  summary_["resources"] = resourceJson;
  summary_["violations"] = findings_.violations();
  summary_["overruns"] = findings_.overruns();
  summary_["leaks"] = findings_.leaks();
  summary_["notes"] = findings_.notes();
  summary_["functions_can_be_hidden"] = VHOST_CAN_HIDE_FUNCTIONS != 0;
  summary_["written"] = written_;
  summary_["exit_code"] = exitCode;
  if (!options_.summaryJsonPath.empty()) {
    std::string message;
    if (!WriteTextFile(options_.summaryJsonPath,
                       summary_.dump(2, ' ', false, json::error_handler_t::replace) + "\n",
                       &message)) {
      fprintf(stderr, "vestrel-host: %s\n", message.c_str());
    }
  }
}

int Run::Go() {
  if (!LoadScene()) return kExitBadInput;
  std::vector<uint8_t> initialBlock;
  if (!PrepareBlock(&initialBlock)) return kExitBadInput;
  if (!LoadPlugin()) return kExitNoPlugin;
  if (!MakeOutDirectory()) return kExitBadInput;
  std::string message;
  if (!trace_.Open(options_.tracePath, &message)) {
    fprintf(stderr, "vestrel-host: %s\n", message.c_str());
    return kExitBadInput;
  }

  std::string home = options_.homeDirectory;
  if (home.empty()) home = fs::absolute(fs::path(pluginPath_)).parent_path().string();
  heap_ = std::make_unique<GuardedHeap>(options_.memoryCheck);
  if (options_.interactive) {
    runner_ = std::make_unique<TerminalDialogRunner>(std::cin, std::cout);
  } else {
    runner_ = std::make_unique<ScriptedDialogRunner>(scene_.dialog);
  }
  services_ =
      std::make_unique<HostServices>(home, runner_.get(), options_.faults, findings_, &trace_);
  session_ = std::make_unique<HostSession>(scene_, *heap_, options_.faults, findings_, *services_);
  session_->AddObserver(&trace_);
  if (!initialBlock.empty() && !session_->SetBlock(initialBlock)) {
    fprintf(stderr, "vestrel-host: the stored parameter block is too large\n");
    return kExitBadInput;
  }
  theHostServices = services_.get();
  summary_["calls"] = json::array();

  PlayCalls();

  finalBlock_ = session_->BlockBytes();
  session_->Finish();
  theHostServices = nullptr;
  bool written = WriteOutputs();
  trace_.Close();
  int exitCode = findings_.Failed() ? kExitPluginFault : written ? kExitOk : kExitBadInput;
  PrintSummary(exitCode);
  return exitCode;
}

}  // namespace

int Play(const PlayOptions& options, std::ostream& out) {
  Run run(options, out);
  return run.Go();
}

}  // namespace vhost
