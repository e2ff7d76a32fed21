// Printer-data values as the administrator types and reads them: typed data from the
// command line into stored bytes, stored bytes back into one line of text, and job
// status bits in words.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spooler.h"

namespace velmora::cli {

// The type a value is written with, as `velmora printer set --type` names it.
enum class ValueKind { kText, kMultiText, kNumber, kBinary };

// The kind a command-line name stands for ("text", "multi-text", "number", "binary").
std::optional<ValueKind> KindFromName(std::string_view name);
const char* KindName(ValueKind kind);

// The type the plug-in reads a well-known value with ("OvelayDirectory" and "OvelayFiles"
// (entries separated by ";") text, "ModuleName" multi-text, "UserAuthentication" number, "PaperModel"
// text), ignoring ASCII case; nullopt for any other name.
std::optional<ValueKind> KnownValueKind(std::string_view valueName);

// True for the value that holds the printer's paper model, which is set with --model.
bool IsPaperModelValue(std::string_view valueName);

// Encodes the data given for one value (its pieces in command-line order) as stored
// bytes; throws CommandError naming the value and what is wrong.
//  - text: one piece, stored as UTF-16LE with one NUL.
//  - multi-text: each piece is split at commas ("\," is a comma inside an entry), and
//    the entries of all pieces follow each other; each entry ends in a NUL, the list in
//    one more. An empty piece adds no entry; an empty entry between commas is refused,
//    as it would end the list early.
//  - ModuleName (multi-text): one name of at most 129 characters, stored as exactly 260
//    bytes: the name, its NUL, then zeros, as the plug-in writes it.
//  - number: one piece, decimal (0 to 4294967295) or hexadecimal with 0x; 4 bytes,
//    little-endian.
//  - binary: one piece of hexadecimal digit pairs, optionally separated by blanks or
//    colons.
platform::PrinterValue EncodeValue(std::string_view valueName, ValueKind kind, const std::vector<std::string>& pieces);

// The type of a stored value in words: "text", "multi-text", "number", "binary", or
// "type N" for any other type.
std::string TypeName(const platform::PrinterValue& value);

// The data of a stored value on one line: text in double quotes (control characters,
// quotes and backslashes escaped), multi-text as quoted entries separated by ", ",
// numbers in decimal with their hexadecimal form, anything else and malformed data as
// hexadecimal bytes with a note.
std::string DescribeValue(const platform::PrinterValue& value);

// Text on one line: control characters as \n, \t, \r or \xHH; when `quoted`, in double
// quotes with \" and \\.
std::string Printable(std::string_view text, bool quoted);

// Job status bits in words, separated by commas ("deleting,deleted", "complete"); a
// status of 0 is "in progress"; unknown bits are shown in hexadecimal.
std::string JobStatusWords(DWORD status);

}  // namespace velmora::cli
