// The PCL XL tokenizer: values, attribute lists, embedded data and every kind of malformed token.
#include "pxl/reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tests/pxl_test_bytes.h"

namespace velmora::pxl {
namespace {

using testing::Bytes;
using testing::Job;
using testing::kUel;

constexpr std::string_view kHeader = ") HP-PCL XL;2;0\n";  // 16 bytes

std::vector<double> Elements(std::initializer_list<double> values) { return values; }

TEST(PxlReader, ReadsPjlHeaderAndOperatorsWithTheirAttributes) {
  const Bytes job = Job({
      kUel,                                       // 0
      "@PJL JOB NAME=\"t\"\r\n",                  // 9
      "@PJL ENTER LANGUAGE=PCLXL\n",              // 28
      ") HP-PCL XL;2;1;Comment Velmora\n",        // 54
      {0xD1, 0x58, 0x02, 0x58, 0x02, 0xF8, 0x89,  // 86: UnitsPerMeasure (600, 600)
       0xC0, 0x00, 0xF8, 0x86,                    // 93: Measure eInch
       0x41,                                      // 97: BeginSession
       0xC0, 0x02, 0xF8, 0x25,                    // 98: MediaSize eA4Paper
       0x43,                                      // 102: BeginPage
       0x44,                                      // 103: EndPage
       0x42},                                     // 104: EndSession
      kUel,                                       // 105
      "@PJL EOJ\n",                               // 114
  });
  const ParseResult result = Parse(job);
  ASSERT_TRUE(result.ok()) << result.error->ToString();
  ASSERT_EQ(result.events.size(), 10u);

  const auto& e = result.events;
  EXPECT_EQ(e[0].kind, EventKind::kUel);
  EXPECT_EQ(e[1].kind, EventKind::kPjlLine);
  EXPECT_EQ(e[1].offset, 9u);
  EXPECT_EQ(e[1].text, "@PJL JOB NAME=\"t\"");
  EXPECT_EQ(e[2].text, "@PJL ENTER LANGUAGE=PCLXL");
  EXPECT_EQ(e[3].kind, EventKind::kStreamHeader);
  EXPECT_EQ(e[3].offset, 54u);
  EXPECT_EQ(e[3].text, ") HP-PCL XL;2;1;Comment Velmora");
  EXPECT_EQ(e[3].protocol_class, "2.1");
  EXPECT_EQ(e[3].byte_order, ByteOrder::kLittleEndian);

  ASSERT_TRUE(e[4].Is(Op::BeginSession));
  EXPECT_EQ(e[4].offset, 97u);
  ASSERT_EQ(e[4].attributes.size(), 2u);
  EXPECT_EQ(e[4].attributes[0].id, 0x89);
  EXPECT_EQ(e[4].attributes[0].offset, 86u);
  EXPECT_EQ(e[4].attributes[0].value.shape(), Shape::kXy);
  EXPECT_EQ(e[4].attributes[0].value.element(), ElementType::kUInt16);
  EXPECT_EQ(e[4].attributes[0].value.elements, Elements({600, 600}));
  ASSERT_NE(e[4].Find(Attr::Measure), nullptr);
  EXPECT_EQ(e[4].Find(Attr::Measure)->value.Int(), 0);
  EXPECT_EQ(e[4].Find(Attr::MediaSize), nullptr);

  ASSERT_TRUE(e[5].Is(Op::BeginPage));
  ASSERT_EQ(e[5].attributes.size(), 1u);
  EXPECT_EQ(e[5].attributes[0].id, 0x25);
  EXPECT_EQ(e[5].attributes[0].value.Int(), 2);
  EXPECT_TRUE(e[6].Is(Op::EndPage));
  EXPECT_TRUE(e[6].attributes.empty());
  EXPECT_TRUE(e[7].Is(Op::EndSession));
  EXPECT_EQ(e[8].kind, EventKind::kUel);
  EXPECT_EQ(e[8].offset, 105u);
  EXPECT_EQ(e[9].text, "@PJL EOJ");
}

TEST(PxlReader, DecodesEveryDataTypeLittleEndian) {
  struct Case {
    Bytes value;
    std::uint8_t tag;
    std::vector<double> elements;
  };
  const float kMinFloat = std::numeric_limits<float>::denorm_min();
  const Case cases[] = {
      {{0xC0, 0x7F}, 0xC0, {127}},
      {{0xC1, 0x34, 0x12}, 0xC1, {0x1234}},
      {{0xC2, 0x78, 0x56, 0x34, 0x12}, 0xC2, {0x12345678}},
      {{0xC2, 0xFF, 0xFF, 0xFF, 0xFF}, 0xC2, {4294967295.0}},
      {{0xC3, 0xFE, 0xFF}, 0xC3, {-2}},
      {{0xC4, 0xFE, 0xFF, 0xFF, 0xFF}, 0xC4, {-2}},
      {{0xC5, 0x00, 0x00, 0xC0, 0x3F}, 0xC5, {1.5}},
      {{0xC5, 0x01, 0x00, 0x00, 0x00}, 0xC5, {kMinFloat}},
      {{0xC8, 0xC0, 0x03, 'A', 'B', 'C'}, 0xC8, {65, 66, 67}},
      {{0xC8, 0xC0, 0x00}, 0xC8, {}},
      {{0xC9, 0xC1, 0x02, 0x00, 0x01, 0x00, 0x02, 0x00}, 0xC9, {1, 2}},
      {{0xCA, 0xC0, 0x01, 0x01, 0x00, 0x00, 0x00}, 0xCA, {1}},
      {{0xCB, 0xC0, 0x02, 0xFF, 0xFF, 0x01, 0x00}, 0xCB, {-1, 1}},
      {{0xCC, 0xC0, 0x01, 0x00, 0x00, 0x00, 0x80}, 0xCC, {-2147483648.0}},
      {{0xCD, 0xC0, 0x01, 0x00, 0x00, 0x80, 0xBF}, 0xCD, {-1.0}},
      {{0xD0, 0x01, 0x02}, 0xD0, {1, 2}},
      {{0xD1, 0x58, 0x02, 0x20, 0x03}, 0xD1, {600, 800}},
      {{0xD2, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}, 0xD2, {1, 2}},
      {{0xD3, 0xFF, 0xFF, 0x02, 0x00}, 0xD3, {-1, 2}},
      {{0xD4, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}, 0xD4, {-1, 0}},
      {{0xD5, 0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x80, 0x3E}, 0xD5, {1.5, 0.25}},
      {{0xE0, 0x01, 0x02, 0x03, 0x04}, 0xE0, {1, 2, 3, 4}},
      {{0xE1, 0x64, 0x00, 0xC8, 0x00, 0x2C, 0x01, 0x90, 0x01}, 0xE1, {100, 200, 300, 400}},
      {{0xE3, 0xFF, 0xFF, 0xFE, 0xFF, 0x03, 0x00, 0x04, 0x00}, 0xE3, {-1, -2, 3, 4}},
      {{0xE5, 0, 0, 0x80, 0x3F, 0, 0, 0, 0x40, 0, 0, 0x40, 0x40, 0, 0, 0x80, 0x40}, 0xE5, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    const Bytes job = Job({kHeader, c.value, {0xF8, 0x05, 0x61}});
    const ParseResult result = Parse(job);
    ASSERT_TRUE(result.ok()) << "tag " << int(c.tag) << ": " << result.error->ToString();
    ASSERT_EQ(result.events.size(), 2u);
    const Event& op = result.events[1];
    ASSERT_TRUE(op.Is(Op::PushGS));
    ASSERT_EQ(op.attributes.size(), 1u);
    EXPECT_EQ(op.attributes[0].id, 5);
    EXPECT_EQ(op.attributes[0].offset, kHeader.size());
    EXPECT_EQ(op.attributes[0].value.tag, c.tag);
    EXPECT_EQ(op.attributes[0].value.elements, c.elements) << "tag " << int(c.tag);
  }
}

TEST(PxlReader, BigEndianBindingReadsNumbersHighByteFirst) {
  const Bytes job = Job({
      "( HP-PCL XL;2;0\n", {0xC1, 0x12, 0x34, 0xF8, 0x01,                          // uint16 0x1234
                            0xD4, 0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x00, 0x01, 0x00,  // sint32_xy (-2, 256)
                            0xF9, 0x00, 0x8B,                                      // two-byte attribute id 0x008B
                            0xC9, 0xC1, 0x00, 0x01, 0x00, 0x07, 0xF8, 0x02,        // uint16_array {7}
                            0x5C,                                                  // ReadStream
                            0xFA, 0x00, 0x00, 0x00, 0x02, 0xAA, 0xBB},             // 2 bytes of data
  });
  const ParseResult result = Parse(job);
  ASSERT_TRUE(result.ok()) << result.error->ToString();
  ASSERT_EQ(result.events.size(), 3u);
  EXPECT_EQ(result.events[0].byte_order, ByteOrder::kBigEndian);
  const Event& op = result.events[1];
  ASSERT_EQ(op.attributes.size(), 3u);
  EXPECT_EQ(op.attributes[0].value.elements, Elements({0x1234}));
  EXPECT_EQ(op.attributes[1].id, 0x8B);
  EXPECT_EQ(op.attributes[1].value.elements, Elements({-2, 256}));
  EXPECT_EQ(op.attributes[2].value.elements, Elements({7}));
  EXPECT_EQ(result.events[2].kind, EventKind::kEmbeddedData);
  EXPECT_EQ(result.events[2].data_offset, 16u + 26u + 5u);
  EXPECT_EQ(result.events[2].data_length, 2u);
}

TEST(PxlReader, EmbeddedDataOfBothLengthFormsIsSkippedWhole) {
  // The data holds bytes that would be tags, white space and a UEL start if scanned.
  const Bytes job = Job({
      kHeader,
      {0xB1,                                                  // 16: ReadImage
       0xFB, 0x03, 0xC0, 0xF8, 0x1B,                          // 17: 3 bytes
       0x20, 0x0A,                                            // white space between tokens
       0xB4,                                                  // 24: ReadRastPattern
       0xFA, 0x04, 0x00, 0x00, 0x00, 0x41, 0xFA, 0x00, 0x00,  // 25: 4 bytes
       0xFB, 0x00,                                            // 34: empty block
       0xB2},                                                 // 36: EndImage
  });
  const ParseResult result = Parse(job);
  ASSERT_TRUE(result.ok()) << result.error->ToString();
  ASSERT_EQ(result.events.size(), 7u);
  const auto& e = result.events;
  EXPECT_EQ(e[2].kind, EventKind::kEmbeddedData);
  EXPECT_EQ(e[2].offset, 17u);
  EXPECT_EQ(e[2].data_offset, 19u);
  EXPECT_EQ(e[2].data_length, 3u);
  EXPECT_TRUE(e[3].Is(Op::ReadRastPattern));
  EXPECT_EQ(e[3].offset, 24u);
  EXPECT_EQ(e[4].offset, 25u);
  EXPECT_EQ(e[4].data_offset, 30u);
  EXPECT_EQ(e[4].data_length, 4u);
  EXPECT_EQ(e[5].data_offset, 36u);
  EXPECT_EQ(e[5].data_length, 0u);
  EXPECT_TRUE(e[6].Is(Op::EndImage));
}

TEST(PxlReader, StreamDetailsAcceptedAsWritten) {
  struct Case {
    const char* what;
    Bytes job;
    std::vector<std::uint8_t> ops;
  };
  const Case cases[] = {
      {"every white space byte between tokens",
       Job({kHeader, {0x00, 0x09, 0xC0, 0x01, 0x0A, 0xF8, 0x03, 0x0B, 0x0C, 0x41, 0x0D, 0x20, 0x42, 0x00}}),
       {0x41, 0x42}},
      {"an operator code without a name", Job({kHeader, {0x45, 0x8F, 0xBE}}), {0x45, 0x8F, 0xBE}},
      {"a bare stream without PJL", Job({") HP-PCL XL;3;0;\n", {0x41}}), {0x41}},
      {"ENTER LANGUAGE in lower case with spaces", Job({"@PJL enter language = pclxl\r\n", kHeader, {0x41}}), {0x41}},
      {"blank lines between PJL commands", Job({kUel, "@PJL\r\n\r\n@PJL JOB\n", kUel}), {}},
      {"a UEL straight after ENTER LANGUAGE", Job({"@PJL ENTER LANGUAGE=PCLXL\n", kUel}), {}},
      {"a UEL without a line end before PJL", Job({kHeader, {0x42}, kUel, "@PJL EOJ\n"}), {0x42}},
      {"a header line ending in CR LF", Job({") HP-PCL XL;2;0;x\r\n", {0x41}}), {0x41}},
  };
  for (const Case& c : cases) {
    const ParseResult result = Parse(c.job);
    ASSERT_TRUE(result.ok()) << c.what << ": " << result.error->ToString();
    std::vector<std::uint8_t> ops;
    for (const Event& event : result.events) {
      if (event.kind == EventKind::kOperator) ops.push_back(event.op);
    }
    EXPECT_EQ(ops, c.ops) << c.what;
  }
}

TEST(PxlReader, StopsAtTheFirstMalformedTokenWithItsOffsetAndCause) {
  struct Case {
    Bytes job;
    std::size_t offset;
    std::string cause;
  };
  const std::string kEnter = "@PJL ENTER LANGUAGE=PCLXL\n";  // 26 bytes
  const Case cases[] = {
      // Values.
      {Job({kHeader, {0xC1, 0x34}}), 16, "truncated uint16"},
      {Job({kHeader, {0xC5, 0x00, 0x00, 0x80}}), 16, "truncated real32"},
      {Job({kHeader, {0xD1, 0x01, 0x00, 0x02}}), 16, "truncated uint16_xy"},
      {Job({kHeader, {0x41, 0xE5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}}), 17, "truncated real32_box"},
      {Job({kHeader, {0xC7}}), 16, "unknown data type 0xC7"},
      {Job({kHeader, {0xC0, 0x01, 0xF8, 0x01, 0xD6}}), 20, "unknown data type 0xD6"},
      {Job({kHeader, {0xEF}}), 16, "unknown data type 0xEF"},
      // Arrays.
      {Job({kHeader, {0xC8, 0xC0, 0x14, 1, 2, 3, 4, 5, 6, 7}}), 16,
       "ubyte_array length runs past the end of the data (needs 20 bytes, 7 left)"},
      {Job({kHeader, {0xCA, 0xC1, 0x02, 0x00, 1, 2, 3, 4, 5}}), 16,
       "uint32_array length runs past the end of the data (needs 8 bytes, 5 left)"},
      {Job({kHeader, {0xC8}}), 16, "ubyte_array without its length"},
      {Job({kHeader, {0xC9, 0xC0}}), 16, "truncated uint16_array length"},
      {Job({kHeader, {0xC9, 0xC1, 0x02}}), 16, "truncated uint16_array length"},
      {Job({kHeader, {0xC8, 0xC2, 0x01, 0x00, 0x00, 0x00, 0x41}}), 16,
       "ubyte_array length must be a ubyte or uint16 value, found tag 0xC2"},
      // Attribute ids.
      {Job({kHeader, {0xF8, 0x28}}), 16, "attribute id 0xF8 without a value before it"},
      {Job({kHeader, {0xC0, 0x01, 0xF8, 0x28, 0xF9, 0x28, 0x00}}), 20, "attribute id 0xF9 without a value before it"},
      {Job({kHeader, {0xC0, 0x01, 0xF8}}), 18, "truncated attribute id"},
      {Job({kHeader, {0xC0, 0x01, 0xF9, 0x03}}), 18, "truncated attribute id"},
      {Job({kHeader, {0xC0, 0x01, 0xC0, 0x02, 0xF8, 0x03}}), 16, "ubyte value not followed by an attribute id"},
      {Job({kHeader, {0xC1, 0x01, 0x00, 0x41}}), 16, "uint16 value not followed by an attribute id"},
      {Job({kHeader, {0xD0, 0x01, 0x02}}), 16, "ubyte_xy value not followed by an attribute id"},
      {Job({kHeader, {0xC0, 0x01, 0xFB, 0x00}}), 16, "ubyte value not followed by an attribute id"},
      {Job({kHeader, {0xC0, 0x01}, kUel}), 16, "ubyte value not followed by an attribute id"},
      {Job({kHeader, {0x41, 0xC0, 0x01, 0xF8, 0x03}}), 17,
       "attribute list not followed by an operator at the end of the data"},
      {Job({kHeader, {0xC0, 0x01, 0xF8, 0x03}, kUel}), 16, "attribute list not followed by an operator before the UEL"},
      // Embedded data.
      {Job({kHeader, {0xFA, 0x10, 0x00, 0x00}}), 16, "truncated embedded data length"},
      {Job({kHeader, {0xFB}}), 16, "truncated embedded data length"},
      {Job({kHeader, {0xFB, 0x05, 0x01, 0x02}}), 16,
       "embedded data runs past the end of the data (needs 5 bytes, 2 left)"},
      {Job({kHeader, {0xFA, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}}), 16,
       "embedded data runs past the end of the data (needs 4294967295 bytes, 1 left)"},
      // Bytes outside every class, and the UEL.
      {Job({kHeader, {0x41, 0x30}}), 17, "byte 0x30 is not a PCL XL tag"},
      {Job({kHeader, {0x41, 0x01}}), 17, "byte 0x01 is not a PCL XL tag"},
      {Job({kHeader, {0xF0}}), 16, "byte 0xF0 is not a PCL XL tag"},
      {Job({kHeader, {0xFF}}), 16, "byte 0xFF is not a PCL XL tag"},
      {Job({kHeader, {0x1B, '%', '-', '1'}}), 16, "truncated UEL"},
      {Job({kHeader, {0x1B, 'E'}}), 16, "byte 0x1B that does not start a UEL"},
      {Job({"\x1b%-12345"}), 0, "truncated UEL"},
      // PJL and the stream header.
      {Job({"@PJL JOB"}), 0, "PJL line without a line feed"},
      {Job({kUel, "hello\n"}), 9, "unexpected byte 0x68 in PJL"},
      {Job({kEnter, "junk"}), 26, "expected the PCL XL stream header after ENTER LANGUAGE=PCLXL, found byte 0x6A"},
      {Job({kEnter}), 26, "without a stream header"},
      {Job({kEnter, ") HP-PCL XL;2;0"}), 26, "stream header without a line feed"},
      {Job({kEnter, "' HP-PCL XL;2;0\n"}), 26, "ASCII binding, which is not supported"},
      {Job({kEnter, ") HP-PCL XX;2;0\n"}), 26, "malformed stream header"},
      {Job({kEnter, ")\n"}), 26, "malformed stream header"},
      {Job({") HP-PCL XL;2\n"}), 0, "stream header without a protocol class"},
      {Job({") HP-PCL XL;2;x\n"}), 0, "stream header without a protocol class"},
      {Job({"@PJL ENTER LANGUAGE=PCL\n",
            "\x1b"
            "E"}),
       24, "data in language PCL cannot be read"},
  };
  for (const Case& c : cases) {
    const ParseResult result = Parse(c.job);
    ASSERT_FALSE(result.ok()) << c.cause;
    EXPECT_EQ(result.error->offset, c.offset) << result.error->ToString();
    EXPECT_NE(result.error->cause.find(c.cause), std::string::npos) << result.error->ToString();
  }
}

TEST(PxlReader, KeepsTheEventsBeforeAnErrorAndStopsAfterIt) {
  const Bytes job = Job({kHeader, {0x41, 0xC0, 0x01, 0xF8, 0x03, 0x6A, 0xC7, 0x42}});
  Reader reader(job);
  std::vector<Event> events;
  while (auto event = reader.Next()) events.push_back(std::move(*event));
  ASSERT_EQ(events.size(), 3u);
  EXPECT_TRUE(events[2].Is(Op::SetColorSpace));
  ASSERT_TRUE(reader.error().has_value());
  EXPECT_EQ(reader.error()->ToString(), "offset 22: unknown data type 0xC7");
  EXPECT_FALSE(reader.Next().has_value());
  EXPECT_EQ(reader.error()->offset, 22u);
}

TEST(PxlReader, ValueAccessorsStayDefinedForAnyReal) {
  Value value;
  value.tag = 0xCD;
  value.elements = {std::nan(""), 1e30, -3.75, 65.0};
  EXPECT_EQ(value.Int(0), 0);
  EXPECT_EQ(value.Int(1), 0);
  EXPECT_EQ(value.Int(2), -3);
  EXPECT_EQ(value.Int(9), 0);
  EXPECT_EQ(value.Bytes(), std::string("\0\0\xFD"
                                       "A",
                                       4));
}

}  // namespace
}  // namespace velmora::pxl
