// SNMP version 1 GetNext walks of the Printer MIB's supplies table: the few BER encodings
// the walk needs, written and read here, and one UDP socket per query.
#include "tools/printer_app/snmp_supplies.h"

#include <netdb.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "tools/printer_app/access.h"

namespace velmora::printer_app {
namespace snmp {
namespace {

constexpr std::uint8_t kInteger = 0x02, kOctetString = 0x04, kNull = 0x05, kObjectId = 0x06, kSequence = 0x30;
constexpr std::uint8_t kGetNext = 0xA1, kGetResponse = 0xA2;
// Counter32, Gauge32 and TimeTicks: unsigned integers.
constexpr std::uint8_t kCounter = 0x41, kGauge = 0x42, kTimeTicks = 0x43;

void PutLength(std::vector<std::uint8_t>& out, std::size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<std::uint8_t>(length));
  } else if (length < 0x100) {
    out.insert(out.end(), {0x81, static_cast<std::uint8_t>(length)});
  } else {
    out.insert(out.end(), {0x82, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
  }
}

std::vector<std::uint8_t> Wrap(std::uint8_t tag, const std::vector<std::uint8_t>& content) {
  std::vector<std::uint8_t> out{tag};
  PutLength(out, content.size());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

std::vector<std::uint8_t> Integer(std::int32_t value) {
  std::vector<std::uint8_t> bytes;
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  // The shortest two's complement form.
  while (bytes.size() > 1 && ((bytes[0] == 0 && !(bytes[1] & 0x80)) || (bytes[0] == 0xFF && (bytes[1] & 0x80)))) {
    bytes.erase(bytes.begin());
  }
  return Wrap(kInteger, bytes);
}

std::vector<std::uint8_t> ObjectId(const Oid& oid) {
  std::vector<std::uint8_t> bytes;
  if (oid.size() >= 2) bytes.push_back(static_cast<std::uint8_t>(oid[0] * 40 + oid[1]));
  for (std::size_t i = 2; i < oid.size(); ++i) {
    std::uint8_t groups[5];
    int count = 0;
    std::uint32_t arc = oid[i];
    do {
      groups[count++] = static_cast<std::uint8_t>(arc & 0x7F);
      arc >>= 7;
    } while (arc != 0);
    while (count-- > 0) bytes.push_back(static_cast<std::uint8_t>(groups[count] | (count > 0 ? 0x80 : 0)));
  }
  return Wrap(kObjectId, bytes);
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A reader of BER items within a buffer; every read is checked against its end.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  // Reads the next item's tag and content; false at the end or on a malformed item.
  bool Next(std::uint8_t& tag, std::span<const std::uint8_t>& content) {
    if (at_ + 2 > bytes_.size()) return false;
    tag = bytes_[at_++];
    std::size_t length = bytes_[at_++];
    if (length & 0x80) {
      const std::size_t count = length & 0x7F;
      if (count == 0 || count > 2 || at_ + count > bytes_.size()) return false;
      length = 0;
      for (std::size_t i = 0; i < count; ++i) length = (length << 8) | bytes_[at_++];
    }
    if (length > bytes_.size() - at_) return false;
    content = bytes_.subspan(at_, length);
    at_ += length;
    return true;
  }

  // Reads an item that must have `expected` as its tag.
  bool Expect(std::uint8_t expected, std::span<const std::uint8_t>& content) {
    std::uint8_t tag = 0;
    return Next(tag, content) && tag == expected;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

bool ReadInteger(std::span<const std::uint8_t> content, bool isSigned, long long& value) {
  if (content.empty() || content.size() > 5) return false;
  value = isSigned && (content[0] & 0x80) ? -1 : 0;
  for (std::uint8_t byte : content) value = (value << 8) | byte;
  return true;
}

bool ReadObjectId(std::span<const std::uint8_t> content, Oid& oid) {
  if (content.empty()) return false;
  oid = {static_cast<std::uint32_t>(content[0] / 40), static_cast<std::uint32_t>(content[0] % 40)};
  std::uint32_t arc = 0;
  for (std::size_t i = 1; i < content.size(); ++i) {
    if (arc > (0xFFFFFFFFu >> 7)) return false;
    arc = (arc << 7) | (content[i] & 0x7F);
    if (!(content[i] & 0x80)) {
      oid.push_back(arc);
      arc = 0;
    }
  }
  return (content.back() & 0x80) == 0;
}

}  // namespace

std::vector<std::uint8_t> GetNextRequest(std::int32_t id, const Oid& oid) {
  const auto binding = Wrap(kSequence, Join({ObjectId(oid), {kNull, 0}}));
  const auto pdu = Wrap(kGetNext, Join({Integer(id), Integer(0), Integer(0), Wrap(kSequence, binding)}));
  return Wrap(kSequence, Join({Integer(0), Wrap(kOctetString, {'p', 'u', 'b', 'l', 'i', 'c'}), pdu}));
}

std::optional<Value> ParseResponse(std::span<const std::uint8_t> packet, std::int32_t id) {
  std::span<const std::uint8_t> message, field, pdu, list, binding;
  long long number = 0;
  Reader outer(packet);
  if (!outer.Expect(kSequence, message)) return std::nullopt;
  Reader parts(message);
  if (!parts.Expect(kInteger, field) || !parts.Expect(kOctetString, field) || !parts.Expect(kGetResponse, pdu)) {
    return std::nullopt;
  }
  Reader response(pdu);
  if (!response.Expect(kInteger, field) || !ReadInteger(field, true, number) || number != id) return std::nullopt;
  if (!response.Expect(kInteger, field) || !ReadInteger(field, true, number) || number != 0) return std::nullopt;
  if (!response.Expect(kInteger, field) || !response.Expect(kSequence, list)) return std::nullopt;
  Reader bindings(list);
  if (!bindings.Expect(kSequence, binding)) return std::nullopt;
  Reader item(binding);
  Value value;
  std::uint8_t tag = 0;
  if (!item.Expect(kObjectId, field) || !ReadObjectId(field, value.oid) || !item.Next(tag, field)) return std::nullopt;
  switch (tag) {
    case kInteger:
    case kCounter:
    case kGauge:
    case kTimeTicks:
      value.isInteger = true;
      if (!ReadInteger(field, tag == kInteger, value.integer)) return std::nullopt;
      return value;
    case kOctetString: value.text.assign(field.begin(), field.end()); return value;
    default: return std::nullopt;
  }
}

}  // namespace snmp

namespace {

// prtMarkerSuppliesEntry, and its columns the walk reads.
const snmp::Oid kSuppliesEntry = {1, 3, 6, 1, 2, 1, 43, 11, 1, 1};
constexpr std::uint32_t kClass = 4, kType = 5, kDescription = 6, kMaxCapacity = 8, kLevel = 9;
constexpr int kMaxRows = 32;

// prtMarkerSuppliesTypeTC values 1 to 33, as PAPPL maps them.
constexpr pappl_supply_type_t kTypes[] = {PAPPL_SUPPLY_TYPE_OTHER,
                                          PAPPL_SUPPLY_TYPE_UNKNOWN,
                                          PAPPL_SUPPLY_TYPE_TONER,
                                          PAPPL_SUPPLY_TYPE_WASTE_TONER,
                                          PAPPL_SUPPLY_TYPE_INK,
                                          PAPPL_SUPPLY_TYPE_INK_CARTRIDGE,
                                          PAPPL_SUPPLY_TYPE_INK_RIBBON,
                                          PAPPL_SUPPLY_TYPE_WASTE_INK,
                                          PAPPL_SUPPLY_TYPE_OPC,
                                          PAPPL_SUPPLY_TYPE_DEVELOPER,
                                          PAPPL_SUPPLY_TYPE_FUSER_OIL,
                                          PAPPL_SUPPLY_TYPE_SOLID_WAX,
                                          PAPPL_SUPPLY_TYPE_RIBBON_WAX,
                                          PAPPL_SUPPLY_TYPE_WASTE_WAX,
                                          PAPPL_SUPPLY_TYPE_FUSER,
                                          PAPPL_SUPPLY_TYPE_CORONA_WIRE,
                                          PAPPL_SUPPLY_TYPE_FUSER_OIL_WICK,
                                          PAPPL_SUPPLY_TYPE_CLEANER_UNIT,
                                          PAPPL_SUPPLY_TYPE_FUSER_CLEANING_PAD,
                                          PAPPL_SUPPLY_TYPE_TRANSFER_UNIT,
                                          PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE,
                                          PAPPL_SUPPLY_TYPE_FUSER_OILER,
                                          PAPPL_SUPPLY_TYPE_WATER,
                                          PAPPL_SUPPLY_TYPE_WASTE_WATER,
                                          PAPPL_SUPPLY_TYPE_GLUE_WATER_ADDITIVE,
                                          PAPPL_SUPPLY_TYPE_WASTE_PAPER,
                                          PAPPL_SUPPLY_TYPE_BINDING_SUPPLY,
                                          PAPPL_SUPPLY_TYPE_BANDING_SUPPLY,
                                          PAPPL_SUPPLY_TYPE_STITCHING_WIRE,
                                          PAPPL_SUPPLY_TYPE_SHRINK_WRAP,
                                          PAPPL_SUPPLY_TYPE_PAPER_WRAP,
                                          PAPPL_SUPPLY_TYPE_STAPLES,
                                          PAPPL_SUPPLY_TYPE_INSERTS,
                                          PAPPL_SUPPLY_TYPE_COVERS};
static_assert(std::size(kTypes) == 34);

// The colour a supply's description names; toner and ink name none on a grey-scale
// printer, and are black.
pappl_supply_color_t ColorOf(std::string description, pappl_supply_type_t type) {
  for (char& c : description) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (description.find("cyan") != std::string::npos) return PAPPL_SUPPLY_COLOR_CYAN;
  if (description.find("magenta") != std::string::npos) return PAPPL_SUPPLY_COLOR_MAGENTA;
  if (description.find("yellow") != std::string::npos) return PAPPL_SUPPLY_COLOR_YELLOW;
  const bool colorant = type == PAPPL_SUPPLY_TYPE_TONER || type == PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE ||
                        type == PAPPL_SUPPLY_TYPE_INK || type == PAPPL_SUPPLY_TYPE_INK_CARTRIDGE;
  return colorant || description.find("black") != std::string::npos ? PAPPL_SUPPLY_COLOR_BLACK
                                                                    : PAPPL_SUPPLY_COLOR_NO_COLOR;
}

// A request id nobody off the path can guess, so that a forged answer is not taken for
// the printer's: a random positive 31-bit number, or nothing when the system has no
// randomness to give.
std::optional<std::int32_t> RandomRequestId() {
  std::uint32_t bits = 0;
  ssize_t got = 0;
  do {
    got = ::getrandom(&bits, sizeof bits, 0);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(sizeof bits)) return std::nullopt;
  return static_cast<std::int32_t>(bits & 0x7FFFFFFFu);
}

// A UDP socket to the printer's SNMP agent, closed when it goes out of scope. The socket is
// connected to the agent's address, so it receives datagrams from that address and port
// only.
class Agent {
 public:
  Agent(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr) return;
    fd_ = ::socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && ::connect(fd_, found->ai_addr, found->ai_addrlen) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
    ::freeaddrinfo(found);
  }
  ~Agent() {
    if (fd_ >= 0) ::close(fd_);
  }
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  // The value after `oid`, or nothing once the deadline has passed.
  std::optional<snmp::Value> GetNext(const snmp::Oid& oid, std::chrono::steady_clock::time_point deadline) {
    if (fd_ < 0) return std::nullopt;
    const std::optional<std::int32_t> id = RandomRequestId();
    if (!id) return std::nullopt;
    const std::vector<std::uint8_t> request = snmp::GetNextRequest(*id, oid);
    if (::send(fd_, request.data(), request.size(), 0) < 0) return std::nullopt;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd watch{fd_, POLLIN, 0};
      if (::poll(&watch, 1, static_cast<int>(left.count())) <= 0) continue;
      std::uint8_t packet[1500];
      const ssize_t got = ::recv(fd_, packet, sizeof packet, 0);
      if (got <= 0) return std::nullopt;
      // An answer to an earlier request, or with a guessed id, is passed over.
      if (auto value = snmp::ParseResponse({packet, static_cast<std::size_t>(got)}, *id)) return value;
    }
  }

 private:
  int fd_ = -1;
};

}  // namespace

int SupplyLevel(long long level, long long maxCapacity) {
  // The MIB's -1 (other), -2 (unknown) and -3 (some remains) stay as they are.
  if (level >= -3 && level <= -1) return static_cast<int>(level);
  if (level < 0 || maxCapacity <= 0) return -2;
  // A little over the capacity happens with a new cartridge: it is full.
  return level >= maxCapacity ? 100 : static_cast<int>(level * 100 / maxCapacity);
}

std::string SupplyDescription(const std::string& text, std::size_t maxBytes) {
  std::string clean = CleanText(text);
  if (clean.size() <= maxBytes) return clean;
  std::size_t end = maxBytes;
  // A continuation byte at the cut means the character before it would lose its tail.
  while (end > 0 && (static_cast<unsigned char>(clean[end]) & 0xC0) == 0x80) --end;
  clean.resize(end);
  return clean;
}

int QuerySnmpSupplies(const std::string& host, int maxSupplies, pappl_supply_t* supplies, int timeoutMs, int port) {
  Agent agent(host, port);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // Column by column, row by row: values by column, then by supply index.
  std::map<std::uint32_t, std::map<std::uint32_t, snmp::Value>> table;
  for (const std::uint32_t column : {kClass, kType, kDescription, kMaxCapacity, kLevel}) {
    snmp::Oid prefix = kSuppliesEntry;
    prefix.push_back(column);
    snmp::Oid at = prefix;
    for (int row = 0; row < kMaxRows; ++row) {
      std::optional<snmp::Value> value = agent.GetNext(at, deadline);
      if (!value || value->oid.size() <= prefix.size() ||
          !std::equal(prefix.begin(), prefix.end(), value->oid.begin())) {
        break;
      }
      at = value->oid;
      table[value->oid.back()][column] = std::move(*value);
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  int count = 0;
  for (const auto& [index, row] : table) {
    if (count >= maxSupplies) break;
    const auto integer = [&row](std::uint32_t column, long long fallback) {
      auto found = row.find(column);
      return found != row.end() && found->second.isInteger ? found->second.integer : fallback;
    };
    const auto description = row.find(kDescription);
    if (description == row.end() || description->second.isInteger) continue;
    pappl_supply_t& supply = supplies[count++];
    supply = pappl_supply_t{};
    const std::string text = SupplyDescription(description->second.text, sizeof supply.description - 1);
    std::memcpy(supply.description, text.data(), text.size());
    const long long type = integer(kType, 2);
    supply.type =
        type >= 1 && type <= static_cast<long long>(std::size(kTypes)) ? kTypes[type - 1] : PAPPL_SUPPLY_TYPE_UNKNOWN;
    supply.is_consumed = integer(kClass, 3) == 3;  // supplyThatIsConsumed
    supply.color = ColorOf(description->second.text, supply.type);
    supply.level = SupplyLevel(integer(kLevel, -2), integer(kMaxCapacity, -2));
  }
  return count;
}

}  // namespace velmora::printer_app
