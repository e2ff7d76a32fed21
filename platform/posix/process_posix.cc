// Running a helper program on POSIX: posix_spawnp with its output read through pipes
// while it runs.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace velmora::platform {

namespace {

// A pipe's output can run ahead of its reader by this much (where the system allows a
// pipe that large), so that a renderer is not held up while a page is being printed.
constexpr int kOutputPipeSize = 1 << 20;

class PosixRunningProgram final : public RunningProgram {
 public:
  PosixRunningProgram(pid_t child, int output, int messages) : child_(child), output_(output), messages_(messages) {}
  ~PosixRunningProgram() override {
    Stop();
    ::close(output_);
    ::close(messages_);
  }

  void Stop() override {
    if (waited_) return;
    ::kill(child_, SIGKILL);
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    waited_ = true;
  }

  std::ptrdiff_t ReadOutput(std::uint8_t* buffer, std::size_t size) override { return ReadFrom(output_, buffer, size); }
  std::ptrdiff_t ReadMessages(std::uint8_t* buffer, std::size_t size) override {
    return ReadFrom(messages_, buffer, size);
  }

  ProgramRun Wait() override {
    ProgramRun run;
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0) {
      if (errno != EINTR) {
        run.error = std::string("Unable to wait for the program: ") + std::strerror(errno);
        return run;
      }
    }
    waited_ = true;
    run.started = true;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

 private:
  static std::ptrdiff_t ReadFrom(int fd, std::uint8_t* buffer, std::size_t size) {
    for (;;) {
      const ssize_t got = ::read(fd, buffer, size);
      if (got >= 0 || errno != EINTR) return got;
    }
  }

  pid_t child_;
  int output_;
  int messages_;
  bool waited_ = false;
};

}  // namespace

std::unique_ptr<RunningProgram> StartProgram(const std::vector<std::string>& arguments, std::string& error) {
  if (arguments.empty()) {
    error = "no program named";
    return nullptr;
  }
  int output[2] = {-1, -1};
  int messages[2] = {-1, -1};
  if (::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(messages, O_CLOEXEC) != 0) {
    error = std::string("Unable to create a pipe: ") + std::strerror(errno);
    for (const int fd : {output[0], output[1], messages[0], messages[1]}) {
      if (fd >= 0) ::close(fd);
    }
    return nullptr;
  }
#ifdef F_SETPIPE_SZ
  ::fcntl(output[1], F_SETPIPE_SZ, kOutputPipeSize);  // a smaller pipe only costs speed
#endif
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, messages[1], 2);
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(output[1]);
  ::close(messages[1]);
  if (spawned != 0) {
    ::close(output[0]);
    ::close(messages[0]);
    error = std::string("Unable to run '") + arguments[0] + "': " + std::strerror(spawned);
    return nullptr;
  }
  return std::make_unique<PosixRunningProgram>(child, output[0], messages[0]);
}

const char* GhostscriptProgramName() { return "gs"; }

}  // namespace velmora::platform
