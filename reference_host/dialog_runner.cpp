#include "reference_host/dialog_runner.h"

#include <istream>
#include <ostream>

namespace vhost {

Control* Dialog::Find(int32_t controlId) const {
  for (const auto& control : controls) {
    if (control->id == controlId) return control.get();
  }
  return nullptr;
}

std::unique_ptr<Dialog> BuildDialog(const DialogTemplate& dialogTemplate) {
  auto dialog = std::make_unique<Dialog>();
  dialog->id = dialogTemplate.id;
  dialog->title = dialogTemplate.title;
  for (const ControlTemplate& item : dialogTemplate.controls) {
    auto control = std::make_unique<Control>();
    control->kind = item.kind;
    control->id = item.id;
    control->caption = item.caption;
    control->text = item.caption;
    dialog->controls.push_back(std::move(control));
  }
  return dialog;
}

std::vector<std::string> DescribeControls(const Dialog& dialog) {
  std::vector<std::string> lines;
  for (const auto& control : dialog.controls) {
    std::string line =
        "[" + std::to_string(control->id) + "] " + ControlKindName(control->kind) + " ";
    switch (control->kind) {
      case ControlKind::kEdit: line += "\"" + control->text + "\""; break;
      case ControlKind::kCheckbox:
        line += "\"" + control->caption + "\" = " + std::to_string(control->value);
        break;
      default: line += "\"" + control->text + "\""; break;
    }
    lines.push_back(line);
  }
  return lines;
}

bool ScriptedDialogRunner::Run(Dialog& dialog, DialogRun* run) {
  if (!answers_) return true;
  for (const auto& entry : answers_->texts) {
    Control* control = dialog.Find(entry.first);
    if (control == nullptr || control->kind != ControlKind::kEdit) {
      run->problems.push_back("the scene types into control " + std::to_string(entry.first) +
                              ", which is not an edit of dialog " + std::to_string(dialog.id));
      continue;
    }
    control->text = entry.second;
  }
  for (const auto& entry : answers_->values) {
    Control* control = dialog.Find(entry.first);
    if (control == nullptr || control->kind != ControlKind::kCheckbox) {
      run->problems.push_back("the scene sets control " + std::to_string(entry.first) +
                              ", which is not a checkbox of dialog " + std::to_string(dialog.id));
      continue;
    }
    control->value = entry.second;
  }
  return answers_->accept;
}

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
