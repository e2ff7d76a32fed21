// A job of the printer application runs in a process of its own: `velmora print`, which
// renders the document with Ghostscript and writes the finished job. Its own process
// group, processor-time and memory limits, and an end when the application ends, keep one
// job from stopping another or outliving the application; a canceled job's process is
// ended at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora::printer_app {

// The limits of a job. The processor time holds for the print host and, by the host, for
// its Ghostscript; the memory for Ghostscript, which the host starts with that limit (the
// host itself may be built with a sanitizer that reserves more address space than any
// limit allows).
struct JobLimits {
  std::uint64_t cpuSeconds = 600;
  std::uint64_t memoryBytes = 2ull << 30;
};

struct PrintProcessResult {
  bool canceled = false;  // ended because `canceled` answered true
  bool succeeded = false;
  std::string reason;    // why it failed, for the job's state message
  std::string messages;  // what the process wrote to standard error
};

// Whether the process itself gets the memory limit (Ghostscript run directly), or passes
// it on (the print host gives it to its Ghostscript).
enum class MemoryLimit : bool { kPassedOn, kOwn };

// Runs `program` with `arguments` (not including the program) under the processor-time
// limit, standard output to the null device, standard error read for the reason of a
// failure. `canceled` is asked about ten
// times a second; once it answers true the process and its group are killed.
PrintProcessResult RunPrintProcess(const std::string& program, const std::vector<std::string>& arguments,
                                   const JobLimits& limits, const std::function<bool()>& canceled,
                                   MemoryLimit memory = MemoryLimit::kPassedOn);

// "2G", "512M", "300000K", "1073741824": a size in bytes; throws std::runtime_error naming
// `option` for anything else (and for 0).
std::uint64_t ParseSize(const std::string& option, const std::string& text);

}  // namespace velmora::printer_app
