// velmora dump: a job as PJL lines and one PCL XL operator per line.
#include <iostream>
#include <string>

#include "pxl/dump.h"
#include "tools/velmora/commands.h"
#include "tools/velmora/file_io.h"

namespace velmora::cli {

void RegisterDumpCommand(CLI::App& app) {
  static std::string path;
  static std::size_t pages = 0;
  CLI::App* dump = app.add_subcommand("dump", "List a PJL + PCL XL job: PJL lines, then one PCL XL operator per line");
  dump->add_option("FILE", path, "The job file, or - for standard input")->required();
  dump->add_option("--pages", pages, "List only the first N pages (0: all)");
  dump->callback([] {
    const std::vector<std::uint8_t> job = path == "-" ? ReadStandardInput() : ReadWholeFile(path);
    pxl::DumpOptions options;
    options.max_pages = pages;
    if (!pxl::Dump(job, std::cout, options)) {
      std::cout.flush();
      throw CommandError("'" + path + "' is not a well-formed PJL + PCL XL job (see the error line above)");
    }
  });
}

}  // namespace velmora::cli
