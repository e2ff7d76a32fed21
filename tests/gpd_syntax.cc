// Reading and checking GPD files by the rules of Microsoft's GPD reference. Each rule
// names the reference page it comes from (learn.microsoft.com/windows-hardware/drivers/print/).
#include "tests/gpd_syntax.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

namespace velmora::gpd {
namespace {

// standard-options: every standard PaperSize option but CUSTOMSIZE (the DMPAPER names of
// wingdi.h without their prefix, 1 to 118 less the two reserved numbers), with its Windows
// form name (the forms database's built-in forms) and DMPAPER number.
constexpr StandardPaper kStandardPapers[] = {
    {"LETTER", "Letter", 1},
    {"LETTERSMALL", "Letter Small", 2},
    {"TABLOID", "Tabloid", 3},
    {"LEDGER", "Ledger", 4},
    {"LEGAL", "Legal", 5},
    {"STATEMENT", "Statement", 6},
    {"EXECUTIVE", "Executive", 7},
    {"A3", "A3", 8},
    {"A4", "A4", 9},
    {"A4SMALL", "A4 Small", 10},
    {"A5", "A5", 11},
    {"B4", "B4 (JIS)", 12},
    {"B5", "B5 (JIS)", 13},
    {"FOLIO", "Folio", 14},
    {"QUARTO", "Quarto", 15},
    {"10X14", "10x14", 16},
    {"11X17", "11x17", 17},
    {"NOTE", "Note", 18},
    {"ENV_9", "Envelope #9", 19},
    {"ENV_10", "Envelope #10", 20},
    {"ENV_11", "Envelope #11", 21},
    {"ENV_12", "Envelope #12", 22},
    {"ENV_14", "Envelope #14", 23},
    {"CSHEET", "C size sheet", 24},
    {"DSHEET", "D size sheet", 25},
    {"ESHEET", "E size sheet", 26},
    {"ENV_DL", "Envelope DL", 27},
    {"ENV_C5", "Envelope C5", 28},
    {"ENV_C3", "Envelope C3", 29},
    {"ENV_C4", "Envelope C4", 30},
    {"ENV_C6", "Envelope C6", 31},
    {"ENV_C65", "Envelope C65", 32},
    {"ENV_B4", "Envelope B4", 33},
    {"ENV_B5", "Envelope B5", 34},
    {"ENV_B6", "Envelope B6", 35},
    {"ENV_ITALY", "Envelope", 36},
    {"ENV_MONARCH", "Envelope Monarch", 37},
    {"ENV_PERSONAL", "6 3/4 Envelope", 38},
    {"FANFOLD_US", "US Std Fanfold", 39},
    {"FANFOLD_STD_GERMAN", "German Std Fanfold", 40},
    {"FANFOLD_LGL_GERMAN", "German Legal Fanfold", 41},
    {"ISO_B4", "B4 (ISO)", 42},
    {"JAPANESE_POSTCARD", "Japanese Postcard", 43},
    {"9X11", "9x11", 44},
    {"10X11", "10x11", 45},
    {"15X11", "15x11", 46},
    {"ENV_INVITE", "Envelope Invite", 47},
    {"LETTER_EXTRA", "Letter Extra", 50},
    {"LEGAL_EXTRA", "Legal Extra", 51},
    {"TABLOID_EXTRA", "Tabloid Extra", 52},
    {"A4_EXTRA", "A4 Extra", 53},
    {"LETTER_TRANSVERSE", "Letter Transverse", 54},
    {"A4_TRANSVERSE", "A4 Transverse", 55},
    {"LETTER_EXTRA_TRANSVERSE", "Letter Extra Transverse", 56},
    {"A_PLUS", "Super A", 57},
    {"B_PLUS", "Super B", 58},
    {"LETTER_PLUS", "Letter Plus", 59},
    {"A4_PLUS", "A4 Plus", 60},
    {"A5_TRANSVERSE", "A5 Transverse", 61},
    {"B5_TRANSVERSE", "B5 (JIS) Transverse", 62},
    {"A3_EXTRA", "A3 Extra", 63},
    {"A5_EXTRA", "A5 Extra", 64},
    {"B5_EXTRA", "B5 (ISO) Extra", 65},
    {"A2", "A2", 66},
    {"A3_TRANSVERSE", "A3 Transverse", 67},
    {"A3_EXTRA_TRANSVERSE", "A3 Extra Transverse", 68},
    {"DBL_JAPANESE_POSTCARD", "Japanese Double Postcard", 69},
    {"A6", "A6", 70},
    {"JENV_KAKU2", "Japanese Envelope Kaku #2", 71},
    {"JENV_KAKU3", "Japanese Envelope Kaku #3", 72},
    {"JENV_CHOU3", "Japanese Envelope Chou #3", 73},
    {"JENV_CHOU4", "Japanese Envelope Chou #4", 74},
    {"LETTER_ROTATED", "Letter Rotated", 75},
    {"A3_ROTATED", "A3 Rotated", 76},
    {"A4_ROTATED", "A4 Rotated", 77},
    {"A5_ROTATED", "A5 Rotated", 78},
    {"B4_JIS_ROTATED", "B4 (JIS) Rotated", 79},
    {"B5_JIS_ROTATED", "B5 (JIS) Rotated", 80},
    {"JAPANESE_POSTCARD_ROTATED", "Japanese Postcard Rotated", 81},
    {"DBL_JAPANESE_POSTCARD_ROTATED", "Double Japan Postcard Rotated", 82},
    {"A6_ROTATED", "A6 Rotated", 83},
    {"JENV_KAKU2_ROTATED", "Japan Envelope Kaku #2 Rotated", 84},
    {"JENV_KAKU3_ROTATED", "Japan Envelope Kaku #3 Rotated", 85},
    {"JENV_CHOU3_ROTATED", "Japan Envelope Chou #3 Rotated", 86},
    {"JENV_CHOU4_ROTATED", "Japan Envelope Chou #4 Rotated", 87},
    {"B6_JIS", "B6 (JIS)", 88},
    {"B6_JIS_ROTATED", "B6 (JIS) Rotated", 89},
    {"12X11", "12x11", 90},
    {"JENV_YOU4", "Japan Envelope You #4", 91},
    {"JENV_YOU4_ROTATED", "Japan Envelope You #4 Rotated", 92},
    {"P16K", "PRC 16K", 93},
    {"P32K", "PRC 32K", 94},
    {"P32KBIG", "PRC 32K(Big)", 95},
    {"PENV_1", "PRC Envelope #1", 96},
    {"PENV_2", "PRC Envelope #2", 97},
    {"PENV_3", "PRC Envelope #3", 98},
    {"PENV_4", "PRC Envelope #4", 99},
    {"PENV_5", "PRC Envelope #5", 100},
    {"PENV_6", "PRC Envelope #6", 101},
    {"PENV_7", "PRC Envelope #7", 102},
    {"PENV_8", "PRC Envelope #8", 103},
    {"PENV_9", "PRC Envelope #9", 104},
    {"PENV_10", "PRC Envelope #10", 105},
    {"P16K_ROTATED", "PRC 16K Rotated", 106},
    {"P32K_ROTATED", "PRC 32K Rotated", 107},
    {"P32KBIG_ROTATED", "PRC 32K(Big) Rotated", 108},
    {"PENV_1_ROTATED", "PRC Envelope #1 Rotated", 109},
    {"PENV_2_ROTATED", "PRC Envelope #2 Rotated", 110},
    {"PENV_3_ROTATED", "PRC Envelope #3 Rotated", 111},
    {"PENV_4_ROTATED", "PRC Envelope #4 Rotated", 112},
    {"PENV_5_ROTATED", "PRC Envelope #5 Rotated", 113},
    {"PENV_6_ROTATED", "PRC Envelope #6 Rotated", 114},
    {"PENV_7_ROTATED", "PRC Envelope #7 Rotated", 115},
    {"PENV_8_ROTATED", "PRC Envelope #8 Rotated", 116},
    {"PENV_9_ROTATED", "PRC Envelope #9 Rotated", 117},
    {"PENV_10_ROTATED", "PRC Envelope #10 Rotated", 118},
};
static_assert(std::size(kStandardPapers) == 116);

// standard-options: the standard InputBin options and their DMBIN numbers.
struct StandardBin {
  std::string_view option;
  int number;
};
constexpr StandardBin kStandardBins[] = {
    {"UPPER", 1},          {"LOWER", 2},     {"MIDDLE", 3},      {"MANUAL", 4},   {"ENVFEED", 5},
    {"ENVMANUAL", 6},      {"AUTO", 7},      {"TRACTOR", 8},     {"SMALLFMT", 9}, {"LARGEFMT", 10},
    {"LARGECAPACITY", 11}, {"CASSETTE", 14}, {"FORMSOURCE", 15},
};

// standard-features.
constexpr std::string_view kStandardFeatures[] = {
    "Collate",     "ColorMode", "Duplex",      "Halftone",  "InputBin", "MediaType",  "Memory",
    "Orientation", "OutputBin", "PageProtect", "PaperSize", "RESDLL",   "Resolution", "Stapling",
};

// standard-options: the features that take no customized options, and their options.
struct ClosedFeature {
  std::string_view feature;
  std::string_view options;  // separated by blanks
};
constexpr ClosedFeature kClosedFeatures[] = {
    {"Collate", "OFF ON"},
    {"Duplex", "NONE VERTICAL HORIZONTAL"},
    {"Orientation", "PORTRAIT LANDSCAPE_CC90 LANDSCAPE_CC270"},
    {"PageProtect", "ON OFF"},
};

// root-level-only-attributes (and *Include, now a preprocessor directive).
constexpr std::string_view kRootOnly[] = {
    "CodePage",    "FontCartSlots",       "GPDFileName", "GPDFileVersion", "GPDSpecVersion", "HelpFile",
    "Include",     "InstalledOptionName", "MasterUnits", "MaxCopies",      "ModelName",      "NotInstalledOptionName",
    "Personality", "PrinterType",         "PrintRate",   "PrintRatePPM",   "PrintRateUnit",  "ResourceDLL",
};

// command-execution-order: the job sections, and the commands that must say where they go.
constexpr std::string_view kSections[] = {"JOB_SETUP",   "DOC_SETUP",  "PAGE_SETUP",
                                          "PAGE_FINISH", "DOC_FINISH", "JOB_FINISH"};
constexpr std::string_view kOrderedCommands[] = {"CmdSelect",    "CmdStartJob", "CmdStartDoc",
                                                 "CmdStartPage", "CmdEndPage",  "CmdEndDoc",
                                                 "CmdEndJob",    "CmdCopies",   "CmdSleepTimeOut"};
// command-attributes.
constexpr std::string_view kCommandAttributes[] = {"Cmd", "CallbackID", "NoPageEject?", "Order", "Params"};

// cursor-commands: required at the root.
constexpr std::string_view kCursorCommands[] = {"CmdCR", "CmdLF", "CmdFF"};

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

template <typename List>
bool Contains(const List& list, std::string_view name) {
  return std::any_of(std::begin(list), std::end(list), [name](std::string_view item) { return item == name; });
}

bool IsWordOf(std::string_view words, std::string_view word) {
  std::size_t start = 0;
  while (start < words.size()) {
    const std::size_t end = std::min(words.find(' ', start), words.size());
    if (words.substr(start, end - start) == word) return true;
    start = end + 1;
  }
  return false;
}

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

// numeric-values: an integer, decimal (a minus sign makes it negative) unless it starts
// with 0x, which makes it unsigned hexadecimal. Nothing for any other text.
std::optional<long long> Number(std::string_view text) {
  const bool hexadecimal = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const bool negative = !hexadecimal && !text.empty() && text[0] == '-';
  const std::string_view digits = text.substr(hexadecimal ? 2 : negative ? 1 : 0);
  if (digits.empty() || digits.size() > 12) return std::nullopt;
  long long value = 0;
  for (const char c : digits) {
    const auto u = static_cast<unsigned char>(c);
    if (hexadecimal ? !std::isxdigit(u) : !std::isdigit(u)) return std::nullopt;
    const int digit = std::isdigit(u) ? c - '0' : std::tolower(u) - 'a' + 10;
    value = value * (hexadecimal ? 16 : 10) + digit;
  }
  return negative ? -value : value;
}

// The first colon of a value outside quotes; npos when there is none.
std::size_t ColonOutsideQuotes(std::string_view value) {
  bool quoted = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '"') quoted = !quoted;
    if (value[i] == ':' && !quoted) return i;
  }
  return std::string_view::npos;
}

