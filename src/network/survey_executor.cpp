#include "network/survey_executor.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "basinfit_version.h"
#include "common/input_error.h"
#include "import/readers.h"
#include "import/run_folder.h"
#include "import/structure.h"
#include "import/text_values.h"
#include "network/process.h"

namespace basinfit::network {
namespace {

namespace imp = basinfit::import;

struct ControlFile {
  std::string log_unit;
  std::vector<std::string> names;  // standard, general, deflections, detail, summary[, log]
};

ControlFile read_control(const std::filesystem::path& folder) {
  const std::filesystem::path file = folder / imp::kControlName;
  std::istringstream in(imp::read_bytes(file.string()));
  ControlFile control;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string text(imp::trim(line));
    if (number == 1)
      control.log_unit = text;
    else if (!text.empty())
      control.names.push_back(text);
  }
  if (control.log_unit.empty() || control.names.size() < 5)
    throw InputError(file.string(), number,
                     "expected a log unit and the names of the input and output files");
  return control;
}

std::vector<imp::InputFile> load_sources(const std::vector<std::filesystem::path>& sources) {
  std::vector<imp::InputFile> files;
  for (const std::filesystem::path& source : sources) {
    std::error_code ec;
    if (std::filesystem::is_directory(source, ec)) {
      std::vector<std::string> inside;
      for (const auto& entry : std::filesystem::directory_iterator(source, ec))
        if (entry.is_regular_file() && imp::lower(entry.path().extension().string()) == ".csv")
          inside.push_back(entry.path().string());
      std::sort(inside.begin(), inside.end());
      if (inside.empty())
        throw InputError(source.string(), 0, "the folder holds no .csv file", InputError::Kind::kFileSystem);
      for (const std::string& f : inside) files.push_back({f, imp::read_bytes(f)});
    } else {
      files.push_back({source.string(), imp::read_bytes(source.string())});
    }
  }
  return files;
}

imp::ReaderOptions reader_options(const ManifestEntry& s) {
  imp::ReaderOptions reader;
  if (const auto* v = s.option("section")) reader.section = *v;
  if (const auto* v = s.option("test_date")) reader.test_date = *v;
  if (const auto* v = s.option("lane")) reader.lane = *v;
  if (const auto* v = s.option("source_units")) reader.english = *v == "english";
  return reader;
}

// Reads the device files of a survey as basinfit-import does: the format from the manifest or
// detected from each file's content.
imp::SourceSurvey read_source(const ManifestEntry& s) {
  const std::vector<imp::InputFile> files = load_sources(s.sources);
  std::optional<imp::Format> format;
  if (const auto* v = s.option("format")) {
    format = imp::parse_format(*v);
  } else {
    for (const imp::InputFile& f : files) {
      const auto found = imp::detect_format(f.text);
      if (!found)
        throw InputError(f.name, 0, "not a format read here (PDDX, LTPP tables, CSV with a header row, F25)");
      if (!format || *found == imp::Format::kLtpp) format = found;
    }
  }
  if (*format != imp::Format::kLtpp && files.size() != 1)
    throw InputError(files[1].name, 0, "one survey file at a time (several files only for LTPP tables)");
  const imp::ReaderOptions reader = reader_options(s);
  switch (*format) {
    case imp::Format::kPddx:
      return imp::read_pddx(files[0]);
    case imp::Format::kLtpp:
      return imp::read_ltpp(files, reader);
    case imp::Format::kGenericCsv:
      return imp::read_generic_csv(files[0], reader);
    case imp::Format::kF25:
      break;
  }
  return imp::read_f25(files[0], reader);
}

imp::ImportOptions import_options(const ManifestEntry& s) {
  imp::ImportOptions run;
  if (const auto* v = s.option("units")) run.english = *v == "english";
  if (const auto* v = s.option("route")) run.route = *v;
  if (const auto* v = s.option("title")) run.title = *v;
  if (const auto* v = s.option("skip_seating")) run.skip_seating = std::stoi(*v);
  if (const auto* v = s.option("seeds")) run.seed_option = *v == "computed" ? 0 : 1;
  if (const auto* v = s.option("max_iterations")) run.max_iterations = std::stoi(*v);
  if (const auto* v = s.option("station_prefix")) run.station_prefix = *v;
  if (const auto* v = s.option("station_format")) run.plus_notation = *v == "plus";
  return run;
}

void copy_input(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << imp::read_bytes(from.string());
  if (!out.flush()) throw InputError(to.string(), 0, "cannot be written", InputError::Kind::kFileSystem);
}

// A run folder's inputs copied into the survey's folder under their own names, and a control
// file naming them and the outputs beside them (a windowed control file becomes a batch one).
void stage_run_folder(const std::filesystem::path& source, const std::filesystem::path& folder) {
  ControlFile control = read_control(source);
  for (std::size_t i = 0; i < 3; ++i) {
    const std::filesystem::path input = std::filesystem::path(control.names[i]);
    const std::filesystem::path from = input.is_absolute() ? input : source / input;
    control.names[i] = input.filename().string();
    copy_input(from, folder / control.names[i]);
  }
  for (std::size_t i = 3; i < control.names.size(); ++i)
    control.names[i] = std::filesystem::path(control.names[i]).filename().string();
  if (control.log_unit == "0") {
    control.log_unit = "9";
    control.names.resize(5);
  }
  if (control.names.size() < 6) control.names.push_back(imp::kLogName);
  std::string text = control.log_unit + "\n";
  for (std::size_t i = 0; i < 6; ++i) text += control.names[i] + "\n";
  std::ofstream out(folder / imp::kControlName, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush())
    throw InputError((folder / imp::kControlName).string(), 0, "cannot be written",
                     InputError::Kind::kFileSystem);
}

std::string last_line(const std::string& text) {
  std::istringstream in(text);
  std::string line, last;
  while (std::getline(in, line))
    if (!imp::trim(line).empty()) last = std::string(imp::trim(line));
  return last;
}

}  // namespace

