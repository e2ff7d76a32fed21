// The overlays of the application's printers: their folders, their names as IPP clients
// see them, the printer values of the jobs that create or play them, their pictures.
#include "tools/printer_app/overlays.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/le_bytes.h"
#include "platform/posix/spooler_store.h"
#include "platform/text_encoding.h"
#include "tools/printer_app/access.h"

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;

// The plug-in keeps at most 129 characters of the overlay folder, separator included.
constexpr std::size_t kMaxOverlayFolderChars = 129;
// The overlay picture: 24 dots per inch make an A4 page 198 pixels wide.
constexpr int kPictureDotsPerInch = 24;

// The names of the attributes the driver callback makes, the same for every printer.
std::mutex g_driverAttributesLock;
std::set<std::string>& DriverAttributeNames() {
  static auto* names = new std::set<std::string>;
  return *names;
}

// The capture jobs of the settings page, by their documents.
std::mutex g_webCapturesLock;
std::map<std::string, std::string>& WebCaptures() {
  static auto* captures = new std::map<std::string, std::string>;
  return *captures;
}

bool IsOverlayList(const char* name) {
  return std::strcmp(name, "overlay-name-supported") == 0 || std::strcmp(name, "overlay-even-name-supported") == 0;
}

// The overlay a job names in `attribute`, else the printer's default; empty for none.
// A name the printer has no overlay of is told in the job's log and not used.
std::string ChosenOverlay(pappl_job_t* job, const char* attribute, const OverlayFolder& folder) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  if (ipp_attribute_t* given = papplJobGetAttribute(job, attribute)) {
    const char* name = ippGetString(given, 0, nullptr);
    const std::string text = name != nullptr ? name : "";
    if (text == kNoOverlay) return {};
    if (folder.Has(text)) return text;
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s: the printer has no overlay '%s'; the default is used", attribute,
                CleanText(text.substr(0, 64)).c_str());
  }
  const std::string fallback = PrinterDefault(printer, attribute);
  if (fallback.empty() || fallback == kNoOverlay) return {};
  if (folder.Has(fallback)) return fallback;
  papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s: the printer's default overlay '%s' is gone", attribute, fallback.c_str());
  return {};
}

platform::PrinterValue TextValue(const std::string& text) {
  const WString wide = platform::Utf8ToUtf16(text);
  platform::PrinterValue value{platform::ValueType::kString, std::vector<std::uint8_t>((wide.size() + 1) * 2, 0)};
  for (std::size_t i = 0; i < wide.size(); ++i) le::PutU16(value.bytes.data() + 2 * i, wide[i]);
  return value;
}

// The Ghostscript program: VELMORA_GS, else gs on the search path.
std::string GhostscriptPath() {
  if (const char* named = std::getenv("VELMORA_GS"); named != nullptr && named[0] == '/') return named;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::string candidate = folders.substr(start, end - start) + "/gs";
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "/usr/bin/gs";
}

}  // namespace

std::string PrinterDefault(pappl_printer_t* printer, const std::string& attribute) {
  ipp_t* attributes = papplPrinterGetDriverAttributes(printer);
  const std::string name = attribute + "-default";
  const char* value = ippGetString(ippFindAttribute(attributes, name.c_str(), IPP_TAG_ZERO), 0, nullptr);
  std::string text = value != nullptr ? value : "";
  ippDelete(attributes);
  return text;
}

OverlayFolder::OverlayFolder(const std::string& stateFolder, int printerId)
    : path_(stateFolder + "/overlays/" + std::to_string(printerId)) {}

bool OverlayFolder::Has(const std::string& name) const {
  std::error_code error;
  return OverlayNameProblem(name).empty() && fs::is_regular_file(FileOf(name), error);
}

std::vector<OverlayEntry> OverlayFolder::List() const {
  std::vector<OverlayEntry> overlays;
  std::error_code error;
  for (fs::directory_iterator entry(path_, error), end; !error && entry != end; entry.increment(error)) {
    const fs::path file = entry->path();
    std::error_code ignored;
    if (file.extension() != ".ovl" || !entry->is_regular_file(ignored)) continue;
    const std::string name = file.stem().string();
    if (!OverlayNameProblem(name).empty()) continue;
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) continue;
    overlays.push_back({name, static_cast<std::uintmax_t>(info.st_size), info.st_mtime,
                        fs::is_regular_file(PictureOf(name), ignored)});
  }
  std::sort(overlays.begin(), overlays.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  return overlays;
}

std::string OverlayFolder::Remove(const std::string& name) const {
  if (!Has(name)) return "There is no overlay '" + CleanText(name.substr(0, 64)) + "'.";
  std::error_code error;
  fs::remove(FileOf(name), error);
  if (error) return "Unable to remove '" + FileOf(name) + "': " + error.message();
  fs::remove(PictureOf(name), error);
  return {};
}

