// The system's text for a Windows error code, and whether the process runs under Wine.
#pragma once

#include <windows.h>

#include <string>

namespace velmora::platform::win32 {

// FormatMessageW's text for the code, in UTF-8, without the trailing line break and full
// stop; "error N" when the system has none.
std::string SystemMessage(DWORD code);

// True under Wine, whose spooler lacks a few calls (DeletePrinterDataW) that the system
// spooler has.
bool RunningUnderWine();

}  // namespace velmora::platform::win32
