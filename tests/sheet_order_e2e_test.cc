// N-up and booklet sheets as a reader holds them: a document whose pages show their own
// numbers is printed by velmora, its sheets are imaged by the independent PCL XL
// interpreter, and the marks found on each sheet say where every page landed, which way
// up it stands, and whether anything of it landed outside its own area.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/fakes/gpcl6_pages.h"
#include "tests/fakes/job_folder.h"
#include "tests/fakes/run_velmora.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::Gray;

// `n w h page` makes a page of w x h points that shows its number n: a frame well inside
// the printable area holds the page's marks together, a bar across the top says which way is
// up, and n squares below it, four to a row, give the number. `n w h bleeding` makes the
// same page with a tab across the middle of each edge, reaching from 6 pt inside the page,
// within the margin a printer leaves unprinted, to past the page's edge: nothing of it may
// show on a sheet.
constexpr char kMarkedPage[] = R"(%!PS
/marks {
  /h exch def /w exch def /n exch def
  << /PageSize [w h] >> setpagedevice
  /u w h lt { w } { h } ifelse 10 div def
  /e u 2 div def
  /q u 4 div def
  0 setgray
  e e w e 2 mul sub q rectfill
  e h e sub q sub w e 2 mul sub q rectfill
  e e q h e 2 mul sub rectfill
  w e sub q sub e q h e 2 mul sub rectfill
  w 0.15 mul h u 2.05 mul sub w 0.7 mul u 0.8 mul rectfill
  0 1 n 1 sub {
    /k exch def
    w u 5.5 mul sub 2 div k 4 mod u 1.5 mul mul add
    h u 3.85 mul sub k 4 idiv u 1.5 mul mul sub
    u u rectfill
  } for
} def
/page { marks showpage } def
/bleeding {
  marks
  w 0.4 mul -20 w 0.2 mul 26 rectfill
  w 0.4 mul h 6 sub w 0.2 mul 26 rectfill
  -20 h 0.4 mul 26 h 0.2 mul rectfill
  w 6 sub h 0.4 mul 26 h 0.2 mul rectfill
  showpage
} def
)";

