#include "network/batch.h"

#include <sys/resource.h>
#include <tbb/global_control.h>
#include <tbb/task_arena.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iomanip>
#include <mutex>
#include <nlohmann/json.hpp>
#include <numeric>
#include <ostream>
#include <thread>

#include "common/file_digest.h"
#include "common/input_error.h"
#include "common/replacement_file.h"
#include "import/structure.h"
#include "network/database.h"
#include "network/process.h"

namespace basinfit::network {
namespace {

namespace fs = std::filesystem;

// The survey's record before it runs: what it was made from, and the key that says whether
// a recorded result still holds.
SurveyRecord describe(const ManifestEntry& s, const SurveyExecutor& executor) {
  SurveyRecord r;
  r.survey = s.name;
  r.options = s.options_text();
  r.engine_version = executor.engine_version();
  r.engine_revision = executor.engine_revision();
  nlohmann::ordered_json sources = nlohmann::ordered_json::array();
  std::string key = "engine " + r.engine_version + " " + r.engine_revision + "\noptions " + r.options + "\n";
  try {
    for (const fs::path& file : survey_input_files(s)) {
      // Only a regular file is read; a device or a pipe would never end or never answer.
      const FileSummary summary = summarise_file(file.string());
      const std::string digest = summary.digest ? summary.digest->sha256 : "unreadable";
      sources.push_back({{"path", file.string()}, {"sha256", digest}});
      key += file.string() + " " + digest + "\n";
    }
  } catch (const InputError& e) {
    key += std::string("unreadable ") + e.what() + "\n";
  }
  r.sources = sources.dump();
  if (!s.structure.empty()) {
    r.structure = s.structure.string();
    const FileSummary summary = summarise_file(r.structure);
    r.structure_sha256 = summary.digest ? summary.digest->sha256 : "unreadable";
    key += "structure " + r.structure + " " + r.structure_sha256 + "\n";
  }
  r.input_key = text_sha256(key);
  return r;
}

double thread_processor_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double process_processor_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Puts a finished folder in the place of the survey's folder: the old one is first moved
// aside, so the place never holds a half-written folder.
void move_into_place(const fs::path& partial, const fs::path& final_folder) {
  const fs::path old = final_folder.parent_path() / ("." + final_folder.filename().string() + ".old");
  fs::remove_all(old);
  std::error_code ec;
  if (fs::exists(final_folder, ec)) fs::rename(final_folder, old);
  fs::rename(partial, final_folder);
  fs::remove_all(old);
}

}  // namespace

std::string BatchSummary::line() const {
  std::string text = "basinfit-batch: " + std::to_string(surveys) + " surveys: " + std::to_string(ran) +
                     " run, " + std::to_string(skipped) + " already done, " + std::to_string(failed.size()) +
                     " failed";
  for (std::size_t i = 0; i < failed.size() && i < 3; ++i) text += (i ? "; " : " (") + failed[i].first;
  if (!failed.empty()) text += failed.size() > 3 ? "; ...)" : ")";
  if (stopped) text += "; stopped, " + std::to_string(std::max(0, surveys - ran - skipped)) + " not run";
  return text;
}

fs::path database_path(const fs::path& out, const std::optional<Shard>& shard) {
  return shard ? out / "shards" / (std::to_string(shard->index) + ".sqlite") : out / "results.sqlite";
}

std::vector<long> survey_sizes(const Manifest& manifest) {
  std::vector<long> sizes;
  for (const ManifestEntry& s : manifest.surveys) sizes.push_back(survey_size(s));
  return sizes;
}

std::vector<std::vector<std::size_t>> plan_shards(const std::vector<long>& sizes, int count) {
  std::vector<std::size_t> order(sizes.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
  std::vector<std::vector<std::size_t>> plan(static_cast<std::size_t>(count));
  std::vector<long> load(static_cast<std::size_t>(count), 0);
  for (std::size_t survey : order) {
    const auto lightest = static_cast<std::size_t>(std::min_element(load.begin(), load.end()) - load.begin());
    plan[lightest].push_back(survey);
    load[lightest] += sizes[survey];
  }
  for (auto& shard : plan) std::sort(shard.begin(), shard.end());
  return plan;
}

void write_shard_plan(const fs::path& out, const Manifest& manifest,
                      const std::vector<std::vector<std::size_t>>& plan) {
  nlohmann::ordered_json json;
  json["manifest"] = manifest.file.string();
  json["shards"] = plan.size();
  json["surveys"] = nlohmann::ordered_json::array();
  for (const auto& shard : plan) {
    nlohmann::ordered_json names = nlohmann::ordered_json::array();
    for (std::size_t i : shard) names.push_back(manifest.surveys[i].name);
    json["surveys"].push_back(names);
  }
  fs::create_directories(out / "shards");
  // Every array task writes the same plan: each through a file of its own and a rename.
  replace_file(out / "shards" / "plan.json", json.dump(2) + "\n", "shard plan");
}

BatchSummary run_batch(const Manifest& manifest, const BatchOptions& options, SurveyExecutor& executor) {
  const std::vector<long> sizes = survey_sizes(manifest);
  std::vector<std::size_t> selection(manifest.surveys.size());
  std::iota(selection.begin(), selection.end(), std::size_t{0});
  if (options.shard) {
    const auto plan = plan_shards(sizes, options.shard->count);
    write_shard_plan(options.out, manifest, plan);
    selection = plan[static_cast<std::size_t>(options.shard->index)];
  }
  fs::create_directories(options.out / "surveys");
  Database db(database_path(options.out, options.shard));
  if (options.shard) {
    nlohmann::json names = nlohmann::json::array();
    for (std::size_t i : selection) names.push_back(manifest.surveys[i].name);
    db.set_meta("shard", std::to_string(options.shard->index) + "/" + std::to_string(options.shard->count));
    db.set_meta("planned", names.dump());
    db.set_meta("complete", "0");
  }

  BatchSummary summary;
  summary.surveys = static_cast<int>(selection.size());
  struct Pending {
    std::size_t index;
    SurveyRecord record;
  };
  std::vector<Pending> pending;
  for (std::size_t i : selection) {
    const ManifestEntry& s = manifest.surveys[i];
    SurveyRecord record = describe(s, executor);
    const auto recorded = db.recorded(s.name);
    std::error_code ec;
    if (recorded && recorded->status == SurveyStatus::kOk && recorded->input_key == record.input_key &&
        fs::is_directory(options.out / "surveys" / s.name, ec)) {
      ++summary.skipped;
      continue;
    }
    pending.push_back({i, std::move(record)});
  }
  // The biggest surveys first, so that the last to finish are small ones.
  std::stable_sort(pending.begin(), pending.end(),
                   [&](const Pending& a, const Pending& b) { return sizes[a.index] > sizes[b.index]; });

  // One pool of workers for every station of every survey.  Each survey has a thread of its own
  // that reads its files and writes its outputs in survey order while the pool computes its
  // stations; twice as many surveys as workers run side by side, so that a survey waiting on a
  // chain of seeds or writing its page leaves no worker idle.  With one worker, one survey runs
  // at a time on its own thread, serially, as `basinfit -j 1` would.
  const int jobs = std::max(1, options.jobs);
  const int side_by_side = std::max(1, std::min(jobs == 1 ? 1 : 2 * jobs, static_cast<int>(pending.size())));
  tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism,
                                  static_cast<std::size_t>(jobs) + 1);
  tbb::task_arena pool(jobs, 0);

  const auto started = std::chrono::steady_clock::now();
  const double processor_at_start = process_processor_seconds();
  const auto seconds_since = [](std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
  };
  long total_drops = 0;
  for (const Pending& p : pending) total_drops += sizes[p.index];
  std::atomic<long> drops_done{0};
  std::vector<std::atomic<long>> seen(pending.size());
  std::mutex mutex;  // the database, the summary and the progress line
  std::atomic<std::size_t> next{0};
  std::exception_ptr fault;
  int done = 0;
  std::chrono::steady_clock::time_point shown{};
  // The progress line over the whole batch: surveys and drops done, rate and time left.  Shown
  // at most four times a second; a worker never waits for it.
  const auto show = [&](bool force) {
    std::unique_lock lock(mutex, std::try_to_lock);
    if (!options.progress || (!lock.owns_lock() && !force)) return;
    if (!lock.owns_lock()) lock.lock();
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - shown < std::chrono::milliseconds(250)) return;
    shown = now;
    const long drops = drops_done.load();
    const double elapsed = seconds_since(started);
    std::string line = "\rbasinfit-batch: " + std::to_string(done) + "/" + std::to_string(pending.size()) +
                       " surveys, " + std::to_string(summary.failed.size()) + " failed, " +
                       std::to_string(drops) + "/" + std::to_string(total_drops) + " drops";
    if (drops > 0 && elapsed > 0.5) {
      const long left = static_cast<long>(elapsed * static_cast<double>(std::max(0L, total_drops - drops)) /
                                          static_cast<double>(drops));
      line += ", " + std::to_string(static_cast<long>(static_cast<double>(drops) / elapsed)) + " drops/s, " +
              std::to_string(left / 60) + ":" + (left % 60 < 10 ? "0" : "") + std::to_string(left % 60) +
              " left";
    }
    *options.progress << line << "\x1b[K" << std::flush;
  };
  // Drops done of one survey, counted once however the workers' reports interleave.
  const auto count_drops = [&](std::size_t p, long now_done) {
    long before = seen[p].load();
    while (now_done > before && !seen[p].compare_exchange_weak(before, now_done)) {
    }
    if (now_done > before) drops_done += now_done - before;
  };
  const auto work = [&] {
    for (std::size_t p = next++; p < pending.size(); p = next++) {
      // Stopped: no further survey starts (the summary says so once every thread has ended).
      if (options.stop != nullptr && options.stop->load() != 0) break;
      const ManifestEntry& s = manifest.surveys[pending[p].index];
      SurveyRecord record = pending[p].record;
      try {
        // A folder of this process's own; what a killed batch left of an earlier attempt is
        // removed here.
        const std::string stem = "." + s.name + ".partial.";
        {
          std::lock_guard lock(mutex);  // another survey's thread may be creating its own folder
          for (const auto& entry : fs::directory_iterator(options.out / "surveys"))
            if (entry.path().filename().string().rfind(stem, 0) == 0) fs::remove_all(entry.path());
        }
        const fs::path partial = options.out / "surveys" / (stem + std::to_string(::getpid()));
        fs::create_directories(partial);
        record.started_at = utc_now();
        ExecutionControl control;
        control.pool = &pool;
        control.stop = options.stop;
        control.progress = [&, p](const SurveyProgress& progress) {
          count_drops(p, progress.drops_done);
          if (options.on_progress) options.on_progress(s.name, progress);
          show(false);
        };
        if (options.on_message)
          control.message = [&](const std::string& line) { options.on_message(s.name, line); };
        const auto survey_started = std::chrono::steady_clock::now();
        const SurveyOutcome outcome = executor.execute(s, partial, jobs, control);
        const double survey_seconds = seconds_since(survey_started);
        // The database's cost as processor time of this thread: wall time would also count the
        // moments the thread waits for a core the station workers hold.
        const double loading = thread_processor_seconds();
        std::vector<LoadedTable> tables;
        record.status = outcome.ok ? SurveyStatus::kOk : SurveyStatus::kFailed;
        record.stage = outcome.stage;
        record.exit_status = outcome.exit_status;
        record.message = outcome.message;
        record.route = outcome.route;
        if (outcome.ok) {
          try {
            tables = read_result_tables(partial);
            for (const LoadedTable& t : tables) {
              if (t.table->table == "stations") record.stations = static_cast<int>(t.rows.size());
              if (t.table->table == "drops") record.drops = static_cast<int>(t.rows.size());
            }
          } catch (const InputError& e) {
            tables.clear();
            record.status = SurveyStatus::kFailed;
            record.stage = SurveyStage::kLoad;
            record.message = e.what();
          }
        }
        double database = thread_processor_seconds() - loading;
        move_into_place(partial, options.out / "surveys" / s.name);
        record.finished_at = utc_now();
        {
          std::lock_guard lock(mutex);
          const double writing = thread_processor_seconds();
          db.record_survey(record, tables);
          database += thread_processor_seconds() - writing;
          summary.database_seconds += database;
          ++summary.ran;
          if (record.status != SurveyStatus::kOk) summary.failed.emplace_back(s.name, record.message);
          ++done;
          if (options.verbose)
            *options.verbose << (options.progress ? "\r\x1b[K" : "") << "basinfit-batch: " << s.name << ": "
                             << to_text(record.status) << ", " << record.stations << " stations, "
                             << record.drops << " drops, " << std::fixed << std::setprecision(2)
                             << survey_seconds << " s, database " << database << " s\n";
        }
        count_drops(p, sizes[pending[p].index]);
        show(true);
      } catch (...) {
        std::lock_guard lock(mutex);
        if (!fault) fault = std::current_exception();
        next = pending.size();
      }
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < side_by_side; ++t) threads.emplace_back(work);
  for (std::thread& t : threads) t.join();
  if (options.progress && !pending.empty()) *options.progress << "\n";
  summary.seconds = seconds_since(started);
  summary.processor_seconds = process_processor_seconds() - processor_at_start;
  if (options.stop != nullptr && options.stop->load() != 0) summary.stopped = true;
  if (options.verbose)
    *options.verbose << "basinfit-batch: " << std::fixed << std::setprecision(2) << summary.seconds
                     << " s in all, " << summary.processor_seconds
                     << " s of processor time, of which the database " << summary.database_seconds << " s ("
                     << std::setprecision(1)
                     << (summary.processor_seconds > 0
                             ? 100.0 * summary.database_seconds / summary.processor_seconds
                             : 0.0)
                     << " %)\n";
  if (fault) std::rethrow_exception(fault);

  // Surveys skipped as done may still have failed earlier only if their key changed, which
  // reruns them; the failures to report are this run's.
  if (options.shard && !summary.stopped) db.set_meta("complete", "1");
  return summary;
}

MergeOutcome merge_shards(const fs::path& out) {
  const fs::path plan_file = out / "shards" / "plan.json";
  nlohmann::json plan;
  try {
    plan = nlohmann::json::parse(import::read_bytes(plan_file.string()));
  } catch (const nlohmann::json::exception& e) {
    throw InputError(plan_file.string(), 0, std::string("not a shard plan: ") + e.what());
  }
  MergeOutcome outcome;
  Database db(out / "results.sqlite");
  const int count = plan.at("shards").get<int>();
  for (int i = 0; i < count; ++i) {
    const fs::path shard = database_path(out, Shard{i, count});
    std::error_code ec;
    if (!fs::exists(shard, ec)) {
      outcome.missing.push_back(i);
      continue;
    }
    {
      Database shard_db(shard);
      bool complete = shard_db.meta("complete") == std::optional<std::string>("1");
      const std::vector<std::string> recorded = shard_db.surveys();
      for (const auto& name : plan.at("surveys").at(static_cast<std::size_t>(i)))
        if (!std::binary_search(recorded.begin(), recorded.end(), name.get<std::string>())) complete = false;
      if (!complete) outcome.incomplete.push_back(i);
    }
    outcome.copied += db.merge_from(shard);
  }
  return outcome;
}

}  // namespace basinfit::network
