// The registry of fuzz targets: each parser of outside bytes has one entry function,
// which libFuzzer drives in the fuzz build and the replay test drives everywhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::fuzz {

// An entry function: takes arbitrary bytes, must never crash, leak or read outside them.
using EntryFunction = void (*)(const std::uint8_t* data, std::size_t size);

// One seed input of a target's corpus, made by the project's own writers.
struct Seed {
  std::string name;
  std::vector<std::uint8_t> bytes;
};
using SeedFunction = std::vector<Seed> (*)();

struct Target {
  const char* name;  // also the folder of its corpus and regressions
  EntryFunction entry;
  SeedFunction seeds;
};

// Every target linked into the program, in registration order.
std::vector<Target>& Targets();

// Registers a target at start-up; used through VELMORA_FUZZ_TARGET.
struct Registration {
  Registration(const char* name, EntryFunction entry, SeedFunction seeds) { Targets().push_back({name, entry, seeds}); }
};

// Small helpers for entry functions that split their input into a few numbers and the rest.
class InputCursor {
 public:
  InputCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  // The next byte, or 0 when the input is used up.
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t U32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return value;
  }
  const std::uint8_t* rest() const { return data_ + pos_; }
  std::size_t restSize() const { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A folder of this process's own under the temporary folder, removed at exit, for the
// targets whose parser reads a file.
const std::string& ScratchFolder();

// Writes `bytes` to the file `name` in the scratch folder; returns its path.
std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);

inline std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace velmora::fuzz

#define VELMORA_FUZZ_TARGET(name, entry, seeds) \
  static const ::velmora::fuzz::Registration velmora_fuzz_registration_##name(#name, entry, seeds)
