// The print host's pieces on their own: spool buffer, driver services, printer
// description, option defaults, PCL XL encoding, tickets and the device mode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/le_bytes.h"
#include "formats/vendor_devmode.h"
#include "host/device_mode.h"
#include "host/driver_services.h"
#include "host/host_error.h"
#include "host/job_settings.h"
#include "host/plugin_module.h"
#include "host/printer_description.h"
#include "host/pxl_encoder.h"
#include "host/spool_buffer.h"
#include "platform/last_error.h"

namespace velmora::host {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The sizes of every buffer a spool buffer sends, for a sequence of appends.
TEST(SpoolBuffer, SendsFullBuffersThenTheRest) {
  struct Case {
    std::size_t capacity;
    std::vector<std::size_t> appends;
    std::vector<std::size_t> sentBeforeFlush;
    std::vector<std::size_t> sentByFlush;
  };
  const Case cases[] = {
      {4, {3, 6, 0, 2}, {4, 4}, {3}}, {1, {3}, {1, 1, 1}, {}}, {10, {3, 3}, {}, {6}}, {5, {5}, {5}, {}},
      {0, {2}, {1, 1}, {}},  // a capacity of 0 is taken as 1
  };
  for (const Case& c : cases) {
    std::vector<std::size_t> sent;
    Bytes received;
    SpoolBuffer spool(c.capacity, [&](std::uint8_t* bytes, std::size_t count) {
      sent.push_back(count);
      received.insert(received.end(), bytes, bytes + count);
      return true;
    });
    Bytes appended;
    std::uint8_t next = 0;
    for (std::size_t count : c.appends) {
      Bytes chunk(count);
      for (auto& b : chunk) b = next++;
      appended.insert(appended.end(), chunk.begin(), chunk.end());
      ASSERT_TRUE(spool.Append(chunk.data(), chunk.size()));
    }
    EXPECT_EQ(sent, c.sentBeforeFlush) << "capacity " << c.capacity;
    ASSERT_TRUE(spool.Flush());
    std::vector<std::size_t> all = c.sentBeforeFlush;
    all.insert(all.end(), c.sentByFlush.begin(), c.sentByFlush.end());
    EXPECT_EQ(sent, all) << "capacity " << c.capacity;
    EXPECT_EQ(received, appended);
    EXPECT_EQ(spool.sent(), appended.size());
  }
}

TEST(SpoolBuffer, StopsAfterARefusedBuffer) {
  int calls = 0;
  SpoolBuffer spool(2, [&](std::uint8_t*, std::size_t) { return ++calls < 2; });
  const std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
  EXPECT_FALSE(spool.Append(bytes, 5));  // the second buffer is refused
  EXPECT_FALSE(spool.Append(bytes, 1));  // nothing more is sent
  EXPECT_FALSE(spool.Flush());
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(spool.sent(), 2u);
  EXPECT_TRUE(spool.failed());
}

TEST(DriverServices, AnswersOptionsAsTheHostDoes) {
  SpoolBuffer spool(16, [](std::uint8_t*, std::size_t) { return true; });
  auto* services = new HostDriverServices(spool, {{"PaperSize", "LETTER"}});
  struct Case {
    const char* feature;
    DWORD size;  // 0: no buffer
    HRESULT result;
    DWORD lastError;
    DWORD needed;
    const char* text;
  };
  const Case cases[] = {
      {"PaperSize", 0, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 7, nullptr},
      {"PaperSize", 6, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 7, nullptr},
      {"PaperSize", 7, S_OK, 0, 7, "LETTER"},
      {"InputBin", 0, E_FAIL, ERROR_INVALID_PARAMETER, 0, nullptr},
  };
  for (const Case& c : cases) {
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    DWORD needed = 0;
    DWORD options = 0;
    platform::SetLastError(0);
    const HRESULT result =
        services->DrvGetDriverSetting(nullptr, c.feature, c.size ? buffer : nullptr, c.size, &needed, &options);
    EXPECT_EQ(result, c.result) << c.feature << " " << c.size;
    EXPECT_EQ(platform::GetLastError(), c.lastError) << c.feature << " " << c.size;
    EXPECT_EQ(needed, c.needed) << c.feature << " " << c.size;
    if (c.text != nullptr) {
      EXPECT_STREQ(buffer, c.text);
    } else {
      EXPECT_EQ(buffer[0], 'x');
    }
  }

  void* asked = nullptr;
  EXPECT_EQ(services->QueryInterface(IID_IPrintOemDriverUni, &asked), S_OK);
  EXPECT_EQ(asked, static_cast<IPrintOemDriverUni*>(services));
  EXPECT_EQ(services->QueryInterface(IID_IPrintOemUni3, &asked), E_NOINTERFACE);
  EXPECT_EQ(asked, nullptr);
  EXPECT_EQ(services->Release(), 1u);

  std::uint8_t bytes[3] = {1, 2, 3};
  DWORD written = 0;
  EXPECT_EQ(services->DrvWriteSpoolBuf(nullptr, bytes, 3, &written), S_OK);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(spool.appended(), 3u);
  EXPECT_EQ(services->Release(), 0u);
}

TEST(PrinterDescription, PageCommandsSurroundTheBeginPage) {
  std::vector<std::string> page;
  for (const PrinterCommand& command : CommandsAt(JobPoint::kPageStart)) {
    switch (command.kind) {
      case CommandKind::kCallback: page.push_back(std::to_string(command.callbackId)); break;
      case CommandKind::kOrientation: page.push_back("Orientation"); break;
      case CommandKind::kMediaSize: page.push_back("MediaSize"); break;
      case CommandKind::kBeginPage: page.push_back("BeginPage"); break;
      default: page.push_back("?"); break;
    }
  }
  EXPECT_EQ(page, (std::vector<std::string>{"Orientation", "5002", "MediaSize", "5003", "5008", "BeginPage", "5004"}));
  ASSERT_EQ(CommandsAt(JobPoint::kJobEnd).size(), 1u);
  EXPECT_EQ(CommandsAt(JobPoint::kJobEnd)[0].callbackId, 5001u);
}

TEST(JobOptions, DefaultsFollowTheDeviceMode) {
  struct Case {
    const char* form;
    std::int16_t code;
    std::int16_t source;
    FeatureOptions choices;
    const char* paper;
    const char* media;
    const char* bin;
  };
  const Case cases[] = {
      {"A4", 9, 7, {}, "A4", "STANDARD", "FORMSOURCE"},
      {"Letter", 1, 513, {}, "LETTER", "STANDARD", "BYPASSTRAY"},
      {"Legal", 5, 514, {}, "LEGAL", "STANDARD", "TRAY1"},
      {"", 5, 515, {}, "LEGAL", "STANDARD", "TRAY2"},  // no form name: the paper code
      {"Envelope DL", 27, 516, {}, "ENV_DL", "STANDARD", "TRAY3"},
      {"A5", 11, 15, {}, "A5", "STANDARD", "FORMSOURCE"},
      {"A5", 11, 2, {}, "A5", "STANDARD", "FORMSOURCE"},  // a standard bin the printer lacks
      {"A4", 9, 7, {{"MediaType", "THICK"}}, "A4", "THICK", "FORMSOURCE"},
  };
  for (const Case& c : cases) {
    DeviceMode devmode(kVendorRecordSize);
    WritePublicDefaults(devmode, VTEXT("P"));
    devmode.PutFormName(c.form);
    devmode.PutI16(devmode_offset::kPaperSize, c.code);
    devmode.PutI16(devmode_offset::kDefaultSource, c.source);
    const FeatureOptions options = JobFeatureOptions(devmode, c.choices);
    EXPECT_EQ(options.at("PaperSize"), c.paper) << c.form;
    EXPECT_EQ(options.at("MediaType"), c.media) << c.form;
    EXPECT_EQ(options.at("InputBin"), c.bin) << c.form;
  }
}

TEST(JobOptions, FormerBinNumbersSelectTheSameBins) {
  // Device modes and tickets stored before the bins had their own numbers carry 256-259.
  const std::pair<std::int16_t, std::int16_t> cases[] = {
      {256, 513}, {257, 514}, {258, 515}, {259, 516}, {513, 513}, {516, 516}, {7, 7}, {260, 260},
  };
  DeviceMode defaults(kVendorRecordSize);
  WritePublicDefaults(defaults, VTEXT("P"));
  for (const auto& [stored, settled] : cases) {
    DeviceMode app = defaults;
    app.PutI16(devmode_offset::kDefaultSource, stored);
    SettlePublicFields(app, defaults);
    EXPECT_EQ(app.I16(devmode_offset::kDefaultSource), settled) << stored;
    EXPECT_EQ(JobFeatureOptions(app, {}).at("InputBin"), InputBinForSource(settled)) << stored;
  }
}

TEST(JobOptions, ChoicesAreChecked) {
  const FeatureOptions ok = ParseOptionChoices({"PaperSize=LETTER", "InputBin=TRAY2", "MediaType=THICK"});
  EXPECT_EQ(ok.at("InputBin"), "TRAY2");
  for (const char* bad : {"PaperSize", "Paper=A4", "PaperSize=letter", "InputBin=TRAY9", "MediaType="}) {
    EXPECT_THROW(ParseOptionChoices({bad}), HostError) << bad;
  }
  DeviceMode app(kVendorRecordSize);
  WritePublicDefaults(app, VTEXT("P"));
  ApplyOptionChoices(app, ok);
  EXPECT_EQ(app.I16(devmode_offset::kPaperSize), 1);
  EXPECT_EQ(app.FormName(), VTEXT("Letter"));
  EXPECT_EQ(app.I16(devmode_offset::kDefaultSource), 515);
}

TEST(PxlEncoder, WritesTheBinaryEncoding) {
  using pxl::Attr;
  using pxl::Op;
  struct Case {
    const char* what;
    Bytes bytes;
    Bytes expected;
  };
  const Case cases[] = {
      {"ubyte", PxlEncoder().UByte(1, Attr::DataOrg).Take(), {0xC0, 0x01, 0xF8, 0x82}},
      {"uint16_xy",
       PxlEncoder().UInt16Xy(600, 1200, Attr::UnitsPerMeasure).Take(),
       {0xD1, 0x58, 0x02, 0xB0, 0x04, 0xF8, 0x89}},
      {"sint16_box",
       PxlEncoder().SInt16Box(-1, 2, 300, 40000, Attr::BoundingBox).Take(),
       {0xE3, 0xFF, 0xFF, 0x02, 0x00, 0x2C, 0x01, 0xFF, 0x7F, 0xF8, 0x42}},
      {"real32_xy",
       PxlEncoder().Real32Xy(1.0f, 0.5f, Attr::PageScale).Take(),
       {0xD5, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x3F, 0xF8, 0x2B}},
      {"ubyte_array",
       PxlEncoder().UByteArray(Bytes{'A', 'b'}, Attr::MediaType).Take(),
       {0xC8, 0xC0, 0x02, 'A', 'b', 0xF8, 0x27}},
      {"data",
       PxlEncoder().Operator(Op::ReadImage).Data(Bytes{9, 8, 7}).Take(),
       {0xB1, 0xFA, 0x03, 0x00, 0x00, 0x00, 9, 8, 7}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.bytes, c.expected) << c.what;
}

TEST(JobTicket, NamesAndValues) {
  const auto settings = ParseTicket(
      R"({"dmCopies": 3, "szFileBoxName": "Finance", "fScale": 0.5, "bStaple": true,
          "SpecialPage2": {"dwPageRule": 2, "sTrayIndex": 4}, "SpecialPage1.dwPageRule": 1,
          "szMargins": ["0.1", 0.25, "0.3", "0.4"]})",
      "ticket 't'");
  std::vector<std::string> flat;
  for (const auto& s : settings) flat.push_back(s.name + "=" + s.value);
  std::sort(flat.begin(), flat.end());
  EXPECT_EQ(flat, (std::vector<std::string>{"SpecialPage1.dwPageRule=1", "SpecialPage2.dwPageRule=2",
                                            "SpecialPage2.sTrayIndex=4", "bStaple=1", "dmCopies=3", "fScale=0.5",
                                            "szFileBoxName=Finance", "szMargins=0.1,0.25,0.3,0.4"}));
  for (const char* bad : {"{", "[1, 2]", "{\"dmCopies\": null}", "{\"dmCopies\": [1]}", ""}) {
    EXPECT_THROW(ParseTicket(bad, "ticket 't'"), HostError) << bad;
  }
  EXPECT_THROW(ReadTicket("/nonexistent/ticket.json"), HostError);
  EXPECT_THROW(ParseAssignment("dmCopies", "--set"), HostError);
  EXPECT_EQ(ParseAssignment("szFileBoxName=a=b", "--set").value, "a=b");
}

