#include "reference_host/printable_text.h"

#include <ctype.h>
#include <stdio.h>

#include <filesystem>

namespace vhost {

size_t Utf8CharacterLength(const std::string& text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return length;
}

std::string EscapedText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  auto escape = [&out](unsigned char c) {
    char code[8];
    snprintf(code, sizeof code, "\\x%02X", c);
    out += code;
  };
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = Utf8CharacterLength(text, i);
    if (length == 0) {
      escape(c);
      i += 1;
    } else if (c == '\n') {
      out += "\\n", i += 1;
    } else if (c == '\t') {
      out += "\\t", i += 1;
    } else if (c == '\r') {
      out += "\\r", i += 1;
    } else if (c < 0x20 || c == 0x7F) {
      escape(c);
      i += 1;
    } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080 to U+009F, the C1 controls (a terminal takes U+009B for ESC [)
      escape(c);
      escape(static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

std::string LowercaseExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = char(tolower(static_cast<unsigned char>(c)));
  return extension;
}

}  // namespace vhost
