// A reader and checker of GPD printer descriptions for the tests, written from Microsoft's
// GPD reference alone: it shares nothing with the package generator, so a mistake in the
// generator does not hide itself in the check.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::gpd {

// One entry "*Keyword: value", with the entries between the braces that follow it.
struct Entry {
  std::string keyword;  // as written, without the '*' ("Option", "ConcealFromUI?")
  std::string value;    // trimmed; continuation lines ('+') joined with one blank
  int line = 0;
  bool block = false;  // braces followed the entry
  std::vector<Entry> children;

  // The first child, and all children, with a keyword (ignoring ASCII case).
  const Entry* Find(std::string_view key) const;
  std::vector<const Entry*> All(std::string_view key) const;
};

// The root entries of a GPD file. Throws std::runtime_error naming the line of the first
// fault of form: an unbalanced brace, a line that is no entry, braces after nothing.
std::vector<Entry> Parse(std::string_view text);

// Every rule of the GPD reference that the file breaks, and every rule of this printer
// (copies up to 999 with collation, fixed device-mode numbers of its own papers and
// trays), one message each; empty when the file passes.
std::vector<std::string> Check(std::string_view text);

// The Windows form name and DMPAPER number of a standard PaperSize option, and the DMBIN
// number of a standard InputBin option; nothing for other names.
struct StandardPaper {
  std::string_view option;
  std::string_view formName;
  int paperCode;
};
std::optional<StandardPaper> FindStandardPaper(std::string_view option);
std::optional<int> StandardBinNumber(std::string_view option);

// A quoted value without its quotes ("\"A4\"" -> "A4"); other values as they are.
std::string Unquoted(std::string_view value);

}  // namespace velmora::gpd
