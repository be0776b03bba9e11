#pragma once
// The manifest of a network: one row per survey, read from a CSV file with a header row.
//
//   name       unique; a survey name (is_survey_name below)
//   source     a run folder holding control.txt, or device files separated by ';' (LTPP tables
//              may be given as their folder)
//   structure  the pavement structure file (required for device files; a run folder's general
//              data file holds its layers, so a structure given for one is not read: a note
//              says so, and it is no part of the survey's record or resume key)
// and optional columns, one for every option a survey can need (options/survey_options.h: how
// its device files are read, how its run folder is written, what its results analyse), empty
// meaning the option's default; a list is written with ';' or ','.
// Relative paths are taken relative to the manifest's folder.  Every value is checked when the
// manifest is read, so a malformed manifest is refused before any survey runs.

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "options/survey_options.h"

namespace basinfit::network {

struct ManifestEntry {
  std::string name;
  std::vector<std::filesystem::path> sources;  // absolute
  std::filesystem::path structure;             // absolute, or empty (always for a run folder)
  bool run_folder = false;                     // the source is a run folder with its control file
  // The option columns given for this survey, typed, with the text of each.
  options::SurveyOptions options;
  int row = 0;  // line of the manifest

  // The options as one canonical text ("column=value;..."), part of the survey's resume key.
  std::string options_text() const;
};

struct Manifest {
  std::filesystem::path file;
  std::vector<ManifestEntry> surveys;
  // What the manifest says that the batch does not use, each naming the file, the line and the
  // column, for the program to tell its user (a structure given for a run folder).
  std::vector<std::string> notes;
};

// A survey's name names its folder under DIR/surveys/, its database rows and its downloads:
// letters, digits, '.', '_' and '-', not starting with '.' (a hidden file) or '-' (an option
// on a command line), at most kMaxSurveyName characters.
inline constexpr std::size_t kMaxSurveyName = 100;
bool is_survey_name(std::string_view name);
// A survey name made from a file name's stem (other characters become '-'), short enough for
// the suffixes a project adds ("-2", ".w12"); "survey" when nothing is left.
std::string survey_name_from(std::string_view file_name);

// Throws InputError naming the manifest, the line and the column on any malformed row.
Manifest read_manifest(const std::filesystem::path& file);

}  // namespace basinfit::network
