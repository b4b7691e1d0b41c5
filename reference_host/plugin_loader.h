// Loads the plug-in binary with the platform's loader and finds its entry by
// name: "Main" on Linux and macOS, "main" on Windows.
#ifndef VESTREL_REFERENCE_HOST_PLUGIN_LOADER_H
#define VESTREL_REFERENCE_HOST_PLUGIN_LOADER_H

#include <string>

#include "hostkit/protocol.h"

namespace vhost {

#if defined(_WIN32)
constexpr const char* kEntryName = "main";
#else
constexpr const char* kEntryName = "Main";
#endif

class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads the library at path and looks up the entry. Returns false with a
  // message that names the file and what is missing.
  bool Load(const std::string& path, std::string* message);
  EntryFunction entry() const { return entry_; }
  const std::string& path() const { return path_; }
  // Unloads the library; the entry must not be called afterwards.
  void Unload();

 private:
  void* handle_ = nullptr;
  EntryFunction entry_ = nullptr;
  std::string path_;
};

// The folder of the running executable, or empty when it cannot be told.
std::string ExecutableDirectory();

}  // namespace vhost

#endif
