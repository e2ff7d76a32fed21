// Real documents end to end: PDF, PostScript and EPS made by Ghostscript at test time,
// printed by velmora through the plug-in, read back with the tokenizer and rendered with
// an independent PCL XL interpreter beside Ghostscript's own PCL XL of the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "pxl/reader.h"
#include "tests/fakes/gpcl6_pages.h"
#include "tests/fakes/job_folder.h"
#include "tests/fakes/run_velmora.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using pxl::Attr;
using pxl::Event;
using pxl::Op;
using testing::Gray;

// Five pages: grey and black text, vector drawing, an image, a landscape page, text.
constexpr char kDocument[] = R"(%!PS
/Helvetica findfont 18 scalefont setfont
0.6 setgray 72 720 moveto (Quarterly report: revenue grew in every region.) show
72 690 moveto (A second line of grey text, for text in black.) show
0 setgray 72 650 moveto (A line of black text.) show
showpage
3 setlinewidth 72 500 moveto 520 500 lineto stroke
0.3 setgray 100 100 moveto 300 100 lineto 200 300 lineto closepath fill
0 setgray 1 setlinewidth 300 620 80 0 360 arc stroke
showpage
/row 64 string def 0 1 63 { row exch dup 4 mul put } for
gsave 72 300 translate 400 300 scale 64 48 8 [64 0 0 -48 0 48] { row } image grestore
showpage
<< /PageSize [842 595] >> setpagedevice
/Times-Roman findfont 28 scalefont setfont 72 480 moveto (A landscape page with a rule) show
2 setlinewidth 72 460 moveto 770 460 lineto stroke
showpage
<< /PageSize [595 842] >> setpagedevice
/Courier findfont 14 scalefont setfont 72 720 moveto (The last page: monospaced text.) show
showpage
)";

// The document as a program that follows the document structuring conventions writes it:
// its page count in the header and each page marked, which lets the job print it while
// Ghostscript renders it.
std::string Structured(std::string_view document) {
  std::string structured = "%!PS-Adobe-3.0\n%%Pages: 5\n%%EndComments\n";
  document.remove_prefix(document.find('\n') + 1);
  constexpr std::string_view kShowpage = "showpage\n";
  for (int page = 1; !document.empty(); ++page) {
    const std::size_t end = document.find(kShowpage) + kShowpage.size();
    structured += "%%Page: " + std::to_string(page) + " " + std::to_string(page) + "\n";
    structured += document.substr(0, end);
    document.remove_prefix(end);
  }
  return structured + "%%EOF\n";
}

// A one-page letterhead: a name and a rule at the top of the page.
constexpr char kLetterhead[] = R"(%!PS
/Helvetica-Bold findfont 24 scalefont setfont 72 780 moveto (Velmora Letterhead Ltd) show
4 setlinewidth 72 770 moveto 523 770 lineto stroke
showpage
)";

// An EPS figure.
constexpr char kFigure[] = R"(%!PS-Adobe-3.0 EPSF-3.0
%%BoundingBox: 0 0 200 100
/Helvetica findfont 20 scalefont setfont 10 40 moveto (EPS figure) show
1 setlinewidth 5 5 moveto 195 5 lineto stroke
%%EOF
)";

// A heading too large for Ghostscript's bitmap font, whose glyphs it draws as one-bit
// images, and two stencils of the same grey at the printer's resolution, one painting its
// clear bits and one its set bits: pictures, not text.
constexpr char kHeading[] = R"(%!PS
<< /PageSize [595 842] >> setpagedevice
0.5 setgray /Helvetica-Bold findfont 90 scalefont setfont 72 700 moveto (Heading) show
/row 75 string def 0 1 74 { row exch 16#F0 put } for
gsave 72 500 translate 72 72 scale 600 600 false [600 0 0 -600 0 600] { row } imagemask grestore
gsave 300 500 translate 72 72 scale 600 600 true [600 0 0 -600 0 600] { row } imagemask grestore
showpage
)";

// The sheet Ghostscript renders for the job: A4 at 600 dots per inch, as the default
// printer's paper model gives it. The reference takes glyphs into the font cache up to
// the size the host lets Ghostscript cache.
constexpr char kJobMedia[] = "-r600x600 -dFIXEDMEDIA -dDEVICEWIDTHPOINTS=595.2 -dDEVICEHEIGHTPOINTS=841.8 -dFitPage";

Bytes ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::vector<Event> Operators(const Bytes& job) {
  const pxl::ParseResult parsed = pxl::Parse(job);
  EXPECT_TRUE(parsed.ok()) << parsed.error->ToString();
  std::vector<Event> ops;
  for (const Event& event : parsed.events) {
    if (event.kind == pxl::EventKind::kOperator) ops.push_back(event);
  }
  return ops;
}

// What one sheet of a job holds.
struct Sheet {
  int texts = 0;
  int images = 0;
  int contents = 0;            // content blocks placed by the host (PushGS with a page origin)
  int turns = 0;               // of which turned a quarter
  int clips = 0;               // clips replaced: the renderer's page clip and text watermarks
  bool pluginSetup = false;    // the plug-in's page set-up right after BeginPage
  std::vector<int> textGrays;  // the brush each Text operator is drawn with
};

