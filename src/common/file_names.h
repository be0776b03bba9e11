#pragma once
// What a file name stands for: the file it reaches (device and inode) and the name as a
// message shows it.  Two spellings can reach one file (a path through a symbolic link, `.`
// or `..`), and one spelling can hide characters a terminal does not show; decisions about
// files go by identity, and messages show names with every byte visible.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace basinfit {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool character_device = false;  // a terminal, /dev/null, /dev/full: holds no data of its own
  friend bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode;
  }
};

// The identity of an open descriptor; nothing when it cannot be had.
std::optional<FileIdentity> identity_of_descriptor(int fd);

// The identity of the file a name reaches now (through links); nothing when it does not exist.
std::optional<FileIdentity> identity_of_name(const std::string& name);

// True when writing one of the two files can destroy what the other holds: they are one
// file, and not a character device (several outputs may share /dev/null or a terminal).
bool one_file(const std::optional<FileIdentity>& a, const std::optional<FileIdentity>& b);

// The name with a NUL written as `\0` and other control characters as `\xHH`, for messages.
std::string visible_name(std::string_view name);

// A name holding a NUL byte cannot be passed to the system whole (it would be cut there and
// could reach another file): throws an input error naming `file` and `line` (the record the
// name came from, or none) and showing the name, `what` being e.g. "the detail report".
void refuse_nul_in_name(std::string_view name, const std::string& file, int line, const std::string& what);

}  // namespace basinfit
