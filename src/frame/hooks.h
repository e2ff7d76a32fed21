// The host functions the plug-in hooks: the graphics engine calls these instead of the
// host's own, and they call the host's saved function after (or instead of) telling the
// vendor object.
#pragma once

#include <cstddef>

#include "formats/host_interface.h"
#include "src/frame/oem_pdev.h"

namespace velmora {

// The hook table EnableDriver hands to the host: 13 entries.
inline constexpr std::size_t kHookCount = 13;
extern DRVFN HookTable[kHookCount];

// Lets the vendor object produce its stream for a job-control event and writes it with
// the host's own spool write.
void DispatchJobEvent(DEVOBJ* pdevobj, DWORD event, const WCHAR* documentName, DWORD jobId);

// True when the spooler is deleting, has deleted or restarts the device's job.
bool IsJobBeingDeleted(DEVOBJ* pdevobj);

// The hooks.
BOOL OEMBitBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*, POINTL*, BRUSHOBJ*, POINTL*, ROP4);
BOOL OEMCopyBits(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*);
BOOL OEMPlgBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*, void*, RECTL*, POINTL*,
               ULONG);
BOOL OEMStretchBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*, RECTL*, RECTL*,
                   POINTL*, ULONG);
BOOL OEMStretchBltROP(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*, RECTL*, RECTL*,
                      POINTL*, ULONG, BRUSHOBJ*, ROP4);
BOOL OEMTransparentBlt(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, RECTL*, ULONG, ULONG);
BOOL OEMLineTo(SURFOBJ*, CLIPOBJ*, BRUSHOBJ*, LONG, LONG, LONG, LONG, RECTL*, MIX);
BOOL OEMTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX);
BOOL OEMStartDoc(SURFOBJ*, WCHAR*, DWORD);
BOOL OEMEndDoc(SURFOBJ*, ULONG);
BOOL OEMStartPage(SURFOBJ*);
BOOL OEMSendPage(SURFOBJ*);
ULONG OEMEscape(SURFOBJ*, ULONG, ULONG, void*, ULONG, void*);

}  // namespace velmora
