// The diagnostic log, written while the machine-wide switch EnableLogging is on.
#include "src/support/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "formats/text.h"
#include "platform/services.h"

namespace velmora {
namespace {

// Process-wide state. The flags only ever move from their initial to their final
// values; the folder is filled on first use and guarded, since devices of one process
// may log from several threads.
std::atomic<bool> loggingEnabled{false};
std::atomic<bool> registryReadable{true};
std::mutex folderMutex;
WString logFolder;

// The largest converted message that is written; a longer one loses its text.
constexpr std::size_t kMaxMessageBytes = 259;

// Decides whether this message may be written, reading the switch while logging is off.
bool LoggingIsOn() {
  if (loggingEnabled.load(std::memory_order_relaxed)) return true;
  if (!registryReadable.load(std::memory_order_relaxed)) return false;
  const platform::MachineSwitch logSwitch = platform::Current().environment->ReadMachineSwitch(VTEXT("EnableLogging"));
  if (!logSwitch.storeReadable) {
    registryReadable.store(false, std::memory_order_relaxed);
    return false;
  }
  if (logSwitch.value != 1u) return false;
  loggingEnabled.store(true, std::memory_order_relaxed);
  return true;
}

// The log file's path, or empty while the application-data folder is unknown. Without
// the folder the message is dropped rather than written to the root of the drive.
WString LogFilePath() {
  std::lock_guard<std::mutex> lock(folderMutex);
  if (logFolder.empty()) {
    auto appData = platform::Current().environment->LocalAppDataFolder();
    if (!appData || appData->empty()) return WString();
    WString folder = *appData;
    folder.push_back(platform::PathSeparator());
    folder += kLogFolderName;
    if (!platform::CreateDirectoryW(folder)) return WString();
    logFolder = folder;
  }
  WString path = logFolder;
  path.push_back(platform::PathSeparator());
  path += kLogFileName;
  return path;
}

// Appends one message and, when given, its formatted value.
void Append(const WCHAR* message, const char* value) {
  if (!LoggingIsOn()) return;
  const WString path = LogFilePath();
  if (path.empty()) return;
  std::FILE* file = platform::OpenFileW(path, "a+b");
  if (file == nullptr) file = platform::OpenFileW(path, "a+b");
  if (file == nullptr) return;
  const std::string converted = platform::WideToAnsi(WStringView(message));
  if (converted.size() <= kMaxMessageBytes) std::fwrite(converted.data(), 1, converted.size(), file);
  if (value != nullptr) std::fputs(value, file);
  std::fclose(file);
}

// The bytes one character of UTF-16 text (a surrogate pair counts as one) takes in the log.
std::size_t LogBytes(WStringView character) { return platform::WideToAnsi(character).size(); }

// The end of a path that fits in `room` log bytes, from a folder separator where the end
// holds one so that it shows whole names; the whole path when it fits.
WStringView PathEnd(WStringView path, std::size_t room) {
  std::size_t start = path.size();
  std::size_t used = 0;
  while (start > 0) {
    std::size_t previous = start - 1;
    const bool lowSurrogate = path[previous] >= 0xDC00 && path[previous] <= 0xDFFF;
    if (lowSurrogate && previous > 0 && path[previous - 1] >= 0xD800 && path[previous - 1] <= 0xDBFF) --previous;
    const std::size_t bytes = LogBytes(path.substr(previous, start - previous));
    if (used + bytes > room) break;
    used += bytes;
    start = previous;
  }
  WStringView end = path.substr(start);
  if (start == 0) return end;
  const std::size_t separator = end.find_first_of(VTEXT("/\\"));
  return separator == WStringView::npos ? end : end.substr(separator);
}

}  // namespace

bool LogIsOn() { return LoggingIsOn(); }

void LogMessagePath(WStringView before, WStringView path, WStringView after) {
  if (!LoggingIsOn()) return;
  WString message(before);
  message += path;
  message += after;
  if (platform::WideToAnsi(message).size() > kMaxMessageBytes) {
    const WStringView ellipsis = VTEXT("...");
    const std::size_t fixed =
        platform::WideToAnsi(before).size() + ellipsis.size() + platform::WideToAnsi(after).size();
    message = WString(before);
    message += ellipsis;
    message += PathEnd(path, fixed < kMaxMessageBytes ? kMaxMessageBytes - fixed : 0);
    message += after;
  }
  Append(message.c_str(), nullptr);
}

void LogMessage(const WCHAR* message) {
  if (message == nullptr) return;
  Append(message, nullptr);
}

void LogMessageChar(const WCHAR* message, std::uint16_t value) {
  if (message == nullptr || value == 0) return;
  const char formatted[2] = {static_cast<char>(value & 0xFF), '\0'};
  Append(message, formatted);
}

void LogMessageInt(const WCHAR* message, std::int32_t value) {
  // The value is formatted only for a message that is written.
  if (message == nullptr || value == 0 || !LoggingIsOn()) return;
  char formatted[32];
  std::snprintf(formatted, sizeof formatted, "%d\r\n", value);
  Append(message, formatted);
}

void LogMessageLong(const WCHAR* message, std::int32_t value) {
  // The value is formatted only for a message that is written.
  if (message == nullptr || value == 0 || !LoggingIsOn()) return;
  char formatted[32];
  std::snprintf(formatted, sizeof formatted, "%ld\r\n", static_cast<long>(value));
  Append(message, formatted);
}

void LogMessageDouble(const WCHAR* message, double value) {
  // The value is formatted only for a message that is written.
  if (message == nullptr || value == 0.0 || !LoggingIsOn()) return;
  char formatted[512];
  std::snprintf(formatted, sizeof formatted, "%f\r\n", value);
  Append(message, formatted);
}

void LogMessageHex(const WCHAR* message, std::uint16_t value) {
  // The value is formatted only for a message that is written.
  if (message == nullptr || value == 0 || !LoggingIsOn()) return;
  char formatted[16];
  std::snprintf(formatted, sizeof formatted, "%02x\r\n", value);
  Append(message, formatted);
}

namespace detail {
void ResetLogStateForTesting() {
  loggingEnabled.store(false);
  registryReadable.store(true);
  std::lock_guard<std::mutex> lock(folderMutex);
  logFolder.clear();
}
}  // namespace detail

}  // namespace velmora
