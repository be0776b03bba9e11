#include "engine_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace basinfit::e2e {

namespace {
// The word in single quotes for the shell, each embedded quote written as '\''.
std::string shell_word(const std::string& word) {
  std::string q(1, '\'');
  for (char c : word) {
    if (c == '\'') {
      q.push_back('\'');
      q.push_back('\\');
      q.push_back('\'');
    }
    q.push_back(c);
  }
  q.push_back('\'');
  return q;
}
}  // namespace

TempFolder::TempFolder(const std::string& name) {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("basinfit-e2e-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

EngineRun run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& environment) {
  static std::atomic<int> counter{0};
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() /
      ("basinfit-run-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::string out_file = base.string();
  out_file.append(".out");
  std::string err_file = base.string();
  err_file.append(".err");
  std::string command = environment;
  command.append(" ").append(shell_word(program));
  for (const std::string& a : args) command.append(" ").append(shell_word(a));
  command.append(" </dev/null >").append(shell_word(out_file)).append(" 2>").append(shell_word(err_file));
  const int raw = std::system(command.c_str());
  EngineRun run;
  run.exit_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = read_file(out_file);
  run.err = read_file(err_file);
  std::filesystem::remove(out_file);
  std::filesystem::remove(err_file);
  return run;
}

std::filesystem::path write_control(const TempFolder& folder, int log_unit) {
  const std::filesystem::path control = folder / "control.txt";
  std::string text = std::to_string(log_unit) + "\n";
  for (const char* name : {"standard.dat", "general.dat", "deflections.dat", "detail.txt", "summary.txt"})
    text += (folder / name).string() + "\n";
  if (log_unit != 0) text += (folder / "run.log").string() + "\n";
  write_file(control, text);
  return control;
}

std::vector<std::vector<std::string>> lines_starting_with(const std::string& text, const std::string& label) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(label, 0) != 0) continue;
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(fields);
  }
  return rows;
}

}  // namespace basinfit::e2e
