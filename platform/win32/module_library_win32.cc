// Loading the plug-in module with LoadLibraryW.
#include <windows.h>

#include "platform/module_library.h"
#include "platform/text_encoding.h"
#include "platform/win32/system_message.h"

namespace velmora::platform {
namespace {

class Dll final : public ModuleLibrary {
 public:
  explicit Dll(HMODULE module) : module_(module) {}
  ~Dll() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  void* Export(const char* name) override {
    return reinterpret_cast<void*>(reinterpret_cast<void (*)()>(::GetProcAddress(module_, name)));
  }
  void KeepLoaded() override { module_ = nullptr; }

 private:
  HMODULE module_;
};

}  // namespace

std::unique_ptr<ModuleLibrary> LoadModuleLibrary(const std::string& path, std::string* error) {
  HMODULE module = ::LoadLibraryW(Utf8ToUtf16(path).c_str());
  if (module == nullptr) {
    if (error != nullptr) *error = win32::SystemMessage(::GetLastError());
    return nullptr;
  }
  return std::make_unique<Dll>(module);
}

const char* PluginModuleFileName() { return "velmora_pxl.dll"; }

}  // namespace velmora::platform
