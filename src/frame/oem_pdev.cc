// The slot in the plug-in's per-device object where the host's own function of each index is saved.
#include "src/frame/oem_pdev.h"

namespace velmora {

PFN* SavedHostFunctionSlot(SavedHostFunctions& saved, ULONG index) {
  switch (index) {
    case INDEX_DrvAlphaBlend: return &saved.AlphaBlend;
    case INDEX_DrvBitBlt: return &saved.BitBlt;
    case INDEX_DrvCopyBits: return &saved.CopyBits;
    case INDEX_DrvDitherColor: return &saved.DitherColor;
    case INDEX_DrvEndDoc: return &saved.EndDoc;
    case INDEX_DrvEscape: return &saved.Escape;
    case INDEX_DrvFillPath: return &saved.FillPath;
    case INDEX_DrvFontManagement: return &saved.FontManagement;
    case INDEX_DrvGetGlyphMode: return &saved.GetGlyphMode;
    case INDEX_DrvGradientFill: return &saved.GradientFill;
    case INDEX_DrvLineTo: return &saved.LineTo;
    case INDEX_DrvNextBand: return &saved.NextBand;
    case INDEX_DrvPaint: return &saved.Paint;
    case INDEX_DrvPlgBlt: return &saved.PlgBlt;
    case INDEX_DrvQueryAdvanceWidths: return &saved.QueryAdvanceWidths;
    case INDEX_DrvQueryFont: return &saved.QueryFont;
    case INDEX_DrvQueryFontData: return &saved.QueryFontData;
    case INDEX_DrvQueryFontTree: return &saved.QueryFontTree;
    case INDEX_DrvRealizeBrush: return &saved.RealizeBrush;
    case INDEX_DrvSendPage: return &saved.SendPage;
    case INDEX_DrvStartBanding: return &saved.StartBanding;
    case INDEX_DrvStartDoc: return &saved.StartDoc;
    case INDEX_DrvStartPage: return &saved.StartPage;
    case INDEX_DrvStretchBlt: return &saved.StretchBlt;
    case INDEX_DrvStretchBltROP: return &saved.StretchBltROP;
    case INDEX_DrvStrokeAndFillPath: return &saved.StrokeAndFillPath;
    case INDEX_DrvStrokePath: return &saved.StrokePath;
    case INDEX_DrvTextOut: return &saved.TextOut;
    case INDEX_DrvTransparentBlt: return &saved.TransparentBlt;
    default: return nullptr;
  }
}

}  // namespace velmora
