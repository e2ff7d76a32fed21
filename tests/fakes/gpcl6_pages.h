// The sheets of a job as a printer would image them: rendered by the independent PCL XL
// interpreter gpcl6 (../shared/tools/gpcl6) into 8-bit grey images.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace velmora::testing {

// An 8-bit grey image, rows top to bottom (0 black, 255 white).
struct Gray {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// A binary PGM file; nothing when it is cut short.
inline std::optional<Gray> ReadPgm(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
  std::size_t at = 2;
  int numbers[3] = {};
  for (int& number : numbers) {
    while (at < bytes.size() && (std::isspace(bytes[at]) || bytes[at] == '#')) {
      if (bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      }
      ++at;
    }
    while (at < bytes.size() && std::isdigit(bytes[at])) number = number * 10 + (bytes[at++] - '0');
  }
  ++at;
  Gray image{numbers[0], numbers[1], {}};
  if (bytes.size() < at + static_cast<std::size_t>(image.width) * image.height) return std::nullopt;
  image.pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
  return image;
}

// The interpreter, or an empty path when this checkout has none beside it.
inline std::filesystem::path Gpcl6() {
  const std::filesystem::path interpreter =
      std::filesystem::path(VELMORA_SOURCE_DIR) / ".." / "shared" / "tools" / "gpcl6";
  return std::filesystem::exists(interpreter) ? interpreter : std::filesystem::path();
}

// The sheets of the job file `job` rendered at `dpi` into `folder` (files STEM-N.pgm), and
// what the interpreter said, which names any error it found in the job. Nothing when the
// interpreter is missing.
struct RenderedSheets {
  std::vector<Gray> sheets;
  std::string said;
};
inline std::optional<RenderedSheets> RenderSheets(const std::filesystem::path& job, const std::filesystem::path& folder,
                                                  const std::string& stem, int dpi) {
  const std::filesystem::path interpreter = Gpcl6();
  if (interpreter.empty()) return std::nullopt;
  const std::string pattern = (folder / (stem + "-%d.pgm")).string();
  const std::string command = interpreter.string() + " -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r" + std::to_string(dpi) +
                              " -sOutputFile=" + pattern + " " + job.string() + " 2>&1";
  RenderedSheets rendered;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) rendered.said.append(buffer, got);
  pclose(pipe);
  for (int sheet = 1;; ++sheet) {
    const std::filesystem::path file = folder / (stem + "-" + std::to_string(sheet) + ".pgm");
    if (!std::filesystem::exists(file)) break;
    if (auto image = ReadPgm(file)) rendered.sheets.push_back(std::move(*image));
  }
  return rendered;
}

}  // namespace velmora::testing
