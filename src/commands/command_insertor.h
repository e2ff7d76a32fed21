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

#include "platform/types.h"
#include "src/frame/host_interface.h"
#include "src/settings/vendor_settings.h"

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

 protected:
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

  // Formats one PJL line in a zero-filled 1024-byte buffer (cut at 1023 bytes) and
  // writes it.
  void WritePjlLine(const char* format, ...);

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
