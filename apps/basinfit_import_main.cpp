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

template <typename T>
std::vector<T> parse_list(const std::string& text, const char* option) {
  std::vector<T> out;
  if (text.empty()) return out;
  for (const std::string& item : imp::split(text, ',')) {
    // A range a-b of whole numbers.
    const auto dash = item.find('-', 1);
    if constexpr (std::is_same_v<T, int>) {
      if (dash != std::string::npos) {
        const auto a = imp::parse_number(item.substr(0, dash)), b = imp::parse_number(item.substr(dash + 1));
        if (!a || !b || *b < *a || *b - *a > 1000)
          throw basinfit::InputError(option, 0, "expected a range a-b, found '" + item + "'");
        for (int v = static_cast<int>(*a); v <= static_cast<int>(*b); ++v) out.push_back(v);
        continue;
      }
    }
    const auto v = imp::parse_number(item);
    if (!v) throw basinfit::InputError(option, 0, "expected a number, found '" + item + "'");
    out.push_back(static_cast<T>(*v));
  }
  return out;
}

std::optional<imp::Unit> unit_option(const std::string& word, imp::Quantity quantity, const char* option,
                                     bool pressure_allowed = false) {
  if (word.empty()) return std::nullopt;
  const auto u = imp::parse_unit(word);
  if (!u || !(imp::quantity_of(*u) == quantity ||
              (pressure_allowed && imp::quantity_of(*u) == imp::Quantity::kPressure)))
    throw basinfit::InputError(option, 0, "unknown or unfitting unit '" + word + "'");
  return u;
}

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
  std::string structure_file, out_dir, format_word;
  bool force = false, quiet = false, verbose = false;
  app.add_option("INPUT", inputs, "Survey file(s); for LTPP the table files or their folder")->required();
  app.add_option("--structure", structure_file, "Pavement structure file (CSV: layers, thicknesses, points)")
      ->required()
      ->type_name("FILE");
  app.add_option("--out", out_dir, "Run folder to write (created if missing)")->required()->type_name("DIR");
  app.add_option("--format", format_word, "Force the format: pddx, ltpp, csv or f25")->type_name("NAME");
  app.add_flag("--force", force, "Replace the files of an existing run folder");
  app.add_flag("-q,--quiet", quiet, "No station table on standard output");
  app.add_flag("-v,--verbose", verbose,
               "Also list what is not read (sections, keys, records and columns, calibration factors)");

  imp::ImportOptions run;
  imp::ReaderOptions reader;
  std::string units_word, temperatures = "surface,air", weights, seeds, drops, heights, sensors,
                          station_format = "number";
  std::optional<double> reference;
  app.add_option("--units", units_word, "Unit system of the run: metric or english (default: the source's)");
  app.add_option("--reference-temperature", reference,
                 "Reference temperature of the surface modulus, in the run's unit (default 20 C / 68 F)");
  app.add_option(
      "--temperatures", temperatures,
      "Readings for the engine's temperature 1 and 2, e.g. surface,air (default) or manual,air; names as the "
      "source gives them (F25: asphalt, surface, air; PDDX without TemperatureSensorUse: t1, t2, ...)");
  app.add_option("--temperature-adjust", run.temperature_adjustment,
                 "1: adjust the surface modulus (default), 0: not")
      ->check(CLI::Range(0, 1));
  app.add_option(
         "--temperature-option", run.temperature_option,
         "1: pavement temperature from temperature 1 and 2 (default); 0: temperature 1 is the pavement's")
      ->check(CLI::Range(0, 1));
  app.add_option("--weighting", run.weighting,
                 "0 equal weights (default), 1 from the deflection ratios, 2 --weights")
      ->check(CLI::Range(0, 2));
  app.add_option("--weights", weights, "Sensor weights for --weighting 2, in order of offset");
  app.add_option("--seeds", seeds, "computed (default up to 3 layers) or given (the structure's moduli)");
  app.add_option("--max-iterations", run.max_iterations, "Iteration limit per drop (default 30)")
      ->check(CLI::Range(1, 10000));
  app.add_option("--rms-tolerance", run.rms_tolerance, "RMS tolerance in percent (default 0.5)")
      ->check(basinfit::cli::finite_number(0, false));
  app.add_option("--modulus-tolerance", run.modulus_tolerance, "Modulus tolerance in percent (default 0.5)")
      ->check(basinfit::cli::finite_number(0, false));
  app.add_option("--skip-seating", run.skip_seating, "Skip the first N drops of every test point")
      ->check(CLI::Range(0, 1000));
  app.add_option("--drops", drops, "Keep only drops with these sequence numbers, e.g. 2-5,8");
  app.add_option("--drop-heights", heights, "Keep only drops with these height codes, e.g. 2,3");
  app.add_option("--sensors", sensors, "Keep only these source sensors (numbers as in the source)");
  app.add_option("--station-prefix", run.station_prefix, "Text before identifiers built from the chainage");
  app.add_option("--station-format", station_format,
                 "number (default: chainage in m or ft) or plus (12+50 in feet, 1+250 in metres)");
  app.add_option("--route", run.route, "Route text of the deflection data file (default: from the source)");
  app.add_option("--title", run.title, "Title of the general data file (default: the structure's)");
  app.add_option("--section", reader.section, "LTPP: section, state code and SHRP id (e.g. 04-0122)");
  app.add_option("--test-date", reader.test_date, "LTPP: test date as written in the tables");
  app.add_option("--lane", reader.lane, "LTPP: lane (LANE_NO)");
  app.add_flag("--any-record-status", reader.any_record_status, "LTPP: also rows below quality level E");
  std::string columns, source_units, load_unit, deflection_unit, offset_unit, temperature_unit, chainage_unit,
      offsets, delimiter, decimal = ".";
  app.add_option("--columns", columns,
                 "CSV: role=column pairs (station, chainage, lane, comment, drop, height, load, d1.., "
                 "temp_<use>)");
  app.add_option("--source-units", source_units,
                 "CSV/F25: metric (N, microns, mm, C, m; default) or english (lbf, mils, in, F, ft)");
  app.add_option("--load-unit", load_unit, "CSV/F25: unit of the load (N, kN, lbf, or a pressure: kPa, psi)");
  app.add_option("--deflection-unit", deflection_unit,
                 "CSV/F25: unit of the deflections (microns, mils, mm)");
  app.add_option("--offset-unit", offset_unit,
                 "CSV/F25: unit of the sensor offsets and plate radius (mm, cm, in)");
  app.add_option("--temperature-unit", temperature_unit, "CSV: C or F");
  app.add_option("--chainage-unit", chainage_unit, "CSV/F25: unit of the chainage (m, km, ft, mi)");
  app.add_option("--plate-radius", reader.plate_radius, "CSV: plate radius in the offset unit");
  app.add_option("--offsets", offsets, "CSV: sensor offsets of the columns d1..dN, in the offset unit");
  app.add_option("--delimiter", delimiter,
                 "CSV: column delimiter (default: guessed from the header: , ; or tab)");
  app.add_option("--decimal", decimal, "CSV: decimal mark (default .)");
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
    // Options into settings.
    if (!units_word.empty()) {
      const std::string u = imp::fold(units_word);
      if (u != "metric" && u != "english")
        throw basinfit::InputError("--units", 0, "expected metric or english");
      run.english = u == "english";
    }
    run.reference_temperature = reference;
    run.temperatures = imp::split(temperatures, ',');
    run.weights = parse_list<double>(weights, "--weights");
    if (!seeds.empty()) {
      const std::string s = imp::fold(seeds);
      if (s != "computed" && s != "given")
        throw basinfit::InputError("--seeds", 0, "expected computed or given");
      run.seed_option = s == "computed" ? 0 : 1;
    }
    run.drops = parse_list<int>(drops, "--drops");
    run.drop_heights = parse_list<double>(heights, "--drop-heights");
    run.sensors = parse_list<int>(sensors, "--sensors");
    if (station_format != "number" && station_format != "plus")
      throw basinfit::InputError("--station-format", 0, "expected number or plus");
    run.plus_notation = station_format == "plus";
    if (!columns.empty())
      for (const std::string& pair : imp::split(columns, ',')) {
        const auto eq = pair.find('=');
        if (eq == std::string::npos)
          throw basinfit::InputError("--columns", 0, "expected role=column, found '" + pair + "'");
        reader.columns.emplace_back(std::string(imp::trim(pair.substr(0, eq))),
                                    std::string(imp::trim(pair.substr(eq + 1))));
      }
    if (!source_units.empty()) {
      const std::string u = imp::fold(source_units);
      if (u != "metric" && u != "english")
        throw basinfit::InputError("--source-units", 0, "expected metric or english");
      reader.english = u == "english";
    }
    reader.load_unit = unit_option(load_unit, imp::Quantity::kForce, "--load-unit", true);
    reader.deflection_unit = unit_option(deflection_unit, imp::Quantity::kLength, "--deflection-unit");
    reader.offset_unit = unit_option(offset_unit, imp::Quantity::kLength, "--offset-unit");
    reader.temperature_unit =
        unit_option(temperature_unit, imp::Quantity::kTemperature, "--temperature-unit");
    reader.chainage_unit = unit_option(chainage_unit, imp::Quantity::kLength, "--chainage-unit");
    reader.offsets = parse_list<double>(offsets, "--offsets");
    if (delimiter == "tab") delimiter = "\t";
    if (delimiter.size() > 1 || decimal.size() != 1)
      throw basinfit::InputError("--delimiter/--decimal", 0, "expected one character each");
    if (!delimiter.empty()) reader.delimiter = delimiter[0];
    reader.decimal = decimal[0];

    imp::SurveySource source{inputs, std::nullopt, reader};
    if (!format_word.empty()) {
      source.format = imp::parse_format(format_word);
      if (!source.format)
        throw basinfit::InputError("--format", 0,
                                   "expected pddx, ltpp, csv or f25, found '" + format_word + "'");
    }
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
