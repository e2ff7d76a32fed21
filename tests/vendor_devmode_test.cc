// The settings record: defaults, header, convert and merge copies, the locator inside a
// public device mode, and the DevMode requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "formats/le_bytes.h"
#include "formats/vendor_devmode.h"
#include "platform/last_error.h"
#include "src/settings/devmode_request.h"

namespace velmora {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Body ranges the defaults leave as they were, written down from the record's layout.
struct Range {
  std::size_t from, to;  // [from, to)
};
constexpr Range kNotWritten[] = {
    {66, 68},     {76, 80},     {81, 82},     {604, 608},   {608, 614},   {619, 624},   {774, 776},
    {777, 780},   {941, 942},   {949, 952},   {1608, 1609}, {1616, 1617}, {1689, 1692}, {1697, 1700},
    {1705, 1706}, {1709, 1710}, {1715, 1716}, {1718, 1722}, {1920, 5228},
};

bool NotWritten(std::size_t offset) {
  return std::any_of(std::begin(kNotWritten), std::end(kNotWritten),
                     [offset](const Range& r) { return offset >= r.from && offset < r.to; });
}

Bytes DefaultRecord() {
  Bytes record(kVendorRecordSize, 0);
  StampVendorHeader(record.data());
  FillVendorDefaults(record.data() + kVendorHeaderSize);
  return record;
}

TEST(VendorDefaults, WriteEveryDefinedByteAndLeaveTheRestAlone) {
  Bytes body(kVendorBodySize, 0xAA);
  FillVendorDefaults(body.data());
  // Defined bytes with a value other than zero, by body offset.
  const std::pair<std::size_t, std::uint8_t> nonZero[] = {
      {68, 'Q'},
      {69, 'Z'},
      {70, 'T'},
      {71, 'X'},  // dwBodySignature
      {80, 1},
      {616, 6},
      {918, 1},
      {920, 1},
      {939, 1},
      {940, 1},
      {942, 1},
      {944, 100},
      {1702, 0x80},
      {1703, 0x3F},  // fScale 1.0f
      {1706, 0xFF},
      {1707, 0xFF},
      {1710, 0x58},
      {1711, 0x02},
      {1716, 0xFF},
      {1717, 0xFF},
      // "0.16" four times, "0.00" once.
      {1618, '0'},
      {1620, '.'},
      {1622, '1'},
      {1624, '6'},
      {1632, '0'},
      {1634, '.'},
      {1636, '1'},
      {1638, '6'},
      {1646, '0'},
      {1648, '.'},
      {1650, '1'},
      {1652, '6'},
      {1660, '0'},
      {1662, '.'},
      {1664, '1'},
      {1666, '6'},
      {1674, '0'},
      {1676, '.'},
      {1678, '0'},
      {1680, '0'},
  };
  for (std::size_t offset = 0; offset < kVendorBodySize; ++offset) {
    std::uint8_t expected = NotWritten(offset) ? 0xAA : 0;
    for (const auto& [at, value] : nonZero) {
      if (at == offset) expected = value;
    }
    ASSERT_EQ(body[offset], expected) << "body offset " << offset;
  }
}

TEST(VendorDefaults, TypedViewReadsTheDefaults) {
  Bytes body(kVendorBodySize, 0);
  FillVendorDefaults(body.data());
  VendorSettings settings(body.data());
  EXPECT_EQ(settings.dwBodySignature(), kVendorSignature);
  EXPECT_EQ(settings.sTonerDarkness(), 6);
  EXPECT_EQ(settings.sContrast(), 1);
  EXPECT_EQ(settings.vdmPagesPerSheet(), 1);
  EXPECT_EQ(settings.fScale(), 1.0f);
  EXPECT_EQ(settings.sResolution(), 600);
  EXPECT_EQ(settings.szMargins(3), VTEXT("0.16"));
  EXPECT_EQ(settings.szBindingShift(), VTEXT("0.00"));
  EXPECT_EQ(settings.SpecialPage(2)->dwPageRule(), 0u);
  EXPECT_FALSE(settings.SpecialPage(4).has_value());
  // The blocks are stored in the order kind 1, kind 3, kind 2.
  settings.SpecialPage(3)->set_sTrayIndex(4);
  EXPECT_EQ(le::I16(body.data() + 1164 + 140), 4);
}

TEST(VendorCopy, ConvertAndMergeCopies) {
  struct Case {
    const char* name;
    std::uint32_t inSize;
    std::uint32_t inSignature;
    std::uint32_t outSize;
    std::size_t expectedCopied;  // bytes taken from the input; 0: a default record
  };
  const Case cases[] = {
      {"whole record", 5240, kVendorSignature, 5240, 5240},
      {"shorter input", 4000, kVendorSignature, 5240, 4000},
      {"shorter output header", 5240, kVendorSignature, 3000, 3000},
      {"corrupt input size", 0xFFFFFFFF, kVendorSignature, 0xFFFFFFFF, 5240},
      {"foreign signature", 5240, 0x41424344, 5240, 0},
  };
  for (const auto& c : cases) {
    Bytes in(kVendorRecordSize);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint8_t>(i * 7 + 3);
    le::PutU32(in.data(), c.inSize);
    le::PutU32(in.data() + 4, c.inSignature);
    Bytes out = DefaultRecord();
    le::PutU32(out.data(), c.outSize);
    std::fill(out.begin() + kVendorHeaderSize, out.end(), 0xEE);

    ASSERT_TRUE(CopyVendorDevmode(in.data(), out.data())) << c.name;
    EXPECT_EQ(le::U32(out.data()), kVendorRecordSize) << c.name;
    EXPECT_EQ(le::U32(out.data() + 8), kVendorVersion) << c.name;

    Bytes expected = DefaultRecord();
    std::copy_n(in.begin(), c.expectedCopied, expected.begin());
    le::PutU32(expected.data(), kVendorRecordSize);
    le::PutU32(expected.data() + 8, kVendorVersion);
    // Bytes the defaults do not write keep the output's own bytes beyond the copy.
    for (std::size_t i = std::max(c.expectedCopied, kVendorHeaderSize); i < kVendorRecordSize; ++i) {
      if (NotWritten(i - kVendorHeaderSize)) expected[i] = 0xEE;
    }
    EXPECT_EQ(out, expected) << c.name;
  }
}

TEST(VendorCopy, NeverReadsOrWritesPastEitherBuffer) {
  // An input record held in only 100 bytes whose header claims a whole record.
  Bytes in = DefaultRecord();
  in.resize(100);
  Bytes out = DefaultRecord();
  ASSERT_TRUE(CopyVendorDevmode(in.data(), in.size(), out.data(), out.size()));
  EXPECT_TRUE(std::equal(in.begin() + 12, in.end(), out.begin() + 12));
  EXPECT_FALSE(CopyVendorDevmode(nullptr, out.data()));
  EXPECT_FALSE(CopyVendorDevmode(in.data(), nullptr));
  Bytes small(100);
  EXPECT_FALSE(CopyVendorDevmode(in.data(), in.size(), small.data(), small.size()));
}

// A public device mode with the host's private data (hostSize bytes, its size at byte 8)
// and then the plug-in's record.
Bytes DevmodeWithRecord(std::uint16_t dmSize, std::uint16_t hostSize, std::uint16_t driverExtra) {
  Bytes devmode(std::size_t{dmSize} + driverExtra, 0);
  le::PutU16(devmode.data() + 68, dmSize);
  le::PutU16(devmode.data() + 70, driverExtra);
  if (driverExtra >= 10) le::PutU16(devmode.data() + dmSize + 8, hostSize);
  const Bytes record = DefaultRecord();
  const std::size_t room = devmode.size() - std::min<std::size_t>(devmode.size(), dmSize + hostSize);
  std::copy_n(record.begin(), std::min(room, record.size()), devmode.begin() + dmSize + hostSize);
  return devmode;
}

TEST(VendorLocator, FindsTheRecordOnlyWhenItIsWhole) {
  struct Case {
    const char* name;
    std::uint16_t dmSize, hostSize, driverExtra;
    bool found;
  };
  const Case cases[] = {
      {"exact fit", 220, 100, 100 + 5240, true},
      {"one byte short", 220, 100, 100 + 5239, false},
      {"public part too small", 219, 100, 100 + 5240, false},
      {"no host data", 220, 0, 5240, false},
      {"driver extra below 11", 220, 8, 10, false},
      {"larger public part", 236, 64, 64 + 6000, true},
  };
  for (const auto& c : cases) {
    Bytes devmode = DevmodeWithRecord(c.dmSize, c.hostSize, c.driverExtra);
    auto offset = FindVendorDevmodeOffset(devmode.data(), devmode.size());
    EXPECT_EQ(offset.has_value(), c.found) << c.name;
    if (offset) {
      EXPECT_EQ(*offset, std::size_t{c.dmSize} + c.hostSize + 12) << c.name;
    }
  }
}

TEST(VendorLocator, RejectsBadHeadersAndShortBuffers) {
  Bytes devmode = DevmodeWithRecord(220, 100, 100 + 5240);
  ASSERT_TRUE(FindVendorDevmodeOffset(devmode.data(), devmode.size()));
  // A device mode whose sizes claim more than the caller holds.
  EXPECT_FALSE(FindVendorDevmodeOffset(devmode.data(), devmode.size() - 1));
  le::PutU32(devmode.data() + 320, 5239);  // dwSize
  EXPECT_FALSE(FindVendorDevmodeOffset(devmode.data(), devmode.size()));
  le::PutU32(devmode.data() + 320, 5240);
  devmode[324] = 'q';  // signature
  EXPECT_FALSE(FindVendorDevmodeOffset(devmode.data(), devmode.size()));
  EXPECT_FALSE(FindVendorDevmodeOffset(nullptr, 0));
  EXPECT_EQ(FindVendorDevmode(nullptr), nullptr);
}

TEST(VendorLocator, FindsTheBodyInTheHostsDeviceMode) {
  Bytes devmode = DevmodeWithRecord(220, 100, 100 + 5240);
  auto* found = FindVendorDevmode(reinterpret_cast<DEVMODEW*>(devmode.data()));
  EXPECT_EQ(found, devmode.data() + 220 + 100 + 12);
}

class DevModeRequest : public ::testing::Test {
 protected:
  OEMDMPARAM Param(std::uint8_t* in, std::uint8_t* out) {
    OEMDMPARAM param{};
    param.cbSize = sizeof param;
    param.pOEMDMIn = in;
    param.pOEMDMOut = out;
    return param;
  }
  VendorDevModeHandler Recorder() {
    return [this](DWORD mode, const OEMDMPARAM&, std::uint8_t* bodyIn, std::uint8_t* bodyOut) {
      forwarded.push_back(mode);
      lastBodyIn = bodyIn;
      lastBodyOut = bodyOut;
    };
  }
  std::vector<DWORD> forwarded;
  std::uint8_t* lastBodyIn = nullptr;
  std::uint8_t* lastBodyOut = nullptr;
};

TEST_F(DevModeRequest, RefusesBadModesAndMissingParameters) {
  for (DWORD mode : {0u, 5u, 0xFFFFFFFFu}) {
    OEMDMPARAM param = Param(nullptr, nullptr);
    platform::SetLastError(0);
    EXPECT_EQ(HandleDevModeRequest(mode, &param, Recorder()), E_FAIL);
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_PARAMETER);
  }
  platform::SetLastError(0);
  EXPECT_EQ(HandleDevModeRequest(OEMDM_SIZE, nullptr, Recorder()), E_FAIL);
  EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(forwarded.empty());
}

