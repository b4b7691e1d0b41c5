#include "dialog/dialog_controls.h"

#include "dialog/number_text.h"
#include "host/pascal_string.h"

namespace {

constexpr int32_t kTextBufferSize = 256;

}  // namespace

int32_t GetButton(HostDialog dialog, int32_t id) {
  HostControl control = Orvo_FindControlByID(dialog, id);
  if (control == nullptr) return 0;
  return Orvo_GetControlValue(control);
}

void SetButton(HostDialog dialog, int32_t id, int32_t value) {
  HostControl control = Orvo_FindControlByID(dialog, id);
  if (control == nullptr) return;
  Orvo_SetControlValue(control, value);
}

void GetTheIText(HostDialog dialog, int32_t id, unsigned char* text) {
  // Empty both as a Pascal string and as a C text: what a missing control
  // gives, and what a host that writes nothing (its function missing, or a
  // size of 0) leaves. The whole buffer is cleared, not just its first byte:
  // the buffer is one of the ring's, so a host that writes its text without a
  // terminator would otherwise have an older string's tail read after it.
  for (int32_t k = 0; k < kTextBufferSize; ++k) text[k] = 0;
  HostControl control = Orvo_FindControlByID(dialog, id);
  if (control == nullptr) return;

  int32_t length = Orvo_GetEditTextStringSize(control);
  if (length > kTextBufferSize) length = kTextBufferSize;
  char* buffer = reinterpret_cast<char*>(text);
  Orvo_GetEditTextString(control, buffer, &length);
  // A host that fills all 256 bytes without a terminator must not make the
  // conversion read past the buffer: at most 255 characters count.
  buffer[kTextBufferSize - 1] = 0;
  PStrC2P(buffer);
}

void SetTheIText(HostDialog dialog, int32_t id, const unsigned char* text) {
  HostControl control = Orvo_FindControlByID(dialog, id);
  if (control == nullptr) return;
  char local[kTextBufferSize];
  Orvo_SetEditTextString(control, PStrPToC(text, local));
}

double GetTheIReal(HostDialog dialog, int32_t id) {
  unsigned char* text = PStrNext();
  GetTheIText(dialog, id, text);
  return FixDouble(Str2Num(text));
}

void SetTheIReal(HostDialog dialog, int32_t id, double value, int32_t digits) {
  SetTheIText(dialog, id, RealTrimStr(value, digits));
}
