// Jobs of velmora-printer-app: the IPP job's attributes mapped onto the plug-in's settings
// through the queue's option mapping, the document run through the print host as
// `velmora print` runs it, and the finished job sent to the printer's device. Raster
// pages PAPPL streams are collected into a document first.
#include <pappl/pappl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/page_source.h"
#include "host/print_job.h"
#include "platform/posix/spooler_store.h"
#include "platform/text_encoding.h"
#include "tools/cups/cups_options.h"
#include "tools/printer_app/access.h"
#include "tools/printer_app/printer_app.h"
#include "tools/printer_app/image_document.h"
#include "tools/printer_app/overlays.h"
#include "tools/printer_app/print_process.h"
#include "tools/printer_app/printer_status.h"
#include "tools/printer_app/printer_turn.h"
#include "tools/printer_app/raster_document.h"
#include "tools/printer_app/secrets.h"

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;
using cups::NamedOption;

// The application, as the driver callback or the job's filter was given it.
App* g_app = nullptr;

// The setting that holds a job's PIN.
constexpr const char* kPinSetting = "szFileBoxPassword";

// The text of an attribute's first value as the option mapping reads it: enums as their
// numbers (orientation-requested 3, print-quality 5), text, names and keywords as the
// client sent them (ippGetString: no escaping, no joining), a PIN as its bytes, and
// resolutions and ranges as IPP writes them ("600dpi", "1-3,7": every range of the job).
std::string ValueText(ipp_attribute_t* attribute) {
  switch (ippGetValueTag(attribute)) {
    case IPP_TAG_ENUM:
    case IPP_TAG_INTEGER: return std::to_string(ippGetInteger(attribute, 0));
    case IPP_TAG_BOOLEAN: return ippGetBoolean(attribute, 0) ? "true" : "false";
    case IPP_TAG_STRING: {
      int length = 0;
      const void* bytes = ippGetOctetString(attribute, 0, &length);
      return bytes == nullptr ? std::string() : std::string(static_cast<const char*>(bytes), length);
    }
    case IPP_TAG_RANGE:
    case IPP_TAG_RESOLUTION: {
      char text[1024];
      ippAttributeString(attribute, text, sizeof(text));
      return text;
    }
    default: {
      const char* text = ippGetString(attribute, 0, nullptr);
      return text != nullptr ? text : std::string();
    }
  }
}

// A member of a collection value, as text, or nothing.
std::optional<std::string> Member(ipp_attribute_t* collection, const char* name) {
  ipp_t* value = ippGetCollection(collection, 0);
  if (value == nullptr) return std::nullopt;
  ipp_attribute_t* member = ippFindAttribute(value, name, IPP_TAG_ZERO);
  if (member == nullptr) return std::nullopt;
  return ValueText(member);
}

// The PWG name of a media-col's size: its media-size-name, else the size of media-size.
std::optional<std::string> MediaSizeName(ipp_attribute_t* mediaCol) {
  if (auto name = Member(mediaCol, "media-size-name")) return name;
  ipp_t* value = ippGetCollection(mediaCol, 0);
  ipp_attribute_t* size = value == nullptr ? nullptr : ippFindAttribute(value, "media-size", IPP_TAG_BEGIN_COLLECTION);
  ipp_t* dimensions = size == nullptr ? nullptr : ippGetCollection(size, 0);
  if (dimensions == nullptr) return std::nullopt;
  ipp_attribute_t* width = ippFindAttribute(dimensions, "x-dimension", IPP_TAG_INTEGER);
  ipp_attribute_t* length = ippFindAttribute(dimensions, "y-dimension", IPP_TAG_INTEGER);
  if (width == nullptr || length == nullptr) return std::nullopt;
  pwg_media_t* media = pwgMediaForSize(ippGetInteger(width, 0), ippGetInteger(length, 0));
  if (media == nullptr || media->pwg == nullptr) return std::nullopt;
  return std::string(media->pwg);
}

