// The host's device: the device object the plug-in receives in every call, the host's
// service table, the drawing surface, the host's own drawing and job functions, and the
// plug-in's hook table through which the graphics engine's calls go.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/host_interface.h"
#include "host/page_source.h"
#include "host/pxl_encoder.h"
#include "host/spool_buffer.h"

namespace velmora {

// The graphics engine's text and font objects, with their published fields. The plug-in
// receives them in TextOut and hands them on to the host's own TextOut.
struct STROBJ {
  ULONG cGlyphs;
  ULONG flAccel;
  ULONG ulCharInc;
  RECTL rclBkGround;
  void* pgp;
  WCHAR* pwszOrg;
};
struct FONTOBJ {
  ULONG iUniq;
  ULONG iFace;
  ULONG cxMax;
  ULONG flFontType;
  std::uintptr_t iTTUniq;
  std::uintptr_t iFile;
  SIZEL sizLogResPpi;
  ULONG ulStyleSize;
  void* pvConsumer;
  void* pvProducer;
};

}  // namespace velmora

namespace velmora::host {

// A text object of the host: the engine's part first, then the run's encoded glyphs,
// which only the host's own TextOut reads. A glyph drawn as a one-bit image carries the
// grey it paints as the stream has it.
struct HostTextRun {
  STROBJ object{};
  std::span<const std::uint8_t> operators;
  std::optional<std::uint8_t> imageGray;
};

// The graphics engine's boolean answers.
inline constexpr BOOL kTrue = 1;
inline constexpr BOOL kFalse = 0;

// What the host's own job functions do, supplied by the job that owns the device.
class JobEvents {
 public:
  virtual ~JobEvents() = default;
  virtual BOOL OnStartDoc(const WCHAR* documentName, DWORD jobId) = 0;
  virtual BOOL OnStartPage() = 0;
  virtual BOOL OnSendPage() = 0;
  virtual BOOL OnEndDoc() = 0;
};

// Surface bitmap formats the host's image functions take.
inline constexpr ULONG BMF_8BPP = 4;   // one grey byte per pixel
inline constexpr ULONG BMF_24BPP = 6;  // blue, green, red per pixel
// A source bitmap of the host's own: its bits are an encoded PCL XL image (SetCursor,
// BeginImage, ReadImage blocks, EndImage), written as they are.
inline constexpr ULONG BMF_HOST_PXL_IMAGE = 0x100;
inline constexpr WORD STYPE_BITMAP = 0;
inline constexpr WORD STYPE_DEVICE = 1;

class HostDevice : public Canvas {
 public:
  HostDevice(SpoolBuffer& spool, JobEvents& events, SIZEL printableArea, int resolution);
  HostDevice(const HostDevice&) = delete;
  HostDevice& operator=(const HostDevice&) = delete;

  DEVOBJ* devobj() { return &devobjs_[current_]; }
  // A device object for the job's next device mode (a mid-document reset): a copy of the
  // current one without the plug-in's device, which the host enables before UseSpare
  // makes it the one every call receives.
  DEVOBJ* Spare();
  void UseSpare();
  // The printable area changed with the device mode or the plug-in's adjustment.
  void SetPageSize(SIZEL printableArea) { surface_.sizlBitmap = printableArea; }
  SURFOBJ* surface() { return &surface_; }

  // The host's own functions by driver function index, as the enable data hands them on.
  DRVENABLEDATA* HostEnableData() { return &hostEnableData_; }
  // Takes the plug-in's hook table: from now on a function the plug-in hooks is called
  // through its hook, every other one is the host's own. Entries without a function or
  // with an index the host does not call are ignored.
  void InstallHooks(const DRVENABLEDATA& hooks);
  // How many of the plug-in's hooks were installed.
  std::size_t hookCount() const { return hookCount_; }

  // The graphics engine's calls, through the hooks.
  BOOL StartDoc(WCHAR* documentName, DWORD jobId);
  BOOL StartPage();
  BOOL SendPage();
  BOOL EndDoc();
  ULONG Escape(ULONG code, ULONG inputSize, void* input, ULONG outputSize, void* output);

  // Canvas.
  SIZEL PageSize() const override { return surface_.sizlBitmap; }
  int Resolution() const override { return resolution_; }
  void FillRect(const RECTL& rect, Color color) override;
  void DrawImage(const GrayImage& image, const RECTL& dest) override;
  void DrawLine(POINTL from, POINTL to, Color color) override;
  void BeginContent(const ContentPlacement& placement) override;
  void EndContent() override;
  // The clip is intersected with the rectangle, in the content's own coordinates, and
  // again after each clip the content replaces.
  void ClipContent(const RECTL& rect) override;
  void WriteContent(std::span<const std::uint8_t> operators) override { Write(operators.data(), operators.size()); }
  void ContentClipReplaced() override;
  Color DrawContentText(const ContentText& text) override;
  void DrawContentImage(const ContentImage& image) override;
  void DrawContentLine(POINTL from, POINTL to, Color color, int width) override;

  // The width in dots of the line LineTo draws: the host's current pen.
  int penWidth() const { return penWidth_; }

  // Appends PCL XL bytes to the job.
  bool Write(const std::vector<std::uint8_t>& bytes) { return spool_.Append(bytes.data(), bytes.size()); }
  bool Write(const void* bytes, std::size_t count) { return spool_.Append(bytes, count); }
  JobEvents& events() { return events_; }

  // The host device behind a surface the engine handed out, or null.
  static HostDevice* FromSurface(SURFOBJ* surface);

 private:
  // The function to call for an index: the plug-in's hook or the host's own.
  PFN Function(ULONG index) const;

  SpoolBuffer& spool_;
  JobEvents& events_;
  int resolution_;
  DRVPROCS procs_{};
  std::array<DEVOBJ, 2> devobjs_{};
  std::size_t current_ = 0;
  SURFOBJ surface_{};
  std::vector<DRVFN> hostFunctions_;
  DRVENABLEDATA hostEnableData_{};
  std::array<PFN, 128> calls_{};
  std::size_t hookCount_ = 0;
  int penWidth_ = 1;
  // The content being drawn: where the printer places it, and the operators that confine
  // it to the rectangles of ClipContent (none: the printer's own clip).
  POINTL contentOrigin_{0, 0};
  int contentTurns_ = 0;
  float contentScale_ = 1.0F;
  std::vector<std::uint8_t> contentClip_;
};

}  // namespace velmora::host
