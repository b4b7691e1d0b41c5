// The host's sixteen exported functions for its home directory, file
// references, resource files and dialogs.
//
// The plug-in is not linked against the host. Each function below is a local
// forwarding function of the same name: on its first use it looks the host's
// function up by name in the running process, keeps the address for the rest
// of the process's life and passes the call on. A name that is not found is
// not called: the forwarding function returns 0 or null (or just returns), and
// the lookup is tried again on the next call.
//
// These declarations have C++ linkage on purpose. Their mangled names differ
// from the host's plain C names ("Orvo_MakeDialog"), and vestrel_core gives
// them hidden visibility, so the plug-in neither exports them nor finds its
// own forwarding functions when it looks for the host's. A host (or a test
// program) that defines the extern "C" functions must therefore not include
// this header in the same translation unit: the two sets of names would clash.
#ifndef VESTREL_HOST_HOST_FUNCTIONS_H
#define VESTREL_HOST_HOST_FUNCTIONS_H

#include <stdint.h>

// Opaque pointer-sized values that the host hands out and takes back. The
// plug-in never looks inside one; null means none. Each has its own type so
// that a dialog cannot be passed where a resource file is expected.
struct HostDirectoryOpaque;
struct HostFileOpaque;
struct HostResourceFileOpaque;
struct HostDialogOpaque;
struct HostControlOpaque;
typedef HostDirectoryOpaque* HostDirectoryRef;
typedef HostFileOpaque* HostFileRef;
typedef HostResourceFileOpaque* HostResourceFile;
typedef HostDialogOpaque* HostDialog;
typedef HostControlOpaque* HostControl;

// Texts passed to the host are zero-terminated and read during the call only.
HostDirectoryRef Orvo_GetHomeDirectory();
HostFileRef Orvo_MakeFileRef(HostDirectoryRef directory, const char* fileName, uint32_t fileType,
                             const char* extension);
void Orvo_DestroyFileRef(HostFileRef file);
void Orvo_DestroyDirectoryRef(HostDirectoryRef directory);
// Null when the file cannot be opened; the file stays open after its file
// reference is released.
HostResourceFile Orvo_OpenResourceFile(HostFileRef file);
void Orvo_CloseResourceFile(HostResourceFile resourceFile);
// The dialog of that id, built from the file and not yet shown; null when it
// cannot be made.
HostDialog Orvo_MakeDialog(HostResourceFile resourceFile, int32_t dialogId);
void Orvo_SetDialogTitle(HostDialog dialog, const char* title);
// Runs the dialog modally: non-zero when the user accepted it, 0 when the user
// cancelled. The controls keep the user's values until the dialog is destroyed.
int32_t Orvo_ExecuteDialog(HostDialog dialog);
void Orvo_DestroyDialog(HostDialog dialog);
// Null when the dialog has no control of that id.
HostControl Orvo_FindControlByID(HostDialog dialog, int32_t controlId);
int32_t Orvo_GetControlValue(HostControl control);
void Orvo_SetControlValue(HostControl control, int32_t value);
int32_t Orvo_GetEditTextStringSize(HostControl control);
// Writes the control's text, zero-terminated, into buffer; *length holds the
// buffer's usable size.
void Orvo_GetEditTextString(HostControl control, char* buffer, int32_t* length);
void Orvo_SetEditTextString(HostControl control, const char* text);

// Opens the resource file of that name (extension included, "Vestrel.rsc") in
// the host's home directory; null when it cannot be opened. Both references
// made on the way are released before returning, whatever happened. The
// caller closes the file with Orvo_CloseResourceFile.
HostResourceFile OpenResourceFile(const char* name);

#endif
