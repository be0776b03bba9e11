#include "workbench/project.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "common/csv.h"
#include "common/input_error.h"
#include "common/replacement_file.h"
#include "import/readers.h"
#include "import/run_folder.h"
#include "import/survey_files.h"
#include "import/units.h"
#include "network/manifest.h"
#include "results/data_checks.h"
#include "results/records.h"
#include "workbench/results_db.h"
#include "workbench/security.h"

namespace basinfit::workbench {
namespace {

namespace imp = basinfit::import;

const char* const kRunsFolder = "runs";

// A form value as the structure file writes it: numbers in their shortest exact form, text as
// given without line breaks (a line break would start another record).
std::string value_text(const Json& value) {
  if (value.is_null()) return "";
  if (value.is_number_integer()) return std::to_string(value.get<long long>());
  if (value.is_number()) {
    std::string text = value.dump();
    return text;
  }
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  std::string text = value.is_string() ? value.get<std::string>() : value.dump();
  std::erase_if(text, [](char c) { return c == '\n' || c == '\r' || c == '\0'; });
  return text;
}

std::string number_json_text(double v) {
  std::string text = Json(v).dump();
  if (text.size() > 2 && text.substr(text.size() - 2) == ".0") text.resize(text.size() - 2);
  return text;
}

// A device file read as basinfit-import reads it.
imp::SourceSurvey read_device_file(const fs::path& file) {
  return imp::read_survey({{file.string()}, {}, {}});
}

// The identifiers the engine will know the survey's test points by, in source order; where the
// importer would refuse the survey, what identifies each point in the source.
std::vector<std::string> station_identifiers(const imp::SourceSurvey& survey) {
  try {
    return imp::engine_identifiers(survey, imp::ImportOptions{});
  } catch (const InputError&) {
  }
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < survey.stations.size(); ++i) {
    const imp::SourceStation& st = survey.stations[i];
    ids.push_back(!st.identifier.empty() ? st.identifier
                  : st.chainage          ? number_json_text(*st.chainage)
                                         : "point " + std::to_string(i + 1));
  }
  return ids;
}

std::string first10(const std::string& id) {
  std::string s = id.substr(0, 10);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

StructureText structure_text(const Json& form) {
  StructureText out;
  const auto line = [&](const std::vector<std::string>& fields, const std::string& group, int index) {
    CsvRow row;
    for (const std::string& field : fields) row.plain(field);
    out.text += row.text() + "\n";
    out.line_rows.emplace_back(group, index);
  };
  line({"units", value_text(form.value("units", Json("metric")))}, "units", 0);
  if (const std::string title = value_text(form.value("title", Json(""))); !title.empty())
    line({"title", title}, "title", 0);
  const Json layers = form.value("layers", Json::array());
  for (std::size_t i = 0; i < layers.size(); ++i) {
    const Json& l = layers[i];
    const std::string type = value_text(l.value("type", Json("backcalculated")));
    std::vector<std::string> fields{"layer", std::to_string(i + 1), type,
                                    value_text(l.value("poisson", Json())),
                                    value_text(l.value("modulus", Json()))};
    if (type != "fixed") {
      fields.push_back(value_text(l.value("lower", Json())));
      fields.push_back(value_text(l.value("upper", Json())));
    }
    line(fields, "layer", static_cast<int>(i));
  }
  line({"stiff_layer", form.value("stiff_layer", false) ? "yes" : "no"}, "stiff", 0);
  const Json ranges = form.value("ranges", Json::array());
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const Json& r = ranges[i];
    std::vector<std::string> fields{"thickness", value_text(r.value("from", Json())),
                                    value_text(r.value("to", Json()))};
    for (const Json& h : r.value("thicknesses", Json::array())) fields.push_back(value_text(h));
    line(fields, "range", static_cast<int>(i));
  }
  const Json points = form.value("points", Json::array());
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Json& p = points[i];
    line({"point", value_text(p.value("radius", Json())), value_text(p.value("layer", Json())),
          value_text(p.value("position", Json()))},
         "point", static_cast<int>(i));
  }
  return out;
}

