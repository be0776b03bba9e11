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
#include "common/file_names.h"
#include "common/input_error.h"
#include "common/replacement_file.h"
#include "import/structure.h"
#include "network/database.h"
#include "network/output_lock.h"
#include "network/process.h"

namespace basinfit::network {
namespace {

namespace fs = std::filesystem;

// The resume key's text: fields each written as its length, ':' and its bytes, so that no value
// -- an option holding ';' or '=', a path holding a line end -- reads as two fields, nor two as
// one.
class KeyText {
 public:
  KeyText& operator<<(std::string_view field) {
    text_ += std::to_string(field.size()) + ":";
    text_.append(field);
    return *this;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// A file's path as the resume key holds it: relative to the manifest's folder when it lies
// inside it, so that a project moved whole to another folder keeps its recorded results.
std::string key_path(const fs::path& file, const fs::path& base) {
  const fs::path relative = file.lexically_relative(base);
  if (relative.empty() || *relative.begin() == "..") return file.string();
  return relative.string();
}

// A file's SHA-256 for the survey's record, or "unreadable"; a survey whose files may not be
// read (refused_input) has none of them digested.
std::string digest_of(const fs::path& file, bool refused) {
  if (refused) return "unreadable";
  const FileSummary summary = summarise_file(file.string());
  return summary.digest ? summary.digest->sha256 : "unreadable";
}

// The survey's record before it runs: what it was made from, and the key that says whether
// a recorded result still holds: the engine, the options given, and each input's path and
// digest.
SurveyRecord describe(const ManifestEntry& s, const SurveyExecutor& executor, const fs::path& base) {
  SurveyRecord r;
  r.survey = s.name;
  r.options = s.options_text();
  r.engine_version = executor.engine_version();
  r.engine_revision = executor.engine_revision();
  KeyText key;
  key << "engine" << r.engine_version << r.engine_revision << "options";
  for (const auto& [name, value] : s.options.given) key << name << value;
  const std::optional<std::string> refusal = refused_input(s);
  if (refusal) key << "refused" << *refusal;
  nlohmann::ordered_json sources = nlohmann::ordered_json::array();
  try {
    for (const fs::path& file : survey_input_files(s)) {
      const std::string digest = digest_of(file, refusal.has_value());
      sources.push_back({{"path", file.string()}, {"sha256", digest}});
      key << "input" << key_path(file, base) << digest;
    }
  } catch (const InputError& e) {
    key << "unreadable" << e.what();
  }
  // A path that is not UTF-8 is shown with replacement characters; the key keeps its bytes.
  r.sources = sources.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  if (!s.structure.empty()) {
    r.structure = s.structure.string();
    r.structure_sha256 = digest_of(s.structure, refusal.has_value());
    key << "structure" << key_path(s.structure, base) << r.structure_sha256;
  }
  r.input_key = text_sha256(key.text());
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

namespace {

double seconds_since(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// The one progress line over the whole batch: surveys and drops done, rate and time left, shown
// at most four times a second on a terminal.  Workers report drops from their threads and never
// wait for the line.
class ProgressLine {
 public:
  ProgressLine(std::ostream* out, std::size_t surveys, long drops)
      : out_(out), surveys_(surveys), drops_(drops), seen_(surveys) {}

  // The drops done of survey `p` so far, counted once however the workers' reports interleave.
  void drops_done(std::size_t p, long now_done) {
    long before = seen_[p].load();
    while (now_done > before && !seen_[p].compare_exchange_weak(before, now_done)) {
    }
    if (now_done > before) done_drops_ += now_done - before;
  }
  void survey_done(bool failed) {
    ++done_surveys_;
    if (failed) ++failed_;
  }
  // Clears the line before other output on the same terminal.
  std::string clear() const { return out_ != nullptr ? "\r\x1b[K" : ""; }

  void show(bool force) {
    if (out_ == nullptr) return;
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
      if (!force) return;
      lock.lock();
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - shown_ < std::chrono::milliseconds(250)) return;
    shown_ = now;
    const long drops = done_drops_.load();
    const double elapsed = seconds_since(started_);
    std::string line = "\rbasinfit-batch: " + std::to_string(done_surveys_.load()) + "/" +
                       std::to_string(surveys_) + " surveys, " + std::to_string(failed_.load()) +
                       " failed, " + std::to_string(drops) + "/" + std::to_string(drops_) + " drops";
    if (drops > 0 && elapsed > 0.5) {
      const long left = static_cast<long>(elapsed * static_cast<double>(std::max(0L, drops_ - drops)) /
                                          static_cast<double>(drops));
      line += ", " + std::to_string(static_cast<long>(static_cast<double>(drops) / elapsed)) + " drops/s, " +
              std::to_string(left / 60) + ":" + (left % 60 < 10 ? "0" : "") + std::to_string(left % 60) +
              " left";
    }
    *out_ << line << "\x1b[K" << std::flush;
  }
  void end() {
    if (out_ != nullptr && surveys_ > 0) *out_ << "\n";
  }

 private:
  std::ostream* out_;
  std::size_t surveys_;
  long drops_;
  std::vector<std::atomic<long>> seen_;
  std::atomic<long> done_drops_{0};
  std::atomic<int> done_surveys_{0}, failed_{0};
  std::mutex mutex_;  // the terminal line
  std::chrono::steady_clock::time_point shown_{};
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// The folder a survey runs in, DIR/surveys/.NAME.partial.PID, and finding what a killed batch
// left of an earlier attempt at the same survey: the stem followed by digits only, so that the
// survey "x" never takes the folder of a survey named "x.partial.1".
std::string partial_stem(const std::string& survey) { return "." + survey + ".partial."; }
bool partial_of(const std::string& folder_name, const std::string& survey) {
  const std::string stem = partial_stem(survey);
  return folder_name.size() > stem.size() && folder_name.compare(0, stem.size(), stem) == 0 &&
         std::all_of(folder_name.begin() + static_cast<std::ptrdiff_t>(stem.size()), folder_name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// One run of a batch: the surveys to run, the threads that run them side by side, and what
// each shares with the others -- the database, the summary, the progress line, the folders.
class BatchRun {
 public:
  BatchRun(const Manifest& manifest, const BatchOptions& options, SurveyExecutor& executor)
      : manifest_(manifest), options_(options), executor_(executor) {}

  BatchSummary run();

 private:
  struct Pending {
    std::size_t index;
    SurveyRecord record;
  };
  bool measure();
  std::vector<std::size_t> selection();
  bool select_pending(Database& db, const std::vector<std::size_t>& selection);
  void work();
  void run_one(std::size_t p);
  SurveyOutcome execute(std::size_t p, const fs::path& partial);
  fs::path fresh_partial_folder(const std::string& survey);
  void load_results(const fs::path& folder, SurveyRecord& record, std::vector<LoadedTable>& tables);
  void record(const std::string& survey, const SurveyRecord& record, const std::vector<LoadedTable>& tables,
              double survey_seconds, double database_seconds);
  bool stop_requested() const { return options_.stop != nullptr && options_.stop->requested(); }

  const Manifest& manifest_;
  const BatchOptions& options_;
  SurveyExecutor& executor_;
  std::vector<long> sizes_;
  std::vector<Pending> pending_;
  int jobs_ = 1;
  tbb::task_arena* pool_ = nullptr;
  std::unique_ptr<ProgressLine> progress_;
  std::atomic<std::size_t> next_{0};

  std::mutex database_mutex_;  // the database and the summary
  Database* db_ = nullptr;
  BatchSummary summary_;
  std::exception_ptr fault_;
  std::mutex folders_mutex_;  // clearing and creating folders under DIR/surveys/
};

// The size of every survey, read from its files; false when a stop request came meanwhile
// (reading a network's files takes a while, and nothing is written yet).
bool BatchRun::measure() {
  for (const ManifestEntry& s : manifest_.surveys) {
    if (stop_requested()) return false;
    sizes_.push_back(survey_size(s));
  }
  return true;
}

std::vector<std::size_t> BatchRun::selection() {
  std::vector<std::size_t> chosen(manifest_.surveys.size());
  std::iota(chosen.begin(), chosen.end(), std::size_t{0});
  if (options_.shard) {
    const auto plan = plan_shards(sizes_, options_.shard->count);
    write_shard_plan(options_.out, manifest_, plan);
    chosen = plan[static_cast<std::size_t>(options_.shard->index)];
  }
  return chosen;
}

// The surveys of the selection not recorded with the same inputs, options and engine, the
// biggest first, so that the last to finish are small ones; false when a stop request came
// while their files were being digested.
bool BatchRun::select_pending(Database& db, const std::vector<std::size_t>& chosen) {
  const fs::path base = manifest_.file.parent_path();
  for (std::size_t i : chosen) {
    if (stop_requested()) return false;
    const ManifestEntry& s = manifest_.surveys[i];
    SurveyRecord record = describe(s, executor_, base);
    const auto recorded = db.recorded(s.name);
    std::error_code ec;
    if (recorded && recorded->status == SurveyStatus::kOk && recorded->input_key == record.input_key &&
        fs::is_directory(options_.out / "surveys" / s.name, ec)) {
      ++summary_.skipped;
      continue;
    }
    pending_.push_back({i, std::move(record)});
  }
  std::stable_sort(pending_.begin(), pending_.end(),
                   [&](const Pending& a, const Pending& b) { return sizes_[a.index] > sizes_[b.index]; });
  return true;
}

BatchSummary BatchRun::run() {
  fs::create_directories(options_.out / "surveys");
  // One program at a time writes these results; a second one would take the first one's folders.
  std::optional<OutputLock> lock;
  if (!options_.output_locked) {
    const fs::path database = database_path(options_.out, options_.shard);
    fs::create_directories(database.parent_path());
    lock = OutputLock::try_take(database);
    if (!lock)
      throw InputError(
          OutputLock::file_of(database).string(), 0,
          "another program is writing these results now (a batch or a workbench); wait for it to "
          "end",
          InputError::Kind::kFileSystem);
  }
  // A stop request while the surveys' files are read and digested ends the batch before any
  // survey starts (nothing of it is written but the database's schema).
  const auto stopped_before_start = [&](std::size_t surveys) {
    summary_.surveys = static_cast<int>(surveys);
    summary_.stopped = true;
    return summary_;
  };
  if (!measure()) return stopped_before_start(manifest_.surveys.size());
  const std::vector<std::size_t> chosen = selection();
  Database db(database_path(options_.out, options_.shard));
  db_ = &db;
  // The manifest is an input of the batch: no view of it may be written over it.
  db.set_meta("manifest", manifest_.file.string());
  if (options_.shard) {
    nlohmann::json names = nlohmann::json::array();
    for (std::size_t i : chosen) names.push_back(manifest_.surveys[i].name);
    db.set_meta("shard", std::to_string(options_.shard->index) + "/" + std::to_string(options_.shard->count));
    db.set_meta("planned", names.dump());
    db.set_meta("complete", "0");
  }
  summary_.surveys = static_cast<int>(chosen.size());
  if (!select_pending(db, chosen)) return stopped_before_start(chosen.size());

  // One pool of workers for every station of every survey.  Each survey has a thread of its own
  // that reads its files and writes its outputs in survey order while the pool computes its
  // stations; twice as many surveys as workers run side by side, so that a survey waiting on a
  // chain of seeds or writing its page leaves no worker idle.  With one worker, one survey runs
  // at a time on its own thread, serially, as `basinfit -j 1` would.
  jobs_ = std::max(1, options_.jobs);
  const int side_by_side =
      std::max(1, std::min(jobs_ == 1 ? 1 : 2 * jobs_, static_cast<int>(pending_.size())));
  tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism,
                                  static_cast<std::size_t>(jobs_) + 1);
  tbb::task_arena pool(jobs_, 0);
  pool_ = &pool;
  long total_drops = 0;
  for (const Pending& p : pending_) total_drops += sizes_[p.index];
  progress_ = std::make_unique<ProgressLine>(options_.progress, pending_.size(), total_drops);

  const auto started = std::chrono::steady_clock::now();
  const double processor_at_start = process_processor_seconds();
  std::vector<std::thread> threads;
  for (int t = 0; t < side_by_side; ++t) threads.emplace_back([this] { work(); });
  for (std::thread& t : threads) t.join();
  progress_->end();
  summary_.seconds = seconds_since(started);
  summary_.processor_seconds = process_processor_seconds() - processor_at_start;
  summary_.stopped = stop_requested();
  if (options_.verbose)
    *options_.verbose << "basinfit-batch: " << std::fixed << std::setprecision(2) << summary_.seconds
                      << " s in all, " << summary_.processor_seconds
                      << " s of processor time, of which the database " << summary_.database_seconds << " s ("
                      << std::setprecision(1)
                      << (summary_.processor_seconds > 0
                              ? 100.0 * summary_.database_seconds / summary_.processor_seconds
                              : 0.0)
                      << " %)\n";
  if (fault_) std::rethrow_exception(fault_);
  if (options_.shard && !summary_.stopped) db.set_meta("complete", "1");
  return summary_;
}

void BatchRun::work() {
  for (std::size_t p = next_++; p < pending_.size(); p = next_++) {
    // Stopped: no further survey starts (the summary says so once every thread has ended).
    if (stop_requested()) break;
    try {
      run_one(p);
    } catch (...) {
      std::lock_guard lock(database_mutex_);
      if (!fault_) fault_ = std::current_exception();
      next_ = pending_.size();
    }
  }
}

fs::path BatchRun::fresh_partial_folder(const std::string& survey) {
  std::lock_guard lock(folders_mutex_);
  for (const auto& entry : fs::directory_iterator(options_.out / "surveys"))
    if (partial_of(entry.path().filename().string(), survey)) fs::remove_all(entry.path());
  const fs::path partial = options_.out / "surveys" / (partial_stem(survey) + std::to_string(::getpid()));
  fs::create_directories(partial);
  return partial;
}

SurveyOutcome BatchRun::execute(std::size_t p, const fs::path& partial) {
  const ManifestEntry& s = manifest_.surveys[pending_[p].index];
  ExecutionControl control;
  control.pool = pool_;
  control.stop = options_.stop;
  control.progress = [this, p, &s](const SurveyProgress& progress) {
    progress_->drops_done(p, progress.drops_done);
    if (options_.on_progress) options_.on_progress(s.name, progress);
    progress_->show(false);
  };
  if (options_.on_message)
    control.message = [this, &s](const std::string& line) { options_.on_message(s.name, line); };
  if (options_.on_station)
    control.station = [this, &s](const results::StationRow& row) { options_.on_station(s.name, row); };
  return executor_.execute(s, partial, jobs_, control);
}

// The results tables of a survey that ran, read for the database; a table that cannot be read
// makes the survey a failure at loading.
void BatchRun::load_results(const fs::path& folder, SurveyRecord& record, std::vector<LoadedTable>& tables) {
  try {
    tables = read_result_tables(folder);
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

void BatchRun::run_one(std::size_t p) {
  const ManifestEntry& s = manifest_.surveys[pending_[p].index];
  SurveyRecord record = pending_[p].record;
  const fs::path partial = fresh_partial_folder(s.name);
  record.started_at = utc_now();
  const auto survey_started = std::chrono::steady_clock::now();
  const SurveyOutcome outcome = execute(p, partial);
  const double survey_seconds = seconds_since(survey_started);
  // The database's cost as processor time of this thread: wall time would also count the
  // moments the thread waits for a core the station workers hold.
  const double loading = thread_processor_seconds();
  record.status = outcome.ok                                               ? SurveyStatus::kOk
                  : options_.stop != nullptr && options_.stop->cancelled() ? SurveyStatus::kCancelled
                                                                           : SurveyStatus::kFailed;
  record.stage = outcome.stage;
  record.exit_status = outcome.exit_status;
  record.message = outcome.message;
  record.route = outcome.route;
  std::vector<LoadedTable> tables;
  if (outcome.ok) load_results(partial, record, tables);
  const double database = thread_processor_seconds() - loading;
  move_into_place(partial, options_.out / "surveys" / s.name);
  record.finished_at = utc_now();
  this->record(s.name, record, tables, survey_seconds, database);
  progress_->drops_done(p, sizes_[pending_[p].index]);
  progress_->show(true);
}

void BatchRun::record(const std::string& survey, const SurveyRecord& record,
                      const std::vector<LoadedTable>& tables, double survey_seconds,
                      double database_seconds) {
  std::lock_guard lock(database_mutex_);
  const double writing = thread_processor_seconds();
  db_->record_survey(record, tables);
  database_seconds += thread_processor_seconds() - writing;
  summary_.database_seconds += database_seconds;
  ++summary_.ran;
  const bool failed = record.status != SurveyStatus::kOk;
  if (failed) summary_.failed.emplace_back(survey, record.message);
  progress_->survey_done(failed);
  if (options_.verbose)
    *options_.verbose << progress_->clear() << "basinfit-batch: " << survey << ": " << to_text(record.status)
                      << ", " << record.stations << " stations, " << record.drops << " drops, " << std::fixed
                      << std::setprecision(2) << survey_seconds << " s, database " << database_seconds
                      << " s\n";
}

}  // namespace

BatchSummary run_batch(const Manifest& manifest, const BatchOptions& options, SurveyExecutor& executor) {
  return BatchRun(manifest, options, executor).run();
}

ShardPlan read_shard_plan(const fs::path& out) {
  const fs::path file = out / "shards" / "plan.json";
  const std::string text = import::read_bytes(file.string());
  const auto refuse = [&](const std::string& why) -> InputError {
    return InputError(visible_name(file.string()), 0, "not a shard plan: " + why);
  };
  nlohmann::json plan;
  try {
    plan = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    throw refuse(e.what());
  }
  const auto* shards = plan.is_object() && plan.contains("shards") ? &plan["shards"] : nullptr;
  if (!shards || !shards->is_number_integer() || shards->get<long long>() < 1 ||
      shards->get<long long>() > kMaxShards)
    throw refuse("expected \"shards\", the number of shards, from 1 to " + std::to_string(kMaxShards));
  ShardPlan result;
  result.count = shards->get<int>();
  if (plan.contains("manifest") && plan["manifest"].is_string())
    result.manifest = plan["manifest"].get<std::string>();
  const auto* surveys = plan.contains("surveys") ? &plan["surveys"] : nullptr;
  if (!surveys || !surveys->is_array() || surveys->size() != static_cast<std::size_t>(result.count))
    throw refuse("expected \"surveys\", a list of " + std::to_string(result.count) +
                 " lists of survey names, one for each shard");
  for (const nlohmann::json& shard : *surveys) {
    if (!shard.is_array()) throw refuse("expected each shard's surveys as a list of names");
    std::vector<std::string>& names = result.surveys.emplace_back();
    for (const nlohmann::json& name : shard) {
      if (!name.is_string()) throw refuse("expected each survey of a shard as its name, a text");
      names.push_back(name.get<std::string>());
    }
  }
  return result;
}

MergeOutcome merge_shards(const fs::path& out) {
  const ShardPlan plan = read_shard_plan(out);
  MergeOutcome outcome;
  Database db(out / "results.sqlite");
  for (int i = 0; i < plan.count; ++i) {
    const fs::path shard = database_path(out, Shard{i, plan.count});
    std::error_code ec;
    if (!fs::exists(shard, ec)) {
      outcome.missing.push_back(i);
      continue;
    }
    {
      Database shard_db(shard, DatabaseUse::kRead);
      bool complete = shard_db.meta("complete") == std::optional<std::string>("1");
      const std::vector<std::string> recorded = shard_db.surveys();
      for (const std::string& name : plan.surveys[static_cast<std::size_t>(i)])
        if (!std::binary_search(recorded.begin(), recorded.end(), name)) complete = false;
      if (!complete) outcome.incomplete.push_back(i);
    }
    outcome.copied += db.merge_from(shard);
  }
  return outcome;
}

std::vector<std::pair<std::string, std::string>> surveys_not_ok(const fs::path& out) {
  const ShardPlan plan = read_shard_plan(out);
  Database db(out / "results.sqlite", DatabaseUse::kRead);
  std::vector<std::pair<std::string, std::string>> not_ok;
  for (const std::vector<std::string>& shard : plan.surveys)
    for (const std::string& name : shard) {
      const auto recorded = db.recorded(name);
      if (!recorded)
        not_ok.emplace_back(name, "not recorded");
      else if (recorded->status != SurveyStatus::kOk)
        not_ok.emplace_back(name, to_text(recorded->status));
    }
  std::sort(not_ok.begin(), not_ok.end());
  return not_ok;
}

}  // namespace basinfit::network
