// Operators of a PCL XL binary stream read where they lie.
//
// A rendered page may hold hundreds of thousands of operators. The scanner finds each
// operator with the attribute list before it and the embedded data right after its tag,
// and records only where they lie; an attribute's value is decoded from the bytes when it
// is asked for. Scanning copies nothing and allocates nothing, so that a page can be kept
// as its bytes alone and scanned again whenever it is drawn. The scanner checks every
// token as the Reader does and stops at the first malformed one.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pxl/reader.h"
#include "pxl/tokens.h"

namespace velmora::pxl {

// Where a value keeps its elements: its element type and shape, the offset of its first
// element, the element count, and the offset after it.
struct ValueExtent {
  ElementType element = ElementType::kUByte;
  Shape shape = Shape::kScalar;
  std::size_t elements = 0;
  std::size_t count = 0;
  std::size_t end = 0;
};

// Measures the value whose data-type tag is at `at` in `data`; nothing, with the cause in
// `cause` ("truncated uint16_xy"), when it is cut short or its array length is malformed.
std::optional<ValueExtent> MeasureValue(std::span<const std::uint8_t> data, std::size_t at, ByteOrder order,
                                        std::string& cause);

// The scanner's tables and decoding steps, inline: they run for every token of a page.
namespace detail {

// What a byte of the binary stream starts, looked up in one table: the scanner reads
// every token of a page, so the decoding of data-type tags is not repeated per value.
enum class Token : std::uint8_t { kOther, kWhiteSpace, kOperator, kValue, kAttributeId, kData, kEsc, kUnknownType };
struct TagInfo {
  Token token = Token::kOther;
  ElementType element = ElementType::kUByte;
  Shape shape = Shape::kScalar;
  std::uint8_t elementSize = 0;
  std::uint8_t fixedCount = 0;  // elements of a scalar, x-y pair or box; 0 for an array
};

inline constexpr std::array<TagInfo, 256> kTags = [] {
  std::array<TagInfo, 256> tags{};
  constexpr std::uint8_t kSizes[] = {1, 2, 4, 2, 4, 4};  // ubyte uint16 uint32 sint16 sint32 real32
  for (int code = 0; code < 256; ++code) {
    TagInfo& info = tags[code];
    const auto byte = static_cast<std::uint8_t>(code);
    if (byte == 0x00 || (byte >= 0x09 && byte <= 0x0D) || byte == 0x20) {
      info.token = Token::kWhiteSpace;
    } else if (byte >= tag::kFirstOperator && byte <= tag::kLastOperator) {
      info.token = Token::kOperator;
    } else if (byte == tag::kAttrUByte || byte == tag::kAttrUInt16) {
      info.token = Token::kAttributeId;
    } else if (byte == tag::kDataLength || byte == tag::kDataLengthByte) {
      info.token = Token::kData;
    } else if (byte == tag::kEsc) {
      info.token = Token::kEsc;
    } else if (byte >= 0xC0 && byte <= 0xEF) {
      const int low = byte & 0x07;
      const int group = byte & 0xF8;
      const bool known = low <= 5 && (group == 0xC0 || group == 0xC8 || group == 0xD0 || group == 0xE0);
      info.token = known ? Token::kValue : Token::kUnknownType;
      if (known) {
        info.element = static_cast<ElementType>(low);
        info.shape = group == 0xC0   ? Shape::kScalar
                     : group == 0xC8 ? Shape::kArray
                     : group == 0xD0 ? Shape::kXy
                                     : Shape::kBox;
        info.elementSize = kSizes[low];
        info.fixedCount = info.shape == Shape::kScalar ? 1
                          : info.shape == Shape::kXy   ? 2
                          : info.shape == Shape::kBox  ? 4
                                                       : 0;
      }
    }
  }
  return tags;
}();

inline std::uint16_t U16(const std::uint8_t* at, ByteOrder order) {
  return static_cast<std::uint16_t>(order == ByteOrder::kLittleEndian ? at[0] | (at[1] << 8) : (at[0] << 8) | at[1]);
}

inline std::uint32_t U32(const std::uint8_t* at, ByteOrder order) {
  if (order == ByteOrder::kLittleEndian) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
  }
  return (static_cast<std::uint32_t>(at[0]) << 24) | (static_cast<std::uint32_t>(at[1]) << 16) |
         (static_cast<std::uint32_t>(at[2]) << 8) | static_cast<std::uint32_t>(at[3]);
}

// Measures the value at `at`, whose tag `info` describes; false when it does not lie
// whole in `data` or its array length is malformed (WhyUnmeasurable then says why).
inline bool Measure(std::span<const std::uint8_t> data, std::size_t at, ByteOrder order, const TagInfo& info,
                    ValueExtent& extent) {
  extent.element = info.element;
  extent.shape = info.shape;
  std::size_t cursor = at + 1;
  if (info.fixedCount != 0) {
    extent.count = info.fixedCount;
  } else {
    if (data.size() - cursor < 2) return false;
    const std::uint8_t lengthTag = data[cursor];
    if (lengthTag == tag::kUByte) {
      extent.count = data[cursor + 1];
      cursor += 2;
    } else if (lengthTag == tag::kUByte + 1 && data.size() - cursor >= 3) {
      extent.count = U16(&data[cursor + 1], order);
      cursor += 3;
    } else {
      return false;
    }
  }
  const std::size_t needed = extent.count * info.elementSize;
  if (needed > data.size() - cursor) return false;
  extent.elements = cursor;
  extent.end = cursor + needed;
  return true;
}

}  // namespace detail

