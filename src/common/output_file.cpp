#include "common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/input_error.h"

namespace basinfit {

namespace {
// Text gathered beyond this is written before the next flush.
constexpr std::size_t kHoldLimit = 1 << 20;
}  // namespace

OutputFile::OutputFile(std::string name, std::string what) : name_(std::move(name)), what_(std::move(what)) {
  refuse_nul_in_name(name_, "", 0, "the " + what_);
  // Opened without waiting: a pipe without a reader is refused (ENXIO) instead of blocking the
  // run for ever; writes then wait as usual (the flag is cleared below).
  constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  // Created here only when it did not exist, so that a run refused before it starts can
  // remove what it created and leave everything else as it was.
  do fd_ = ::open(name_.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
  while (fd_ < 0 && errno == EINTR);
  if (fd_ >= 0) {
    created_ = true;
  } else if (errno == EEXIST) {
    // It exists (or is a link to a file still to be made, which is then made).
    do fd_ = ::open(name_.c_str(), kFlags | O_CREAT, 0666);
    while (fd_ < 0 && errno == EINTR);
  }
  if (fd_ < 0) {
    const int error = errno;
    throw InputError(name_, 0,
                     "cannot create the " + what_ + ": " +
                         (error == ENXIO ? std::string("a pipe that nobody reads") : std::strerror(error)),
                     InputError::Kind::kFileSystem);
  }
  const int status_flags = ::fcntl(fd_, F_GETFL);
  if (status_flags >= 0) ::fcntl(fd_, F_SETFL, status_flags & ~O_NONBLOCK);
  struct stat st {};
  if (::fstat(fd_, &st) == 0) regular_ = S_ISREG(st.st_mode);
  identity_ = identity_of_descriptor(fd_);
}

OutputFile::~OutputFile() { abandon(); }

void OutputFile::fail(const char* doing, int error) {
  // A regular file keeps what it held at its last whole point, and nothing half written.
  if (regular_ && fd_ >= 0 && ::ftruncate(fd_, whole_) == 0) written_ = whole_;
  held_.clear();
  throw InputError(name_, 0, std::string("cannot ") + doing + " the " + what_ + ": " + std::strerror(error),
                   InputError::Kind::kFileSystem);
}

void OutputFile::truncate() {
  if (fd_ < 0) fail("write", EBADF);
  if (regular_ && ::ftruncate(fd_, 0) != 0) fail("empty", errno);
  written_ = whole_ = 0;
}

void OutputFile::write(std::string_view text) {
  if (fd_ < 0) fail("write", EBADF);
  held_.append(text);
  if (held_.size() >= kHoldLimit) write_out();
}

void OutputFile::write_out() {
  std::size_t done = 0;
  while (done < held_.size()) {
    const ssize_t n = ::write(fd_, held_.data() + done, held_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("write", errno);
    }
    if (n == 0) fail("write", ENOSPC);
    done += static_cast<std::size_t>(n);
    written_ += n;
  }
  held_.clear();
}

void OutputFile::flush() {
  if (fd_ < 0) fail("write", EBADF);
  write_out();
  whole_ = written_;
}

void OutputFile::close() {
  flush();
  const int fd = fd_;
  fd_ = -1;
  // The descriptor is released whatever close reports; a report of an error (a delayed
  // write that failed, on a network file system) is the run's failure.
  if (::close(fd) != 0 && errno != EINTR) {
    const int error = errno;
    throw InputError(name_, 0, "cannot close the " + what_ + ": " + std::strerror(error),
                     InputError::Kind::kFileSystem);
  }
}

void OutputFile::abandon(bool remove_created) {
  held_.clear();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (remove_created && created_) {
    ::unlink(name_.c_str());
    created_ = false;
  }
}

void KeptFiles::add(std::string name, std::string what, const std::optional<FileIdentity>& identity) {
  if (identity) files_.push_back({std::move(name), std::move(what), *identity});
}

void KeptFiles::refuse_if_kept(const OutputFile& file) const {
  for (const Kept& kept : files_)
    if (one_file(file.identity(), kept.identity))
      throw InputError(
          file.name(), 0,
          "the " + file.what() + " would replace the " + kept.what + " (" + visible_name(kept.name) + ")",
          InputError::Kind::kFileSystem);
}

void write_whole_file(const std::string& name, std::string what, std::string_view bytes,
                      const KeptFiles* kept) {
  OutputFile file(name, std::move(what));
  try {
    if (kept != nullptr) kept->refuse_if_kept(file);
    file.truncate();
    file.write(bytes);
    file.close();
  } catch (const InputError&) {
    file.abandon(true);
    throw;
  }
}

}  // namespace basinfit
