// GIF files through giflib: the first picture on its logical screen, 8-bit indexed.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "platform/posix/image_codecs.h"

namespace velmora::platform::posix {
namespace {

struct Source {
  std::span<const std::uint8_t> file;
  std::size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* data, int length) {
  auto* source = static_cast<Source*>(gif->UserData);
  const std::size_t count =
      std::min(static_cast<std::size_t>(std::max(length, 0)), source->file.size() - source->position);
  std::memcpy(data, source->file.data() + source->position, count);
  source->position += count;
  return static_cast<int>(count);
}

}  // namespace

std::optional<Image> DecodeGif(std::span<const std::uint8_t> file) {
  if (file.size() < 6 || std::memcmp(file.data(), "GIF", 3) != 0) return std::nullopt;
  Source source{file};
  int error = 0;
  GifFileType* gif = DGifOpen(&source, ReadFromMemory, &error);
  if (gif == nullptr) return std::nullopt;
  std::optional<Image> image;
  if (DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0) {
    const SavedImage& frame = gif->SavedImages[0];
    const GifImageDesc& desc = frame.ImageDesc;
    const ColorMapObject* colours = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
    const auto width = static_cast<std::uint32_t>(std::max(gif->SWidth, 0));
    const auto height = static_cast<std::uint32_t>(std::max(gif->SHeight, 0));
    if (colours != nullptr && width != 0 && height != 0 && std::uint64_t{width} * height <= kMaxPixels) {
      // The screen starts in the background colour; the picture is drawn at its place
      // and clipped to the screen.
      std::vector<std::uint8_t> indexes(std::size_t{width} * height, static_cast<std::uint8_t>(gif->SBackGroundColor));
      for (int y = 0; y < desc.Height; ++y) {
        for (int x = 0; x < desc.Width; ++x) {
          const long screenX = long{desc.Left} + x;
          const long screenY = long{desc.Top} + y;
          if (screenX < 0 || screenY < 0 || screenX >= long{width} || screenY >= long{height}) continue;
          indexes[static_cast<std::size_t>(screenY) * width + static_cast<std::size_t>(screenX)] =
              frame.RasterBits[static_cast<std::size_t>(y) * static_cast<std::size_t>(desc.Width) +
                               static_cast<std::size_t>(x)];
        }
      }
      image = PackIndexes(width, height, 8, indexes);
      if (image) {
        for (int i = 0; i < colours->ColorCount; ++i) {
          image->palette.push_back({colours->Colors[i].Red, colours->Colors[i].Green, colours->Colors[i].Blue});
        }
      }
    }
  }
  DGifCloseFile(gif, &error);
  return image;
}

}  // namespace velmora::platform::posix
