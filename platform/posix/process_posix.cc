// Running a helper program on POSIX: fork and execve, the program in a process group of
// its own under its limits, its output read through pipes while it runs.
#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string_view>

extern char** environ;

namespace velmora::platform {

namespace {

// A pipe's output can run ahead of its reader by this much (where the system allows a
// pipe that large), so that a renderer is not held up while a page is being printed.
constexpr int kOutputPipeSize = 1 << 20;

// The requests to stop this process that CatchStopRequests takes over, with their names.
struct StopSignal {
  int number;
  const char* name;
};
constexpr StopSignal kStopSignals[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
static_assert(std::size(kStopSignals) == 3);

// The process groups of the programs running now, which a stop request ends. A signal
// handler reads them, so they are lock-free atomics in a fixed table; a program started
// while the table is full is still killed when its caller dies, only not on a stop request.
constexpr std::size_t kTrackedGroups = 64;
std::atomic<pid_t> trackedGroups[kTrackedGroups];
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
// The stop request received, or 0.
std::atomic<int> stopSignal{0};

int TrackGroup(pid_t group) {
  for (std::size_t slot = 0; slot < kTrackedGroups; ++slot) {
    pid_t empty = 0;
    if (trackedGroups[slot].compare_exchange_strong(empty, group)) return static_cast<int>(slot);
  }
  return -1;
}

void UntrackGroup(int slot) {
  if (slot >= 0) trackedGroups[slot].store(0);
}

void RestoreDefaultAction(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

void OnStopSignal(int signal) {
  const int savedErrno = errno;
  int none = 0;
  if (!stopSignal.compare_exchange_strong(none, signal)) {
    // A second request: the process ends now, as it would have without the first.
    RestoreDefaultAction(signal);
    ::raise(signal);
    errno = savedErrno;
    return;
  }
  for (std::atomic<pid_t>& group : trackedGroups) {
    if (const pid_t id = group.load(); id > 0) ::kill(-id, SIGKILL);
  }
  errno = savedErrno;
}

// The file execve runs for `name`: `name` itself when it holds a '/', else the first
// executable regular file of that name in a folder of PATH, as the shell finds it; the
// reason in *failure when there is none.
std::optional<std::string> FindProgram(const std::string& name, int* failure) {
  if (name.find('/') != std::string::npos) return name;
  *failure = ENOENT;
  if (name.empty()) return std::nullopt;
  const char* path = std::getenv("PATH");
  const std::string folders = path != nullptr ? path : "/bin:/usr/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    // An empty entry is the current folder.
    const std::string folder = end == start ? "." : folders.substr(start, end - start);
    start = end + 1;
    const std::string candidate = folder + "/" + name;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    *failure = EACCES;
  }
  return std::nullopt;
}

// A resource limit of `value`, and `hardValue` for its hard limit, never above the hard
// limit this process has (which only a privileged process may raise).
struct rlimit LimitOf(int resource, std::uint64_t value, std::uint64_t hardValue) {
  struct rlimit current {};
  ::getrlimit(resource, &current);
  struct rlimit limit {};
  limit.rlim_cur = static_cast<rlim_t>(std::min<std::uint64_t>(value, current.rlim_max));
  limit.rlim_max = static_cast<rlim_t>(std::min<std::uint64_t>(hardValue, current.rlim_max));
  return limit;
}

// What the child does between fork and execve, prepared by the parent: from fork to
// execve the child of a threaded process may only make async-signal-safe calls.
struct ChildPlan {
  pid_t parent = 0;
  const char* path = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  int input = -1;  // the null device, or the read end of the input pipe
  int output = -1;
  int messages = -1;
  int status = -1;  // where a failure is reported
  std::optional<struct rlimit> cpu;
  std::optional<struct rlimit> memory;
  sigset_t signalMask{};  // the caller's own
};

// How the child failed, written to the status pipe; nothing arrives once execve ran.
enum class FailedStep : int { kLimits, kRun };
struct ChildFailure {
  FailedStep step;
  int error;
};

[[noreturn]] void FailChild(int status, FailedStep step) {
  const ChildFailure failure{step, errno};
  while (::write(status, &failure, sizeof failure) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

// A descriptor moved above the standard ones, so that placing one of them on 0, 1 or 2
// never closes another still to be placed.
int AboveStandard(int fd) { return fd > 2 ? fd : ::fcntl(fd, F_DUPFD_CLOEXEC, 3); }

[[noreturn]] void RunChild(const ChildPlan& plan) {
  ::setpgid(0, 0);
#ifdef __linux__
  // The program is killed when its caller dies; a caller that died before this line is
  // no longer its parent.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != plan.parent) ::_exit(127);
#endif
  const int status = AboveStandard(plan.status);
  if (plan.cpu && ::setrlimit(RLIMIT_CPU, &*plan.cpu) != 0) FailChild(status, FailedStep::kLimits);
  if (plan.memory && ::setrlimit(RLIMIT_AS, &*plan.memory) != 0) FailChild(status, FailedStep::kLimits);
  const int sources[3] = {AboveStandard(plan.input), AboveStandard(plan.output), AboveStandard(plan.messages)};
  for (int target = 0; target < 3; ++target) {
    if (sources[target] < 0 || ::dup2(sources[target], target) < 0) FailChild(status, FailedStep::kRun);
  }
  // The program starts with the signal actions and mask its caller started with.
  for (const StopSignal& stop : kStopSignals) {
    struct sigaction current {};
    if (::sigaction(stop.number, nullptr, &current) == 0 && current.sa_handler == OnStopSignal) {
      RestoreDefaultAction(stop.number);
    }
  }
  ::sigprocmask(SIG_SETMASK, &plan.signalMask, nullptr);
  ::execve(plan.path, plan.argv, plan.envp);
  FailChild(status, FailedStep::kRun);
}

class PosixRunningProgram final : public RunningProgram {
 public:
  PosixRunningProgram(pid_t child, int trackedSlot, int input, int output, int messages, std::uint64_t cpuLimit)
      : child_(child),
        trackedSlot_(trackedSlot),
        input_(input),
        output_(output),
        messages_(messages),
        cpuLimit_(cpuLimit) {}
  ~PosixRunningProgram() override {
    Stop();
    CloseInput();
    ::close(output_);
    ::close(messages_);
  }

  bool WriteInput(std::span<const std::uint8_t> bytes) override {
    if (input_ < 0) return false;
    // A program that has closed its input must not end the caller with SIGPIPE: the
    // signal is held while writing and a pending one taken back.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t saved;
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &saved);
    bool written = true;
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t wrote = ::write(input_, bytes.data() + done, bytes.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        written = false;
        break;
      }
      done += static_cast<std::size_t>(wrote);
    }
    if (!written && !sigismember(&saved, SIGPIPE)) {
      sigset_t pending;
      sigpending(&pending);
      const struct timespec now {};
      if (sigismember(&pending, SIGPIPE)) ::sigtimedwait(&pipeSignal, nullptr, &now);
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return written;
  }

  void CloseInput() override {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }

  void Stop() override {
    if (waited_) return;
    // The whole group: anything the program started ends with it.
    if (::kill(-child_, SIGKILL) != 0) ::kill(child_, SIGKILL);
    int status = 0;
    struct rusage usage {};
    Reap(&status, &usage);
    waited_ = true;
  }

  std::ptrdiff_t ReadOutput(std::uint8_t* buffer, std::size_t size) override { return ReadFrom(output_, buffer, size); }
  std::ptrdiff_t ReadMessages(std::uint8_t* buffer, std::size_t size) override {
    return ReadFrom(messages_, buffer, size);
  }

  ProgramRun Wait() override {
    ProgramRun run;
    int status = 0;
    struct rusage usage {};
    if (!Reap(&status, &usage)) {
      run.error = std::string("Unable to wait for the program: ") + std::strerror(errno);
      return run;
    }
    waited_ = true;
    run.started = true;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    // SIGXCPU comes at the limit, SIGKILL a second after it; a SIGKILL from anyone else
    // comes before the program has used its time.
    const double used = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.timeLimitReached =
        cpuLimit_ > 0 && (run.signal == SIGXCPU || (run.signal == SIGKILL && used >= static_cast<double>(cpuLimit_)));
    return run;
  }

 private:
  static std::ptrdiff_t ReadFrom(int fd, std::uint8_t* buffer, std::size_t size) {
    for (;;) {
      const ssize_t got = ::read(fd, buffer, size);
      if (got >= 0 || errno != EINTR) return got;
    }
  }

  // Waits for the program to end and collects it; false, with errno, when it cannot.
  // Its group stays tracked while it runs, so that a stop request still ends it, and is
  // untracked before its id is released for another process.
  bool Reap(int* status, struct rusage* usage) {
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(child_), &info, WEXITED | WNOWAIT) < 0) {
      if (errno != EINTR) break;
    }
    UntrackGroup(trackedSlot_);
    trackedSlot_ = -1;
    while (::wait4(child_, status, 0, usage) < 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  pid_t child_;
  int trackedSlot_;
  int input_;  // the write end of the input pipe; -1 without one
  int output_;
  int messages_;
  std::uint64_t cpuLimit_;  // the soft limit applied; 0: none
  bool waited_ = false;
};

void CloseAll(std::initializer_list<int> fds) {
  for (const int fd : fds) {
    if (fd >= 0) ::close(fd);
  }
}

}  // namespace

std::unique_ptr<RunningProgram> StartProgram(const std::vector<std::string>& arguments, std::string& error,
                                             const ProgramLimits& limits, ProgramInput inputKind,
                                             const std::string& temporaryFolder) {
  if (arguments.empty()) {
    error = "no program named";
    return nullptr;
  }
  int notFound = 0;
  const std::optional<std::string> path = FindProgram(arguments[0], &notFound);
  if (!path) {
    error = "Unable to run '" + arguments[0] + "': " + std::strerror(notFound);
    return nullptr;
  }
  int output[2] = {-1, -1};
  int messages[2] = {-1, -1};
  int status[2] = {-1, -1};
  if (::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(messages, O_CLOEXEC) != 0 || ::pipe2(status, O_CLOEXEC) != 0) {
    error = std::string("Unable to create a pipe: ") + std::strerror(errno);
    CloseAll({output[0], output[1], messages[0], messages[1], status[0], status[1]});
    return nullptr;
  }
#ifdef F_SETPIPE_SZ
  ::fcntl(output[1], F_SETPIPE_SZ, kOutputPipeSize);  // a smaller pipe only costs speed
#endif
  int inputPipe[2] = {-1, -1};
  if (inputKind == ProgramInput::kPipe && ::pipe2(inputPipe, O_CLOEXEC) != 0) {
    error = std::string("Unable to create a pipe: ") + std::strerror(errno);
    CloseAll({output[0], output[1], messages[0], messages[1], status[0], status[1]});
    return nullptr;
  }
  const int input = inputKind == ProgramInput::kPipe ? inputPipe[0] : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (input < 0) {
    error = std::string("Unable to open /dev/null: ") + std::strerror(errno);
    CloseAll({output[0], output[1], messages[0], messages[1], status[0], status[1]});
    return nullptr;
  }

  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // The caller's environment, with the temporary folder replaced when one is given.
  std::vector<std::string> temporaryVariables;
  std::vector<char*> envp;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view entry(*variable);
    const bool temporary = entry.starts_with("TMPDIR=") || entry.starts_with("TEMP=") || entry.starts_with("TMP=");
    if (!temporaryFolder.empty() && temporary) continue;
    envp.push_back(*variable);
  }
  if (!temporaryFolder.empty()) {
    for (const char* name : {"TMPDIR=", "TEMP=", "TMP="}) temporaryVariables.push_back(name + temporaryFolder);
    for (std::string& variable : temporaryVariables) envp.push_back(variable.data());
  }
  envp.push_back(nullptr);
  ChildPlan plan;
  plan.parent = ::getpid();
  plan.path = path->c_str();
  plan.argv = argv.data();
  plan.envp = envp.data();
  plan.input = input;
  plan.output = output[1];
  plan.messages = messages[1];
  plan.status = status[1];
  if (limits.cpuSeconds > 0) plan.cpu = LimitOf(RLIMIT_CPU, limits.cpuSeconds, limits.cpuSeconds + 1);
  if (limits.memoryBytes > 0) plan.memory = LimitOf(RLIMIT_AS, limits.memoryBytes, limits.memoryBytes);

  // No signal handler runs in the child before it has restored the caller's actions.
  sigset_t all;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &plan.signalMask);
  const pid_t child = ::fork();
  if (child == 0) RunChild(plan);
  const int forkError = errno;
  ::pthread_sigmask(SIG_SETMASK, &plan.signalMask, nullptr);
  CloseAll({input, output[1], messages[1], status[1]});
  if (child < 0) {
    CloseAll({output[0], messages[0], status[0], inputPipe[1]});
    error = "Unable to run '" + arguments[0] + "': " + std::strerror(forkError);
    return nullptr;
  }
  // Both sides make the group, so that it exists whichever runs first.
  ::setpgid(child, child);
  const int trackedSlot = TrackGroup(child);
  // A stop request that came before the group was tracked did not see it.
  if (stopSignal.load() != 0) ::kill(-child, SIGKILL);