// The parser: entries, braces, comments and continuation lines (gpd-file-entry-format).
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::vector<Entry> Run() {
    std::vector<Entry> root;
    std::vector<std::pair<std::vector<Entry>*, int>> open;  // the enclosing lists, and their brace's line
    std::vector<Entry>* current = &root;
    bool afterEntry = false;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else if (text_.substr(pos_, 2) == "*%") {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (c == '{') {
        if (!afterEntry || current->empty() || current->back().block) Fail("a brace that follows no entry");
        current->back().block = true;
        open.emplace_back(current, line_);
        current = &current->back().children;
        afterEntry = false;
        ++pos_;
      } else if (c == '}') {
        if (open.empty()) Fail("a closing brace without an opening one");
        current = open.back().first;
        open.pop_back();
        afterEntry = false;
        ++pos_;
      } else if (c == '*') {
        current->push_back(ReadEntry());
        afterEntry = true;
      } else {
        Fail("not a GPD entry");
      }
    }
    if (!open.empty()) {
      throw std::runtime_error("line " + std::to_string(open.back().second) + ": the brace is never closed");
    }
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("line " + std::to_string(line_) + ": " + what);
  }

  Entry ReadEntry() {
    Entry entry;
    entry.line = line_;
    const std::size_t start = ++pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_' || text_[pos_] == '?')) {
      ++pos_;
    }
    entry.keyword = std::string(text_.substr(start, pos_ - start));
    if (entry.keyword.empty()) Fail("an asterisk without a keyword");
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == ':') {
      ++pos_;
      entry.value = ReadValue();
    }
    // command-entry-format: "*Command: CmdCR: \"\"" is the short form of a command that
    // has only its *Cmd.
    if (SameText(entry.keyword, "Command")) {
      if (const std::size_t colon = ColonOutsideQuotes(entry.value); colon != std::string::npos) {
        Entry cmd;
        cmd.keyword = "Cmd";
        cmd.value = Trimmed(std::string_view(entry.value).substr(colon + 1));
        cmd.line = entry.line;
        entry.value = Trimmed(std::string_view(entry.value).substr(0, colon));
        entry.children.push_back(std::move(cmd));
      }
    }
    return entry;
  }

  // A value ends at the end of its line (unless the next line goes on with '+') or at a
  // brace outside quotes; the braces of a command parameter ("%d{NumOfCopies}") belong
  // to the value (command-string-format).
  std::string ReadValue() {
    std::string value;
    bool quoted = false;
    bool parameter = false;
    int parameterDepth = 0;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        std::size_t next = pos_ + 1;
        while (next < text_.size() && (text_[next] == ' ' || text_[next] == '\t' || text_[next] == '\r')) ++next;
        if (next >= text_.size() || text_[next] != '+') break;
        ++line_;
        pos_ = next + 1;
        value += ' ';
        continue;
      }
      if (c == '"') {
        quoted = !quoted;
      } else if (!quoted && c == '%') {
        parameter = true;
      } else if (!quoted && c == '{') {
        if (!parameter) break;
        ++parameterDepth;
      } else if (!quoted && c == '}') {
        if (parameterDepth == 0) break;
        if (--parameterDepth == 0) parameter = false;
      }
      value += c;
      ++pos_;
    }
    return Trimmed(value);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

