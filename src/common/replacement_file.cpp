#include "common/replacement_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/input_error.h"

namespace basinfit {
namespace {

std::string pattern_beside(const std::filesystem::path& target) {
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  return (folder / ("." + target.filename().string() + ".XXXXXX")).string();
}

// The process's file-creation mask (read by setting it and setting it back).
mode_t creation_mask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

ReplacementFile::ReplacementFile(std::filesystem::path target, std::string what)
    : target_(std::move(target)), what_(std::move(what)) {
  std::string pattern = pattern_beside(target_);
  fd_ = ::mkstemp(pattern.data());
  if (fd_ < 0) fail("create", errno);
  temporary_ = pattern;
  // mkstemp gives 0600; the new file is as readable as any file the user creates.
  ::fchmod(fd_, 0666 & ~creation_mask());
}

ReplacementFile::ReplacementFile(std::filesystem::path target, std::string what,
                                 const std::string& name_inside, ForWriter)
    : target_(std::move(target)), what_(std::move(what)) {
  std::string pattern = pattern_beside(target_);
  if (::mkdtemp(pattern.data()) == nullptr) fail("create", errno);
  private_folder_ = pattern;
  temporary_ = private_folder_ / (name_inside.empty() ? target_.filename().string() : name_inside);
}

ReplacementFile ReplacementFile::for_writer(std::filesystem::path target, std::string what,
                                            const std::string& name_inside) {
  return ReplacementFile(std::move(target), std::move(what), name_inside, ForWriter{});
}

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : target_(std::move(other.target_)),
      what_(std::move(other.what_)),
      temporary_(std::move(other.temporary_)),
      private_folder_(std::move(other.private_folder_)),
      fd_(other.fd_),
      committed_(other.committed_) {
  other.fd_ = -1;
  other.temporary_.clear();
  other.private_folder_.clear();
}

ReplacementFile::~ReplacementFile() { discard(); }

void ReplacementFile::discard() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (committed_) return;
  std::error_code ec;
  if (!private_folder_.empty()) {
    std::filesystem::remove_all(private_folder_, ec);
  } else if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
  }
}

void ReplacementFile::write(std::string_view bytes) {
  if (fd_ < 0) fail("write", EBADF);
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("write", n < 0 ? errno : ENOSPC);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void ReplacementFile::make_executable() {
  if (fd_ < 0) fail("write", EBADF);
  if (::fchmod(fd_, 0777 & ~creation_mask()) != 0) fail("write", errno);
}

void ReplacementFile::commit() {
  if (fd_ >= 0) {
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0) {
      const int error = errno;
      ::close(fd);
      fail("write", error);
    }
    if (::close(fd) != 0) fail("write", errno);
  }
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) fail("put in place", errno);
  committed_ = true;
  if (!private_folder_.empty()) ::rmdir(private_folder_.c_str());
}

void ReplacementFile::fail(const char* doing, int error) const {
  throw InputError(target_.string(), 0,
                   std::string("cannot ") + doing + " the " + what_ + ": " + std::strerror(error),
                   InputError::Kind::kFileSystem);
}

void replace_file(const std::filesystem::path& target, std::string_view bytes, const std::string& what) {
  ReplacementFile file(target, what);
  file.write(bytes);
  file.commit();
}

}  // namespace basinfit
