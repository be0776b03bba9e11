#include "common/input_error.h"

namespace basinfit {

namespace {
std::string compose(const std::string& file, int line, const std::string& reason) {
  std::string text = file;
  if (line > 0) text += ", line " + std::to_string(line);
  if (!text.empty()) text += ": ";
  return text + reason;
}
}  // namespace

InputError::InputError(std::string file, int line, std::string reason, Kind kind)
    : std::runtime_error(compose(file, line, reason)),
      file_(std::move(file)),
      line_(line),
      reason_(std::move(reason)),
      kind_(kind) {}

}  // namespace basinfit
