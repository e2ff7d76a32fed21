// A loadable module (a shared object, a DLL) opened by path, for the print host, which
// loads the plug-in through its exports as the Windows host does.
#pragma once

#include <memory>
#include <string>

namespace velmora::platform {

class ModuleLibrary {
 public:
  virtual ~ModuleLibrary() = default;

  // The address of an exported function, or null when the module does not export it.
  virtual void* Export(const char* name) = 0;

  // Keeps the module loaded for the life of the process; by default the module is
  // unloaded with this object.
  virtual void KeepLoaded() = 0;
};

// Loads a module (dlopen with local symbols; LoadLibraryW). Null on failure, with the
// system's reason in *error.
std::unique_ptr<ModuleLibrary> LoadModuleLibrary(const std::string& path, std::string* error);

// The file name the plug-in module has on this platform: "libvelmora_pxl.so",
// "velmora_pxl.dll".
const char* PluginModuleFileName();

}  // namespace velmora::platform
