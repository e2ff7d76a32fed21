// Ghostscript as the host's renderer: one run of the gs program per job, writing PCL XL
// to a pipe the job reads as it prints, its messages to another pipe, which are read for
// the page count and to name the cause of a failure.
#include "host/ghostscript_render.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host_error.h"
#include "host/job_notices.h"
#include "platform/files.h"
#include "platform/process.h"

namespace velmora::host {
namespace {

constexpr double kPointsPerInch = 72.0;
// A PDF's header may follow up to this many bytes of other data.
constexpr std::size_t kPdfHeaderWindow = 1024;
// A read of the rendered stream that returns less than this waits a moment before the
// next one.
constexpr std::size_t kGatherBytes = std::size_t{64} << 10;
constexpr std::chrono::microseconds kGatherPause{1000};

// The Ghostscript program on the search path; VELMORA_GS names another one (its console
// program on Windows, an unusual install).
std::string GhostscriptProgram() {
  return platform::EnvironmentVariable("VELMORA_GS").value_or(platform::GhostscriptProgramName());
}

// The line of `text` that holds `needle`, trimmed, or an empty string.
std::string LineWith(const std::string& text, std::string_view needle) {
  const std::size_t at = text.find(needle);
  if (at == std::string::npos) return {};
  const std::size_t start = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
  std::string line = text.substr(start, text.find('\n', at) - start);
  const std::size_t first = line.find_first_not_of(" \t*");
  const std::size_t last = line.find_last_not_of(" \t\r");
  return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

// The first reason Ghostscript lists under its summary of errors it repaired or ignored.
std::string FirstListedError(const std::string& messages) {
  const std::size_t list = messages.find("The following errors were encountered");
  if (list == std::string::npos) return {};
  const std::size_t start = messages.find('\n', list);
  if (start == std::string::npos) return {};
  const std::size_t end = messages.find('\n', start + 1);
  std::string line = messages.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  const std::size_t first = line.find_first_not_of(" \t");
  return first == std::string::npos ? std::string() : line.substr(first);
}

// Why Ghostscript did not render the whole document, from its exit status and messages;
// empty when it did. A PDF it repaired and rendered whole is told to the job's user.
std::string FailureCause(DocumentKind kind, int exitCode, std::string messages, bool pagesPicked) {
  if (pagesPicked) {
    // Picked pages past the document's end are not there to print, as in every print
    // system's page ranges; Ghostscript reports each of them as an error, in three lines
    // that are left out in one pass (a list may name many thousands of such pages).
    static constexpr std::string_view kMissingPage[] = {"   **** Error: Couldn't get page info.",
                                                        "               Output may be incorrect.",
                                                        "   **** Error: page not found."};
    std::string kept;
    for (std::size_t start = 0; start < messages.size();) {
      const std::size_t newline = std::min(messages.find('\n', start), messages.size());
      const std::string_view line = std::string_view(messages).substr(start, newline - start);
      if (std::find(std::begin(kMissingPage), std::end(kMissingPage), line) == std::end(kMissingPage)) {
        kept.append(line);
        if (newline < messages.size()) kept.push_back('\n');
      }
      start = newline + 1;
    }
    messages = std::move(kept);
  }
  if (messages.find("requires a password") != std::string::npos) return "the PDF is protected by a password";
  if (kind == DocumentKind::kPdf) {
    // Ghostscript says "**** Error" of a page or a file it could not render ("Page
    // drawing error occurred", "Couldn't initialise file"), and a file without its end
    // ("no startxref token found") is cut short: whatever Ghostscript rebuilds of it
    // lacks what was cut off, and printing what is left would pass a half document off
    // as the whole one. Errors it only lists as repaired or ignored in a whole file (a
    // wrong cross-reference offset, the circular reference of CUPS's texttopdf) left
    // every page rendered: the document prints, and its user is told.
    std::string reason = FirstListedError(messages);
    const bool truncated = messages.find("no startxref token found") != std::string::npos;
    if (messages.find("**** Error") != std::string::npos || truncated || exitCode != 0) {
      if (reason.empty()) reason = LineWith(messages, "Error");
      return "the PDF is damaged or truncated" + (reason.empty() ? std::string() : " (Ghostscript: " + reason + ")");
    }
    if (messages.find("repaired or ignored") != std::string::npos) {
      TellJobUser("The PDF has errors that Ghostscript repaired" +
                  (reason.empty() ? std::string() : " (" + reason + ")") + "; it prints as Ghostscript rendered it");
    }
    return {};
  }
  if (exitCode == 0 && messages.find("Error: ") == std::string::npos) return {};
  const std::string error = LineWith(messages, "Error: ");
  if (!error.empty()) {
    // The line goes on with the object that failed ("/undefined in % SALARY ..."), which
    // may be the document's own text, or another file's that the document tried to read:
    // the job's message names only the error, and the whole line goes to the host's log.
    std::fprintf(stderr, "Ghostscript: %s\n", error.c_str());
    std::string name = error.substr(error.find("Error: ") + 7);
    const std::size_t end = name.find_first_not_of("/abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    name = name.substr(0, std::min<std::size_t>(end, 40));
    return "PostScript error" + (name.empty() ? std::string() : ": " + name);
  }
  return "Ghostscript failed with exit status " + std::to_string(exitCode);
}

// Why Ghostscript ended when it used up one of its limits; empty when it did not. A
// program that runs out of memory under its limit reports a VMerror or "out of memory",
// or dies of a failed allocation (a signal).
std::string LimitCause(const platform::ProgramLimits& limits, const platform::ProgramRun& run,
                       const std::string& messages) {
  if (limits.cpuSeconds > 0 && run.timeLimitReached) {
    return "Ghostscript exceeded its processor-time limit of " + std::to_string(limits.cpuSeconds) + " s";
  }
  if (limits.memoryBytes == 0) return {};
  std::string lower = messages;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const bool outOfMemory =
      lower.find("vmerror") != std::string::npos || lower.find("out of memory") != std::string::npos || run.signal != 0;
  if (!outOfMemory) return {};
  // Whole mebibytes as they were given, else one decimal.
  constexpr std::uint64_t kMebibyte = 1 << 20;
  char size[32];
  if (limits.memoryBytes % kMebibyte == 0) {
    std::snprintf(size, sizeof size, "%llu", static_cast<unsigned long long>(limits.memoryBytes / kMebibyte));
  } else {
    std::snprintf(size, sizeof size, "%.1f", static_cast<double>(limits.memoryBytes) / kMebibyte);
  }
  return std::string("Ghostscript exceeded its memory limit of ") + size + " MiB";
}

// Why Ghostscript ended when a signal ended it (the system's out-of-memory killer, an
// administrator, a crash): its document is not to blame.
std::string SignalCause(int signal) {
  struct SignalName {
    int number;
    const char* name;
  };
  static constexpr SignalName kNames[] = {
#ifdef SIGKILL
      {SIGKILL, "SIGKILL"},
#endif
#ifdef SIGBUS
      {SIGBUS, "SIGBUS"},
#endif
      {SIGABRT, "SIGABRT"}, {SIGSEGV, "SIGSEGV"}, {SIGTERM, "SIGTERM"},
      {SIGINT, "SIGINT"},   {SIGILL, "SIGILL"},   {SIGFPE, "SIGFPE"}};
  std::string cause = "Ghostscript was ended by signal " + std::to_string(signal);
  for (const SignalName& known : kNames) {
    if (known.number == signal) return cause + " (" + known.name + ")";
  }
  return cause;
}

// One range of pages ("5", "5-8", "5-", as ParsePageRanges checked it): its first page
// and its last, 0 for one open to the end; none for a list of ranges.
std::optional<std::pair<std::size_t, std::size_t>> SingleRange(const std::string& ranges) {
  // Ghostscript's "odd" and "even" are page lists of their own.
  if (ranges.empty() || ranges.find(',') != std::string::npos || ranges[0] < '0' || ranges[0] > '9') {
    return std::nullopt;
  }
  const std::size_t dash = ranges.find('-');
  const std::size_t first = std::stoul(ranges.substr(0, dash));
  if (dash == std::string::npos) return std::pair{first, first};
  return std::pair{first, dash + 1 == ranges.size() ? std::size_t{0} : std::stoul(ranges.substr(dash + 1))};
}

// The whole number a comment's value starts with ("12", "12 1"); none for another value.
std::optional<std::size_t> LeadingNumber(std::string_view value) {
  const std::size_t start = value.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  std::size_t end = start;
  while (end < value.size() && end - start < 9 && value[end] >= '0' && value[end] <= '9') ++end;
  if (end == start || (end < value.size() && value[end] != ' ' && value[end] != '\t')) return std::nullopt;
  return static_cast<std::size_t>(std::stoul(std::string(value.substr(start, end - start))));
}

// The pages a PostScript document states it holds by the document structuring
// conventions: the count of its %%Pages comment (the header's, or the trailer's when the
// header defers to it with "(atend)"), when the document marks as many pages of its own
// with %%Page comments (the pages of a document it embeds do not count) and each marked
// page names showpage once, outside them nowhere. The comments are only comments: a page
// that shows two pages or none would make Ghostscript render another count than the job
// was started with, so a document whose pages do not each show themselves visibly is
// rendered whole first (its procedures may well show them right). None for a document
// that does not claim the conventions, states no count or marks other pages.
std::optional<std::size_t> StatedPageCount(const std::string& path) {
  std::ifstream file(platform::PathFromUtf8(path), std::ios::binary);
  std::optional<std::size_t> header;
  std::optional<std::size_t> trailer;
  bool deferred = false;
  bool inHeader = true;
  bool inTrailer = false;
  bool conforming = false;
  bool firstLine = true;
  std::size_t marked = 0;
  int embedded = 0;
  // The showpage names of the part being read (before the first page, a page, the
  // trailer); false once a part has a count other than its own (one for a page).
  std::size_t showpages = 0;
  bool showsEachPage = true;
  const auto endPart = [&](bool page) {
    if (showpages != (page ? 1 : 0)) showsEachPage = false;
    showpages = 0;
  };
  const auto take = [&](std::string_view line) {
    if (firstLine) {
      firstLine = false;
      conforming = line.starts_with("%!PS-Adobe-");
      return;
    }
    if (!line.starts_with("%%")) return;
    if (line.starts_with("%%BeginDocument")) ++embedded;
    if (line.starts_with("%%EndDocument") && embedded > 0) --embedded;
    if (embedded > 0) return;
    if (line.starts_with("%%EndComments")) inHeader = false;
    if (line.starts_with("%%Trailer")) {
      endPart(marked > 0);
      inTrailer = true;
    }
    if (line.starts_with("%%Pages:")) {
      const std::string_view value = line.substr(8);
      if (inHeader && !header && !deferred) {
        deferred = value.find("(atend)") != std::string_view::npos;
        if (!deferred) header = LeadingNumber(value);
      } else if (inTrailer) {
        trailer = LeadingNumber(value);
      }
      return;
    }
    if (line.starts_with("%%Page:")) {
      endPart(marked > 0);
      inHeader = false;
      ++marked;
    }
  };
  // Counts the showpage names in a piece of a line: a long line is searched whole, not
  // only its start.
  static constexpr std::string_view kShowpage = "showpage";
  const auto countShowpages = [&showpages](std::string_view text) {
    for (std::size_t at = text.find(kShowpage); at != std::string_view::npos; at = text.find(kShowpage, at + 1)) {
      ++showpages;
    }
  };
  // Lines are taken from pieces of the file; only the start of a long line matters.
  constexpr std::size_t kLineStart = 256;
  std::string line;
  bool lineCut = false;
  std::vector<char> piece(std::size_t{1} << 16);
  while (file) {
    file.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    std::size_t at = 0;
    while (at < got) {
      const char* end = static_cast<const char*>(std::memchr(piece.data() + at, '\n', got - at));
      const std::size_t stop = end != nullptr ? static_cast<std::size_t>(end - piece.data()) : got;
      if (!lineCut) {
        line.append(piece.data() + at, std::min(stop - at, kLineStart - std::min(line.size(), kLineStart)));
        lineCut = line.size() >= kLineStart;
      }
      const std::size_t before = showpages;
      countShowpages(std::string_view(piece.data() + at, stop - at));
      if (end == nullptr) break;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // A %%Page comment starts the part its line belongs to.
      const std::size_t onLine = showpages - before;
      showpages = before;
      take(line);
      showpages += onLine;
      if (firstLine == false && !conforming) return std::nullopt;
      line.clear();
      lineCut = false;
      at = stop + 1;
    }
  }
  if (!line.empty()) take(line);
  endPart(marked > 0 && !inTrailer);
  const std::optional<std::size_t> stated = deferred ? trailer : header;
  if (!conforming || !stated || *stated != marked || !showsEachPage) return std::nullopt;
  return stated;
}

// True when a PDF ends in an update that was cut off: after its last end-of-file marker
// come objects, a cross-reference table or a trailer, but no startxref of their own.
// Ghostscript finds the cross-reference table through the last startxref it meets, which
// is then the earlier revision's: it renders that revision whole and says nothing of the
// update it never read. (An update cut after its startxref is read whole.)
bool EndsInCutUpdate(const std::string& path) {
  std::ifstream file(platform::PathFromUtf8(path), std::ios::binary | std::ios::ate);
  if (!file) return false;
  constexpr std::string_view kEnd = "%%EOF";
  constexpr std::string_view kRevisionParts[] = {" obj", "\nobj", "xref", "trailer"};
  constexpr std::string_view kPointer = "startxref";
  constexpr std::size_t kOverlap = kPointer.size();  // the longest of the words looked for
  constexpr std::streamoff kChunk = 1 << 16;
  // The file is read backwards a chunk at a time, each chunk overlapping the one after it,
  // until the last marker is found.
  bool revisionAfter = false;
  bool pointerAfter = false;
  std::string tail;
  for (std::streamoff end = file.tellg(); end > 0;) {
    const std::streamoff start = std::max<std::streamoff>(0, end - kChunk);
    std::string chunk(static_cast<std::size_t>(end - start), '\0');
    file.seekg(start);
    if (!file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) return false;
    tail.insert(0, chunk);
    const std::size_t marker = tail.rfind(kEnd);
    const std::string_view after =
        marker == std::string::npos ? std::string_view(tail) : std::string_view(tail).substr(marker + kEnd.size());
    for (const std::string_view part : kRevisionParts) revisionAfter |= after.find(part) != std::string_view::npos;
    pointerAfter |= after.find(kPointer) != std::string_view::npos;
    if (marker != std::string::npos) return revisionAfter && !pointerAfter;
    tail.resize(std::min(tail.size(), kOverlap));
    end = start;
  }
  return false;
}

}  // namespace

DocumentKind SniffDocument(const std::string& path) {
  std::ifstream file(platform::PathFromUtf8(path), std::ios::binary);
  std::array<char, kPdfHeaderWindow> head{};
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  const auto count = static_cast<std::size_t>(file.gcount());
  if (count == 0) return DocumentKind::kEmpty;
  const std::string_view bytes(head.data(), count);
  if (bytes.find("%PDF-") != std::string_view::npos) return DocumentKind::kPdf;
  if (bytes.starts_with("%!")) return DocumentKind::kPostScript;
  // The binary header of an EPS file with a preview.
  if (bytes.starts_with("\xC5\xD0\xD3\xC6")) return DocumentKind::kPostScript;
  return DocumentKind::kUnknown;
}

GhostscriptRender::GhostscriptRender(const std::string& document, const std::string& name,
                                     const std::string& temporaryFolder, const std::string& pageRanges,
                                     const platform::ProgramLimits& limits)
    : document_(document), name_(name), pagesPicked_(!pageRanges.empty()), limits_(limits) {
  const auto fail = [&name](const std::string& cause) { throw HostError("Unable to print '" + name + "': " + cause); };
  std::error_code error;
  if (!std::filesystem::is_regular_file(platform::PathFromUtf8(document), error)) fail("no such file");
  kind_ = SniffDocument(document);
  if (kind_ == DocumentKind::kEmpty) fail("the file is empty");
  if (kind_ == DocumentKind::kUnknown) fail("not a PDF or PostScript document");

  // Ghostscript starts with no device and reads the set-up of its output device from
  // standard input (Render), then renders the document.
  std::vector<std::string> arguments = {
      GhostscriptProgram(), "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sstdout=%stderr", "-dNODISPLAY",
  };
  // One range of pages is picked by its first and last page, for which Ghostscript
  // announces how many pages of a PDF it renders; a list of ranges by the page list. The
  // device takes the selection too, for PostScript.
  pageRange_ = SingleRange(pageRanges);
  if (pageRange_) {
    arguments.push_back("-dFirstPage=" + std::to_string(pageRange_->first));
    pageSelection_ = " /FirstPage " + std::to_string(pageRange_->first);
    if (pageRange_->second != 0) {
      arguments.push_back("-dLastPage=" + std::to_string(pageRange_->second));
      pageSelection_ += " /LastPage " + std::to_string(pageRange_->second);
    }
  } else if (!pageRanges.empty()) {
    arguments.push_back("-sPageList=" + pageRanges);
    pageSelection_ = " /PageList (" + pageRanges + ")";
  }
  // Standard input, then the document. Joined to -f, a file name is never taken for an
  // option, whatever it starts with.
  arguments.push_back("-");
  arguments.push_back("-f" + document);
  std::string reason;
  // -dSAFER lets a document read Ghostscript's temporary folder: it gets the job's own
  // private one, so that it never reaches another job's documents or pages.
  program_ = platform::StartProgram(arguments, reason, limits, platform::ProgramInput::kPipe, temporaryFolder);
  if (program_ == nullptr) fail("Ghostscript could not be run: " + reason);
  messagesReader_ = std::thread([this] { CollectMessages(); });
}

void GhostscriptRender::Render(const PageGeometry& geometry) {
  if (rendering_) return;
  rendering_ = true;
  // Each page keeps its own size and orientation; the job's sheet is the size of a page
  // whose document names none (PostScript that never sets one). The job fits each page
  // to its sheet or cell. The stream comes through standard output; Ghostscript's
  // messages go to standard error.
  const double widthPoints = geometry.physicalWidth * kPointsPerInch / std::max(geometry.xResolution, 1);
  const double heightPoints = geometry.physicalHeight * kPointsPerInch / std::max(geometry.yResolution, 1);
  // Ghostscript's font cache takes glyphs of at most 10,000 bytes by default and fills
  // larger ones as outline paths, which nothing in the stream tells from other fills. With
  // a larger limit such glyphs are cached and drawn as one-bit images, which reach the
  // TextOut hook (text in black). The PDF interpreter keeps limits of its own.
  const std::string setup =
      "<< /MaxFontItem 4000000 >> setuserparams "
      "<< /OutputDevice /pxlmono /OutputFile (-) /HWResolution [" +
      std::to_string(geometry.xResolution) + " " + std::to_string(geometry.yResolution) + "] /PageSize [" +
      std::to_string(widthPoints) + " " + std::to_string(heightPoints) + "]" + pageSelection_ + " >> setpagedevice\n";
  // A Ghostscript that has ended already has its reason in its messages.
  program_->WriteInput({reinterpret_cast<const std::uint8_t*>(setup.data()), setup.size()});
  program_->CloseInput();
}

GhostscriptRender::~GhostscriptRender() {
  // The program's end closes its side of the pipes, which ends the messages' reader.
  program_->Stop();
  if (messagesReader_.joinable()) messagesReader_.join();
}

void GhostscriptRender::CollectMessages() {
  std::uint8_t buffer[4096];
  for (;;) {
    const std::ptrdiff_t got = program_->ReadMessages(buffer, sizeof buffer);
    const std::lock_guard lock(mutex_);
    if (got <= 0) {
      messagesEnded_ = true;
      changed_.notify_all();
      return;
    }
    messages_.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(got));
    changed_.notify_all();
  }
}

std::optional<std::size_t> GhostscriptRender::AnnouncedPages() {
  if (kind_ == DocumentKind::kPostScript) {
    const std::optional<std::size_t> stated = StatedPageCount(document_);
    if (!stated || !pagesPicked_) return stated;
    if (!pageRange_) return std::nullopt;
    const auto [first, last] = *pageRange_;
    const std::size_t end = last == 0 ? *stated : std::min(last, *stated);
    return first > end ? 0 : end - first + 1;
  }
  if (kind_ != DocumentKind::kPdf || (pagesPicked_ && !pageRange_)) return std::nullopt;
  // "Processing pages 1 through 12." (or "5 through 8." for one range) comes before the
  // first page is rendered.
  static constexpr std::string_view kAnnouncement = "Processing pages ";
  static constexpr std::string_view kThrough = " through ";
  std::unique_lock lock(mutex_);
  for (;;) {
    const std::size_t at = messages_.find(kAnnouncement);
    const std::size_t end = at == std::string::npos ? at : messages_.find('\n', at);
    if (end != std::string::npos) {
      const std::string_view line = std::string_view(messages_).substr(at, end - at);
      const std::size_t through = line.find(kThrough);
      if (through == std::string_view::npos) return std::nullopt;
      const std::optional<std::size_t> first =
          LeadingNumber(line.substr(kAnnouncement.size(), through - kAnnouncement.size()));
      std::string_view lastText = line.substr(through + kThrough.size());
      if (!lastText.empty() && lastText.back() == '\r') lastText.remove_suffix(1);
      if (!lastText.ends_with('.')) return std::nullopt;
      lastText.remove_suffix(1);
      const std::optional<std::size_t> last = LeadingNumber(lastText);
      if (!first || !last || *last < *first) return std::nullopt;
      return *last - *first + 1;
    }
    if (messagesEnded_) return std::nullopt;
    changed_.wait(lock);
  }
}

std::size_t GhostscriptRender::Read(std::uint8_t* buffer, std::size_t size) {
  // Ghostscript writes its stream a few KiB at a time, and the job, being faster, would
  // wake for nearly every write: after a short read it lets the stream gather in the pipe
  // (a MiB) for a moment before reading on.
  if (lastReadShort_) std::this_thread::sleep_for(kGatherPause);
  const std::ptrdiff_t got = program_->ReadOutput(buffer, size);
  if (got < 0) throw HostError("Unable to print '" + name_ + "': the rendered stream cannot be read from Ghostscript");
  lastReadShort_ = got > 0 && static_cast<std::size_t>(got) < std::min(size, kGatherBytes);
  return static_cast<std::size_t>(got);
}

void GhostscriptRender::Finish() {
  // Without a set-up Ghostscript would wait for one.
  if (!rendering_) program_->Stop();
  // Whatever is left of the stream (the end of the job) is read so that Ghostscript can
  // finish writing it.
  std::uint8_t rest[4096];
  while (Read(rest, sizeof rest) > 0) {
  }
  const platform::ProgramRun run = program_->Wait();
  std::string messages;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return messagesEnded_; });
    messages = messages_;
  }
  if (!run.started) throw HostError("Unable to print '" + name_ + "': " + run.error);
  std::string cause = LimitCause(limits_, run, messages);
  // A Ghostscript the job stopped itself (before it rendered) has no cause of its own.
  if (cause.empty() && run.signal != 0 && rendering_) cause = SignalCause(run.signal);
  if (cause.empty()) cause = FailureCause(kind_, run.exitCode, messages, pagesPicked_);
  if (!cause.empty()) throw HostError("Unable to print '" + name_ + "': " + cause);
  if (kind_ == DocumentKind::kPdf && EndsInCutUpdate(document_)) {
    TellJobUser("The PDF ends in an update that was cut off; it prints as its earlier revision, without that update");
  }
}

}  // namespace velmora::host
