#include "network/slurm.h"

#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "common/input_error.h"
#include "network/process.h"

namespace basinfit::network {
namespace {

void write_script(const std::filesystem::path& file, const std::string& text) {
  {
    std::ofstream out(file, std::ios::trunc);
    out << text;
    if (!out.flush()) throw InputError(file.string(), 0, "cannot be written", InputError::Kind::kFileSystem);
  }
  ::chmod(file.c_str(), 0755);
}

std::string common_lines(const SlurmOptions& o, const std::string& name) {
  std::string text = "#!/bin/sh\n#SBATCH --job-name=" + name + "\n";
  if (!o.partition.empty()) text += "#SBATCH --partition=" + o.partition + "\n";
  if (!o.time.empty()) text += "#SBATCH --time=" + o.time + "\n";
  return text;
}

}  // namespace

std::string shell_word(const std::string& word) {
  if (!word.empty() &&
      word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./+=:") ==
          std::string::npos)
    return word;
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

SlurmScripts write_slurm_scripts(const SlurmOptions& o) {
  const std::filesystem::path folder = o.out / "slurm";
  std::filesystem::create_directories(folder);
  SlurmScripts scripts{folder / "array.sh", folder / "merge.sh"};
  // Each task writes only its own shard database: SQLite must not be written from several
  // nodes over a network file system.
  write_script(scripts.array,
               common_lines(o, "basinfit-batch") + "#SBATCH --array=0-" + std::to_string(o.tasks - 1) + "\n" +
                   "#SBATCH --cpus-per-task=" + std::to_string(o.cpus_per_task) + "\n" +
                   "#SBATCH --output=" + (folder / "task-%A_%a.out").string() + "\n" + "exec " +
                   shell_word(o.batch.string()) + " run " + shell_word(o.manifest.string()) + " --out " +
                   shell_word(o.out.string()) + " --shard \"${SLURM_ARRAY_TASK_ID}/" +
                   std::to_string(o.tasks) + "\" --jobs " + std::to_string(o.cpus_per_task) + "\n");
  write_script(scripts.merge, common_lines(o, "basinfit-merge") +
                                  "#SBATCH --output=" + (folder / "merge-%j.out").string() + "\n" + "exec " +
                                  shell_word(o.batch.string()) + " merge " + shell_word(o.out.string()) +
                                  "\n");
  return scripts;
}

SlurmJobs submit_slurm_jobs(const SlurmScripts& scripts) {
  const auto sbatch = [](const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/bin/sh", "-c", "exec sbatch \"$@\"", "sbatch"};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult r = run_process(argv, {}, true);
    std::string id = r.out.substr(0, r.out.find_first_of(";\n"));
    if (r.exit_status != 0 || id.empty())
      throw InputError("sbatch", 0, r.err.empty() ? "failed" : r.err, InputError::Kind::kFileSystem);
    return id;
  };
  SlurmJobs jobs;
  jobs.array = sbatch({"--parsable", scripts.array.string()});
  jobs.merge = sbatch({"--parsable", "--dependency=afterany:" + jobs.array, scripts.merge.string()});
  return jobs;
}

}  // namespace basinfit::network
