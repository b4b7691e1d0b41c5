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
  bool Commit(std::string* message) { return Finish(message) && Publish(message); }
  // The two halves of Commit: Finish writes everything to the temporary file
  // and closes it; Publish renames it into place, with the mode of the file
  // it replaces. A finished file not published is removed by Abandon.
  bool Finish(std::string* message);
  bool Publish(std::string* message);
  // Removes the temporary file; the file at path stays as it was.
  void Abandon();

 private:
  bool Flush();

  std::string path_;
  std::string temporary_;
  bool finished_ = false;
  bool ok_ = false;
  int fd_ = -1;
  std::string buffer_;
  int error_ = 0;  // the first errno of a failed write
};

// The outputs of one run: each is written whole to its temporary file, and
// none is put in place until all of them are, so a run that fails to write
// one changes no file.
class OutputBatch {
 public:
  // A file made here from its bytes.
  void Add(const std::string& path, const std::string& bytes);
  // A file opened and written elsewhere (the trace), finished here.
  void Join(AtomicFile* file) { joined_.push_back(file); }
  // Writes, then puts every file in place. False with a message per file
  // that failed; then no file was put in place.
  bool Commit(std::vector<std::string>* messages);

 private:
  std::vector<std::pair<std::string, std::string>> files_;
  std::vector<AtomicFile*> joined_;
};

// A file the run reads, and what it is to the run ("the scene").
struct RunFile {
  std::string role;
  std::string path;
};

// False, with a message naming option, path and the input, when the output
// at path is one of the inputs (the same file by device and inode, or by
// resolved path when it does not exist yet).
bool OutputApartFromInputs(const std::string& option, const std::string& path,
                           const std::vector<RunFile>& inputs, std::string* message);

// Writes the whole file at once through an AtomicFile.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* message);

// A scene's name made safe as a file name in the output folder: no path
// separators, no "..", no control characters, no leading dot, not empty.
// Unsafe characters become '_'; *changed says whether anything was replaced.
std::string SafeFileName(const std::string& name, bool* changed);

// Whether two paths name the same file (both existing: the same device and
// inode, so also through a link or another name), or the same path once
// resolved ("./x", a linked folder).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace vhost

#endif
