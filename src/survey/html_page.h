#pragma once
// The survey page: one self-contained HTML file (inline style sheet, inline SVG profiles drawn
// here, one small inline script for sorting, folding and drawing the basins; nothing fetched
// from anywhere) with the run's header, the survey summary, the modulus and fit-quality
// profiles with the uniform sections, and one row per station that unfolds to its drops and
// their basins.  A drop's numbers and basin travel as compact data in its station's hidden
// drop row, drawn by the script when the row unfolds, so the page grows by about a kilobyte
// per station; it is written piece by piece, never held whole in memory.
//
// Everything that comes from input files is written as text: `<`, `>`, `&` and both quotes
// are escaped wherever they appear, in text and in attributes.
//
// A run that stops early still gets its page, and the page says so at its top: the writer is
// told at the end whether the run completed and, when not, why it stopped.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/output_file.h"
#include "survey/survey_data.h"
#include "survey/survey_layout.h"

namespace basinfit::survey {

// How the run ended, as the page states it.
struct RunEnd {
  bool complete = true;
  std::string stop_reason;  // when not complete: where and why the run stopped
};

// Text safe inside HTML text and attribute values.
std::string escape_html(std::string_view text);

// Where the page's text goes, piece by piece.
using PageSink = std::function<void(std::string_view)>;

// Writes the whole page to `sink`.  The stations of a collected page are read back one at a
// time (SurveyPage::station_row) as their rows are written.
void write_page(const SurveyPage& page, const ReportOptions& options, const RunEnd& end,
                const PageSink& sink);
// The whole page as one string.
std::string render_page(const SurveyPage& page, const ReportOptions& options, const RunEnd& end);

// The page's file: opened before the run touches anything (created when missing, nothing
// changed), compared with the files the run keeps once they are known, written whole when the
// run ends.  Every failure is an InputError of kind kFileSystem naming the file.
class SurveyPageFile {
 public:
  explicit SurveyPageFile(const std::string& name);
  // Throws when the page is one of `kept` (an input, a report, the log), leaving it untouched.
  void refuse_if_kept(const KeptFiles* kept);
  ~SurveyPageFile();
  const std::string& name() const { return file_.name(); }
  // The open file, for the run's start-up checks (compared with the run's files, emptied with them).
  OutputFile& file() { return file_; }
  void write(const SurveyPage& page, const ReportOptions& options, const RunEnd& end);
  // Leaves no page behind when this run created the file (a run that never started).
  void abandon();

 private:
  OutputFile file_;
  bool done_ = false;
};

}  // namespace basinfit::survey
