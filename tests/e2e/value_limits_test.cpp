// Values that cannot come from a pavement survey, through the executable: each is refused with
// the file, line and station named, the limits themselves are accepted, and no report or log
// ever shows Infinity or NaN.  A layer whose bounds cannot hold the solver's difference step is
// named once at start and its drops keep their Error (75).
#include <gtest/gtest.h>

#include "engine_support.h"

namespace basinfit::e2e {
namespace {

// Two layers, three sensors; the surface modulus is adjusted with temperature option 1, so
// both station temperatures are used.
const std::vector<std::string> kGeneral = {
    "Value limits",             // 1
    "2 0 15.0 3 0",             // 2
    "0 30 60",                  // 3
    "1 1 1 0",                  // 4
    "1 0 0.35 3000 500 20000",  // 5
    "2 0 0.45 60 10 500",       // 6
    "10 1.0 1.0",               // 7
};
const std::vector<std::string> kDeflections = {
    "Route",                // 1
    "S1 2 15 0 0 0 20 25",  // 2
    "40000 300 150 80",     // 3
    "50000 380 190 100",    // 4
    "S2 2 15 0 0 0 20 25",  // 5
    "40000 300 150 80",     // 6
    "50000 380 190 100",    // 7
};

struct Edit {
  const char* file;  // "general", "deflections" or "standard"
  int line;          // 1-based line to replace
  const char* text;
};

struct Case {
  const char* name;
  std::vector<Edit> edits;
  int status;
  std::vector<std::string> messages;  // parts of standard error
  bool first_station_written;
};

std::string joined(std::vector<std::string> lines, const std::vector<Edit>& edits, const char* file) {
  for (const Edit& e : edits)
    if (std::string(e.file) == file) lines[static_cast<std::size_t>(e.line - 1)] = e.text;
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

bool shows_non_finite(const std::string& text) {
  // The record formatter spells an infinity "Infinity" or "Inf" by field width.
  for (const char* word : {"Inf", "NaN"})
    if (text.find(word) != std::string::npos) return true;
  return false;
}

TEST(ValueLimits, ValuesBeyondPhysicalLimitsAreRefusedAndTheLimitsAccepted) {
  const std::vector<Case> cases = {
      {"hot station",
       {{"deflections", 5, "S2 2 15 0 0 0 1000 25"}},
       1,
       {"deflections.dat, line 5: station S2: temperature 1 is 1000 C, expected -60 to 90 C"},
       true},
      {"below absolute zero",
       {{"deflections", 5, "S2 2 15 0 0 0 20 -273"}},
       1,
       {"deflections.dat, line 5: station S2: temperature 2 is -273 C"},
       true},
      {"overflowing temperature",
       {{"deflections", 2, "S1 2 15 0 0 0 1e20 25"}},
       1,
       {"deflections.dat, line 2: station S1: temperature 1 is 1e+20 C"},
       false},
      {"English temperature above 194 F",
       {{"general", 2, "2 1 5.91 3 0"},
        {"general", 3, "0 12 24"},
        {"deflections", 5, "S2 2 6 0 0 0 65537 70"}},
       1,
       {"deflections.dat, line 5: station S2: temperature 1 is 65537 F, expected -76 to 194 F"},
       true},
      {"deflection of 1e38",
       {{"deflections", 7, "50000 380 1e38 100"}},
       1,
       {"deflections.dat, line 7: station S2, drop 2: the deflection of sensor 2 is 1e+38 microns, "
        "expected -100000 to 100000 microns"},
       true},
      {"deflection above 4000 mils",
       {{"general", 2, "2 1 5.91 3 0"}, {"general", 3, "0 12 24"}, {"deflections", 3, "9000 4000.5 5 3"}},
       1,
       {"deflections.dat, line 3: station S1, drop 1: the deflection of sensor 1 is 4000.5 mils"},
       false},
      {"load of 3e38",
       {{"deflections", 4, "3e38 380 190 100"}},
       1,
       {"deflections.dat, line 4: station S1, drop 2: the load is 3e+38 N, expected 0 to 1e+06 N"},
       false},
      {"offset of 10000 cm",
       {{"general", 3, "0 30 10000"}},
       1,
       {"general.dat, line 3: the offset of sensor 3 is 10000, expected 0 to 1000 cm"},
       false},
      {"offset beyond 400 in",
       {{"general", 2, "2 1 5.91 3 0"}, {"general", 3, "0 12 3.4e38"}},
       1,
       {"general.dat, line 3: the offset of sensor 3 is 3.4e+38, expected 0 to 400 in"},
       false},
      {"every weight 0",
       {{"general", 2, "2 0 15.0 3 2"}, {"general", 3, "0 30 60 0 0 0"}},
       1,
       {"general.dat, line 3: every sensor weight is 0"},
       false},
      {"modulus beyond 1e7",
       {{"general", 6, "2 1 0.45 3e38"}},
       1,
       {"general.dat, line 6: the modulus of layer 2 is 3e+38, expected 0.1 to 1e+07"},
       false},
      {"reference temperature of 1000 F",
       {{"standard", 1, "1 1000"}},
       1,
       {"standard.dat, line 1: the reference temperature is 1000 F, expected -76 to 194 F"},
       false},
      // The limits themselves are sound values.
      {"metric limits",
       {{"general", 3, "0 30 1000"},
        {"deflections", 2, "S1 2 15 0 0 0 90 90"},
        {"deflections", 4, "1e6 100000 190 -100000"},
        {"deflections", 5, "S2 2 15 0 0 0 -60 -60"}},
       0,
       {},
       true},
      {"English limits",
       {{"general", 2, "2 1 5.91 3 0"},
        {"general", 3, "0 12 400"},
        {"standard", 1, "1 -76"},
        {"deflections", 2, "S1 2 6 0 0 0 194 194"},
        {"deflections", 3, "225000 4000 5 -4000"},
        {"deflections", 5, "S2 2 6 0 0 0 -76 -76"}},
       0,
       {},
       true},
      {"unused temperatures are not checked",
       {{"general", 4, "0 1 1 0"}, {"deflections", 2, "S1 2 15 0 0 0 -999 -999"}},
       0,
       {},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder f("limits");
    write_file(f / "standard.dat", joined({"1 68"}, c.edits, "standard"));
    write_file(f / "general.dat", joined(kGeneral, c.edits, "general"));
    write_file(f / "deflections.dat", joined(kDeflections, c.edits, "deflections"));
    const EngineRun run = run_program(basinfit_path(), {write_control(f).string()});
    EXPECT_EQ(run.exit_status, c.status) << run.err;
    for (const std::string& part : c.messages) EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
    if (c.status == 0) {
      EXPECT_TRUE(run.err.empty()) << run.err;
    }
    const std::string detail = read_file(f / "detail.txt");
    const std::string summary = read_file(f / "summary.txt");
    const std::string log = read_file(f / "run.log");
    EXPECT_EQ(detail.find("Station: S1") != std::string::npos, c.first_station_written) << detail;
    // A station with a refused value is never started.
    if (c.status != 0) {
      EXPECT_EQ(log.find("drops at Station S2"), std::string::npos) << log;
    }
    EXPECT_FALSE(shows_non_finite(detail)) << detail;
    EXPECT_FALSE(shows_non_finite(summary)) << summary;
    EXPECT_FALSE(shows_non_finite(log)) << log;
  }
}

TEST(ValueLimits, BoundsNarrowerThanTheDifferenceStepAreNamedOnceAndKeepErrorSeventyFive) {
  struct Narrow {
    const char* layer1;
    bool warned;
    int failed_drops;
  };
  // The step is sqrt(eps) log10(3000) = 0.0012 in log10 of the modulus, a factor of 1.0028:
  // from the seed in the middle of the box it leaves the box in both directions while the
  // bounds differ by less than twice that.
  const Narrow cases[] = {
      {"1 0 0.35 3000 2999 3001", true, 4},
      {"1 0 0.35 3000 2992.5 3007.5", true, 4},
      {"1 0 0.35 3000 2985 3015", false, 0},
  };
  for (const Narrow& c : cases) {
    SCOPED_TRACE(c.layer1);
    TempFolder f("narrow");
    write_file(f / "standard.dat", "1 68\n");
    write_file(f / "general.dat", joined(kGeneral, {{"general", 5, c.layer1}}, "general"));
    write_file(f / "deflections.dat", joined(kDeflections, {}, "deflections"));
    const EngineRun run = run_program(basinfit_path(), {write_control(f).string()});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    const std::string warning = "general.dat, line 5: warning: layer 1 is backcalculated between ";
    const std::size_t at = run.err.find(warning);
    EXPECT_EQ(at != std::string::npos, c.warned) << run.err;
    if (c.warned) {
      EXPECT_EQ(run.err.find(warning, at + 1), std::string::npos) << "warned more than once: " << run.err;
      EXPECT_NE(run.err.find("widen its bounds"), std::string::npos) << run.err;
      EXPECT_NE(run.err.find("make the layer fixed"), std::string::npos) << run.err;
    }
    const std::string detail = read_file(f / "detail.txt");
    int failed = 0;
    for (std::size_t p = detail.find("Error (75)"); p != std::string::npos;
         p = detail.find("Error (75)", p + 1))
      ++failed;
    EXPECT_EQ(failed, c.failed_drops) << detail;
  }
}

}  // namespace
}  // namespace basinfit::e2e
