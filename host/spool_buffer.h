// The host's spool buffer: everything written into the job collects here and leaves in
// buffers of a fixed size through a sink (the plug-in's final-data hook, which hands
// them to the spooler).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace velmora::host {

class SpoolBuffer {
 public:
  // Sends one full (or, at the end, the last partial) buffer on; false when it was not
  // accepted. The buffer may be rewritten in place by the sink.
  using Sink = std::function<bool(std::uint8_t* bytes, std::size_t count)>;

  // `capacity` is the size of every buffer sent on except the last one; at least 1.
  SpoolBuffer(std::size_t capacity, Sink sink);

  // Appends bytes; full buffers are sent on at once. False once any send has failed:
  // from then on bytes are dropped, since the job cannot be completed anyway.
  bool Append(const void* bytes, std::size_t count);

  // While a hold is set, appended bytes go to it instead (a page's bytes that the host
  // writes later, in order with drawing it records); an empty hold ends that. Bytes a hold
  // takes count as appended only when they are appended again.
  using Hold = std::function<bool(std::span<const std::uint8_t>)>;
  void SetHold(Hold hold) { hold_ = std::move(hold); }

  // Sends what is pending. False when a send failed now or before.
  bool Flush();

  bool failed() const { return failed_; }
  // Bytes appended since construction, and bytes the sink accepted.
  std::uint64_t appended() const { return appended_; }
  std::uint64_t sent() const { return sent_; }
  std::size_t capacity() const { return buffer_.size(); }

 private:
  bool Send();

  std::vector<std::uint8_t> buffer_;
  std::size_t used_ = 0;
  Sink sink_;
  Hold hold_;
  bool failed_ = false;
  std::uint64_t appended_ = 0;
  std::uint64_t sent_ = 0;
};

}  // namespace velmora::host
