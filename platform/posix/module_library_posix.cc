// Loading the plug-in module with dlopen.
#include <dlfcn.h>

#include "platform/module_library.h"

namespace velmora::platform {
namespace {

class SharedObject final : public ModuleLibrary {
 public:
  explicit SharedObject(void* handle) : handle_(handle) {}
  ~SharedObject() override {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  void* Export(const char* name) override { return ::dlsym(handle_, name); }
  void KeepLoaded() override { handle_ = nullptr; }

 private:
  void* handle_;
};

}  // namespace

std::unique_ptr<ModuleLibrary> LoadModuleLibrary(const std::string& path, std::string* error) {
  // RTLD_LOCAL keeps the module's own symbols to itself, as a DLL's are.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    if (error != nullptr) *error = reason != nullptr ? reason : "unknown reason";
    return nullptr;
  }
  return std::make_unique<SharedObject>(handle);
}

const char* PluginModuleFileName() { return "libvelmora_pxl.so"; }

}  // namespace velmora::platform
