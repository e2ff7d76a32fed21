// Private-profile structures on Windows: the system's own private-profile functions,
// which use the same encoding (hexadecimal bytes and a checksum byte).
#include <algorithm>
#include <climits>

#include "platform/private_profile.h"

namespace velmora::platform {
namespace {

// The name of every section line of the file, in file order, duplicates included.
std::vector<WString> SectionLines(const WString& path) {
  // The names come back NUL-separated and end with two NULs; a result of size - 2
  // means the buffer was too small.
  for (DWORD size = 4096; size <= 1u << 24; size *= 4) {
    std::vector<wchar_t> buffer(size);
    const DWORD length = ::GetPrivateProfileSectionNamesW(buffer.data(), size, path.c_str());
    if (length == size - 2) continue;
    std::vector<WString> names;
    for (DWORD start = 0; start < length;) {
      WString name(buffer.data() + start);
      start += static_cast<DWORD>(name.size()) + 1;
      if (!name.empty()) names.push_back(std::move(name));
    }
    return names;
  }
  return {};
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadProfileStruct(const WString& path, const WString& section,
                                                           const WString& key, std::size_t byteCount) {
  if (byteCount > UINT_MAX) return std::nullopt;
  // Lines before the first section belong to no section, but the system reads them as a
  // section with an empty name; a blank key would name no line at all.
  if (SameProfileName(section, WStringView()) || SameProfileName(key, WStringView())) return std::nullopt;
  std::vector<std::uint8_t> bytes(byteCount);
  if (!::GetPrivateProfileStructW(section.c_str(), key.c_str(), bytes.data(), static_cast<UINT>(byteCount),
                                  path.c_str())) {
    return std::nullopt;
  }
  return bytes;
}

bool WriteProfileStruct(const WString& path, const WString& section, const WString& key,
                        std::span<const std::uint8_t> bytes) {
  if (bytes.size() > UINT_MAX) return false;
  // The system writes any name as it is given, so that a ']', '=' or line end in one
  // would change the file's structure.
  if (!WritableProfileSectionName(section) || !WritableProfileKeyName(key)) return false;
  // The function takes a non-const pointer but only reads the structure. A null pointer
  // would delete the key, so an empty structure (stored as its checksum "00") still
  // passes a real one.
  std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
  std::uint8_t none = 0;
  std::uint8_t* data = copy.empty() ? &none : copy.data();
  return ::WritePrivateProfileStructW(section.c_str(), key.c_str(), data, static_cast<UINT>(copy.size()),
                                      path.c_str()) != FALSE;
}

std::vector<WString> ListProfileSections(const WString& path) {
  // The system lists a section name once for every section line that has it; the names
  // are listed once, in the spelling of their first section.
  std::vector<WString> names;
  for (WString& name : SectionLines(path)) {
    const bool known = std::any_of(names.begin(), names.end(),
                                   [&name](const WString& earlier) { return SameProfileName(earlier, name); });
    if (!known) names.push_back(std::move(name));
  }
  return names;
}

bool RemoveProfileSection(const WString& path, const WString& section) {
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  // A null key deletes a whole section, but only the first of its name: once for every
  // section line of the name, then the file must hold none.
  const std::vector<WString> lines = SectionLines(path);
  const auto named = [&section](const WString& name) { return SameProfileName(name, section); };
  const auto count = std::count_if(lines.begin(), lines.end(), named);
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    const std::vector<WString> remaining = SectionLines(path);
    const auto match = std::find_if(remaining.begin(), remaining.end(), named);
    if (match == remaining.end()) break;
    if (!::WritePrivateProfileStringW(match->c_str(), nullptr, nullptr, path.c_str())) return false;
  }
  const std::vector<WString> after = SectionLines(path);
  return std::none_of(after.begin(), after.end(), named);
}

}  // namespace velmora::platform
