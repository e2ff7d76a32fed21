// Running a helper program to completion: the print host renders documents with one.
#pragma once

#include <string>
#include <vector>

namespace velmora::platform {

struct ProgramRun {
  bool started = false;  // false: the program could not be run at all (see error)
  int exitCode = -1;     // its exit status; -1 when it was ended by a signal
  std::string error;     // why it could not be started, with the system's reason
};

// Runs `arguments[0]` (looked up on the search path) with `arguments`, standard input
// from the null device and standard output and standard error both written to the file
// `messagesPath`, and waits for it to end.
ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::string& messagesPath);

// The name Ghostscript's command-line program has on this platform: "gs", or the console
// program "gswin64c.exe" of Ghostscript for 64-bit Windows.
const char* GhostscriptProgramName();

}  // namespace velmora::platform
