// The PCL XL commands the generator inserts, byte for byte.
#include <gtest/gtest.h>

#include <optional>

#include "tests/fakes/job_world.h"

namespace velmora {
namespace {

using testing::Bytes;
using testing::JobWorld;

class PclxlEncoder : public ::testing::Test {
 protected:
  CCommandInsertor& Insertor() {
    if (!insertor) {
      insertor = std::make_unique<CCommandInsertor>(world.body(), &world.devmode, &world.device, &world.services,
                                                    world.jobId, world.printer);
    }
    return *insertor;
  }
  JobWorld world;
  std::unique_ptr<CCommandInsertor> insertor;
};

TEST_F(PclxlEncoder, FixedSequences) {
  struct Case {
    const char* name;
    std::function<void(CCommandInsertor&)> write;
    std::vector<Bytes> writes;  // each DrvWriteSpoolBuf call
  };
  const Case cases[] = {
      {"ubyte", [](auto& c) { c.OutputPCLXLCommandUbyte(7, 0x26); }, {{0xC0, 0x07, 0xF8, 0x26}}},
      {"ubyte array",
       [](auto& c) {
         const std::uint8_t b[] = {'A', 'b'};
         c.OutputPCLXLUbyteArrayCommand(b, 0x27, 2);
       },
       {{0xC8, 0xC0, 0x02}, {'A'}, {'b'}, {0xF8, 0x27}}},
      {"rop", [](auto& c) { c.OutputPCLXLROP(); }, {{0xC0, 0xCC, 0xF8, 0x2C, 0x7B}}},
      {"colour space", [](auto& c) { c.InsertColorSpacePCLXLCommands(); }, {{0xC0, 0x01, 0xF8, 0x03}, {0x6A}}},
      {"page origin",
       [](auto& c) { c.OutputPCLXLPageOrigin(-10, 20); },
       {{0xD3, 0xF6, 0xFF, 0x14, 0x00, 0xF8, 0x2A}, {0x75}}},
      {"page scale",
       [](auto& c) { c.OutputPCLXLPageScale(); },
       {{0xD5, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F, 0xF8, 0x2B}, {0x77}}},
      {"clip rectangle",
       [](auto& c) { c.OutputPCLXLClipRectangle(0, 0, 4762, 6817); },
       {{0xE3, 0x00, 0x00, 0x00, 0x00, 0x9A, 0x12, 0xA1, 0x1A, 0xF8, 0x42, 0xC0, 0x00, 0xF8, 0x53, 0x68}}},
      {"end page 1", [](auto& c) { c.OutputPCLXLEndPage(1); }, {{0xC1, 0x01, 0x00, 0xF8, 0x31, 0x44}}},
      {"end page 3", [](auto& c) { c.OutputPCLXLEndPage(3); }, {{0xC1, 0x03, 0x00, 0xF8, 0x31, 0x44}}},
      {"end page 300", [](auto& c) { c.OutputPCLXLEndPage(300); }, {{0xC1, 0x2C, 0x01, 0xF8, 0x31, 0x44}}},
      {"raw string",
       [](auto& c) { c.OutputRawString("%%OVL_PCLXL_BEGIN"); },
       {{'%', '%', 'O', 'V', 'L', '_', 'P', 'C', 'L', 'X', 'L', '_', 'B', 'E', 'G', 'I', 'N'}}},
      {"raw byte", [](auto& c) { c.OutputRawByte(0x61); }, {{0x61}}},
  };
  for (const auto& c : cases) {
    world.Take();
    c.write(Insertor());
    EXPECT_EQ(world.services.writes, c.writes) << c.name;
  }
}

TEST_F(PclxlEncoder, MediaSourceFromTheHostsInputBin) {
  struct Case {
    const char* option;
    std::int16_t defaultSource;
    Bytes expected;
  };
  const Case cases[] = {
      {"FORMSOURCE", 260, {0xC0, 0x01, 0xF8, 0x26}},
      {"BYPASSTRAY", 260, {0xC0, 0x02, 0xF8, 0x26}},
      {"tray1", 260, {0xC0, 0x04, 0xF8, 0x26}},
      {"TRAY2", 260, {0xC0, 0x05, 0xF8, 0x26}},
      {"TRAY3", 260, {0xC0, 0x07, 0xF8, 0x26}},
      {"MANUALFEED", 260, {}},
      // A standard bin number names the form's source, cut to the host's answer's size.
      {"BYPASSTRAY", 7, {0xC0, 0x01, 0xF8, 0x26}},
      {"TRAY1", 7, {}},
  };
  for (const auto& c : cases) {
    world.Take();
    world.services.options["InputBin"] = c.option;
    world.devmode.dmDefaultSource = c.defaultSource;
    EXPECT_EQ(Insertor().InsertMediaTrayCommand(&world.area), S_OK);
    EXPECT_EQ(world.Take(), c.expected) << c.option << " " << c.defaultSource;
  }
  world.services.options.erase("InputBin");
  EXPECT_EQ(Insertor().InsertMediaTrayCommand(&world.area), S_OK);
  EXPECT_TRUE(world.Take().empty());
}

TEST_F(PclxlEncoder, MediaTypeFromTheHostsOption) {
  const std::pair<const char*, std::string> cases[] = {
      {"STANDARD", "Standard"},
      {"AUTO", "Standard"},
      {"PLAIN", "Plain"},
      {"RECYCLED", "Recycled"},
      {"THICK", "Thick"},
      {"VERYTHICK", "Very Thick"},
      {"THIN", "Thin"},
      {"TRANSPARENCY", "Transparency"},
      {"PAPERLABEL", "Paper Label"},
      {"VINYLLABEL", "Vinyl Label"},
      {"ENVELOPE", "Envelope"},
      {"CARDSTOCK", "Card Stock"},
      {"postcard", "Postcard"},
  };
  for (const auto& [option, name] : cases) {
    world.Take();
    world.services.options["MediaType"] = option;
    EXPECT_EQ(Insertor().InsertMediaTypeCommand(&world.area), S_OK);
    const Bytes expected =
        testing::Cat({{0xC8, 0xC0, static_cast<std::uint8_t>(name.size())}, testing::Text(name), {0xF8, 0x27}});
    EXPECT_EQ(world.services.written, expected) << option;
    EXPECT_EQ(world.services.writes.size(), name.size() + 2) << option;  // head, each byte, tail
  }
  world.Take();
  world.services.options["MediaType"] = "GLOSSY";
  Insertor().InsertMediaTypeCommand(&world.area);
  EXPECT_TRUE(world.Take().empty());
}

TEST_F(PclxlEncoder, SpecialPagesTakeTheirBlocksTrayAndMedia) {
  struct Case {
    std::uint32_t kind;
    std::int16_t tray;
    std::int16_t media;
    HRESULT result;
    Bytes traySequence;
    std::string mediaName;  // empty: no MediaType
  };
  const Case cases[] = {
      {1, 0, 0, S_OK, {0xC0, 0x01, 0xF8, 0x26}, "Standard"},
      {2, 1, 4, S_OK, {0xC0, 0x02, 0xF8, 0x26}, "Very Thick"},
      {3, 2, 11, S_OK, {0xC0, 0x04, 0xF8, 0x26}, "Postcard"},
      {1, 3, 7, S_OK, {0xC0, 0x05, 0xF8, 0x26}, "Paper Label"},
      {2, 4, 10, S_OK, {0xC0, 0x07, 0xF8, 0x26}, "Card Stock"},
      {3, 5, 12, S_OK, {}, ""},
      {1, -1, -1, S_OK, {}, ""},
      {4, 0, 0, E_FAIL, {}, ""},
      {0xFFFFFFFF, 0, 0, E_FAIL, {}, ""},
  };
  for (const auto& c : cases) {
    world.settings().set_dwSpecialPageKind(c.kind);
    for (std::uint32_t kind = 1; kind <= 3; ++kind) {
      world.settings().SpecialPage(kind)->set_sTrayIndex(kind == c.kind ? c.tray : 1);
      world.settings().SpecialPage(kind)->set_sMediaIndex(kind == c.kind ? c.media : 1);
    }
    world.Take();
    EXPECT_EQ(Insertor().InsertMediaTrayCommand(&world.area), c.result) << c.kind;
    EXPECT_EQ(world.Take(), c.traySequence) << "tray, kind " << c.kind << " index " << c.tray;
    EXPECT_EQ(Insertor().InsertMediaTypeCommand(&world.area), c.result) << c.kind;
    const Bytes media = c.mediaName.empty() ? Bytes{}
                                            : testing::Cat({{0xC8, 0xC0, static_cast<std::uint8_t>(c.mediaName.size())},
                                                            testing::Text(c.mediaName),
                                                            {0xF8, 0x27}});
    EXPECT_EQ(world.Take(), media) << "media, kind " << c.kind << " index " << c.media;
  }
}

// Simplex jobs: SimplexPageMode. Duplex jobs: DuplexPageMode, the binding edge of the page
// as it stands on the sheet (0 its top, 1 its left), and DuplexPageSide (0 front, 1 back).
TEST_F(PclxlEncoder, PageModeAttributes) {
  const Bytes simplex = {0xC0, 0x00, 0xF8, 0x34};
  const auto duplex = [](std::uint8_t binding, std::optional<std::uint8_t> side) {
    Bytes bytes = {0xC0, binding, 0xF8, 0x35};
    if (side) bytes.insert(bytes.end(), {0xC0, *side, 0xF8, 0x36});
    return bytes;
  };
  struct Case {
    std::int16_t duplex;  // 1 simplex, 2 long edge, 3 short edge
    std::int16_t orientation;
    std::uint8_t booklet;
    DWORD page;
    Bytes expected;
  };
  const Case cases[] = {
      {1, 1, 0, 1, simplex},      {1, 2, 1, 2, simplex},       {2, 1, 0, 1, duplex(1, 0)},  {2, 1, 0, 2, duplex(1, 1)},
      {3, 1, 0, 3, duplex(0, 0)}, {2, 2, 0, 4, duplex(1, 1)},  {3, 2, 0, 5, duplex(0, 0)},  {2, 1, 1, 2, duplex(0, 1)},
      {3, 2, 1, 3, duplex(0, 0)}, {2, 1, 0, 0, duplex(1, {})}, {3, 1, 0, 0, duplex(0, {})},
  };
  for (const auto& c : cases) {
    world.devmode.dmDuplex = c.duplex;
    world.devmode.dmOrientation = c.orientation;
    world.settings().set_bBooklet(c.booklet);
    world.area.dwPageNumber = c.page;
    world.Take();
    Insertor().InsertPCLCommandsforDuplex(&world.area);
    EXPECT_EQ(world.Take(), c.expected) << "duplex " << c.duplex << " orientation " << c.orientation << " booklet "
                                        << int(c.booklet) << " page " << c.page;
  }
}

}  // namespace
}  // namespace velmora
