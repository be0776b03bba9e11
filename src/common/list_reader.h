#pragma once
// Sequential reading of the engine's plain-text input files.
//
// A `TextFile` holds the records (lines) of a file; CRLF endings and a UTF-8 byte-order
// mark are accepted.  A `ListReader` reads it the way the input layouts are defined:
// fixed "(a)" reads of one record, and list-directed reads in which values are separated
// by blanks, tabs, commas or line ends, may span several lines, and each read starts on a
// new record.  Repeat counts (r*c, r*), null values (,,) and a slash that ends the read
// early are understood.  Every error names the file and the line.

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_digest.h"
#include "common/file_names.h"
#include "common/input_error.h"

namespace basinfit {

// What a file of the engine's inputs may hold.  The largest surveys are a few megabytes and
// their longest records (a title, a file name) a few hundred characters; anything beyond these
// limits is not such a file (a device such as /dev/zero, a binary file) and is refused before it
// can fill the memory.
inline constexpr std::size_t kMaxInputFileBytes = std::size_t{256} << 20;  // 256 MiB
inline constexpr std::size_t kMaxRecordBytes = std::size_t{64} << 10;      // 64 KiB

class TextFile {
 public:
  // Reads a whole file; a file that cannot be opened or read, or a folder, is an InputError
  // of kind kFileSystem naming it; a name holding a NUL byte, a file beyond kMaxInputFileBytes
  // or a record beyond kMaxRecordBytes is an input error.  With `digest`, the SHA-256 of the
  // bytes read is kept (digest()).
  static TextFile load(const std::string& path, bool digest = false);
  // A file's text held in memory; `first_line` numbers its first record in messages.
  TextFile(std::string name, std::string_view contents, int first_line = 1);

  const std::string& name() const { return name_; }
  std::size_t record_count() const { return records_.size(); }
  const std::string& record(std::size_t index) const { return records_[index]; }
  int line_number(std::size_t index) const { return first_line_ + static_cast<int>(index); }
  // The file that was read (load only), to keep outputs from replacing it.
  const std::optional<FileIdentity>& identity() const { return identity_; }
  // The size and SHA-256 of the bytes read (load with digest), and what the name reached ("file",
  // "pipe", "character device"), for the run record.
  const std::optional<FileDigest>& digest() const { return digest_; }
  const std::string& kind() const { return kind_; }

 private:
  std::string name_;
  std::vector<std::string> records_;
  int first_line_ = 1;
  std::optional<FileIdentity> identity_;
  std::optional<FileDigest> digest_;
  std::string kind_;
};

// One receiving item of a list-directed read, with its name for messages.
class ListTarget {
 public:
  enum class Kind { kInt, kShort, kFloat, kFloatArray };
  ListTarget(int& v, std::string_view what) : kind_(Kind::kInt), int_(&v), what_(what) {}
  ListTarget(short& v, std::string_view what) : kind_(Kind::kShort), short_(&v), what_(what) {}
  ListTarget(float& v, std::string_view what) : kind_(Kind::kFloat), float_(&v), what_(what) {}
  ListTarget(std::span<float> v, std::string_view what) : kind_(Kind::kFloatArray), floats_(v), what_(what) {}

  std::size_t count() const { return kind_ == Kind::kFloatArray ? floats_.size() : 1; }

 private:
  friend class ListReader;
  Kind kind_;
  int* int_ = nullptr;
  short* short_ = nullptr;
  float* float_ = nullptr;
  std::span<float> floats_;
  std::string_view what_;
};

class ListReader {
 public:
  enum class Status {
    kComplete,    // every item received a value (or was left alone by a null or a slash)
    kEndOfFile,   // the file ended before the first item
    kIncomplete,  // the file ended after some items but before the last
  };

  explicit ListReader(const TextFile& file) : file_(&file) {}

  // "(a)" read of the next record into a `length`-character variable: cut or padded
  // with blanks.  Empty when the file has no further record.
  std::optional<std::string> read_text(std::size_t length);
  // The next record as it stands, whatever its length.
  std::optional<std::string> read_record();

  // List-directed read starting at the next record.  A malformed value is an InputError
  // naming the file, the line, the item and what was expected.
  Status read(std::initializer_list<ListTarget> targets);

  // Moves back so that the next read starts again at the first record of the last read
  // (a record that is read twice, with more items the second time).
  void reread_last() { next_record_ = last_start_; }

  // True when no record is left.
  bool at_end() const { return next_record_ >= file_->record_count(); }
  // Line of the record the last read started on, and of the record where it ended.
  int last_line() const { return file_->line_number(last_start_); }
  int end_line() const { return file_->line_number(last_end_); }
  // The record the next read will start on (0-based), and skipping records.
  std::size_t next_record() const { return next_record_; }
  void skip_record() { ++next_record_; }
  const TextFile& file() const { return *file_; }

 private:
  const TextFile* file_;
  std::size_t next_record_ = 0;
  std::size_t last_start_ = 0;
  std::size_t last_end_ = 0;
};

// Parses one list-directed real value (Fortran forms: 1, -2.5, .5, 1.e3, 2.5D-3, 1.0+3).
// Returns nothing when the text is not a number, and throws nothing; `out_of_range` is set
// when the value is beyond single precision, `non_finite` for NaN and infinity spellings.
struct RealParse {
  bool ok = false;
  bool out_of_range = false;
  bool non_finite = false;
  float value = 0;
};
RealParse parse_real(std::string_view text);

}  // namespace basinfit
