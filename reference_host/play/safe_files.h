// Output files that never leave a half-written file in place of a good one:
// each is written to a temporary file in the same folder, flushed to the disk
// and renamed into place only when all of it is there. On any failure (a full
// disk, a folder where the file should be, an interrupt) the old file stays
// and the temporary file is removed; the message gives the system's reason.
#ifndef VESTREL_REFERENCE_HOST_PLAY_SAFE_FILES_H
#define VESTREL_REFERENCE_HOST_PLAY_SAFE_FILES_H

#include <stddef.h>

#include <string>
#include <vector>

namespace vhost {

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();  // abandons what was not committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Starts the file at path (its temporary file). False with a message.
  bool Open(const std::string& path, std::string* message);
  bool is_open() const { return fd_ >= 0; }
  // Appends bytes; a failure is kept and reported by Commit.
  void Write(const char* bytes, size_t size);
  void Write(const std::string& text) { Write(text.data(), text.size()); }
  // Flushes, closes and renames the file into place. False with a message
  // naming the file and the reason, the temporary file removed.
  bool Commit(std::string* message);
  // Removes the temporary file; the file at path stays as it was.
  void Abandon();

 private:
  bool Flush();

  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  std::string buffer_;
  int error_ = 0;  // the first errno of a failed write
};

// Writes the whole file at once through an AtomicFile.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* message);

// A scene's name made safe as a file name in the output folder: no path
// separators, no "..", no control characters, no leading dot, not empty.
// Unsafe characters become '_'; *changed says whether anything was replaced.
std::string SafeFileName(const std::string& name, bool* changed);

// Whether two paths name the same file (both existing), or the same path.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace vhost

#endif