std::vector<Sheet> Sheets(const std::vector<Event>& ops) {
  std::vector<Sheet> sheets;
  int brush = -1;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const Event& op = ops[i];
    if (op.Is(Op::BeginPage)) {
      sheets.emplace_back();
      sheets.back().pluginSetup = i + 1 < ops.size() && ops[i + 1].Is(Op::SetPageOrigin);
    }
    if (sheets.empty()) continue;
    Sheet& sheet = sheets.back();
    if (op.Is(Op::SetBrushSource))
      brush = op.Find(Attr::GrayLevel) ? static_cast<int>(op.Find(Attr::GrayLevel)->value.Int()) : -1;
    if (op.Is(Op::Text)) {
      ++sheet.texts;
      sheet.textGrays.push_back(brush);
    }
    if (op.Is(Op::BeginImage)) ++sheet.images;
    if (op.Is(Op::SetClipReplace)) ++sheet.clips;
    if (op.Is(Op::PushGS) && i + 1 < ops.size() && ops[i + 1].Is(Op::SetPageOrigin)) {
      ++sheet.contents;
      if (i + 2 < ops.size() && ops[i + 2].Is(Op::SetPageRotation)) ++sheet.turns;
    }
  }
  return sheets;
}

// The grey level of the brush each one-bit image of a job paints with.
std::vector<int> MaskBrushes(const std::vector<Event>& ops) {
  std::vector<int> brushes;
  std::vector<int> saved;
  int brush = -1;
  for (const Event& op : ops) {
    if (op.Is(Op::SetBrushSource))
      brush = op.Find(Attr::GrayLevel) ? static_cast<int>(op.Find(Attr::GrayLevel)->value.Int()) : -1;
    if (op.Is(Op::PushGS)) saved.push_back(brush);
    if (op.Is(Op::PopGS) && !saved.empty()) {
      brush = saved.back();
      saved.pop_back();
    }
    const pxl::Attribute* depth = op.Is(Op::BeginImage) ? op.Find(Attr::ColorDepth) : nullptr;
    if (depth != nullptr && depth->value.Int() == 0) brushes.push_back(brush);
  }
  return brushes;
}

class DocumentJobs : public testing::JobFolderTest {
 protected:
  void SetUp() override {
    JobFolderTest::SetUp();
    if (Shell("gs --version") != 0) GTEST_SKIP() << "Ghostscript (gs) is not installed: scripts/install-deps";
    // The host's temporary files go here, so that the tests see that none is left.
    fs::create_directory(dir / "tmp");
    ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    WriteText("document.ps", kDocument);
    WriteText("structured.ps", Structured(kDocument));
    WriteText("letterhead.ps", kLetterhead);
    WriteText("figure.eps", kFigure);
    ASSERT_EQ(Shell("ps2pdf " + P("document.ps") + " " + P("document.pdf")), 0);
    ASSERT_EQ(Shell("ps2pdf " + P("letterhead.ps") + " " + P("letterhead.pdf")), 0);
    Run("printer add P1");
  }
  void TearDown() override {
    ::unsetenv("TMPDIR");
    JobFolderTest::TearDown();
  }

  std::string P(const std::string& name) const { return (dir / name).string(); }
  void WriteText(const std::string& name, const std::string& text) { std::ofstream(dir / name) << text; }
  void Run(const std::string& arguments) {
    const testing::CliRun run = testing::Velmora(arguments);
    ASSERT_EQ(run.status, 0) << arguments << ": " << run.out;
  }
  // Prints a document on P1 and answers the job.
  Bytes Print(const std::string& document, const std::string& settings) {
    const std::string out = P("job.pxl");
    fs::remove(out);
    Run("print --printer P1 " + settings + " -o " + out + " " + document);
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "temporary files left behind";
    return ReadBytes(out);
  }
  // Ghostscript's own PCL XL of the document, for the job's sheet.
  Bytes Reference(const std::string& document) {
    const std::string out = P("reference.pxl");
    EXPECT_EQ(Shell(std::string("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pxlmono ") + kJobMedia +
                    " -sOutputFile=" + out + " -c '<< /MaxFontItem 4000000 >> setuserparams' -f " + document),
              0);
    return ReadBytes(out);
  }
  // Runs the independent interpreter on a job with the arguments before the job's file;
  // false when it is missing. Fails the test when it reports an error in the job.
  bool Interpret(const Bytes& job, const std::string& stem, const std::string& arguments) {
    const fs::path interpreter = testing::Gpcl6();
    if (interpreter.empty()) return false;
    const fs::path input = dir / (stem + ".pxl");
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(job.data()), static_cast<std::streamsize>(job.size()));
    const std::string command =
        interpreter.string() + " -dNOPAUSE -dBATCH " + arguments + " " + input.string() + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string said;
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) said.append(buffer, got);
    pclose(pipe);
    EXPECT_EQ(said.find("PCL XL error"), std::string::npos) << stem << ": " << said;
    return true;
  }
  // The pages of a job rendered at 100 dots per inch by the independent interpreter;
  // nothing when it is missing. Fails the test when it reports an error in the job.
  std::optional<std::vector<Gray>> Render(const Bytes& job, const std::string& stem) {
    const fs::path input = dir / (stem + ".pxl");
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(job.data()), static_cast<std::streamsize>(job.size()));
    auto rendered = testing::RenderSheets(input, dir, stem, 100);
    if (!rendered) return std::nullopt;
    EXPECT_EQ(rendered->said.find("PCL XL error"), std::string::npos) << stem << ": " << rendered->said;
    return std::move(rendered->sheets);
  }
  // The job as the independent interpreter encodes it again with Ghostscript's PCL XL
  // writer, which writes the page mode the interpreter ended up in; nothing when it is
  // missing.
  std::optional<Bytes> ReEncoded(const Bytes& job) {
    if (!Interpret(job, "duplex", "-sDEVICE=pxlmono -sOutputFile=" + P("back.pxl"))) return std::nullopt;
    return ReadBytes(P("back.pxl"));
  }
};

