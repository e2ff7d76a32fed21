// Files the print host and the command-line program write, and facts about the running
// program: unique temporary names beside an output, the rename that puts a finished
// file in place, flushing to the disk, terminals and the program's own path.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

// Creates a new, empty file whose name is `prefix` followed by a unique suffix, with the
// permissions a plainly created file would get. Returns its name, or nothing with the
// system's reason in *error.
std::optional<std::string> CreateUniqueFile(const std::string& prefix, std::string* error);

// Creates a new, empty folder whose name is `prefix` followed by a unique suffix, that
// only this user may open (mode 0700 on POSIX; on Windows the user's own temporary
// folder's permissions). Returns its name, or nothing with the system's reason in *error.
std::optional<std::string> CreatePrivateFolder(const std::string& prefix, std::string* error);

// This process's id as decimal text, for naming files that only this process writes.
std::string CurrentProcessTag();

// Whether the process whose id is the decimal text `tag` is still running. A tag that is
// not a process id answers true, so that nothing is taken for abandoned by mistake.
bool ProcessIsRunning(const std::string& tag);

// Renames `from` to `to`, replacing a file of that name (a finished output into place). False with the system's reason
// in *error.
bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* error);

// Writes the stream's buffers and asks the system to put the file's data on the disk.
bool FlushToDisk(std::FILE* stream);

// True when the stream is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// The running program's own file, or nothing when the system does not say.
std::optional<std::string> ProgramPath();

// True when the spooler writes a job whose output is "-" to standard output itself (the
// printer store); false when the host must spool to a file and copy it (winspool).
bool SpoolerWritesStandardOutput();

// Copies a whole file to standard output, in binary. False with the reason in *error.
bool CopyToStandardOutput(const std::string& path, std::string* error);

// Puts standard output or input in binary mode (no line-end translation), where there is
// such a mode.
void SetStandardOutputBinary();
void SetStandardInputBinary();

// The program's command-line arguments after its name, in UTF-8 (on Windows from the
// wide command line, so that any file name survives; elsewhere argv as it is).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The value of an environment variable in UTF-8 (on Windows read wide, so that a path
// in any script arrives intact); nothing when it is unset or empty.
std::optional<std::string> EnvironmentVariable(const char* name);

// Opens the file named by UTF-8 text with std::fopen's `mode` ("rb", "wb"); on Windows
// through the wide name, so that any file name opens.
std::FILE* OpenFile(const std::string& path, const char* mode);

// A path named by UTF-8 text, and a path's UTF-8 text. On Windows std::filesystem reads
// narrow text in a code page that cannot name every file; UTF-8 names any.
inline std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string_view(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}
inline std::string PathToUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The system's text for an errno value.
std::string ErrnoText(int error);

}  // namespace velmora::platform
