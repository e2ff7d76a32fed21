// The Windows driver package: the committed files are the generator's, the GPD passes the
// GPD checker, calls the plug-in back where the host does, and agrees with the host's tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/printer_description.h"
#include "platform/paper_model.h"
#include "pxl/reader.h"
#include "src/commands/name_tables.h"
#include "tests/gpd_syntax.h"
#include "tools/driver_package/driver_package.h"

namespace velmora {
namespace {

using host::JobPoint;

// A *Command entry of the GPD, with the feature and option it belongs to (if any).
struct GpdCommand {
  std::string feature;
  std::string option;
  std::string name;
  std::string order;
  std::string cmd;
  DWORD callbackId = 0;
};

// The GPD as the tests need it: the options of each feature in order, the entries of
// each option, and every command, read with the tests' own GPD reader.
struct Gpd {
  std::map<std::string, std::vector<std::string>> options;
  std::map<std::string, std::map<std::string, std::string>> optionEntries;  // "Feature/Option" -> entries
  std::vector<GpdCommand> commands;
};

void CollectCommands(const gpd::Entry& entry, const std::string& feature, const std::string& option, Gpd& gpd) {
  if (entry.keyword != "Command") {
    for (const gpd::Entry& child : entry.children) CollectCommands(child, feature, option, gpd);
    return;
  }
  GpdCommand command{feature, option, entry.value, {}, {}, 0};
  if (const gpd::Entry* order = entry.Find("Order")) command.order = order->value;
  if (const gpd::Entry* cmd = entry.Find("Cmd")) command.cmd = cmd->value;
  if (const gpd::Entry* callback = entry.Find("CallbackID")) {
    command.callbackId = static_cast<DWORD>(std::stoul(callback->value));
  }
  gpd.commands.push_back(command);
}

Gpd ReadGpd(const std::string& text) {
  Gpd gpd;
  for (const gpd::Entry& entry : gpd::Parse(text)) {
    if (entry.keyword != "Feature") {
      CollectCommands(entry, {}, {}, gpd);
      continue;
    }
    for (const gpd::Entry* option : entry.All("Option")) {
      gpd.options[entry.value].push_back(option->value);
      for (const gpd::Entry& attribute : option->children) {
        gpd.optionEntries[entry.value + "/" + option->value][attribute.keyword] = attribute.value;
        CollectCommands(attribute, entry.value, option->value, gpd);
      }
    }
  }
  return gpd;
}

Gpd GeneratedGpd() { return ReadGpd(package::PrinterDescriptionGpd()); }

// The bytes of a command string: text as it stands, <..> groups as hexadecimal bytes.
std::string CommandBytes(const std::string& cmd) {
  std::string bytes;
  bool hex = false;
  std::string digits;
  for (std::size_t i = 1; i + 1 < cmd.size(); ++i) {
    const char c = cmd[i];
    if (!hex) {
      if (c == '<') {
        hex = true;
      } else {
        bytes += c;
      }
      continue;
    }
    if (c == '>' || c == ' ') {
      if (!digits.empty()) bytes += static_cast<char>(std::stoi(digits, nullptr, 16));
      digits.clear();
      hex = c != '>';
      continue;
    }
    digits += c;
  }
  return bytes;
}

const GpdCommand& SelectCommand(const Gpd& gpd, const std::string& feature, const std::string& option) {
  for (const GpdCommand& command : gpd.commands) {
    if (command.feature == feature && command.option == option && command.name == "CmdSelect") return command;
  }
  throw std::runtime_error("no CmdSelect for " + feature + "/" + option);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(DriverPackage, CommittedFilesAreTheGeneratorsByteForByte) {
  for (const package::PackageFile& file : package::DriverPackageFiles()) {
    const std::string path = std::string(VELMORA_PACKAGE_DIR) + "/" + std::string(file.name);
    EXPECT_TRUE(file.bytes == ReadFile(path))
        << path << " differs from the generator's; run velmora-driver-package -o packaging/windows";
  }
}

// Every command of the host's table, point by point and in order, is a GPD command in the
// matching section with rising order numbers: the callbacks by id, the host's own commands
// as *Cmd strings (a run of them may share one command).
TEST(DriverPackage, CallbacksSitWhereTheHostCallsThem) {
  const std::map<std::string, JobPoint> sections = {
      {"JOB_SETUP", JobPoint::kJobStart},  {"DOC_SETUP", JobPoint::kDocStart}, {"PAGE_SETUP", JobPoint::kPageStart},
      {"PAGE_FINISH", JobPoint::kPageEnd}, {"DOC_FINISH", JobPoint::kDocEnd},  {"JOB_FINISH", JobPoint::kJobEnd}};
  auto what = [](DWORD callbackId) { return callbackId != 0 ? "callback " + std::to_string(callbackId) : "host"; };
  auto collapse = [](std::vector<std::string> sequence) {
    sequence.erase(std::unique(sequence.begin(), sequence.end(),
                               [](const std::string& a, const std::string& b) { return a == "host" && b == "host"; }),
                   sequence.end());
    return sequence;
  };

  // All options of a feature share their selection command's order, so one order number
  // must always mean the same command.
  std::map<JobPoint, std::map<int, std::set<std::string>>> sent;
  for (const GpdCommand& command : GeneratedGpd().commands) {
    if (command.callbackId == 0 && command.cmd == "\"\"") continue;  // sends nothing
    const std::size_t dot = command.order.find('.');
    ASSERT_NE(dot, std::string::npos) << command.feature << "/" << command.option << " " << command.name;
    ASSERT_TRUE(sections.contains(command.order.substr(0, dot))) << command.order;
    EXPECT_NE(command.callbackId != 0, !command.cmd.empty()) << command.order << ": a callback or a command string";
    sent[sections.at(command.order.substr(0, dot))][std::stoi(command.order.substr(dot + 1))].insert(
        what(command.callbackId));
  }
  for (JobPoint point : {JobPoint::kJobStart, JobPoint::kDocStart, JobPoint::kPageStart, JobPoint::kPageEnd,
                         JobPoint::kDocEnd, JobPoint::kJobEnd}) {
    std::vector<std::string> expected;
    for (const host::PrinterCommand& command : host::CommandsAt(point)) {
      expected.push_back(what(command.kind == host::CommandKind::kCallback ? command.callbackId : 0));
    }
    std::vector<std::string> actual;
    for (const auto& [order, commands] : sent[point]) {
      EXPECT_EQ(commands.size(), 1u) << "order " << order << " sends different commands";
      actual.push_back(*commands.begin());
    }
    EXPECT_EQ(collapse(actual), collapse(expected)) << "job point " << static_cast<int>(point);
  }
}

// The features offer the table's options, in the table's order, each one a name the
// plug-in recognises when it asks for the current option.
TEST(DriverPackage, FeaturesOfferEveryOptionOfTheTable) {
  const Gpd gpd = GeneratedGpd();
  std::vector<std::string> papers, bins, mediaTypes;
  for (const host::Paper& paper : host::kPapers) papers.emplace_back(paper.option);
  for (const host::InputBin& bin : host::kInputBins) bins.emplace_back(bin.option);
  for (std::string_view option : host::kMediaTypeOptions) mediaTypes.emplace_back(option);

  const struct {
    std::string feature;
    std::vector<std::string> options;
    std::optional<std::size_t> (*recognised)(std::string_view);
  } features[] = {
      {"PaperSize", papers, FindPaperSize},           {"InputBin", bins, FindInputBin},
      {"MediaType", mediaTypes, FindMediaType},       {"Duplex", {"NONE", "VERTICAL", "HORIZONTAL"}, nullptr},
      {"Resolution", {"DPI600", "DPI1200"}, nullptr},
  };
  for (const auto& feature : features) {
    ASSERT_TRUE(gpd.options.contains(feature.feature)) << feature.feature;
    EXPECT_EQ(gpd.options.at(feature.feature), feature.options) << feature.feature;
    for (const std::string& option : feature.options) {
      if (feature.recognised != nullptr) {
        EXPECT_TRUE(feature.recognised(option).has_value()) << feature.feature << " " << option;
      }
    }
  }
  EXPECT_EQ(gpd.optionEntries.at("Resolution/DPI600").at("DPI"), "PAIR(600, 600)");
  EXPECT_EQ(gpd.optionEntries.at("Resolution/DPI1200").at("DPI"), "PAIR(1200, 1200)");
}

const gpd::Entry& FeatureOf(const std::vector<gpd::Entry>& root, std::string_view name) {
  for (const gpd::Entry& entry : root) {
    if (entry.keyword == "Feature" && entry.value == name) return entry;
  }
  throw std::runtime_error("no feature " + std::string(name));
}

const gpd::Entry& OptionOf(const gpd::Entry& feature, std::string_view name) {
  for (const gpd::Entry* option : feature.All("Option")) {
    if (option->value == name) return *option;
  }
  throw std::runtime_error("no option " + std::string(name) + " in " + feature.value);
}

// A paper or a tray is the same on Windows as in the host: a standard paper has the
// system's form name and DMPAPER number, a standard bin its DMBIN number, and the
// printer's own papers and trays the *Name and *OptionID the GPD gives them. The generic
// paper model knows every paper by the same name and number, with the same size.
TEST(DriverPackage, PapersAndTraysAgreeWithTheHost) {
  const std::vector<gpd::Entry> root = gpd::Parse(package::PrinterDescriptionGpd());
  const gpd::Entry& papers = FeatureOf(root, "PaperSize");
  const platform::PaperModel& model = platform::GenericPaperModel();
  for (const host::Paper& paper : host::kPapers) {
    const gpd::Entry& option = OptionOf(papers, paper.option);
    const std::optional<gpd::StandardPaper> standard = gpd::FindStandardPaper(paper.option);
    const bool own = option.Find("PageDimensions") != nullptr;
    const gpd::Entry* name = option.Find("Name");
    const gpd::Entry* id = option.Find("OptionID");
    ASSERT_TRUE(own ? name != nullptr && id != nullptr : standard.has_value()) << paper.option;
    const std::string form = own ? gpd::Unquoted(name->value) : std::string(standard->formName);
    const int code = own ? std::stoi(id->value) : standard->paperCode;
    EXPECT_EQ(paper.formName, form) << paper.option;
    EXPECT_EQ(paper.paperCode, code) << paper.option;
    const auto known = std::find_if(model.papers.begin(), model.papers.end(),
                                    [&](const platform::PaperSize& size) { return size.formName == form; });
    ASSERT_NE(known, model.papers.end()) << form;
    EXPECT_EQ(known->paperCode, code) << form;
    EXPECT_EQ(known->widthMm, paper.widthMm) << form;
    EXPECT_EQ(known->heightMm, paper.heightMm) << form;
  }
  const gpd::Entry& bins = FeatureOf(root, "InputBin");
  for (const host::InputBin& bin : host::kInputBins) {
    const gpd::Entry& option = OptionOf(bins, bin.option);
    const std::optional<int> standard = gpd::StandardBinNumber(bin.option);
    const gpd::Entry* id = option.Find("OptionID");
    ASSERT_TRUE(standard.has_value() || id != nullptr) << bin.option << " has no *OptionID";
    const int number = standard.has_value() ? *standard : std::stoi(id->value);
    EXPECT_EQ(bin.defaultSource, number) << bin.option;
  }
}

// A small printer description that follows every rule of the checker: the fixture of the
// checker's own test, each of whose rows puts one fault in.
constexpr std::string_view kFixture = R"(*GPDSpecVersion: "1.0"
*GPDFileName: "fixture.gpd"
*Include: "StdNames.gpd"
*ModelName: "Fixture"
*MasterUnits: PAIR(1200, 1200)
*PrinterType: PAGE
*Personality: =PERSONALITY_PCLXL
*MaxCopies: 999
*% The plug-in's callbacks write the bytes: the cursor commands send nothing.
*Command: CmdCR { *Cmd: "" }
*Command: CmdLF { *Cmd: "" }
*Command: CmdFF { *Cmd: "" }
*Feature: Resolution
{
    *Name: "Resolution"
    *Option: DPI600
    {
        *Name: "600 dpi"
        *Command: CmdSendBlockData { *Cmd: "" }
        *Command: CmdSelect
        {
            *Order: JOB_SETUP.20
            *Cmd: "<41>"
        }
    }
}
*Feature: Collate
{
    *Name: "Collate"
    *DefaultOption: OFF
    *Option: OFF
    {
        *Name: "Uncollated"
        *Command: CmdSelect
        {
            *Order: JOB_SETUP.5
            *Cmd: ""
        }
    }
    *Option: ON
    {
        *Name: "Collated"
        *Command: CmdSelect
        {
            *Order: JOB_SETUP.5
            *Cmd: ""
        }
    }
}
*Feature: PaperSize
{
    *Name: "Paper Size"
    *DefaultOption: A4
    *Option: A4
    {
        *rcNameID: =RCID_DMPAPER_SYSTEM_NAME
        *PrintableArea: PAIR(9520, 13616)
        *PrintableOrigin: PAIR(200, 200)
        *Command: CmdSelect
        {
            *Order: PAGE_SETUP.30
            *Cmd: "<C0 02 F8 25>"
        }
    }
    *Option: QUATRO
    {
        *Name: "Quarto 215 x 275 mm"
        *OptionID: 514
        *PageDimensions: PAIR(10157, 12992)
        *PrintableArea: PAIR(9744, 12576)
        *PrintableOrigin: PAIR(200, 200)
        *Command: CmdSelect
        {
            *Order: PAGE_SETUP.30
            *Cmd: "<D5 00 00 0C 43>"
        }
    }
}
*Feature: InputBin
{
    *Name: "Paper Source"
    *Option: FORMSOURCE
    {
        *Name: "Automatically Select"
        *Command: CmdSelect
        {
            *Order: PAGE_SETUP.20
            *CallbackID: 5002
        }
    }
    *Option: TRAY1
    {
        *Name: "Tray 1"
        *OptionID: 514
        *Command: CmdSelect
        {
            *Order: PAGE_SETUP.20
            *CallbackID: 5002
        }
    }
}
)";

// The fixture with `from` replaced by `to` (appended when `from` is empty); nothing when
// `from` is not in it.
std::optional<std::string> EditedFixture(std::string_view from, std::string_view to) {
  std::string text(kFixture);
  if (from.empty()) return text += to;
  const std::size_t at = text.find(from);
  if (at == std::string::npos) return std::nullopt;
  return text.replace(at, from.size(), to);
}

// The checker passes the package and the fixture, and fails on each fault put back into
// the fixture: the faults the package once had (no cursor or block commands, one copy
// only, a form name of Windows' own, trays and papers numbered by Unidrv) and faults of
// form.
TEST(GpdChecker, PassesThePackageAndFailsOnEachFault) {
  EXPECT_EQ(gpd::Check(package::PrinterDescriptionGpd()), std::vector<std::string>{});
  EXPECT_EQ(gpd::Check(kFixture), std::vector<std::string>{});
  const struct {
    const char* fault;
    std::string_view from;  // replaced by `to`; appended to the file when empty
    std::string_view to;
  } cases[] = {
      {"no *Command: CmdCR", "*Command: CmdCR { *Cmd: \"\" }\n", ""},
      {"Resolution DPI600 has no *Command: CmdSendBlockData", "*Command: CmdSendBlockData { *Cmd: \"\" }", ""},
      {"no *MaxCopies: 999", "*MaxCopies: 999\n", ""},
      {"no *Feature: Collate with *Option: ON", "*Feature: Collate", "*Feature: Stapling"},
      {"\"Quarto\" is Windows' own form of QUARTO", "\"Quarto 215 x 275 mm\"", "\"Quarto\""},
      {"PaperSize/QUATRO: a paper of the printer's own without *OptionID", "*OptionID: 514\n        *PageDimensions",
       "*PageDimensions"},
      {"InputBin/TRAY1: a bin of the printer's own without *OptionID", "\"Tray 1\"\n        *OptionID: 514",
       "\"Tray 1\""},
      {"InputBin/TRAY1: *OptionID 300 is not above 512", "\"Tray 1\"\n        *OptionID: 514",
       "\"Tray 1\"\n        *OptionID: 300"},
      {"InputBin/TRAY1: *OptionID 0x200 is not above 512", "\"Tray 1\"\n        *OptionID: 514",
       "\"Tray 1\"\n        *OptionID: 0x200"},
      {"*Command: CmdSelect has no *Order",
       "*Command: CmdSelect\n        {\n            *Order: PAGE_SETUP.20\n"
       "            *CallbackID: 5002\n        }\n    }\n}",
       "*Command: CmdSelect: \"\"\n    }\n}"},
      {"*GPDSpecVersion is not the file's first entry", "*GPDSpecVersion", "*% First\n*GPDSpecVersion"},
      {"a closing brace without an opening one", "", "}\n"},
      {"the brace is never closed", "", "*Feature: Duplex\n{\n"},
      {"*DefaultOption LETTER is no option of it", "*DefaultOption: A4", "*DefaultOption: LETTER"},
      {"the name \"Uncollated\" is given twice in Collate", "\"Collated\"", "\"Uncollated\""},
      {"*Case inside *Option", "*rcNameID: =RCID_DMPAPER_SYSTEM_NAME", "*Case: A4 { *Cmd: \"\" }"},
      {"*Order JOB_SETUP.20 is both *Feature: Resolution's and *Feature: Collate's", "JOB_SETUP.5", "JOB_SETUP.20"},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> text = EditedFixture(c.from, c.to);
    ASSERT_TRUE(text) << c.fault;
    const std::vector<std::string> faults = gpd::Check(*text);
    EXPECT_TRUE(std::any_of(faults.begin(), faults.end(),
                            [&](const std::string& fault) { return fault.find(c.fault) != std::string::npos; }))
        << c.fault << "\n"
        << ::testing::PrintToString(faults);
  }
}

// The checker accepts what the GPD reference allows: the short form of a command,
// hexadecimal numbers, a feature given in two entries, and every standard paper name.
TEST(GpdChecker, AcceptsWhatTheReferenceAllows) {
  const struct {
    const char* what;
    std::string_view from;  // replaced by `to`; appended to the file when empty
    std::string_view to;
  } cases[] = {
      {"short command", "*Command: CmdCR { *Cmd: \"\" }", "*Command: CmdCR: \"\""},
      {"hexadecimal numbers", "*OptionID: 514\n        *Command", "*OptionID: 0x202\n        *Command"},
      {"hexadecimal copies", "*MaxCopies: 999", "*MaxCopies: 0x3E7"},
      {"a second entry of a feature", "",
       "*Feature: InputBin\n{\n    *Option: TRAY2\n    {\n        *Name: \"Tray 2\"\n        *OptionID: 515\n"
       "        *Command: CmdSelect\n        {\n            *Order: PAGE_SETUP.20\n"
       "            *CallbackID: 5002\n        }\n    }\n}\n"},
      {"a standard paper past Japanese Postcard", "*DefaultOption: A4\n    *Option: A4\n",
       "*DefaultOption: A3_ROTATED\n    *Option: A3_ROTATED\n"},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> text = EditedFixture(c.from, c.to);
    ASSERT_TRUE(text) << c.what;
    EXPECT_EQ(gpd::Check(*text), std::vector<std::string>{}) << c.what;
  }
}

// The host's own commands in the GPD make a PCL XL session the reader accepts, with the
// resolution's units and each paper's media size on its BeginPage.
TEST(DriverPackage, HostCommandsMakeAValidSession) {
  const Gpd gpd = GeneratedGpd();
  for (const auto& [option, dpi] : {std::pair<std::string, int>{"DPI600", 600}, {"DPI1200", 1200}}) {
    std::string job = "\x1B%-12345X@PJL ENTER LANGUAGE=PCLXL\n";
    job += CommandBytes(SelectCommand(gpd, "Resolution", option).cmd);
    for (const host::Paper& paper : host::kPapers) {
      job += CommandBytes(SelectCommand(gpd, "Orientation", "PORTRAIT").cmd);
      job += CommandBytes(SelectCommand(gpd, "PaperSize", std::string(paper.option)).cmd);
      job += CommandBytes(SelectCommand(gpd, "PageBegin", "BEGINPAGE").cmd);
      job += static_cast<char>(pxl::Op::EndPage);
    }
    job += static_cast<char>(pxl::Op::CloseDataSource);
    job += static_cast<char>(pxl::Op::EndSession);

    const pxl::ParseResult parsed = pxl::Parse({reinterpret_cast<const std::uint8_t*>(job.data()), job.size()});
    ASSERT_TRUE(parsed.ok()) << option << ": " << parsed.error->ToString();
    std::size_t page = 0;
    for (const pxl::Event& event : parsed.events) {
      if (event.Is(pxl::Op::BeginSession)) {
        const pxl::Attribute* units = event.Find(pxl::Attr::UnitsPerMeasure);
        ASSERT_NE(units, nullptr);
        EXPECT_EQ(units->value.Int(0), dpi);
      }
      if (!event.Is(pxl::Op::BeginPage)) continue;
      ASSERT_LT(page, std::size(host::kPapers));
      const host::Paper& paper = host::kPapers[page++];
      if (paper.mediaSize >= 0) {
        const pxl::Attribute* size = event.Find(pxl::Attr::MediaSize);
        ASSERT_NE(size, nullptr) << paper.option;
        EXPECT_EQ(size->value.Int(), paper.mediaSize) << paper.option;
      } else {
        const pxl::Attribute* size = event.Find(pxl::Attr::CustomMediaSize);
        ASSERT_NE(size, nullptr) << paper.option;
        EXPECT_NEAR(size->value.elements[0] * 25.4, paper.widthMm, 0.01) << paper.option;
        EXPECT_NEAR(size->value.elements[1] * 25.4, paper.heightMm, 0.01) << paper.option;
      }
    }
    EXPECT_EQ(page, std::size(host::kPapers)) << option;
  }
}

}  // namespace
}  // namespace velmora
