// Output files, terminals and the program's path on POSIX.
#include "platform/files.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace velmora::platform {

std::optional<std::string> CreateUniqueFile(const std::string& prefix, std::string* error) {
  std::vector<char> name(prefix.begin(), prefix.end());
  for (char c : std::string_view("XXXXXX")) name.push_back(c);
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return std::nullopt;
  }
  // mkstemp creates the file for its owner only; the finished file gets the permissions
  // of a newly created one.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  return std::string(name.data());
}

std::optional<std::string> CreatePrivateFolder(const std::string& prefix, std::string* error) {
  std::vector<char> name(prefix.begin(), prefix.end());
  for (char c : std::string_view("XXXXXX")) name.push_back(c);
  name.push_back('\0');
  // mkdtemp creates the folder with mode 0700 whatever the umask.
  if (::mkdtemp(name.data()) == nullptr) {
    if (error != nullptr) *error = std::strerror(errno);
    return std::nullopt;
  }
  return std::string(name.data());
}

std::string CurrentProcessTag() { return std::to_string(::getpid()); }

bool ProcessIsRunning(const std::string& tag) {
  if (tag.empty() || tag.size() > 9 || tag.find_first_not_of("0123456789") != std::string::npos) return true;
  const pid_t pid = static_cast<pid_t>(std::stol(tag));
  if (pid <= 0) return true;
  return ::kill(pid, 0) == 0 || errno != ESRCH;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  if (error != nullptr) *error = std::strerror(errno);
  return false;
}

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool FlushToDisk(std::FILE* stream) { return std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0; }

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

std::optional<std::string> ProgramPath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  return program.string();
}

bool SpoolerWritesStandardOutput() { return true; }

void SetStandardOutputBinary() {}
void SetStandardInputBinary() {}

std::optional<std::string> EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] == '\0') return std::nullopt;
  return std::string(value);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace velmora::platform
