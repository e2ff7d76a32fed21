// The bytes of the host's own commands in the printer description (stream header,
// session, data source, page orientation and size, BeginPage), written once for the
// print host and for the Windows driver package, which writes the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "host/printer_description.h"

namespace velmora::host {

// What the commands depend on.
struct CommandSetting {
  int xResolution = 600;
  int yResolution = 600;
  bool landscape = false;
  const Paper* paper = nullptr;  // null: a custom A4
  bool reversed = false;         // the page turned a half turn: PCL XL's reverse orientations
};

// The command's bytes; empty for a plug-in callback, which writes its own.
std::vector<std::uint8_t> HostCommandBytes(CommandKind kind, const CommandSetting& setting);

}  // namespace velmora::host
