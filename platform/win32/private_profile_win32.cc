// Private-profile structures on Windows: the system's own private-profile functions,
// which use the same encoding (hexadecimal bytes and a checksum byte).
#include <climits>

#include "platform/private_profile.h"

namespace velmora::platform {

std::optional<std::vector<std::uint8_t>> ReadProfileStruct(const WString& path, const WString& section,
                                                           const WString& key, std::size_t byteCount) {
  if (byteCount > UINT_MAX) return std::nullopt;
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
  // The function takes a non-const pointer but only reads the structure.
  std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
  return ::WritePrivateProfileStructW(section.c_str(), key.c_str(), copy.data(), static_cast<UINT>(copy.size()),
                                      path.c_str()) != FALSE;
}

std::vector<WString> ListProfileSections(const WString& path) {
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

bool RemoveProfileSection(const WString& path, const WString& section) {
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  // A null key deletes the whole section.
  return ::WritePrivateProfileStringW(section.c_str(), nullptr, nullptr, path.c_str()) != FALSE;
}

}  // namespace velmora::platform
