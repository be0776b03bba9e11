#pragma once
// A network on a Slurm cluster: a job array whose task i runs shard i/N into its own shard
// database, and a merge job that waits for the whole array (afterany) and folds the shards.

#include <filesystem>
#include <string>

namespace basinfit::network {

struct SlurmOptions {
  std::filesystem::path manifest;  // absolute
  std::filesystem::path out;       // absolute
  std::filesystem::path batch;     // the basinfit-batch executable the jobs run
  int tasks = 1;
  std::string partition;
  std::string time;
  int cpus_per_task = 1;
};

struct SlurmScripts {
  std::filesystem::path array;  // DIR/slurm/array.sh
  std::filesystem::path merge;  // DIR/slurm/merge.sh
};

SlurmScripts write_slurm_scripts(const SlurmOptions& options);

struct SlurmJobs {
  std::string array;  // job id of the array
  std::string merge;  // job id of the merge, held until every array task has ended
};

// Submits the array, then the merge with --dependency=afterany on it, through sbatch on the
// PATH.  Throws InputError (a file-system error) with sbatch's message when either is refused.
SlurmJobs submit_slurm_jobs(const SlurmScripts& scripts);

// Quotes a word for a POSIX shell.
std::string shell_word(const std::string& word);

}  // namespace basinfit::network