// The share of pixels that differ by more than a quarter of the grey range.
double DifferingShare(const Gray& a, const Gray& b) {
  if (a.width != b.width || a.height != b.height) return 1.0;
  std::size_t differing = 0;
  const std::size_t count = static_cast<std::size_t>(a.width) * a.height;
  for (std::size_t i = 0; i < count; ++i) differing += std::abs(a.pixels[i] - b.pixels[i]) > 64 ? 1 : 0;
  return static_cast<double>(differing) / static_cast<double>(count);
}

TEST_F(DocumentJobs, DocumentsPrintAsGhostscriptRendersThem) {
  ASSERT_EQ(Shell("cp " + P("document.ps") + " " + P("stdin.ps")), 0);
  struct Case {
    std::string document;  // as velmora is given it
    std::string file;      // the file Ghostscript renders for the reference
  };
  const Case cases[] = {
      {P("document.pdf"), P("document.pdf")},   {P("document.ps"), P("document.ps")},
      {P("structured.ps"), P("structured.ps")}, {P("figure.eps"), P("figure.eps")},
      {"- < " + P("stdin.ps"), P("stdin.ps")},
  };
  bool rendered = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    const Bytes job = Print(c.document, "");
    const Bytes reference = Reference(c.file);
    const std::vector<Sheet> sheets = Sheets(Operators(job));
    const std::vector<Sheet> expected = Sheets(Operators(reference));
    ASSERT_EQ(sheets.size(), expected.size());
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      EXPECT_TRUE(sheets[i].pluginSetup) << "sheet " << i + 1;
      EXPECT_EQ(sheets[i].contents, 1) << "sheet " << i + 1;
      EXPECT_EQ(sheets[i].texts, expected[i].texts) << "sheet " << i + 1;
      EXPECT_EQ(sheets[i].images, expected[i].images) << "sheet " << i + 1;
    }
    EXPECT_LE(job.size(), reference.size() * 3 / 2);
    const auto pages = Render(job, "job");
    const auto references = Render(reference, "reference");
    if (!pages || !references) continue;
    rendered = true;
    ASSERT_EQ(pages->size(), references->size());
    for (std::size_t i = 0; i < pages->size(); ++i) {
      EXPECT_LE(DifferingShare((*pages)[i], (*references)[i]), 0.005) << "page " << i + 1;
    }
  }
  if (!rendered) GTEST_SKIP() << "../shared/tools/gpcl6 is missing: the pixel comparison was skipped";
}

// The page mode of each sheet: 'S' simplex, 'V' or 'H' the duplex binding along the
// page's vertical (left) or horizontal (top) edge, '?' anything else; and the side of
// the sheet each page goes on, 'F' or 'B'.
std::pair<std::string, std::string> PageModes(const std::vector<Event>& ops) {
  std::string modes;
  std::string sides;
  for (const Event& op : ops) {
    if (!op.Is(Op::BeginPage)) continue;
    const pxl::Attribute* duplex = op.Find(Attr::DuplexPageMode);
    const pxl::Attribute* simplex = op.Find(Attr::SimplexPageMode);
    if (simplex != nullptr && duplex == nullptr && simplex->value.Int() == 0) {
      modes += 'S';
    } else if (duplex != nullptr && simplex == nullptr) {
      modes += duplex->value.Int() == 1 ? 'V' : duplex->value.Int() == 0 ? 'H' : '?';
    } else {
      modes += '?';
    }
    if (const pxl::Attribute* side = op.Find(Attr::DuplexPageSide)) sides += side->value.Int() == 0 ? 'F' : 'B';
  }
  return {modes, sides};
}

// A duplex job binds each sheet along the edge the job names (dmDuplex 2 the sheet's long
// edge, 3 its short edge), the same on every page whichever way the page stands, and puts
// its pages on the front and back of each sheet in turn; a booklet always turns about the short
// edge; a simplex job stays simplex. The independent interpreter ends up in the same
// page mode, so a printer prints the job on both sides as asked.
TEST_F(DocumentJobs, DuplexJobsPrintOnBothSidesAlongTheJobsEdge) {
  struct Case {
    std::string settings;
    std::string modes;  // page 4 is the landscape page
    std::string sides;
  };
  const Case cases[] = {
      {"", "SSSSS", ""},
      {"--set dmDuplex=2", "VVVVV", "FBFBF"},
      {"--set dmDuplex=3", "HHHHH", "FBFBF"},
      {"--set dmDuplex=2 --set bBooklet=1", "HHHH", "FBFB"},
      {"--set dmDuplex=3 --set vdmPagesPerSheet=2 --set dmOrientation=2", "HHH", "FBF"},
  };
  bool reEncoded = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    const Bytes job = Print(P("document.pdf"), c.settings);
    EXPECT_EQ(PageModes(Operators(job)), std::make_pair(c.modes, c.sides));
    const std::optional<Bytes> back = ReEncoded(job);
    if (!back) continue;
    reEncoded = true;
    EXPECT_EQ(PageModes(Operators(*back)).first, c.modes);
  }
  if (!reEncoded) GTEST_SKIP() << "../shared/tools/gpcl6 is missing: the re-encoded page modes were not checked";
}

