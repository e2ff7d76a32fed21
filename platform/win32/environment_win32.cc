// The Windows environment: shell folders, the print settings key and process names.
#include "platform/win32/environment_win32.h"

#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <shlobj.h>

#include <cstring>

namespace velmora::platform {

WCHAR PathSeparator() { return L'\\'; }

bool CreateDirectoryW(const WString& path) {
  if (::CreateDirectoryW(path.c_str(), nullptr)) return true;
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExistsW(const WString& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool MoveNewFileW(const WString& from, const WString& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

std::FILE* CreateNewFileW(const WString& path) {
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = ::_fdopen(fd, "wb");
  if (file == nullptr) ::_close(fd);
  return file;
}

std::FILE* OpenFileW(const WString& path, const char* mode) {
  // The mode is ASCII ("a+b", "rb"), so widening each byte is exact.
  const WString wideMode(mode, mode + std::strlen(mode));
  return ::_wfopen(path.c_str(), wideMode.c_str());
}

std::string WideToAnsi(WStringView text) {
  if (text.empty()) return {};
  const int units = static_cast<int>(text.size());
  // Without an explicit default character the code page's own ('?') stands in for
  // characters it cannot hold; an explicit one would make UTF-8 code pages fail.
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), units, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

namespace win32 {

std::optional<WString> WinEnvironment::LocalAppDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder) !=
      S_OK) {
    return std::nullopt;
  }
  return WString(folder);
}

WString WinEnvironment::TempFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return WString();
  WString path(folder, length);
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

MachineSwitch WinEnvironment::ReadMachineSwitch(const WString& name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Print", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return MachineSwitch{false, std::nullopt};
  }
  BYTE bytes[4] = {};
  DWORD size = sizeof bytes;
  DWORD type = 0;
  const LSTATUS status = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, bytes, &size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS || size != sizeof bytes) return MachineSwitch{true, std::nullopt};
  const std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                              (static_cast<std::uint32_t>(bytes[2]) << 16) |
                              (static_cast<std::uint32_t>(bytes[3]) << 24);
  return MachineSwitch{true, value};
}

WString WinEnvironment::CurrentProcessName() {
  // The first module of a process is its executable; room for one is enough.
  HANDLE process = ::GetCurrentProcess();
  HMODULE module = nullptr;
  DWORD needed = 0;
  if (!::EnumProcessModules(process, &module, sizeof module, &needed)) return WString();
  wchar_t name[MAX_PATH] = {};
  const DWORD length = ::GetModuleBaseNameW(process, module, name, MAX_PATH);
  return WString(name, length);
}

std::optional<WString> WinEnvironment::ProcessName(DWORD processId) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (process == nullptr) return std::nullopt;
  wchar_t name[MAX_PATH] = {};
  const DWORD length = ::GetModuleBaseNameW(process, nullptr, name, MAX_PATH);
  ::CloseHandle(process);
  if (length == 0) return std::nullopt;
  return WString(name, length);
}

}  // namespace win32
}  // namespace velmora::platform
