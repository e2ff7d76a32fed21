// Damaged jobs: a realistic job cut at every byte and with every byte changed must
// never make the reader read outside the buffer, and whatever it reports before the
// damage must match what it reports for the intact job. The in-place scanner the print
// host reads pages with must find what the reader reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "pxl/reader.h"
#include "pxl/scan.h"
#include "tests/pxl_test_bytes.h"

namespace velmora::pxl {
namespace {

using testing::Bytes;
using testing::Job;
using testing::kUel;

// Two pages with paths, a user-defined stream, a font and text, an image, arrays with
// both length forms, embedded data with both length forms and a two-byte attribute id.
Bytes RealisticJob() {
  return Job({
      kUel,
      "@PJL JOB NAME=\"Robust\"\r\n",
      "@PJL SET RESOLUTION=600\r\n",
      "@PJL ENTER LANGUAGE=PCLXL\r\n",
      ") HP-PCL XL;3;0;Comment Velmora test\n",
      // BeginSession UnitsPerMeasure=(600, 600) Measure=eInch ErrorReport=eNoReporting
      {0xD1, 0x58, 0x02, 0x58, 0x02, 0xF8, 0x89, 0xC0, 0x00, 0xF8, 0x86, 0xC0, 0x00, 0xF8, 0x8F, 0x41},
      // OpenDataSource SourceType=0 DataOrg=eBinaryLowByteFirst
      {0xC0, 0x00, 0xF8, 0x88, 0xC0, 0x01, 0xF8, 0x82, 0x48},
      // Page 1: BeginPage, SetColorSpace, SetPageOrigin.
      {0xC0, 0x00, 0xF8, 0x28, 0xC0, 0x02, 0xF8, 0x25, 0xC0, 0x01, 0xF8, 0x26, 0x43},
      {0xC0, 0x01, 0xF8, 0x03, 0x6A},
      {0xD3, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x2A, 0x75},
      // BeginStream "Logo", ReadStream with five bytes of 1-byte-length data, EndStream.
      {0xC8, 0xC0, 0x04, 'L', 'o', 'g', 'o', 0xF8, 0x8B, 0x5B},
      {0xC2, 0x05, 0x00, 0x00, 0x00, 0xF8, 0x8C, 0x5C, 0xFB, 0x05, 0x61, 0x85, 0x60, 0x1B, 0x42},
      {0x5D},
      // NewPath, RectanglePath BoundingBox=[100 100 200 200], PaintPath.
      {0x85, 0xE1, 0x64, 0x00, 0x64, 0x00, 0xC8, 0x00, 0xC8, 0x00, 0xF8, 0x42, 0xA1, 0x86},
      // SetFont FontName="Courier" CharSize=12.0 SymbolSet=629.
      {0xC8, 0xC0, 0x07, 'C',  'o',  'u',  'r',  'i',  'e',  'r',  0xF8, 0xA8, 0xC5,
       0x00, 0x00, 0x40, 0x41, 0xF8, 0xA6, 0xC1, 0x75, 0x02, 0xF8, 0xAA, 0x6F},
      // Text with a uint16-length TextData and a sint16_array XSpacingData.
      {0xC8, 0xC1, 0x05, 0x00, 'H',  'e',  'l',  'l',  'o',  0xF8, 0xAB, 0xCB, 0xC0, 0x05,
       0x0A, 0x00, 0x0A, 0x00, 0x0A, 0x00, 0x0A, 0x00, 0x0A, 0x00, 0xF8, 0xAF, 0xA8},
      {0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44},
      // Page 2: BeginPage, an image read with 4-byte-length data.
      {0xC0, 0x01, 0xF8, 0x28, 0xC0, 0x02, 0xF8, 0x25, 0x43},
      {0xC0, 0x00, 0xF8, 0x64, 0xC0, 0x00, 0xF8, 0x62, 0xC1, 0x08, 0x00, 0xF8, 0x6C,
       0xC1, 0x02, 0x00, 0xF8, 0x6B, 0xD1, 0x20, 0x00, 0x08, 0x00, 0xF8, 0x67, 0xB0},
      {0xC1, 0x00, 0x00, 0xF8, 0x6D, 0xC1, 0x02, 0x00, 0xF8, 0x63, 0xC0, 0x00, 0xF8, 0x65,
       0xB1, 0xFA, 0x08, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x1B, 0x25, 0xC8, 0xF8, 0x41, 0xFA},
      {0xB2},
      // SetLineDash with a sint16_array; a vendor operator with a uint32_array under a
      // two-byte attribute id.
      {0xCB, 0xC0, 0x02, 0x05, 0x00, 0x05, 0x00, 0xF8, 0x4A, 0x70},
      {0xCA, 0xC1, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0xF9, 0x00, 0x10, 0x46},
      {0x44},
      {0x49, 0x42},
      kUel,
      "@PJL EOJ NAME=\"Robust\"\r\n",
      kUel,
  });
}

bool SameValue(const Value& a, const Value& b) { return a.tag == b.tag && a.elements == b.elements; }

bool SameEvent(const Event& a, const Event& b) {
  if (a.kind != b.kind || a.offset != b.offset || a.text != b.text || a.op != b.op || a.data_offset != b.data_offset ||
      a.data_length != b.data_length || a.attributes.size() != b.attributes.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.attributes.size(); ++i) {
    const Attribute& x = a.attributes[i];
    const Attribute& y = b.attributes[i];
    if (x.id != y.id || x.offset != y.offset || !SameValue(x.value, y.value)) return false;
  }
  return true;
}

// One past the last byte an event depends on (generous for text lines).
std::size_t EventEnd(const Event& event) {
  switch (event.kind) {
    case EventKind::kUel: return event.offset + kUel.size();
    case EventKind::kPjlLine:
    case EventKind::kStreamHeader: return event.offset + event.text.size() + 2;
    case EventKind::kOperator: return event.offset + 1;
    case EventKind::kEmbeddedData: return event.data_offset + event.data_length;
  }
  return event.offset;
}

// Every position the result names lies inside a buffer of `size` bytes.
void ExpectInside(const ParseResult& result, std::size_t size, const std::string& what) {
  for (const Event& event : result.events) {
    EXPECT_LT(event.offset, size) << what;
    EXPECT_LE(EventEnd(event) - (event.kind == EventKind::kPjlLine || event.kind == EventKind::kStreamHeader ? 2 : 0),
              size)
        << what;
    for (const Attribute& attribute : event.attributes) {
      EXPECT_LT(attribute.offset, event.offset) << what;
    }
  }
  if (result.error) {
    EXPECT_LE(result.error->offset, size) << what;
  }
}

// The events of `damaged` that end before `intactUpTo` are exactly those of `intact`.
void ExpectSamePrefix(const ParseResult& intact, const ParseResult& damaged, std::size_t intactUpTo,
                      const std::string& what) {
  std::size_t i = 0;
  for (; i < intact.events.size() && EventEnd(intact.events[i]) <= intactUpTo; ++i) {
    ASSERT_LT(i, damaged.events.size()) << what << ": event " << i << " missing";
    EXPECT_TRUE(SameEvent(intact.events[i], damaged.events[i])) << what << ": event " << i << " differs";
  }
}

TEST(PxlRobustness, TheIntactJobReadsCompletely) {
  const Bytes job = RealisticJob();
  const ParseResult result = Parse(job);
  ASSERT_TRUE(result.ok()) << result.error->ToString();

  std::vector<std::uint8_t> ops;
  std::vector<std::size_t> dataLengths;
  for (const Event& event : result.events) {
    if (event.kind == EventKind::kOperator) ops.push_back(event.op);
    if (event.kind == EventKind::kEmbeddedData) dataLengths.push_back(event.data_length);
  }
  const std::vector<std::uint8_t> expectedOps = {0x41, 0x48, 0x43, 0x6A, 0x75, 0x5B, 0x5C, 0x5D, 0x85, 0xA1, 0x86, 0x6F,
                                                 0xA8, 0x44, 0x43, 0xB0, 0xB1, 0xB2, 0x70, 0x46, 0x44, 0x49, 0x42};
  EXPECT_EQ(ops, expectedOps);
  EXPECT_EQ(dataLengths, (std::vector<std::size_t>{5, 8}));
  EXPECT_EQ(result.events.front().kind, EventKind::kUel);
  EXPECT_EQ(result.events.back().kind, EventKind::kUel);
  EXPECT_EQ(result.events[result.events.size() - 2].text, "@PJL EOJ NAME=\"Robust\"");
}

TEST(PxlRobustness, EveryCutStopsCleanlyAndKeepsWhatCameBefore) {
  const Bytes job = RealisticJob();
  const ParseResult intact = Parse(job);
  ASSERT_TRUE(intact.ok());
  std::size_t errors = 0;
  for (std::size_t cut = 0; cut <= job.size(); ++cut) {
    // A copy of exactly `cut` bytes, so that the sanitizers see any read past its end.
    const Bytes prefix(job.begin(), job.begin() + static_cast<std::ptrdiff_t>(cut));
    const ParseResult result = Parse(prefix);
    const std::string what = "cut at " + std::to_string(cut);
    ExpectInside(result, cut, what);
    ExpectSamePrefix(intact, result, cut, what);
    // A result without an error never holds more than the intact job has.
    EXPECT_LE(result.events.size(), intact.events.size()) << what;
    if (result.error) ++errors;
  }
  // Most cuts land inside a token or line; a reader that accepted them would be wrong.
  EXPECT_GT(errors, job.size() / 2);
}

TEST(PxlRobustness, EveryChangedByteStopsCleanlyAndKeepsWhatCameBefore) {
  const Bytes job = RealisticJob();
  const ParseResult intact = Parse(job);
  ASSERT_TRUE(intact.ok());
  for (std::size_t at = 0; at < job.size(); ++at) {
    const std::uint8_t original = job[at];
    const std::uint8_t replacements[] = {static_cast<std::uint8_t>(original ^ 0x01),
                                         static_cast<std::uint8_t>(original ^ 0x80),
                                         0x00,
                                         0xFF,
                                         0x1B,
                                         0xC9,
                                         0xFA,
                                         0xF8};
    for (std::uint8_t replacement : replacements) {
      if (replacement == original) continue;
      Bytes damaged = job;
      damaged[at] = replacement;
      const ParseResult result = Parse(damaged);
      const std::string what = "byte " + std::to_string(at) + " set to " + std::to_string(replacement);
      ExpectInside(result, damaged.size(), what);
      ExpectSamePrefix(intact, result, at, what);
    }
  }
}

// Over the job's binary stream cut at every byte, the scanner finds the reader's
// operators with their attributes and the data right after them, stops at the reader's
// first malformed token with its offset and cause, and says that the cut made it; the
// tags it finds read each operator back in place.
TEST(PxlRobustness, TheScannerFindsWhatTheReaderReads) {
  const Bytes job = RealisticJob();
  const std::string_view header = "Velmora test\n";
  const auto start = std::search(job.begin(), job.end(), header.begin(), header.end()) + header.size();
  const Bytes stream(start, job.end());
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    const Bytes part(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::string what = "cut at " + std::to_string(cut);
    std::vector<Event> ops;
    std::vector<std::size_t> ends;  // after each operator's data
    Reader reader = Reader::Binary(part, ByteOrder::kLittleEndian);
    bool uel = false;
    while (const std::optional<Event> event = reader.Next()) {
      if (event->kind == EventKind::kEmbeddedData) {
        ends.back() = event->data_offset + event->data_length;
        continue;
      }
      uel = event->kind == EventKind::kUel;
      if (uel) break;
      ops.push_back(*event);
      ends.push_back(event->offset + 1);
    }
    OperatorScanner scanner(part, ByteOrder::kLittleEndian);
    std::vector<ScannedOperator> scanned;
    TagMarks tags;
    for (ScannedOperator op; scanner.Next(op);) {
      const std::size_t i = scanned.size();
      ASSERT_LT(i, ops.size()) << what;
      EXPECT_EQ(op.code, ops[i].op) << what << ", operator " << i;
      EXPECT_EQ(op.tag, ops[i].offset) << what << ", operator " << i;
      EXPECT_EQ(op.end, ends[i]) << what << ", operator " << i;
      std::vector<std::pair<std::uint16_t, Value>> attributes;
      op.ForEachAttribute(
          [&](const AttributeView& attribute) { attributes.emplace_back(attribute.id(), attribute.ToValue()); });
      ASSERT_EQ(attributes.size(), ops[i].attributes.size()) << what << ", operator " << i;
      for (std::size_t a = 0; a < attributes.size(); ++a) {
        EXPECT_EQ(attributes[a].first, ops[i].attributes[a].id) << what << ", operator " << i;
        EXPECT_TRUE(SameValue(attributes[a].second, ops[i].attributes[a].value)) << what << ", operator " << i;
      }
      scanned.push_back(op);
      tags.Mark(op.tag);
    }
    EXPECT_EQ(scanner.atUel(), uel) << what;
    if (reader.error()) {
      // The reader may have taken the operator whose data the cut made short.
      EXPECT_GE(scanned.size() + 1, ops.size()) << what;
      ASSERT_TRUE(scanner.error().has_value()) << what;
      EXPECT_EQ(scanner.error()->offset, reader.error()->offset) << what;
      EXPECT_EQ(scanner.error()->cause, reader.error()->cause) << what;
      EXPECT_TRUE(scanner.cutShort()) << what;
    } else {
      EXPECT_FALSE(scanner.error().has_value()) << what << ": " << scanner.error()->ToString();
      EXPECT_EQ(scanned.size(), ops.size()) << what;
    }
    for (const ScannedOperator& op : scanned) {
      const ScannedOperator again = OperatorAt(part, tags, op.start, ByteOrder::kLittleEndian);
      EXPECT_EQ(std::tie(again.code, again.tag, again.end), std::tie(op.code, op.tag, op.end)) << what;
      EXPECT_TRUE(
          std::equal(again.attributes.begin(), again.attributes.end(), op.attributes.begin(), op.attributes.end()))
          << what;
    }
  }
}

}  // namespace
}  // namespace velmora::pxl