// One attribute of a scanned operator: its id and its value, decoded on demand.
class AttributeView {
 public:
  AttributeView() = default;
  AttributeView(std::uint16_t id, std::uint8_t tag, const ValueExtent& extent, const std::uint8_t* elements,
                ByteOrder order)
      : elements_(elements),
        count_(extent.count),
        id_(id),
        tag_(tag),
        element_(extent.element),
        shape_(extent.shape),
        order_(order) {}

  std::uint16_t id() const { return id_; }
  std::uint8_t tag() const { return tag_; }
  ElementType element() const { return element_; }
  Shape shape() const { return shape_; }
  std::size_t size() const { return count_; }
  // The element at `index` as Value holds it (every element type fits a double exactly);
  // 0 past the end. Text and glyph codes, nearly always bytes, are read in place.
  double operator[](std::size_t index) const {
    if (element_ == ElementType::kUByte) return index < count_ ? elements_[index] : 0;
    return Element(index);
  }
  // The element at `index` as an integer, as Value::Int gives it; 0 past the end.
  std::int64_t Int(std::size_t index = 0) const;
  // The element at `index` as a character or glyph code: what Int gives, cut to 32 bits.
  std::uint32_t Code(std::size_t index) const {
    if (element_ == ElementType::kUByte) return index < count_ ? elements_[index] : 0;
    if (element_ == ElementType::kUInt16 && index < count_) {
      const std::uint8_t* at = elements_ + 2 * index;
      return order_ == ByteOrder::kLittleEndian ? at[0] | (at[1] << 8) : (at[0] << 8) | at[1];
    }
    return static_cast<std::uint32_t>(Int(index));
  }
  // The elements as bytes, as Value::Bytes gives them (text, font names).
  std::string Bytes() const;
  // The value decoded whole, to be written again in its own data type.
  Value ToValue() const;

 private:
  double Element(std::size_t index) const;

  const std::uint8_t* elements_ = nullptr;
  std::size_t count_ = 0;
  std::uint16_t id_ = 0;
  std::uint8_t tag_ = tag::kUByte;
  ElementType element_ = ElementType::kUByte;
  Shape shape_ = Shape::kScalar;
  ByteOrder order_ = ByteOrder::kLittleEndian;
};

// One operator where it lies in the scanned bytes: [start, end) holds whatever came after
// the operator before it (its attribute list), its tag at `tag`, and its embedded data.
// Its attributes are read from the bytes, which must outlive it.
struct ScannedOperator {
  std::uint8_t code = 0;
  std::size_t start = 0;
  std::size_t tag = 0;
  std::size_t end = 0;
  std::span<const std::uint8_t> attributes;  // the attribute list's bytes, checked
  ByteOrder order = ByteOrder::kLittleEndian;

  Op op() const { return static_cast<Op>(code); }
  bool Is(Op other) const { return code == static_cast<std::uint8_t>(other); }
  // The attribute with this id, or nothing.
  std::optional<AttributeView> Find(Attr id) const {
    for (std::size_t at = 0; at < attributes.size();) {
      const AttributeView attribute = AttributeAt(at);
      if (attribute.id() == static_cast<std::uint16_t>(id)) return attribute;
    }
    return std::nullopt;
  }
  // Calls visit(const AttributeView&) for the attribute with this id, when there is one,
  // without copying it out (text codes are read for every Text operator of a page).
  template <typename Visit>
  void With(Attr id, Visit visit) const {
    for (std::size_t at = 0; at < attributes.size();) {
      const AttributeView attribute = AttributeAt(at);
      if (attribute.id() != static_cast<std::uint16_t>(id)) continue;
      visit(attribute);
      return;
    }
  }
  std::size_t AttributeCount() const;
  // Calls visit(const AttributeView&) for each attribute in order.
  template <typename Visit>
  void ForEachAttribute(Visit visit) const {
    for (std::size_t at = 0; at < attributes.size();) visit(AttributeAt(at));
  }

