#include "host/plugin_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "host/host_error.h"

namespace velmora::host {
namespace {

constexpr const char* kModuleFileName = "libvelmora_pxl.so";

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
  return text;
}

}  // namespace

PluginModule::PluginModule(const std::string& path) : path_(path) {
  if (path.empty()) throw HostError("No plug-in module found; name one with --module PATH");
  // RTLD_LOCAL keeps the module's own symbols to itself, as a DLL's are.
  library_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) {
    const char* reason = ::dlerror();
    throw HostError("Unable to load plug-in module '" + path + "': " + (reason ? reason : "unknown reason"));
  }
  getClassObject_ = reinterpret_cast<PFN_DllGetClassObject>(::dlsym(library_, "DllGetClassObject"));
  canUnloadNow_ = reinterpret_cast<PFN_DllCanUnloadNow>(::dlsym(library_, "DllCanUnloadNow"));
  const char* missing = getClassObject_ == nullptr ? "DllGetClassObject"
                        : canUnloadNow_ == nullptr ? "DllCanUnloadNow"
                                                   : nullptr;
  if (missing != nullptr) {
    ::dlclose(library_);
    library_ = nullptr;
    throw HostError("Plug-in module '" + path + "' does not export " + missing);
  }
}

PluginModule::~PluginModule() {
  if (library_ != nullptr && CanUnloadNow()) ::dlclose(library_);
}

IPrintOemUni3* PluginModule::CreatePlugin() {
  IClassFactory* factory = nullptr;
  const HRESULT got =
      getClassObject_(CLSID_OEMRENDER, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(got) || factory == nullptr) {
    throw HostError("Plug-in module '" + path_ + "' has no class factory for the rendering plug-in (" + Hex(got) +
                    ")");
  }
  IPrintOemUni3* plugin = nullptr;
  const HRESULT created = factory->CreateInstance(nullptr, IID_IPrintOemUni3, reinterpret_cast<void**>(&plugin));
  factory->Release();
  if (FAILED(created) || plugin == nullptr) {
    throw HostError("Plug-in module '" + path_ + "' does not offer the rendering plug-in interface (" +
                    Hex(created) + ")");
  }
  return plugin;
}

bool PluginModule::CanUnloadNow() const { return canUnloadNow_ != nullptr && canUnloadNow_() == S_OK; }

std::string FindDefaultModule(const std::string& builtPath) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!builtPath.empty() && fs::is_regular_file(builtPath, error)) return builtPath;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const fs::path folder = program.parent_path();
  for (const fs::path& candidate : {folder / kModuleFileName, folder.parent_path() / "lib" / kModuleFileName}) {
    if (fs::is_regular_file(candidate, error)) return candidate.string();
  }
  return {};
}

}  // namespace velmora::host
