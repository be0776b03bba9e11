// basinfit-batch: a network of FWD surveys from one manifest: every survey imported and
// backcalculated into its own folder and one results database, on this machine or as a
// Slurm job array.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>

#include "basinfit_version.h"
#include "common/file_names.h"
#include "common/input_error.h"
#include "network/batch.h"
#include "network/database.h"
#include "network/geopackage.h"
#include "network/network_page.h"
#include "network/process.h"
#include "network/slurm.h"
#include "option_checks.h"
#include "run/station_scheduler.h"
#include "runner/interrupts.h"

namespace {

namespace net = basinfit::network;
namespace fs = std::filesystem;

const char* const kDescription =
    "Runs a network of FWD surveys from one manifest: each survey is imported (device files) and\n"
    "backcalculated into DIR/surveys/NAME/ (reports, log, results tables, run.json, survey.html),\n"
    "and its results go into the database DIR/results.sqlite.  Running the same manifest again\n"
    "skips the surveys already recorded with the same input files, options and engine.\n"
    "\n"
    "MANIFEST: a CSV file with a header row, one survey per row; columns name, source (a run\n"
    "folder with control.txt, or device files separated by ';'), structure, and optionally\n"
    "format, units, source_units, route, title, skip_seating, seeds, max_iterations,\n"
    "station_prefix, station_format, section, test_date, lane (as basinfit-import), load_levels\n"
    "(';'-separated), multistart, sections_by, min_section_length (as basinfit).  Paths are\n"
    "relative to the manifest.\n"
    "SIGINT or SIGTERM (as scancel sends) lets the surveys running end after their station in hand,\n"
    "records them failed, so that the next run takes them again, and starts no other.\n"
    "Exit status: 0 success, 1 a survey failed or a malformed input, 2 usage or file error;\n"
    "130 (143) when stopped by SIGINT (SIGTERM).";

int fail(const std::string& message, int status) {
  std::cerr << "basinfit-batch: " << message << "\n";
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription, "basinfit-batch"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("basinfit-batch ") + BASINFIT_VERSION);

  std::string manifest_file, out_dir;
  int jobs = basinfit::available_cores();
  std::string shard_text;
  CLI::App* run = app.add_subcommand("run", "Run the surveys of MANIFEST into DIR");
  run->add_option("MANIFEST", manifest_file, "The manifest (CSV)")->required();
  run->add_option("--out", out_dir, "Output folder (created when missing)")->required()->type_name("DIR");
  run->add_option("-j,--jobs", jobs,
                  "Worker threads shared by the surveys and their stations (default: the processors this "
                  "process may use)")
      ->check(basinfit::cli::whole_number(1, 1024))
      ->type_name("N");
  run->add_option("--shard", shard_text,
                  "Run only shard I of N (I from 0), balanced by drops, into DIR/shards/I.sqlite")
      ->type_name("I/N");
  bool verbose = false;
  run->add_flag("-v,--verbose", verbose,
                "A line for each finished survey (status, stations, drops, seconds, seconds in the database) "
                "and the run's share of time in the database");

  std::string merge_dir;
  CLI::App* merge = app.add_subcommand("merge", "Fold the shard databases of DIR into DIR/results.sqlite");
  merge->add_option("DIR", merge_dir, "Output folder of the shards")->required();

  net::SlurmOptions slurm_options;
  std::string slurm_manifest, slurm_out;
  bool submit = false;
  CLI::App* slurm = app.add_subcommand(
      "slurm", "Write a Slurm job array (task i runs shard i/N) and a merge job held until the array ends");
  slurm->add_option("MANIFEST", slurm_manifest, "The manifest (CSV)")->required();
  slurm->add_option("--out", slurm_out, "Output folder, on a file system every node sees")
      ->required()
      ->type_name("DIR");
  slurm->add_option("--tasks", slurm_options.tasks, "Array tasks (shards)")
      ->required()
      ->check(CLI::Range(1, 100000))
      ->type_name("N");
  slurm->add_option("--partition", slurm_options.partition, "Slurm partition")->type_name("P");
  slurm->add_option("--time", slurm_options.time, "Time limit of each task, as sbatch takes it")
      ->type_name("T");
  slurm->add_option("--cpus-per-task", slurm_options.cpus_per_task, "Processors of each task (its --jobs)")
      ->check(CLI::Range(1, 4096))
      ->type_name("C");
  slurm->add_flag(
      "--submit", submit,
      "Submit both jobs with sbatch and print their job ids (the jobs have not run yet: see --wait)");
  bool wait = false;
  slurm->add_flag("--wait", wait,
                  "With --submit: wait until the merge job has ended, then say how the surveys went; exit "
                  "status 0 only when every shard completed and every survey is recorded ok");