// The construct an entry is, for the nesting rules (conditional-statements,
// feature-entry-format, option-entry-format, command-entry-format).
std::string_view Construct(const Entry& entry) {
  for (std::string_view kind : {"Feature", "Option", "Switch", "Case", "Default", "Command"}) {
    if (SameText(entry.keyword, kind)) return kind;
  }
  return {};
}

// The display name an option or feature shows: a quoted *Name (a macro may follow it),
// the system's form name of a standard paper, or a resource id.
std::string DisplayName(const Entry& entry, std::string_view feature) {
  if (const Entry* name = entry.Find("Name")) {
    const std::string& value = name->value;
    if (value.size() >= 2 && value.front() == '"') return value.substr(1, value.find('"', 1) - 1);
    return value;
  }
  if (const Entry* id = entry.Find("rcNameID")) {
    if (id->value == "=RCID_DMPAPER_SYSTEM_NAME" && feature == "PaperSize") {
      if (const auto paper = FindStandardPaper(entry.value)) return std::string(paper->formName);
    }
    return "resource " + id->value;
  }
  return {};
}

class Checker {
 public:
  std::vector<std::string> faults;

  void Run(std::string_view text, const std::vector<Entry>& root) {
    // root-level-only-attributes: *GPDSpecVersion is the first entry, before any comment.
    if (text.substr(0, 16) != "*GPDSpecVersion:") Fault(1, "*GPDSpecVersion is not the file's first entry");
    for (const Entry& entry : root) Nest(entry, {});
    RootEntries(root);
    for (const Entry* feature : Children(root, "Feature")) Feature(*feature);
    Commands(root);
    Switches(root, root);
    ThisPrinter(root);
  }

