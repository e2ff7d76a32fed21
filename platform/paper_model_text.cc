// A printer's own paper model read from and written to text.
#include "platform/paper_model_text.h"

#include <charconv>
#include <cstdint>
#include <vector>

#include "platform/text_encoding.h"

namespace velmora::platform {
namespace {

// dmFormName holds 32 UTF-16 units with its NUL: a longer name could never match.
constexpr std::size_t kMaxFormNameUnits = 31;
constexpr double kMaxMillimetres = 10000;
constexpr long kMaxPaperCode = 32767;
constexpr long kMaxResolution = 32767;

struct Token {
  std::string text;
  bool quoted = false;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits one line into tokens. A token in double quotes may hold blanks; \" and \\ stand
// for a quote and a backslash inside it. Returns false with *error set on a malformed
// quote.
bool Tokenize(std::string_view line, std::vector<Token>* tokens, std::string* error) {
  std::size_t at = 0;
  while (true) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size()) return true;
    Token token;
    if (line[at] != '"') {
      const std::size_t start = at;
      while (at < line.size() && !IsBlank(line[at])) ++at;
      token.text = std::string(line.substr(start, at - start));
      tokens->push_back(std::move(token));
      continue;
    }
    token.quoted = true;
    ++at;
    bool closed = false;
    while (at < line.size()) {
      const char c = line[at++];
      if (c == '"') {
        closed = true;
        break;
      }
      if (c == '\\') {
        if (at == line.size() || (line[at] != '"' && line[at] != '\\')) {
          *error = "a backslash in quotes must be followed by a quote or a backslash";
          return false;
        }
        token.text.push_back(line[at++]);
        continue;
      }
      token.text.push_back(c);
    }
    if (!closed) {
      *error = "a quote is not closed";
      return false;
    }
    if (at < line.size() && !IsBlank(line[at])) {
      *error = "a closing quote must be followed by a blank";
      return false;
    }
    tokens->push_back(std::move(token));
  }
}

// A whole number 0..max written as plain digits.
std::optional<long> ReadWhole(const Token& token, long max) {
  if (token.quoted || token.text.empty() || token.text.size() > 10) return std::nullopt;
  long value = 0;
  const char* end = token.text.data() + token.text.size();
  const auto [stop, status] = std::from_chars(token.text.data(), end, value);
  if (status != std::errc() || stop != end || value < 0 || value > max) return std::nullopt;
  return value;
}

// Millimetres 0..kMaxMillimetres written as digits with an optional decimal fraction:
// no sign, exponent or other spelling, so that a model reads the same everywhere.
std::optional<double> ReadMillimetres(const Token& token) {
  const std::string& text = token.text;
  if (token.quoted || text.empty() || text.size() > 24) return std::nullopt;
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0) return std::nullopt;
  if (digits < text.size()) {
    if (text[digits] != '.' || digits + 1 == text.size()) return std::nullopt;
    for (std::size_t i = digits + 1; i < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
    }
  }
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  if (status != std::errc() || stop != end || value > kMaxMillimetres) return std::nullopt;
  return value;
}

// Why a form name cannot be used, or empty when it can.
std::string InvalidFormName(const std::string& name) {
  if (name.empty()) return "the form name is empty";
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "the form name holds a control character";
  }
  const WString wide = Utf8ToUtf16(name);
  if (Utf16ToUtf8(wide) != name) return "the form name is not valid UTF-8";
  if (wide.size() > kMaxFormNameUnits) return "the form name '" + name + "' is longer than 31 characters";
  return {};
}

// Reads one paper statement (after its keyword).
std::string ReadPaper(const std::vector<Token>& tokens, PaperModel* model) {
  if (tokens.size() != 5) return "a paper line takes a form name, a paper code, a width and a height";
  const std::string& name = tokens[1].text;
  if (std::string invalid = InvalidFormName(name); !invalid.empty()) return invalid;
  for (const auto& paper : model->papers) {
    if (SameFormName(paper.formName, name)) return "the form name '" + name + "' is already given";
  }
  const std::optional<long> code = ReadWhole(tokens[2], kMaxPaperCode);
  if (!code) return "paper code '" + tokens[2].text + "' is not a whole number from 0 to 32767";
  const std::optional<double> width = ReadMillimetres(tokens[3]);
  if (!width || *width <= 0)
    return "width '" + tokens[3].text + "' is not a length in millimetres above 0 and up to 10000";
  const std::optional<double> height = ReadMillimetres(tokens[4]);
  if (!height || *height <= 0)
    return "height '" + tokens[4].text + "' is not a length in millimetres above 0 and up to 10000";
  model->papers.push_back(PaperSize{name, static_cast<std::int16_t>(*code), *width, *height});
  return {};
}