  std::string report_dir, html_file;
  CLI::App* report = app.add_subcommand(
      "report",
      "Write the network page of DIR: a table of the surveys with their status, stations, drops, share of "
      "flagged drops, per-layer median normalised moduli and a link to each survey page");
  report->add_option("DIR", report_dir, "Output folder of a batch")->required();
  report->add_option("--html", html_file, "The page to write")->required()->type_name("FILE");
  std::vector<std::string> compare;
  net::NetworkPageOptions page_options;
  report
      ->add_option("--compare", compare,
                   "Two surveys of one route whose subgrade moduli the page compares station by station, "
                   "matched by chainage")
      ->delimiter(',')
      ->expected(2)
      ->type_name("A,B");
  report
      ->add_option("--tolerance", page_options.tolerance,
                   "Farthest a station of B may lie from one of A to match it, in the surveys' chainage unit "
                   "(default 10)")
      ->check(basinfit::cli::finite_number(0, true))
      ->type_name("LENGTH");

  std::string export_dir, gpkg_file;
  CLI::App* exp = app.add_subcommand(
      "export", "Write the stations with a position as a GeoPackage point layer 'stations' (WGS 84)");
  exp->add_option("DIR", export_dir, "Output folder of a batch")->required();
  exp->add_option("--geopackage", gpkg_file, "The GeoPackage to write")->required()->type_name("FILE");

