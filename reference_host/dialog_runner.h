// The host's dialogs at run time, and the two ways a dialog is run: from the
// answers a scene scripts, or on the terminal with a person at it.
#ifndef VESTREL_REFERENCE_HOST_DIALOG_RUNNER_H
#define VESTREL_REFERENCE_HOST_DIALOG_RUNNER_H

#include <stdint.h>

#include <iosfwd>
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

// Asks a person on the terminal: every edit and checkbox in turn (an empty
// line keeps the value), then OK or Cancel. End of input cancels.
class TerminalDialogRunner : public DialogRunner {
 public:
  TerminalDialogRunner(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
  bool Run(Dialog& dialog, DialogRun* run) override;

 private:
  bool Ask(const std::string& prompt, std::string* answer);
  std::istream& in_;
  std::ostream& out_;
};

}  // namespace vhost

#endif
