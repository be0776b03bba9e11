#include "workbench/project.h"

#include <algorithm>
#include <map>

#include "common/input_error.h"
#include "common/replacement_file.h"
#include "import/readers.h"
#include "import/run_folder.h"
#include "import/structure.h"
#include "import/survey_files.h"
#include "network/manifest.h"
#include "workbench/internal/results_db.h"
#include "workbench/security.h"
#include "workbench/internal/structure_form.h"
#include "workbench/internal/survey_preview.h"
#include "workbench/internal/whatif.h"

namespace basinfit::workbench {
namespace {

namespace imp = basinfit::import;

const char* const kRunsFolder = "runs";

std::string runs_prefix() { return std::string("inputs/") + kRunsFolder + "/"; }

bool is_whatif_source(const std::string& source) { return source.rfind(runs_prefix(), 0) == 0; }

// A device file read as basinfit-import reads it with the options given.
imp::SourceSurvey read_device_file(const fs::path& file, const options::SurveyOptions& options) {
  try {
    return imp::read_survey({{file.string()}, options.format, options.reader});
  } catch (const InputError& e) {
    throw refused(e);
  }
}

// The project's folders made where missing; the manifest's name.
fs::path prepared_manifest(const fs::path& root) {
  fs::create_directories(root / "inputs" / kRunsFolder);
  fs::create_directories(root / "out");
  return root / "manifest.csv";
}

}  // namespace

Project::Project(fs::path root)
    : root_(fs::absolute(std::move(root)).lexically_normal()), manifest_(prepared_manifest(root_)) {}

std::size_t Project::row_of(const ManifestRows& rows, const std::string& run) const {
  const auto row = rows.find(run);
  if (!row) throw Error(Error::Kind::kNotFound, "no run named '" + run + "' in " + manifest_file().string());
  return *row;
}

Json Project::runs() const {
  const ManifestRows m = manifest_.read();
  std::map<std::string, Json> recorded;
  for (Json& r : query_rows(database_file(),
                            "SELECT survey, status, stage, message, stations, drops, started_at, finished_at "
                            "FROM surveys"))
    recorded[r["survey"].get<std::string>()] = r;
  Json runs = Json::array();
  for (std::size_t i = 0; i < m.rows.size(); ++i) {
    const std::string name = m.cell(i, "name");
    const std::string source = m.cell(i, "source");
    Json run{{"name", name}, {"source", source}, {"structure", m.cell(i, "structure")}};
    const bool whatif = is_whatif_source(source);
    run["kind"] = whatif ? "what-if" : "survey";
    run["survey"] = name;
    if (whatif) {
      // The survey a what-if belongs to is in its description, never guessed from its name.
      std::error_code ec;
      const fs::path description = inputs() / kRunsFolder / (name + ".json");
      if (fs::exists(description, ec)) {
        run["whatif"] = Json::parse(imp::read_bytes(description.string()), nullptr, false);
        if (run["whatif"].is_object()) run["survey"] = run["whatif"].value("survey", name);
      }
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
  const auto safe = safe_file_name(file_name);
  if (!safe || *safe != file_name)
    throw Error(Error::Kind::kBadRequest, "not a file name of the project's inputs: " + file_name);
  const fs::path file = inputs() / *safe;
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(file, ec)))
    throw Error(Error::Kind::kNotFound, "inputs/" + *safe + " is not a file of the project");
  const std::string source = "inputs/" + *safe;
  {
    const ManifestRows m = manifest_.read();
    for (std::size_t i = 0; i < m.rows.size(); ++i)
      if (m.cell(i, "source") == source) return m.cell(i, "name");
  }
  // The device file must be of a format the importer reads, or the row would only ever fail.  A
  // CSV file may need the survey's options (its plate radius, offsets, units) before it reads:
  // those are set on the survey afterwards, and its preview says what is missing until then.
  try {
    imp::read_survey({{file.string()}, {}, {}});
  } catch (const InputError& e) {
    if (imp::detect_format(imp::read_bytes(file.string())) != imp::Format::kGenericCsv) throw refused(e);
  }
  return manifest_.change([&](ManifestRows& m) {
    for (std::size_t i = 0; i < m.rows.size(); ++i)
      if (m.cell(i, "source") == source) return m.cell(i, "name");
    const std::string stem = network::survey_name_from(*safe);
    std::string name = stem;
    for (int k = 2; m.find(name); ++k) name = stem + "-" + std::to_string(k);
    m.add({{"name", name}, {"source", source}, {"structure", "inputs/" + name + ".structure.csv"}});
    return name;
  });
}

Json Project::survey_options(const std::string& survey) const {
  const ManifestRows m = manifest_.read();
  const options::SurveyOptions options = m.options(row_of(m, survey), manifest_file().string());
  Json values = Json::object();
  for (const auto& [key, text] : options.given) values[key] = text;
  return values;
}

void Project::set_survey_options(const std::string& survey, const Json& values) {
  if (!values.is_object()) throw Error(Error::Kind::kBadRequest, "expected an object of option values");
  manifest_.change([&](ManifestRows& m) {
    const std::size_t row = row_of(m, survey);
    for (const auto& [key, value] : values.items()) {
      const options::OptionSpec* spec = options::find(key);
      if (!spec || spec->key != key) throw Error(Error::Kind::kBadRequest, "no option '" + key + "'");
      if (!value.is_string()) throw Error(Error::Kind::kBadRequest, "option '" + key + "': expected text");
      m.set(row, key, value.get<std::string>());
    }
    // The row as a whole must read, by the same validator the batch applies.
    const options::SurveyOptions options = m.options(row, manifest_file().string());
    if (const auto refusal = options::check(options))
      throw Error(Error::Kind::kRefused, refusal->option + ": " + refusal->reason);
    return 0;
  });
}

Project::SurveyFile Project::read_survey(const std::string& survey) const {
  const ManifestRows m = manifest_.read();
  const std::size_t row = row_of(m, survey);
  const std::string source = m.cell(row, "source");
  if (source.find(';') != std::string::npos || is_whatif_source(source))
    throw Error(Error::Kind::kRefused, "'" + survey + "' is not a survey of one device file");
  options::SurveyOptions options = m.options(row, manifest_file().string());
  return {read_device_file(root_ / source, options), std::move(options)};
}

Json Project::preview(const std::string& survey) const {
  const SurveyFile file = read_survey(survey);
  return survey_preview(survey, file.survey, file.options.import);
}

Json Project::structure_form(const std::string& run) const {
  const ManifestRows m = manifest_.read();
  const std::string structure = m.cell(row_of(m, run), "structure");
  std::error_code ec;
  if (structure.empty() || !fs::exists(root_ / structure, ec)) {
    Json form = default_structure_form();
    form["saved"] = false;
    return form;
  }
  try {
    Json form = form_from_structure(imp::read_structure((root_ / structure).string()));
    form["saved"] = true;
    return form;
  } catch (const InputError& e) {
    throw refused(e);
  }
}

Json Project::check_structure(const Json& form, const std::string& survey) const {
  const FormCheck check = check_structure_form(form);
  Json answer = check.answer;
  if (check.structure && !survey.empty())
    answer["coverage"] = thickness_coverage(*check.structure, read_survey(survey).survey);
  return answer;
}

void Project::save_structure(const std::string& survey, const Json& form) {
  const FormCheck check = check_structure_form(form);
  if (!check.structure)
    throw Error(Error::Kind::kRefused, "structure: " + check.answer["message"].get<std::string>());
  const ManifestRows m = manifest_.read();
  const std::string structure = m.cell(row_of(m, survey), "structure");
  if (structure.rfind("inputs/", 0) != 0 || structure.find("..") != std::string::npos)
    throw Error(Error::Kind::kConflict, "the structure of '" + survey + "' is " + structure +
                                            ", outside the workbench's inputs; edit it there");
  replace_file(root_ / structure,
               "# Pavement structure written by basinfit-workbench\n" + structure_text(form).text,
               "structure file");
}

std::string Project::create_whatif(const std::string& survey, const Json& request) {
  WhatIfRequest what{survey, request.value("stations", Json::array()),
                     request.value("left_out", Json::object()), request.value("structure", Json::object()),
                     request.value("note", std::string())};
  const FormCheck check = check_structure_form(what.structure);
  if (!check.structure)
    throw Error(Error::Kind::kRefused, "structure: " + check.answer["message"].get<std::string>());
  SurveyFile file = read_survey(survey);
  // The name is taken and the files written under the manifest's lock, so two what-ifs of one
  // survey made at once get names of their own.
  return manifest_.change([&](ManifestRows& m) {
    row_of(m, survey);
    std::string name;
    for (int k = 1; name.empty() || m.find(name); ++k) name = survey + ".w" + std::to_string(k);
    write_whatif(inputs() / kRunsFolder, name, std::move(file.survey), file.options.import, what);
    m.add({{"name", name},
           {"source", runs_prefix() + name},
           {"structure", runs_prefix() + name + ".structure.csv"}});
    return name;
  });
}

std::pair<long, long> Project::run_size(const std::string& run) const {
  const ManifestRows m = manifest_.read();
  const std::size_t row = row_of(m, run);
  const std::string source = m.cell(row, "source");
  long stations = 0, drops = 0;
  try {
    if (is_whatif_source(source)) {
      const imp::RunFolderContents folder = imp::read_run_folder(root_ / source);
      stations = static_cast<long>(folder.stations.size());
      drops = folder.drops();
    } else {
      const SurveyFile file = read_survey(run);
      stations = static_cast<long>(file.survey.stations.size());
      for (const auto& st : file.survey.stations) drops += static_cast<long>(st.drops.size());
    }
  } catch (const InputError&) {
  } catch (const Error&) {
  }
  return {stations, drops};
}

}  // namespace basinfit::workbench
