// Fuzz target: the PCL XL reader over whole jobs and over binary parts in either byte
// order, the dump listing built on it, and the in-place scanner the print host reads
// pages with, reading back the operators it found through their tags.
#include <span>
#include <sstream>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "host/pxl_encoder.h"
#include "pxl/dump.h"
#include "pxl/reader.h"
#include "pxl/scan.h"

namespace velmora::fuzz {
namespace {

void ReadAll(pxl::Reader reader) {
  std::size_t events = 0;
  while (auto event = reader.Next()) {
    if (event->kind == pxl::EventKind::kOperator) (void)pxl::FormatEvent(*event);
    ++events;
  }
  if (reader.error()) (void)reader.error()->ToString();
}

void Scan(std::span<const std::uint8_t> part, pxl::ByteOrder order) {
  pxl::OperatorScanner scanner(part, order);
  pxl::TagMarks tags;
  std::vector<std::size_t> starts;
  const auto visit = [](const pxl::AttributeView& attribute) {
    (void)attribute.ToValue();
    (void)attribute.Bytes();
    (void)attribute.Code(0);
  };
  for (pxl::ScannedOperator op; scanner.Next(op);) {
    op.ForEachAttribute(visit);
    tags.Mark(op.tag);
    starts.push_back(op.start);
  }
  if (scanner.error()) (void)scanner.error()->ToString();
  for (const std::size_t start : starts) pxl::OperatorAt(part, tags, start, order).ForEachAttribute(visit);
}

void Entry(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> job(data, size);
  ReadAll(pxl::Reader(job));
  ReadAll(pxl::Reader::Binary(job, pxl::ByteOrder::kLittleEndian));
  ReadAll(pxl::Reader::Binary(job, pxl::ByteOrder::kBigEndian));
  Scan(job, pxl::ByteOrder::kLittleEndian);
  Scan(job, pxl::ByteOrder::kBigEndian);
  std::ostringstream listing;
  pxl::Dump(job, listing);
}

std::vector<Seed> Seeds() {
  const std::string header = "\x1b%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE=PCLXL\r\n) HP-PCL XL;2;1;Comment\n";
  host::PxlEncoder page;
  page.UByte(0, pxl::Attr::Measure)
      .UInt16Xy(600, 600, pxl::Attr::UnitsPerMeasure)
      .Operator(pxl::Op::BeginSession)
      .Operator(pxl::Op::OpenDataSource)
      .UByte(1, pxl::Attr::Orientation)
      .Operator(pxl::Op::BeginPage)
      .SInt16Box(10, 20, 300, 400, pxl::Attr::BoundingBox)
      .Operator(pxl::Op::Rectangle)
      .Real32Xy(1.5f, -2.25f, pxl::Attr::Point)
      .Operator(pxl::Op::SetCursor)
      .UByteArray(Bytes("Courier"), pxl::Attr::FontName)
      .Operator(pxl::Op::SetFont)
      .Data(Bytes("embedded data block"))
      .Operator(pxl::Op::EndPage)
      .Operator(pxl::Op::CloseDataSource)
      .Operator(pxl::Op::EndSession);
  std::vector<std::uint8_t> job = Bytes(header);
  const auto& body = page.bytes();
  job.insert(job.end(), body.begin(), body.end());
  const auto trailer = Bytes("\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X");
  job.insert(job.end(), trailer.begin(), trailer.end());
  return {{"job", job}, {"binary-part", body}, {"big-endian-header", Bytes("(HP-PCL XL;2;0\n\xC0\x01\xF8\x86\x41")}};
}

VELMORA_FUZZ_TARGET(pxl_reader, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz
