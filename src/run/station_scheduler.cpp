#include "run/station_scheduler.h"

#include <sched.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

#include "run/input_files.h"

// The worker pool hands a station to a worker through queues inside the pool's own library,
// which the thread sanitizer cannot see; in a build under it, the hand-off is declared to it.
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define BASINFIT_HANDED_OVER(address) __tsan_release(address)
#define BASINFIT_TAKEN_OVER(address) __tsan_acquire(address)
#else
#define BASINFIT_HANDED_OVER(address) static_cast<void>(address)
#define BASINFIT_TAKEN_OVER(address) static_cast<void>(address)
#endif

namespace basinfit {

int available_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

namespace {

constexpr float kUnknown = std::numeric_limits<float>::quiet_NaN();

// A basin a worker saw, kept for the observer until its station is written.
struct RecordedBasin {
  std::size_t after_text = 0;  // number of progress texts written before it
  std::string station_id;
  int drop = 0;
  std::vector<float> offsets, measured, calculated;
};

// The first-drop moduli of one station, handed to the next station when that one starts from
// them.  Shared by the two stations, so either may be gone first.
struct ChainLink {
  std::mutex mutex;
  bool published = false;
  PerLayer<float> column{};
  struct StationTask* successor = nullptr;
};

struct StationTask {
  RunState state;
  bool chained = false;             // starts from the previous station's first-drop moduli
  std::shared_ptr<ChainLink> from;  // that station's link (chained only)
  std::shared_ptr<ChainLink> to = std::make_shared<ChainLink>();
  std::atomic<int> waiting{1};  // submission, and the predecessor's moduli when chained
  // Filled by the worker.
  std::vector<std::string> texts;
  std::vector<RecordedBasin> basins;
  std::exception_ptr failure;
  std::unique_ptr<StationAnalysis::Result> analysed;
  bool finished = false;  // guarded by the scheduler's mutex
};

// One worker's own computations: model and solver state, and the writer that keeps its lines.
struct WorkerContext {
  std::vector<std::string> texts;
  std::vector<RecordedBasin> basins;
  MessageWriter writer;
  std::unique_ptr<StationComputations> computations;

  WorkerContext(const ComputationsMaker& make, bool batch) : writer(&texts, batch) {
    computations = make(writer, [this](const std::string& id, int drop, std::span<const float> offsets,
                                       std::span<const float> measured, std::span<const float> calculated) {
      basins.push_back(RecordedBasin{texts.size(), id, drop,
                                     std::vector<float>(offsets.begin(), offsets.end()),
                                     std::vector<float>(measured.begin(), measured.end()),
                                     std::vector<float>(calculated.begin(), calculated.end())});
    });
  }
};

class Scheduler;

// What the pool runs for one station: the station and the scheduler it reports to.  Its two
// pointers are the only data the pool itself carries from the main thread to a worker.
struct StationJob {
  Scheduler* scheduler;
  StationTask* task;
  void operator()() const;
};

class Scheduler {
 public:
  Scheduler(RunState& state, MessageWriter& messages, StationComputations& computations,
            ReportWriter& reports, const Clock& clock, const ParallelRun& parallel, ProgressCounter* progress,
            StationAnalysis* analysis)
      : state_(state),
        messages_(messages),
        computations_(computations),
        reports_(reports),
        clock_(clock),
        parallel_(parallel),
        progress_(progress),
        analysis_(analysis),
        arena_(parallel.pool != nullptr ? *parallel.pool : own_arena(parallel.jobs)),
        workers_([this] { return std::make_unique<WorkerContext>(parallel_.make, messages_.batch()); }) {
    template_ = state;
    // What the next station can know of the column it may start from: all of it for the first.
    known_ = state.results.modulus[0];
  }

  DriverEnd run(ListReader& deflections, int& stop_line);
  void work(StationTask* task);

 private:
  tbb::task_arena& own_arena(int jobs) {
    parallelism_.emplace(tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(jobs) + 1);
    return own_arena_.emplace(jobs, 0);
  }
  void plan(StationTask& task);
  void submit(StationTask* task);
  void release(StationTask* task);
  void commit(StationTask& task);
  void drain();

