// A dialog run on the terminal with a person at it (vestrel-host --interactive).
#ifndef VESTREL_REFERENCE_HOST_PLAY_TERMINAL_DIALOG_H
#define VESTREL_REFERENCE_HOST_PLAY_TERMINAL_DIALOG_H

#include <iosfwd>
#include <string>

#include "hostkit/dialogs.h"

namespace vhost {

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