std::string ReadResolutions(const std::vector<Token>& tokens, PaperModel* model) {
  if (tokens.size() < 2) return "a resolutions line takes at least one resolution";
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    const std::optional<long> dpi = ReadWhole(tokens[i], kMaxResolution);
    if (!dpi || *dpi == 0) return "resolution '" + tokens[i].text + "' is not a whole number from 1 to 32767";
    model->resolutions.push_back(static_cast<int>(*dpi));
  }
  return {};
}

std::string ReadMargin(const std::vector<Token>& tokens, PaperModel* model) {
  if (tokens.size() != 2) return "a margin line takes one length";
  const std::optional<double> margin = ReadMillimetres(tokens[1]);
  if (!margin) return "margin '" + tokens[1].text + "' is not a length in millimetres from 0 to 10000";
  model->marginMm = *margin;
  return {};
}

void AppendNumber(std::string& out, double value) {
  char buffer[64];
  const auto [end, status] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (status != std::errc()) {
    out += "0";
    return;
  }
  out.append(buffer, end);
}

void AppendQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

}  // namespace

std::optional<PaperModel> ParsePaperModel(std::string_view text, std::string* error) {
  PaperModel model;
  model.papers.clear();
  model.resolutions.clear();
  bool sawResolutions = false;
  bool sawMargin = false;
  std::size_t lineNumber = 0;
  const auto fail = [&](const std::string& what) {
    *error = "line " + std::to_string(lineNumber) + ": " + what;
    return std::nullopt;
  };
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    std::vector<Token> tokens;
    std::string tokenError;
    if (!Tokenize(line, &tokens, &tokenError)) return fail(tokenError);
    if (tokens.empty() || (!tokens[0].quoted && tokens[0].text.starts_with('#'))) continue;
    const Token& keyword = tokens[0];
    std::string problem;
    if (keyword.quoted) {
      problem = "a line starts with paper, resolutions or margin, not a quoted text";
    } else if (keyword.text == "paper") {
      problem = ReadPaper(tokens, &model);
    } else if (keyword.text == "resolutions") {
      problem = sawResolutions ? "resolutions are already given" : ReadResolutions(tokens, &model);
      sawResolutions = true;
    } else if (keyword.text == "margin") {
      problem = sawMargin ? "the margin is already given" : ReadMargin(tokens, &model);
      sawMargin = true;
    } else {
      problem = "unknown keyword '" + keyword.text + "' (paper, resolutions or margin)";
    }
    if (!problem.empty()) return fail(problem);
  }
  if (model.papers.empty()) {
    *error = "the model has no paper line";
    return std::nullopt;
  }
  if (!sawResolutions) {
    *error = "the model has no resolutions line";
    return std::nullopt;
  }
  for (const auto& paper : model.papers) {
    if (2 * model.marginMm >= paper.widthMm || 2 * model.marginMm >= paper.heightMm) {
      *error = "the margin leaves no printable area on paper '" + paper.formName + "'";
      return std::nullopt;
    }
  }
  return model;
}

std::string FormatPaperModel(const PaperModel& model) {
  std::string out;
  for (const auto& paper : model.papers) {
    out += "paper ";
    AppendQuoted(out, paper.formName);
    // Appended piece by piece: GCC 12 reports a false -Wrestrict on `" " + text`.
    out += ' ';
    out += std::to_string(paper.paperCode);
    out += ' ';
    AppendNumber(out, paper.widthMm);
    out += " ";
    AppendNumber(out, paper.heightMm);
    out += "\n";
  }
  out += "resolutions";
  for (int dpi : model.resolutions) {
    out += ' ';
    out += std::to_string(dpi);
  }
  out += "\nmargin ";
  AppendNumber(out, model.marginMm);
  out += "\n";
  return out;
}

PrinterValue PaperModelValue(const PaperModel& model) {
  const WString text = Utf8ToUtf16(FormatPaperModel(model));
  PrinterValue value{ValueType::kString, {}};
  value.bytes.reserve(2 * text.size() + 2);
  for (WCHAR unit : text) {
    value.bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    value.bytes.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
  }
  value.bytes.push_back(0);
  value.bytes.push_back(0);
  return value;
}

std::optional<PaperModel> PaperModelFromValue(const PrinterValue& value, std::string* error) {
  if (value.type != ValueType::kString) {
    *error = "the value is not text (REG_SZ)";
    return std::nullopt;
  }
  if (value.bytes.size() % 2 != 0) {
    *error = "the value's text has an odd number of bytes";
    return std::nullopt;
  }
  // The text ends at its first NUL; a value stored without one ends with its bytes.
  WString text;
  for (std::size_t i = 0; i + 1 < value.bytes.size(); i += 2) {
    const WCHAR unit = static_cast<WCHAR>(value.bytes[i] | (value.bytes[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return ParsePaperModel(Utf16ToUtf8(text), error);
}

}  // namespace velmora::platform
