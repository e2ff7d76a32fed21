// The supply levels of a network printer, read over SNMP (version 1, community "public")
// from the Printer MIB's table of marker supplies (RFC 3805 prtMarkerSuppliesTable), as
// PAPPL reads them for its own network devices.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmora::printer_app {

// Asks the printer at `host` (its SNMP agent at `port`) for its supplies within about
// `timeoutMs` milliseconds; answers how many it filled in, 0 when the printer does not
// answer. Each request has a random id; an answer counts only with that id and from the
// address and port asked.
int QuerySnmpSupplies(const std::string& host, int maxSupplies, pappl_supply_t* supplies, int timeoutMs = 2000,
                      int port = 161);

// A supply's level as PAPPL shows it: percent of `maxCapacity` (100 at most), the MIB's -1
// (other), -2 (unknown) or -3 (some remains), and -2 for any other negative level or a
// level with no capacity to measure it against.
int SupplyLevel(long long level, long long maxCapacity);

// A supply's description as the printer gives it, made UTF-8 text without control
// characters and cut to `maxBytes` between characters.
std::string SupplyDescription(const std::string& text, std::size_t maxBytes);

namespace snmp {

using Oid = std::vector<std::uint32_t>;

// One value of a response: an integer, or the bytes of an octet string.
struct Value {
  Oid oid;
  bool isInteger = false;
  long long integer = 0;
  std::string text;
};

// A GetNextRequest for `oid` with the request id `id`.
std::vector<std::uint8_t> GetNextRequest(std::int32_t id, const Oid& oid);

// The first value of a GetResponse to request `id`; nothing for another request, an
// error status, or bytes that are not a whole response.
std::optional<Value> ParseResponse(std::span<const std::uint8_t> packet, std::int32_t id);

}  // namespace snmp
}  // namespace velmora::printer_app
