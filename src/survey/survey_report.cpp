#include "survey/survey_report.h"

#include <charconv>
#include <ctime>
#include <filesystem>

#include "common/file_names.h"
#include "common/input_error.h"
#include "survey/profile_charts.h"

namespace basinfit::survey {
namespace {

std::string utc_now() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M UTC", &utc);
  return buffer;
}

}  // namespace

std::optional<SectionsBy> parse_sections_by(const std::string& text) {
  if (text == "deflection") return SectionsBy{true, -1};
  int layer = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), layer);
  if (error != std::errc() || end != text.data() + text.size() || layer < 1) return std::nullopt;
  return SectionsBy{false, layer - 1};
}

int LastLineTee::overflow(int c) {
  if (c == traits_type::eof()) return traits_type::not_eof(c);
  out_.put(static_cast<char>(c));
  if (c == '\n') {
    if (!line_.empty()) last_ = line_;
    line_.clear();
    out_.flush();
  } else {
    line_ += static_cast<char>(c);
  }
  return c;
}

SurveyReport::SurveyReport(SurveyReportOptions options) : options_(std::move(options)) {}
SurveyReport::~SurveyReport() = default;

bool SurveyReport::open(std::ostream& errors) {
  try {
    page_ = std::make_unique<SurveyPageFile>(options_.html_file);
  } catch (const InputError& e) {
    errors << "basinfit: " << visible_name(e.what()) << '\n';
    return false;
  }
  return true;
}

StationAnalysis* SurveyReport::start(const EngineUnits& units, const std::string& engine_version) {
  if (!page_) page_ = std::make_unique<SurveyPageFile>(options_.html_file);
  wired_ = true;
  collector_.use_station_table(options_.station_table);
  // The stations wait beside the page, on the disk that is to hold it (a page that is not a
  // regular file, a device or a pipe, leaves them in the system's temporary folder).
  std::error_code error;
  const std::filesystem::path page(options_.html_file);
  if (std::filesystem::is_regular_file(page, error))
    collector_.spool_in(page.has_parent_path() ? page.parent_path().string() : std::string("."));
  if (units.kept_files != nullptr) kept_ = *units.kept_files;
  SurveyPage& header = collector_.header();
  header.run_date = utc_now();
  header.engine_version = engine_version;
  if (units.control != nullptr) {
    header.input_files = {{"Standard values", units.control->standard_values, ""},
                          {"General data", units.control->general_data, ""},
                          {"Deflection data", units.control->deflections, ""}};
  }
  return &collector_;
}

std::ostream& SurveyReport::watch(std::ostream& errors) {
  tee_ = std::make_unique<LastLineTee>(errors);
  watched_ = std::make_unique<std::ostream>(tee_.get());
  return *watched_;
}

int SurveyReport::finish(int status, std::ostream& errors) {
  if (!page_) return status;
  if (!wired_) {
    // The run failed before its files were open: no page, and a page file this run created
    // is removed again.
    page_->abandon();
    return status;
  }
  const SurveyPage* collected = nullptr;
  try {
    collected = &collector_.finished_page();
  } catch (const InputError& e) {
    errors << "basinfit: " << visible_name(e.what()) << '\n';
    page_->abandon();
    return status != 0 ? status : e.exit_status();
  }
  const SurveyPage& page = *collected;
  ReportOptions report;
  report.sections_by = options_.sections_by;
  report.sections.min_length = options_.min_section_length;
  report.subgrade_layer = collector_.subgrade();
  if (!report.sections_by.deflection && report.sections_by.layer >= static_cast<int>(page.layers.size()) &&
      collector_.started()) {
    errors << "basinfit: warning: --sections-by " << report.sections_by.layer + 1 << ": the run has "
           << page.layers.size() << " layers; the sections follow the subgrade\n";
    report.sections_by.layer = -1;
  }
  RunEnd end;
  if (status != 0) {
    end.complete = false;
    std::string last = tee_ ? tee_->last_line() : std::string();
    if (last.rfind("basinfit: ", 0) == 0) last.erase(0, 10);
    if (!last.empty() && last.back() != '.') last += '.';
    // An interrupt is said in words of its own; its diagnostic line would only repeat them.
    const bool interrupted = status > 128;
    if (interrupted) last.clear();
    end.stop_reason =
        "The run ended with exit status " + std::to_string(status) +
        (status == 1   ? " (an input error)"
         : interrupted ? ": it was interrupted (" + std::string(status == 143 ? "SIGTERM" : "SIGINT") + ")"
                       : " (a file-system error)") +
        (last.empty() ? std::string(".") : ": " + last) +
        (!collector_.started() ? " The settings were never read."
         : page.profile.stations.empty()
             ? " No station was finished."
             : " The last station finished is " + page.profile.stations.back().id + ".");
  }
  try {
    page_->write(page, report, end);
    if (!options_.plot_dir.empty()) {
      kept_.add(options_.html_file, "survey page", identity_of_name(options_.html_file));
      write_profile_charts(page, lay_out_survey(page, report), options_.plot_dir, &kept_);
    }
  } catch (const InputError& e) {
    errors << "basinfit: " << visible_name(e.what()) << '\n';
    return status != 0 ? status : e.exit_status();
  }
  return status;
}

}  // namespace basinfit::survey
