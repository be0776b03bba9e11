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

// What a value of an option column must look like; an empty text when it fits, else what was
// expected.
using Check = std::function<std::string(const std::string&)>;

struct OptionColumn {
  const char* name;
  Check check;
};

bool whole_number(const std::string& text, long lo, long hi) {
  long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return ec == std::errc() && end == text.data() + text.size() && v >= lo && v <= hi;
}

bool number(const std::string& text, double lo) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return ec == std::errc() && end == text.data() + text.size() && v >= lo;
}

Check one_of(std::vector<std::string> words) {
  return [words](const std::string& text) {
    if (std::find(words.begin(), words.end(), text) != words.end()) return std::string();
    std::string list;
    for (const std::string& w : words) list += (list.empty() ? "" : ", ") + w;
    return "one of " + list;
  };
}

Check range(long lo, long hi) {
  return [lo, hi](const std::string& text) {
    return whole_number(text, lo, hi)
               ? std::string()
               : "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
  };
}

std::string any_text(const std::string&) { return {}; }

// The option columns: what basinfit-import and basinfit take on their command lines.
const std::vector<OptionColumn>& option_columns() {
  static const std::vector<OptionColumn> columns = {
      {"format", one_of({"pddx", "ltpp", "csv", "f25"})},
      {"units", one_of({"metric", "english"})},
      {"source_units", one_of({"metric", "english"})},
      {"route", any_text},
      {"title", any_text},
      {"skip_seating", range(0, 1000)},
      {"seeds", one_of({"computed", "given"})},
      {"max_iterations", range(1, 10000)},
      {"station_prefix", any_text},
      {"station_format", one_of({"number", "plus"})},
      {"section", any_text},
      {"test_date", any_text},
      {"lane", any_text},
      {"load_levels",
       [](const std::string& text) {
         std::size_t start = 0;
         while (true) {
           const std::size_t semi = text.find(';', start);
           const std::string item = text.substr(start, semi == std::string::npos ? semi : semi - start);
           if (!number(item, 0) || !number(item, 1e-30))
             return std::string("positive numbers separated by ';'");
           if (semi == std::string::npos) return std::string();
           start = semi + 1;
         }
       }},
      {"multistart", range(0, 1000)},
      {"sections_by",
       [](const std::string& text) {
         return text == "subgrade" || text == "deflection" || whole_number(text, 1, 5)
                    ? std::string()
                    : std::string("a layer number, 'deflection' or 'subgrade'");
       }},
      {"min_section_length",
       [](const std::string& text) {
         return number(text, 0) ? std::string() : std::string("a length of 0 or more");
       }},
  };
  return columns;
}

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

const std::string* ManifestEntry::option(const std::string& column) const {
  for (const auto& [name, value] : options)
    if (name == column) return &value;
  return nullptr;
}

std::string ManifestEntry::options_text() const {
  std::string text;
  for (const auto& [name, value] : options) text += name + "=" + value + ";";
  return text;
}

std::vector<std::string> manifest_option_columns() {
  std::vector<std::string> names;
  for (const OptionColumn& c : option_columns()) names.emplace_back(c.name);
  return names;
}

Manifest read_manifest(const std::filesystem::path& file) {
  const std::string name = file.string();
  const CsvSheet csv = read_csv_sheet(import::read_bytes(name), name);
  if (csv.header.empty())
    throw InputError(name, 1, "expected a header row naming the columns name, source, structure");
  std::vector<int> option_of(csv.header.size(),
                             -1);  // index into option_columns(), -1 for name/source/structure
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
    const auto& options = option_columns();
    const auto it =
        std::find_if(options.begin(), options.end(), [&](const OptionColumn& o) { return h == o.name; });
    if (it == options.end()) {
      std::string known = "name, source, structure";
      for (const OptionColumn& o : options) known += std::string(", ") + o.name;
      throw InputError(name, 1, "column " + std::to_string(c + 1) + " '" + h + "' is not one of " + known);
    }
    if (std::find(option_of.begin(), option_of.end(), it - options.begin()) != option_of.end())
      throw InputError(name, 1, "column '" + h + "' appears twice");
    option_of[c] = static_cast<int>(it - options.begin());
  }
  if (name_col < 0 || source_col < 0)
    throw InputError(name, 1, "expected the columns name and source in the header");

  const std::filesystem::path base = std::filesystem::absolute(file).parent_path();
  const auto resolve = [&](const std::string& path) {
    const std::filesystem::path p(path);
    return (p.is_absolute() ? p : base / p).lexically_normal();
  };
  Manifest manifest{std::filesystem::absolute(file), {}};
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
    if (!structure.empty()) entry.structure = resolve(structure);
    if (!entry.run_folder && structure.empty())
      refuse("structure",
             "expected the pavement structure file for the device files of '" + entry.name + "'");
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (option_of[c] < 0) continue;
      const std::string value = trimmed(row[c]);
      if (value.empty()) continue;
      const OptionColumn& option = option_columns()[static_cast<std::size_t>(option_of[c])];
      const std::string expected = option.check(value);
      if (!expected.empty()) refuse(option.name, "expected " + expected + ", found '" + value + "'");
      entry.options.emplace_back(option.name, value);
    }
    std::sort(entry.options.begin(), entry.options.end(), [](const auto& a, const auto& b) {
      const auto names = manifest_option_columns();
      return std::find(names.begin(), names.end(), a.first) < std::find(names.begin(), names.end(), b.first);
    });
    manifest.surveys.push_back(std::move(entry));
  }
  if (manifest.surveys.empty())
    throw InputError(name, 2, "expected at least one survey row below the header");
  return manifest;
}

}  // namespace basinfit::network
