#pragma once
// The lock of a batch's output: one program at a time writes a results database and the survey
// folders beside it (basinfit-batch run, or a workbench running its project), so that two runs
// never take each other's folders away.  The lock is a file beside the database,
// DATABASE.lock, held with flock: the system releases it when the holder ends, however it ends.
// Shards of a cluster run each lock their own shard database and run side by side.

#include <filesystem>
#include <optional>

namespace basinfit::network {

class OutputLock {
 public:
  // Takes the lock of `database` without waiting; nothing when another program holds it.
  // Throws InputError (file system) when the lock file cannot be made; a link or anything but a
  // regular file at its name is refused, never followed.
  static std::optional<OutputLock> try_take(const std::filesystem::path& database);
  OutputLock(OutputLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  OutputLock& operator=(OutputLock&& other) noexcept;
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;
  ~OutputLock();

  static std::filesystem::path file_of(const std::filesystem::path& database);

 private:
  explicit OutputLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace basinfit::network
