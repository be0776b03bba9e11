#include "workbench/run_manager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "common/csv.h"
#include "common/input_error.h"
#include "import/structure.h"
#include "network/batch.h"
#include "network/manifest.h"
#include "network/survey_executor.h"
#include "workbench/results_db.h"

namespace basinfit::workbench {
namespace {

namespace fs = std::filesystem;

// The complete rows of a results table the engine is still writing: it writes each station
// whole, but a read may catch the last line half written.
std::optional<CsvSheet> complete_rows(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  std::string bytes = text.str();
  const std::size_t end = bytes.rfind('\n');
  if (end == std::string::npos) return std::nullopt;
  bytes.resize(end + 1);
  try {
    return read_csv_sheet(bytes, file.string());
  } catch (const InputError&) {
    return std::nullopt;
  }
}

// The folder the batch runs the survey in: DIR/surveys/.NAME.partial.PID.
std::optional<fs::path> partial_folder(const fs::path& surveys, const std::string& run) {
  const std::string stem = "." + run + ".partial.";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(surveys, ec))
    if (entry.path().filename().string().rfind(stem, 0) == 0) return entry.path();
  return std::nullopt;
}

Json row_object(const CsvSheet& csv, std::size_t r) {
  Json row = Json::object();
  for (std::size_t c = 0; c < csv.header.size() && c < csv.rows[r].size(); ++c) {
    const std::string& v = csv.rows[r][c];
    if (v.empty()) continue;
    char* end = nullptr;
    const double number = std::strtod(v.c_str(), &end);
    if (csv.header[c] != "station" && end == v.c_str() + v.size() && std::isfinite(number))
      row[csv.header[c]] = number;
    else
      row[csv.header[c]] = v;
  }
  return row;
}

}  // namespace

RunManager::RunManager(Project& project, int jobs) : project_(project), jobs_(jobs) {}

