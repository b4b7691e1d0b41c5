// The host's dialogs at run time: built from a resource file's template, run
// modally by a DialogRunner (the answers a scene scripts, or a person at a
// terminal in the reference host), described for summaries.
#ifndef VESTREL_HOSTKIT_DIALOGS_H
#define VESTREL_HOSTKIT_DIALOGS_H

#include <stdint.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostkit/resource_file.h"
#include "hostkit/scene.h"

namespace vhost {

struct Control {
  ControlKind kind = ControlKind::kLabel;
  int32_t id = 0;
  std::string caption;  // the template's caption
  std::string text;     // edit: the text; others: the caption
  int32_t value = 0;    // checkbox: its value; others 0
};

struct Dialog {
  int32_t id = 0;
  std::string title;
  std::vector<std::unique_ptr<Control>> controls;

  Control* Find(int32_t controlId) const;
};

// A dialog built from its template: edits start with their caption as text,
// checkboxes at 0.
std::unique_ptr<Dialog> BuildDialog(const DialogTemplate& dialogTemplate);

// What happened when a dialog ran, for the summary.
struct DialogRun {
  int32_t id = 0;
  std::string title;
  std::vector<std::string> shown;             // "[3] edit \"5\"", "[4] checkbox 0", ...
  std::vector<std::string> answered;          // the same after the user closed it
  std::map<int32_t, std::string> finalTexts;  // edits as the user left them, by id
  std::map<int32_t, int32_t> finalValues;     // checkboxes as the user left them
  bool accepted = false;
  // What the host's Orvo_ExecuteDialog returns, when the runner says (any
  // value but 0 accepts); unset: 1 accepted, 0 cancelled.
  std::optional<int32_t> answer;
  std::vector<std::string> problems;  // answers that fit no control
};

std::vector<std::string> DescribeControls(const Dialog& dialog);

class DialogRunner {
 public:
  virtual ~DialogRunner() = default;
  // Runs the dialog modally; true when the user accepted it. The controls keep
  // the user's values afterwards.
  virtual bool Run(Dialog& dialog, DialogRun* run) = 0;
};

// Applies a scene's answers (none: the user accepts what is shown).
class ScriptedDialogRunner : public DialogRunner {
 public:
  explicit ScriptedDialogRunner(std::optional<DialogAnswers> answers)
      : answers_(std::move(answers)) {}
  bool Run(Dialog& dialog, DialogRun* run) override;

 private:
  std::optional<DialogAnswers> answers_;
};

}  // namespace vhost

#endif