TEST_F(DocumentJobs, TextRunsPassTheTextOutHook) {
  // The plug-in's text in black turns the brush of every text run black; without it the
  // document's grey text stays grey (153 of 255).
  struct Case {
    std::string settings;
    bool allBlack;
  };
  for (const Case& c : {Case{"", false}, Case{"--set bTextInBlack=1", true}}) {
    SCOPED_TRACE(c.settings);
    const std::vector<Sheet> sheets = Sheets(Operators(Print(P("document.pdf"), c.settings)));
    ASSERT_EQ(sheets.size(), 5u);
    ASSERT_GT(sheets[0].texts, 0);
    const std::vector<int>& grays = sheets[0].textGrays;
    EXPECT_EQ(std::all_of(grays.begin(), grays.end(), [](int gray) { return gray == 0; }), c.allBlack);
    EXPECT_NE(std::find(grays.begin(), grays.end(), 153) != grays.end(), c.allBlack);
  }
}

TEST_F(DocumentJobs, LargeTextPassesTheTextOutHook) {
  WriteText("heading.ps", kHeading);
  ASSERT_EQ(Shell("ps2pdf " + P("heading.ps") + " " + P("heading.pdf")), 0);
  // Where the heading and the stencils lie on the page at 100 dots per inch.
  struct Area {
    int left, top, right, bottom;
  };
  const Area heading{100, 80, 600, 220};
  const Area stencils[] = {{100, 375, 200, 475}, {417, 375, 517, 475}};
  constexpr int kGray = 127;  // the document's grey
  // Ghostscript caches the 90-pt heading's glyphs (for PostScript only because the host
  // raises its font cache's item limit; with the default it fills most of them as paths)
  // and, too large to download as characters, draws them as images.
  struct Case {
    std::string document;
    std::string settings;
    int headingGray;
  };
  const Case cases[] = {
      {"heading.pdf", "", kGray},
      {"heading.pdf", "--set bTextInBlack=1", 0},
      {"heading.ps", "--set bTextInBlack=1", 0},
  };
  bool rendered = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document + " " + c.settings);
    const Bytes job = Print(P(c.document), c.settings);
    // The heading's glyph images first, then the two stencils.
    const std::vector<int> brushes = MaskBrushes(Operators(job));
    ASSERT_GE(brushes.size(), 3u);
    EXPECT_EQ(std::vector<int>(brushes.begin(), brushes.end() - 2),
              std::vector<int>(brushes.size() - 2, c.headingGray));
    EXPECT_EQ(std::vector<int>(brushes.end() - 2, brushes.end()), std::vector<int>(2, kGray));
    const auto pages = Render(job, "heading");
    if (!pages) continue;
    rendered = true;
    ASSERT_EQ(pages->size(), 1u);
    // The grey levels painted in an area, white left out.
    const auto inks = [&page = pages->front()](const Area& area) {
      std::set<int> grays;
      for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) grays.insert(page.pixels[y * page.width + x]);
      }
      grays.erase(255);
      return grays;
    };
    EXPECT_EQ(inks(heading), std::set<int>{c.headingGray});
    for (const Area& stencil : stencils) EXPECT_EQ(inks(stencil), std::set<int>{kGray});
  }
  if (!rendered) GTEST_SKIP() << "../shared/tools/gpcl6 is missing: the pixel check was skipped";
}

