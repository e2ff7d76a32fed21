// The readable job listing: attribute values, enumerations and long arrays as they are shown.
#include "pxl/dump.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tests/pxl_test_bytes.h"

namespace velmora::pxl {
namespace {

using testing::Bytes;
using testing::Job;
using testing::kUel;

Bytes TwoPageJob() {
  return Job({
      kUel,
      "@PJL JOB NAME=\"Doc\ttab\"\r\n",
      "@PJL ENTER LANGUAGE=PCLXL\n",
      ") HP-PCL XL;2;0;Velmora\n",
      {0xD1, 0x58, 0x02, 0x58, 0x02, 0xF8, 0x89, 0xC0, 0x00, 0xF8, 0x86, 0xC0, 0x00, 0xF8, 0x8F, 0x41},
      {0xC0, 0x00, 0xF8, 0x88, 0xC0, 0x01, 0xF8, 0x82, 0x48},
      {0xC0, 0x00, 0xF8, 0x28, 0xC0, 0x02, 0xF8, 0x25, 0xC0, 0x01, 0xF8, 0x26, 0x43},
      {0xD5, 0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x80, 0x3E, 0xF8, 0x2B, 0x77},
      {0xC8, 0xC0, 0x07, 'C',  'o',  'u',  'r',  'i',  'e',  'r',  0xF8, 0xA8, 0xC5,
       0x00, 0x00, 0x40, 0x41, 0xF8, 0xA6, 0xC1, 0x75, 0x02, 0xF8, 0xAA, 0x6F},
      {0xC8, 0xC0, 0x02, 'H', 'i', 0xF8, 0xAB, 0xCB, 0xC0, 0x02, 0x0A, 0x00, 0xEC, 0xFF, 0xF8, 0xAF, 0xA8},
      {0xE3, 0xFF, 0xFF, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0xF8, 0x42, 0xA1},
      {0xC8, 0xC0, 0x03, 0x00, 0xFF, 0x22, 0xF8, 0x77, 0x45},
      {0xC4, 0xFE, 0xFF, 0xFF, 0xFF, 0xF9, 0x34, 0x12, 0x8F},
      {0xB1, 0xFB, 0x03, 0x01, 0x02, 0x03},
      {0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44},
      {0xC0, 0x01, 0xF8, 0x28, 0xC0, 0x63, 0xF8, 0x25, 0x43},
      {0x44, 0x49, 0x42},
      kUel,
      "@PJL EOJ\r\n",
  });
}

constexpr std::string_view kFirstPage =
    "\\e%-12345X\n"
    "@PJL JOB NAME=\"Doc\\ttab\"\n"
    "@PJL ENTER LANGUAGE=PCLXL\n"
    ") HP-PCL XL;2;0;Velmora\n"
    "BeginSession UnitsPerMeasure=(600, 600) Measure=eInch(0) ErrorReport=eNoReporting(0)\n"
    "OpenDataSource SourceType=eDefaultDataSource(0) DataOrg=eBinaryLowByteFirst(1)\n"
    "BeginPage Orientation=ePortraitOrientation(0) MediaSize=eA4Paper(2) MediaSource=eAutoSelect(1)\n"
    "SetPageScale PageScale=(1.5, 0.25)\n"
    "SetFont FontName=\"Courier\" CharSize=12.0 SymbolSet=629\n"
    "Text TextData=\"Hi\" XSpacingData={10 -20}\n"
    "RectanglePath BoundingBox=[-1 2 3 4]\n"
    "UnknownOperator0x45 Attribute0x77=<00ff22>\n"
    "UnknownOperator0x8F Attribute0x1234=-2\n"
    "ReadImage\n"
    "<data 3 bytes>\n"
    "EndPage PageCopies=1\n";

constexpr std::string_view kRest =
    "BeginPage Orientation=eLandscapeOrientation(1) MediaSize=99\n"
    "EndPage\n"
    "CloseDataSource\n"
    "EndSession\n"
    "\\e%-12345X\n"
    "@PJL EOJ\n";

TEST(PxlDump, ListsPjlAndOneOperatorPerLine) {
  std::ostringstream out;
  EXPECT_TRUE(Dump(TwoPageJob(), out));
  EXPECT_EQ(out.str(), std::string(kFirstPage) + std::string(kRest));
}

TEST(PxlDump, StopsAfterTheRequestedNumberOfPages) {
  std::ostringstream first;
  EXPECT_TRUE(Dump(TwoPageJob(), first, DumpOptions{1}));
  EXPECT_EQ(first.str(), kFirstPage);

  std::ostringstream beyond;
  EXPECT_TRUE(Dump(TwoPageJob(), beyond, DumpOptions{5}));
  EXPECT_EQ(beyond.str(), std::string(kFirstPage) + std::string(kRest));
}

TEST(PxlDump, ListsWhatItReadThenTheError) {
  const Bytes job = Job({") HP-PCL XL;2;0\n", {0x41, 0xC0, 0x01, 0xC7, 0x42}});
  std::ostringstream out;
  EXPECT_FALSE(Dump(job, out));
  EXPECT_EQ(out.str(),
            ") HP-PCL XL;2;0\n"
            "BeginSession\n"
            "error at offset 19: unknown data type 0xC7\n");
}

std::string Repeat(std::string_view text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i) repeated += text;
  return repeated;
}

TEST(PxlDump, FormatsValuesReadably) {
  struct Case {
    std::uint8_t tag;
    std::vector<double> elements;
    std::uint16_t attribute;
    std::string text;
  };
  std::vector<double> longArray(40, 7);
  std::vector<double> longBytes(70, 1);
  const Case cases[] = {
      {0xC5, {600}, 0, "600.0"},
      {0xC5, {-0.125}, 0, "-0.125"},
      {0xC5, {1.0 / 3.0}, 0, "0.3333"},
      {0xC5, {std::nan("")}, 0, "nan"},
      {0xC5, {-INFINITY}, 0, "-inf"},
      {0xC3, {-5}, 0x28, "-5"},  // signed values are never enumerations
      {0xC1, {2}, 0x25, "eA4Paper(2)"},
      {0xC0, {200}, 0x25, "200"},
      {0xC2, {1}, 0x03, "eGray(1)"},
      {0xD5, {1.5, -2}, 0, "(1.5, -2.0)"},
      {0xE0, {0, 1, 2, 3}, 0, "[0 1 2 3]"},
      {0xC8, {'a', '"', '\\', 'b'}, 0, "\"a\\\"\\\\b\""},
      {0xC8, {}, 0, "<>"},
      {0xC8, {'a', 10}, 0, "<610a>"},
      {0xCD, {0.5, 2}, 0, "{0.5 2.0}"},
      {0xCA, longArray, 0, "{7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 ... 40 elements}"},
      {0xC8, longBytes, 0, "<" + Repeat("01", 64) + "... 70 bytes>"},
  };
  for (const Case& c : cases) {
    Value value;
    value.tag = c.tag;
    value.elements = c.elements;
    EXPECT_EQ(FormatValue(value, c.attribute), c.text);
  }
}

TEST(PxlDump, EscapesControlBytesInText) {
  EXPECT_EQ(EscapeText("\x1b%-12345X@PJL\r\n\t\x01\xff\\"), "\\e%-12345X@PJL\\r\\n\\t\\x01\\xFF\\\\");
}

}  // namespace
}  // namespace velmora::pxl
