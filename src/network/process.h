#pragma once
// Child processes for the batch (sbatch calls), the program's own executable and the clock.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace basinfit::network {

struct ProcessResult {
  int exit_status = -1;  // the exit status, or 128 + the signal that ended the child
  std::string out;       // standard output, when captured
  std::string err;       // standard error
};

// Runs `argv` (argv[0] a path) in `folder` (empty: ours) with standard input empty; standard
// output is captured when `capture_out`, else discarded; standard error is captured.  A
// program that cannot be started gives exit status 127 and the reason in `err`.  `heard`, when
// given, is called with each piece of the captured standard output as it arrives (a program
// that says something at once and then waits).
ProcessResult run_process(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                          bool capture_out, const std::function<void(std::string_view)>& heard = {});

// The executable of this process, and a program of the build beside it.
std::filesystem::path own_executable();

// UTC time as 2026-01-31T12:00:00Z.
std::string utc_now();

}  // namespace basinfit::network