// The print-scaling keyword of PAPPL's value, or null.
const char* ScalingKeyword(pappl_scaling_t scaling) {
  switch (scaling) {
    case PAPPL_SCALING_AUTO: return "auto";
    case PAPPL_SCALING_AUTO_FIT: return "auto-fit";
    case PAPPL_SCALING_FILL: return "fill";
    case PAPPL_SCALING_FIT: return "fit";
    case PAPPL_SCALING_NONE: return "none";
    default: return nullptr;
  }
}

// The printer's defaults (what PAPPL's printing-defaults page sets) in the option
// mapping's terms: standard attributes by their IPP names, then the vendor defaults.
std::vector<NamedOption> PrinterDefaults(pappl_printer_t* printer, std::vector<NamedOption>& vendorDefaults) {
  std::vector<NamedOption> defaults;
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  if (data.media_default.size_name[0] != '\0') defaults.emplace_back("media", data.media_default.size_name);
  if (data.media_default.source[0] != '\0') defaults.emplace_back("media-source", data.media_default.source);
  if (data.sides_default == PAPPL_SIDES_TWO_SIDED_LONG_EDGE) defaults.emplace_back("sides", "two-sided-long-edge");
  if (data.sides_default == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE) defaults.emplace_back("sides", "two-sided-short-edge");
  defaults.emplace_back("print-quality", std::to_string(static_cast<int>(data.quality_default)));
  if (const char* scaling = ScalingKeyword(data.scaling_default)) defaults.emplace_back("print-scaling", scaling);
  if (data.bin_default >= 0 && data.bin_default < data.num_bin && data.bin[data.bin_default] != nullptr) {
    defaults.emplace_back("output-bin", data.bin[data.bin_default]);
  }

  ipp_t* attributes = papplPrinterGetDriverAttributes(printer);
  for (const cups::Option& option : cups::Options()) {
    if (!IsVendorAttribute(option)) continue;
    const std::string name = cups::IppAttributeName(option) + "-default";
    ipp_attribute_t* value = ippFindAttribute(attributes, name.c_str(), IPP_TAG_ZERO);
    // A default set before it was refused, or by Set-Printer-Attributes, is not used.
    if (value == nullptr || !MayBePrinterDefault(option, cups::IppKeyword(ValueText(value)))) continue;
    vendorDefaults.emplace_back(std::string(option.keyword), ValueText(value));
  }
  ippDelete(attributes);
  return defaults;
}

// The job's own attributes, by their IPP names.
std::vector<NamedOption> JobAttributes(pappl_job_t* job) {
  std::vector<NamedOption> attributes;
  const auto take = [&](const char* name) {
    if (ipp_attribute_t* attribute = papplJobGetAttribute(job, name))
      attributes.emplace_back(name, ValueText(attribute));
  };
  take("media");
  if (ipp_attribute_t* mediaCol = papplJobGetAttribute(job, "media-col")) {
    if (auto size = MediaSizeName(mediaCol)) attributes.emplace_back("media", *size);
    if (auto source = Member(mediaCol, "media-source")) attributes.emplace_back("media-source", *source);
    if (auto type = Member(mediaCol, "media-type")) attributes.emplace_back("media-type", *type);
  }
  // The PIN is not among them: the application keeps it out of the job's attributes.
  for (const char* name : {"sides", "print-quality", "printer-resolution", "output-bin", "orientation-requested",
                           "page-ranges", "multiple-document-handling", "print-scaling"}) {
    take(name);
  }
  if (ipp_attribute_t* finishings = papplJobGetAttribute(job, "finishings")) {
    for (int i = 0; i < ippGetCount(finishings); ++i) {
      attributes.emplace_back("finishings", std::to_string(ippGetInteger(finishings, i)));
    }
  }
  if (ipp_attribute_t* storage = papplJobGetAttribute(job, "job-storage")) {
    if (auto disposition = Member(storage, "job-storage-disposition")) {
      attributes.emplace_back("job-storage-disposition", *disposition);
    }
  }
  for (const cups::Option& option : cups::Options()) {
    if (IsVendorAttribute(option)) take(cups::IppAttributeName(option).c_str());
  }
  return attributes;
}

