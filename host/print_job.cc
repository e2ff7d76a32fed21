// One print job through the plug-in, in the host's calling order, from device mode to release.
#include "host/print_job.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

#include "formats/vendor_devmode.h"
#include "formats/watermark_settings.h"
#include "host/device_mode.h"
#include "host/host_device.h"
#include "host/host_error.h"
#include "host/job_notices.h"
#include "host/job_output.h"
#include "host/plugin_module.h"
#include "host/printer_commands.h"
#include "host/printer_description.h"
#include "host/sheet_layout.h"
#include "host/spool_buffer.h"
#include "host/watermark_context.h"
#include "platform/last_error.h"
#include "platform/paper_model.h"
#include "platform/printer_admin.h"
#include "platform/private_profile.h"
#include "platform/process.h"
#include "platform/services.h"
#include "platform/text_encoding.h"

namespace velmora::host {
namespace {

constexpr std::int16_t kDmOrientPortrait = 1;
constexpr std::int16_t kDmOrientLandscape = 2;
// The device adjustment that asks for the imageable area: a rectangle of left, top,
// right and bottom in device dots, which the plug-in moves for custom margins.
constexpr DWORD kAdjustImageableOriginArea = 8;

// True when the job names its paper itself: its pages are then fitted to that paper
// rather than printed each on a paper like its own.
bool JobFixesPaper(const PrintRequest& request) {
  if (request.choices.count(kFeaturePaperSize) != 0) return true;
  for (const SettingAssignment& setting : request.settings) {
    for (const char* field : {"dmPaperSize", "dmFormName", "dmPaperLength", "dmPaperWidth"}) {
      if (setting.name == field) return true;
    }
  }
  return false;
}

// True when the job names its orientation itself: the document's paper is then turned
// the job's way, whichever way the pages stand.
bool JobFixesOrientation(const PrintRequest& request) {
  if (request.choices.count(kFeatureOrientation) != 0) return true;
  for (const SettingAssignment& setting : request.settings) {
    if (setting.name == "dmOrientation") return true;
  }
  return false;
}

// The paper the printer description has for a media size number of a page.
const Paper* PaperOfMediaSize(int mediaSize) {
  if (mediaSize < 0) return nullptr;
  for (const Paper& paper : kPapers) {
    if (paper.mediaSize == mediaSize) return &paper;
  }
  return nullptr;
}

// Tells the job's user of each watermark section the job asks for that the printer's
// watermark settings file does not hold intact: the plug-in then draws nothing for it,
// and the job would otherwise print without its watermark and without a word.
void TellOfMissingWatermarks(const VendorSettings& settings, const WString& printer,
                             const std::function<void(const std::string&)>& notice) {
  if (!notice) return;
  std::vector<std::int32_t> sections;
  if (settings.sFP_SectionIndex() > 0) sections.push_back(settings.sFP_SectionIndex());
  // The next-pages section is used only by the usages that tell first and next pages apart.
  const std::int32_t usage = settings.eWMUsage();
  const bool nextPagesUsed = usage == WM_FIRSTPAGE_OTHERPAGE || usage == WM_EVEN_ODDPAGES;
  if (nextPagesUsed && settings.sNP_SectionIndex() > 0 && settings.sNP_SectionIndex() != settings.sFP_SectionIndex()) {
    sections.push_back(settings.sNP_SectionIndex());
  }
  if (sections.empty()) return;
  const std::optional<WString> path = WatermarkSettingsPath(printer);
  for (const std::int32_t section : sections) {
    const bool intact = path && platform::ReadProfileStruct(*path, WatermarkSectionName(section), kWatermarkKey,
                                                            WatermarkSettings::kSize);
    if (intact) continue;
    notice("Watermark section " + std::to_string(section) + " is not in the watermark settings" +
           (path ? " '" + platform::Utf16ToUtf8(*path) + "'" : std::string()) + " of printer '" +
           platform::Utf16ToUtf8(printer) + "': the job prints without it");
  }
}

constexpr DWORD kErrorAlreadyExists = 183;        // ERROR_ALREADY_EXISTS
constexpr DWORD kErrorInvalidPrinterName = 1801;  // ERROR_INVALID_PRINTER_NAME

// Opens the printer; the default printer is added to the spooler first when missing.
HANDLE OpenPrinter(const WString& name, bool isDefault) {
  platform::Spooler& spooler = *platform::Current().spooler;
  // Printing needs only the access every user who may print has (platform/spooler.h).
  if (HANDLE printer = spooler.Open(name, platform::PRINTER_ACCESS_USE)) return printer;
  const DWORD error = platform::GetLastError();
  const std::string reason = platform::LastErrorText();
  const std::unique_ptr<platform::PrinterAdmin> admin = platform::OpenPrinterAdmin();
  // A spooler that cannot be reached is not a missing printer: its own reason is told.
  if (error != kErrorInvalidPrinterName) {
    throw HostError("Unable to open printer '" + platform::Utf16ToUtf8(name) + "' in the " + admin->location() + ": " +
                    (reason.empty() ? "error " + std::to_string(error) : reason));
  }
  if (!isDefault)
    throw HostError("Printer '" + platform::Utf16ToUtf8(name) + "' not found in the " + admin->location());
  if (!admin->addsDefaultPrinter()) {
    throw HostError("No printer named, and the " + admin->location() + " has no printer '" +
                    platform::Utf16ToUtf8(name) + "': name a printer, or have an administrator add '" +
                    platform::Utf16ToUtf8(name) + "'");
  }
  auto added = admin->AddPrinter(name);
  HANDLE printer = spooler.Open(name, platform::PRINTER_ACCESS_USE);
  if (printer == nullptr) {
    throw HostError("Unable to create the default printer '" + platform::Utf16ToUtf8(name) + "' in the " +
                    admin->location() + (added ? std::string() : ": " + added.error()));
  }
  return printer;
}

// The device figures for the job's device mode: the printer's, else the generic model's.
platform::DeviceFigures FiguresFor(const WString& printerName, DeviceMode& job) {
  platform::PageSetup setup;
  setup.formName = job.FormName();
  setup.paperSize = job.I16(devmode_offset::kPaperSize);
  setup.orientation = job.I16(devmode_offset::kOrientation);
  setup.printQuality = job.I16(devmode_offset::kPrintQuality);
  setup.yResolution = job.I16(devmode_offset::kYResolution);
  setup.devmode = job.bytes();
  if (auto figures = platform::Current().devices->Figures(printerName, setup)) return *figures;
  return platform::FiguresFor(platform::GenericPaperModel(), setup);
}

// A COM reference the job holds, released when it goes.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(nullptr); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  void Reset(T* object) {
    if (object_ != nullptr) object_->Release();
    object_ = object;
  }
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }

 private:
  T* object_ = nullptr;
};

