// The Windows platform layer on the system's own services: winspool, the registry, shell
// folders, psapi, GDI, GDI+ and the private-profile functions. Built only into the Windows
// test program; where Wine answers otherwise than Windows, the test checks Wine's answer
// under RunningUnderWine() and docs/windows.md says why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

// The project's headers come first: they include <windows.h> the project's way, and
// <winspool.h> turns names of platform/spooler.h into macros of the same values.
#include "platform/claimed_file.h"
#include "platform/drawing_context.h"
#include "platform/drawing_recorder.h"
#include "platform/files.h"
#include "platform/image.h"
#include "platform/last_error.h"
#include "platform/module_library.h"
#include "platform/paper_model.h"
#include "platform/printer_admin.h"
#include "platform/private_profile.h"
#include "platform/raw_socket.h"
#include "platform/services.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/device_caps_win32.h"
#include "platform/win32/environment_win32.h"
#include "platform/win32/spooler_win32.h"
#include "tests/fakes/temp_folder.h"
#include "tests/fakes/wine.h"

#include <psapi.h>
#include <winsock2.h>
#include <winspool.h>
// <winspool.h> maps AddPrinter to AddPrinterA, which would rename PrinterAdmin's member.
#undef AddPrinter

#include <objidl.h>
// gdiplus.h uses min and max without defining them; NOMINMAX is set by platform/types.h.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace velmora::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using velmora::testing::RunningUnderWine;

// UTF-16LE bytes of wide text, each unit low byte first.
Bytes Utf16Bytes(std::wstring_view text) {
  Bytes bytes;
  for (wchar_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

Bytes ReadWholeFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

// A folder of the test's own, removed afterwards.
class Win32Folder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = velmora::testing::MakeTempFolder("velmora-win32-");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  WString Path(const char* name) const { return (dir_ / name).wstring(); }

  fs::path dir_;
};

// ---------------------------------------------------------------------------------------
// The spooler: a printer of the test's own on the system's spooler.

// Adds a printer on port FILE: with Wine's PostScript driver (a driver whose files the
// system already holds), and deletes it afterwards.
class Win32Printer : public Win32Folder {
 protected:
  static void SetUpTestSuite() {
    DRIVER_INFO_3W driver{};
    driver.cVersion = 3;
    driver.pName = const_cast<LPWSTR>(kDriver);
    driver.pDriverPath = const_cast<LPWSTR>(L"wineps.drv");
    driver.pDataFile = const_cast<LPWSTR>(L"wineps.drv");
    driver.pConfigFile = const_cast<LPWSTR>(L"wineps.drv");
    driverAdded_ = ::AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)) != FALSE;
    if (!driverAdded_) driverError_ = ::GetLastError();

    PRINTER_INFO_2W info{};
    info.pPrinterName = const_cast<LPWSTR>(kPrinter);
    info.pPortName = const_cast<LPWSTR>(L"FILE:");
    info.pDriverName = const_cast<LPWSTR>(kDriver);
    info.pPrintProcessor = const_cast<LPWSTR>(L"WinPrint");
    info.pDatatype = const_cast<LPWSTR>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    added_ = ::AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (added_ == nullptr) printerError_ = ::GetLastError();
  }
  static void TearDownTestSuite() {
    if (added_ != nullptr) {
      ::DeletePrinter(added_);
      ::ClosePrinter(added_);
      added_ = nullptr;
    }
  }
  void SetUp() override {
    Win32Folder::SetUp();
    ASSERT_TRUE(driverAdded_) << "AddPrinterDriverW failed: error " << driverError_;
    ASSERT_NE(added_, nullptr) << "AddPrinterW failed: error " << printerError_;
  }

  static constexpr const wchar_t* kDriver = L"Velmora Test Driver";
  static constexpr const wchar_t* kPrinter = L"Velmora Test Printer";
  static inline bool driverAdded_ = false;
  static inline DWORD driverError_ = 0;
  static inline HANDLE added_ = nullptr;
  static inline DWORD printerError_ = 0;
  win32::WinSpooler spooler_;
};

TEST_F(Win32Printer, OpensNamesAndClosesThePrinter) {
  EXPECT_EQ(spooler_.Open(L"Velmora No Such Printer", PRINTER_ALL_ACCESS), nullptr);
  HANDLE printer = spooler_.Open(kPrinter, PRINTER_ALL_ACCESS);
  ASSERT_NE(printer, nullptr);
  EXPECT_EQ(spooler_.PrinterName(printer), WString(kPrinter));
  EXPECT_TRUE(spooler_.Close(printer));
}

