// Survey throughput through the basinfit executable: drops per second for a 48-station,
// 4-drop, three-layer metric survey, with seeds computed from each basin (seed option 0, the
// stations are independent) and with seeds carried from station to station (seed option 1,
// the first drops form a chain), for one worker and for every worker count up to the cores.
//
// Pavements of two and four layers show how the cost grows with the layers.
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
#include <vector>

namespace {

constexpr int kStations = 48;
constexpr int kDropsPerStation = 4;

std::string read_all(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The metric example's layer records for a pavement of `layers` layers: two (asphalt on the
// subgrade), three (the example) or four (a subbase of 300 MPa, 20 cm, added above the subgrade).
std::string layer_records(int layers) {
  switch (layers) {
    case 2:
      return "1 0 0.35 3000 500 20000\n2 0 0.45 60 10 500\n";
    case 4:
      return "1 0 0.35 3000 500 20000\n2 0 0.35 300 50 3000\n3 0 0.35 150 30 1500\n4 0 0.45 60 10 500\n";
    default:
      return "1 0 0.35 3000 500 20000\n2 0 0.35 300 50 3000\n3 0 0.45 60 10 500\n";
  }
}

// Writes the survey's input files into `dir`: the metric example's settings with the given layer
// count and seed option, and its twelve stations four times over under new names.
void write_survey(const std::filesystem::path& dir, int layers, int seed_option) {
  std::filesystem::create_directories(dir);
  const std::string examples = std::string(BASINFIT_SOURCE_DIR) + "/examples/metric/";
  std::filesystem::copy_file(examples + "standard.dat", dir / "standard.dat",
                             std::filesystem::copy_options::overwrite_existing);
  std::ofstream(dir / "general.dat") << "Throughput survey, " << layers << " layers\n"
                                     << layers << " 0 15.0 9 0\n0 20 30 45 60 90 120 150 180\n1 1 "
                                     << seed_option << " 0\n"
                                     << layer_records(layers) << "30 0.5 0.5\n";
  const std::string deflections = read_all(examples + "deflections.dat");
  const std::size_t body = deflections.find('\n') + 1;
  std::ofstream out(dir / "deflections.dat");
  out << deflections.substr(0, body);
  for (int copy = 0; copy < kStations / 12; ++copy) {
    std::string block = std::regex_replace(deflections.substr(body), std::regex("(^|\n)([0-9]+) 4 "),
                                           "$1$2" + std::string(1, static_cast<char>('A' + copy)) + " 4 ");
    // The subbase of the four-layer pavement is 20 cm thick.
    if (layers == 4) block = std::regex_replace(block, std::regex("( 4 [0-9.]+ [0-9.]+) 0 "), "$1 20 ");
    out << block;
  }
}

// Arguments: layers, workers.
void BM_Survey(benchmark::State& bench, int seed_option) {
  const int layers = static_cast<int>(bench.range(0));
  const int jobs = static_cast<int>(bench.range(1));
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("basinfit-throughput-" + std::to_string(layers) + "-" + std::to_string(seed_option));
  write_survey(dir, layers, seed_option);
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

std::vector<std::int64_t> worker_counts() {
  std::vector<std::int64_t> counts = {1};
  for (int jobs = 2; jobs <= cores(); jobs *= 2) counts.push_back(jobs);
  if ((cores() & (cores() - 1)) != 0) counts.push_back(cores());
  return counts;
}

void BM_SeedsFromBasins(benchmark::State& bench) { BM_Survey(bench, 0); }
void BM_SeedsCarried(benchmark::State& bench) { BM_Survey(bench, 1); }
// Seeds from the basins (two and three layers: the seed equations go to three), and seeds
// carried from station to station (three and four layers).
BENCHMARK(BM_SeedsFromBasins)
    ->ArgsProduct({{2, 3}, worker_counts()})
    ->ArgNames({"layers", "jobs"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_SeedsCarried)
    ->ArgsProduct({{3, 4}, worker_counts()})
    ->ArgNames({"layers", "jobs"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