 private:
  void Fault(int line, const std::string& what) { faults.push_back("line " + std::to_string(line) + ": " + what); }

  static std::vector<const Entry*> Children(const std::vector<Entry>& list, std::string_view key) {
    std::vector<const Entry*> found;
    for (const Entry& entry : list) {
      if (SameText(entry.keyword, key)) found.push_back(&entry);
    }
    return found;
  }

  static const Entry* FindFeature(const std::vector<Entry>& root, std::string_view name) {
    for (const Entry* feature : Children(root, "Feature")) {
      if (feature->value == name) return feature;
    }
    return nullptr;
  }

  // Which construct may hold which, and which take braces.
  void Nest(const Entry& entry, std::string_view parent) {
    const std::string_view kind = Construct(entry);
    const std::string where = parent.empty() ? "the root" : "*" + std::string(parent);
    auto allowedIn = [&](std::initializer_list<std::string_view> parents) {
      if (std::find(parents.begin(), parents.end(), parent) == parents.end()) {
        Fault(entry.line, "*" + entry.keyword + " inside " + where);
      }
    };
    if (parent == "Switch" && kind != "Case" && kind != "Default") {
      Fault(entry.line, "*" + entry.keyword + " inside *Switch, which holds only *Case and *Default");
    }
    if (kind == "Feature") allowedIn({""});
    if (kind == "Option") allowedIn({"Feature"});
    if (kind == "Switch") allowedIn({"", "Feature", "Option", "Case", "Default"});
    if (kind == "Case" || kind == "Default") allowedIn({"Switch"});
    if (kind == "Command") allowedIn({"", "Option", "Case", "Default"});
    if (parent == "Command" && !Contains(kCommandAttributes, entry.keyword)) {
      Fault(entry.line, "*" + entry.keyword + " is no command attribute");
    }
    if (!parent.empty() && Contains(kRootOnly, entry.keyword)) {
      Fault(entry.line, "*" + entry.keyword + " belongs at the root, not inside " + where);
    }
    if (entry.block && kind.empty()) Fault(entry.line, "*" + entry.keyword + " takes no braces");
    const bool shortCommand = kind == "Command" && !entry.block && !entry.children.empty();
    if (!entry.block && !kind.empty() && !shortCommand) Fault(entry.line, "*" + entry.keyword + " needs braces");
    for (const Entry& child : entry.children) Nest(child, kind);
  }

