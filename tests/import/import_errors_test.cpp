// Bad input to basinfit-import: every case ends with exit status 1, one message naming the
// file, the line (or section and key) and what was expected, and no run folder written.
#include <gtest/gtest.h>

#include "engine_support.h"
#include "import_support.h"

namespace basinfit::import_test {
namespace {

using e2e::read_file;
using e2e::run_program;
using e2e::TempFolder;
using e2e::write_file;

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << "the test's mutation does not apply: " << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The 1-based line of the first occurrence of `text`.
int line_of(const std::string& file, const std::string& text) {
  const auto at = file.find(text);
  return 1 + static_cast<int>(std::count(file.begin(), file.begin() + static_cast<long>(at), '\n'));
}

struct Case {
  std::string name;
  std::string file;  // name of the mutated input in the folder
  std::string text;  // its content
  std::vector<std::string> options;
  std::string message;  // expected part of the message
  int line;             // expected line (0: none)
};

TEST(ImportErrors, EachReaderNamesTheRecordAndWritesNothing) {
  const std::string pddx = read_file(kData / "pddx_metric.pddx");
  const std::string csv =
      "station,drop,load,D0,D200,D300,surface temp,air temp\n"
      "1000,1,40000,415,356,318,18,24\n"
      "1000,2,53000,561,478,431,18,24\n"
      "1050,1,40000,414,355,318,18.5,24.3\n"
      "1000,1,40000,420,350,310,19,24\n";
  const std::string ltpp_drops = read_file(kData / "ltpp" / "MON_DEFL_DROP_DATA.csv");
  std::string many = pddx;
  {
    std::string extra = "NumberOfDrops = 17\n";
    for (int k = 1; k <= 17; ++k)
      extra += "DropData" + std::to_string(k) + " = 40.1,312.4,254.8,221.3,178.6,142.7,93.5,64.2,46.8,35.1\n";
    many = replaced(many,
                    "NumberOfDrops = 3\nDropData1 = 40.1,312.4,254.8,221.3,178.6,142.7,93.5,64.2,46.8,35.1\n"
                    "DropData2 = 50.3,392.0,319.7,277.5,224.0,179.0,117.3,80.5,58.7,44.0\n"
                    "DropData3 = 59.8,465.8,379.9,329.9,266.3,212.8,139.4,95.7,69.8,52.3\n",
                    extra);
  }
  const std::string truncated = pddx.substr(0, pddx.find("DropData2 = 50.1,333.0") + 22);
  const std::string short_file = pddx.substr(0, pddx.find("[Test Location 2]"));
  const std::string bad_number = replaced(pddx, "392.0,319.7", "39x.0,319.7");
  const std::string dup = replaced(pddx, "TestLocation = 1.300,0,0", "TestLocation = 1.250,0,0");
  const std::string hot =
      replaced(pddx, "TestTemperatures = 21.4,27.9,24.5", "TestTemperatures = 21.4,95,24.5");
  const std::string big = replaced(pddx, "DropData2 = 50.3,392.0", "DropData2 = 50.3,392000.0");
  const std::string inf = replaced(pddx, "DropData3 = 59.8,465.8", "DropData3 = inf,465.8");
  const std::string no_units = replaced(pddx, "[Units]\n", "");
  const std::string no_drops_key = replaced(pddx, "NumberOfDrops = 3\nDropData1 = 40.4", "DropData1 = 40.4");
  const std::string ltpp_bad = replaced(ltpp_drops, "563,260.6,208.9,180.0", "563,260.6,208.9,abc");
  const std::string ltpp_two =
      ltpp_drops +
      "98,0999,1,6/14/2016,10:18,FWD9,F1,7.6,1,1,376,172.3,138.1,119.0,97.3,77.6,52.6,36.8,27.0,117.7,,E\n";
  const std::string ltpp_orphan =
      ltpp_drops +
      "99,0999,1,6/14/2016,10:21,FWD9,F1,15.2,1,1,376,172.3,138.1,119.0,97.3,77.6,52.6,36.8,27.0,117.7,,E\n";
  const std::string ltpp_no_column = replaced(ltpp_drops, "POINT_LOC,DROP_NO,", "POINT_LOC,");

  const std::vector<Case> cases = {
      {"pddx truncated in a drop",
       "s.pdx",
       truncated,
       {},
       "DropData2: 2 values, expected the load and 9 deflections",
       line_of(truncated, "DropData2 = 50.1,333.0")},
      {"pddx truncated between points", "s.pdx", short_file, {}, "NumberOfTestLocations is 2", 0},
      {"pddx missing section", "s.pdx", no_units, {}, "no [Units] section", 0},
      {"pddx missing key",
       "s.pdx",
       no_drops_key,
       {},
       "[Test Location 2] has no NumberOfDrops key",
       line_of(no_drops_key, "[Test Location 2]")},
      {"pddx bad number",
       "s.pdx",
       bad_number,
       {},
       "expected a deflection, found '39x.0'",
       line_of(bad_number, "39x.0")},
      {"pddx non-finite", "s.pdx", inf, {}, "expected the load, found 'inf'", line_of(inf, "= inf")},
      {"pddx duplicate identifiers",
       "s.pdx",
       dup,
       {},
       "identifier '1250', as does the test point at",
       line_of(dup, "[Test Location 2]")},
      {"pddx too many drops",
       "s.pdx",
       many,
       {},
       "has 17 drops, the engine takes at most 16",
       line_of(many, "[Test Location 1]")},
      {"pddx temperature beyond the engine's range",
       "s.pdx",
       hot,
       {},
       "surface temperature 95 C, expected -60 to 90",
       line_of(hot, "[Test Location 1]")},
      {"pddx deflection beyond the engine's range",
       "s.pdx",
       big,
       {},
       "deflection of sensor 1 is 392000 microns",
       line_of(big, "392000")},
      {"csv missing column",
       "s.csv",
       replaced(csv, "station,drop,load", "station,drop,weight"),
       {"--plate-radius", "150"},
       "no load column",
       1},
      {"csv bad number",
       "s.csv",
       replaced(csv, "561,478", "561,47q"),
       {"--plate-radius", "150"},
       "column D200: expected a deflection, found '47q'",
       3},
      {"csv unterminated quote",
       "s.csv",
       replaced(csv, "1050,1", "\"1050,1"),
       {"--plate-radius", "150"},
       "a quoted field is not closed",
       4},
      {"csv duplicate identifiers", "s.csv", csv, {"--plate-radius", "150"}, "as does the test point at", 5},
      {"csv missing plate radius", "s.csv", csv, {}, "--plate-radius", 0},
      {"ltpp bad number",
       "MON_DEFL_DROP_DATA.csv",
       ltpp_bad,
       {},
       "column PEAK_DEFL_3: expected a deflection (microns), found 'abc'",
       line_of(ltpp_bad, "abc")},
      {"ltpp several sections",
       "MON_DEFL_DROP_DATA.csv",
       ltpp_two,
       {},
       "several sections in the tables (99-0999, 98-0999)",
       0},
      {"ltpp drop without its point",
       "MON_DEFL_DROP_DATA.csv",
       ltpp_orphan,
       {},
       "no test point of",
       line_of(ltpp_orphan, "15.2")},
      {"ltpp missing column",
       "MON_DEFL_DROP_DATA.csv",
       ltpp_no_column,
       {},
       "no column DROP_NO in the header row",
       1},
      {"structure thickness count",
       "structure.csv",
       std::string(kStructure) + "thickness,1000,1100,15\n",
       {},
       "1 thicknesses, expected 2",
       6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder f("errors");
    write_file(f / "structure.csv", kStructure);
    std::string input;
    if (c.file.rfind("MON_DEFL", 0) == 0) {
      std::filesystem::create_directories(f / "tables");
      for (const auto& entry : std::filesystem::directory_iterator(kData / "ltpp"))
        std::filesystem::copy_file(entry.path(), f / "tables" / entry.path().filename());
      std::filesystem::permissions(f / "tables" / c.file, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
      write_file(f / "tables" / c.file, c.text);
      input = (f / "tables").string();
    } else if (c.file == "structure.csv") {
      write_file(f / "structure.csv", c.text);
      input = (kData / "pddx_metric.pddx").string();
    } else {
      write_file(f / c.file, c.text);
      input = (f / c.file).string();
    }
    std::vector<std::string> args = {input, "--structure", (f / "structure.csv").string(), "--out",
                                     (f / "run").string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = run_program(import_path(), args);
    EXPECT_EQ(run.exit_status, 1) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    if (c.line > 0) {
      EXPECT_NE(run.err.find(", line " + std::to_string(c.line) + ":"), std::string::npos) << run.err;
    }
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one message: " << run.err;
    EXPECT_FALSE(std::filesystem::exists(f / "run")) << "nothing may be written on an error";
  }
}

TEST(ImportErrors, FiltersAndChoicesResolveWhatWouldOtherwiseBeRefused) {
  TempFolder f("choices");
  write_file(f / "structure.csv", kStructure);
  // Two sections: --section picks one.  LTPP tables are copied and one row added.
  std::filesystem::create_directories(f / "tables");
  for (const auto& entry : std::filesystem::directory_iterator(kData / "ltpp"))
    std::filesystem::copy_file(entry.path(), f / "tables" / entry.path().filename());
  const auto drops = f / "tables" / "MON_DEFL_DROP_DATA.csv";
  std::filesystem::permissions(drops, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  write_file(drops,
             read_file(drops) + "98,0999,1,6/14/2016,10:18,FWD9,F1,7.6,1,1,376,1,1,1,1,1,1,1,1,1,,E\n");
  auto run =
      run_program(import_path(), {(f / "tables").string(), "--structure", (f / "structure.csv").string(),
                                  "--out", (f / "run").string(), "--section", "99-0999", "--skip-seating",
                                  "1", "--drop-heights", "2,4"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  // Per point: drop 1 seating, drop 3 filtered by height, drops 2 and 4 kept.
  EXPECT_NE(run.out.find("    2        2  1 seating; 1 filtered"), std::string::npos) << run.out;
  const std::string written = read_file(f / "run" / "deflections.dat");
  EXPECT_NE(written.find("\n0 2 "), std::string::npos) << written;
  EXPECT_NE(written.find("\n7.6 2 "), std::string::npos) << written;

  // The folder exists now: a second import is refused (exit 2) and changes nothing; --force replaces.
  const std::string before = read_file(f / "run" / "deflections.dat");
  run = run_program(import_path(), {(kData / "pddx_metric.pddx").string(), "--structure",
                                    (f / "structure.csv").string(), "--out", (f / "run").string()});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find("give --force"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(f / "run" / "deflections.dat"), before);
  run = run_program(import_path(),
                    {(kData / "pddx_metric.pddx").string(), "--structure", (f / "structure.csv").string(),
                     "--out", (f / "run").string(), "--force", "--quiet"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out.find("Station"), std::string::npos) << "--quiet leaves the station table out";
  EXPECT_NE(read_file(f / "run" / "deflections.dat"), before);
  for (const auto& entry : std::filesystem::directory_iterator(f / "run"))
    EXPECT_NE(entry.path().filename().string().front(), '.') << "a temporary file was left: " << entry.path();
}

}  // namespace
}  // namespace basinfit::import_test
