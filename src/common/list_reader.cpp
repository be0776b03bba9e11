#include "common/list_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace basinfit {

TextFile TextFile::load(const std::string& path, bool digest) {
  refuse_nul_in_name(path, "", 0, "an input file");
  int fd = -1;
  do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    throw InputError(path, 0, std::string("cannot open the file: ") + std::strerror(error),
                     InputError::Kind::kFileSystem);
  }
  std::string text;
  int error = 0;
  struct stat st {};
  const bool stated = ::fstat(fd, &st) == 0;
  std::string kind = stated ? file_kind(st.st_mode) : std::string("file");
  Sha256 sha;
  // What makes the file unusable as an input: too large, or a record without end.
  std::string refusal;
  if (stated && S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (stated && S_ISREG(st.st_mode) && static_cast<std::uintmax_t>(st.st_size) > kMaxInputFileBytes) {
    refusal = "the file holds " + std::to_string(st.st_size) + " bytes, more than the " +
              std::to_string(kMaxInputFileBytes >> 20) + " MiB an input file of this system may hold";
  } else {
    char buffer[65536];
    std::size_t record_start = 0;  // offset in `text` of the record being read
    while (true) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        const std::size_t from = text.size();
        text.append(buffer, static_cast<std::size_t>(n));
        const std::size_t last_end = text.rfind('\n');
        if (last_end != std::string::npos && last_end >= from) record_start = last_end + 1;
        if (text.size() - record_start > kMaxRecordBytes) {
          const auto line =
              std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(record_start), '\n') + 1;
          refusal = "line " + std::to_string(line) + " runs beyond " + std::to_string(kMaxRecordBytes >> 10) +
                    " KiB without a line end, which no record of this system does";
          break;
        }
        if (text.size() > kMaxInputFileBytes) {
          refusal = "the file holds more than the " + std::to_string(kMaxInputFileBytes >> 20) +
                    " MiB an input file of this system may hold";
          break;
        }
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        error = errno;
        break;
      }
    }
  }
  const std::optional<FileIdentity> identity = identity_of_descriptor(fd);
  ::close(fd);
  if (error == EISDIR)
    throw InputError(path, 0, "this is a folder, not a file", InputError::Kind::kFileSystem);
  if (error != 0)
    throw InputError(path, 0, std::string("cannot read the file: ") + std::strerror(error),
                     InputError::Kind::kFileSystem);
  if (!refusal.empty()) throw InputError(path, 0, refusal + ": not an input file");
  if (digest) sha.update(text);
  TextFile file(path, text);
  file.identity_ = identity;
  if (digest) file.digest_ = sha.finish();
  file.kind_ = std::move(kind);
  return file;
}

TextFile::TextFile(std::string name, std::string_view contents, int first_line)
    : name_(std::move(name)), first_line_(first_line) {
  if (contents.substr(0, 3) == "\xEF\xBB\xBF") contents.remove_prefix(3);
  std::size_t start = 0;
  while (start < contents.size()) {
    std::size_t end = contents.find('\n', start);
    if (end == std::string_view::npos) end = contents.size();
    std::string_view line = contents.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    records_.emplace_back(line);
    start = end + 1;
  }
}

std::optional<std::string> ListReader::read_text(std::size_t length) {
  if (at_end()) return std::nullopt;
  last_start_ = last_end_ = next_record_;
  std::string text = file_->record(next_record_++);
  text.resize(length, ' ');
  return text;
}

std::optional<std::string> ListReader::read_record() {
  if (at_end()) return std::nullopt;
  last_start_ = last_end_ = next_record_;
  return file_->record(next_record_++);
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_value(char c) { return is_blank(c) || c == ',' || c == '/'; }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string_view strip_sign(std::string_view t) {
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
  return t;
}

}  // namespace

RealParse parse_real(std::string_view text) {
  RealParse result;
  const std::string_view body = strip_sign(text);
  const bool negative = !text.empty() && text[0] == '-';
  if (equals_ignoring_case(body, "NAN") || equals_ignoring_case(body, "INF") ||
      equals_ignoring_case(body, "INFINITY")) {
    result.non_finite = true;
    result.value = equals_ignoring_case(body, "NAN")
                       ? std::numeric_limits<float>::quiet_NaN()
                       : (negative ? -1.0f : 1.0f) * std::numeric_limits<float>::infinity();
    return result;
  }
  // Normalise to a form from_chars accepts: [-]digits[.digits][e[-]digits].
  std::string normal;
  if (negative) normal += '-';
  std::size_t i = 0;
  bool digits = false;
  while (i < body.size() && body[i] >= '0' && body[i] <= '9') {
    normal += body[i++];
    digits = true;
  }
  if (i < body.size() && body[i] == '.') {
    normal += body[i++];
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') {
      normal += body[i++];
      digits = true;
    }
  }
  if (!digits) return result;
  if (i < body.size()) {
    char c = body[i];
    if (c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q')
      ++i;
    else if (c != '+' && c != '-')
      return result;
    normal += 'e';
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) normal += body[i++];
    bool exp_digits = false;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') {
      normal += body[i++];
      exp_digits = true;
    }
    if (!exp_digits || i != body.size()) return result;
  }
  if (normal.back() == '.' && normal.size() == 1) return result;
  float value = 0;
  const char* first = normal.data();
  const char* last = normal.data() + normal.size();
  if (*first == '-') ++first;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::result_out_of_range) {
    // Overflow is an error; a value too small for single precision reads as zero.
    double wide = 0;
    auto [p2, ec2] = std::from_chars(first, last, wide);
    (void)p2;
    if (ec2 == std::errc::result_out_of_range || std::fabs(wide) > 1.0) {
      result.out_of_range = true;
      return result;
    }
    value = static_cast<float>(wide);
  } else if (ec != std::errc() || ptr != last) {
    return result;
  }
  result.ok = true;
  result.value = negative ? -value : value;
  return result;
}

