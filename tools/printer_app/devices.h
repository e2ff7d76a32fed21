// The devices a printer of the application may print to: a network printer's raw socket
// (socket://HOST[:PORT]), or a folder the administrator named on the command line
// (file:///FOLDER), where every job gets a file of its own.
#pragma once

#include <string>
#include <vector>

namespace velmora::printer_app {

// Registers the application's own "socket" and "file" device schemes with PAPPL. Must run
// before anything asks PAPPL for a device: PAPPL then adds none of its own, so no other
// scheme (a file appended to, a USB port, a discovery that needs avahi-daemon) exists.
// `fileFolders` are the folders file devices may name (absolute, canonical).
void RegisterDeviceSchemes(std::vector<std::string> fileFolders);

// Why a printer may not use `uri`, or an empty string when it may: the check every new
// printer passes, whether it comes from the web form, IPP, the command line or a saved
// state.
std::string DeviceProblem(const std::string& uri);

}  // namespace velmora::printer_app