Json form_from_structure(const imp::Structure& s) {
  Json form;
  form["units"] = s.english ? "english" : "metric";
  form["title"] = s.title;
  form["layers"] = Json::array();
  for (const imp::StructureLayer& l : s.layers) {
    Json layer{{"type", l.type == 0 ? "backcalculated" : "fixed"},
               {"poisson", number_json_text(l.poisson)},
               {"modulus", number_json_text(l.modulus)}};
    layer["lower"] = l.type == 0 ? number_json_text(l.lower) : "";
    layer["upper"] = l.type == 0 ? number_json_text(l.upper) : "";
    form["layers"].push_back(layer);
  }
  form["stiff_layer"] = s.stiff_layer;
  form["ranges"] = Json::array();
  for (const imp::ThicknessRange& r : s.ranges) {
    Json range{{"from", r.from ? number_json_text(*r.from) : ""},
               {"to", r.to ? number_json_text(*r.to) : ""}};
    range["thicknesses"] = Json::array();
    for (double h : r.thicknesses) range["thicknesses"].push_back(number_json_text(h));
    form["ranges"].push_back(range);
  }
  form["points"] = Json::array();
  for (const imp::EvaluationPoint& p : s.points)
    form["points"].push_back({{"radius", number_json_text(p.radius)},
                              {"layer", std::to_string(p.layer)},
                              {"position", std::to_string(p.position)}});
  return form;
}

Project::Project(fs::path root) : root_(fs::absolute(std::move(root)).lexically_normal()) {
  fs::create_directories(inputs() / kRunsFolder);
  fs::create_directories(out());
  std::error_code ec;
  if (!fs::exists(manifest_file(), ec)) replace_file(manifest_file(), "name,source,structure\n", "manifest");
  read_rows();  // a manifest the workbench cannot read is refused now, not at the first click
}

Project::Manifest Project::read_rows() const {
  const CsvSheet csv = read_csv_sheet(imp::read_bytes(manifest_file().string()), manifest_file().string());
  Manifest m;
  m.header = csv.header;
  for (const std::string column : {"name", "source", "structure"})
    if (std::find(m.header.begin(), m.header.end(), column) == m.header.end())
      throw InputError(manifest_file().string(), 1, "expected the columns name, source and structure");
  for (const auto& cells : csv.rows) m.rows.push_back({cells});
  return m;
}

void Project::write_rows(const Manifest& m) const {
  const auto record = [](const std::vector<std::string>& cells) {
    CsvRow row;
    for (const std::string& cell : cells) row.plain(cell);
    return row.text() + "\n";
  };
  std::string text = record(m.header);
  for (const Row& row : m.rows) text += record(row.cells);
  replace_file(manifest_file(), text, "manifest");
}

std::string Project::cell(const Manifest& m, const Row& row, const std::string& column) const {
  const auto it = std::find(m.header.begin(), m.header.end(), column);
  const auto i = static_cast<std::size_t>(it - m.header.begin());
  return it == m.header.end() || i >= row.cells.size() ? std::string() : row.cells[i];
}

std::optional<std::size_t> Project::find_row(const Manifest& m, const std::string& name) const {
  for (std::size_t i = 0; i < m.rows.size(); ++i)
    if (cell(m, m.rows[i], "name") == name) return i;
  return std::nullopt;
}

Json Project::runs() const {
  std::lock_guard lock(mutex_);
  const Manifest m = read_rows();
  std::map<std::string, Json> recorded;
  for (Json& r : query_rows(database_file(),
                            "SELECT survey, status, stage, message, stations, drops, started_at, finished_at "
                            "FROM surveys"))
    recorded[r["survey"].get<std::string>()] = r;
  Json runs = Json::array();
  for (const Row& row : m.rows) {
    const std::string name = cell(m, row, "name");
    const std::string source = cell(m, row, "source");
    Json run{{"name", name}, {"source", source}, {"structure", cell(m, row, "structure")}};
    const bool whatif = source.rfind(std::string("inputs/") + kRunsFolder + "/", 0) == 0;
    run["kind"] = whatif ? "what-if" : "survey";
    run["survey"] = whatif ? name.substr(0, name.rfind(".w")) : name;
    if (whatif) {
      std::error_code ec;
      const fs::path description = inputs() / kRunsFolder / (name + ".json");
      if (fs::exists(description, ec))
        run["whatif"] = Json::parse(imp::read_bytes(description.string()), nullptr, false);
    }
    if (const auto it = recorded.find(name); it != recorded.end()) run["record"] = it->second;
    runs.push_back(run);
  }
  return runs;
}

Json Project::input_files() const {
  Json files = Json::array();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(inputs(), ec)) {
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    const std::string name = entry.path().filename().string();
    if (name.front() == '.') continue;
    files.push_back({{"name", name}, {"bytes", entry.file_size(ec)}});
  }
  std::sort(files.begin(), files.end(), [](const Json& a, const Json& b) { return a["name"] < b["name"]; });
  return files;
}

std::uintmax_t Project::input_bytes() const {
  std::uintmax_t total = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(inputs(), ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (ec) break;
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) total += it->file_size(ec);
  }
  return total;
}

