// basinfit-import: turns FWD survey files (PDDX, LTPP deflection tables, generic CSV, Dynatest
// F25) and a pavement structure file into a ready run folder for the engine.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "basinfit_version.h"
#include "common/file_names.h"
#include "common/input_error.h"
#include "import/readers.h"
#include "import/run_folder.h"
#include "import/structure.h"
#include "import/survey_files.h"
#include "import/text_values.h"
#include "option_checks.h"
#include "options/command_line.h"

namespace {

namespace imp = basinfit::import;

const char* const kDescription =
    "Turns FWD survey files and a pavement structure file into a run folder for basinfit:\n"
    "a standard value file, a general data file, a deflection data file, a control file\n"
    "naming them (reports and log go beside them) and station-table.csv (each test point's\n"
    "chainage, lane, GPS position and comment), then prints the command that runs it.\n"
    "\n"
    "Formats, detected from the content (or forced with --format):\n"
    "  pddx  AASHTO PDDX 1.0 and 2.0 (units, device configuration, test locations, drops)\n"
    "  ltpp  LTPP MON_DEFL_DROP_DATA, _LOC_INFO, _DEV_CONFIG and _DEV_SENSORS tables as CSV\n"
    "        (give the files or their folder)\n"
    "  csv   one row per drop under a header row (station or chainage, drop, load, d1..dN or\n"
    "        D0, D200, ... with the offsets in the names, temperatures)\n"
    "  f25   Dynatest F25, only records 5031 (title), 5020 (plate radius, sensor positions),\n"
    "        5280 (GPS), 5301 (station, lane), 5302 (comment), 5303 (temperatures) and the\n"
    "        drop lines; all others are skipped.  Units assumed: mm, kPa, microns, station in m.\n"
    "Sensors behind the plate are left out; more than 10 sensors: the 10 nearest the plate\n"
    "unless --sensors chooses.  Loads, deflections, plate radius and offsets must be plausible\n"
    "for a deflectometer (median load 1 to 300 kN, median deflection nearest the plate 20 to\n"
    "5000 microns, plate radius 50 to 250 mm, farthest sensor 200 to 3000 mm); otherwise the\n"
    "unit is taken to be wrong and the likely one named.  Files are read up to 256 MiB, lines\n"
    "up to 1 MiB.  Exit status: 0 success, 1 input error, 2 usage or file error.";

// The word as a shell reads it back; control characters are written as $'\xHH' so that the
// printed command never carries them raw to the terminal.
std::string shell_word(const std::string& word) {
  if (word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./+=") ==
      std::string::npos)
    return word;
  if (basinfit::visible_name(word) != word) {
    std::string q = "$'";
    for (char c : word)
      q += c == '\'' || c == '\\' ? std::string("\\") + c : basinfit::visible_name(std::string_view(&c, 1));
    return q + "'";
  }
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Each line with every byte visible, the line ends kept.
std::string visible_lines(const std::string& text) {
  std::string shown;
  for (const std::string& line : imp::split_lines(text)) shown += basinfit::visible_name(line) + "\n";
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription, "basinfit-import"};
  std::vector<std::string> inputs;
  std::string structure_file, out_dir;
  bool force = false, quiet = false, verbose = false;
  app.add_option("INPUT", inputs, "Survey file(s); for LTPP the table files or their folder")->required();
  app.add_option("--structure", structure_file, "Pavement structure file (CSV: layers, thicknesses, points)")
      ->required()
      ->type_name("FILE");
  app.add_option("--out", out_dir, "Run folder to write (created if missing)")->required()->type_name("DIR");
  app.add_flag("--force", force, "Replace the files of an existing run folder");
  app.add_flag("-q,--quiet", quiet, "No station table on standard output");
  app.add_flag("-v,--verbose", verbose,
               "Also list what is not read (sections, keys, records and columns, calibration factors)");

  // How the files are read and the run folder written: the options every front end shares.
  basinfit::options::SurveyOptions options;
  basinfit::options::add_to(app, options, basinfit::options::Program::kImport);
  app.set_version_flag("--version", std::string("basinfit-import ") + BASINFIT_VERSION);

  if (argc < 2) {
    std::cerr << app.help();
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return basinfit::cli::usage_error(app, e, "basinfit-import: ");
  }

  // A file-size limit is reported as a failed write, like any other, not by the signal.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    if (const auto refusal = basinfit::options::check(options))
      throw basinfit::InputError(refusal->option, 0, refusal->reason, basinfit::InputError::Kind::kUsage);
    const imp::ImportOptions& run = options.import;
    const imp::SurveySource source{inputs, options.format, options.reader};
    const imp::SourceSurvey survey = imp::read_survey(source);
    const imp::Structure structure = imp::read_structure(structure_file);
    const imp::RunInput input = imp::assemble_run(survey, structure, run);
    imp::write_run_folder(out_dir, input, force);

    // Identifiers, notes and names come from the input: shown with every byte visible.
    if (!quiet) std::cout << visible_lines(imp::station_table(input));
    for (const std::string& note : input.notes)
      std::cerr << "basinfit-import: note: " << basinfit::visible_name(note) << "\n";
    if (verbose)
      for (const std::string& note : survey.notes)
        std::cerr << "basinfit-import: " << basinfit::visible_name(note) << "\n";
    std::filesystem::path engine = std::filesystem::path(argv[0]).parent_path() / "basinfit";
    std::error_code ec;
    const std::string engine_word = std::filesystem::exists(engine, ec)
                                        ? std::filesystem::absolute(engine, ec).string()
                                        : std::string("basinfit");
    std::cout << "cd " << shell_word(out_dir) << " && " << shell_word(engine_word) << " --keep-control "
              << "--station-table "
              << shell_word((std::filesystem::absolute(out_dir, ec) / imp::kStationTableName).string()) << " "
              << imp::kControlName << "\n";
    return 0;
  } catch (const basinfit::InputError& e) {
    std::cerr << "basinfit-import: " << basinfit::visible_name(e.what()) << "\n";
    return e.exit_status();
  }
}
