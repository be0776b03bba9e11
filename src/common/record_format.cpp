#include "common/record_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "common/output_file.h"

namespace basinfit {

// ---------------------------------------------------------------------------------------
// Parsed item tree

struct Format::Node {
  enum class Kind { kGroup, kA, kI, kF, kE, kD, kX, kSlash, kColon, kKeepOpen, kLiteral, kScale };
  Kind kind = Kind::kGroup;
  int repeat = 1;
  int width = 0;  // 0 for a plain A: the value's own length
  int digits = 0;
  std::string text;            // literal text
  std::vector<Node> children;  // group members

  bool is_data() const {
    return kind == Kind::kA || kind == Kind::kI || kind == Kind::kF || kind == Kind::kE || kind == Kind::kD;
  }
};

namespace {

using Node = Format::Node;
using Kind = Format::Node::Kind;

// Field limits far beyond any record: they keep every numeric field within fixed buffers.
constexpr int kMaxDigits = 100;
constexpr int kMaxWidth = 1000;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Node parse() {
    skip_blanks();
    expect('(');
    Node root = parse_list();
    skip_blanks();
    if (pos_ != text_.size()) fail("text after the closing parenthesis");
    return root;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw FormatError("format \"" + std::string(text_) + "\": " + what + " at position " +
                      std::to_string(pos_ + 1));
  }

  void skip_blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }

  char peek() {
    skip_blanks();
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }

