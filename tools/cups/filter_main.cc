// velmora-pxl: the CUPS filter of a Velmora queue. It prints a PDF or PostScript document
// through the plug-in with the print host, as `velmora print` does, and writes the
// finished PJL + PCL XL job to standard output once it is whole: a job that fails sends
// the printer nothing.
//
//   velmora-pxl job-id user title copies options [file]
//
// The queue's printer values (overlays, UserAuthentication) come from the system printer
// store and its watermark sections from the system folder; the filter runs as CUPS's
// unprivileged user and only reads them. The job itself is recorded in a store of its
// own in CUPS's temporary folder, so that it keeps CUPS's job id and leaves nothing
// behind.
#include <cups/cups.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "formats/overlay_file.h"
#include "formats/text.h"
#include "formats/vendor_settings.h"
#include "formats/watermark_settings.h"
#include "host/host_error.h"
#include "host/page_source.h"
#include "host/plugin_module.h"
#include "host/print_job.h"
#include "platform/files.h"
#include "platform/image.h"
#include "platform/paper_model_text.h"
#include "platform/posix/spooler_store.h"
#include "platform/private_profile.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "tools/cups/cups_options.h"

#ifndef VELMORA_BUILT_MODULE
#define VELMORA_BUILT_MODULE ""
#endif
#ifndef VELMORA_BUILD_FOLDER
#define VELMORA_BUILD_FOLDER ""
#endif
#ifndef VELMORA_INSTALLED_MODULE
#define VELMORA_INSTALLED_MODULE ""
#endif
#ifndef VELMORA_SYSTEM_FOLDER
#define VELMORA_SYSTEM_FOLDER "/var/lib/velmora"
#endif

namespace velmora::cups {
namespace {

namespace fs = std::filesystem;
using platform::posix::PrinterStore;

// The queue's system folder: the printer store and the watermark sections.
std::string SystemFolder() {
  const char* folder = std::getenv("VELMORA_SYSTEM_FOLDER");
  return folder != nullptr && folder[0] == '/' ? folder : VELMORA_SYSTEM_FOLDER;
}

// Outside text (titles, option values, file names, causes) in a status line for cupsd:
// control bytes become spaces and the text is cut to `maxBytes`, well within cupsd's line
// buffer, which splits a longer line and reads the rest as a line of its own (ATTR:,
// STATE:).
std::string OneLine(const std::string& text, std::size_t maxBytes = 900) {
  const std::string clean = text::SanitizeForPjl(text);
  if (clean.size() <= maxBytes) return clean;
  return std::string(text::CutUtf8(clean, maxBytes)) + "...";
}

// The plug-in named by VELMORA_MODULE (a test, a second installation), else the one built
// beside the filter while it runs from the build tree, else the installed one.
std::string ModulePath() {
  if (const char* module = std::getenv("VELMORA_MODULE"); module != nullptr && module[0] == '/') return module;
  const std::string build = VELMORA_BUILD_FOLDER;
  const std::optional<std::string> program = platform::ProgramPath();
  if (!build.empty() && program && program->starts_with(build + "/")) return VELMORA_BUILT_MODULE;
  return VELMORA_INSTALLED_MODULE;
}

// A folder removed with everything in it when the job ends.
class JobFolder {
 public:
  JobFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/velmora-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw host::HostError("Unable to create a job folder in '" + fs::path(pattern).parent_path().string() +
                            "': " + std::strerror(errno));
    }
    path_ = pattern;
  }
  ~JobFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// What a job asks for that only the queue's system folder holds: a watermark section, the
// overlay folder and list, the UserAuthentication value that lets a PIN reach the printer.
// Empty when it asks for none of them.
std::string NeedsOfSystemFolder(const std::vector<host::SettingAssignment>& settings) {
  std::vector<std::string> needs;
  const auto add = [&needs](const char* need) {
    if (std::find(needs.begin(), needs.end(), need) == needs.end()) needs.emplace_back(need);
  };
  for (const host::SettingAssignment& setting : settings) {
    const bool chosen = !setting.value.empty() && setting.value != "0";
    if (!chosen) continue;
    if (setting.name == "sFP_SectionIndex" || setting.name == "sNP_SectionIndex") add("watermark");
    if (setting.name == "dwOverlayMode") add("overlay");
    if (setting.name == "szFileBoxPassword") add("PIN");
  }
  std::string text;
  for (std::size_t i = 0; i < needs.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == needs.size() ? " and " : ", ") + needs[i];
  }
  return text;
}

