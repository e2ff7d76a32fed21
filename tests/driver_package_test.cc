// The Windows driver package: the committed files are the generator's, the GPD calls the
// plug-in back where the host does, and it offers every option of the host's table.
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

// The universal driver numbers the bins that are not standard GPD options from 256 in
// the order of their declaration; the host's table gives each tray that number.
TEST(DriverPackage, TraysAreNumberedFrom256InDeclarationOrder) {
  const std::set<std::string> standardBins = {"AUTO",          "CASSETTE", "ENVFEED", "ENVMANUAL", "FORMSOURCE",
                                              "LARGECAPACITY", "LARGEFMT", "LOWER",   "MANUAL",    "MIDDLE",
                                              "SMALLFMT",      "TRACTOR",  "UPPER"};
  const Gpd gpd = GeneratedGpd();
  std::int16_t next = 256;
  for (const std::string& bin : gpd.options.at("InputBin")) {
    const std::optional<std::int16_t> source = host::SourceForInputBin(bin);
    ASSERT_TRUE(source.has_value()) << bin;
    if (standardBins.contains(bin)) {
      EXPECT_LT(*source, 256) << bin;
      continue;
    }
    EXPECT_EQ(*source, next++) << bin;
  }
  EXPECT_EQ(host::SourceForInputBin("FORMSOURCE"), 15);  // DMBIN_FORMSOURCE
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
