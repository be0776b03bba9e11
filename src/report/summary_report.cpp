#include "report/summary_report.h"

#include "report/report_header.h"
#include "report/report_words.h"
#include "report/row_items.h"

namespace basinfit {

void SummaryReport::write_header(const RunState& state) {
  const RunSettings& s = state.settings;
  const LabelChoice label{s.metric()};
  const char& tab = s.separator;
  const int layers = within_capacity(s.layer_count, kMaxLayers);

  out_.write(BASINFIT_FMT("(a)"), "Backcalculation by Basinfit 5.0 - Summary Output");
  write_project_lines(out_, s);

  out_.write(BASINFIT_FMT("(a,\\)"), "Station");
  out_.write(BASINFIT_FMT("(a1,a,\\)"), tab, label("Load (N)", "Load (lbf)"));
  if (s.temperature_adjustment == 1)
    out_.write(BASINFIT_FMT("(a1,a,\\)"), tab, label("EAdj(MPa)", "EAdj(ksi)"));
  for (int j = 1; j <= layers; ++j)
    out_.write(BASINFIT_FMT("(a1,a,i1,a,\\)"), tab, "E(", j, label(")(MPa)", ")(ksi)"));
  out_.write(BASINFIT_FMT("(a1,a)"), tab, "RMS Error");
}

void SummaryReport::write_station(const RunState& state) {
  const RunSettings& s = state.settings;
  const StationData& st = state.station;
  const StationResults& r = state.results;
  const ReportCopies& copy = state.report;
  const LabelChoice label{s.metric()};
  const char& tab = s.separator;
  const int layers = within_capacity(s.layer_count, kMaxLayers);
  const int drops = within_capacity(st.drop_count, kMaxDrops);
  const bool adjusted = s.temperature_adjustment == 1;

  // Thickness line: "-" where a column has no thickness (adjusted modulus, last layer, RMS).
  out_.write(BASINFIT_FMT("(a10,a1,a,\\)"), st.id, tab, label("Thickness (cm)", "Thickness (in)"));
  if (adjusted) out_.write(BASINFIT_FMT("(a1,a,\\)"), tab, "-");
  out_.write_list(BASINFIT_FMT("(10(a1,f7.2,\\,:))"),
                  RowItems(tab).columns(st.thickness, within_capacity(layers - 1, kMaxThicknesses)).items());
  out_.write(BASINFIT_FMT("(a1,a,a1,a)"), tab, "-", tab, "-");

  for (int d = 1; d <= drops; ++d) {
    const auto i = static_cast<std::size_t>(d - 1);
    out_.write(BASINFIT_FMT("(a10,a1,f8.1,\\)"), st.id, tab, st.load[i]);
    if (adjusted) out_.write(BASINFIT_FMT("(a1,f7.1,\\)"), tab, copy.adjusted_surface_modulus[i]);
    out_.write_list(BASINFIT_FMT("(10(a1,f7.1,\\,:))"),
                    RowItems(tab).columns(copy.modulus[i], layers).items());
    out_.write(BASINFIT_FMT("(a1,f5.2)"), tab, r.rms_error[i]);
  }

  // Moduli at the standard load, formed only from several drops.
  if (drops > 1) {
    const StationStatistics& stats = copy.statistics;
    out_.write(BASINFIT_FMT("(a10,a1,a,\\)"), st.id, tab, "Norm.");
    if (adjusted) out_.write(BASINFIT_FMT("(a1,f7.1,\\)"), tab, stats.normalized_adjusted_modulus);
    out_.write_list(BASINFIT_FMT("(10(a1,f7.1,\\,:))"),
                    RowItems(tab).columns(stats.normalized_modulus, layers).items());
    out_.write(BASINFIT_FMT("(a1,f5.2)"), tab, r.average_rms_error);
  }
}

}  // namespace basinfit
