#include "common/message_writer.h"

namespace basinfit {

namespace {
std::string_view without_trailing_blanks(std::string_view text) {
  const auto end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}
}  // namespace

void MessageWriter::write(std::string_view text) {
  if (recorded_ != nullptr) {
    recorded_->emplace_back(text);
    return;
  }
  text = without_trailing_blanks(text);
  if (log_ != nullptr) {
    log_->write(BASINFIT_FMT("(1x,a)"), text);
  } else if (text_window_ != nullptr) {
    text_window_->write(BASINFIT_FMT("(10x,a)"), text);
    text_window_->flush();  // the user watches the run as it goes
  }
}

void MessageWriter::flush() {
  if (log_ != nullptr) log_->flush();
}

void MessageWriter::progress(std::string_view text) { write(text); }

void MessageWriter::replay(std::span<const std::string> texts) {
  for (const std::string& text : texts) write(text);
}

// The terminal is the only text window, so it is always the active one.
void MessageWriter::error(std::string_view text) { write(text); }

}  // namespace basinfit
