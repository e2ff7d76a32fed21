// Loading the plug-in module through its two exports, and finding the default module.
#include "host/plugin_module.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "host/host_error.h"
#include "platform/files.h"

namespace velmora::host {
namespace {

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
  return text;
}

}  // namespace

PluginModule::PluginModule(const std::string& path) : path_(path) {
  if (path.empty()) throw HostError("No plug-in module found; name one with --module PATH");
  std::string reason;
  library_ = platform::LoadModuleLibrary(path, &reason);
  if (library_ == nullptr) throw HostError("Unable to load plug-in module '" + path + "': " + reason);
  getClassObject_ = reinterpret_cast<PFN_DllGetClassObject>(library_->Export("DllGetClassObject"));
  canUnloadNow_ = reinterpret_cast<PFN_DllCanUnloadNow>(library_->Export("DllCanUnloadNow"));
  const char* missing = getClassObject_ == nullptr ? "DllGetClassObject"
                        : canUnloadNow_ == nullptr ? "DllCanUnloadNow"
                                                   : nullptr;
  if (missing != nullptr) throw HostError("Plug-in module '" + path + "' does not export " + missing);
}

PluginModule::~PluginModule() {
  if (!CanUnloadNow()) library_->KeepLoaded();
}

IPrintOemUni3* PluginModule::CreatePlugin() {
  IClassFactory* factory = nullptr;
  const HRESULT got = getClassObject_(CLSID_OEMRENDER, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(got) || factory == nullptr) {
    throw HostError("Plug-in module '" + path_ + "' has no class factory for the rendering plug-in (" + Hex(got) + ")");
  }
  IPrintOemUni3* plugin = nullptr;
  const HRESULT created = factory->CreateInstance(nullptr, IID_IPrintOemUni3, reinterpret_cast<void**>(&plugin));
  factory->Release();
  if (FAILED(created) || plugin == nullptr) {
    throw HostError("Plug-in module '" + path_ + "' does not offer the rendering plug-in interface (" + Hex(created) +
                    ")");
  }
  return plugin;
}

bool PluginModule::CanUnloadNow() const { return canUnloadNow_ != nullptr && canUnloadNow_() == S_OK; }

std::string FindDefaultModule(const std::string& builtPath) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!builtPath.empty() && fs::is_regular_file(platform::PathFromUtf8(builtPath), error)) return builtPath;
  const std::optional<std::string> program = platform::ProgramPath();
  if (!program) return {};
  const fs::path folder = platform::PathFromUtf8(*program).parent_path();
  const char* name = platform::PluginModuleFileName();
  for (const fs::path& candidate :
       {folder / name, folder.parent_path() / "lib" / name, folder.parent_path() / "lib" / "velmora" / name}) {
    if (fs::is_regular_file(candidate, error)) return platform::PathToUtf8(candidate);
  }
  return {};
}

}  // namespace velmora::host
