// The host's spool buffer: the job's bytes leave in buffers of a fixed size through a sink.
#include "host/spool_buffer.h"

#include <algorithm>
#include <cstring>

namespace velmora::host {

SpoolBuffer::SpoolBuffer(std::size_t capacity, Sink sink)
    : buffer_(std::max<std::size_t>(capacity, 1)), sink_(std::move(sink)) {}

bool SpoolBuffer::Append(const void* bytes, std::size_t count) {
  if (failed_) return false;
  if (bytes == nullptr && count != 0) return false;
  if (hold_) return count == 0 || hold_({static_cast<const std::uint8_t*>(bytes), count});
  const auto* next = static_cast<const std::uint8_t*>(bytes);
  appended_ += count;
  while (count > 0) {
    const std::size_t take = std::min(count, buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, next, take);
    used_ += take;
    next += take;
    count -= take;
    if (used_ == buffer_.size() && !Send()) return false;
  }
  return true;
}

bool SpoolBuffer::Flush() {
  if (failed_) return false;
  if (used_ == 0) return true;
  return Send();
}

bool SpoolBuffer::Send() {
  const std::size_t count = used_;
  used_ = 0;
  if (!sink_ || !sink_(buffer_.data(), count)) {
    failed_ = true;
    return false;
  }
  sent_ += count;
  return true;
}

}  // namespace velmora::host
