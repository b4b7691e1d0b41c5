// The dialog's text conversions: a text typed into the angle's edit becomes a
// real, is stored as a float, is shown again with one decimal, and read back;
// any real formatted with any number of decimals; and the edit's text read
// from a hostile host that reports any size and writes any bytes.
//
// Input: one byte choosing the path, then its values.
#include <math.h>

#include "dialog/dialog_controls.h"
#include "dialog/number_text.h"
#include "fuzz/fuzz_support.h"
#include "host/host_functions.h"
#include "host/host_functions_detail.h"
#include "hostkit/protocol.h"

namespace {

size_t TextLength(const unsigned char* pascal) { return pascal[0]; }

std::vector<uint8_t> Pascal(const std::vector<uint8_t>& text) {
  std::vector<uint8_t> pascal(256, 0);
  size_t n = text.size() < 255 ? text.size() : 255;
  pascal[0] = static_cast<uint8_t>(n);
  if (n != 0) memcpy(pascal.data() + 1, text.data(), n);
  return pascal;
}

// What the dialog stores from a text: scanned, fixed, narrowed.
float Stored(const unsigned char* text) { return static_cast<float>(FixDouble(Str2Num(text))); }

// Typed text in, float stored, shown, accepted unchanged: from the first
// showing on the text no longer changes.
void TypedText(FuzzInput& input) {
  std::vector<uint8_t> typed = Pascal(input.Bytes(300));
  const float angle = Stored(typed.data());
  FUZZ_REQUIRE(!isnan(angle), "a stored angle is never NaN");
  if (!isfinite(angle)) return;  // beyond the float range: shown as "inf", read back as 0
  const unsigned char* first = RealTrimStr(angle, 1);
  std::vector<uint8_t> shown(first, first + 256);
  FUZZ_REQUIRE(TextLength(shown.data()) <= 42, "a float with one decimal fits 42 characters");
  const float again = Stored(shown.data());
  const unsigned char* second = RealTrimStr(again, 1);
  std::vector<uint8_t> shownAgain(second, second + 256);
  FUZZ_REQUIRE(memcmp(shown.data(), shownAgain.data(), 1 + TextLength(shown.data())) == 0,
               "accepting the dialog unchanged shows the same text again");
}

// Any real with any number of decimals: a Pascal string of at most 255
// characters; trimmed mode leaves no trailing zero after the point and no "-0".
void Formatting(FuzzInput& input) {
  const int32_t digits = input.Take<int32_t>();
  const double value = input.Take<double>();
  unsigned char buffer[256];
  Num2Str(digits, value, buffer);
  const unsigned char* trimmed = RealTrimStr(value, digits);
  const size_t n = TextLength(trimmed);
  if (static_cast<int16_t>(digits & 0xFFFF) < 0) return;
  bool hasPoint = memchr(trimmed + 1, '.', n) != nullptr;
  FUZZ_REQUIRE(!hasPoint || n == 255 || (trimmed[n] != '0' && trimmed[n] != '.'),
               "trailing zeros are trimmed");
  FUZZ_REQUIRE(!(n == 2 && trimmed[1] == '-' && trimmed[2] == '0'), "'-0' is shown as '0'");
}

// The host's side of one edit control, answering with the fuzzer's values.
int32_t hostileSize = 0;
std::vector<uint8_t> hostileText;
bool hostileTerminates = false;

// Declared as a C host declares them: handles are untyped pointers.
void* FindControl(void*, int32_t) { return reinterpret_cast<void*>(uintptr_t(0xC0)); }
int32_t TextSize(void*) { return hostileSize; }
void TextInto(void*, char* buffer, int32_t* length) {
  // The host honours the usable size it was given, nothing else: any bytes,
  // with or without a terminating zero.
  if (*length <= 0) return;
  size_t room = size_t(*length);
  size_t n = hostileText.size() < room ? hostileText.size() : room;
  if (n != 0) memcpy(buffer, hostileText.data(), n);
  if (hostileTerminates && n < room) buffer[n] = 0;
}

void* LookUp(const char* name) {
  if (strcmp(name, vhost::kOrvoFindControlByID) == 0) return reinterpret_cast<void*>(&FindControl);
  if (strcmp(name, vhost::kOrvoGetEditTextStringSize) == 0)
    return reinterpret_cast<void*>(&TextSize);
  if (strcmp(name, vhost::kOrvoGetEditTextString) == 0) return reinterpret_cast<void*>(&TextInto);
  return nullptr;
}

void HostileEdit(FuzzInput& input) {
  hostileSize = input.Take<int32_t>();
  hostileTerminates = (input.Take<uint8_t>() & 1) != 0;
  hostileText = input.Bytes(400);
  ReplaceHostSymbolLookup(&LookUp);
  ForgetHostFunctions();
  // The buffer is exactly 256 bytes on the heap, so the sanitizer sees a
  // read or write past it.
  std::vector<unsigned char> text(256);
  GetTheIText(reinterpret_cast<HostDialog>(uintptr_t(0xD0)), 3, text.data());
  FUZZ_REQUIRE(TextLength(text.data()) <= 255, "at most 255 characters count");
  const double angle = GetTheIReal(reinterpret_cast<HostDialog>(uintptr_t(0xD0)), 3);
  FUZZ_REQUIRE(isfinite(angle), "the angle read is finite");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  switch (input.Take<uint8_t>() % 3) {
    case 0: TypedText(input); break;
    case 1: Formatting(input); break;
    default: HostileEdit(input); break;
  }
  return 0;
}
