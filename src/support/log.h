// The diagnostic log: messages appended to "DriverLog.txt" in the "VELMORA IT Co" folder
// of the user's local application data, while the machine-wide switch "EnableLogging"
// is 1. Each message opens, appends and closes the file; nothing is buffered.
//
// Messages read like "VELMORA - CUnidrvInterface::Initialize => start under pcl\r\n";
// callers supply their own line ends. The value variants append the value and, except
// LogMessageChar, "\r\n". A null message, or a value of 0, writes nothing at all.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace velmora {

void LogMessage(const WCHAR* message);
void LogMessageChar(const WCHAR* message, std::uint16_t value);  // "%c": the value's low byte
void LogMessageInt(const WCHAR* message, std::int32_t value);    // "%d\r\n"
void LogMessageLong(const WCHAR* message, std::int32_t value);   // "%ld\r\n"
void LogMessageDouble(const WCHAR* message, double value);       // "%f\r\n"
void LogMessageHex(const WCHAR* message, std::uint16_t value);   // "%02x\r\n"

// Whether messages are written now: callers that build a message of many parts skip the
// work while logging is off.
bool LogIsOn();

// Logs `before`, a file path and `after` as one message. A message that would pass the
// log's line limit keeps its own text and shortens the path instead: "..." and as much
// of the path's end (its file name and the folders nearest it) as fits.
void LogMessagePath(WStringView before, WStringView path, WStringView after);

// The log file's folder name under the local application-data folder.
inline constexpr const WCHAR* kLogFolderName = VTEXT("VELMORA IT Co");
inline constexpr const WCHAR* kLogFileName = VTEXT("DriverLog.txt");

namespace detail {
// Sets the process-wide log state back to its initial values (tests only).
void ResetLogStateForTesting();
}  // namespace detail

}  // namespace velmora
