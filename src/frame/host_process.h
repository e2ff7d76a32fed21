// Which process prints: the spooler, the 64-bit print host serving 32-bit applications,
// or the application itself. The device-mode merge records the printing application in
// the settings and in the printer's data ("ModuleName"), lowers 1200 dpi to 600 dpi where
// required and limits copies to 999.
#pragma once

#include <cstdint>
#include <optional>

#include "formats/host_interface.h"

namespace velmora {

inline constexpr const WCHAR* kModuleNameValue = VTEXT("ModuleName");
// "ModuleName" is written as this many bytes: the name, NUL-terminated, zero-padded.
inline constexpr std::size_t kModuleNameBytes = 260;

// The device-mode merge hook: always S_OK.
HRESULT MergeDevMode(DWORD mode, HANDLE hPrinter, DEVMODEW* publicDMIn, DEVMODEW* publicDMOut, std::uint8_t* vendorDMIn,
                     std::uint8_t* vendorDMOut);

// Stores the printing application's executable name in both bodies and the printer data.
void RecordPrintingModule(std::uint8_t* vendorDMIn, std::uint8_t* vendorDMOut, HANDLE hPrinter);

// The executable name of the client application the print host works for, at most
// capacity - 1 characters, or nothing.
std::optional<WString> GetClientProcessName(std::size_t capacity);

// Writes "ModuleName" (at most 129 characters) for the printer behind the handle.
void StoreModuleName(WStringView name, HANDLE hPrinter);

// Reads "ModuleName" of the printer behind the handle; empty when it cannot be read.
WString ReadModuleName(HANDLE hPrinter);

}  // namespace velmora
