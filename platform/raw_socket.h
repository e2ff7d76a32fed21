// A raw TCP connection to a printer (the "socket" or "port 9100" protocol): the job's
// bytes go out as they are, and the printer prints when the connection closes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace velmora::platform {

class RawSocket {
 public:
  virtual ~RawSocket() = default;
  // Sends every byte, retrying short writes. False with the system's reason in *error.
  virtual bool SendAll(const std::uint8_t* bytes, std::size_t count, std::string* error) = 0;
  // Ends the job: shuts down the sending side and closes the connection. False with the
  // reason in *error when the printer did not take the end of the job.
  virtual bool Finish(std::string* error) = 0;
};

// Connects to host:port (a name, an IPv4 address or an IPv6 address), waiting at most
// timeoutMilliseconds for the connection. Null on failure, with the cause in *error.
std::unique_ptr<RawSocket> ConnectRawSocket(const std::string& host, std::uint16_t port, int timeoutMilliseconds,
                                            std::string* error);

}  // namespace velmora::platform
