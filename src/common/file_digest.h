#pragma once
// SHA-256 digests of the run's files, and what kind of file a name reaches.  An input is
// digested as it is read (the bytes the run used, even from a pipe); an output is digested
// afterwards only when it is a regular file: a device or a pipe has no content to digest, and
// reading one by name (/dev/zero, a FIFO) would never end.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace basinfit {

// The size and SHA-256 (64 lowercase hex digits) of a file's bytes.
struct FileDigest {
  std::uintmax_t size = 0;
  std::string sha256;
};

// An incremental SHA-256 (OpenSSL's EVP interface).
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void update(std::string_view bytes);
  // The digest of everything given; nothing when the library failed.
  std::optional<FileDigest> finish();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
  std::uintmax_t size_ = 0;
  bool failed_ = false;
};

// The SHA-256 of `text` as 64 lowercase hex digits.
std::string text_sha256(std::string_view text);

// What a name reaches, in the words the run record uses: "file", "folder", "character device",
// "block device", "pipe", "socket" (or "missing").
std::string file_kind(mode_t mode);

// The kind of file `name` reaches, and for a regular file its digest (nothing when it cannot be
// read).  Nothing else is opened, so a device or a pipe is never read.
struct FileSummary {
  std::string kind = "missing";
  std::optional<FileDigest> digest;
};
FileSummary summarise_file(const std::string& name);

}  // namespace basinfit
