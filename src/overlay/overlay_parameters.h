// Reading a printer's overlay folder and list (named in formats/overlay_file.h) through
// the spooler, for the overlay set-up at the start of a job.
#pragma once

#include <cstddef>

#include "formats/overlay_file.h"
#include "platform/types.h"

namespace velmora {

// The overlay folder holds at most this many characters, a whole path this many.
inline constexpr std::size_t kOverlayFolderChars = 129;
inline constexpr std::size_t kOverlayPathChars = 259;

namespace Utility {

// The printer's overlay folder; empty when it cannot be read.
WString GetOverlayDirectoryFromRegistry(const WString& printerName);

// The printer's overlay list; empty when it cannot be read.
WString GetOverlayFileNameFromRegistry(const WString& printerName);

}  // namespace Utility
}  // namespace velmora