TEST_F(DocumentJobs, LayoutsAndWatermarksTakeEveryPage) {
  Run("watermark set --printer P1 1 text=CONFIDENTIAL");
  // Page 4 is the landscape page: turned to fit a cell that stands like the sheet, upright
  // in a cell that turns its pages (which would otherwise print it upside down), and
  // turned with the other pages of a booklet, upright on its booklet page.
  struct Case {
    std::string settings;
    std::vector<int> contentsPerSheet;
    std::vector<int> turnsPerSheet;
  };
  const Case cases[] = {
      {"--set vdmPagesPerSheet=4", {4, 1}, {1, 0}},
      {"--set bBooklet=1", {1, 1, 1, 2}, {1, 1, 1, 2}},  // 5 pages padded to 8: sides 8|1, 2|7, 6|3, 4|5
      {"--set vdmPagesPerSheet=2", {2, 2, 1}, {2, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    const std::vector<Sheet> plain = Sheets(Operators(Print(P("document.pdf"), c.settings)));
    const std::vector<Sheet> marked =
        Sheets(Operators(Print(P("document.pdf"), c.settings + " --set sFP_SectionIndex=1")));
    ASSERT_EQ(plain.size(), c.contentsPerSheet.size());
    ASSERT_EQ(marked.size(), plain.size());
    int texts = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) {
      EXPECT_EQ(plain[i].contents, c.contentsPerSheet[i]) << "sheet " << i + 1;
      EXPECT_EQ(plain[i].turns, c.turnsPerSheet[i]) << "sheet " << i + 1;
      // A text watermark in every cell that holds a page.
      EXPECT_EQ(marked[i].clips - plain[i].clips, c.contentsPerSheet[i]) << "sheet " << i + 1;
      texts += plain[i].texts;
    }
    EXPECT_GT(texts, 0);
  }
}

TEST_F(DocumentJobs, EachPageTakesItsOwnPaperUnlessTheJobNamesOne) {
  // Letter portrait, A5 portrait, A4 landscape.
  WriteText("sizes.ps",
            "%!PS\n<< /PageSize [612 792] >> setpagedevice 72 700 moveto 300 700 lineto stroke showpage\n"
            "<< /PageSize [420 595] >> setpagedevice 72 500 moveto 300 500 lineto stroke showpage\n"
            "<< /PageSize [842 595] >> setpagedevice 72 500 moveto 700 500 lineto stroke showpage\n");
  ASSERT_EQ(Shell("ps2pdf " + P("sizes.ps") + " " + P("sizes.pdf")), 0);
  struct Case {
    std::string settings;
    std::vector<std::pair<int, int>> sheets;  // MediaSize and Orientation of each BeginPage
    double minScale;                          // the first page's scale on its sheet lies in [minScale, maxScale]
    double maxScale;
  };
  const Case cases[] = {
      // The sheet follows each page, through a device reset between pages.
      {"", {{0, 0}, {16, 0}, {2, 1}}, 1.0, 1.0},
      // A job that names its paper fits a page larger than it into the printable area:
      // Letter is a little wide for A4.
      {"--set dmPaperSize=9", {{2, 0}, {2, 0}, {2, 0}}, 0.93, 0.94},
      // Filled, Letter covers A4 and is cut at its sides; at its own size it keeps it.
      {"--set dmPaperSize=9 --option PageScaling=FILL", {{2, 0}, {2, 0}, {2, 0}}, 1.06, 1.07},
      {"--set dmPaperSize=9 --option PageScaling=NONE", {{2, 0}, {2, 0}, {2, 0}}, 1.0, 1.0},
      // Custom margins of an inch shrink the printable area the page is fitted into.
      {"--set sCustomMargins=1 --set szMargins=1,1,1,1", {{0, 0}, {16, 0}, {2, 1}}, 0.6, 0.8},
      // So does a job that fits its pages to the printable area, each on its own paper.
      {"--option PageScaling=FIT", {{0, 0}, {16, 0}, {2, 1}}, 0.95, 0.97},
      // A job's orientation is not a paper: each page keeps its paper, turned the job's
      // way; a reverse orientation turns every sheet (PCL XL's eReverseLandscapeOrientation, 3).
      {"--option Orientation=REVERSE_LANDSCAPE", {{0, 3}, {16, 3}, {2, 3}}, 1.0, 1.0},
      // Sheets last first, each on its page's paper.
      {"--option OutputOrder=REVERSE", {{2, 1}, {16, 0}, {0, 0}}, 1.0, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    const std::vector<Event> ops = Operators(Print(P("sizes.pdf"), c.settings));
    std::vector<std::pair<int, int>> sheets;
    double firstScale = -1;
    for (std::size_t i = 0; i < ops.size(); ++i) {
      if (ops[i].Is(Op::BeginPage)) {
        sheets.emplace_back(static_cast<int>(ops[i].Find(Attr::MediaSize)->value.Int()),
                            static_cast<int>(ops[i].Find(Attr::Orientation)->value.Int()));
        // Every sheet still carries the plug-in's page set-up.
        EXPECT_TRUE(i + 1 < ops.size() && ops[i + 1].Is(Op::SetPageOrigin)) << "sheet " << sheets.size();
      }
      if (firstScale < 0 && ops[i].Is(Op::PushGS) && i + 1 < ops.size() && ops[i + 1].Is(Op::SetPageOrigin)) {
        firstScale = 1.0;
        for (std::size_t j = i + 2; j < ops.size() && j < i + 4; ++j) {
          if (ops[j].Is(Op::SetPageScale)) firstScale = ops[j].Find(Attr::PageScale)->value.elements[0];
        }
      }
    }
    EXPECT_EQ(sheets, c.sheets);
    EXPECT_GE(firstScale, c.minScale);
    EXPECT_LE(firstScale, c.maxScale);
  }
}

// A page of a size the printer has no paper for (A3, Ledger) stays on the job's paper and
// is fitted onto it like a custom size, unless the job prints it at its own size; its
// user is told once.
TEST_F(DocumentJobs, PagesOfASizeNoPaperHasAreFitted) {
  WriteText("large.ps",
            "%!PS\n<< /PageSize [842 1191] >> setpagedevice 72 700 moveto 300 700 lineto stroke showpage\n"
            "<< /PageSize [792 1224] >> setpagedevice 72 700 moveto 300 700 lineto stroke showpage\n");
  ASSERT_EQ(Shell("ps2pdf " + P("large.ps") + " " + P("large.pdf")), 0);
  struct Case {
    std::string scaling;
    double minScale;  // every page's scale lies in [minScale, maxScale]
    double maxScale;
  };
  const Case cases[] = {
      {"AUTO", 0.6, 0.72},
      {"FIT", 0.6, 0.72},
      {"NONE", 1.0, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scaling);
    const testing::CliRun run = testing::Velmora("print --printer P1 -o " + P("large.pxl") +
                                                 " --option PageScaling=" + c.scaling + " " + P("large.pdf"));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_NE(run.out.find("a size the printer has no paper for"), std::string::npos) << run.out;
    const std::vector<Event> ops = Operators(ReadBytes(P("large.pxl")));
    std::vector<double> scales;
    for (std::size_t i = 0; i + 1 < ops.size(); ++i) {
      if (!ops[i].Is(Op::PushGS) || !ops[i + 1].Is(Op::SetPageOrigin)) continue;
      scales.push_back(1.0);
      for (std::size_t j = i + 2; j < ops.size() && j < i + 4; ++j) {
        if (ops[j].Is(Op::SetPageScale)) scales.back() = ops[j].Find(Attr::PageScale)->value.elements[0];
      }
    }
    ASSERT_EQ(scales.size(), 2u);
    for (const double scale : scales) {
      EXPECT_GE(scale, c.minScale);
      EXPECT_LE(scale, c.maxScale);
    }
  }
}

// Where the page scaling puts a Letter page and an A5 page, each black all over, on an A4
// sheet, as the independent interpreter renders them at 100 dpi (A4: 827 x 1169 dots).
TEST_F(DocumentJobs, PageScalingPlacesPagesOnTheSheet) {
  WriteText("black.ps",
            "%!PS\n<< /PageSize [612 792] >> setpagedevice 0 0 612 792 rectfill showpage\n"
            "<< /PageSize [420 595] >> setpagedevice 0 0 420 595 rectfill showpage\n");
  ASSERT_EQ(Shell("ps2pdf " + P("black.ps") + " " + P("black.pdf")), 0);
  struct Box {
    int left, top, right, bottom;  // the black area's edges, right and bottom exclusive
  };
  struct Case {
    std::string scaling;
    Box letter;
    Box a5;
  };
  // The printable area leaves about 17 dots at every edge.
  const Case cases[] = {
      // Letter is wider than A4: fitted into the printable area. A5 keeps its size, centred.
      {"AUTO", {17, 71, 810, 1098}, {122, 171, 705, 998}},
      {"FIT", {17, 71, 810, 1098}, {17, 20, 810, 1149}},
      // Both cover the whole sheet: no white edge on the long side, the rest cut off.
      {"FILL", {0, 0, 827, 1169}, {0, 0, 827, 1169}},
      // Each at its own size: Letter, 850 dots wide, is cut at the sides of A4.
      {"NONE", {0, 34, 827, 1135}, {122, 171, 705, 998}},
  };
  bool rendered = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scaling);
    const Bytes job = Print(P("black.pdf"), "--set dmPaperSize=9 --option PageScaling=" + c.scaling);
    const auto pages = Render(job, "scaled");
    if (!pages) continue;
    rendered = true;
    ASSERT_EQ(pages->size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      const Gray& page = (*pages)[i];
      Box ink{page.width, page.height, 0, 0};
      for (int y = 0; y < page.height; ++y) {
        for (int x = 0; x < page.width; ++x) {
          if (page.pixels[static_cast<std::size_t>(y) * page.width + x] >= 128) continue;
          ink = {std::min(ink.left, x), std::min(ink.top, y), std::max(ink.right, x + 1), std::max(ink.bottom, y + 1)};
        }
      }
      const Box& expected = i == 0 ? c.letter : c.a5;
      EXPECT_EQ(page.width, 827);
      EXPECT_EQ(page.height, 1169);
      EXPECT_NEAR(ink.left, expected.left, 3) << "page " << i + 1;
      EXPECT_NEAR(ink.top, expected.top, 3) << "page " << i + 1;
      EXPECT_NEAR(ink.right, expected.right, 3) << "page " << i + 1;
      EXPECT_NEAR(ink.bottom, expected.bottom, 3) << "page " << i + 1;
    }
  }
  if (!rendered) GTEST_SKIP() << "../shared/tools/gpcl6 is missing: the placement was not rendered";
}

