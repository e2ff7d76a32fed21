// The PJL + PCL XL tokenizer: a job read back as events, stopping at the first bad token.
#include "pxl/reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "pxl/scan.h"

namespace velmora::pxl {
namespace {

constexpr std::string_view kUel = "\x1b%-12345X";
constexpr std::string_view kHeaderName = " HP-PCL XL;";

std::string Hex(std::uint32_t value, int digits = 2) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

bool IsBinaryWhiteSpace(std::uint8_t byte) { return byte == 0x00 || (byte >= 0x09 && byte <= 0x0D) || byte == 0x20; }

// The language a PJL line switches to, upper-cased, or empty when the line is not an
// ENTER LANGUAGE command. PJL allows spaces around '=' and any letter case.
std::string EnteredLanguage(std::string_view line) {
  std::string squeezed;
  for (char c : line) {
    if (c == ' ' || c == '\t') continue;
    squeezed.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  constexpr std::string_view kEnter = "@PJLENTERLANGUAGE=";
  if (squeezed.compare(0, kEnter.size(), kEnter) != 0) return {};
  return squeezed.substr(kEnter.size());
}

}  // namespace

ElementType Value::element() const {
  ElementType element = ElementType::kUByte;
  Shape shape = Shape::kScalar;
  DecodeDataType(tag, element, shape);
  return element;
}

Shape Value::shape() const {
  ElementType element = ElementType::kUByte;
  Shape shape = Shape::kScalar;
  DecodeDataType(tag, element, shape);
  return shape;
}

std::int64_t Value::Int(std::size_t index) const {
  if (index >= elements.size()) return 0;
  const double element = elements[index];
  // Real32 elements may be anything a float holds; keep the conversion defined.
  if (!std::isfinite(element) || std::fabs(element) > 9.0e18) return 0;
  return static_cast<std::int64_t>(element);
}

std::string Value::Bytes() const {
  std::string bytes;
  bytes.reserve(elements.size());
  for (std::size_t i = 0; i < elements.size(); ++i) {
    bytes.push_back(static_cast<char>(static_cast<std::uint8_t>(Int(i) & 0xFF)));
  }
  return bytes;
}

const Attribute* Event::Find(Attr id) const {
  for (const Attribute& attribute : attributes) {
    if (attribute.id == static_cast<std::uint16_t>(id)) return &attribute;
  }
  return nullptr;
}

std::string Error::ToString() const { return "offset " + std::to_string(offset) + ": " + cause; }

Reader::Reader(std::span<const std::uint8_t> job) : data_(job) {}

Reader Reader::Binary(std::span<const std::uint8_t> part, ByteOrder order) {
  Reader reader(part);
  reader.mode_ = Mode::kBinary;
  reader.order_ = order;
  return reader;
}

std::optional<Event> Reader::Next() {
  switch (mode_) {
    case Mode::kPjl:
    case Mode::kHeaderExpected:
    case Mode::kOtherLanguage: return NextPjl();
    case Mode::kBinary: return NextBinary();
    case Mode::kDone: return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Event> Reader::NextPjl() {
  while (pos_ < data_.size()) {
    const std::uint8_t byte = data_[pos_];
    if (mode_ == Mode::kOtherLanguage && !StartsWith(kUel)) {
      // Skipping the other language's data silently would hide part of the job.
      return Fail(pos_, "data in language " + other_language_ + " cannot be read (only PCLXL is)");
    }
    if (byte == tag::kEsc) return ReadUel();
    if (mode_ == Mode::kHeaderExpected) {
      if (byte == '(' || byte == ')' || byte == '\'') return ReadStreamHeader();
      return Fail(pos_, "expected the PCL XL stream header after ENTER LANGUAGE=PCLXL, found byte " + Hex(byte));
    }
    // Blank lines and stray line ends between PJL commands carry nothing.
    if (byte == '\r' || byte == '\n' || byte == ' ' || byte == '\t') {
      ++pos_;
      continue;
    }
    if (StartsWith("@PJL")) return ReadPjlLine();
    // A bare PCL XL stream may start without any PJL around it.
    if ((byte == '(' || byte == ')') && data_.size() - pos_ > kHeaderName.size() &&
        std::memcmp(&data_[pos_ + 1], kHeaderName.data(), kHeaderName.size()) == 0) {
      return ReadStreamHeader();
    }
    return Fail(pos_, "unexpected byte " + Hex(byte) + " in PJL (expected @PJL, a UEL or a stream header)");
  }
  if (mode_ == Mode::kHeaderExpected) {
    return Fail(pos_, "the data ends after ENTER LANGUAGE=PCLXL without a stream header");
  }
  mode_ = Mode::kDone;
  return std::nullopt;
}

std::optional<Event> Reader::ReadUel() {
  const std::size_t at = pos_;
  const std::size_t available = std::min(Left(), kUel.size());
  if (std::memcmp(&data_[at], kUel.data(), available) != 0) {
    return Fail(at, "byte 0x1B that does not start a UEL");
  }
  if (available < kUel.size()) return Fail(at, "truncated UEL");
  pos_ += kUel.size();
  mode_ = Mode::kPjl;
  Event event;
  event.kind = EventKind::kUel;
  event.offset = at;
  return event;
}

std::optional<Event> Reader::ReadPjlLine() {
  const std::size_t at = pos_;
  const auto begin = data_.begin() + static_cast<std::ptrdiff_t>(at);
  const auto lineFeed = std::find(begin, data_.end(), std::uint8_t{'\n'});
  if (lineFeed == data_.end()) return Fail(at, "PJL line without a line feed before the end of the data");
  auto end = lineFeed;
  if (end != begin && *(end - 1) == '\r') --end;

  Event event;
  event.kind = EventKind::kPjlLine;
  event.offset = at;
  event.text.assign(begin, end);
  pos_ = static_cast<std::size_t>(lineFeed - data_.begin()) + 1;

  const std::string language = EnteredLanguage(event.text);
  if (language == "PCLXL") {
    mode_ = Mode::kHeaderExpected;
  } else if (!language.empty()) {
    mode_ = Mode::kOtherLanguage;
    other_language_ = language;
  }
  return event;
}

std::optional<Event> Reader::ReadStreamHeader() {
  const std::size_t at = pos_;
  const auto begin = data_.begin() + static_cast<std::ptrdiff_t>(at);
  const auto lineFeed = std::find(begin, data_.end(), std::uint8_t{'\n'});
  if (lineFeed == data_.end()) return Fail(at, "stream header without a line feed before the end of the data");
  auto end = lineFeed;
  if (*(end - 1) == '\r') --end;
  const std::string line(begin, end);

  if (line.compare(1, kHeaderName.size(), kHeaderName) != 0) {
    return Fail(at, "malformed stream header (expected \"" + line.substr(0, 1) + std::string(kHeaderName) + "\")");
  }
  if (line[0] == '\'') return Fail(at, "stream header selects the ASCII binding, which is not supported");

  // The protocol class follows as "major;minor", then an optional ";comment".
  std::size_t cursor = 1 + kHeaderName.size();
  auto digits = [&line, &cursor] {
    const std::size_t start = cursor;
    while (cursor < line.size() && std::isdigit(static_cast<unsigned char>(line[cursor]))) ++cursor;
    return line.substr(start, cursor - start);
  };
  const std::string major = digits();
  const bool separated = cursor < line.size() && line[cursor] == ';';
  if (separated) ++cursor;
  const std::string minor = digits();
  if (major.empty() || !separated || minor.empty() || (cursor < line.size() && line[cursor] != ';')) {
    return Fail(at, "stream header without a protocol class (expected \"major;minor\")");
  }

  Event event;
  event.kind = EventKind::kStreamHeader;
  event.offset = at;
  event.text = line;
  event.byte_order = line[0] == '(' ? ByteOrder::kBigEndian : ByteOrder::kLittleEndian;
  event.protocol_class = major + "." + minor;

  order_ = event.byte_order;
  mode_ = Mode::kBinary;
  pending_value_.reset();
  attributes_.clear();
  pos_ = static_cast<std::size_t>(lineFeed - data_.begin()) + 1;
  return event;
}

std::optional<Event> Reader::NextBinary() {
  while (pos_ < data_.size()) {
    const std::size_t at = pos_;
    const std::uint8_t code = data_[at];
    if (IsBinaryWhiteSpace(code)) {
      ++pos_;
      continue;
    }
    if (code == tag::kEsc) {
      if (!CheckNothingPending("before the UEL")) return std::nullopt;
      return ReadUel();
    }
    if (code >= tag::kFirstOperator && code <= tag::kLastOperator) {
      if (!CheckNothingPending(nullptr)) return std::nullopt;
      Event event;
      event.kind = EventKind::kOperator;
      event.offset = at;
      event.op = code;
      event.attributes = std::move(attributes_);
      attributes_.clear();
      ++pos_;
      return event;
    }
    if (code == tag::kAttrUByte || code == tag::kAttrUInt16) {
      if (!ReadAttributeId(code)) return std::nullopt;
      continue;
    }
    if (code == tag::kDataLength || code == tag::kDataLengthByte) return ReadEmbeddedData(code);
    ElementType element;
    Shape shape;
    if (DecodeDataType(code, element, shape)) {
      if (!ReadValue(code)) return std::nullopt;
      continue;
    }
    if (code >= 0xC0 && code <= 0xEF) return Fail(at, "unknown data type " + Hex(code));
    return Fail(at, "byte " + Hex(code) + " is not a PCL XL tag");
  }
  if (!CheckNothingPending("at the end of the data")) return std::nullopt;
  mode_ = Mode::kDone;
  return std::nullopt;
}

bool Reader::CheckNothingPending(const char* where) {
  // An operator may follow an attribute list, so only a value without its id is wrong
  // there; at a UEL or the end of the data an unfinished attribute list is wrong too.
  if (pending_value_) {
    Fail(pending_value_->offset, DataTypeName(pending_value_->value.element(), pending_value_->value.shape()) +
                                     " value not followed by an attribute id");
    return false;
  }
  if (where != nullptr && !attributes_.empty()) {
    Fail(attributes_offset_, std::string("attribute list not followed by an operator ") + where);
    return false;
  }
  return true;
}

bool Reader::ReadValue(std::uint8_t code) {
  // The earlier value that never got its attribute id is the first malformed token.
  if (!CheckNothingPending(nullptr)) return false;

  const std::size_t at = pos_;
  std::string cause;
  const std::optional<ValueExtent> extent = MeasureValue(data_, at, order_, cause);
  if (!extent) {
    Fail(at, std::move(cause));
    return false;
  }
  const ElementType element = extent->element;
  const std::size_t size = ElementSize(element);
  const std::size_t count = extent->count;
  const std::size_t cursor = extent->elements;

  Attribute pending;
  pending.offset = at;
  pending.value.tag = code;
  pending.value.elements.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t p = cursor + i * size;
    switch (element) {
      case ElementType::kUByte: pending.value.elements.push_back(data_[p]); break;
      case ElementType::kUInt16: pending.value.elements.push_back(U16(p)); break;
      case ElementType::kUInt32: pending.value.elements.push_back(U32(p)); break;
      case ElementType::kSInt16: pending.value.elements.push_back(static_cast<std::int16_t>(U16(p))); break;
      case ElementType::kSInt32: pending.value.elements.push_back(static_cast<std::int32_t>(U32(p))); break;
      case ElementType::kReal32: {
        const std::uint32_t bits = U32(p);
        float real;
        std::memcpy(&real, &bits, sizeof real);
        pending.value.elements.push_back(real);
        break;
      }
    }
  }
  pending_value_ = std::move(pending);
  pos_ = extent->end;
  return true;
}

bool Reader::ReadAttributeId(std::uint8_t code) {
  const std::size_t at = pos_;
  if (!pending_value_) {
    Fail(at, "attribute id " + Hex(code) + " without a value before it");
    return false;
  }
  const std::size_t idSize = code == tag::kAttrUByte ? 1 : 2;
  if (Left() - 1 < idSize) {
    Fail(at, "truncated attribute id");
    return false;
  }
  pending_value_->id = idSize == 1 ? data_[at + 1] : U16(at + 1);
  if (attributes_.empty()) {
    attributes_offset_ = pending_value_->offset;
    // An operator takes few attributes: one allocation holds the list of nearly all.
    constexpr std::size_t kUsualAttributes = 4;
    attributes_.reserve(kUsualAttributes);
  }
  attributes_.push_back(std::move(*pending_value_));
  pending_value_.reset();
  pos_ = at + 1 + idSize;
  return true;
}

std::optional<Event> Reader::ReadEmbeddedData(std::uint8_t code) {
  if (!CheckNothingPending(nullptr)) return std::nullopt;
  const std::size_t at = pos_;
  const std::size_t lengthSize = code == tag::kDataLengthByte ? 1 : 4;
  if (Left() - 1 < lengthSize) return Fail(at, "truncated embedded data length");
  const std::size_t length = lengthSize == 1 ? data_[at + 1] : U32(at + 1);
  const std::size_t start = at + 1 + lengthSize;
  const std::size_t left = data_.size() - start;
  if (length > left) {
    return Fail(at, "embedded data runs past the end of the data (needs " + std::to_string(length) + " bytes, " +
                        std::to_string(left) + " left)");
  }
  Event event;
  event.kind = EventKind::kEmbeddedData;
  event.offset = at;
  event.data_offset = start;
  event.data_length = length;
  pos_ = start + length;
  return event;
}

bool Reader::StartsWith(std::string_view text) const {
  return Left() >= text.size() && std::memcmp(&data_[pos_], text.data(), text.size()) == 0;
}

std::uint16_t Reader::U16(std::size_t at) const {
  const std::uint16_t first = data_[at];
  const std::uint16_t second = data_[at + 1];
  return static_cast<std::uint16_t>(order_ == ByteOrder::kLittleEndian ? first | (second << 8) : (first << 8) | second);
}

std::uint32_t Reader::U32(std::size_t at) const {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t index = order_ == ByteOrder::kLittleEndian ? at + 3 - i : at + i;
    value = (value << 8) | data_[index];
  }
  return value;
}

std::nullopt_t Reader::Fail(std::size_t offset, std::string cause) {
  error_ = Error{offset, std::move(cause)};
  mode_ = Mode::kDone;
  return std::nullopt;
}

ParseResult Parse(std::span<const std::uint8_t> job) {
  ParseResult result;
  Reader reader(job);
  while (auto event = reader.Next()) result.events.push_back(std::move(*event));
  result.error = reader.error();
  return result;
}

}  // namespace velmora::pxl