  RunState& state_;
  MessageWriter& messages_;
  StationComputations& computations_;
  ReportWriter& reports_;
  const Clock& clock_;
  const ParallelRun& parallel_;
  ProgressCounter* progress_;
  StationAnalysis* analysis_;
  // A run with workers of its own raises the process's limit to them; a shared pool's owner
  // has set it for all.
  std::optional<tbb::global_control> parallelism_;
  std::optional<tbb::task_arena> own_arena_;
  tbb::task_arena& arena_;
  tbb::enumerable_thread_specific<std::unique_ptr<WorkerContext>> workers_;

  RunState template_;
  std::string deflection_file_;
  PerLayer<float> known_{};
  std::shared_ptr<ChainLink> last_link_;
  StationStatistics shown_statistics_{};

  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> cancelled_{false};
  int running_ = 0;  // stations on a worker or queued for one; guarded by mutex_
};

// Decides where the station's first drop starts.  With computed seeds the seed equations run
// on the column known so far, with every modulus that depends on the previous station's fit
// marked unknown (NaN): an unknown modulus that enters a seed leaves that seed NaN (the
// equations carry NaN through and the acceptance test keeps a NaN column entry as it is), so a
// column free of NaN is exactly the column the serial run computes, whatever the previous
// station's moduli turn out to be.  Otherwise the station waits for them.
void Scheduler::plan(StationTask& task) {
  const RunSettings& s = template_.settings;
  PerLayer<float> column = known_;
  if (s.seed_option == 0) {
    RunState probe = template_;
    probe.station = task.state.station;
    probe.results.modulus[0] = column;
    computations_.compute_seeds(probe);
    column = probe.results.modulus[0];
  }
  bool known = true;
  for (int j = 0; j < s.layer_count; ++j)
    if (std::isnan(column[static_cast<std::size_t>(j)])) known = false;
  task.chained = !known;
  if (known) task.state.results.modulus[0] = column;
  // The first drop replaces the backcalculated moduli; the fixed ones stay as they start.
  for (int j = 0; j < s.layer_count; ++j)
    if (s.layers[static_cast<std::size_t>(j)].backcalculated())
      column[static_cast<std::size_t>(j)] = kUnknown;
  known_ = column;
}

void Scheduler::submit(StationTask* task) {
  if (task->chained) {
    std::lock_guard lock(task->from->mutex);
    task->from->successor = task;
    if (task->from->published) {
      task->state.results.modulus[0] = task->from->column;
      task->waiting.fetch_sub(1);
    }
  }
  release(task);
}

// One of the things the station waits for has arrived; the last one starts it.
void Scheduler::release(StationTask* task) {
  if (task->waiting.fetch_sub(1) != 1) return;
  {
    std::lock_guard lock(mutex_);
    ++running_;
  }
  BASINFIT_HANDED_OVER(task);
  arena_.enqueue(StationJob{this, task});
}

// Reads the job's two pointers before it can declare the hand-off, so those two reads are not
// watched; everything the station needs is reached through the declared hand-off.
#if defined(__SANITIZE_THREAD__)
__attribute__((no_sanitize_thread))
#endif
void StationJob::operator()() const {
  BASINFIT_TAKEN_OVER(task);
  scheduler->work(task);
}

void Scheduler::work(StationTask* task) {
  if (cancelled_.load()) {
    // The run has stopped at an earlier station: this one will never be written.
    std::lock_guard lock(mutex_);
    task->finished = true;
    --running_;
    changed_.notify_all();
    return;
  }
  std::unique_ptr<WorkerContext>& slot = workers_.local();
  WorkerContext& worker = *slot;
  worker.texts.clear();
  worker.basins.clear();
  StationHooks hooks;
  hooks.first_drop_done = [&] {
    StationTask* next = nullptr;
    {
      std::lock_guard lock(task->to->mutex);
      task->to->column = task->state.results.modulus[0];
      task->to->published = true;
      next = task->to->successor;
      if (next != nullptr) next->state.results.modulus[0] = task->to->column;
    }
    if (next != nullptr) release(next);
  };
  if (progress_ != nullptr) hooks.drop_done = [this] { progress_->drop_done(); };
  try {
    const bool seeds = task->chained && task->state.settings.seed_option == 0;
    process_station(task->state, worker.writer, *worker.computations, clock_, deflection_file_, seeds, hooks);
    if (analysis_ != nullptr) task->analysed = analysis_->analyse(task->state);
  } catch (...) {
    task->failure = std::current_exception();
  }
  task->texts = std::move(worker.texts);
  task->basins = std::move(worker.basins);
  // Notified under the lock: once the main thread sees the count reach zero it may end the run
  // and destroy this scheduler, so nothing of it may be touched after the lock is released.
  std::lock_guard lock(mutex_);
  task->finished = true;
  --running_;
  changed_.notify_all();
}

// Writes a finished station as the serial run would have: its progress lines with its basins
// between them, then (unless it failed) its report blocks.
void Scheduler::commit(StationTask& task) {
  std::size_t written = 0;
  auto lines_until = [&](std::size_t end) {
    messages_.replay(std::span<const std::string>(task.texts).subspan(written, end - written));
    written = end;
  };
  for (const RecordedBasin& basin : task.basins) {
    lines_until(basin.after_text);
    if (parallel_.observer)
      parallel_.observer(basin.station_id, basin.drop, basin.offsets, basin.measured, basin.calculated);
  }
  lines_until(task.texts.size());
  if (task.failure) std::rethrow_exception(task.failure);
  // A one-drop station shows the statistics of the last station that had them.
  if (task.state.station.drop_count > 1)
    shown_statistics_ = task.state.report.statistics;
  else
    task.state.report.statistics = shown_statistics_;
  task.state.stations_done = state_.stations_done;
  reports_.write_station(task.state);
  messages_.flush();
  if (analysis_ != nullptr) analysis_->record(task.state, std::move(task.analysed));
  ++state_.stations_done;
  if (progress_ != nullptr) progress_->station_done();
}

// Waits for every station still on a worker; those never started are dropped.
void Scheduler::drain() {
  cancelled_.store(true);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return running_ == 0; });
}

