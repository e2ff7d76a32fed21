// The size of the largest page of a PJL + PCL XL job: the bytes from its BeginPage's
// attribute list to its EndPage, as bench/whole-job weighs the host's memory against.
// Usage: pxl_page_bytes JOB
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "pxl/reader.h"
#include "pxl/scan.h"

int main(int argc, char** argv) {
  using namespace velmora::pxl;
  if (argc != 2) {
    std::fprintf(stderr, "usage: pxl_page_bytes JOB\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> job{std::istreambuf_iterator<char>(file), {}};
  Reader header(job);
  std::optional<Event> event;
  while ((event = header.Next()) && event->kind != EventKind::kStreamHeader) {
  }
  if (!event) {
    std::fprintf(stderr, "pxl_page_bytes: '%s' holds no PCL XL stream\n", argv[1]);
    return 1;
  }
  OperatorScanner scanner(job, event->byte_order, header.offset());
  std::size_t largest = 0;
  std::size_t pageStart = 0;
  for (ScannedOperator op; scanner.Next(op);) {
    if (op.Is(Op::BeginPage)) pageStart = op.start;
    if (op.Is(Op::EndPage) && op.end - pageStart > largest) largest = op.end - pageStart;
  }
  if (scanner.error()) {
    std::fprintf(stderr, "pxl_page_bytes: '%s' is malformed: %s\n", argv[1], scanner.error()->ToString().c_str());
    return 1;
  }
  std::printf("%zu\n", largest);
  return 0;
}