TEST_F(Win32Printer, PrinterDataKeepsEachTypeAndItsBytes) {
  HANDLE printer = spooler_.Open(kPrinter, PRINTER_ALL_ACCESS);
  ASSERT_NE(printer, nullptr);
  const Bytes multi = Utf16Bytes(std::wstring(L"odd.ovl\0even.ovl\0\0", 18));
  const struct {
    const wchar_t* name;
    PrinterValue value;
  } cases[] = {
      {L"Text", {ValueType::kString, Utf16Bytes(std::wstring(L"C:\\Forms\0", 9))}},
      {L"Binary", {ValueType::kBinary, {0x00, 0xFF, 0x10, 0x80, 0x7F}}},
      {L"Number", {ValueType::kDword, {0x78, 0x56, 0x34, 0x12}}},
      {L"Files", {ValueType::kMultiString, multi}},
      {L"Empty", {ValueType::kBinary, {}}},
      {L"Large", {ValueType::kBinary, Bytes(70000, 0xA5)}},
  };
  for (const auto& c : cases) ASSERT_TRUE(spooler_.WritePrinterData(printer, c.name, c.value)) << c.name;
  for (const auto& c : cases) {
    const auto read = spooler_.ReadPrinterData(printer, c.name);
    ASSERT_TRUE(read.has_value()) << c.name;
    EXPECT_EQ(read->type, c.value.type) << c.name;
    EXPECT_EQ(read->bytes, c.value.bytes) << c.name;
  }
  // Written again, a value is replaced; another handle of the same printer sees it.
  ASSERT_TRUE(spooler_.WritePrinterData(printer, L"Number", {ValueType::kDword, {1, 0, 0, 0}}));
  HANDLE other = spooler_.Open(kPrinter, PRINTER_ALL_ACCESS);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(spooler_.ReadPrinterData(other, L"Number")->bytes, (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(spooler_.ReadPrinterData(other, L"Missing"), std::nullopt);
  EXPECT_TRUE(spooler_.Close(other));
  EXPECT_TRUE(spooler_.Close(printer));
}

TEST_F(Win32Printer, ADocumentGoesToItsOutputFileAsOneJob) {
  HANDLE printer = spooler_.Open(kPrinter, PRINTER_ALL_ACCESS);
  ASSERT_NE(printer, nullptr);
  const WString output = Path("job.pxl");
  const DWORD jobId = spooler_.StartDocument(printer, DocInfo{L"Velmora job", output, L"", L""});
  ASSERT_NE(jobId, 0u);

  const std::string first = "\x1B%-12345X@PJL\r\n";
  const Bytes second(10000, 0xC3);
  DWORD written = 0;
  ASSERT_TRUE(spooler_.Write(printer, first.data(), static_cast<DWORD>(first.size()), &written));
  EXPECT_EQ(written, first.size());
  ASSERT_TRUE(spooler_.Write(printer, second.data(), static_cast<DWORD>(second.size()), &written));
  EXPECT_EQ(written, second.size());

  const auto job = spooler_.Job(printer, jobId);
  ASSERT_TRUE(job.has_value());
  EXPECT_EQ(job->jobId, jobId);
  EXPECT_EQ(job->printerName, WString(kPrinter));
  EXPECT_EQ(job->document, WString(L"Velmora job"));
  EXPECT_EQ(job->status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED), 0u);
  if (RunningUnderWine()) {
    // Wine's job records hold neither the user nor the machine.
    EXPECT_EQ(job->userName, std::nullopt);
    EXPECT_EQ(job->machineName, std::nullopt);
  } else {
    EXPECT_TRUE(job->userName.has_value());
    EXPECT_TRUE(job->machineName.has_value() && job->machineName->starts_with(L"\\\\"));
  }
  EXPECT_EQ(spooler_.Job(printer, jobId + 1000), std::nullopt);

  ASSERT_TRUE(spooler_.EndDocument(printer));
  Bytes expected(first.begin(), first.end());
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(ReadWholeFile(dir_ / "job.pxl"), expected);
  EXPECT_TRUE(spooler_.Close(printer));
}

TEST_F(Win32Printer, AStartedJobCanBeDeleted) {
  HANDLE printer = spooler_.Open(kPrinter, PRINTER_ALL_ACCESS);
  ASSERT_NE(printer, nullptr);
  const DWORD jobId = spooler_.StartDocument(printer, DocInfo{L"Deleted", Path("deleted.pxl"), L"", L""});
  ASSERT_NE(jobId, 0u);
  EXPECT_TRUE(spooler_.DeleteJob(printer, jobId));
  const auto job = spooler_.Job(printer, jobId);
  if (RunningUnderWine()) {
    // Wine's SetJobW accepts JOB_CONTROL_DELETE but leaves the job as it was.
    ASSERT_TRUE(job.has_value());
    EXPECT_EQ(job->status, 0u);
  } else {
    EXPECT_TRUE(!job || (job->status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED)) != 0);
  }
  spooler_.EndDocument(printer);
  EXPECT_TRUE(spooler_.Close(printer));
}

TEST(Win32Spooler, TheClientProcessIsThisOneOrUnknown) {
  win32::WinSpooler spooler;
  const auto process = spooler.ClientProcessId();
  // Outside the spooler, an application prints for itself; Wine's winspool does not export
  // GetPrintExecutionData at all.
  if (RunningUnderWine()) {
    EXPECT_EQ(process, std::nullopt);
  } else if (process) {
    EXPECT_EQ(*process, ::GetCurrentProcessId());
  }
}

// Device figures from a device context of the test's printer.
TEST_F(Win32Printer, DeviceFiguresComeFromTheDeviceContext) {
  win32::GdiDeviceCapabilities devices;
  EXPECT_EQ(devices.Figures(L"Velmora No Such Printer", PageSetup{}), std::nullopt);
  const auto figures = devices.Figures(kPrinter, PageSetup{});
  ASSERT_TRUE(figures.has_value());
  EXPECT_GT(figures->xResolution, 0);
  EXPECT_GT(figures->yResolution, 0);
  if (RunningUnderWine()) {
    // Wine's PostScript driver, with no printer description file for the printer, knows
    // no paper (every size is 0): the printer gets the generic model's figures.
    const DeviceFigures generic = FiguresFor(GenericPaperModel(), PageSetup{});
    EXPECT_EQ(figures->xPhysicalArea, generic.xPhysicalArea);
    EXPECT_EQ(figures->xPrintArea, generic.xPrintArea);
    EXPECT_EQ(figures->yResolution, generic.yResolution);
    return;
  }
  EXPECT_GT(figures->xPrintArea, 0);
  EXPECT_GT(figures->yPrintArea, 0);
  EXPECT_GE(figures->xPhysicalArea, figures->xPrintArea);
  EXPECT_GE(figures->yPhysicalArea, figures->yPrintArea);
  EXPECT_GE(figures->xOffset, 0);
  EXPECT_GE(figures->yOffset, 0);
}

// ---------------------------------------------------------------------------------------
// The environment, the clock and the thread's last error.

TEST_F(Win32Folder, EnvironmentFoldersAndFiles) {
  win32::WinEnvironment environment;
  const auto appData = environment.LocalAppDataFolder();
  ASSERT_TRUE(appData.has_value());
  EXPECT_TRUE(fs::is_directory(*appData)) << fs::path(*appData).string();

  const WString temp = environment.TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_NE(temp.back(), L'\\');
  EXPECT_EQ(temp + L'\\', fs::temp_directory_path().wstring());

  EXPECT_EQ(PathSeparator(), L'\\');
  const WString folder = Path("made");
  EXPECT_TRUE(CreateDirectoryW(folder));
  EXPECT_TRUE(CreateDirectoryW(folder));  // exists already
  EXPECT_FALSE(FileExistsW(folder));      // a folder is no file
  EXPECT_FALSE(CreateDirectoryW(Path("missing\\made")));

  const WString file = folder + L"\\new.bmp";
  std::FILE* created = CreateNewFileW(file);
  ASSERT_NE(created, nullptr);
  EXPECT_GE(std::fputs("first", created), 0);
  std::fclose(created);
  EXPECT_TRUE(FileExistsW(file));
  EXPECT_EQ(CreateNewFileW(file), nullptr);  // never replaced
  std::FILE* appended = OpenFileW(file, "a+b");
  ASSERT_NE(appended, nullptr);
  std::fputs("+more", appended);
  std::fclose(appended);
  const Bytes content = ReadWholeFile(dir_ / "made" / "new.bmp");
  EXPECT_EQ(std::string(content.begin(), content.end()), "first+more");
  EXPECT_EQ(OpenFileW(Path("missing.txt"), "rb"), nullptr);
}