std::vector<std::string> engine_arguments(const ManifestEntry& s, int jobs) {
  std::vector<std::string> args = {
      "--keep-control",    imp::kControlName, "--results", ".", "--html", kSurveyPage, "-q", "-j",
      std::to_string(jobs)};
  if (const auto* v = s.option("load_levels")) {
    std::string list = *v;
    std::replace(list.begin(), list.end(), ';', ',');
    args.insert(args.end(), {"--load-levels", list});
  }
  if (const auto* v = s.option("multistart")) args.insert(args.end(), {"--multistart", *v});
  if (const auto* v = s.option("sections_by")) args.insert(args.end(), {"--sections-by", *v});
  if (const auto* v = s.option("min_section_length")) args.insert(args.end(), {"--min-section-length", *v});
  return args;
}

ImportAndEngineExecutor::ImportAndEngineExecutor(std::filesystem::path engine) : engine_(std::move(engine)) {}

std::string ImportAndEngineExecutor::engine_version() const { return BASINFIT_VERSION; }
std::string ImportAndEngineExecutor::engine_revision() const { return BASINFIT_REVISION; }

SurveyOutcome ImportAndEngineExecutor::execute(const ManifestEntry& s, const std::filesystem::path& folder,
                                               int jobs) {
  SurveyOutcome outcome;
  try {
    if (s.run_folder) {
      stage_run_folder(s.sources[0], folder);
    } else {
      const imp::SourceSurvey survey = read_source(s);
      const imp::Structure structure = imp::read_structure(s.structure.string());
      imp::write_run_folder(folder.string(), imp::assemble_run(survey, structure, import_options(s)), false);
    }
  } catch (const InputError& e) {
    outcome.stage = "import";
    outcome.exit_status = e.exit_status();
    outcome.message = e.what();
    return outcome;
  }
  std::vector<std::string> argv{engine_.string()};
  for (std::string& a : engine_arguments(s, jobs)) argv.push_back(std::move(a));
  const ProcessResult run = run_process(argv, folder, false);
  outcome.exit_status = run.exit_status;
  // The engine's standard error goes into the record whole (its last 4000 characters), for a
  // survey that ran as for one that failed: notes and warnings are part of its story.
  outcome.message = std::string(imp::trim(run.err));
  if (outcome.message.size() > 4000)
    outcome.message = "..." + outcome.message.substr(outcome.message.size() - 4000);
  if (run.exit_status != 0) {
    outcome.stage = "engine";
    if (last_line(run.err).empty())
      outcome.message = "the engine ended with exit status " + std::to_string(run.exit_status);
    return outcome;
  }
  try {
    const ControlFile control = read_control(folder);
    std::istringstream deflections(imp::read_bytes((folder / control.names[2]).string()));
    std::getline(deflections, outcome.route);
    outcome.route = std::string(imp::trim(outcome.route));
  } catch (const InputError&) {
  }
  outcome.ok = true;
  return outcome;
}

std::vector<std::filesystem::path> survey_input_files(const ManifestEntry& s) {
  std::vector<std::filesystem::path> files;
  if (s.run_folder) {
    const ControlFile control = read_control(s.sources[0]);
    files.push_back(s.sources[0] / imp::kControlName);
    for (std::size_t i = 0; i < 3; ++i) {
      const std::filesystem::path input(control.names[i]);
      files.push_back(input.is_absolute() ? input : s.sources[0] / input);
    }
    return files;
  }
  for (const std::filesystem::path& source : s.sources) {
    std::error_code ec;
    if (std::filesystem::is_directory(source, ec)) {
      std::vector<std::filesystem::path> inside;
      for (const auto& entry : std::filesystem::directory_iterator(source, ec))
        if (entry.is_regular_file() && imp::lower(entry.path().extension().string()) == ".csv")
          inside.push_back(entry.path());
      std::sort(inside.begin(), inside.end());
      files.insert(files.end(), inside.begin(), inside.end());
    } else {
      files.push_back(source);
    }
  }
  return files;
}

long survey_size(const ManifestEntry& s) {
  try {
    if (s.run_folder) {
      const ControlFile control = read_control(s.sources[0]);
      const std::filesystem::path input(control.names[2]);
      std::istringstream in(imp::read_bytes((input.is_absolute() ? input : s.sources[0] / input).string()));
      std::string line;
      long lines = -1;  // the route line
      while (std::getline(in, line))
        if (!imp::trim(line).empty()) ++lines;
      return std::max(1L, lines);
    }
    long drops = 0;
    for (const imp::SourceStation& station : read_source(s).stations)
      drops += static_cast<long>(station.drops.size());
    return std::max(1L, drops);
  } catch (const InputError&) {
    return 1;
  }
}

}  // namespace basinfit::network
