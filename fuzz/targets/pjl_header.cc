// Fuzz target: the PJL job header the command generator writes from the spooler's job
// texts (printer, document, machine and user names), the host's feature options and the
// settings record (box names, PIN, hold mode and the numbers), cleaned and cut into lines.
// Property: the header is the UEL and then whole PJL lines, each "@PJL ..." ended by CR
// LF, of at most 1023 bytes of well-formed UTF-8 without control characters; a COMMENT,
// JOB or SET line each but the last, which is the one ENTER LANGUAGE=PCLXL; a quoted value
// (if any) opened right after its '=' and closed at the end of the line.
#include <algorithm>
#include <string_view>
#include <vector>

#include "formats/le_bytes.h"
#include "formats/vendor_devmode.h"
#include "fuzz/fuzz_target.h"
#include "platform/fake/fake_services.h"
#include "src/commands/command_insertor.h"
#include "tests/fakes/fake_driver_services.h"

namespace velmora::fuzz {
namespace {

constexpr std::string_view kUel = "\x1b%-12345X";
// The command words of the header's lines; the last line, and only the last, enters the
// printer language.
constexpr std::string_view kCommands[] = {"COMMENT ", "JOB ", "SET "};
constexpr std::string_view kEnterLanguage = "@PJL ENTER LANGUAGE=PCLXL\r\n";

// The length of the well-formed UTF-8 character at the start of `text`, or 0.
std::size_t Utf8CharLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

void CheckLine(std::string_view line) {
  if (!line.starts_with("@PJL ") || line.size() > kPjlLineSize - 1) __builtin_trap();
  const std::string_view text = line.substr(0, line.size() - 2);  // without CR LF
  const std::string_view command = text.substr(5);
  if (std::none_of(std::begin(kCommands), std::end(kCommands),
                   [&](std::string_view word) { return command.starts_with(word); })) {
    __builtin_trap();
  }
  std::size_t quotes = 0;
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F) __builtin_trap();
    if (byte == '"') ++quotes;
    const std::size_t length = Utf8CharLength(text.substr(at));
    if (length == 0) __builtin_trap();
    at += length;
  }
  if (quotes == 0) return;
  const std::size_t open = text.find('"');
  if (quotes != 2 || text[open - 1] != '=' || !text.ends_with('"')) __builtin_trap();
}

// The header is the UEL, then lines each ended by CR LF, the last entering the language.
void CheckHeader(std::string_view header) {
  if (!header.starts_with(kUel) || !header.ends_with(kEnterLanguage)) __builtin_trap();
  header.remove_prefix(kUel.size());
  header.remove_suffix(kEnterLanguage.size());
  while (!header.empty()) {
    const std::size_t end = header.find("\r\n");
    if (end == std::string_view::npos) __builtin_trap();
    CheckLine(header.substr(0, end + 2));
    header.remove_prefix(end + 2);
  }
}

// A text of UTF-16 units: a 16-bit count, then the units (any values, lone surrogates too).
WString Units(InputCursor& input) {
  // The count is read before what is left is measured (a function's arguments, and the
  // two sides of |, come in no fixed order).
  const std::size_t low = input.Byte();
  const std::size_t wanted = low | (std::size_t{input.Byte()} << 8);
  const std::size_t count = std::min(wanted, input.restSize() / 2);
  WString text;
  for (std::size_t i = 0; i < count; ++i) text.push_back(static_cast<WCHAR>(input.Byte() | (input.Byte() << 8)));
  return text;
}

std::string Bytes8(InputCursor& input) {
  const std::size_t wanted = input.Byte();  // read before what is left is measured
  const std::size_t count = std::min(wanted, input.restSize());
  std::string text(reinterpret_cast<const char*>(input.rest()), count);
  for (std::size_t i = 0; i < count; ++i) input.Byte();
  return text;
}

