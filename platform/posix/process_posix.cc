// Running a helper program on POSIX: posix_spawnp with its output redirected to a file.
#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace velmora::platform {

ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::string& messagesPath) {
  ProgramRun run;
  if (arguments.empty()) {
    run.error = "no program named";
    return run;
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, messagesPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    run.error = std::string("Unable to run '") + arguments[0] + "': " + std::strerror(spawned);
    return run;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      run.error = std::string("Unable to wait for '") + arguments[0] + "': " + std::strerror(errno);
      return run;
    }
  }
  run.started = true;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

const char* GhostscriptProgramName() { return "gs"; }

}  // namespace velmora::platform
