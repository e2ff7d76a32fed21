// The in-place operator scanner: operators found with their attribute lists and data,
// attributes decoded from the bytes on demand.
#include "pxl/scan.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace velmora::pxl {
namespace {

using detail::kTags;
using detail::Measure;
using detail::TagInfo;
using detail::Token;
using detail::U16;
using detail::U32;

constexpr std::string_view kUel = "\x1b%-12345X";

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
  return text;
}

// Why the value at `at` cannot be measured, in the reader's words, so that both name a
// fault alike; `cutShort` when it runs past the end of `data`.
std::string WhyUnmeasurable(std::span<const std::uint8_t> data, std::size_t at, ByteOrder order, bool& cutShort) {
  cutShort = false;
  const TagInfo& info = kTags[data[at]];
  if (info.token != Token::kValue) return "unknown data type " + Hex(data[at]);
  const std::string name = DataTypeName(info.element, info.shape);
  std::size_t cursor = at + 1;
  std::size_t count = info.fixedCount;
  cutShort = true;
  if (info.shape == Shape::kArray) {
    if (cursor >= data.size()) return name + " without its length before the end of the data";
    const std::uint8_t lengthTag = data[cursor];
    const std::size_t lengthSize = lengthTag == tag::kUByte ? 1 : lengthTag == tag::kUByte + 1 ? 2 : 0;
    if (lengthSize == 0) {
      cutShort = false;
      return name + " length must be a ubyte or uint16 value, found tag " + Hex(lengthTag);
    }
    if (data.size() - cursor - 1 < lengthSize) return "truncated " + name + " length";
    count = lengthSize == 1 ? data[cursor + 1] : U16(&data[cursor + 1], order);
    cursor += 1 + lengthSize;
  }
  const std::size_t needed = count * info.elementSize;
  const std::size_t left = data.size() - cursor;
  if (info.shape != Shape::kArray) return "truncated " + name;
  return name + " length runs past the end of the data (needs " + std::to_string(needed) + " bytes, " +
         std::to_string(left) + " left)";
}

}  // namespace

std::optional<ValueExtent> MeasureValue(std::span<const std::uint8_t> data, std::size_t at, ByteOrder order,
                                        std::string& cause) {
  ValueExtent extent;
  if (Measure(data, at, order, kTags[data[at]], extent)) return extent;
  bool cutShort = false;
  cause = WhyUnmeasurable(data, at, order, cutShort);
  return std::nullopt;
}

double AttributeView::Element(std::size_t index) const {
  if (index >= count_) return 0;
  const std::uint8_t* at = elements_ + index * kTags[tag_].elementSize;
  switch (element_) {
    case ElementType::kUByte: return at[0];
    case ElementType::kUInt16: return U16(at, order_);
    case ElementType::kUInt32: return U32(at, order_);
    case ElementType::kSInt16: return static_cast<std::int16_t>(U16(at, order_));
    case ElementType::kSInt32: return static_cast<std::int32_t>(U32(at, order_));
    case ElementType::kReal32: {
      const std::uint32_t bits = U32(at, order_);
      float real;
      std::memcpy(&real, &bits, sizeof real);
      return real;
    }
  }
  return 0;
}

std::int64_t AttributeView::Int(std::size_t index) const {
  const double element = (*this)[index];
  // Real32 elements may be anything a float holds; keep the conversion defined.
  if (!std::isfinite(element) || std::fabs(element) > 9.0e18) return 0;
  return static_cast<std::int64_t>(element);
}

std::string AttributeView::Bytes() const {
  if (element_ == ElementType::kUByte) return std::string(reinterpret_cast<const char*>(elements_), count_);
  std::string bytes;
  bytes.reserve(count_);
  for (std::size_t i = 0; i < count_; ++i) bytes.push_back(static_cast<char>(static_cast<std::uint8_t>(Int(i) & 0xFF)));
  return bytes;
}

Value AttributeView::ToValue() const {
  Value value;
  value.tag = tag_;
  value.elements.reserve(count_);
  for (std::size_t i = 0; i < count_; ++i) value.elements.push_back((*this)[i]);
  return value;
}

std::size_t ScannedOperator::AttributeCount() const {
  std::size_t count = 0;
  ForEachAttribute([&count](const AttributeView&) { ++count; });
  return count;
}

void TagMarks::Grow(std::size_t word) { words_.resize(std::max(word + 1, 2 * words_.size()), 0); }