TEST(JobTicket, SettingsReachTheRecordAndThePublicFields) {
  DeviceMode app(kVendorRecordSize);
  WritePublicDefaults(app, VTEXT("P"));
  StampVendorHeader(app.record());
  FillVendorDefaults(app.record() + kVendorHeaderSize);
  ApplySettings(app, {{"--set", "dmCopies", "4"}, {"--set", "eHoldMode", "2"}});
  EXPECT_EQ(app.I16(devmode_offset::kCopies), 4);
  EXPECT_EQ(le::I32(app.record() + kVendorHeaderSize + 780), 2);  // eHoldMode at body offset 780

  struct Bad {
    SettingAssignment setting;
    const char* message;
  };
  const Bad bad[] = {
      {{"ticket 'a.json'", "bogus", "1"}, "ticket 'a.json': unknown field 'bogus'"},
      {{"--set", "dmSize", "100"}, "--set: 'dmSize' is set by the host"},
      {{"--set", "dmCopies", "99999"}, "--set"},
  };
  for (const Bad& b : bad) {
    try {
      ApplySettings(app, {b.setting});
      ADD_FAILURE() << b.setting.name;
    } catch (const HostError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(b.message, 0), 0u) << error.what();
    }
  }
}

// The device mode of the plug-in module itself.
class DeviceModeOfModule : public ::testing::Test {
 protected:
  void SetUp() override { plugin = module.CreatePlugin(); }
  void TearDown() override { plugin->Release(); }
  PluginModule module{VELMORA_MODULE};
  IPrintOemUni3* plugin = nullptr;
};

