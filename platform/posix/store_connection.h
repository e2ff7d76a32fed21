// Private to the printer store: the one connection each process keeps to its store.
//
// Opening the store costs far more than any query on it (the file, the WAL index, the
// schema), and the plug-in asks the spooler many times per page. So the process opens
// the store named by StorePath() once, lazily, and keeps it; every statement is
// prepared once on it (Database::Prepare). When the store path changes (tests change
// $VELMORA_STORE between cases) or the file at the path is replaced, the next call
// opens the new store; connections already handed out stay on the store they opened.
//
// Several processes still share one store: each connection runs in WAL mode with a
// busy timeout, and no statement keeps a transaction open between calls.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/posix/store_database.h"

namespace velmora::platform::posix::store {

// One open store. Hold `mutex` for a whole operation: prepared statements, the count of
// changed rows, the last row id and transactions all belong to the connection, not to
// a thread.
struct Connection {
  std::mutex mutex;
  Database db;
  bool writable = false;
  dev_t device = 0;  // the file that was opened, to notice a store replaced at its path
  ino_t inode = 0;
  pid_t owner = 0;  // a connection inherited through fork() is never used or closed
};

// The connection for reading and writing the store at `path`, creating the file, its
// folders and its tables when missing. nullptr on failure, with the reason in *error.
std::shared_ptr<Connection> ConnectForWriting(const std::string& path, std::string* error);

// A connection for reading the existing store at `path`; never creates anything. It is
// the process's writing connection when that is open on the same file. nullptr when
// the file does not exist (*missing is true) or cannot be opened as a store (the
// reason in *error).
std::shared_ptr<Connection> ConnectForReading(const std::string& path, bool* missing, std::string* error);

// A counter of this process's writes to printer-data values. A cache of values read
// earlier is stale once the counter has moved on.
std::uint64_t PrinterDataGeneration();
void PrinterDataChanged();

}  // namespace velmora::platform::posix::store
