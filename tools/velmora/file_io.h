// Reading and writing whole files for the command-line program. Files are written under
// a temporary name in the same folder and renamed when complete, so that a failure never
// leaves a partial file behind.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::cli {

// An error to report to the user: one line naming the input and what is wrong.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a whole file; throws CommandError naming the file and the system's reason.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

// Reads all of standard input (in binary); throws CommandError when it cannot be read.
std::vector<std::uint8_t> ReadStandardInput();

// True when the path names an existing file.
bool FileExists(const std::string& path);

// Writes a whole file atomically; throws CommandError on failure (nothing is left behind).
void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace velmora::cli
