#include "hostkit/protocol.h"

#include <stdio.h>

namespace vhost {

std::string CodeName(uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    char c = static_cast<char>((code >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) {
      char hex[16];
      snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
      return hex;
    }
    text += c;
  }
  return text;
}

bool ParseCode(const std::string& text, uint32_t* code) {
  if (text.size() != 4) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
    value = (value << 8) | static_cast<uint8_t>(c);
  }
  *code = value;
  return true;
}

bool IsHostFunctionName(const std::string& name) {
  for (const char* known : kHostFunctionNames) {
    if (name == known) return true;
  }
  return false;
}

bool IsCallbackSelector(uint32_t selector) { return ExpectedRecordSize(selector) >= 0; }

}  // namespace vhost
