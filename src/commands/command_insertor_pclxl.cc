// The PCL XL commands the command generator inserts into the host's page stream.
#include <cstring>
#include <string>

#include "src/commands/command_insertor.h"
#include "src/commands/name_tables.h"
#include "src/support/log.h"

namespace velmora {
namespace {

// PCL XL tags used here.
constexpr std::uint8_t kUbyte = 0xC0;
constexpr std::uint8_t kUint16 = 0xC1;
constexpr std::uint8_t kUbyteArray = 0xC8;
constexpr std::uint8_t kSint16Xy = 0xD3;
constexpr std::uint8_t kReal32Xy = 0xD5;
constexpr std::uint8_t kSint16Box = 0xE3;
constexpr std::uint8_t kAttrUbyte = 0xF8;

constexpr std::uint8_t kAttrColorSpace = 0x03;
constexpr std::uint8_t kAttrMediaSource = 0x26;
constexpr std::uint8_t kAttrMediaType = 0x27;
constexpr std::uint8_t kAttrPageOrigin = 0x2A;
constexpr std::uint8_t kAttrPageScale = 0x2B;
constexpr std::uint8_t kAttrRop3 = 0x2C;
constexpr std::uint8_t kAttrPageCopies = 0x31;
constexpr std::uint8_t kAttrSimplexPageMode = 0x34;
constexpr std::uint8_t kAttrDuplexPageMode = 0x35;
constexpr std::uint8_t kAttrDuplexPageSide = 0x36;
constexpr std::uint8_t kAttrBoundingBox = 0x42;
constexpr std::uint8_t kAttrClipRegion = 0x53;

constexpr std::uint8_t kOpEndPage = 0x44;
constexpr std::uint8_t kOpSetClipRectangle = 0x68;
constexpr std::uint8_t kOpSetColorSpace = 0x6A;
constexpr std::uint8_t kOpSetPageOrigin = 0x75;
constexpr std::uint8_t kOpSetPageScale = 0x77;
constexpr std::uint8_t kOpSetRop = 0x7B;

// PCL XL enumerations of the page-mode attributes.
constexpr std::uint8_t kSimplexFrontSide = 0;
constexpr std::uint8_t kDuplexHorizontalBinding = 0;  // bound along the page's top edge
constexpr std::uint8_t kDuplexVerticalBinding = 1;    // bound along the page's left edge
constexpr std::uint8_t kFrontMediaSide = 0;
constexpr std::uint8_t kBackMediaSide = 1;

// Public device mode values (DMDUP_SIMPLEX, DMDUP_HORIZONTAL, DMORIENT_PORTRAIT).
constexpr std::int16_t kDmDuplexSimplex = 1;
constexpr std::int16_t kDmDuplexShortEdge = 3;
constexpr std::int16_t kDmOrientPortrait = 1;

constexpr std::uint8_t Low(std::int32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
constexpr std::uint8_t High(std::int32_t v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }

}  // namespace

void CCommandInsertor::LogCommandBytes(const WCHAR* method, const std::uint8_t* bytes, std::size_t count) {
  if (!LogIsOn()) return;
  LogMessage(VTEXT("\r\n"));
  LogMessage(VTEXT("==================================================\r\n"));
  LogMessage(method);
  for (std::size_t i = 0; i < count; ++i) {
    WString label = VTEXT("command[");
    for (char c : std::to_string(i)) label.push_back(static_cast<WCHAR>(c));
    label += VTEXT("] = ");
    LogMessageHex(label.c_str(), bytes[i]);
  }
  LogMessage(VTEXT("VELMORA - CCommandInsertor => end\r\n"));
  LogMessage(VTEXT("==================================================\r\n"));
  LogMessage(VTEXT("\r\n"));
}

void CCommandInsertor::OutputPCLXLCommandUbyte(std::uint8_t value, std::uint8_t attribute) {
  const std::uint8_t command[] = {kUbyte, value, kAttrUbyte, attribute};
  WriteRaw(command, sizeof command);
  LogCommandBytes(VTEXT("VELMORA - CCommandInsertor::OutputPCLXLCommandUbyte => start\r\n"), command, sizeof command);
}

void CCommandInsertor::OutputPCLXLUbyteArrayCommand(const std::uint8_t* bytes, std::uint8_t attribute,
                                                    std::uint16_t count) {
  // The count is sent as one byte.
  const std::uint8_t head[] = {kUbyteArray, kUbyte, Low(count)};
  WriteRaw(head, sizeof head);
  for (std::uint16_t i = 0; i < count; ++i) WriteRaw(bytes + i, 1);
  const std::uint8_t tail[] = {kAttrUbyte, attribute};
  WriteRaw(tail, sizeof tail);
  LogCommandBytes(VTEXT("VELMORA - CCommandInsertor::OutputPCLXLUbyteArrayCommand => start\r\n"), head, sizeof head);
}

void CCommandInsertor::OutputPCLXLROP() {
  const std::uint8_t command[] = {kUbyte, 0xCC, kAttrUbyte, kAttrRop3, kOpSetRop};
  WriteRaw(command, sizeof command);
  LogCommandBytes(VTEXT("VELMORA - CCommandInsertor::OutputPCLXLROP => start\r\n"), command, sizeof command);
}

void CCommandInsertor::InsertColorSpacePCLXLCommands() {
  const std::uint8_t attribute[] = {kUbyte, 0x01, kAttrUbyte, kAttrColorSpace};
  WriteRaw(attribute, sizeof attribute);
  const std::uint8_t op = kOpSetColorSpace;
  WriteRaw(&op, 1);
  LogCommandBytes(VTEXT("VELMORA - CCommandInsertor::InsertColorSpacePCLXLCommands => start\r\n"), attribute,
                  sizeof attribute);
}

void CCommandInsertor::OutputPCLXLPageOrigin(std::int16_t x, std::int16_t y) {
  const std::uint8_t attribute[] = {kSint16Xy, Low(x), High(x), Low(y), High(y), kAttrUbyte, kAttrPageOrigin};
  WriteRaw(attribute, sizeof attribute);
  const std::uint8_t op = kOpSetPageOrigin;
  WriteRaw(&op, 1);
}

void CCommandInsertor::OutputPCLXLPageScale() {
  const std::uint8_t attribute[] = {kReal32Xy, 0x00, 0x00, 0x80,       0x3F,          0x00,
                                    0x00,      0x80, 0x3F, kAttrUbyte, kAttrPageScale};
  WriteRaw(attribute, sizeof attribute);
  const std::uint8_t op = kOpSetPageScale;
  WriteRaw(&op, 1);
}

void CCommandInsertor::OutputPCLXLClipRectangle(std::int16_t left, std::int16_t top, std::int16_t right,
                                                std::int16_t bottom) {
  const std::uint8_t command[] = {kSint16Box,   Low(left),  High(left),       Low(top),
                                  High(top),    Low(right), High(right),      Low(bottom),
                                  High(bottom), kAttrUbyte, kAttrBoundingBox, kUbyte,
                                  0x00,         kAttrUbyte, kAttrClipRegion,  kOpSetClipRectangle};
  static_assert(sizeof command == 16);
  WriteRaw(command, sizeof command);
}

void CCommandInsertor::OutputPCLXLEndPage(std::uint16_t copies) {
  const std::uint8_t command[] = {kUint16, Low(copies), High(copies), kAttrUbyte, kAttrPageCopies, kOpEndPage};
  WriteRaw(command, sizeof command);
}

void CCommandInsertor::OutputRawString(const char* text) {
  if (text == nullptr) return;
  WriteRaw(text, static_cast<DWORD>(std::strlen(text)));
}

void CCommandInsertor::OutputRawByte(std::uint8_t value) { WriteRaw(&value, 1); }

HRESULT CCommandInsertor::InsertMediaTrayCommand(VendorData*) {
  if (m_pVendorDM == nullptr) return E_FAIL;
  const std::uint32_t kind = settings().dwSpecialPageKind();
  if (kind == 0) {
    InsertMediaTrayCommandfromInputBin();
    return S_OK;
  }
  if (kind > 3) return E_FAIL;
  InsertMediaTrayCommandforSpecialPages(kind);
  return S_OK;
}

HRESULT CCommandInsertor::InsertMediaTypeCommand(VendorData*) {
  if (m_pVendorDM == nullptr) return E_FAIL;
  const std::uint32_t kind = settings().dwSpecialPageKind();
  if (kind == 0) {
    InsertMediaTypeCommandfromMediaType();
    return S_OK;
  }
  if (kind > 3) return E_FAIL;
  InsertMediaTypeCommandforSpecialPages(kind);
  return S_OK;
}

void CCommandInsertor::InsertMediaTrayCommandfromInputBin() {
  std::unique_ptr<char[]> option = GetCurrentOptionName("InputBin");
  if (!option) return;
  if (auto row = FindInputBin(option.get())) OutputPCLXLCommandUbyte(MediaSourceTable[*row], kAttrMediaSource);
}

void CCommandInsertor::InsertMediaTrayCommandforSpecialPages(std::int64_t kind) {
  auto block = settings().SpecialPage(kind);
  if (!block) return;
  const std::int16_t tray = block->sTrayIndex();
  if (tray < 0 || static_cast<std::size_t>(tray) >= std::size(MediaSourceTable)) return;
  OutputPCLXLCommandUbyte(MediaSourceTable[tray], kAttrMediaSource);
}

void CCommandInsertor::InsertMediaTypeCommandfromMediaType() {
  std::unique_ptr<char[]> option = GetCurrentOptionName("MediaType");
  if (!option) return;
  auto row = FindMediaType(option.get());
  if (!row) return;
  const MediaName& name = PCLXLMediaNameTable[MediaNameRowForMediaType(*row)];
  OutputPCLXLUbyteArrayCommand(reinterpret_cast<const std::uint8_t*>(name.text.data()), kAttrMediaType, name.length);
}

void CCommandInsertor::InsertMediaTypeCommandforSpecialPages(std::int64_t kind) {
  LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertMediaTypeCommandforSpecialPages => start\r\n"));
  auto block = settings().SpecialPage(kind);
  if (block) {
    const std::int16_t media = block->sMediaIndex();
    if (media >= 0 && static_cast<std::size_t>(media) < std::size(PCLXLMediaNameTable)) {
      const MediaName& name = PCLXLMediaNameTable[media];
      OutputPCLXLUbyteArrayCommand(reinterpret_cast<const std::uint8_t*>(name.text.data()), kAttrMediaType,
                                   name.length);
    }
  }
  LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertMediaTypeCommandforSpecialPages => end\r\n"));
}

void CCommandInsertor::InsertPCLCommandsforDuplex(VendorData* pVendorData) {
  if (m_pPublicDM == nullptr || m_pVendorDM == nullptr) return;
  if (m_pPublicDM->dmDuplex == kDmDuplexSimplex) {
    const std::uint8_t simplex[] = {kUbyte, kSimplexFrontSide, kAttrUbyte, kAttrSimplexPageMode};
    WriteRaw(simplex, sizeof simplex);
    LogCommandBytes(VTEXT("VELMORA - CCommandInsertor::InsertPCLCommandsforDuplex => SIMPLEX\r\n"), simplex,
                    sizeof simplex);
    return;
  }
  // A booklet is folded across the sheet, so its leaves turn about the sheet's short edge
  // whichever edge the job names.
  const bool shortEdge = m_pPublicDM->dmDuplex == kDmDuplexShortEdge || settings().bBooklet() != 0;
  const bool landscape = m_pPublicDM->dmOrientation != kDmOrientPortrait;
  // The job names an edge of the sheet, and so does DuplexPageMode: its edges are those
  // of the sheet held upright (vertical: the long edge), whichever way the page stands on
  // it, as a printer and Ghostscript's own writer read it. Both sides of a sheet then
  // name the same binding, also when a document turns some of its pages.
  const std::uint8_t binding = shortEdge ? kDuplexHorizontalBinding : kDuplexVerticalBinding;
  const WCHAR* const names[2][2] = {
      {VTEXT("VELMORA - CCommandInsertor::InsertPCLCommandsforDuplex => DUPLEX(Portrait - Long Edge)\r\n"),
       VTEXT("VELMORA - CCommandInsertor::InsertPCLCommandsforDuplex => DUPLEX(Portrait - Short Edge)\r\n")},
      {VTEXT("VELMORA - CCommandInsertor::InsertPCLCommandsforDuplex => DUPLEX(Landscape - Long Edge)\r\n"),
       VTEXT("VELMORA - CCommandInsertor::InsertPCLCommandsforDuplex => DUPLEX(Landscape - Short Edge)\r\n")},
  };
  // Each page the plug-in sees is one side of a sheet (N-up and booklet sheets are
  // composed before it), so odd pages go on the front and even pages on the back. Before
  // the first page starts the side is unknown and left to the printer, which alternates.
  const DWORD page = pVendorData != nullptr ? pVendorData->dwPageNumber : 0;
  const std::uint8_t side = page % 2 == 1 ? kFrontMediaSide : kBackMediaSide;
  const std::uint8_t duplex[] = {kUbyte, binding, kAttrUbyte, kAttrDuplexPageMode,
                                 kUbyte, side,    kAttrUbyte, kAttrDuplexPageSide};
  const std::size_t count = page == 0 ? 4 : sizeof duplex;
  WriteRaw(duplex, static_cast<DWORD>(count));
  LogCommandBytes(names[landscape][shortEdge], duplex, count);
}

}  // namespace velmora
