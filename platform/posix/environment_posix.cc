// The POSIX environment: XDG folders, process names and machine switches.
#include "platform/posix/environment_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/posix/spooler_store.h"
#include "platform/text_encoding.h"

namespace velmora::platform {

WCHAR PathSeparator() { return VTEXT('/'); }

bool CreateDirectoryW(const WString& path) {
  const std::string narrow = Utf16ToUtf8(path);
  if (::mkdir(narrow.c_str(), 0777) == 0) return true;
  struct stat info {};
  return errno == EEXIST && ::stat(narrow.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::FILE* OpenFileW(const WString& path, const char* mode) { return std::fopen(Utf16ToUtf8(path).c_str(), mode); }

bool MoveNewFileW(const WString& from, const WString& to) {
  const std::string source = Utf16ToUtf8(from), target = Utf16ToUtf8(to);
  // A hard link is made only when the target is free, in one step; the source name then
  // goes. A file system without hard links gets a rename after the check instead.
  if (::link(source.c_str(), target.c_str()) == 0) {
    ::unlink(source.c_str());
    return true;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return false;
  struct stat info {};
  if (::lstat(target.c_str(), &info) == 0) {
    errno = EEXIST;
    return false;
  }
  if (errno != ENOENT) return false;
  return std::rename(source.c_str(), target.c_str()) == 0;
}

std::string WideToAnsi(WStringView text) { return Utf16ToUtf8(text); }

bool FileExistsW(const WString& path) {
  struct stat info {};
  return ::stat(Utf16ToUtf8(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::FILE* CreateNewFileW(const WString& path) {
  const int fd = ::open(Utf16ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return file;
}

namespace posix {
namespace {

// Creates a directory and its missing parents. Returns true when it exists afterwards.
bool CreateDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0777);
  }
  return CreateDirectoryW(Utf8ToUtf16(path));
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> ReadLink(const std::string& path) {
  std::string target(4096, '\0');
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length <= 0) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

}  // namespace

std::optional<WString> PosixEnvironment::LocalAppDataFolder() {
  std::string folder;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
    folder = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    folder = std::string(home) + "/.local/share";
  } else {
    return std::nullopt;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (!CreateDirectories(folder)) return std::nullopt;
  return Utf8ToUtf16(folder);
}

WString PosixEnvironment::TempFolder() {
  std::string folder = "/tmp";
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && tmp[0] != '\0') folder = tmp;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return Utf8ToUtf16(folder);
}

MachineSwitch PosixEnvironment::ReadMachineSwitch(const WString& name) {
  // VELMORA_ENABLELOGGING=1 overrides the store, so that one run can be logged without
  // touching the machine-wide value.
  // The plug-in reads its logging switch at every message: the variable's name is made
  // once for the name asked last.
  thread_local WString lastName;
  thread_local std::string variable;
  if (variable.empty() || name != lastName) {
    variable = "VELMORA_";
    for (char c : Utf16ToUtf8(name)) variable.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    lastName = name;
  }
  if (const char* text = std::getenv(variable.c_str()); text != nullptr) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*text != '\0' && *end == '\0') return MachineSwitch{true, static_cast<std::uint32_t>(value)};
    return MachineSwitch{true, std::nullopt};
  }
  return ReadStoreMachineSwitch(name);
}

WString PosixEnvironment::CurrentProcessName() {
  if (auto target = ReadLink("/proc/self/exe")) return Utf8ToUtf16(BaseName(*target));
  return WString();
}

std::optional<WString> PosixEnvironment::ProcessName(DWORD processId) {
  auto target = ReadLink("/proc/" + std::to_string(processId) + "/exe");
  if (target) return Utf8ToUtf16(BaseName(*target));
  std::ifstream comm("/proc/" + std::to_string(processId) + "/comm");
  std::string name;
  if (comm && std::getline(comm, name) && !name.empty()) return Utf8ToUtf16(name);
  return std::nullopt;
}

}  // namespace posix
}  // namespace velmora::platform
