// A scriptable stand-in for the host's sixteen file and dialog functions: a
// façade over the host kit's HostServices, which serve them as in every host
// of the project.
//
// The test program exports the functions under their plain C names
// (fake_dialog_host.cpp), so the plug-in finds them with its ordinary run-time
// lookup, exactly as it finds a host application's. They forward to the
// services of the FakeDialogHost that exists at the time, which read real
// resource files from its home directory (by default the build directory,
// where the shipped Vestrel.rsc lies), build dialogs from them, let the
// scripted user edit and close them, and check and count every handle. The
// fake's services stay in one call for its whole life, so the handles the
// plug-in leaves out stay live for the test to see.
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

#include "hostkit/dialogs.h"
#include "hostkit/faults.h"
#include "hostkit/findings.h"
#include "hostkit/host_services.h"
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
  void Hide(const std::string& name) { faults_.HideFunction(name); }
  void Unhide(const std::string& name) { faults_.ShowFunction(name); }

  // ---- What happened, read from the kit's function log --------------------
  std::vector<std::string> calls() const;  // function names, in call order
  std::map<std::string, int> lookups() const { return services_.lookups(); }
  std::vector<FakeDialog> shown;  // each dialog as it was when executed
  // Misuse of handles and whatever else the kit's services found wrong.
  const std::vector<std::string>& violations() const { return findings_.violations(); }
  int CallsOf(const std::string& name) const;
  // Arguments worth checking.
  std::vector<std::string> fileNames() const;  // of Orvo_MakeFileRef
  std::vector<std::string> extensions() const;
  std::vector<uint32_t> fileTypes() const;
  std::vector<int32_t> dialogIds() const;           // of Orvo_MakeDialog
  std::vector<int32_t> textLengthsOffered() const;  // *length passed to Orvo_GetEditTextString
  int nullReleases() const;                         // destroy / close calls with null
  // Handles handed out and not yet taken back, by kind: "directory", "file",
  // "resource file", "dialog". They stay live for the fake's whole life.
  std::map<std::string, int> Live() const;
  int LiveCount() const;

  // The current host's address of its exported function of that name (what a
  // correct lookup must find), or null.
  static void* ExportedFunction(const std::string& name);

  // The services of the fake that exists, with its script applied, for the
  // exported functions; null when there is none.
  static vhost::HostServices* Serving();

 private:
  class UserRunner : public vhost::DialogRunner {
   public:
    explicit UserRunner(FakeDialogHost& fake) : fake_(fake) {}
    bool Run(vhost::Dialog& dialog, vhost::DialogRun* run) override;

   private:
    FakeDialogHost& fake_;
  };
  static void* CountingLookup(const char* name);
  // The logged values of one field of every call of a function.
  std::vector<const vhost::FieldValue*> Fields(const char* function, const char* key) const;

  vhost::FaultPlan faults_;
  vhost::Findings findings_;
  UserRunner runner_;
  vhost::HostServices services_;
  void* (*previousLookup_)(const char*) = nullptr;
  FakeDialogHost* previousHost_ = nullptr;
};

#endif
