#pragma once
// The two routes every progress line and message takes.  In batch mode (a log unit is
// given) both write "(1x,a)" records to the log; in windowed mode they write "(10x,a)"
// records to the text window, which is the terminal.  The text is written without its
// trailing blanks.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/record_format.h"

namespace basinfit {

class MessageWriter {
 public:
  // `log` is the log unit in batch mode, or nullptr in windowed mode, where `text_window`
  // receives the lines.
  MessageWriter(TextUnit* log, TextUnit* text_window) : log_(log), text_window_(text_window) {}
  // A writer that keeps the texts instead of writing them, for a worker of a parallel run whose
  // lines reach the log or the text window later, in survey order, through `replay`.  It
  // answers `batch()` as the run's own writer does.
  MessageWriter(std::vector<std::string>* recorded, bool batch)
      : recorded_(recorded), recorded_batch_(batch) {}

  // Writes texts kept by a recording writer, as `progress` would have written them.
  void replay(std::span<const std::string> texts);

  // Progress lines: drop start and end, seed, current and final moduli, RMS lines.
  void progress(std::string_view text);
  // Input-error messages.  In windowed mode the text window is first made the active one.
  void error(std::string_view text);

  bool batch() const { return recorded_ != nullptr ? recorded_batch_ : log_ != nullptr; }
  // Writes out the log's lines so far (a whole station); the text window is written per line.
  void flush();

 private:
  void write(std::string_view text);
  TextUnit* log_ = nullptr;
  TextUnit* text_window_ = nullptr;
  std::vector<std::string>* recorded_ = nullptr;
  bool recorded_batch_ = false;
};

}  // namespace basinfit
