#pragma once
// Child processes and file digests for the batch: the engine run as a child, sbatch calls.

#include <filesystem>
#include <string>
#include <vector>

namespace basinfit::network {

struct ProcessResult {
  int exit_status = -1;  // the exit status, or 128 + the signal that ended the child
  std::string out;       // standard output, when captured
  std::string err;       // standard error
};

// Runs `argv` (argv[0] a path) in `folder` (empty: ours) with standard input empty; standard
// output is captured when `capture_out`, else discarded; standard error is captured.  A
// program that cannot be started gives exit status 127 and the reason in `err`.
ProcessResult run_process(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                          bool capture_out);

// The executable of this process, and a program of the build beside it.
std::filesystem::path own_executable();

// SHA-256 of a file's bytes as lowercase hex; throws InputError (file system) when unreadable.
std::string file_sha256(const std::filesystem::path& file);
std::string text_sha256(const std::string& text);

// UTC time as 2026-01-31T12:00:00Z.
std::string utc_now();

}  // namespace basinfit::network
