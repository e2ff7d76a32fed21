// What an IPP Everywhere client asks of a printer besides printing: Identify-Printer, the
// supply levels, and the description attributes the standard requires of every printer.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace velmora::printer_app {

// Sets the identify actions and the identify callback of a printer's driver.
void SetStatusCallbacks(pappl_pr_driver_data_t* data);

// Adds the description attributes PAPPL 1.3 does not make itself: the rendering intents,
// overrides and preferred-attributes support.
void AddDescriptionAttributes(ipp_t* attributes);

// Gives a new printer its supply attributes (levels unknown until the printer answers).
void SetUnknownSupplies(pappl_printer_t* printer);
// Takes the supply levels the printer's open device reports (a network printer's SNMP
// agent), if it reports any.
void UpdateSupplies(pappl_printer_t* printer, pappl_device_t* device);

// PAPPL 1.3.1 lists no job-state-reasons for a job whose only reason is
// job-hold-until-specified (its list of reasons ends one before it), which IPP clients
// read as a malformed job: such a job is also marked job-queued, from its creation until
// it prints. Call from PAPPL's job-created event.
void MarkHeldJobQueued(pappl_job_t* job);
// Takes the mark away when the job starts printing.
void UnmarkQueued(pappl_job_t* job);

// The PJL job that shows `message` on the printer's display and prints nothing: the
// message is made one PJL-safe line of at most 40 bytes.
std::string IdentifyJob(const std::string& message);

}  // namespace velmora::printer_app
