// CUnidrvInterface: the vendor object, the one implementation of the job processor.
//
// One vendor object serves every device of one plug-in object. It keeps the job id and
// page number through the job-control events, dispatches the host's command callbacks,
// adjusts the page, sees the drawing calls and rewrites the final job data.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/claimed_file.h"
#include "src/commands/command_insertor.h"
#include "src/job/vendor_protocol.h"
#include "src/watermark/watermark_renderer.h"

namespace velmora {

// The result of a search that found nothing.
inline constexpr std::int32_t SEARCH_KEY_STRING_NOT_FOUND = -1;

// Overlay capture states of the final data.
inline constexpr std::int32_t OVL_DATA_BEGINS = 0;  // waiting for the begin marker
inline constexpr std::int32_t OVL_DATA_VALID = 1;   // copying into the overlay file
inline constexpr std::int32_t OVL_DATA_ENDS = 2;    // the end marker is in the current data
inline constexpr std::int32_t OVL_DATA_DONE = 3;    // capture complete

class CUnidrvInterface : public CUnidrvPrintVendorProtocol {
 public:
  CUnidrvInterface();
  ~CUnidrvInterface() override;

  void Initialize(DEVOBJ* pdevobj, IPrintOemDriverUni* driverServices, HANDLE hPrinter, const WCHAR* printerName,
                  DWORD* result, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM, VendorData* pVendorData,
                  void* gdiInfo) override;
  void Release(std::uint8_t* pVendorDM, VendorData* pVendorData) override;
  HRESULT Reset(DEVMODEW* oldPublicDM, std::uint8_t* oldVendorDM, VendorData* oldVendorData, DEVMODEW* newPublicDM,
                std::uint8_t* newVendorDM, VendorData* newVendorData) override;
  HRESULT MergeDevMode(DWORD mode, HANDLE hPrinter, DEVMODEW* publicDMIn, DEVMODEW* publicDMOut, void* pVendorData,
                       std::uint8_t* vendorDMIn, std::uint8_t* vendorDMOut) override;
  HRESULT GetPDLStreamForJobControlEvents(DWORD event, std::uint8_t** stream, DWORD* streamSize, DEVOBJ* pdevobj,
                                          VendorData* pVendorData, const WCHAR* documentName, DWORD jobId,
                                          HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM,
                                          DWORD* moreData, void** cookie) override;
  HRESULT GetImageData(std::uint8_t** image, DWORD* imageSize, VendorData* pVendorData, void* sourceBitmap,
                       void* bitmapHeader, void* colorTable, HANDLE hPrinter, DEVMODEW* pPublicDM,
                       std::uint8_t* pVendorDM, DWORD callbackId, void* parameters) override;
  HRESULT GPDCallbackCommand(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData, DWORD callbackId,
                             DWORD parameterCount, DWORD* parameters, void* output, DWORD outputSize,
                             DWORD* written) override;
  HRESULT ModifyFinalPrintData(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData, std::uint8_t* buffer,
                               DWORD size) override;
  HRESULT GetHalftonePattern(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM, VendorData* pVendorData,
                             std::uint8_t* pattern, DWORD patternWidth, DWORD patternHeight, DWORD patternCount,
                             DWORD callbackId, std::uint8_t* resource, DWORD resourceSize) override;
  HRESULT UpdatePDev(HANDLE hPrinter, DEVMODEW* pPublicDM, std::uint8_t* pVendorDM, VendorData* pVendorData,
                     DWORD adjustmentType, void* buffer, DWORD size, BOOL* done) override;
  BOOL OEMBitBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate, RECTL* targetRect,
                 POINTL* sourcePoint, POINTL* maskPoint, BRUSHOBJ* brush, POINTL* brushOrigin, ROP4 rop) override;
  BOOL OEMStretchBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                     COLORADJUSTMENT* colorAdjustment, POINTL* halftoneOrigin, RECTL* targetRect, RECTL* sourceRect,
                     POINTL* maskPoint, ULONG mode) override;
  BOOL OEMStretchBltROP(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* translate,
                        COLORADJUSTMENT* colorAdjustment, POINTL* halftoneOrigin, RECTL* targetRect, RECTL* sourceRect,
                        POINTL* maskPoint, ULONG mode, BRUSHOBJ* brush, ROP4 rop) override;
  BOOL OEMTextOut(SURFOBJ* surface, STROBJ* text, FONTOBJ* font, CLIPOBJ* clip, RECTL* extraRect, RECTL* opaqueRect,
                  BRUSHOBJ* foreground, BRUSHOBJ* opaque, POINTL* brushOrigin, MIX mix) override;

  // The module gate: false for the driver test tools that must print without this
  // plug-in's additions.
  bool IsSupportedPrintingModule(std::uint8_t* pVendorDM, HANDLE hPrinter);

  // Offset of the first match of the current search key in the buffer, or
  // SEARCH_KEY_STRING_NOT_FOUND.
  std::int32_t GetSearchKeyStringIndex(const std::uint8_t* buffer, DWORD size);
  // Writes 'C' over the first byte of every match of the current key; always
  // SEARCH_KEY_STRING_NOT_FOUND.
  std::int32_t ReplaceFontNameIfFound(std::uint8_t* buffer, DWORD size);
  // Makes `key` (at most 31 bytes) the current search key.
  void SetSearchKey(const char* key);

  // The start-of-page set-up: capture marker or underlay, page origin with the binding
  // shift, page scale, clip rectangle of a capture, colour space, raster operation.
  void HandlePCL6StartPageEventforCommandInsertion(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData);

  // The overlay set-up of a job: reads the printer's overlay folder and list and sets the
  // overlay paths; a capture job also gets its overlay file. Turns overlays off for the job
  // when they cannot be set up. Always 0.
  std::int32_t InitializeOverlayParameters(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData);
  // Starts the capture of a capture job: claims the overlay's work file and writes the
  // header line into it (a raster job's header-only overlay is put in place at once). 1,
  // with overlays off for the job, when the overlay exists already, another job is
  // capturing it, or its file cannot be created; else 0.
  std::int32_t CreateOVLFileAndInsertOverlayHeader(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData);
  // Plays the overlay of the current page.
  void InsertPCLOverlayData(std::uint8_t* pVendorDM, VendorData* pVendorData);
  // Captures a capture job's data between its markers into the overlay file, with the font
  // names changed. The data go to the claimed work file beside the overlay, which takes the
  // overlay's name when the end marker arrives. 1 when the work file cannot be written or
  // put in place (the capture then fails and leaves no overlay) and for every later buffer
  // of that capture job, else 0.
  std::int32_t ModifyPCLXLPrintData(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData,
                                    std::uint8_t* buffer, DWORD size);

  std::int32_t captureState() const { return m_iSearchKeyCount; }
  const WString& overlayFile() const { return m_strOverlayFile; }
  const WString& overlayFileEven() const { return m_strOverlayFileEven; }
  const WString& overlayName() const { return m_strOverlayName; }

  CCommandInsertor* commandInsertor() const { return m_cmdInsertor.get(); }
  CWaterMarkRenderrer* watermarkRenderer() const { return m_WMRender.get(); }
  bool searchKeyFound() const { return m_bSearchKeyFound != 0; }

 private:
  // Creates the command generator on first need, and otherwise points it at this
  // callback's device, settings, device mode, printer and job.
  void PrepareCommandInsertor(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData);
  // Creates the watermark renderer on first need and hands it this document's values.
  void PrepareWatermarkRenderer(DEVOBJ* pdevobj, std::uint8_t* pVendorDM, VendorData* pVendorData);
  // True when the job is being deleted, deleted or restarted.
  bool JobIsStopping(HANDLE hPrinter, DWORD jobId);
  // Ends a capture that cannot complete: logs what failed on which path and why, removes
  // its work file, captures nothing more, and fails the job's buffers from here on with
  // the error code and text.
  void FailCapture(const WString& what, const WString& path, const WString& reason, std::string errorText,
                   DWORD errorCode);

  WString m_strOverlayFile;
  WString m_strOverlayFileEven;
  WString m_strOverlayName;
  // The work file of the capture in progress, claimed until the overlay is in place.
  platform::ClaimedFile m_captureFile;
  // Why the capture of this vendor object's current capture job failed, as the thread's
  // last error tells it to the host; empty while it has not.
  struct CaptureFailure {
    DWORD code;
    std::string text;
  };
  std::optional<CaptureFailure> m_captureFailure;
  std::int32_t m_iSearchKeyCount = OVL_DATA_BEGINS;
  std::uint8_t m_bSearchKeyFound = 0;
  std::int32_t m_iSearchKeyLength = 0;
  char m_szSearchKey[32] = {};
  IPrintOemDriverUni* m_pDriverServices = nullptr;
  // The last bytes of the job data seen so far that are not yet copied or discarded: a
  // marker or font name may continue in the next buffer. Never longer than the longest
  // key less one byte.
  std::vector<std::uint8_t> m_captureCarry;
  std::unique_ptr<CCommandInsertor> m_cmdInsertor;
  std::unique_ptr<CWaterMarkRenderrer> m_WMRender;
  // Set by the start-of-document event, so that the renderer begins each document with
  // fresh state at the document's start command. The document start that follows a
  // device reset carries no job id and so no event: the document goes on.
  bool m_bDocumentStarted = false;
};

}  // namespace velmora