TEST(Win32Environment, TheLoggingSwitchIsReadFromTheRegistry) {
  constexpr const wchar_t* kKey = L"System\\CurrentControlSet\\Control\\Print";
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD on = 1;
  const WORD shortValue = 1;
  ASSERT_EQ(::RegSetValueExW(key, L"VelmoraTestSwitch", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), 4),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(key, L"VelmoraTestShort", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&shortValue), 2),
            ERROR_SUCCESS);
  win32::WinEnvironment environment;
  const struct {
    const wchar_t* name;
    std::optional<std::uint32_t> value;
  } cases[] = {{L"VelmoraTestSwitch", 1u}, {L"VelmoraTestShort", std::nullopt}, {L"VelmoraTestMissing", std::nullopt}};
  for (const auto& c : cases) {
    const MachineSwitch read = environment.ReadMachineSwitch(c.name);
    EXPECT_TRUE(read.storeReadable);
    EXPECT_EQ(read.value, c.value) << fs::path(c.name).string();
  }
  ::RegDeleteValueW(key, L"VelmoraTestSwitch");
  ::RegDeleteValueW(key, L"VelmoraTestShort");
  ::RegCloseKey(key);
}

TEST(Win32Environment, ProcessNamesAndTheCodePage) {
  win32::WinEnvironment environment;
  EXPECT_EQ(environment.CurrentProcessName(), L"velmora_win_tests.exe");
  EXPECT_EQ(environment.ProcessName(::GetCurrentProcessId()), L"velmora_win_tests.exe");
  EXPECT_EQ(environment.ProcessName(0xFFFFFFF0u), std::nullopt);

  EXPECT_EQ(WideToAnsi(L""), "");
  EXPECT_EQ(WideToAnsi(L"Office 2 \\ A4"), "Office 2 \\ A4");
  // Characters outside the code page become its default character.
  const UINT codePage = ::GetACP();
  if (codePage == 1252) {
    EXPECT_EQ(WideToAnsi(L"Caf\u00e9 \u20ac \u4e2d"), "Caf\xe9 \x80 ?");
  } else if (codePage == CP_UTF8) {
    EXPECT_EQ(WideToAnsi(L"Caf\u00e9 \u4e2d"), "Caf\xc3\xa9 \xe4\xb8\xad");
  } else {
    ADD_FAILURE() << "no expectations for code page " << codePage;
  }
}

TEST(Win32Clock, NowIsTheLocalTime) {
  const auto stamp = [](const SYSTEMTIME& t) {
    return std::tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  };
  SYSTEMTIME before{};
  SYSTEMTIME after{};
  ::GetLocalTime(&before);
  win32::WinClock clock;
  const LocalTime now = clock.Now();
  ::GetLocalTime(&after);
  const auto nowStamp = std::tuple(now.year, now.month, now.day, now.hour, now.minute, now.second);
  const auto [y0, mo0, d0, h0, mi0, s0] = stamp(before);
  const auto [y1, mo1, d1, h1, mi1, s1] = stamp(after);
  EXPECT_LE(std::tuple(int{y0}, int{mo0}, int{d0}, int{h0}, int{mi0}, int{s0}), nowStamp);
  EXPECT_LE(nowStamp, std::tuple(int{y1}, int{mo1}, int{d1}, int{h1}, int{mi1}, int{s1}));
}

TEST(Win32LastError, IsTheSystemsOwn) {
  for (DWORD code : {DWORD{0}, DWORD{ERROR_INSUFFICIENT_BUFFER}, DWORD{0xDEADBEEF}}) {
    SetLastError(code);
    EXPECT_EQ(::GetLastError(), code);
    ::SetLastError(code ^ 1);
    EXPECT_EQ(GetLastError(), code ^ 1);
  }
}

TEST(Win32Services, TheDefaultsAreTheWindowsImplementations) {
  const Services defaults = Default();
  EXPECT_NE(dynamic_cast<win32::WinSpooler*>(defaults.spooler), nullptr);
  EXPECT_NE(dynamic_cast<win32::WinClock*>(defaults.clock), nullptr);
  EXPECT_NE(dynamic_cast<win32::WinEnvironment*>(defaults.environment), nullptr);
  EXPECT_NE(dynamic_cast<win32::GdiDeviceCapabilities*>(defaults.devices), nullptr);
  // One instance of each for the process.
  EXPECT_EQ(Default().spooler, defaults.spooler);
  EXPECT_EQ(Current().environment, defaults.environment);
}

// ---------------------------------------------------------------------------------------
// Private profiles: the system's functions and our own encoder agree on every byte.

TEST_F(Win32Folder, ProfileStructsAgreeWithOurEncoding) {
  Bytes all(256);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
  const Bytes cases[] = {{}, {0x01, 0xFF}, {0x00}, all};
  const WString file = Path("DrvSettings.GPS");
  // Our text, read by GetPrivateProfileStructW.
  {
    std::ofstream out(dir_ / "DrvSettings.GPS", std::ios::binary);
    out << "[WMSet_1]\r\n";
    for (std::size_t i = 0; i < std::size(cases); ++i)
      out << "Value" << i << "=" << EncodeProfileStruct(cases[i]) << "\r\n";
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const WString key = L"Value" + std::to_wstring(i);
    EXPECT_EQ(ReadProfileStruct(file, L"WMSet_1", key, cases[i].size()), cases[i]) << i;
  }
  // WritePrivateProfileStructW's text, decoded by us.
  const WString written = Path("Written.GPS");
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_TRUE(WriteProfileStruct(written, L"WMSet_2", L"Value" + std::to_wstring(i), cases[i])) << i;
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    wchar_t text[1024] = {};
    ::GetPrivateProfileStringW(L"WMSet_2", (L"Value" + std::to_wstring(i)).c_str(), L"", text, 1024, written.c_str());
    const std::string narrow(text, text + std::wcslen(text));
    EXPECT_EQ(narrow, EncodeProfileStruct(cases[i])) << i;
    EXPECT_EQ(DecodeProfileStruct(narrow, cases[i].size()), cases[i]) << i;
  }
  EXPECT_EQ(ListProfileSections(written), std::vector<WString>{L"WMSet_2"});
}

// ---------------------------------------------------------------------------------------
// Images through GDI+.

namespace gp = Gdiplus;
namespace flat = Gdiplus::DllExports;

class GdiplusRunning {
 public:
  GdiplusRunning() {
    gp::GdiplusStartupInput input;
    started_ = gp::GdiplusStartup(&token_, &input, nullptr) == gp::Ok;
  }
  ~GdiplusRunning() {
    if (started_) gp::GdiplusShutdown(token_);
  }
  bool started() const { return started_; }

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

std::optional<CLSID> EncoderFor(const wchar_t* mimeType) {
  UINT count = 0;
  UINT size = 0;
  if (flat::GdipGetImageEncodersSize(&count, &size) != gp::Ok || size == 0) return std::nullopt;
  std::vector<std::uint8_t> buffer(size);
  auto* codecs = reinterpret_cast<gp::ImageCodecInfo*>(buffer.data());
  if (flat::GdipGetImageEncoders(count, size, codecs) != gp::Ok) return std::nullopt;
  for (UINT i = 0; i < count; ++i) {
    if (std::wcscmp(codecs[i].MimeType, mimeType) == 0) return codecs[i].Clsid;
  }
  return std::nullopt;
}

// The colour of pixel (x, y) of a test picture with `colours` colours.
Rgb TestColour(std::uint32_t x, std::uint32_t y, unsigned colours) {
  const unsigned index = (x + 2 * y) % colours;
  // Distinct colours, each channel a different function of the index.
  return Rgb{static_cast<std::uint8_t>(index * 255 / (colours - 1)), static_cast<std::uint8_t>(255 - index * 7),
             static_cast<std::uint8_t>((index * 53) & 0xFF)};
}

// Writes a `width` × `height` picture of TestColour in the given GDI+ pixel format with
// the encoder of `mimeType`. Indexed formats hold a palette of 2^bits TestColour entries.
bool WriteTestImage(const WString& path, const wchar_t* mimeType, gp::PixelFormat format, unsigned bits,
                    std::uint32_t width, std::uint32_t height) {
  const auto encoder = EncoderFor(mimeType);
  if (!encoder) return false;
  gp::GpBitmap* bitmap = nullptr;
  if (flat::GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0, format, nullptr, &bitmap) !=
      gp::Ok) {
    return false;
  }
  const unsigned colours = bits <= 8 ? 1u << bits : 256;
  if (bits <= 8) {
    std::vector<std::uint8_t> buffer(sizeof(gp::ColorPalette) + colours * sizeof(gp::ARGB));
    auto* palette = reinterpret_cast<gp::ColorPalette*>(buffer.data());
    palette->Flags = 0;
    palette->Count = colours;
    for (unsigned i = 0; i < colours; ++i) {
      const Rgb c = TestColour(i, 0, colours);
      palette->Entries[i] = 0xFF000000u | (c.red << 16) | (c.green << 8) | c.blue;
    }
    flat::GdipSetImagePalette(bitmap, palette);
  }
  gp::BitmapData data{};
  const gp::GpRect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  bool ok = flat::GdipBitmapLockBits(bitmap, &whole, gp::ImageLockModeWrite, format, &data) == gp::Ok;
  for (std::uint32_t y = 0; ok && y < height; ++y) {
    auto* row = static_cast<std::uint8_t*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride;
    for (std::uint32_t x = 0; x < width; ++x) {
      if (bits <= 8) {
        const unsigned index = (x + 2 * y) % colours;
        const std::size_t bit = std::size_t{x} * bits;
        const unsigned shift = 8 - bits - bit % 8;
        row[bit / 8] = static_cast<std::uint8_t>((row[bit / 8] & ~(((1u << bits) - 1) << shift)) | (index << shift));
        continue;
      }
      const Rgb c = TestColour(x, y, colours);
      const std::size_t bytes = bits / 8;
      row[x * bytes] = c.blue;
      row[x * bytes + 1] = c.green;
      row[x * bytes + 2] = c.red;
      if (bytes == 4) row[x * bytes + 3] = 0xFF;
    }
  }
  if (ok) ok = flat::GdipBitmapUnlockBits(bitmap, &data) == gp::Ok;
  if (ok) ok = flat::GdipSaveImageToFile(bitmap, path.c_str(), &*encoder, nullptr) == gp::Ok;
  flat::GdipDisposeImage(bitmap);
  return ok;
}

Rgb ColourAt(const Image& image, std::uint32_t x, std::uint32_t y) {
  const auto row = image.Row(y);
  if (image.bitsPerPixel <= 8) {
    const unsigned bits = image.bitsPerPixel;
    const std::size_t bit = std::size_t{x} * bits;
    const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
    return index < image.palette.size() ? image.palette[index] : Rgb{1, 2, 3};
  }
  return Rgb{row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
}

// Pixels beyond the width, in the last byte of a row and after it, are zero.
bool RowEndsAreZero(const Image& image) {
  const std::size_t usedBits = std::size_t{image.width} * image.bitsPerPixel;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const auto row = image.Row(y);
    for (std::size_t bit = usedBits; bit < row.size() * 8; ++bit) {
      if ((row[bit / 8] >> (7 - bit % 8)) & 1) return false;
    }
  }
  return true;
}

class Win32Images : public Win32Folder {
 protected:
  GdiplusRunning gdiplus_;
};

TEST_F(Win32Images, EachFormatLoadsWithItsDepthAndColours) {
  ASSERT_TRUE(gdiplus_.started());
  constexpr std::uint32_t kWidth = 7;  // odd, so that rows end inside a byte
  constexpr std::uint32_t kHeight = 3;
  const struct {
    const char* file;
    const wchar_t* mimeType;
    gp::PixelFormat format;
    unsigned bits;        // of the picture written
    unsigned loadedBits;  // of the image loaded
    bool exact;           // lossless
  } cases[] = {
      {"a.bmp", L"image/bmp", PixelFormat1bppIndexed, 1, 1, true},
      {"b.bmp", L"image/bmp", PixelFormat4bppIndexed, 4, 4, true},
      {"c.bmp", L"image/bmp", PixelFormat8bppIndexed, 8, 8, true},
      {"d.bmp", L"image/bmp", PixelFormat24bppRGB, 24, 24, true},
      {"e.png", L"image/png", PixelFormat24bppRGB, 24, 24, true},
      {"f.png", L"image/png", PixelFormat32bppARGB, 32, 24, true},
      {"g.gif", L"image/gif", PixelFormat8bppIndexed, 8, 8, true},
      {"h.tif", L"image/tiff", PixelFormat24bppRGB, 24, 24, true},
      {"i.jpg", L"image/jpeg", PixelFormat24bppRGB, 24, 24, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(WriteTestImage(Path(c.file), c.mimeType, c.format, c.bits, kWidth, kHeight));
    const auto image = LoadImageFile(Path(c.file));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, kWidth);
    EXPECT_EQ(image->height, kHeight);
    EXPECT_EQ(image->bitsPerPixel, c.loadedBits);
    EXPECT_EQ(image->stride, Image::StrideFor(kWidth, c.loadedBits));
    EXPECT_TRUE(RowEndsAreZero(*image));
    if (!c.exact) continue;
    const unsigned colours = c.bits <= 8 ? 1u << c.bits : 256;
    for (std::uint32_t y = 0; y < kHeight; ++y) {
      for (std::uint32_t x = 0; x < kWidth; ++x) {
        EXPECT_EQ(ColourAt(*image, x, y), TestColour(x, y, colours)) << x << "," << y;
      }
    }
  }
  EXPECT_EQ(LoadImageFile(Path("missing.bmp")), std::nullopt);
  std::ofstream(dir_ / "broken.png", std::ios::binary) << "\x89PNG\r\n\x1A\nrest";
  EXPECT_EQ(LoadImageFile(Path("broken.png")), std::nullopt);
}

TEST_F(Win32Images, TurnedCopiesAreSavedAsBitmaps) {
  ASSERT_TRUE(gdiplus_.started());
  const struct {
    const char* file;
    const wchar_t* mimeType;
    gp::PixelFormat format;
    unsigned bits;
  } cases[] = {
      {"one.bmp", L"image/bmp", PixelFormat1bppIndexed, 1},
      {"four.bmp", L"image/bmp", PixelFormat4bppIndexed, 4},
      {"eight.bmp", L"image/bmp", PixelFormat8bppIndexed, 8},
      {"rgb.png", L"image/png", PixelFormat24bppRGB, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(WriteTestImage(Path(c.file), c.mimeType, c.format, c.bits, 5, 3));
    const WString target = Path("turned.bmp");
    if (RunningUnderWine() && c.bits < 8) {
      // Wine's GdipImageRotateFlip turns no image of fewer than 8 bits per pixel.
      EXPECT_FALSE(SaveTurnedCopy(Path(c.file), target));
      EXPECT_FALSE(fs::exists(dir_ / "turned.bmp"));
      continue;
    }
    ASSERT_TRUE(SaveTurnedCopy(Path(c.file), target));
    const auto original = LoadImageFile(Path(c.file));
    const auto turned = LoadImageFile(target);
    ASSERT_TRUE(original && turned);
    EXPECT_EQ(turned->bitsPerPixel, original->bitsPerPixel);
    const Image expected = TurnQuarterCounterClockwise(*original);
    ASSERT_EQ(turned->width, expected.width);
    ASSERT_EQ(turned->height, expected.height);
    for (std::uint32_t y = 0; y < expected.height; ++y) {
      for (std::uint32_t x = 0; x < expected.width; ++x) EXPECT_EQ(ColourAt(*turned, x, y), ColourAt(expected, x, y));
    }
    // The target file starts with the bitmap signature.
    const Bytes saved = ReadWholeFile(dir_ / "turned.bmp");
    ASSERT_GE(saved.size(), 2u);
    EXPECT_EQ(std::string(saved.begin(), saved.begin() + 2), "BM");
  }
  EXPECT_FALSE(SaveTurnedCopy(Path("missing.bmp"), Path("never.bmp")));
  EXPECT_FALSE(fs::exists(dir_ / "never.bmp"));
}

// Writes bits into a byte vector from the lowest bit of each byte up, as deflate does.
class BitWriter {
 public:
  void Bits(std::uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  // A Huffman code goes most significant bit first.
  void Code(std::uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) Bit((code >> i) & 1);
  }
  Bytes Take() { return std::move(bytes_); }

 private:
  void Bit(std::uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | bit << used_);
    used_ = (used_ + 1) % 8;
  }
  Bytes bytes_;
  unsigned used_ = 0;
};

void PutBigEndian(Bytes& bytes, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AddPngChunk(Bytes& png, const char* type, const Bytes& data) {
  PutBigEndian(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = start; i < png.size(); ++i) {
    crc ^= png[i];
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
  }
  PutBigEndian(png, ~crc);
}

// A black 8-bit grey PNG file of `side` x `side` pixels: a few megabytes that decode into
// side² bytes. Its zlib stream is one block of fixed codes: a 0, then copies of 258 bytes
// at distance 1.
Bytes BlackGreyPng(std::uint32_t side) {
  const std::uint64_t zeros = std::uint64_t{side} * (side + 1);  // each row starts with filter 0
  BitWriter deflate;
  deflate.Bits(1, 1);  // the last block
  deflate.Bits(1, 2);  // fixed codes
  const std::uint64_t copies = (zeros - 1) / 258;
  for (std::uint64_t i = 0; i < 1 + (zeros - 1) % 258; ++i) deflate.Code(0x30, 8);  // literal 0
  for (std::uint64_t i = 0; i < copies; ++i) {
    deflate.Code(0xC5, 8);  // length 258
    deflate.Code(0, 5);     // distance 1
  }
  deflate.Code(0, 7);  // end of block
  Bytes zlib = {0x78, 0x01};
  const Bytes body = deflate.Take();
  zlib.insert(zlib.end(), body.begin(), body.end());
  PutBigEndian(zlib, static_cast<std::uint32_t>(zeros % 65521) << 16 | 1);  // Adler-32 of zeros

  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes header;
  PutBigEndian(header, side);
  PutBigEndian(header, side);
  header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grey, not interlaced
  AddPngChunk(png, "IHDR", header);
  AddPngChunk(png, "IDAT", zlib);
  AddPngChunk(png, "IEND", {});
  return png;
}

std::size_t PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return counters.PeakWorkingSetSize;
}

