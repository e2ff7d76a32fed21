// The clocks bench/whole-job reads off the processes of a job, appended as one line to the
// file $PROCESS_CLOCK_LOG:
//   process_clock COMMAND [ARGUMENTS...]
//       runs COMMAND and notes "run CPU": the processor seconds (user and system) that it
//       and the children it waited for used;
//   a link to process_clock named gs, given to velmora as VELMORA_GS
//       runs the gs on the search path with its arguments and notes "gs START CPU": the
//       wall-clock second it was started at and the processor seconds Ghostscript used.
// The exit status is the command's; a command ended by a signal ends the clock by it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

namespace {

double Seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  timespec started{};
  ::clock_gettime(CLOCK_REALTIME, &started);
  const std::string_view self = argv[0];
  const bool asGhostscript = self == "gs" || self.ends_with("/gs");
  char** command = asGhostscript ? argv : argv + 1;
  if (!asGhostscript && argc < 2) {
    std::fprintf(stderr, "usage: process_clock COMMAND [ARGUMENTS...]\n");
    return 2;
  }
  if (asGhostscript) command[0] = const_cast<char*>("gs");
  const pid_t child = ::fork();
  if (child == 0) {
    ::execvp(command[0], command);
    std::perror(command[0]);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, 0, &usage) < 0) {
  }
  if (const char* log = std::getenv("PROCESS_CLOCK_LOG")) {
    if (std::FILE* out = std::fopen(log, "a")) {
      const double cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
      if (asGhostscript) {
        std::fprintf(out, "gs %ld.%06ld %.6f\n", static_cast<long>(started.tv_sec), started.tv_nsec / 1000, cpu);
      } else {
        std::fprintf(out, "run %.6f\n", cpu);
      }
      std::fclose(out);
    }
  }
  if (WIFSIGNALED(status)) {
    std::signal(WTERMSIG(status), SIG_DFL);
    std::raise(WTERMSIG(status));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