RunManager::~RunManager() {
  cancel();
  if (thread_.joinable()) thread_.join();
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

std::optional<std::string> RunManager::start(const std::string& run) {
  std::unique_lock lock(mutex_);
  if (running_)
    return "a run of this project is going on (" + current_ + "); wait for it to end or cancel it";
  // Another workbench on the same folder: the lock file says so, and is released by the
  // system when that process ends, however it ends.
  if (lock_fd_ < 0)
    lock_fd_ = ::open((project_.root() / ".workbench.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock_fd_ < 0 || ::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0)
    return "another program runs this project now (" + project_.root().string() + "/.workbench.lock is held)";
  const auto started = std::chrono::steady_clock::now();
  running_ = true;
  current_ = run;
  stop_ = 0;
  events_.clear();
  std::thread finished_run = std::move(thread_);
  lock.unlock();
  if (finished_run.joinable()) finished_run.join();
  std::pair<long, long> size;
  try {
    size = project_.run_size(run);
  } catch (...) {
    lock.lock();
    running_ = false;
    ::flock(lock_fd_, LOCK_UN);
    throw;
  }
  emit("start", {{"run", run}, {"stations", size.first}, {"drops", size.second}});
  thread_ = std::thread(&RunManager::work, this, run, size.first, size.second, started);
  return std::nullopt;
}

bool RunManager::cancel() {
  std::lock_guard lock(mutex_);
  if (!running_) return false;
  stop_ = 1;
  return true;
}

void RunManager::emit(const std::string& event, const Json& data) {
  std::lock_guard lock(mutex_);
  events_.push_back({next_id_++, event, data.dump()});
  changed_.notify_all();
}

Json RunManager::state() const {
  std::lock_guard lock(mutex_);
  return {{"running", running_}, {"run", current_}, {"last_event", next_id_ - 1}};
}

std::vector<RunEvent> RunManager::events_after(long after, std::chrono::milliseconds wait) const {
  std::unique_lock lock(mutex_);
  const auto newer = [&] { return !events_.empty() && events_.back().id > after; };
  changed_.wait_for(lock, wait, newer);
  std::vector<RunEvent> out;
  for (const RunEvent& e : events_)
    if (e.id > after) out.push_back(e);
  return out;
}

void RunManager::work(std::string run, long stations, long drops,
                      std::chrono::steady_clock::time_point started) {
  std::mutex watch_mutex;
  std::condition_variable watch_wake;
  bool finished = false;
  bool look = false;  // a station has finished: read the table now rather than at the next look
  // Watches the engine's stations table grow, one event per finished station with its row;
  // once the batch has moved the folder into place, the stations a short run finished between
  // two looks are read from there, so every station is shown.
  std::thread watcher([&] {
    std::size_t seen = 0;
    const fs::path surveys = project_.out() / "surveys";
    const auto scan = [&](const fs::path& folder) {
      const auto csv = complete_rows(folder / "stations.csv");
      if (!csv) return;
      for (; seen < csv->rows.size(); ++seen)
        emit("station", {{"row", row_object(*csv, seen)}, {"done", seen + 1}, {"stations", stations}});
    };
    for (;;) {
      {
        std::unique_lock lock(watch_mutex);
        watch_wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return finished || look; });
        if (finished) break;
        look = false;
      }
      if (const auto folder = partial_folder(surveys, run)) scan(*folder);
    }
    scan(surveys / run);
  });

  Json end{{"run", run}};
  try {
    network::Manifest manifest = network::read_manifest(project_.manifest_file());
    std::erase_if(manifest.surveys, [&](const network::ManifestEntry& e) { return e.name != run; });
    if (manifest.surveys.empty())
      throw InputError(project_.manifest_file().string(), 0, "no row named " + run);
    network::BatchOptions options;
    options.out = project_.out();
    options.jobs = jobs_;
    options.stop = &stop_;
    // The engine tells its progress after every drop, from its worker threads; the page hears
    // of it at most ten times a second, and at every finished station.
    std::mutex progress_mutex;
    auto last_told = std::chrono::steady_clock::time_point{};
    long stations_told = -1;
    options.on_progress = [&](const std::string&, const network::SurveyProgress& p) {
      const auto now = std::chrono::steady_clock::now();
      {
        std::lock_guard lock(progress_mutex);
        if (p.stations_done == stations_told && now - last_told < std::chrono::milliseconds(100)) return;
        if (p.stations_done != stations_told) {
          std::lock_guard wake(watch_mutex);
          look = true;
          watch_wake.notify_all();
        }
        stations_told = p.stations_done;
        last_told = now;
      }
      const double seconds = std::chrono::duration<double>(now - started).count();
      const double left = p.drops_done > 0 ? seconds / static_cast<double>(p.drops_done) *
                                                 static_cast<double>(std::max(0L, p.drops - p.drops_done))
                                           : 0.0;
      emit("progress", {{"stations", p.stations},
                        {"drops", p.drops > 0 ? p.drops : drops},
                        {"stations_done", p.stations_done},
                        {"drops_done", p.drops_done},
                        {"seconds", seconds},
                        {"seconds_left", left}});
    };
    options.on_message = [&](const std::string&, const std::string& line) {
      emit("message", {{"line", line}});
    };
    network::ImportAndRunExecutor executor;
    const network::BatchSummary summary = network::run_batch(manifest, options, executor);
    const Json record =
        query_rows(project_.database_file(),
                   "SELECT status, stage, message, stations, drops FROM surveys WHERE survey = ?1", {run});
    if (!record.empty()) end["record"] = record[0];
    const std::string failed = network::to_text(network::SurveyStatus::kFailed);
    end["status"] = summary.stopped  ? "cancelled"
                    : record.empty() ? failed
                                     : record[0].value("status", failed);
    end["database_seconds"] = summary.database_seconds;
    end["batch_seconds"] = summary.seconds;
    // The engine's own wall time, from its run record, for the workbench's share of the run.
    std::ifstream json(project_.out() / "surveys" / run / "run.json");
    const Json run_record = Json::parse(json, nullptr, false);
    if (run_record.is_object() && run_record.contains("wall_time_seconds"))
      end["engine_seconds"] = run_record["wall_time_seconds"];
  } catch (const std::exception& e) {
    end["status"] = network::to_text(network::SurveyStatus::kFailed);
    end["message"] = e.what();
  }
  {
    std::lock_guard lock(watch_mutex);
    finished = true;
  }
  watch_wake.notify_all();
  watcher.join();
  end["seconds"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // The end is told and the project freed together: a browser that starts the next run on
  // hearing of the end finds the project free.
  std::lock_guard lock(mutex_);
  running_ = false;
  ::flock(lock_fd_, LOCK_UN);
  events_.push_back({next_id_++, "end", end.dump()});
  changed_.notify_all();
}

}  // namespace basinfit::workbench
