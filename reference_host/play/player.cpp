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
#include "reference_host/play/gltf_output.h"
#include "reference_host/play/outputs.h"
#include "reference_host/play/safe_files.h"
#include "reference_host/play/summary.h"
#include "reference_host/plugin_loader.h"
#include "reference_host/printable_text.h"
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

// Everything the run needs, in the order it is made and torn down.
class ScenePlay {
 public:
  ScenePlay(const PlayOptions& options, std::ostream& out) : options_(options), out_(out) {}
  int Execute();

 private:
  bool LoadScene();
  bool LoadPlugin();
  bool PrepareBlock(std::vector<uint8_t>* initial);
  void PlayCalls();
  void NoteFaultsNeverFired();
  int32_t Call(uint32_t selector, int32_t frame);
  void DescribeCall(const EntryCallReport& report, const std::vector<uint8_t>& blockBefore);
  bool MakeOutDirectory();
  bool WriteOutputs();
  int PrintSummary(int exitCode);
  std::string OutputPath(const std::string& given, const char* extension) const;
  bool OutputsAreApart() const;
  std::vector<RunFile> InputsOfRun() const;
  std::string HomeDirectory() const;

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
  PlaySummary summary_;
  std::vector<uint8_t> finalBlock_;
};

bool ScenePlay::LoadScene() {
  SceneResult result;
  if (options_.scenePath.empty()) {
    sceneSource_ = kDefaultSceneSource;
    result = ParseScene(DefaultSceneText(), sceneSource_, options_.limits);
  } else if (!options_.sceneText.empty()) {
    sceneSource_ = options_.scenePath;
    result = ParseScene(options_.sceneText, sceneSource_, options_.limits);
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

bool ScenePlay::LoadPlugin() {
  pluginPath_ = options_.pluginPath.empty() ? DefaultPluginPath() : options_.pluginPath;
  std::string message;
  if (!plugin_.Load(pluginPath_, &message)) {
    fprintf(stderr, "vestrel-host: %s\n", message.c_str());
    return false;
  }
  return true;
}

bool ScenePlay::PrepareBlock(std::vector<uint8_t>* initial) {
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
  summary_.initialBlock = BlockLine(*initial);
  return true;
}

int32_t ScenePlay::Call(uint32_t selector, int32_t frame) {
  std::vector<uint8_t> before = session_->BlockBytes();
  int32_t result = session_->Call(plugin_.entry(), selector, frame);
  DescribeCall(session_->reports().back(), before);
  return result;
}

// What an entry call did, for the summary.
void ScenePlay::DescribeCall(const EntryCallReport& report,
                             const std::vector<uint8_t>& blockBefore) {
  EntrySummary entry;
  entry.selector = report.selector;
  entry.result = report.result;
  entry.frame = report.renderFrame;
  entry.hostCalls = report.calls;
  entry.refused = report.refused;
  const std::vector<uint8_t> after = session_->BlockBytes();
  switch (report.selector) {
    case kSelectorInfo: {
      const HostPluginDescription& d = session_->info().info;
      entry.description = PluginDescription{PascalText(d.pluginName),
                                            PascalText(d.description),
                                            PascalText(d.copyright),
                                            PascalText(d.authorName),
                                            d.pluginType,
                                            d.pluginVersion,
                                            d.infoFlags};
      break;
    }
    case kSelectorInit:
      entry.creatorAnswered = scene_.creator;
      entry.blockAfter = BlockLine(after);
      break;
    case kSelectorInterface:
      if (!services_->dialogRuns().empty()) entry.dialog = services_->dialogRuns().back();
      entry.blockAfter = BlockLine(after);
      break;
    case kSelectorSetup: {
      BlockView view = DecodeBlock(after.data(), after.size());
      entry.capture =
          EntrySummary::Capture{report.framesSampled, view.isBlock ? view.count : 0,
                                report.resetSent, report.resetSent && after != blockBefore};
      break;
    }
    case kSelectorGenerate: {
      const GeneratedModel& model = session_->models().back();
      entry.model = EntrySummary::Model{model.vertices.size(), model.faces.size()};
      break;
    }
    default: break;
  }
  summary_.calls.push_back(std::move(entry));
}

void ScenePlay::PlayCalls() {
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

// A numbered fault beyond the calls the plug-in made never fired: the run
// says so, since nothing else would show that the fault was never tried.
void ScenePlay::NoteFaultsNeverFired() {
  uint64_t functionCalls = 0, lookups = 0;
  for (const auto& entry : services_->calls()) functionCalls += uint64_t(entry.second);
  for (const auto& entry : services_->lookups()) lookups += uint64_t(entry.second);
  auto note = [this](const char* option, uint64_t number, uint64_t made, const char* what) {
    findings_.Note(std::string(option) + " " + std::to_string(number) + ": the plug-in made " +
                   std::to_string(made) + " " + what + "; the fault never fired");
  };
  for (const auto& entry : options_.faults.refusedCalls())
    if (entry.first > session_->callbackCalls())
      note("--refuse-call", entry.first, session_->callbackCalls(), "host callback calls");
  for (uint64_t n : options_.faults.refusedFunctionCalls())
    if (n > functionCalls) note("--refuse-function-call", n, functionCalls, "host function calls");
  for (uint64_t n : options_.faults.hiddenLookups())
    if (n > lookups) note("--hide-lookup", n, lookups, "lookups of host functions");
}

std::string ScenePlay::OutputPath(const std::string& given, const char* extension) const {
  if (!given.empty()) return given;
  if (options_.outDirectory.empty()) return {};
  // The scene's name only as a safe file name, so no output leaves the folder.
  bool changed = false;
  std::string name = SafeFileName(scene_.name, &changed);
  return (fs::path(options_.outDirectory) / (name + extension)).string();
}

bool ScenePlay::MakeOutDirectory() {
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

// Every output is made first, then written to its temporary file with the
// trace; only when all are whole are they put in place.
bool ScenePlay::WriteOutputs() {
  bool renamed = false;
  std::string safeName = SafeFileName(scene_.name, &renamed);
  if (renamed && !options_.outDirectory.empty())
    findings_.Note("the scene's name is no safe file name: its files in " + options_.outDirectory +
                   " are named \"" + safeName + "\"");
  OutputBatch batch;
  std::vector<std::string> messages, paths;
  auto add = [&](const std::string& path, bool made, const std::string& bytes,
                 const std::string& message) {
    if (path.empty()) return;
    if (made) {
      batch.Add(path, bytes);
      paths.push_back(path);
    } else {
      messages.push_back(message);
    }
  };
  std::string message, bytes;
  add(OutputPath(options_.objPath, ".obj"), true, ObjText(session_->models(), scene_.name), "");
  std::string svgPath = OutputPath(options_.svgPath, ".svg");
  if (!svgPath.empty()) {
    PictureContent picture;
    picture.title = "Vestrel line of scene \"" + scene_.name + "\"";
    picture.samples = session_->lastSamples();
    picture.storedPoints = DecodeBlock(finalBlock_.data(), finalBlock_.size()).points;
    if (!session_->models().empty()) picture.model = &session_->models().back();
    add(svgPath, true, SvgText(picture), "");
  }
  std::string gltfPath = OutputPath(options_.gltfPath, ".gltf");
  if (!gltfPath.empty()) {
    bool made = GltfBytes(session_->models(), scene_.name, LowercaseExtension(gltfPath) == ".glb",
                          &bytes, &message);
    add(gltfPath, made, bytes, "cannot write " + gltfPath + ": " + message);
  }
  if (!options_.saveBlockPath.empty()) {
    bool made = BlockFileBytes(finalBlock_, options_.blockOrder.value_or(ByteOrder::kNative),
                               &bytes, &message);
    add(options_.saveBlockPath, made, bytes, "cannot save the block: " + message);
  }
  if (AtomicFile* trace = trace_.file()) {
    batch.Join(trace);
    paths.push_back(options_.tracePath);
  }
  if (messages.empty() && batch.Commit(&messages)) {
    for (const std::string& path : paths)
      if (path != options_.tracePath) summary_.written.push_back(path);
    return true;
  }
  for (const std::string& text : messages) fprintf(stderr, "vestrel-host: %s\n", text.c_str());
  if (!paths.empty()) fprintf(stderr, "vestrel-host: no output was written, none was replaced\n");
  return false;
}

// The files the run reads: the scene, the block, the plug-in, the resource
// files in the host's home folder and whatever else the options name.
std::vector<RunFile> ScenePlay::InputsOfRun() const {
  std::vector<RunFile> inputs = {{"the scene", options_.scenePath},
                                 {"the loaded block", options_.loadBlockPath},
                                 {"the plug-in", pluginPath_}};
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(HomeDirectory(), error))
    if (LowercaseExtension(entry.path().string()) == ".rsc")
      inputs.push_back({"a resource file of the host", entry.path().string()});
  inputs.insert(inputs.end(), options_.otherInputs.begin(), options_.otherInputs.end());
  return inputs;
}

std::string ScenePlay::HomeDirectory() const {
  if (!options_.homeDirectory.empty()) return options_.homeDirectory;
  return fs::absolute(fs::path(pluginPath_)).parent_path().string();
}

// Every output names a file of its own, none of them one of the run's inputs:
// a mistyped option must not overwrite the scene, the block or the plug-in.
bool ScenePlay::OutputsAreApart() const {
  std::vector<RunFile> inputs = InputsOfRun();
  std::vector<std::pair<std::string, std::string>> outputs = {
      {"--obj", OutputPath(options_.objPath, ".obj")},
      {"--svg", OutputPath(options_.svgPath, ".svg")},
      {"--gltf", OutputPath(options_.gltfPath, ".gltf")},
      {"--trace", options_.tracePath},
      {"--summary-json", options_.summaryJsonPath},
      {"--save-block", options_.saveBlockPath}};
  std::string message;
  for (size_t i = 0; i < outputs.size(); ++i) {
    const std::string& path = outputs[i].second;
    if (path.empty()) continue;
    if (!OutputApartFromInputs(outputs[i].first, path, inputs, &message)) {
      fprintf(stderr, "vestrel-host: %s; nothing was played\n", EscapedText(message).c_str());
      return false;
    }
    for (size_t j = i + 1; j < outputs.size(); ++j) {
      if (!outputs[j].second.empty() && SameFile(path, outputs[j].second)) {
        fprintf(stderr, "vestrel-host: %s and %s both name %s; nothing was played\n",
                outputs[i].first.c_str(), outputs[j].first.c_str(), path.c_str());
        return false;
      }
    }
  }
  return true;
}

int ScenePlay::PrintSummary(int exitCode) {
  summary_.sceneName = scene_.name;
  summary_.sceneSource = sceneSource_;
  summary_.firstFrame = scene_.firstFrame;
  summary_.lastFrame = scene_.lastFrame;
  summary_.objects = scene_.objects.size();
  summary_.creator = scene_.creator;
  summary_.renderFirst = scene_.renderFirst;
  summary_.renderLast = scene_.renderLast;
  summary_.pluginPath = pluginPath_;
  summary_.finalBlock = finalBlock_;
  summary_.hostCalls = session_->callbackCalls();
  summary_.hostCallTotals = session_->totals();
  summary_.functionsCalled = services_->calls();
  summary_.functionsLookedUp = services_->lookups();
  summary_.faults = options_.faults.Describe();
  for (ResourceKind kind : kAllResourceKinds) {
    const ResourceCount& count = findings_.Count(kind);
    summary_.resources.push_back(ResourceSummary{ResourceKindName(kind), count.obtained,
                                                 count.released - count.leaked, count.leaked});
  }
  summary_.violations = findings_.violations();
  summary_.overruns = findings_.overruns();
  summary_.leaks = findings_.leaks();
  summary_.notes = findings_.notes();
  summary_.functionsCanBeHidden = VHOST_CAN_HIDE_FUNCTIONS != 0;
  summary_.exitCode = exitCode;
  if (!options_.summaryJsonPath.empty()) {
    std::string message;
    if (!WriteTextFile(options_.summaryJsonPath, SummaryJson(summary_), &message)) {
      fprintf(stderr, "vestrel-host: %s\n", message.c_str());
      if (exitCode == kExitOk) exitCode = kExitBadInput;
    }
  }
  summary_.exitCode = exitCode;
  out_ << SummaryText(summary_) << std::flush;
  if (!out_) {
    fprintf(stderr, "vestrel-host: the summary could not be written to the standard output\n");
    if (exitCode == kExitOk) exitCode = kExitBadInput;
  }
  return exitCode;
}

int ScenePlay::Execute() {
  if (!LoadScene()) return kExitBadInput;
  std::vector<uint8_t> initialBlock;
  if (!PrepareBlock(&initialBlock)) return kExitBadInput;
  if (!LoadPlugin()) return kExitNoPlugin;
  if (!OutputsAreApart()) return kExitBadInput;
  if (!MakeOutDirectory()) return kExitBadInput;
  std::string message;
  if (!trace_.Open(options_.tracePath, &message)) {
    fprintf(stderr, "vestrel-host: %s\n", message.c_str());
    return kExitBadInput;
  }

  std::string home = HomeDirectory();
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

  PlayCalls();

  finalBlock_ = session_->BlockBytes();
  session_->Finish();
  NoteFaultsNeverFired();
  theHostServices = nullptr;
  bool written = WriteOutputs();
  int exitCode = findings_.Failed() ? kExitPluginFault : written ? kExitOk : kExitBadInput;
  return PrintSummary(exitCode);
}

}  // namespace

int Play(const PlayOptions& options, std::ostream& out) {
  ScenePlay play(options, out);
  return play.Execute();
}

}  // namespace vhost
