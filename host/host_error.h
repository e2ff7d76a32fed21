// The error the print host reports to its caller: one line naming the input or the
// operation and what is wrong with it.
#pragma once

#include <stdexcept>
#include <string>

namespace velmora::host {

class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace velmora::host