// Something the job did that is undone when the job ends, whatever happens: at once with
// Now(), or never once dismissed.
class Undo {
 public:
  Undo() = default;
  ~Undo() { Now(); }
  Undo(const Undo&) = delete;
  Undo& operator=(const Undo&) = delete;
  void Arm(std::function<void()> undo) { undo_ = std::move(undo); }
  void Now() {
    if (std::function<void()> undo = std::exchange(undo_, nullptr)) undo();
  }
  void Dismiss() { undo_ = nullptr; }

 private:
  std::function<void()> undo_;
};

// One job through the plug-in. What it opens, starts, references and enables is held by
// members declared in that order, so that they are undone in the reverse order by
// themselves, whatever happens.
class JobRun final : public JobEvents {
 public:
  JobRun(const PrintRequest& request, PageSource& pages) : request_(request), pages_(pages) {}

  PrintResult Run();
  // The job's failure once this process was asked to stop by `request` ("SIGTERM").
  std::string StoppedMessage(const char* request) const;

  BOOL OnStartDoc(const WCHAR*, DWORD jobId) override {
    if (jobId != 0) {
      WriteAt(JobPoint::kJobStart);
      // The plug-in's document start has cleared its cells; the layout reaches it before
      // the start-of-document command, so that the document's watermarks know their cells.
      layoutEscapes_->SendDocumentStart(Escape());
    } else {
      // The document goes on after a device reset: the job's own commands and the
      // document's layout went before, and the new device took the cells over. Only the
      // drawing context for watermarks is found again on the new device.
      layoutEscapes_->FindWatermarkDcField(Escape());
    }
    PublishWatermarkContext();
    WriteAt(JobPoint::kDocStart);
    return spool_->failed() ? kFalse : kTrue;
  }
  BOOL OnStartPage() override {
    WriteAt(JobPoint::kPageStart);
    return spool_->failed() ? kFalse : kTrue;
  }
  BOOL OnSendPage() override { return spool_->failed() ? kFalse : kTrue; }
  BOOL OnEndDoc() override {
    WriteAt(JobPoint::kJobEnd);
    return spool_->failed() ? kFalse : kTrue;
  }

 private:
  void WriteAt(JobPoint point);
  EscapeFunction Escape() {
    return [this](ULONG code, ULONG inSize, void* in, ULONG outSize, void* out) {
      return device_->Escape(code, inSize, in, outSize, out);
    };
  }
  void WriteCommand(const PrinterCommand& command);
  void PublishWatermarkContext();
  void StartWatermarkPage();
  void EndWatermarkPage();
  void EnablePlugin();
  void PrintPages();
  void PlanSheets();
  // Whether the plug-in captures the job into an overlay file (its own copy of the
  // settings, which it turns to no overlay when it cannot).
  bool PluginCaptures();
  SheetPlan Plan();
  bool SheetsReversed() const;
  PageGeometry Geometry() const;
  DrawingPage WatermarkPage() const;
  void AdjustPrintableArea(DEVOBJ* device);
  SheetLayoutSettings Layout();
  bool SheetsHalfTurned();
  bool PaperFromDocument() const;
  bool PagesFollowDocument() const;
  KeptPages Kept();
  std::size_t DocumentPage(std::size_t page) const { return kept_.pages.at(page - 1); }
  std::size_t FirstPageSent();
  void FollowPageFormat(std::size_t page);
  void ResetDevice(std::unique_ptr<DeviceMode> next, std::size_t page);
  bool JobStopping();
  void FailIfStopRequested() const;