  char upper_peek() {
    const char c = peek();
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }

  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++pos_;
  }

  bool at_digit() {
    const char c = peek();
    return c >= '0' && c <= '9';
  }

  // Unsigned integer; blanks inside a number are insignificant, as in fixed-form formats.
  int number() {
    if (!at_digit()) fail("expected a number");
    long value = 0;
    while (at_digit()) {
      value = value * 10 + (text_[pos_] - '0');
      if (value > 100000) fail("number too large");
      ++pos_;
    }
    return static_cast<int>(value);
  }

  // The list inside a group, up to and including its closing parenthesis.
  Node parse_list() {
    Node group;
    group.kind = Kind::kGroup;
    while (true) {
      const char c = peek();
      if (c == ')') {
        ++pos_;
        return group;
      }
      if (c == '\0') fail("missing ')'");
      if (c == ',') {
        ++pos_;
        continue;
      }
      parse_item(group.children);
    }
  }

  void parse_item(std::vector<Node>& out) {
    char c = peek();
    if (c == '\'' || c == '"') {
      Node lit;
      lit.kind = Kind::kLiteral;
      const char quote = c;
      ++pos_;
      while (true) {
        if (pos_ >= text_.size()) fail("unterminated string");
        if (text_[pos_] == quote) {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == quote) {
            lit.text += quote;
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        lit.text += text_[pos_++];
      }
      out.push_back(std::move(lit));
      return;
    }
    if (c == '/' || c == ':' || c == '\\' || c == '$') {
      ++pos_;
      Node n;
      n.kind = c == '/' ? Kind::kSlash : (c == ':' ? Kind::kColon : Kind::kKeepOpen);
      out.push_back(std::move(n));
      return;
    }
    bool negative = false;
    if (c == '-' || c == '+') {
      negative = c == '-';
      ++pos_;
      if (!at_digit()) fail("expected a scale factor");
    }
    int repeat = -1;
    if (at_digit()) repeat = number();
    const char d = upper_peek();
    if (negative && d != 'P') fail("a sign belongs only to a scale factor");
    if (d == 'P') {
      ++pos_;
      if (repeat < 0) fail("P needs a scale factor");
      Node n;
      n.kind = Kind::kScale;
      if (repeat > kMaxDigits) fail("scale factor too large");
      n.width = negative ? -repeat : repeat;
      out.push_back(std::move(n));
      return;
    }
    if (repeat == 0) fail("a repeat count must be positive");
    if (d == '(') {
      ++pos_;
      Node g = parse_list();
      g.repeat = repeat < 0 ? 1 : repeat;
      out.push_back(std::move(g));
      return;
    }
    if (d == '/') {
      ++pos_;
      for (int i = 0; i < (repeat < 0 ? 1 : repeat); ++i) {
        Node slash;
        slash.kind = Kind::kSlash;
        out.push_back(std::move(slash));
      }
      return;
    }
    if (d == '\0') fail("missing ')'");
    Node n;
    n.repeat = repeat < 0 ? 1 : repeat;
    ++pos_;
    switch (d) {
      case 'X':
        n.kind = Kind::kX;
        n.width = repeat < 0 ? 1 : repeat;
        n.repeat = 1;
        break;
      case 'A':
        n.kind = Kind::kA;
        if (at_digit()) {
          n.width = number();
          if (n.width == 0 || n.width > kMaxWidth) fail("A needs a width of 1 to 1000");
        }
        break;
      case 'I':
        n.kind = Kind::kI;
        n.width = number();
        if (n.width == 0 || n.width > kMaxWidth) fail("I needs a width of 1 to 1000");
        break;
      case 'F':
      case 'E':
      case 'D':
        n.kind = d == 'F' ? Kind::kF : (d == 'E' ? Kind::kE : Kind::kD);
        n.width = number();
        if (n.width == 0 || n.width > kMaxWidth) fail("a real edit needs a width of 1 to 1000");
        expect('.');
        n.digits = number();
        if (n.digits > kMaxDigits) fail("too many digits after the point");
        if (n.kind != Kind::kF && upper_peek() == 'E') fail("exponent widths are not supported");
        break;
      default:
        --pos_;
        fail(std::string("unknown edit descriptor '") + text_[pos_] + "'");
    }
    out.push_back(std::move(n));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

bool holds(const Node& n, Kind kind) {
  if (n.kind == kind) return true;
  for (const Node& c : n.children)
    if (holds(c, kind)) return true;
  return false;
}

bool holds_data(const Node& n) {
  if (n.is_data()) return true;
  for (const Node& c : n.children)
    if (holds_data(c)) return true;
  return false;
}

void fill_stars(std::string& out, int width) { out.append(static_cast<std::size_t>(width), '*'); }

void right_justify(std::string& out, std::string_view text, int width) {
  if (static_cast<int>(text.size()) > width) {
    fill_stars(out, width);
    return;
  }
  out.append(static_cast<std::size_t>(width) - text.size(), ' ');
  out.append(text);
}

// Infinity and NaN as the Fortran runtime writes them in a numeric field.
bool write_non_finite(std::string& out, double value, int width) {
  if (std::isnan(value)) {
    right_justify(out, "NaN", width);
    return true;
  }
  if (std::isinf(value)) {
    const bool negative = value < 0;
    const int sign = negative ? 1 : 0;
    if (width >= 8 + sign)
      right_justify(out, negative ? "-Infinity" : "Infinity", width);
    else if (width >= 3 + sign)
      right_justify(out, negative ? "-Inf" : "Inf", width);
    else
      fill_stars(out, width);
    return true;
  }
  return false;
}

// Exact decimal digits of |value|; ties round half to even, like the runtime we follow.
std::string digits_fixed(double magnitude, int precision) {
  char buffer[1024];  // 309 integer digits of the largest double and up to 200 decimals
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed, precision);
  return std::string(buffer, result.ptr);
}

void write_fixed(std::string& out, double value, int width, int digits, int scale) {
  if (write_non_finite(out, value, width)) return;
  const bool negative = std::signbit(value);
  double magnitude = std::fabs(value);
  std::string text;
  if (scale > 0) {
    // The scale factor moves the decimal point: format with more digits, then shift.
    std::string raw = digits_fixed(magnitude, digits + scale);
    std::string::size_type point = raw.find('.');
    std::string whole = raw.substr(0, point) + raw.substr(point + 1, static_cast<std::size_t>(scale));
    std::string frac = raw.substr(point + 1 + static_cast<std::size_t>(scale));
    std::size_t nz = whole.find_first_not_of('0');
    whole = nz == std::string::npos ? "0" : whole.substr(nz);
    text = whole + "." + frac;
  } else {
    if (scale < 0) magnitude *= std::pow(10.0, scale);
    text = digits_fixed(magnitude, digits);
    if (digits == 0) text += '.';
  }
  const int sign = negative ? 1 : 0;
  if (static_cast<int>(text.size()) + sign > width && digits > 0 && text.size() > 1 && text[0] == '0' &&
      text[1] == '.') {
    text.erase(0, 1);  // no room for the optional zero before the point
  }
  if (negative) text.insert(0, 1, '-');
  right_justify(out, text, width);
}

void write_exponent_form(std::string& out, double value, int width, int digits, int scale, char letter) {
  if (write_non_finite(out, value, width)) return;
  const bool negative = std::signbit(value);
  const double magnitude = std::fabs(value);
  // Significant digits shown: d with no scale factor, d+1 with a positive one, d+k with a
  // negative one.
  int significant = scale > 0 ? digits + 1 : digits + scale;
  if (significant < 1 || (scale > 0 && scale > digits + 1)) {
    fill_stars(out, width);
    return;
  }
  char buffer[256];  // up to 101 significant digits and the exponent
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific,
                                    significant - 1);
  std::string sci(buffer, result.ptr);
  const std::string::size_type e_pos = sci.find('e');
  std::string mantissa_digits;
  for (std::string::size_type i = 0; i < e_pos; ++i)
    if (sci[i] != '.') mantissa_digits += sci[i];
  int exponent = std::stoi(sci.substr(e_pos + 1));
  const bool zero = magnitude == 0.0;
  std::string mantissa;
  if (scale > 0) {
    mantissa = mantissa_digits.substr(0, static_cast<std::size_t>(scale)) + "." +
               mantissa_digits.substr(static_cast<std::size_t>(scale));
    exponent = zero ? 0 : exponent - scale + 1;
  } else {
    mantissa = "0." + std::string(static_cast<std::size_t>(-scale), '0') + mantissa_digits;
    exponent = zero ? 0 : exponent + 1 - scale;
  }
  std::string exponent_text;
  const int abs_exp = exponent < 0 ? -exponent : exponent;
  char exp_buffer[8];
  if (abs_exp <= 99) {
    std::snprintf(exp_buffer, sizeof exp_buffer, "%c%c%02d", letter, exponent < 0 ? '-' : '+', abs_exp);
  } else if (abs_exp <= 999) {
    std::snprintf(exp_buffer, sizeof exp_buffer, "%c%03d", exponent < 0 ? '-' : '+', abs_exp);
  } else {
    fill_stars(out, width);
    return;
  }
  exponent_text = exp_buffer;
  const int sign = negative ? 1 : 0;
  if (static_cast<int>(mantissa.size() + exponent_text.size()) + sign > width && mantissa.size() > 1 &&
      mantissa[0] == '0' && mantissa[1] == '.') {
    mantissa.erase(0, 1);
  }
  std::string text = (negative ? "-" : "") + mantissa + exponent_text;
  right_justify(out, text, width);
}

}  // namespace

