// The printer command generator: the PJL job header and trailer and the commands in every page.
#include "src/commands/command_insertor.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "formats/text.h"
#include "platform/last_error.h"
#include "platform/services.h"
#include "src/commands/name_tables.h"
#include "src/support/log.h"

namespace velmora {
namespace {

constexpr char kUel[] = "\x1b%-12345X";

// The PJL value of each hold mode 0-7.
constexpr const char* kHoldValues[] = {"NORMAL", "SAMPLE",  "LOCKED",        "STOREDPRINT",
                                       "STORED", "IDPRINT", "IDPRINTSTORED", "BOXSTORED"};

// The box fields are sent as at most this many bytes of UTF-8.
constexpr std::size_t kBoxFieldBytes = 32;

// Spooler or user text made ready for a PJL line: UTF-8, with the bytes that could end
// the line, the quoted value or the PJL session replaced.
std::string PjlText(WStringView value) { return text::SanitizeForPjl(text::Utf16ToUtf8(value)); }

}  // namespace

CCommandInsertor::CCommandInsertor(std::uint8_t* settings, DEVMODEW* publicDevmode, DEVOBJ* deviceObject,
                                   IPrintOemDriverUni* driverServices, DWORD jobId, HANDLE printer)
    : m_pVendorDM(settings),
      m_pPublicDM(publicDevmode),
      m_pDevObj(deviceObject),
      m_pDriverServices(driverServices),
      m_dwJobId(jobId),
      m_hPrinter(printer) {}

CCommandInsertor::~CCommandInsertor() = default;

void CCommandInsertor::Refresh(std::uint8_t* settings, DEVMODEW* publicDevmode, DEVOBJ* deviceObject,
                               IPrintOemDriverUni* driverServices, DWORD jobId, HANDLE printer) {
  m_pVendorDM = settings;
  m_pPublicDM = publicDevmode;
  m_pDevObj = deviceObject;
  m_pDriverServices = driverServices;
  m_dwJobId = jobId;
  m_hPrinter = printer;
}

HRESULT CCommandInsertor::WriteCommandString(const char* text, std::size_t maxBytes) {
  if (text == nullptr || m_pDevObj == nullptr) return E_FAIL;
  const std::size_t length = text::BoundedLength(text, maxBytes);
  if (length == 0 || length == maxBytes) return S_OK;
  if (m_pDriverServices == nullptr) return E_FAIL;
  DWORD written = 0;
  HRESULT result =
      m_pDriverServices->DrvWriteSpoolBuf(m_pDevObj, const_cast<char*>(text), static_cast<DWORD>(length), &written);
  if (written != length) return E_FAIL;
  return result;
}

void CCommandInsertor::WritePjlLine(const char* format, ...) {
  char line[kPjlLineSize];
  std::memset(line, 0, sizeof line);
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  WriteCommandString(line, kPjlLineSize);
}

void CCommandInsertor::WritePjlTextLine(std::string_view before, std::string_view value, std::string_view after) {
  // The text of a line fills at most the buffer less its NUL. A longer value is cut rather
  // than the line, so that the closing quote and the line end are always written.
  char line[kPjlLineSize];
  std::memset(line, 0, sizeof line);
  const std::size_t room = sizeof line - 1 - before.size() - after.size();
  const std::string_view kept = text::CutUtf8(value, room);
  std::memcpy(line, before.data(), before.size());
  std::memcpy(line + before.size(), kept.data(), kept.size());
  std::memcpy(line + before.size() + kept.size(), after.data(), after.size());
  WriteCommandString(line, kPjlLineSize);
}

void CCommandInsertor::WriteRaw(const void* bytes, DWORD count) {
  if (m_pDriverServices == nullptr || m_pDevObj == nullptr) return;
  DWORD written = 0;
  m_pDriverServices->DrvWriteSpoolBuf(m_pDevObj, const_cast<void*>(bytes), count, &written);
}

std::unique_ptr<char[]> CCommandInsertor::GetCurrentOptionName(const char* keyword) {
  if (m_pDriverServices == nullptr || keyword == nullptr) return nullptr;
  DWORD needed = 0;
  DWORD options = 0;
  platform::SetLastError(ERROR_SUCCESS);
  HRESULT result = m_pDriverServices->DrvGetDriverSetting(m_pDevObj, keyword, nullptr, 0, &needed, &options);
  if (result != E_FAIL || platform::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return nullptr;

  std::unique_ptr<char[]> answer(new (std::nothrow) char[std::size_t{needed} + 1]());
  if (!answer) return nullptr;
  // A standard bin number (below 256) in the device mode means the form's own source.
  if (std::strcmp(keyword, "InputBin") == 0 && m_pPublicDM != nullptr && m_pPublicDM->dmDefaultSource < 256) {
    std::snprintf(answer.get(), std::size_t{needed} + 1, "%s", "FORMSOURCE");
    return answer;
  }
  m_pDriverServices->DrvGetDriverSetting(m_pDevObj, keyword, answer.get(), needed, &needed, &options);
  return answer;
}

HRESULT CCommandInsertor::InsertPJLJobHeader() {
  LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertPJLJobHeader => start\r\n"));
  if (m_pVendorDM == nullptr || m_pPublicDM == nullptr || m_pDevObj == nullptr || m_dwJobId == 0) {
    LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertPJLJobHeader => incomplete, nothing written\r\n"));
    return E_FAIL;
  }
  try {
    InsertPJLJobInfo();
    InsertPJLPaperSize();
    InsertPJLRotateSort();
    InsertPJLOrientation();
    InsertPJLResolution();
    InsertPJLMediaType();
    InsertPJLOutputBin();
    InsertPJLDuplex();
    InsertPJLHold();
    InsertPJLBoxSettings();
    InsertPJLEconomode();
    InsertPJLBrightnessContrast();
    InsertPJLTonerDarkness();
    InsertPJLCopies();
    InsertPJLEnterLanguage();
  } catch (...) {
    LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertPJLJobHeader => failed\r\n"));
    return E_FAIL;
  }
  LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertPJLJobHeader => end\r\n"));
  return S_OK;
}

void CCommandInsertor::InsertPJLJobInfo() {
  WriteCommandString(kUel, kPjlLineSize);

  auto* spooler = platform::Current().spooler;
  std::optional<platform::JobInfo> job = spooler->Job(m_hPrinter, m_dwJobId);
  if (!job) {
    LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertPJLJobInfo => no job information\r\n"));
    return;
  }
  if (job->printerName) {
    const std::string version = std::string(" ") + kPjlVersionText + "\r\n";
    WritePjlTextLine("@PJL COMMENT ", PjlText(*job->printerName), version);
  }
  if (job->document) {
    const std::string document = PjlText(*job->document);
    WritePjlTextLine("@PJL JOB DISPLAY=\"", document, "\"\r\n");
    WritePjlTextLine("@PJL JOB NAME=\"", document, "\"\r\n");
    WritePjlTextLine("@PJL SET JOBATTR=\"DocumentName=", document, "\"\r\n");
  }
  if (job->machineName) {
    // The spooler names the machine as two backslashes and the host name; the line takes
    // the host name. Only backslashes are taken off: a name without them loses nothing,
    // and no character is cut in two.
    const std::string machine = PjlText(*job->machineName);
    std::size_t skip = 0;
    while (skip < 2 && skip < machine.size() && machine[skip] == '\\') ++skip;
    WritePjlTextLine("@PJL SET JOBATTR=\"ComputerName=", std::string_view(machine).substr(skip), "\"\r\n");
  }
  if (job->userName) {
    WritePjlTextLine("@PJL SET JOBATTR=\"UserName=", PjlText(*job->userName), "\"\r\n");
  }
  const platform::LocalTime now = platform::Current().clock->Now();
  WritePjlLine("@PJL SET JOBATTR=\"ReceptionTime=%d:%d:%d %d/%d/%d\"\r\n", now.hour, now.minute, now.second, now.year,
               now.month, now.day);
}

void CCommandInsertor::InsertPJLPaperSize() {
  const char* value = "CUSTOMSIZE";
  std::unique_ptr<char[]> option = GetCurrentOptionName("PaperSize");
  if (option && !text::EqualsNoCase(option.get(), "CUSTOMSIZE")) {
    if (auto row = FindPaperSize(option.get())) value = PaperSizeTable[*row].pjlValue.data();
  }
  WritePjlLine("@PJL SET PAPER=%s\r\n", value);
}

void CCommandInsertor::InsertPJLRotateSort() {
  WritePjlLine("@PJL SET ROTATESORT=%s\r\n", settings().bRotateSort() == 1 ? "ON" : "OFF");
}

void CCommandInsertor::InsertPJLOrientation() {
  WritePjlLine("@PJL SET ORIENTATION=%s\r\n", m_pPublicDM->dmOrientation == 1 ? "PORTRAIT" : "LANDSCAPE");
}

void CCommandInsertor::InsertPJLResolution() {
  WritePjlLine("@PJL SET RESOLUTION=%d\r\n", settings().sResolution() == 1200 ? 1200 : 600);
}

void CCommandInsertor::InsertPJLMediaType() {
  const char* value = "AUTOSELECT";
  std::unique_ptr<char[]> option = GetCurrentOptionName("MediaType");
  if (option) {
    if (auto row = FindMediaType(option.get())) value = MediaTypeTable[*row].pjlValue.data();
  }
  WritePjlLine("@PJL SET MEDIATYPE=%s\r\n", value);
}

void CCommandInsertor::InsertPJLOutputBin() {
  const std::uint32_t bin = settings().dwOutputBin();
  if (bin == 1 || bin == 2) WritePjlLine("@PJL SET OUTBIN=%s\r\n", bin == 1 ? "UPPER" : "EXTRA");
  // Stapling can be asked for only with these bins.
  if (bin == 0 || bin == 2) WritePjlLine("@PJL SET STAPLE=%s\r\n", settings().bStaple() != 0 ? "TOPLEFT" : "OFF");
}

void CCommandInsertor::InsertPJLDuplex() {
  const int duplex = m_pPublicDM->dmDuplex;
  WritePjlLine("@PJL SET DUPLEX=%s\r\n", duplex == 1 ? "OFF" : "ON");
  if (duplex != 1) WritePjlLine("@PJL SET BINDING=%s\r\n", duplex == 3 ? "SHORTEDGE" : "LONGEDGE");
}

void CCommandInsertor::InsertPJLHold() {
  const std::int32_t hold = settings().eHoldMode();
  if (hold < 0 || hold > 7) return;
  WritePjlLine("@PJL SET HOLD=%s\r\n", kHoldValues[hold]);
}

void CCommandInsertor::InsertPJLBoxSettings() {
  // A printer without the value, or one that cannot be read, counts as authenticating
  // users itself: no file box lines.
  std::uint32_t userAuthentication = 1;
  auto* spooler = platform::Current().spooler;
  if (auto value = spooler->ReadPrinterData(m_hPrinter, VTEXT("UserAuthentication"));
      value && value->bytes.size() <= 4) {
    userAuthentication = 0;
    for (std::size_t i = 0; i < value->bytes.size(); ++i)
      userAuthentication |= std::uint32_t{value->bytes[i]} << (8 * i);
  }

  const std::int32_t hold = settings().eHoldMode();
  auto boxField = [](const WString& value) { return PjlText(WStringView(value)); };
  auto writePrintBoxDir = [&] {
    const std::string dir = boxField(settings().szPrintBoxDir());
    WritePjlTextLine("@PJL SET PRINTBOXDIR=\"", text::CutUtf8(dir, kBoxFieldBytes), "\"\r\n");
  };
  if (hold > 0 && userAuthentication == 0) {
    if (hold == 7) {
      writePrintBoxDir();
      return;
    }
    const std::string name = boxField(settings().szFileBoxName());
    const std::string password = boxField(settings().szFileBoxPassword());
    WritePjlTextLine("@PJL SET FILEBOXNAME=\"", text::CutUtf8(name, kBoxFieldBytes), "\"\r\n");
    WritePjlTextLine("@PJL SET FILEBOXPASSWORD=\"", text::CutUtf8(password, kBoxFieldBytes), "\"\r\n");
    return;
  }
  if (hold == 7) writePrintBoxDir();
}

void CCommandInsertor::InsertPJLEconomode() {
  WritePjlLine("@PJL SET ECONOMODE=%s\r\n", settings().bEconoMode() == 1 ? "ON" : "OFF");
}

void CCommandInsertor::InsertPJLBrightnessContrast() {
  WritePjlLine("@PJL SET BRIGHTNESS=\"A:%d\"\r\n", settings().sBrightness());
  WritePjlLine("@PJL SET CONTRAST=\"A:%d\"\r\n", settings().sContrast());
}

void CCommandInsertor::InsertPJLTonerDarkness() {
  WritePjlLine("@PJL SET TONERDARKNESS=%d\r\n", settings().sTonerDarkness());
}

void CCommandInsertor::InsertPJLCopies() {
  if (m_pPublicDM->dmCollate == 0) {
    WritePjlLine("@PJL SET COPIES=%d\r\n", m_pPublicDM->dmCopies);
    return;
  }
  WritePjlLine("@PJL SET QTY=%d\r\n", m_pPublicDM->dmCopies);
}

void CCommandInsertor::InsertPJLEnterLanguage() { WritePjlLine("@PJL ENTER LANGUAGE=%s\r\n", "PCLXL"); }

void CCommandInsertor::InsertEOJCmd() {
  LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertEOJCmd => start\r\n"));
  // CloseDataSource and EndSession close the host's PCL XL session.
  const std::uint8_t closeSession[] = {0x49, 0x42};
  WriteRaw(closeSession, sizeof closeSession);
  WriteCommandString(kUel, kPjlLineSize);
  WriteCommandString("@PJL EOJ\r\n", kPjlLineSize);
  WriteCommandString(kUel, kPjlLineSize);
  LogMessage(VTEXT("VELMORA - CCommandInsertor::InsertEOJCmd => end\r\n"));
}

}  // namespace velmora
