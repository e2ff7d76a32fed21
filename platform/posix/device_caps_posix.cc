// Device figures on POSIX, from the printer's paper model in the store or the generic one.
#include "platform/posix/device_caps_posix.h"

#include <string>

#include "platform/paper_model.h"
#include "platform/paper_model_text.h"
#include "platform/posix/spooler_store.h"

namespace velmora::platform::posix {

std::optional<DeviceFigures> ModelDeviceCapabilities::Figures(const WString& printerName, const PageSetup& setup) {
  if (printerName.empty()) return std::nullopt;
  // The platform layer has no log; a malformed stored model is refused when it is set
  // (velmora printer set), so here it quietly gives way to the generic model.
  if (auto value = ReadStorePrinterValue(printerName, kPaperModelValueName)) {
    std::string error;
    if (auto model = PaperModelFromValue(*value, &error)) return FiguresFor(*model, setup);
  }
  return FiguresFor(GenericPaperModel(), setup);
}

}  // namespace velmora::platform::posix
