#pragma once
// A network on a Slurm cluster: a job array whose task i runs shard i/N into its own shard
// database, and a merge job that waits for the whole array (afterany) and folds the shards.
//
// No value given to the scripts becomes a line of its own or a command: in an #SBATCH line each
// value is one quoted word (sbatch's directive reader takes "..." with \" and \\ inside), a
// filename pattern has its '%' doubled so that Slurm puts back the character and expands only
// the job and task numbers the scripts add; what such a line cannot carry -- a line break or any
// control character, and in an output file's path a backslash, which makes Slurm drop the
// backslash and expand nothing -- is refused before anything is written.  In the command line
// each word is quoted for the shell.

#include <filesystem>
#include <functional>
#include <string>

namespace basinfit::network {

struct SlurmOptions {
  std::filesystem::path manifest;  // absolute
  std::filesystem::path out;       // absolute
  std::filesystem::path batch;     // the basinfit-batch executable the jobs run
  int tasks = 1;
  std::string partition;
  std::string time;  // as sbatch takes it: M, M:S, H:M:S, D-H, D-H:M, D-H:M:S, or UNLIMITED
  int cpus_per_task = 1;
};

// Throws InputError (usage, exit status 2) naming the option whose value no script can carry,
// and a --time that is not one of sbatch's forms.
void check_slurm_options(const SlurmOptions& options);

struct SlurmScripts {
  std::filesystem::path array;  // DIR/slurm/array.sh
  std::filesystem::path merge;  // DIR/slurm/merge.sh
};

// Checks the options (check_slurm_options), then writes both scripts, each as a new file put in
// place by a rename: a link or a file planted at a script's name is replaced, never written
// through.
SlurmScripts write_slurm_scripts(const SlurmOptions& options);

struct SlurmJobs {
  std::string array;  // job id of the array
  std::string merge;  // job id of the merge, held until every array task has ended
  // With `wait`: the merge job's exit status once it has ended (sbatch --wait), 1 for a merge
  // ended by a signal or never started.
  int merge_status = 0;
};

// Submits the array, then the merge with --dependency=afterany on it, through sbatch on the
// PATH; `submitted` hears each job's id ("array", "merge") as soon as sbatch gives it.  With
// `wait`, waits until the merge job has ended.  Throws InputError (a file-system error) with
// sbatch's message when either is refused.
SlurmJobs submit_slurm_jobs(
    const SlurmScripts& scripts, bool wait,
    const std::function<void(const std::string& job, const std::string& id)>& submitted);

// Quotes a word for a POSIX shell.
std::string shell_word(const std::string& word);

}  // namespace basinfit::network
