// One print job through the plug-in, in the host's published calling order: device mode,
// driver interface, driver and device enable, document, pages, end of document, disable,
// release. The job's bytes go through the spool buffer and the plug-in's final-data hook
// to the spooler (the printer store, or winspool), which writes them to the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/driver_services.h"
#include "host/job_settings.h"
#include "host/page_source.h"
#include "host/sheet_layout.h"
#include "platform/types.h"

namespace velmora::host {

// The printer the host uses when none is named; added to the spooler when missing.
inline const WString kDefaultPrinterName = VTEXT("Velmora Default");

struct PrintRequest {
  std::string modulePath;
  WString printerName;             // empty: the default printer
  std::string output;              // a file, "-" for standard output, or socket://HOST[:PORT]
  int connectTimeoutSeconds = 10;  // for a socket output
  WString title = VTEXT("Velmora sample");
  WString user;     // empty: the login name
  WString machine;  // empty: this machine's name
  // When set, the job's id (a CUPS job keeps its CUPS id). An id the spooler holds
  // already, or a spooler that cannot choose ids and gives another, fails the job
  // before anything is written.
  std::optional<DWORD> jobId;
  std::size_t bufferSize = 16384;
  std::vector<SettingAssignment> settings;  // ticket first, then --set, in order
  FeatureOptions choices;                   // --option FEATURE=OPTION
  // Special-page kinds by printed sheet (1-based); sheets not named get kind 0. When empty
  // the host sends no kinds and the settings' own kind stays.
  std::map<std::size_t, std::uint32_t> specialPages;
  // N-up sheets laid out as CUPS's pdftopdf lays them out, so that a CUPS queue prints a
  // job as CUPS's own filters would: pages that lie across the sheet take the N-up order
  // on the sheet as it lies (SheetLayoutSettings::orderOnSheet), and the landscape pages
  // of a 2-, 6- or 8-up sheet are turned a half turn more.
  bool pdftopdfLayout = false;
  // The sheet sides the job sends, once its pages are laid out (CUPS's page-set, and its
  // page-ranges of an N-up job); the pages the document source renders are its own choice.
  SideSelection sides;
  // Called after each sheet the printer took, with the sheet number and the sheet count.
  std::function<void(std::size_t page, std::size_t pages)> progress;
  // Called with a line the job's user should read although the job goes on (a page of a
  // size the printer has no paper for, fitted onto another; a PDF Ghostscript repaired);
  // at most once per kind of notice and job.
  std::function<void(const std::string& line)> notice;
};

struct PrintResult {
  DWORD jobId = 0;
  std::size_t pages = 0;    // sheets sent (one per N-up sheet or booklet side)
  std::uint64_t bytes = 0;  // bytes the spooler took
  // The job only created an overlay: the plug-in captured it into the printer's overlay
  // file and deleted the job, so nothing was printed and no output was written.
  bool overlayCaptured = false;
};

// Runs the job. The output appears only when the job succeeded: it is written under a
// temporary name beside it and renamed at the end. Throws HostError with one line saying
// what failed: bad settings, an unknown printer, a module that cannot be used, a job
// deleted through the spooler, an output that cannot be written.
PrintResult RunPrintJob(const PrintRequest& request, PageSource& pages);

}  // namespace velmora::host