DriverEnd Scheduler::run(ListReader& deflections, int& stop_line) {
  deflection_file_ = deflections.file().name();
  // Enough stations ahead to keep every worker busy behind a chain of first drops, few enough
  // that memory does not grow with the survey.
  const std::size_t ahead = 4 * static_cast<std::size_t>(parallel_.jobs) + 4;
  std::deque<std::unique_ptr<StationTask>> flight;
  std::exception_ptr read_error;
  DriverEnd end = DriverEnd::kEndOfData;
  bool reading = true;

  auto read_more = [&] {
    while (reading && flight.size() < ahead) {
      auto task = std::make_unique<StationTask>();
      task->state = template_;
      StationRead read{};
      try {
        read = read_station(deflections, template_.settings, task->state.station);
        if (read == StationRead::kStation)
          check_station_values(template_.settings, task->state.station, deflection_file_);
      } catch (...) {
        read_error = std::current_exception();
        reading = false;
        break;
      }
      if (read == StationRead::kEndOfData) {
        reading = false;
      } else if (read == StationRead::kNoSeparator) {
        stop_line = task->state.station.header_line;
        end = DriverEnd::kHeaderStop;
        reading = false;
      } else {
        plan(*task);
        if (task->chained) {
          task->from = last_link_;
          task->waiting.store(2);
        }
        last_link_ = task->to;
        // A chained first station cannot happen: the first column is always known.
        flight.push_back(std::move(task));
        submit(flight.back().get());
      }
    }
  };

  try {
    while (true) {
      read_more();
      if (flight.empty()) break;
      StationTask& next = *flight.front();
      {
        std::unique_lock lock(mutex_);
        while (!next.finished) changed_.wait_for(lock, std::chrono::milliseconds(200));
      }
      commit(next);
      flight.pop_front();
    }
  } catch (...) {
    drain();
    throw;
  }
  drain();
  if (read_error) std::rethrow_exception(read_error);
  return end;
}

}  // namespace

DriverEnd run_parallel_stations(RunState& state, MessageWriter& messages, StationComputations& computations,
                                ReportWriter& reports, const Clock& clock, ListReader& deflections,
                                const ParallelRun& parallel, ProgressCounter* progress,
                                StationAnalysis* analysis, int& stop_line) {
  Scheduler scheduler(state, messages, computations, reports, clock, parallel, progress, analysis);
  return scheduler.run(deflections, stop_line);
}

}  // namespace basinfit
