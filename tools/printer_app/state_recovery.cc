// Recovery of PAPPL's state after the application ended without saving it. PAPPL writes
// each option of a "Job" or "<Printer" line as NAME="VALUE" with '\' and '"' escaped.
#include "tools/printer_app/state_recovery.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>

#include "platform/claimed_file.h"
#include "platform/text_encoding.h"
#include "tools/printer_app/overlays.h"

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kProcessing = "5";
constexpr std::string_view kAborted = "8";

// The options of a line after its keyword, as PAPPL's loader reads them.
struct Options {
  int count = 0;
  cups_option_t* list = nullptr;
  explicit Options(const std::string& text) { count = cupsParseOptions(text.c_str(), 0, &list); }
  ~Options() { cupsFreeOptions(count, list); }
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;
  const char* Get(const char* name) const { return cupsGetOption(name, count, list); }
  void Set(const char* name, const std::string& value) { count = cupsAddOption(name, value.c_str(), count, &list); }
};

// A line in PAPPL's own form.
std::string Write(std::string_view keyword, const Options& options) {
  std::string line(keyword);
  for (int i = 0; i < options.count; ++i) {
    line += ' ';
    line += options.list[i].name;
    line += "=\"";
    for (const char* c = options.list[i].value; *c != '\0'; ++c) {
      if (*c == '\\' || *c == '"') line += '\\';
      line += *c;
    }
    line += '"';
  }
  return line;
}

// The file names PAPPL gives a job's files in the spool folder start with this.
std::string JobFilePrefix(long printerId, long jobId) {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "p%05ldj%09ld-", printerId, jobId);
  return prefix;
}

void WriteFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("Unable to create '" + temporary + "': " + std::strerror(errno));
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      const int cause = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      throw std::runtime_error("Unable to write '" + temporary + "': " + std::strerror(cause));
    }
    written += static_cast<std::size_t>(count);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int cause = errno;
    ::unlink(temporary.c_str());
    throw std::runtime_error("Unable to replace '" + path + "': " + std::strerror(cause));
  }
}

// Removes the capture work file at `path` unless a capture holds it: the plug-in locks the
// work file while it writes (platform::ClaimedFile), and the lock ends with its process.
bool RemoveUnclaimed(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  bool unclaimed = ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
  if (!unclaimed && errno == EINVAL) unclaimed = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  const bool removed = unclaimed && ::unlink(path.c_str()) == 0;
  ::close(fd);
  return removed;
}

}  // namespace

std::size_t RemoveUnfinishedOverlays(const std::string& overlaysFolder) {
  const std::string workSuffix = ".ovl" + platform::Utf16ToUtf8(platform::ClaimedFile::WorkPath(VTEXT("")));
  std::size_t removed = 0;
  std::error_code error;
  for (const fs::directory_entry& printer : fs::directory_iterator(overlaysFolder, error)) {
    std::error_code ignored;
    if (!printer.is_directory(ignored)) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(printer.path(), ignored)) {
      const std::string name = entry.path().filename().string();
      if (name.ends_with(workSuffix)) {
        removed += RemoveUnclaimed(entry.path().string()) ? 1 : 0;
      } else if (name.ends_with(kPartialPictureSuffix)) {
        removed += fs::remove(entry.path(), ignored) ? 1 : 0;
      }
    }
  }
  return removed;
}

StateRecovery AbortInterruptedJobs(std::string_view state, const std::string& spoolFolder, long now) {
  StateRecovery recovery;
  std::set<std::string> known;  // the file name prefixes of the jobs the state lists
  long printerId = 0;
  std::size_t start = 0;
  while (start < state.size()) {
    std::size_t end = state.find('\n', start);
    if (end == std::string_view::npos) end = state.size();
    std::string line(state.substr(start, end - start));
    const bool lastLine = end == state.size();
    start = end + 1;

    if (line.starts_with("<Printer ")) {
      const Options options(line.substr(9, line.size() - 9 - (line.ends_with(">") ? 1 : 0)));
      const char* id = options.Get("id");
      printerId = id != nullptr ? std::strtol(id, nullptr, 10) : 0;
    } else if (line.starts_with("Job ")) {
      Options options(line.substr(4));
      const char* jobState = options.Get("state");
      const char* id = options.Get("id");
      const std::string prefix = JobFilePrefix(printerId, id != nullptr ? std::strtol(id, nullptr, 10) : 0);
      if (jobState != nullptr && kProcessing == jobState && id != nullptr) {
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(spoolFolder, error)) {
          if (entry.path().filename().string().starts_with(prefix)) recovery.jobFiles.push_back(entry.path().string());
        }
        options.Set("state", std::string(kAborted));
        options.Set("completed", std::to_string(now));
        line = Write("Job", options);
        ++recovery.abortedJobs;
      } else {
        known.insert(prefix);
      }
    }
    recovery.state += line;
    if (!lastLine) recovery.state += '\n';
  }
  // A job PAPPL took but had not saved yet when it was killed left its document behind.
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(spoolFolder, error)) {
    const std::string name = entry.path().filename().string();
    const std::size_t dash = name.find('-');
    const bool jobFile = name.size() > 16 && name[0] == 'p' && name[6] == 'j' && dash == 16;
    // The settings page's capture documents: the overlay name of a capture lives only in
    // the process that was killed, so no capture job can end well with them.
    if (name.starts_with(kCaptureDocumentPrefix)) {
      recovery.jobFiles.push_back(entry.path().string());
      continue;
    }
    if (jobFile && !known.contains(name.substr(0, 17)) &&
        std::find(recovery.jobFiles.begin(), recovery.jobFiles.end(), entry.path().string()) ==
            recovery.jobFiles.end()) {
      recovery.jobFiles.push_back(entry.path().string());
    }
  }
  return recovery;
}

std::size_t RecoverState(const std::string& stateFile, const std::string& spoolFolder) {
  std::error_code error;
  // The print host's job files, tickets and temporary outputs of jobs no process prints.
  for (const fs::directory_entry& entry : fs::directory_iterator(spoolFolder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("velmora-") || name.starts_with(".velmora-")) fs::remove(entry.path(), error);
  }
  std::ifstream file(stateFile, std::ios::binary);
  if (!file) return 0;
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  file.close();
  const StateRecovery recovery = AbortInterruptedJobs(text, spoolFolder, static_cast<long>(std::time(nullptr)));
  if (recovery.abortedJobs > 0) WriteFile(stateFile, recovery.state);
  for (const std::string& path : recovery.jobFiles) fs::remove(path, error);
  return recovery.abortedJobs;
}

}  // namespace velmora::printer_app
