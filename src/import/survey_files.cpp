#include "import/survey_files.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "common/input_error.h"
#include "import/internal/chainage_text.h"
#include "import/structure.h"
#include "import/text_values.h"
#include "run/run_state.h"

namespace basinfit::import {
namespace {

// Blanks, commas and tabs would end the identifier in the engine's station header.
std::string identifier_text(std::string id) {
  for (char& c : id)
    if (c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n') c = '_';
  return id;
}

}  // namespace

std::string chainage_text(double chainage, bool english, bool plus) {
  char buffer[400];  // "%.3f" of the largest double has 313 digits before the point
  const double rounded = std::round(chainage * 1000.0) / 1000.0;
  auto plain = [&](double v) {
    std::snprintf(buffer, sizeof buffer, "%.3f", v);
    std::string t = buffer;
    while (t.back() == '0') t.pop_back();
    if (t.back() == '.') t.pop_back();
    if (t == "-0") t = "0";
    return t;
  };
  if (!plus || rounded < 0) return plain(rounded);
  const double step = english ? 100.0 : 1000.0;
  const double whole = std::floor(rounded / step);
  const double rest = rounded - whole * step;
  std::string r = plain(rest);
  const std::size_t digits = english ? 2 : 3;
  const std::size_t int_digits = r.find('.') == std::string::npos ? r.size() : r.find('.');
  if (int_digits < digits) r.insert(0, digits - int_digits, '0');
  return plain(whole) + "+" + r;
}

std::vector<std::string> source_file_names(const std::vector<std::string>& names) {
  std::vector<std::string> files;
  for (const std::string& name : names) {
    std::error_code ec;
    if (!std::filesystem::is_directory(name, ec)) {
      files.push_back(name);
      continue;
    }
    std::vector<std::string> inside;
    for (const auto& entry : std::filesystem::directory_iterator(name, ec))
      if (entry.is_regular_file() && lower(entry.path().extension().string()) == ".csv")
        inside.push_back(entry.path().string());
    std::sort(inside.begin(), inside.end());
    if (inside.empty())
      throw InputError(name, 0, "the folder holds no .csv file", InputError::Kind::kFileSystem);
    files.insert(files.end(), inside.begin(), inside.end());
  }
  return files;
}

Format choose_format(const std::vector<InputFile>& files, std::optional<Format> forced) {
  std::optional<Format> format = forced;
  if (!format) {
    for (const InputFile& f : files) {
      const auto found = detect_format(f.text);
      if (!found)
        throw InputError(f.name, 0,
                         "not a format read here (PDDX, LTPP tables, CSV with a header row, F25); older "
                         "native device files (Dynatest .FWD, KUAB, JILS) need converting to PDDX first");
      if (format && *found != *format && !(*format == Format::kLtpp || *found == Format::kLtpp))
        throw InputError(
            f.name, 0,
            std::string("a ") + format_name(*found) + " file among " + format_name(*format) + " files");
      if (!format || *found == Format::kLtpp) format = found;
    }
  }
  if (!format) throw InputError("", 0, "no survey file given");
  if (*format != Format::kLtpp && files.size() != 1)
    throw InputError(files[1].name, 0, "one survey file at a time (several files only for LTPP tables)");
  return *format;
}

SourceSurvey read_survey(const SurveySource& source) {
  std::vector<InputFile> files;
  for (const std::string& name : source_file_names(source.files)) files.push_back({name, read_bytes(name)});
  switch (choose_format(files, source.format)) {
    case Format::kPddx:
      return read_pddx(files[0]);
    case Format::kLtpp:
      return read_ltpp(files, source.reader);
    case Format::kGenericCsv:
      return read_generic_csv(files[0], source.reader);
    case Format::kF25:
      break;
  }
  return read_f25(files[0], source.reader);
}

std::vector<std::string> engine_identifiers(const SourceSurvey& survey, const ImportOptions& options) {
  const bool english = options.english.value_or(survey.english());
  const Unit chainage_unit = english ? Unit::kFoot : Unit::kMetre;
  // The lane goes into identifiers built from the chainage when the survey holds several.
  std::vector<std::string> lanes;
  for (const SourceStation& st : survey.stations)
    if (!st.lane.empty() && std::find(lanes.begin(), lanes.end(), st.lane) == lanes.end())
      lanes.push_back(st.lane);
  const bool lane_in_id = lanes.size() > 1;
  std::vector<std::string> ids;
  for (const SourceStation& st : survey.stations) {
    if (!st.identifier.empty()) {
      ids.push_back(identifier_text(st.identifier));
      continue;
    }
    if (!st.chainage)
      throw InputError(st.ref.file, st.ref.line,
                       (st.ref.where.empty() ? "" : st.ref.where + ": ") +
                           std::string("the test point has neither an identifier nor a chainage"));
    std::string id =
        options.station_prefix + chainage_text(convert(*st.chainage, survey.chainage_unit, chainage_unit),
                                               english, options.plus_notation);
    if (lane_in_id) {
      std::string code;
      for (char c : st.lane)
        if (std::isalnum(static_cast<unsigned char>(c))) code.push_back(c);
      id += "_" + code;
    }
    ids.push_back(identifier_text(id));
  }
  return ids;
}

std::vector<KeptSensor> kept_sensors(const SourceSurvey& survey, const ImportOptions& options,
                                     std::vector<std::string>* notes) {
  const auto note = [&](const std::string& text) {
    if (notes) notes->push_back(text);
  };
  for (int n : options.sensors) {
    const bool exists = std::any_of(survey.sensors.begin(), survey.sensors.end(),
                                    [n](const SourceSensor& s) { return s.number == n; });
    if (!exists) throw InputError("--sensors", 0, "the survey has no sensor " + std::to_string(n));
  }
  std::vector<KeptSensor> kept;
  for (std::size_t i = 0; i < survey.sensors.size(); ++i) {
    const SourceSensor& s = survey.sensors[i];
    const bool chosen = options.sensors.empty() || std::find(options.sensors.begin(), options.sensors.end(),
                                                             s.number) != options.sensors.end();
    if (!chosen) continue;
    if (s.x < 0) {
      note(
          survey.geometry.text() + ": sensor " + std::to_string(s.number) + " sits " + number_text(-s.x) +
          " " + symbol(survey.length_unit) +
          " behind the plate and is left out of the basin (the engine takes offsets from the load forwards)");
      continue;
    }
    kept.push_back({i, s.number, std::hypot(s.x, s.y)});
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const KeptSensor& a, const KeptSensor& b) { return a.offset < b.offset; });
  if (kept.size() > static_cast<std::size_t>(kMaxSensors)) {
    note(survey.geometry.text() + ": " + std::to_string(kept.size()) +
         " sensors in front of the plate; the " + std::to_string(kMaxSensors) +
         " nearest the plate are kept (choose others with --sensors)");
    kept.resize(kMaxSensors);
  }
  return kept;
}

}  // namespace basinfit::import
