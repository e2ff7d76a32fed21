// Private-profile structures on POSIX: our own reader and writer of the INI format.
//
// The file is read whole and edited as a list of lines, each kept with its own line end,
// so that every line we do not change is written back byte for byte (comments, blank
// lines, other sections, a UTF-8 byte-order mark). Section lines are "[name]", key lines
// "name=value"; leading and trailing blanks around names and values are ignored, and
// lines before the first section belong to no section. When a name occurs twice, the
// first occurrence is the one read and written, as the Windows functions do. A changed
// file is written under a temporary name in the same folder and renamed over the old
// one, so that a reader never sees half a file and a failure leaves it unchanged.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/private_profile.h"
#include "platform/text_encoding.h"

namespace velmora::platform {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One line of the file, with its line end (none on a last line without one).
struct Line {
  std::string raw;

  // The line without its line end and without a leading byte-order mark.
  std::string_view Content() const {
    std::string_view content = raw;
    if (content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) content.remove_suffix(1);
    return content;
  }

  // The section name of a "[name]" line.
  std::optional<std::string_view> SectionName() const {
    std::string_view content = Trim(Content());
    if (!content.starts_with('[')) return std::nullopt;
    content.remove_prefix(1);
    const std::size_t close = content.find(']');
    return Trim(content.substr(0, close));
  }

  // The key name of a "name=value" line that is not a comment or section line.
  std::optional<std::string_view> KeyName() const {
    const std::string_view content = Trim(Content());
    if (content.empty() || content.front() == ';' || content.front() == '[') return std::nullopt;
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return Trim(content.substr(0, equals));
  }

  std::string_view Value() const {
    const std::string_view content = Content();
    return Trim(content.substr(content.find('=') + 1));
  }

  bool HasLineEnd() const { return !raw.empty() && raw.back() == '\n'; }
};

// The file's lines, or nothing when it cannot be read. A missing file is read as empty
// when `missingIsEmpty` is set.
std::optional<std::vector<Line>> ReadLines(const std::string& path, bool missingIsEmpty) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT && missingIsEmpty) return std::vector<Line>{};
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string text;
  char buffer[16384];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);

  std::vector<Line> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    const std::size_t next = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(Line{text.substr(start, next - start)});
    start = next;
  }
  return lines;
}

// The line end that new lines get: the one of the file's first line, else "\n".
std::string LineEndOf(const std::vector<Line>& lines) {
  if (!lines.empty() && lines.front().raw.ends_with("\r\n")) return "\r\n";
  return "\n";
}

// Writes all bytes, retrying interrupted and short writes.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Replaces the file with the lines, through a temporary file renamed over it. The
// file keeps its permissions; a new file gets those of a plainly created one.
bool ReplaceFile(const std::string& path, const std::vector<Line>& lines) {
  std::string text;
  for (const Line& line : lines) text += line.raw;
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) {
    ::fchmod(fd, existing.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

// Index of the first line of the named section, or nothing.
std::optional<std::size_t> FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = lines[i].SectionName();
    if (name && EqualsNoCase(*name, section)) return i;
  }
  return std::nullopt;
}

// Index one past the last line of the section whose header is at `header`.
std::size_t SectionEnd(const std::vector<Line>& lines, std::size_t header) {
  std::size_t end = header + 1;
  while (end < lines.size() && !lines[end].SectionName()) ++end;
  return end;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadProfileStruct(const WString& path, const WString& section,
                                                           const WString& key, std::size_t byteCount) {
  const auto lines = ReadLines(Utf16ToUtf8(path), false);
  if (!lines) return std::nullopt;
  const auto header = FindSection(*lines, Trim(Utf16ToUtf8(section)));
  if (!header) return std::nullopt;
  const std::string keyName(Trim(Utf16ToUtf8(key)));
  const std::size_t end = SectionEnd(*lines, *header);
  for (std::size_t i = *header + 1; i < end; ++i) {
    const auto name = (*lines)[i].KeyName();
    if (name && EqualsNoCase(*name, keyName)) return DecodeProfileStruct((*lines)[i].Value(), byteCount);
  }
  return std::nullopt;
}

bool WriteProfileStruct(const WString& path, const WString& section, const WString& key,
                        std::span<const std::uint8_t> bytes) {
  if (!WritableProfileSectionName(section) || !WritableProfileKeyName(key)) return false;
  const std::string sectionName = Utf16ToUtf8(section);
  const std::string keyName = Utf16ToUtf8(key);
  const std::string narrowPath = Utf16ToUtf8(path);
  auto lines = ReadLines(narrowPath, true);
  if (!lines) return false;
  const std::string lineEnd = LineEndOf(*lines);
  const std::string value = EncodeProfileStruct(bytes);

  const auto header = FindSection(*lines, Trim(sectionName));
  if (!header) {
    if (!lines->empty() && !lines->back().HasLineEnd()) lines->back().raw += lineEnd;
    lines->push_back(Line{"[" + std::string(Trim(sectionName)) + "]" + lineEnd});
    lines->push_back(Line{std::string(Trim(keyName)) + "=" + value + lineEnd});
    return ReplaceFile(narrowPath, *lines);
  }

  // The key is replaced where it stands, or added after the section's last key line.
  const std::size_t end = SectionEnd(*lines, *header);
  std::size_t insertAt = *header + 1;
  for (std::size_t i = *header + 1; i < end; ++i) {
    Line& line = (*lines)[i];
    const auto name = line.KeyName();
    if (!name) continue;
    if (EqualsNoCase(*name, Trim(keyName))) {
      line.raw = std::string(*name) + "=" + value + (line.HasLineEnd() ? lineEnd : "");
      return ReplaceFile(narrowPath, *lines);
    }
    insertAt = i + 1;
  }
  Line& before = (*lines)[insertAt - 1];
  if (!before.HasLineEnd()) before.raw += lineEnd;
  lines->insert(lines->begin() + static_cast<std::ptrdiff_t>(insertAt),
                Line{std::string(Trim(keyName)) + "=" + value + lineEnd});
  return ReplaceFile(narrowPath, *lines);
}

std::vector<WString> ListProfileSections(const WString& path) {
  std::vector<WString> names;
  const auto lines = ReadLines(Utf16ToUtf8(path), false);
  if (!lines) return names;
  std::vector<std::string> seen;
  for (const Line& line : *lines) {
    const auto name = line.SectionName();
    if (!name) continue;
    bool known = false;
    for (const std::string& earlier : seen) known = known || EqualsNoCase(earlier, *name);
    if (known) continue;
    seen.emplace_back(*name);
    names.push_back(Utf8ToUtf16(*name));
  }
  return names;
}

bool RemoveProfileSection(const WString& path, const WString& section) {
  const std::string narrowPath = Utf16ToUtf8(path);
  auto lines = ReadLines(narrowPath, true);
  if (!lines) return false;
  const std::string sectionName(Trim(Utf16ToUtf8(section)));
  if (!FindSection(*lines, sectionName)) return true;
  std::vector<Line> kept;
  for (std::size_t i = 0; i < lines->size();) {
    const auto name = (*lines)[i].SectionName();
    if (name && EqualsNoCase(*name, sectionName)) {
      i = SectionEnd(*lines, i);
      continue;
    }
    kept.push_back(std::move((*lines)[i]));
    ++i;
  }
  return ReplaceFile(narrowPath, kept);
}

}  // namespace velmora::platform
