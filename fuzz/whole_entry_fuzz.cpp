// The whole entry, scripted by the fuzzer: everything a host can say. The
// input picks the host's creator code, the frame range, the objects and
// their parents, every position, the stored block, which host calls are
// refused and with what, which host functions exist, what the user types
// and presses in the dialog, and the sequence of entry calls. Whatever the
// host says, the plug-in must keep the host kit's protocol rules, give back
// every handle and all memory, and never crash.
#include <math.h>

#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/four_char_code.h"
#include "hostkit/block_codec.h"
#include "hostkit/protocol.h"
#include "tests/support/fake_dialog_host.h"
#include "tests/support/test_host.h"

namespace {

constexpr uint32_t kEntryChoices[] = {kSelectorInfo,  kSelectorInit,     kSelectorInterface,
                                      kSelectorSetup, kSelectorGenerate, FourCC("JUNK")};

// The scene: a frame range of up to 40 frames and up to 6 objects.
void ScriptScene(FuzzInput& input, TestHost& host) {
  host.creatorCode = (input.Take<uint8_t>() & 3) == 0 ? kCreatorXolr : FourCC("FUZZ");
  host.firstFrame = static_cast<int8_t>(input.Take<uint8_t>());
  host.lastFrame = host.firstFrame + static_cast<int32_t>(input.Take<uint8_t>() % 41) - 1;
  const int objects = input.Take<uint8_t>() % 7;
  host.objects.clear();
  for (int i = 0; i < objects; ++i) {
    const uint8_t shape = input.Take<uint8_t>();
    ScriptedObject object;
    object.reference = (shape & 0x80) != 0 ? 0 : uintptr_t(0x100 * (i + 1));
    object.parent = (shape & 7) < objects ? uintptr_t(0x100 * ((shape & 7) + 1)) : 0;
    host.objects.push_back(object);
  }
  if ((input.Take<uint8_t>() & 1) != 0) {
    host.useObjectCount = true;
    host.objectCount = static_cast<int8_t>(input.Take<uint8_t>());
  }
  // Positions from the input's bytes, NaN and infinities included.
  const std::vector<uint8_t> positions = input.Bytes(40 * 3 * sizeof(float));
  host.motion = [positions](uintptr_t, int32_t frame) {
    Position p{0, 0, 0};
    for (size_t k = 0; k < 3; ++k) {
      size_t at = (size_t(uint32_t(frame)) * 3 + k) * sizeof(float);
      if (at + sizeof(float) <= positions.size()) {
        float value;
        memcpy(&value, positions.data() + at, sizeof value);
        p[k] = value;
      } else {
        p[k] = double(frame) * (k + 1);
      }
    }
    return p;
  };
  host.allocShortfall = (input.Take<uint8_t>() & 7) == 0 ? input.Take<uint8_t>() : 0;
  host.memAllocReturnsNull = (input.Take<uint8_t>() & 15) == 0;
  host.firstVertexIndex = input.Take<int32_t>();
  host.vertexIndexStep = static_cast<int8_t>(input.Take<uint8_t>() | 1);
}

// Refusals: up to four callback calls by number, each with a code.
void ScriptRefusals(FuzzInput& input, TestHost& host) {
  const int refusals = input.Take<uint8_t>() % 5;
  for (int i = 0; i < refusals; ++i) {
    const size_t call = input.Take<uint8_t>();
    int32_t code = input.Take<int32_t>();
    host.RefuseCall(call, code == 0 ? -1 : code);
  }
}

// The function that gives back a handle of each kind.
const char* ReleaseFunction(const std::string& kind) {
  if (kind == "dialog") return vhost::kOrvoDestroyDialog;
  if (kind == "resource file") return vhost::kOrvoCloseResourceFile;
  if (kind == "file") return vhost::kOrvoDestroyFileRef;
  return vhost::kOrvoDestroyDirectoryRef;
}

// The dialog: hidden host functions, what the user types and presses.
// Returns the names of the hidden functions.
std::set<std::string> ScriptDialog(FuzzInput& input, FakeDialogHost& fake) {
  std::set<std::string> hiddenNames;
  // Now and then some host functions are missing, any of the sixteen.
  const uint16_t hidden = (input.Take<uint8_t>() & 3) == 0 ? input.Take<uint16_t>() : 0;
  for (int i = 0; i < vhost::kHostFunctionCount; ++i) {
    if ((hidden >> i) & 1) {
      fake.Hide(vhost::kHostFunctionNames[i]);
      hiddenNames.insert(vhost::kHostFunctionNames[i]);
    }
  }
  fake.textFillsWholeBuffer = (input.Take<uint8_t>() & 3) == 0;
  const std::vector<uint8_t> text = input.Bytes(input.Take<uint8_t>() % 64);
  const uint8_t buttons = input.Take<uint8_t>();
  fake.user = [text, buttons](FakeDialog& dialog) {
    if (FakeControl* edit = dialog.Control(3)) edit->text.assign(text.begin(), text.end());
    if (FakeControl* freeze = dialog.Control(4)) freeze->value = (buttons >> 1) & 1;
    if (FakeControl* reverse = dialog.Control(5)) reverse->value = (buttons >> 2) & 1;
    return (buttons & 1) != 0 ? 1 : 0;
  };
  return hiddenNames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  TestHost host;
  FakeDialogHost fake;
  ScriptScene(input, host);
  ScriptRefusals(input, host);
  const std::set<std::string> hidden = ScriptDialog(input, fake);
  const uint8_t blockKind = input.Take<uint8_t>();
  if ((blockKind & 3) != 0) host.SetBlock(input.Bytes(blockKind % 200));

  const int calls = 1 + input.Take<uint8_t>() % 10;
  for (int i = 0; i < calls; ++i) {
    const uint32_t selector = kEntryChoices[input.Take<uint8_t>() % 6];
    host.Send(selector);
    for (const std::string& violation : host.violations)
      fprintf(stderr, "fuzz: %s\n", violation.c_str());
    FUZZ_REQUIRE(host.violations.empty(), "the plug-in keeps the host's protocol rules");
    FUZZ_REQUIRE(fake.violations().empty(), "the plug-in uses only live handles");
    // A handle stays out only where the host hides the function that takes it back.
    for (const auto& live : fake.Live()) {
      FUZZ_REQUIRE(hidden.count(ReleaseFunction(live.first)) != 0,
                   "every handle is given back by the end of the call");
    }
    // ... and all sample memory, unless the host refused to take it back.
    bool freeRefused = false;
    for (const RecordedCall* call : host.CallsOf(kSelectorMemFree)) freeRefused |= call->refused;
    FUZZ_REQUIRE(host.outstandingMemory() == 0 || freeRefused, "all sample memory is given back");
    const std::vector<uint8_t> block = host.BlockBytes();
    if (block.size() >= vhost::kBlockMinSize && selector != kSelectorInfo &&
        selector != FourCC("JUNK") && vhost::DecodeBlock(block.data(), block.size()).native) {
      const vhost::BlockView view = vhost::DecodeBlock(block.data(), block.size());
      FUZZ_REQUIRE(view.count >= 0 && view.count <= vhost::BlockCapacity(block.size()),
                   "the stored count fits the block");
    }
  }
  return 0;
}
