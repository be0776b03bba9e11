#include "network/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "common/input_error.h"

extern char** environ;

namespace basinfit::network {
ProcessResult run_process(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                          bool capture_out, const std::function<void(std::string_view)>& heard) {
  ProcessResult result;
  int out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
  if (pipe2(err_pipe, O_CLOEXEC) != 0 || (capture_out && pipe2(out_pipe, O_CLOEXEC) != 0)) {
    result.exit_status = 127;
    result.err = std::string("cannot create a pipe: ") + std::strerror(errno);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      if (fd >= 0) close(fd);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (capture_out)
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(err_pipe[1]);
  if (capture_out) close(out_pipe[1]);
  if (spawned != 0) {
    close(err_pipe[0]);
    if (capture_out) close(out_pipe[0]);
    result.exit_status = 127;
    result.err = argv[0] + ": cannot be started: " + std::strerror(spawned);
    return result;
  }
  // Read both streams until both close, so neither pipe fills and stalls the child.
  std::vector<pollfd> fds{{err_pipe[0], POLLIN, 0}};
  if (capture_out) fds.push_back({out_pipe[0], POLLIN, 0});
  std::size_t open_streams = fds.size();
  char buffer[8192];
  while (open_streams > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.err : result.out).append(buffer, static_cast<std::size_t>(n));
        if (i == 1 && heard) heard(std::string_view(buffer, static_cast<std::size_t>(n)));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::filesystem::path own_executable() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec);
}

std::string utc_now() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace basinfit::network
