// Loading the rendering plug-in module through its two exports, as the host driver
// does: DllGetClassObject for the class factory, DllCanUnloadNow at the end.
#pragma once

#include <memory>
#include <string>

#include "formats/host_interface.h"
#include "platform/module_library.h"

namespace velmora::host {

class PluginModule {
 public:
  // Loads the module; throws HostError naming the path when it cannot be loaded or
  // lacks one of the two exports.
  explicit PluginModule(const std::string& path);
  // Unloads the module when it says it may be unloaded; otherwise it stays loaded for
  // the life of the process, as a COM host leaves it.
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // Asks the class factory of the rendering plug-in class for a new plug-in object; the
  // caller owns the one reference. Throws HostError when the module offers no factory
  // or the object does not answer the plug-in interface.
  IPrintOemUni3* CreatePlugin();

  // DllCanUnloadNow: true when the module holds no objects and no locks.
  bool CanUnloadNow() const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<platform::ModuleLibrary> library_;
  PFN_DllGetClassObject getClassObject_ = nullptr;
  PFN_DllCanUnloadNow canUnloadNow_ = nullptr;
};

// Where the plug-in module is when no path is given: the module built with the program
// (when it still exists), then next to the program, then in ../lib beside the program's
// folder. Empty when none exists.
std::string FindDefaultModule(const std::string& builtPath);

}  // namespace velmora::host
