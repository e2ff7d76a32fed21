// The application's device schemes. PAPPL's own "file" scheme appends to any file the
// URI names, as the user the application runs as; these take a network printer's socket
// or a folder the administrator allowed, and never write into an existing file.
#include "tools/printer_app/devices.h"

#include <fcntl.h>
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/raw_socket.h"
#include "tools/printer_app/snmp_supplies.h"

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultSocketPort = 9100;
constexpr int kConnectMilliseconds = 30000;
// Files a job may be given in one folder under one name before the device gives up.
constexpr int kMaxSameNames = 1000;

// Never destroyed: a job thread of PAPPL's may open a device while the program ends.
std::vector<std::string>& FileFolders() {
  static auto* folders = new std::vector<std::string>;
  return *folders;
}

struct ParsedUri {
  std::string scheme;
  std::string host;
  int port = 0;
  std::string resource;
};

bool Parse(const std::string& uri, ParsedUri& parsed) {
  char scheme[32], userpass[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof(scheme), userpass, sizeof(userpass), host,
                      sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK) {
    return false;
  }
  if (userpass[0] != '\0') return false;
  parsed = ParsedUri{scheme, host, port, resource};
  return true;
}

// The folder a file URI names, resolved, when it lies inside an allowed folder.
std::string FileProblem(const ParsedUri& parsed, fs::path* folder) {
  if (!parsed.host.empty() && parsed.host != "localhost") return "a file device names a folder on this machine";
  if (parsed.resource.find_first_of("?#") != std::string::npos) return "a file device takes no options";
  if (FileFolders().empty()) {
    return "file devices are off (the application was started without --file-device-folder)";
  }
  std::error_code error;
  const fs::path resolved = fs::canonical(parsed.resource, error);
  if (error || !fs::is_directory(resolved, error)) return "'" + parsed.resource + "' is not a folder";
  for (const std::string& allowed : FileFolders()) {
    const std::string inside = resolved.string();
    if (inside == allowed || inside.starts_with(allowed == "/" ? allowed : allowed + "/")) {
      if (folder != nullptr) *folder = resolved;
      return {};
    }
  }
  return "'" + parsed.resource + "' is not inside a folder named by --file-device-folder";
}

// A job's file name from its name: letters, digits, '-', '_' and '.', never hidden.
std::string SafeName(const char* name) {
  std::string safe;
  for (const char* c = name != nullptr ? name : ""; *c != '\0' && safe.size() < 100; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    safe += std::isalnum(byte) || byte == '-' || byte == '_' || byte == '.' ? static_cast<char>(byte) : '_';
  }
  if (safe.empty()) safe = "job";
  if (safe.front() == '.') safe.front() = '_';
  return safe;
}

// ---- file://FOLDER: a new file for every job -------------------------------------------

// An open file device: the folder and the job's name. The file is made on the first write,
// so that a device PAPPL opens for a job that writes nothing (one it aborts, or one that
// writes through a device of its own) leaves no empty file.
struct FileDevice {
  fs::path folder;
  std::string base;
  int fd = -1;
  ~FileDevice() {
    if (fd >= 0) ::close(fd);
  }
};

bool FileOpen(pappl_device_t* device, const char* uri, const char* name) {
  ParsedUri parsed;
  fs::path folder;
  const std::string problem = Parse(uri, parsed) ? FileProblem(parsed, &folder) : "not a file URI";
  if (!problem.empty()) {
    papplDeviceError(device, "Unable to use '%s': %s", uri, problem.c_str());
    return false;
  }
  const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (directory < 0) {
    papplDeviceError(device, "Unable to open '%s': %s", folder.c_str(), std::strerror(errno));
    return false;
  }
  ::close(directory);
  papplDeviceSetData(device, new FileDevice{folder, SafeName(name)});
  return true;
}