// A page of another paper moves the job to a new device in the order Windows runs a
// ResetDC in a document, as the plug-in's log shows it: enable the new device (I), adjust
// its imageable area (A), hand the old device's state over (R), release the old device
// (X), and start the document again on the new one (D) before its page (P). The job's
// own start (J) comes once.
TEST_F(DocumentJobs, PaperChangeResetsTheDeviceInTheWindowsOrder) {
  WriteText("sizes.ps",
            "%!PS\n<< /PageSize [595 842] >> setpagedevice 72 700 moveto 300 700 lineto stroke showpage\n"
            "<< /PageSize [420 595] >> setpagedevice 72 500 moveto 300 500 lineto stroke showpage\n");
  ASSERT_EQ(Shell("ps2pdf " + P("sizes.ps") + " " + P("sizes.pdf")), 0);
  ::setenv("VELMORA_ENABLELOGGING", "1", 1);
  Print(P("sizes.pdf"), "");
  ::unsetenv("VELMORA_ENABLELOGGING");
  std::ifstream log(dir / "data" / "VELMORA IT Co" / "DriverLog.txt");
  const std::pair<const char*, char> marks[] = {
      {"CUnidrvInterface::Initialize => start", 'I'},
      {"CUnidrvInterface::UpdatePDev =>", 'A'},
      {"CUnidrvInterface::Reset => start", 'R'},
      {"CUnidrvInterface::Release =>", 'X'},
      {"=> GPD_CMD_START_JOB", 'J'},
      {"=> GPD_CMD_START_DOC", 'D'},
      {"=> GPD_CMD_START_PAGE", 'P'},
  };
  std::string order;
  for (std::string line; std::getline(log, line);) {
    for (const auto& [text, mark] : marks) {
      if (line.find(text) != std::string::npos) order += mark;
    }
  }
  EXPECT_EQ(order,
            "IAJDP"
            "IARXDP"
            "X");
}

