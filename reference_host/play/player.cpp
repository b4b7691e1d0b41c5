#include "reference_host/play/player.h"

#include <stdio.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "hostkit/call_views.h"
#include "hostkit/dialogs.h"
#include "hostkit/file_read.h"
#include "reference_host/play/terminal_dialog.h"
#include "hostkit/findings.h"
#include "hostkit/host_services.h"
#include "hostkit/host_session.h"
#include "reference_host/play/gltf_output.h"
#include "reference_host/play/html_output.h"
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

// The largest source --with-source carries: as large as an animation file
// the import reads.
constexpr size_t kMaxSourceBytes = size_t(256) << 20;

std::string PascalText(const unsigned char* field) {
  return std::string(reinterpret_cast<const char*>(field) + 1, field[0]);
}

// Everything the run needs, in the order it is made and torn down.
class ScenePlay {
 public:
  ScenePlay(const PlayOptions& options, std::ostream& out) : options_(options), out_(out) {}
  int Execute();

 private:
  // One group of the plug-in in the scene: its own scene (its group at
  // index 0), the session that serves its calls and its block at the end.
  struct Instance {
    Scene scene;
    std::vector<uint8_t> initialBlock;
    ModelRecorder recorder;  // the group's lines and samples, from its calls as served
    std::unique_ptr<HostSession> session;
    std::vector<uint8_t> finalBlock;
  };

