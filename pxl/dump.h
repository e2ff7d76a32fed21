// A readable listing of a PJL + PCL XL job: PJL lines as text, then one PCL XL
// operator per line with its attributes, e.g.
//
//   BeginPage Orientation=ePortraitOrientation(0) MediaSize=eA4Paper(2) MediaSource=eAutoSelect(1)
//   <data 4056 bytes>
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "pxl/reader.h"

namespace velmora::pxl {

struct DumpOptions {
  // Stop after this many pages (counted at EndPage); 0 lists the whole job.
  std::size_t max_pages = 0;
};

// Writes the listing of `job` to `out`. On malformed input it lists what it read, then
// "error at offset N: cause", and returns false.
bool Dump(std::span<const std::uint8_t> job, std::ostream& out, const DumpOptions& options = {});

// One event as the listing shows it, without the line end.
std::string FormatEvent(const Event& event);

// One value as the listing shows it; `attribute` selects enumeration names.
std::string FormatValue(const Value& value, std::uint16_t attribute = 0);

// Text with control and non-ASCII bytes written as escapes: \e, \r, \n, \t, \xNN.
std::string EscapeText(std::string_view text);

}  // namespace velmora::pxl
