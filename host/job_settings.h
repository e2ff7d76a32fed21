// The job's settings as the user gives them: a JSON ticket, NAME=VALUE assignments and
// FEATURE=OPTION choices, applied to the application's copy of the device mode before
// the host merges it into the printer's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/device_mode.h"
#include "host/driver_services.h"

namespace velmora::host {

// One named field to set, with where it came from for error messages
// ("ticket 'job.json'", "--set").
struct SettingAssignment {
  std::string origin;
  std::string name;
  std::string value;
};

// The assignments of a JSON ticket: an object whose members are field names of the
// settings record and of the public device mode; "SpecialPageN" may hold an object of
// the block's members and "szMargins" an array of four values. Throws HostError naming
// the file when it cannot be read, is not a regular file, holds more than 1 MiB or is not
// such an object.
std::vector<SettingAssignment> ReadTicket(const std::string& path);
std::vector<SettingAssignment> ParseTicket(std::string_view json, const std::string& origin);

// A NAME=VALUE assignment. Throws HostError when there is no '='.
SettingAssignment ParseAssignment(std::string_view text, const std::string& origin);

// Sets the fields in order on the application's device mode (record body and public
// fields). Throws HostError with the origin and the field's problem: an unknown field, a
// value that does not fit, or a public field the host itself owns (dmSize, ...).
void ApplySettings(DeviceMode& app, const std::vector<SettingAssignment>& settings);

// FEATURE=OPTION choices; throws HostError for an unknown feature or option, naming the
// known ones.
FeatureOptions ParseOptionChoices(const std::vector<std::string>& texts);

// Writes the choices that have a public field into the application's device mode: the
// paper (form name and code), the input bin (default source) and the orientation.
void ApplyOptionChoices(DeviceMode& app, const FeatureOptions& choices);

// True when the choices turn every page a half turn (a reverse orientation).
bool ReversesOrientation(const FeatureOptions& choices);

// The options the host answers for the job: derived from the job's device mode (paper,
// bin; media type "STANDARD"), then the explicit choices.
FeatureOptions JobFeatureOptions(const DeviceMode& job, const FeatureOptions& choices);

}  // namespace velmora::host