TEST_F(DevModeRequest, SizeAndDefaults) {
  Bytes in(kVendorRecordSize, 0x11), out(kVendorRecordSize, 0xAA);
  OEMDMPARAM param = Param(in.data(), out.data());
  ASSERT_EQ(HandleDevModeRequest(OEMDM_SIZE, &param, Recorder()), S_OK);
  EXPECT_EQ(param.cbBufSize, kVendorRecordSize);
  EXPECT_EQ(out, Bytes(kVendorRecordSize, 0xAA));
  EXPECT_EQ(in, Bytes(kVendorRecordSize, 0x11));

  ASSERT_EQ(HandleDevModeRequest(OEMDM_DEFAULT, &param, Recorder()), S_OK);
  EXPECT_EQ(le::U32(out.data()), 5240u);
  EXPECT_EQ(le::U32(out.data() + 4), kVendorSignature);
  EXPECT_EQ(le::U32(out.data() + 8), 1u);
  EXPECT_EQ(out[12 + 66], 0xAA);    // not written by the defaults
  EXPECT_EQ(out[12 + 5227], 0xAA);  // the tail
  EXPECT_EQ(le::I16(out.data() + 12 + 616), 6);
  EXPECT_TRUE(forwarded.empty());
}

TEST_F(DevModeRequest, ConvertAndMergeForwardToTheVendor) {
  Bytes in = DefaultRecord();
  le::PutU32(in.data(), 4000);
  Bytes out = DefaultRecord();
  OEMDMPARAM param = Param(in.data(), out.data());
  EXPECT_EQ(HandleDevModeRequest(OEMDM_CONVERT, &param, Recorder()), S_OK);
  EXPECT_EQ(HandleDevModeRequest(OEMDM_MERGE, &param, Recorder()), S_OK);
  EXPECT_EQ(forwarded, (std::vector<DWORD>{OEMDM_CONVERT, OEMDM_MERGE}));
  EXPECT_EQ(lastBodyIn, in.data() + 12);
  EXPECT_EQ(lastBodyOut, out.data() + 12);
}

