// The Windows driver package of the plug-in, generated from the print host's printer
// description: the INF that installs the plug-in with the universal printer driver, the
// printer description (GPD) whose commands call the plug-in back where the host does, and
// the configuration file that names the rendering plug-in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora::package {

inline constexpr std::string_view kInfFileName = "velmora.inf";
inline constexpr std::string_view kGpdFileName = "velmora_pxl.gpd";
inline constexpr std::string_view kIniFileName = "velmora_pxl.ini";
inline constexpr std::string_view kPluginFileName = "velmora_pxl.dll";

inline constexpr std::string_view kManufacturer = "Velmora";
inline constexpr std::string_view kModelName = "Velmora PXL";

// One file of the package: its name in the package folder and its exact bytes (ASCII
// text with CR LF line ends, as Windows setup and the GPD parser read them).
struct PackageFile {
  std::string_view name;
  std::string bytes;
};

// The printer description, the INF and the plug-in configuration file.
std::string PrinterDescriptionGpd();
std::string DriverInf();
std::string PluginIni();

// All files of the package, in a fixed order (INF, GPD, INI).
std::vector<PackageFile> DriverPackageFiles();

}  // namespace velmora::package
