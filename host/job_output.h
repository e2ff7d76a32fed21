// Where a job's bytes go: a temporary file beside the output, renamed to the output only
// when the job succeeded; standard output (through a temporary file where the spooler
// writes files only); or a printer over a raw socket ("socket://HOST[:PORT]", port 9100
// by default), which is connected first and gets the job once it is complete.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/raw_socket.h"

namespace velmora::host {

class JobOutput {
 public:
  // Creates the temporary file for `output` ("-": standard output, no file) and connects
  // a socket output. Throws HostError naming the output when its folder cannot take a
  // file, or naming the printer and the cause when it cannot be reached.
  explicit JobOutput(const std::string& output, int connectTimeoutSeconds = 10);
  // Removes the temporary file unless the output was committed.
  ~JobOutput();
  JobOutput(const JobOutput&) = delete;
  JobOutput& operator=(const JobOutput&) = delete;

  // What the spooler writes to: the temporary file, or "-".
  const std::string& spoolTarget() const { return temporary_.empty() ? output_ : temporary_; }
  // Renames the temporary file to the output, or copies it to standard output or the
  // socket. Throws HostError on failure.
  void Commit();

 private:
  std::string output_;
  std::string temporary_;
  bool toStandardOutput_ = false;
  std::unique_ptr<platform::RawSocket> socket_;
  bool committed_ = false;
};

// A socket output's host and port; nothing when `output` does not start with "socket://".
// Throws HostError when it does but names no host or a bad port.
struct SocketAddress {
  std::string host;
  std::uint16_t port = 9100;
};
std::optional<SocketAddress> ParseSocketOutput(const std::string& output);

}  // namespace velmora::host
