#include "network/slurm.h"

#include <regex>
#include <vector>

#include "common/file_names.h"
#include "common/input_error.h"
#include "common/replacement_file.h"
#include "network/process.h"

namespace basinfit::network {
namespace {

[[noreturn]] void refuse(const std::string& option, const std::string& value, const std::string& why) {
  throw InputError(option, 0, "'" + visible_name(value) + "': " + why, InputError::Kind::kUsage);
}

// A value as one word of an #SBATCH line.  With `filename_pattern`, '%' is doubled: Slurm reads
// "%%" as '%' and expands "%A", "%a", "%j" and the like in output file names.
std::string directive_word(const std::string& option, const std::string& value, bool filename_pattern) {
  for (const char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f)
      refuse(option, value,
             "a control character (a line break, a tab) cannot be carried by an #SBATCH line, which ends "
             "at a line break");
    if (c == '\\' && filename_pattern)
      refuse(option, value,
             "Slurm drops a backslash from an output file's path and then expands none of its "
             "patterns; choose a folder without one");
  }
  std::string word = "\"";
  for (const char c : value) {
    if (c == '"' || c == '\\') word += '\\';
    word += c;
    if (c == '%' && filename_pattern) word += '%';
  }
  return word + "\"";
}

std::string common_lines(const SlurmOptions& o, const std::string& name) {
  std::string text = "#!/bin/sh\n#SBATCH --job-name=" + name + "\n";
  if (!o.partition.empty())
    text += "#SBATCH --partition=" + directive_word("--partition", o.partition, false) + "\n";
  if (!o.time.empty()) text += "#SBATCH --time=" + directive_word("--time", o.time, false) + "\n";
  return text;
}

void write_script(const std::filesystem::path& file, const std::string& text) {
  ReplacementFile script(file, "Slurm script");
  script.write(text);
  script.make_executable();
  script.commit();
}

}  // namespace

void check_slurm_options(const SlurmOptions& o) {
  (void)directive_word("--out", o.out.string(), true);
  (void)directive_word("--partition", o.partition, false);
  (void)directive_word("--time", o.time, false);
  static const std::regex time_forms(
      "[0-9]+(:[0-9]+){0,2}|[0-9]+-[0-9]+(:[0-9]+){0,2}|UNLIMITED|unlimited|INFINITE|infinite");
  if (!o.time.empty() && !std::regex_match(o.time, time_forms))
    refuse("--time", o.time,
           "expected a time limit as sbatch takes it: minutes, M:S, H:M:S, D-H, D-H:M, D-H:M:S or UNLIMITED");
}

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
  check_slurm_options(o);
  const std::filesystem::path folder = o.out / "slurm";
  std::filesystem::create_directories(folder);
  SlurmScripts scripts{folder / "array.sh", folder / "merge.sh"};
  const auto output = [&](const std::string& pattern) {
    // The folder's own characters doubled where they are '%'; then the job's pattern.
    std::string word = directive_word("--out", (folder / "").string(), true);
    return "#SBATCH --output=" + word.substr(0, word.size() - 1) + pattern + "\"\n";
  };
  // Each task writes only its own shard database: SQLite must not be written from several
  // nodes over a network file system.
  write_script(scripts.array,
               common_lines(o, "basinfit-batch") + "#SBATCH --array=0-" + std::to_string(o.tasks - 1) + "\n" +
                   "#SBATCH --cpus-per-task=" + std::to_string(o.cpus_per_task) + "\n" +
                   output("task-%A_%a.out") + "exec " + shell_word(o.batch.string()) + " run " +
                   shell_word(o.manifest.string()) + " --out " + shell_word(o.out.string()) +
                   " --shard \"${SLURM_ARRAY_TASK_ID}/" + std::to_string(o.tasks) + "\" --jobs " +
                   std::to_string(o.cpus_per_task) + "\n");
  write_script(scripts.merge, common_lines(o, "basinfit-merge") + output("merge-%j.out") + "exec " +
                                  shell_word(o.batch.string()) + " merge " + shell_word(o.out.string()) +
                                  "\n");
  return scripts;
}

SlurmJobs submit_slurm_jobs(
    const SlurmScripts& scripts, bool wait,
    const std::function<void(const std::string& job, const std::string& id)>& submitted) {
  // sbatch --parsable prints "ID" or "ID;CLUSTER" as soon as the job is queued.
  const auto id_of = [](const std::string& out) { return out.substr(0, out.find_first_of(";\n")); };
  const auto sbatch = [&](const std::string& job, std::vector<std::string> args, int* status) {
    std::vector<std::string> argv{"/bin/sh", "-c", "exec sbatch \"$@\"", "sbatch", "--parsable"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string heard;
    bool told = false;
    const ProcessResult r = run_process(argv, {}, true, [&](std::string_view piece) {
      heard.append(piece);
      if (!told && heard.find('\n') != std::string::npos && !id_of(heard).empty()) {
        told = true;
        if (submitted) submitted(job, id_of(heard));
      }
    });
    const std::string id = id_of(r.out);
    // Waiting, sbatch ends with the job's status; without an id the job was never queued.
    if (id.empty() || (status == nullptr && r.exit_status != 0))
      throw InputError("sbatch", 0, r.err.empty() ? "failed" : r.err, InputError::Kind::kFileSystem);
    if (!told && submitted) submitted(job, id);
    if (status != nullptr) *status = r.exit_status;
    return id;
  };
  SlurmJobs jobs;
  jobs.array = sbatch("array", {scripts.array.string()}, nullptr);
  std::vector<std::string> merge{"--dependency=afterany:" + jobs.array};
  if (wait) merge.push_back("--wait");
  merge.push_back(scripts.merge.string());
  jobs.merge = sbatch("merge", merge, wait ? &jobs.merge_status : nullptr);
  return jobs;
}

}  // namespace basinfit::network
