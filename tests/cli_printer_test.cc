// velmora printer and velmora jobs, run as an administrator runs them against a
// temporary printer store; the stored bytes are checked through the store itself.
#include <gtest/gtest.h>

#include "tests/fakes/run_velmora.h"
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/device_caps_posix.h"
#include "platform/posix/spooler_store.h"
#include "platform/text_encoding.h"

namespace velmora {
namespace {

using testing::Velmora;
using CliRun = testing::CliRun;

namespace fs = std::filesystem;
using platform::PrinterValue;
using platform::ValueType;
using platform::posix::PrinterStore;
using Bytes = std::vector<std::uint8_t>;

WString W(const std::string& text) { return platform::Utf8ToUtf16(text); }

// Text as UTF-16LE code units, without a NUL.
Bytes Utf16(const std::string& ascii) {
  Bytes bytes;
  for (char c : ascii) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0});
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Bytes kNul{0, 0};

constexpr const char* kModel =
    "# two papers\n"
    "paper \"A4\" 9 210 297\n"
    "paper \"Label 100x50\" 0 100 50\n"
    "resolutions 600\n"
    "margin 4.2\n";

class CliPrinter : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velmora-cli-printer-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    storePath_ = (dir_ / "spooler.db").string();
    ::setenv("VELMORA_STORE", storePath_.c_str(), 1);
    ::unsetenv("VELMORA_ENABLELOGGING");
    store_ = PrinterStore(storePath_);
  }
  void TearDown() override {
    ::unsetenv("VELMORA_STORE");
    fs::remove_all(dir_);
  }

  std::string WriteText(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // The printer's values by name.
  std::map<std::string, PrinterValue> Values(const std::string& printer) {
    std::map<std::string, PrinterValue> values;
    auto listed = store_.ListPrinterData(W(printer));
    EXPECT_TRUE(listed) << listed.error();
    if (!listed) return values;
    for (auto& [name, value] : listed.value()) values[platform::Utf16ToUtf8(name)] = value;
    return values;
  }

  fs::path dir_;
  std::string storePath_;
  PrinterStore store_;
};

TEST_F(CliPrinter, PrintersAreAddedListedAndRemoved) {
  ASSERT_EQ(Velmora("printer add Office").status, 0);
  ASSERT_EQ(Velmora("printer add 'Lab Printer'").status, 0);
  CliRun list = Velmora("printer list");
  ASSERT_EQ(list.status, 0) << list.out;
  EXPECT_EQ(list.out, "Printers in printer store '" + storePath_ + "':\nLab Printer\nOffice\n");

  CliRun again = Velmora("printer add OFFICE");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "velmora: Printer 'OFFICE' already exists in store '" + storePath_ + "'\n");
  EXPECT_NE(Velmora("printer add 'Back\\slash'").out.find("holds a backslash or a comma"), std::string::npos);

  ASSERT_EQ(Velmora("printer remove office").status, 0);
  EXPECT_EQ(Velmora("printer list").out, "Printers in printer store '" + storePath_ + "':\nLab Printer\n");
  CliRun missing = Velmora("printer remove Office");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "velmora: Printer 'Office' not found in store '" + storePath_ + "'\n");
  ASSERT_EQ(Velmora("printer remove 'Lab Printer'").status, 0);
  EXPECT_EQ(Velmora("printer list").out, "Printers in printer store '" + storePath_ + "': none\n");
  // --verbose names the store on standard error, before or after the subcommand.
  const std::string named = "velmora: printer store '" + storePath_ + "'\n";
  EXPECT_EQ(Velmora("printer list --verbose").out.find(named), 0u);
  EXPECT_EQ(Velmora("printer --verbose show Nobody").out,
            named + "velmora: Printer 'Nobody' not found in store '" + storePath_ + "'\n");
}

