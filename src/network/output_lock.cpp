#include "network/output_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/input_error.h"

namespace basinfit::network {

std::filesystem::path OutputLock::file_of(const std::filesystem::path& database) {
  return database.parent_path() / (database.filename().string() + ".lock");
}

std::optional<OutputLock> OutputLock::try_take(const std::filesystem::path& database) {
  const std::filesystem::path file = file_of(database);
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = fd < 0 ? errno : EINVAL;
    if (fd >= 0) ::close(fd);
    throw InputError(file.string(), 0,
                     std::string("cannot make the lock of the results: ") +
                         (error == ELOOP ? "a link stands at its name" : std::strerror(error)),
                     InputError::Kind::kFileSystem);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  return OutputLock(fd);
}

OutputLock& OutputLock::operator=(OutputLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

OutputLock::~OutputLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace basinfit::network
