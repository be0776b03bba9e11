#pragma once
// The survey page as the engine writes it: opened when the run's files are open, filled
// station by station through the station analysis hook, written when the run is over (with
// the profile charts when a chart folder is given).  A run that stops on an error still gets
// its page, which then says at its top where and why the run stopped.
//
//   survey::SurveyReport report(options);                  // --html, --sections-by, ...
//   if (!report.open(std::cerr)) return 2;                 // before the run touches anything
//   ... in the computations factory:
//   wiring.analysis = report.start(units, version);        // opens the page, checks it
//   ... options.errors = &report.watch(std::cerr);         // remembers the run's last message
//   const int status = run_control_file(...);
//   return report.finish(status, std::cerr);

#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

#include "common/output_file.h"
#include "run/startup.h"
#include "survey/html_page.h"
#include "survey/survey_collector.h"
#include "survey/survey_layout.h"

namespace basinfit::survey {

// "deflection" or a layer number from 1; nothing for anything else.
std::optional<SectionsBy> parse_sections_by(const std::string& text);

struct SurveyReportOptions {
  std::string html_file;
  std::string plot_dir;  // empty: no profile charts
  SectionsBy sections_by;
  double min_section_length = 0;
  // Chainages, lanes, GPS positions and comments of the test points (not owned; may be null).
  const results::StationTable* station_table = nullptr;
};

// Passes everything on to another stream and keeps the last line written.
class LastLineTee : public std::streambuf {
 public:
  explicit LastLineTee(std::ostream& out) : out_(out) {}
  const std::string& last_line() const { return last_; }

 protected:
  int overflow(int c) override;

 private:
  std::ostream& out_;
  std::string line_;
  std::string last_;
};

class SurveyReport {
 public:
  explicit SurveyReport(SurveyReportOptions options);
  ~SurveyReport();

  // Opens the page before the run starts, so that a page that cannot be written stops the run
  // before anything is changed: false (after a message on `errors`) when it cannot be opened.
  bool open(std::ostream& errors);
  // The open page, for EngineOptions::further_outputs: the run's start-up compares it with
  // every other file of the run and empties it with the reports.  nullptr before open().
  OutputFile* file() { return page_ ? &page_->file() : nullptr; }
  // Returns the station analysis that collects the page (the page was checked at start-up).
  // Throws InputError when the page cannot be opened.
  StationAnalysis* start(const EngineUnits& units, const std::string& engine_version);
  // The page's data as collected: where other analyses add flags (annotate_drop) and the run
  // record its hashes, version and date (header()) before finish().
  SurveyCollector& collector() { return collector_; }
  // The stream to give the engine for its diagnostics: they reach `errors` unchanged.
  std::ostream& watch(std::ostream& errors);
  // Writes the page (and the profile charts) for a run that ended with `status`; returns the
  // status to exit with (2 when the page cannot be written and the run had succeeded).
  int finish(int status, std::ostream& errors);

 private:
  SurveyReportOptions options_;
  SurveyCollector collector_;
  std::unique_ptr<SurveyPageFile> page_;
  bool wired_ = false;  // start() ran: the run got as far as its computations
  KeptFiles kept_;
  std::unique_ptr<LastLineTee> tee_;
  std::unique_ptr<std::ostream> watched_;
};

}  // namespace basinfit::survey
