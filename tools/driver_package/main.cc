// velmora-driver-package: writes the Windows driver package (INF, GPD, plug-in INI) of
// the Velmora PXL plug-in into a folder.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/driver_package/driver_package.h"
#include "tools/velmora/file_io.h"

int main(int argc, char** argv) {
  CLI::App app{
      "velmora-driver-package: writes the Windows driver package of the Velmora PXL plug-in (velmora.inf, "
      "velmora_pxl.gpd, velmora_pxl.ini) from the print host's printer description",
      "velmora-driver-package"};
  std::string folder;
  app.add_option("-o,--output", folder, "The folder to write the package files into (it must exist)")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  try {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
      throw velmora::cli::CommandError("Unable to use the folder '" + folder + "': " + std::strerror(errno));
    }
    if (!S_ISDIR(info.st_mode)) throw velmora::cli::CommandError("Unable to use '" + folder + "': not a folder");
    for (const velmora::package::PackageFile& file : velmora::package::DriverPackageFiles()) {
      const std::string path = folder + "/" + std::string(file.name);
      velmora::cli::WriteFileAtomically(path, std::vector<std::uint8_t>(file.bytes.begin(), file.bytes.end()));
      std::printf("%s\n", path.c_str());
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "velmora-driver-package: %s\n", error.what());
    return 1;
  }
  return 0;
}