  const PrintRequest& request_;
  PageSource& pages_;
  WString printerName_;
  std::unique_ptr<PluginModule> module_;
  HANDLE printer_ = nullptr;
  std::unique_ptr<DeviceMode> devmode_;
  platform::DeviceFigures figures_;
  std::unique_ptr<JobOutput> output_;
  DWORD jobId_ = 0;
  std::unique_ptr<SpoolBuffer> spool_;
  std::unique_ptr<HostDevice> device_;
  std::size_t pagesSent_ = 0;
  bool stoppedByPlugin_ = false;
  // A buffer of a capture job was refused because the job had been deleted: the plug-in
  // deletes the job as soon as the capture is complete, so the rest of the job (its
  // trailer) has nowhere to go when the host's buffering sends it separately.
  bool refusedAfterDeletion_ = false;
  std::unique_ptr<SheetPlan> sheetPlan_;
  // The sheets go last first (the job's output order).
  bool reverseSheets_ = false;
  std::unique_ptr<LayoutEscapes> layoutEscapes_;
  // The document pages the sheets hold (the plan's page n is document page pages[n - 1]).
  KeptPages kept_;
  bool captureJob_ = false;
  // The user was told that a page's size has no paper of its own.
  bool toldOfUnknownSize_ = false;
  // Why the spooler refused the job's bytes, as it said at the first refusal.
  std::string writeError_;
  // The plug-in moved the printable area's edges (custom margins); the drawing origin
  // stays where the device put it, so the printable area lies this far from it.
  bool marginsAdjusted_ = false;
  POINTL marginsShift_{0, 0};
  // The drawing context text watermarks are drawn on; its drawing goes into the page.
  std::unique_ptr<WatermarkContext> watermarkContext_;

  // Declared last and undone first, bottom up: the device and the driver are disabled,
  // the plug-in and the host's services released, an unfinished document ended as
  // failed, the printer closed; the module (above) is unloaded after all of them.
  Undo closePrinter_;
  Undo endDocument_;
  ComRef<HostDriverServices> services_;
  ComRef<IPrintOemUni3> plugin_;
  Undo disableDriver_;
  Undo disableDevice_;
};

void JobRun::WriteAt(JobPoint point) {
  for (const PrinterCommand& command : CommandsAt(point)) WriteCommand(command);
}

// The plug-in keeps the drawing context for text watermarks where the escape said, and
// reads it again at every command callback.
void JobRun::PublishWatermarkContext() {
  if (HANDLE* field = layoutEscapes_->watermarkDcField()) *field = watermarkContext_->handle();
}

// A context that records the drawing holds the page's bytes until the page ends.
void JobRun::StartWatermarkPage() {
  watermarkContext_->StartPage();
  PublishWatermarkContext();
  spool_->SetHold(watermarkContext_->PageHold());
}

// A failed write shows in the spool buffer, which the page loop checks.
void JobRun::EndWatermarkPage() {
  spool_->SetHold({});
  watermarkContext_->EndPage();
  PublishWatermarkContext();
}

void JobRun::WriteCommand(const PrinterCommand& command) {
  if (command.kind == CommandKind::kCallback) {
    // The plug-in writes through the driver services itself; the parameter list is
    // empty but present, as the printer description passes none.
    DWORD parameters[1] = {0};
    int result = 0;
    plugin_->CommandCallback(device_->devobj(), command.callbackId, 0, parameters, &result);
    return;
  }
  const DEVMODEW* dm = devmode_->publicDM();
  CommandSetting setting;
  setting.xResolution = static_cast<int>(figures_.xResolution);
  setting.yResolution = static_cast<int>(figures_.yResolution);
  setting.landscape = dm->dmOrientation == kDmOrientLandscape;
  setting.reversed = SheetsHalfTurned();
  setting.paper = FindPaperByCode(dm->dmPaperSize);
  device_->Write(HostCommandBytes(command.kind, setting));
}

void JobRun::EnablePlugin() {
  // The driver services live as long as anyone holds a reference; the host keeps one.
  services_.Reset(new HostDriverServices(*spool_, JobFeatureOptions(*devmode_, request_.choices)));
  if (FAILED(plugin_->PublishDriverInterface(services_.get()))) {
    throw HostError("The plug-in in '" + module_->path() + "' did not take the host's driver interface");
  }
  DRVENABLEDATA hooks{};
  if (FAILED(plugin_->EnableDriver(PRINTER_OEMINTF_VERSION, sizeof hooks, &hooks))) {
    throw HostError("The plug-in in '" + module_->path() + "' refused to enable the driver");
  }
  disableDriver_.Arm([this] { plugin_->DisableDriver(); });

  const SIZEL area{static_cast<LONG>(figures_.xPrintArea), static_cast<LONG>(figures_.yPrintArea)};
  device_ = std::make_unique<HostDevice>(*spool_, *this, area, static_cast<int>(figures_.xResolution));
  device_->InstallHooks(hooks);
  DEVOBJ* devobj = device_->devobj();
  devobj->hPrinter = printer_;
  devobj->pPublicDM = devmode_->publicDM();
  devobj->pOEMDM = devmode_->record();

  WString name = printerName_;
  void* pdevOEM = nullptr;
  if (FAILED(plugin_->EnablePDEV(devobj, name.data(), 0, nullptr, 0, nullptr, 0, nullptr, device_->HostEnableData(),
                                 &pdevOEM))) {
    throw HostError("The plug-in in '" + module_->path() + "' refused to enable the device");
  }
  devobj->pdevOEM = pdevOEM;
  disableDevice_.Arm([this] { plugin_->DisablePDEV(device_->devobj()); });
  AdjustPrintableArea(devobj);
  device_->SetPageSize({static_cast<LONG>(figures_.xPrintArea), static_cast<LONG>(figures_.yPrintArea)});
  watermarkContext_ = MakeWatermarkContext(WatermarkPage(), [this](std::span<const std::uint8_t> bytes) {
    return device_->Write(bytes.data(), bytes.size());
  });
}

