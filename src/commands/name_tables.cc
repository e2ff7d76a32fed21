// The tables that turn the host's option names into PJL values and PCL XL attribute values.
#include "src/commands/name_tables.h"

#include "formats/text.h"

namespace velmora {
namespace {

template <typename Rows, typename Key>
std::optional<std::size_t> FindRow(const Rows& rows, std::string_view name, Key key) {
  for (std::size_t row = 0; row < std::size(rows); ++row) {
    if (text::EqualsNoCase(key(rows[row]), name)) return row;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::size_t> FindPaperSize(std::string_view name) {
  return FindRow(PaperSizeTable, name, [](const NamePair& row) { return row.hostOption; });
}

std::optional<std::size_t> FindMediaType(std::string_view name) {
  return FindRow(MediaTypeTable, name, [](const NamePair& row) { return row.hostOption; });
}

std::optional<std::size_t> FindInputBin(std::string_view name) {
  return FindRow(InputBinTable, name, [](std::string_view row) { return row; });
}

}  // namespace velmora
