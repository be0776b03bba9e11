#pragma once
// Writing the survey page's markup: the stream of text that goes to the page's sink in pieces,
// and the escaping of everything that comes from input files.
//
//   html::Html h(&sink);
//   h.element("h1", page.title);                // <h1>escaped title</h1>
//   h.raw("<p>").text(note).raw("</p>");        // markup as given, text escaped
//   h.spill();                                  // hands ~64 KiB on to the sink at a safe point
//   h.finish();                                 // hands on the rest
//
// `raw` takes markup this program wrote; anything read from an input goes through `text`,
// `element` or escape_html (html_page.h), never through `raw` alone.

#include <string>
#include <string_view>

#include "survey/html_page.h"

namespace basinfit::survey::html {

// The page's text, handed to the sink in pieces of about 64 KiB (at the points where spill()
// is called) so the page is never held whole.  Without a sink it only gathers (str()).
class Html {
 public:
  explicit Html(const PageSink* sink = nullptr) : sink_(sink) {}
  void spill();
  void finish();
  Html& raw(std::string_view s) {
    out_ += s;
    return *this;
  }
  Html& text(std::string_view s) {
    out_ += escape_html(s);
    return *this;
  }
  // <tag attributes>text</tag>, the text escaped.
  Html& element(std::string_view tag, std::string_view text, std::string_view attributes = {});
  const std::string& str() const { return out_; }

 private:
  const PageSink* sink_;
  std::string out_;
};

// Text inside an element, where only & < > need escaping (control characters become U+FFFD).
std::string escape_html_text(std::string_view text);

// Text as a JSON string inside HTML text: quotes and backslashes escaped for JSON, then & < >
// for HTML (the browser gives the script the text with the entities resolved).
std::string json_string(std::string_view text);

// A value that does not exist: an empty cell that says why (in its tooltip and to readers that
// look for `data-reason`), never a 0 or a bare dash.
void missing_cell(Html& h, const std::string& reason);

}  // namespace basinfit::survey::html
