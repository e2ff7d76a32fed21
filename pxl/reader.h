// Reading a complete PJL + PCL XL job back as a sequence of events.
//
// The reader walks the job from the front: PJL lines and UELs, the PCL XL stream
// header, then the binary stream, where values and attribute ids are collected into
// the attribute list of the operator that follows them. Embedded data blocks are
// reported by position and length, never copied. The reader never reads outside the
// buffer it is given; on malformed input it stops at the first bad token and reports
// its byte offset and what is wrong with it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pxl/tokens.h"

namespace velmora::pxl {

// The byte order of the binary stream, chosen by the first byte of the stream header.
enum class ByteOrder : std::uint8_t { kLittleEndian, kBigEndian };

// The elements of a value. Most values are a scalar, a point or a box: up to four
// elements are held in place, so that reading them allocates nothing; longer arrays go
// on the heap.
class ElementList {
 public:
  ElementList() = default;
  ElementList(std::initializer_list<double> elements) { assign(elements.begin(), elements.end()); }
  ElementList(const std::vector<double>& elements) { assign(elements.data(), elements.data() + elements.size()); }
  ElementList(const ElementList& other) { assign(other.begin(), other.end()); }
  ElementList(ElementList&& other) noexcept { *this = std::move(other); }
  ElementList& operator=(const ElementList& other) {
    if (this != &other) assign(other.begin(), other.end());
    return *this;
  }
  ElementList& operator=(ElementList&& other) noexcept {
    size_ = other.size_;
    inline_ = other.inline_;
    heap_ = std::move(other.heap_);
    other.size_ = 0;
    return *this;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const double* begin() const { return size_ <= kInline ? inline_.data() : heap_.data(); }
  const double* end() const { return begin() + size_; }
  double operator[](std::size_t index) const { return begin()[index]; }
  void reserve(std::size_t count) {
    if (count > kInline) heap_.reserve(count);
  }
  void push_back(double element) {
    if (size_ < kInline) {
      inline_[size_++] = element;
      return;
    }
    if (size_ == kInline) heap_.assign(inline_.begin(), inline_.end());
    heap_.push_back(element);
    ++size_;
  }
  friend bool operator==(const ElementList& a, const ElementList& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  friend bool operator==(const ElementList& a, const std::vector<double>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  static constexpr std::size_t kInline = 4;
  void assign(const double* first, const double* last) {
    size_ = 0;
    heap_.clear();
    for (; first != last; ++first) push_back(*first);
  }

  std::size_t size_ = 0;
  std::array<double, kInline> inline_{};
  std::vector<double> heap_;
};

// One data value of the binary stream: its data-type tag and its elements. Every
// element type (8-, 16- and 32-bit integers, real32) is held exactly by a double.
struct Value {
  std::uint8_t tag = tag::kUByte;  // 0xC0-0xC5, 0xC8-0xCD, 0xD0-0xD5 or 0xE0-0xE5
  ElementList elements;

  ElementType element() const;
  Shape shape() const;
  // The element at `index` as an integer (real32 elements are truncated).
  std::int64_t Int(std::size_t index = 0) const;
  // The elements as bytes; meaningful for ubyte arrays (text, font names, data).
  std::string Bytes() const;
};

// A value with the attribute id that follows it.
struct Attribute {
  std::uint16_t id = 0;
  Value value;
  std::size_t offset = 0;  // where the value's data-type tag sits in the job
};

enum class EventKind : std::uint8_t {
  kUel,           // ESC %-12345X
  kPjlLine,       // text: the line without its LF or CR LF
  kStreamHeader,  // text: the header line without its LF; byte_order, protocol_class
  kOperator,      // op, attributes
  kEmbeddedData,  // data_offset, data_length
};

struct Event {
  EventKind kind = EventKind::kUel;
  // The event's first byte in the job; for an operator its tag byte, which follows its
  // attributes (each attribute records where its own value starts).
  std::size_t offset = 0;

  std::string text;
  ByteOrder byte_order = ByteOrder::kLittleEndian;
  std::string protocol_class;  // "2.0", "2.1", "3.0"

  std::uint8_t op = 0;
  std::vector<Attribute> attributes;

  std::size_t data_offset = 0;
  std::size_t data_length = 0;

  bool Is(Op code) const { return kind == EventKind::kOperator && op == static_cast<std::uint8_t>(code); }
  // The operator's attribute with this id, or null.
  const Attribute* Find(Attr id) const;
};

struct Error {
  std::size_t offset = 0;
  std::string cause;

  // "offset 17: attribute id 0xF8 without a value before it".
  std::string ToString() const;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> job);

  // A reader of a part of a binary stream, from an operator boundary after the stream
  // header (a page kept on its own, a window of a stream read piece by piece). Its
  // offsets are relative to `part`.
  static Reader Binary(std::span<const std::uint8_t> part, ByteOrder order);

  // The next event, or nothing at the end of the job or after an error.
  std::optional<Event> Next();

  // The first malformed token, once Next() has stopped because of it.
  const std::optional<Error>& error() const { return error_; }

  // How far the reader has got.
  std::size_t offset() const { return pos_; }

 private:
  // kOtherLanguage: a PJL line entered a language other than PCL XL; only a UEL may follow.
  enum class Mode : std::uint8_t { kPjl, kHeaderExpected, kOtherLanguage, kBinary, kDone };

  std::optional<Event> NextPjl();
  std::optional<Event> NextBinary();
  std::optional<Event> ReadPjlLine();
  std::optional<Event> ReadStreamHeader();
  std::optional<Event> ReadUel();
  std::optional<Event> ReadEmbeddedData(std::uint8_t code);
  bool ReadValue(std::uint8_t code);
  bool ReadAttributeId(std::uint8_t code);
  // Checks that no value or attribute list is left open where the stream ends or a UEL
  // interrupts it; on failure records the error and returns false.
  bool CheckNothingPending(const char* where);

  bool StartsWith(std::string_view text) const;
  std::size_t Left() const { return data_.size() - pos_; }
  std::uint16_t U16(std::size_t at) const;
  std::uint32_t U32(std::size_t at) const;
  std::nullopt_t Fail(std::size_t offset, std::string cause);

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  Mode mode_ = Mode::kPjl;
  ByteOrder order_ = ByteOrder::kLittleEndian;
  std::optional<Attribute> pending_value_;  // a value still waiting for its attribute id
  std::vector<Attribute> attributes_;       // collected since the previous operator
  std::size_t attributes_offset_ = 0;       // where the first of them starts
  std::string other_language_;
  std::optional<Error> error_;
};

struct ParseResult {
  std::vector<Event> events;
  std::optional<Error> error;

  bool ok() const { return !error.has_value(); }
};

// Reads the whole job: every event up to the end, or up to the first malformed token.
ParseResult Parse(std::span<const std::uint8_t> job);

}  // namespace velmora::pxl
