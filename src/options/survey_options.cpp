#include "options/survey_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/input_error.h"
#include "import/text_values.h"
#include "import/units.h"
#include "results/results_analysis.h"
#include "survey/survey_report.h"

namespace basinfit::options {
namespace {

using Result = std::optional<std::string>;
using Apply = std::function<Result(SurveyOptions&, std::string_view)>;

std::string shortest(double value) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string(buffer, end);
}

std::optional<double> finite_number(std::string_view text) {
  const std::string t(import::trim(text));
  double value = 0;
  const char* first = t.data();
  if (!t.empty() && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, t.data() + t.size(), value);
  if (t.empty() || error != std::errc() || end != t.data() + t.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<long long> whole(std::string_view text) {
  const std::string t(import::trim(text));
  long long value = 0;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || error != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return value;
}

// The items of a list written with ',' (a command line) or ';' (a manifest cell).
std::vector<std::string> items(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find_first_of(",;", start);
    out.emplace_back(import::trim(text.substr(start, end == std::string_view::npos ? end : end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (out.size() == 1 && out[0].empty()) out.clear();
  return out;
}

Result found(std::string_view expected, std::string_view text) {
  return std::string(expected) + ", found '" + std::string(text) + "'";
}

// One of `words` (without regard to case), handed on as its folded form.
Apply choice(std::vector<std::string_view> words,
             std::function<void(SurveyOptions&, const std::string&)> to) {
  return [words, to](SurveyOptions& o, std::string_view text) -> Result {
    const std::string word = import::fold(text);
    if (std::find(words.begin(), words.end(), word) == words.end()) {
      std::string list;
      for (std::size_t i = 0; i < words.size(); ++i)
        list += std::string(i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + std::string(words[i]);
      return found("expected " + list, text);
    }
    to(o, word);
    return std::nullopt;
  };
}

Apply whole_number(long long lo, long long hi, std::function<void(SurveyOptions&, int)> to) {
  return [lo, hi, to](SurveyOptions& o, std::string_view text) -> Result {
    const auto v = whole(text);
    if (!v || *v < lo || *v > hi)
      return found("expected a whole number from " + std::to_string(lo) + " to " + std::to_string(hi), text);
    to(o, static_cast<int>(*v));
    return std::nullopt;
  };
}

// A finite number above `lo` (at least `lo` when `lo_included`).
Apply number(double lo, bool lo_included, std::function<void(SurveyOptions&, double)> to) {
  return [lo, lo_included, to](SurveyOptions& o, std::string_view text) -> Result {
    const auto v = finite_number(text);
    if (!v || *v < lo || (*v == lo && !lo_included))
      return found(
          std::string("expected a finite number ") + (lo_included ? "at least " : "above ") + shortest(lo),
          text);
    to(o, *v);
    return std::nullopt;
  };
}

// Text on one line (a line break would start another record of the file it goes into).
Apply text(std::function<void(SurveyOptions&, const std::string&)> to) {
  return [to](SurveyOptions& o, std::string_view value) -> Result {
    if (value.find_first_of("\r\n") != std::string_view::npos)
      return std::string("expected text on one line");
    to(o, std::string(value));
    return std::nullopt;
  };
}

// Numbers, or for whole numbers also ranges a-b.
template <typename T>
Apply list(std::function<void(SurveyOptions&, std::vector<T>)> to) {
  return [to](SurveyOptions& o, std::string_view value) -> Result {
    std::vector<T> out;
    for (const std::string& item : items(value)) {
      if constexpr (std::is_same_v<T, int>) {
        const auto dash = item.find('-', 1);
        if (dash != std::string::npos) {
          const auto a = whole(item.substr(0, dash)), b = whole(item.substr(dash + 1));
          if (!a || !b || *b < *a || *b - *a > 1000) return found("expected a range a-b", item);
          for (long long v = *a; v <= *b; ++v) out.push_back(static_cast<int>(v));
          continue;
        }
        const auto v = whole(item);
        if (!v || *v < -1000000 || *v > 1000000) return found("expected a whole number", item);
        out.push_back(static_cast<int>(*v));
      } else {
        const auto v = finite_number(item);
        if (!v) return found("expected a number", item);
        out.push_back(*v);
      }
    }
    to(o, std::move(out));
    return std::nullopt;
  };
}

Apply unit(std::initializer_list<import::Quantity> quantities,
           std::function<void(SurveyOptions&, import::Unit)> to) {
  const std::vector<import::Quantity> allowed(quantities);
  return [allowed, to](SurveyOptions& o, std::string_view text) -> Result {
    const auto u = import::parse_unit(text);
    if (!u || std::find(allowed.begin(), allowed.end(), import::quantity_of(*u)) == allowed.end())
      return "unknown or unfitting unit '" + std::string(text) + "'";
    to(o, *u);
    return std::nullopt;
  };
}

Result load_levels(SurveyOptions& o, std::string_view text) {
  std::vector<results::LoadLevel> levels;
  for (const std::string& item : items(text)) {
    const auto level = results::parse_load_level(item);
    if (!level) return found("expected a positive number with an optional unit N, kN, lbf or kip", item);
    // A level with its unit is checked now; a bare one once the survey's unit is known.
    if (!level->unit.empty()) {
      try {
        results::load_levels_in_unit({*level}, true);
      } catch (const InputError& e) {
        return e.reason();
      }
    }
    levels.push_back(*level);
  }
  if (levels.empty()) return std::string("expected at least one load level");
  o.analysis.load_levels = std::move(levels);
  return std::nullopt;
}

Result sensor_precision(SurveyOptions& o, std::string_view text) {
  std::vector<double> values;
  for (const std::string& item : items(text)) {
    const auto v = finite_number(item);
    if (!v || *v < 0) return found("expected a finite number at least 0", item);
    values.push_back(*v);
  }
  if (values.size() != 2) return found("expected ABS,PERCENT (two numbers)", text);
  o.analysis.sensor_precision = std::move(values);
  return std::nullopt;
}

Result sections_by(SurveyOptions& o, std::string_view text) {
  const std::string word(import::trim(text));
  if (word == "subgrade") {
    o.analysis.sections_by = survey::SectionsBy{};
    return std::nullopt;
  }
  const auto by = survey::parse_sections_by(word);
  if (!by || (!by->deflection && by->layer >= kMaxLayers))
    return found(
        "expected a layer number from 1 to " + std::to_string(kMaxLayers) + ", 'deflection' or 'subgrade'",
        text);
  o.analysis.sections_by = *by;
  return std::nullopt;
}

Result columns(SurveyOptions& o, std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& pair : import::split(std::string(text), ',')) {
    const auto eq = pair.find('=');
    if (eq == std::string::npos) return found("expected role=column", pair);
    pairs.emplace_back(std::string(import::trim(pair.substr(0, eq))),
                       std::string(import::trim(pair.substr(eq + 1))));
  }
  o.reader.columns = std::move(pairs);
  return std::nullopt;
}

Result one_character(char& into, std::string_view text, bool tab_word) {
  if (tab_word && text == "tab") {
    into = '\t';
    return std::nullopt;
  }
  if (text.size() != 1)
    return found(tab_word ? "expected one character or 'tab'" : "expected one character", text);
  into = text[0];
  return std::nullopt;
}

Result any_record_status(SurveyOptions& o, std::string_view text) {
  const std::string word = import::fold(text);
  if (word == "yes" || word == "1" || word == "true") {
    o.reader.any_record_status = true;
  } else if (word == "no" || word == "0" || word == "false") {
    o.reader.any_record_status = false;
  } else {
    return found("expected yes or no", text);
  }
  return std::nullopt;
}

using enum Program;
using enum Kind;
using import::Quantity;

std::vector<OptionSpec> make_table() {
  // The first seventeen are a manifest's columns as they were first written; keep their order,
  // which the resume key of every recorded survey follows.
  return {
      {"format",
       "--format",
       kImport,
       kChoice,
       "NAME",
       "Force the format: pddx, ltpp, csv or f25",
       {"pddx", "ltpp", "csv", "f25"},
       choice({"pddx", "ltpp", "csv", "f25"},
              [](SurveyOptions& o, const std::string& w) { o.format = import::parse_format(w); })},
      {"units",
       "--units",
       kImport,
       kChoice,
       "SYSTEM",
       "Unit system of the run: metric or english (default: the source's)",
       {"metric", "english"},
       choice({"metric", "english"},
              [](SurveyOptions& o, const std::string& w) { o.import.english = w == "english"; })},
      {"source_units",
       "--source-units",
       kImport,
       kChoice,
       "SYSTEM",
       "CSV/F25: metric (N, microns, mm, C, m; default) or english (lbf, mils, in, F, ft)",
       {"metric", "english"},
       choice({"metric", "english"},
              [](SurveyOptions& o, const std::string& w) { o.reader.english = w == "english"; })},
      {"route",
       "--route",
       kImport,
       kText,
       "TEXT",
       "Route text of the deflection data file (default: from the source)",
       {},
       text([](SurveyOptions& o, const std::string& t) { o.import.route = t; })},
      {"title",
       "--title",
       kImport,
       kText,
       "TEXT",
       "Title of the general data file (default: the structure's)",
       {},
       text([](SurveyOptions& o, const std::string& t) { o.import.title = t; })},
      {"skip_seating",
       "--skip-seating",
       kImport,
       kWhole,
       "N",
       "Skip the first N drops of every test point",
       {},
       whole_number(0, 1000, [](SurveyOptions& o, int v) { o.import.skip_seating = v; })},
      {"seeds",
       "--seeds",
       kImport,
       kChoice,
       "HOW",
       "computed (default up to 3 layers) or given (the structure's moduli)",
       {"computed", "given"},
       choice(
           {"computed", "given"},
           [](SurveyOptions& o, const std::string& w) { o.import.seed_option = w == "computed" ? 0 : 1; })},
      {"max_iterations",
       "--max-iterations",
       kImport,
       kWhole,
       "N",
       "Iteration limit per drop (default 30)",
       {},
       whole_number(1, 10000, [](SurveyOptions& o, int v) { o.import.max_iterations = v; })},
      {"station_prefix",
       "--station-prefix",
       kImport,
       kText,
       "TEXT",
       "Text before identifiers built from the chainage",
       {},
       text([](SurveyOptions& o, const std::string& t) { o.import.station_prefix = t; })},
      {"station_format",
       "--station-format",
       kImport,
       kChoice,
       "FORMAT",
       "number (default: chainage in m or ft) or plus (12+50 in feet, 1+250 in metres)",
       {"number", "plus"},
       choice({"number", "plus"},
              [](SurveyOptions& o, const std::string& w) { o.import.plus_notation = w == "plus"; })},
      {"section",
       "--section",
       kImport,
       kText,
       "ID",
       "LTPP: section, state code and SHRP id (e.g. 04-0122)",
       {},
       text([](SurveyOptions& o, const std::string& t) { o.reader.section = t; })},
      {"test_date",
       "--test-date",
       kImport,
       kText,
       "DATE",
       "LTPP: test date as written in the tables",
       {},
       text([](SurveyOptions& o, const std::string& t) { o.reader.test_date = t; })},
      {"lane",
       "--lane",
       kImport,
       kText,
       "LANE",
       "LTPP: lane (LANE_NO)",
       {},
       text([](SurveyOptions& o, const std::string& t) { o.reader.lane = t; })},
      {"load_levels",
       "--load-levels",
       kEngine,
       kList,
       "LIST",
       "Nominal drop levels for the load check, comma-separated, each with its unit (40kN, 9000lbf, 9kip, "
       "40000N) "
       "or bare in the survey's load unit (N or lbf); a level outside 1 to 350 kN is refused; default 26.7, "
       "40.0, "
       "53.4 and 71.2 kN",
       {},
       load_levels},
      {"multistart",
       "--multistart",
       kEngine,
       kWhole,
       "K",
       "K side fits per drop from seeds spread over the bounds, to flag fits that are not unique; the "
       "reported fit "
       "stays the same (default 0)",
       {},
       whole_number(0, 1000, [](SurveyOptions& o, int v) { o.analysis.multistart = v; })},
      {"sections_by",
       "--sections-by",
       kEngine,
       kText,
       "LAYER|deflection",
       "Response the uniform sections (survey page, sections.csv) follow: a layer number (its normalised "
       "modulus) "
       "or 'deflection' (the normalised centre deflection); default the subgrade",
       {},
       sections_by},
      {"min_section_length",
       "--min-section-length",
       kEngine,
       kNumber,
       "LENGTH",
       "Shortest uniform section on the survey page and in sections.csv, in metres or feet along the route "
       "(default 0: at least three stations)",
       {},
       number(0, true, [](SurveyOptions& o, double v) { o.analysis.min_section_length = v; })},
      // Options added since.
      {"sensor_precision",
       "--sensor-precision",
       kEngine,
       kList,
       "ABS,PERCENT",
       "Deflection sensor precision for the uncertainty of the moduli: ABS (microns or mils) plus PERCENT of "
       "the "
       "reading; default 2 microns plus 0.3 % (a calibrated geophone)",
       {},
       sensor_precision},
      {"reference_temperature",
       "--reference-temperature",
       kImport,
       kNumber,
       "T",
       "Reference temperature of the surface modulus, in the run's unit (default 20 C / 68 F)",
       {},
       [](SurveyOptions& o, std::string_view t) -> Result {
         const auto v = finite_number(t);
         if (!v) return found("expected a finite number", t);
         o.import.reference_temperature = *v;
         return std::nullopt;
       }},
      {"temperatures",
       "--temperatures",
       kImport,
       kList,
       "NAMES",
       "Readings for the engine's temperature 1 and 2, e.g. surface,air (default) or manual,air; names as "
       "the "
       "source gives them (F25: asphalt, surface, air; PDDX without TemperatureSensorUse: t1, t2, ...)",
       {},
       [](SurveyOptions& o, std::string_view t) -> Result {
         o.import.temperatures = items(t);
         return std::nullopt;
       }},
      {"temperature_adjust",
       "--temperature-adjust",
       kImport,
       kWhole,
       "0|1",
       "1: adjust the surface modulus (default), 0: not",
       {},
       whole_number(0, 1, [](SurveyOptions& o, int v) { o.import.temperature_adjustment = v; })},
      {"temperature_option",
       "--temperature-option",
       kImport,
       kWhole,
       "0|1",
       "1: pavement temperature from temperature 1 and 2 (default); 0: temperature 1 is the pavement's",
       {},
       whole_number(0, 1, [](SurveyOptions& o, int v) { o.import.temperature_option = v; })},
      {"weighting",
       "--weighting",
       kImport,
       kWhole,
       "0|1|2",
       "0 equal weights (default), 1 from the deflection ratios, 2 --weights",
       {},
       whole_number(0, 2, [](SurveyOptions& o, int v) { o.import.weighting = v; })},
      {"weights",
       "--weights",
       kImport,
       kList,
       "LIST",
       "Sensor weights for --weighting 2, in order of offset",
       {},
       list<double>([](SurveyOptions& o, std::vector<double> v) { o.import.weights = std::move(v); })},
      {"rms_tolerance",
       "--rms-tolerance",
       kImport,
       kNumber,
       "PERCENT",
       "RMS tolerance in percent (default 0.5)",
       {},
       number(0, false, [](SurveyOptions& o, double v) { o.import.rms_tolerance = v; })},
      {"modulus_tolerance",
       "--modulus-tolerance",
       kImport,
       kNumber,
       "PERCENT",
       "Modulus tolerance in percent (default 0.5)",
       {},
       number(0, false, [](SurveyOptions& o, double v) { o.import.modulus_tolerance = v; })},
      {"drops",
       "--drops",
       kImport,
       kList,
       "LIST",
       "Keep only drops with these sequence numbers, e.g. 2-5,8",
       {},
       list<int>([](SurveyOptions& o, std::vector<int> v) { o.import.drops = std::move(v); })},
      {"drop_heights",
       "--drop-heights",
       kImport,
       kList,
       "LIST",
       "Keep only drops with these height codes, e.g. 2,3",
       {},
       list<double>([](SurveyOptions& o, std::vector<double> v) { o.import.drop_heights = std::move(v); })},
      {"sensors",
       "--sensors",
       kImport,
       kList,
       "LIST",
       "Keep only these source sensors (numbers as in the source)",
       {},
       list<int>([](SurveyOptions& o, std::vector<int> v) { o.import.sensors = std::move(v); })},
      {"any_record_status",
       "--any-record-status",
       kImport,
       kSwitch,
       "",
       "LTPP: also rows below quality level E",
       {},
       any_record_status},
      {"columns",
       "--columns",
       kImport,
       kList,
       "PAIRS",
       "CSV: role=column pairs (station, chainage, lane, comment, drop, height, load, d1.., temp_<use>)",
       {},
       columns},
      {"load_unit",
       "--load-unit",
       kImport,
       kText,
       "UNIT",
       "CSV/F25: unit of the load (N, kN, lbf, or a pressure: kPa, psi)",
       {},
       unit({Quantity::kForce, Quantity::kPressure},
            [](SurveyOptions& o, import::Unit u) { o.reader.load_unit = u; })},
      {"deflection_unit",
       "--deflection-unit",
       kImport,
       kText,
       "UNIT",
       "CSV/F25: unit of the deflections (microns, mils, mm)",
       {},
       unit({Quantity::kLength}, [](SurveyOptions& o, import::Unit u) { o.reader.deflection_unit = u; })},
      {"offset_unit",
       "--offset-unit",
       kImport,
       kText,
       "UNIT",
       "CSV/F25: unit of the sensor offsets and plate radius (mm, cm, in)",
       {},
       unit({Quantity::kLength}, [](SurveyOptions& o, import::Unit u) { o.reader.offset_unit = u; })},
      {"temperature_unit",
       "--temperature-unit",
       kImport,
       kText,
       "UNIT",
       "CSV: C or F",
       {},
       unit({Quantity::kTemperature},
            [](SurveyOptions& o, import::Unit u) { o.reader.temperature_unit = u; })},
      {"chainage_unit",
       "--chainage-unit",
       kImport,
       kText,
       "UNIT",
       "CSV/F25: unit of the chainage (m, km, ft, mi)",
       {},
       unit({Quantity::kLength}, [](SurveyOptions& o, import::Unit u) { o.reader.chainage_unit = u; })},
      {"plate_radius",
       "--plate-radius",
       kImport,
       kNumber,
       "R",
       "CSV: plate radius in the offset unit",
       {},
       number(0, false, [](SurveyOptions& o, double v) { o.reader.plate_radius = v; })},
      {"offsets",
       "--offsets",
       kImport,
       kList,
       "LIST",
       "CSV: sensor offsets of the columns d1..dN, in the offset unit",
       {},
       list<double>([](SurveyOptions& o, std::vector<double> v) { o.reader.offsets = std::move(v); })},
      {"delimiter",
       "--delimiter",
       kImport,
       kText,
       "CHAR",
       "CSV: column delimiter (default: guessed from the header: , ; or tab)",
       {},
       [](SurveyOptions& o, std::string_view t) { return one_character(o.reader.delimiter, t, true); }},
      {"decimal",
       "--decimal",
       kImport,
       kText,
       "CHAR",
       "CSV: decimal mark (default .)",
       {},
       [](SurveyOptions& o, std::string_view t) { return one_character(o.reader.decimal, t, false); }},
  };
}

}  // namespace

const std::string* SurveyOptions::text(std::string_view key) const {
  for (const auto& [k, v] : given)
    if (k == key) return &v;
  return nullptr;
}

// The analysis options are basinfit's; of the importer's, those about the source's files (their
// format, units, columns, geometry, and what of them is taken) are how the files are read, the
// others how the run folder is written.
Group group_of(const OptionSpec& spec) {
  static const std::vector<std::string_view> reading = {"format",
                                                        "source_units",
                                                        "section",
                                                        "test_date",
                                                        "lane",
                                                        "any_record_status",
                                                        "columns",
                                                        "load_unit",
                                                        "deflection_unit",
                                                        "offset_unit",
                                                        "temperature_unit",
                                                        "chainage_unit",
                                                        "plate_radius",
                                                        "offsets",
                                                        "delimiter",
                                                        "decimal",
                                                        "strict"};
  if (spec.program == Program::kEngine) return Group::kAnalysis;
  return std::find(reading.begin(), reading.end(), spec.key) != reading.end() ? Group::kReading
                                                                              : Group::kRunFolder;
}

const std::vector<OptionSpec>& table() {
  static const std::vector<OptionSpec> specs = [] {
    std::vector<OptionSpec> made = make_table();
    for (OptionSpec& spec : made) spec.group = group_of(spec);
    return made;
  }();
  return specs;
}

const OptionSpec* find(std::string_view key) {
  for (const OptionSpec& spec : table())
    if (spec.key == key || spec.flag == key) return &spec;
  return nullptr;
}

std::optional<std::string> set(SurveyOptions& options, const OptionSpec& spec, std::string_view text) {
  if (auto why = spec.apply(options, text)) return why;
  const auto position = [](std::string_view key) {
    const auto& t = table();
    return std::find_if(t.begin(), t.end(), [&](const OptionSpec& s) { return s.key == key; }) - t.begin();
  };
  std::erase_if(options.given, [&](const auto& g) { return g.first == spec.key; });
  const auto at = std::find_if(options.given.begin(), options.given.end(),
                               [&](const auto& g) { return position(g.first) > position(spec.key); });
  options.given.insert(at, {std::string(spec.key), std::string(text)});
  return std::nullopt;
}

std::optional<Refusal> check(const SurveyOptions& options) {
  if (options.import.weighting == 2 && options.import.weights.empty())
    return Refusal{"--weights",
                   "weighting 2 weights the sensors as --weights gives: give one weight per sensor"};
  const std::vector<double>& precision = options.analysis.sensor_precision;
  if (precision.size() == 2 && precision[0] <= 0 && precision[1] <= 0)
    return Refusal{"--sensor-precision",
                   "ABS and PERCENT are both 0: a sensor without any error leaves no uncertainty to give"};
  return std::nullopt;
}

std::vector<std::string> arguments(const SurveyOptions& options, Program program) {
  std::vector<std::string> args;
  for (const auto& [key, value] : options.given) {
    const OptionSpec* spec = find(key);
    if (!spec || spec->program != program) continue;
    if (spec->kind == Kind::kSwitch) {
      SurveyOptions probe;
      if (!spec->apply(probe, value) && probe.reader.any_record_status) args.emplace_back(spec->flag);
      continue;
    }
    args.emplace_back(spec->flag);
    std::string text = value;
    // A manifest writes lists with ';', a command line with ','.
    if (spec->kind == Kind::kList) std::replace(text.begin(), text.end(), ';', ',');
    args.push_back(std::move(text));
  }
  return args;
}

}  // namespace basinfit::options
