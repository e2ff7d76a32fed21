// Replays every fuzz target's seeds, its corpus under fuzz/corpus/ (grown by
// scripts/fuzz) and its regression inputs under fuzz/regressions/ through its entry
// function, in every build with tests. The folders are read when the test runs: a corpus
// that scripts/fuzz merged into replays without a new configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "fuzz/fuzz_target.h"

#ifdef VELMORA_FUZZ_COVERAGE
// clang's profile runtime, in the build for scripts/fuzz-coverage.
extern "C" void __llvm_profile_reset_counters(void);
#endif

namespace velmora::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void Replay(const Target& target, const std::vector<std::uint8_t>& bytes) {
  // A fresh heap copy of exactly the input's size, as libFuzzer hands it over.
  // AddressSanitizer then reports a read of the byte just past the input.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  target.entry(copy.get(), bytes.size());
}

// The targets the build lists, in its order.
std::vector<std::string> ListedTargets() {
  std::vector<std::string> names;
  std::istringstream list(VELMORA_FUZZ_TARGET_NAMES);
  for (std::string name; std::getline(list, name, ',');) names.push_back(name);
  return names;
}

std::set<std::string> ListedTargetSet() {
  const std::vector<std::string> names = ListedTargets();
  return {names.begin(), names.end()};
}

TEST(FuzzReplay, EveryTargetIsBuiltAndHasACorpus) {
  const std::set<std::string> listed = ListedTargetSet();
  std::set<std::string> registered;
  for (const Target& target : Targets()) {
    registered.insert(target.name);
    EXPECT_FALSE(target.seeds().empty()) << target.name;
    EXPECT_TRUE(fs::is_directory(fs::path(VELMORA_FUZZ_DIR) / "corpus" / target.name))
        << target.name << ": run scripts/fuzz --seeds";
  }
  EXPECT_EQ(registered, listed);
}

// A folder of inputs whose name is no target's (a typo, a renamed target) would never be
// replayed.
TEST(FuzzReplay, EveryInputFolderNamesATarget) {
  const std::set<std::string> listed = ListedTargetSet();
  for (const char* kind : {"corpus", "regressions"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(VELMORA_FUZZ_DIR) / kind)) {
      EXPECT_TRUE(entry.is_directory() && listed.contains(entry.path().filename().string()))
          << entry.path().string() << " is not the folder of a fuzz target";
    }
  }
}

// One test per target, so that a failure names its target and ctest runs them in parallel.
class FuzzReplayTarget : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzReplayTarget, SeedsCorpusAndRegressionsRunCleanly) {
  const auto found =
      std::find_if(Targets().begin(), Targets().end(), [](const Target& target) { return target.name == GetParam(); });
  ASSERT_NE(found, Targets().end()) << GetParam() << " is not registered";
  const Target& target = *found;
  const std::vector<Seed> seeds = target.seeds();
#ifdef VELMORA_FUZZ_COVERAGE
  // The coverage counts start here: the writers that made the seeds are not the target's.
  __llvm_profile_reset_counters();
#endif
  for (const Seed& seed : seeds) {
    SCOPED_TRACE(std::string(target.name) + " seed " + seed.name);
    Replay(target, seed.bytes);
  }
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path folder = fs::path(VELMORA_FUZZ_DIR) / kind / target.name;
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      SCOPED_TRACE(entry.path().string());
      Replay(target, ReadAll(entry.path()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplayTarget, ::testing::ValuesIn(ListedTargets()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
}  // namespace velmora::fuzz