PageGeometry JobRun::Geometry() const {
  PageGeometry geometry;
  geometry.xResolution = static_cast<int>(figures_.xResolution);
  geometry.yResolution = static_cast<int>(figures_.yResolution);
  geometry.physicalWidth = static_cast<int>(figures_.xPhysicalArea);
  geometry.physicalHeight = static_cast<int>(figures_.yPhysicalArea);
  geometry.offsetX = static_cast<int>(figures_.xOffset);
  geometry.offsetY = static_cast<int>(figures_.yOffset);
  geometry.printableWidth = static_cast<int>(figures_.xPrintArea);
  geometry.printableHeight = static_cast<int>(figures_.yPrintArea);
  // Custom margins leave a printable area the pages go into, unless the job places its
  // pages otherwise itself.
  const auto scaling = request_.choices.find(kFeaturePageScaling);
  const std::string_view chosen = scaling != request_.choices.end() ? std::string_view(scaling->second) : "AUTO";
  if (chosen == "FIT" || (chosen == "AUTO" && marginsAdjusted_)) geometry.scaling = PageScaling::kFit;
  if (chosen == "FILL") geometry.scaling = PageScaling::kFill;
  if (chosen == "NONE") geometry.scaling = PageScaling::kNone;
  geometry.selfContainedPages = captureJob_;
  return geometry;
}

DrawingPage JobRun::WatermarkPage() const {
  DrawingPage page;
  page.width = static_cast<int>(figures_.xPrintArea);
  page.height = static_cast<int>(figures_.yPrintArea);
  page.dpiX = static_cast<int>(figures_.xResolution);
  page.dpiY = static_cast<int>(figures_.yResolution);
  page.physicalWidth = static_cast<int>(figures_.xPhysicalArea);
  page.physicalHeight = static_cast<int>(figures_.yPhysicalArea);
  page.offsetX = static_cast<int>(figures_.xOffset);
  page.offsetY = static_cast<int>(figures_.yOffset);
  page.printerName = printerName_;
  page.devmode = devmode_->bytes();
  return page;
}

// The host asks the plug-in to adjust the imageable area of `device` while it enables
// it, and takes the edges it moves (custom margins) as the printable area in `figures_`.
// An area the plug-in leaves empty or moves off the sheet is not taken.
void JobRun::AdjustPrintableArea(DEVOBJ* device) {
  RECTL area{static_cast<LONG>(figures_.xOffset), static_cast<LONG>(figures_.yOffset),
             static_cast<LONG>(figures_.xOffset + figures_.xPrintArea),
             static_cast<LONG>(figures_.yOffset + figures_.yPrintArea)};
  const RECTL before = area;
  BOOL done = kFalse;
  const HRESULT result = plugin_->GetPDEVAdjustment(device, kAdjustImageableOriginArea, &area, sizeof area, &done);
  marginsAdjusted_ = false;
  marginsShift_ = {0, 0};
  const bool moved =
      area.left != before.left || area.top != before.top || area.right != before.right || area.bottom != before.bottom;
  if (FAILED(result) || done == kFalse || !moved) return;
  if (area.left < 0 || area.top < 0 || area.right <= area.left || area.bottom <= area.top ||
      area.right > static_cast<LONG>(figures_.xPhysicalArea) ||
      area.bottom > static_cast<LONG>(figures_.yPhysicalArea)) {
    return;
  }
  marginsShift_ = {area.left - before.left, area.top - before.top};
  figures_.xPrintArea = area.right - area.left;
  figures_.yPrintArea = area.bottom - area.top;
  marginsAdjusted_ = true;
}

// The job's layout settings. An N-up or booklet job also looks at how the document's
// first page lies on the sheet.
SheetLayoutSettings JobRun::Layout() {
  SheetLayoutSettings layout =
      SheetLayoutSettingsOf(devmode_->record() + kVendorHeaderSize, devmode_->publicDM()->dmOrientation);
  if (layout.pagesPerSheet <= 1 && !layout.booklet) return layout;
  if (const std::optional<PageFormat> first = pages_.FormatOf(1)) {
    const double sheetWidth = static_cast<double>(figures_.xPhysicalArea);
    const double sheetHeight = static_cast<double>(figures_.yPhysicalArea);
    layout.pagesAcross = (first->widthInches > first->heightInches && sheetHeight > sheetWidth) ||
                         (first->heightInches > first->widthInches && sheetWidth > sheetHeight);
  }
  layout.orderOnSheet = request_.pdftopdfLayout;
  return layout;
}