 private:
  // The attribute whose value starts at or after `at` (past white space); moves `at` past it.
  AttributeView AttributeAt(std::size_t& at) const {
    using detail::kTags;
    using detail::Token;
    // The list was checked when it was scanned: a value, then its id, white space around.
    const std::span<const std::uint8_t> list = attributes;
    while (kTags[list[at]].token == Token::kWhiteSpace) ++at;
    const std::uint8_t valueTag = list[at];
    ValueExtent extent;
    detail::Measure(list, at, order, kTags[valueTag], extent);
    at = extent.end;
    while (kTags[list[at]].token == Token::kWhiteSpace) ++at;
    const bool wide = list[at] == tag::kAttrUInt16;
    const std::uint16_t id = wide ? detail::U16(&list[at + 1], order) : list[at + 1];
    at += wide ? 3 : 2;
    while (at < list.size() && kTags[list[at]].token == Token::kWhiteSpace) ++at;
    return AttributeView(id, valueTag, extent, list.data() + extent.elements, order);
  }
};

class OperatorScanner {
 public:
  // Scans `bytes`, a part of a binary stream in byte order `order`, from `from`, which must
  // be an operator boundary. Offsets are relative to `bytes`.
  OperatorScanner(std::span<const std::uint8_t> bytes, ByteOrder order, std::size_t from = 0)
      : data_(bytes), pos_(from), order_(order) {}

  // The next operator; false at the end of the bytes, at a UEL (atUel()) or at the first
  // malformed token (error()). An operator whose bytes may go on past the end (its tag is
  // the last byte) is still answered; the caller decides whether more bytes follow.
  // Inline for a glyph's two operators, which are most of a text page.
  bool Next(ScannedOperator& op) {
    if (error_ || atUel_) return false;
    return NextGlyphOperator(op) || NextToken(op);
  }

  // Where the scanner stands: after the last operator answered, or at the UEL.
  std::size_t offset() const { return pos_; }
  bool atUel() const { return atUel_; }
  const std::optional<Error>& error() const { return error_; }
  // True when the error is where the bytes end (a token cut short, an attribute list
  // without its operator): more bytes of the stream may complete it.
  bool cutShort() const { return cutShort_; }

 private:
  bool Fail(std::size_t offset, std::string cause, bool cutShort = false);
  // The next operator when it is one of a glyph's two common shapes; false otherwise.
  bool NextGlyphOperator(ScannedOperator& op);
  // The next operator, read token by token.
  bool NextToken(ScannedOperator& op);

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  ByteOrder order_ = ByteOrder::kLittleEndian;
  bool atUel_ = false;
  bool cutShort_ = false;
  std::optional<Error> error_;
};

// A renderer writes most of a text page as two operators of one shape each, a glyph's
// position and its code: SetCursor with a sint16 x-y Point, and Text with a ubyte array
// TextData. Where the operator at `at` of `bytes` (an operator boundary) has its tag when
// it is one of them, counted from `at`; 0 for any other operator. Embedded data after the
// tag is not looked at.
inline std::size_t GlyphOperatorTag(std::span<const std::uint8_t> bytes, std::size_t at) {
  constexpr std::uint8_t kSInt16Xy = tag::kUByteXy + 3;
  constexpr auto kPoint = static_cast<std::uint8_t>(Attr::Point);
  constexpr auto kTextData = static_cast<std::uint8_t>(Attr::TextData);
  constexpr auto kSetCursor = static_cast<std::uint8_t>(Op::SetCursor);
  constexpr auto kText = static_cast<std::uint8_t>(Op::Text);
  const std::size_t left = bytes.size() - at;
  const std::uint8_t* op = bytes.data() + at;
  if (left > 7 && op[0] == kSInt16Xy && op[5] == tag::kAttrUByte && op[6] == kPoint && op[7] == kSetCursor) return 7;
  if (left > 5 && op[0] == tag::kUByteArray && op[1] == tag::kUByte) {
    const std::size_t codes = op[2];
    if (left > 5 + codes && op[3 + codes] == tag::kAttrUByte && op[4 + codes] == kTextData && op[5 + codes] == kText) {
      return 5 + codes;
    }
  }
  return 0;
}