TEST_F(DeviceModeOfModule, DefaultsHoldTheRecordBehindTheHostData) {
  DeviceMode devmode = DefaultDeviceMode(*plugin, nullptr, VTEXT("Office"));
  const std::uint8_t* dm = devmode.bytes();
  EXPECT_EQ(le::U16(dm + 68), 220);
  EXPECT_EQ(le::U16(dm + 70), 64 + 5240);
  EXPECT_EQ(le::U16(dm + 220 + 8), 64);
  EXPECT_EQ(le::U32(dm + 284), 5240u);             // the record's dwSize
  EXPECT_EQ(le::U32(dm + 288), kVendorSignature);  // and its signature
  EXPECT_EQ(FindVendorDevmode(devmode.publicDM()), devmode.record() + 12);
  EXPECT_EQ(le::I16(dm + 78), 9);  // A4
  EXPECT_EQ(le::I16(dm + 76), 1);  // portrait
  EXPECT_EQ(le::I16(dm + 86), 1);  // copies
  EXPECT_EQ(le::I16(dm + 88), 7);  // automatic bin
  EXPECT_EQ(le::I16(dm + 90), 600);
  EXPECT_EQ(le::I16(dm + 94), 1);  // simplex
  EXPECT_EQ(le::I16(dm + 96), 600);
  EXPECT_EQ(le::I16(dm + 100), 0);  // not collated
  EXPECT_EQ(devmode.FormName(), VTEXT("A4"));
  EXPECT_EQ(le::U16(dm), 'O');  // the printer's name
  const DWORD fields = le::U32(dm + 72);
  for (DWORD bit : {DM_ORIENTATION, DM_PAPERSIZE, DM_COPIES, DM_DEFAULTSOURCE, DM_PRINTQUALITY, DM_DUPLEX,
                    DM_YRESOLUTION, DM_COLLATE, DM_FORMNAME}) {
    EXPECT_NE(fields & bit, 0u) << bit;
  }
}

