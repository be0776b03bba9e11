#include "common/text_encoding.h"

namespace basinfit {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at the start of `text` (1 to 4), or 0 when its
// first byte does not begin one (RFC 3629, table 3-7 of the Unicode standard).
std::size_t sequence_length(std::string_view text, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  code = lead & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) code = (code << 6) | (byte(i) & 0x3F);
  return length;
}

template <class Keep>
std::string decode(std::string_view text, Keep keep) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    char32_t code = 0;
    const std::size_t length = sequence_length(text, code);
    if (length == 0) {
      out += kReplacement;
      text.remove_prefix(1);
      continue;
    }
    if (keep(code))
      out.append(text.substr(0, length));
    else
      out += kReplacement;
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace

std::string printable_utf8(std::string_view text) {
  return decode(text, [](char32_t c) {
    if (c == '\t' || c == '\n' || c == '\r') return true;
    return !(c < 0x20 || (c >= 0x7F && c <= 0x9F));
  });
}

VisibleControlBytes::int_type VisibleControlBytes::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const auto byte = static_cast<unsigned char>(traits_type::to_char_type(c));
  if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7f) {
    static constexpr char kHex[] = "0123456789abcdef";
    const char shown[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    return to_->sputn(shown, 4) == 4 ? c : traits_type::eof();
  }
  return traits_type::eq_int_type(to_->sputc(static_cast<char>(byte)), traits_type::eof()) ? traits_type::eof()
                                                                                              : c;
}

}  // namespace basinfit
