#include "hostkit/resource_file.h"

#include "hostkit/file_read.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace vhost {

namespace {

constexpr size_t kMaxResourceFileBytes = size_t(1) << 20;
constexpr size_t kMaxErrors = 50;

struct LineFault {
  std::string what;
};

// Reads the tokens of one line: words, and texts in double quotes.
class LineReader {
 public:
  explicit LineReader(const std::string& line) : line_(line) {}

  bool AtEnd() {
    SkipSpace();
    return pos_ >= line_.size();
  }

  std::string Word(const char* what) {
    SkipSpace();
    if (pos_ >= line_.size()) throw LineFault{std::string("missing ") + what};
    size_t start = pos_;
    while (pos_ < line_.size() && !IsSpace(line_[pos_]) && line_[pos_] != '"') ++pos_;
    if (pos_ == start) throw LineFault{std::string("expected ") + what + ", found a quoted text"};
    return line_.substr(start, pos_ - start);
  }

  int32_t Id(const char* what) {
    std::string word = Word(what);
    size_t i = word[0] == '-' || word[0] == '+' ? 1 : 0;
    bool digits = i < word.size();
    for (size_t k = i; k < word.size(); ++k) digits = digits && word[k] >= '0' && word[k] <= '9';
    if (!digits)
      throw LineFault{std::string(what) + " must be a decimal integer, got '" + word + "'"};
    if (word.size() - i > 11)
      throw LineFault{std::string(what) + " " + word + " is out of the 32-bit range"};
    long long value = std::stoll(word);
    if (value < INT32_MIN || value > INT32_MAX)
      throw LineFault{std::string(what) + " " + word + " is out of the 32-bit range"};
    return static_cast<int32_t>(value);
  }

  std::string Quoted(const char* what) {
    SkipSpace();
    if (pos_ >= line_.size()) throw LineFault{std::string("missing ") + what + " in double quotes"};
    if (line_[pos_] != '"') throw LineFault{std::string("expected ") + what + " in double quotes"};
    ++pos_;
    std::string text;
    while (pos_ < line_.size()) {
      char c = line_[pos_++];
      if (c == '"') return text;
      if (c == '\\') {
        if (pos_ >= line_.size()) break;
        char escaped = line_[pos_++];
        if (escaped != '"' && escaped != '\\') {
          throw LineFault{std::string("unknown escape \\") + escaped +
                          " (only \\\" and \\\\ are allowed)"};
        }
        c = escaped;
      }
      text += c;
    }
    throw LineFault{std::string(what) + " has no closing double quote"};
  }

  void ExpectEnd() {
    if (!AtEnd()) throw LineFault{"unexpected text after the item: '" + line_.substr(pos_) + "'"};
  }

 private:
  static bool IsSpace(char c) { return c == ' ' || c == '\t'; }
  void SkipSpace() {
    while (pos_ < line_.size() && IsSpace(line_[pos_])) ++pos_;
  }

  const std::string& line_;
  size_t pos_ = 0;
};

bool ParseKind(const std::string& word, ControlKind* kind) {
  static const struct {
    const char* name;
    ControlKind kind;
  } kinds[] = {
      {"label", ControlKind::kLabel},       {"edit", ControlKind::kEdit},
      {"checkbox", ControlKind::kCheckbox}, {"ok", ControlKind::kOk},
      {"cancel", ControlKind::kCancel},
  };
  for (const auto& entry : kinds) {
    if (word == entry.name) {
      *kind = entry.kind;
      return true;
    }
  }
  return false;
}

class Parser {
 public:
  explicit Parser(const std::string& name) : name_(name) {}

  void Line(const std::string& rawLine, int number) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    try {
      LineReader reader(line);
      if (reader.AtEnd()) return;
      size_t first = line.find_first_not_of(" \t");
      if (line[first] == '#') return;
      std::string word = reader.Word("an item");
      if (word == "dialog") {
        OpenDialog(reader, number);
      } else if (word == "end") {
        reader.ExpectEnd();
        CloseDialog(number);
      } else {
        Control(word, reader, number);
      }
    } catch (const LineFault& fault) {
      Error(number, fault.what);
    }
  }

