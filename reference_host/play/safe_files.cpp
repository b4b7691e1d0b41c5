#include "reference_host/play/safe_files.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <filesystem>

#include "hostkit/file_read.h"

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vhost {

namespace fs = std::filesystem;

namespace {

#if !defined(O_BINARY)
#define O_BINARY 0
#endif
#if !defined(O_CLOEXEC)
#define O_CLOEXEC 0
#endif

constexpr size_t kBufferBytes = size_t(1) << 16;

// The temporary files being written, so that an interrupt removes them: a
// small fixed table, since a signal handler may only touch such memory.
constexpr int kTrackedFiles = 8;
char trackedNames[kTrackedFiles][4096];
std::atomic<bool> trackedInUse[kTrackedFiles];

extern "C" void RemoveTemporariesAndDie(int signal) {
  for (int i = 0; i < kTrackedFiles; ++i) {
    if (trackedInUse[i].load()) unlink(trackedNames[i]);
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void InstallInterruptHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  ::signal(SIGINT, RemoveTemporariesAndDie);
  ::signal(SIGTERM, RemoveTemporariesAndDie);
}

void Track(const std::string& name) {
  if (name.size() >= sizeof trackedNames[0]) return;
  for (int i = 0; i < kTrackedFiles; ++i) {
    if (!trackedInUse[i].load()) {
      memcpy(trackedNames[i], name.c_str(), name.size() + 1);
      trackedInUse[i].store(true);
      return;
    }
  }
}

void Untrack(const std::string& name) {
  for (int i = 0; i < kTrackedFiles; ++i) {
    if (trackedInUse[i].load() && name == trackedNames[i]) trackedInUse[i].store(false);
  }
}

int ProcessId() {
#if defined(_WIN32)
  return _getpid();
#else
  return getpid();
#endif
}

bool SyncToDisk(int fd) {
#if defined(_WIN32)
  return _commit(fd) == 0;
#else
  return fsync(fd) == 0 || errno == EINVAL;  // EINVAL: a file that cannot be synced (a pipe)
#endif
}

bool RenameIntoPlace(const std::string& from, const std::string& to) {
#if defined(_WIN32)
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
#else
  return rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

AtomicFile::~AtomicFile() { Abandon(); }

bool AtomicFile::Open(const std::string& path, std::string* message) {
  Abandon();
  InstallInterruptHandlers();
  path_ = path;
  // A device or a pipe (/dev/stdout, /dev/null) is written directly: there
  // is nothing to replace, and renaming over it would replace the device.
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    if (S_ISDIR(status.st_mode)) {
      *message = "cannot write " + path + ": " + SystemReason(EISDIR);
      return false;
    }
    fd_ = open(path.c_str(), O_WRONLY | O_BINARY | O_CLOEXEC);
    if (fd_ < 0) {
      *message = "cannot write " + path + ": " + SystemReason(errno);
      return false;
    }
    error_ = 0;
    buffer_.clear();
    return true;
  }
  static std::atomic<unsigned> serial{0};
  fs::path target(path);
  std::string name = target.filename().string();
  temporary_ = (target.parent_path() / ("." + name + ".tmp-" + std::to_string(ProcessId()) + "-" +
                                        std::to_string(serial++)))
                   .string();
  fd_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    *message = "cannot write " + path + ": " + SystemReason(errno);
    temporary_.clear();
    return false;
  }
  Track(temporary_);
  error_ = 0;
  buffer_.clear();
  return true;
}

bool AtomicFile::Flush() {
  size_t done = 0;
  while (done < buffer_.size() && error_ == 0) {
    auto n = write(fd_, buffer_.data() + done, static_cast<unsigned>(buffer_.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
  return error_ == 0;
}

void AtomicFile::Write(const char* bytes, size_t size) {
  if (fd_ < 0 || error_ != 0) return;
  buffer_.append(bytes, size);
  if (buffer_.size() >= kBufferBytes) Flush();
}

bool AtomicFile::Finish(std::string* message) {
  if (fd_ < 0) {
    *message = "cannot write " + path_ + ": the file was not opened";
    return false;
  }
  const bool direct = temporary_.empty();
  bool ok = Flush() && (direct || SyncToDisk(fd_));
  if (!ok && error_ == 0) error_ = errno;
  if (close(fd_) != 0 && ok) {
    ok = false;
    error_ = errno;
  }
  fd_ = -1;
  finished_ = true;
  ok_ = ok;
  if (!ok) {
    *message = "cannot write " + path_ + ": " + SystemReason(error_);
    if (!direct) {
      unlink(temporary_.c_str());
      Untrack(temporary_);
      temporary_.clear();
    }
  }
  return ok;
}

bool AtomicFile::Publish(std::string* message) {
  if (!finished_ || !ok_) {
    *message = "cannot write " + path_ + ": the file was not written";
    return false;
  }
  finished_ = false;
  if (temporary_.empty()) return true;  // written directly
  // A replaced file keeps its mode (a read-only file stays read-only).
  struct stat status;
  if (stat(path_.c_str(), &status) == 0 && S_ISREG(status.st_mode))
    chmod(temporary_.c_str(), status.st_mode & 07777);
  bool ok = RenameIntoPlace(temporary_, path_);
  if (!ok) {
    *message = "cannot write " + path_ + ": " + SystemReason(errno);
    unlink(temporary_.c_str());
  }
  Untrack(temporary_);
  temporary_.clear();
  return ok;
}

void AtomicFile::Abandon() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  finished_ = false;
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    Untrack(temporary_);
  }
  temporary_.clear();
  buffer_.clear();
}

void OutputBatch::Add(const std::string& path, const std::string& bytes) {
  files_.push_back({path, bytes});
}

bool OutputBatch::Commit(std::vector<std::string>* messages) {
  std::vector<std::unique_ptr<AtomicFile>> owned;
  std::vector<AtomicFile*> all;
  std::string message;
  for (const auto& [path, bytes] : files_) {
    owned.push_back(std::make_unique<AtomicFile>());
    AtomicFile& file = *owned.back();
    if (!file.Open(path, &message)) {
      messages->push_back(message);
      continue;
    }
    file.Write(bytes);
    all.push_back(&file);
  }
  all.insert(all.end(), joined_.begin(), joined_.end());
  for (AtomicFile* file : all)
    if (file->is_open() && !file->Finish(&message)) messages->push_back(message);
  if (!messages->empty()) {
    for (AtomicFile* file : all) file->Abandon();
    return false;
  }
  for (AtomicFile* file : all)
    if (!file->Publish(&message)) messages->push_back(message);
  return messages->empty();
}

bool OutputApartFromInputs(const std::string& option, const std::string& path,
                           const std::vector<RunFile>& inputs, std::string* message) {
  for (const RunFile& input : inputs) {
    if (input.path.empty() || !SameFile(path, input.path)) continue;
    *message = option + " " + path + " is " + input.role + ", an input of the run";
    return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string* message) {
  AtomicFile file;
  if (!file.Open(path, message)) return false;
  file.Write(bytes);
  return file.Commit(message);
}

std::string SafeFileName(const std::string& name, bool* changed) {
  std::string safe;
  for (unsigned char c : name) {
    bool unsafe = c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':';
    safe += unsafe ? '_' : static_cast<char>(c);
  }
  while (!safe.empty() && safe[0] == '.') safe[0] = '_';
  for (size_t at = safe.find(".."); at != std::string::npos; at = safe.find("..", at))
    safe.replace(at, 2, "__");
  if (safe.empty()) safe = "scene";
  *changed = safe != name;
  return safe;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
#if defined(_WIN32)
  if (fs::exists(a, error) && fs::exists(b, error)) return fs::equivalent(a, b, error);
#else
  struct stat first, second;
  if (stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0)
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
#endif
  fs::path resolvedA = fs::weakly_canonical(fs::absolute(a, error), error);
  fs::path resolvedB = fs::weakly_canonical(fs::absolute(b, error), error);
  return resolvedA.lexically_normal() == resolvedB.lexically_normal();
}

}  // namespace vhost
