#pragma once
// A workbench project is a network folder that basinfit-batch runs as well:
//
//   PROJECT/manifest.csv          one row per run (the batch manifest)
//   PROJECT/inputs/               uploaded device files and each survey's structure file
//   PROJECT/inputs/runs/          what-if runs: a run folder, its structure and its description
//   PROJECT/out/                  the batch output: surveys/NAME/..., results.sqlite
//
// A survey is a manifest row whose source is a device file; a what-if run is a row NAME.wK whose
// source is a run folder the importer wrote from that survey's device file with only some
// stations, some drops left out or another structure.  Nothing here is kept anywhere else, so
// `basinfit-batch run PROJECT/manifest.csv --out PROJECT/out` reruns every run.

#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "import/structure.h"
#include "import/survey.h"
#include "workbench/error.h"

namespace basinfit::workbench {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

class Project {
 public:
  // Opens the folder, creating it, inputs/, out/ and an empty manifest where missing.
  explicit Project(fs::path root);

  const fs::path& root() const { return root_; }
  fs::path inputs() const { return root_ / "inputs"; }
  fs::path out() const { return root_ / "out"; }
  fs::path manifest_file() const { return root_ / "manifest.csv"; }
  fs::path database_file() const { return out() / "results.sqlite"; }

  // Every manifest row with what the results database records of it.
  Json runs() const;
  // The files of inputs/ with their sizes, and the bytes the project's inputs take.
  Json input_files() const;
  std::uintmax_t input_bytes() const;

  // A device file of inputs/ becomes a survey: a manifest row named after the file, with its
  // structure file inputs/NAME.structure.csv (written by save_structure).  Returns the name.
  std::string add_survey(const std::string& file_name);

  // The survey's device file read by the importer's readers, before any fit: its stations along
  // the chainage and every drop with its basin and the raw-data flags the engine would raise.
  Json preview(const std::string& survey) const;

  // The structure of a survey (or a what-if run) as the form shows it; a form of three layers
  // when none is saved yet.
  Json structure_form(const std::string& run) const;
  // Checks a form with the importer's structure reader: {"ok", "message", "group", "index"}
  // naming the form row the message belongs to, and for a survey the thickness range that
  // covers each station ("coverage", -1 for none).
  Json check_structure(const Json& form, const std::string& survey) const;
  // Writes the survey's structure file (under a temporary name, then renamed) once it reads.
  void save_structure(const std::string& survey, const Json& form);

  // A what-if run of `survey`: {"stations": [identifiers] (empty: all), "left_out":
  // {identifier: [drop sequence numbers]}, "structure": form}.  Writes its run folder and
  // structure and adds its manifest row; returns its name.
  std::string create_whatif(const std::string& survey, const Json& request);

  // The number of stations and drops a run will fit, counted from its files.
  std::pair<long, long> run_size(const std::string& run) const;

 private:
  struct Row {
    std::vector<std::string> cells;  // in the manifest's column order
  };
  struct Manifest {
    std::vector<std::string> header;
    std::vector<Row> rows;
  };
  Manifest read_rows() const;
  void write_rows(const Manifest& manifest) const;
  std::optional<std::size_t> find_row(const Manifest& m, const std::string& name) const;
  std::string cell(const Manifest& m, const Row& row, const std::string& column) const;
  import::SourceSurvey read_survey(const std::string& survey) const;

  fs::path root_;
  mutable std::mutex mutex_;  // the manifest and the files under inputs/
};

// The structure file's text for a form, and for each of its lines the form row it came from
// ({group, index}: "units", "layer" i, "stiff", "range" i, "point" i).
struct StructureText {
  std::string text;
  std::vector<std::pair<std::string, int>> line_rows;  // index 0 is line 1
};
StructureText structure_text(const Json& form);
Json form_from_structure(const import::Structure& structure);

}  // namespace basinfit::workbench
