#include "workbench/internal/structure_form.h"

#include "common/csv.h"
#include "common/input_error.h"
#include "import/units.h"

namespace basinfit::workbench {
namespace {

namespace imp = basinfit::import;

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

Json default_structure_form() {
  return Json::parse(R"({"units":"metric","title":"","stiff_layer":false,
    "layers":[{"type":"backcalculated","poisson":"0.35","modulus":"3000","lower":"500","upper":"20000"},
              {"type":"backcalculated","poisson":"0.35","modulus":"300","lower":"50","upper":"3000"},
              {"type":"backcalculated","poisson":"0.45","modulus":"60","lower":"10","upper":"500"}],
    "ranges":[{"from":"","to":"","thicknesses":["15","30"]}],"points":[]})");
}

FormCheck check_structure_form(const Json& form) {
  const StructureText text = structure_text(form);
  FormCheck check;
  try {
    check.structure = imp::parse_structure(text.text, "structure");
    check.answer["ok"] = true;
    check.answer["message"] = "";
  } catch (const InputError& e) {
    check.answer["ok"] = false;
    check.answer["message"] = e.reason();
    check.answer["line"] = e.line();
    if (e.line() >= 1 && static_cast<std::size_t>(e.line()) <= text.line_rows.size()) {
      check.answer["group"] = text.line_rows[static_cast<std::size_t>(e.line() - 1)].first;
      check.answer["index"] = text.line_rows[static_cast<std::size_t>(e.line() - 1)].second;
    } else {
      check.answer["group"] = "structure";
      check.answer["index"] = 0;
    }
  }
  return check;
}

Json thickness_coverage(const imp::Structure& structure, const imp::SourceSurvey& survey) {
  const imp::Unit unit = structure.english ? imp::Unit::kFoot : imp::Unit::kMetre;
  Json coverage = Json::array();
  for (const imp::SourceStation& st : survey.stations) {
    std::optional<double> at;
    if (st.chainage) at = imp::convert(*st.chainage, survey.chainage_unit, unit);
    const imp::ThicknessRange* range = structure.thickness_at(at);
    coverage.push_back(range ? static_cast<int>(range - structure.ranges.data()) : -1);
  }
  return coverage;
}

}  // namespace basinfit::workbench
