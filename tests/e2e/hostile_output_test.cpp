// Files that fight back: outputs that cannot be written (a full device, a file-size limit
// reached mid-run, a folder, a chart file on a full device), names that reach one file by
// two paths or hold a NUL byte, and control files that are not files of their own.  Each
// case runs the executable in its own folder and checks the exit status, the one message on
// standard error, and what is left on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <tuple>

#include "engine_support.h"

namespace basinfit::e2e {
namespace {

const char* kGeneral =
    "Hostile output test\n"
    "2 1 5.91 3 0\n"
    "0 12 24\n"
    "0 0 1 0\n"
    "1 0 0.35 400 50 3000\n"
    "2 0 0.45 10 1 100\n"
    "10 1.0 1.0\n";
const std::string kOldReport = "an earlier report\n";
constexpr int kStations = 4;

std::string deflections() {
  std::string text = "Route\n";
  for (int s = 1; s <= kStations; ++s)
    text += "K" + std::to_string(s) + " 2 5 0 0 0 70 70\n9000 20.0 9.0 5.0\n12000 26.0 12.0 6.6\n";
  return text;
}

// The names a control file gives, in their order after the log unit.
struct Names {
  std::string standard = "standard.dat", general = "general.dat", deflections = "deflections.dat";
  std::string detail = "detail.txt", summary = "summary.txt", log = "run.log";
};

void prepare(const TempFolder& f, const Names& names) {
  write_file(f / "standard.dat", "1 68\n");
  write_file(f / "general.dat", kGeneral);
  write_file(f / "deflections.dat", deflections());
  write_file(f / "detail.txt", kOldReport);
  write_file(f / "summary.txt", kOldReport);
  write_file(f / "control.txt", "9\n" + names.standard + "\n" + names.general + "\n" + names.deflections +
                                    "\n" + names.detail + "\n" + names.summary + "\n" + names.log + "\n");
}

// Runs a shell command in the folder, with $B the executable.
EngineRun run_in(const TempFolder& f, const std::string& command) {
  return run_program("bash", {"-c", "B=\"$1\"; cd \"$2\" || exit 99; " + command, "bash", basinfit_path(),
                              f.path().string()});
}

// How many whole stations `text` holds, when it is `reference` cut just before a line that
// holds `marker` (a station's first line) or at its end; -1 when it is cut elsewhere.
int whole_stations(const std::string& text, const std::string& reference, const std::string& marker) {
  if (text.size() > reference.size() || reference.compare(0, text.size(), text) != 0) return -1;
  if (text.empty()) return 0;
  int stations = 0;
  for (std::size_t line = reference.find('\n') + 1; line < reference.size();
       line = reference.find('\n', line) + 1) {
    const std::size_t end = reference.find('\n', line);
    if (reference.substr(line, end - line).find(marker) == std::string::npos) continue;
    if (text.size() == line) return stations;
    ++stations;
  }
  return text.size() == reference.size() ? stations : -1;
}

constexpr int kOld = -1;  // the earlier report is left as it was

struct Case {
  const char* name;
  Names names;
  std::function<void(const TempFolder&)> setup;  // extra files, links, pipes
  std::string command;                           // default: "$B" control.txt
  int status;
  std::string message;  // the one line on standard error; empty: nothing written there
  bool control_stays;
  int detail_stations;  // whole stations in detail.txt, or kOld
  int summary_stations;
  std::function<void(const TempFolder&)> check = nullptr;  // what else is left on disk
};

TEST(HostileOutput, FailuresEndTheRunWithOneMessageAndLeaveWholeStations) {
  // The whole run, once, for reference.
  TempFolder ref("reference");
  prepare(ref, {});
  const EngineRun whole = run_in(ref, "\"$B\" control.txt");
  ASSERT_EQ(whole.exit_status, 0) << whole.err;
  const std::string detail = read_file(ref / "detail.txt");
  const std::string summary = read_file(ref / "summary.txt");
  ASSERT_EQ(whole_stations(detail, detail, "Station: "), kStations);
  ASSERT_EQ(whole_stations(summary, summary, "\tThickness"), kStations);
  // With a 4 KiB file-size limit the detail report keeps the stations that end within it.
  int fitting = 0;
  for (std::size_t at = detail.find("\nStation: ", detail.find("\nStation: ") + 1);
       at != std::string::npos && at + 1 <= 4096; at = detail.find("\nStation: ", at + 1))
    ++fitting;
  ASSERT_GE(fitting, 1);
  ASSERT_LT(fitting, kStations);

  const Names plain;
  auto with = [](auto change) {
    Names n;
    change(n);
    return n;
  };
  auto mkdir = [](const char* name) {
    return [name](const TempFolder& f) { std::filesystem::create_directories(f / name); };
  };
  const auto run_started = [](const TempFolder& f) { EXPECT_TRUE(std::filesystem::exists(f / "run.log")); };
  const std::string control_from_pipe =
      "mkfifo pipe && { cat control.txt > pipe & } && \"$B\" %s; s=$?; wait; exit $s";
  auto from_pipe = [&](const std::string& control) {
    std::string command = control_from_pipe;
    return command.replace(command.find("%s"), 2, control);
  };

  const std::vector<Case> cases = {
      // A full device as each output: the run stops at the first write that fails.
      {"detail on /dev/full", with([](Names& n) { n.detail = "/dev/full"; }), nullptr, "", 2,
       "/dev/full: cannot write the detail report: No space left on device", false, kOld, 0, run_started},
      {"summary on /dev/full", with([](Names& n) { n.summary = "/dev/full"; }), nullptr, "", 2,
       "/dev/full: cannot write the summary report: No space left on device", false, 0, kOld},
      {"log on /dev/full", with([](Names& n) { n.log = "/dev/full"; }), nullptr, "", 2,
       "/dev/full: cannot write the log file: No space left on device", false, 1, 1},
      // The disk fills mid-run: the station being written is taken back out, whole.
      {"file-size limit", plain, nullptr, "trap '' XFSZ; ulimit -f 4; exec \"$B\" control.txt", 2,
       "detail.txt: cannot write the detail report: File too large", false, fitting, fitting},
      // The same when the limit's signal is left to its default: the engine ignores it itself.
      {"file-size limit, signal not ignored", plain, nullptr,
       "trap - XFSZ; ulimit -f 4; exec \"$B\" control.txt", 2,
       "detail.txt: cannot write the detail report: File too large", false, fitting, fitting},
      // Two names for one file, through a link: refused before anything is changed or left.
      {"two paths to one new file", with([](Names& n) {
         n.detail = "real/out.txt";
         n.summary = "link/out.txt";
       }),
       [](const TempFolder& f) {
         std::filesystem::create_directories(f / "real");
         std::filesystem::create_directory_symlink("real", f / "link");
       },
       "", 1, "the summary report and the detail report name the same file (link/out.txt is real/out.txt)",
       true, kOld, kOld, [](const TempFolder& f) { EXPECT_TRUE(std::filesystem::is_empty(f / "real")); }},
      {"two paths to an old report", with([](Names& n) { n.summary = "here/detail.txt"; }),
       [](const TempFolder& f) { std::filesystem::create_directory_symlink(".", f / "here"); }, "", 1,
       "name the same file (here/detail.txt is detail.txt)", true, kOld, kOld},
      {"output through a link to an input", with([](Names& n) { n.log = "here/general.dat"; }),
       [](const TempFolder& f) { std::filesystem::create_directory_symlink(".", f / "here"); }, "", 1,
       "the log file would replace the general data file (here/general.dat is general.dat)", true, kOld, kOld,
       [](const TempFolder& f) { EXPECT_EQ(read_file(f / "general.dat"), kGeneral); }},
      // Names holding a NUL byte, shown with the NUL made visible.
      {"NUL in an output name", with([](Names& n) { n.detail = std::string("detail.out\0x", 12); }), nullptr,
       "", 1,
       "control.txt, line 5: the name of the detail report holds a NUL byte, which no file name can hold: "
       "\"detail.out\\0x\"",
       true, kOld, kOld,
       [](const TempFolder& f) { EXPECT_FALSE(std::filesystem::exists(f / "detail.out")); }},
      {"NUL in an input name", with([](Names& n) { n.general = std::string("general.dat\0x", 13); }), nullptr,
       "", 1,
       "line 3: the name of the general data file holds a NUL byte, which no file name can hold: "
       "\"general.dat\\0x\"",
       true, kOld, kOld},
      // Folders where files belong.
      {"folder as input", with([](Names& n) { n.general = "folder"; }), mkdir("folder"), "", 2,
       "folder: this is a folder, not a file", true, kOld, kOld},
      {"folder as log", with([](Names& n) { n.log = "folder"; }), mkdir("folder"), "", 2,
       "folder: cannot create the log file: Is a directory", true, kOld, kOld},
      // Control files that are not files of their own are read and left; a link to a regular
      // file is consumed (the link goes, the file stays).  The name of standard input, made as /dev/stdin is
      // made (a link to /proc/self/fd/0),
      // but in the test's folder: a fault would delete this link, not the system's.
      {"control from standard input", plain,
       [](const TempFolder& f) { std::filesystem::create_symlink("/proc/self/fd/0", f / "stdin"); },
       "\"$B\" stdin < control.txt", 0, "", true, kStations, kStations,
       [](const TempFolder& f) { EXPECT_TRUE(std::filesystem::is_symlink(f / "stdin")); }},
      {"control from a pipe", plain, nullptr, from_pipe("pipe"), 0, "", true, kStations, kStations,
       [](const TempFolder& f) { EXPECT_TRUE(std::filesystem::is_fifo(f / "pipe")); }},
      {"control through a link to a pipe", plain,
       [](const TempFolder& f) { std::filesystem::create_symlink("pipe", f / "link"); }, from_pipe("link"), 0,
       "", true, kStations, kStations,
       [](const TempFolder& f) { EXPECT_TRUE(std::filesystem::is_symlink(f / "link")); }},
      {"control through a link to a file", plain,
       [](const TempFolder& f) { std::filesystem::create_symlink("control.txt", f / "link"); }, "\"$B\" link",
       0, "", true, kStations, kStations,
       [](const TempFolder& f) { EXPECT_FALSE(std::filesystem::is_symlink(f / "link")); }},
      // Chart files go the same way.
      {"plot folder is a file", plain, nullptr, "\"$B\" --plot-dir standard.dat control.txt", 2,
       "standard.dat: cannot create the chart folder", false, 0, 0},
      {"chart file on /dev/full", plain,
       [](const TempFolder& f) {
         std::filesystem::create_directories(f / "charts");
         std::filesystem::create_symlink("/dev/full", f / "charts" / "K1-1.svg");
       },
       "\"$B\" --plot-dir charts control.txt", 2,
       "charts/K1-1.svg: cannot write the chart file: No space left on device", false, 0, 0,
       [](const TempFolder& f) { EXPECT_GT(std::filesystem::file_size(f / "charts" / "K1-1.png"), 100u); }},
      {"chart file named like the detail report", with([](Names& n) { n.detail = "charts/K1-1.png"; }),
       mkdir("charts"), "\"$B\" --plot-dir charts control.txt", 2,
       "charts/K1-1.png: the chart file would replace the detail report (charts/K1-1.png)", false, kOld, 0,
       [](const TempFolder& f) {
         EXPECT_EQ(read_file(f / "charts" / "K1-1.png").rfind("Backcalculation by Basinfit", 0), 0u);
       }},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder f("hostile");
    prepare(f, c.names);
    if (c.setup) c.setup(f);
    const EngineRun run = run_in(f, c.command.empty() ? "\"$B\" control.txt" : c.command);
    EXPECT_EQ(run.exit_status, c.status) << run.err;
    if (c.message.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
      EXPECT_EQ(run.err.rfind("basinfit: ", 0), 0u) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;  // one message
    }
    EXPECT_EQ(std::filesystem::exists(f / "control.txt"), c.control_stays);
    for (const auto& [file, reference, marker, expected] :
         {std::tuple{"detail.txt", &detail, "Station: ", c.detail_stations},
          std::tuple{"summary.txt", &summary, "\tThickness", c.summary_stations}}) {
      const std::string text = read_file(f / file);
      if (expected == kOld) {
        EXPECT_EQ(text, kOldReport) << file;
      } else {
        EXPECT_EQ(whole_stations(text, *reference, marker), expected) << file << ":\n" << text;
      }
    }
    if (c.check) c.check(f);
  }
}

}  // namespace
}  // namespace basinfit::e2e
