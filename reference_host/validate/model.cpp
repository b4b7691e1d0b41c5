#include "reference_host/validate/model.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "hostkit/block_codec.h"
#include "hostkit/protocol.h"

namespace vhost {

namespace {

constexpr int32_t kPathNodeSize = 16 + 2 * static_cast<int32_t>(sizeof(void*));
const char* const kDescriptionText =
    "This plug-in creates a line of particles from motion path of its first child group";

template <typename T>
T Read(const std::vector<uint8_t>& bytes, size_t at) {
  T value;
  memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

template <typename T>
void Write(std::vector<uint8_t>& bytes, size_t at, T value) {
  memcpy(bytes.data() + at, &value, sizeof value);
}

// The block the host hands back from 'ALOC': the old bytes up to the smaller
// size, zeros after them (the host's fresh memory is cleared).
std::vector<uint8_t> HostMove(const BlockState& old, int64_t granted) {
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(0, granted)), 0);
  if (old.present)
    std::copy_n(old.bytes.begin(), std::min(bytes.size(), old.bytes.size()), bytes.begin());
  return bytes;
}

// The arguments of a call of the expected selector (defaults when the host
// could not read the record).
template <typename T>
T Args(const ServedCall* call) {
  const T* arguments = call->As<T>();
  return arguments != nullptr ? *arguments : T{};
}

// The points a block of size bytes is sized for (52 + 16 k bytes for k).
int64_t PointsOfSize(int64_t size) {
  return (size - int64_t(kBlockMinSize)) / int64_t(kBlockPointSize);
}

// Where point i of a block starts.
size_t PointAt(int64_t i) { return kBlockHeaderSize + kBlockPointSize * size_t(i); }

uintptr_t Address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

bool SameDouble(double a, double b) { return a == b || (isnan(a) && isnan(b)); }

bool SameFloatBits(float a, float b) {
  uint32_t x, y;
  memcpy(&x, &a, 4);
  memcpy(&y, &b, 4);
  return x == y || (isnan(a) && isnan(b));
}

std::string Number(double value) {
  char text[64];
  snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// What a byte offset of the block holds, for messages.
std::string FieldAt(size_t offset) {
  if (offset < kBlockAngleAt) return "the magic";
  if (offset < kBlockFreezeAt) return "the angle tolerance";
  if (offset < kBlockReverseAt) return "the freeze flag";
  if (offset < kBlockReverseAt + 4) return "the reverse flag";
  if (offset < kBlockCountAt) return "the reserved bytes";
  if (offset < kBlockHeaderSize) return "the point count";
  return "point " + std::to_string((offset - kBlockHeaderSize) / kBlockPointSize);
}

void TransformPoint(double point[3], const double m[16]) {
  const double x = point[0], y = point[1], z = point[2];
  point[0] = ((x * m[0] + y * m[4]) + z * m[8]) + m[12];
  point[1] = ((x * m[1] + y * m[5]) + z * m[9]) + m[13];
  point[2] = ((x * m[2] + y * m[6]) + z * m[10]) + m[14];
}

double FixDoubleBits(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  if (bits == 0x8000000000000000ull || (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull)
    return 0.0;
  return value;
}

// The angle the dialog stores from the text of its edit: the first 255
// characters scanned as a real, no number being 0, then negative zero,
// infinities and NaNs made 0, then narrowed to float.
float AngleFromText(const std::string& text) {
  std::string cut = text.substr(0, 255);
  cut = cut.substr(0, strlen(cut.c_str()));
  double value = 0.0;
  sscanf(cut.c_str(), "%lf", &value);
  return static_cast<float>(FixDoubleBits(value));
}

class Walk {
 public:
  Walk(const EntryObservation& call, ProcessModel& model, std::vector<std::string>* problems)
      : call_(call), model_(model), problems_(problems) {}

  void Run() {
    expectedAfter_ = call_.before;
    switch (call_.selector) {
      case kSelectorInfo: Information(); break;
      case kSelectorInit: Initialize(); break;
      case kSelectorInterface: Interface(); break;
      case kSelectorSetup: Setup(); break;
      case kSelectorGenerate: Generate(); break;
      default: break;  // any other selector: nothing at all
    }
    if (stopped_) return;
    if (next_ < call_.calls.size()) {
      const ServedCall& extra = call_.calls[next_];
      Problem("sent " + Quoted(extra.selector) + " (host call " + std::to_string(next_ + 1) +
              " of the call) " +
              (next_ == 0 ? "although the design makes no host call here"
                          : "after " + lastStep_ + ", where the design makes no further call"));
      return;
    }
    if (call_.result != expectedResult_) {
      Problem("returned " + std::to_string(call_.result) + ", the design returns " +
              std::to_string(expectedResult_) +
              (resultWhy_.empty() ? "" : " (" + resultWhy_ + ")"));
    }
    if (checkBlock_) CompareBlock(expectedAfter_, call_.after);
  }

 private:
  void Problem(const std::string& text) {
    problems_->push_back(Quoted(call_.selector) + ": " + text);
  }

  // The next callback call, which must be of selector; null (and the walk
  // stops) when it is not.
  const ServedCall* Expect(uint32_t selector, const std::string& what) {
    if (stopped_) return nullptr;
    if (next_ >= call_.calls.size()) {
      Problem("expected " + Quoted(selector) + " " + what +
              (next_ == 0 ? "" : " after " + lastStep_) + ", but the call ended there");
      stopped_ = true;
      return nullptr;
    }
    const ServedCall& got = call_.calls[next_];
    if (got.selector != selector) {
      Problem("expected " + Quoted(selector) + " " + what +
              (next_ == 0 ? "" : " after " + lastStep_) + ", the plug-in sent " +
              Quoted(got.selector));
      stopped_ = true;
      return nullptr;
    }
    ++next_;
    lastStep_ = Quoted(selector) + " " + what +
                (got.refused ? " (refused with " + std::to_string(got.result) + ")" : "");
    expectedResult_ = got.result;
    resultWhy_ = "the result of the last host call, " + Quoted(selector);
    return &got;
  }

  void Argument(bool ok, const std::string& text) {
    if (!ok && !stopped_) {
      Problem(text);
      stopped_ = true;
    }
  }

  // GetControlData(-1): the block after the fetch in *block. False when the
  // handler gets no block and stops.
  bool Fetch(BlockState* block) {
    bool missing = !block->present || block->bytes.size() < kBlockMinSize;
    if (!missing) {
      block->bytes = ExpectedRepair(block->bytes);
      return true;
    }
    const ServedCall* alloc =
        Expect(kSelectorAllocate, "for a new parameter block (the instance has none of 52 bytes)");
    if (alloc == nullptr) return false;
    Argument(Args<AllocateCall>(alloc).sizeAsked == int64_t(kBlockMinSize),
             "'ALOC' for a new block asked for " +
                 std::to_string(Args<AllocateCall>(alloc).sizeAsked) + " bytes, not 52");
    if (alloc->result != 0) return false;  // the old block stays as it was
    std::vector<uint8_t> moved = HostMove(*block, Args<AllocateCall>(alloc).sizeGranted);
    *block = BlockState{!moved.empty(), moved};
    if (Args<AllocateCall>(alloc).sizeGranted < int64_t(kBlockMinSize))
      return false;  // granted too small: taken as none
    FillDefaultFields(block->bytes);
    return true;
  }

  void Information() {
    const HostPluginDescription& d = call_.info->info;
    auto text = [](const unsigned char* field) {
      return std::string(reinterpret_cast<const char*>(field) + 1, field[0]);
    };
    if (d.pluginType != kPluginTypeStub)
      Problem("wrote the plug-in type " + Quoted(d.pluginType) + ", not 'STUB'");
    if (d.pluginVersion != 1)
      Problem("wrote the version " + std::to_string(d.pluginVersion) + ", not 1");
    if (text(d.pluginName) != "Vestrel")
      Problem("wrote the name \"" + text(d.pluginName) + "\", not \"Vestrel\"");
    if (text(d.description) != kDescriptionText)
      Problem("wrote the description \"" + text(d.description) + "\"");
    if (d.infoFlags != 15)
      Problem("wrote the info flags " + std::to_string(d.infoFlags) + ", not 15");
  }

  void Initialize() {
    BlockState block = call_.before;
    Fetch(&block);  // a refused 'ALOC' does not stop the handler
    expectedAfter_ = block;
    const ServedCall* creator = Expect(kSelectorCreator, "for the creator code");
    if (creator == nullptr) return;
    model_.creator = creator->result == 0 ? call_.scene->creator : kCreatorUnknown;
  }

  bool Alive(const std::string& name) const { return call_.deadFunctions.count(name) == 0; }

  void Interface() {
    BlockState block = call_.before;
    bool fetched = Fetch(&block);
    expectedAfter_ = block;
    if (!fetched) {
      ExpectFunctions({});
      return;
    }
    std::vector<std::string> sequence;
    bool accepted = InterfaceFunctions(&sequence);
    ExpectFunctions(sequence);
    if (!accepted) return;
    // The accepted values are in the block before 'RSET' goes out.
    const bool textRead = Alive("Orvo_FindControlByID") && Alive("Orvo_GetEditTextStringSize") &&
                          Alive("Orvo_GetEditTextString");
    const bool valueRead = Alive("Orvo_FindControlByID") && Alive("Orvo_GetControlValue");
    std::string text;
    if (call_.dialog && call_.dialog->finalTexts.count(kAngleControl))
      text = call_.dialog->finalTexts.at(kAngleControl);
    auto value = [&](int32_t id) {
      if (!valueRead || !call_.dialog || call_.dialog->finalValues.count(id) == 0)
        return int32_t(0);
      return call_.dialog->finalValues.at(id);
    };
    Write<float>(expectedAfter_.bytes, kBlockAngleAt, textRead ? AngleFromText(text) : 0.0f);
    Write<int32_t>(expectedAfter_.bytes, kBlockFreezeAt, value(kFreezeControl));
    Write<int32_t>(expectedAfter_.bytes, kBlockReverseAt, value(kReverseControl));
    Expect(kSelectorReset, "after the accepted dialog");
  }

  // The host functions 'INTF' calls, given which of them serve; returns
  // whether the dialog was accepted. Sets the result code of 6 and 4.
  bool InterfaceFunctions(std::vector<std::string>* sequence) {
    auto call = [&](const char* name) {
      sequence->push_back(name);
      return Alive(name);
    };
    bool directory = call("Orvo_GetHomeDirectory");
    bool file = call("Orvo_MakeFileRef") && directory;
    bool resource = call("Orvo_OpenResourceFile") && file;
    call("Orvo_DestroyFileRef");
    call("Orvo_DestroyDirectoryRef");
    if (!resource) {
      SetResult(6, "no resource file");
      return false;
    }
    bool dialog = call("Orvo_MakeDialog");
    if (!dialog) {
      SetResult(6, "no dialog");
      call("Orvo_CloseResourceFile");
      return false;
    }
    if (call("Orvo_FindControlByID")) call("Orvo_SetEditTextString");
    if (call("Orvo_FindControlByID")) call("Orvo_SetControlValue");
    if (call("Orvo_FindControlByID")) call("Orvo_SetControlValue");
    call("Orvo_SetDialogTitle");
    bool accepted = call("Orvo_ExecuteDialog") && call_.dialog && call_.dialog->accepted;
    if (accepted) {
      if (call("Orvo_FindControlByID")) {
        call("Orvo_GetEditTextStringSize");
        call("Orvo_GetEditTextString");
      }
      if (call("Orvo_FindControlByID")) call("Orvo_GetControlValue");
      if (call("Orvo_FindControlByID")) call("Orvo_GetControlValue");
    } else {
      SetResult(4, "the dialog was cancelled");
    }
    call("Orvo_DestroyDialog");
    call("Orvo_CloseResourceFile");
    return accepted;
  }

  void SetResult(int32_t result, const std::string& why) {
    expectedResult_ = result;
    resultWhy_ = why;
  }

  // The host functions called must be these, in this order; a hidden one is
  // never called, a refusing one is called and refuses.
  void ExpectFunctions(const std::vector<std::string>& names) {
    std::vector<FunctionCall> expected;
    for (const std::string& name : names) {
      if (call_.hiddenFunctions.count(name)) continue;
      expected.push_back({name, call_.deadFunctions.count(name) != 0, false, {}});
    }
    const auto& got = call_.functions;
    for (size_t i = 0; i < std::max(expected.size(), got.size()); ++i) {
      if (i < expected.size() && i < got.size() && expected[i].name == got[i].name) continue;
      std::string before = i == 0 ? "first" : "after " + got[i - 1].name;
      if (i >= got.size()) {
        Problem("did not call " + expected[i].name + " (" + before +
                "), which the design calls here");
      } else if (i >= expected.size()) {
        Problem("called " + got[i].name + " (" + before + "), which the design does not call here");
      } else {
        Problem("called " + got[i].name + " (" + before + "), where the design calls " +
                expected[i].name);
      }
      stopped_ = true;
      return;
    }
  }

  void Setup() {
    for (int k = 0; k < 16; ++k) {
      model_.groupMatrix[k] = call_.scene->groupMatrix[k];
      model_.blurMatrix[k] = call_.scene->blurMatrix[k];
    }
    if (model_.creator == kCreatorXolr) return;  // no host call, the block untouched
    BlockState block = call_.before;
    bool fetched = Fetch(&block);
    expectedAfter_ = block;
    if (!fetched || Read<int32_t>(block.bytes, kBlockFreezeAt) != 0) return;

    const ServedCall* time = Expect(kSelectorTimeInfo, "for the frame range");
    if (time == nullptr || time->result != 0) return;
    const int64_t first = Args<TimeInfoCall>(time).firstFrame,
                  last = Args<TimeInfoCall>(time).lastFrame, n = last - first + 1;
    if (n < 3) return;
    if (n > INTPTR_MAX / kPathNodeSize ||
        n > (INT32_MAX - int64_t(kBlockMinSize)) / int64_t(kBlockPointSize))
      return;  // too many frames to capture

    uintptr_t child = 0;
    if (!FindChild(&child)) return;
    const ServedCall* memory =
        Expect(kSelectorMemAlloc, "for the samples of " + std::to_string(n) + " frames");
    if (memory == nullptr) return;
    Argument(Args<MemAllocCall>(memory).bytesAsked == n * kPathNodeSize,
             "'MMAL' asked for " + std::to_string(Args<MemAllocCall>(memory).bytesAsked) +
                 " bytes, not " + std::to_string(n * kPathNodeSize) + " for " + std::to_string(n) +
                 " frames");
    if (memory->result != 0 || Address(Args<MemAllocCall>(memory).memory) == 0) return;

    bool sampled = true;
    int64_t lastAsked = first;
    for (int64_t frame = first; frame <= last && !stopped_; ++frame) {
      const ServedCall* sync =
          Expect(kSelectorSyncFrame, "with flag 1 for frame " + std::to_string(frame));
      if (sync == nullptr) return;
      Argument(
          Args<SyncFrameCall>(sync).samplingFlag == 1 && Args<SyncFrameCall>(sync).frame == frame,
          "'SYNC' with flag " + std::to_string(Args<SyncFrameCall>(sync).samplingFlag) +
              " and frame " + std::to_string(Args<SyncFrameCall>(sync).frame) +
              ", not flag 1 and frame " + std::to_string(frame));
      lastAsked = frame;
      if (sync->result != 0) {
        sampled = false;
        break;
      }
      const ServedCall* position = Expect(
          kSelectorObjectPosition, "for the child's position at frame " + std::to_string(frame));
      if (position == nullptr) return;
      Argument(Address(Args<ObjectPositionCall>(position).object) == child,
               "'TOBJ' named another object than the first child");
      if (position->result != 0) {
        sampled = false;
        break;
      }
    }
    const ServedCall* close =
        Expect(kSelectorSyncFrame, std::string("with flag 0 closing the sampling") +
                                       (sampled ? "" : " after the refusal"));
    if (close == nullptr) return;
    Argument(Args<SyncFrameCall>(close).samplingFlag == 0 &&
                 Args<SyncFrameCall>(close).frame == lastAsked,
             "the closing 'SYNC' had flag " +
                 std::to_string(Args<SyncFrameCall>(close).samplingFlag) + " and frame " +
                 std::to_string(Args<SyncFrameCall>(close).frame) + ", not flag 0 and frame " +
                 std::to_string(lastAsked));
    int32_t noted = sampled ? 0 : expectedResult_;
    bool stored = false;
    const ServedCall* resize = nullptr;
    if (sampled) {
      resize = Expect(kSelectorAllocate, "resizing the block for the simplified path");
      if (resize == nullptr) return;
      const AllocateCall path = Args<AllocateCall>(resize);
      const int64_t points = PointsOfSize(path.sizeAsked);
      Argument(path.sizeAsked >= int64_t(BlockSizeFor(2)) &&
                   path.sizeAsked == int64_t(BlockSizeFor(size_t(std::max<int64_t>(points, 0)))) &&
                   points <= n,
               "'ALOC' for the path asked for " + std::to_string(path.sizeAsked) +
                   " bytes, not 52 + 16 k for 2 <= k <= " + std::to_string(n));
      noted = resize->result;
      if (resize->result == 0) {
        std::vector<uint8_t> moved = HostMove(block, path.sizeGranted);
        expectedAfter_ = BlockState{!moved.empty(), moved};
        stored = path.sizeGranted >= path.sizeAsked;
      }
    }
    const ServedCall* free = Expect(kSelectorMemFree, "returning the sample memory");
    if (free == nullptr) return;
    Argument(Address(Args<MemFreeCall>(free).memory) == Address(Args<MemAllocCall>(memory).memory),
             "'MFRE' named other memory than 'MMAL' gave");
    if (stored) CheckStoredPath(Args<AllocateCall>(resize), first, last);
    if (stored && noted == 0) Expect(kSelectorReset, "after the new path was stored");
  }

  // 'UOBJ' -1, then 0, 1, ... up to the count until the first child of the
  // own group turns up. False when the search ends without one.
  bool FindChild(uintptr_t* child) {
    const ServedCall* count = Expect(kSelectorSceneObject, "with index -1 for the object count");
    if (count == nullptr) return false;
    Argument(Args<SceneObjectCall>(count).index == -1,
             "the first 'UOBJ' asked for index " +
                 std::to_string(Args<SceneObjectCall>(count).index) + ", not -1");
    if (count->result != 0 || stopped_) return false;
    uintptr_t own = 0;
    for (int64_t index = 0; index <= Args<SceneObjectCall>(count).objectCount; ++index) {
      const ServedCall* object =
          Expect(kSelectorSceneObject, "with index " + std::to_string(index));
      if (object == nullptr) return false;
      Argument(Args<SceneObjectCall>(object).index == index,
               "'UOBJ' asked for index " + std::to_string(Args<SceneObjectCall>(object).index) +
                   ", not " + std::to_string(index));
      if (object->result != 0 || stopped_) return false;
      if (index == 0) {
        own = Address(Args<SceneObjectCall>(object).object);
      } else if (Address(Args<SceneObjectCall>(object).parent) == own) {
        *child = Address(Args<SceneObjectCall>(object).object);
        return own != 0 && Address(Args<SceneObjectCall>(object).object) != 0;
      }
    }
    return false;
  }

  // The stored path: every point one of the samples, in frame order, the
  // first and the last sample among them; the bytes around them as the host
  // moved them.
  void CheckStoredPath(const AllocateCall& resize, int64_t first, int64_t last) {
    checkBlock_ = false;
    const std::vector<uint8_t>& got = call_.after.bytes;
    const int64_t k = PointsOfSize(resize.sizeAsked);
    if (!call_.after.present || int64_t(got.size()) != resize.sizeGranted) {
      Problem("the block after the capture is not the host's block of " +
              std::to_string(resize.sizeGranted) + " bytes");
      return;
    }
    std::vector<uint8_t> expected = expectedAfter_.bytes;
    Write<int32_t>(expected, kBlockCountAt, static_cast<int32_t>(k));
    for (size_t i = 0; i < got.size(); ++i) {
      bool inPoints = i >= kBlockHeaderSize && int64_t(i) < int64_t(PointAt(k));
      if (!inPoints && got[i] != expected[i]) {
        Problem("the capture changed byte " + std::to_string(i) + " (" + FieldAt(i) +
                ") of the block, which it does not write");
        return;
      }
    }
    const std::vector<Sample>& samples = call_.samples;
    if (int64_t(samples.size()) != last - first + 1) {
      Problem("the host gave " + std::to_string(samples.size()) + " positions for " +
              std::to_string(last - first + 1) + " frames");
      return;
    }
    auto matches = [&](int64_t i, size_t s) {
      const size_t at = PointAt(i);
      const Sample& sample = samples[s];
      return SameFloatBits(static_cast<float>(sample.frame), Read<float>(got, at + 12)) &&
             SameFloatBits(static_cast<float>(sample.position.x), Read<float>(got, at)) &&
             SameFloatBits(static_cast<float>(sample.position.y), Read<float>(got, at + 4)) &&
             SameFloatBits(static_cast<float>(sample.position.z), Read<float>(got, at + 8));
    };
    // Point 0 is the first sample, the last point the last sample, and the
    // ones between follow the samples in order.
    size_t s = 0;
    for (int64_t i = 0; i < k; ++i) {
      bool found;
      if (i == 0) {
        found = matches(0, 0);
        s = 1;
      } else if (i == k - 1) {
        found = s < samples.size() && matches(i, samples.size() - 1);
      } else {
        while (s + 1 < samples.size() && !matches(i, s)) ++s;
        found = s + 1 < samples.size();
        ++s;
      }
      if (!found) {
        const size_t at = PointAt(i);
        Problem("stored point " + std::to_string(i) + " of " + std::to_string(k) + " (" +
                Number(Read<float>(got, at)) + ", " + Number(Read<float>(got, at + 4)) + ", " +
                Number(Read<float>(got, at + 8)) + ", u " + Number(Read<float>(got, at + 12)) +
                ") is not " +
                (i == 0       ? "the first sample"
                 : i == k - 1 ? "the last sample"
                              : "a later sample in frame order"));
        return;
      }
    }
  }

  void Generate() {
    if (model_.creator == kCreatorXolr) {
      const ServedCall* group = Expect(kSelectorGetGroup, "for the host's group ('XOLR' host)");
      if (group == nullptr) return;
      if (group->result == 0) {
        const ServedCall* deletion = Expect(kSelectorDeleteGroup, "for the group 'GETG' gave");
        if (deletion == nullptr) return;
        Argument(Address(Args<DeleteGroupCall>(deletion).group) ==
                     Address(Args<GetGroupCall>(group).group),
                 "'DELG' named another group than 'GETG' gave");
      }
      SetResult(0, "the results of 'GETG' and 'DELG' do not count");
    }
    BlockState block = call_.before;
    bool fetched = Fetch(&block);
    expectedAfter_ = block;
    if (!fetched) return;
    const int32_t n = Read<int32_t>(block.bytes, kBlockCountAt);
    if (n < 2) return;
    const bool reverse = Read<int32_t>(block.bytes, kBlockReverseAt) != 0;
    auto point = [&](int32_t i) {
      const size_t at = PointAt(i);
      return std::array<float, 4>{Read<float>(block.bytes, at), Read<float>(block.bytes, at + 4),
                                  Read<float>(block.bytes, at + 8),
                                  Read<float>(block.bytes, at + 12)};
    };
    int64_t previous = 0;
    for (int32_t j = 0; j < n; ++j) {
      std::array<float, 4> p = point(reverse ? n - 1 - j : j);
      if (reverse) p[3] = point(n - 1)[3] - p[3];
      const ServedCall* vertex =
          Expect(kSelectorAddVertex,
                 "for the point at position " + std::to_string(j) + " of " + std::to_string(n));
      if (vertex == nullptr) return;
      CheckVertex(*vertex, p, j);
      if (vertex->result != 0 || stopped_) return;
      if (j > 0) {
        const ServedCall* face =
            Expect(kSelectorAddFace,
                   "joining vertices " + std::to_string(j - 1) + " and " + std::to_string(j));
        if (face == nullptr) return;
        Argument(Args<AddFaceCall>(face).firstVertex == previous &&
                     Args<AddFaceCall>(face).secondVertex == Args<AddVertexCall>(vertex).index,
                 "'ADDF' joined the indices " +
                     std::to_string(Args<AddFaceCall>(face).firstVertex) + " and " +
                     std::to_string(Args<AddFaceCall>(face).secondVertex) +
                     ", the host had handed out " + std::to_string(previous) + " and " +
                     std::to_string(Args<AddVertexCall>(vertex).index));
        if (face->result != 0) return;
      }
      previous = Args<AddVertexCall>(vertex).index;
    }
  }

  void CheckVertex(const ServedCall& call, const std::array<float, 4>& p, int32_t j) {
    const AddVertexCall vertex = Args<AddVertexCall>(&call);
    if (call.refused) {
      Argument(SameDouble(vertex.u, p[3]), "vertex " + std::to_string(j) + " has u " +
                                               Number(vertex.u) + ", not " + Number(p[3]));
      return;
    }
    double position[3] = {p[0], p[1], p[2]};
    double blur[3] = {p[0], p[1], p[2]};
    TransformPoint(position, model_.groupMatrix);
    TransformPoint(blur, model_.blurMatrix);
    bool ok = SameDouble(vertex.u, p[3]);
    for (int k = 0; k < 3; ++k)
      ok = ok && SameDouble(vertex.position[k], position[k]) && SameDouble(vertex.blur[k], blur[k]);
    Argument(ok, "vertex " + std::to_string(j) + " went out as (" + Number(vertex.position[0]) +
                     ", " + Number(vertex.position[1]) + ", " + Number(vertex.position[2]) +
                     ") u " + Number(vertex.u) +
                     "; the stored point placed by the group matrix is (" + Number(position[0]) +
                     ", " + Number(position[1]) + ", " + Number(position[2]) + ") u " +
                     Number(p[3]));
  }

  void CompareBlock(const BlockState& expected, const BlockState& got) {
    if (expected.present != got.present) {
      Problem(got.present ? "the instance has a block where the design leaves it none"
                          : "the instance lost its block");
      return;
    }
    if (!got.present) return;
    if (expected.bytes.size() != got.bytes.size()) {
      Problem("the block has " + std::to_string(got.bytes.size()) + " bytes, the design leaves " +
              std::to_string(expected.bytes.size()));
      return;
    }
    for (size_t i = 0; i < got.bytes.size(); ++i) {
      if (got.bytes[i] != expected.bytes[i]) {
        Problem("block byte " + std::to_string(i) + " (" + FieldAt(i) + ") is " +
                std::to_string(got.bytes[i]) + ", the design leaves " +
                std::to_string(expected.bytes[i]));
        return;
      }
    }
  }

  const EntryObservation& call_;
  ProcessModel& model_;
  std::vector<std::string>* problems_;
  size_t next_ = 0;
  bool stopped_ = false;
  bool checkBlock_ = true;
  int32_t expectedResult_ = 0;
  std::string resultWhy_ = "no host call was made";
  std::string lastStep_;
  BlockState expectedAfter_;
};

}  // namespace

void CheckEntryCall(const EntryObservation& call, ProcessModel& model,
                    std::vector<std::string>* problems) {
  Walk(call, model, problems).Run();
}

std::string BlockSoundness(const BlockState& block) {
  if (!block.present) return "the instance has no block";
  return BlockSoundness(block.bytes);
}

}  // namespace vhost
