// vestrel-host: the reference host. Loads the Vestrel plug-in as a host
// application would and plays a scene through it.
//
//   vestrel-host                      plays the embedded default scene
//   vestrel-host play [SCENE] [options]
//   vestrel-host import FILE [options]  (glTF motion into a scene)
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "hostkit/host_services.h"
#include "reference_host/play/html_output.h"
#include "reference_host/play/player.h"
#include "reference_host/play/safe_files.h"
#include "reference_host/printable_text.h"
#include "reference_host/validate/validate.h"
#ifdef VHOST_HAS_IMPORT
#include "reference_host/import/import.h"
#include "reference_host/import/sandbox.h"
#endif

namespace {

// The fault options as given, before they are parsed into the plan.
struct FaultSpecs {
  std::vector<std::string> refusals, callRefusals, refusedFunctions, hiddenFunctions,
      functionCallRefusals, hiddenLookups;
};

namespace fs = std::filesystem;

void AddPlayOptions(CLI::App& play, vhost::PlayOptions& options, FaultSpecs& faults,
                    std::string& memoryCheck, std::string& byteOrder, bool& dialog,
                    bool& noDialog) {
  play.add_option("scene", options.scenePath,
                  "Scene file (JSON); without one, the embedded default scene is played");
  play.add_option("--plugin", options.pluginPath,
                  "Plug-in to load (default: the Vestrel plug-in beside vestrel-host)");
  play.add_option("--home", options.homeDirectory,
                  "The host's home directory, where the resource file is looked for (default: the "
                  "plug-in's folder)");
  play.add_option("--out", options.outDirectory,
                  "Folder for <scene>.obj, <scene>.svg and <scene>.gltf");
  play.add_option("--obj", options.objPath, "Write the generated line as a Wavefront OBJ file");
  play.add_option("--obj-axes", options.objInSourceAxes,
                  "The OBJ's axes: host (Z up, the default) or source (as the glTF: the import's "
                  "turn and scale undone, Y up for a scene written by hand)")
      ->transform(CLI::CheckedTransformer(std::map<std::string, bool>{{"host", false},
                                                                      {"source", true}}));
  play.add_option("--svg", options.svgPath,
                  "Write a picture of the path, the stored points and the line (SVG)");
  play.add_option("--gltf", options.gltfPath,
                  "Write the generated line as glTF 2.0 (.glb by extension, else .gltf)");
  std::string noPage;
  play.add_option("--html", options.htmlPath,
                  vhost::HtmlPageBuilt(&noPage)
                      ? "Write a 3-D page of the trails to open in a browser (one HTML file; "
                        "without a name, <scene>.html under --out)"
                      : "Not in this build: " + noPage)
      ->expected(0, 1);
  play.add_option("--trace", options.tracePath,
                  "Write every entry call, host call and host function call as JSON Lines");
  play.add_option("--summary-json", options.summaryJsonPath, "Write the summary as JSON");
  play.add_option("--save-block", options.saveBlocks,
                  "Save the parameter block to a file at the end: PATH, or INSTANCE=PATH for one "
                  "of a scene's several groups (repeatable)");
  play.add_option("--load-block", options.loadBlocks,
                  "Start the instance with the parameter block in this file (as stored, in either "
                  "byte order): PATH, or INSTANCE=PATH for one of several groups (repeatable)");
  play.add_option("--block-byte-order", byteOrder,
                  "Byte order of stored blocks: the one --save-block writes, and the one a "
                  "--load-block block is turned into before the plug-in sees it")
      ->check(CLI::IsMember({"native", "swapped"}));
  play.add_option("--call-order", options.callOrder,
                  "In a scene of several groups, at each render frame: group (each group's "
                  "'SETM' then its 'GENM', the default) or setup-first (every 'SETM', then every "
                  "'GENM')")
      ->transform(CLI::CheckedTransformer(
          std::map<std::string, vhost::CallOrder>{{"group", vhost::CallOrder::kGroupByGroup},
                                                  {"setup-first", vhost::CallOrder::kSetupPassFirst}}));
  play.add_flag("--interactive", options.interactive,
                "Run the plug-in's dialog on the terminal (sends 'INTF')");
  play.add_flag(
      "--dialog", dialog,
      "Send 'INTF' even when the scene scripts no dialog (the user accepts what is shown)");
  play.add_flag("--no-dialog", noDialog,
                "Do not send 'INTF', even when the scene scripts the dialog");
  play.add_option("--refuse", faults.refusals,
                  "Refuse every call of a selector: SEL or SEL:CODE (e.g. TOBJ:-1)");
  play.add_option("--refuse-call", faults.callRefusals,
                  "Refuse the Nth call of the host callback (from 1): N or N:CODE");
  play.add_option("--refuse-function", faults.refusedFunctions,
                  "A host function refuses service (returns null or 0): NAME");
  play.add_option("--refuse-function-call", faults.functionCallRefusals,
                  "The Nth call of a host function (from 1, over all of them) refuses service: N");
  play.add_option("--hide-lookup", faults.hiddenLookups,
                  "The plug-in's Nth lookup of a host function by name (from 1) finds nothing; a "
                  "later lookup finds it (glibc only): N");
  play.add_option("--hide-function", faults.hiddenFunctions,
                  "A host function is missing: the plug-in's lookup does not find it: NAME");
  play.add_option("--memory-check", memoryCheck,
                  "How writes past host memory are caught: guard (guard pages, POSIX) or canary")
      ->check(CLI::IsMember({"guard", "canary"}));
  play.add_option("--max-frames", options.limits.maxFrames, "Largest frame range a scene may have")
      ->check(CLI::Range(int64_t(1), int64_t(1000000)));
  play.add_option("--max-render-frames", options.limits.maxRenderFrames,
                  "Most render frames a scene may ask for ('SETM' and 'GENM' at each)")
      ->check(CLI::Range(int64_t(1), int64_t(100000)));
}

// Turns the fault options into the plan; false with a message on a bad one.
bool BuildFaults(vhost::PlayOptions& options, const FaultSpecs& faults) {
  std::string message;
  vhost::FaultPlan& plan = options.faults;
  for (const std::string& spec : faults.refusals) {
    if (!plan.AddSelectorRefusal(spec, &message)) break;
  }
  for (const std::string& spec : faults.callRefusals) {
    if (message.empty() && !plan.AddCallRefusal(spec, &message)) break;
  }
  for (const std::string& name : faults.refusedFunctions) {
    if (message.empty() && !plan.AddFunctionRefusal(name, &message)) break;
  }
  for (const std::string& number : faults.functionCallRefusals) {
    if (message.empty() && !plan.AddFunctionCallRefusal(number, &message)) break;
  }
  for (const std::string& number : faults.hiddenLookups) {
    if (message.empty() && !plan.AddHiddenLookup(number, &message)) break;
  }
  if (message.empty() && !faults.hiddenLookups.empty() && !VHOST_CAN_HIDE_FUNCTIONS)
    message = "--hide-lookup: this build cannot keep the plug-in's lookups from finding a function";
  for (const std::string& name : faults.hiddenFunctions) {
    if (message.empty() && !plan.AddHiddenFunction(name, &message)) break;
  }
  if (message.empty()) return true;
  std::cerr << "vestrel-host: " << message << "\n";
  return false;
}

void AddValidateOptions(CLI::App& validate, vhost::ValidateOptions& options, uint64_t& seed,
                        std::string& memoryCheck, bool& noIsolation, std::string& level) {
  validate.add_option("plugin", options.pluginPath,
                      "Plug-in to validate (default: the Vestrel plug-in beside vestrel-host)");
  validate.add_option("--home", options.homeDirectory,
                      "The host's home directory, where the resource file is looked for (default: "
                      "the plug-in's folder)");
  validate.add_option("--seed", seed,
                      "Seed of the random checks; a run with the same seed makes the same checks "
                      "(default: a fresh one, printed)");
  validate
      .add_option("--time-limit", options.timeLimitSeconds,
                  "Seconds for the whole run: the random rounds fill what the fixed checks leave")
      ->check(CLI::Range(0.0, 86400.0));
  validate
      .add_option("--check-timeout", options.checkTimeoutSeconds,
                  "Seconds after which a check counts as hung")
      ->check(CLI::Range(1.0, 86400.0));
  validate.add_option("--only", options.only,
                      "Run only the check with this id, or the checks under this id prefix "
                      "(faults/, blocks/size-7); repeatable");
  validate.add_flag("--no-isolation", noIsolation,
                    "Run every check in this process instead of a child process each (a crash then "
                    "ends the run)");
  validate.add_flag("--failures-only", options.failuresOnly,
                    "Print only the failed checks and the totals");
  validate
      .add_option("--level", level,
                  "quick (the default): the battery CI runs; thorough: a longer session with "
                  "every host call refused in turn, at least 10,000 blocks and 1,000 sets of "
                  "host answers")
      ->check(CLI::IsMember({"quick", "thorough"}));
  validate
      .add_option("--memory-check", memoryCheck,
                  "How writes past host memory are caught: guard (guard pages, POSIX) or canary")
      ->check(CLI::IsMember({"guard", "canary"}));
}

#ifdef VHOST_HAS_IMPORT
// The choices of an import, shared by `import` and `play FILE`.
struct ImportArgs {
  vhost::ImportOptions options;
  std::vector<double> offset;
  std::string up;
  std::string scenePath;  // import -o
  bool list = false;
  uint64_t maxMemoryMegabytes = vhost::kDefaultMaxMemoryMegabytes;
  bool withSource = false;  // play: the source glTF written whole beside the trails
};

void AddImportOptions(CLI::App& app, ImportArgs& args) {
  app.add_option("--node", args.options.nodes,
                 "Node whose motion is taken, each by a group of its own (name or index; "
                 "repeatable; default: the one node the animation moves)");
  app.add_flag("--all-nodes", args.options.allAnimatedNodes,
               "Take every node the animation moves, each by a group of its own");
  app.add_option("--animation", args.options.animation,
                 "Animation (name or index; default: the only one)");
  app.add_option("--fps", args.options.fps,
                 "Frames per second sampled (default: a BVH or FBX file's own rate, else 24)")
      ->check(CLI::Range(0.001, 1000.0));
  app.add_option("--frames", args.options.frames, "Frame range A:B (default: the whole animation)");
  app.add_option("--up", args.up,
                 "The file's up axis: y (turned into the host's Z-up; the default for glTF) or z "
                 "(taken as it is)")
      ->check(CLI::IsMember({"y", "z"}));
  app.add_option("--scale", args.options.scale, "Factor on every position (default 1)");
  app.add_option("--offset", args.offset,
                 "A point fixed to the node, in its own axes, traced instead of its origin")
      ->expected(3);
  app.add_option("--max-memory", args.maxMemoryMegabytes,
                 "Megabytes of memory the reading of an animation file may use (default 2048)")
      ->check(CLI::Range(uint64_t(64), uint64_t(1) << 20));
}

bool ImportOptionsGiven(const CLI::App& app) {
  for (const char* name :
       {"--node", "--all-nodes", "--animation", "--fps", "--frames", "--up", "--scale",
        "--offset", "--max-memory", "--with-source"})
    if (app.count(name) != 0) return true;
  return false;
}

void FinishImportArgs(ImportArgs& args) {
  if (!args.up.empty()) args.options.up = args.up[0];
  if (args.offset.size() == 3)
    args.options.offset = {args.offset[0], args.offset[1], args.offset[2]};
}

vhost::ImportAnswer ReadInSandbox(const std::string& path, ImportArgs& args,
                                  const vhost::SceneLimits& limits) {
  FinishImportArgs(args);
  vhost::ImportRequest request;
  request.path = path;
  request.options = args.options;
  request.limits = limits;
  request.list = args.list;
  request.maxMemoryMegabytes = args.maxMemoryMegabytes;
  return vhost::ImportInSandbox(request);
}

// Text for the standard output, which may be a full disk or a closed pipe:
// false when not all of it got there.
bool PrintAll(const std::string& text) {
  std::cout << text << std::flush;
  return bool(std::cout);
}

// `vestrel-host import FILE`: lists the file or writes the scene.
int RunImport(const std::string& path, ImportArgs& args, const vhost::SceneLimits& limits) {
  vhost::ImportAnswer answer = ReadInSandbox(path, args, limits);
  if (!answer.error.empty()) {
    std::cerr << "vestrel-host: " << vhost::EscapedText(answer.error) << "\n";
    return vhost::kExitBadInput;
  }
  if (args.list) {
    if (PrintAll(answer.listText)) return vhost::kExitOk;
    std::cerr << "vestrel-host: the listing could not be written to the standard output\n";
    return vhost::kExitBadInput;
  }
  if (args.scenePath.empty() || args.scenePath == "-") {
    std::cerr << answer.reportLine;
    if (PrintAll(answer.sceneText)) return vhost::kExitOk;
    std::cerr << "vestrel-host: the scene could not be written to the standard output\n";
    return vhost::kExitBadInput;
  }
  std::vector<vhost::RunFile> inputs = {{"the animation file", path}};
  for (const std::string& read : answer.filesRead) inputs.push_back({"a file it names", read});
  std::string message;
  if (!vhost::OutputApartFromInputs("-o", args.scenePath, inputs, &message)) {
    std::cerr << "vestrel-host: " << vhost::EscapedText(message) << "; nothing was written\n";
    return vhost::kExitBadInput;
  }
  if (!vhost::WriteFileAtomically(args.scenePath, answer.sceneText, &message)) {
    std::cerr << "vestrel-host: " << vhost::EscapedText(message) << "\n";
    return vhost::kExitBadInput;
  }
  if (PrintAll(answer.reportLine + "wrote " + args.scenePath + "\n")) return vhost::kExitOk;
  return vhost::kExitBadInput;
}

// --with-source: a glTF source is carried whole into the .glb beside its
// trails. Other formats have no glTF to carry; converting their skeletons
// would be a different file than the user asked for, so they are refused.
bool SetSourceForGltf(vhost::PlayOptions& options) {
  const std::string extension = fs::path(options.scenePath).extension().string();
  const std::string gltfExtension = fs::path(options.gltfPath).extension().string();
  if (extension != ".glb" && extension != ".gltf" && extension != ".GLB" && extension != ".GLTF") {
    std::cerr << "vestrel-host: --with-source carries a glTF source into the .glb; "
              << options.scenePath
              << " is not glTF, and its skeleton and animation are not converted (write the "
                 "trails alone with --gltf)\n";
    return false;
  }
  if (gltfExtension != ".glb" && gltfExtension != ".GLB") {
    std::cerr << "vestrel-host: --with-source writes one .glb: give --gltf FILE.glb\n";
    return false;
  }
  options.withSourcePath = options.scenePath;
  return true;
}

// `vestrel-host play FILE` with an animation file: the import's scene is played.
bool ImportForPlay(vhost::PlayOptions& options, ImportArgs& args) {
  if (args.withSource && !SetSourceForGltf(options)) return false;
  vhost::ImportAnswer answer = ReadInSandbox(options.scenePath, args, options.limits);
  if (!answer.error.empty()) {
    std::cerr << "vestrel-host: " << vhost::EscapedText(answer.error) << "\n";
    return false;
  }
  std::cout << answer.reportLine;
  options.sceneText = answer.sceneText;
  for (const std::string& read : answer.filesRead)
    options.otherInputs.push_back({"a file the animation file names", read});
  return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "vestrel-host: the reference host of the Vestrel plug-in. It loads the plug-in, plays a "
      "scene "
      "through it and checks every call the plug-in makes. Without a subcommand it plays the "
      "embedded default scene."};
  app.require_subcommand(0, 1);