TEST_F(DocumentJobs, LetterheadOverlayPlaysOnEveryPage) {
  fs::create_directory(dir / "forms");
  Run("printer set P1 OvelayDirectory=" + P("forms"));
  Run("printer set P1 'OvelayFiles=Letterhead;letterhead.ovl'");
  const testing::CliRun capture =
      testing::Velmora("print --printer P1 --set dwOverlayMode=1 -o " + P("capture.pxl") + " " + P("letterhead.pdf"));
  ASSERT_EQ(capture.status, 0) << capture.out;
  ASSERT_TRUE(fs::exists(dir / "forms" / "letterhead.ovl"));
  EXPECT_FALSE(fs::exists(dir / "capture.pxl"));
  Run("printer set P1 OvelayFiles=letterhead.ovl");

  const Bytes plain = Print(P("document.pdf"), "");
  const int letterheadTexts = Sheets(Operators(Reference(P("letterhead.pdf"))))[0].texts;
  ASSERT_GT(letterheadTexts, 0);
  for (const char* under : {"1", "0"}) {
    SCOPED_TRACE(std::string("bOverlayUnder=") + under);
    const Bytes job = Print(P("document.pdf"), std::string("--set dwOverlayMode=2 --set bOverlayUnder=") + under);
    const std::vector<Sheet> sheets = Sheets(Operators(job));
    const std::vector<Sheet> plainSheets = Sheets(Operators(plain));
    ASSERT_EQ(sheets.size(), 5u);
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      // The letterhead's name comes with every page.
      EXPECT_EQ(sheets[i].texts - plainSheets[i].texts, letterheadTexts) << "sheet " << i + 1;
    }
    const auto pages = Render(job, "overlay");
    if (!pages) GTEST_SKIP() << "../shared/tools/gpcl6 is missing: the rendering was skipped";
    ASSERT_EQ(pages->size(), 5u);
    for (std::size_t i = 0; i < pages->size(); ++i) {
      // The letterhead's rule, 72 points from the top of the page, is drawn. Page 4 is a
      // landscape page, printed on a sheet turned to landscape: there the top of the page
      // runs along the sheet's left edge.
      const Gray& page = (*pages)[i];
      const bool landscape = i == 3;
      const int line = 100;
      int dark = 0;
      for (int along = 0; along < (landscape ? page.height : page.width); ++along) {
        const std::size_t at = landscape ? static_cast<std::size_t>(along) * page.width + line
                                         : static_cast<std::size_t>(line) * page.width + along;
        if (page.pixels[at] < 128) ++dark;
      }
      EXPECT_GT(dark, (landscape ? page.height : page.width) / 2) << "page " << i + 1;
    }
  }
}

TEST_F(DocumentJobs, PageRangesPickPages) {
  const std::size_t all = Sheets(Operators(Print(P("document.pdf"), ""))).size();
  ASSERT_GE(all, 4u);
  struct Case {
    std::string ranges;
    std::size_t sheets;
  };
  const Case cases[] = {
      {"2-3", 2},
      {"1,3-", all - 1},
      {"4-99", all - 3},  // pages past the end are not there to print
      {"1,3-60000", all - 1},
      {"2-2147483647", all - 1},  // an end past the largest page number runs to the end  // nor are 60,000 of them:
                                  // Ghostscript reports each, the job goes on
      // Each named page once, in the document's order; "-2" from the first page.
      {"3,1", 2},
      {"1-2,2-3", 3},
      {"3-4,1-3", 4},
      {"-2", 2},
      {"1,,3", 2},
      {"' 1, 3 - 4'", 3},  // spaces around numbers and separators are left out
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sheets(Operators(Print(P("document.pdf"), "--page-ranges " + c.ranges))).size(), c.sheets) << c.ranges;
  }
  const struct {
    std::string ranges;
    std::string message;
  } refused[] = {
      {"90-99", "velmora: Unable to print '" + P("document.pdf") + "': the document has none of the pages 90-99"},
      {"3-1", "velmora: --page-ranges '3-1': the range '3-1' runs backwards"},
      {"0", "velmora: --page-ranges '0': pages count from 1"},
      {",", "velmora: --page-ranges ',': no pages named"},
      {"a", "velmora: --page-ranges 'a': 'a' is not a page number"},
      {"100000000", "velmora: --page-ranges '100000000': pages count to 99999999"},
  };
  for (const auto& r : refused) {
    const testing::CliRun run = testing::Velmora("print --printer P1 --page-ranges " + r.ranges + " -o " +
                                                 P("bad.pxl") + " " + P("document.pdf"));
    EXPECT_EQ(run.status, 1) << r.ranges;
    EXPECT_EQ(run.out, r.message + "\n");
    EXPECT_FALSE(fs::exists(P("bad.pxl"))) << r.ranges;
  }
}

// A whole PDF whose cross-reference offset is wrong: Ghostscript repairs it and renders
// every page, so it prints, and its user is told.
TEST_F(DocumentJobs, RepairedDocumentPrintsWithANotice) {
  const Bytes pdf = ReadBytes(P("document.pdf"));
  std::string text(pdf.begin(), pdf.end());
  const std::size_t offset = text.rfind("startxref") + std::string("startxref").size();
  const std::size_t end = text.find("%%EOF", offset);
  ASSERT_NE(end, std::string::npos);
  text.replace(offset, end - offset, "\n12345\n");
  WriteText("repairable.pdf", text);
  const testing::CliRun run =
      testing::Velmora("print --printer P1 -o " + P("repaired.pxl") + " " + P("repairable.pdf"));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(
      run.out,
      "velmora: The PDF has errors that Ghostscript repaired (startxref offset invalid); it prints as Ghostscript "
      "rendered it\n");
  const auto pages = [](const Bytes& job) {
    const std::vector<Event> ops = Operators(job);
    return std::count_if(ops.begin(), ops.end(), [](const Event& e) { return e.Is(Op::BeginPage); });
  };
  EXPECT_EQ(pages(ReadBytes(P("repaired.pxl"))), pages(Print(P("document.pdf"), "")));
}

