// The pieces of velmora-printer-app: the printer driver PAPPL asks for, the filters that
// run a job through the print host and the plug-in, and the settings page.
#pragma once

#include <pappl/pappl.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/printer_app/print_process.h"

namespace velmora::cups {
struct Option;
}  // namespace velmora::cups

namespace velmora::printer_app {

// The one driver of the application: a PJL + PCL XL printer behind the plug-in.
inline constexpr const char* kDriverName = "velmora_pxl";
inline constexpr const char* kDriverDescription = "Velmora PCL XL printer";

// What every job and page of the application shares; it lives as long as the system.
struct App {
  std::string stateFolder;  // the printer store, the watermark sections and PAPPL's state
  std::string modulePath;   // the plug-in module
  std::string spoolFolder;  // temporary files of jobs
  std::string velmoraPath;  // the velmora program, which writes printer values and watermarks
  // Each job runs in a process of its own within these limits; printers print at once,
  // each its own jobs in turn.
  JobLimits limits;
  // Held while the printer store gets a printer or the settings page changes its values.
  std::mutex store;
  // What the settings pages of the printers need, one for each printer.
  std::mutex pagesLock;
  std::vector<std::shared_ptr<void>> pages;
};

// PAPPL's driver callback: the printer's capabilities, its callbacks and its vendor
// attributes (the plug-in's options that no standard IPP attribute carries).
bool MakeDriver(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                pappl_pr_driver_data_t* data, ipp_t** attributes, void* app);

// The options a printer carries as PAPPL vendor attributes: those of the option table
// with no standard IPP attribute, and number-up and number-up-layout, which PAPPL does
// not handle itself.
bool IsVendorAttribute(const cups::Option& option);

// False for a choice (an IPP keyword) a printer may not have as its default, though a job
// may choose it: overlay-mode create.
bool MayBePrinterDefault(const cups::Option& option, std::string_view ippKeyword);

// Gives a printer's driver the callbacks of raster jobs (PWG and Apple raster, which PAPPL
// streams page by page): their pages become a document that prints as a PDF does.
void SetRasterCallbacks(pappl_pr_driver_data_t* data, App* app);

// The filter of PDF and PostScript documents (application/pdf, application/postscript).
bool PrintDocument(pappl_job_t* job, pappl_device_t* device, void* app);

// The filter of PNG and JPEG pictures: checked against the pixel budget before they are
// decoded, each becomes a one-page PDF document that prints as a PDF does.
bool PrintPicture(pappl_job_t* job, pappl_device_t* device, void* app);

// Adds the printer to the printer store when it is not there yet. Throws
// std::runtime_error naming the store and the cause.
void EnsureStorePrinter(const std::string& printerName);

// PAPPL's printer-creation callback: adds the printer's "Velmora Settings" page (and its
// watermark preview picture), linked from the printer's pages.
void AddSettingsPage(pappl_printer_t* printer, void* app);

}  // namespace velmora::printer_app