// ---------------------------------------------------------------------------------------

Format::Format(std::string_view text) : text_(text), root_(std::make_unique<Node>(Parser(text).parse())) {}
Format::~Format() = default;
Format::Format(Format&&) noexcept = default;
Format& Format::operator=(Format&&) noexcept = default;

bool Format::keeps_record_open() const { return holds(*root_, Kind::kKeepOpen); }

std::size_t FormatArg::count() const {
  switch (kind_) {
    case Kind::kFloatArray:
      return floats_.size();
    case Kind::kDoubleArray:
      return doubles_.size();
    case Kind::kIntArray:
      return ints_.size();
    case Kind::kShortArray:
      return shorts_.size();
    default:
      return 1;
  }
}

// Walks the item tree over the I/O list, the way a formatted WRITE does.
class FormatWalker {
 public:
  FormatWalker(const Format& format, std::span<const FormatArg> args, RecordSink& sink)
      : format_(format), args_(args), sink_(sink) {
    skip_empty();
  }

  void run() {
    const Node& root = format_.root();
    if (!walk(root)) return;
    if (!has_item()) return;
    if (!holds_data(root))
      throw FormatError("format \"" + format_.text() + "\": items left but no data edit");
    // Format reversion: a new record, then the rightmost top-level group (with its repeat
    // count), or the whole format when it has no group.
    const Node* target = &root;
    for (const Node& c : root.children)
      if (c.kind == Kind::kGroup) target = &c;
    if (!holds_data(*target))
      throw FormatError("format \"" + format_.text() + "\": reversion group has no data edit");
    while (has_item()) {
      pending_blanks_ = 0;
      sink_.end_record();
      if (!walk(*target)) return;
    }
  }

