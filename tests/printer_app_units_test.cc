// The printer application's checks that stand between a client and the machine: the
// devices a printer may use, the names and log lines it cleans, the overlay names it takes,
// the sizes it reads, the SNMP answers it reads, and the recovery of a state file left by
// a killed application.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/claimed_file.h"
#include "platform/text_encoding.h"
#include "tools/printer_app/access.h"
#include "tools/printer_app/devices.h"
#include "tools/printer_app/overlays.h"
#include "tools/printer_app/print_process.h"
#include "tools/printer_app/secrets.h"
#include "tools/printer_app/snmp_supplies.h"
#include "tools/printer_app/state_recovery.h"

namespace velmora::printer_app {
namespace {

namespace fs = std::filesystem;

TEST(PrinterAppChecks, DevicesAreSocketsOrAllowedFolders) {
  const fs::path top = fs::temp_directory_path() / ("velmora-devices-" + std::to_string(::getpid()));
  fs::create_directories(top / "allowed" / "sub");
  fs::create_directories(top / "other");
  fs::create_symlink(top / "other", top / "allowed" / "link");
  RegisterDeviceSchemes({fs::canonical(top / "allowed").string()});
  const std::string allowed = "file://" + (top / "allowed").string();
  const struct {
    std::string uri;
    bool taken;
  } cases[] = {
      {"socket://printer.example:9100", true},
      {"socket://192.0.2.7", true},
      {"socket://", false},
      {allowed, true},
      {allowed + "/sub", true},
      {allowed + "/link", false},  // a link out of the folder
      {allowed + "/../other", false},
      {"file://" + (top / "other").string(), false},
      {"file:///etc/passwd", false},
      {"file://remote.example" + (top / "allowed").string(), false},
      {"usb://Vendor/Model", false},
      {"dnssd://Printer._pdl-datastream._tcp.local/", false},
      {"not a uri", false},
  };
  for (const auto& c : cases) EXPECT_EQ(DeviceProblem(c.uri).empty(), c.taken) << c.uri << ": " << DeviceProblem(c.uri);
  fs::remove_all(top);
}

TEST(PrinterAppChecks, NamesAndLogLinesAreCleaned) {
  const struct {
    std::string in, cleaned;
  } names[] = {
      {"Quarterly report", "Quarterly report"},
      {"x\"\n<Printer id=\"9\">\r\n", "x\" <Printer id=\"9\">  "},
      {"\x1b[31mred", " [31mred"},
      {"Caf\xc3\xa9 \xe6\x97\xa5", "Caf\xc3\xa9 \xe6\x97\xa5"},
      {"bad \xff byte", "bad \xef\xbf\xbd byte"},
      // Each byte that is not UTF-8 grows to three; a name stays within 255 octets.
      {std::string(20000, '\xff'),
       [] {
         std::string cut;
         for (int i = 0; i < 85; ++i) cut += "\xef\xbf\xbd";
         return cut;
       }()},
  };
  for (const auto& c : names) EXPECT_EQ(CleanName(c.in), c.cleaned) << c.in.substr(0, 64);

  // A message cut to a size ends between characters.
  const struct {
    std::string in;
    std::size_t maxBytes;
    std::string cut;
  } cuts[] = {
      {"short", 10, "short"},
      {"exactly", 7, "exactly"},
      {"abcdef", 3, "abc"},
      {"ab\xc3\xa9", 3, "ab"},
      {"\xe6\x97\xa5\xe6\x97\xa5", 5, "\xe6\x97\xa5"},
      {"a\xf0\x9f\x96\xa8", 4, "a"},
      {"\xe6\x97\xa5", 0, ""},
  };
  for (const auto& c : cuts) EXPECT_EQ(CutText(c.in, c.maxBytes), c.cut) << c.in << " " << c.maxBytes;

  const struct {
    std::string in, redacted;
  } lines[] = {
      {"D [t] [Client 3] Print-Job request:   job-password octetString 4711",
       "D [t] [Client 3] Print-Job request:   job-password (hidden)"},
      {"I [t] [Job 2] Printed 100 bytes", "I [t] [Job 2] Printed 100 bytes"},
  };
  for (const auto& c : lines) EXPECT_EQ(RedactLogLine(c.in), c.redacted);
}

TEST(PrinterAppChecks, AnyOverlayCaptureInTheRequestIsSeen) {
  struct Mode {
    ipp_tag_t group;
    std::vector<const char*> values;
  };
  const struct {
    std::vector<Mode> modes;
    bool capture;
  } cases[] = {
      {{}, false},
      {{{IPP_TAG_JOB, {"one"}}}, false},
      {{{IPP_TAG_JOB, {"create"}}}, true},
      {{{IPP_TAG_OPERATION, {"none"}}, {IPP_TAG_JOB, {"create"}}}, true},
      {{{IPP_TAG_JOB, {"none"}}, {IPP_TAG_JOB, {"create"}}}, true},
      {{{IPP_TAG_JOB, {"none", "create"}}}, true},
      {{{IPP_TAG_OPERATION, {"create"}}, {IPP_TAG_JOB, {"none"}}}, true},
  };
  for (const auto& c : cases) {
    ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
    for (const Mode& mode : c.modes) {
      ippAddStrings(request, mode.group, IPP_TAG_KEYWORD, "overlay-mode", static_cast<int>(mode.values.size()), nullptr,
                    mode.values.data());
    }
    EXPECT_EQ(AsksForOverlayCapture(request), c.capture) << c.modes.size() << " overlay-mode attributes";
    ippDelete(request);
  }
}

// A PIN waits for its job in this process only: none for Validate-Job, which makes no job,
// no more than one byte over the longest PIN, and no more than a fixed number of them.
TEST(PrinterAppChecks, PinsWaitingForTheirJobsAreBounded) {
  const auto send = [](ipp_op_t operation, const std::string& pin) {
    ipp_t* request = ippNewRequest(operation);
    ippAddOctetString(request, IPP_TAG_JOB, "job-password", pin.data(), static_cast<int>(pin.size()));
    TakePinFromRequest(request);
    const bool token = ippFindAttribute(request, "job-password", IPP_TAG_ZERO) != nullptr;
    ippDelete(request);
    return token;
  };
  const struct {
    ipp_op_t operation;
    std::size_t pinBytes;
    std::size_t keptBytes;  // 0: no token, nothing kept
  } cases[] = {
      {IPP_OP_VALIDATE_JOB, 4, 0},
      {IPP_OP_VALIDATE_JOB, 32767, 0},
      {IPP_OP_PRINT_JOB, 4, 4},
      {IPP_OP_CREATE_JOB, 32767, 33},
  };
  for (const auto& c : cases) {
    const WaitingPins before = PinsWaiting();
    EXPECT_EQ(send(c.operation, std::string(c.pinBytes, '7')), c.keptBytes != 0) << c.pinBytes;
    EXPECT_EQ(PinsWaiting().bytes - before.bytes, c.keptBytes) << c.pinBytes;
  }
  for (int i = 0; i < 3000; ++i) send(IPP_OP_PRINT_JOB, "1234");
  EXPECT_LE(PinsWaiting().count, 1024u);
}

TEST(PrinterAppChecks, OverlayNamesAreFileNamesOfTheirOwn) {
  const struct {
    std::string name;
    bool taken;
  } cases[] = {
      {"Letterhead", true},
      {"form-2_b", true},
      {std::string(32, 'x'), true},
      {"", false},
      {std::string(33, 'x'), false},
      {"..", false},
      {"../spooler", false},
      {"a/b", false},
      {"a\\b", false},
      {"a.ovl", false},
      {"none", false},
      {"two words", false},
      {"\xC3\x9C", false},
      {"x\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(OverlayNameProblem(c.name).empty(), c.taken) << c.name;
}

// SNMP packets written out by hand from RFC 1157's message layout in BER.
TEST(PrinterAppChecks, SnmpRequestsAndAnswersOfTheSuppliesTable) {
  using Bytes = std::vector<std::uint8_t>;
  // GetNextRequest id 1 for prtMarkerSuppliesLevel (1.3.6.1.2.1.43.11.1.1.9), community public.
  const Bytes request = {0x30, 0x28, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  0xA1,
                         0x1B, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x10, 0x30, 0x0E,
                         0x06, 0x0A, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x2B, 0x0B, 0x01, 0x01, 0x09, 0x05, 0x00};
  EXPECT_EQ(snmp::GetNextRequest(1, {1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 9}), request);

  // GetResponse id 1: prtMarkerSuppliesLevel.1.1 = 40, then with other values and faults.
  const Bytes level = {0x30, 0x2B, 0x02, 0x01, 0x00, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  0xA2, 0x1E,
                       0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x13, 0x30, 0x11, 0x06, 0x0C,
                       0x2B, 0x06, 0x01, 0x02, 0x01, 0x2B, 0x0B, 0x01, 0x01, 0x09, 0x01, 0x01, 0x02, 0x01, 0x28};
  const auto changed = [&level](std::size_t at, std::vector<std::uint8_t> bytes) {
    Bytes packet = level;
    std::copy(bytes.begin(), bytes.end(), packet.begin() + static_cast<std::ptrdiff_t>(at));
    return packet;
  };
  const struct {
    Bytes packet;
    std::int32_t id;
    std::optional<long long> value;
  } cases[] = {
      {level, 1, 40},
      {changed(44, {0xFE}), 1, -2},                              // the MIB's "unknown"
      {level, 2, std::nullopt},                                  // an answer to another request
      {changed(20, {0x02}), 1, std::nullopt},                    // error status noSuchName
      {Bytes(level.begin(), level.end() - 1), 1, std::nullopt},  // cut short
      {changed(13, {0xA1}), 1, std::nullopt},                    // a request, not a response
  };
  for (const auto& c : cases) {
    const std::optional<snmp::Value> value = snmp::ParseResponse(c.packet, c.id);
    ASSERT_EQ(value.has_value(), c.value.has_value());
    if (!value) continue;
    EXPECT_TRUE(value->isInteger);
    EXPECT_EQ(value->integer, *c.value);
    EXPECT_EQ(value->oid, (snmp::Oid{1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 9, 1, 1}));
  }
  // An octet string: prtMarkerSuppliesDescription "Black".
  Bytes text = changed(39, {0x06});
  text.erase(text.end() - 3, text.end());
  text.insert(text.end(), {0x04, 0x05, 'B', 'l', 'a', 'c', 'k'});
  text[1] += 4, text[14] += 4, text[25] += 4, text[27] += 4;
  const std::optional<snmp::Value> description = snmp::ParseResponse(text, 1);
  ASSERT_TRUE(description.has_value());
  EXPECT_FALSE(description->isInteger);
  EXPECT_EQ(description->text, "Black");
}

// A supplies query against an agent on this machine that answers every request with the
// description "Black" of supply 1, as the printer would, or as a forger would: with the id
// the request would have if ids were counted from 1, or from another address.
TEST(PrinterAppChecks, SnmpAnswersCountOnlyWithTheRequestIdFromTheAgentAsked) {
  using Bytes = std::vector<std::uint8_t>;
  const auto wrap = [](std::uint8_t tag, Bytes content) {
    content.insert(content.begin(), {tag, static_cast<std::uint8_t>(content.size())});
    return content;
  };
  const auto join = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
  };
  // GetResponse `id`: prtMarkerSuppliesDescription.1.1 (1.3.6.1.2.1.43.11.1.1.6.1.1) = "Black".
  const auto answer = [&](std::int32_t id) {
    const Bytes idBytes = {static_cast<std::uint8_t>(id >> 24), static_cast<std::uint8_t>(id >> 16),
                           static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id)};
    const Bytes binding = join({{0x06, 0x0C, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x2B, 0x0B, 0x01, 0x01, 0x06, 0x01, 0x01},
                                {0x04, 0x05, 'B', 'l', 'a', 'c', 'k'}});
    const Bytes pdu =
        join({wrap(0x02, idBytes), {0x02, 0x01, 0x00, 0x02, 0x01, 0x00}, wrap(0x30, wrap(0x30, binding))});
    return wrap(0x30, join({{0x02, 0x01, 0x00, 0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c'}, wrap(0xA2, pdu)}));
  };
  const auto bound = [](const char* address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &at.sin_addr);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << address;
    return fd;
  };
  enum class Forger { kNone, kCountedId, kOtherAddress };
  const struct {
    Forger forger;
    int supplies;
  } cases[] = {{Forger::kNone, 1}, {Forger::kCountedId, 0}, {Forger::kOtherAddress, 0}};
  for (const auto& c : cases) {
    const int agent = bound("127.0.0.1");
    const int other = bound("127.0.0.2");
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(agent, reinterpret_cast<sockaddr*>(&address), &length);
    std::atomic<bool> done = false;
    std::thread answering([&] {
      for (std::int32_t counted = 1; !done;) {
        pollfd watch{agent, POLLIN, 0};
        if (::poll(&watch, 1, 50) <= 0) continue;
        std::uint8_t request[512];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got =
            ::recvfrom(agent, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        // The request id: message, version, community, PDU, then the id's INTEGER at 15.
        if (got < 17 || request[15] != 0x02 || got < 17 + request[16]) continue;
        std::int32_t id = 0;
        for (int i = 0; i < request[16]; ++i) id = (id << 8) | request[17 + i];
        const Bytes reply = answer(c.forger == Forger::kCountedId ? counted++ : id);
        ::sendto(c.forger == Forger::kOtherAddress ? other : agent, reply.data(), reply.size(), 0,
                 reinterpret_cast<sockaddr*>(&from), fromLength);
      }
    });
    pappl_supply_t supplies[4] = {};
    EXPECT_EQ(QuerySnmpSupplies("127.0.0.1", 4, supplies, 300, ntohs(address.sin_port)), c.supplies)
        << static_cast<int>(c.forger);
    if (c.supplies > 0) {
      EXPECT_STREQ(supplies[0].description, "Black");
    }
    done = true;
    answering.join();
    ::close(agent);
    ::close(other);
  }
}

// What a printer answers is shown as it is only when it makes sense: a level in percent of
// the capacity or one of the MIB's special values, a description of UTF-8 text.
TEST(PrinterAppChecks, SnmpSupplyAnswersAreKeptInBounds) {
  const struct {
    long long level, capacity;
    int shown;
  } levels[] = {
      {40, 100, 40},    {3, 4, 75},     {0, 500, 0},
      {-1, 100, -1},    {-2, -2, -2},   {-3, 100, -3},
      {5000, 100, 100}, {5000, -2, -2}, {-2147483648LL, 100, -2},
      {50, 0, -2},      {-4, 100, -2},  {1LL << 40, 100, 100},
  };
  for (const auto& c : levels) EXPECT_EQ(SupplyLevel(c.level, c.capacity), c.shown) << c.level << "/" << c.capacity;

  const struct {
    std::string text;
    std::size_t maxBytes;
    std::string shown;
  } descriptions[] = {
      {"Black Toner", 255, "Black Toner"},
      {"Black\r\n\x1b[2J\x7f", 255, "Black   [2J "},
      {"Cyan \xc2\x85\xc2\x9b!", 255, "Cyan   !"},
      {"Bad \xff", 255, "Bad \xef\xbf\xbd"},
      {"Caf\xc3\xa9", 4, "Caf"},
      {std::string(300, 'x'), 255, std::string(255, 'x')},
  };
  for (const auto& c : descriptions) EXPECT_EQ(SupplyDescription(c.text, c.maxBytes), c.shown) << c.text;
}

TEST(PrinterAppChecks, SizesAreReadOrRefused) {
  const struct {
    std::string text;
    std::uint64_t bytes;  // 0: refused
  } cases[] = {{"2G", 2ull << 30},
               {"512M", 512ull << 20},
               {"64k", 64ull << 10},
               {"1048576", 1048576},
               {"0", 0},
               {"-1G", 0},
               {"12T", 0},
               {"", 0},
               {"G", 0}};
  for (const auto& c : cases) {
    if (c.bytes == 0) {
      EXPECT_THROW(ParseSize("--job-memory-limit", c.text), std::runtime_error) << c.text;
    } else {
      EXPECT_EQ(ParseSize("--job-memory-limit", c.text), c.bytes) << c.text;
    }
  }
}

TEST(PrinterAppChecks, InterruptedJobsAreAbortedWithTheirFiles) {
  const fs::path spool = fs::temp_directory_path() / ("velmora-spool-" + std::to_string(::getpid()));
  fs::create_directories(spool);
  for (const char* name : {"p00002j000000003-report.pdf", "p00002j000000003-report.ipp", "p00002j000000031-x.pdf",
                           "p00002j000000004-waiting.pdf", "velmora-2-4.pxl", "overlay-Xy12Ab.pdf"}) {
    std::ofstream(spool / name) << "x";
  }
  const std::string state =
      "DefaultPrinterID 2\n"
      "<Printer id=\"2\" name=\"Office\" did=\"\" uri=\"socket://p\" driver=\"velmora_pxl\">\n"
      "Job id=\"1\" name=\"done\" username=\"alice\" format=\"application/pdf\" state=\"9\"\n"
      "Job id=\"3\" name=\"a \\\"quoted\\\" name\" username=\"alice\" format=\"application/pdf\" state=\"5\"\n"
      "Job id=\"4\" name=\"waiting\" username=\"bob\" format=\"application/pdf\" state=\"3\"\n"
      "</Printer>\n";
  const StateRecovery recovery = AbortInterruptedJobs(state, spool.string(), 1234);
  EXPECT_EQ(recovery.abortedJobs, 1u);
  EXPECT_EQ(recovery.state,
            "DefaultPrinterID 2\n"
            "<Printer id=\"2\" name=\"Office\" did=\"\" uri=\"socket://p\" driver=\"velmora_pxl\">\n"
            "Job id=\"1\" name=\"done\" username=\"alice\" format=\"application/pdf\" state=\"9\"\n"
            "Job completed=\"1234\" format=\"application/pdf\" id=\"3\" name=\"a \\\"quoted\\\" name\" state=\"8\" "
            "username=\"alice\"\n"
            "Job id=\"4\" name=\"waiting\" username=\"bob\" format=\"application/pdf\" state=\"3\"\n"
            "</Printer>\n");
  std::vector<std::string> files;
  for (const std::string& path : recovery.jobFiles) files.push_back(fs::path(path).filename().string());
  std::sort(files.begin(), files.end());
  // The interrupted job's files, those of a job the state does not know and a capture
  // document of the settings page; the waiting job keeps its document.
  EXPECT_EQ(files, (std::vector<std::string>{"overlay-Xy12Ab.pdf", "p00002j000000003-report.ipp",
                                             "p00002j000000003-report.pdf", "p00002j000000031-x.pdf"}));
  fs::remove_all(spool);
}

// What captures cut short by a stop left in the overlay folders goes at the next start:
// an overlay's work file no capture holds and a half-written picture; whole overlays and
// their pictures stay, and so does the work file of a capture still running.
TEST(PrinterAppChecks, UnfinishedOverlaysAreRemovedAtStart) {
  const fs::path overlays = fs::temp_directory_path() / ("velmora-overlays-" + std::to_string(::getpid()));
  fs::create_directories(overlays / "1");
  fs::create_directories(overlays / "2");
  const struct {
    std::string file;
    bool kept;
  } cases[] = {
      {"1/Letterhead.ovl", true}, {"1/Letterhead.png", true},  {"1/Cut.ovl.capture", false},
      {"1/Cut.png.part", false},  {"2/Draft.png.part", false}, {"2/Running.ovl.capture", true},
      {"2/Notes.txt", true},
  };
  for (const auto& c : cases) std::ofstream(overlays / c.file) << "bytes";
  platform::ClaimedFile running;
  fs::remove(overlays / "2/Running.ovl.capture");
  ASSERT_EQ(running.Create(platform::Utf8ToUtf16((overlays / "2/Running.ovl").string())),
            platform::ClaimedFile::Claim::kClaimed);
  EXPECT_EQ(RemoveUnfinishedOverlays(overlays.string()), 3u);
  for (const auto& c : cases) EXPECT_EQ(fs::exists(overlays / c.file), c.kept) << c.file;
  running.Remove();
  fs::remove_all(overlays);
}

}  // namespace
}  // namespace velmora::printer_app