void AddOverlayAttributes(pappl_pr_driver_data_t* data, ipp_t* attributes) {
  for (const char* name : {kOverlayNameAttribute, kOverlayEvenNameAttribute}) {
    if (data->num_vendor < PAPPL_MAX_VENDOR) data->vendor[data->num_vendor++] = name;
    const std::string supported = std::string(name) + "-supported";
    const std::string defaultName = std::string(name) + "-default";
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), nullptr, kNoOverlay);
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, defaultName.c_str(), nullptr, kNoOverlay);
  }
}

void RememberDriverAttributes(ipp_t* attributes) {
  const std::lock_guard<std::mutex> lock(g_driverAttributesLock);
  for (ipp_attribute_t* attribute = ippFirstAttribute(attributes); attribute != nullptr;
       attribute = ippNextAttribute(attributes)) {
    if (const char* name = ippGetName(attribute)) DriverAttributeNames().insert(name);
  }
}

void RefreshOverlayAttributes(pappl_printer_t* printer, const std::string& stateFolder) {
  // A capture ending while the page deletes an overlay: the later listing is the one kept.
  static std::mutex refreshing;
  const std::lock_guard<std::mutex> refresh(refreshing);
  const std::vector<OverlayEntry> overlays = OverlayFolder(stateFolder, papplPrinterGetID(printer)).List();
  std::vector<const char*> names{kNoOverlay};
  for (const OverlayEntry& overlay : overlays) names.push_back(overlay.name.c_str());

  // PAPPL remakes the printer's attributes from its driver data and the attributes given
  // here: those the driver callback made are kept as they are now (with the defaults an
  // administrator set), the two lists are made anew.
  ipp_t* current = papplPrinterGetDriverAttributes(printer);
  ipp_t* kept = ippNew();
  {
    const std::lock_guard<std::mutex> lock(g_driverAttributesLock);
    for (ipp_attribute_t* attribute = ippFirstAttribute(current); attribute != nullptr;
         attribute = ippNextAttribute(current)) {
      const char* name = ippGetName(attribute);
      if (name != nullptr && DriverAttributeNames().contains(name) && !IsOverlayList(name)) {
        ippCopyAttribute(kept, attribute, 0);
      }
    }
  }
  for (const char* attribute : {kOverlayNameAttribute, kOverlayEvenNameAttribute}) {
    const std::string supported = std::string(attribute) + "-supported";
    ippAddStrings(kept, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), static_cast<int>(names.size()), nullptr,
                  names.data());
    const std::string defaultName = std::string(attribute) + "-default";
    ipp_attribute_t* chosen = ippFindAttribute(kept, defaultName.c_str(), IPP_TAG_ZERO);
    const char* value = ippGetString(chosen, 0, nullptr);
    const bool listed = value != nullptr && std::any_of(names.begin(), names.end(), [value](const char* name) {
                          return std::strcmp(name, value) == 0;
                        });
    if (listed) continue;
    ippDeleteAttribute(kept, chosen);
    ippAddString(kept, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, defaultName.c_str(), nullptr, kNoOverlay);
  }
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  if (!papplPrinterSetDriverData(printer, &data, kept)) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Unable to update the printer's list of overlays.");
  }
  ippDelete(kept);
  ippDelete(current);
}

void NoteWebCapture(const std::string& document, const std::string& name) {
  const std::lock_guard<std::mutex> lock(g_webCapturesLock);
  WebCaptures()[document] = name;
}

std::optional<std::string> TakeWebCapture(const std::string& document) {
  const std::lock_guard<std::mutex> lock(g_webCapturesLock);
  auto found = WebCaptures().find(document);
  if (found == WebCaptures().end()) return std::nullopt;
  std::string name = std::move(found->second);
  WebCaptures().erase(found);
  return name;
}

bool IsWebCaptureDocument(const std::string& document, const std::string& spoolFolder) {
  const fs::path path(document);
  return path.parent_path() == fs::path(spoolFolder) && path.filename().string().starts_with(kCaptureDocumentPrefix);
}

