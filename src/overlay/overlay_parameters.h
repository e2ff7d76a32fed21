// Where a printer keeps its overlays: the printer-data values "OvelayDirectory" (the
// folder) and "OvelayFiles" (the list, entries separated by ";").
#pragma once

#include <vector>

#include "platform/types.h"

namespace velmora {

inline constexpr const WCHAR* kOverlayDirectoryValue = VTEXT("OvelayDirectory");
inline constexpr const WCHAR* kOverlayFilesValue = VTEXT("OvelayFiles");

// The overlay folder holds at most this many characters, a whole path this many.
inline constexpr std::size_t kOverlayFolderChars = 129;
inline constexpr std::size_t kOverlayPathChars = 259;

namespace Utility {

// The printer's overlay folder; empty when it cannot be read.
WString GetOverlayDirectoryFromRegistry(const WString& printerName);

// The printer's overlay list; empty when it cannot be read.
WString GetOverlayFileNameFromRegistry(const WString& printerName);

// The pieces of a text between delimiters, in order: adjacent delimiters give an empty
// piece, a delimiter at the very end gives no empty last piece, an empty text no piece.
void split(const WString& text, WCHAR delimiter, std::vector<WString>& pieces);
std::vector<WString> split(const WString& text, WCHAR delimiter);

}  // namespace Utility
}  // namespace velmora
