// Rendering a PDF, PostScript or EPS document into PCL XL with Ghostscript's pxlmono
// device, run as a separate program for the job's resolution and sheet.
#pragma once

#include <string>

#include "host/page_source.h"

namespace velmora::host {

// What a document file holds, judged by its first bytes.
enum class DocumentKind { kEmpty, kPdf, kPostScript, kUnknown };
DocumentKind SniffDocument(const std::string& path);

// Renders `document` (shown as `name` in messages) into `streamPath`. Throws HostError
// "Unable to print 'NAME': CAUSE" when the file is empty, is no PDF or PostScript
// document, is damaged or protected by a password, when Ghostscript reports an error on
// any page, or cannot be run.
// `pageRanges` (checked, empty for all) picks the pages Ghostscript renders.
void RenderWithGhostscript(const std::string& document, const std::string& name, const PageGeometry& geometry,
                           const std::string& streamPath, const std::string& pageRanges = {});

}  // namespace velmora::host
