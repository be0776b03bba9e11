// Ordinary mistakes that used to pass in silence or fail with a misleading message: a unit
// option that does not fit the values (loads in kN read as newtons, deflections in mm read as
// microns, offsets in cm read as mm), decimal commas read with the decimal point, and a PDDX
// file with decimal commas whose version is written "2.0".  Each is refused with the likely
// unit and the option that sets it, or read as meant; --verbose lists what is not read.
#include <gtest/gtest.h>

#include <sstream>

#include "engine_support.h"
#include "import_support.h"

namespace basinfit::import_test {
namespace {

using e2e::read_file;
using e2e::run_program;
using e2e::TempFolder;
using e2e::write_file;

// The metric CSV survey of the error tests with its loads, deflections and offsets scaled.
std::string survey(const std::string& load, const std::string& d0, const std::string& d200,
                   const std::string& header = "station,drop,load,D0,D200,D300,surface temp,air temp") {
  return header + "\n1000,1," + load + "," + d0 + "," + d200 + ",318,18,24\n1050,1," + load + "," + d0 + "," +
         d200 + ",318,18.5,24.3\n";
}

// A PDDX file rewritten with ';' between list items and ',' as the decimal mark of its
// numbers (the points in text stay), PDDXVersionNumber written as `version`.
std::string with_decimal_commas(const std::string& pddx, const std::string& version) {
  std::istringstream in(pddx);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find(" = ");
    if (line.rfind("PDDXVersionNumber", 0) == 0) {
      line = "PDDXVersionNumber = " + version;
    } else if (line.rfind("DelimiterSymbol", 0) == 0) {
      line = "DelimiterSymbol = ;";
    } else if (line.rfind("DecimalSymbol", 0) == 0) {
      line = "DecimalSymbol = ,";
    } else if (eq != std::string::npos) {
      const bool number = line.find_first_not_of("0123456789.,-", eq + 3) == std::string::npos;
      for (std::size_t i = eq + 3; i < line.size(); ++i)
        line[i] = line[i] == ',' ? ';' : line[i] == '.' && number ? ',' : line[i];
    }
    out += line + "\n";
  }
  return out;
}

struct Case {
  std::string name;
  std::string file, text;
  std::vector<std::string> options;
  int status;
  std::string message;  // on standard error
};

TEST(ImportTraps, UnitsThatDoNotFitAreNamedAndDecimalMarksRecognised) {
  const std::string pddx = read_file(kData / "pddx_metric.pddx");
  const std::vector<Case> cases = {
      {"loads in kN read as newtons",
       "s.csv",
       survey("40.1", "415", "356"),
       {"--plate-radius", "150"},
       1,
       "s.csv: the survey's median load is 40.1 N, outside what a deflectometer gives (1000 to 300000 N); "
       "the values look like kN or kip: give --load-unit kN"},
      {"loads in kN declared",
       "s.csv",
       survey("40.1", "415", "356"),
       {"--plate-radius", "150", "--load-unit", "kN"},
       0,
       ""},
      {"deflections in mm read as microns",
       "s.csv",
       survey("40100", "0.415", "0.356"),
       {"--plate-radius", "150"},
       1,
       "the values look like mm: give --deflection-unit mm"},
      {"offsets and plate in cm read as mm",
       "s.csv",
       survey("40100", "415", "356", "station,drop,load,D0,D20,D30,surface temp,air temp"),
       {"--plate-radius", "15"},
       1,
       "plate radius is 15 mm, outside what a deflectometer gives (50 to 250 mm); "
       "the values look like cm: give --offset-unit cm"},
      {"decimal commas read with the decimal point",
       "s.csv",
       "station;drop;load;D0;D200;D300;surface temp;air temp\n1000;1;40100;415;356;318;18,5;24,3\n",
       {"--plate-radius", "150"},
       1,
       "s.csv, line 2: column surface temp: '18,5' is written with a decimal comma; give --decimal ,"},
      {"decimal commas declared",
       "s.csv",
       "station;drop;load;D0;D200;D300;surface temp;air temp\n1000;1;40100;415;356;318;18,5;24,3\n",
       {"--plate-radius", "150", "--decimal", ","},
       0,
       ""},
      {"a PDDX file with decimal commas and version 2.0",
       "s.pdx",
       with_decimal_commas(pddx, "2.0"),
       {},
       0,
       ""},
      {"a PDDX file with decimal commas and version 2,0",
       "s.pdx",
       with_decimal_commas(pddx, "2,0"),
       {},
       0,
       ""},
      {"a PDDX file with loads declared in N but written in kN",
       "s.pdx",
       [&] {
         std::string t = pddx;
         t.replace(t.find("LoadUnits = kilo-Newton"), 23, "LoadUnits = Newton");
         return t;
       }(),
       {},
       1,
       "the values look like kN or kip: the file's LoadUnits does not fit its values"},
  };
  // What the original file gives, for the cases read as meant.
  TempFolder reference("traps-reference");
  write_file(reference / "structure.csv", kStructure);
  ASSERT_EQ(run_program(import_path(),
                        {(kData / "pddx_metric.pddx").string(), "--structure",
                         (reference / "structure.csv").string(), "--out", (reference / "run").string()})
                .exit_status,
            0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder f("traps");
    write_file(f / "structure.csv", kStructure);
    write_file(f / c.file, c.text);
    std::vector<std::string> args = {(f / c.file).string(), "--structure", (f / "structure.csv").string(),
                                     "--out", (f / "run").string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = run_program(import_path(), args);
    EXPECT_EQ(run.exit_status, c.status) << run.err;
    if (c.status != 0) {
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
      EXPECT_FALSE(std::filesystem::exists(f / "run"));
    } else if (c.file == "s.pdx") {
      EXPECT_EQ(read_file(f / "run" / "deflections.dat"), read_file(reference / "run" / "deflections.dat"));
      EXPECT_EQ(read_file(f / "run" / "station-table.csv"),
                read_file(reference / "run" / "station-table.csv"));
    }
  }
}

TEST(ImportTraps, VerboseListsWhatIsNotReadAndOnlyThat) {
  TempFolder f("verbose");
  write_file(f / "structure.csv", kStructure);
  const auto run = run_program(
      import_path(), {(kData / "pddx_metric.pddx").string(), "--structure", (f / "structure.csv").string(),
                      "--out", (f / "run").string(), "--verbose", "--quiet"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  for (const char* skipped :
       {"LoadCellCalibrationFactor", "SensorReferenceCalibrationFactor", "SensorRelativeCalibrationFactor",
        "TestTime", "TestType", "OperatorName", "DeviceSerialNumber", "NominalTestSpacing"})
    EXPECT_NE(run.err.find(std::string("] ") + skipped + " not read"), std::string::npos)
        << skipped << run.err;
  // Kept now: the GPS positions, the comments and the lanes are in the station table.
  for (const char* kept : {"GPSLocation", "TestComment", "TestLane", "GPSUnits", "DropData"})
    EXPECT_EQ(run.err.find(kept), std::string::npos) << kept << run.err;
  // Every line names the file it speaks of.
  std::istringstream lines(run.err);
  for (std::string line; std::getline(lines, line);)
    EXPECT_NE(line.find("pddx_metric.pddx, line "), std::string::npos) << line;
}

}  // namespace
}  // namespace basinfit::import_test