// Either of a glyph's two operators is taken whole here, when a byte after it tells that
// no embedded data follows; the token loop would find the same operator, token by token.
inline bool OperatorScanner::NextGlyphOperator(ScannedOperator& op) {
  const std::size_t tagAt = GlyphOperatorTag(data_, pos_);
  if (tagAt == 0 || pos_ + tagAt + 1 >= data_.size()) return false;
  if (detail::kTags[data_[pos_ + tagAt + 1]].token == detail::Token::kData) return false;
  op.code = data_[pos_ + tagAt];
  op.start = pos_;
  op.tag = pos_ + tagAt;
  op.end = op.tag + 1;
  op.attributes = data_.subspan(pos_, tagAt);
  op.order = order_;
  pos_ = op.end;
  return true;
}

// The codes of a Text operator whose attribute list is one ubyte array TextData and
// nothing else, as a renderer writes nearly every Text: read in place, without walking
// the list. Nothing for any other list.
inline std::optional<std::span<const std::uint8_t>> ByteTextCodes(std::span<const std::uint8_t> attributes) {
  if (attributes.size() < 5 || attributes[0] != tag::kUByteArray || attributes[1] != tag::kUByte) return std::nullopt;
  const std::size_t count = attributes[2];
  if (attributes.size() != 5 + count || attributes[3 + count] != tag::kAttrUByte ||
      attributes[4 + count] != static_cast<std::uint8_t>(Attr::TextData)) {
    return std::nullopt;
  }
  return attributes.subspan(3, count);
}

// Where the operators of bytes the scanner has checked have their tags, one bit per byte.
// Kept beside the bytes (an eighth of their size), it lets them be read again, operator
// by operator, without being scanned and checked again (OperatorAt).
class TagMarks {
 public:
  void Clear() { words_.clear(); }
  // Marks a tag at `offset`.
  void Mark(std::size_t offset) {
    const std::size_t word = offset / 64;
    if (word >= words_.size()) Grow(word);
    words_[word] |= std::uint64_t{1} << (offset % 64);
  }
  // The first tag at or after `offset`; SIZE_MAX when there is none.
  std::size_t Next(std::size_t offset) const {
    std::size_t word = offset / 64;
    if (word >= words_.size()) return SIZE_MAX;
    std::uint64_t bits = words_[word] & (~std::uint64_t{0} << (offset % 64));
    while (bits == 0) {
      if (++word == words_.size()) return SIZE_MAX;
      bits = words_[word];
    }
    return word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
  }

 private:
  // Makes room for word `word`. The marks grow with a page a few bytes at a time: by
  // doubling, not word by word.
  void Grow(std::size_t word);

  std::vector<std::uint64_t> words_;
};

// The operator at `at` of checked `bytes` whose tag is at `tag` (past the end: one of
// code 0 that starts and ends at the end of the bytes).
inline ScannedOperator OperatorAt(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t tag,
                                  ByteOrder order) {
  using detail::kTags;
  using detail::Token;
  ScannedOperator op;
  op.order = order;
  if (tag >= bytes.size()) {
    op.start = op.tag = op.end = bytes.size();
    return op;
  }
  op.code = bytes[tag];
  op.start = at;
  op.tag = tag;
  // White space may come before the attribute list (never in a renderer's stream).
  std::size_t list = at;
  while (list < tag && kTags[bytes[list]].token == Token::kWhiteSpace) ++list;
  op.attributes = bytes.subspan(list, tag - list);
  std::size_t end = tag + 1;
  if (end < bytes.size() && kTags[bytes[end]].token == Token::kData) {
    const bool shortLength = bytes[end] == tag::kDataLengthByte;
    const std::size_t length = shortLength ? bytes[end + 1] : detail::U32(&bytes[end + 1], order);
    end += (shortLength ? 2 : 5) + length;
  }
  op.end = end;
  return op;
}

// The operator at `at`, an operator boundary of checked `bytes` whose tags `tags` marks;
// past the last operator, one of code 0 that starts and ends at the end of the bytes.
inline ScannedOperator OperatorAt(std::span<const std::uint8_t> bytes, const TagMarks& tags, std::size_t at,
                                  ByteOrder order) {
  return OperatorAt(bytes, at, tags.Next(at), order);
}

}  // namespace velmora::pxl