  void RootEntries(const std::vector<Entry>& root) {
    // root-level-only-attributes: the required ones.
    for (std::string_view key : {"MasterUnits", "PrinterType"}) {
      if (Children(root, key).empty()) Fault(1, "no *" + std::string(key));
    }
    if (Children(root, "ModelName").empty() && Children(root, "rcModelNameID").empty()) Fault(1, "no *ModelName");
    // standard-features: the required features.
    for (std::string_view name : {"Resolution", "PaperSize", "InputBin"}) {
      if (FindFeature(root, name) == nullptr) Fault(1, "no *Feature: " + std::string(name));
    }
    // cursor-commands: CmdCR, CmdLF and CmdFF are required.
    for (std::string_view name : kCursorCommands) {
      const bool found = std::any_of(root.begin(), root.end(), [name](const Entry& entry) {
        return SameText(entry.keyword, "Command") && entry.value == name;
      });
      if (!found) Fault(1, "no *Command: " + std::string(name));
    }
    // raster-data-emission-commands: CmdSendBlockData is required, at the root or with
    // every resolution.
    const bool atRoot = std::any_of(root.begin(), root.end(), [](const Entry& entry) {
      return SameText(entry.keyword, "Command") && entry.value == "CmdSendBlockData";
    });
    if (const Entry* resolution = FindFeature(root, "Resolution"); resolution != nullptr && !atRoot) {
      for (const Entry* option : resolution->All("Option")) {
        const auto commands = option->All("Command");
        if (std::none_of(commands.begin(), commands.end(),
                         [](const Entry* command) { return command->value == "CmdSendBlockData"; })) {
          Fault(option->line, "Resolution " + option->value + " has no *Command: CmdSendBlockData");
        }
      }
    }
    std::set<std::string> displayNames;
    for (const Entry* feature : Children(root, "Feature")) {
      const std::string name = DisplayName(*feature, {});
      if (!name.empty() && !displayNames.insert(Lower(name)).second) {
        Fault(feature->line, "the feature name \"" + name + "\" is given twice");
      }
    }
  }

