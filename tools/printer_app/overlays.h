// The form overlays of each printer of the application. They live in the printer's own
// folder "overlays/ID" of the state folder, each as NAME.ovl (what the plug-in captured)
// with its picture NAME.png beside it (the first page of the document it was captured
// from). The application, not the administrator, gives the plug-in the overlay folder and
// list ("OvelayDirectory", "OvelayFiles") for each job that creates or plays an overlay:
// IPP clients name overlays with the vendor attributes overlay-name and overlay-even-name,
// whose -supported values list the printer's overlays.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cups/cups_options.h"
#include "tools/printer_app/form_values.h"
#include "tools/printer_app/print_process.h"

namespace velmora::printer_app {

// The overlay for every page (overlay-mode=one), for odd pages (odd-even), or the name of
// the overlay a job creates (create).
inline constexpr const char* kOverlayNameAttribute = "overlay-name";
// The overlay for even pages (overlay-mode=odd-even).
inline constexpr const char* kOverlayEvenNameAttribute = "overlay-even-name";
// The value of both that names no overlay is kNoOverlay (form_values.h).

struct OverlayEntry {
  std::string name;
  std::uintmax_t bytes = 0;  // the overlay file's size
  std::time_t captured = 0;  // when it was captured: the file's modification time
  bool hasPicture = false;
};

// One printer's overlay folder.
class OverlayFolder {
 public:
  OverlayFolder(const std::string& stateFolder, int printerId);
  const std::string& path() const { return path_; }
  std::string FileOf(const std::string& name) const { return path_ + "/" + name + ".ovl"; }
  std::string PictureOf(const std::string& name) const { return path_ + "/" + name + ".png"; }
  // True when `name` is a valid name and its overlay file exists.
  bool Has(const std::string& name) const;
  // Every overlay of the folder, by name; a folder that does not exist has none.
  std::vector<OverlayEntry> List() const;
  // Removes the overlay and its picture; answers why it could not, or an empty string.
  std::string Remove(const std::string& name) const;

 private:
  std::string path_;
};

// A printer's default of a vendor attribute ("overlay-mode", "overlay-name"), as text.
std::string PrinterDefault(pappl_printer_t* printer, const std::string& attribute);

// The driver callback: makes overlay-name and overlay-even-name vendor attributes of the
// printer, with "none" as their only value until the printer is known.
void AddOverlayAttributes(pappl_pr_driver_data_t* data, ipp_t* attributes);

// Notes the names of the attributes the driver callback made, which
// RefreshOverlayAttributes keeps; call at the end of the driver callback.
void RememberDriverAttributes(ipp_t* attributes);

// Brings the printer's overlay-name-supported and overlay-even-name-supported up to date
// with its folder ("none" and every overlay); a default naming an overlay that is gone
// becomes "none". Call when the printer is created and whenever its overlays change.
void RefreshOverlayAttributes(pappl_printer_t* printer, const std::string& stateFolder);

// The settings page captures an overlay through a job of the printer, created with the
// uploaded document in the spool folder under a name of this prefix. PAPPL 1.3 gives such
// a job no vendor attributes, so the page notes the overlay's name by the document.
inline constexpr const char* kCaptureDocumentPrefix = "overlay-";
void NoteWebCapture(const std::string& document, const std::string& name);
// The overlay name noted for the job's document (and forgotten), else nothing.
std::optional<std::string> TakeWebCapture(const std::string& document);
// True when `document` is a capture document of the settings page in `spoolFolder`.
bool IsWebCaptureDocument(const std::string& document, const std::string& spoolFolder);

// What a job's overlay mode asks of the printer's overlays: the printer values written
// before the job runs and, for a capture, the picture made after it.
class OverlayJob {
 public:
  // Writes the overlay folder and list the job's overlay mode needs into the printer
  // store (under `storeLock`): for create the name the job gives in overlay-name, for
  // one and odd-even the overlays it names or the printer's defaults. Warnings go to the
  // job's log. `captureName`, when given, names the overlay a capture job makes in place
  // of the job's overlay-name. Answers why the job cannot run, or an empty string.
  std::string Prepare(pappl_job_t* job, const cups::JobOptions& options, const std::string& stateFolder,
                      std::mutex& storeLock, const std::optional<std::string>& captureName);
  // After the job ran: a capture gets its picture, made from `document`, and the printer
  // lists the new overlay; a capture that made no overlay leaves no file behind. A played
  // overlay deleted while the job printed is told in the job's log and state message.
  void Finish(pappl_job_t* job, bool captured, const std::string& document, const JobLimits& limits);

 private:
  std::string stateFolder_;
  std::string created_;              // the overlay a capture job creates
  std::vector<std::string> played_;  // the overlays a job plays
  bool existedBefore_ = false;
};

// Renders the first page of the PDF or PostScript `document` as a grey PNG about 200
// pixels wide at `picture`, with Ghostscript in a process of its own under `limits`. The
// picture is written beside `picture`, under its name followed by kPartialPictureSuffix,
// and renamed when whole. Answers why it could not, or an empty string.
inline constexpr const char* kPartialPictureSuffix = ".part";
std::string RenderOverlayPicture(const std::string& document, const std::string& picture, const JobLimits& limits);

}  // namespace velmora::printer_app
