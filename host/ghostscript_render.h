// Rendering a PDF, PostScript or EPS document into PCL XL with Ghostscript's pxlmono
// device, run as a separate program for the job's resolution and sheet, while the job
// prints the pages it has rendered so far. Ghostscript starts before the job knows its
// resolution and sheet, and loads while the job starts; it is told them once they are
// known.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "host/page_source.h"
#include "platform/process.h"

namespace velmora::host {

// What a document file holds, judged by its first bytes.
enum class DocumentKind { kEmpty, kPdf, kPostScript, kUnknown };
DocumentKind SniffDocument(const std::string& path);

// One run of Ghostscript on a document. Its messages are collected as they come, to learn
// the page count it announces and, at the end, the cause of a failure.
class GhostscriptRender {
 public:
  // Checks `document` (shown as `name` in messages) and starts Ghostscript on it under
  // `limits`, with `temporaryFolder` (the job's private folder, which -dSAFER lets the
  // document read) as its temporary folder. `pageRanges` (checked, empty for all) picks
  // the pages it renders. Throws HostError "Unable to print 'NAME': CAUSE" when the file
  // is missing or empty, is no PDF or PostScript document, or Ghostscript cannot be run.
  // Ghostscript renders nothing before Render.
  GhostscriptRender(const std::string& document, const std::string& name, const std::string& temporaryFolder,
                    const std::string& pageRanges = {}, const platform::ProgramLimits& limits = {});
  // Ends Ghostscript if it is still running.
  ~GhostscriptRender();
  GhostscriptRender(const GhostscriptRender&) = delete;
  GhostscriptRender& operator=(const GhostscriptRender&) = delete;

  // Renders the document for `geometry`: its resolution, and the sheet of a page whose
  // document names no size. Called once; a Ghostscript that has ended meanwhile reports
  // why through Read and Finish.
  void Render(const PageGeometry& geometry);
  bool rendering() const { return rendering_; }
  DocumentKind kind() const { return kind_; }

  // The pages Ghostscript will render, known before it renders the first: the count it
  // announces for a PDF (whole, or one range of pages), or the count a PostScript
  // document states by the document structuring conventions when its page comments
  // agree. None otherwise (a list of ranges, PostScript that states no count, a
  // document Ghostscript cannot open). Waits for the announcement or the end of its
  // messages.
  std::optional<std::size_t> AnnouncedPages();
  // Reads the rendered PJL + PCL XL stream: up to `size` bytes, waiting for some; 0 at
  // its end.
  std::size_t Read(std::uint8_t* buffer, std::size_t size);
  // Reads what is left of the stream and waits for Ghostscript to end. Throws HostError
  // "Unable to print 'NAME': CAUSE" when the document is damaged or protected by a
  // password, when Ghostscript reports an error on any page, when it used up a limit, or
  // when a signal ended it (the system's out-of-memory killer), which is named as such.
  void Finish();

 private:
  void CollectMessages();

  std::string document_;
  std::string name_;
  DocumentKind kind_ = DocumentKind::kUnknown;
  bool pagesPicked_ = false;
  std::string pageSelection_;                                     // the page selection's keys for the device set-up
  std::optional<std::pair<std::size_t, std::size_t>> pageRange_;  // one range picked, its last page open (0)
  bool rendering_ = false;
  bool lastReadShort_ = false;  // the last read of the stream found less than it could take
  platform::ProgramLimits limits_;
  std::unique_ptr<platform::RunningProgram> program_;
  std::thread messagesReader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string messages_;
  bool messagesEnded_ = false;
};

}  // namespace velmora::host
