// 'INTF': the parameter dialog. Shows dialog 21000 of the plug-in's resource
// file with the angle tolerance (control 3), the freeze flag (4) and the
// reverse flag (5); on accept stores the three values in the parameter block
// and tells the host with 'RSET'.
#include "controldata/control_data.h"
#include "dialog/dialog_controls.h"
#include "host/handlers.h"
#include "host/host_functions.h"
#include "host/host_proc.h"

namespace {

constexpr const char* kResourceFileName = "Vestrel.rsc";
constexpr const char* kDialogTitle = "Vestrel 1.6";
constexpr int32_t kDialogId = 21000;
constexpr int32_t kAngleControl = 3;
constexpr int32_t kFreezeControl = 4;
constexpr int32_t kReverseControl = 5;
constexpr int32_t kAngleDigits = 1;  // at most one decimal, trailing zeros trimmed

void ShowParameters(HostDialog dialog, const CControlData& block) {
  SetTheIReal(dialog, kAngleControl, block.angleTolerance, kAngleDigits);
  SetButton(dialog, kFreezeControl, block.freezeFlag);
  SetButton(dialog, kReverseControl, block.reverseFlag);
}

void StoreParameters(HostDialog dialog, CControlData& block) {
  // Narrowed to the nearest float; a finite double beyond the float range
  // becomes an infinity (GetTheIReal has already turned infinities into 0).
  block.angleTolerance = static_cast<float>(GetTheIReal(dialog, kAngleControl));
  block.freezeFlag = GetButton(dialog, kFreezeControl);
  block.reverseFlag = GetButton(dialog, kReverseControl);
}

// Runs the made dialog over the block. Accept stores the values and sends
// 'RSET' (its result becomes the result code); cancel leaves the block as it was.
void RunDialog(HostDialog dialog, CControlData& block) {
  ShowParameters(dialog, block);
  Orvo_SetDialogTitle(dialog, kDialogTitle);
  if (Orvo_ExecuteDialog(dialog) == 0) {
    theError = kResultCancelled;
    return;
  }
  StoreParameters(dialog, block);
  SendReset();
}

}  // namespace

void Interface() {
  // The block's address is taken once: nothing below asks the host to move it.
  CControlData* block = GetControlData(-1);
  if (block == nullptr) return;  // the host's error stays the result code

  HostResourceFile resourceFile = OpenResourceFile(kResourceFileName);
  if (resourceFile == nullptr) {
    theError = kResultNoResource;
    return;
  }
  HostDialog dialog = Orvo_MakeDialog(resourceFile, kDialogId);
  if (dialog == nullptr) {
    theError = kResultNoResource;
  } else {
    RunDialog(dialog, *block);
    Orvo_DestroyDialog(dialog);
  }
  Orvo_CloseResourceFile(resourceFile);
}
