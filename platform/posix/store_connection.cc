// The process's one connection to the printer store, reopened when the store changes.
#include "platform/posix/store_connection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace velmora::platform::posix::store {
namespace {

struct Registry {
  std::mutex mutex;  // guards `current` only; never held while a connection is in use
  std::shared_ptr<Connection> current;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::atomic<std::uint64_t> printerDataGeneration{0};

bool IsFile(const Connection& connection, const std::string& path, const struct stat& info) {
  return connection.db.path() == path && connection.device == info.st_dev && connection.inode == info.st_ino;
}

// Forgets a connection inherited from the parent process. Closing it here could
// checkpoint or remove the WAL file that the parent still uses, so it is left as it is.
void ForgetInherited(Registry& registry) {
  if (!registry.current || registry.current->owner == ::getpid()) return;
  registry.current->db.Abandon();
  registry.current.reset();
}

// Makes a freshly opened store the process's connection.
std::shared_ptr<Connection> Publish(Registry& registry, Database db, bool writable) {
  auto connection = std::make_shared<Connection>();
  struct stat info {};
  if (::stat(db.path().c_str(), &info) == 0) {
    connection->device = info.st_dev;
    connection->inode = info.st_ino;
  }
  connection->db = std::move(db);
  connection->writable = writable;
  connection->owner = ::getpid();
  registry.current = connection;
  return connection;
}

}  // namespace

std::shared_ptr<Connection> ConnectForWriting(const std::string& path, std::string* error) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  ForgetInherited(registry);
  struct stat info {};
  if (registry.current && registry.current->writable && !path.empty() && ::stat(path.c_str(), &info) == 0 &&
      IsFile(*registry.current, path, info)) {
    return registry.current;
  }
  std::optional<Database> db = Database::OpenForWriting(path, error);
  if (!db) return nullptr;
  return Publish(registry, std::move(*db), true);
}

std::shared_ptr<Connection> ConnectForReading(const std::string& path, bool* missing, std::string* error) {
  *missing = false;
  if (path.empty()) {
    *error = "No printer store: neither VELMORA_STORE nor a home folder is set";
    return nullptr;
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    *missing = errno == ENOENT;
    *error = "Unable to reach store '" + path + "': " + std::strerror(errno);
    return nullptr;
  }
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  ForgetInherited(registry);
  if (registry.current && IsFile(*registry.current, path, info)) return registry.current;
  std::optional<Database> db = Database::OpenForReading(path, error);
  if (!db) return nullptr;
  return Publish(registry, std::move(*db), false);
}

std::uint64_t PrinterDataGeneration() { return printerDataGeneration.load(std::memory_order_acquire); }

void PrinterDataChanged() { printerDataGeneration.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace velmora::platform::posix::store
