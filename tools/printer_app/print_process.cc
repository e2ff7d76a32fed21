// The process of one job: fork and exec with the limits set between them, then watched
// for its end, its messages and a cancel.
#include "tools/printer_app/print_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::printer_app {
namespace {

// How much of a process's standard error is kept for the reason of a failure.
constexpr std::size_t kMaxMessages = 64 * 1024;
constexpr int kPollMilliseconds = 100;

// The last line the program wrote, without its "velmora: " prefix.
std::string LastLine(std::string messages) {
  while (!messages.empty() && (messages.back() == '\n' || messages.back() == '\r')) messages.pop_back();
  const std::size_t start = messages.rfind('\n');
  std::string line = start == std::string::npos ? messages : messages.substr(start + 1);
  if (line.starts_with("velmora: ")) line.erase(0, 9);
  return line;
}

}  // namespace

PrintProcessResult RunPrintProcess(const std::string& program, const std::vector<std::string>& arguments,
                                   const JobLimits& limits, const std::function<bool()>& canceled, MemoryLimit memory) {
  PrintProcessResult result;
  std::vector<std::string> all{program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int messages[2];
  if (::pipe2(messages, O_CLOEXEC) != 0) {
    result.reason = std::string("Unable to create a pipe: ") + std::strerror(errno);
    return result;
  }
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    // Only calls that are safe between fork and exec in a threaded program.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    if (limits.cpuSeconds > 0) {
      const rlimit cpu{limits.cpuSeconds, limits.cpuSeconds + 1};
      ::setrlimit(RLIMIT_CPU, &cpu);
    }
    if (memory == MemoryLimit::kOwn && limits.memoryBytes > 0) {
      const rlimit space{limits.memoryBytes, limits.memoryBytes};
      ::setrlimit(RLIMIT_AS, &space);
    }
    ::dup2(devNull, 0);
    ::dup2(devNull, 1);
    ::dup2(messages[1], 2);
    ::execv(argv[0], argv.data());
    const char failed[] = "velmora: Unable to run the print host\n";
    [[maybe_unused]] const ssize_t ignored = ::write(2, failed, sizeof failed - 1);
    ::_exit(127);
  }
  ::close(messages[1]);
  if (devNull >= 0) ::close(devNull);
  if (child < 0) {
    ::close(messages[0]);
    result.reason = std::string("Unable to start the print host: ") + std::strerror(errno);
    return result;
  }

  // Messages are read until the process and every process it started that holds the pipe
  // have ended; a cancel kills the group at once.
  bool open = true;
  while (open) {
    pollfd watch{messages[0], POLLIN, 0};
    const int ready = ::poll(&watch, 1, kPollMilliseconds);
    if (ready > 0) {
      char buffer[4096];
      const ssize_t count = ::read(messages[0], buffer, sizeof buffer);
      if (count > 0 && result.messages.size() < kMaxMessages) {
        result.messages.append(buffer, static_cast<std::size_t>(count));
      }
      if (count == 0 || (count < 0 && errno != EINTR && errno != EAGAIN)) open = false;
    }
    if (!result.canceled && canceled()) {
      result.canceled = true;
      ::kill(-child, SIGKILL);
      ::kill(child, SIGKILL);
    }
  }
  ::close(messages[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // Whatever the group still holds (nothing, when the job ended as it should) goes with it.
  ::kill(-child, SIGKILL);

  if (result.canceled) {
    result.reason = "The job was canceled.";
    return result;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    result.succeeded = true;
    return result;
  }
  if (WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU || WTERMSIG(status) == SIGKILL)) {
    result.reason = "The job exceeded its processor-time limit of " + std::to_string(limits.cpuSeconds) + " s.";
    return result;
  }
  if (WIFSIGNALED(status)) {
    result.reason = "The print host ended with signal " + std::to_string(WTERMSIG(status)) + ".";
    return result;
  }
  result.reason = LastLine(result.messages);
  if (result.reason.empty())
    result.reason = "The print host failed with exit status " + std::to_string(WEXITSTATUS(status)) + ".";
  return result;
}

std::uint64_t ParseSize(const std::string& option, const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && digits < 15 && text[digits] >= '0' && text[digits] <= '9') ++digits;
  const std::string suffix = text.substr(digits);
  int shift = -1;
  if (suffix.empty()) shift = 0;
  if (suffix == "K" || suffix == "k") shift = 10;
  if (suffix == "M" || suffix == "m") shift = 20;
  if (suffix == "G" || suffix == "g") shift = 30;
  const std::uint64_t value = digits == 0 ? 0 : std::stoull(text.substr(0, digits));
  if (shift < 0 || value == 0 || value > (std::uint64_t{1} << (50 - shift))) {
    throw std::runtime_error(option + " '" + text + "' is not a size such as 2G, 512M or 1048576");
  }
  return value << shift;
}

}  // namespace velmora::printer_app
