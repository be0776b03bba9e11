#pragma once
// Text from the input files is bytes as read: titles, routes and station identifiers may hold
// Latin-1 or other non-UTF-8 bytes, and control characters.  Every output that declares UTF-8
// (the survey page, the chart captions, the results tables, the run record) decodes such text
// once through this function, so a stray byte can neither stop a writer nor make a file invalid.

#include <streambuf>
#include <string>
#include <string_view>

namespace basinfit {

// `text` as valid UTF-8 without control characters: every byte that does not begin a
// well-formed sequence (overlong forms, surrogates and values beyond U+10FFFF included), and
// every control character but tab, line feed and carriage return (the C0 controls, DEL and the
// C1 controls U+0080-U+009F), becomes U+FFFD; everything else is kept byte for byte.
std::string printable_utf8(std::string_view text);

// A stream buffer for the terminal: passes text on to `to`, writing every control byte but
// line feed and tab (ESC, BEL, carriage return, DEL, ...) as `\xHH`, so an escape sequence held
// in a station identifier or a title cannot clear or retitle the engineer's terminal.  Used for
// the text window only; files keep their bytes.
class VisibleControlBytes : public std::streambuf {
 public:
  explicit VisibleControlBytes(std::streambuf* to) : to_(to) {}

 protected:
  int_type overflow(int_type c) override;
  int sync() override { return to_->pubsync(); }

 private:
  std::streambuf* to_;
};

}  // namespace basinfit