TEST_F(Win32Images, PicturesOverThePixelLimitAreRefusedBeforeTheyAreDecoded) {
  ASSERT_TRUE(gdiplus_.started());
  // 16400 x 16400 is just over the limit: 269 million pixels, where GDI+ would hold 4
  // bytes a pixel. The other files are only the headers that state the size.
  constexpr std::uint32_t kSide = 16400;
  static_assert(std::uint64_t{kSide} * kSide > kMaxPixels);
  const std::uint8_t hi = kSide >> 8;
  const std::uint8_t lo = kSide & 0xFF;
  const struct {
    const char* file;
    Bytes bytes;
  } cases[] = {
      {"black.png", BlackGreyPng(kSide)},
      {"header.bmp", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, lo, hi, 0, 0, lo, hi, 0, 0, 1, 0, 8}},
      {"header.gif", {'G', 'I', 'F', '8', '9', 'a', lo, hi, lo, hi, 0, 0, 0}},
      {"header.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF, 0xC0, 0, 11, 8, hi, lo, hi, lo, 1, 1, 0x11, 0}},
      {"header.tif", {'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0, 0, 1,  3,  0, 1, 0, 0, 0, lo,
                      hi,  0,   0,  1, 1, 3, 0, 1, 0, 0, 0, lo, hi, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::ofstream(dir_ / c.file, std::ios::binary)
        .write(reinterpret_cast<const char*>(c.bytes.data()), static_cast<std::streamsize>(c.bytes.size()));
    const std::size_t before = PeakWorkingSet();
    ASSERT_NE(before, 0u);
    EXPECT_EQ(LoadImageFile(Path(c.file)), std::nullopt);
    EXPECT_FALSE(SaveTurnedCopy(Path(c.file), Path("turned.bmp")));
    EXPECT_LT(PeakWorkingSet() - before, std::size_t{100} << 20) << "bytes more at the peak";
  }
}

TEST_F(Win32Images, UniqueTemporaryFilesAreCreatedAndRemoved) {
  const auto first = CreateUniqueTempFile(L".bmp");
  const auto second = CreateUniqueTempFile(L".bmp");
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  EXPECT_TRUE(FileExistsW(*first));
  EXPECT_EQ(fs::path(*first).parent_path(), fs::path(Current().environment->TempFolder()));
  EXPECT_TRUE(RemoveFileW(*first));
  EXPECT_TRUE(RemoveFileW(*second));
  EXPECT_FALSE(RemoveFileW(*first));
  EXPECT_FALSE(FileExistsW(*first));
}

// ---------------------------------------------------------------------------------------
// The drawing context on a GDI memory device context.

class Win32Drawing : public ::testing::Test {
 protected:
  void SetUp() override {
    dc_ = ::CreateCompatibleDC(nullptr);
    ASSERT_NE(dc_, nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 200;
    info.bmiHeader.biHeight = -100;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap_, nullptr);
    pixels_ = static_cast<std::uint32_t*>(bits);
    std::fill(pixels_, pixels_ + 200 * 100, 0x00FFFFFFu);
    previousBitmap_ = ::SelectObject(dc_, bitmap_);
  }
  void TearDown() override {
    ::SelectObject(dc_, previousBitmap_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
  }

  // The points of the ended path, or nothing.
  std::vector<POINT> PathPoints() {
    const int count = ::GetPath(dc_, nullptr, nullptr, 0);
    if (count <= 0) return {};
    std::vector<POINT> points(static_cast<std::size_t>(count));
    std::vector<BYTE> types(static_cast<std::size_t>(count));
    ::GetPath(dc_, points.data(), types.data(), count);
    return points;
  }
  std::uint8_t GreyAt(int x, int y) const { return static_cast<std::uint8_t>(pixels_[y * 200 + x] & 0xFF); }

  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previousBitmap_ = nullptr;
  std::uint32_t* pixels_ = nullptr;
};

TEST_F(Win32Drawing, PathsClipAndBrushes) {
  EXPECT_EQ(AttachDrawingContext(nullptr), nullptr);
  const HGDIOBJ hostBrush = ::GetCurrentObject(dc_, OBJ_BRUSH);
  const HGDIOBJ hostPen = ::GetCurrentObject(dc_, OBJ_PEN);
  {
    auto context = AttachDrawingContext(dc_);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->DeviceCaps(DeviceCap::kHorzRes), ::GetDeviceCaps(dc_, HORZRES));
    EXPECT_GT(context->DeviceCaps(DeviceCap::kLogPixelsX), 0);
    const Rect whole = context->ClipBox();
    EXPECT_EQ((std::vector<int>{whole.left, whole.top, whole.right, whole.bottom}), (std::vector<int>{0, 0, 200, 100}));

    // A square path as lines, read back from the device context.
    ASSERT_TRUE(context->BeginPath());
    ASSERT_TRUE(context->MoveTo({10, 10}));
    ASSERT_TRUE(context->LineTo({60, 10}));
    ASSERT_TRUE(context->LineTo({60, 60}));
    ASSERT_TRUE(context->LineTo({10, 60}));
    ASSERT_TRUE(context->EndPath());
    const std::vector<POINT> points = PathPoints();
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points[2].x, 60);
    EXPECT_EQ(points[2].y, 60);

    // Clipped to the square, a fill of the whole area paints only inside it.
    ASSERT_TRUE(context->SaveState());
    ASSERT_TRUE(context->SelectClipPath());
    const Rect clip = context->ClipBox();
    EXPECT_EQ((std::vector<int>{clip.left, clip.top, clip.right, clip.bottom}), (std::vector<int>{10, 10, 60, 60}));
    EXPECT_EQ(context->SetBackgroundMode(kBackgroundTransparent), kBackgroundOpaque);
    EXPECT_EQ(context->SetForegroundMix(kMixMaskPen), kMixCopyPen);
    ASSERT_TRUE(context->SelectSolidBrush(0x40));
    ASSERT_TRUE(context->SelectSolidBrush(0x80));  // replaces the first
    ASSERT_TRUE(context->SelectSolidPen(0x80, 1));
    ASSERT_TRUE(context->BeginPath());
    ASSERT_TRUE(context->MoveTo({0, 0}));
    ASSERT_TRUE(context->LineTo({199, 0}));
    ASSERT_TRUE(context->LineTo({199, 99}));
    ASSERT_TRUE(context->LineTo({0, 99}));
    ASSERT_TRUE(context->EndPath());
    ASSERT_TRUE(context->FillPath());
    EXPECT_EQ(GreyAt(30, 30), 0x80);
    EXPECT_EQ(GreyAt(100, 80), 0xFF);
    ASSERT_TRUE(context->RestoreState());
    EXPECT_FALSE(context->RestoreState());  // nothing saved
    const Rect restored = context->ClipBox();
    EXPECT_EQ(restored.right, 200);
  }
  // The context put the host's brush and pen back and deleted its own.
  EXPECT_EQ(::GetCurrentObject(dc_, OBJ_BRUSH), hostBrush);
  EXPECT_EQ(::GetCurrentObject(dc_, OBJ_PEN), hostPen);
}

// The first TrueType face the device context knows. Wine finds the host's fonts (Debian's
// fonts-liberation) through fontconfig; it ships none of the Windows faces.
WString FirstTrueTypeFace(HDC dc) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  WString face;
  ::EnumFontFamiliesExW(
      dc, &wanted,
      [](const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM data) -> int {
        if ((type & TRUETYPE_FONTTYPE) == 0 || font->lfFaceName[0] == L'@') return 1;
        *reinterpret_cast<WString*>(data) = font->lfFaceName;
        return 0;
      },
      reinterpret_cast<LPARAM>(&face), 0);
  return face;
}

TEST_F(Win32Drawing, TextIsDrawnIntoAPath) {
  auto context = AttachDrawingContext(dc_);
  ASSERT_NE(context, nullptr);
  const WString face = FirstTrueTypeFace(dc_);
  ASSERT_FALSE(face.empty()) << "no TrueType font on this system";
  EXPECT_TRUE(context->FontCharSetOf(face).has_value());
  EXPECT_EQ(context->FontCharSetOf(L"Velmora No Such Face"), std::nullopt);

  FontDescription description;
  description.height = -40;
  description.weight = 700;
  description.charSet = kDefaultCharSet;
  description.faceName = face;
  const FontId font = context->CreateLogicalFont(description);
  ASSERT_NE(font, 0u);
  const FontId previous = context->SelectLogicalFont(font);
  ASSERT_NE(previous, 0u);
  const auto extent = context->TextExtent(L"HI");
  ASSERT_TRUE(extent.has_value());
  EXPECT_GT(extent->cx, 20);
  EXPECT_GE(extent->cy, 40);

  EXPECT_EQ(context->SetBackgroundMode(kBackgroundTransparent), kBackgroundOpaque);
  ASSERT_TRUE(context->BeginPath());
  ASSERT_TRUE(context->WriteText({20, 30}, L"HI"));
  ASSERT_TRUE(context->EndPath());
  const std::vector<POINT> points = PathPoints();
  ASSERT_GE(points.size(), 8u);  // two letters of at least four corners each
  for (const POINT& point : points) {
    EXPECT_GE(point.x, 20);
    EXPECT_LE(point.x, 20 + extent->cx);
    EXPECT_GE(point.y, 30);
    EXPECT_LE(point.y, 30 + extent->cy);
  }
  // Stroked, the outlines reach the bitmap.
  ASSERT_TRUE(context->SelectSolidPen(0, 1));
  ASSERT_TRUE(context->BeginPath());
  ASSERT_TRUE(context->WriteText({20, 30}, L"HI"));
  ASSERT_TRUE(context->EndPath());
  ASSERT_TRUE(context->StrokePath());
  EXPECT_LT(*std::min_element(pixels_, pixels_ + 200 * 100) & 0xFF, 0x80u);

  EXPECT_EQ(context->SelectLogicalFont(previous), font);
  EXPECT_TRUE(context->DeleteLogicalFont(font));
}

