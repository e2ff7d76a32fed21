// The host's own commands of the printer description, as PCL XL bytes.
#include "host/printer_commands.h"

#include "host/pxl_encoder.h"

namespace velmora::host {
namespace {

using pxl::Attr;
using pxl::Op;

constexpr std::uint8_t kMeasureInch = 0;
constexpr std::uint8_t kErrorReportNone = 0;
constexpr std::uint8_t kSourceTypeDefault = 0;
constexpr std::uint8_t kDataOrgLowByteFirst = 1;
constexpr std::uint8_t kPortrait = 0;
constexpr std::uint8_t kLandscape = 1;
constexpr std::uint8_t kReversePortrait = 2;
constexpr std::uint8_t kReverseLandscape = 3;
constexpr std::uint8_t kCustomUnitsInch = 0;
constexpr double kMillimetresPerInch = 25.4;

}  // namespace

std::vector<std::uint8_t> HostCommandBytes(CommandKind kind, const CommandSetting& setting) {
  PxlEncoder out;
  switch (kind) {
    case CommandKind::kCallback: break;
    case CommandKind::kStreamHeader:
      out.Raw({reinterpret_cast<const std::uint8_t*>(kStreamHeader.data()), kStreamHeader.size()});
      break;
    case CommandKind::kBeginSession:
      out.UByte(kMeasureInch, Attr::Measure)
          .UInt16Xy(static_cast<std::uint16_t>(setting.xResolution), static_cast<std::uint16_t>(setting.yResolution),
                    Attr::UnitsPerMeasure)
          .UByte(kErrorReportNone, Attr::ErrorReport)
          .Operator(Op::BeginSession);
      break;
    case CommandKind::kOpenDataSource:
      out.UByte(kSourceTypeDefault, Attr::SourceType)
          .UByte(kDataOrgLowByteFirst, Attr::DataOrg)
          .Operator(Op::OpenDataSource);
      break;
    case CommandKind::kOrientation: {
      const std::uint8_t upright = setting.landscape ? kLandscape : kPortrait;
      const std::uint8_t reversed = setting.landscape ? kReverseLandscape : kReversePortrait;
      out.UByte(setting.reversed ? reversed : upright, Attr::Orientation);
      break;
    }
    case CommandKind::kMediaSize: {
      const Paper* paper = setting.paper;
      if (paper != nullptr && paper->mediaSize >= 0) {
        out.UByte(static_cast<std::uint8_t>(paper->mediaSize), Attr::MediaSize);
        break;
      }
      const double width = paper != nullptr ? paper->widthMm : 210;
      const double height = paper != nullptr ? paper->heightMm : 297;
      out.Real32Xy(static_cast<float>(width / kMillimetresPerInch), static_cast<float>(height / kMillimetresPerInch),
                   Attr::CustomMediaSize)
          .UByte(kCustomUnitsInch, Attr::CustomMediaSizeUnits);
      break;
    }
    case CommandKind::kBeginPage: out.Operator(Op::BeginPage); break;
  }
  return out.bytes();
}

}  // namespace velmora::host
