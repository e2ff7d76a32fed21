// The vendor object's final-data search, measured against library scans of the same bytes.
//
// Every buffer of a job passes through the final-data path on its way to the spooler, so
// its searches must cost about what a plain scan of the bytes costs. Each pass of the
// plug-in runs over 64 MiB of job-like data and is compared with two baselines over the
// same bytes in the same run: memchr counting the key's first byte to the end (the
// cheapest scan that still looks at every candidate) and glibc memmem for the whole key.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/job_like_data.h"
#include "bench/ratio_reporter.h"
#include "formats/vendor_devmode.h"
#include "src/job/unidrv_interface.h"

namespace velmora::bench {
namespace {

constexpr std::size_t kDataSize = std::size_t{64} << 20;
constexpr std::uint64_t kSeed = 0x5045584C20313936ull;
// One font selection with the planted font name in every 256 KiB of the second data set.
constexpr std::size_t kFontSpacing = 256 * 1024;
// The size of the buffers the host hands to the final-data path.
constexpr DWORD kHostBufferSize = 16 * 1024;

// The bytes every benchmark reads. The font set is the plain set with the font key
// planted; the plain set holds neither key, so a search for either scans it to the end.
struct DataSets {
  std::vector<std::uint8_t> plain;
  std::vector<std::uint8_t> fonts;
  std::vector<std::size_t> fontKeyOffsets;
  // Why the data cannot be measured, or empty.
  std::string problem;
};

DataSets& Data() {
  static DataSets data;
  return data;
}

std::size_t CountByte(const std::vector<std::uint8_t>& bytes, std::uint8_t value) {
  std::size_t count = 0;
  const std::uint8_t* at = bytes.data();
  const std::uint8_t* const end = bytes.data() + bytes.size();
  while (at < end) {
    at = static_cast<const std::uint8_t*>(std::memchr(at, value, static_cast<std::size_t>(end - at)));
    if (at == nullptr) break;
    ++count;
    ++at;
  }
  return count;
}

std::size_t CountKey(const std::vector<std::uint8_t>& bytes, std::string_view key) {
  std::size_t count = 0;
  const std::uint8_t* at = bytes.data();
  const std::uint8_t* const end = bytes.data() + bytes.size();
  while (at < end) {
    at = static_cast<const std::uint8_t*>(memmem(at, static_cast<std::size_t>(end - at), key.data(), key.size()));
    if (at == nullptr) break;
    ++count;
    ++at;
  }
  return count;
}

// Every match of the vendor object's search, found by restarting it after each match.
std::size_t CountVendorMatches(const std::vector<std::uint8_t>& bytes, std::string_view key) {
  CUnidrvInterface vendor;
  vendor.SetSearchKey(std::string(key).c_str());
  std::size_t count = 0;
  std::size_t from = 0;
  while (from < bytes.size()) {
    const std::int32_t index =
        vendor.GetSearchKeyStringIndex(bytes.data() + from, static_cast<DWORD>(bytes.size() - from));
    if (index == SEARCH_KEY_STRING_NOT_FOUND) break;
    ++count;
    from += static_cast<std::size_t>(index) + 1;
  }
  return count;
}

// Builds the data and checks that the plug-in and the baselines agree on it, so that
// every ratio compares the same work.
void PrepareData() {
  DataSets& data = Data();
  data.plain = MakeJobLikeData(kDataSize, kSeed);
  data.fonts = data.plain;
  data.fontKeyOffsets = PlantKey(data.fonts, kFontKey, kFontSpacing);

  for (const std::string_view key : {kFontKey, kOverlayKey}) {
    if (CountKey(data.plain, key) != 0 || CountVendorMatches(data.plain, key) != 0) {
      data.problem = "the plain data holds the key " + std::string(key);
      return;
    }
  }
  const std::size_t planted = data.fontKeyOffsets.size();
  if (CountKey(data.fonts, kFontKey) != planted || CountVendorMatches(data.fonts, kFontKey) != planted) {
    data.problem = "the font data holds other matches than the planted ones";
    return;
  }
  // The rewriting pass must mark exactly the planted names; then they are put back.
  CUnidrvInterface vendor;
  vendor.SetSearchKey(std::string(kFontKey).c_str());
  vendor.ReplaceFontNameIfFound(data.fonts.data(), static_cast<DWORD>(data.fonts.size()));
  const bool allMarked = std::all_of(data.fontKeyOffsets.begin(), data.fontKeyOffsets.end(),
                                     [&](std::size_t at) { return data.fonts[at] == 'C'; });
  for (const std::size_t at : data.fontKeyOffsets) data.fonts[at] = static_cast<std::uint8_t>(kFontKey[0]);
  if (!allMarked || CountKey(data.fonts, kFontKey) != planted) {
    data.problem = "the rewriting pass did not mark every planted font name";
    return;
  }

  std::printf("Job-like data: %zu MiB; '%%' every %.0f bytes, 'M' every %.0f bytes; %zu font names planted.\n",
              kDataSize >> 20, MeanDistance(data.plain, '%'), MeanDistance(data.plain, 'M'), planted);
  std::fflush(stdout);
}

enum class Set { kPlain, kFonts };

std::vector<std::uint8_t>& Bytes(Set set) { return set == Set::kPlain ? Data().plain : Data().fonts; }

// Skips the benchmark when the data failed its checks; true when it may run.
bool DataUsable(benchmark::State& state) {
  if (Data().problem.empty()) return true;
  state.SkipWithError(Data().problem.c_str());
  return false;
}

void ReportBytes(benchmark::State& state, const std::vector<std::uint8_t>& bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}

void BaselineMemchr(benchmark::State& state, Set set, char first) {
  if (!DataUsable(state)) return;
  const auto& bytes = Bytes(set);
  for (auto _ : state) benchmark::DoNotOptimize(CountByte(bytes, static_cast<std::uint8_t>(first)));
  ReportBytes(state, bytes);
}

void BaselineMemmem(benchmark::State& state, Set set, std::string_view key) {
  if (!DataUsable(state)) return;
  const auto& bytes = Bytes(set);
  for (auto _ : state) benchmark::DoNotOptimize(CountKey(bytes, key));
  ReportBytes(state, bytes);
}

void SearchKeyStringIndex(benchmark::State& state, Set set, std::string_view key) {
  if (!DataUsable(state)) return;
  const auto& bytes = Bytes(set);
  CUnidrvInterface vendor;
  vendor.SetSearchKey(std::string(key).c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(vendor.GetSearchKeyStringIndex(bytes.data(), static_cast<DWORD>(bytes.size())));
  }
  ReportBytes(state, bytes);
}

void ReplaceFontName(benchmark::State& state) {
  if (!DataUsable(state)) return;
  auto& bytes = Bytes(Set::kFonts);
  CUnidrvInterface vendor;
  vendor.SetSearchKey(std::string(kFontKey).c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(vendor.ReplaceFontNameIfFound(bytes.data(), static_cast<DWORD>(bytes.size())));
    benchmark::ClobberMemory();
    // Put the planted names back, so that every pass rewrites the same matches.
    state.PauseTiming();
    for (const std::size_t at : Data().fontKeyOffsets) bytes[at] = static_cast<std::uint8_t>(kFontKey[0]);
    state.ResumeTiming();
  }
  ReportBytes(state, bytes);
}

// The whole final-data path as the host drives it: the job in host-sized buffers.
void FinalDataPath(benchmark::State& state) {
  if (!DataUsable(state)) return;
  auto& bytes = Bytes(Set::kPlain);
  CUnidrvInterface vendor;
  std::array<std::uint8_t, kVendorRecordSize> record{};
  StampVendorHeader(record.data());
  FillVendorDefaults(record.data() + kVendorHeaderSize);
  // A capture job waiting for its begin marker: every buffer gets the font-name pass and
  // the marker search, the whole work of the final-data path.
  VendorSettings(record.data() + kVendorHeaderSize).set_dwOverlayMode(CREATE_OVERLAY);
  DEVMODEW devmode{};
  devmode.dmSize = sizeof(DEVMODEW);
  DEVOBJ device{};
  device.dwSize = sizeof device;
  device.pPublicDM = &devmode;
  device.pOEMDM = record.data();
  VendorData area{};
  ClearVendorData(area);
  for (auto _ : state) {
    for (std::size_t at = 0; at < bytes.size(); at += kHostBufferSize) {
      const DWORD size = static_cast<DWORD>(std::min<std::size_t>(kHostBufferSize, bytes.size() - at));
      benchmark::DoNotOptimize(
          vendor.ModifyFinalPrintData(&device, record.data() + kVendorHeaderSize, &area, bytes.data() + at, size));
    }
  }
  ReportBytes(state, bytes);
}

// Baselines register before what they are compared with, so the ratios can be shown
// next to each measurement.
void RegisterBenchmarks() {
  benchmark::RegisterBenchmark("Memchr/M/absent", BaselineMemchr, Set::kPlain, 'M');
  benchmark::RegisterBenchmark("Memmem/MS_PCLXLFont/absent", BaselineMemmem, Set::kPlain, kFontKey);
  benchmark::RegisterBenchmark("GetSearchKeyStringIndex/MS_PCLXLFont/absent", SearchKeyStringIndex, Set::kPlain,
                               kFontKey);
  benchmark::RegisterBenchmark("Memchr/percent/absent", BaselineMemchr, Set::kPlain, '%');
  benchmark::RegisterBenchmark("Memmem/OVL_PCLXL_BEGIN/absent", BaselineMemmem, Set::kPlain, kOverlayKey);
  benchmark::RegisterBenchmark("GetSearchKeyStringIndex/OVL_PCLXL_BEGIN/absent", SearchKeyStringIndex, Set::kPlain,
                               kOverlayKey);
  benchmark::RegisterBenchmark("ModifyFinalPrintData/16KiB_buffers", FinalDataPath);
  benchmark::RegisterBenchmark("Memchr/M/present", BaselineMemchr, Set::kFonts, 'M');
  benchmark::RegisterBenchmark("Memmem/MS_PCLXLFont/present", BaselineMemmem, Set::kFonts, kFontKey);
  benchmark::RegisterBenchmark("ReplaceFontNameIfFound/MS_PCLXLFont/present", ReplaceFontName);
}

std::vector<Comparison> Comparisons() {
  return {
      {"GetSearchKeyStringIndex(\"MS PCLXLFont\", absent)",
       "GetSearchKeyStringIndex/MS_PCLXLFont/absent",
       {{"memchr", "Memchr/M/absent"}, {"memmem", "Memmem/MS_PCLXLFont/absent"}}},
      {"GetSearchKeyStringIndex(\"%%OVL_PCLXL_BEGIN\", absent)",
       "GetSearchKeyStringIndex/OVL_PCLXL_BEGIN/absent",
       {{"memchr", "Memchr/percent/absent"}, {"memmem", "Memmem/OVL_PCLXL_BEGIN/absent"}}},
      {"ReplaceFontNameIfFound(\"MS PCLXLFont\", 256 present)",
       "ReplaceFontNameIfFound/MS_PCLXLFont/present",
       {{"memchr", "Memchr/M/present"}, {"memmem", "Memmem/MS_PCLXLFont/present"}}},
      // The final-data path's search is for the overlay's begin marker.
      {"ModifyFinalPrintData(16 KiB buffers)",
       "ModifyFinalPrintData/16KiB_buffers",
       {{"memchr", "Memchr/percent/absent"}, {"memmem", "Memmem/OVL_PCLXL_BEGIN/absent"}}},
  };
}

}  // namespace
}  // namespace velmora::bench

int main(int argc, char** argv) {
  using namespace velmora;
  const int status = bench::RunComparedBenchmarks(
      argc, argv,
      [] {
        bench::PrepareData();
        bench::RegisterBenchmarks();
      },
      bench::Comparisons());
  if (status != 0) return status;
  // Data that failed its checks measured nothing; say so to the caller as well.
  if (!bench::Data().problem.empty()) {
    std::cerr << "final_data_search_bench: " << bench::Data().problem << "\n";
    return 1;
  }
  return 0;
}
