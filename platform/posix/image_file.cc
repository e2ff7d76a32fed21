// Image files on POSIX: reading a whole file, choosing its decoder, saving turned copies.
#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/environment.h"
#include "platform/image.h"
#include "platform/posix/image_codecs.h"
#include "platform/text_encoding.h"

namespace velmora::platform {
namespace {

// The whole file, or nullopt when it cannot be read. Files larger than any image we
// accept are refused before they are read.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const WString& path) {
  constexpr long kMaxFileSize = 1L << 30;
  std::FILE* file = OpenFileW(path, "rb");
  if (file == nullptr) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bool ok = std::fseek(file, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(file) : -1;
  ok = ok && size >= 0 && size <= kMaxFileSize && std::fseek(file, 0, SEEK_SET) == 0;
  if (ok) {
    bytes.resize(static_cast<std::size_t>(size));
    ok = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
  }
  std::fclose(file);
  if (!ok) return std::nullopt;
  return bytes;
}

bool WriteWholeFile(const WString& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = OpenFileW(path, "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

}  // namespace

namespace posix {

std::optional<Image> DecodeImage(std::span<const std::uint8_t> file) {
  if (file.size() < 4) return std::nullopt;
  if (file[0] == 'B' && file[1] == 'M') return DecodeBmp(file);
  if (file[0] == 0x89 && file[1] == 'P') return DecodePng(file);
  if (file[0] == 0xFF && file[1] == 0xD8) return DecodeJpeg(file);
  if (file[0] == 'G' && file[1] == 'I') return DecodeGif(file);
  if (file[0] == 'I' || file[0] == 'M') return DecodeTiff(file);
  return std::nullopt;
}

}  // namespace posix

std::optional<Image> LoadImageFile(const WString& path) {
  const std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  return posix::DecodeImage(*bytes);
}

bool SaveTurnedCopy(const WString& source, const WString& target) {
  const std::optional<Image> image = LoadImageFile(source);
  if (!image) return false;
  const std::vector<std::uint8_t> bytes = posix::EncodeBmp(TurnQuarterCounterClockwise(*image));
  if (bytes.empty()) return false;
  return WriteWholeFile(target, bytes);
}

bool RemoveFileW(const WString& path) { return std::remove(Utf16ToUtf8(path).c_str()) == 0; }

}  // namespace velmora::platform