// ---------------------------------------------------------------------------------------
// The recording device context: what the plug-in draws through its GDI context comes back
// as paths with their state, in order with the host's marks.

TEST(Win32Recorder, PaintsComeBackInOrderWithTheirStateAndTheMarks) {
  RecordingDevice device;  // no printer: measured against the display
  device.page = {4960, 7016};
  auto recorder = CreateDrawingRecorder(device);
  ASSERT_NE(recorder, nullptr);
  const HANDLE first = recorder->dc();
  ASSERT_NE(first, nullptr);
  const WString face = FirstTrueTypeFace(static_cast<HDC>(first));
  ASSERT_FALSE(face.empty()) << "no TrueType font on this system";
  {
    auto context = AttachDrawingContext(first);
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(recorder->Mark(0));
    // A cell as the clip, then grey text in a path bracket under the darkening mix, as a
    // text watermark is drawn.
    ASSERT_TRUE(context->BeginPath());
    context->MoveTo({100, 200});
    context->LineTo({2000, 200});
    context->LineTo({2000, 3000});
    context->LineTo({100, 3000});
    context->LineTo({100, 200});
    ASSERT_TRUE(context->EndPath());
    ASSERT_TRUE(context->SelectClipPath());
    context->SetForegroundMix(kMixMaskPen);
    FontDescription description;
    description.height = -300;
    description.faceName = face;
    const FontId font = context->CreateLogicalFont(description);
    ASSERT_NE(font, 0u);
    const FontId previous = context->SelectLogicalFont(font);
    ASSERT_TRUE(context->BeginPath());
    ASSERT_TRUE(context->SelectSolidBrush(191));
    ASSERT_TRUE(context->WriteText({500, 1000}, L"O"));
    ASSERT_TRUE(context->EndPath());
    ASSERT_TRUE(context->FillPath());
    context->SelectLogicalFont(previous);
    context->DeleteLogicalFont(font);
    EXPECT_TRUE(recorder->Mark(1));
    // A line outside a bracket is a stroke with the pen.
    ASSERT_TRUE(context->SelectSolidPen(64, 3));
    context->MoveTo({150, 250});
    ASSERT_TRUE(context->LineTo({300, 250}));
    EXPECT_TRUE(recorder->Mark(2));
  }
  const auto items = recorder->Take();
  ASSERT_TRUE(items.has_value());
  ASSERT_EQ(items->size(), 5u);
  EXPECT_EQ(std::get<RecordedMark>((*items)[0]).id, 0u);
  EXPECT_EQ(std::get<RecordedMark>((*items)[2]).id, 1u);
  EXPECT_EQ(std::get<RecordedMark>((*items)[4]).id, 2u);

  const auto& text = std::get<RecordedPaint>((*items)[1]);
  EXPECT_EQ(text.kind, PaintKind::kFill);
  EXPECT_EQ(text.mix, kMixMaskPen);
  EXPECT_EQ(text.brushGray, 191);
  ASSERT_TRUE(text.clip.has_value());
  std::vector<int> clipPoints;
  for (const PathSegment& segment : *text.clip) {
    if (segment.kind != PathPart::kClose)
      clipPoints.insert(clipPoints.end(), {segment.points[0].x, segment.points[0].y});
  }
  EXPECT_EQ(clipPoints, (std::vector<int>{100, 200, 2000, 200, 2000, 3000, 100, 3000, 100, 200}));
  // The glyph's outlines: closed figures with curves, inside the text's box, in device
  // pixels of the page (no frame transform).
  EXPECT_EQ(text.path.front().kind, PathPart::kMove);
  EXPECT_EQ(text.path.back().kind, PathPart::kClose);
  EXPECT_TRUE(std::any_of(text.path.begin(), text.path.end(),
                          [](const PathSegment& s) { return s.kind == PathPart::kBezier; }));
  for (const PathSegment& segment : text.path) {
    const int count = segment.kind == PathPart::kBezier ? 3 : segment.kind == PathPart::kClose ? 0 : 1;
    for (int i = 0; i < count; ++i) {
      EXPECT_GE(segment.points[i].x, 500);
      EXPECT_LE(segment.points[i].x, 800);
      EXPECT_GE(segment.points[i].y, 1000);
      EXPECT_LE(segment.points[i].y, 1400);
    }
  }

  const auto& line = std::get<RecordedPaint>((*items)[3]);
  EXPECT_EQ(line.kind, PaintKind::kStroke);
  EXPECT_EQ(line.penGray, 64);
  EXPECT_EQ(line.penWidth, 3);
  ASSERT_EQ(line.path.size(), 2u);
  EXPECT_EQ((std::vector<int>{line.path[0].points[0].x, line.path[1].points[0].x}), (std::vector<int>{150, 300}));

  // The next recording starts afresh on a context of its own.
  EXPECT_NE(recorder->dc(), nullptr);
  const auto empty = recorder->Take();
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
}

// ---------------------------------------------------------------------------------------
// What the print host and velmora.exe need besides the plug-in's services: output files,
// loading a module, administration and raw sockets.

