// The importer against input and surroundings that fight back: run folders that cannot be
// replaced whole, links planted at the names it writes through, a file-size limit, endless
// input, values the engine's single precision cannot hold, terminal control bytes in quoted
// input, and messages that must name their file.  Each case runs the tools through a shell
// under a time limit (a hang fails the case instead of the suite) and checks the exit
// status, the one message, and what is left on disk.
#include <gtest/gtest.h>

#include <functional>

#include "engine_support.h"
#include "import_support.h"

namespace basinfit::import_test {
namespace {

using e2e::read_file;
using e2e::run_program;
using e2e::TempFolder;
using e2e::write_file;

namespace fs = std::filesystem;

// A generic CSV survey of `stations` points, two drops each, in the default metric units.
std::string csv_survey(int stations) {
  std::string text = "station,drop,load,D0,D200,D300,surface temp,air temp\n";
  for (int s = 0; s < stations; ++s) {
    const std::string id = std::to_string(1000 + 50 * s);
    text += id + ",1,40000,415,356,318,18,24\n" + id + ",2,53000,561,478,431,18,24\n";
  }
  return text;
}

std::string replace_thickness(std::string structure, const std::string& first) {
  structure.replace(structure.find("thickness,,,15"), 14, "thickness,,," + first);
  return structure;
}

const char* const kF25NoStations =
    "5001,\"F25\"\n5031,\"Road 7\"\n5020,150,0,200,300\n5301,2,1,4,2,     0,1,1,\"M\",2024,06,14\n";

struct Case {
  std::string name;
  std::function<void(const TempFolder&)> prepare;
  // Run by bash in the case's folder under a time limit: $I the importer, $B the engine,
  // $M the forward tool; the survey s.csv and structure.csv are there.
  std::string command;
  int status;
  std::string message;  // expected on standard error ("" for none)
  std::function<void(const TempFolder&)> check;
};

std::vector<std::string> run_files(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A bound on the importer's address space, so that endless input fails fast instead of filling the
// machine; the address sanitizer maps its shadow memory beyond any such bound, so it goes without.
#if defined(__SANITIZE_ADDRESS__)
const std::string kMemoryLimit;
#else
const std::string kMemoryLimit = "ulimit -v 4000000; ";
#endif

TEST(ImportHostile, EveryCaseEndsWithOneMessageAndAWholeFolderOrNone) {
  const std::string import = "timeout 60 \"$I\" s.csv --structure structure.csv --plate-radius 150 --out run";
  const std::string old_standard = "an earlier standard value file\n";
  const std::vector<Case> cases = {
      {"--force onto a folder whose general data file is a folder",
       [&](const TempFolder& f) {
         fs::create_directories(f / "run" / "general.dat");
         write_file(f / "run" / "standard.dat", old_standard);
       },
       import + " --force", 2, "run/general.dat: a folder stands where the general data file goes",
       [&](const TempFolder& f) {
         EXPECT_EQ(read_file(f / "run" / "standard.dat"), old_standard) << "replaced in part";
         EXPECT_EQ(run_files(f / "run"), (std::vector<std::string>{"general.dat", "standard.dat"}));
       }},
      {"a link planted at a temporary name",
       [](const TempFolder& f) {
         fs::create_directories(f / "run");
         write_file(f / "victim", "outside the run folder\n");
         for (const char* name :
              {"standard.dat", "general.dat", "deflections.dat", "control.txt", "station-table.csv"})
           fs::create_symlink("../victim", f / "run" / (std::string(".") + name + ".partial"));
       },
       import, 0, "",
       [](const TempFolder& f) {
         EXPECT_EQ(read_file(f / "victim"), "outside the run folder\n");
         EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(f / "run" / "deflections.dat")));
       }},
      {"the file-size limit, its signal left to its default",
       [](const TempFolder& f) { write_file(f / "s.csv", csv_survey(200)); },
       "trap - XFSZ; ulimit -f 4; " + import, 2, "run/deflections.dat: cannot write the deflection data file",
       [](const TempFolder& f) { EXPECT_FALSE(fs::exists(f / "run")) << "what was created stays"; }},
      {"the file-size limit into an existing folder",
       [](const TempFolder& f) {
         write_file(f / "s.csv", csv_survey(200));
         fs::create_directories(f / "run");
         write_file(f / "run" / "notes.txt", "mine\n");
       },
       "trap - XFSZ; ulimit -f 4; " + import, 2, "File too large",
       [](const TempFolder& f) { EXPECT_EQ(run_files(f / "run"), std::vector<std::string>{"notes.txt"}); }},
      {"/dev/zero as the survey", nullptr,
       kMemoryLimit + "timeout 60 \"$I\" /dev/zero --format csv --structure structure.csv "
                      "--plate-radius 150 --out run",
       1, "/dev/zero, line 1: no line end within the first 1048576 bytes",
       [](const TempFolder& f) { EXPECT_FALSE(fs::exists(f / "run")); }},
      {"/dev/zero as the structure file", nullptr,
       kMemoryLimit + "timeout 60 \"$I\" s.csv --structure /dev/zero --plate-radius 150 --out run", 1,
       "/dev/zero, line 1: no line end within the first 1048576 bytes",
       [](const TempFolder& f) { EXPECT_FALSE(fs::exists(f / "run")); }},
      {"a plate radius below single precision", nullptr,
       "timeout 60 \"$I\" s.csv --structure structure.csv --plate-radius 1e-300 --out run", 1,
       "plate radius 1e-301 cm, expected above 0",
       [](const TempFolder& f) { EXPECT_FALSE(fs::exists(f / "run")); }},
      {"an RMS tolerance beyond single precision", nullptr, import + " --rms-tolerance 1e300", 1,
       "--rms-tolerance: 1e+300, expected a number above 0 that single precision holds",
       [](const TempFolder& f) { EXPECT_FALSE(fs::exists(f / "run")); }},
      {"a thickness below single precision",
       [](const TempFolder& f) { write_file(f / "structure.csv", replace_thickness(kStructure, "1e-300")); },
       import, 1, "structure.csv, line 5: thickness record: layer 1 thickness 1e-300 cm",
       [](const TempFolder& f) { EXPECT_FALSE(fs::exists(f / "run")); }},
      {"an escape sequence in a survey value",
       [](const TempFolder& f) {
         std::string text = csv_survey(2);
         text.replace(text.find("356"), 3, "3\x1b[2J\x1b]0;owned\x07");
         write_file(f / "s.csv", text);
       },
       import, 1, "found '3\\x1b[2J\\x1b]0;owned\\x07'", nullptr},
      {"an escape sequence in a general data file of the engine",
       [](const TempFolder& f) {
         write_file(f / "standard.dat", "1 68\n");
         write_file(f / "general.dat", "t\n1 1 5.9\x1b[2J 1 0\n0\n0 0 1 0\n1 0 0.35 400 50 3000\n10 1 1\n");
         write_file(f / "deflections.dat", "r\nK1 1 5 0 0 0 70 70\n9000 20\n");
         write_file(f / "control.txt",
                    "9\nstandard.dat\ngeneral.dat\ndeflections.dat\nd.txt\ns.txt\nrun.log\n");
       },
       "timeout 60 \"$B\" --quiet control.txt", 1, "5.9\\x1b[2J", nullptr},
      {"an escape sequence in a station identifier, shown in the text window",
       [](const TempFolder& f) {
         write_file(f / "standard.dat", "1 68\n");
         write_file(f / "general.dat", "t\n1 1 5.9 1 0\n0\n0 0 1 0\n1 0 0.35 400 50 3000\n10 1 1\n");
         write_file(f / "deflections.dat", "r\nK\x1b[2J1 1 5 0 0 0 70 70\n9000 20\n");
         write_file(f / "control.txt", "0\nstandard.dat\ngeneral.dat\ndeflections.dat\nd.txt\ns.txt\n");
       },
       "env -u DISPLAY timeout 60 \"$B\" control.txt > window.txt", 0, "the graphics window cannot be opened",
       [](const TempFolder& f) {
         const std::string window = read_file(f / "window.txt");
         EXPECT_EQ(window.find('\x1b'), std::string::npos) << window;
         EXPECT_NE(window.find("K\\x1b[2J1"), std::string::npos) << window;
         EXPECT_NE(read_file(f / "d.txt").find("K\x1b[2J1"), std::string::npos);  // files keep their bytes
       }},
      {"an escape sequence in the forward tool's input",
       [](const TempFolder& f) { write_file(f / "model.txt", "1\n30\x1b[2J\n0.35\n15 700\n1\n0 0 1\n"); },
       "timeout 60 \"$M\" model.txt", 1, "30\\x1b[2J", nullptr},
      {"an F25 file without test points",
       [](const TempFolder& f) { write_file(f / "s.F25", kF25NoStations); },
       "timeout 60 \"$I\" s.F25 --structure structure.csv --out run", 1,
       "s.F25: the survey holds no test points", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder f("hostile");
    write_file(f / "structure.csv", kStructure);
    write_file(f / "s.csv", csv_survey(2));
    if (c.prepare) c.prepare(f);
    const auto run =
        run_program("bash", {"-c", "I=\"$1\"; B=\"$2\"; M=\"$3\"; cd \"$4\" || exit 99; " + c.command, "bash",
                             import_path(), e2e::basinfit_path(),
                             std::string(BASINFIT_BINARY_DIR) + "/apps/basinfit-model", f.path().string()});
    EXPECT_EQ(run.exit_status, c.status) << run.err;
    if (!c.message.empty()) {
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one message: " << run.err;
    }
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << "a raw escape reached the terminal";
    if (fs::exists(f / "run"))
      for (const std::string& name : run_files(f / "run"))
        if (!fs::is_symlink(f / "run" / name)) {
          EXPECT_NE(name.front(), '.') << "a temporary file was left: " << name;
        }
    if (c.check) c.check(f);
  }
}

}  // namespace
}  // namespace basinfit::import_test
