// The turns of the jobs of each printer: a flag and a condition for each printer, and the
// device of a job that had to share its printer.
#include "tools/printer_app/printer_turn.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

namespace velmora::printer_app {

struct PrinterTurn::Gate {
  std::mutex mutex;
  std::condition_variable free;
  bool busy = false;
};

// Never destroyed: PAPPL's threads may still print while the program ends.
PrinterTurn::Gate& PrinterTurn::GateOf(int printerId) {
  static std::mutex lock;
  static auto* gates = new std::map<int, Gate>;
  const std::lock_guard<std::mutex> guard(lock);
  return (*gates)[printerId];
}

PrinterTurn::PrinterTurn(pappl_job_t* job) : job_(job), gate_(GateOf(papplPrinterGetID(papplJobGetPrinter(job)))) {
  std::unique_lock<std::mutex> lock(gate_.mutex);
  shared_ = gate_.busy;
  // A cancel sets no condition: it is looked for a few times a second.
  while (gate_.busy) {
    if (papplJobIsCanceled(job)) return;
    gate_.free.wait_for(lock, std::chrono::milliseconds(100));
  }
  gate_.busy = true;
  held_ = true;
  lock.unlock();
  if (shared_) {
    papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                "Started while another job of the printer printed; it waited for that job and prints through a "
                "device of its own.");
  }
}

PrinterTurn::~PrinterTurn() {
  if (own_ != nullptr) papplDeviceClose(own_);
  if (!held_) return;
  const std::lock_guard<std::mutex> lock(gate_.mutex);
  gate_.busy = false;
  gate_.free.notify_all();
}

pappl_device_t* PrinterTurn::Device(pappl_device_t* papplDevice) {
  pappl_printer_t* printer = papplJobGetPrinter(job_);
  // PAPPL 1.3 closes the printer's device when any job of a file device ends, also one it
  // aborts without the driver (a raster stream it cannot read, say), which may be while
  // this job writes. A job of a file device therefore always writes through a device of
  // its own: a file device makes its file on the first write, so PAPPL's unused one
  // leaves none. PAPPL closes the device of a network printer only when no job of the
  // printer is left, so a job that is printing keeps it; a second connection could stall
  // a printer that serves one at a time.
  const bool fileDevice = std::strncmp(papplPrinterGetDeviceURI(printer), "file:", 5) == 0;
  if (!shared_ && !fileDevice) return papplDevice;
  if (own_ == nullptr) {
    own_ = papplDeviceOpen(papplPrinterGetDeviceURI(printer), papplJobGetName(job_), papplLogDevice,
                           papplPrinterGetSystem(printer));
  }
  return own_;
}

}  // namespace velmora::printer_app