  ChildFailure failure{};
  ssize_t got = 0;
  while ((got = ::read(status[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
  }
  ::close(status[0]);
  if (got == static_cast<ssize_t>(sizeof failure)) {
    auto program = std::make_unique<PosixRunningProgram>(child, trackedSlot, inputPipe[1], output[0], messages[0], 0);
    program->Stop();
    error = std::string(failure.step == FailedStep::kLimits ? "Unable to limit '" : "Unable to run '") + arguments[0] +
            "': " + std::strerror(failure.error);
    return nullptr;
  }
  const std::uint64_t cpuLimit = plan.cpu ? static_cast<std::uint64_t>(plan.cpu->rlim_cur) : 0;
  return std::make_unique<PosixRunningProgram>(child, trackedSlot, inputPipe[1], output[0], messages[0], cpuLimit);
}

const char* GhostscriptProgramName() { return "gs"; }

void CatchStopRequests() {
  for (const StopSignal& stop : kStopSignals) {
    struct sigaction current {};
    if (::sigaction(stop.number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const StopSignal& other : kStopSignals) sigaddset(&action.sa_mask, other.number);
    // No SA_RESTART: a call the request interrupts (reading a document from standard
    // input) returns, so that the work fails at once instead of waiting for more input.
    action.sa_flags = 0;
    ::sigaction(stop.number, &action, nullptr);
  }
}

const char* StopRequested() {
  const int signal = stopSignal.load();
  for (const StopSignal& stop : kStopSignals) {
    if (stop.number == signal) return stop.name;
  }
  return nullptr;
}

void EndAsStopRequested() {
  const int signal = stopSignal.load();
  if (signal == 0) return;
  RestoreDefaultAction(signal);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

}  // namespace velmora::platform