// A job that asks for what the queue's system folder holds fails when the folder exists
// but cannot be read: printed without it, a watermark or an overlay would be missing and a
// held job would wait for a PIN that never reached the printer. A queue without the folder
// has none of them to give, which the job's warnings tell.
void CheckSystemFolder(const std::string& folder, const std::vector<host::SettingAssignment>& settings) {
  if (::access(folder.c_str(), R_OK | X_OK) == 0) return;
  const int error = errno;
  if (error == ENOENT) return;
  const std::string needs = NeedsOfSystemFolder(settings);
  if (needs.empty()) return;
  throw host::HostError("Unable to apply the job's " + needs + ": the queue's system folder '" + folder +
                        "' cannot be read: " + std::strerror(error));
}

// The last value the job's settings give `name`, or an empty text.
std::string SettingValue(const std::vector<host::SettingAssignment>& settings, std::string_view name) {
  std::string value;
  for (const host::SettingAssignment& setting : settings) {
    if (setting.name == name) value = setting.value;
  }
  return value;
}

// True when `path` can be read by CUPS's user (a folder: listed and entered), false when it
// does not exist. Throws when it exists but cannot be read: the job's `need` cannot be
// applied.
bool CheckReadable(const std::string& path, bool folder, const std::string& need, const std::string& what) {
  if (::access(path.c_str(), folder ? R_OK | X_OK : R_OK) == 0) return true;
  const int error = errno;
  if (error == ENOENT) return false;
  throw host::HostError("Unable to apply the job's " + need + ": " + what + " '" + path +
                        "' cannot be read: " + std::strerror(error));
}

// True when `path` is a folder: access() lets one pass for a readable file.
bool IsFolder(const std::string& path) {
  std::error_code ignored;
  return fs::is_directory(path, ignored);
}

