// The paper model's text: good models, malformed lines, the written form and the stored
// value.
#include "platform/paper_model_text.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora::platform {
namespace {

struct Paper {
  std::string name;
  int code;
  double width;
  double height;
};

struct GoodCase {
  const char* label;
  std::string text;
  std::vector<Paper> papers;
  std::vector<int> resolutions;
  double margin;
};

TEST(PaperModelText, ReadsGoodModels) {
  const GoodCase cases[] = {
      {"plain", "paper A4 9 210 297\nresolutions 600 1200\nmargin 4.2\n", {{"A4", 9, 210, 297}}, {600, 1200}, 4.2},
      {"comments, blank lines, tabs, CRLF, no final line end",
       "# office\r\n\r\n  # indented comment\r\n\tpaper\t\"Letter\"  1 215.9\t279.4\r\nresolutions 300\r\nmargin 0",
       {{"Letter", 1, 215.9, 279.4}},
       {300},
       0},
      {"quoted names with blanks and escapes, code 0, default margin",
       "paper \"B5 (JIS)\" 13 182 257\npaper \"Say \\\"hi\\\" \\\\ now\" 0 100.25 50.5\nresolutions 600\n",
       {{"B5 (JIS)", 13, 182, 257}, {"Say \"hi\" \\ now", 0, 100.25, 50.5}},
       {600},
       4.2},
      {"names outside ASCII; 31 characters is the limit",
       "paper \"Umschlag Größe\" 20 110 220\npaper ABCDEFGHIJKLMNOPQRSTUVWXYZabcde 0 50 50\nresolutions 1200 600\n",
       {{"Umschlag Größe", 20, 110, 220}, {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcde", 0, 50, 50}},
       {1200, 600},
       4.2},
      {"largest values",
       "paper Banner 32767 10000 9 \nresolutions 32767\nmargin 4.4\n",
       {{"Banner", 32767, 10000, 9}},
       {32767},
       4.4},
  };
  for (const auto& c : cases) {
    std::string error;
    const std::optional<PaperModel> model = ParsePaperModel(c.text, &error);
    ASSERT_TRUE(model) << c.label << ": " << error;
    ASSERT_EQ(model->papers.size(), c.papers.size()) << c.label;
    for (std::size_t i = 0; i < c.papers.size(); ++i) {
      EXPECT_EQ(model->papers[i].formName, c.papers[i].name) << c.label;
      EXPECT_EQ(model->papers[i].paperCode, c.papers[i].code) << c.label;
      EXPECT_DOUBLE_EQ(model->papers[i].widthMm, c.papers[i].width) << c.label;
      EXPECT_DOUBLE_EQ(model->papers[i].heightMm, c.papers[i].height) << c.label;
    }
    EXPECT_EQ(model->resolutions, c.resolutions) << c.label;
    EXPECT_DOUBLE_EQ(model->marginMm, c.margin) << c.label;
  }
}

TEST(PaperModelText, RefusesMalformedModels) {
  const std::string ok = "paper A4 9 210 297\nresolutions 600\n";
  const struct {
    std::string text;
    const char* error;  // the whole message
  } cases[] = {
      {"paper A4 9 210\nresolutions 600\n",
       "line 1: a paper line takes a form name, a paper code, a width and a height"},
      {"resolutions 600\npaper A4 9 210 297 1\n",
       "line 2: a paper line takes a form name, a paper code, a width and a height"},
      {"paper \"A4 9 210 297\n", "line 1: a quote is not closed"},
      {"paper \"A4\"9 210 297\n", "line 1: a closing quote must be followed by a blank"},
      {"paper \"A\\4\" 9 210 297\n", "line 1: a backslash in quotes must be followed by a quote or a backslash"},
      {"paper \"\" 9 210 297\n", "line 1: the form name is empty"},
      {"paper \"A\tB\" 9 210 297\n", "line 1: the form name holds a control character"},
      {"paper \"\xC3\x28\" 9 210 297\n", "line 1: the form name is not valid UTF-8"},
      {"paper ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef 9 210 297\n",
       "line 1: the form name 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef' is longer than 31 characters"},
      {ok + "paper a4 11 148 210\n", "line 3: the form name 'a4' is already given"},
      {"paper A4 -9 210 297\n", "line 1: paper code '-9' is not a whole number from 0 to 32767"},
      {"paper A4 32768 210 297\n", "line 1: paper code '32768' is not a whole number from 0 to 32767"},
      {"paper A4 \"9\" 210 297\n", "line 1: paper code '9' is not a whole number from 0 to 32767"},
      {"paper A4 9 0 297\n", "line 1: width '0' is not a length in millimetres above 0 and up to 10000"},
      {"paper A4 9 2e2 297\n", "line 1: width '2e2' is not a length in millimetres above 0 and up to 10000"},
      {"paper A4 9 nan 297\n", "line 1: width 'nan' is not a length in millimetres above 0 and up to 10000"},
      {"paper A4 9 +210 297\n", "line 1: width '+210' is not a length in millimetres above 0 and up to 10000"},
      {"paper A4 9 210 10000.5\n", "line 1: height '10000.5' is not a length in millimetres above 0 and up to 10000"},
      {"paper A4 9 210 297.\n", "line 1: height '297.' is not a length in millimetres above 0 and up to 10000"},
      {"paper A4 9 210 .5\n", "line 1: height '.5' is not a length in millimetres above 0 and up to 10000"},
      {"paper A4 9 210 2,97\n", "line 1: height '2,97' is not a length in millimetres above 0 and up to 10000"},
      {"paper A4 9 210 297\nresolutions\n", "line 2: a resolutions line takes at least one resolution"},
      {"paper A4 9 210 297\nresolutions 600 0\n", "line 2: resolution '0' is not a whole number from 1 to 32767"},
      {"paper A4 9 210 297\nresolutions 600dpi\n", "line 2: resolution '600dpi' is not a whole number from 1 to 32767"},
      {ok + "resolutions 1200\n", "line 3: resolutions are already given"},
      {ok + "margin\n", "line 3: a margin line takes one length"},
      {ok + "margin -1\n", "line 3: margin '-1' is not a length in millimetres from 0 to 10000"},
      {ok + "margin 1\nmargin 2\n", "line 4: the margin is already given"},
      {ok + "margin 105\n", "the margin leaves no printable area on paper 'A4'"},
      {ok + "Paper A5 11 148 210\n", "line 3: unknown keyword 'Paper' (paper, resolutions or margin)"},
      {ok + "\"paper\" A5 11 148 210\n", "line 3: a line starts with paper, resolutions or margin, not a quoted text"},
      {"# nothing\nresolutions 600\n", "the model has no paper line"},
      {"paper A4 9 210 297\n", "the model has no resolutions line"},
      {"", "the model has no paper line"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParsePaperModel(c.text, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(PaperModelText, WritesQuotedNamesAndShortestNumbers) {
  PaperModel model;
  model.papers = {{"B5 (JIS)", 13, 182, 257}, {"Say \"hi\" \\", 0, 104.775, 0.5}};
  model.resolutions = {300, 600};
  model.marginMm = 4.2;
  EXPECT_EQ(FormatPaperModel(model),
            "paper \"B5 (JIS)\" 13 182 257\n"
            "paper \"Say \\\"hi\\\" \\\\\" 0 104.775 0.5\n"
            "resolutions 300 600\n"
            "margin 4.2\n");
}

TEST(PaperModelText, GenericModelReadsBackUnchanged) {
  const PaperModel& generic = GenericPaperModel();
  std::string error;
  const std::optional<PaperModel> back = ParsePaperModel(FormatPaperModel(generic), &error);
  ASSERT_TRUE(back) << error;
  ASSERT_EQ(back->papers.size(), generic.papers.size());
  for (std::size_t i = 0; i < generic.papers.size(); ++i) {
    EXPECT_EQ(back->papers[i].formName, generic.papers[i].formName);
    EXPECT_EQ(back->papers[i].paperCode, generic.papers[i].paperCode);
    EXPECT_EQ(back->papers[i].widthMm, generic.papers[i].widthMm);
    EXPECT_EQ(back->papers[i].heightMm, generic.papers[i].heightMm);
  }
  EXPECT_EQ(back->resolutions, generic.resolutions);
  EXPECT_EQ(back->marginMm, generic.marginMm);
}

TEST(PaperModelText, StoredValueIsNulTerminatedUtf16Text) {
  PaperModel model;
  model.papers = {{"\xC3\xA9", 0, 1, 2}};  // "é", U+00E9
  model.resolutions = {6};
  model.marginMm = 0;
  const PrinterValue value = PaperModelValue(model);
  EXPECT_EQ(value.type, ValueType::kString);
  std::vector<std::uint8_t> expected;
  for (char c : std::string("paper \"")) expected.insert(expected.end(), {static_cast<std::uint8_t>(c), 0});
  expected.insert(expected.end(), {0xE9, 0x00});
  for (char c : std::string("\" 0 1 2\nresolutions 6\nmargin 0\n")) {
    expected.insert(expected.end(), {static_cast<std::uint8_t>(c), 0});
  }
  expected.insert(expected.end(), {0, 0});
  EXPECT_EQ(value.bytes, expected);

  std::string error;
  const std::optional<PaperModel> back = PaperModelFromValue(value, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->papers.at(0).formName, "\xC3\xA9");

  // Text stored without its NUL still reads; bytes after the first NUL are not text.
  PrinterValue unterminated = value;
  unterminated.bytes.resize(unterminated.bytes.size() - 2);
  EXPECT_TRUE(PaperModelFromValue(unterminated, &error)) << error;
  PrinterValue trailing = value;
  trailing.bytes.insert(trailing.bytes.end(), {'x', 0, 0, 0});
  EXPECT_TRUE(PaperModelFromValue(trailing, &error)) << error;

  PrinterValue binary = value;
  binary.type = ValueType::kBinary;
  EXPECT_FALSE(PaperModelFromValue(binary, &error));
  EXPECT_EQ(error, "the value is not text (REG_SZ)");
  PrinterValue odd = value;
  odd.bytes.push_back(0);
  EXPECT_FALSE(PaperModelFromValue(odd, &error));
  EXPECT_EQ(error, "the value's text has an odd number of bytes");
  EXPECT_FALSE(PaperModelFromValue(PrinterValue{ValueType::kString, {}}, &error));
  EXPECT_EQ(error, "the model has no paper line");
}

}  // namespace
}  // namespace velmora::platform
