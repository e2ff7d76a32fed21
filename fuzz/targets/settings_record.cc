// Fuzz target: the settings record inside a public device mode from outside (a device
// mode dump, a stored record): locating it, and the convert and merge copies in both
// directions with buffers of exactly the sizes given.
#include <vector>

#include "formats/le_bytes.h"
#include "formats/vendor_devmode.h"
#include "formats/vendor_settings.h"
#include "fuzz/fuzz_target.h"

namespace velmora::fuzz {
namespace {

std::vector<std::uint8_t> DefaultRecord() {
  std::vector<std::uint8_t> record(kVendorRecordSize, 0);
  StampVendorHeader(record.data());
  FillVendorDefaults(record.data() + kVendorHeaderSize);
  return record;
}

void Entry(const std::uint8_t* data, std::size_t size) {
  InputCursor input(data, size);
  // The capacity of the buffer on the other side of a copy, around a whole record.
  const std::size_t otherCapacity = (input.Byte() * 41u) % (kVendorRecordSize + 64);
  const std::vector<std::uint8_t> outside(input.rest(), input.rest() + input.restSize());

  if (auto offset = FindVendorDevmodeOffset(outside.data(), outside.size())) {
    if (*offset > outside.size() || outside.size() - *offset < kVendorBodySize) __builtin_trap();
  }
  // Convert: the outside record is the input.
  std::vector<std::uint8_t> out(otherCapacity);
  CopyVendorDevmode(outside.empty() ? nullptr : outside.data(), outside.size(), out.empty() ? nullptr : out.data(),
                    out.size());
  // Merge: the outside buffer is the output the copy writes into.
  std::vector<std::uint8_t> in = DefaultRecord();
  in.resize(std::min(in.size(), otherCapacity));
  std::vector<std::uint8_t> target = outside;
  CopyVendorDevmode(in.empty() ? nullptr : in.data(), in.size(), target.empty() ? nullptr : target.data(),
                    target.size());
}

std::vector<Seed> Seeds() {
  const std::vector<std::uint8_t> record = DefaultRecord();
  // A public device mode of 220 bytes, the host's 64 private bytes, then the record.
  std::vector<std::uint8_t> devmode(220 + 64, 0);
  le::PutU16(devmode.data() + 68, 220);
  le::PutU16(devmode.data() + 70, static_cast<std::uint16_t>(64 + kVendorRecordSize));
  le::PutU16(devmode.data() + 220 + 8, 64);
  devmode.insert(devmode.end(), record.begin(), record.end());
  std::vector<Seed> seeds;
  for (std::uint8_t capacity : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{128}}) {
    std::vector<std::uint8_t> withRecord{capacity};
    withRecord.insert(withRecord.end(), record.begin(), record.end());
    seeds.push_back({"record-" + std::to_string(capacity), withRecord});
    std::vector<std::uint8_t> withDevmode{capacity};
    withDevmode.insert(withDevmode.end(), devmode.begin(), devmode.end());
    seeds.push_back({"devmode-" + std::to_string(capacity), withDevmode});
  }
  return seeds;
}

VELMORA_FUZZ_TARGET(settings_record, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz
