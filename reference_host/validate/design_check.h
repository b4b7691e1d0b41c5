// The model of the design, inside: DesignCheck follows one entry call step by
// step as the design makes it, from the host's answers, and notes each place
// where the plug-in went another way. Private to validate/model*.cpp; the
// validator's interface is validate/model.h.
#ifndef VESTREL_REFERENCE_HOST_VALIDATE_DESIGN_CHECK_H
#define VESTREL_REFERENCE_HOST_VALIDATE_DESIGN_CHECK_H

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "hostkit/block_codec.h"
#include "hostkit/protocol.h"
#include "hostkit/protocol_checker.h"
#include "reference_host/validate/model.h"

namespace vhost {
namespace design {

constexpr int32_t kPathNodeSize = 16 + 2 * static_cast<int32_t>(sizeof(void*));
inline const char* const kDescriptionText =
    "This plug-in creates a line of particles from motion path of its first child group";

template <typename T>
inline T Read(const std::vector<uint8_t>& bytes, size_t at) {
  T value;
  memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

template <typename T>
inline void Write(std::vector<uint8_t>& bytes, size_t at, T value) {
  memcpy(bytes.data() + at, &value, sizeof value);
}

// The block the host hands back from 'ALOC': the old bytes up to the smaller
// size, the validator's fill after them (the harness sets it on every
// instance).
inline std::vector<uint8_t> HostMove(const BlockState& old, int64_t granted) {
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(0, granted)), kUnsetBytesFill);
  if (old.present)
    std::copy_n(old.bytes.begin(), std::min(bytes.size(), old.bytes.size()), bytes.begin());
  return bytes;
}

// The arguments of a call of the expected selector (defaults when the host
// could not read the record).
template <typename T>
inline T Args(const ServedCall* call) {
  const T* arguments = call->As<T>();
  return arguments != nullptr ? *arguments : T{};
}

// The points a block of size bytes is sized for (52 + 16 k bytes for k).
inline int64_t PointsOfSize(int64_t size) {
  return (size - int64_t(kBlockMinSize)) / int64_t(kBlockPointSize);
}

// Where point i of a block starts.
inline size_t PointAt(int64_t i) { return kBlockHeaderSize + kBlockPointSize * size_t(i); }

inline uintptr_t Address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

inline bool SameDouble(double a, double b) { return a == b || (isnan(a) && isnan(b)); }

inline bool SameFloatBits(float a, float b) {
  uint32_t x, y;
  memcpy(&x, &a, 4);
  memcpy(&y, &b, 4);
  return x == y || (isnan(a) && isnan(b));
}

inline std::string Number(double value) {
  char text[64];
  snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// What a byte offset of the block holds, for messages.
inline std::string FieldAt(size_t offset) {
  if (offset < kBlockAngleAt) return "the magic";
  if (offset < kBlockFreezeAt) return "the angle tolerance";
  if (offset < kBlockReverseAt) return "the freeze flag";
  if (offset < kBlockReverseAt + 4) return "the reverse flag";
  if (offset < kBlockCountAt) return "the reserved bytes";
  if (offset < kBlockHeaderSize) return "the point count";
  return "point " + std::to_string((offset - kBlockHeaderSize) / kBlockPointSize);
}

inline void TransformPoint(double point[3], const double m[16]) {
  const double x = point[0], y = point[1], z = point[2];
  point[0] = ((x * m[0] + y * m[4]) + z * m[8]) + m[12];
  point[1] = ((x * m[1] + y * m[5]) + z * m[9]) + m[13];
  point[2] = ((x * m[2] + y * m[6]) + z * m[10]) + m[14];
}

inline double FixDoubleBits(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  if (bits == 0x8000000000000000ull || (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull)
    return 0.0;
  return value;
}

// The angle the dialog stores from the text of its edit: the first 255
// characters scanned as a real, no number being 0, then negative zero,
// infinities and NaNs made 0, then narrowed to float.
inline float AngleFromText(const std::string& text) {
  std::string cut = text.substr(0, 255);
  cut = cut.substr(0, strlen(cut.c_str()));
  double value = 0.0;
  sscanf(cut.c_str(), "%lf", &value);
  return static_cast<float>(FixDoubleBits(value));
}

class DesignCheck {
 public:
  DesignCheck(const EntryObservation& call, ProcessModel& model, std::vector<std::string>* problems)
      : call_(call), model_(model), problems_(problems) {}

  void Run();

 private:
  void Problem(const std::string& text);

  // The next callback call, which must be of selector; null (and the walk
  // stops) when it is not.
  const ServedCall* Expect(uint32_t selector, const std::string& what);

  void Argument(bool ok, const std::string& text);

  // GetControlData(-1): the block after the fetch in *block. False when the
  // handler gets no block and stops.
  bool Fetch(BlockState* block);

  void Information();

  void Initialize();

  // The host function the design calls next, appended to the sequence: the
  // host's logged answer when it served the call, null when the function is
  // hidden or the host refused this call (wholly or alone). Walks the host's
  // log in step with the design.
  const FunctionCall* CallFunction(const std::string& name, std::vector<std::string>* sequence);

  void Interface();

  // What the dialog's reads gave the plug-in once it was accepted.
  struct DialogReads {
    std::string text;  // the bytes the host wrote for the angle's edit
    int32_t freeze = 0;
    int32_t reverse = 0;
  };

  // The host functions 'INTF' calls, given which of them serve; returns
  // whether the dialog was accepted and, if so, what its reads gave. Sets the
  // result code of 6 and 4.
  bool InterfaceFunctions(std::vector<std::string>* sequence, DialogReads* reads);

  void SetResult(int32_t result, const std::string& why);

  // The host functions called must be these, in this order; a hidden one is
  // never called, a refusing one is called and refuses.
  void ExpectFunctions(const std::vector<std::string>& names);

  void Setup();

  // 'UOBJ' -1, then 0, 1, ... up to the count until the first child of the
  // own group turns up. False when the search ends without one.
  bool FindChild(uintptr_t* child);

  // The stored path: every point one of the samples, in frame order, the
  // first and the last sample among them; the bytes around them as the host
  // moved them.
  void CheckStoredPath(const AllocateCall& resize, int64_t first, int64_t last);

  void Generate();

  void CheckVertex(const ServedCall& call, const std::array<float, 4>& p, int32_t j);

  void CompareBlock(const BlockState& expected, const BlockState& got);

  const EntryObservation& call_;
  ProcessModel& model_;
  std::vector<std::string>* problems_;
  size_t next_ = 0;
  size_t nextFunction_ = 0;
  bool stopped_ = false;
  bool checkBlock_ = true;
  int32_t expectedResult_ = 0;
  std::string resultWhy_ = "no host call was made";
  std::string lastStep_;
  BlockState expectedAfter_;
};

}  // namespace design
}  // namespace vhost

#endif