bool OperatorScanner::Fail(std::size_t offset, std::string cause, bool cutShort) {
  error_ = Error{offset, std::move(cause)};
  cutShort_ = cutShort;
  return false;
}

bool OperatorScanner::NextToken(ScannedOperator& op) {
  constexpr std::size_t kNone = SIZE_MAX;
  std::size_t listStart = kNone;     // the first attribute's value
  std::size_t pendingValue = kNone;  // a value still waiting for its attribute id
  ValueExtent pending;
  const auto valueWithoutId = [&](bool atEnd) {
    return Fail(pendingValue, DataTypeName(pending.element, pending.shape) + " value not followed by an attribute id",
                atEnd);
  };
  // The tokens by how often they come: values, attribute ids, operators.
  std::size_t at = pos_;
  while (at < data_.size()) {
    const std::uint8_t code = data_[at];
    const TagInfo& info = kTags[code];
    if (info.token == Token::kValue) {
      if (pendingValue != kNone) return valueWithoutId(false);
      if (!Measure(data_, at, order_, info, pending)) {
        bool cutShort = false;
        std::string cause = WhyUnmeasurable(data_, at, order_, cutShort);
        return Fail(at, std::move(cause), cutShort);
      }
      pendingValue = at;
      at = pending.end;
      // Its attribute id nearly always follows at once.
      if (data_.size() - at >= 2 && data_[at] == tag::kAttrUByte) {
        if (listStart == kNone) listStart = pendingValue;
        pendingValue = kNone;
        at += 2;
      }
      continue;
    }
    if (info.token == Token::kAttributeId) {
      if (pendingValue == kNone) return Fail(at, "attribute id " + Hex(code) + " without a value before it");
      const std::size_t idSize = code == tag::kAttrUByte ? 1 : 2;
      if (data_.size() - at - 1 < idSize) return Fail(at, "truncated attribute id", true);
      if (listStart == kNone) listStart = pendingValue;
      pendingValue = kNone;
      at += 1 + idSize;
      continue;
    }
    if (info.token == Token::kOperator) {
      if (pendingValue != kNone) return valueWithoutId(false);
      op.code = code;
      op.start = pos_;
      op.tag = at;
      op.attributes = listStart == kNone ? std::span<const std::uint8_t>() : data_.subspan(listStart, at - listStart);
      op.order = order_;
      std::size_t end = at + 1;
      // Only data right after the tag belongs to the operator.
      if (end < data_.size() && kTags[data_[end]].token == Token::kData) {
        const std::size_t lengthSize = data_[end] == tag::kDataLengthByte ? 1 : 4;
        if (data_.size() - end - 1 < lengthSize) return Fail(end, "truncated embedded data length", true);
        const std::size_t length = lengthSize == 1 ? data_[end + 1] : U32(&data_[end + 1], order_);
        const std::size_t start = end + 1 + lengthSize;
        const std::size_t left = data_.size() - start;
        if (length > left) {
          return Fail(end,
                      "embedded data runs past the end of the data (needs " + std::to_string(length) + " bytes, " +
                          std::to_string(left) + " left)",
                      true);
        }
        end = start + length;
      }
      op.end = end;
      pos_ = end;
      return true;
    }
    if (info.token == Token::kWhiteSpace) {
      ++at;
      continue;
    }
    if (info.token == Token::kEsc) {
      if (pendingValue != kNone) return valueWithoutId(false);
      if (listStart != kNone) return Fail(listStart, "attribute list not followed by an operator before the UEL");
      const std::size_t available = std::min(data_.size() - at, kUel.size());
      if (std::memcmp(&data_[at], kUel.data(), available) != 0) return Fail(at, "byte 0x1B that does not start a UEL");
      if (available < kUel.size()) return Fail(at, "truncated UEL", true);
      pos_ = at;
      atUel_ = true;
      return false;
    }
    if (info.token == Token::kData) {
      if (pendingValue != kNone) return valueWithoutId(false);
      return Fail(at, "embedded data without an operator before it");
    }
    if (info.token == Token::kUnknownType) return Fail(at, "unknown data type " + Hex(code));
    return Fail(at, "byte " + Hex(code) + " is not a PCL XL tag");
  }
  if (pendingValue != kNone) return valueWithoutId(true);
  if (listStart != kNone) {
    return Fail(listStart, "attribute list not followed by an operator at the end of the data", true);
  }
  return false;
}

}  // namespace velmora::pxl