// A printer value of the job's store as text (UTF-16 code units up to the first NUL).
std::string StoredText(const std::string& queue, const WCHAR* name) {
  const std::optional<platform::PrinterValue> value =
      platform::posix::ReadStorePrinterValue(platform::Utf8ToUtf16(queue), name);
  if (!value) return {};
  WString text;
  for (std::size_t i = 0; i + 1 < value->bytes.size(); i += 2) {
    const auto unit = static_cast<WCHAR>(value->bytes[i] | (value->bytes[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return platform::Utf16ToUtf8(text);
}

// The watermark sections and the overlay files the job asks for, below the system folder
// and elsewhere, must be readable too: the plug-in would skip one it cannot read and print
// the job without it. A watermark section whose settings file is missing is a queue that
// does not have it (the job's warning says so); a bitmap section's image must exist. Run
// once the job's store holds the queue's values.
void CheckQueueFiles(const std::string& system, const std::string& queue,
                     const std::vector<host::SettingAssignment>& settings) {
  std::vector<std::int32_t> sections;
  if (const int first = std::atoi(SettingValue(settings, "sFP_SectionIndex").c_str()); first > 0) {
    sections.push_back(first);
  }
  // The next-pages section counts only for the usages that tell first and next pages apart.
  const int usage = std::atoi(SettingValue(settings, "eWMUsage").c_str());
  const int next = std::atoi(SettingValue(settings, "sNP_SectionIndex").c_str());
  if (next > 0 && (usage == WM_FIRSTPAGE_OTHERPAGE || usage == WM_EVEN_ODDPAGES)) sections.push_back(next);
  if (!sections.empty()) {
    const std::string company = system + "/" + platform::Utf16ToUtf8(kWatermarkCompanyFolder);
    const std::string printer = company + "/" + queue;
    const std::string file = printer + "/" + platform::Utf16ToUtf8(kWatermarkSettingsFile);
    const bool readable = CheckReadable(company, true, "watermark", "the queue's folder") &&
                          CheckReadable(printer, true, "watermark", "the queue's folder") &&
                          CheckReadable(file, false, "watermark", "the queue's watermark settings");
    for (const std::int32_t section : readable ? sections : std::vector<std::int32_t>{}) {
      const auto bytes = platform::ReadProfileStruct(platform::Utf8ToUtf16(file), WatermarkSectionName(section),
                                                     kWatermarkKey, WatermarkSettings::kSize);
      const std::optional<WatermarkSettings> watermark =
          bytes ? WatermarkSettings::FromBytes(*bytes) : std::optional<WatermarkSettings>();
      if (!watermark || !watermark->IsBitmap()) continue;
      const std::string image = platform::Utf16ToUtf8(watermark->imagePath());
      const std::string named = "the image '" + image + "' of watermark section " + std::to_string(section);
      if (::access(image.c_str(), R_OK) != 0) {
        const int error = errno;
        throw host::HostError("Unable to apply the job's watermark: " + named +
                              " cannot be read: " + std::strerror(error));
      }
      if (IsFolder(image)) {
        throw host::HostError("Unable to apply the job's watermark: " + named + " cannot be read: it is a folder");
      }
      // The plug-in loads the image as this does, and leaves out a watermark whose image it
      // cannot decode (a cut-off or damaged file).
      if (!platform::LoadImageFile(watermark->imagePath())) {
        std::fprintf(stderr, "WARNING: %s\n",
                     OneLine(named + " is not an image the plug-in can read; the job prints without it").c_str());
      }
    }
  }
  const std::string overlayMode = SettingValue(settings, "dwOverlayMode");
  // Printing with one overlay, or odd and even ones, reads them; a capture writes one.
  if (overlayMode != "2" && overlayMode != "3") return;
  const std::string folder = StoredText(queue, kOverlayDirectoryValue);
  if (folder.empty() || !CheckReadable(folder, true, "overlay", "the queue's overlay folder")) return;
  // One overlay takes the list's first entry, odd and even ones its first two.
  const std::vector<WString> entries =
      Utility::split(platform::Utf8ToUtf16(StoredText(queue, kOverlayFilesValue)), u';');
  const std::size_t used = std::min<std::size_t>(entries.size(), overlayMode == "2" ? 1 : 2);
  for (std::size_t i = 0; i < used; ++i) {
    if (entries[i].empty()) continue;
    const std::string file = folder + "/" + platform::Utf16ToUtf8(entries[i]);
    if (!CheckReadable(file, false, "overlay", "the overlay file")) {
      std::fprintf(stderr, "WARNING: %s\n",
                   OneLine("The overlay file '" + file + "' does not exist; the job prints without it").c_str());
    } else if (IsFolder(file)) {
      throw host::HostError("Unable to apply the job's overlay: the overlay file '" + file +
                            "' cannot be read: it is a folder");
    }
  }
}

void Must(platform::StoreResult<> result, const std::string& what) {
  if (!result) throw host::HostError(what + ": " + result.error());
}

// The printer values a queue takes from the system store: the overlay folder and list,
// whether file box lines need no user authentication, and the paper model.
const WString kQueueValues[] = {VTEXT("OvelayDirectory"), VTEXT("OvelayFiles"), VTEXT("UserAuthentication"),
                                WString(platform::kPaperModelValueName)};

// Copies the queue's printer values and the logging switch from the system store into
// the job's store, and makes the job's store the one in force. The system store is only
// read (CUPS's user may not write it); a queue it does not know prints with no values.
void PrepareJobStore(const std::string& systemStore, const std::string& jobStore, const std::string& queue) {
  const WString printerName = platform::Utf8ToUtf16(queue);
  std::vector<std::pair<WString, platform::PrinterValue>> values;
  std::optional<DWORD> logging;
  std::error_code error;
  if (fs::exists(systemStore, error)) {
    if (::access(systemStore.c_str(), R_OK) != 0) {
      throw host::HostError("Unable to read the system printer store '" + systemStore + "': " + std::strerror(errno));
    }
    ::setenv("VELMORA_STORE", systemStore.c_str(), 1);
    for (const WString& name : kQueueValues) {
      if (auto value = platform::posix::ReadStorePrinterValue(printerName, name)) values.emplace_back(name, *value);
    }
    const platform::MachineSwitch logSwitch = platform::posix::ReadStoreMachineSwitch(VTEXT("EnableLogging"));
    logging = logSwitch.value;
  }
  if (values.empty())
    std::fprintf(stderr, "INFO: Printer '%s' has no values in '%s'\n", queue.c_str(), systemStore.c_str());
  ::setenv("VELMORA_STORE", jobStore.c_str(), 1);
  PrinterStore job(jobStore);
  const std::string writing = "Unable to prepare the job's store '" + jobStore + "'";
  Must(job.AddPrinter(printerName), writing);
  for (const auto& [name, value] : values) Must(job.SetPrinterValue(printerName, name, value), writing);
  if (logging) {
    platform::PrinterValue value{platform::ValueType::kDword, {}};
    for (int shift = 0; shift < 32; shift += 8) value.bytes.push_back(static_cast<std::uint8_t>(*logging >> shift));
    Must(job.SetMachineValue(VTEXT("EnableLogging"), value), writing);
  }
}

// The last value the job's settings give `name`, or empty.
std::string SettingOf(const std::vector<host::SettingAssignment>& settings, std::string_view name) {
  std::string value;
  for (const host::SettingAssignment& setting : settings) {
    if (setting.name == name) value = setting.value;
  }
  return value;
}

// The job's title in the INFO line.
std::string QuotedTitle(const char* title) { return OneLine(title, 200); }

std::vector<NamedOption> QueueDefaults() {
  const char* ppdPath = std::getenv("PPD");
  if (ppdPath == nullptr || ppdPath[0] == '\0') return {};
  std::ifstream file(ppdPath, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return ReadPpdDefaults(text.str());
}

// The options CUPS's imagetopdf applies itself when it makes an image into the PDF the
// filter gets: the page it makes is already turned and scaled for the sheet.
constexpr std::string_view kImageLayoutOptions[] = {"orientation-requested", "landscape", "print-scaling",
                                                    "fit-to-page"};
// The options CUPS's own chain does not apply to an image: imagetopdf fills the sheet with
// it and its PDF goes to the printer's filter without pdftopdf, whatever pages per sheet,
// booklet or pages the job asks for. The filter prints the image as that chain does, on
// one page, and says so for a value that would change it.
constexpr std::string_view kImageSheetOptions[] = {"number-up", "number-up-layout", "page-set",         "page-ranges",
                                                   "booklet",   "Booklet",          "booklet-signature"};

// Whether the job's document is an image (CONTENT_TYPE), which imagetopdf made a PDF of.
bool ImageJob() {
  const char* contentType = std::getenv("CONTENT_TYPE");
  return contentType != nullptr && std::string_view(contentType).starts_with("image/");
}

// The job's options; those an earlier filter of CUPS applied already, and those its chain
// leaves out, are left out (the job's document is an image).
std::vector<NamedOption> JobOptionsOf(const char* text) {
  const bool image = ImageJob();
  const auto listed = [](const auto& list, std::string_view name) {
    return std::find(std::begin(list), std::end(list), name) != std::end(list);
  };
  cups_option_t* parsed = nullptr;
  const int count = cupsParseOptions(text, 0, &parsed);
  std::vector<NamedOption> options;
  for (int i = 0; i < count; ++i) {
    const std::string_view name = parsed[i].name;
    if (image && listed(kImageLayoutOptions, name)) continue;
    if (image && listed(kImageSheetOptions, name)) {
      const std::string value = parsed[i].value;
      std::string lower = value;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      // Values that leave the image as it is: one page per sheet, every page, no booklet.
      const bool off =
          lower == "1" || lower == "all" || lower == "false" || lower == "off" || lower == "no" || lower.empty();
      if (name != "number-up-layout" && name != "booklet-signature" && !off) {
        std::fprintf(stderr, "WARNING: %s\n",
                     OneLine("option " + std::string(name) + " '" + value +
                             "' is not applied to an image: it fills the sheet, on one page")
                         .c_str());
      }
      continue;
    }
    options.emplace_back(parsed[i].name, parsed[i].value);
  }
  cupsFreeOptions(count, parsed);
  return options;
}

// Ghostscript takes an argument of up to 2048 characters, "-sPageList=" included.
constexpr std::size_t kMaxPageList = 2000;

// The document pages of the sheet sides that `ranges` (a list ParsePageRanges gave; empty:
// every side) and `set` keep, `perSide` pages to a side, as a page list Ghostscript takes
// ("odd:3-" its odd pages from 3): a side holds N consecutive pages. None when the list
// cannot be written without the document's page count (the odd or even sides of an N-up
// job without a last side named) or would be too long for Ghostscript's argument; the
// host then picks the sides of the whole document. An empty list names no page.
std::optional<std::string> PagesOfSides(const std::string& ranges, host::SideSet set, int perSide) {
  const auto fits = [](std::string list) -> std::optional<std::string> {
    if (list.size() > kMaxPageList) return std::nullopt;
    return list;
  };
  constexpr std::size_t kToTheEnd = SIZE_MAX;
  const auto n = static_cast<std::size_t>(std::max(perSide, 1));
  std::vector<std::pair<std::size_t, std::size_t>> parts;
  for (std::size_t start = 0; start < ranges.size();) {
    const std::size_t comma = std::min(ranges.find(',', start), ranges.size());
    const std::string part = ranges.substr(start, comma - start);
    start = comma + 1;
    const std::size_t dash = part.find('-');
    const std::size_t first = std::stoul(part.substr(0, dash));
    const std::size_t last = dash == std::string::npos ? first
                             : dash + 1 == part.size() ? kToTheEnd
                                                       : std::stoul(part.substr(dash + 1));
    parts.emplace_back(first, last);
  }
  const std::string parity = set == host::SideSet::kOdd ? "odd" : "even";
  std::string list;
  const auto add = [&list](const std::string& part) { list += (list.empty() ? "" : ",") + part; };
  if (set == host::SideSet::kAll || n > 1) {
    if (set != host::SideSet::kAll && (parts.empty() || parts.back().second == kToTheEnd)) return std::nullopt;
    for (const auto& [first, last] : parts) {
      if (set == host::SideSet::kAll) {
        add(std::to_string((first - 1) * n + 1) + "-" + (last == kToTheEnd ? "" : std::to_string(last * n)));
        continue;
      }
      for (std::size_t side = first; side <= last; ++side) {
        if ((side % 2 == 1) != (set == host::SideSet::kOdd)) continue;
        if (list.size() > kMaxPageList) return std::nullopt;
        add(std::to_string((side - 1) * n + 1) + "-" + std::to_string(side * n));
      }
    }
    return fits(list);
  }
  if (parts.empty()) return parity;
  const std::size_t wanted = set == host::SideSet::kOdd ? 1 : 0;
  for (auto [first, last] : parts) {
    if (first % 2 != wanted) ++first;
    if (last != kToTheEnd && last % 2 != wanted) --last;
    if (last != kToTheEnd && first > last) continue;
    add(first == last ? std::to_string(first)
                      : parity + ":" + std::to_string(first) + "-" + (last == kToTheEnd ? "" : std::to_string(last)));
  }
  return fits(list);
}

int RunFilter(int argc, char** argv) {
  char* end = nullptr;
  const unsigned long jobId = std::strtoul(argv[1], &end, 10);
  if (*argv[1] == '\0' || *end != '\0' || jobId == 0 || jobId > 0xFFFFFFFFul) {
    std::fprintf(stderr, "ERROR: The job id '%s' is not a whole number above 0\n", OneLine(argv[1]).c_str());
    return 1;
  }
  // The copies, as CUPS gives them: a count beyond the printer's is said as given, and
  // never read past what an int holds.
  const std::string copiesText = argv[4];
  const bool counted = !copiesText.empty() && copiesText.find_first_not_of("0123456789") == std::string::npos;
  const std::size_t digits =
      counted ? copiesText.size() - std::min(copiesText.find_first_not_of('0'), copiesText.size()) : 0;
  const bool tooMany = digits > 9 || (counted && std::stol(copiesText) > kMaxCopies);
  const int copies = tooMany ? kMaxCopies : counted ? static_cast<int>(std::stol(copiesText)) : 1;
  const char* printer = std::getenv("PRINTER");
  const std::string queue = printer != nullptr && printer[0] != '\0' ? printer : "Velmora";

  const std::vector<NamedOption> options = JobOptionsOf(argv[5]);
  JobOptions job = MapJobOptions(QueueDefaults(), options, copies);
  if (tooMany) {
    job.warnings.push_back("copies " + copiesText + ": the printer makes at most " + std::to_string(kMaxCopies) +
                           " copies of a job; " + std::to_string(kMaxCopies) + " are printed");
  }
  if (!job.pageRanges.empty()) {
    try {
      job.pageRanges = host::ParsePageRanges(job.pageRanges, "option page-ranges");
    } catch (const host::HostError& error) {
      job.warnings.push_back(std::string(error.what()) + "; every page is printed");
      job.pageRanges.clear();
    }
  }
  // CUPS's page-set, for two-sided printing by hand, and the page-ranges of an N-up job
  // pick sheet sides once the pages are laid out, as pdftopdf picks them: the odd or even
  // sides of those the ranges name. Without N-up a side is a page. A kept side holds N
  // consecutive pages, so Ghostscript renders only the kept sides' pages, which are laid
  // out as a document of their own: the plug-in numbers them and counts them for its
  // watermarks. A booklet's sheets are counted by the plug-in as they come: it keeps them
  // all, and its ranges pick pages.
  host::SideSelection sides;
  // An image prints on one page, whatever booklet the queue's defaults ask for.
  if (ImageJob() && SettingOf(job.settings, "bBooklet") == "1") job.settings.push_back({"image", "bBooklet", "0"});
  const bool booklet = SettingOf(job.settings, "bBooklet") == "1";
  // page-set's values are matched without regard to case, as the other options' choices are.
  for (const auto& [name, given] : options) {
    std::string value = given;
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name != "page-set" || value == "all") continue;
    if (value != "odd" && value != "even") {
      job.warnings.push_back("option page-set '" + given + "' is not one of all, odd, even; every page is printed");
    } else if (booklet) {
      job.warnings.push_back("option page-set '" + given +
                             "' is not applied to a booklet, whose sheets the plug-in counts; every sheet is printed");
    } else {
      sides.set = value == "odd" ? host::SideSet::kOdd : host::SideSet::kEven;
    }
  }
  const std::string perSheet = SettingOf(job.settings, "vdmPagesPerSheet");
  const int perSide = perSheet.empty() ? 1 : std::atoi(perSheet.c_str());
  // A page list too long for Ghostscript's argument: the host picks the pages itself.
  if (!booklet && (sides.set != host::SideSet::kAll || (perSide > 1 && !job.pageRanges.empty()) ||
                   job.pageRanges.size() > kMaxPageList)) {
    if (const std::optional<std::string> pages = PagesOfSides(job.pageRanges, sides.set, perSide)) {
      if (pages->empty()) {
        const std::string parity = sides.set == host::SideSet::kOdd ? "odd" : "even";
        throw host::HostError("The job prints nothing: option page-ranges '" + job.pageRanges + "' names no " + parity +
                              " page, and page-set keeps only the " + parity + " ones");
      }
      job.pageRanges = *pages;
      sides.pagesPicked = true;
    } else {
      sides.ranges = std::move(job.pageRanges);
      job.pageRanges.clear();
    }
  }
  // A booklet signature is a whole number of folded sheets; pdftopdf takes no other count.
  // Without a booklet it is ignored, as CUPS ignores it.
  if (const std::string signature = SettingOf(job.settings, "sBookletSubset");
      booklet && !signature.empty() && std::atoi(signature.c_str()) % 4 != 0) {
    throw host::HostError("option booklet-signature '" + signature +
                          "' is not a multiple of 4: a signature is a whole number of folded sheets");
  }
  for (const std::string& warning : job.warnings) {
    // A PIN the printer cannot take stops the job: printed without it, the job would not be
    // held for its owner. The message names the option, never the PIN.
    if (warning.starts_with("option job-password ")) {
      throw host::HostError("The job cannot be printed: " + warning.substr(0, warning.find("; the default")));
    }
  }
  for (const std::string& warning : job.warnings) std::fprintf(stderr, "WARNING: %s\n", OneLine(warning).c_str());

  const std::string system = SystemFolder();
  CheckSystemFolder(system, job.settings);
  // CUPS cancels a job with SIGTERM: the request ends Ghostscript and fails the job, so
  // that the job folder, whose held job may carry a PIN, is removed before the filter ends.
  platform::CatchStopRequests();
  JobFolder folder;
  const std::string jobStore = folder.path() + "/spooler.db";
  PrepareJobStore(system + "/spooler.db", jobStore, queue);
  CheckQueueFiles(system, queue, job.settings);
  // The host and the plug-in find the queue's watermark sections (and the diagnostic log)
  // through the environment, as every velmora program does.
  ::setenv("XDG_DATA_HOME", system.c_str(), 1);

  host::PrintRequest request;
  request.modulePath = ModulePath();
  request.printerName = platform::Utf8ToUtf16(queue);
  // The job is held in the job's folder until it is whole.
  const std::string held = folder.path() + "/job.pxl";
  request.output = held;
  request.title = platform::Utf8ToUtf16(argv[3]);
  request.user = platform::Utf8ToUtf16(argv[2]);
  request.jobId = static_cast<DWORD>(jobId);
  for (const auto& [name, value] : options) {
    if (name == "job-originating-host-name") request.machine = platform::Utf8ToUtf16(value);
  }
  request.settings = std::move(job.settings);
  request.choices = std::move(job.choices);
  // CUPS's pdftopdf does not run before the filter; its N-up layout is followed instead.
  request.pdftopdfLayout = true;
  request.sides = std::move(sides);
  // The sheets are counted for CUPS's page log once the job has reached the printer.
  std::size_t sheetsPrinted = 0;
  request.progress = [&sheetsPrinted](std::size_t sheet, std::size_t) { sheetsPrinted = sheet; };

  // A notice is a job printed otherwise than it asks.
  request.notice = [](const std::string& line) { std::fprintf(stderr, "WARNING: %s\n", OneLine(line).c_str()); };

  const std::string document = argc == 7 ? argv[6] : "-";
  std::fprintf(stderr, "INFO: Printing '%s' through the Velmora plug-in\n", QuotedTitle(argv[3]).c_str());
  // Messages name the document after the job: its file is CUPS's spool file.
  auto pages = host::MakeDocumentPageSource(document, job.pageRanges, {}, QuotedTitle(argv[3]));
  const host::PrintResult result = host::RunPrintJob(request, *pages);
  if (result.overlayCaptured) {
    std::fprintf(stderr, "INFO: The job was captured into the printer's overlay file; nothing was printed\n");
    return 0;
  }
  std::string reason;
  if (!platform::CopyToStandardOutput(held, &reason)) {
    throw host::HostError("Unable to write the job to standard output: " + reason);
  }
  const int pageCopies = std::clamp(copies, 1, kMaxCopies);
  for (std::size_t sheet = 1; sheet <= sheetsPrinted; ++sheet) {
    std::fprintf(stderr, "PAGE: %zu %d\n", sheet, pageCopies);
  }
  std::fprintf(stderr, "ATTR: job-impressions=%zu\n", sheetsPrinted);
  return 0;
}

}  // namespace
}  // namespace velmora::cups

int main(int argc, char** argv) {
  // CUPS reads the message lines as they come.
  std::setvbuf(stderr, nullptr, _IOLBF, 0);
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argc > 0 ? argv[0] : "velmora-pxl");
    return 1;
  }
  int status = 1;
  try {
    status = velmora::cups::RunFilter(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ERROR: %s\n", velmora::cups::OneLine(error.what()).c_str());
  }
  // A cancelled job ends as the request would have ended it, once it has cleaned up.
  velmora::platform::EndAsStopRequested();
  return status;
}
