// Who may do what in the printer application. Printing is open to every client; changing
// settings (the web pages, printer administration, overlay capture, other users' jobs)
// is for administrators: a client on this machine, or, with remote administration on, a
// member of the administrators' group who signs in over TLS with the password PAM checks.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <string>
#include <vector>

namespace velmora::printer_app {

struct AccessPolicy {
  bool remoteAdmin = false;            // other machines may administer (TLS + HTTP Basic + PAM)
  std::string adminGroup = "lpadmin";  // the group an administrator from elsewhere belongs to
  std::string pamService = "velmora-printer-app";
  std::vector<std::string> remotePeers;  // loopback addresses treated as other machines
};

// Installs the policy as PAPPL's authentication callback; PAPPL's own administration
// pages, its IPP administration operations and the settings page all ask it. Call it
// after loading the saved state, which holds an administrators' group of its own.
void InstallAccessControl(pappl_system_t* system, const AccessPolicy& policy);

// True when any overlay-mode of the request, in any group, captures the job as an
// overlay: that is an administrator's.
bool AsksForOverlayCapture(ipp_t* request);

// Replaces control characters (line breaks, escapes, C1 controls) in `text` with spaces and bytes that are
// not UTF-8 with U+FFFD, so that a name a client sends cannot change a file or a log it is
// written into.
std::string CleanText(std::string text);

// The most octets of an IPP name value.
inline constexpr std::size_t kMaxNameBytes = 255;

// CleanText cut to kMaxNameBytes between characters: a client's name, whose bytes that are
// not UTF-8 each grow to three, stays a name PAPPL can keep and answer with.
std::string CleanName(std::string text);

// The longest start of UTF-8 `text` of at most `maxBytes` bytes that ends between two
// characters: a message cut to fit an IPP text value stays valid UTF-8.
std::string CutText(std::string text, std::size_t maxBytes);

}  // namespace velmora::printer_app
