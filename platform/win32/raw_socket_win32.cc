// Raw printer connections over Windows sockets.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/raw_socket.h"
#include "platform/win32/system_message.h"

namespace velmora::platform {
namespace {

std::string SocketReason() { return win32::SystemMessage(static_cast<DWORD>(::WSAGetLastError())); }

class WinSocket final : public RawSocket {
 public:
  explicit WinSocket(SOCKET socket) : socket_(socket) {}
  ~WinSocket() override {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    ::WSACleanup();
  }

  bool SendAll(const std::uint8_t* bytes, std::size_t count, std::string* error) override {
    while (count > 0) {
      const int chunk = static_cast<int>(count < (1u << 30) ? count : (1u << 30));
      const int sent = ::send(socket_, reinterpret_cast<const char*>(bytes), chunk, 0);
      if (sent == SOCKET_ERROR) {
        *error = SocketReason();
        return false;
      }
      bytes += sent;
      count -= static_cast<std::size_t>(sent);
    }
    return true;
  }

  bool Finish(std::string* error) override {
    const bool shut = ::shutdown(socket_, SD_SEND) == 0;
    if (!shut) *error = SocketReason();
    ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
    return shut;
  }

 private:
  SOCKET socket_;
};

SOCKET ConnectOne(const addrinfo& address, int timeoutMilliseconds, std::string* error) {
  SOCKET socket = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (socket == INVALID_SOCKET) {
    *error = SocketReason();
    return INVALID_SOCKET;
  }
  u_long nonBlocking = 1;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0 &&
      ::WSAGetLastError() != WSAEWOULDBLOCK) {
    *error = SocketReason();
    ::closesocket(socket);
    return INVALID_SOCKET;
  }
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  timeval wait{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
  const int ready = ::select(0, nullptr, &writable, &failed, &wait);
  if (ready == 0) {
    *error = "no answer within " + std::to_string(timeoutMilliseconds / 1000) + " s";
    ::closesocket(socket);
    return INVALID_SOCKET;
  }
  int status = 0;
  int length = sizeof status;
  if (ready < 0 || FD_ISSET(socket, &failed)) {
    ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&status), &length);
    *error = win32::SystemMessage(static_cast<DWORD>(status != 0 ? status : ::WSAGetLastError()));
    ::closesocket(socket);
    return INVALID_SOCKET;
  }
  nonBlocking = 0;
  ::ioctlsocket(socket, FIONBIO, &nonBlocking);
  return socket;
}

}  // namespace

std::unique_ptr<RawSocket> ConnectRawSocket(const std::string& host, std::uint16_t port, int timeoutMilliseconds,
                                            std::string* error) {
  WSADATA data;
  if (const int started = ::WSAStartup(MAKEWORD(2, 2), &data); started != 0) {
    *error = win32::SystemMessage(static_cast<DWORD>(started));
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* addresses = nullptr;
  if (const int found = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses); found != 0) {
    *error = win32::SystemMessage(static_cast<DWORD>(found));
    ::WSACleanup();
    return nullptr;
  }
  SOCKET socket = INVALID_SOCKET;
  for (const addrinfo* address = addresses; address != nullptr && socket == INVALID_SOCKET;
       address = address->ai_next) {
    socket = ConnectOne(*address, timeoutMilliseconds, error);
  }
  ::freeaddrinfo(addresses);
  if (socket == INVALID_SOCKET) {
    ::WSACleanup();
    return nullptr;
  }
  return std::make_unique<WinSocket>(socket);
}

}  // namespace velmora::platform