  if (argc < 2) {
    std::cerr << app.help();
    return 2;
  }
  // A file that reaches the process's file-size limit is a failed write, said and ended with
  // status 2 (a run records it as that survey's failure), never a silent end by SIGXFSZ.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return basinfit::cli::usage_error(app, e, "");
  }

  try {
    if (*run) {
      net::BatchOptions options;
      options.out = fs::absolute(out_dir);
      options.jobs = jobs;
      if (!shard_text.empty()) {
        const auto slash = shard_text.find('/');
        int index = -1, count = 0;
        try {
          if (slash == std::string::npos) throw std::invalid_argument("");
          std::size_t used = 0;
          index = std::stoi(shard_text.substr(0, slash), &used);
          count = std::stoi(shard_text.substr(slash + 1));
        } catch (const std::exception&) {
          index = -1;
        }
        if (index < 0 || count < 1 || index >= count)
          return fail("--shard: expected I/N with 0 <= I < N, found '" + shard_text + "'", 2);
        options.shard = net::Shard{index, count};
      }
      if (isatty(STDERR_FILENO)) options.progress = &std::cerr;
      const net::Manifest manifest = net::read_manifest(manifest_file);
      for (const std::string& note : manifest.notes) std::cerr << "basinfit-batch: " << note << "\n";
      if (verbose) options.verbose = &std::cerr;
      // From here on the first signal stops the batch in any phase: while it reads and digests
      // the surveys' files no survey starts, and running surveys end after their station.
      basinfit::runner::stop_between_stations_on_interrupt();
      options.stop = &basinfit::runner::stop_request();
      net::ImportAndRunExecutor executor;
      const net::BatchSummary summary = net::run_batch(manifest, options, executor);
      std::cerr << summary.line() << "\n";
      // Stopped by a signal: the batch ends by it, so that a calling shell or scheduler sees it.
      if (const auto signal = basinfit::runner::stop_request().signal_number(); summary.stopped && signal)
        basinfit::runner::end_by_signal(*signal);
      return summary.failed.empty() ? 0 : 1;
    }
    if (*merge) {
      const net::MergeOutcome outcome = net::merge_shards(fs::absolute(merge_dir));
      std::string line = "basinfit-batch: merged " + std::to_string(outcome.copied) + " surveys";
      for (const auto& [what, list] :
           {std::pair{"missing", &outcome.missing}, {"incomplete", &outcome.incomplete}})
        if (!list->empty()) {
          line += std::string("; shards ") + what + ":";
          for (int i : *list) line += " " + std::to_string(i);
        }
      std::cerr << line << "\n";
      return outcome.missing.empty() && outcome.incomplete.empty() ? 0 : 1;
    }
    if (*slurm) {
      if (wait && !submit) return fail("--wait: only with --submit", 2);
      const net::Manifest manifest = net::read_manifest(slurm_manifest);
      for (const std::string& note : manifest.notes) std::cerr << "basinfit-batch: " << note << "\n";
      slurm_options.manifest = manifest.file;
      slurm_options.out = fs::absolute(slurm_out);
      slurm_options.batch = net::own_executable();
      // Checked before the plan is written: nothing is left of a refused command.
      net::check_slurm_options(slurm_options);
      net::write_shard_plan(slurm_options.out, manifest,
                            net::plan_shards(net::survey_sizes(manifest), slurm_options.tasks));
      const net::SlurmScripts scripts = net::write_slurm_scripts(slurm_options);
      if (!submit) {
        std::cout << "id=$(sbatch --parsable " << net::shell_word(scripts.array.string()) << ")\n"
                  << "sbatch --parsable --dependency=afterany:\"$id\" "
                  << net::shell_word(scripts.merge.string()) << "\n";
        return 0;
      }
      const net::SlurmJobs jobs = net::submit_slurm_jobs(
          scripts, wait,
          [](const std::string& job, const std::string& id) { std::cout << job << " " << id << std::endl; });
      const std::string merge_output =
          (slurm_options.out / "slurm" / ("merge-" + jobs.merge + ".out")).string();
      if (!wait) {
        std::cerr << "basinfit-batch: submitted; the jobs have not run yet: " << merge_output
                  << " will say how the merge went\n";
        return 0;
      }
      if (jobs.merge_status != 0)
        return fail("the merge job " + jobs.merge + " ended with status " +
                        std::to_string(jobs.merge_status) + ": " + merge_output + " says why",
                    1);
      const auto not_ok = net::surveys_not_ok(slurm_options.out);
      std::string line =
          "basinfit-batch: the jobs have ended: " + std::to_string(manifest.surveys.size() - not_ok.size()) +
          " surveys ok, " + std::to_string(not_ok.size()) + " not";
      for (std::size_t i = 0; i < not_ok.size() && i < 3; ++i)
        line += (i ? "; " : " (") + not_ok[i].first + ": " + not_ok[i].second;
      if (!not_ok.empty()) line += not_ok.size() > 3 ? "; ...)" : ")";
      std::cerr << line << "\n";
      return not_ok.empty() ? 0 : 1;
    }
    if (*exp) {
      const net::ExportOutcome outcome =
          net::export_geopackage(fs::absolute(export_dir), fs::absolute(gpkg_file));
      std::cerr << "basinfit-batch: " << outcome.written << " stations written";
      if (outcome.without_position > 0)
        std::cerr << "; note: " << outcome.without_position << " stations without a position left out";
      std::cerr << "\n";
      return 0;
    }
    if (*report) {
      if (compare.size() == 2) page_options.first = compare[0], page_options.second = compare[1];
      net::write_network_page(fs::absolute(report_dir), fs::absolute(html_file), page_options);
      return 0;
    }
  } catch (const basinfit::InputError& e) {
    return fail(e.what(), e.exit_status());
  } catch (const net::DatabaseError& e) {
    return fail(e.what(), 2);
  } catch (const fs::filesystem_error& e) {
    return fail(e.what(), 2);
  }
  return 0;
}
