#include "host/plugin_library.h"

#include <dlfcn.h>

#include "host/bundled_files.h"

namespace hcs::host {

std::unique_ptr<PluginLibrary> PluginLibrary::open(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = "no plugin installed or built next to this hcs (looked for";
    for (const std::string& candidate : bundledPluginCandidates()) error.append(" ").append(candidate);
    error += "); name one with --plugin";
    return nullptr;
  }
  // RTLD_LOCAL, as a host keeps each plugin's symbols to itself.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    error = reason != nullptr ? reason : "cannot load " + path;
    return nullptr;
  }
  std::unique_ptr<PluginLibrary> library(new PluginLibrary(handle));
  const auto resolve = [&](const char* name) -> void* {
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr) error = path + " does not export " + name;
    return symbol;
  };
  library->initPlugin = reinterpret_cast<InitPluginFn>(resolve("initPlugin"));
  library->score = reinterpret_cast<ScoreFn>(resolve("score"));
  library->getVersion = reinterpret_cast<GetVersionFn>(resolve("getVersion"));
  if (!library->initPlugin || !library->score || !library->getVersion) return nullptr;
  return library;
}

PluginLibrary::~PluginLibrary() { ::dlclose(handle_); }

}  // namespace hcs::host
