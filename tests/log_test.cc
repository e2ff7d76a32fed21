// The diagnostic log: the switch, the value formats and what is suppressed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "formats/text.h"
#include "platform/fake/fake_services.h"
#include "platform/text_encoding.h"
#include "src/support/log.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    detail::ResetLogStateForTesting();
    folder = fs::temp_directory_path() /
             ("velmora-log-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    environment.appDataFolder = platform::Utf8ToUtf16(folder.string());
    environment.switches[VTEXT("EnableLogging")] = platform::MachineSwitch{true, 1u};
  }
  void TearDown() override {
    detail::ResetLogStateForTesting();
    fs::remove_all(folder);
  }

  std::string LogText() {
    std::ifstream file(folder / "VELMORA IT Co" / "DriverLog.txt", std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
  }

  fs::path folder;
  platform::fake::FakeEnvironment environment;
  platform::ScopedServices scoped{{nullptr, nullptr, &environment}};
};

TEST_F(LogTest, ValueFormatsAndSuppression) {
  LogMessage(VTEXT("VELMORA - CUnidrvInterface::Initialize => start under pcl\r\n"));
  LogMessageInt(VTEXT("zero int = "), 0);
  LogMessageInt(VTEXT("count = "), -42);
  LogMessageLong(VTEXT("long = "), 7);
  LogMessageHex(VTEXT("command[1] = "), 0x0F);
  LogMessageHex(VTEXT("zero hex = "), 0);
  LogMessageChar(VTEXT("char = "), 65);
  LogMessageChar(VTEXT("zero char = "), 0);
  LogMessageDouble(VTEXT(" half = "), 0.5);
  LogMessageDouble(VTEXT("zero double = "), 0.0);
  LogMessage(nullptr);
  EXPECT_EQ(LogText(),
            "VELMORA - CUnidrvInterface::Initialize => start under pcl\r\n"
            "count = -42\r\n"
            "long = 7\r\n"
            "command[1] = 0f\r\n"
            "char = A"
            " half = 0.500000\r\n");
}

TEST_F(LogTest, OverlongMessageLosesItsTextButKeepsItsValue) {
  const WString longText(300, VTEXT('x'));
  LogMessageInt(longText.c_str(), 5);
  const WString exact(259, VTEXT('y'));
  LogMessage(exact.c_str());
  EXPECT_EQ(LogText(), "5\r\n" + std::string(259, 'y'));
}

TEST_F(LogTest, PathInAnOverlongMessageGivesWayFromItsStart) {
  // 83 bytes before the path and 28 after it leave 148 for the path, or 145 after "...".
  const WString before = VTEXT("VELMORA - CUnidrvInterface::ModifyPCLXLPrintData => the overlay cannot be written: ");
  const WString after = VTEXT(" (No space left on device)\r\n");
  auto u = [](const std::string& text) { return platform::Utf8ToUtf16(text); };
  struct Case {
    std::string path;
    std::string logged;
  };
  const Case cases[] = {
      {"/srv/forms/inv.ovl.capture", "/srv/forms/inv.ovl.capture"},
      {"/d/" + std::string(145, 'p'), "/d/" + std::string(145, 'p')},
      {"/d/" + std::string(146, 'p'), "..." + std::string(145, 'p')},
      {"/srv/" + std::string(200, 'f') + "/forms/inv.ovl.capture", ".../forms/inv.ovl.capture"},
      {"C:\\" + std::string(200, 'f') + "\\forms\\inv.ovl.capture", "...\\forms\\inv.ovl.capture"},
      {"/srv/forms/" + std::string(300, 'n') + ".ovl", "..." + std::string(141, 'n') + ".ovl"},
  };
  std::string expected;
  for (const auto& c : cases) {
    LogMessagePath(before, u(c.path), after);
    expected += platform::Utf16ToUtf8(before) + c.logged + platform::Utf16ToUtf8(after);
  }
  EXPECT_EQ(LogText(), expected);
}

TEST_F(LogTest, SwitchOtherThanOneKeepsLoggingOffUntilItBecomesOne) {
  environment.switches[VTEXT("EnableLogging")] = platform::MachineSwitch{true, 2u};
  LogMessage(VTEXT("dropped\r\n"));
  environment.switches[VTEXT("EnableLogging")] = platform::MachineSwitch{true, 1u};
  LogMessage(VTEXT("written\r\n"));
  const int readsWhenOn = environment.switchReads;
  LogMessage(VTEXT("again\r\n"));
  EXPECT_EQ(LogText(), "written\r\nagain\r\n");
  EXPECT_EQ(environment.switchReads, readsWhenOn);  // once on, the switch is not read again
}

TEST_F(LogTest, UnreadableSwitchStopsLoggingForTheProcess) {
  environment.storeReadable = false;
  LogMessage(VTEXT("dropped\r\n"));
  environment.storeReadable = true;
  LogMessage(VTEXT("still dropped\r\n"));
  EXPECT_EQ(environment.switchReads, 1);
  EXPECT_EQ(LogText(), "");
}

TEST_F(LogTest, UnknownFolderDropsTheMessage) {
  environment.appDataFolder.reset();
  LogMessage(VTEXT("dropped\r\n"));
  environment.appDataFolder = platform::Utf8ToUtf16(folder.string());
  LogMessage(VTEXT("written\r\n"));
  EXPECT_EQ(LogText(), "written\r\n");
}

}  // namespace
}  // namespace velmora
