// One job of a printer at a time. PAPPL 1.3 prints a PWG or Apple raster job on the thread
// of the client that streams it, once it saw no job printing, and starts a queued job on a
// thread of its own; the two checks race, so two jobs of one printer may print at once.
// They share the printer's one device, which PAPPL closes and frees when either of them
// ends, under the other's writes. The jobs of a printer therefore take turns here.
#pragma once

#include <pappl/pappl.h>

namespace velmora::printer_app {

// The turn of a job at its printer, from its first callback until it has sent the finished
// job. A job that finds another job of its printer in its turn waits until that one is
// done, and then writes to a device of its own: PAPPL may close the printer's device at
// any moment after the other job ended.
class PrinterTurn {
 public:
  // Waits for the turn of `job` (in); gives up when the job is canceled meanwhile.
  explicit PrinterTurn(pappl_job_t* job);
  // Closes the job's own device, if it opened one, and hands the turn on.
  ~PrinterTurn();
  PrinterTurn(const PrinterTurn&) = delete;
  PrinterTurn& operator=(const PrinterTurn&) = delete;

  // False when the job was canceled while it waited for its turn.
  bool held() const { return held_; }

  // The device the job writes to: `papplDevice`, the printer's, unless another job printed
  // at once or the printer's device is a file device; then one of the job's own, opened on
  // first use, or null when it cannot be opened (PAPPL logs the reason).
  pappl_device_t* Device(pappl_device_t* papplDevice);

 private:
  struct Gate;
  static Gate& GateOf(int printerId);

  pappl_job_t* job_;
  Gate& gate_;
  bool held_ = false;
  bool shared_ = false;
  pappl_device_t* own_ = nullptr;
};

}  // namespace velmora::printer_app
