#pragma once
// One survey read from its device files, as every front end reads it (basinfit-import, the
// batch, the workbench), and what the engine will make of it before a run folder is written:
// the identifier each test point gets and the sensors the basin keeps.
//
//   const SourceSurvey survey = read_survey({{"route12.pdx"}, std::nullopt, {}});
//   const auto ids = engine_identifiers(survey, ImportOptions{});
//   const auto sensors = kept_sensors(survey, ImportOptions{});

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "import/readers.h"
#include "import/run_folder.h"
#include "import/survey.h"

namespace basinfit::import {

// Where a survey comes from and how its files are read.
struct SurveySource {
  // One device file, or the LTPP tables of one section (the files, or the folder holding them).
  std::vector<std::string> files;
  std::optional<Format> format;  // nothing: detected from each file's content
  ReaderOptions reader;
};

// The files `names` stands for: a folder stands for the .csv files it holds, sorted.  Throws
// InputError (file system) for a folder without one.
std::vector<std::string> source_file_names(const std::vector<std::string>& names);

// Reads the source's files (each up to kMaxSurveyBytes) and the survey they hold.  Throws
// InputError naming the file, the line and what was expected: a file of no format read here, a
// file of another format among the others, several files of a format that takes one.
SourceSurvey read_survey(const SurveySource& source);

// The format of the files: the one forced, or the one their content shows (LTPP tables win
// among several files).  Throws InputError as read_survey does.
Format choose_format(const std::vector<InputFile>& files, std::optional<Format> forced);

// The identifier the engine will know each test point by, in source order, with the import
// `options` (unit system, prefix, plus notation): the source's own identifier where it has one,
// else one built from the chainage (and the lane, when the survey has several lanes).  Throws
// InputError naming a test point that has neither.
std::vector<std::string> engine_identifiers(const SourceSurvey& survey, const ImportOptions& options);

// A sensor the basin keeps: its place in the source's sensor list, its number in the source and
// its radial offset from the load, in the survey's length unit.
struct KeptSensor {
  std::size_t index = 0;
  int number = 0;
  double offset = 0;
};
// The sensors of the basin with `options`, in order of offset: the chosen ones (or all) in front
// of the plate, at most the engine's ten nearest the plate.  What is left out is told in
// `notes` when given.  Throws InputError for a chosen sensor the survey does not have.
std::vector<KeptSensor> kept_sensors(const SourceSurvey& survey, const ImportOptions& options,
                                     std::vector<std::string>* notes = nullptr);

}  // namespace basinfit::import
