#include "tools/velmora/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmora::cli {
namespace {

std::string Reason() { return std::strerror(errno); }

// Writes all bytes, retrying interrupted and short writes. False on failure (errno set).
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t written = ::write(fd, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw CommandError("Unable to open '" + path + "': " + Reason());
  struct stat info {};
  if (::fstat(fd, &info) == 0 && !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw CommandError("Unable to read '" + path + "': not a regular file");
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      const std::string reason = Reason();
      ::close(fd);
      throw CommandError("Unable to read '" + path + "': " + reason);
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  ::close(fd);
  return bytes;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw CommandError("Unable to create '" + path + "': " + Reason());
  // Keep the permissions a plainly created file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  if (!WriteAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0) {
    const std::string reason = Reason();
    ::close(fd);
    ::unlink(temporary.c_str());
    throw CommandError("Unable to write '" + path + "': " + reason);
  }
  if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = Reason();
    ::unlink(temporary.c_str());
    throw CommandError("Unable to write '" + path + "': " + reason);
  }
}

}  // namespace velmora::cli