// Page comments are only comments: a document whose %%Pages and %%Page comments agree
// while its text shows another count of pages (a page that shows two, one that shows
// none) is rendered whole first and prints every page Ghostscript renders. One that hides
// the miscount (a page shown twice in a loop) is started for the count it states and
// fails once the count proves wrong, before its job is delivered.
TEST_F(DocumentJobs, PageCommentsThatMiscountPrintAsRenderedOrFailClearly) {
  const auto document = [](int stated, const std::vector<std::string>& pages) {
    std::string text = "%!PS-Adobe-3.0\n%%Pages: " + std::to_string(stated) +
                       "\n%%EndComments\n/Times-Roman findfont 20 scalefont setfont\n";
    for (std::size_t page = 1; page <= pages.size(); ++page) {
      text += "%%Page: " + std::to_string(page) + " " + std::to_string(page) + "\n" + pages[page - 1] + "\n";
    }
    return text + "%%EOF\n";
  };
  constexpr char kShown[] = "72 700 moveto (a page) show showpage";
  struct Case {
    const char* what;
    std::string text;
    std::size_t sheets;  // 0: the job fails
  };
  const Case cases[] = {
      {"a page that shows two",
       document(2, {kShown, "72 700 moveto (two) show showpage 72 700 moveto (three) show showpage"}), 3},
      {"a page that shows none", document(3, {kShown, "72 650 moveto (half) show", kShown}), 2},
      {"a page shown twice in a loop", document(2, {kShown, "2 { showpage } repeat"}), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteText("miscount.ps", c.text);
    if (c.sheets != 0) {
      EXPECT_EQ(Sheets(Operators(Print(P("miscount.ps"), ""))).size(), c.sheets);
      continue;
    }
    fs::remove(P("job.pxl"));
    const testing::CliRun run = testing::Velmora("print --printer P1 -o " + P("job.pxl") + " " + P("miscount.ps"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "velmora: Unable to print '" + P("miscount.ps") +
                           "': Ghostscript rendered 3 page(s), not the 2 its %%Pages and %%Page comments state, "
                           "which the job was started with\n");
    EXPECT_FALSE(fs::exists(P("job.pxl")));
  }
}

TEST_F(DocumentJobs, BadDocumentsAreRefusedAndLeaveNothing) {
  const Bytes pdf = ReadBytes(P("document.pdf"));
  std::ofstream(P("empty.pdf")).close();
  WriteText("notes.txt", "Just a few words of plain text.\n");
  std::ofstream(P("truncated.pdf"), std::ios::binary)
      .write(reinterpret_cast<const char*>(pdf.data()), static_cast<std::streamsize>(pdf.size() / 2));
  ASSERT_EQ(Shell("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOwnerPassword=owner -sUserPassword=user "
                  "-dEncryptionR=3 -dKeyLength=128 -sOutputFile=" +
                  P("locked.pdf") + " " + P("document.pdf")),
            0);
  WriteText("broken.ps",
            "%!PS\n/Helvetica findfont 12 scalefont setfont 72 720 moveto (one) show showpage\n"
            "nosuchoperator showpage\n");
  // A document that reads another job's file in the temporary folder, which -dSAFER
  // lets it read unless each job's Ghostscript has a private one, and hands its text back
  // through the error it raises.
  WriteText("peeking.ps",
            "%!PS\n(" + P("tmp/velmora-input.other") + ") (r) file 99 string readline pop cvn cvx exec\n");
  struct Case {
    std::string file;
    std::string cause;  // the whole cause
    int lines;          // Ghostscript's own line, whole, comes before the cause of a PostScript error
  };
  const Case cases[] = {
      {"empty.pdf", "the file is empty", 1},
      {"notes.txt", "not a PDF or PostScript document", 1},
      {"truncated.pdf", "the PDF is damaged or truncated (Ghostscript: ", 1},
      {"locked.pdf", "the PDF is protected by a password", 1},
      {"broken.ps", "PostScript error: /undefined\n", 2},
      {"peeking.ps", "PostScript error: /invalidfileaccess\n", 2},
      {"missing.pdf", "no such file", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    WriteText("tmp/velmora-input.other", "SALARY-LIST\n");
    const testing::CliRun run = testing::Velmora("print --printer P1 -o " + P("bad.pxl") + " " + P(c.file));
    fs::remove(dir / "tmp/velmora-input.other");
    EXPECT_EQ(run.status, 1);
    const std::string last = run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
    EXPECT_TRUE(last.starts_with("velmora: Unable to print '" + P(c.file) + "': " + c.cause)) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), c.lines) << run.out;
    for (const auto& entry : fs::directory_iterator(dir)) {
      EXPECT_FALSE(entry.path().filename().string().find("bad.pxl") != std::string::npos) << entry.path();
    }
    EXPECT_TRUE(fs::is_empty(dir / "tmp")) << "temporary files left behind";
    const std::string jobs = testing::Velmora("jobs").out;
    const std::string lastJob = jobs.substr(jobs.rfind('\n', jobs.size() - 2) + 1);
    EXPECT_NE(lastJob.find("error,deleting,deleted"), std::string::npos) << jobs;
  }
}

}  // namespace
}  // namespace velmora
