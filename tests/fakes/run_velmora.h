// Runs the velmora program as a user does, for the end-to-end tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace velmora::testing {

struct CliRun {
  int status;
  std::string out;
};

// Runs velmora with the arguments; standard error goes with standard output unless
// `mergeStderr` is false (it is then dropped).
inline CliRun Velmora(const std::string& arguments, bool mergeStderr = true) {
  const std::string command = std::string(VELMORA_BINARY) + " " + arguments + (mergeStderr ? " 2>&1" : " 2>/dev/null");
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  const int status = pclose(pipe);
  return {WEXITSTATUS(status), out};
}

}  // namespace velmora::testing
