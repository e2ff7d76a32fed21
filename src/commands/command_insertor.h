// CCommandInsertor: the printer command generator. It writes the PJL job header and the
// end-of-job trailer around the host's PCL XL stream, and the PCL XL commands the
// plug-in inserts into pages.
//
// Every PJL line goes through WriteCommandString, which hands it to the host's spool
// buffer (DrvWriteSpoolBuf). The generator owns none of the pointers it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "formats/host_interface.h"
#include "formats/vendor_settings.h"
#include "platform/types.h"
#include "src/job/vendor_data.h"

namespace velmora {

// The version text of the job's COMMENT line: the version and 14 blanks (24 characters).
inline constexpr char kPjlVersionText[] = "2.23.2.321              ";
static_assert(sizeof(kPjlVersionText) - 1 == 24);

// The size of the buffer each PJL line is formatted in.
inline constexpr std::size_t kPjlLineSize = 1024;

class CCommandInsertor {
 public:
  // settings: the record's body; publicDevmode: the job's public device mode;
  // deviceObject: the first argument of every host call; driverServices: the host's
  // driver services (may be null); jobId, printer: the spooler's job and printer.
  CCommandInsertor(std::uint8_t* settings, DEVMODEW* publicDevmode, DEVOBJ* deviceObject,
                   IPrintOemDriverUni* driverServices, DWORD jobId, HANDLE printer);
  virtual ~CCommandInsertor();

  CCommandInsertor(const CCommandInsertor&) = delete;
  CCommandInsertor& operator=(const CCommandInsertor&) = delete;

  // Points the generator at the current callback's settings, device mode, device object,
  // driver services, job and printer. The vendor object outlives documents and devices,
  // so every callback brings the generator up to date before it writes.
  void Refresh(std::uint8_t* settings, DEVMODEW* publicDevmode, DEVOBJ* deviceObject,
               IPrintOemDriverUni* driverServices, DWORD jobId, HANDLE printer);

  // Writes the UEL and the PJL job header. E_FAIL when the generator lacks its settings,
  // device mode, device object or job id (nothing written), or when a step failed.
  HRESULT InsertPJLJobHeader();

  // Writes CloseDataSource and EndSession, then the PJL end-of-job trailer.
  void InsertEOJCmd();

  // Writes a NUL-terminated text of at most maxBytes bytes (without its NUL) to the job.
  // S_OK for an empty or unterminated text (nothing written); E_FAIL for a missing text
  // or device object, or when the host wrote fewer bytes than asked.
  HRESULT WriteCommandString(const char* text, std::size_t maxBytes);

  // The host's current option of a printer feature ("PaperSize", "MediaType",
  // "InputBin") as NUL-terminated text, or null when the host cannot say.
  std::unique_ptr<char[]> GetCurrentOptionName(const char* keyword);

  // PCL XL writers. Each sequence is written with one DrvWriteSpoolBuf call unless said
  // otherwise; the written count is ignored.

  // C0 value F8 attribute: one ubyte attribute.
  void OutputPCLXLCommandUbyte(std::uint8_t value, std::uint8_t attribute);
  // C8 C0 count, then each element in its own write, then F8 attribute.
  void OutputPCLXLUbyteArrayCommand(const std::uint8_t* bytes, std::uint8_t attribute, std::uint16_t count);
  // SetROP with ROP3 204.
  void OutputPCLXLROP();
  // SetColorSpace with eGray.
  void InsertColorSpacePCLXLCommands();
  // SetPageOrigin (x, y).
  void OutputPCLXLPageOrigin(std::int16_t x, std::int16_t y);
  // SetPageScale (1.0, 1.0).
  void OutputPCLXLPageScale();
  // SetClipRectangle over the box, interior region.
  void OutputPCLXLClipRectangle(std::int16_t left, std::int16_t top, std::int16_t right, std::int16_t bottom);
  // EndPage with PageCopies.
  void OutputPCLXLEndPage(std::uint16_t copies);
  // A NUL-terminated byte string without its NUL.
  void OutputRawString(const char* text);
  // One byte (a bare operator).
  void OutputRawByte(std::uint8_t value);

  // Streams the data part of an overlay file (everything after its data marker) into the
  // job in chunks of 4096 bytes. A file that cannot be opened, or whose first chunk holds
  // no data marker, plays nothing.
  void InsertOverlayFileData(WString overlayFile);

  // The page's MediaSource attribute: the host's input bin for ordinary pages, the
  // special-page block's tray otherwise. E_FAIL for an unknown special-page kind.
  HRESULT InsertMediaTrayCommand(VendorData* pVendorData);
  // The page's MediaType attribute, chosen the same way.
  HRESULT InsertMediaTypeCommand(VendorData* pVendorData);
  // The page's page-mode attributes: SimplexPageMode for a simplex job; for a duplex job
  // DuplexPageMode (the binding edge, the sheet's short edge for a booklet) and
  // DuplexPageSide (front for odd pages, back for even ones).
  void InsertPCLCommandsforDuplex(VendorData* pVendorData);

 protected:
  void InsertMediaTrayCommandfromInputBin();
  void InsertMediaTrayCommandforSpecialPages(std::int64_t kind);
  void InsertMediaTypeCommandfromMediaType();
  void InsertMediaTypeCommandforSpecialPages(std::int64_t kind);

  // Logs a written command byte by byte, framed by rule lines.
  void LogCommandBytes(const WCHAR* method, const std::uint8_t* bytes, std::size_t count);

  // The header's line writers, in the order the header calls them.
  void InsertPJLJobInfo();
  void InsertPJLPaperSize();
  void InsertPJLRotateSort();
  void InsertPJLOrientation();
  void InsertPJLResolution();
  void InsertPJLMediaType();
  void InsertPJLOutputBin();
  void InsertPJLDuplex();
  void InsertPJLHold();
  void InsertPJLBoxSettings();
  void InsertPJLEconomode();
  void InsertPJLBrightnessContrast();
  void InsertPJLTonerDarkness();
  void InsertPJLCopies();
  void InsertPJLEnterLanguage();

  // Formats one PJL line of fixed texts and numbers in a zero-filled 1024-byte buffer
  // and writes it.
  void WritePjlLine(const char* format, ...);

  // Writes the PJL line `before` + value + `after`, where the value is spooler or user
  // text of any length. The value is cut, never inside a UTF-8 character, so that the
  // line keeps within 1023 bytes and always ends with `after`.
  void WritePjlTextLine(std::string_view before, std::string_view value, std::string_view after);

  // Writes raw bytes with DrvWriteSpoolBuf; the written count is ignored.
  void WriteRaw(const void* bytes, DWORD count);

  VendorSettings settings() const { return VendorSettings(m_pVendorDM); }

  std::uint8_t* m_pVendorDM;
  DEVMODEW* m_pPublicDM;
  DEVOBJ* m_pDevObj;
  IPrintOemDriverUni* m_pDriverServices;
  DWORD m_dwJobId;
  HANDLE m_hPrinter;
};

}  // namespace velmora
