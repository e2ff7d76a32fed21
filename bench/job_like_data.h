// Deterministic job-like bytes for the final-data benchmarks.
//
// The buffer imitates what passes through the final-data path of a real job: a PJL
// header, the PCL XL stream header, then mostly binary attribute lists and operators,
// path points, raster and glyph data blocks and the odd font-name string. The bytes '%'
// and 'M' (the first bytes of the keys the plug-in searches for) turn up every few
// hundred bytes, and near-misses of both keys are sprinkled through it, so that a search
// does the work it does on a real job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace velmora::bench {

// The keys the benchmarks search for.
inline constexpr std::string_view kFontKey = "MS PCLXLFont";
inline constexpr std::string_view kOverlayKey = "%%OVL_PCLXL_BEGIN";

// Returns `size` bytes of job-like data. The same seed always gives the same bytes.
// Neither key occurs in it, in any letter case; near-misses of both do.
std::vector<std::uint8_t> MakeJobLikeData(std::size_t size, std::uint64_t seed);

// Writes `key` into `bytes` once in every `spacing` bytes, as the value of a font-name
// attribute, and returns the offsets of the key's first byte in ascending order.
std::vector<std::size_t> PlantKey(std::vector<std::uint8_t>& bytes, std::string_view key, std::size_t spacing);

// How often each byte value occurs: the mean distance between two occurrences of
// `value`, in bytes (the buffer's size when the value never occurs).
double MeanDistance(const std::vector<std::uint8_t>& bytes, std::uint8_t value);

}  // namespace velmora::bench
