// libFuzzer's entry point for a program holding exactly one registered target.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const velmora::fuzz::EntryFunction entry = [] {
    const auto& targets = velmora::fuzz::Targets();
    if (targets.size() != 1) {
      std::fprintf(stderr, "a fuzz program holds exactly one target, this one %zu\n", targets.size());
      std::abort();
    }
    return targets.front().entry;
  }();
  entry(data, size);
  return 0;
}
