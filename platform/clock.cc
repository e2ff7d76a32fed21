// The reproducible moment both clocks honour.
#include "platform/clock.h"

#include <cerrno>
#include <cstdlib>

namespace velmora::platform {

std::optional<long long> ReproducibleEpoch() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long seconds = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || seconds < 0) return std::nullopt;
  return seconds;
}

}  // namespace velmora::platform
