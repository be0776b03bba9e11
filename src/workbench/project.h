#pragma once
// A workbench project is a network folder that basinfit-batch runs as well:
//
//   PROJECT/manifest.csv          one row per run (the batch manifest), with its options
//   PROJECT/inputs/               uploaded device files and each survey's structure file
//   PROJECT/inputs/runs/          what-if runs: a run folder, its structure and its description
//   PROJECT/out/                  the batch output: surveys/NAME/..., results.sqlite
//
// A survey is a manifest row whose source is a device file; a what-if run is a row whose source is
// a run folder under inputs/runs/ (whatif.h).  Nothing here is kept anywhere else, so
// `basinfit-batch run PROJECT/manifest.csv --out PROJECT/out` reruns every run.  Failures are
// workbench Errors (error.h).

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "import/survey.h"
#include "options/survey_options.h"
#include "workbench/error.h"
#include "workbench/project_manifest.h"

namespace basinfit::workbench {

using Json = nlohmann::ordered_json;

class Project {
 public:
  // Opens the folder, creating it, inputs/, out/ and an empty manifest where missing.
  explicit Project(fs::path root);

  const fs::path& root() const { return root_; }
  fs::path inputs() const { return root_ / "inputs"; }
  fs::path out() const { return root_ / "out"; }
  fs::path manifest_file() const { return manifest_.file(); }
  fs::path database_file() const { return out() / "results.sqlite"; }

  // Every manifest row with what the results database records of it: name, source, structure,
  // kind ("survey" or "what-if"), the survey it belongs to, a what-if's description, the record.
  Json runs() const;
  // The files of inputs/ with their sizes, and the bytes the project's inputs take.
  Json input_files() const;
  std::uintmax_t input_bytes() const;

  // A device file of inputs/ becomes a survey: a manifest row named after the file, with its
  // structure file inputs/NAME.structure.csv (written by save_structure).  Returns the name.
  std::string add_survey(const std::string& file_name);

  // The options a survey's row gives ({key: text}), and new ones for it: each value checked by the
  // options' one validator before the row changes; an empty text takes the option away.
  Json survey_options(const std::string& survey) const;
  void set_survey_options(const std::string& survey, const Json& values);

  // The survey's device file read with its options, before any fit (survey_preview.h).
  Json preview(const std::string& survey) const;

  // The structure of a survey (or a what-if run) as the form shows it; the default form when none
  // is saved yet (with "saved": false).
  Json structure_form(const std::string& run) const;
  // Checks a form with the importer's structure reader (structure_form.h), and for a survey the
  // thickness range that covers each station ("coverage", -1 for none).
  Json check_structure(const Json& form, const std::string& survey) const;
  // Writes the survey's structure file once it reads.
  void save_structure(const std::string& survey, const Json& form);

  // A what-if run of `survey`: {"stations": [identifiers] (empty: all), "left_out":
  // {identifier: [drop sequence numbers]}, "structure": form, "note": text}.  Writes its files and
  // adds its manifest row; returns its name.
  std::string create_whatif(const std::string& survey, const Json& request);

  // The number of stations and drops a run will fit, counted from its files.
  std::pair<long, long> run_size(const std::string& run) const;

 private:
  struct SurveyFile {
    import::SourceSurvey survey;
    options::SurveyOptions options;
  };
  SurveyFile read_survey(const std::string& survey) const;
  std::size_t row_of(const ManifestRows& rows, const std::string& run) const;

  fs::path root_;
  ProjectManifest manifest_;
};

}  // namespace basinfit::workbench
