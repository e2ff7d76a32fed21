// Machine and user environment: folders, machine-wide switches, files, text encoding
// and process names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/types.h"

namespace velmora::platform {

// Result of reading a machine-wide 32-bit switch (a registry value on Windows, a value
// in the printer store on POSIX).
struct MachineSwitch {
  bool storeReadable = false;          // false: the key (or store) cannot be opened at all
  std::optional<std::uint32_t> value;  // the value when it exists and is 4 bytes
};

class Environment {
 public:
  virtual ~Environment() = default;

  // The per-user local application-data folder, created when missing.
  // Windows: CSIDL_LOCAL_APPDATA; POSIX: $XDG_DATA_HOME, else ~/.local/share.
  virtual std::optional<WString> LocalAppDataFolder() = 0;

  // The folder for temporary files, with no trailing separator.
  // Windows: GetTempPathW; POSIX: $TMPDIR, else /tmp.
  virtual WString TempFolder() = 0;

  // Reads a machine-wide switch under the print settings, e.g. "EnableLogging".
  // POSIX: the environment variable VELMORA_<NAME> (upper case) wins when set,
  // else the machine value of the same name in the printer store.
  virtual MachineSwitch ReadMachineSwitch(const WString& name) = 0;

  // The base name of the current process's executable ("spoolsv.exe", "velmora").
  virtual WString CurrentProcessName() = 0;

  // The base name of the executable of another process, or nullopt.
  virtual std::optional<WString> ProcessName(DWORD processId) = 0;
};

// The path separator of this platform ("\\" on Windows, "/" elsewhere).
WCHAR PathSeparator();

// Creates one directory. Returns true when it exists afterwards.
bool CreateDirectoryW(const WString& path);

// Opens a file by wide path with a C stdio mode ("a+b", "rb", "wb").
std::FILE* OpenFileW(const WString& path, const char* mode);

// True when the path names an existing file.
bool FileExistsW(const WString& path);

// Creates a new file for writing; null when it exists already or cannot be created. A
// file is never replaced.
std::FILE* CreateNewFileW(const WString& path);

// Puts a finished file under its final name, never replacing a file of that name: false,
// leaving both as they were, when `to` exists already or the move fails.
bool MoveNewFileW(const WString& from, const WString& to);

// Converts UTF-16 text to the system's 8-bit code page (Windows: the ANSI code page;
// POSIX: UTF-8). Unconvertible characters become '?'.
std::string WideToAnsi(WStringView text);

}  // namespace velmora::platform