  vhost::PlayOptions options;
  FaultSpecs faults;
  std::string memoryCheck = vhost::GuardPagesAvailable() ? "guard" : "canary";
  std::string byteOrder;
  bool dialog = false, noDialog = false;

  CLI::App* play =
      app.add_subcommand("play", "Play a scene through the plug-in and print a summary");
  AddPlayOptions(*play, options, faults, memoryCheck, byteOrder, dialog, noDialog);

  vhost::ValidateOptions validateOptions;
  uint64_t seed = 0;
  bool noIsolation = false;
  std::string validateMemoryCheck = memoryCheck;
  CLI::App* validate =
      app.add_subcommand("validate",
                         "Run the validation battery against a plug-in: injected faults, hostile "
                         "blocks and host answers, odd call orders, save and load");
  std::string level = "quick";
  AddValidateOptions(*validate, validateOptions, seed, validateMemoryCheck, noIsolation, level);

#ifdef VHOST_HAS_IMPORT
  ImportArgs importArgs, playImportArgs;
  std::string importPath;
  vhost::SceneLimits importLimits;
  CLI::App* import =
      app.add_subcommand("import",
                         "Take a node's motion from an animation file (.gltf, .glb; .bvh, .fbx, "
                         ".dae where built with assimp) into a scene file");
  import->add_option("file", importPath, "The animation file")->required();
  import->add_option("-o,--output", importArgs.scenePath,
                     "The scene file to write (default: the standard output)");
  import->add_flag("--list", importArgs.list,
                   "List the node tree, the animated nodes and the animations, and stop");
  import->add_option("--max-frames", importLimits.maxFrames, "Largest frame range taken")
      ->check(CLI::Range(int64_t(1), int64_t(1000000)));
  AddImportOptions(*import, importArgs);
  AddImportOptions(*play, playImportArgs);
  play->add_flag("--with-source", playImportArgs.withSource,
                 "With --gltf FILE.glb and a glTF animation file: write the source asset whole "
                 "with one node per traced line at its scene root");
#endif

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int code = app.exit(error);
    return code == 0 ? 0 : vhost::kExitBadInput;
  }