std::string Project::add_survey(const std::string& file_name) {
  std::lock_guard lock(mutex_);
  const auto safe = safe_file_name(file_name);
  if (!safe || *safe != file_name)
    throw Error(Error::Kind::kBadRequest, "not a file name of the project's inputs: " + file_name);
  const fs::path file = inputs() / *safe;
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(file, ec)))
    throw Error(Error::Kind::kNotFound, "inputs/" + *safe + " is not a file of the project");
  Manifest m = read_rows();
  for (const Row& row : m.rows)
    if (cell(m, row, "source") == "inputs/" + *safe) return cell(m, row, "name");
  // The device file must be one the importer reads, or the row would only ever fail.
  try {
    read_device_file(file);
  } catch (const InputError& e) {
    throw refused(e);
  }
  const std::string stem = network::survey_name_from(*safe);
  std::string name = stem;
  for (int k = 2; find_row(m, name); ++k) name = stem + "-" + std::to_string(k);
  Row row;
  row.cells.resize(m.header.size());
  for (std::size_t i = 0; i < m.header.size(); ++i) {
    if (m.header[i] == "name") row.cells[i] = name;
    if (m.header[i] == "source") row.cells[i] = "inputs/" + *safe;
    if (m.header[i] == "structure") row.cells[i] = "inputs/" + name + ".structure.csv";
  }
  m.rows.push_back(row);
  write_rows(m);
  return name;
}

imp::SourceSurvey Project::read_survey(const std::string& survey) const {
  const Manifest m = read_rows();
  const auto row = find_row(m, survey);
  if (!row)
    throw Error(Error::Kind::kNotFound, "no run named '" + survey + "' in " + manifest_file().string());
  const std::string source = cell(m, m.rows[*row], "source");
  if (source.find(';') != std::string::npos || source.rfind(std::string("inputs/") + kRunsFolder, 0) == 0)
    throw Error(Error::Kind::kRefused, "'" + survey + "' is not a survey of one device file");
  try {
    return read_device_file(root_ / source);
  } catch (const InputError& e) {
    throw refused(e);
  }
}

Json Project::preview(const std::string& survey) const {
  std::lock_guard lock(mutex_);
  const imp::SourceSurvey s = read_survey(survey);
  const bool english = s.english();
  const imp::Unit force = english ? imp::Unit::kPoundForce : imp::Unit::kNewton;
  const imp::Unit deflection = english ? imp::Unit::kMil : imp::Unit::kMicron;
  const imp::Unit offset = english ? imp::Unit::kInch : imp::Unit::kCentimetre;
  const imp::Unit chainage = english ? imp::Unit::kFoot : imp::Unit::kMetre;

  // The sensors of the basin as the importer keeps them.
  struct Kept {
    std::size_t index;
    double offset;
  };
  std::vector<Kept> sensors;
  for (const imp::KeptSensor& k : imp::kept_sensors(s, imp::ImportOptions{}))
    sensors.push_back({k.index, imp::convert(k.offset, s.length_unit, offset)});

  RunSettings settings;
  settings.sensor_count = static_cast<int>(sensors.size());
  for (std::size_t k = 0; k < sensors.size(); ++k)
    settings.sensor_offset[k] = static_cast<float>(sensors[k].offset);
  const results::CheckLimits limits = results::CheckLimits::for_units(!english);
  constexpr std::uint32_t kRawData =
      results::kDeflectionNotPositive | results::kBasinNotDecreasing | results::kLoadOffLevel;
  const StationResults no_fit{};

  Json out;
  out["survey"] = survey;
  out["format"] = s.format;
  out["file"] = fs::path(s.file).filename().string();
  out["route"] = s.route;
  out["english"] = english;
  out["units"] = {{"load", imp::symbol(force)},
                  {"deflection", english ? "mils" : "um"},
                  {"offset", imp::symbol(offset)},
                  {"chainage", imp::symbol(chainage)}};
  out["offsets"] = Json::array();
  for (const Kept& k : sensors) out["offsets"].push_back(k.offset);
  const std::vector<std::string> ids = station_identifiers(s);
  out["stations"] = Json::array();
  long drops = 0;
  for (std::size_t i = 0; i < s.stations.size(); ++i) {
    const imp::SourceStation& st = s.stations[i];
    Json station{{"index", i + 1}, {"id", ids[i]}, {"lane", st.lane}};
    if (st.chainage) station["chainage"] = imp::convert(*st.chainage, s.chainage_unit, chainage);
    station["drops"] = Json::array();
    std::vector<const imp::SourceDrop*> ordered;
    for (const imp::SourceDrop& d : st.drops) ordered.push_back(&d);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto* a, const auto* b) { return a->sequence < b->sequence; });
    for (const imp::SourceDrop* d : ordered) {
      ++drops;
      StationData data;
      Json drop{{"seq", d->sequence}};
      Json basin = Json::array();
      for (std::size_t k = 0; k < sensors.size(); ++k) {
        const auto& v =
            sensors[k].index < d->deflections.size() ? d->deflections[sensors[k].index] : std::nullopt;
        const double value = v ? imp::convert(*v, s.deflection_unit, deflection) : 0.0;
        data.measured[0][k] = static_cast<float>(value);
        basin.push_back(v ? Json(value) : Json());
      }
      results::CheckLimits drop_limits = limits;
      if (d->load) {
        const double load = imp::convert(*d->load, s.load_unit, force);
        data.load[0] = static_cast<float>(load);
        drop["load"] = load;
      } else {
        drop_limits.load_levels.clear();
      }
      if (d->height) drop["height"] = *d->height;
      drop["basin"] = basin;
      drop["flags"] =
          results::flag_names(results::check_drop(settings, data, no_fit, 1, drop_limits) & kRawData);
      if (!d->problem.empty()) drop["problem"] = d->problem;
      drop["where"] = d->ref.text();
      station["drops"].push_back(drop);
    }
    out["stations"].push_back(station);
  }
  out["drops"] = drops;
  out["notes"] = s.notes;
  return out;
}

