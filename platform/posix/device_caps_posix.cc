#include "platform/posix/device_caps_posix.h"

#include "platform/paper_model.h"

namespace velmora::platform::posix {

std::optional<DeviceFigures> ModelDeviceCapabilities::Figures(const WString& printerName, const PageSetup& setup) {
  if (printerName.empty()) return std::nullopt;
  return FiguresFor(GenericPaperModel(), setup);
}

}  // namespace velmora::platform::posix
