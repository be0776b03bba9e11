#include "run/startup.h"

#include <sys/stat.h>
#include <sys/vfs.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <ostream>
#include <vector>

#include "common/file_names.h"
#include "common/list_reader.h"
#include "common/output_file.h"
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

struct NamedFile {
  const std::string& name;
  std::string what;
  std::optional<FileIdentity> identity;
};

// An output that would replace an input file, or share its file with another output, would
// destroy data: such a control file is refused before anything is changed.  The files are
// compared by identity (device and inode), so two spellings of one path are one file.
void check_outputs_apart(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& inputs,
                         const std::string& control_path) {
  // The name as given, and the other name of the same file when it is spelled otherwise.
  auto names = [](const NamedFile& a, const NamedFile& b) {
    return visible_name(a.name) + (a.name == b.name ? "" : " is " + visible_name(b.name));
  };
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const NamedFile& out = outputs[i];
    for (const NamedFile& in : inputs)
      if (one_file(out.identity, in.identity))
        throw InputError(control_path, 0,
                         "the " + out.what + " would replace the " + in.what + " (" + names(out, in) + ")");
    for (std::size_t k = 0; k < i; ++k)
      if (one_file(out.identity, outputs[k].identity))
        throw InputError(control_path, 0,
                         "the " + out.what + " and the " + outputs[k].what + " name the same file (" +
                             names(out, outputs[k]) + ")");
  }
}

// The outputs beside the reports (results, page) go through the same comparison, each message
// naming the output first, as for a chart file that would replace a report.
void check_further_outputs(const std::vector<NamedFile>& further, const std::vector<NamedFile>& outputs,
                           const std::vector<NamedFile>& inputs) {
  for (std::size_t i = 0; i < further.size(); ++i) {
    const NamedFile& out = further[i];
    auto refuse = [&](const std::string& reason) {
      throw InputError(visible_name(out.name), 0, reason, InputError::Kind::kFileSystem);
    };
    for (const std::vector<NamedFile>* files : {&inputs, &outputs})
      for (const NamedFile& kept : *files)
        if (one_file(out.identity, kept.identity))
          refuse("the " + out.what + " would replace the " + kept.what + " (" + visible_name(kept.name) +
                 ")");
    for (std::size_t k = 0; k < i; ++k)
      if (one_file(out.identity, further[k].identity))
        refuse("the " + out.what + " and the " + further[k].what + " name the same file (" +
               visible_name(further[k].name) + ")");
  }
}

// True when `path` lies on the process file system, whose links name open descriptors
// (/dev/stdin leads to /proc/self/fd/0) rather than files of the user's.
bool on_process_file_system(const std::filesystem::path& path) {
  constexpr long kProcSuperMagic = 0x9fa0;
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  struct statfs fs {};
  return ::statfs(folder.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kProcSuperMagic;
}

// The control file is consumed only when it is a file of its own: a regular file, or a
// symbolic link (then the link goes) that leads to one through ordinary links.  A device, a
// pipe, a terminal, a descriptor's name such as /dev/stdin, or a link to any of them is
// somebody else's and is left as it is.
bool control_file_is_consumable(const std::string& name) {
  std::filesystem::path path = name;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || on_process_file_system(path)) return false;
    if (S_ISREG(st.st_mode)) return true;
    if (!S_ISLNK(st.st_mode)) return false;
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(path, error);
    if (error) return false;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return false;
}

void write_diagnostic(std::ostream* errors, const std::string& text) {
  if (errors == nullptr) return;
  *errors << "basinfit: " << visible_name(text) << '\n';  // names and values from the input, bytes visible
  errors->flush();
}

}  // namespace

std::unique_ptr<StationAnalysis::Result> StopOnSignal::analyse(const RunState& state) const {
  (void)state;
  return nullptr;
}

