// Writes the seed corpus of every fuzz target from the project's own writers:
// velmora_fuzz_seeds DIR makes DIR/<target>/<seed> for each target's seeds.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fuzz/fuzz_target.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmora_fuzz_seeds DIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  for (const velmora::fuzz::Target& target : velmora::fuzz::Targets()) {
    const fs::path folder = fs::path(argv[1]) / target.name;
    fs::create_directories(folder);
    for (const velmora::fuzz::Seed& seed : target.seeds()) {
      std::ofstream file(folder / seed.name, std::ios::binary | std::ios::trunc);
      file.write(reinterpret_cast<const char*>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
      if (!file) {
        std::fprintf(stderr, "Unable to write '%s'\n", (folder / seed.name).c_str());
        return 1;
      }
    }
  }
  return 0;
}
