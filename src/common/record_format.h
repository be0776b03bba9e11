#pragma once
// Records in edit-descriptor notation.
//
// Every text record Basinfit writes is described by a format string such as
// "(a1,a,5(1x,f4.3,:))".  A format is parsed once into a checked item list (`Format`);
// writers only walk that list.  Supported: A, Aw, Iw, Fw.d, Ew.d, Dw.d, kP scale factors,
// nX, '/', ':', '\' (and its synonym '$'), n(...) groups with format reversion, and quoted
// literals.  A number that does not fit its field is written as w asterisks.

#include <cstdint>
#include <memory>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace basinfit {

class OutputFile;

// A format string that cannot be parsed, or items that do not match its descriptors.
class FormatError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// One value handed to a formatted write.  Arrays are walked element by element, as a
// Fortran I/O list walks an array name.
class FormatArg {
 public:
  enum class Kind { kInt, kFloat, kDouble, kText, kFloatArray, kDoubleArray, kIntArray, kShortArray };

  FormatArg(int v) : kind_(Kind::kInt), i_(v) {}
  FormatArg(short v) : kind_(Kind::kInt), i_(v) {}
  FormatArg(long v) : kind_(Kind::kInt), i_(v) {}
  FormatArg(long long v) : kind_(Kind::kInt), i_(v) {}
  FormatArg(float v) : kind_(Kind::kFloat), f_(v) {}
  FormatArg(double v) : kind_(Kind::kDouble), d_(v) {}
  FormatArg(std::string_view v) : kind_(Kind::kText), text_(v) {}
  FormatArg(const char* v) : kind_(Kind::kText), text_(v) {}
  FormatArg(const std::string& v) : kind_(Kind::kText), text_(v) {}
  FormatArg(const char& c) : kind_(Kind::kText), text_(&c, 1) {}
  FormatArg(std::span<const float> v) : kind_(Kind::kFloatArray), floats_(v) {}
  FormatArg(std::span<const double> v) : kind_(Kind::kDoubleArray), doubles_(v) {}
  FormatArg(std::span<const int> v) : kind_(Kind::kIntArray), ints_(v) {}
  FormatArg(std::span<const short> v) : kind_(Kind::kShortArray), shorts_(v) {}

  Kind kind() const { return kind_; }
  // Number of scalar items this argument contributes to the I/O list.
  std::size_t count() const;

 private:
  friend class FormatWalker;
  Kind kind_;
  long long i_ = 0;
  float f_ = 0;
  double d_ = 0;
  std::string_view text_;
  std::span<const float> floats_;
  std::span<const double> doubles_;
  std::span<const int> ints_;
  std::span<const short> shorts_;
};

// A parsed format.  Construction throws FormatError naming the offending position.
class Format {
 public:
  explicit Format(std::string_view text);
  ~Format();
  Format(Format&&) noexcept;
  Format& operator=(Format&&) noexcept;
  Format(const Format&) = delete;
  Format& operator=(const Format&) = delete;

  const std::string& text() const { return text_; }
  // True when the format holds '\' (or '$'): the write leaves its last record open.
  bool keeps_record_open() const;

  struct Node;  // parsed item tree, private to the implementation
  const Node& root() const { return *root_; }

 private:
  std::string text_;
  std::unique_ptr<Node> root_;
};

// Receives the records a formatted write produces.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // The record being built; a write appends to it.
  virtual std::string& current() = 0;
  // Ends the current record ('/' or format reversion) and starts an empty one.
  virtual void end_record() = 0;
};

// Walks `format` over `args`, appending text to sink.current() and calling end_record()
// between records.  Does not end the last record: the caller decides (open record or not).
void format_records(const Format& format, std::span<const FormatArg> args, RecordSink& sink);

// A sequential formatted output unit: an output file, standard output or any ostream.  Keeps
// the record that a write with '\' left open, so that the next write continues that line.
// On an OutputFile every failure to write throws (see output_file.h).
class TextUnit : private RecordSink {
 public:
  explicit TextUnit(std::ostream& out) : out_(&out) {}
  explicit TextUnit(OutputFile& file) : file_(&file) {}

  template <class... Args>
  void write(const Format& format, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    write_list(format, std::span<const FormatArg>(list, sizeof...(Args)));
  }
  void write_list(const Format& format, std::span<const FormatArg> args);

  // Ends an open record, if any, and flushes the stream (before a close or at a checkpoint).
  void finish();
  void flush();
  bool record_open() const { return open_; }

 private:
  std::string& current() override { return record_; }
  void end_record() override;

  std::ostream* out_ = nullptr;
  OutputFile* file_ = nullptr;
  std::string record_;
  bool open_ = false;
};

// An internal write into a fixed-length character buffer: the result has exactly `length`
// characters, padded with blanks.  Text past the end, or a second record, is a FormatError.
std::string format_internal_list(const Format& format, std::size_t length, std::span<const FormatArg> args);

template <class... Args>
std::string format_internal(const Format& format, std::size_t length, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return format_internal_list(format, length, std::span<const FormatArg>(list, sizeof...(Args)));
}

// Formats the records of one write into a string, records separated by '\n' (no final
// newline).  Convenient for messages and tests.
std::string format_to_string_list(const Format& format, std::span<const FormatArg> args);

template <class... Args>
std::string format_to_string(const Format& format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return format_to_string_list(format, std::span<const FormatArg>(list, sizeof...(Args)));
}

}  // namespace basinfit

// A format parsed once, at its first use, and kept for the rest of the run.
#define BASINFIT_FMT(text)                               \
  ([]() -> const ::basinfit::Format& {                   \
    static const ::basinfit::Format parsed_format{text}; \
    return parsed_format;                                \
  }())
