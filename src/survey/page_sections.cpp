#include "survey/internal/page_sections.h"

#include <algorithm>
#include <string>
#include <vector>

#include "survey/internal/page_numbers.h"

namespace basinfit::survey::html {
namespace {

void method(Html& h, const SurveyLayout& layout, const ReportOptions& options) {
  h.raw("<p>Sections by the cumulative-difference method on the ")
      .text(layout.response)
      .raw(" (" + escape_html(layout.response_unit) + "): at least " +
           std::to_string(std::max(options.sections.min_stations, 1)) + " stations");
  if (options.sections.min_length > 0)
    h.raw(" and " + escape_html(value(options.sections.min_length)) + " " +
          escape_html(layout.positions.unit));
  h.raw(" per section; neighbours whose means differ by less than " +
        fixed(100 * options.sections.min_relative_difference, 0) + " % are one section.");
  const int minimum = std::max(options.sections.min_stations, 1);
  if (!layout.series_station.empty() && layout.series_station.size() < static_cast<std::size_t>(2 * minimum))
    h.raw(" Only " + std::to_string(layout.series_station.size()) +
          " station(s) have a value of the response, too few to cut the route: it is one section.");
  h.raw("</p>");
}

void table_head(Html& h, const SurveyPage& page, const SurveyLayout& layout) {
  const std::string at = " (" + layout.positions.unit + ")";
  h.raw("<table id=\"section-table\" data-count=\"" + std::to_string(layout.rows.size()) +
        "\"><thead><tr><th class=\"text\">Section</th>");
  h.element("th", "Start" + at).element("th", "End" + at).element("th", "Stations");
  h.element("th", "Mean " + layout.response + " (" + layout.response_unit + ")").element("th", "CoV (%)");
  for (const SurveyLayer& layer : page.layers)
    h.element("th", layer.name + " mean (" + page.units.modulus + ")").element("th", "CoV (%)");
  if (!page.reference_temperature.empty())
    h.element("th",
              "Layer 1 adjusted to " + page.reference_temperature + ", mean (" + page.units.modulus + ")")
        .element("th", "CoV (%)");
  h.raw("</tr></thead><tbody>");
}

void section_row(Html& h, const SectionRow& row, std::size_t k, bool adjusted) {
  h.raw("<tr class=\"section-row\" data-start=\"" + datum(row.start) + "\" data-end=\"" + datum(row.end) +
        "\">")
      .element("td", "S" + std::to_string(k + 1));
  h.element("td", value(row.start)).element("td", value(row.end)).element("td", std::to_string(row.stations));
  h.element("td", value(row.response.mean)).element("td", fixed(row.response.cov_percent, 1));
  std::vector<Spread> spreads = row.modulus;
  if (adjusted) spreads.push_back(row.adjusted);
  for (const Spread& sp : spreads) {
    if (sp.count == 0) {
      for (int c = 0; c < 2; ++c) missing_cell(h, "no station of the section has this value");
    } else {
      h.element("td", value(sp.mean));
      if (sp.count > 1) {
        h.element("td", fixed(sp.cov_percent, 1));
      } else {
        missing_cell(h, "one station: no spread");
      }
    }
  }
  h.raw("</tr>");
}

}  // namespace

void write_sections(Html& h, const SurveyPage& page, const SurveyLayout& layout,
                    const ReportOptions& options) {
  h.raw("<section id=\"sections\"><h2>Uniform sections</h2>");
  method(h, layout, options);
  table_head(h, page, layout);
  const bool adjusted = !page.reference_temperature.empty();
  for (std::size_t k = 0; k < layout.rows.size(); ++k) section_row(h, layout.rows[k], k, adjusted);
  h.raw("</tbody></table>");
  if (layout.rows.empty())
    h.raw("<p class=\"note\">No station has a value of the response: no sections.</p>");
  h.raw("</section>");
}

}  // namespace basinfit::survey::html
