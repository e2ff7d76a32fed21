// The job's output: a temporary file renamed into place when the job completed.
#include "host/job_output.h"

#include <filesystem>

#include "host/host_error.h"
#include "platform/files.h"

namespace velmora::host {

JobOutput::JobOutput(const std::string& output) : output_(output) {
  if (output.empty()) throw HostError("No output named");
  namespace fs = std::filesystem;
  std::string reason;
  if (output == "-") {
    toStandardOutput_ = true;
    if (platform::SpoolerWritesStandardOutput()) return;
    // The spooler writes files only: the job goes to a temporary file first and is
    // copied to standard output when complete.
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error);
    auto temporary = platform::CreateUniqueFile((folder / "velmora-job.").string(), &reason);
    if (!temporary) throw HostError("Unable to create a temporary file in '" + folder.string() + "': " + reason);
    temporary_ = *temporary;
    return;
  }
  const fs::path path(output);
  // The spooler may write from another process with another working folder: it gets
  // the temporary file's whole path.
  std::error_code error;
  const fs::path folder = fs::absolute(path.has_parent_path() ? path.parent_path() : fs::path("."), error);
  if (error) throw HostError("Unable to create output '" + output + "': " + error.message());
  auto temporary = platform::CreateUniqueFile((folder / ("." + path.filename().string() + ".")).string(), &reason);
  if (!temporary) throw HostError("Unable to create output '" + output + "': " + reason);
  temporary_ = *temporary;
}

JobOutput::~JobOutput() {
  if (temporary_.empty() || (committed_ && !toStandardOutput_)) return;
  std::error_code ignored;
  std::filesystem::remove(temporary_, ignored);
}

void JobOutput::Commit() {
  std::string reason;
  if (toStandardOutput_) {
    if (!temporary_.empty() && !platform::CopyToStandardOutput(temporary_, &reason)) {
      throw HostError("Unable to write the job to standard output: " + reason);
    }
    committed_ = true;
    return;
  }
  if (!platform::MoveIntoPlace(temporary_, output_, &reason)) {
    throw HostError("Unable to write output '" + output_ + "': " + reason);
  }
  committed_ = true;
}

}  // namespace velmora::host
