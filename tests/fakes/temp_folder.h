// A fresh, uniquely named folder under the system's temporary folder, on every platform.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace velmora::testing {

// Creates a new folder named `prefix` plus a random suffix under the temporary folder and
// returns its path, or an empty path when none could be made. The folder is created
// exclusively (create_directory reports a folder that exists already), so suites run from
// several checkouts at once never share one.
inline std::filesystem::path MakeTempFolder(const std::string& prefix) {
  namespace fs = std::filesystem;
  std::random_device seed;
  std::mt19937_64 random(seed());
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) return {};
  constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 8; ++i) name += kDigits[random() % (sizeof kDigits - 1)];
    const fs::path folder = base / name;
    if (fs::create_directory(folder, error)) return folder;
    if (error) return {};
  }
  return {};
}

}  // namespace velmora::testing
