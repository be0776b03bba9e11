#include "workbench/run_manager.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <fstream>

#include "common/input_error.h"
#include "network/batch.h"
#include "network/manifest.h"
#include "network/survey_executor.h"
#include "workbench/internal/results_db.h"

namespace basinfit::workbench {
namespace {

// A station's row of stations.csv as the page takes it: numbers as numbers, empty cells left out.
Json row_object(const results::StationRow& row) {
  Json object = Json::object();
  for (std::size_t c = 0; c < row.columns.size() && c < row.values.size(); ++c) {
    const std::string& v = row.values[c];
    if (v.empty()) continue;
    char* end = nullptr;
    const double number = std::strtod(v.c_str(), &end);
    if (row.columns[c] != "station" && end == v.c_str() + v.size() && std::isfinite(number))
      object[row.columns[c]] = number;
    else
      object[row.columns[c]] = v;
  }
  return object;
}

// How often the page hears of the drops in between stations.
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

}  // namespace

RunManager::RunManager(Project& project, int jobs) : project_(project), jobs_(jobs) {}

RunManager::~RunManager() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void RunManager::start(const std::string& run) {
  std::unique_lock lock(mutex_);
  if (running_)
    throw Error(Error::Kind::kConflict,
                "a run of this project is going on (" + current_ + "); wait for it to end or cancel it");
  // Another workbench or a batch writing the same results: their lock says so, and the system
  // releases it when that program ends, however it ends.
  auto taken = network::OutputLock::try_take(project_.database_file());
  if (!taken)
    throw Error(Error::Kind::kConflict, "another program runs this project now (" +
                                            network::OutputLock::file_of(project_.database_file()).string() +
                                            " is held)");
  const auto started = std::chrono::steady_clock::now();
  running_ = true;
  current_ = run;
  stop_.reset();
  events_.clear();
  lock_ = std::move(taken);
  std::thread finished_run = std::move(thread_);
  lock.unlock();
  if (finished_run.joinable()) finished_run.join();
  std::pair<long, long> size;
  try {
    size = project_.run_size(run);
  } catch (...) {
    lock.lock();
    running_ = false;
    lock_.reset();
    throw;
  }
  emit("start", {{"run", run}, {"stations", size.first}, {"drops", size.second}});
  thread_ = std::thread(&RunManager::work, this, run, size.first, size.second, started);
}

bool RunManager::cancel() {
  std::lock_guard lock(mutex_);
  if (!running_) return false;
  stop_.cancel();
  return true;
}

void RunManager::stop_for_signal(int signal) { stop_.signal(signal); }

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

// The batch over the run's own manifest row, told as events; returns what the end event holds.
Json RunManager::run_batch(const std::string& run, long stations, long drops,
                           std::chrono::steady_clock::time_point started) {
  network::Manifest manifest = network::read_manifest(project_.manifest_file());
  std::erase_if(manifest.surveys, [&](const network::ManifestEntry& e) { return e.name != run; });
  if (manifest.surveys.empty()) throw InputError(project_.manifest_file().string(), 0, "no row named " + run);
  network::BatchOptions options;
  options.out = project_.out();
  options.jobs = jobs_;
  options.stop = &stop_;
  options.output_locked = true;
  // The engine tells its progress after every drop, from its worker threads; the page hears of it
  // at most ten times a second.  A station is told whole, from the survey's thread, as it ends.
  std::atomic<std::int64_t> last_told{0};
  options.on_progress = [&](const std::string&, const network::SurveyProgress& p) {
    const auto now = std::chrono::steady_clock::now();
    const std::int64_t ticks = now.time_since_epoch().count();
    std::int64_t before = last_told.load();
    if (ticks - before < std::chrono::steady_clock::duration(kProgressEvery).count() ||
        !last_told.compare_exchange_strong(before, ticks))
      return;
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
  long told = 0;
  options.on_station = [&](const std::string&, const results::StationRow& row) {
    emit("station", {{"row", row_object(row)}, {"done", ++told}, {"stations", stations}});
  };
  options.on_message = [&](const std::string&, const std::string& line) {
    emit("message", {{"line", line}});
  };
  network::ImportAndRunExecutor executor;
  const network::BatchSummary summary = network::run_batch(manifest, options, executor);

  Json end{{"run", run}};
  const Json record = query_rows(
      project_.database_file(),
      "SELECT status, stage, exit_status, message, stations, drops FROM surveys WHERE survey = ?1", {run});
  if (!record.empty()) end["record"] = record[0];
  const std::string failed = network::to_text(network::SurveyStatus::kFailed);
  end["status"] = summary.stopped  ? network::to_text(network::SurveyStatus::kCancelled)
                  : record.empty() ? failed
                                   : record[0].value("status", failed);
  end["database_seconds"] = summary.database_seconds;
  end["batch_seconds"] = summary.seconds;
  // The engine's own wall time, from its run record, for the workbench's share of the run.
  std::ifstream json(project_.out() / "surveys" / run / "run.json");
  const Json run_record = Json::parse(json, nullptr, false);
  if (run_record.is_object() && run_record.contains("wall_time_seconds"))
    end["engine_seconds"] = run_record["wall_time_seconds"];
  return end;
}

void RunManager::work(std::string run, long stations, long drops,
                      std::chrono::steady_clock::time_point started) {
  Json end;
  try {
    end = run_batch(run, stations, drops, started);
  } catch (const std::exception& e) {
    end = {{"run", run}, {"status", network::to_text(network::SurveyStatus::kFailed)}, {"message", e.what()}};
  }
  end["seconds"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // The end is told and the project freed together: a browser that starts the next run on
  // hearing of the end finds the project free.
  std::lock_guard lock(mutex_);
  running_ = false;
  lock_.reset();
  events_.push_back({next_id_++, "end", end.dump()});
  changed_.notify_all();
}

}  // namespace basinfit::workbench
