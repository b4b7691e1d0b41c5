#include "reference_host/play/terminal_dialog.h"

#include <istream>
#include <ostream>

namespace vhost {

bool TerminalDialogRunner::Ask(const std::string& prompt, std::string* answer) {
  out_ << prompt << std::flush;
  if (!std::getline(in_, *answer)) {
    out_ << "\n";
    return false;
  }
  if (!answer->empty() && answer->back() == '\r') answer->pop_back();
  return true;
}

bool TerminalDialogRunner::Run(Dialog& dialog, DialogRun* /*run*/) {
  out_ << "\n== " << dialog.title << " (dialog " << dialog.id << ") ==\n";
  std::string pendingLabel;
  for (const auto& control : dialog.controls) {
    std::string answer;
    switch (control->kind) {
      case ControlKind::kLabel: pendingLabel = control->text; break;
      case ControlKind::kEdit: {
        std::string prompt =
            pendingLabel.empty() ? "Text " + std::to_string(control->id) : pendingLabel;
        if (!Ask(prompt + " [" + control->text + "]: ", &answer)) return false;
        if (!answer.empty()) control->text = answer;
        pendingLabel.clear();
        break;
      }
      case ControlKind::kCheckbox:
        for (;;) {
          if (!Ask("[" + std::string(control->value ? "x" : " ") + "] " + control->caption +
                       " (0/1) [" + std::to_string(control->value) + "]: ",
                   &answer)) {
            return false;
          }
          if (answer.empty()) break;
          try {
            size_t used = 0;
            long long value = std::stoll(answer, &used, 10);
            if (used == answer.size() && value >= INT32_MIN && value <= INT32_MAX) {
              control->value = static_cast<int32_t>(value);
              break;
            }
          } catch (const std::exception&) {
          }
          out_ << "  please type a whole number, or nothing to keep the value\n";
        }
        break;
      default: break;
    }
  }
  for (;;) {
    std::string answer;
    if (!Ask("OK or Cancel? [o/c]: ", &answer)) return false;
    if (answer == "o" || answer == "O" || answer == "ok" || answer == "OK" || answer.empty())
      return true;
    if (answer == "c" || answer == "C" || answer == "cancel" || answer == "Cancel") return false;
  }
}

}  // namespace vhost
