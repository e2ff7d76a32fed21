// Image files on Windows through the GDI+ flat interface.
//
// GDI+ is started for the duration of each call, so that the plug-in never depends on
// who else in the process has started it.
#include "platform/image.h"

#include <objidl.h>
// gdiplus.h uses min and max without defining them; NOMINMAX is set by platform/types.h.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "platform/environment.h"

namespace velmora::platform {
namespace {

namespace gp = Gdiplus;
namespace flat = Gdiplus::DllExports;

class GdiplusSession {
 public:
  GdiplusSession() {
    gp::GdiplusStartupInput input;
    started_ = gp::GdiplusStartup(&token_, &input, nullptr) == gp::Ok;
  }
  ~GdiplusSession() {
    if (started_) gp::GdiplusShutdown(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  bool started() const { return started_; }

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

// Owns one GDI+ image.
class ImageHandle {
 public:
  ImageHandle() = default;
  ~ImageHandle() {
    if (image_ != nullptr) flat::GdipDisposeImage(image_);
  }
  ImageHandle(const ImageHandle&) = delete;
  ImageHandle& operator=(const ImageHandle&) = delete;
  gp::GpImage** out() { return &image_; }
  gp::GpImage* get() const { return image_; }

 private:
  gp::GpImage* image_ = nullptr;
};

// The depth we keep for a GDI+ pixel format, and the format we lock the bits in.
struct Layout {
  unsigned bits;
  gp::PixelFormat lockFormat;
};

Layout LayoutFor(gp::PixelFormat format) {
  switch (format) {
    case PixelFormat1bppIndexed: return {1, format};
    case PixelFormat4bppIndexed: return {4, format};
    case PixelFormat8bppIndexed: return {8, format};
    case PixelFormat16bppARGB1555: return {16, format};
    // Every other format, 32-bit, 48- and 64-bit and the other 16-bit layouts included,
    // is read as 24-bit RGB, which the grey conversion defines.
    default: return {24, PixelFormat24bppRGB};
  }
}

// True when GDI+ read the image from grey samples but hands it over in a colour format.
// Wine's GDI+ does so with grey PNG files of every depth, where GDI+ keeps other grey
// files as indices into a grey palette, as the POSIX loader keeps grey PNG files (grey
// with alpha both read as colour). Taken as colour, such an image would be turned grey
// twice on its way into a watermark (as a picture, then row by row) and print a level
// darker than the same file does elsewhere; it is read as grey indices instead.
bool GreyReadAsColour(gp::GpImage* image, gp::PixelFormat format) {
  UINT flags = 0;
  return LayoutFor(format).bits == 24 && flat::GdipGetImageFlags(image, &flags) == gp::Ok &&
         (flags & gp::ImageFlagsColorSpaceGRAY) != 0;
}

// The 8-bit indices into the 256-level grey palette of a 24-bit image whose pixels are grey.
std::optional<Image> GreyIndexes(const Image& colour) {
  std::optional<Image> grey = Image::Blank(colour.width, colour.height, 8);
  if (!grey) return std::nullopt;
  for (std::uint32_t y = 0; y < colour.height; ++y) {
    const std::span<const std::uint8_t> from = colour.Row(y);
    const std::span<std::uint8_t> to = grey->Row(y);
    for (std::uint32_t x = 0; x < colour.width; ++x) to[x] = from[std::size_t{x} * 3 + 1];
  }
  for (unsigned level = 0; level < 256; ++level) {
    const auto value = static_cast<std::uint8_t>(level);
    grey->palette.push_back({value, value, value});
  }
  return grey;
}

// A GDI+ copy of an 8-bit indexed image with its palette.
bool IndexedBitmap(Image& image, ImageHandle& copy) {
  gp::GpBitmap* view = nullptr;
  if (flat::GdipCreateBitmapFromScan0(static_cast<INT>(image.width), static_cast<INT>(image.height),
                                      static_cast<INT>(image.stride), PixelFormat8bppIndexed, image.pixels.data(),
                                      &view) != gp::Ok) {
    return false;
  }
  ImageHandle viewHandle;
  *viewHandle.out() = view;
  std::vector<std::uint8_t> buffer(sizeof(gp::ColorPalette) + image.palette.size() * sizeof(gp::ARGB));
  auto* palette = reinterpret_cast<gp::ColorPalette*>(buffer.data());
  palette->Flags = gp::PaletteFlagsGrayScale;
  palette->Count = static_cast<UINT>(image.palette.size());
  for (std::size_t i = 0; i < image.palette.size(); ++i) {
    const Rgb& colour = image.palette[i];
    palette->Entries[i] =
        0xFF000000u | std::uint32_t{colour.red} << 16 | std::uint32_t{colour.green} << 8 | colour.blue;
  }
  // The copy owns its pixels; the view only borrows the image's.
  return flat::GdipSetImagePalette(view, palette) == gp::Ok && flat::GdipCloneImage(view, copy.out()) == gp::Ok;
}

// Whether the file states more pixels than kMaxPixels. GDI+ may decode a picture whole
// before it tells its size (Wine's does as it opens the file), so the header is read
// first, as the POSIX decoders read theirs: a grey PNG of a few hundred kilobytes that
// states 20000 x 20000 pixels would otherwise take gigabytes. A file larger than any
// image we accept (1 GiB, as on POSIX) counts as too large; one whose header is not read
// here is left to GDI+, and to the limit of Image::Blank.
bool StatesTooManyPixels(const WString& path) {
  constexpr long long kMaxFileSize = 1LL << 30;
  std::FILE* file = OpenFileW(path, "rb");
  if (file == nullptr) return false;  // GDI+ fails on it too, in its own way
  std::vector<std::uint8_t> bytes;
  // 64-bit offsets: a long holds 32 bits on Windows, too few for a file of 2 GiB or more.
  bool ok = ::_fseeki64(file, 0, SEEK_END) == 0;
  const long long size = ok ? ::_ftelli64(file) : -1;
  const bool tooLarge = size > kMaxFileSize;
  ok = ok && size >= 0 && !tooLarge && ::_fseeki64(file, 0, SEEK_SET) == 0;
  if (ok) {
    bytes.resize(static_cast<std::size_t>(size));
    ok = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
  }
  std::fclose(file);
  if (tooLarge) return true;
  if (!ok) return false;
  const std::optional<StatedSize> stated = StatedImageSize(bytes);
  return stated && std::uint64_t{stated->width} * stated->height > kMaxPixels;
}

bool FindBitmapEncoder(CLSID& encoder) {
  UINT count = 0;
  UINT size = 0;
  if (flat::GdipGetImageEncodersSize(&count, &size) != gp::Ok || size == 0) return false;
  std::vector<std::uint8_t> buffer(size);
  auto* codecs = reinterpret_cast<gp::ImageCodecInfo*>(buffer.data());
  if (flat::GdipGetImageEncoders(count, size, codecs) != gp::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType != nullptr && std::wcscmp(codecs[i].MimeType, L"image/bmp") == 0) {
      encoder = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<Image> LoadImageFile(const WString& path) {
  if (StatesTooManyPixels(path)) return std::nullopt;
  GdiplusSession session;
  if (!session.started()) return std::nullopt;
  ImageHandle bitmap;
  if (flat::GdipCreateBitmapFromFile(path.c_str(), reinterpret_cast<gp::GpBitmap**>(bitmap.out())) != gp::Ok) {
    return std::nullopt;
  }
  UINT width = 0;
  UINT height = 0;
  gp::PixelFormat format = 0;
  if (flat::GdipGetImageWidth(bitmap.get(), &width) != gp::Ok ||
      flat::GdipGetImageHeight(bitmap.get(), &height) != gp::Ok ||
      flat::GdipGetImagePixelFormat(bitmap.get(), &format) != gp::Ok) {
    return std::nullopt;
  }
  const Layout layout = LayoutFor(format);
  std::optional<Image> image = Image::Blank(width, height, layout.bits);
  if (!image || width == 0 || height == 0) return std::nullopt;

  // GDI+ lends its own rows and we copy each one. Locking into our buffer instead
  // (ImageLockModeUserInputBuf) loses the last pixels of 1- and 4-bit rows whose width
  // ends inside a byte under some GDI+ implementations (Wine's).
  gp::BitmapData data{};
  const gp::GpRect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  if (flat::GdipBitmapLockBits(reinterpret_cast<gp::GpBitmap*>(bitmap.get()), &whole, gp::ImageLockModeRead,
                               layout.lockFormat, &data) != gp::Ok) {
    return std::nullopt;
  }
  const std::size_t rowBytes = (std::size_t{width} * layout.bits + 7) / 8;
  const auto* scan0 = static_cast<const std::uint8_t*>(data.Scan0);
  for (std::uint32_t y = 0; y < height; ++y) {
    // The stride is negative for rows GDI+ holds from the bottom up.
    const std::uint8_t* row = scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride;
    std::memcpy(image->Row(y).data(), row, rowBytes);
  }
  flat::GdipBitmapUnlockBits(reinterpret_cast<gp::GpBitmap*>(bitmap.get()), &data);
  if (GreyReadAsColour(bitmap.get(), format)) return GreyIndexes(*image);

  if (layout.bits <= 8) {
    INT paletteSize = 0;
    if (flat::GdipGetImagePaletteSize(bitmap.get(), &paletteSize) == gp::Ok && paletteSize > 0) {
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(paletteSize));
      auto* palette = reinterpret_cast<gp::ColorPalette*>(buffer.data());
      if (flat::GdipGetImagePalette(bitmap.get(), palette, paletteSize) == gp::Ok) {
        for (UINT i = 0; i < palette->Count; ++i) {
          const gp::ARGB colour = palette->Entries[i];
          image->palette.push_back({static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                                    static_cast<std::uint8_t>(colour)});
        }
      }
    }
  }
  // GDI+ may leave the bytes after a row's pixels as they were; ours are zero already,
  // but a 1- or 4-bit row's last byte can carry stray bits after its last pixel.
  const std::size_t used = (std::size_t{width} * layout.bits + 7) / 8;
  const unsigned spare = static_cast<unsigned>(used * 8 - std::size_t{width} * layout.bits);
  for (std::uint32_t y = 0; y < height && spare != 0; ++y) {
    image->Row(y)[used - 1] = static_cast<std::uint8_t>(image->Row(y)[used - 1] & (0xFF << spare));
  }
  return image;
}

bool SaveTurnedCopy(const WString& source, const WString& target) {
  if (StatesTooManyPixels(source)) return false;
  GdiplusSession session;
  if (!session.started()) return false;
  ImageHandle original;
  if (flat::GdipLoadImageFromFile(source.c_str(), original.out()) != gp::Ok) return false;
  gp::PixelFormat format = 0;
  if (flat::GdipGetImagePixelFormat(original.get(), &format) != gp::Ok) return false;
  ImageHandle clone;
  if (GreyReadAsColour(original.get(), format)) {
    // Turned as grey indices, the copy reads back as the original file does.
    std::optional<Image> grey = LoadImageFile(source);
    if (!grey || !IndexedBitmap(*grey, clone)) return false;
  } else if (flat::GdipCloneImage(original.get(), clone.out()) != gp::Ok) {
    return false;
  }
  if (flat::GdipImageRotateFlip(clone.get(), gp::Rotate270FlipNone) != gp::Ok) return false;
  CLSID encoder{};
  if (!FindBitmapEncoder(encoder)) return false;
  return flat::GdipSaveImageToFile(clone.get(), target.c_str(), &encoder, nullptr) == gp::Ok;
}

bool RemoveFileW(const WString& path) { return ::DeleteFileW(path.c_str()) != 0; }

}  // namespace velmora::platform
