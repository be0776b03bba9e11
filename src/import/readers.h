#pragma once
// The survey readers and the detection of a file's format from its content.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import/survey.h"

namespace basinfit::import {

enum class Format { kPddx, kLtpp, kGenericCsv, kF25 };

const char* format_name(Format format);
std::optional<Format> parse_format(std::string_view word);  // pddx, ltpp, csv, f25

struct InputFile {
  std::string name;
  std::string text;
};

// The format a file's content shows: a PDDX heading or key; an LTPP deflection table header;
// F25 records (a 50xx record first and a 5020 record); else a CSV with a header row.
// Nothing when the content fits none of them.
std::optional<Format> detect_format(std::string_view text);

struct ReaderOptions {
  // LTPP: which section (state code and SHRP id, "99-0999" or "990999"), test date and lane.
  std::string section;
  std::string test_date;
  std::string lane;
  bool any_record_status = false;  // LTPP: also rows below quality level E
  // Generic CSV: role=column pairs, delimiter (0: guessed) and decimal mark.
  std::vector<std::pair<std::string, std::string>> columns;
  char delimiter = 0;
  char decimal = '.';
  // Units of a source that does not declare them (generic CSV, F25); nothing: the source default.
  std::optional<bool> english;
  std::optional<Unit> load_unit;
  std::optional<Unit> deflection_unit;
  std::optional<Unit> offset_unit;  // sensor offsets and plate radius
  std::optional<Unit> temperature_unit;
  std::optional<Unit> chainage_unit;
  std::optional<double> plate_radius;  // in offset_unit
  std::vector<double> offsets;         // in offset_unit, one per deflection column
};

SourceSurvey read_pddx(const InputFile& file);
SourceSurvey read_ltpp(const std::vector<InputFile>& files, const ReaderOptions& options);
SourceSurvey read_generic_csv(const InputFile& file, const ReaderOptions& options);
SourceSurvey read_f25(const InputFile& file, const ReaderOptions& options);

}  // namespace basinfit::import
