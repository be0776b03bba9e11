#pragma once
// The one error of the workbench room: a message the engineer can act on (naming the file, the
// line and what was expected, as the importer words it) and what kind of failure it is.  Only the
// server turns a kind into an HTTP status; the project, the runs and the forms know nothing of
// HTTP.

#include <stdexcept>
#include <string>

#include "common/input_error.h"

namespace basinfit::workbench {

class Error : public std::runtime_error {
 public:
  enum class Kind {
    kBadRequest,  // the request itself is malformed (a name that cannot be one, no JSON object)
    kNotFound,    // no such run, file or survey in the project
    kConflict,    // the project's state forbids it now (a run going on, a file outside inputs/)
    kRefused,     // the engineer's input is refused by a reader or a check (the message says why)
    kTooLarge,    // beyond a size limit of the workbench or the project
    kFailed,      // the machine failed (a file that cannot be written)
  };
  Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// An importer's or engine's refusal as the workbench's error: the input's fault, or the
// machine's for a file-system failure.
inline Error refused(const InputError& e) {
  return Error(e.kind() == InputError::Kind::kFileSystem ? Error::Kind::kFailed : Error::Kind::kRefused,
               e.what());
}

}  // namespace basinfit::workbench