  bool LoadScene();
  bool LoadPlugin();
  bool FindInstance(const std::string& spec, const char* option, size_t* index,
                    std::string* path) const;
  bool PrepareBlocks();
  bool PrepareBlock(Instance& instance, const std::string& loadPath);
  void PlayCalls();
  void PlayFrame(int32_t frame);
  void NoteFaultsNeverFired();
  uint64_t CallbackCalls() const;
  int32_t Call(size_t instance, uint32_t selector, int32_t frame);
  void DescribeCall(const Instance& instance, const EntryCallReport& report,
                    const std::vector<uint8_t>& blockBefore);
  void NoteBorrowedMatrices(size_t instance, int32_t frame);
  std::vector<Trail> Trails() const;
  bool MakeOutDirectory();
  bool WriteOutputs();
  PageContent PageOfRun(const std::vector<Trail>& trails);
  std::string PageSourcePath(const std::vector<Trail>& trails) const;
  bool HtmlRequestHolds() const;
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
  std::vector<std::unique_ptr<Instance>> instances_;  // never moved: sessions hold their scenes
  std::optional<size_t> latestSetup_;  // the instance whose 'SETM' set the plug-in's matrices last
  PlaySummary summary_;
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
  std::vector<Scene> scenes = scene_.instances;
  if (scenes.empty()) {
    scenes.push_back(scene_);
    // The scene's one group is named after the node it traces, if any.
    scenes.back().name = scene_.source ? scene_.source->node : "";
  }
  for (Scene& scene : scenes) {
    instances_.push_back(std::make_unique<Instance>());
    instances_.back()->scene = std::move(scene);
  }
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

// A --save-block or --load-block value: "PATH" in a scene of one group,
// "INSTANCE=PATH" naming one of several.
bool ScenePlay::FindInstance(const std::string& spec, const char* option, size_t* index,
                             std::string* path) const {
  size_t equals = spec.find('=');
  if (equals != std::string::npos) {
    const std::string name = spec.substr(0, equals);
    for (size_t i = 0; i < instances_.size(); ++i) {
      if (!instances_[i]->scene.name.empty() && instances_[i]->scene.name == name) {
        *index = i;
        *path = spec.substr(equals + 1);
        return true;
      }
    }
  }
  if (instances_.size() == 1) {
    *index = 0;
    *path = spec;
    return true;
  }
  std::string names;
  for (const auto& instance : instances_)
    names += (names.empty() ? "\"" : ", \"") + instance->scene.name + "\"";
  fprintf(stderr,
          "vestrel-host: %s %s names no group of the scene; it has %zu, give one as "
          "INSTANCE=PATH: %s\n",
          option, EscapedText(spec).c_str(), instances_.size(), EscapedText(names).c_str());
  return false;
}

bool ScenePlay::PrepareBlocks() {
  std::vector<std::string> loadPaths(instances_.size());
  for (const std::string& spec : options_.loadBlocks) {
    size_t index;
    std::string path;
    if (!FindInstance(spec, "--load-block", &index, &path)) return false;
    loadPaths[index] = path;
  }
  for (size_t i = 0; i < instances_.size(); ++i)
    if (!PrepareBlock(*instances_[i], loadPaths[i])) return false;
  summary_.initialBlock = BlockLine(instances_[0]->initialBlock);
  return true;
}

bool ScenePlay::PrepareBlock(Instance& instance, const std::string& loadPath) {
  std::vector<uint8_t>* initial = &instance.initialBlock;
  if (!loadPath.empty()) {
    std::string message;
    if (!LoadBlockFile(loadPath, GuardedHeap::kMaxAllocation, initial, &message)) {
      fprintf(stderr, "vestrel-host: %s\n", message.c_str());
      return false;
    }
  } else if (instance.scene.block) {
    *initial = *instance.scene.block;
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
  return true;
}

int32_t ScenePlay::Call(size_t index, uint32_t selector, int32_t frame) {
  Instance& instance = *instances_[index];
  std::vector<uint8_t> before = instance.session->BlockBytes();
  int32_t result = instance.session->Call(plugin_.entry(), selector, frame);
  DescribeCall(instance, instance.session->reports().back(), before);
  return result;
}

// What an entry call did, for the summary.
void ScenePlay::DescribeCall(const Instance& instance, const EntryCallReport& report,
                             const std::vector<uint8_t>& blockBefore) {
  const HostSession& session = *instance.session;
  EntrySummary entry;
  // 'INFO' is the plug-in's, not a group's.
  if (report.selector != kSelectorInfo && instances_.size() > 1)
    entry.instance = instance.scene.name;
  entry.selector = report.selector;
  entry.result = report.result;
  entry.frame = report.renderFrame;
  entry.hostCalls = report.calls;
  entry.refused = report.refused;
  const std::vector<uint8_t> after = session.BlockBytes();
  switch (report.selector) {
    case kSelectorInfo: {
      const HostPluginDescription& d = session.info().info;
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
      entry.creatorAnswered = instance.scene.creator;
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
      const GeneratedModel& model = instance.recorder.models().back();
      entry.model = EntrySummary::Model{model.vertices.size(), model.faces.size()};
      break;
    }
    default: break;
  }
  summary_.calls.push_back(std::move(entry));
}

// As a host opens a scene: 'INFO' once for the plug-in, 'INIT' for each of
// its groups in scene order (and 'INTF' where the user opens the dialog),
// then at every render frame 'SETM' and 'GENM' for each group, in the order
// the options choose.
void ScenePlay::PlayCalls() {
  int32_t frame = scene_.renderFirst;
  Call(0, kSelectorInfo, frame);
  for (size_t i = 0; i < instances_.size(); ++i) Call(i, kSelectorInit, frame);
  for (size_t i = 0; i < instances_.size(); ++i) {
    const Scene& scene = instances_[i]->scene;
    if (options_.sendDialog.value_or(scene.dialog.has_value() || options_.interactive))
      Call(i, kSelectorInterface, frame);
  }
  for (int64_t f = scene_.renderFirst; f <= scene_.renderLast; ++f)
    PlayFrame(static_cast<int32_t>(f));
}

void ScenePlay::PlayFrame(int32_t frame) {
  for (size_t i = 0; i < instances_.size(); ++i) {
    Call(i, kSelectorSetup, frame);
    latestSetup_ = i;
    if (options_.callOrder == CallOrder::kGroupByGroup) {
      NoteBorrowedMatrices(i, frame);
      Call(i, kSelectorGenerate, frame);
    }
  }
  if (options_.callOrder == CallOrder::kSetupPassFirst) {
    for (size_t i = 0; i < instances_.size(); ++i) {
      NoteBorrowedMatrices(i, frame);
      Call(i, kSelectorGenerate, frame);
    }
  }
}

// The plug-in keeps the group matrices of the latest 'SETM' for the whole
// process, and 'GENM' places the line with them: a group generated after
// another group's 'SETM' has its line placed with that group's matrices.
void ScenePlay::NoteBorrowedMatrices(size_t instance, int32_t frame) {
  if (!latestSetup_ || *latestSetup_ == instance) return;
  const Scene& own = instances_[instance]->scene;
  const Scene& other = instances_[*latestSetup_]->scene;
  bool same = own.groupMatrix == other.groupMatrix && own.blurMatrix == other.blurMatrix;
  findings_.Note("at frame " + std::to_string(frame) + " the line of group \"" + own.name +
                 "\" was placed with the matrices of group \"" + other.name + "\"'s 'SETM'" +
                 (same ? " (the same as its own)" : ", not its own: that line is misplaced"));
}

// Callback calls over every group's session.
uint64_t ScenePlay::CallbackCalls() const {
  uint64_t calls = 0;
  for (const auto& instance : instances_) calls += instance->session->callbackCalls();
  return calls;
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
    if (entry.first > CallbackCalls())
      note("--refuse-call", entry.first, CallbackCalls(), "host callback calls");
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

// What each group made, for the writers: its name, where its motion came
// from, its lines, the path its latest 'SETM' sampled and its stored points.
std::vector<Trail> ScenePlay::Trails() const {
  std::vector<Trail> trails;
  for (const auto& instance : instances_) {
    Trail trail;
    trail.name = instance->scene.name;
    trail.source = instance->scene.source;
    trail.models = instance->recorder.models();
    trail.samples = instance->recorder.lastSamples();
    BlockView block = DecodeBlock(instance->finalBlock.data(), instance->finalBlock.size());
    trail.storedPoints = block.points;
    if (block.isBlock) trail.toleranceDegrees = block.angle;
    trails.push_back(std::move(trail));
  }
  return trails;
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
  const std::vector<Trail> trails = Trails();
  add(OutputPath(options_.objPath, ".obj"), true,
      ObjText(trails, scene_.name, options_.objInSourceAxes), "");
  std::string svgPath = OutputPath(options_.svgPath, ".svg");
  if (!svgPath.empty())
    add(svgPath, true, SvgText("Vestrel line of scene \"" + scene_.name + "\"", trails), "");
  std::string gltfPath = OutputPath(options_.gltfPath, ".gltf");
  if (!gltfPath.empty()) {
    GltfContent content{scene_.name, &trails, {}, options_.withSourcePath};
    // The source is read here, bounded, and only parsed as JSON after a
    // check of its size and nesting; its bytes are copied, never rewritten.
    bool made = options_.withSourcePath.empty() ||
                ReadRegularFile(options_.withSourcePath, "source file", kMaxSourceBytes,
                                &content.sourceBytes, &message);
    made = made && GltfBytes(content, LowercaseExtension(gltfPath) == ".glb", &bytes, &message);
    add(gltfPath, made, bytes, "cannot write " + gltfPath + ": " + message);
  }
  if (options_.html)
    add(OutputPath(options_.htmlPath, ".html"), true, HtmlText(PageOfRun(trails)), "");
  for (const std::string& spec : options_.saveBlocks) {
    size_t index = 0;
    std::string path;
    FindInstance(spec, "--save-block", &index, &path);  // checked before the play
    bool made = BlockFileBytes(instances_[index]->finalBlock,
                               options_.blockOrder.value_or(ByteOrder::kNative), &bytes, &message);
    add(path, made, bytes, "cannot save the block: " + message);
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
                                 {"the plug-in", pluginPath_},
                                 {"the source --with-source carries", options_.withSourcePath}};
  for (const std::string& spec : options_.loadBlocks) {
    size_t index;
    std::string path;
    if (FindInstance(spec, "--load-block", &index, &path))
      inputs.push_back({"the loaded block", path});
  }
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

// The 3-D page of the run's trails; with a glTF source, the source model and
// its trails in one .glb inside the page, to play beside them.
PageContent ScenePlay::PageOfRun(const std::vector<Trail>& trails) {
  PageContent page = PageOfTrails(scene_.name, sceneSource_, trails);
  // A hand-written scene's instance is named after the child its group traces.
  for (size_t i = 0; i < page.instances.size() && i < instances_.size(); ++i) {
    if (trails[i].source) continue;
    for (const SceneObject& object : instances_[i]->scene.objects) {
      if (object.parent != 0) continue;
      page.instances[i].node = object.name;
      if (trails[i].name.empty()) page.instances[i].name = object.name;
      break;
    }
  }
  const std::string sourcePath = PageSourcePath(trails);
  if (!sourcePath.empty()) {
    // A source that cannot be carried (its buffers in files beside it, say)
    // leaves the page with the trails alone.
    GltfContent content{scene_.name, &trails, {}, sourcePath};
    std::string message;
    if (!ReadRegularFile(sourcePath, "source file", kMaxSourceBytes, &content.sourceBytes,
                         &message) ||
        !GltfBytes(content, true, &page.glb, &message)) {
      findings_.Note("the 3-D page shows the trails without their source model: " + message);
      page.glb.clear();
    }
  }
  return page;
}

// The glTF file the trails were imported from, where the run has it: the
// --with-source file or the animation file played.
std::string ScenePlay::PageSourcePath(const std::vector<Trail>& trails) const {
  if (!options_.withSourcePath.empty()) return options_.withSourcePath;
  if (trails.empty() || !trails.front().source || trails.front().source->format != "glTF" ||
      options_.sceneText.empty())
    return {};
  return options_.scenePath;
}

// --html names a file, or --out gives the folder for one; and this
// vestrel-host carries the page.
bool ScenePlay::HtmlRequestHolds() const {
  if (!options_.html) return true;
  std::string whyNot;
  if (!HtmlPageBuilt(&whyNot)) {
    fprintf(stderr, "vestrel-host: %s; nothing was played\n", whyNot.c_str());
    return false;
  }
  if (options_.htmlPath.empty() && options_.outDirectory.empty()) {
    fprintf(stderr, "vestrel-host: --html without a file name needs --out; nothing was played\n");
    return false;
  }
  return true;
}

// Every output names a file of its own, none of them one of the run's inputs:
// a mistyped option must not overwrite the scene, the block or the plug-in.
bool ScenePlay::OutputsAreApart() const {
  std::vector<RunFile> inputs = InputsOfRun();
  std::vector<std::pair<std::string, std::string>> outputs = {
      {"--obj", OutputPath(options_.objPath, ".obj")},
      {"--svg", OutputPath(options_.svgPath, ".svg")},
      {"--gltf", OutputPath(options_.gltfPath, ".gltf")},
      {"--html", options_.html ? OutputPath(options_.htmlPath, ".html") : ""},
      {"--trace", options_.tracePath},
      {"--summary-json", options_.summaryJsonPath}};
  for (const std::string& spec : options_.saveBlocks) {
    size_t index;
    std::string path;
    if (!FindInstance(spec, "--save-block", &index, &path)) return false;
    outputs.push_back({"--save-block", path});
  }
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
  summary_.objects = 0;
  for (const auto& instance : instances_) summary_.objects += instance->scene.objects.size();
  summary_.groups = instances_.size();
  summary_.creator = scene_.creator;
  summary_.renderFirst = scene_.renderFirst;
  summary_.renderLast = scene_.renderLast;
  summary_.pluginPath = pluginPath_;
  summary_.finalBlock = instances_[0]->finalBlock;
  for (const auto& instance : instances_) {
    summary_.hostCalls += instance->session->callbackCalls();
    for (const auto& total : instance->session->totals())
      summary_.hostCallTotals[total.first] += total.second;
  }
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
  if (!PrepareBlocks()) return kExitBadInput;
  if (!LoadPlugin()) return kExitNoPlugin;
  if (!HtmlRequestHolds() || !OutputsAreApart()) return kExitBadInput;
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
  for (auto& instance : instances_) {
    instance->session = std::make_unique<HostSession>(instance->scene, *heap_, options_.faults,
                                                      findings_, *services_);
    instance->session->AddObserver(&trace_);
    instance->session->AddObserver(&instance->recorder);
    if (!instance->initialBlock.empty() && !instance->session->SetBlock(instance->initialBlock)) {
      fprintf(stderr, "vestrel-host: the stored parameter block is too large\n");
      return kExitBadInput;
    }
  }
  theHostServices = services_.get();

  PlayCalls();

  for (auto& instance : instances_) {
    instance->finalBlock = instance->session->BlockBytes();
    instance->session->Finish();
  }
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