Json Project::structure_form(const std::string& run) const {
  std::lock_guard lock(mutex_);
  const Manifest m = read_rows();
  const auto row = find_row(m, run);
  if (!row) throw Error(Error::Kind::kNotFound, "no run named '" + run + "'");
  const std::string structure = cell(m, m.rows[*row], "structure");
  std::error_code ec;
  if (!structure.empty() && fs::exists(root_ / structure, ec)) {
    try {
      return form_from_structure(imp::read_structure((root_ / structure).string()));
    } catch (const InputError& e) {
      Json form = Json::object();
      form["error"] = e.what();
      return form;
    }
  }
  // A starting point for a three-layer flexible pavement; the engineer sets the thicknesses.
  return Json::parse(R"({"units":"metric","title":"","stiff_layer":false,
    "layers":[{"type":"backcalculated","poisson":"0.35","modulus":"3000","lower":"500","upper":"20000"},
              {"type":"backcalculated","poisson":"0.35","modulus":"300","lower":"50","upper":"3000"},
              {"type":"backcalculated","poisson":"0.45","modulus":"60","lower":"10","upper":"500"}],
    "ranges":[{"from":"","to":"","thicknesses":["15","30"]}],"points":[]})");
}

Json Project::check_structure(const Json& form, const std::string& survey) const {
  const StructureText text = structure_text(form);
  Json result;
  try {
    const imp::Structure s = imp::parse_structure(text.text, "structure");
    result["ok"] = true;
    result["message"] = "";
    if (!survey.empty()) {
      std::lock_guard lock(mutex_);
      const imp::SourceSurvey source = read_survey(survey);
      const imp::Unit unit = s.english ? imp::Unit::kFoot : imp::Unit::kMetre;
      result["coverage"] = Json::array();
      for (const imp::SourceStation& st : source.stations) {
        std::optional<double> at;
        if (st.chainage) at = imp::convert(*st.chainage, source.chainage_unit, unit);
        const imp::ThicknessRange* range = s.thickness_at(at);
        result["coverage"].push_back(range ? static_cast<int>(range - s.ranges.data()) : -1);
      }
    }
  } catch (const InputError& e) {
    result["ok"] = false;
    result["message"] = e.reason();
    result["line"] = e.line();
    if (e.line() >= 1 && static_cast<std::size_t>(e.line()) <= text.line_rows.size()) {
      result["group"] = text.line_rows[static_cast<std::size_t>(e.line() - 1)].first;
      result["index"] = text.line_rows[static_cast<std::size_t>(e.line() - 1)].second;
    } else {
      result["group"] = "structure";
      result["index"] = 0;
    }
  }
  return result;
}

void Project::save_structure(const std::string& survey, const Json& form) {
  const Json check = check_structure(form, "");
  if (!check["ok"].get<bool>())
    throw Error(Error::Kind::kRefused, "structure: " + check["message"].get<std::string>());
  std::lock_guard lock(mutex_);
  const Manifest m = read_rows();
  const auto row = find_row(m, survey);
  if (!row) throw Error(Error::Kind::kNotFound, "no run named '" + survey + "'");
  const std::string structure = cell(m, m.rows[*row], "structure");
  if (structure.rfind("inputs/", 0) != 0 || structure.find("..") != std::string::npos)
    throw Error(Error::Kind::kConflict, "the structure of '" + survey + "' is " + structure +
                                            ", outside the workbench's inputs; edit it there");
  replace_file(root_ / structure,
               "# Pavement structure written by basinfit-workbench\n" + structure_text(form).text,
               "structure file");
}

