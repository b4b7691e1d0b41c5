// The host's resource files: dialog templates in a small text format.
//
//   # a comment line; blank lines are ignored
//   dialog 21000 "Vestrel"
//     label    1 "Angle tolerance (degrees):"
//     edit     3 "5"
//     checkbox 4 "Freeze path"
//     ok       6 "OK"
//     cancel   7 "Cancel"
//   end
//
// Each item is one line: `dialog <id> "<title>"` opens a template that `end`
// closes; inside, `<kind> <id> "<caption>"` with kind label, edit, checkbox,
// ok or cancel. Ids are decimal signed 32-bit integers, unique within their
// dialog (dialog ids unique within the file). Texts are in double quotes, with
// \" and \\ as the only escapes. An edit's caption is its initial text.
#ifndef VESTREL_HOSTKIT_RESOURCE_FILE_H
#define VESTREL_HOSTKIT_RESOURCE_FILE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace vhost {

enum class ControlKind { kLabel, kEdit, kCheckbox, kOk, kCancel };

const char* ControlKindName(ControlKind kind);

struct ControlTemplate {
  ControlKind kind = ControlKind::kLabel;
  int32_t id = 0;
  std::string caption;
  int line = 0;
};

struct DialogTemplate {
  int32_t id = 0;
  std::string title;
  std::vector<ControlTemplate> controls;
  int line = 0;
};

struct ResourceFile {
  std::string path;
  std::vector<DialogTemplate> dialogs;

  const DialogTemplate* FindDialog(int32_t id) const;
};

struct ResourceParseResult {
  bool ok = false;
  ResourceFile file;
  std::vector<std::string> errors;  // "<name>:<line>: <what>", in file order
};

// Parses the text of a resource file; name stands for the file in messages.
ResourceParseResult ParseResourceText(const std::string& text, const std::string& name);
// Reads and parses a resource file. Files above 1 MiB are refused.
ResourceParseResult LoadResourceFile(const std::string& path);

}  // namespace vhost

#endif
