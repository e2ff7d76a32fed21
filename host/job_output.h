// Where a job's bytes go: a temporary file beside the output, renamed to the output only
// when the job succeeded, or standard output (through a temporary file where the spooler
// writes files only).
#pragma once

#include <string>

namespace velmora::host {

class JobOutput {
 public:
  // Creates the temporary file for `output` ("-": standard output, no file). Throws
  // HostError naming the output when its folder cannot take a file.
  explicit JobOutput(const std::string& output);
  // Removes the temporary file unless the output was committed.
  ~JobOutput();
  JobOutput(const JobOutput&) = delete;
  JobOutput& operator=(const JobOutput&) = delete;

  // What the spooler writes to: the temporary file, or "-".
  const std::string& spoolTarget() const { return temporary_.empty() ? output_ : temporary_; }
  // Renames the temporary file to the output. Throws HostError on failure.
  void Commit();

 private:
  std::string output_;
  std::string temporary_;
  bool toStandardOutput_ = false;
  bool committed_ = false;
};

}  // namespace velmora::host