// The test document, on Letter: pages 1-16 are portrait pages 1 to 16; pages 17-24 a
// booklet's pages 1 to 8, of which the third is landscape; pages 25-30 landscape pages 1
// to 6; pages 31-34 bleeding portrait pages 1 to 4.
std::string NumberedDocument() {
  std::string document = kMarkedPage;
  for (int n = 1; n <= 16; ++n) document += std::to_string(n) + " 612 792 page\n";
  for (int n = 1; n <= 8; ++n) document += std::to_string(n) + (n == 3 ? " 792 612 page\n" : " 612 792 page\n");
  for (int n = 1; n <= 6; ++n) document += std::to_string(n) + " 792 612 page\n";
  for (int n = 1; n <= 4; ++n) document += std::to_string(n) + " 612 792 bleeding\n";
  return document;
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// A connected run of dark pixels.
struct Blob {
  int left, top, right, bottom;  // inclusive
  double x = 0, y = 0;           // centre of its pixels
  int Width() const { return right - left + 1; }
  int Height() const { return bottom - top + 1; }
  bool Holds(const Blob& other) const {
    return &other != this && other.left > left && other.right < right && other.top > top && other.bottom < bottom;
  }
};

std::vector<Blob> Blobs(const Gray& image) {
  std::vector<Blob> blobs;
  std::vector<bool> seen(image.pixels.size());
  std::vector<std::size_t> stack;
  const auto dark = [&](std::size_t at) { return image.pixels[at] < 128 && !seen[at]; };
  for (std::size_t start = 0; start < image.pixels.size(); ++start) {
    if (!dark(start)) continue;
    const int x0 = static_cast<int>(start % image.width);
    const int y0 = static_cast<int>(start / image.width);
    Blob blob{x0, y0, x0, y0};
    long count = 0;
    seen[start] = true;
    stack.push_back(start);
    while (!stack.empty()) {
      const std::size_t at = stack.back();
      stack.pop_back();
      const int x = static_cast<int>(at % image.width);
      const int y = static_cast<int>(at / image.width);
      blob.left = std::min(blob.left, x);
      blob.right = std::max(blob.right, x);
      blob.top = std::min(blob.top, y);
      blob.bottom = std::max(blob.bottom, y);
      blob.x += x;
      blob.y += y;
      ++count;
      if (x > 0 && dark(at - 1)) seen[at - 1] = true, stack.push_back(at - 1);
      if (x + 1 < image.width && dark(at + 1)) seen[at + 1] = true, stack.push_back(at + 1);
      if (y > 0 && dark(at - image.width)) seen[at - image.width] = true, stack.push_back(at - image.width);
      if (y + 1 < image.height && dark(at + image.width)) {
        seen[at + image.width] = true, stack.push_back(at + image.width);
      }
    }
    blob.x /= static_cast<double>(count);
    blob.y /= static_cast<double>(count);
    blobs.push_back(blob);
  }
  return blobs;
}

// A page found on a sheet: its number, its centre and the way its top points, in pixels.
struct PageSeen {
  int number = 0;
  double x = 0, y = 0;
  int upX = 0, upY = 0;
  int size = 0;  // the frame's shorter side
};

std::vector<PageSeen> PagesOn(const std::vector<Blob>& blobs) {
  std::vector<PageSeen> pages;
  for (const Blob& frame : blobs) {
    if (std::none_of(blobs.begin(), blobs.end(), [&](const Blob& b) { return frame.Holds(b); })) continue;
    PageSeen page;
    page.x = (frame.left + frame.right) / 2.0;
    page.y = (frame.top + frame.bottom) / 2.0;
    page.size = std::min(frame.Width(), frame.Height());
    const Blob* bar = nullptr;
    for (const Blob& mark : blobs) {
      if (!frame.Holds(mark)) continue;
      const int longer = std::max(mark.Width(), mark.Height());
      const int shorter = std::min(mark.Width(), mark.Height());
      if (longer > 3 * shorter) {
        bar = &mark;
      } else {
        ++page.number;
      }
    }
    if (bar == nullptr) continue;
    // The bar runs across the page's top.
    if (bar->Width() > bar->Height()) {
      page.upY = bar->y < page.y ? -1 : 1;
    } else {
      page.upX = bar->x < page.x ? -1 : 1;
    }
    pages.push_back(page);
  }
  return pages;
}

// Marks on a sheet that are neither a page's frame nor inside one: what a page drew outside
// its own area, landed beside it.
std::size_t StrayMarks(const std::vector<Blob>& blobs) {
  const auto holds = [&blobs](const Blob& blob) {
    return std::any_of(blobs.begin(), blobs.end(), [&](const Blob& b) { return blob.Holds(b); });
  };
  const auto held = [&blobs](const Blob& blob) {
    return std::any_of(blobs.begin(), blobs.end(), [&](const Blob& b) { return b.Holds(blob); });
  };
  return static_cast<std::size_t>(
      std::count_if(blobs.begin(), blobs.end(), [&](const Blob& blob) { return !holds(blob) && !held(blob); }));
}

// The pages of a sheet as a reader holds it to read its first page upright: numbers left
// to right, rows (" / ") top to bottom. A page that stands another way than the first is
// shown with a "*".
std::string ReaderView(std::vector<PageSeen> pages) {
  if (pages.empty()) return "(no pages)";
  const int upX = pages.front().upX;
  const int upY = pages.front().upY;
  // Turning the sheet so that up points up: the reader's right is up turned clockwise.
  const int rightX = -upY;
  const int rightY = upX;
  struct Placed {
    double across, down;
    std::string text;
  };
  std::vector<Placed> placed;
  int size = pages.front().size;
  for (const PageSeen& page : pages) {
    const bool upright = page.upX == upX && page.upY == upY;
    placed.push_back({page.x * rightX + page.y * rightY, -(page.x * upX + page.y * upY),
                      std::to_string(page.number) + (upright ? "" : "*")});
    size = std::min(size, page.size);
  }
  std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.down < b.down; });
  std::vector<std::vector<Placed>> rows;
  for (const Placed& p : placed) {
    if (rows.empty() || p.down - rows.back().front().down > size / 2.0) rows.emplace_back();
    rows.back().push_back(p);
  }
  std::string view;
  for (std::vector<Placed>& row : rows) {
    std::sort(row.begin(), row.end(), [](const Placed& a, const Placed& b) { return a.across < b.across; });
    if (!view.empty()) view += " / ";
    for (std::size_t i = 0; i < row.size(); ++i) view += (i == 0 ? "" : " ") + row[i].text;
  }
  return view;
}