// Whether the sheets are turned a half turn: the reverse orientations turn them, and a
// job laid out as CUPS's pdftopdf lays sheets out turns a 2-, 6- or 8-up sheet of
// landscape pages (judged by the first page, as the layout is) once more.
bool JobRun::SheetsHalfTurned() {
  const bool reversed = ReversesOrientation(request_.choices);
  if (!request_.pdftopdfLayout) return reversed;
  const SheetLayoutSettings layout =
      SheetLayoutSettingsOf(devmode_->record() + kVendorHeaderSize, devmode_->publicDM()->dmOrientation);
  const int perSheet = layout.pagesPerSheet;
  if (layout.booklet || (perSheet != 2 && perSheet != 6 && perSheet != 8)) return reversed;
  const std::optional<PageFormat> first = pages_.FormatOf(1);
  const bool landscapePages = first && first->widthInches > first->heightInches;
  return reversed != landscapePages;
}

// A job takes its paper from the document, unless the job names it or captures an
// overlay: N-up and booklet sheets the first page's, and a document printed one page per
// sheet each page's; and the pages' orientation, unless the job names its own.
bool JobRun::PaperFromDocument() const { return !captureJob_ && !JobFixesPaper(request_); }

// The document pages the job's sides hold, and whether a blank side follows them.
KeptPages JobRun::Kept() {
  const SIZEL area{static_cast<LONG>(figures_.xPrintArea), static_cast<LONG>(figures_.yPrintArea)};
  const SheetLayoutSettings layout = Layout();
  return PagesOfKeptSides(request_.sides, pages_.PageCount(), SheetPlan(layout, 0, area).pagesPerSheet());
}

// The page of the first sheet the job sends, where each sheet holds one page.
std::size_t JobRun::FirstPageSent() {
  const KeptPages kept = Kept();
  if (kept.pages.empty()) return 1;
  return reverseSheets_ ? kept.pages.back() : kept.pages.front();
}

bool JobRun::PagesFollowDocument() const {
  const SheetLayoutSettings layout =
      SheetLayoutSettingsOf(devmode_->record() + kVendorHeaderSize, devmode_->publicDM()->dmOrientation);
  return layout.pagesPerSheet <= 1 && !layout.booklet && PaperFromDocument();
}

// Before the sheet of `page`: a page of another paper or orientation than the job's
// current device mode moves the job to a device mode like the page's, as an application
// does with a ResetDC between pages. Before the device exists the job simply starts
// with it. A page of a size no paper has stays on the current paper, fitted onto it.
void JobRun::FollowPageFormat(std::size_t page) {
  const std::optional<PageFormat> format = pages_.FormatOf(page);
  if (!format) return;
  const Paper* paper = PaperOfMediaSize(format->mediaSize);
  if (paper == nullptr) {
    if (toldOfUnknownSize_ || !request_.notice) return;
    toldOfUnknownSize_ = true;
    constexpr double kPointsPerInch = 72.0;
    constexpr double kMillimetresPerInch = 25.4;
    char size[96];
    std::snprintf(size, sizeof size, "%.0f x %.0f pt (%.0f x %.0f mm)", format->widthInches * kPointsPerInch,
                  format->heightInches * kPointsPerInch, format->widthInches * kMillimetresPerInch,
                  format->heightInches * kMillimetresPerInch);
    request_.notice("Page " + std::to_string(page) + " of the job is " + size +
                    ", a size the printer has no paper for: it is fitted onto " +
                    platform::Utf16ToUtf8(devmode_->FormName()) + ", as is any other page of such a size");
    return;
  }
  const std::int16_t orientation = JobFixesOrientation(request_) ? devmode_->I16(devmode_offset::kOrientation)
                                   : format->landscape           ? kDmOrientLandscape
                                                                 : kDmOrientPortrait;
  if (devmode_->I16(devmode_offset::kPaperSize) == paper->paperCode &&
      devmode_->I16(devmode_offset::kOrientation) == orientation) {
    return;
  }
  auto next = std::make_unique<DeviceMode>(*devmode_);
  next->PutI16(devmode_offset::kPaperSize, paper->paperCode);
  next->PutFormName(paper->formName);
  next->PutI16(devmode_offset::kOrientation, orientation);
  if (device_ == nullptr) {
    devmode_ = std::move(next);
    figures_ = FiguresFor(printerName_, *devmode_);
    pages_.SetGeometry(Geometry());
    return;
  }
  ResetDevice(std::move(next), page);
}

