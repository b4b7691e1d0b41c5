// A scriptable stand-in for the host's sixteen file and dialog functions.
//
// The test program exports the functions under their plain C names
// (fake_dialog_host.cpp), so the plug-in finds them with its ordinary run-time
// lookup, exactly as it finds a host application's. They serve the
// FakeDialogHost that exists at the time. The fake reads real resource files
// from its home directory (by default the build directory, where the shipped
// Vestrel.rsc lies), builds dialogs from them, lets a scripted user edit and
// close them, and keeps count of every handle it hands out and takes back.
//
// While a FakeDialogHost exists it also owns the plug-in's name lookup: it
// counts lookups by name and makes hidden functions unfindable, as if the host
// did not export them. It forgets the plug-in's cached addresses when it is
// made and when it goes, so every test starts from a cold cache.
#ifndef VESTREL_TESTS_SUPPORT_FAKE_DIALOG_HOST_H
#define VESTREL_TESTS_SUPPORT_FAKE_DIALOG_HOST_H

#include <stdint.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hostkit/protocol.h"

// The names of the sixteen host functions, in the order of the host's table
// (kHostFunctionNames) come from the host kit.
using vhost::kHostFunctionNames;

struct FakeControl {
  std::string kind;  // label, edit, checkbox, ok, cancel
  int32_t id = 0;
  std::string text;  // the caption; an edit's current text
  int32_t value = 0;
};

struct FakeDialog {
  int32_t id = 0;
  std::string title;
  std::vector<FakeControl> controls;

  // The control of that id, or null.
  FakeControl* Control(int32_t id);
  const FakeControl* Control(int32_t id) const;
};

// Reads the resource file format of docs/resource-file.md with the host kit's
// reader into the fake's dialogs. Returns false with a message naming the line
// when the text is not in that format.
bool ReadFakeDialogs(const std::string& text, std::vector<FakeDialog>* dialogs, std::string* error);

class FakeDialogHost {
 public:
  FakeDialogHost();
  ~FakeDialogHost();
  FakeDialogHost(const FakeDialogHost&) = delete;
  FakeDialogHost& operator=(const FakeDialogHost&) = delete;

  // ---- Script -----------------------------------------------------------
  std::string homeDirectory;          // where resource files are looked for
  std::set<int32_t> removedControls;  // left out of every dialog the fake makes
  // The user: runs inside Orvo_ExecuteDialog, may edit the dialog, and returns
  // what the host returns (non-zero accept, 0 cancel). Accepts unchanged by default.
  std::function<int32_t(FakeDialog&)> user;
  // Orvo_GetEditTextString fills the whole usable size with text and writes no
  // terminator when the text does not fit (a careless host).
  bool textFillsWholeBuffer = false;
  // The plug-in's lookup finds nothing under this name.
  void Hide(const std::string& name) { hidden_.insert(name); }
  void Unhide(const std::string& name) { hidden_.erase(name); }

  // ---- What happened ----------------------------------------------------
  std::vector<std::string> calls;       // function names, in call order
  std::map<std::string, int> lookups;   // plug-in lookups by name
  std::vector<FakeDialog> shown;        // each dialog as it was when executed
  std::vector<std::string> violations;  // misuse of handles
  int CallsOf(const std::string& name) const;
  // Arguments worth checking.
  std::vector<std::string> fileNames, extensions;  // of Orvo_MakeFileRef
  std::vector<uint32_t> fileTypes;
  std::vector<int32_t> dialogIds;           // of Orvo_MakeDialog
  std::vector<int32_t> textLengthsOffered;  // *length passed to Orvo_GetEditTextString
  int nullReleases = 0;                     // destroy / close calls with null
  // Handles handed out and not yet taken back, by kind: "directory", "file",
  // "resource file", "dialog".
  std::map<std::string, int> Live() const;
  int LiveCount() const;

  // The current host's address of its exported function of that name (what a
  // correct lookup must find), or null.
  static void* ExportedFunction(const std::string& name);

  // ---- Used by the exported functions -------------------------------------
  static FakeDialogHost* Current();
  struct Object {
    std::string kind;
    std::string path;                 // directory, file
    std::vector<FakeDialog> dialogs;  // resource file
    FakeDialog dialog;                // dialog
    uintptr_t owner = 0;              // dialog: its resource file
  };
  uintptr_t Add(Object object);
  Object* Find(uintptr_t handle, const char* kind, const char* function);
  bool Release(uintptr_t handle, const char* kind, const char* function);
  uintptr_t ControlHandle(uintptr_t dialog, int32_t id);
  FakeControl* FindControl(uintptr_t control, const char* function);

 private:
  static void* CountingLookup(const char* name);

  std::set<std::string> hidden_;
  std::map<uintptr_t, Object> objects_;
  std::map<uintptr_t, std::pair<uintptr_t, int32_t>> controls_;  // handle -> dialog, id
  uintptr_t nextHandle_ = 0x1000;
  void* (*previousLookup_)(const char*) = nullptr;
  FakeDialogHost* previousHost_ = nullptr;
};

#endif