// The attributes the job's `overrides` give some of its pages or documents (media,
// sides, ...), comma-separated; empty when it overrides nothing. The members that only
// choose the pages or documents an override applies to change nothing by themselves.
std::string OverriddenAttributes(pappl_job_t* job) {
  ipp_attribute_t* overrides = papplJobGetAttribute(job, "overrides");
  if (overrides == nullptr) return {};
  std::vector<std::string> names;
  for (int i = 0; i < ippGetCount(overrides); ++i) {
    ipp_t* value = ippGetCollection(overrides, i);
    for (ipp_attribute_t* member = value == nullptr ? nullptr : ippFirstAttribute(value); member != nullptr;
         member = ippNextAttribute(value)) {
      const std::string name = ippGetName(member) != nullptr ? ippGetName(member) : "";
      if (name == "pages" || name == "document-numbers" || name == "document-copies") continue;
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  }
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list;
}

int Copies(pappl_job_t* job) {
  ipp_attribute_t* copies = papplJobGetAttribute(job, "copies");
  return copies == nullptr ? 1 : ippGetInteger(copies, 0);
}

// Sends the finished job file to the device.
bool SendToDevice(pappl_job_t* job, pappl_device_t* device, const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the finished job '%s': %s", path.c_str(),
                std::strerror(errno));
    return false;
  }
  char buffer[65536];
  std::size_t bytes = 0;
  while ((bytes = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
    if (papplDeviceWrite(device, buffer, bytes) < 0) {
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to send the job to the printer.");
      return false;
    }
  }
  papplDeviceFlush(device);
  return true;
}

// A file removed when it goes out of scope.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() {
    std::error_code ignored;
    if (!path.empty()) fs::remove(path, ignored);
  }
};

std::string SpoolName(pappl_job_t* job, const char* what) {
  return g_app->spoolFolder + "/velmora-" + std::to_string(papplPrinterGetID(papplJobGetPrinter(job))) + "-" +
         std::to_string(papplJobGetID(job)) + what;
}

constexpr std::size_t kStateMessageBytes = 1023;

// PAPPL 1.3 may start a job that was canceled while it waited, after its document was
// removed.
constexpr const char* kNoDocument = "The job has no document; it was canceled before it printed.";

// Ends the job with `reason` in its log and its state message, which the client sees.
// PAPPL cuts a state message to an IPP text value's 1023 bytes wherever that falls; the
// reason is cut first between two characters, so that the message stays UTF-8.
bool Fail(pappl_job_t* job, const std::string& reason) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", reason.c_str());
  papplJobSetMessage(job, "%s", CutText(reason, kStateMessageBytes).c_str());
  return false;
}

// A PIN or a box name the printer cannot take stops the job: printing it without would
// leave a held job nobody can release, or another user's box.
bool IsUnusableSecret(const std::string& warning) {
  for (const char* attribute : {"attribute job-password ", "attribute file-box-name ", "attribute print-box-dir "}) {
    if (warning.starts_with(attribute)) return true;
  }
  return false;
}

// The `velmora print` arguments of the job: the printer, the texts of its header, the
// settings and choices of the option mapping, the limits of its Ghostscript run.
std::vector<std::string> PrintArguments(pappl_job_t* job, const cups::JobOptions& options, const std::string& output,
                                        const std::string& ticket, const std::string& document) {
  std::vector<std::string> args{"print", "--printer=" + std::string(papplPrinterGetName(papplJobGetPrinter(job))),
                                "--output=" + output, "--module=" + g_app->modulePath};
  args.push_back("--title=" + std::string(papplJobGetName(job) != nullptr ? papplJobGetName(job) : "Untitled"));
  args.push_back("--user=" + std::string(papplJobGetUsername(job) != nullptr ? papplJobGetUsername(job) : ""));
  // PAPPL does not tell a job which host sent it; a client that names itself in
  // job-originating-host-name is named in the header, others as this machine.
  if (ipp_attribute_t* host = papplJobGetAttribute(job, "job-originating-host-name")) {
    args.push_back("--machine=" + ValueText(host));
  }
  args.push_back("--time-limit=" + std::to_string(g_app->limits.cpuSeconds));
  args.push_back("--memory-limit=" + std::to_string(g_app->limits.memoryBytes));
  if (!options.pageRanges.empty()) args.push_back("--page-ranges=" + options.pageRanges);
  if (!ticket.empty()) args.push_back("--ticket=" + ticket);
  for (const host::SettingAssignment& setting : options.settings) {
    if (setting.name != kPinSetting) args.push_back("--set=" + setting.name + "=" + setting.value);
  }
  for (const auto& [feature, choice] : options.choices) args.push_back("--option=" + feature + "=" + choice);
  args.push_back("--");
  args.push_back(document);
  return args;
}

