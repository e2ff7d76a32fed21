// Private-profile (INI) files holding binary structures.
//
// A structure is stored as one key's value: every byte as two upper-case hexadecimal
// digits, followed by one checksum byte (the low byte of the sum of all bytes), also as
// two digits. A 2-byte structure 01 FF is stored as "01FF00". Windows reads and writes
// these files with its own private-profile functions; POSIX has a reader and writer of
// the same format ([Section] lines, key=value lines, ';' comment lines), so that a file
// moves between the two unchanged. Section and key names match ignoring ASCII case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace velmora::platform {

// Reads the structure stored under [section] key in the file at `path`. Nothing when the
// file, the section or the key is missing, when the value does not hold exactly
// `byteCount` bytes plus the checksum, when it holds a character that is not a
// hexadecimal digit, or when the checksum does not match.
std::optional<std::vector<std::uint8_t>> ReadProfileStruct(const WString& path, const WString& section,
                                                           const WString& key, std::size_t byteCount);

// Writes the structure under [section] key, creating the file, the section or the key
// when missing and leaving every other section and key as it was. The folder must exist.
// Returns false when the file could not be written; the file is then unchanged.
bool WriteProfileStruct(const WString& path, const WString& section, const WString& key,
                        std::span<const std::uint8_t> bytes);

// The names of the file's sections in file order, each once. Empty when the file is
// missing or cannot be read.
std::vector<WString> ListProfileSections(const WString& path);

// Removes a section with all its keys (every section of that name). Returns true when
// the file holds no such section afterwards, also when it never did.
bool RemoveProfileSection(const WString& path, const WString& section);

// Whether a name can be written without changing the file's structure. A section name
// must not be blank nor hold ']' or a line end; a key name must not be blank, hold '=' or
// a line end, or start (after blanks) with the comment or section character ';' or '['.
// WriteProfileStruct refuses other names on every platform.
bool WritableProfileSectionName(WStringView name);
bool WritableProfileKeyName(WStringView name);

// Names are compared ignoring ASCII case, after blanks (spaces, tabs) around them.
bool SameProfileName(WStringView a, WStringView b);

// The stored text of a structure: hexadecimal digits and the checksum (ASCII).
std::string EncodeProfileStruct(std::span<const std::uint8_t> bytes);

// The bytes of a stored text, under the rules of ReadProfileStruct. Upper- and
// lower-case digits are both accepted.
std::optional<std::vector<std::uint8_t>> DecodeProfileStruct(std::string_view text, std::size_t byteCount);

}  // namespace velmora::platform