// The device moves to the device mode `next` between pages, in the order Windows runs
// a ResetDC in the middle of a document (see "DrvResetPDEV function (winddi.h)" and
// "DrvStartDoc function (winddi.h)"): the new device is enabled, and its imageable area
// adjusted while it is; it takes the old device's state over (DrvResetPDEV); the old
// surface and device are disabled, the new surface enabled; and the document starts
// again on the new device, with no document name and job id 0. That start sends the
// document's set-up commands again but not the job's ("Command Execution Order": the
// DOC_SETUP section is also sent after a ResetDC, JOB_SETUP once per job).
void JobRun::ResetDevice(std::unique_ptr<DeviceMode> next, std::size_t page) {
  DEVOBJ* old = device_->devobj();
  DEVOBJ* spare = device_->Spare();
  spare->pPublicDM = next->publicDM();
  spare->pOEMDM = next->record();
  WString name = printerName_;
  void* pdevOEM = nullptr;
  if (FAILED(plugin_->EnablePDEV(spare, name.data(), 0, nullptr, 0, nullptr, 0, nullptr, device_->HostEnableData(),
                                 &pdevOEM))) {
    throw HostError("The plug-in in '" + module_->path() + "' refused to enable the device for page " +
                    std::to_string(page) + "'s paper");
  }
  spare->pdevOEM = pdevOEM;
  figures_ = FiguresFor(printerName_, *next);
  AdjustPrintableArea(spare);
  plugin_->ResetPDEV(old, spare);
  plugin_->DisablePDEV(old);
  device_->UseSpare();
  devmode_ = std::move(next);
  device_->SetPageSize({static_cast<LONG>(figures_.xPrintArea), static_cast<LONG>(figures_.yPrintArea)});

  services_->SetOptions(JobFeatureOptions(*devmode_, request_.choices));
  watermarkContext_ = MakeWatermarkContext(WatermarkPage(), [this](std::span<const std::uint8_t> bytes) {
    return device_->Write(bytes.data(), bytes.size());
  });
  *sheetPlan_ = Plan();
  pages_.SetGeometry(Geometry());
  // A document start the plug-in refuses stops the job as a refused page would.
  if (!device_->StartDoc(nullptr, 0)) stoppedByPlugin_ = !spool_->failed();
}

bool JobRun::PluginCaptures() {
  auto* record = static_cast<std::uint8_t*>(device_->devobj()->pOEMDM);
  return record != nullptr && VendorSettings(record + kVendorHeaderSize).dwOverlayMode() == CREATE_OVERLAY;
}

void JobRun::PrintPages() {
  const bool followDocument = PagesFollowDocument();
  for (std::size_t index = 0; index < sheetPlan_->sheets().size() && !spool_->failed(); ++index) {
    FailIfStopRequested();
    // An overlay is one page: while the plug-in captures, the document's first sheet is
    // the overlay and the rest is not sent, where it would land in the overlay file with
    // page starts of its own. A capture the plug-in could not start prints whole.
    if (index > 0 && PluginCaptures()) break;
    // One page per sheet; a blank side (before a reversed two-sided job) keeps the paper.
    const std::size_t page = sheetPlan_->sheets()[index].cells.front().page;
    if (followDocument && index > 0 && page != 0) FollowPageFormat(DocumentPage(page));
    if (stoppedByPlugin_ || spool_->failed()) return;
    const std::vector<Sheet>& sheets = sheetPlan_->sheets();
    // The first sheet's layout went with the document's start.
    if (index > 0) layoutEscapes_->SendSheet(Escape(), index);
    StartWatermarkPage();
    // A hook answers false also when the spool buffer could not be written: that is a
    // write failure, not the plug-in stopping the job.
    if (!device_->StartPage()) {
      EndWatermarkPage();
      stoppedByPlugin_ = !spool_->failed();
      return;
    }
    for (const SheetCell& cell : sheets[index].cells) {
      if (cell.page == 0) continue;
      TransformedCanvas canvas(*device_, cell.transform);
      pages_.DrawPage(DocumentPage(cell.page), canvas);
    }
    WriteAt(JobPoint::kPageEnd);
    EndWatermarkPage();
    if (!device_->SendPage()) {
      stoppedByPlugin_ = !spool_->failed();
      return;
    }
    pagesSent_ = index + 1;
    if (request_.progress) request_.progress(index + 1, sheets.size());
  }
  if (!spool_->failed()) pages_.Finish();
}

// The sheets of the job's current device: laid out in its printable area, in the order
// they are sent.
SheetPlan JobRun::Plan() {
  const SIZEL area{static_cast<LONG>(figures_.xPrintArea), static_cast<LONG>(figures_.yPrintArea)};
  kept_ = Kept();
  SheetPlan plan(Layout(), kept_.pages.size(), area);
  plan.Move(marginsShift_.x, marginsShift_.y);
  if (kept_.blankSide) plan.AddBlankSide();
  if (reverseSheets_) plan.Reverse(devmode_->publicDM()->dmDuplex != 1);
  return plan;
}

