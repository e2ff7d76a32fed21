// What the platforms' file services share: copying a finished job to standard output.
#include "platform/files.h"

#include <cerrno>
#include <cstring>

namespace velmora::platform {

bool CopyToStandardOutput(const std::string& path, std::string* error) {
  std::FILE* in = OpenFile(path, "rb");
  if (in == nullptr) {
    if (error != nullptr) *error = std::strerror(errno);
    return false;
  }
  SetStandardOutputBinary();
  char buffer[65536];
  bool ok = true;
  while (ok) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got > 0 && std::fwrite(buffer, 1, got, stdout) != got) ok = false;
    if (got < sizeof buffer) break;
  }
  if (std::ferror(in) != 0 || std::fflush(stdout) != 0) ok = false;
  if (!ok && error != nullptr) *error = std::strerror(errno);
  std::fclose(in);
  return ok;
}

}  // namespace velmora::platform
