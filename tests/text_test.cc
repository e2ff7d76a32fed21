// The plug-in's text helpers over UTF-16 and 8-bit strings.
#include "formats/text.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(Text, Utf16ToUtf8ConvertsLikeCodePage65001) {
  struct Case {
    WString in;
    std::string out;
  };
  const Case cases[] = {
      {VTEXT("Report.pdf"), "Report.pdf"},
      {VTEXT("Caf\u00e9"), "Caf\xc3\xa9"},
      {VTEXT("\u20ac"), "\xe2\x82\xac"},
      {WString{0xD83D, 0xDE00}, "\xf0\x9f\x98\x80"},
      {WString{0xD83D}, "\xef\xbf\xbd"},  // unpaired surrogate
      {WString{}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text::Utf16ToUtf8(c.in), c.out);
    if (c.in == WString{0xD83D}) continue;  // the replacement does not round-trip
    EXPECT_EQ(text::Utf8ToUtf16(c.out), c.in);
  }
}

TEST(Text, SanitizeForPjlReplacesControlBytesAndQuotes) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain name", "plain name"},
      {"a\"b", "a'b"},
      {"line\r\n@PJL SET X=1", "line  @PJL SET X=1"},
      {std::string("esc\x1b%-12345X"), "esc %-12345X"},
      {"del\x7f", "del "},
      {"Caf\xc3\xa9", "Caf\xc3\xa9"},
  };
  for (const auto& c : cases) EXPECT_EQ(text::SanitizeForPjl(c.in), c.out) << c.in;
}

TEST(Text, WideFieldsRoundTripAndStayTerminated) {
  std::uint8_t field[8];
  std::fill(std::begin(field), std::end(field), 0xAA);
  text::WriteWideField(field, 4, VTEXT("ABCDEF"));
  EXPECT_EQ(text::ReadWideField(field, 4), VTEXT("ABC"));
  EXPECT_EQ(field[6], 0);
  EXPECT_EQ(field[7], 0);
}

}  // namespace
}  // namespace velmora
