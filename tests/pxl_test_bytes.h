// Helpers for writing PCL XL jobs down by hand in tests: text and byte runs joined in
// order, so that every golden byte stays visible in the test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::pxl::testing {

using Bytes = std::vector<std::uint8_t>;

// One run of a job: either literal text or a list of byte values.
struct Run {
  Run(std::string_view text) : bytes(text.begin(), text.end()) {}
  Run(const char* text) : Run(std::string_view(text)) {}
  Run(const std::string& text) : Run(std::string_view(text)) {}
  Run(std::initializer_list<int> values) {
    for (int value : values) bytes.push_back(static_cast<std::uint8_t>(value));
  }
  Run(const Bytes& values) : bytes(values) {}
  Bytes bytes;
};

inline Bytes Job(std::initializer_list<Run> runs) {
  Bytes job;
  for (const Run& run : runs) job.insert(job.end(), run.bytes.begin(), run.bytes.end());
  return job;
}

inline constexpr std::string_view kUel = "\x1b%-12345X";

}  // namespace velmora::pxl::testing
