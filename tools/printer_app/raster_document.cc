// Raster pages written as a PDF document: one page object a raster page, its image a
// grey-scale XObject compressed with RunLengthDecode.
#include "tools/printer_app/raster_document.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velmora::printer_app {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", value);
  return text;
}

// The catalogue and the page tree come first; pages follow from here.
constexpr unsigned kCatalog = 1;
constexpr unsigned kPageTree = 2;

}  // namespace

void EncodeRunLength(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
  std::size_t i = 0;
  while (i < data.size()) {
    std::size_t run = 1;
    while (i + run < data.size() && run < 128 && data[i + run] == data[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<std::uint8_t>(257 - run));
      out.push_back(data[i]);
      i += run;
      continue;
    }
    // A literal stretch ends where a run of two or more begins.
    std::size_t literal = 1;
    while (i + literal < data.size() && literal < 128 &&
           !(i + literal + 1 < data.size() && data[i + literal] == data[i + literal + 1])) {
      ++literal;
    }
    out.push_back(static_cast<std::uint8_t>(literal - 1));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(i),
               data.begin() + static_cast<std::ptrdiff_t>(i + literal));
    i += literal;
  }
}

RasterDocument::RasterDocument(std::string path) : path_(std::move(path)) {
  file_ = std::fopen(path_.c_str(), "wb");
  if (file_ == nullptr) throw std::runtime_error("Unable to create '" + path_ + "': " + std::strerror(errno));
  Write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  offsets_.assign(kPageTree + 1, 0);
}

RasterDocument::~RasterDocument() {
  if (file_ != nullptr) std::fclose(file_);
}

void RasterDocument::Write(const void* data, std::size_t size) {
  if (size == 0) return;
  if (std::fwrite(data, 1, size, file_) != size) failed_ = true;
  offset_ += static_cast<long>(size);
}

void RasterDocument::BeginObject(unsigned number) {
  if (offsets_.size() <= number) offsets_.resize(number + 1, 0);
  offsets_[number] = offset_;
  Write(std::to_string(number) + " 0 obj\n");
}

void RasterDocument::StartPage(const RasterPage& page) {
  page_ = page;
  linesWritten_ = 0;
  grey_.assign(page.width, 255);
  encoded_.clear();
}

void RasterDocument::WriteLine(std::span<const std::uint8_t> line) {
  if (linesWritten_ >= page_.height) return;
  grey_.assign(page_.width, 255);
  for (unsigned x = 0; x < page_.width; ++x) {
    switch (page_.bitsPerPixel) {
      case 1:
        if (x / 8 < line.size() && (line[x / 8] & (0x80u >> (x % 8))) != 0) grey_[x] = 0;
        break;
      case 8:
        if (x < line.size()) grey_[x] = line[x];
        break;
      case 24:
        if (3 * x + 2 < line.size()) {
          // The luminance of sRGB, in whole numbers.
          grey_[x] =
              static_cast<std::uint8_t>((299u * line[3 * x] + 587u * line[3 * x + 1] + 114u * line[3 * x + 2]) / 1000u);
        }
        break;
      default: break;
    }
  }
  EncodeRunLength(grey_, encoded_);
  ++linesWritten_;
}

void RasterDocument::EndPage() {
  if (page_.width == 0 || page_.height == 0) return;  // nothing to show, and no valid image
  // Lines the raster did not send are white.
  grey_.assign(page_.width, 255);
  while (linesWritten_ < page_.height) {
    EncodeRunLength(grey_, encoded_);
    ++linesWritten_;
  }
  encoded_.push_back(128);  // end of data

  const unsigned image = static_cast<unsigned>(offsets_.size());
  BeginObject(image);
  Write("<< /Type /XObject /Subtype /Image /Width " + std::to_string(page_.width) + " /Height " +
        std::to_string(page_.height) + " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /RunLengthDecode" +
        " /Length " + std::to_string(encoded_.size()) + " >>\nstream\n");
  Write(encoded_.data(), encoded_.size());
  Write("\nendstream\nendobj\n");

  const std::string content =
      "q " + Number(page_.widthPoints) + " 0 0 " + Number(page_.heightPoints) + " 0 0 cm /Im0 Do Q\n";
  const unsigned contents = image + 1;
  BeginObject(contents);
  Write("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream\nendobj\n");

  const unsigned pageObject = contents + 1;
  BeginObject(pageObject);
  Write("<< /Type /Page /Parent " + std::to_string(kPageTree) + " 0 R /MediaBox [0 0 " + Number(page_.widthPoints) +
        " " + Number(page_.heightPoints) + "] /Resources << /XObject << /Im0 " + std::to_string(image) +
        " 0 R >> >> /Contents " + std::to_string(contents) + " 0 R >>\nendobj\n");
  pageObjects_.push_back(pageObject);
  ++pages_;
  encoded_.clear();
  encoded_.shrink_to_fit();
}

void RasterDocument::Finish() {
  std::string kids;
  for (unsigned page : pageObjects_) kids += std::to_string(page) + " 0 R ";
  BeginObject(kPageTree);
  Write("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pageObjects_.size()) + " >>\nendobj\n");
  BeginObject(kCatalog);
  Write("<< /Type /Catalog /Pages " + std::to_string(kPageTree) + " 0 R >>\nendobj\n");

  const long xref = offset_;
  Write("xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n");
  for (std::size_t number = 1; number < offsets_.size(); ++number) {
    char entry[24];
    std::snprintf(entry, sizeof(entry), "%010ld 00000 n \n", offsets_[number]);
    Write(entry, 20);
  }
  Write("trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root " + std::to_string(kCatalog) +
        " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (failed_ || !closed) throw std::runtime_error("Unable to write '" + path_ + "': " + std::strerror(errno));
}

}  // namespace velmora::printer_app