TEST_F(DevModeRequest, MergeWithoutInputStampsTheOutputAndForwardsNothing) {
  Bytes out(kVendorRecordSize, 0);
  OEMDMPARAM param = Param(nullptr, out.data());
  EXPECT_EQ(HandleDevModeRequest(OEMDM_MERGE, &param, Recorder()), S_OK);
  EXPECT_EQ(le::U32(out.data()), 5240u);
  EXPECT_EQ(le::U32(out.data() + 4), kVendorSignature);
  EXPECT_TRUE(forwarded.empty());
  // CONVERT without an output record does nothing and still succeeds.
  Bytes in = DefaultRecord();
  OEMDMPARAM convert = Param(in.data(), nullptr);
  EXPECT_EQ(HandleDevModeRequest(OEMDM_CONVERT, &convert, Recorder()), S_OK);
  EXPECT_TRUE(forwarded.empty());
}

TEST_F(DevModeRequest, ConvertFromAForeignSignatureGivesADefaultRecord) {
  Bytes in(kVendorRecordSize, 0x33);
  Bytes out = DefaultRecord();
  le::PutU32(out.data(), 17);
  OEMDMPARAM param = Param(in.data(), out.data());
  EXPECT_EQ(HandleDevModeRequest(OEMDM_CONVERT, &param, Recorder()), S_OK);
  EXPECT_EQ(out, DefaultRecord());
}

}  // namespace
}  // namespace velmora
