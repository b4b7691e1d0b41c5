// The host-answer path of the capture: whatever the host answers to 'TINF',
// 'UOBJ', 'TOBJ', 'MMAL' and 'ALOC', and whichever call it refuses, 'SETM'
// and 'GENM' neither crash nor touch memory outside what the host gave, give
// back the sample memory, close the sampling they opened, and leave a sound
// block.
//
// Input: settings, the frame range, the objects, eight positions (raw
// doubles, cycled over the frames), the group matrix, a refusal.
#include <math.h>

#include "controldata/control_data.h"
#include "fuzz/fuzz_support.h"
#include "geometry/capture_records.h"
#include "tests/support/test_host.h"

namespace {

// Frame ranges from the edges of 32 bits; most inputs take a short range.
const int32_t kEdges[][2] = {{INT32_MIN, INT32_MAX},     {INT32_MAX, INT32_MIN},
                             {INT32_MAX - 2, INT32_MAX}, {INT32_MIN, INT32_MIN + 2},
                             {0, (INT32_MAX - 52) / 16}, {5, -5}};

void SetFrames(TestHost& host, FuzzInput& input, uint8_t settings) {
  const int16_t first = input.Take<int16_t>();
  const uint8_t length = input.Take<uint8_t>();
  if ((settings & 0x20) != 0) {
    const auto& edge = kEdges[length % (sizeof kEdges / sizeof kEdges[0])];
    host.firstFrame = edge[0];
    host.lastFrame = edge[1];
    return;
  }
  host.firstFrame = first;
  host.lastFrame = first + int32_t(length) - 2;
}

// Up to eight objects; each may be null and names its parent by index.
void SetObjects(TestHost& host, FuzzInput& input) {
  const size_t count = 1 + input.Take<uint8_t>() % 8;
  host.objects.clear();
  std::vector<uint8_t> parents;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t shape = input.Take<uint8_t>();
    host.objects.push_back({(shape & 0x80) != 0 ? 0 : 0x100 * (i + 1), 0});
    parents.push_back(shape & 0x7F);
  }
  for (size_t i = 0; i < count; ++i) {
    if (parents[i] < count) host.objects[i].parent = host.objects[parents[i]].reference;
  }
  const uint8_t announced = input.Take<uint8_t>();
  if ((announced & 0x80) != 0) {
    // A count of the host's own: negative, or some past the objects (those
    // answer null references). Never so many that the search takes long.
    host.useObjectCount = true;
    host.objectCount = (announced & 0x40) != 0 ? -int32_t(announced & 0x3F) - 1
                                               : int32_t(count) - 1 + (announced & 0x1F);
  }
}

void CheckSound(const TestHost& host) {
  std::vector<uint8_t> block = host.BlockBytes();
  if (block.size() < 52) return;  // the host granted less than a block: the instance has none
  uint32_t magic;
  int32_t count;
  memcpy(&magic, block.data(), 4);
  memcpy(&count, block.data() + 32, 4);
  FUZZ_REQUIRE(magic == kControlDataMagic, "the block is native");
  FUZZ_REQUIRE(count >= 0 && count <= CControlData::Capacity(static_cast<int32_t>(block.size())),
               "the count fits the block");
}

// The sampling a 'SETM' opened ends with a 'SYNC' of flag 0, and its memory
// went back. (The block is not checked here: a host that grants a resize
// smaller than asked leaves the old count in a block that cannot hold it; the
// plug-in writes nothing there, and its next fetch bounds the count.)
void CheckSetup(const TestHost& host) {
  bool open = false;
  for (const RecordedCall* sync : host.CallsOf(kSelectorSyncFrame))
    open = sync->Sent<HostSyncFrameRec>().samplingFlag == 1;
  FUZZ_REQUIRE(!open, "'SETM' closes the sampling it opened");
  // Every memory 'MMAL' gave is named by an 'MFRE' (which the host may have
  // refused: then the memory stays out, but not by the plug-in's fault).
  for (const RecordedCall* alloc : host.CallsOf(kSelectorMemAlloc)) {
    void* memory = alloc->Answered<HostMemAllocRec>().memoryAddress;
    if (alloc->result != 0 || memory == nullptr) continue;
    bool returned = false;
    for (const RecordedCall* free : host.CallsOf(kSelectorMemFree))
      returned |= free->Sent<HostMemFreeRec>().memoryAddress == memory;
    FUZZ_REQUIRE(returned, "'SETM' returns its sample memory");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint8_t settings = input.Take<uint8_t>();
  TestHost host;
  host.creatorCode = (settings & 1) != 0 ? kCreatorXolr : FourCC("TEST");
  host.memAllocReturnsNull = (settings & 2) != 0;
  host.allocShortfall = (settings & 4) != 0 ? input.Take<uint8_t>() : 0;
  if ((settings & 8) != 0) {
    host.SetBlock(TestHost::MakeBlock(input.Take<float>(), 0, settings & 0x10,
                                      {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}));
  }
  SetFrames(host, input, settings);
  SetObjects(host, input);
  std::vector<double> positions;
  for (int i = 0; i < 8; ++i) positions.push_back(input.Take<double>());
  host.motion = [positions](uintptr_t object, int32_t frame) {
    size_t at = (uint32_t(frame) + object / 0x100) % 8;
    return Position{positions[at], positions[(at + 3) % 8], -positions[(at + 5) % 8]};
  };
  for (double& element : host.groupMatrix) element = input.Take<double>();
  const uint8_t refusedCall = input.Take<uint8_t>();
  if (refusedCall != 0) host.RefuseCall(refusedCall - 1, input.Take<int32_t>() | 1);

  host.Send(kSelectorInit);
  host.ClearCalls();
  host.Send(kSelectorSetup);
  CheckSetup(host);
  host.Send(kSelectorGenerate);
  CheckSound(host);
  host.ClearCalls();
  host.Send(kSelectorSetup);
  CheckSetup(host);
  host.Send(kSelectorGenerate);
  CheckSound(host);
  FUZZ_REQUIRE(host.violations.empty(), "the host saw no protocol violation");
  return 0;
}
