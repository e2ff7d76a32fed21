// The supply levels of a network printer, read over SNMP (version 1, community "public")
// from the Printer MIB's table of marker supplies (RFC 3805 prtMarkerSuppliesTable), as
// PAPPL reads them for its own network devices.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmora::printer_app {

// Asks the printer at `host` (port 161) for its supplies within about `timeoutMs`
// milliseconds; answers how many it filled in, 0 when the printer does not answer.
int QuerySnmpSupplies(const std::string& host, int maxSupplies, pappl_supply_t* supplies, int timeoutMs = 2000);

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
