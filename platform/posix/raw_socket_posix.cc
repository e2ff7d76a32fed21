// Raw printer connections over POSIX sockets.
#include "platform/raw_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmora::platform {
namespace {

class PosixSocket final : public RawSocket {
 public:
  explicit PosixSocket(int fd) : fd_(fd) {}
  ~PosixSocket() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool SendAll(const std::uint8_t* bytes, std::size_t count, std::string* error) override {
    while (count > 0) {
      const ssize_t sent = ::send(fd_, bytes, count, MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        *error = std::strerror(errno);
        return false;
      }
      bytes += sent;
      count -= static_cast<std::size_t>(sent);
    }
    return true;
  }

  bool Finish(std::string* error) override {
    const int fd = fd_;
    fd_ = -1;
    const bool shut = ::shutdown(fd, SHUT_WR) == 0;
    const std::string reason = shut ? std::string() : std::strerror(errno);
    if (::close(fd) != 0 && shut) {
      *error = std::strerror(errno);
      return false;
    }
    if (!shut) *error = reason;
    return shut;
  }

 private:
  int fd_;
};

// Connects one address within the time left; the socket is blocking again afterwards.
int ConnectOne(const addrinfo& address, int timeoutMilliseconds, std::string* error) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
  if (fd < 0) {
    *error = std::strerror(errno);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int result = ::connect(fd, address.ai_addr, address.ai_addrlen);
  if (result != 0 && errno == EINPROGRESS) {
    pollfd wait{fd, POLLOUT, 0};
    do {
      result = ::poll(&wait, 1, timeoutMilliseconds);
    } while (result < 0 && errno == EINTR);
    if (result == 0) {
      *error = "no answer within " + std::to_string(timeoutMilliseconds / 1000) + " s";
      ::close(fd);
      return -1;
    }
    int status = 0;
    socklen_t length = sizeof status;
    if (result < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &status, &length) != 0) status = errno;
    result = status == 0 ? 0 : -1;
    errno = status;
  }
  if (result != 0) {
    *error = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, flags);
  return fd;
}

}  // namespace

std::unique_ptr<RawSocket> ConnectRawSocket(const std::string& host, std::uint16_t port, int timeoutMilliseconds,
                                            std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  const int found = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
  if (found != 0) {
    *error = ::gai_strerror(found);
    return nullptr;
  }
  int fd = -1;
  for (const addrinfo* address = addresses; address != nullptr && fd < 0; address = address->ai_next) {
    fd = ConnectOne(*address, timeoutMilliseconds, error);
  }
  ::freeaddrinfo(addresses);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixSocket>(fd);
}

}  // namespace velmora::platform
