// Reading a whole input file safely: one open descriptor, checked on that
// descriptor to be a regular file of bounded size, never re-opened by name, so
// a file swapped for a link to a device or a pipe between a check and the
// read cannot make the host hang or read without end.
#ifndef VESTREL_HOSTKIT_FILE_READ_H
#define VESTREL_HOSTKIT_FILE_READ_H

#include <stddef.h>

#include <string>

namespace vhost {

// Reads the file at path into *bytes. False with a message naming the file
// and what is wrong ("no such <kind>", "not a regular file", "larger than N
// bytes", the system's reason) when it cannot be read whole. kind names the
// file's role: "scene file", "block file", "resource file".
bool ReadRegularFile(const std::string& path, const char* kind, size_t maxBytes, std::string* bytes,
                     std::string* message);

// The system's text for errno value code ("No space left on device").
std::string SystemReason(int code);

}  // namespace vhost

#endif