// Runs `document` through the print host with the job's settings and sends the finished
// job to the device. A raster job's copies are PAPPL's and the client's (repeated pages),
// so the printer makes none of its own.
bool RunJob(pappl_job_t* job, PrinterTurn& turn, pappl_device_t* papplDevice, const std::string& document,
            bool rasterJob) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const char* printerName = papplPrinterGetName(printer);
  UnmarkQueued(job);

  const JobPin pin = PinOf(job);
  if (pin.lost) return Fail(job, "The job's PIN was lost when the printer application restarted; send the job again.");
  // The print host gives every page the job's own attributes: a job that asks for others
  // on some pages is not printed otherwise than it asks.
  if (const std::string overridden = OverriddenAttributes(job); !overridden.empty()) {
    return Fail(job, "The job's overrides (" + CleanText(overridden) +
                         ") cannot be applied: every page prints with the job's own attributes. "
                         "Send the job without overrides.");
  }
  std::vector<NamedOption> vendorDefaults;
  std::vector<NamedOption> attributes = PrinterDefaults(printer, vendorDefaults);
  for (NamedOption& attribute : JobAttributes(job)) attributes.push_back(std::move(attribute));
  // A capture the settings page started is an overlay-mode=create job of the overlay it
  // names; one whose name a restart lost must not print the document instead.
  const std::optional<std::string> webCapture = TakeWebCapture(document);
  if (webCapture) attributes.emplace_back("overlay-mode", "create");
  if (!webCapture && IsWebCaptureDocument(document, g_app->spoolFolder)) {
    return Fail(job, "The overlay capture was interrupted by a restart; upload the document again.");
  }
  if (pin.pin) attributes.emplace_back("job-password", *pin.pin);
  cups::JobOptions options = cups::MapIppJobOptions(vendorDefaults, attributes, rasterJob ? 1 : Copies(job));
  for (const std::string& warning : options.warnings) {
    if (IsUnusableSecret(warning)) {
      return Fail(job, "The job cannot be printed: " + warning.substr(0, warning.find("; the default")) + ".");
    }
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", warning.c_str());
  }
  if (!options.pageRanges.empty()) {
    try {
      options.pageRanges = host::ParsePageRanges(options.pageRanges, "page-ranges");
    } catch (const std::exception& error) {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s; every page is printed", error.what());
      options.pageRanges.clear();
    }
  }

  try {
    std::lock_guard<std::mutex> lock(g_app->store);
    EnsureStorePrinter(printerName);
  } catch (const std::exception& error) {
    return Fail(job, error.what());
  }

  OverlayJob overlay;
  if (const std::string problem = overlay.Prepare(job, options, g_app->stateFolder, g_app->store, webCapture);
      !problem.empty()) {
    return Fail(job, problem);
  }

  // The PIN goes to the print host in a file only the application can read, never on a
  // command line that every local user can list.
  TemporaryFile ticket;
  const auto secret = std::find_if(options.settings.begin(), options.settings.end(),
                                   [](const host::SettingAssignment& setting) { return setting.name == kPinSetting; });
  if (secret != options.settings.end()) {
    ticket.path = SpoolName(job, ".ticket.json");
    std::ofstream file(ticket.path, std::ios::binary | std::ios::trunc);
    file << nlohmann::json{{kPinSetting, secret->value}}.dump();
    file.close();
    if (!file) return Fail(job, "Unable to write the job's ticket in '" + g_app->spoolFolder + "'.");
  }
  TemporaryFile output{SpoolName(job, ".pxl")};
  const PrintProcessResult result =
      RunPrintProcess(g_app->velmoraPath, PrintArguments(job, options, output.path, ticket.path, document),
                      g_app->limits, [job] { return papplJobIsCanceled(job); });
  const bool captured =
      result.succeeded && result.messages.find("captured into the printer's overlay file") != std::string::npos;
  overlay.Finish(job, captured, document, g_app->limits);
  if (result.canceled) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Canceled; the job's print host and Ghostscript were ended.");
    return false;
  }
  if (!result.succeeded) {
    // The host's whole account (Ghostscript's own lines, which may quote the document)
    // stays in the application's log; the job's message is its short last line.
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The print host said: %s", result.messages.c_str());
    return Fail(job, result.reason);
  }
  if (captured) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The job was captured into the printer's overlay file; nothing was printed.");
    return true;
  }
  std::error_code error;
  const auto bytes = fs::file_size(output.path, error);
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Printed %s bytes through the Velmora plug-in.",
              error ? "?" : std::to_string(bytes).c_str());
  papplJobSetImpressionsCompleted(job, 1);
  pappl_device_t* device = turn.Device(papplDevice);
  if (device == nullptr)
    return Fail(job, "Unable to open the printer's device '" + std::string(papplPrinterGetDeviceURI(printer)) + "'.");
  if (!SendToDevice(job, device, output.path)) return false;
  UpdateSupplies(printer, device);
  return true;
}