TEST_F(CliPrinter, SetStoresEachTypeAsThePlugInReadsIt) {
  ASSERT_EQ(Velmora("printer add Office").status, 0);
  CliRun set = Velmora(
      "printer set Office 'OvelayDirectory=C:\\ovl' 'OvelayFiles=a.ovl;b.ovl' "
      "UserAuthentication=0x01020304 ModuleName=app.exe");
  ASSERT_EQ(set.status, 0) << set.out;
  ASSERT_EQ(Velmora("printer set Office 'Blob=01 02:ff' --type binary").status, 0);
  ASSERT_EQ(Velmora("printer set Office Copies=4294967295 --type number").status, 0);
  ASSERT_EQ(Velmora("printer set Office Empty= --type multi-text").status, 0);

  auto values = Values("Office");
  EXPECT_EQ(values["OvelayDirectory"].type, ValueType::kString);
  EXPECT_EQ(values["OvelayDirectory"].bytes, Join({Utf16("C:\\ovl"), kNul}));
  // The plug-in reads the overlay list as one text, its entries separated by ";".
  EXPECT_EQ(values["OvelayFiles"].type, ValueType::kString);
  EXPECT_EQ(values["OvelayFiles"].bytes, Join({Utf16("a.ovl;b.ovl"), kNul}));
  EXPECT_EQ(values["UserAuthentication"].type, ValueType::kDword);
  EXPECT_EQ(values["UserAuthentication"].bytes, (Bytes{0x04, 0x03, 0x02, 0x01}));
  // The module name fills the plug-in's 260-byte buffer: the name, its NUL, zeros.
  Bytes module = Join({Utf16("app.exe"), kNul});
  module.resize(260, 0);
  EXPECT_EQ(values["ModuleName"].type, ValueType::kMultiString);
  EXPECT_EQ(values["ModuleName"].bytes, module);
  EXPECT_EQ(values["Blob"].type, ValueType::kBinary);
  EXPECT_EQ(values["Blob"].bytes, (Bytes{0x01, 0x02, 0xFF}));
  EXPECT_EQ(values["Copies"].bytes, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(values["Empty"].bytes, kNul);

  // Values stored by others show with their type, malformed ones as bytes.
  ASSERT_TRUE(store_.SetPrinterValue(W("Office"), W("Odd"), PrinterValue{ValueType::kString, {'A', 0, 'B'}}));
  ASSERT_TRUE(
      store_.SetPrinterValue(W("Office"), W("Expand"), PrinterValue{static_cast<ValueType>(2), {'%', 0, 0, 0}}));
  ASSERT_TRUE(
      store_.SetPrinterValue(W("Office"), W("Note"), PrinterValue{ValueType::kString, Join({Utf16("a\"b\n"), kNul})}));
  CliRun show = Velmora("printer show office");
  ASSERT_EQ(show.status, 0) << show.out;
  // The output goes on with the rest of the generic model.
  const std::string expected =
      "printer: Office\n"
      "store: " +
      storePath_ +
      "\n"
      "values:\n"
      "  Blob (binary): 01 02 ff\n"
      "  Copies (number): 4294967295 (0xffffffff)\n"
      "  Empty (multi-text): (no entries)\n"
      "  Expand (type 2): 25 00 00 00\n"
      "  ModuleName (multi-text): \"app.exe\"\n"
      "  Note (text): \"a\\\"b\\n\"\n"
      "  Odd (text): malformed, 3 bytes: 41 00 42\n"
      "  OvelayDirectory (text): \"C:\\\\ovl\"\n"
      "  OvelayFiles (text): \"a.ovl;b.ovl\"\n"
      "  UserAuthentication (number): 16909060 (0x01020304)\n"
      "paper model (generic; none stored):\n"
      "  paper \"A4\" 9 210 297\n";
  EXPECT_EQ(show.out.substr(0, expected.size()), expected);
}

TEST_F(CliPrinter, BadSetsAreRefusedAndChangeNothing) {
  ASSERT_EQ(Velmora("printer add Office").status, 0);
  ASSERT_EQ(Velmora("printer set Office UserAuthentication=1 OvelayFiles=a").status, 0);
  const auto before = Values("Office");
  const std::string bad = WriteText("bad.model", "paper A4 9 210 297\nresolutions 600\nmargin x\n");
  const struct {
    std::string arguments;
    std::string message;  // the whole error line
  } cases[] = {
      {"Office Foo=1",
       "value 'Foo' is not one the plug-in reads; give its type with --type "
       "text|multi-text|number|binary; printer 'Office' is unchanged"},
      {"Office UserAuthentication=2 Foo=1",
       "value 'Foo' is not one the plug-in reads; give its type with --type "
       "text|multi-text|number|binary; printer 'Office' is unchanged"},
      {"Office UserAuthentication=1 --type text",
       "value 'UserAuthentication' has type number; --type text does not fit; printer 'Office' is unchanged"},
      {"Office UserAuthentication=-1",
       "value 'UserAuthentication': '-1' is not a number from 0 to 4294967295 (decimal, or hexadecimal with 0x); "
       "printer 'Office' is unchanged"},
      {"Office UserAuthentication=4294967296",
       "value 'UserAuthentication': '4294967296' is not a number from 0 to 4294967295 (decimal, or hexadecimal "
       "with 0x); printer 'Office' is unchanged"},
      {"Office UserAuthentication=1 userauthentication=2",
       "value 'UserAuthentication' is given 2 times; only multi-text values take several; printer 'Office' is "
       "unchanged"},
      {"Office 'Forms=a,,b' --type multi-text",
       "value 'Forms': 'a,,b' holds an empty entry, which would end the list early; printer 'Office' is "
       "unchanged"},
      {"Office ModuleName=a,b", "value 'ModuleName' takes exactly one module name; printer 'Office' is unchanged"},
      {"Office ModuleName=" + std::string(130, 'm'),
       "value 'ModuleName': the name is longer than 129 characters; printer 'Office' is unchanged"},
      {"Office Blob=0g --type binary",
       "value 'Blob': '0g' is not hexadecimal bytes (e.g. 01ff or \"01 ff\"); printer 'Office' is unchanged"},
      {"Office Blob=012 --type binary",
       "value 'Blob': '012' has an odd number of hex digits; printer 'Office' is unchanged"},
      {"Office PaperModel=x",
       "value 'PaperModel' holds the paper model; set it with --model FILE; printer 'Office' is "
       "unchanged"},
      {"Office =1", "'=1' is not of the form VALUE=DATA; printer 'Office' is unchanged"},
      {"Office Foo", "'Foo' is not of the form VALUE=DATA; printer 'Office' is unchanged"},
      {"Office", "nothing to set: give VALUE=DATA or --model FILE; printer 'Office' is unchanged"},
      {"Office OvelayDirectory=x --model " + bad,
       "paper model '" + bad +
           "': line 3: margin 'x' is not a length in millimetres from 0 to 10000; printer "
           "'Office' is unchanged"},
      {"Office --model " + (dir_ / "missing.model").string(), "No such file"},
      {"Nobody OvelayDirectory=x", "Printer 'Nobody' not found in store '" + storePath_ + "'"},
  };
  for (const auto& c : cases) {
    CliRun run = Velmora("printer set " + c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_NE(run.out.find(c.message), std::string::npos) << c.arguments << ": " << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << c.arguments << ": one line";
    const auto after = Values("Office");
    ASSERT_EQ(after.size(), before.size()) << c.arguments;
    for (const auto& [name, value] : before) EXPECT_EQ(after.at(name).bytes, value.bytes) << c.arguments;
  }
  EXPECT_EQ(Velmora("printer set Office Foo=1 --type float").status, 2);

  CliRun unset = Velmora("printer unset Office UserAuthentication Nope");
  EXPECT_EQ(unset.status, 1);
  EXPECT_EQ(unset.out, "velmora: printer 'Office' has no value 'Nope'; nothing was removed\n");
  EXPECT_EQ(Values("Office").size(), 2u);
  ASSERT_EQ(Velmora("printer unset Office userauthentication OvelayFiles").status, 0);
  EXPECT_TRUE(Values("Office").empty());
}

TEST_F(CliPrinter, PaperModelIsCheckedStoredShownAndUsed) {
  const std::string model = WriteText("office.model", "\xEF\xBB\xBF" + std::string(kModel));
  const std::string bad = WriteText("bad.model", "paper A4 9 210 297\n");
  CliRun refused = Velmora("printer add Office --model " + bad);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "velmora: paper model '" + bad + "': the model has no resolutions line\n");
  EXPECT_EQ(Velmora("printer list").out, "Printers in printer store '" + storePath_ + "': none\n");

  ASSERT_EQ(Velmora("printer add Office --model " + model).status, 0);
  CliRun show = Velmora("printer show Office");
  ASSERT_EQ(show.status, 0) << show.out;
  EXPECT_NE(show.out.find("  PaperModel (text): the paper model below\n"
                          "paper model (stored):\n"
                          "  paper \"A4\" 9 210 297\n"
                          "  paper \"Label 100x50\" 0 100 50\n"
                          "  resolutions 600\n"
                          "  margin 4.2\n"),
            std::string::npos)
      << show.out;

  // The device figures of the printer come from the stored model: the label paper at
  // 600 dpi is floor(100 / 25.4 * 600) = 2362 by floor(50 / 25.4 * 600) = 1181 dots.
  platform::PageSetup setup;
  setup.formName = W("label 100X50");
  setup.orientation = 1;
  setup.printQuality = 600;
  platform::posix::ModelDeviceCapabilities caps;
  auto figures = caps.Figures(W("Office"), setup);
  ASSERT_TRUE(figures);
  EXPECT_EQ(figures->xPhysicalArea, 2362);
  EXPECT_EQ(figures->yPhysicalArea, 1181);

  // A model stored by other means that does not parse is shown as such.
  ASSERT_TRUE(store_.SetPrinterValue(W("Office"), W("PaperModel"),
                                     PrinterValue{ValueType::kString, Join({Utf16("paper A4"), kNul})}));
  EXPECT_NE(Velmora("printer show Office")
                .out.find("paper model (generic; the stored one is malformed: line 1: a paper line takes a form "
                          "name, a paper code, a width and a height):\n  paper \"A4\" 9 210 297\n"),
            std::string::npos);
  ASSERT_EQ(Velmora("printer set Office --model " + model).status, 0);
  EXPECT_NE(Velmora("printer show Office").out.find("paper model (stored):"), std::string::npos);
}

TEST_F(CliPrinter, JobsAreListedWithTheirStatusInWords) {
  EXPECT_EQ(Velmora("jobs").out, "(no jobs)\n");
  ASSERT_TRUE(store_.AddPrinter(W("Office")));
  ASSERT_TRUE(store_.AddPrinter(W("Lab")));
  platform::posix::StoreSpooler spooler;
  HANDLE office = spooler.Open(W("Office"), platform::PRINTER_ALL_ACCESS);
  HANDLE lab = spooler.Open(W("Lab"), platform::PRINTER_ALL_ACCESS);
  ASSERT_NE(office, nullptr);
  ASSERT_NE(lab, nullptr);
  const std::string out = (dir_ / "out.pxl").string();
  const DWORD first = spooler.StartDocument(office, {W("Report Q3"), W(out), W("alice"), W("\\\\ws1")});
  ASSERT_TRUE(spooler.EndDocument(office));
  const DWORD second = spooler.StartDocument(lab, {W("Tab\there"), W(out), W("bob"), W("\\\\ws2")});
  ASSERT_TRUE(spooler.DeleteJob(lab, second));
  ASSERT_TRUE(spooler.EndDocument(lab));
  const DWORD third = spooler.StartDocument(office, {W("Draft"), W(out), W("carol"), W("\\\\ws1")});
  ASSERT_NE(third, 0u);
  ASSERT_EQ(first + 1, second);
  ASSERT_EQ(second + 1, third);

  const std::string a = std::to_string(first), b = std::to_string(second), c = std::to_string(third);
  CliRun all = Velmora("jobs");
  ASSERT_EQ(all.status, 0) << all.out;
  EXPECT_EQ(all.out, "ID  PRINTER  DOCUMENT   USER   MACHINE  STATUS\n" + a +
                         "   Office   Report Q3  alice  \\\\ws1    complete\n" + b +
                         "   Lab      Tab\\there  bob    \\\\ws2    deleting,deleted\n" + c +
                         "   Office   Draft      carol  \\\\ws1    in progress\n");
  CliRun labOnly = Velmora("jobs --printer lab");
  ASSERT_EQ(labOnly.status, 0) << labOnly.out;
  EXPECT_EQ(labOnly.out, "ID  PRINTER  DOCUMENT   USER  MACHINE  STATUS\n" + b +
                             "   Lab      Tab\\there  bob   \\\\ws2    deleting,deleted\n");
  CliRun nobody = Velmora("jobs -p Nobody");
  EXPECT_EQ(nobody.status, 1);
  EXPECT_EQ(nobody.out, "velmora: Printer 'Nobody' not found in store '" + storePath_ + "'\n");
  spooler.Close(office);
  spooler.Close(lab);
}

TEST_F(CliPrinter, LoggingSwitchIsSetAndShown) {
  const auto shown = [this](const std::string& state) {
    return "EnableLogging: " + state + "\nstore: " + storePath_ + "\n";
  };
  EXPECT_EQ(Velmora("printer logging").out, shown("not set (off)"));
  ASSERT_EQ(Velmora("printer logging on").status, 0);
  EXPECT_EQ(platform::posix::ReadStoreMachineSwitch(W("EnableLogging")).value, 1u);
  EXPECT_EQ(Velmora("printer logging").out, shown("on"));
  ASSERT_EQ(Velmora("printer logging off").status, 0);
  EXPECT_EQ(platform::posix::ReadStoreMachineSwitch(W("EnableLogging")).value, 0u);
  EXPECT_EQ(Velmora("printer logging").out, shown("off"));
  ASSERT_TRUE(store_.SetMachineValue(W("EnableLogging"), PrinterValue{ValueType::kDword, {2, 0, 0, 0}}));
  EXPECT_EQ(Velmora("printer logging").out,
            shown("off (stored as number 2 (0x00000002); only the 4-byte number 1 turns logging on)"));
  ::setenv("VELMORA_ENABLELOGGING", "1", 1);
  EXPECT_NE(Velmora("printer logging").out.find("VELMORA_ENABLELOGGING=1 overrides the store"), std::string::npos);
  ::unsetenv("VELMORA_ENABLELOGGING");
  ASSERT_EQ(Velmora("printer logging unset").status, 0);
  ASSERT_EQ(Velmora("printer logging unset").status, 0);
  EXPECT_FALSE(platform::posix::ReadStoreMachineSwitch(W("EnableLogging")).value);
  EXPECT_EQ(Velmora("printer logging maybe").status, 2);
}

// --system works on the system folder the CUPS filter reads, whatever $VELMORA_STORE and
// $XDG_DATA_HOME say; $VELMORA_SYSTEM_FOLDER moves it when absolute, as for the filter, and
// the help names the folder built in. --version names the project's version.
TEST_F(CliPrinter, SystemFolderAndVersionAreNamed) {
  const std::string system = (dir_ / "system").string();
  const std::string watermarks = system + "/VELMORA IT Co/Office/DrvSettings.GPS";
  ::setenv("VELMORA_SYSTEM_FOLDER", system.c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
  struct Case {
    std::string arguments;
    std::string out;  // the whole output, or with a trailing "..." its start
  };
  const Case cases[] = {
      {"--version", "velmora " VELMORA_VERSION "\n"},
      {"printer add Office --system", ""},
      {"printer --system list", "Printers in printer store '" + system + "/spooler.db':\nOffice\n"},
      {"printer list", "Printers in printer store '" + storePath_ + "': none\n"},
      {"watermark set --system -p Office 1 text=Draft", ""},
      {"watermark list -p Office --system", "settings file: " + watermarks + "\nWMSet_1: text \"Draft\"..."},
      {"watermark list -p Office", "velmora: Printer 'Office' not found in printer store '" + storePath_ + "'\n"},
  };
  for (const Case& test : cases) {
    const CliRun run = Velmora(test.arguments);
    EXPECT_EQ(run.status, test.out.starts_with("velmora: ") ? 1 : 0) << test.arguments << ": " << run.out;
    if (test.out.ends_with("...")) {
      EXPECT_TRUE(run.out.starts_with(test.out.substr(0, test.out.size() - 3))) << test.arguments << ": " << run.out;
    } else {
      EXPECT_EQ(run.out, test.out) << test.arguments;
    }
  }
  // A relative folder is ignored: the help names the one built in.
  ::setenv("VELMORA_SYSTEM_FOLDER", "relative", 1);
  EXPECT_NE(Velmora("printer --help").out.find(std::string("(") + VELMORA_SYSTEM_FOLDER + "/spooler.db)"),
            std::string::npos);
  ::unsetenv("VELMORA_SYSTEM_FOLDER");
  ::unsetenv("XDG_DATA_HOME");
}

TEST_F(CliPrinter, UnreachableStoreIsReported) {
  WriteText("file", "not a folder");
  const std::string path = (dir_ / "file" / "spooler.db").string();
  ::setenv("VELMORA_STORE", path.c_str(), 1);
  // Printing says why the store cannot be opened, rather than that the printer is missing.
  const std::string print = "print --printer Office -o " + (dir_ / "job.pxl").string();
  for (const std::string& command : {std::string("printer list"), std::string("printer add Office"),
                                     std::string("jobs"), std::string("printer logging on"), print}) {
    CliRun run = Velmora(command);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(run.out.find("store '" + path + "'"), std::string::npos) << command << ": " << run.out;
    EXPECT_EQ(run.out.find("not found"), std::string::npos) << command << ": " << run.out;
  }
}

}  // namespace
}  // namespace velmora
