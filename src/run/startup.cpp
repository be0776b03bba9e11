#include "run/startup.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <vector>

#include "common/list_reader.h"
#include "run/input_files.h"

namespace basinfit {

namespace {

std::string without_trailing_blanks(const std::string& text) {
  const auto end = text.find_last_not_of(" \t");
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool is_fixed_unit(int unit) {
  switch (unit) {
    case kGeneralDataUnit:
    case kDeflectionUnit:
    case kStandardValueUnit:
    case kDetailReportUnit:
    case kSummaryReportUnit:
    case kControlUnit:
    case kGraphicsUnit:
      return true;
    default:
      return false;
  }
}

// A file opened for writing, replacing what it held.
std::unique_ptr<std::ofstream> create_output(const std::string& name, const char* what) {
  auto out = std::make_unique<std::ofstream>(name, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!*out)
    throw InputError(name, 0, std::string("cannot create the ") + what + ": " + std::strerror(errno),
                     InputError::Kind::kFileSystem);
  return out;
}

// Two names for one file: the same path, or an existing file reached by another path.
bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return std::filesystem::absolute(a, ec).lexically_normal() ==
         std::filesystem::absolute(b, ec).lexically_normal();
}

// An output that would replace an input file, or share its file with another output, would
// destroy data: such a control file is refused before anything is written.
void check_outputs_apart(const ControlFile& c, const std::string& control_path) {
  struct Named {
    const std::string* name;
    const char* what;
  };
  std::vector<Named> inputs = {{&c.standard_values, "standard value file"},
                               {&c.general_data, "general data file"},
                               {&c.deflections, "deflection data file"},
                               {&control_path, "control file"}};
  std::vector<Named> outputs = {{&c.detail_report, "detail report"}, {&c.summary_report, "summary report"}};
  if (c.log_unit != 0) outputs.push_back({&c.log_file, "log file"});
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (const Named& in : inputs)
      if (same_file(*outputs[i].name, *in.name))
        throw InputError(
            control_path, 0,
            std::string("the ") + outputs[i].what + " would replace the " + in.what + " (" + *in.name + ")");
    for (std::size_t k = 0; k < i; ++k)
      if (same_file(*outputs[i].name, *outputs[k].name))
        throw InputError(control_path, 0,
                         std::string("the ") + outputs[i].what + " and the " + outputs[k].what +
                             " name the same file (" + *outputs[i].name + ")");
  }
}

void write_diagnostic(std::ostream* errors, const std::string& text) {
  if (errors == nullptr) return;
  *errors << "basinfit: " << text << '\n';
  errors->flush();
}

}  // namespace

ControlFile read_control_file(const std::string& path) {
  const TextFile file = TextFile::load(path);
  ListReader reader(file);
  ControlFile control;
  if (reader.read({{control.log_unit, "the log unit number"}}) != ListReader::Status::kComplete)
    throw InputError(path, 1, "the control file is empty: expected the log unit number");
  if (control.log_unit < 0 || is_fixed_unit(control.log_unit))
    throw InputError(
        path, reader.last_line(),
        "the log unit is " + std::to_string(control.log_unit) +
            ": expected 0 (no log) or a positive unit number other than 1, 2, 4, 7, 8, 11 and 12");
  auto name = [&](std::string& into, const char* what) {
    const std::optional<std::string> record = reader.read_record();
    if (!record)
      throw InputError(path, static_cast<int>(file.record_count()) + 1,
                       std::string("the file ends before the name of the ") + what);
    const int line = reader.last_line();
    // A whole record is a name: trailing blanks are not part of it, and nothing is cut.
    into = without_trailing_blanks(*record);
    if (into.empty()) throw InputError(path, line, std::string("the name of the ") + what + " is empty");
  };
  name(control.standard_values, "standard value file");
  name(control.general_data, "general data file");
  name(control.deflections, "deflection data file");
  name(control.detail_report, "detail report");
  name(control.summary_report, "summary report");
  if (control.log_unit != 0) name(control.log_file, "log file");
  return control;
}

int run_engine(const EngineOptions& options, const ComputationsFactory& computations_factory,
               const ReportFactory& report_factory) {
  std::unique_ptr<std::ofstream> detail_file, summary_file, log_file;
  std::unique_ptr<TextUnit> detail, summary, log;
  TextUnit text_window(*options.terminal);

  // Ends what is open in the closing order: detail report, summary report, log.
  auto close_all = [&]() {
    if (detail) detail->finish();
    if (summary) summary->finish();
    if (log) log->finish();
    detail_file.reset();
    summary_file.reset();
    log_file.reset();
    text_window.finish();
  };

  try {
    const ControlFile control = read_control_file(options.control_file);
    const TextFile standard_values = TextFile::load(control.standard_values);
    const TextFile general_data = TextFile::load(control.general_data);
    const TextFile deflections = TextFile::load(control.deflections);
    check_outputs_apart(control, options.control_file);
    detail_file = create_output(control.detail_report, "detail report");
    detail = std::make_unique<TextUnit>(*detail_file);
    summary_file = create_output(control.summary_report, "summary report");
    summary = std::make_unique<TextUnit>(*summary_file);

    // The control file is consumed: it is removed once every name in it has been read.
    std::error_code removed;
    std::filesystem::remove(options.control_file, removed);
    if (removed)
      write_diagnostic(options.errors,
                       options.control_file + ": cannot delete the control file: " + removed.message());

    if (control.log_unit != 0) {
      log_file = create_output(control.log_file, "log file");
      log = std::make_unique<TextUnit>(*log_file);
    }
    MessageWriter messages(log.get(), &text_window);
    EngineUnits units{*detail, *summary, messages, control.log_unit == 0};
    std::unique_ptr<StationComputations> computations = computations_factory(units);
    std::unique_ptr<ReportWriter> reports = report_factory(units);

    RunState state;
    Driver driver(state, messages, *computations, *reports, options.clock);
    driver.on_warning([&](const std::string& warning) { write_diagnostic(options.errors, warning); });
    int status = 0;
    try {
      const DriverEnd end = driver.run({&standard_values, &general_data, &deflections});
      if (end == DriverEnd::kSettingsError) {
        write_diagnostic(options.errors, driver.settings_problem()->what());
        status = 1;
      } else if (end == DriverEnd::kHeaderStop) {
        write_diagnostic(options.errors, control.deflections + ", line " +
                                             std::to_string(driver.stop_line()) +
                                             ": warning: a station header without any blank, comma or tab; "
                                             "processing stopped there");
      }
    } catch (const InputError& e) {
      // Stations already finished are in the reports; the failing one was never started.
      write_diagnostic(options.errors, e.what());
      status = e.exit_status();
    }
    close_all();
    return status;
  } catch (const InputError& e) {
    close_all();
    write_diagnostic(options.errors, e.what());
    return e.exit_status();
  }
}

}  // namespace basinfit
