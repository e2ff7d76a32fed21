// A printer's own paper model as text, and as the printer-data value that holds it.
//
// The model is kept as the printer's text value "PaperModel" (REG_SZ: UTF-16LE, ending
// in one NUL). Its text has one statement per line (LF or CRLF):
//
//   # Office printer, tray 1
//   paper "A4" 9 210 297
//   paper "B5 (JIS)" 13 182 257
//   paper Letter 1 215.9 279.4
//   resolutions 600 1200
//   margin 4.2
//
// - Blank lines, and lines whose first non-blank character is '#', are skipped. Fields
//   are separated by blanks (spaces or tabs); keywords are lower case.
// - paper NAME CODE WIDTH HEIGHT: one paper. NAME is the form name as the device mode
//   names it, 1 to 31 UTF-16 characters: either in double quotes (inside them \" is a
//   quote and \\ a backslash), or a bare word without blanks that does not start with a
//   quote. CODE is the paper code, 0 to 32767 (0: the paper is found by name only).
//   WIDTH and HEIGHT are millimetres, written as digits with an optional decimal
//   fraction ("210", "215.9"), more than 0 and at most 10000. Form names are unique,
//   ignoring ASCII case. The first paper is the one a page set-up gets when it names
//   none of the model's papers.
// - resolutions DPI...: the dots per inch the printer takes, each 1 to 32767; exactly
//   one such line.
// - margin MM: the hardware margin on every edge in millimetres (digits with an
//   optional fraction); at most one such line, 4.2 when there is none. Twice the margin
//   must be less than every paper's width and height, so each paper has a printable
//   area.
// - At least one paper line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/paper_model.h"
#include "platform/spooler.h"

namespace velmora::platform {

// The name of the printer-data value that holds a printer's paper model.
inline constexpr const WCHAR* kPaperModelValueName = VTEXT("PaperModel");

// Reads a paper model from its text (UTF-8). On malformed text returns nullopt and sets
// *error to one line: "line N: what is wrong", or what the whole model lacks.
std::optional<PaperModel> ParsePaperModel(std::string_view text, std::string* error);

// Writes a paper model as text (UTF-8): its papers in order with quoted names, then its
// resolutions, then its margin. A model that parses reads back unchanged.
std::string FormatPaperModel(const PaperModel& model);

// The printer-data value that holds a paper model: its text as REG_SZ.
PrinterValue PaperModelValue(const PaperModel& model);

// Reads a paper model from a printer-data value. nullopt, with *error set, when the
// value is not text (REG_SZ, whole UTF-16 units) or its text is malformed.
std::optional<PaperModel> PaperModelFromValue(const PrinterValue& value, std::string* error);

}  // namespace velmora::platform
