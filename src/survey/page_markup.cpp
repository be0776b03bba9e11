#include "survey/internal/page_markup.h"

#include "common/text_encoding.h"

namespace basinfit::survey {

std::string escape_html(std::string_view raw) {
  // Text from the inputs is bytes as read: decoded once, every byte that is not UTF-8 and every
  // control character (DEL and C1 included) becomes U+FFFD, so the page stays valid UTF-8.
  const std::string text = printable_utf8(raw);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        // Control characters other than tab and newline have no business in a page.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
  return out;
}

namespace html {

void Html::spill() {
  if (sink_ != nullptr && out_.size() >= (std::size_t{1} << 16)) {
    (*sink_)(out_);
    out_.clear();
  }
}

void Html::finish() {
  if (sink_ != nullptr && !out_.empty()) (*sink_)(out_);
  out_.clear();
}

Html& Html::element(std::string_view tag, std::string_view text, std::string_view attributes) {
  out_ += '<';
  out_ += tag;
  if (!attributes.empty()) {
    out_ += ' ';
    out_ += attributes;
  }
  out_ += '>';
  out_ += escape_html(text);
  out_ += "</";
  out_ += tag;
  out_ += '>';
  return *this;
}

std::string escape_html_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
      out += "\xEF\xBF\xBD";
    } else {
      out += c;
    }
  }
  return out;
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += "\xEF\xBF\xBD";
    } else {
      out += c;
    }
  }
  out += '"';
  return escape_html_text(out);
}

void missing_cell(Html& h, const std::string& reason) {
  h.raw("<td class=\"missing\" data-reason=\"").text(reason).raw("\" title=\"").text(reason).raw("\"></td>");
}

}  // namespace html
}  // namespace basinfit::survey
