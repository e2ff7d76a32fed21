// How the velmora program quotes a name or a value in its messages: 'Office'.
#pragma once

#include <string>
#include <string_view>

namespace velmora::cli {

inline std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace velmora::cli
