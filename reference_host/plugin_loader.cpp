#include "reference_host/plugin_loader.h"

#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vhost {

namespace {

#if defined(_WIN32)
void* OpenLibrary(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}

void* FindSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* OpenLibrary(const std::string& path, std::string* error) {
  // RTLD_NOW: a plug-in with unresolved symbols is refused here, not later in
  // the middle of a call. RTLD_LOCAL: its symbols stay its own.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = dlerror();
    *error = text != nullptr ? text : "dlopen failed";
  }
  return handle;
}

void* FindSymbol(void* handle, const char* name) { return dlsym(handle, name); }

void CloseLibrary(void* handle) { dlclose(handle); }
#endif

}  // namespace

PluginLibrary::~PluginLibrary() { Unload(); }

bool PluginLibrary::Load(const std::string& path, std::string* message) {
  Unload();
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    *message = path +
               ": no such plug-in file (build it with: cmake --build --preset default --target "
               "Vestrel, or name one with --plugin)";
    return false;
  }
  if (!std::filesystem::is_regular_file(path, error)) {
    *message = path + ": not a plug-in file (not a regular file)";
    return false;
  }
  // A path without a folder would make the loader search the library path.
  std::string loadPath = std::filesystem::absolute(path, error).string();
  std::string loaderError;
  void* handle = OpenLibrary(loadPath, &loaderError);
  if (handle == nullptr) {
    *message = path + ": cannot be loaded as a plug-in: " + loaderError;
    return false;
  }
  void* entry = FindSymbol(handle, kEntryName);
  if (entry == nullptr) {
    CloseLibrary(handle);
    *message = path + ": the plug-in has no entry named '" + kEntryName + "'";
    return false;
  }
  handle_ = handle;
  entry_ = reinterpret_cast<EntryFunction>(entry);
  path_ = path;
  return true;
}

void PluginLibrary::Unload() {
  if (handle_ != nullptr) CloseLibrary(handle_);
  handle_ = nullptr;
  entry_ = nullptr;
}

std::string ExecutableDirectory() {
#if defined(_WIN32)
  char buffer[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::filesystem::path(std::string(buffer, n)).parent_path().string();
#elif defined(__linux__)
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
#else
  return {};
#endif
}

}  // namespace vhost