std::string OverlayJob::Prepare(pappl_job_t* job, const cups::JobOptions& options, const std::string& stateFolder,
                                std::mutex& storeLock, const std::optional<std::string>& captureName) {
  const auto mode = std::find_if(options.settings.begin(), options.settings.end(),
                                 [](const auto& setting) { return setting.name == "dwOverlayMode"; });
  if (mode == options.settings.end() || mode->value == "0") return {};
  stateFolder_ = stateFolder;
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const OverlayFolder folder(stateFolder, papplPrinterGetID(printer));
  if (folder.path().size() + 1 > kMaxOverlayFolderChars) {
    return "The overlay folder '" + folder.path() + "' is longer than the " + std::to_string(kMaxOverlayFolderChars) +
           " characters the plug-in takes; choose a shorter --state-folder.";
  }
  std::string list;
  if (mode->value == "1") {
    ipp_attribute_t* given = papplJobGetAttribute(job, kOverlayNameAttribute);
    const char* name = given != nullptr ? ippGetString(given, 0, nullptr) : nullptr;
    const std::string text = captureName ? *captureName : name != nullptr ? name : "";
    if (const std::string problem = OverlayNameProblem(text); !problem.empty()) {
      return "overlay-mode=create needs the new overlay's name in overlay-name: " + problem + ".";
    }
    std::error_code error;
    fs::create_directories(folder.path(), error);
    if (error) return "Unable to create the overlay folder '" + folder.path() + "': " + error.message();
    existedBefore_ = folder.Has(text);
    // The settings page's document is meant for no paper: it is not printed instead.
    if (existedBefore_ && captureName) return "An overlay '" + text + "' exists; it was not captured again.";
    if (existedBefore_) {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN, "An overlay '%s' exists: it is kept, and the job prints as any other.",
                  text.c_str());
    }
    created_ = text;
    list = text + ";" + text + ".ovl";
  } else {
    const std::string odd = ChosenOverlay(job, kOverlayNameAttribute, folder);
    const std::string even = mode->value == "3" ? ChosenOverlay(job, kOverlayEvenNameAttribute, folder) : "";
    if (mode->value == "3" && (odd.empty() || even.empty())) {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                  "overlay-mode=odd-even needs an overlay for odd and for even pages; "
                  "the job prints without overlays");
    } else if (odd.empty()) {
      papplLogJob(job, PAPPL_LOGLEVEL_WARN, "overlay-mode=one names no overlay; the job prints without one");
    } else {
      list = odd + ".ovl" + (mode->value == "3" ? ";" + even + ".ovl" : "");
      played_ = {odd};
      if (mode->value == "3") played_.push_back(even);
    }
  }

  const WString printerName = platform::Utf8ToUtf16(papplPrinterGetName(printer));
  const std::lock_guard<std::mutex> lock(storeLock);
  platform::posix::PrinterStore store;
  auto written = store.SetPrinterValue(printerName, VTEXT("OvelayDirectory"), TextValue(folder.path()));
  // Without a list the plug-in prints no overlay.
  if (written) {
    written = list.empty() ? store.RemovePrinterValue(printerName, VTEXT("OvelayFiles"))
                           : store.SetPrinterValue(printerName, VTEXT("OvelayFiles"), TextValue(list));
  }
  if (!written && !list.empty()) {
    return "Unable to give the job its overlays in " + store.location() + ": " + written.error();
  }
  return {};
}

void OverlayJob::Finish(pappl_job_t* job, bool captured, const std::string& document, const JobLimits& limits) {
  if (stateFolder_.empty()) return;  // the job has no overlay mode
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const OverlayFolder folder(stateFolder_, papplPrinterGetID(printer));
  // The plug-in opens the overlay at every page and prints a page without it when it is
  // gone: an overlay deleted while the job printed is missing from its last pages.
  for (const std::string& name : played_) {
    if (folder.Has(name)) continue;
    const std::string warning =
        "The overlay '" + name + "' was deleted while the job printed; pages printed after that have no overlay.";
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", warning.c_str());
    papplJobSetMessage(job, "%s", warning.c_str());
  }
  if (created_.empty() || existedBefore_) return;
  if (!captured) {
    // A capture that failed, or a document the plug-in did not capture, leaves at most a
    // header no job can play.
    std::error_code ignored;
    fs::remove(folder.FileOf(created_), ignored);
    return;
  }
  if (const std::string problem = RenderOverlayPicture(document, folder.PictureOf(created_), limits);
      !problem.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The overlay '%s' has no picture: %s", created_.c_str(), problem.c_str());
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Overlay '%s' captured.", created_.c_str());
  RefreshOverlayAttributes(printer, stateFolder_);
}

std::string RenderOverlayPicture(const std::string& document, const std::string& picture, const JobLimits& limits) {
  const std::string partial = picture + kPartialPictureSuffix;
  const std::vector<std::string> arguments{"-q",
                                           "-dSAFER",
                                           "-dBATCH",
                                           "-dNOPAUSE",
                                           "-sDEVICE=pnggray",
                                           "-r" + std::to_string(kPictureDotsPerInch),
                                           "-dTextAlphaBits=4",
                                           "-dGraphicsAlphaBits=4",
                                           "-sPageList=1",
                                           "-sOutputFile=" + partial,
                                           "-f" + document};
  const PrintProcessResult result = RunPrintProcess(
      GhostscriptPath(), arguments, limits, [] { return false; }, MemoryLimit::kOwn);
  std::error_code error;
  if (!result.succeeded || !fs::is_regular_file(partial, error) || fs::file_size(partial, error) == 0) {
    fs::remove(partial, error);
    return result.reason.empty() ? "Ghostscript made no picture" : result.reason;
  }
  fs::rename(partial, picture, error);
  if (error) return "Unable to keep the picture '" + picture + "': " + error.message();
  return {};
}

}  // namespace velmora::printer_app
