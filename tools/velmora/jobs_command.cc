// velmora jobs: list the jobs of the printer store, of one printer or of all.
#include <algorithm>
#include <array>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/printer_admin.h"
#include "platform/text_encoding.h"
#include "tools/velmora/commands.h"
#include "tools/velmora/file_io.h"
#include "tools/velmora/printer_values.h"

namespace velmora::cli {
namespace {

using platform::StoredJob;

constexpr std::size_t kColumns = 6;
using Row = std::array<std::string, kColumns>;

// A job field on one line; an absent field is "-".
std::string Field(const std::optional<WString>& text) {
  if (!text) return "-";
  return Printable(platform::Utf16ToUtf8(*text), false);
}

void RunJobs(const std::string& printer, bool verbose) {
  const std::unique_ptr<platform::PrinterAdmin> store = platform::OpenPrinterAdmin();
  if (verbose) std::cerr << "velmora: " << store->location() << "\n";
  std::optional<WString> only;
  if (!printer.empty()) only = platform::Utf8ToUtf16(printer);
  auto jobs = store->ListJobs(only);
  if (!jobs) throw CommandError(jobs.error());
  if (jobs.value().empty()) {
    std::cout << "(no jobs)\n";
    return;
  }

  std::vector<Row> rows{{"ID", "PRINTER", "DOCUMENT", "USER", "MACHINE", "STATUS"}};
  for (const StoredJob& job : jobs.value()) {
    rows.push_back({std::to_string(job.info.jobId), Field(job.info.printerName), Field(job.info.document),
                    Field(job.info.userName), Field(job.info.machineName), JobStatusWords(job.info.status)});
  }
  // Columns are as wide as their widest cell (in bytes); the last one is not padded.
  std::array<std::size_t, kColumns> widths{};
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < kColumns; ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const Row& row : rows) {
    std::string line;
    for (std::size_t i = 0; i + 1 < kColumns; ++i) line += row[i] + std::string(widths[i] - row[i].size() + 2, ' ');
    std::cout << line << row[kColumns - 1] << "\n";
  }
}

}  // namespace

void RegisterJobsCommand(CLI::App& app) {
  static std::string printer;
  static bool verbose = false;
  CLI::App* jobs = app.add_subcommand(
      "jobs",
      "List the spooler's jobs in id order: id, printer, document, user, machine and status in words "
      "(in progress, complete, deleting, deleted, ...)");
  jobs->add_option("-p,--printer", printer, "Only the jobs of this printer");
  jobs->add_flag("-v,--verbose", verbose, "Name the spooler (the printer store's path) on standard error");
  jobs->callback([] { RunJobs(printer, verbose); });
}

}  // namespace velmora::cli
