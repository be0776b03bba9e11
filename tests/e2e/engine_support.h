#pragma once
// Running the basinfit executable on input files written into a temporary folder.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace basinfit::e2e {

struct EngineRun {
  int exit_status = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A fresh folder per test, removed afterwards.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name);
  ~TempFolder();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& file) const { return path_ / file; }

 private:
  std::filesystem::path path_;
};

// Runs an executable of the build with the given arguments (each passed as one word) and
// optional environment assignments; standard input is empty.
EngineRun run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& environment = "");

inline std::string basinfit_path() { return std::string(BASINFIT_BINARY_DIR) + "/apps/basinfit"; }

// Writes a control file for a batch run with log unit 9 (or `log_unit`) naming the files of
// `folder`: standard.dat, general.dat, deflections.dat, detail.txt, summary.txt, run.log.
std::filesystem::path write_control(const TempFolder& folder, int log_unit = 9);

// The tab-separated fields of each line of `text` that begins with `label`.
std::vector<std::vector<std::string>> lines_starting_with(const std::string& text, const std::string& label);

}  // namespace basinfit::e2e