// The page a picture is fitted into: the job's paper, else the printer's default paper.
ImagePage PictureArea(pappl_job_t* job) {
  std::optional<std::string> size;
  if (ipp_attribute_t* mediaCol = papplJobGetAttribute(job, "media-col")) size = MediaSizeName(mediaCol);
  if (ipp_attribute_t* media = papplJobGetAttribute(job, "media"); !size && media != nullptr) size = ValueText(media);
  pwg_media_t* paper = size ? pwgMediaForPWG(size->c_str()) : nullptr;
  if (paper == nullptr) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    paper = pwgMediaForPWG(data.media_default.size_name);
  }
  if (paper == nullptr) paper = pwgMediaForPWG("iso_a4_210x297mm");
  constexpr double kPointsPerHundredthMillimetre = 72.0 / 2540.0;
  return ImagePage{paper->width * kPointsPerHundredthMillimetre, paper->length * kPointsPerHundredthMillimetre};
}

// The raster pages of a job, kept until the job ends.
struct RasterJob {
  std::unique_ptr<PrinterTurn> turn;
  TemporaryFile file;
  std::unique_ptr<RasterDocument> document;
  bool refused = false;  // a page was refused: the job prints nothing
};

RasterJob* RasterOf(pappl_job_t* job) { return static_cast<RasterJob*>(papplJobGetData(job)); }

bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  auto raster = std::make_unique<RasterJob>();
  raster->turn = std::make_unique<PrinterTurn>(job);
  if (!raster->turn->held()) return false;
  raster->file.path = SpoolName(job, "-raster.pdf");
  try {
    raster->document = std::make_unique<RasterDocument>(raster->file.path);
  } catch (const std::exception& error) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.what());
    return false;
  }
  papplJobSetData(job, raster.release());
  return true;
}

bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  RasterJob* raster = RasterOf(job);
  if (raster == nullptr) return false;
  const auto& header = options->header;
  if (header.cupsBitsPerPixel != 1 && header.cupsBitsPerPixel != 8 && header.cupsBitsPerPixel != 24) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unsupported raster of %u bits a pixel.", header.cupsBitsPerPixel);
    return false;
  }
  // A few kilobytes of raster can describe a page of any size; its pixels are all made.
  if (std::string problem = PixelBudgetProblem("a page of the raster", header.cupsWidth, header.cupsHeight);
      !problem.empty()) {
    raster->refused = true;
    return Fail(job, "Not printed: " + problem + ".");
  }
  RasterPage page;
  page.width = header.cupsWidth;
  page.height = header.cupsHeight;
  page.bitsPerPixel = header.cupsBitsPerPixel;
  page.bytesPerLine = header.cupsBytesPerLine;
  const double xDpi = header.HWResolution[0] > 0 ? header.HWResolution[0] : 300;
  const double yDpi = header.HWResolution[1] > 0 ? header.HWResolution[1] : 300;
  page.widthPoints = page.width * 72.0 / xDpi;
  page.heightPoints = page.height * 72.0 / yDpi;
  raster->document->StartPage(page);
  return true;
}

bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned,
                     const unsigned char* line) {
  RasterJob* raster = RasterOf(job);
  if (raster == nullptr || raster->refused) return false;
  raster->document->WriteLine({line, options->header.cupsBytesPerLine});
  return true;
}

bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  RasterJob* raster = RasterOf(job);
  if (raster == nullptr) return false;
  raster->document->EndPage();
  return true;
}

bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  std::unique_ptr<RasterJob> raster(RasterOf(job));
  papplJobSetData(job, nullptr);
  if (!raster || raster->refused) return false;
  try {
    raster->document->Finish();
  } catch (const std::exception& error) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.what());
    return false;
  }
  if (raster->document->pages() == 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The raster document has no pages.");
    return false;
  }
  return RunJob(job, *raster->turn, device, raster->file.path, true);
}

}  // namespace

void SetRasterCallbacks(pappl_pr_driver_data_t* data, App* app) {
  g_app = app;
  data->rstartjob_cb = StartRasterJob;
  data->rstartpage_cb = StartRasterPage;
  data->rwriteline_cb = WriteRasterLine;
  data->rendpage_cb = EndRasterPage;
  data->rendjob_cb = EndRasterJob;
}

bool PrintDocument(pappl_job_t* job, pappl_device_t* device, void* app) {
  g_app = static_cast<App*>(app);
  const char* document = papplJobGetFilename(job);
  if (document == nullptr) return Fail(job, kNoDocument);
  PrinterTurn turn(job);
  if (!turn.held()) return false;
  return RunJob(job, turn, device, document, false);
}

bool PrintPicture(pappl_job_t* job, pappl_device_t* device, void* app) {
  g_app = static_cast<App*>(app);
  const char* picture = papplJobGetFilename(job);
  if (picture == nullptr) return Fail(job, kNoDocument);
  PrinterTurn turn(job);
  if (!turn.held()) return false;
  TemporaryFile document{SpoolName(job, "-picture.pdf")};
  const std::string problem = ImageToDocument(picture, document.path, PictureArea(job));
  if (!problem.empty()) return Fail(job, "Unable to print the picture: " + problem + ".");
  return RunJob(job, turn, device, document.path, false);
}

void EnsureStorePrinter(const std::string& printerName) {
  platform::posix::PrinterStore store;
  const WString name = platform::Utf8ToUtf16(printerName);
  auto printers = store.ListPrinters();
  if (!printers) throw std::runtime_error("Unable to read " + store.location() + ": " + printers.error());
  for (const WString& known : printers.value()) {
    if (known == name) return;
  }
  if (auto added = store.AddPrinter(name); !added) {
    throw std::runtime_error("Unable to add printer '" + printerName + "' to " + store.location() + ": " +
                             added.error());
  }
  // An IPP client's job-password is the user's own PIN: the printer takes box names and
  // PINs without the plug-in's user authentication (the settings page can switch it on).
  const platform::PrinterValue noAuthentication{platform::ValueType::kDword, {0, 0, 0, 0}};
  if (auto set = store.SetPrinterValue(name, VTEXT("UserAuthentication"), noAuthentication); !set) {
    throw std::runtime_error("Unable to set UserAuthentication of printer '" + printerName + "' in " +
                             store.location() + ": " + set.error());
  }
}

}  // namespace velmora::printer_app
