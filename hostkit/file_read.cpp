#include "hostkit/file_read.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vhost {

namespace {

#if !defined(O_BINARY)
#define O_BINARY 0
#endif
#if !defined(O_NONBLOCK)
#define O_NONBLOCK 0
#endif
#if !defined(O_CLOEXEC)
#define O_CLOEXEC 0
#endif

// Closes the descriptor when the read ends, however it ends.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::string SystemReason(int code) {
  const char* text = strerror(code);
  return text != nullptr ? text : "error " + std::to_string(code);
}

bool ReadRegularFile(const std::string& path, const char* kind, size_t maxBytes, std::string* bytes,
                     std::string* message) {
  // O_NONBLOCK: opening a pipe for reading would otherwise wait for a writer.
  Descriptor file{open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) {
    *message =
        path + ": " + (errno == ENOENT ? "no such " + std::string(kind) : SystemReason(errno));
    return false;
  }
  struct stat status;
  if (fstat(file.fd, &status) != 0) {
    *message = path + ": " + SystemReason(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    *message = path + ": not a regular file";
    return false;
  }
  if (status.st_size < 0 || static_cast<unsigned long long>(status.st_size) > maxBytes) {
    *message = path + ": larger than the " + std::to_string(maxBytes) + " bytes allowed";
    return false;
  }
  // Read one byte more than allowed, so a file that grows meanwhile is caught.
  bytes->clear();
  char buffer[65536];
  for (;;) {
    auto n = read(file.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *message = path + ": " + SystemReason(errno);
      return false;
    }
    if (n == 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
    if (bytes->size() > maxBytes) {
      *message = path + ": larger than the " + std::to_string(maxBytes) + " bytes allowed";
      return false;
    }
  }
  return true;
}

}  // namespace vhost
