#include "host/job_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "host/host_error.h"

namespace velmora::host {

JobOutput::JobOutput(const std::string& output) : output_(output) {
  if (output.empty()) throw HostError("No output named");
  if (output == "-") {
    toStandardOutput_ = true;
    return;
  }
  namespace fs = std::filesystem;
  const fs::path path(output);
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) throw HostError("Unable to create output '" + output + "': " + std::strerror(errno));
  // The finished output gets the permissions of a newly created file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  temporary_ = name.data();
}

JobOutput::~JobOutput() {
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void JobOutput::Commit() {
  if (toStandardOutput_) {
    committed_ = true;
    return;
  }
  if (std::rename(temporary_.c_str(), output_.c_str()) != 0) {
    throw HostError("Unable to write output '" + output_ + "': " + std::strerror(errno));
  }
  committed_ = true;
}

}  // namespace velmora::host
