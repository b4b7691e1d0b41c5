// Reading and writing single controls of a dialog that the host made, through
// the host's dialog functions. A control that the dialog does not have (or a
// host function that is missing) is never reported: reads give 0 or an empty
// text, writes do nothing.
#ifndef VESTREL_DIALOG_DIALOG_CONTROLS_H
#define VESTREL_DIALOG_DIALOG_CONTROLS_H

#include <stdint.h>

#include "host/host_functions.h"

// The button's integer value, as the host reports it; 0 without the control.
int32_t GetButton(HostDialog dialog, int32_t id);
void SetButton(HostDialog dialog, int32_t id, int32_t value);

// The edit text of the control as a Pascal string in text (the caller's
// 256-byte buffer): at most 255 characters, the empty string without the
// control.
void GetTheIText(HostDialog dialog, int32_t id, unsigned char* text);
// Shows the Pascal string text in the control.
void SetTheIText(HostDialog dialog, int32_t id, const unsigned char* text);

// The real at the start of the control's text, with negative zero, infinities
// and NaNs read as +0.0. Uses two ring buffers.
double GetTheIReal(HostDialog dialog, int32_t id);
// Shows value with RealTrimStr(value, digits) (one ring buffer, taken whether
// or not the control exists).
void SetTheIReal(HostDialog dialog, int32_t id, double value, int32_t digits);

#endif