  void Finish(int lastLine) {
    if (open_)
      Error(lastLine, "dialog " + std::to_string(current_.id) + " (line " +
                          std::to_string(current_.line) + ") has no 'end'");
    open_ = false;
  }

  ResourceParseResult Result() {
    ResourceParseResult result;
    result.ok = errors_.empty();
    result.errors = errors_;
    if (result.ok) {
      result.file.path = name_;
      result.file.dialogs = dialogs_;
    }
    return result;
  }

 private:
  void OpenDialog(LineReader& reader, int number) {
    if (open_)
      throw LineFault{"'dialog' inside dialog " + std::to_string(current_.id) + " (line " +
                      std::to_string(current_.line) + "): 'end' is missing"};
    DialogTemplate dialog;
    dialog.id = reader.Id("the dialog id");
    dialog.title = reader.Quoted("the dialog title");
    reader.ExpectEnd();
    dialog.line = number;
    if (!dialogIds_.insert(dialog.id).second)
      throw LineFault{"dialog " + std::to_string(dialog.id) + " is defined twice"};
    current_ = dialog;
    controlIds_.clear();
    open_ = true;
  }

  void CloseDialog(int /*number*/) {
    if (!open_) throw LineFault{"'end' without a 'dialog'"};
    dialogs_.push_back(current_);
    open_ = false;
  }

  void Control(const std::string& word, LineReader& reader, int number) {
    ControlTemplate control;
    if (!ParseKind(word, &control.kind)) {
      throw LineFault{"unknown item '" + word +
                      "' (expected dialog, end, label, edit, checkbox, ok or cancel)"};
    }
    if (!open_) throw LineFault{"'" + word + "' outside a dialog"};
    control.id = reader.Id("the control id");
    control.caption = reader.Quoted("the caption");
    reader.ExpectEnd();
    control.line = number;
    if (!controlIds_.insert(control.id).second) {
      throw LineFault{"control id " + std::to_string(control.id) + " is used twice in dialog " +
                      std::to_string(current_.id)};
    }
    current_.controls.push_back(control);
  }

  void Error(int line, const std::string& what) {
    if (errors_.size() < kMaxErrors)
      errors_.push_back(name_ + ":" + std::to_string(line) + ": " + what);
  }

  std::string name_;
  std::vector<DialogTemplate> dialogs_;
  std::set<int32_t> dialogIds_;
  std::set<int32_t> controlIds_;
  DialogTemplate current_;
  bool open_ = false;
  std::vector<std::string> errors_;
};

}  // namespace

const char* ControlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel: return "label";
    case ControlKind::kEdit: return "edit";
    case ControlKind::kCheckbox: return "checkbox";
    case ControlKind::kOk: return "ok";
    case ControlKind::kCancel: return "cancel";
  }
  return "control";
}

const DialogTemplate* ResourceFile::FindDialog(int32_t id) const {
  for (const DialogTemplate& dialog : dialogs) {
    if (dialog.id == id) return &dialog;
  }
  return nullptr;
}

ResourceParseResult ParseResourceText(const std::string& text, const std::string& name) {
  Parser parser(name);
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (line.find('\0') != std::string::npos) {
      ResourceParseResult result;
      result.errors.push_back(name + ":" + std::to_string(number) +
                              ": a NUL byte: this is not a text file");
      return result;
    }
    parser.Line(line, number);
  }
  parser.Finish(number);
  return parser.Result();
}

ResourceParseResult LoadResourceFile(const std::string& path) {
  ResourceParseResult result;
  std::string text, message;
  if (!ReadRegularFile(path, "resource file", kMaxResourceFileBytes, &text, &message)) {
    result.errors.push_back(message);
    return result;
  }
  return ParseResourceText(text, path);
}

}  // namespace vhost
