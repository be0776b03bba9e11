// Survey throughput through the basinfit executable: drops per second for a 48-station,
// 4-drop, three-layer metric survey, with seeds computed from each basin (seed option 0, the
// stations are independent) and with seeds carried from station to station (seed option 1,
// the first drops form a chain), for one worker and for every worker count up to the cores.
//
//   bench/survey_throughput --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <sched.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

constexpr int kStations = 48;
constexpr int kDropsPerStation = 4;

std::string read_all(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes the survey's input files into `dir`: the metric example's settings with the given seed
// option, and its twelve stations four times over under new names.
void write_survey(const std::filesystem::path& dir, int seed_option) {
  std::filesystem::create_directories(dir);
  const std::string examples = std::string(BASINFIT_SOURCE_DIR) + "/examples/metric/";
  std::filesystem::copy_file(examples + "standard.dat", dir / "standard.dat",
                             std::filesystem::copy_options::overwrite_existing);
  std::string general = read_all(examples + "general.dat");
  general =
      std::regex_replace(general, std::regex("\n1 1 0 0\n"), "\n1 1 " + std::to_string(seed_option) + " 0\n");
  std::ofstream(dir / "general.dat") << general;
  const std::string deflections = read_all(examples + "deflections.dat");
  const std::size_t body = deflections.find('\n') + 1;
  std::ofstream out(dir / "deflections.dat");
  out << deflections.substr(0, body);
  for (int copy = 0; copy < kStations / 12; ++copy)
    out << std::regex_replace(deflections.substr(body), std::regex("(^|\n)([0-9]+) 4 "),
                              "$1$2" + std::string(1, static_cast<char>('A' + copy)) + " 4 ");
}

void BM_Survey(benchmark::State& bench, int seed_option) {
  const int jobs = static_cast<int>(bench.range(0));
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("basinfit-throughput-" + std::to_string(seed_option));
  write_survey(dir, seed_option);
  const std::string binary = std::string(BASINFIT_SOURCE_DIR) + "/build/apps/basinfit";
  for (auto _ : bench) {
    std::ofstream control(dir / "control.txt");
    control << "9\n";
    for (const char* name :
         {"standard.dat", "general.dat", "deflections.dat", "detail.txt", "summary.txt", "run.log"})
      control << (dir / name).string() << "\n";
    control.close();
    const std::string command =
        binary + " --quiet --jobs " + std::to_string(jobs) + " " + (dir / "control.txt").string();
    if (std::system(command.c_str()) != 0) bench.SkipWithError("the engine failed");
  }
  bench.counters["drops_per_s"] = benchmark::Counter(static_cast<double>(kStations * kDropsPerStation),
                                                     benchmark::Counter::kIsIterationInvariantRate);
  std::filesystem::remove_all(dir);
}

int cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
}

void worker_counts(benchmark::internal::Benchmark* b) {
  b->Arg(1);
  for (int jobs = 2; jobs <= cores(); jobs *= 2) b->Arg(jobs);
  if ((cores() & (cores() - 1)) != 0) b->Arg(cores());
}

void BM_SeedsFromBasins(benchmark::State& bench) { BM_Survey(bench, 0); }
void BM_SeedsCarried(benchmark::State& bench) { BM_Survey(bench, 1); }
BENCHMARK(BM_SeedsFromBasins)
    ->Apply(worker_counts)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_SeedsCarried)->Apply(worker_counts)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
