// Output files, consoles and the program's path on Windows. Paths are UTF-8 here and
// UTF-16 towards the system.
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/text_encoding.h"
#include "platform/win32/system_message.h"

namespace velmora::platform {
namespace {

// A name made of `prefix` and six letters that differ from call to call.
std::string UniqueName(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  const DWORD process = ::GetCurrentProcessId();
  const unsigned long long mix = (static_cast<unsigned long long>(process) << 32) ^ ::GetTickCount64() ^
                                 (static_cast<unsigned long long>(counter.fetch_add(1)) * 0x9E3779B97F4A7C15ull);
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name = prefix;
  unsigned long long bits = mix;
  for (int i = 0; i < 6; ++i, bits /= 62) name += kLetters[bits % 62];
  return name;
}

}  // namespace

std::optional<std::string> CreateUniqueFile(const std::string& prefix, std::string* error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = UniqueName(prefix);
    HANDLE file =
        ::CreateFileW(Utf8ToUtf16(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      ::CloseHandle(file);
      return name;
    }
    const DWORD code = ::GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      if (error != nullptr) *error = win32::SystemMessage(code);
      return std::nullopt;
    }
  }
  if (error != nullptr) *error = "no unused temporary name";
  return std::nullopt;
}

std::optional<std::string> CreatePrivateFolder(const std::string& prefix, std::string* error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = UniqueName(prefix);
    // The folder takes the permissions of the folder it is made in, the user's own
    // temporary folder.
    if (::CreateDirectoryW(Utf8ToUtf16(name).c_str(), nullptr)) return name;
    const DWORD code = ::GetLastError();
    if (code != ERROR_ALREADY_EXISTS) {
      if (error != nullptr) *error = win32::SystemMessage(code);
      return std::nullopt;
    }
  }
  if (error != nullptr) *error = "no unused temporary name";
  return std::nullopt;
}

std::string CurrentProcessTag() { return std::to_string(::GetCurrentProcessId()); }

bool ProcessIsRunning(const std::string& tag) {
  if (tag.empty() || tag.size() > 9 || tag.find_first_not_of("0123456789") != std::string::npos) return true;
  const DWORD id = static_cast<DWORD>(std::stoul(tag));
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
  DWORD code = 0;
  const bool running = !::GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
  ::CloseHandle(process);
  return running;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* error) {
  if (::MoveFileExW(Utf8ToUtf16(from).c_str(), Utf8ToUtf16(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  if (error != nullptr) *error = win32::SystemMessage(::GetLastError());
  return false;
}

bool FlushToDisk(std::FILE* stream) { return std::fflush(stream) == 0 && ::_commit(::_fileno(stream)) == 0; }

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != FALSE;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  // The mode is ASCII ("rb", "wb"), so widening each byte is exact.
  const std::wstring wideMode(mode, mode + std::strlen(mode));
  return ::_wfopen(Utf8ToUtf16(path).c_str(), wideMode.c_str());
}

std::optional<std::string> ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::nullopt;
    if (length < path.size()) {
      path.resize(length);
      return Utf16ToUtf8(WStringView(path.data(), path.size()));
    }
    path.resize(path.size() * 2);
  }
}

bool SpoolerWritesStandardOutput() { return false; }

// Jobs and documents are binary: no line-end translation on the way in or out.
void SetStandardOutputBinary() { ::_setmode(::_fileno(stdout), _O_BINARY); }
void SetStandardInputBinary() { ::_setmode(::_fileno(stdin), _O_BINARY); }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf16ToUtf8(WStringView(wide[i])));
  ::LocalFree(wide);
  return arguments;
}

std::optional<std::string> EnvironmentVariable(const char* name) {
  // The name is ASCII, so widening each byte is exact. GetEnvironmentVariableW reads the
  // process's own block, which SetEnvironmentVariableW changes too.
  const std::wstring wideName(name, name + std::strlen(name));
  std::wstring value(64, L'\0');
  while (true) {
    const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return std::nullopt;
    if (length < value.size()) {
      value.resize(length);
      return Utf16ToUtf8(WStringView(value.data(), value.size()));
    }
    value.resize(length);  // the size needed, with its terminating NUL
  }
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace velmora::platform
