#include "network/manifest.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <set>

#include "common/csv.h"
#include "common/input_error.h"
#include "import/structure.h"

namespace basinfit::network {
namespace {

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool is_survey_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxSurveyName || name[0] == '.' || name[0] == '-') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

std::string survey_name_from(std::string_view file_name) {
  const std::size_t dot = file_name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) file_name = file_name.substr(0, dot);
  std::string name;
  for (char c : file_name) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-' || c == '.';
    name += kept ? c : '-';
  }
  while (!name.empty() && (name.front() == '.' || name.front() == '-')) name.erase(0, 1);
  // Room for a "-N" that tells two uploads of one name apart and a ".wK" of a what-if run.
  if (name.size() > kMaxSurveyName - 20) name.resize(kMaxSurveyName - 20);
  return name.empty() ? "survey" : name;
}

std::string ManifestEntry::options_text() const {
  std::string text;
  for (const auto& [name, value] : options.given) text += name + "=" + value + ";";
  return text;
}

Manifest read_manifest(const std::filesystem::path& file) {
  const std::string name = file.string();
  const CsvSheet csv = read_csv_sheet(import::read_bytes(name), name);
  if (csv.header.empty())
    throw InputError(name, 1, "expected a header row naming the columns name, source, structure");
  // The option of each column; none for name, source and structure.
  std::vector<const options::OptionSpec*> option_of(csv.header.size(), nullptr);
  int name_col = -1, source_col = -1, structure_col = -1;
  for (std::size_t c = 0; c < csv.header.size(); ++c) {
    const std::string h = trimmed(csv.header[c]);
    int* fixed = h == "name"        ? &name_col
                 : h == "source"    ? &source_col
                 : h == "structure" ? &structure_col
                                    : nullptr;
    if (fixed) {
      if (*fixed >= 0) throw InputError(name, 1, "column '" + h + "' appears twice");
      *fixed = static_cast<int>(c);
      continue;
    }
    const options::OptionSpec* option = options::find(h);
    if (!option || option->key != h) {
      std::string known = "name, source, structure";
      for (const options::OptionSpec& o : options::table()) known += std::string(", ") + std::string(o.key);
      throw InputError(name, 1, "column " + std::to_string(c + 1) + " '" + h + "' is not one of " + known);
    }
    if (std::find(option_of.begin(), option_of.end(), option) != option_of.end())
      throw InputError(name, 1, "column '" + h + "' appears twice");
    option_of[c] = option;
  }
  if (name_col < 0 || source_col < 0)
    throw InputError(name, 1, "expected the columns name and source in the header");

  const std::filesystem::path base = std::filesystem::absolute(file).parent_path();
  const auto resolve = [&](const std::string& path) {
    const std::filesystem::path p(path);
    return (p.is_absolute() ? p : base / p).lexically_normal();
  };
  Manifest manifest{std::filesystem::absolute(file), {}, {}};
  std::set<std::string> names;
  for (std::size_t r = 0; r < csv.rows.size(); ++r) {
    const std::vector<std::string>& row = csv.rows[r];
    const int line = csv.row_lines[r];
    const auto refuse = [&](const std::string& column, const std::string& why) {
      throw InputError(name, line, "column '" + column + "': " + why);
    };
    ManifestEntry entry;
    entry.row = line;
    entry.name = trimmed(row[name_col]);
    if (!is_survey_name(entry.name))
      refuse("name",
             "expected a survey name of letters, digits, '.', '_' and '-' (not starting with '.' or '-', "
             "at most " +
                 std::to_string(kMaxSurveyName) + " characters), found '" + entry.name + "'");
    if (!names.insert(entry.name).second)
      refuse("name", "the survey name '" + entry.name + "' is used twice");
    std::string source = trimmed(row[source_col]);
    if (source.empty()) refuse("source", "expected a run folder or device files");
    std::size_t start = 0;
    while (start <= source.size()) {
      const std::size_t semi = source.find(';', start);
      const std::string item = trimmed(source.substr(start, semi == std::string::npos ? semi : semi - start));
      if (item.empty()) refuse("source", "an empty file name among '" + source + "'");
      entry.sources.push_back(resolve(item));
      if (semi == std::string::npos) break;
      start = semi + 1;
    }
    std::error_code ec;
    entry.run_folder =
        entry.sources.size() == 1 && std::filesystem::is_regular_file(entry.sources[0] / "control.txt", ec);
    const std::string structure = structure_col >= 0 ? trimmed(row[structure_col]) : std::string();
    if (entry.run_folder && !structure.empty())
      manifest.notes.push_back(
          InputError(name, line,
                     "note: column 'structure': '" + entry.name +
                         "' is a run folder, whose general data file holds its layers; the structure "
                         "file is not read")
              .what());
    else if (!structure.empty())
      entry.structure = resolve(structure);
    if (!entry.run_folder && structure.empty())
      refuse("structure",
             "expected the pavement structure file for the device files of '" + entry.name + "'");
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (!option_of[c]) continue;
      const std::string value = trimmed(row[c]);
      if (value.empty()) continue;
      if (const auto why = options::set(entry.options, *option_of[c], value))
        refuse(std::string(option_of[c]->key), *why);
    }
    if (const auto refusal = options::check(entry.options))
      refuse(std::string(options::find(refusal->option)->key), refusal->reason);
    manifest.surveys.push_back(std::move(entry));
  }
  if (manifest.surveys.empty())
    throw InputError(name, 2, "expected at least one survey row below the header");
  return manifest;
}

}  // namespace basinfit::network
