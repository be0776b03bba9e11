#pragma once
// The one exception type for conditions that end a run: a malformed value, a missing file,
// a value the engine cannot work with.  It names the file and the line where that is known.

#include <stdexcept>
#include <string>

namespace basinfit {

class InputError : public std::runtime_error {
 public:
  enum class Kind {
    kInput,        // malformed or unusable input data: exit status 1
    kFileSystem,   // a file that cannot be opened, created or written: exit status 2
    kInterrupted,  // the user stopped the run (SIGINT): exit status 130, as a shell reports it
    kUsage,        // an option that cannot apply to this run: exit status 2
  };

  InputError(std::string file, int line, std::string reason, Kind kind = Kind::kInput);

  const std::string& file() const { return file_; }
  int line() const { return line_; }  // 0 when no line applies
  const std::string& reason() const { return reason_; }
  Kind kind() const { return kind_; }
  int exit_status() const {
    switch (kind_) {
      case Kind::kInput:
        return 1;
      case Kind::kFileSystem:
      case Kind::kUsage:
        return 2;
      case Kind::kInterrupted:
        return 130;
    }
    return 2;
  }

 private:
  std::string file_;
  int line_;
  std::string reason_;
  Kind kind_;
};

}  // namespace basinfit