void Entry(const std::uint8_t* data, std::size_t size) {
  InputCursor input(data, size);
  const std::uint8_t flags = input.Byte();

  std::vector<std::uint8_t> devmodeBytes(220, 0);
  le::PutU16(devmodeBytes.data() + 68, 220);
  auto* devmode = reinterpret_cast<DEVMODEW*>(devmodeBytes.data());
  devmode->dmOrientation = static_cast<short>(input.Byte() % 3);
  devmode->dmDuplex = static_cast<short>(input.Byte() % 4);
  devmode->dmCollate = static_cast<short>(flags >> 7);
  devmode->dmCopies = static_cast<short>(input.Byte() | (input.Byte() << 8));

  platform::fake::FakeSpooler spooler;
  platform::ScopedServices scoped{{&spooler, nullptr, nullptr, nullptr}};
  platform::JobInfo job;
  std::optional<WString>* texts[] = {&job.printerName, &job.document, &job.machineName, &job.userName};
  for (int i = 0; i < 4; ++i) {
    const WString text = Units(input);
    if ((flags & (1 << i)) != 0) *texts[i] = text;
  }
  spooler.AddPrinter(VTEXT("P1"));
  if ((flags & 0x10) != 0) {
    spooler.AddPrinter(VTEXT("P1")).data[VTEXT("UserAuthentication")] = {
        platform::ValueType::kBinary, {static_cast<std::uint8_t>((flags >> 5) & 1), 0, 0, 0}};
  }
  const DWORD jobId = spooler.AddJob(VTEXT("P1"), job);
  HANDLE printer = spooler.Open(VTEXT("P1"), platform::PRINTER_ALL_ACCESS);

  testing::FakeDriverServices services;
  for (const char* feature : {"PaperSize", "MediaType", "InputBin"}) {
    const std::string option = Bytes8(input);
    if (!option.empty()) services.options[feature] = option;
  }

  // The record: defaults, then patches of the body (offset, count, bytes) from the input.
  std::vector<std::uint8_t> record(kVendorRecordSize, 0);
  StampVendorHeader(record.data());
  std::uint8_t* body = record.data() + kVendorHeaderSize;
  FillVendorDefaults(body);
  while (input.restSize() > 3) {
    const std::size_t offset = (input.Byte() | (input.Byte() << 8)) % kVendorBodySize;
    const std::size_t count = std::min({std::size_t{input.Byte()}, input.restSize(), kVendorBodySize - offset});
    for (std::size_t i = 0; i < count; ++i) body[offset + i] = input.Byte();
  }

  DEVOBJ device{};
  device.dwSize = sizeof device;
  device.hPrinter = printer;
  device.pPublicDM = devmode;
  device.pOEMDM = record.data();
  CCommandInsertor insertor(body, devmode, &device, &services, jobId, printer);
  if (insertor.InsertPJLJobHeader() != S_OK) __builtin_trap();
  CheckHeader(services.WrittenText());
  spooler.Close(printer);
}

// A seed: flags, orientation, duplex, copies, the four texts, the three options, then
// patches of the record's body.
std::vector<std::uint8_t> MakeSeed(std::uint8_t flags, const std::vector<std::u16string>& texts,
                                   const std::vector<std::string>& options,
                                   const std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>>& patches) {
  std::vector<std::uint8_t> seed{flags, 1, 2, 3, 0};
  for (const std::u16string& text : texts) {
    seed.push_back(static_cast<std::uint8_t>(text.size()));
    seed.push_back(static_cast<std::uint8_t>(text.size() >> 8));
    for (char16_t unit : text) {
      seed.push_back(static_cast<std::uint8_t>(unit));
      seed.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
  }
  for (const std::string& option : options) {
    seed.push_back(static_cast<std::uint8_t>(option.size()));
    seed.insert(seed.end(), option.begin(), option.end());
  }
  for (const auto& [offset, bytes] : patches) {
    seed.push_back(static_cast<std::uint8_t>(offset));
    seed.push_back(static_cast<std::uint8_t>(offset >> 8));
    seed.push_back(static_cast<std::uint8_t>(bytes.size()));
    seed.insert(seed.end(), bytes.begin(), bytes.end());
  }
  return seed;
}

std::vector<std::uint8_t> Wide(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::vector<Seed> Seeds() {
  const std::vector<std::u16string> plain = {u"Office", u"Quarterly \"report\".pdf", u"\\\\HOST", u"jane"};
  const std::vector<std::u16string> awkward = {u"P\r\n@PJL EOJ", u"\x1b%-12345X\u00e9t\u00e9 \xd800 end",
                                               u"\\\\\u65e5\u672c", std::u16string(600, u'\u20ac')};
  const std::vector<std::string> options = {"A4", "PLAIN", "TRAY1"};
  // eHoldMode 2 (locked) at 780 with a box name and PIN; hold 7 with a print box folder.
  const auto hold = [](std::uint8_t mode) { return std::pair{std::size_t{780}, std::vector<std::uint8_t>{mode}}; };
  return {
      {"plain", MakeSeed(0x0F, plain, options, {})},
      {"locked-box", MakeSeed(0x1F, plain, options, {hold(2), {784, Wide(u"Finance \"Q3\"")}, {850, Wide(u"1234")}})},
      {"print-box", MakeSeed(0x1F, awkward, {"CUSTOMSIZE", "", "x"}, {hold(7), {1854, Wide(u"dir\r\n")}})},
      {"awkward", MakeSeed(0x8F, awkward, {"", "", ""}, {{916, {0xFB, 0xFF}}})},
  };
}

VELMORA_FUZZ_TARGET(pjl_header, Entry, Seeds);

}  // namespace
}  // namespace velmora::fuzz
