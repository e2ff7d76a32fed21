// The POSIX environment: XDG folders, /proc process names, machine switches from the
// environment or the printer store.
#pragma once

#include "platform/environment.h"

namespace velmora::platform::posix {

class PosixEnvironment : public Environment {
 public:
  std::optional<WString> LocalAppDataFolder() override;
  WString TempFolder() override;
  MachineSwitch ReadMachineSwitch(const WString& name) override;
  WString CurrentProcessName() override;
  std::optional<WString> ProcessName(DWORD processId) override;
};

}  // namespace velmora::platform::posix