class SheetOrder : public testing::JobFolderTest {
 protected:
  void SetUp() override {
    JobFolderTest::SetUp();
    if (Shell("gs --version") != 0) GTEST_SKIP() << "Ghostscript (gs) is not installed: scripts/install-deps";
  }
  std::string P(const std::string& name) const { return (dir / name).string(); }
  // `text` as PostScript converted to the PDF `name`.
  void MakePdf(const std::string& name, const std::string& text) {
    std::ofstream(dir / (name + ".ps")) << text;
    ASSERT_EQ(Shell("ps2pdf " + P(name + ".ps") + " " + P(name)), 0);
  }
};

// Held to be read, page n of a sheet comes before page n + 1 in the order the settings
// name, left to right (or top to bottom), whichever way the layout turns the pages; a
// folded booklet reads 1, 2, 3, ... with every page upright on its booklet page; each page
// stays inside its own area, whatever it draws past its edges; the sheets take the
// document's paper; and a reversed job sends them last first, unless the plug-in counts
// them (a watermark), which the user is told.
TEST_F(SheetOrder, ReadersSeePagesInOrder) {
  if (testing::Gpcl6().empty()) GTEST_SKIP() << "../shared/tools/gpcl6 is missing: the sheets cannot be imaged";
  MakePdf("numbered.pdf", NumberedDocument());
  struct Case {
    std::string pages;  // of the test document
    std::string settings;
    std::vector<std::string> sheets;  // each as ReaderView shows it
    std::string said = {};            // a part of what velmora said, or nothing said
  };
  const Case cases[] = {
      {"1-4", "--set vdmPagesPerSheet=2", {"1 2", "3 4"}},
      {"1-2", "--set vdmPagesPerSheet=2 --set dwTwoUpOrder=1", {"2 1"}},
      {"1-4", "--set vdmPagesPerSheet=4", {"1 3 / 2 4"}},
      {"1-6", "--set vdmPagesPerSheet=6", {"1 3 5 / 2 4 6"}},
      {"1-6", "--set vdmPagesPerSheet=6 --set dwNupOrder=4", {"1 2 3 / 4 5 6"}},
      {"1-8", "--set vdmPagesPerSheet=8", {"1 3 5 7 / 2 4 6 8"}},
      {"1-8", "--set vdmPagesPerSheet=8 --set dwNupOrder=7", {"8 7 6 5 / 4 3 2 1"}},
      {"1-9", "--set vdmPagesPerSheet=9", {"1 4 7 / 2 5 8 / 3 6 9"}},
      {"1-16", "--set vdmPagesPerSheet=16", {"1 5 9 13 / 2 6 10 14 / 3 7 11 15 / 4 8 12 16"}},
      {"17-24", "--set bBooklet=1", {"8 1", "2 7", "6 3", "4 5"}},
      {"17-24", "--set bBooklet=1 --set bBookletReverse=1", {"1 8", "7 2", "3 6", "5 4"}},
      // Landscape pages: on landscape sheets, and on the portrait sheets a job names.
      {"25-26", "--set vdmPagesPerSheet=2", {"1 / 2"}},
      {"25-30", "--set vdmPagesPerSheet=6", {"1 4 / 2 5 / 3 6"}},
      {"25-26", "--set vdmPagesPerSheet=2 --set dmPaperSize=1", {"1 / 2"}},
      {"25-28", "--set vdmPagesPerSheet=4 --set dmPaperSize=1", {"1 3 / 2 4"}},
      // Pages that draw past their edges, beside each other and on turned booklet pages.
      {"31-34", "--set vdmPagesPerSheet=4", {"1 3 / 2 4"}},
      {"31-34", "--set bBooklet=1", {"4 1", "2 3"}},
      // An orientation is not a paper: the sheets stay the document's Letter.
      {"1-2", "--set dmOrientation=2", {"1", "2"}},
      {"1-4", "--set vdmPagesPerSheet=4 --set dmOrientation=2", {"1 3 / 2 4"}},
      {"1-3", "--option OutputOrder=REVERSE", {"3", "2", "1"}},
      // Two-sided, the print-out turned over: a blank side keeps every side on its sheet.
      {"1-3", "--option OutputOrder=REVERSE --set dmDuplex=2", {"(no pages)", "3", "2", "1"}},
      {"1-5", "--option OutputOrder=REVERSE --set vdmPagesPerSheet=4 --set dwNupOrder=4", {"5", "1 2 / 3 4"}},
      {"1-2", "--option OutputOrder=REVERSE --set sFP_SectionIndex=1", {"1", "2"}, "not reversed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings + " --page-ranges " + c.pages);
    fs::remove(P("job.pxl"));
    const testing::CliRun run = testing::Velmora("print " + c.settings + " --page-ranges " + c.pages + " -o " +
                                                 P("job.pxl") + " " + P("numbered.pdf"));
    ASSERT_EQ(run.status, 0) << run.out;
    if (c.said.empty()) {
      EXPECT_EQ(run.out, "");
    } else {
      EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
    }
    std::ifstream file(P("job.pxl"), std::ios::binary);
    const std::string job{std::istreambuf_iterator<char>(file), {}};
    EXPECT_NE(job.find("@PJL SET PAPER=LETTER"), std::string::npos);
    const auto rendered = testing::RenderSheets(P("job.pxl"), dir, "sheet", 50);
    ASSERT_TRUE(rendered);
    EXPECT_EQ(rendered->said.find("PCL XL error"), std::string::npos) << rendered->said;
    std::vector<std::string> seen;
    for (const Gray& sheet : rendered->sheets) {
      // Letter at 50 dots per inch, whichever way the sheet is imaged.
      EXPECT_EQ(std::min(sheet.width, sheet.height), 425);
      EXPECT_EQ(std::max(sheet.width, sheet.height), 550);
      const std::vector<Blob> blobs = Blobs(sheet);
      seen.push_back(ReaderView(PagesOn(blobs)));
      EXPECT_EQ(StrayMarks(blobs), 0U) << "sheet " << seen.size();
    }
    EXPECT_EQ(seen, c.sheets);
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() == ".pgm") fs::remove(entry.path());
    }
  }
}

// Pages of a size no paper has are fitted onto the job's paper, and the user is told once
// per job, unless the job named its paper itself.
TEST_F(SheetOrder, PagesOfUnknownSizeAreFittedWithOneNotice) {
  MakePdf("odd.pdf",
          "%!PS\n<< /PageSize [764 981] >> setpagedevice 72 700 moveto 300 700 lineto stroke showpage\n"
          "<< /PageSize [764 981] >> setpagedevice showpage\n");
  const std::string notice =
      "velmora: Page 1 of the job is 764 x 981 pt (270 x 346 mm), a size the printer has no paper for: it is fitted "
      "onto A4, as is any other page of such a size\n";
  const std::pair<std::string, std::string> cases[] = {
      {"", notice},
      {"--set vdmPagesPerSheet=4", notice},
      {"--set bBooklet=1", notice},
      {"--set dmPaperSize=9", ""},
  };
  for (const auto& [settings, said] : cases) {
    const testing::CliRun run = testing::Velmora("print " + settings + " -o " + P("job.pxl") + " " + P("odd.pdf"));
    EXPECT_EQ(run.status, 0) << settings;
    EXPECT_EQ(run.out, said) << settings;
  }
}

}  // namespace
}  // namespace velmora
