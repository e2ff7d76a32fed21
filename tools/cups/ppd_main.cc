// velmora-cups-ppd: writes the PPD of a Velmora queue into a folder.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "tools/cups/ppd.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: velmora-cups-ppd FOLDER\n");
    return 2;
  }
  try {
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    const std::string path = (folder / velmora::cups::kPpdFileName).string();
    const std::string ppd = velmora::cups::VelmoraPpd();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(ppd.data(), 1, ppd.size(), file) != ppd.size() || std::fclose(file) != 0) {
      std::fprintf(stderr, "velmora-cups-ppd: Unable to write '%s'\n", path.c_str());
      return 1;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "velmora-cups-ppd: %s\n", error.what());
    return 1;
  }
  return 0;
}
