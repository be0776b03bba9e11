#include "common/file_names.h"

#include <sys/stat.h>

#include <cstdio>

#include "common/input_error.h"

namespace basinfit {

std::optional<FileIdentity> identity_of_descriptor(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino, S_ISCHR(st.st_mode)};
}

std::optional<FileIdentity> identity_of_name(const std::string& name) {
  struct stat st {};
  if (name.find('\0') != std::string::npos || ::stat(name.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino, S_ISCHR(st.st_mode)};
}

bool one_file(const std::optional<FileIdentity>& a, const std::optional<FileIdentity>& b) {
  return a && b && *a == *b && !a->character_device;
}

std::string visible_name(std::string_view name) {
  std::string shown;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u == 0) {
      shown += "\\0";
    } else if (u < 0x20 || u == 0x7f) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", u);
      shown += code;
    } else {
      shown += c;
    }
  }
  return shown;
}

void refuse_nul_in_name(std::string_view name, const std::string& file, int line, const std::string& what) {
  if (name.find('\0') == std::string_view::npos) return;
  throw InputError(file, line,
                   "the name of " + what + " holds a NUL byte, which no file name can hold: \"" +
                       visible_name(name) + "\"");
}

}  // namespace basinfit
