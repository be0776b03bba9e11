#pragma once
// The two routes every progress line and message takes.  In batch mode (a log unit is
// given) both write "(1x,a)" records to the log; in windowed mode they write "(10x,a)"
// records to the text window, which is the terminal.  The text is written without its
// trailing blanks.

#include <string_view>

#include "common/record_format.h"

namespace basinfit {

class MessageWriter {
 public:
  // `log` is the log unit in batch mode, or nullptr in windowed mode, where `text_window`
  // receives the lines.
  MessageWriter(TextUnit* log, TextUnit* text_window) : log_(log), text_window_(text_window) {}

  // Progress lines: drop start and end, seed, current and final moduli, RMS lines.
  void progress(std::string_view text);
  // Input-error messages.  In windowed mode the text window is first made the active one.
  void error(std::string_view text);

  bool batch() const { return log_ != nullptr; }
  // Writes out the log's lines so far (a whole station); the text window is written per line.
  void flush();

 private:
  void write(std::string_view text);
  TextUnit* log_;
  TextUnit* text_window_;
};

}  // namespace basinfit
