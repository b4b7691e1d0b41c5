// Texts that come from files (node and clip names, copyright lines, scene
// names) shown on a terminal: a control character, an escape sequence or a
// byte that is not UTF-8 could rewrite the screen or fake a line of the
// host's own, so each is shown escaped and the text stays on one line.
#ifndef VESTREL_REFERENCE_HOST_PRINTABLE_TEXT_H
#define VESTREL_REFERENCE_HOST_PRINTABLE_TEXT_H

#include <string>

namespace vhost {

// The text with every C0 and C1 control character and every byte that does
// not begin a well-formed UTF-8 character written as \n, \t, \r or \xNN;
// everything else as it is.
std::string EscapedText(const std::string& text);

// The length of the well-formed UTF-8 character at text[i] (no overlong
// forms, no surrogates, nothing past U+10FFFF); 0 when there is none.
size_t Utf8CharacterLength(const std::string& text, size_t i);

// A file name's extension in lower case (".glb" for "x.Glb"): extensions are
// compared without regard to case everywhere.
std::string LowercaseExtension(const std::string& path);

}  // namespace vhost

#endif