void StopOnSignal::record(const RunState& state, std::unique_ptr<Result> result) {
  (void)result;
  if (!stop_.requested()) return;
  const std::string& id = state.station.id;
  const auto end = id.find_last_not_of(' ');
  const std::optional<int> signal = stop_.signal_number();
  const char* cause = signal == SIGTERM  ? "interrupted (SIGTERM)"
                      : signal == SIGINT ? "interrupted (SIGINT)"
                      : signal           ? "interrupted"
                                         : "cancelled";
  throw InputError("", 0,
                   std::string(cause) + ": the run stopped after station " +
                       (end == std::string::npos ? id : id.substr(0, end + 1)),
                   InputError::Kind::kInterrupted);
}

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
    refuse_nul_in_name(into, path, line, std::string("the ") + what);
  };
  name(control.standard_values, "standard value file");
  name(control.general_data, "general data file");
  name(control.deflections, "deflection data file");
  name(control.detail_report, "detail report");
  name(control.summary_report, "summary report");
  if (control.log_unit != 0) name(control.log_file, "log file");
  control.identity = file.identity();
  return control;
}

int run_control_file(const EngineOptions& options, const ComputationsFactory& computations_factory,
                     const ReportFactory& report_factory) {
  std::unique_ptr<OutputFile> detail_file, summary_file, log_file;
  std::unique_ptr<TextUnit> detail, summary, log;
  TextUnit text_window(*options.terminal);
  int status = 0;
  // One message per run: the first failure is the one reported.
  auto fail = [&](const InputError& e) {
    if (status != 0) return;
    write_diagnostic(options.errors, e.what());
    status = e.exit_status();
  };

  // Start-up: nothing is changed on disk until every input is read and every output is open
  // and known to be apart from the inputs and from each other.  A failure here removes the
  // outputs it created and leaves the control file and any existing report as they were.
  std::optional<ControlFile> control;
  std::optional<TextFile> standard_values, general_data, deflections;
  KeptFiles kept;
  try {
    control = read_control_file(options.control_file);
    standard_values = TextFile::load(control->standard_values, options.digest_inputs);
    general_data = TextFile::load(control->general_data, options.digest_inputs);
    deflections = TextFile::load(control->deflections, options.digest_inputs);
    const std::vector<NamedFile> inputs = {
        {control->standard_values, "standard value file", standard_values->identity()},
        {control->general_data, "general data file", general_data->identity()},
        {control->deflections, "deflection data file", deflections->identity()},
        {options.control_file, "control file", control->identity}};
    // Outputs that exist already are compared before anything is opened for writing (an input
    // that cannot be opened for writing still gets the clear message) ...
    std::vector<NamedFile> outputs = {{control->detail_report, "detail report", {}},
                                      {control->summary_report, "summary report", {}}};
    if (control->log_unit != 0) outputs.push_back({control->log_file, "log file", {}});
    for (NamedFile& out : outputs) out.identity = identity_of_name(out.name);
    check_outputs_apart(outputs, inputs, options.control_file);
    std::vector<NamedFile> further;
    for (const OutputFile* out : options.further_outputs)
      further.push_back({out->name(), out->what(), out->identity()});
    check_further_outputs(further, outputs, inputs);
    // ... and every output again once open, which decides.
    detail_file = std::make_unique<OutputFile>(control->detail_report, "detail report");
    summary_file = std::make_unique<OutputFile>(control->summary_report, "summary report");
    if (control->log_unit != 0) log_file = std::make_unique<OutputFile>(control->log_file, "log file");
    outputs[0].identity = detail_file->identity();
    outputs[1].identity = summary_file->identity();
    if (log_file) outputs[2].identity = log_file->identity();
    check_outputs_apart(outputs, inputs, options.control_file);
    check_further_outputs(further, outputs, inputs);
    if (options.check_inputs) options.check_inputs(*general_data);
    for (OutputFile* out : {detail_file.get(), summary_file.get(), log_file.get()})
      if (out != nullptr) out->truncate();
    // The outputs beside the reports are emptied with them: a run that is then killed leaves no
    // record or page of an earlier run beside its own reports.
    for (OutputFile* out : options.further_outputs) out->truncate();
    // A deleted control file is not kept: its identity may pass to a new file.
    const bool control_stays = options.keep_control || !control_file_is_consumable(options.control_file);
    for (const NamedFile& file : inputs)
      if (&file.name != &options.control_file || control_stays) kept.add(file.name, file.what, file.identity);
    for (const NamedFile& file : outputs) kept.add(file.name, file.what, file.identity);
    for (const NamedFile& file : further) kept.add(file.name, file.what, file.identity);
  } catch (const InputError& e) {
    for (OutputFile* out : {detail_file.get(), summary_file.get(), log_file.get()})
      if (out != nullptr) out->abandon(true);
    fail(e);
    text_window.finish();
    return status;
  }

  // The control file is consumed once every name in it has been read and every output is open.
  if (!options.keep_control && control_file_is_consumable(options.control_file)) {
    std::error_code removed;
    std::filesystem::remove(options.control_file, removed);
    if (removed)
      write_diagnostic(options.errors,
                       options.control_file + ": cannot delete the control file: " + removed.message());
  }

  detail = std::make_unique<TextUnit>(*detail_file);
  summary = std::make_unique<TextUnit>(*summary_file);
  if (log_file) log = std::make_unique<TextUnit>(*log_file);
  // Progress is shown in batch mode only: in windowed mode the terminal is the text window.  The
  // line is taken away before anything else is said on standard error.
  ProgressCounter* progress = control->log_unit != 0 ? options.progress : nullptr;
  auto end_progress = [&] {
    if (progress != nullptr) progress->finish();
  };
  bool write_failed = false;
  try {
    MessageWriter messages(log.get(), &text_window);
    EngineUnits units{*detail, *summary, messages, control->log_unit == 0, &kept, &*control};
    units.inputs = {&*standard_values, &*general_data, &*deflections};
    const EngineComputations wiring = computations_factory(units);
    std::unique_ptr<StationComputations> computations = wiring.make(messages, wiring.observer);
    std::unique_ptr<ReportWriter> reports = report_factory(units);

    RunState state;
    Driver driver(state, messages, *computations, *reports, options.clock);
    driver.on_warning([&](const std::string& warning) { write_diagnostic(options.errors, warning); });
    if (options.jobs > 1)
      driver.run_in_parallel(ParallelRun{options.jobs, wiring.make, wiring.observer, options.pool});
    driver.report_progress(progress);
    driver.analyse_stations(wiring.analysis);
    const DriverEnd end = driver.run({&*standard_values, &*general_data, &*deflections});
    end_progress();
    if (end == DriverEnd::kSettingsError) {
      fail(*driver.settings_problem());
    } else if (end == DriverEnd::kHeaderStop) {
      write_diagnostic(options.errors, control->deflections + ", line " + std::to_string(driver.stop_line()) +
                                           ": warning: a station header without any blank, comma or tab; "
                                           "processing stopped there");
    }
  } catch (const InputError& e) {
    end_progress();
    // Stations already finished are in the reports; the failing one was never started there,
    // or (a failed write) is taken back out below.
    write_failed = e.kind() == InputError::Kind::kFileSystem;
    fail(e);
  }

  // The closing order: detail report, summary report, log.  After a failure to write, text
  // the reports still hold belongs to an unfinished station and is dropped; the log keeps
  // what it can.  Otherwise every end is checked like every write.
  const std::pair<TextUnit*, OutputFile*> files[] = {
      {detail.get(), detail_file.get()}, {summary.get(), summary_file.get()}, {log.get(), log_file.get()}};
  for (const auto& [unit, file] : files) {
    if (file == nullptr) continue;
    if (write_failed && file != log_file.get()) {
      file->abandon();
      continue;
    }
    try {
      unit->finish();
      file->close();
    } catch (const InputError& e) {
      fail(e);
      write_failed = true;
    }
  }
  text_window.finish();
  return status;
}

}  // namespace basinfit