#ifdef VHOST_HAS_IMPORT
  if (import->parsed()) return RunImport(importPath, importArgs, importLimits);
#endif
  if (validate->parsed()) {
    if (validateOptions.pluginPath.empty()) validateOptions.pluginPath = vhost::DefaultPluginPath();
    if (validate->count("--seed") != 0) validateOptions.seed = seed;
    validateOptions.isolate = !noIsolation;
    validateOptions.level =
        level == "thorough" ? vhost::ValidationLevel::kThorough : vhost::ValidationLevel::kQuick;
    validateOptions.memoryCheck = validateMemoryCheck == "guard" ? vhost::MemoryCheck::kGuardPage
                                                                 : vhost::MemoryCheck::kCanary;
    validateOptions.program = argc > 0 ? argv[0] : "vestrel-host";
    return vhost::Validate(validateOptions, std::cout);
  }
  if (dialog && noDialog) {
    std::cerr << "vestrel-host: --dialog and --no-dialog exclude each other\n";
    return vhost::kExitBadInput;
  }
  options.html = play->count("--html") != 0;
  if (dialog) options.sendDialog = true;
  if (noDialog) options.sendDialog = false;
  options.memoryCheck =
      memoryCheck == "guard" ? vhost::MemoryCheck::kGuardPage : vhost::MemoryCheck::kCanary;
  if (!byteOrder.empty())
    options.blockOrder =
        byteOrder == "swapped" ? vhost::ByteOrder::kSwapped : vhost::ByteOrder::kNative;
  if (!BuildFaults(options, faults))
    return vhost::kExitBadInput;
#ifdef VHOST_HAS_IMPORT
  if (vhost::IsAnimationFile(options.scenePath)) {
    if (!ImportForPlay(options, playImportArgs)) return vhost::kExitBadInput;
  } else if (ImportOptionsGiven(*play)) {
    std::cerr << "vestrel-host: --node, --all-nodes, --animation, --fps, --frames, --up, --scale, "
                 "--offset, --max-memory and --with-source apply to animation files only\n";
    return vhost::kExitBadInput;
  }
#endif
  return vhost::Play(options, std::cout);
}
