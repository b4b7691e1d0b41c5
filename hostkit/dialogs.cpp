#include "hostkit/dialogs.h"

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

}  // namespace vhost
