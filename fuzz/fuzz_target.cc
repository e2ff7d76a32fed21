// The registry of fuzz targets and the scratch folder of the targets that read files.
#include "fuzz/fuzz_target.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace velmora::fuzz {

std::vector<Target>& Targets() {
  static std::vector<Target> targets;
  return targets;
}

namespace {

// The folder, made on first use and removed with everything in it when the program ends.
struct Scratch {
  Scratch() {
    path = (std::filesystem::temp_directory_path() / "velmora-fuzz-XXXXXX").string();
    if (::mkdtemp(path.data()) == nullptr) {
      std::perror("velmora fuzz: mkdtemp");
      std::abort();
    }
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

}  // namespace

const std::string& ScratchFolder() {
  static const Scratch scratch;
  return scratch.path;
}

std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = ScratchFolder() + "/" + name;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

}  // namespace velmora::fuzz
