#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace hcs::host {

// The plugin loaded the way a host loads it (dlopen) with its three exports resolved. Unloads on
// destruction. The function pointers stay valid while the object lives.
class PluginLibrary {
 public:
  using InitPluginFn = int32_t (*)(const char*, int32_t, char*);
  using ScoreFn = int32_t (*)(const char*, int32_t, const char*, int32_t, const char*, int32_t, char*,
                              uint32_t);
  using GetVersionFn = const char* (*)();

  // nullptr with the loader's reason in `error` when the library or one of its exports is missing. An
  // empty path is the plugin found nowhere next to hcs (see bundledPlugin); `error` says where it looked.
  static std::unique_ptr<PluginLibrary> open(const std::string& path, std::string& error);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  InitPluginFn initPlugin = nullptr;
  ScoreFn score = nullptr;
  GetVersionFn getVersion = nullptr;

 private:
  explicit PluginLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace hcs::host
