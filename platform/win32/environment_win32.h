// The Windows environment: shell folders, the print settings key of the registry and
// process names through psapi.
#pragma once

#include "platform/environment.h"

namespace velmora::platform::win32 {

class WinEnvironment : public Environment {
 public:
  std::optional<WString> LocalAppDataFolder() override;
  WString TempFolder() override;
  MachineSwitch ReadMachineSwitch(const WString& name) override;
  WString CurrentProcessName() override;
  std::optional<WString> ProcessName(DWORD processId) override;
};

}  // namespace velmora::platform::win32