TEST_F(Win32Folder, OutputFilesAreCreatedUniqueAndMovedIntoPlace) {
  std::string error;
  const std::string prefix = (dir_ / ".job.pxl.").string();
  const auto first = CreateUniqueFile(prefix, &error);
  const auto second = CreateUniqueFile(prefix, &error);
  ASSERT_TRUE(first && second) << error;
  EXPECT_NE(*first, *second);
  std::ofstream(*first, std::ios::binary) << "job";
  std::ofstream((dir_ / "job.pxl").string(), std::ios::binary) << "an older job";
  ASSERT_TRUE(MoveIntoPlace(*first, (dir_ / "job.pxl").string(), &error)) << error;
  EXPECT_EQ(ReadWholeFile(dir_ / "job.pxl"), (Bytes{'j', 'o', 'b'}));
  EXPECT_FALSE(MoveIntoPlace((dir_ / "missing").string(), (dir_ / "x").string(), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(CreateUniqueFile((dir_ / "no-folder" / "x.").string(), &error));
  const auto program = ProgramPath();
  ASSERT_TRUE(program.has_value());
  EXPECT_TRUE(program->ends_with(".exe")) << *program;
  EXPECT_FALSE(SpoolerWritesStandardOutput());
}

// A work file is held by its open handle: another claim finds it taken, one left without a
// holder is taken over, and it moves into place, never over a file. An overlay path at the
// path limit gets a short work name in its own folder, the same for every spelling.
TEST_F(Win32Folder, ClaimedWorkFilesAreExclusiveAndFitThePathLimit) {
  using Claim = ClaimedFile::Claim;
  const WString overlay = Path("form.ovl");
  ClaimedFile first, second;
  ASSERT_EQ(first.Create(overlay), Claim::kClaimed) << first.reason();
  EXPECT_EQ(first.workPath(), overlay + L".capture");
  EXPECT_EQ(second.Create(overlay), Claim::kTaken);
  ASSERT_TRUE(first.Write("data", 4)) << first.reason();
  ASSERT_TRUE(first.MoveIntoPlace()) << first.reason();
  EXPECT_EQ(ReadWholeFile(dir_ / "form.ovl"), (Bytes{'d', 'a', 't', 'a'}));

  std::ofstream(dir_ / "form.ovl.capture") << "left by a job that ended";
  ASSERT_EQ(second.Create(overlay), Claim::kClaimed) << second.reason();
  EXPECT_FALSE(second.MoveIntoPlace());
  second.Remove();
  EXPECT_FALSE(fs::exists(dir_ / "form.ovl.capture"));
  EXPECT_EQ(ReadWholeFile(dir_ / "form.ovl"), (Bytes{'d', 'a', 't', 'a'}));

  const WString folder = dir_.wstring() + L"\\";
  const WString name = WString(MAX_PATH - 1 - folder.size() - 4, L'f') + L".ovl";
  ClaimedFile atLimit;
  ASSERT_EQ(atLimit.Create(folder + name), Claim::kClaimed) << atLimit.reason();
  EXPECT_LE(atLimit.workPath().size(), std::size_t{MAX_PATH - 1});
  EXPECT_EQ(atLimit.workPath().substr(0, folder.size()), folder);
  WString upper = name;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return c == L'f' ? L'F' : c; });
  EXPECT_EQ(ClaimedFile::WorkPath(folder + upper), atLimit.workPath());
  ASSERT_TRUE(atLimit.MoveIntoPlace()) << atLimit.reason();
  EXPECT_TRUE(fs::exists(folder + name));
}

TEST(Win32Module, LoadsByPathAndFindsExports) {
  std::string error;
  EXPECT_EQ(LoadModuleLibrary("C:\\no\\such\\module.dll", &error), nullptr);
  EXPECT_FALSE(error.empty());
  auto kernel = LoadModuleLibrary("kernel32.dll", &error);
  ASSERT_NE(kernel, nullptr) << error;
  EXPECT_NE(kernel->Export("GetTickCount"), nullptr);
  EXPECT_EQ(kernel->Export("NoSuchExportOfKernel32"), nullptr);
  EXPECT_STREQ(PluginModuleFileName(), "velmora_pxl.dll");
}

TEST_F(Win32Printer, AdministrationOnTheSpooler) {
  const std::unique_ptr<PrinterAdmin> admin = OpenPrinterAdmin();
  auto printers = admin->ListPrinters();
  ASSERT_TRUE(printers.ok()) << printers.error();
  EXPECT_NE(std::find(printers.value().begin(), printers.value().end(), WString(kPrinter)), printers.value().end());
  EXPECT_FALSE(admin->AddPrinter(L"velmora test printer").ok());  // the name exists in another case

  const PrinterValue folder{ValueType::kString, {'C', 0, ':', 0, 0, 0}};
  ASSERT_TRUE(admin->SetPrinterValue(kPrinter, L"OvelayDirectory", folder).ok());
  auto values = admin->ListPrinterData(kPrinter);
  ASSERT_TRUE(values.ok()) << values.error();
  const auto found = std::find_if(values.value().begin(), values.value().end(),
                                  [](const NamedValue& v) { return v.first == L"OvelayDirectory"; });
  ASSERT_NE(found, values.value().end());
  EXPECT_EQ(found->second.bytes, folder.bytes);
  EXPECT_TRUE(admin->RemovePrinterValue(kPrinter, L"OvelayDirectory").ok());
  EXPECT_FALSE(admin->RemovePrinterValue(kPrinter, L"OvelayDirectory").ok());
  EXPECT_FALSE(admin->SetPrinterValue(L"Velmora No Such Printer", L"X", folder).ok());

  const PrinterValue on{ValueType::kDword, {1, 0, 0, 0}};
  ASSERT_TRUE(admin->SetMachineValue(L"VelmoraTestSwitch", on).ok());
  auto read = admin->ReadMachineValue(L"VelmoraTestSwitch");
  ASSERT_TRUE(read.ok() && read.value().has_value());
  EXPECT_EQ(read.value()->bytes, on.bytes);
  EXPECT_TRUE(admin->RemoveMachineValue(L"VelmoraTestSwitch").ok());
  read = admin->ReadMachineValue(L"VelmoraTestSwitch");
  EXPECT_TRUE(read.ok() && !read.value().has_value());
  EXPECT_TRUE(admin->ListJobs(WString(kPrinter)).ok());
}

TEST(Win32Socket, SendsTheJobToALoopbackListener) {
  WSADATA data;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  ::listen(listener, 1);
  const std::uint16_t port = ntohs(address.sin_port);

  std::string error;
  auto socket = ConnectRawSocket("127.0.0.1", port, 5000, &error);
  ASSERT_NE(socket, nullptr) << error;
  SOCKET accepted = ::accept(listener, nullptr, nullptr);
  const Bytes job(100000, 0x42);
  ASSERT_TRUE(socket->SendAll(job.data(), job.size(), &error)) << error;
  ASSERT_TRUE(socket->Finish(&error)) << error;
  Bytes received;
  char buffer[8192];
  for (int got; (got = ::recv(accepted, buffer, sizeof buffer, 0)) > 0;) {
    received.insert(received.end(), buffer, buffer + got);
  }
  EXPECT_EQ(received, job);
  ::closesocket(accepted);
  ::closesocket(listener);

  // Nobody listens on the port any more: the connection is refused with a reason.
  EXPECT_EQ(ConnectRawSocket("127.0.0.1", port, 5000, &error), nullptr);
  EXPECT_FALSE(error.empty());
  ::WSACleanup();
}

}  // namespace
}  // namespace velmora::platform
