// Running a helper program beside the caller: the print host renders documents with one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace velmora::platform {

// What a program may use before the system ends it; 0: no limit.
struct ProgramLimits {
  // Processor time in seconds: user and system time on POSIX (the program gets SIGXCPU at
  // the limit and SIGKILL a second later), user time on Windows.
  std::uint64_t cpuSeconds = 0;
  // Memory in bytes: the address space on POSIX, the committed memory on Windows. An
  // allocation past it fails, which the program reports or dies of.
  std::uint64_t memoryBytes = 0;
};

struct ProgramRun {
  bool started = false;  // false: the program could not be waited for (see error)
  int exitCode = -1;     // its exit status; -1 when it was ended by a signal
  int signal = 0;        // the signal that ended it (POSIX); 0 when it exited
  // It was ended for using up its processor-time limit.
  bool timeLimitReached = false;
  std::string error;  // why it could not be waited for, with the system's reason
};

// A program running beside its caller, standard input from the null device or from a
// pipe the caller writes, standard output and standard error each read through a pipe of
// its own. Each pipe may be read from a thread of its own. Destroying it ends the program
// if it is still running.
//
// The program never outlives its caller: it runs in a process group (a job object on
// Windows) of its own, which Stop ends whole, and the system kills it when the caller
// dies. On Linux that is when the thread that started it ends: a program is started and
// ended by the same thread.
class RunningProgram {
 public:
  virtual ~RunningProgram() = default;
  // Reads up to `size` bytes the program wrote to its standard output (ReadOutput) or
  // standard error (ReadMessages), waiting for some; 0 once it has closed that stream,
  // -1 when the pipe cannot be read.
  virtual std::ptrdiff_t ReadOutput(std::uint8_t* buffer, std::size_t size) = 0;
  virtual std::ptrdiff_t ReadMessages(std::uint8_t* buffer, std::size_t size) = 0;
  // Writes all of `bytes` to the program's standard input, when it was started with a pipe
  // there; false when it was not, or when the program no longer reads it.
  virtual bool WriteInput(std::span<const std::uint8_t> bytes) = 0;
  // Closes the caller's end of the standard input pipe: the program reads its end.
  virtual void CloseInput() = 0;
  // Waits for the program to end: started is true, exitCode or signal how it ended.
  virtual ProgramRun Wait() = 0;
  // Ends the program (and anything it started) if it is still running and waits for it;
  // its pipes stay open, so that a reader sees their ends.
  virtual void Stop() = 0;
};

// Where a program's standard input comes from.
enum class ProgramInput { kNullDevice, kPipe };

// Starts `arguments[0]` (looked up on the search path) with `arguments` under `limits`;
// null, with the reason in `error` ("Unable to run 'gs': No such file or directory"),
// when it cannot be started. A `temporaryFolder` becomes the program's TMPDIR, TEMP and
// TMP; without one it has the caller's.
std::unique_ptr<RunningProgram> StartProgram(const std::vector<std::string>& arguments, std::string& error,
                                             const ProgramLimits& limits = {},
                                             ProgramInput input = ProgramInput::kNullDevice,
                                             const std::string& temporaryFolder = {});

// The name Ghostscript's command-line program has on this platform: "gs", or the console
// program "gswin64c.exe" of Ghostscript for 64-bit Windows.
const char* GhostscriptProgramName();

// Requests to stop this process (SIGTERM, SIGINT and SIGHUP on POSIX; Ctrl+C, Ctrl+Break
// and closing the console on Windows) no longer end it at once: from now on the first
// one ends every program StartProgram started and is noted, so that the caller fails its
// work, cleans up, and then calls EndAsStopRequested. A second request ends the process
// at once. A signal the process was started with ignored stays ignored.
void CatchStopRequests();

// The stop request received since CatchStopRequests ("SIGTERM"), or null when none was.
const char* StopRequested();

// Ends the process as the stop request it received would have ended it; returns at once
// when none was received.
void EndAsStopRequested();

}  // namespace velmora::platform
