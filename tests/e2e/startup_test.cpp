// Start-up of the basinfit executable: command line, control file, modes, failures.
#include <gtest/gtest.h>

#include "engine_support.h"

namespace basinfit::e2e {
namespace {

const char* kGeneral =
    "Start-up test\n"
    "2 1 5.91 3 0\n"
    "0 12 24\n"
    "0 0 1 0\n"
    "1 0 0.35 400 50 3000\n"
    "2 0 0.45 10 1 100\n"
    "10 1.0 1.0\n";
const char* kDeflections =
    "Route\n"
    "S1 1 5 0 0 0 70 70\n"
    "9000 20.0 9.0 5.0\n";

void write_inputs(const TempFolder& f, const std::string& general = kGeneral,
                  const std::string& deflections = kDeflections) {
  write_file(f / "standard.dat", "1 68\n");
  write_file(f / "general.dat", general);
  write_file(f / "deflections.dat", deflections);
}

TEST(Startup, NoArgumentGivesUsageAndStatusTwo) {
  const EngineRun run = run_program(basinfit_path(), {});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find("CONTROL_FILE"), std::string::npos) << run.err;
}

TEST(Startup, HelpAndVersion) {
  const EngineRun help = run_program(basinfit_path(), {"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("--plot-dir"), std::string::npos);
  const EngineRun version = run_program(basinfit_path(), {"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out.rfind("basinfit ", 0), 0u) << version.out;
}

TEST(Startup, BatchRunDeletesTheControlFileAndWritesEverything) {
  TempFolder f("batch");
  write_inputs(f);
  write_file(f / "detail.txt", std::string(100000, 'x'));  // an old, longer report is replaced
  const auto control = write_control(f);
  const EngineRun run = run_program(basinfit_path(), {control.string()});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;  // batch mode writes nothing to the terminal
  EXPECT_FALSE(std::filesystem::exists(control));
  const std::string detail = read_file(f / "detail.txt");
  EXPECT_EQ(detail.find('x'), std::string::npos);
  EXPECT_NE(detail.find("Station: S1"), std::string::npos);
  EXPECT_FALSE(read_file(f / "summary.txt").empty());
  const std::string log = read_file(f / "run.log");
  EXPECT_EQ(log.rfind("  Starting Drop No  1 of  1 drops at Station S1         at ", 0), 0u) << log;
  EXPECT_NE(log.find("\n      Final Moduli:   "), std::string::npos);
}

TEST(Startup, WindowedRunWritesProgressToTheTerminal) {
  TempFolder f("windowed");
  write_inputs(f);
  write_file(f / "control.txt", "0\n" + (f / "standard.dat").string() + "\n" + (f / "general.dat").string() +
                                    "\n" + (f / "deflections.dat").string() + "\n" +
                                    (f / "detail.txt").string() + "\n" + (f / "summary.txt").string() +
                                    "\nthis seventh record is ignored\n");
  // No display: the window cannot open, the run goes on.
  const EngineRun run = run_program(basinfit_path(), {(f / "control.txt").string()}, "env -u DISPLAY");
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("           Starting Drop No  1 of  1 drops at Station S1", 0), 0u) << run.out;
  EXPECT_NE(run.err.find("graphics window cannot be opened"), std::string::npos) << run.err;
  EXPECT_NE(read_file(f / "detail.txt").find("Station: S1"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(f / "this seventh record is ignored"));
}

TEST(Startup, LogUnitsThatClashOrAreNegativeAreRefusedBeforeAnyOutput) {
  for (int unit : {1, 2, 4, 7, 8, 11, 12, -3}) {
    TempFolder f("unit");
    write_inputs(f);
    const auto control = write_control(f, unit);
    const EngineRun run = run_program(basinfit_path(), {control.string()});
    EXPECT_EQ(run.exit_status, 1) << unit;
    EXPECT_NE(run.err.find("log unit is " + std::to_string(unit)), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(f / "detail.txt")) << unit;
    EXPECT_TRUE(std::filesystem::exists(control)) << unit;  // never reached its deletion
  }
}

TEST(Startup, MissingFilesAreNamed) {
  const EngineRun none = run_program(basinfit_path(), {"/nonexistent/control.txt"});
  EXPECT_EQ(none.exit_status, 2);
  EXPECT_NE(none.err.find("/nonexistent/control.txt"), std::string::npos);

  TempFolder f("missing");
  write_inputs(f);
  std::filesystem::remove(f / "general.dat");
  const auto control = write_control(f);
  const EngineRun run = run_program(basinfit_path(), {control.string()});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find((f / "general.dat").string()), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(f / "detail.txt"));

  TempFolder g("short");
  write_inputs(g);
  write_file(g / "control.txt", "9\n" + (g / "standard.dat").string() + "\n");
  const EngineRun short_run = run_program(basinfit_path(), {(g / "control.txt").string()});
  EXPECT_EQ(short_run.exit_status, 1);
  EXPECT_NE(short_run.err.find("line 3: the file ends before the name of the general data file"),
            std::string::npos)
      << short_run.err;
}

TEST(Startup, OutputsThatWouldReplaceAnInputOrEachOtherAreRefused) {
  TempFolder f("clash");
  write_inputs(f);
  const std::string data = read_file(f / "deflections.dat");
  auto control_with = [&](const std::string& detail, const std::string& summary, const std::string& log) {
    write_file(f / "control.txt", "9\n" + (f / "standard.dat").string() + "\n" +
                                      (f / "general.dat").string() + "\n" + (f / "deflections.dat").string() +
                                      "\n" + detail + "\n" + summary + "\n" + log + "\n");
    return run_program(basinfit_path(), {(f / "control.txt").string()});
  };
  // The detail report named like the deflection data (through another path to it).
  const std::string other_path = (f.path() / "." / "deflections.dat").string();
  EngineRun run = control_with(other_path, (f / "summary.txt").string(), (f / "run.log").string());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.err.find("the detail report would replace the deflection data file"), std::string::npos)
      << run.err;
  EXPECT_EQ(read_file(f / "deflections.dat"), data);
  EXPECT_TRUE(std::filesystem::exists(f / "control.txt"));
  // The log and the summary in one file.
  run = control_with((f / "detail.txt").string(), (f / "same.txt").string(), (f / "same.txt").string());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.err.find("the log file and the summary report name the same file"), std::string::npos)
      << run.err;
  EXPECT_FALSE(std::filesystem::exists(f / "detail.txt"));
}

TEST(Startup, WordedInputErrorsGoToTheLogAndLeaveEmptyReports) {
  TempFolder f("worded");
  write_inputs(f);
  write_file(f / "standard.dat", "2 68\n");
  const auto control = write_control(f);
  const EngineRun run = run_program(basinfit_path(), {control.string()});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(read_file(f / "run.log"), " Error Standard Value File\n");
  EXPECT_EQ(read_file(f / "detail.txt"), "");
  EXPECT_EQ(read_file(f / "summary.txt"), "");
  EXPECT_NE(run.err.find("check value is 2"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(control));
}

TEST(Startup, MalformedDeflectionDataKeepsFinishedStations) {
  TempFolder f("malformed");
  write_inputs(f, kGeneral, std::string(kDeflections) + "S2 1 5 0 0 0 70 70\n9000 20.0 nine 5.0\n");
  const auto control = write_control(f);
  const EngineRun run = run_program(basinfit_path(), {control.string()});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(
      run.err.find("deflections.dat, line 5: expected a number for a measured deflection, found 'nine'"),
      std::string::npos)
      << run.err;
  const std::string detail = read_file(f / "detail.txt");
  EXPECT_NE(detail.find("Station: S1"), std::string::npos);
  EXPECT_EQ(detail.find("Station: S2"), std::string::npos);
  EXPECT_EQ(detail.back(), '\n');
  const std::string summary = read_file(f / "summary.txt");
  EXPECT_NE(summary.find("S1        \t  9000.0\t"), std::string::npos) << summary;
  EXPECT_EQ(summary.back(), '\n');
}

TEST(Startup, HeaderWithoutSeparatorStopsWithAWarning) {
  TempFolder f("nosep");
  write_inputs(f, kGeneral, std::string(kDeflections) + std::string(90, 'Z') + "\n");
  const auto control = write_control(f);
  const EngineRun run = run_program(basinfit_path(), {control.string()});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_NE(run.err.find("deflections.dat, line 4: warning"), std::string::npos) << run.err;
}

TEST(Startup, WindowedRunShowsTheBasinInAGraphicsOutputWindowUntilClosed) {
  TempFolder f("xwindow");
  write_inputs(f, kGeneral, "Route\nW1 2 5 0 0 0 70 70\n9000 20.0 9.0 5.0\n12000 26.0 12.0 6.6\n");
  const auto control = write_control(f, 0);
  const std::string script = std::string(BASINFIT_SOURCE_DIR) + "/tests/e2e/windowed_run.sh";
  const EngineRun run = run_program("bash", {script, basinfit_path(), control.string(), f.path().string()});
  if (run.exit_status == 77) GTEST_SKIP() << "Xvfb, xdotool or ImageMagick is not installed";
  ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_EQ(run.out.find("window=none"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("title=Graphics Output\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("size=640x480\n"), std::string::npos) << run.out;
  // A drawn chart has many colours; the strip below it keeps the blue background.
  const auto colours = run.out.find("colours=");
  ASSERT_NE(colours, std::string::npos) << run.out;
  EXPECT_GT(std::stoi(run.out.substr(colours + 8)), 4) << run.out;
  EXPECT_NE(run.out.find("corner=srgb(0,0,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("engine_status=0"), std::string::npos) << run.out << read_file(f / "engine.err");
  EXPECT_NE(read_file(f / "engine.out").find("           Finished Drop No  2 of  2 drops at Station W1"),
            std::string::npos);
  EXPECT_NE(read_file(f / "detail.txt").find("Station: W1"), std::string::npos);
}

TEST(Startup, ALostXConnectionNeitherEndsNorHangsTheRun) {
  TempFolder f("xkill");
  write_inputs(f, kGeneral, "Route\nW1 2 5 0 0 0 70 70\n9000 20.0 9.0 5.0\n12000 26.0 12.0 6.6\n");
  const auto control = write_control(f, 0);
  const std::string script = std::string(BASINFIT_SOURCE_DIR) + "/tests/e2e/windowed_run.sh";
  const EngineRun run =
      run_program("bash", {script, basinfit_path(), control.string(), f.path().string(), "kill"});
  if (run.exit_status == 77) GTEST_SKIP() << "Xvfb, xdotool or ImageMagick is not installed";
  ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("engine_status=0"), std::string::npos) << run.out << read_file(f / "engine.err");
  EXPECT_NE(read_file(f / "summary.txt").find("W1        \tNorm."), std::string::npos);
}

TEST(Startup, PlotDirectoryReceivesEveryDropsChart) {
  TempFolder f("plots");
  write_inputs(f, kGeneral, "Route\nA/B 2 5 0 0 0 70 70\n9000 20.0 9.0 5.0\n12000 26.0 12.0 6.6\n");
  const auto control = write_control(f);
  const EngineRun run =
      run_program(basinfit_path(), {"--plot-dir", (f / "charts").string(), control.string()});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  for (const char* name : {"A_B-1.png", "A_B-1.svg", "A_B-2.png", "A_B-2.svg"})
    EXPECT_GT(std::filesystem::file_size(f / "charts" / name), 100u) << name;
}

}  // namespace
}  // namespace basinfit::e2e
