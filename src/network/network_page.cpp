#include "network/network_page.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/input_error.h"
#include "network/database.h"
#include "network/survey_executor.h"

namespace basinfit::network {
namespace {

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string text_of(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? reinterpret_cast<const char*>(t) : "";
}

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
  std::string survey, route, status, stage, message;
  long stations = 0, drops = 0, flagged = 0;
  std::vector<std::string> medians;  // per layer, "" when none
  std::string unit;
};

constexpr const char* kStyle =
    "body{font-family:'Liberation Sans',Arial,sans-serif;margin:24px;color:#222}"
    "table{border-collapse:collapse;font-size:14px}th,td{border-bottom:1px solid #ccc;padding:4px 10px;"
    "text-align:right}th{background:#f0f0f0}td.text,th.text{text-align:left}"
    "tr.failed td{background:#fdecea}.note{color:#555;font-size:13px}";

}  // namespace

void write_network_page(const std::filesystem::path& out, const std::filesystem::path& file) {
  Database db(out / "results.sqlite");
  sqlite3* h = db.handle();
  std::vector<SurveyRow> rows;
  int layers = 0;
  {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(
        h,
        "SELECT survey, route, status, stage, message, stations, drops, (SELECT count(*) FROM drops d "
        "WHERE d.survey = surveys.survey AND d.flags IS NOT NULL AND d.flags <> '') FROM surveys "
        "ORDER BY survey",
        -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW)
      rows.push_back({text_of(s, 0),
                      text_of(s, 1),
                      text_of(s, 2),
                      text_of(s, 3),
                      text_of(s, 4),
                      sqlite3_column_int64(s, 5),
                      sqlite3_column_int64(s, 6),
                      sqlite3_column_int64(s, 7),
                      {},
                      {}});
    sqlite3_finalize(s);
  }
  for (SurveyRow& row : rows) {
    for (int j = 1; j <= 5; ++j) {
      std::vector<double> values;
      for (const char* unit : {"MPa", "ksi"}) {
        const std::string sql = "SELECT \"E" + std::to_string(j) + "_norm_" + unit +
                                "\" FROM stations WHERE survey = ? AND \"E" + std::to_string(j) + "_norm_" +
                                unit + "\" IS NOT NULL";
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(h, sql.c_str(), -1, &s, nullptr);
        sqlite3_bind_text(s, 1, row.survey.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(s) == SQLITE_ROW) values.push_back(sqlite3_column_double(s, 0));
        sqlite3_finalize(s);
        if (!values.empty()) {
          row.unit = unit;
          break;
        }
      }
      row.medians.push_back(values.empty() ? std::string() : significant(median(values)));
      if (!values.empty()) layers = std::max(layers, j);
    }
  }

  const std::filesystem::path folder = std::filesystem::absolute(file).parent_path();
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Network of surveys</title>"
      "<style>" +
      std::string(kStyle) + "</style></head><body><h1>Network of surveys</h1>";
  long failed = 0;
  for (const SurveyRow& r : rows) failed += r.status != "ok";
  html += "<p id=\"counts\"><strong>" + std::to_string(rows.size()) + "</strong> surveys, <strong>" +
          std::to_string(failed) + "</strong> failed.</p>";
  html +=
      "<table id=\"surveys\"><thead><tr><th class=\"text\">Survey</th><th class=\"text\">Route</th>"
      "<th class=\"text\">Status</th><th>Stations</th><th>Drops</th><th>Flagged drops (%)</th>";
  for (int j = 1; j <= layers; ++j)
    html += "<th>Layer " + std::to_string(j) + " median normalised modulus</th>";
  html += "<th class=\"text\">Message</th></tr></thead><tbody>";
  for (const SurveyRow& r : rows) {
    const std::filesystem::path page = out / "surveys" / r.survey / kSurveyPage;
    std::error_code ec;
    std::string name = escaped(r.survey);
    if (r.status == "ok" && std::filesystem::exists(page, ec))
      name = "<a href=\"" +
             escaped(std::filesystem::absolute(page).lexically_relative(folder).generic_string()) + "\">" +
             name + "</a>";
    html += "<tr id=\"survey-" + escaped(r.survey) + "\"" + (r.status == "ok" ? "" : " class=\"failed\"") +
            "><td class=\"text\">" + name + "</td><td class=\"text\">" + escaped(r.route) +
            "</td><td class=\"text\">" +
            escaped(r.status == "ok" ? r.status : r.status + " (" + r.stage + ")") + "</td>";
    if (r.status == "ok") {
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
  html +=
      "</tbody></table><p class=\"note\">Medians over the stations of each survey; moduli normalised to the "
      "reference temperature and load as in each survey's stations table.</p></body></html>\n";

  const std::filesystem::path temporary = file.parent_path() / ("." + file.filename().string() + ".partial");
  {
    std::ofstream page(temporary, std::ios::binary | std::ios::trunc);
    page << html;
    if (!page.flush())
      throw InputError(temporary.string(), 0, "cannot be written", InputError::Kind::kFileSystem);
  }
  std::filesystem::rename(temporary, file);
}

}  // namespace basinfit::network
