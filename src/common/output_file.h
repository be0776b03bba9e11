#pragma once
// Every file the engine writes (reports, log, chart files, and any later writer) goes through
// an OutputFile, so that no write can fail unnoticed.
//
//   OutputFile file(name, "detail report");   // opens or creates it; nothing is changed yet
//   ... compare file.identity() with the inputs and the other outputs ...
//   file.truncate();                          // now it is replaced
//   file.write(text); ... file.flush();       // a flush marks a whole point (a station)
//   file.close();
//
// Every failure of the system (open, write, flush, close) throws an InputError of kind
// kFileSystem (exit status 2) naming the file, what it is and the system's reason:
// "<name>: cannot write the detail report: No space left on device".  A write or flush that
// fails first cuts a regular file back to its last whole point, so a report that runs out of
// room mid-station keeps exactly the stations written before.  After a failure, abandon()
// releases the file without a further message.
//
// Text is held in memory until a flush (or until much has gathered), so a whole point is
// written in one go.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_names.h"

namespace basinfit {

class OutputFile {
 public:
  // Opens `name` for writing, creating it when missing, without changing what it holds.
  // `what` names the file in messages ("detail report").  A name holding a NUL byte is an
  // input error; a name that cannot be opened (a folder, a missing folder, no permission)
  // a file-system error.
  OutputFile(std::string name, std::string what);
  ~OutputFile();  // releases the file unchecked: call close() to have the end checked
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& name() const { return name_; }
  const std::string& what() const { return what_; }
  const std::optional<FileIdentity>& identity() const { return identity_; }
  // True when this object created the file (it did not exist before).
  bool created() const { return created_; }

  // Empties a regular file; other files (devices, pipes) are written as they are.
  void truncate();
  // Appends text; it reaches the file at the next flush at the latest.
  void write(std::string_view text);
  // Writes all held text and marks the file's end as a whole point.
  void flush();
  // Flushes and closes.  After close() nothing more can be written.
  void close();
  // Closes without writing the text still held, without messages; a file this object
  // created is also removed when `remove_created` (a run that never started leaves nothing).
  void abandon(bool remove_created = false);

 private:
  void write_out();
  [[noreturn]] void fail(const char* doing, int error);

  std::string name_;
  std::string what_;
  int fd_ = -1;
  bool created_ = false;
  bool regular_ = false;
  std::optional<FileIdentity> identity_;
  std::string held_;
  long long written_ = 0;  // bytes written since the truncation
  long long whole_ = 0;    // the end of the last whole point
};

// The files of a run that a further output (a chart file, or any writer added later) must
// not replace: its inputs and its reports, each with what it is.
class KeptFiles {
 public:
  void add(std::string name, std::string what, const std::optional<FileIdentity>& identity);
  // Throws a file-system error naming `file` when it is one of the kept files.
  void refuse_if_kept(const OutputFile& file) const;

 private:
  struct Kept {
    std::string name;
    std::string what;
    FileIdentity identity;
  };

  std::vector<Kept> files_;
};

// Writes `bytes` as the whole content of the file `name` (`what` names it in messages), refusing
// a file of `kept` (may be nullptr) before it is emptied.  A file this call created is removed
// again when anything fails.  Throws InputError.
void write_whole_file(const std::string& name, std::string what, std::string_view bytes,
                      const KeptFiles* kept);

}  // namespace basinfit
