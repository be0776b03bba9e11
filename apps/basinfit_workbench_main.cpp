// basinfit-workbench: the workbench in the browser.  Serves one project folder (a network that
// basinfit-batch runs too) on 127.0.0.1 and prints the address with its key.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "basinfit_version.h"
#include "common/input_error.h"
#include "option_checks.h"
#include "run/station_scheduler.h"
#include "runner/interrupts.h"
#include "workbench/project.h"
#include "workbench/run_manager.h"
#include "workbench/security.h"
#include "workbench/server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace workbench = basinfit::workbench;

const char* const kDescription =
    "The workbench in the browser: takes FWD surveys from device files to backcalculated moduli in a\n"
    "local web page.  PROJECT_DIR (default: the current folder) is a network folder:\n"
    "manifest.csv, inputs/ (device and structure files) and out/ (the batch outputs and\n"
    "results.sqlite), so `basinfit-batch run PROJECT_DIR/manifest.csv --out PROJECT_DIR/out`\n"
    "reruns everything done in the browser.  The server listens on 127.0.0.1 only and prints\n"
    "its address with a key; every request must carry the session cookie that address sets.\n"
    "Exit status: 0 after Ctrl-C, 2 usage or file error.";

// The desktop's browser, when there is a desktop; its output is not ours to show.
void open_browser(const std::string& url) {
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ) == 0)
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription, "basinfit-workbench"};
  std::string project_dir = ".";
  workbench::ServerOptions options;
  bool no_browser = false;
  int jobs = basinfit::available_cores();
  long long upload_mb = 256, project_mb = 2048;
  app.add_option("PROJECT_DIR", project_dir, "The project folder (created when missing; default: here)");
  app.add_option("--port", options.port, "Port on 127.0.0.1 (default: a free port)")
      ->check(basinfit::cli::whole_number(1, 65535))
      ->type_name("P");
  app.add_flag("--no-browser", no_browser, "Print the address only; do not open a browser");
  app.add_option("--max-upload-mb", upload_mb,
                 "Largest file an upload may bring, in MiB (default and most: 256, what the importer reads)")
      ->check(basinfit::cli::whole_number(1, 256))
      ->type_name("N");
  app.add_option("--max-project-mb", project_mb,
                 "Most the uploaded files of the project may take together, in MiB (default 2048)")
      ->check(basinfit::cli::whole_number(1, 1 << 24))
      ->type_name("N");
  app.add_option("-j,--jobs", jobs, "Worker threads of a run (default: the processors this process may use)")
      ->check(basinfit::cli::whole_number(1, 1024))
      ->type_name("N");
  app.set_version_flag("--version", std::string("basinfit-workbench ") + BASINFIT_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return basinfit::cli::usage_error(app, e, "");
  }
  options.max_upload_bytes = static_cast<std::uintmax_t>(upload_mb) << 20;
  options.max_project_bytes = static_cast<std::uintmax_t>(project_mb) << 20;

  try {
    workbench::Project project(project_dir);
    workbench::RunManager runs(project, jobs);
    const std::string key = workbench::new_session_secret();
    workbench::Server server(project, runs, options, key, workbench::new_session_secret());
    const int port = server.bind();
    if (port <= 0) {
      std::cerr << "basinfit-workbench: cannot listen on 127.0.0.1"
                << (options.port ? ":" + std::to_string(options.port) : std::string()) << "\n";
      return 2;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/?key=" + key;
    std::cout << "basinfit-workbench: project " << project.root().string() << "\n" << url << std::endl;
    // Ctrl-C or a SIGTERM goes through the engine's interrupt handling: the handler only notes
    // the request; a thread of ours hears it, stops the run going on after its station and then
    // the server.
    basinfit::runner::stop_between_stations_on_interrupt();
    std::atomic<bool> served{false};
    std::thread stopper([&] {
      const basinfit::StopRequest& stop = basinfit::runner::stop_request();
      while (!served && !stop.requested()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (const auto signal = stop.signal_number()) runs.stop_for_signal(*signal);
      server.stop();
    });
    std::signal(SIGPIPE, SIG_IGN);
    // A file that reaches the process's file-size limit is a failed write of that run.
    std::signal(SIGXFSZ, SIG_IGN);
    if (!no_browser) open_browser(url);
    server.listen();
    served = true;
    stopper.join();
    std::cerr << "basinfit-workbench: stopped\n";
  } catch (const basinfit::InputError& e) {
    std::cerr << "basinfit-workbench: " << e.what() << "\n";
    return e.exit_status();
  } catch (const std::exception& e) {
    std::cerr << "basinfit-workbench: " << e.what() << "\n";
    return 2;
  }
  return 0;
}
