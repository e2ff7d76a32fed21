// velmora print: runs a job through the plug-in module into a file or standard output.
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host_error.h"
#include "host/page_source.h"
#include "host/plugin_module.h"
#include "host/print_job.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text_encoding.h"
#include "tools/velmora/commands.h"
#include "tools/velmora/file_io.h"

#ifndef VELMORA_BUILT_MODULE
#define VELMORA_BUILT_MODULE ""
#endif
#ifndef VELMORA_BUILD_FOLDER
#define VELMORA_BUILD_FOLDER ""
#endif

namespace velmora::cli {
namespace {

struct PrintArguments {
  std::string document;  // empty: the sample document
  std::string output;
  std::string printer;
  std::size_t pages = 3;
  std::string pageRanges;
  std::string ticket;
  std::vector<std::string> sets;
  std::vector<std::string> options;
  std::vector<std::string> specialPages;
  std::string title = "Velmora sample";
  bool titleGiven = false;
  std::string user;
  std::string machine;
  long long jobId = -1;
  std::size_t bufferSize = 16384;
  int connectTimeout = 10;
  std::string module;
  std::string timeLimit;    // empty: none
  std::string memoryLimit;  // empty: none
};

// A whole number of at most 9 digits, or nothing.
std::optional<std::uint64_t> WholeNumber(const std::string& text, std::size_t maxDigits = 9) {
  if (text.empty() || text.size() > maxDigits || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoull(text);
}

// --time-limit SECONDS: whole seconds from 1.
std::uint64_t ParseTimeLimit(const std::string& text) {
  const std::optional<std::uint64_t> seconds = WholeNumber(text);
  if (!seconds || *seconds == 0) {
    throw CommandError("--time-limit '" + text + "': expected whole seconds from 1 (e.g. 60)");
  }
  return *seconds;
}

// --memory-limit SIZE: bytes from 1, or kibibytes, mebibytes or gibibytes with a K, M or
// G suffix.
std::uint64_t ParseMemoryLimit(const std::string& text) {
  struct Unit {
    char suffix;
    std::uint64_t bytes;
  };
  static constexpr Unit kUnits[] = {{'K', 1ull << 10}, {'M', 1ull << 20}, {'G', 1ull << 30}};
  static_assert(std::size(kUnits) == 3);
  std::string digits = text;
  std::uint64_t unit = 1;
  for (const Unit& candidate : kUnits) {
    if (!digits.empty() && std::toupper(static_cast<unsigned char>(digits.back())) == candidate.suffix) {
      digits.pop_back();
      unit = candidate.bytes;
      break;
    }
  }
  // A byte count as a machine writes it (2147483648) is taken, up to a pebibyte.
  constexpr std::uint64_t kMaxBytes = 1ull << 50;
  const std::optional<std::uint64_t> count = WholeNumber(digits, 16);
  if (!count || *count == 0 || *count > kMaxBytes / unit) {
    throw CommandError("--memory-limit '" + text +
                       "': expected a size from 1 in bytes or with a K, M or G suffix (e.g. 512M, 2G)");
  }
  return *count * unit;
}

// One --special-page SHEET=KIND: a printed sheet from 1 and a special-page kind 0 to 3.
std::pair<std::size_t, std::uint32_t> ParseSpecialPage(const std::string& text) {
  const std::size_t equals = text.find('=');
  const std::string sheetText = text.substr(0, equals);
  const std::string kindText = equals == std::string::npos ? std::string() : text.substr(equals + 1);
  const auto digitsOnly = [](const std::string& value) {
    return !value.empty() && value.size() <= 9 && value.find_first_not_of("0123456789") == std::string::npos;
  };
  if (!digitsOnly(sheetText) || !digitsOnly(kindText)) {
    throw CommandError("--special-page '" + text + "': expected SHEET=KIND, two whole numbers");
  }
  const std::size_t sheet = std::stoul(sheetText);
  const std::uint32_t kind = static_cast<std::uint32_t>(std::stoul(kindText));
  if (sheet < 1) throw CommandError("--special-page '" + text + "': sheets count from 1");
  if (kind > 3) throw CommandError("--special-page '" + text + "': the kind is 0 (none) to 3");
  return {sheet, kind};
}

// The plug-in built with velmora while velmora runs from its build folder; an installed
// velmora takes the one installed with it, even on the machine that built it.
std::string DefaultModule() {
  const std::string build = VELMORA_BUILD_FOLDER;
  const std::optional<std::string> program = platform::ProgramPath();
  const bool fromBuild = !build.empty() && program && program->starts_with(build + "/");
  return host::FindDefaultModule(fromBuild ? VELMORA_BUILT_MODULE : "");
}

void RunPrint(const PrintArguments& args) {
  host::PrintRequest request;
  request.modulePath = args.module.empty() ? DefaultModule() : args.module;
  request.printerName = platform::Utf8ToUtf16(args.printer);
  request.title = platform::Utf8ToUtf16(args.title);
  if (!args.document.empty() && !args.titleGiven) {
    // A document is named after its file, as an application names the job.
    const std::string name = args.document == "-"
                                 ? std::string("standard input")
                                 : platform::PathToUtf8(platform::PathFromUtf8(args.document).filename());
    request.title = platform::Utf8ToUtf16(name);
  }
  request.user = platform::Utf8ToUtf16(args.user);
  request.machine = platform::Utf8ToUtf16(args.machine);
  request.bufferSize = args.bufferSize;
  request.connectTimeoutSeconds = args.connectTimeout;
  if (args.jobId >= 0) request.jobId = static_cast<DWORD>(args.jobId);

  request.output = args.output;
  if (request.output.empty()) {
    if (platform::IsTerminal(stdout)) {
      throw CommandError("Standard output is a terminal; name an output file with -o OUTPUT (or -o - to insist)");
    }
    request.output = "-";
  }

  if (!args.ticket.empty()) request.settings = host::ReadTicket(args.ticket);
  for (const std::string& set : args.sets) request.settings.push_back(host::ParseAssignment(set, "--set"));
  request.choices = host::ParseOptionChoices(args.options);
  for (const std::string& special : args.specialPages) {
    const auto [sheet, kind] = ParseSpecialPage(special);
    request.specialPages[sheet] = kind;
  }

  if (platform::IsTerminal(stderr)) {
    request.progress = [](std::size_t page, std::size_t pages) {
      std::fprintf(stderr, "\rvelmora: page %zu of %zu sent", page, pages);
      if (page == pages) std::fputc('\n', stderr);
      std::fflush(stderr);
    };
  }

  request.notice = [](const std::string& line) { std::fprintf(stderr, "velmora: %s\n", line.c_str()); };

  platform::ProgramLimits limits;
  if (!args.timeLimit.empty()) limits.cpuSeconds = ParseTimeLimit(args.timeLimit);
  if (!args.memoryLimit.empty()) limits.memoryBytes = ParseMemoryLimit(args.memoryLimit);
  // A stop request (SIGTERM, Ctrl+C) ends Ghostscript and fails the job, which removes
  // what it wrote; main then ends as the request would have.
  platform::CatchStopRequests();
  auto pages = args.document.empty() ? host::MakeSamplePageSource(args.pages)
                                     : host::MakeDocumentPageSource(args.document, args.pageRanges, limits);
  const host::PrintResult result = host::RunPrintJob(request, *pages);
  if (result.overlayCaptured) {
    std::fprintf(stderr,
                 "velmora: job %u captured into the printer's overlay file and deleted; nothing was printed "
                 "and no output was written\n",
                 static_cast<unsigned>(result.jobId));
  }
}

}  // namespace

void RegisterPrintCommand(CLI::App& app) {
  static PrintArguments args;
  CLI::App* print = app.add_subcommand(
      "print",
      "Print a PDF, PostScript or EPS document (rendered by Ghostscript), or the sample document, through "
      "the plug-in module");
  print->add_option("FILE", args.document,
                    "The document: PDF, PostScript or EPS, - for standard input (default: the sample document)");
  print->add_option("-o,--output", args.output,
                    "Where the job goes: a file, - for standard output, or a printer's raw socket "
                    "socket://HOST[:PORT] (port 9100 by default), which gets the job once it is complete");
  print->add_option("--connect-timeout", args.connectTimeout, "Seconds to wait for a socket printer to answer")
      ->check(CLI::Range(1, 600));
#ifdef _WIN32
  print->add_option("--printer", args.printer,
                    "A printer of the Windows spooler (default: Velmora Default, which must exist)");
#else
  print->add_option("--printer", args.printer,
                    "A printer of the printer store (default: Velmora Default, added when missing)");
#endif
  print->add_option("--pages", args.pages, "Pages of the sample document")->check(CLI::Range(1, 9999));
  print->add_option("--page-ranges", args.pageRanges,
                    "The document's pages to print: pages and ranges separated by commas (1-3,7; 5- to the end)");
  print->add_option("--ticket", args.ticket, "A JSON object of settings names and values");
  print->add_option("--set", args.sets, "NAME=VALUE: one setting, after the ticket")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  print->add_option("--option", args.options, "FEATURE=OPTION: PaperSize, MediaType or InputBin")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  print
      ->add_option("--special-page", args.specialPages,
                   "SHEET=KIND: printed sheet SHEET (from 1) is a special page of kind 1 to 3 (0: none); "
                   "repeatable. N-up and booklets come from the settings (vdmPagesPerSheet, bBooklet, ...)")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  print->add_option("--title", args.title, "The document name");
  print->add_option("--user", args.user,
                    "The user named in the job (default: the login name; the Windows spooler always names the login)");
  print->add_option("--machine", args.machine,
                    "The machine named in the job (default: this machine's name; the Windows spooler always "
                    "names this machine)");
  print->add_option("--job-id", args.jobId, "The job's id (the printer store refuses an id it holds already)")
      ->check(CLI::Range(1LL, 0xFFFFFFFFLL));
  print->add_option("--buffer-size", args.bufferSize, "Bytes per buffer sent to the spooler")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 30));
  print->add_option("--module", args.module,
                    "The plug-in module (default: the one installed with velmora, or built with it)");
  print
      ->add_option("--time-limit", args.timeLimit,
                   "Processor seconds Ghostscript may use to render the document; past them the job fails "
                   "(default: no limit)")
      ->type_name("SECONDS");
  print
      ->add_option("--memory-limit", args.memoryLimit,
                   "Memory Ghostscript may use to render the document, in bytes or with a K, M or G suffix "
                   "(512M, 2G); past it the job fails (default: no limit)")
      ->type_name("SIZE");
  print->callback([print] {
    args.titleGiven = print->count("--title") > 0;
    if (!args.document.empty() && print->count("--pages") > 0) {
      throw CommandError(
          "--pages is for the sample document; a document prints all its pages (--page-ranges picks some)");
    }
    if (!args.pageRanges.empty() && args.document.empty()) {
      throw CommandError("--page-ranges picks pages of a document; name the document");
    }
    try {
      if (!args.pageRanges.empty()) args.pageRanges = host::ParsePageRanges(args.pageRanges);
      RunPrint(args);
    } catch (const host::HostError& error) {
      throw CommandError(error.what());
    }
  });
}

}  // namespace velmora::cli