std::string Project::create_whatif(const std::string& survey, const Json& request) {
  const Json form = request.value("structure", Json::object());
  const Json check = check_structure(form, "");
  if (!check["ok"].get<bool>())
    throw Error(Error::Kind::kRefused, "structure: " + check["message"].get<std::string>());
  std::lock_guard lock(mutex_);
  imp::SourceSurvey source = read_survey(survey);
  const std::vector<std::string> ids = station_identifiers(source);
  std::set<std::string> wanted;
  for (const Json& id : request.value("stations", Json::array()))
    wanted.insert(first10(id.get<std::string>()));
  const Json left_out = request.value("left_out", Json::object());
  std::vector<imp::SourceStation> kept;
  int dropped = 0;
  for (std::size_t i = 0; i < source.stations.size(); ++i) {
    if (!wanted.empty() && !wanted.count(first10(ids[i]))) continue;
    imp::SourceStation st = source.stations[i];
    for (const auto& [id, sequences] : left_out.items()) {
      if (first10(id) != first10(ids[i])) continue;
      std::erase_if(st.drops, [&](const imp::SourceDrop& d) {
        for (const Json& q : sequences)
          if (q.is_number_integer() && q.get<int>() == d.sequence) return ++dropped, true;
        return false;
      });
    }
    kept.push_back(std::move(st));
  }
  if (kept.empty()) throw Error(Error::Kind::kRefused, "no station of '" + survey + "' is selected");
  source.stations = std::move(kept);

  Manifest m = read_rows();
  if (!find_row(m, survey)) throw Error(Error::Kind::kNotFound, "no run named '" + survey + "'");
  std::string name;
  for (int k = 1; name.empty() || find_row(m, name); ++k) name = survey + ".w" + std::to_string(k);
  const fs::path runs = inputs() / kRunsFolder;
  const StructureText text = structure_text(form);
  const fs::path structure_file = runs / (name + ".structure.csv");
  try {
    const imp::Structure structure = imp::parse_structure(text.text, structure_file.string());
    const imp::RunInput input = imp::assemble_run(source, structure, imp::ImportOptions{});
    imp::write_run_folder((runs / name).string(), input, false);
  } catch (const InputError& e) {
    std::error_code ec;
    fs::remove_all(runs / name, ec);
    throw refused(e);
  }
  replace_file(structure_file,
               "# Pavement structure of a what-if run written by basinfit-workbench\n" + text.text,
               "structure file");
  Json description{{"survey", survey},
                   {"stations", request.value("stations", Json::array())},
                   {"left_out", left_out},
                   {"drops_left_out", dropped},
                   {"note", request.value("note", std::string())}};
  replace_file(runs / (name + ".json"), description.dump(2) + "\n", "what-if description");
  Row row;
  row.cells.resize(m.header.size());
  for (std::size_t i = 0; i < m.header.size(); ++i) {
    if (m.header[i] == "name") row.cells[i] = name;
    if (m.header[i] == "source") row.cells[i] = std::string("inputs/") + kRunsFolder + "/" + name;
    if (m.header[i] == "structure")
      row.cells[i] = std::string("inputs/") + kRunsFolder + "/" + name + ".structure.csv";
  }
  m.rows.push_back(row);
  write_rows(m);
  return name;
}

std::pair<long, long> Project::run_size(const std::string& run) const {
  std::lock_guard lock(mutex_);
  const Manifest m = read_rows();
  const auto row = find_row(m, run);
  if (!row) throw Error(Error::Kind::kNotFound, "no run named '" + run + "'");
  const std::string source = cell(m, m.rows[*row], "source");
  long stations = 0, drops = 0;
  try {
    if (source.rfind(std::string("inputs/") + kRunsFolder + "/", 0) == 0) {
      const imp::RunFolderContents folder = imp::read_run_folder(root_ / source);
      stations = static_cast<long>(folder.stations.size());
      drops = folder.drops();
    } else {
      const imp::SourceSurvey s = read_device_file(root_ / source);
      stations = static_cast<long>(s.stations.size());
      for (const auto& st : s.stations) drops += static_cast<long>(st.drops.size());
    }
  } catch (const InputError&) {
  }
  return {stations, drops};
}

}  // namespace basinfit::workbench