 private:
  struct Scalar {
    enum class Type { kInt, kReal, kText } type = Type::kInt;
    long long i = 0;
    double real = 0;
    std::string_view text;
  };

  bool has_item() const { return arg_ < args_.size(); }

  void skip_empty() {
    while (arg_ < args_.size() && element_ >= args_[arg_].count()) {
      ++arg_;
      element_ = 0;
    }
  }

  Scalar next() {
    const FormatArg& a = args_[arg_];
    Scalar s;
    switch (a.kind_) {
      case FormatArg::Kind::kInt:
        s.type = Scalar::Type::kInt;
        s.i = a.i_;
        break;
      case FormatArg::Kind::kFloat:
        s.type = Scalar::Type::kReal;
        s.real = static_cast<double>(a.f_);
        break;
      case FormatArg::Kind::kDouble:
        s.type = Scalar::Type::kReal;
        s.real = a.d_;
        break;
      case FormatArg::Kind::kText:
        s.type = Scalar::Type::kText;
        s.text = a.text_;
        break;
      case FormatArg::Kind::kFloatArray:
        s.type = Scalar::Type::kReal;
        s.real = static_cast<double>(a.floats_[element_]);
        break;
      case FormatArg::Kind::kDoubleArray:
        s.type = Scalar::Type::kReal;
        s.real = a.doubles_[element_];
        break;
      case FormatArg::Kind::kIntArray:
        s.type = Scalar::Type::kInt;
        s.i = a.ints_[element_];
        break;
      case FormatArg::Kind::kShortArray:
        s.type = Scalar::Type::kInt;
        s.i = a.shorts_[element_];
        break;
    }
    ++element_;
    ++position_;
    skip_empty();
    return s;
  }

  [[noreturn]] void runaway() const {
    throw FormatError("format \"" + format_.text() + "\": the record grows without end");
  }

  [[noreturn]] void mismatch(const char* wanted) const {
    throw FormatError("format \"" + format_.text() + "\": item " + std::to_string(position_) + " needs " +
                      wanted);
  }

  // Returns false when the write ends inside this group (items exhausted at a data edit or
  // a colon).
  bool walk(const Node& group) {
    for (int r = 0; r < group.repeat; ++r) {
      // Nested repeat counts can multiply into a record no unit could hold, or into an
      // endless walk over empty groups.
      if (++steps_ > kMaxSteps) runaway();
      for (const Node& n : group.children) {
        if (++steps_ > kMaxSteps) runaway();
        switch (n.kind) {
          case Kind::kGroup:
            if (!walk(n)) return false;
            break;
          case Kind::kColon:
            if (!has_item()) return false;
            break;
          case Kind::kSlash:
            pending_blanks_ = 0;
            sink_.end_record();
            break;
          case Kind::kKeepOpen:
            break;
          case Kind::kX:
            // nX only moves the position: the blanks appear when something follows.
            pending_blanks_ += static_cast<std::size_t>(n.width);
            break;
          case Kind::kLiteral:
            place_pending_blanks();
            sink_.current() += n.text;
            break;
          case Kind::kScale:
            scale_ = n.width;
            break;
          default:
            for (int k = 0; k < n.repeat; ++k) {
              if (!has_item()) return false;
              place_pending_blanks();
              edit(n, next());
            }
        }
      }
    }
    return true;
  }

