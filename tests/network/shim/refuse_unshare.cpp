// Preloaded into basinfit-batch to play a system whose seccomp profile refuses unshare(2), as
// some container runtimes do: every call fails with EPERM.
#include <cerrno>

extern "C" int unshare(int flags) {
  (void)flags;
  errno = EPERM;
  return -1;
}
