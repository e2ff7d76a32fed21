// velmora settings: inspect and prepare stored settings records, alone or inside a dump
// of a public device mode.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "formats/le_bytes.h"
#include "formats/settings_fields.h"
#include "formats/vendor_devmode.h"
#include "tools/velmora/commands.h"
#include "tools/velmora/file_io.h"

namespace velmora::cli {
namespace {

using Json = nlohmann::ordered_json;

// A settings file in memory: a bare record, or a device mode holding one.
struct SettingsFile {
  std::vector<std::uint8_t> bytes;
  std::size_t recordOffset = 0;
  bool isDevmode = false;

  std::uint8_t* record() { return bytes.data() + recordOffset; }
  std::uint8_t* body() { return record() + kVendorHeaderSize; }
  std::uint8_t* devmode() { return isDevmode ? bytes.data() : nullptr; }
  std::size_t recordCapacity() const { return bytes.size() - recordOffset; }
};

// Interprets file bytes as a record or a device-mode dump. A bare record may be shorter
// than a whole one only when `allowShortRecord` (the input of a copy).
std::optional<SettingsFile> Interpret(std::vector<std::uint8_t> bytes, bool allowShortRecord) {
  SettingsFile file;
  if (bytes.size() == kVendorRecordSize ||
      (allowShortRecord && bytes.size() >= kVendorHeaderSize && bytes.size() < kVendorRecordSize)) {
    file.bytes = std::move(bytes);
    return file;
  }
  if (auto body = FindVendorDevmodeOffset(bytes.data(), bytes.size())) {
    file.recordOffset = *body - kVendorHeaderSize;
    file.isDevmode = true;
    file.bytes = std::move(bytes);
    return file;
  }
  return std::nullopt;
}

SettingsFile Load(const std::string& path, bool allowShortRecord = false) {
  std::vector<std::uint8_t> bytes = ReadWholeFile(path);
  const std::size_t size = bytes.size();
  if (auto file = Interpret(std::move(bytes), allowShortRecord)) return *file;
  throw CommandError("'" + path + "' is neither a settings record (" + std::to_string(kVendorRecordSize) +
                     " bytes) nor a public device mode holding one (" + std::to_string(size) + " bytes)");
}

std::vector<std::uint8_t> DefaultRecord() {
  std::vector<std::uint8_t> record(kVendorRecordSize, 0);
  StampVendorHeader(record.data());
  FillVendorDefaults(record.data() + kVendorHeaderSize);
  return record;
}

// A signature as its four characters when they are printable, else as a number.
Json SignatureJson(std::uint32_t value) {
  std::string chars;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((value >> (8 * i)) & 0xFF);
    if (c < 0x20 || c > 0x7E) return value;
    chars.push_back(c);
  }
  return chars;
}

Json FieldJson(const std::uint8_t* field, FieldKind kind, std::size_t units) {
  switch (kind) {
    case FieldKind::kU8: return *field;
    case FieldKind::kI16: return le::I16(field);
    case FieldKind::kU16: return le::U16(field);
    case FieldKind::kU32: return le::U32(field);
    case FieldKind::kI32: return le::I32(field);
    case FieldKind::kF32: return le::F32(field);
    case FieldKind::kWideText: return FieldText(field, kind, units);
  }
  return nullptr;
}

Json ShowJson(SettingsFile& file) {
  Json out;
  const std::uint8_t* record = file.record();
  out["header"] = {{"dwSize", le::U32(record)},
                   {"dwSignature", SignatureJson(le::U32(record + 4))},
                   {"dwVersion", le::U32(record + 8)}};
  // Named fields, the margins and the special-page blocks, in body order.
  struct Entry {
    std::size_t offset;
    std::string name;
    Json value;
  };
  std::vector<Entry> entries;
  const std::uint8_t* body = file.body();
  for (const auto& field : kVendorFields) {
    Json value = field.name == "dwBodySignature" ? SignatureJson(le::U32(body + field.offset))
                                                 : FieldJson(body + field.offset, field.kind, field.units);
    entries.push_back({field.offset, std::string(field.name), value});
  }
  Json margins = Json::array();
  for (std::size_t i = 0; i < kMarginCount; ++i) {
    margins.push_back(FieldText(body + kMarginsOffset + 2 * kMarginUnits * i, FieldKind::kWideText, kMarginUnits));
  }
  entries.push_back({kMarginsOffset, "szMargins", margins});
  for (int kind = 1; kind <= 3; ++kind) {
    const std::size_t block = *SpecialPageBlockOffset(kind);
    entries.push_back({block, "SpecialPage" + std::to_string(kind),
                       Json{{"dwPageRule", le::U32(body + block + kSpecialPageRuleOffset)},
                            {"sTrayIndex", le::I16(body + block + kSpecialPageTrayOffset)},
                            {"sMediaIndex", le::I16(body + block + kSpecialPageMediaOffset)}}});
  }
  // Blocks are shown by kind (1, 2, 3) where they start, ahead of the later fields.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const auto key = [](const Entry& e) { return e.name.starts_with("SpecialPage") ? std::size_t{952} : e.offset; };
    return key(a) < key(b);
  });
  for (auto& entry : entries) out[entry.name] = entry.value;
  if (file.isDevmode) {
    Json devmode;
    for (const auto& field : kDevmodeFields) {
      devmode[std::string(field.name)] = FieldJson(file.devmode() + field.offset, field.kind, field.units);
    }
    out["devmode"] = devmode;
  }
  return out;
}

