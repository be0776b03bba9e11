#include "network/network_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/input_error.h"
#include "common/replacement_file.h"
#include "common/round_step.h"
#include "network/batch_outputs.h"
#include "network/database.h"
#include "network/survey_executor.h"
#include "survey/chainage.h"
#include "survey/html_page.h"

namespace basinfit::network {
namespace {

// Text from the database as HTML: the survey page's own escaping, which also replaces bytes that
// are not UTF-8, so a survey name read from a Latin-1 file cannot make the page invalid.
std::string escaped(const std::string& text) { return survey::escape_html(text); }

// Four significant digits, as the survey page shows moduli.
std::string significant(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct SurveyRow {
  std::string survey, route;
  SurveyStatus status = SurveyStatus::kFailed;
  SurveyStage stage = SurveyStage::kNone;
  std::string message;
  long stations = 0, drops = 0, flagged = 0;
  std::vector<std::string> medians;  // per layer, "" when none
  std::string unit;
  int layers = 0;
  // Per station: chainage (where known) and the subgrade's normalised modulus.
  std::vector<std::pair<std::optional<double>, double>> profile;
  std::vector<std::string> station_names;
};

// The stations' chainage: the chainage column where the results carry one, else read from the
// identifier as the survey page does.
void read_profile(sqlite::Connection& db, SurveyRow& row) {
  if (row.layers == 0) return;
  const bool metric = row.unit == "MPa";
  const std::string modulus = "\"E" + std::to_string(row.layers) + "_norm_" + row.unit + "\"";
  const std::string chainage = metric ? "chainage_m" : "chainage_ft";
  const std::string sql = "SELECT station, " + chainage + ", " + modulus +
                          " FROM stations WHERE survey = ? AND " + modulus + " IS NOT NULL ORDER BY \"row\"";
  sqlite::Statement s(db, sql);
  s.bind_text(1, row.survey);
  while (s.step()) {
    const std::string station = s.column_text(0);
    std::optional<double> at;
    if (!s.is_null(1))
      at = s.column_real(1);
    else
      at = survey::parse_chainage(station, metric);
    row.profile.emplace_back(at, s.column_real(2));
    row.station_names.push_back(station);
  }
}

constexpr const char* kColours[] = {"#0072B2", "#E69F00", "#009E73", "#CC79A7", "#56B4E9", "#D55E00"};

std::string number(double v, const char* format = "%.1f") {
  char text[32];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// The subgrade profiles of the surveys of one route over each other, linear axes.
std::string profile_chart(const std::string& route, const std::vector<const SurveyRow*>& surveys) {
  double x0 = 1e300, x1 = -1e300, y1 = 0;
  for (const SurveyRow* r : surveys)
    for (const auto& [at, e] : r->profile) {
      x0 = std::min(x0, *at);
      x1 = std::max(x1, *at);
      y1 = std::max(y1, e);
    }
  if (x1 <= x0) x1 = x0 + 1;
  // The modulus axis from 0 to the round tick above the stiffest station.
  const double y_step = round_step((y1 > 0 ? y1 : 1) / 4);
  y1 = std::ceil((y1 > 0 ? y1 : 1) / y_step) * y_step;
  const double x_step = round_step((x1 - x0) / 4);
  const double left = 70, top = 20, width = 820, height = 240;
  const auto px = [&](double x) { return left + (x - x0) / (x1 - x0) * width; };
  const auto py = [&](double y) { return top + height - y / y1 * height; };
  std::string svg =
      "<svg class=\"chart\" viewBox=\"0 0 960 330\" role=\"img\" aria-label=\"Subgrade profiles of " +
      escaped(route) +
      "\"><rect x=\"70\" y=\"20\" width=\"820\" height=\"240\" fill=\"none\" stroke=\"#999\"/>";
  // Ticks at round values: the modulus every step from 0, the chainage at the multiples of its
  // step inside the surveyed stretch.
  for (double y = 0; y <= y1 + y_step / 2; y += y_step)
    svg += "<text x=\"64\" y=\"" + number(py(y) + 4) + "\" text-anchor=\"end\" font-size=\"12\">" +
           number(y, "%.6g") + "</text>";
  for (double x = std::ceil(x0 / x_step - 1e-9) * x_step; x <= x1 + x_step * 1e-9; x += x_step)
    svg += "<text x=\"" + number(px(x)) + "\" y=\"278\" text-anchor=\"middle\" font-size=\"12\">" +
           number(x, "%.6g") + "</text>";
  svg += "<text x=\"480\" y=\"300\" text-anchor=\"middle\" font-size=\"13\">Chainage (" +
         std::string(surveys.front()->unit == "MPa" ? "m" : "ft") +
         ")</text>"
         "<text x=\"16\" y=\"140\" transform=\"rotate(-90 16 140)\" text-anchor=\"middle\" font-size=\"13\">"
         "Subgrade normalised modulus (" +
         surveys.front()->unit + ")</text>";
  for (std::size_t k = 0; k < surveys.size(); ++k) {
    const char* colour = kColours[k % 6];
    svg += "<polyline class=\"series\" fill=\"none\" stroke-width=\"2\" stroke=\"" + std::string(colour) +
           "\" points=\"";
    for (const auto& [at, e] : surveys[k]->profile) svg += number(px(*at)) + "," + number(py(e)) + " ";
    svg += "\"><title>" + escaped(surveys[k]->survey) + "</title></polyline>";
    svg += "<text x=\"" + number(900 - 0.0) + "\" y=\"" + number(36 + 16.0 * static_cast<double>(k)) +
           "\" text-anchor=\"end\" font-size=\"12\" fill=\"" + colour + "\">" + escaped(surveys[k]->survey) +
           "</text>";
  }
  return svg + "</svg>";
}

constexpr const char* kStyle =
    "body{font-family:'Liberation Sans',Arial,sans-serif;margin:24px;color:#222}"
    "table{border-collapse:collapse;font-size:14px}th,td{border-bottom:1px solid #ccc;padding:4px 10px;"
    "text-align:right}th{background:#f0f0f0}td.text,th.text{text-align:left}"
    "tr.failed td{background:#fdecea}.note{color:#555;font-size:13px}";

// The surveys of the database with their counts, in name order.
std::vector<SurveyRow> read_surveys(sqlite::Connection& db) {
  sqlite::Statement s(db,
                      "SELECT survey, route, status, stage, message, stations, drops, (SELECT count(*) FROM "
                      "drops d WHERE d.survey = surveys.survey AND d.flags IS NOT NULL AND d.flags <> '') "
                      "FROM surveys ORDER BY survey");
  std::vector<SurveyRow> rows;
  while (s.step()) {
    SurveyRow& row = rows.emplace_back();
    row.survey = s.column_text(0);
    row.route = s.column_text(1);
    row.status = stored_status(db.file(), row.survey, s.column_text(2));
    row.stage = stored_stage(db.file(), row.survey, s.column_text(3));
    row.message = s.column_text(4);
    row.stations = s.column_integer(5);
    row.drops = s.column_integer(6);
    row.flagged = s.column_integer(7);
  }
  return rows;
}

// Each layer's median normalised modulus over the survey's stations, in the unit the stations
// carry it in; returns the deepest layer with a value (0 for none).
int read_medians(sqlite::Connection& db, SurveyRow& row) {
  int layers = 0;
  for (int j = 1; j <= 5; ++j) {
    std::vector<double> values;
    for (const char* unit : {"MPa", "ksi"}) {
      const std::string column = "\"E" + std::to_string(j) + "_norm_" + unit + "\"";
      sqlite::Statement s(
          db, "SELECT " + column + " FROM stations WHERE survey = ? AND " + column + " IS NOT NULL");
      s.bind_text(1, row.survey);
      while (s.step()) values.push_back(s.column_real(0));
      if (!values.empty()) {
        row.unit = unit;
        break;
      }
    }
    row.medians.push_back(values.empty() ? std::string() : significant(median(values)));
    if (!values.empty()) layers = j, row.layers = j;
  }
  return layers;
}

std::string status_text(const SurveyRow& r) {
  return r.status == SurveyStatus::kOk ? to_text(r.status)
                                       : to_text(r.status) + " (" + to_text(r.stage) + ")";
}

// The counts line and the table of surveys, each name linked to its survey page where it has one.
std::string survey_table(const std::vector<SurveyRow>& rows, int layers, const std::filesystem::path& out,
                         const std::filesystem::path& folder) {
  long failed = 0;
  for (const SurveyRow& r : rows) failed += r.status != SurveyStatus::kOk;
  std::string html = "<p id=\"counts\"><strong>" + std::to_string(rows.size()) +
                     "</strong> surveys, <strong>" + std::to_string(failed) + "</strong> failed.</p>";
  html +=
      "<table id=\"surveys\"><thead><tr><th class=\"text\">Survey</th><th class=\"text\">Route</th>"
      "<th class=\"text\">Status</th><th>Stations</th><th>Drops</th><th>Flagged drops (%)</th>";
  for (int j = 1; j <= layers; ++j)
    html += "<th>Layer " + std::to_string(j) + " median normalised modulus</th>";
  html += "<th class=\"text\">Message</th></tr></thead><tbody>";
  for (const SurveyRow& r : rows) {
    const bool ok = r.status == SurveyStatus::kOk;
    const std::filesystem::path page = out / "surveys" / r.survey / kSurveyPage;
    std::error_code ec;
    std::string name = escaped(r.survey);
    if (ok && std::filesystem::exists(page, ec))
      name = "<a href=\"" +
             escaped(std::filesystem::absolute(page).lexically_relative(folder).generic_string()) + "\">" +
             name + "</a>";
    html += "<tr id=\"survey-" + escaped(r.survey) + "\"" + (ok ? "" : " class=\"failed\"") +
            "><td class=\"text\">" + name + "</td><td class=\"text\">" + escaped(r.route) +
            "</td><td class=\"text\">" + escaped(status_text(r)) + "</td>";
    if (ok) {
      char share[32];
      std::snprintf(share, sizeof share, "%.1f",
                    r.drops > 0 ? 100.0 * static_cast<double>(r.flagged) / r.drops : 0.0);
      html += "<td>" + std::to_string(r.stations) + "</td><td>" + std::to_string(r.drops) + "</td><td>" +
              share + "</td>";
      for (int j = 0; j < layers; ++j)
        html += "<td>" + (r.medians[j].empty() ? std::string() : r.medians[j] + " " + r.unit) + "</td>";
    } else {
      html += "<td></td><td></td><td></td>";
      for (int j = 0; j < layers; ++j) html += "<td></td>";
    }
    html += "<td class=\"text\">" + escaped(r.message) + "</td></tr>";
  }
  return html + "</tbody></table>";
}

// Routes surveyed more than once: every survey of the route placed along the chainage.
std::string route_profiles(const std::vector<SurveyRow>& rows) {
  std::vector<std::string> routes;
  for (const SurveyRow& r : rows)
    if (r.status == SurveyStatus::kOk && !r.route.empty() &&
        std::find(routes.begin(), routes.end(), r.route) == routes.end())
      routes.push_back(r.route);
  std::string profiles;
  for (const std::string& route : routes) {
    std::vector<const SurveyRow*> same;
    for (const SurveyRow& r : rows)
      if (r.status == SurveyStatus::kOk && r.route == route && !r.profile.empty() &&
          std::all_of(r.profile.begin(), r.profile.end(),
                      [](const auto& p) { return p.first.has_value(); }) &&
          (same.empty() || same.front()->unit == r.unit))
        same.push_back(&r);
    if (same.size() >= 2) profiles += "<h3>" + escaped(route) + "</h3>" + profile_chart(route, same);
  }
  if (profiles.empty()) return "";
  return "<section id=\"profiles\"><h2>Routes surveyed more than once</h2>" + profiles + "</section>";
}

const SurveyRow& survey_that_ran(const std::vector<SurveyRow>& rows, const std::string& name) {
  for (const SurveyRow& r : rows)
    if (r.survey == name && r.status == SurveyStatus::kOk) return r;
  throw InputError(name, 0, "not a survey of this network that ran");
}

// The subgrade moduli of survey b against survey a, station by station: each station of a
// matched to the nearest station of b within the tolerance along the chainage.
std::string difference_section(const std::vector<SurveyRow>& rows, const NetworkPageOptions& options) {
  const SurveyRow& a = survey_that_ran(rows, options.first);
  const SurveyRow& b = survey_that_ran(rows, options.second);
  if (a.unit != b.unit) throw InputError(b.survey, 0, "in other units than " + a.survey);
  std::string html =
      "<section id=\"difference\"><h2>" + escaped(b.survey) + " against " + escaped(a.survey) +
      "</h2><table id=\"difference-table\"><thead><tr><th>Chainage</th><th class=\"text\">Station (" +
      escaped(a.survey) + ")</th><th class=\"text\">Station (" + escaped(b.survey) + ")</th><th>" +
      escaped(a.survey) + " (" + a.unit + ")</th><th>" + escaped(b.survey) + " (" + a.unit +
      ")</th><th>Difference (" + a.unit + ")</th><th>Difference (%)</th></tr></thead><tbody>";
  long unmatched = 0;
  for (std::size_t i = 0; i < a.profile.size(); ++i) {
    const auto& [at, e] = a.profile[i];
    std::size_t best = b.profile.size();
    double distance = options.tolerance;
    for (std::size_t k = 0; k < b.profile.size(); ++k)
      if (at && b.profile[k].first && std::abs(*b.profile[k].first - *at) <= distance)
        distance = std::abs(*b.profile[k].first - *at), best = k;
    if (best == b.profile.size()) {
      ++unmatched;
      continue;
    }
    const double other = b.profile[best].second;
    html += "<tr><td>" + number(*at, "%.6g") + "</td><td class=\"text\">" + escaped(a.station_names[i]) +
            "</td><td class=\"text\">" + escaped(b.station_names[best]) + "</td><td>" + significant(e) +
            "</td><td>" + significant(other) + "</td><td>" + significant(other - e) + "</td><td>" +
            number(e != 0 ? 100 * (other - e) / e : 0) + "</td></tr>";
  }
  return html + "</tbody></table><p class=\"note\" id=\"unmatched\">" + std::to_string(unmatched) +
         " stations of " + escaped(a.survey) + " without a station of " + escaped(b.survey) + " within " +
         number(options.tolerance, "%.6g") + " of their chainage.</p></section>";
}

// Written beside its final name and renamed, so a reader never sees half a page.
void write_page_file(const std::filesystem::path& file, const std::string& html) {
  replace_file(file, html, "network page");
}

}  // namespace

void write_network_page(const std::filesystem::path& out, const std::filesystem::path& file,
                        const NetworkPageOptions& options) {
  Database db(out / "results.sqlite", DatabaseUse::kRead);
  refuse_output_over_batch(out, file, "network page", db);
  std::vector<SurveyRow> rows = read_surveys(db.connection());
  int layers = 0;
  for (SurveyRow& row : rows) {
    layers = std::max(layers, read_medians(db.connection(), row));
    read_profile(db.connection(), row);
  }

  const std::filesystem::path folder = std::filesystem::absolute(file).parent_path();
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Network of surveys</title>"
      "<style>" +
      std::string(kStyle) + "</style></head><body><h1>Network of surveys</h1>";
  html += survey_table(rows, layers, out, folder);
  html += route_profiles(rows);
  if (!options.first.empty()) html += difference_section(rows, options);
  html +=
      "<p class=\"note\">Medians over the stations of each survey; moduli normalised to the "
      "reference temperature and load as in each survey's stations table.</p></body></html>\n";
  write_page_file(file, html);
}

}  // namespace basinfit::network