// Whether the job's sheets go last first. The plug-in counts the sheets as they come: its
// watermarks (first page, odd and even pages, the cells of a last sheet that holds fewer
// pages), odd and even overlays, a booklet's page modes and an overlay capture would land
// on other sheets, so such a job keeps the document's order, and its user is told.
bool JobRun::SheetsReversed() const {
  const auto order = request_.choices.find(kFeatureOutputOrder);
  if (order == request_.choices.end() || order->second != "REVERSE") return false;
  const VendorSettings settings(devmode_->record() + kVendorHeaderSize);
  std::string counted;
  if (settings.sFP_SectionIndex() > 0 || settings.sNP_SectionIndex() > 0) counted = "watermarks depend";
  if (settings.dwOverlayMode() == ODD_EVEN_OVERLAY) counted = "odd and even overlays depend";
  if (settings.dwOverlayMode() == CREATE_OVERLAY) counted = "overlay capture depends";
  if (settings.bBooklet() != 0) counted = "booklet depends";
  if (counted.empty()) return true;
  if (request_.notice) {
    request_.notice("The sheets are sent in the document's order, not reversed: the job's " + counted +
                    " on the order the printer takes the sheets in");
  }
  return false;
}

void JobRun::PlanSheets() {
  sheetPlan_ = std::make_unique<SheetPlan>(Plan());
  for (const auto& entry : request_.specialPages) {
    const std::size_t sheet = entry.first;
    if (sheet < 1 || sheet > sheetPlan_->sheets().size()) {
      throw HostError("The special page " + std::to_string(sheet) + " is not a sheet of the job, which has " +
                      std::to_string(sheetPlan_->sheets().size()) + " sheet(s)");
    }
  }
  layoutEscapes_ = std::make_unique<LayoutEscapes>(*sheetPlan_, request_.specialPages);
}

bool JobRun::JobStopping() {
  auto job = platform::Current().spooler->Job(printer_, jobId_);
  return job && platform::JobIsStopping(job->status);
}

std::string JobRun::StoppedMessage(const char* request) const {
  if (jobId_ == 0) return std::string("The job was stopped by ") + request + " before it started; no output written";
  return "Job " + std::to_string(jobId_) + " on printer '" + platform::Utf16ToUtf8(printerName_) + "' was stopped by " +
         request + " after " + std::to_string(pagesSent_) + " page(s); no output written";
}

// A stop request ends the renderer at once, which fails the page being read; a job whose
// pages are all read already stops at its next sheet, and never commits its output.
void JobRun::FailIfStopRequested() const {
  if (const char* request = platform::StopRequested()) throw HostError(StoppedMessage(request));
}