void RunShow(const std::string& path) {
  SettingsFile file = Load(path);
  std::cout << ShowJson(file).dump(2) << "\n";
}

void RunSet(const std::string& path, const std::vector<std::string>& assignments) {
  SettingsFile file = Load(path);
  for (const auto& assignment : assignments) {
    if (auto error = ApplyAssignment(file.body(), file.devmode(), assignment)) {
      throw CommandError("settings set: " + *error + "; '" + path + "' is unchanged");
    }
  }
  WriteFileAtomically(path, file.bytes);
}

void RunDefaults(const std::string& output) { WriteFileAtomically(output, DefaultRecord()); }

// CONVERT or MERGE from one stored record into another. A missing output file starts as
// a default record, as the host prepares one before it merges.
void RunCopy(const std::string& input, const std::string& output, bool merge) {
  SettingsFile in = Load(input, /*allowShortRecord=*/true);
  SettingsFile out;
  if (FileExists(output)) {
    out = Load(output);
  } else {
    out.bytes = DefaultRecord();
  }
  if (!CopyVendorDevmode(in.record(), in.recordCapacity(), out.record(), out.recordCapacity())) {
    throw CommandError("settings: unable to copy '" + input + "' into '" + output + "'");
  }
  if (merge) StampVendorHeader(out.record());
  WriteFileAtomically(output, out.bytes);
}

}  // namespace

void RegisterSettingsCommand(CLI::App& app) {
  CLI::App* settings = app.add_subcommand(
      "settings", "Inspect and prepare stored settings records (alone, or inside a public device mode dump)");
  settings->require_subcommand(1);

  static std::string defaultsOutput;
  CLI::App* defaults = settings->add_subcommand("defaults", "Write a default record (header and body, 5240 bytes)");
  defaults->add_option("-o,--output", defaultsOutput, "File to write")->required();
  defaults->callback([] { RunDefaults(defaultsOutput); });

  static std::string showPath;
  CLI::App* show = settings->add_subcommand("show", "Print every named field as JSON");
  show->add_option("FILE", showPath, "A settings record or a public device mode dump")->required();
  show->callback([] { RunShow(showPath); });

  static std::string setPath;
  static std::vector<std::string> assignments;
  CLI::App* set = settings->add_subcommand(
      "set", "Change named fields (NAME=VALUE; SpecialPageN.dwPageRule=2; szMargins=L,T,R,B; dm* fields of a dump)");
  set->add_option("FILE", setPath, "A settings record or a public device mode dump")->required();
  set->add_option("ASSIGNMENT", assignments, "NAME=VALUE")->required();
  set->callback([] { RunSet(setPath, assignments); });

  static std::string copyInput, copyOutput;
  CLI::App* convert = settings->add_subcommand("convert", "Apply the convert copy from IN into OUT");
  convert->add_option("IN", copyInput)->required();
  convert->add_option("OUT", copyOutput)->required();
  convert->callback([] { RunCopy(copyInput, copyOutput, /*merge=*/false); });

  CLI::App* merge = settings->add_subcommand("merge", "Apply the merge copy from IN into OUT and stamp OUT's header");
  merge->add_option("IN", copyInput)->required();
  merge->add_option("OUT", copyOutput)->required();
  merge->callback([] { RunCopy(copyInput, copyOutput, /*merge=*/true); });
}

}  // namespace velmora::cli
