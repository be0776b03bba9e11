#include "survey/internal/page_summary.h"

#include <string>
#include <vector>

#include "survey/internal/page_numbers.h"
#include "survey/sections.h"

namespace basinfit::survey::html {
namespace {

void run_section(Html& h, const SurveyPage& page) {
  h.raw("<section id=\"run\"><h2>Run</h2>");
  if (!page.input_files.empty()) {
    h.raw(
        "<table id=\"input-files\"><thead><tr><th>Input</th><th class=\"text\">File</th><th "
        "class=\"text\">SHA-256</th>"
        "</tr></thead><tbody>");
    for (const SurveyInputFile& file : page.input_files) {
      h.raw("<tr>").element("td", file.role).element("td", file.name, "class=\"text\"");
      h.element("td", file.sha256.empty() ? "not recorded" : file.sha256, "class=\"hash\"").raw("</tr>");
    }
    h.raw("</tbody></table>");
  }
  h.raw("<table id=\"settings\"><tbody>");
  for (const SurveySetting& row : page.settings)
    h.raw("<tr>")
        .element("th", row.label, "scope=\"row\"")
        .element("td", row.value, "class=\"text\"")
        .raw("</tr>");
  h.raw("</tbody></table></section>");
}

void counts(Html& h, const SurveyPage& page, const SurveyProfile& profile) {
  h.raw("<p id=\"counts\"><strong>" + std::to_string(profile.stations.size()) +
        "</strong> stations, <strong>" + std::to_string(profile.drops.size()) + "</strong> drops.</p>");
  h.raw(
      "<table id=\"convergence-counts\"><thead><tr><th "
      "class=\"text\">Convergence</th><th>Drops</th></tr></thead><tbody>");
  for (const SurveyCount& c : page.convergence_counts)
    h.raw("<tr>").element("td", c.name).element("td", std::to_string(c.count)).raw("</tr>");
  h.raw("</tbody></table>");
  if (!page.flags_checked) {
    h.raw("<p class=\"note\" id=\"flag-counts\">The data checks were not run: no drop carries flags.</p>");
  } else if (page.flag_counts.empty()) {
    h.raw("<p id=\"flag-counts\">No drop failed a data check.</p>");
  } else {
    h.raw(
        "<table id=\"flag-counts\"><thead><tr><th class=\"text\">Data-check "
        "flag</th><th>Drops</th></tr></thead><tbody>");
    for (const SurveyCount& c : page.flag_counts)
      h.raw("<tr>").element("td", c.name).element("td", std::to_string(c.count)).raw("</tr>");
    h.raw("</tbody></table>");
  }
}

void layer_statistics(Html& h, const SurveyPage& page, const SurveyProfile& profile) {
  h.raw("<table id=\"layer-statistics\"><caption class=\"text\">Normalised moduli (" +
        escape_html(page.units.modulus) +
        ") of the stations with several drops</caption><thead><tr><th "
        "class=\"text\">Layer</th><th>Stations</th>"
        "<th>Mean</th><th>Median</th><th>CoV (%)</th><th>15th pct.</th><th>85th "
        "pct.</th><th>Bounds</th></tr></thead><tbody>");
  for (std::size_t j = 0; j < page.layers.size(); ++j) {
    std::vector<double> values;
    for (std::size_t i = 0; i < profile.stations.size(); ++i)
      if (profile.stations[i].normalised && j < profile.normalised_modulus(i).size())
        values.push_back(profile.normalised_modulus(i)[j]);
    const Spread sp = spread(values);
    const SurveyLayer& layer = page.layers[j];
    h.raw("<tr>").element("td", layer.name).element("td", std::to_string(values.size()));
    if (values.empty()) {
      const std::string reason = "no station has a normalised modulus of this layer";
      h.raw("<td class=\"missing text\" colspan=\"5\" data-reason=\"" + reason + "\">" + reason + "</td>");
    } else {
      h.element("td", value(sp.mean)).element("td", value(percentile(values, 50)));
      h.element("td", fixed(sp.cov_percent, 1)).element("td", value(percentile(values, 15)));
      h.element("td", value(percentile(values, 85)));
    }
    h.element("td", layer.lower_bound && layer.upper_bound
                        ? value(*layer.lower_bound) + " \xE2\x80\x93 " + value(*layer.upper_bound)
                        : std::string("fixed"));
    h.raw("</tr>");
  }
  h.raw("</tbody></table>");
}

}  // namespace

void write_header(Html& h, const SurveyPage& page, std::size_t stations, const RunEnd& end) {
  h.raw("<header>");
  h.element("h1", page.title.empty() ? std::string("Survey report") : page.title);
  if (!page.route.empty()) h.element("p", page.route, "class=\"route\" id=\"route\"");
  if (!end.complete) {
    h.raw(
         "<p class=\"stopped\" id=\"run-stopped\" role=\"alert\"><strong>Incomplete: the run stopped before "
         "the end of the survey.</strong> ")
        .text(end.stop_reason)
        .raw(" This page shows only the ")
        .text(std::to_string(stations))
        .raw(" station(s) finished before that.</p>");
  }
  h.raw("<dl class=\"meta\">");
  h.element("dt", "Run date").element("dd", page.run_date.empty() ? "not recorded" : page.run_date);
  h.element("dt", "Engine").element("dd", page.engine_version.empty() ? "not recorded" : page.engine_version);
  h.raw("</dl></header>");
  run_section(h, page);
}

void write_summary(Html& h, const SurveyPage& page, const SurveyProfile& profile) {
  h.raw("<section id=\"summary\"><h2>Survey summary</h2>");
  counts(h, page, profile);
  layer_statistics(h, page, profile);
  h.raw("</section>");
}

}  // namespace basinfit::survey::html