PrintResult JobRun::Run() {
  const bool isDefault = request_.printerName.empty();
  printerName_ = isDefault ? kDefaultPrinterName : request_.printerName;
  module_ = std::make_unique<PluginModule>(request_.modulePath);
  plugin_.Reset(module_->CreatePlugin());
  printer_ = OpenPrinter(printerName_, isDefault);
  closePrinter_.Arm([this] { platform::Current().spooler->Close(printer_); });

  // The printer's defaults, the application's copy with the job's settings, the merge.
  DeviceMode printerDevmode = DefaultDeviceMode(*plugin_, printer_, printerName_);
  DeviceMode app = printerDevmode;
  ApplySettings(app, request_.settings);
  ApplyOptionChoices(app, request_.choices);
  SettlePublicFields(app, printerDevmode);
  devmode_ = std::make_unique<DeviceMode>(MergeDeviceMode(*plugin_, printer_, app, std::move(printerDevmode)));
  figures_ = FiguresFor(printerName_, *devmode_);
  captureJob_ = VendorSettings(devmode_->record() + kVendorHeaderSize).dwOverlayMode() == CREATE_OVERLAY;
  // The plug-in reads the settings of the printer's name as the spooler stores it, which
  // the job may have named in another case.
  TellOfMissingWatermarks(VendorSettings(devmode_->record() + kVendorHeaderSize),
                          platform::Current().spooler->PrinterName(printer_).value_or(printerName_), request_.notice);
  reverseSheets_ = SheetsReversed();
  const bool captureJob = captureJob_;
  // Pages known before the job starts are planned before it, so that a layout the sheets
  // cannot hold leaves no job behind.
  const bool pagesKnown = !pages_.NeedsPreparing();
  if (pagesKnown) PlanSheets();
  // A document starts rendering now, while the job is being started.
  if (!pagesKnown) pages_.Start(Geometry());

  output_ = std::make_unique<JobOutput>(request_.output, request_.connectTimeoutSeconds);
  platform::Spooler& spooler = *platform::Current().spooler;
  platform::DocInfo doc;
  doc.documentName = request_.title;
  doc.outputFile = platform::Utf8ToUtf16(output_->spoolTarget());
  doc.userName = request_.user;
  if (!request_.machine.empty()) doc.machineName = VTEXT("\\\\") + request_.machine;
  doc.jobId = request_.jobId.value_or(0);
  jobId_ = spooler.StartDocument(printer_, doc);
  if (jobId_ == 0) {
    const bool taken = request_.jobId && platform::GetLastError() == kErrorAlreadyExists;
    throw HostError("Unable to start " + (request_.jobId ? "job " + std::to_string(*request_.jobId) : "a job") +
                    " on printer '" + platform::Utf16ToUtf8(printerName_) + "'" +
                    (taken ? ": the spooler holds a job of that id already" : ""));
  }
  endDocument_.Arm([this] {
    // An unfinished job is ended as failed so that the store does not list it as
    // waiting; one deleted or restarted through the spooler stays as it is.
    platform::Spooler& spooler = *platform::Current().spooler;
    if (!JobStopping()) spooler.FailJob(printer_, jobId_);
    spooler.EndDocument(printer_);
  });
  // A spooler that cannot choose ids (winspool) gives its own.
  if (request_.jobId && *request_.jobId != jobId_) {
    throw HostError("The spooler gave the job id " + std::to_string(jobId_) + ", not the requested " +
                    std::to_string(*request_.jobId));
  }
  if (!pagesKnown) {
    // A document is rendered once the job exists: a document that cannot be printed
    // fails the job, which the store then lists as failed.
    pages_.Prepare(Geometry());
    // The job starts with the paper and orientation of the page it sends first.
    if (PaperFromDocument()) FollowPageFormat(PagesFollowDocument() ? FirstPageSent() : 1);
    PlanSheets();
  }

  auto sink = [this, captureJob](std::uint8_t* bytes, std::size_t count) {
    // The count written is not compared: a job that only captures an overlay is taken
    // whole by the plug-in and never reaches the spooler.
    DWORD written = 0;
    const HRESULT sent = plugin_->WritePrinter(device_->devobj(), bytes, static_cast<DWORD>(count), &written);
    if (SUCCEEDED(sent)) return true;
    // The spooler's words for the failure, before later calls replace them.
    if (writeError_.empty()) writeError_ = platform::LastErrorText();
    if (captureJob && JobStopping()) refusedAfterDeletion_ = true;
    return false;
  };
  spool_ = std::make_unique<SpoolBuffer>(request_.bufferSize, sink);
  EnablePlugin();
  if (marginsAdjusted_) {
    // Custom margins leave a smaller printable area: the sheets are laid out in it, and
    // document pages fitted to it.
    PlanSheets();
    pages_.SetGeometry(Geometry());
  }

  WString title = request_.title;
  const bool started = device_->StartDoc(title.data(), jobId_) != kFalse;
  if (started) {
    PrintPages();
    WriteAt(JobPoint::kDocEnd);
  }
  device_->EndDoc();
  spool_->Flush();

  PrintResult result;
  result.jobId = jobId_;
  result.pages = pagesSent_;
  result.bytes = spool_->sent();
  const bool deleted = JobStopping();
  const bool failed = spool_->failed();
  // The device and the driver are disabled before the document ends, as the host does.
  disableDevice_.Now();
  disableDriver_.Now();

  if (deleted && captureJob && !stoppedByPlugin_ && (!failed || refusedAfterDeletion_)) {
    // The plug-in took the whole job into the overlay file and deleted the job, as it
    // does once a capture is complete: a success with nothing to print.
    endDocument_.Dismiss();
    spooler.EndDocument(printer_);
    result.overlayCaptured = true;
    return result;
  }
  if (deleted) {
    // A restarted job stops here as it does in the plug-in; the spooler prints it again.
    const auto job = spooler.Job(printer_, jobId_);
    const bool restarted = job && (job->status & platform::JOB_STATUS_RESTART) != 0;
    throw HostError("Job " + std::to_string(jobId_) + " on printer '" + platform::Utf16ToUtf8(printerName_) + "' was " +
                    (restarted ? "restarted" : "deleted") + " through the spooler after " + std::to_string(pagesSent_) +
                    " page(s); no output written");
  }
  if (failed && captureJob &&
      VendorSettings(devmode_->record() + kVendorHeaderSize).dwOverlayMode() == CREATE_OVERLAY) {
    // The plug-in refused the job's data while it still captured: the capture failed, and
    // what it swallowed is lost.
    throw HostError("Unable to capture the overlay of job " + std::to_string(jobId_) + " on printer '" +
                    platform::Utf16ToUtf8(printerName_) + "'; nothing was printed" +
                    (writeError_.empty() ? std::string() : ": " + writeError_));
  }
  if (!started || stoppedByPlugin_) {
    throw HostError("The plug-in stopped job " + std::to_string(jobId_) + " after " + std::to_string(pagesSent_) +
                    " page(s); no output written");
  }
  if (failed) {
    throw HostError("Unable to write job " + std::to_string(jobId_) + " to '" + request_.output + "'" +
                    (writeError_.empty() ? std::string() : ": " + writeError_));
  }
  FailIfStopRequested();
  endDocument_.Dismiss();
  if (!spooler.EndDocument(printer_)) {
    const std::string reason = platform::LastErrorText();
    throw HostError("Unable to finish job " + std::to_string(jobId_) + " in '" + request_.output + "'" +
                    (reason.empty() ? std::string() : ": " + reason));
  }
  output_->Commit();
  return result;
}

}  // namespace

PrintResult RunPrintJob(const PrintRequest& request, PageSource& pages) {
  // What the renderer has to tell of the document reaches the job's user as a notice.
  const JobNoticeScope notices(request.notice);
  JobRun run(request, pages);
  try {
    return run.Run();
  } catch (const HostError&) {
    // Whatever failed once this process was asked to stop (the renderer the request
    // ended, a read it interrupted) failed because of the request.
    if (const char* stop = platform::StopRequested()) throw HostError(run.StoppedMessage(stop));
    throw;
  }
}

}  // namespace velmora::host