// Makes the job's file: NAME.prn, else NAME-2.prn and so on; false (and the reason given to
// PAPPL) when none can be made.
bool CreateJobFile(pappl_device_t* device, FileDevice& open) {
  const int directory = ::open(open.folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (directory < 0) {
    papplDeviceError(device, "Unable to open '%s': %s", open.folder.c_str(), std::strerror(errno));
    return false;
  }
  for (int n = 1; open.fd < 0 && n <= kMaxSameNames; ++n) {
    const std::string file = open.base + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".prn";
    open.fd = ::openat(directory, file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (open.fd < 0 && errno != EEXIST) break;
  }
  const int cause = errno;
  ::close(directory);
  if (open.fd < 0) {
    papplDeviceError(device, "Unable to create a job file in '%s': %s", open.folder.c_str(), std::strerror(cause));
    return false;
  }
  return true;
}

void FileClose(pappl_device_t* device) {
  std::unique_ptr<FileDevice> open(static_cast<FileDevice*>(papplDeviceGetData(device)));
}

ssize_t FileWrite(pappl_device_t* device, const void* buffer, size_t bytes) {
  auto& open = *static_cast<FileDevice*>(papplDeviceGetData(device));
  if (open.fd < 0 && !CreateJobFile(device, open)) return -1;
  const auto* data = static_cast<const char*>(buffer);
  size_t written = 0;
  while (written < bytes) {
    const ssize_t count = ::write(open.fd, data + written, bytes - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      papplDeviceError(device, "Unable to write the job file: %s", std::strerror(errno));
      return -1;
    }
    written += static_cast<size_t>(count);
  }
  return static_cast<ssize_t>(written);
}

// ---- socket://HOST[:PORT]: a network printer's raw port ----------------------------------

// An open socket device: the connection to the printer's raw port, and the printer's host,
// whose SNMP agent reports its supplies.
struct SocketDevice {
  std::unique_ptr<platform::RawSocket> socket;
  std::string host;
};

bool SocketOpen(pappl_device_t* device, const char* uri, const char*) {
  ParsedUri parsed;
  if (!Parse(uri, parsed) || parsed.host.empty()) {
    papplDeviceError(device, "Unable to use '%s': expected socket://HOST[:PORT]", uri);
    return false;
  }
  const int port = parsed.port > 0 ? parsed.port : kDefaultSocketPort;
  std::string reason;
  std::unique_ptr<platform::RawSocket> socket =
      platform::ConnectRawSocket(parsed.host, static_cast<std::uint16_t>(port), kConnectMilliseconds, &reason);
  if (!socket) {
    papplDeviceError(device, "Unable to connect to printer %s port %d: %s", parsed.host.c_str(), port, reason.c_str());
    return false;
  }
  papplDeviceSetData(device, new SocketDevice{std::move(socket), parsed.host});
  return true;
}

void SocketClose(pappl_device_t* device) {
  std::unique_ptr<SocketDevice> open(static_cast<SocketDevice*>(papplDeviceGetData(device)));
  std::string reason;
  if (open && !open->socket->Finish(&reason))
    papplDeviceError(device, "The printer did not take the job: %s", reason.c_str());
}

ssize_t SocketWrite(pappl_device_t* device, const void* buffer, size_t bytes) {
  auto* open = static_cast<SocketDevice*>(papplDeviceGetData(device));
  std::string reason;
  if (!open->socket->SendAll(static_cast<const std::uint8_t*>(buffer), bytes, &reason)) {
    papplDeviceError(device, "Unable to send the job to the printer: %s", reason.c_str());
    return -1;
  }
  return static_cast<ssize_t>(bytes);
}

// A printer whose SNMP agent did not answer is not asked again for this long: every job
// would otherwise wait for it.
constexpr auto kSnmpSilence = std::chrono::minutes(10);

int SocketSupplies(pappl_device_t* device, int maxSupplies, pappl_supply_t* supplies) {
  const auto* open = static_cast<SocketDevice*>(papplDeviceGetData(device));
  if (open == nullptr) return 0;
  static std::mutex lock;
  static auto* silent = new std::map<std::string, std::chrono::steady_clock::time_point>;
  const auto now = std::chrono::steady_clock::now();
  {
    const std::lock_guard<std::mutex> guard(lock);
    auto found = silent->find(open->host);
    if (found != silent->end() && now - found->second < kSnmpSilence) return 0;
  }
  const int count = QuerySnmpSupplies(open->host, maxSupplies, supplies);
  const std::lock_guard<std::mutex> guard(lock);
  if (count == 0) {
    (*silent)[open->host] = now;
  } else {
    silent->erase(open->host);
  }
  return count;
}

}  // namespace

void RegisterDeviceSchemes(std::vector<std::string> fileFolders) {
  FileFolders() = std::move(fileFolders);
  papplDeviceAddScheme2("socket", PAPPL_DEVTYPE_SOCKET, nullptr, SocketOpen, SocketClose, nullptr, SocketWrite, nullptr,
                        SocketSupplies, nullptr);
  papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, FileOpen, FileClose, nullptr, FileWrite, nullptr, nullptr);
}

std::string DeviceProblem(const std::string& uri) {
  ParsedUri parsed;
  if (!Parse(uri, parsed)) return "'" + uri + "' is not a device URI";
  if (parsed.scheme == "socket") {
    return parsed.host.empty() ? "a socket device names its printer: socket://HOST[:PORT]" : std::string();
  }
  if (parsed.scheme == "file") return FileProblem(parsed, nullptr);
  return "'" + parsed.scheme + "' devices are not offered: use socket://HOST[:PORT] or a file:// folder";
}

}  // namespace velmora::printer_app
