// Running a helper program beside the caller: the print host renders documents with one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora::platform {

struct ProgramRun {
  bool started = false;  // false: the program could not be run at all (see error)
  int exitCode = -1;     // its exit status; -1 when it was ended by a signal
  std::string error;     // why it could not be started, with the system's reason
};

// A program running beside its caller, standard input from the null device, standard
// output and standard error each read through a pipe of its own. Each pipe may be read
// from a thread of its own. Destroying it ends the program if it is still running.
class RunningProgram {
 public:
  virtual ~RunningProgram() = default;
  // Reads up to `size` bytes the program wrote to its standard output (ReadOutput) or
  // standard error (ReadMessages), waiting for some; 0 once it has closed that stream,
  // -1 when the pipe cannot be read.
  virtual std::ptrdiff_t ReadOutput(std::uint8_t* buffer, std::size_t size) = 0;
  virtual std::ptrdiff_t ReadMessages(std::uint8_t* buffer, std::size_t size) = 0;
  // Waits for the program to end: started is true, exitCode its status.
  virtual ProgramRun Wait() = 0;
  // Ends the program if it is still running and waits for it; its pipes stay open, so
  // that a reader sees their ends.
  virtual void Stop() = 0;
};

// Starts `arguments[0]` (looked up on the search path) with `arguments`; null, with the
// reason in `error`, when it cannot be started.
std::unique_ptr<RunningProgram> StartProgram(const std::vector<std::string>& arguments, std::string& error);

// The name Ghostscript's command-line program has on this platform: "gs", or the console
// program "gswin64c.exe" of Ghostscript for 64-bit Windows.
const char* GhostscriptProgramName();

}  // namespace velmora::platform