  static std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }

  void Feature(const Entry& feature) {
    const std::string& name = feature.value;
    const std::string what = "*Feature: " + name;
    // feature-attributes.
    if (!feature.Find("Name") && !feature.Find("rcNameID")) Fault(feature.line, what + " has no *Name or *rcNameID");
    if (!Contains(kStandardFeatures, name) && !feature.Find("FeatureType")) {
      Fault(feature.line, what + " is a customized feature without *FeatureType");
    }
    const auto options = feature.All("Option");
    if (options.empty()) Fault(feature.line, what + " has no *Option");
    if (const Entry* defaultOption = feature.Find("DefaultOption")) {
      if (std::none_of(options.begin(), options.end(),
                       [&](const Entry* option) { return option->value == defaultOption->value; })) {
        Fault(defaultOption->line, what + ": *DefaultOption " + defaultOption->value + " is no option of it");
      }
    }
    std::set<std::string> keywords, displayNames;
    std::set<int> ids;
    for (const Entry* option : options) {
      const std::string where = name + "/" + option->value;
      if (!keywords.insert(option->value).second) Fault(option->line, "a second *Option: " + where);
      for (const ClosedFeature& closed : kClosedFeatures) {
        if (closed.feature == name && !IsWordOf(closed.options, option->value)) {
          Fault(option->line, where + ": " + name + " takes only its standard options");
        }
      }
      // option-attributes-for-all-features.
      const std::string display = DisplayName(*option, name);
      if (display.empty()) Fault(option->line, where + " has no *Name or *rcNameID");
      if (!display.empty() && !displayNames.insert(Lower(display)).second) {
        Fault(option->line, where + ": the name \"" + display + "\" is given twice in " + name);
      }
      // option-selection-command: required for each option.
      const auto commands = option->All("Command");
      if (std::none_of(commands.begin(), commands.end(),
                       [](const Entry* command) { return command->value == "CmdSelect"; })) {
        Fault(option->line, where + " has no *Command: CmdSelect");
      }
      if (const Entry* id = option->Find("OptionID")) OptionId(*id, where, name, ids);
      if (name == "PaperSize") Paper(*option, display);
      // standard-features: customized bin names are at most 24 characters; the number
      // of a bin of the printer's own is the device mode's, so it must not be Unidrv's choice.
      if (name == "InputBin") {
        if (display.size() > 24) Fault(option->line, where + ": a bin name longer than 24 characters");
        if (!StandardBinNumber(option->value) && !option->Find("OptionID")) {
          Fault(option->line, where + ": a bin of the printer's own without *OptionID");
        }
      }
    }
  }

  void OptionId(const Entry& id, const std::string& where, const std::string& feature, std::set<int>& ids) {
    // option-attributes-for-all-features: for PaperSize, InputBin, MediaType and
    // Halftoning only; above 512, clear of the identifiers Unidrv assigns itself.
    if (feature != "PaperSize" && feature != "InputBin" && feature != "MediaType" && feature != "Halftone") {
      Fault(id.line, where + ": *OptionID in " + feature);
    }
    const long long value = Number(id.value).value_or(0);
    if (value <= 512) Fault(id.line, where + ": *OptionID " + id.value + " is not above 512");
    if (value > 512 && !ids.insert(value).second) Fault(id.line, where + ": *OptionID " + id.value + " is given twice");
  }

  // option-attributes-for-the-papersize-feature, adding-forms-to-the-forms-database.
  void Paper(const Entry& option, const std::string& display) {
    const std::string where = "PaperSize/" + option.value;
    const bool own = option.Find("PageDimensions") != nullptr;
    const Entry* id = option.Find("rcNameID");
    const bool systemName = id != nullptr && id->value == "=RCID_DMPAPER_SYSTEM_NAME";
    if (option.value != "CUSTOMSIZE") {
      for (std::string_view key : {"PrintableArea", "PrintableOrigin"}) {
        if (!option.Find(key)) Fault(option.line, where + " has no *" + std::string(key));
      }
    }
    if (!own) {
      if (option.value != "CUSTOMSIZE" && !FindStandardPaper(option.value)) {
        Fault(option.line, where + " is no standard paper and has no *PageDimensions");
      }
      return;
    }
    // A paper of the printer's own becomes a form in the forms database under its name,
    // which must be unique there, and its number is the device mode's.
    if (systemName) Fault(option.line, where + ": RCID_DMPAPER_SYSTEM_NAME names only standard papers");
    if (display.size() > 31) Fault(option.line, where + ": a form name longer than 31 characters");
    for (const StandardPaper& paper : kStandardPapers) {
      if (SameText(display, paper.formName)) {
        Fault(option.line, where + ": \"" + display + "\" is Windows' own form of " + std::string(paper.option));
      }
    }
    if (!option.Find("OptionID")) Fault(option.line, where + ": a paper of the printer's own without *OptionID");
  }

  // Every command: what it sends, and where (command-attributes, command-execution-order).
  void Commands(const std::vector<Entry>& root) {
    std::map<std::string, std::string> owners;  // "PAGE_SETUP.30" -> the feature or command sending it
    auto visit = [&](auto& self, const Entry& entry, const std::string& feature) -> void {
      const std::string inFeature = SameText(entry.keyword, "Feature") ? entry.value : feature;
      if (SameText(entry.keyword, "Command")) Command(entry, inFeature, owners);
      for (const Entry& child : entry.children) self(self, child, inFeature);
    };
    for (const Entry& entry : root) visit(visit, entry, {});
  }

  void Command(const Entry& command, const std::string& feature, std::map<std::string, std::string>& owners) {
    const std::string& name = command.value;
    const std::string what = "*Command: " + name;
    const Entry* cmd = command.Find("Cmd");
    const Entry* callback = command.Find("CallbackID");
    if ((cmd == nullptr) == (callback == nullptr)) Fault(command.line, what + " needs *Cmd or *CallbackID, not both");
    if (command.Find("Params") && callback == nullptr) Fault(command.line, what + ": *Params without *CallbackID");
    const Entry* order = command.Find("Order");
    if (!Contains(kOrderedCommands, name)) {
      if (order != nullptr) Fault(order->line, what + " takes no *Order");
      return;
    }
    if (order == nullptr) {
      Fault(command.line, what + " has no *Order");
      return;
    }
    const std::size_t dot = order->value.find('.');
    const bool number = dot != std::string::npos && dot + 1 < order->value.size() &&
                        std::all_of(order->value.begin() + static_cast<std::ptrdiff_t>(dot) + 1, order->value.end(),
                                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    if (!number || !Contains(kSections, std::string_view(order->value).substr(0, dot))) {
      Fault(order->line, what + ": *Order " + order->value + " is not SECTION.number");
      return;
    }
    // Each sequence number of a section is one command's; the options of one feature
    // share their selection command's.
    const std::string owner = name == "CmdSelect" ? "*Feature: " + feature : what;
    const auto [it, inserted] = owners.emplace(order->value, owner);
    if (!inserted && it->second != owner) {
      Fault(order->line, "*Order " + order->value + " is both " + it->second + "'s and " + owner + "'s");
    }
  }

  // conditional-statements: *Switch names a feature, each *Case one of its options.
  void Switches(const std::vector<Entry>& list, const std::vector<Entry>& root) {
    for (const Entry& entry : list) {
      if (SameText(entry.keyword, "Switch")) {
        const Entry* feature = FindFeature(root, entry.value);
        if (feature == nullptr) Fault(entry.line, "*Switch: " + entry.value + " names no feature");
        for (const Entry* branch : entry.All("Case")) {
          const auto options = feature != nullptr ? feature->All("Option") : std::vector<const Entry*>{};
          if (std::none_of(options.begin(), options.end(),
                           [&](const Entry* option) { return option->value == branch->value; })) {
            Fault(branch->line, "*Case: " + branch->value + " is no option of " + entry.value);
          }
        }
      }
      Switches(entry.children, root);
    }
  }

  // What this printer declares: PCL XL, copies up to the plug-in's limit of 999, and
  // collation, so that Windows leaves copies and collation to the printer.
  void ThisPrinter(const std::vector<Entry>& root) {
    const auto personality = Children(root, "Personality");
    if (personality.empty() || personality.front()->value != "=PERSONALITY_PCLXL") {
      Fault(1, "no *Personality: =PERSONALITY_PCLXL");
    }
    const auto copies = Children(root, "MaxCopies");
    if (copies.empty() || Number(copies.front()->value) != 999) Fault(1, "no *MaxCopies: 999");
    const Entry* collate = FindFeature(root, "Collate");
    for (std::string_view option : {"ON", "OFF"}) {
      const auto options = collate != nullptr ? collate->All("Option") : std::vector<const Entry*>{};
      if (std::none_of(options.begin(), options.end(),
                       [option](const Entry* entry) { return entry->value == option; })) {
        Fault(1, "no *Feature: Collate with *Option: " + std::string(option));
      }
    }
  }
};