ListReader::Status ListReader::read(std::initializer_list<ListTarget> targets) {
  if (at_end()) return Status::kEndOfFile;
  const std::size_t first = next_record_;
  last_start_ = first;
  std::size_t line = first;
  std::size_t col = 0;
  const TextFile& file = *file_;

  auto current_char = [&]() -> char {
    const std::string& r = file.record(line);
    return col < r.size() ? r[col] : '\n';
  };
  // Skips blanks and line ends; false at the end of the file.
  auto skip_blanks = [&]() -> bool {
    while (line < file.record_count()) {
      const std::string& r = file.record(line);
      while (col < r.size() && is_blank(r[col])) ++col;
      if (col < r.size()) return true;
      ++line;
      col = 0;
    }
    return false;
  };
  auto finish = [&](std::size_t end_line) {
    last_end_ = end_line;
    next_record_ = end_line + 1;
  };

  // Walk the targets element by element.
  auto target_it = targets.begin();
  std::size_t element = 0;
  std::size_t item_number = 0;
  auto advance_target = [&]() {
    ++element;
    ++item_number;
    while (target_it != targets.end() && element >= target_it->count()) {
      ++target_it;
      element = 0;
    }
  };
  while (target_it != targets.end() && target_it->count() == 0) ++target_it;

  std::string_view repeat_value;
  long repeat_left = 0;
  bool repeat_null = false;

  auto assign = [&](std::string_view token, int token_line) {
    const ListTarget& t = *target_it;
    auto fail = [&](const std::string& expected) {
      throw InputError(
          file.name(), file.line_number(static_cast<std::size_t>(token_line)),
          "expected " + expected + " for " + std::string(t.what_) + ", found '" + std::string(token) + "'");
    };
    switch (t.kind_) {
      case ListTarget::Kind::kInt:
      case ListTarget::Kind::kShort: {
        std::string_view body = token;
        if (!body.empty() && body[0] == '+') body.remove_prefix(1);
        long long v = 0;
        auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), v);
        if (ec == std::errc::result_out_of_range) fail("an integer within range");
        if (ec != std::errc() || ptr != body.data() + body.size() || body.empty()) fail("an integer");
        if (t.kind_ == ListTarget::Kind::kInt) {
          if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
            fail("an integer within range");
          *t.int_ = static_cast<int>(v);
        } else {
          if (v < std::numeric_limits<short>::min() || v > std::numeric_limits<short>::max())
            fail("a 16-bit integer");
          *t.short_ = static_cast<short>(v);
        }
        break;
      }
      case ListTarget::Kind::kFloat:
      case ListTarget::Kind::kFloatArray: {
        const RealParse p = parse_real(token);
        if (p.non_finite) fail("a finite number");
        if (p.out_of_range) fail("a number within single precision");
        if (!p.ok) fail("a number");
        if (t.kind_ == ListTarget::Kind::kFloat)
          *t.float_ = p.value;
        else
          t.floats_[element] = p.value;
        break;
      }
    }
  };

  std::size_t last_value_line = first;
  while (target_it != targets.end()) {
    if (repeat_left > 0) {
      if (!repeat_null) assign(repeat_value, static_cast<int>(last_value_line));
      --repeat_left;
      advance_target();
      continue;
    }
    if (!skip_blanks()) {
      finish(file.record_count() - 1);
      return item_number == 0 ? Status::kEndOfFile : Status::kIncomplete;
    }
    const char c = current_char();
    if (c == ',') {  // a null value: the item keeps its value
      ++col;
      advance_target();
      continue;
    }
    if (c == '/') {  // the read ends here; remaining items keep their values
      finish(line);
      return Status::kComplete;
    }
    const std::string& r = file.record(line);
    const std::size_t start = col;
    while (col < r.size() && !ends_value(r[col])) ++col;
    std::string_view token(r.data() + start, col - start);
    last_value_line = line;
    // Consume the separator after the value: blanks, then at most one comma.
    while (col < r.size() && is_blank(r[col])) ++col;
    if (col < r.size() && r[col] == ',') ++col;

    const std::size_t star = token.find('*');
    if (star != std::string_view::npos) {
      long count = 0;
      auto [ptr, ec] = std::from_chars(token.data(), token.data() + star, count);
      if (ec != std::errc() || ptr != token.data() + star || count <= 0)
        throw InputError(file.name(), file.line_number(line),
                         "expected a repeat count before '*', found '" + std::string(token) + "'");
      repeat_value = token.substr(star + 1);
      repeat_null = repeat_value.empty();
      repeat_left = count;
      continue;
    }
    assign(token, static_cast<int>(line));
    advance_target();
  }
  finish(last_value_line);
  return Status::kComplete;
}

}  // namespace basinfit
