// The PPD of a Velmora queue, generated from the host's printer description (papers,
// sources, media types) and the queue's option table, so that the PPD, the filter and
// the Windows package never disagree.
#pragma once

#include <string>
#include <string_view>

namespace velmora::cups {

// The filter program's name in CUPS's filter folder.
inline constexpr std::string_view kFilterName = "velmora-pxl";

// The PPD file name in the model folder.
inline constexpr std::string_view kPpdFileName = "velmora-pxl.ppd";

// The whole PPD (ASCII, LF line ends).
std::string VelmoraPpd();

}  // namespace velmora::cups