// feature-entry-format: a feature given in several entries is one feature. What a later
// entry does not repeat is added; an option, command or attribute it repeats is replaced by
// its own.
std::vector<Entry> MergedFeatures(std::vector<Entry> root) {
  std::vector<Entry> merged;
  std::map<std::string, std::size_t> features;  // name -> place in `merged`
  for (Entry& entry : root) {
    if (!SameText(entry.keyword, "Feature")) {
      merged.push_back(std::move(entry));
      continue;
    }
    const auto [it, first] = features.emplace(entry.value, merged.size());
    if (first) {
      merged.push_back(std::move(entry));
      continue;
    }
    std::vector<Entry>& children = merged[it->second].children;
    for (Entry& child : entry.children) {
      const bool named = !Construct(child).empty();
      const auto same = std::find_if(children.begin(), children.end(), [&](const Entry& earlier) {
        return SameText(earlier.keyword, child.keyword) && (!named || earlier.value == child.value);
      });
      if (same != children.end()) {
        *same = std::move(child);
      } else {
        children.push_back(std::move(child));
      }
    }
  }
  return merged;
}

}  // namespace

const Entry* Entry::Find(std::string_view key) const {
  for (const Entry& child : children) {
    if (SameText(child.keyword, key)) return &child;
  }
  return nullptr;
}

std::vector<const Entry*> Entry::All(std::string_view key) const {
  std::vector<const Entry*> found;
  for (const Entry& child : children) {
    if (SameText(child.keyword, key)) found.push_back(&child);
  }
  return found;
}

std::vector<Entry> Parse(std::string_view text) { return Parser(text).Run(); }

std::vector<std::string> Check(std::string_view text) {
  std::vector<Entry> root;
  try {
    root = Parse(text);
  } catch (const std::runtime_error& error) {
    return {error.what()};
  }
  Checker checker;
  checker.Run(text, MergedFeatures(std::move(root)));
  return checker.faults;
}

std::optional<StandardPaper> FindStandardPaper(std::string_view option) {
  for (const StandardPaper& paper : kStandardPapers) {
    if (paper.option == option) return paper;
  }
  return std::nullopt;
}

std::optional<int> StandardBinNumber(std::string_view option) {
  for (const StandardBin& bin : kStandardBins) {
    if (bin.option == option) return bin.number;
  }
  return std::nullopt;
}

std::string Unquoted(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    return std::string(value.substr(1, value.size() - 2));
  return std::string(value);
}

}  // namespace velmora::gpd