TEST_F(DeviceModeOfModule, SettledAndMerged) {
  const DeviceMode printer = DefaultDeviceMode(*plugin, nullptr, VTEXT("Office"));
  struct Case {
    std::vector<SettingAssignment> settings;
    std::int16_t paperCode;
    const WCHAR* form;
    std::int16_t yResolution;
  };
  const Case cases[] = {
      {{{"--set", "dmFormName", "letter"}}, 1, VTEXT("Letter"), 600},
      {{{"--set", "dmPaperSize", "5"}}, 5, VTEXT("Legal"), 600},
      {{{"--set", "dmPrintQuality", "1200"}}, 9, VTEXT("A4"), 1200},
      {{{"--set", "dmPrintQuality", "1200"}, {"--set", "dmYResolution", "300"}}, 9, VTEXT("A4"), 300},
  };
  for (const Case& c : cases) {
    DeviceMode app = printer;
    ApplySettings(app, c.settings);
    SettlePublicFields(app, printer);
    EXPECT_EQ(app.I16(devmode_offset::kPaperSize), c.paperCode);
    EXPECT_EQ(app.FormName(), c.form);
    EXPECT_EQ(app.I16(devmode_offset::kYResolution), c.yResolution);
  }
  for (const char* bad :
       {"dmOrientation=3", "dmDuplex=0", "dmCopies=0", "dmFormName=Napkin", "dmPaperSize=999", "dmCollate=2"}) {
    DeviceMode app = printer;
    ApplySettings(app, {ParseAssignment(bad, "--set")});
    EXPECT_THROW(SettlePublicFields(app, printer), HostError) << bad;
  }

  // The merge takes the application's public fields and record; the plug-in limits the
  // copies to 999.
  DeviceMode app = printer;
  ApplySettings(app, {{"--set", "dmCopies", "1500"}, {"--set", "eHoldMode", "3"}});
  SettlePublicFields(app, printer);
  DeviceMode job = MergeDeviceMode(*plugin, nullptr, app, printer);
  EXPECT_EQ(job.I16(devmode_offset::kCopies), 999);
  EXPECT_EQ(le::I32(job.record() + kVendorHeaderSize + 780), 3);
  EXPECT_EQ(FindVendorDevmode(job.publicDM()), job.record() + 12);
}

TEST(PluginModule, ClearErrors) {
  try {
    PluginModule missing("/nonexistent/libvelmora_pxl.so");
    ADD_FAILURE();
  } catch (const HostError& error) {
    EXPECT_NE(std::string(error.what()).find("Unable to load plug-in module '/nonexistent/libvelmora_pxl.so'"),
              std::string::npos);
  }
  try {
    PluginModule noExports(VELMORA_PLATFORM_LIBRARY);
    ADD_FAILURE();
  } catch (const HostError& error) {
    EXPECT_NE(std::string(error.what()).find("does not export DllGetClassObject"), std::string::npos);
  }
}

}  // namespace
}  // namespace velmora::host