  void edit(const Node& n, const Scalar& s) {
    std::string& out = sink_.current();
    switch (n.kind) {
      case Kind::kA: {
        if (s.type != Scalar::Type::kText) mismatch("a character value for an A edit");
        if (n.width == 0) {
          out += s.text;
        } else if (static_cast<std::size_t>(n.width) <= s.text.size()) {
          out += s.text.substr(0, static_cast<std::size_t>(n.width));
        } else {
          out.append(static_cast<std::size_t>(n.width) - s.text.size(), ' ');
          out += s.text;
        }
        break;
      }
      case Kind::kI: {
        if (s.type != Scalar::Type::kInt) mismatch("an integer for an I edit");
        right_justify(out, std::to_string(s.i), n.width);
        break;
      }
      case Kind::kF:
        if (s.type != Scalar::Type::kReal) mismatch("a real value for an F edit");
        write_fixed(out, s.real, n.width, n.digits, scale_);
        break;
      case Kind::kE:
      case Kind::kD:
        if (s.type != Scalar::Type::kReal) mismatch("a real value for an E or D edit");
        write_exponent_form(out, s.real, n.width, n.digits, scale_, n.kind == Kind::kE ? 'E' : 'D');
        break;
      default:
        break;
    }
  }

  void place_pending_blanks() {
    sink_.current().append(pending_blanks_, ' ');
    pending_blanks_ = 0;
  }

  const Format& format_;
  std::span<const FormatArg> args_;
  RecordSink& sink_;
  std::size_t pending_blanks_ = 0;
  static constexpr long kMaxSteps = 1'000'000;
  long steps_ = 0;
  std::size_t arg_ = 0;
  std::size_t element_ = 0;
  std::size_t position_ = 0;
  int scale_ = 0;
};

void format_records(const Format& format, std::span<const FormatArg> args, RecordSink& sink) {
  FormatWalker(format, args, sink).run();
}

// ---------------------------------------------------------------------------------------
// Units

void TextUnit::end_record() {
  record_ += '\n';
  if (file_ != nullptr) {
    file_->write(record_);
  } else {
    *out_ << record_;
  }
  record_.clear();
}

void TextUnit::write_list(const Format& format, std::span<const FormatArg> args) {
  if (!open_) record_.clear();
  format_records(format, args, *this);
  if (format.keeps_record_open()) {
    open_ = true;
  } else {
    end_record();
    open_ = false;
  }
}

void TextUnit::finish() {
  // A record left open holds text to end; an empty one (left by "(\,/)") is no line at all.
  if (open_ && !record_.empty()) end_record();
  open_ = false;
  flush();
}

void TextUnit::flush() {
  if (file_ != nullptr) {
    file_->flush();
  } else {
    out_->flush();
  }
}

namespace {

class StringSink : public RecordSink {
 public:
  std::string& current() override { return record_; }
  void end_record() override {
    if (!first_) all_ += '\n';
    all_ += record_;
    record_.clear();
    first_ = false;
  }
  std::string take() {
    end_record();
    return std::move(all_);
  }

 private:
  std::string record_;
  std::string all_;
  bool first_ = true;
};

class InternalSink : public RecordSink {
 public:
  InternalSink(const Format& format, std::size_t length) : format_(format), length_(length) {}
  std::string& current() override { return record_; }
  void end_record() override {
    throw FormatError("format \"" + format_.text() + "\": an internal write has only one record");
  }
  std::string take() {
    if (record_.size() > length_)
      throw FormatError("format \"" + format_.text() + "\": record longer than its buffer of " +
                        std::to_string(length_) + " characters");
    record_.resize(length_, ' ');
    return std::move(record_);
  }

 private:
  const Format& format_;
  std::size_t length_;
  std::string record_;
};

}  // namespace

std::string format_internal_list(const Format& format, std::size_t length, std::span<const FormatArg> args) {
  InternalSink sink(format, length);
  format_records(format, args, sink);
  return sink.take();
}

std::string format_to_string_list(const Format& format, std::span<const FormatArg> args) {
  StringSink sink;
  format_records(format, args, sink);
  return sink.take();
}

}  // namespace basinfit
