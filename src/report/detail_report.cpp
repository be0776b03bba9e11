#include "report/detail_report.h"

#include <span>

#include "report/report_header.h"
#include "report/report_words.h"
#include "report/row_items.h"

namespace basinfit {

namespace {

bool adjusts_temperature(const RunSettings& s) { return s.temperature_adjustment == 1; }

int layer_count(const RunSettings& s) { return within_capacity(s.layer_count, kMaxLayers); }

// Columns of the stress and strain table: the user's evaluation points, or when there are
// none, the default points (one per layer above a stiff layer) whose responses the
// backcalculation computes for every drop.
int table_point_count(const RunSettings& s) {
  return within_capacity(s.point_count > 0 ? s.point_count : s.default_point_count, kMaxPoints);
}

std::size_t index(int one_based) { return static_cast<std::size_t>(one_based - 1); }

}  // namespace

void DetailReport::write_header(const RunState& state) {
  out_.write(BASINFIT_FMT("(a)"), "Backcalculation by Basinfit 5.0 - Detail Output");
  write_project_lines(out_, state.settings);
}

void DetailReport::write_station(const RunState& state) {
  write_station_lines(state);
  const int drops = within_capacity(state.station.drop_count, kMaxDrops);
  for (int d = 1; d <= drops; ++d) write_drop(state, d);
  // Means, normalised moduli and the stress-sensitivity fits need more than one drop.
  if (drops > 1) write_statistics(state);
}

void DetailReport::write_station_lines(const RunState& state) {
  const RunSettings& s = state.settings;
  const StationData& st = state.station;
  const LabelChoice label{s.metric()};
  const char& tab = s.separator;

  out_.write(BASINFIT_FMT("(a,a10,a1,a,i2,a1,a,f6.2)"), "Station: ", st.id, tab,
             "No of Drops: ", st.drop_count, tab, "Average RMS Error(%): ", state.results.average_rms_error);

  // Thicknesses of the layers above the last one (the half-space or the stiff layer has none).
  const int thicknesses = within_capacity(layer_count(s) - 1, kMaxThicknesses);
  out_.write(BASINFIT_FMT("(a,4(1x,f7.2,\\,:))"), label("Thickness (cm):", "Thickness (in):"),
             std::span<const float>(st.thickness.data(), static_cast<std::size_t>(thicknesses)));

  if (!adjusts_temperature(s)) {
    out_.write(BASINFIT_FMT("(a1,a)"), tab,
               label("Pavement Temperature (C): N/A", "Pavement Temperature (F): N/A"));
  } else if (s.temperature_option == 1) {
    // The pavement temperature was estimated from both readings: show them as read.
    out_.write(BASINFIT_FMT("(a1,a,2(1x,f5.1))"), tab,
               label("Pavement Temperature (C):", "Pavement Temperature (F):"), st.temperature1,
               st.temperature2);
  } else if (s.metric()) {
    out_.write(BASINFIT_FMT("(a1,a,(1x,f5.1))"), tab, "Pavement Temperature (C):", st.temperature1);
  } else {
    out_.write(BASINFIT_FMT("(a1,a,f5.1)"), tab, "Pavement Temperature (F): ", st.temperature1);
  }
}

void DetailReport::write_drop(const RunState& state, int drop) {
  write_fit_lines(state, drop);
  write_basin_lines(state, drop);
  write_moduli_lines(state, drop);
  write_point_table(state, drop);
}

void DetailReport::write_fit_lines(const RunState& state, int drop) {
  const RunSettings& s = state.settings;
  const StationResults& r = state.results;
  const LabelChoice label{s.metric()};
  const char& tab = s.separator;
  const std::size_t d = index(drop);

  out_.write(BASINFIT_FMT("(a, 1x,i2,a1,a,1x,f8.1,a1,a,i2)"), "Drop No:", drop, tab,
             label("Load (N):", "Load (lbf):"), state.station.load[d], tab,
             "No of Iterations:", r.iterations[d]);

  out_.write(BASINFIT_FMT("(a,\\)"), "Convergence: ");
  const int code = r.convergence_code[d];
  if (const auto text = convergence_text(code))
    out_.write(BASINFIT_FMT("(a,\\)"), *text);
  else
    out_.write(BASINFIT_FMT("(a,i2,a,\\)"), "Error (", code, ")");
  out_.write(BASINFIT_FMT("(a1,a,f5.2)"), tab, "RMS Error (%): ", r.rms_error[d]);
}

void DetailReport::write_basin_lines(const RunState& state, int drop) {
  const RunSettings& s = state.settings;
  const LabelChoice label{s.metric()};
  const char& tab = s.separator;
  const std::size_t d = index(drop);
  const int sensors = within_capacity(s.sensor_count, kMaxSensors);
  const PerSensor<float>& measured = state.station.measured[d];
  const PerSensor<float>& calculated = state.report.calculated[d];

  RowItems numbers("Sensor No:", tab);
  for (int k = 1; k <= sensors; ++k) numbers.column(k);
  out_.write_list(BASINFIT_FMT("(a,10(a1,i2,:))"), numbers.items());

  out_.write_list(BASINFIT_FMT("(a,10(a1,f8.3,:))"),
                  RowItems(label("Measured Deflections (microns):", "Measured Deflections (mils):"), tab)
                      .columns(measured, sensors)
                      .items());
  out_.write_list(BASINFIT_FMT("(a,10(a1,f8.3,:))"),
                  RowItems(label("Calculated Deflection (microns):", "Calculated Deflection (mils):"), tab)
                      .columns(calculated, sensors)
                      .items());

  out_.write(BASINFIT_FMT("(a,\\)"), "Difference (%):");
  for (int k = 0; k < sensors; ++k) {
    const auto sensor = static_cast<std::size_t>(k);
    out_.write(BASINFIT_FMT("(a1,f8.2,\\)"), tab,
               percentage_difference(measured[sensor], calculated[sensor]));
  }
  out_.write(BASINFIT_FMT("(\\,/)"));
}

void DetailReport::write_layer_numbers(const RunSettings& s) {
  RowItems numbers("Layer No:", s.separator);
  for (int j = 1; j <= layer_count(s); ++j) numbers.column(j);
  out_.write_list(BASINFIT_FMT("(a,5(a1,i2,\\,:))"), numbers.items());
  if (adjusts_temperature(s)) out_.write(BASINFIT_FMT("(a1,a,\\)"), s.separator, "1-(adj)");
}

void DetailReport::write_moduli_lines(const RunState& state, int drop) {
  const RunSettings& s = state.settings;
  const LabelChoice label{s.metric()};
  const char& tab = s.separator;
  const std::size_t d = index(drop);
  const int layers = layer_count(s);
  const bool adjusted = adjusts_temperature(s);

  write_layer_numbers(s);

  // Each row below first ends the one before it.
  out_.write_list(BASINFIT_FMT("(/,a,5(a1,f8.2,\\,:))"),
                  RowItems(label("Seed Moduli (MPa):", "Seed Moduli (ksi):"), tab)
                      .columns(state.results.seed[d], layers)
                      .items());
  if (adjusted) out_.write(BASINFIT_FMT("(a1,a,\\)"), tab, "N/A");

  out_.write_list(BASINFIT_FMT("(/,a,5(a1,f8.2,\\,:))"),
                  RowItems(label("Calculated Moduli (MPa):", "Calculated Moduli (ksi):"), tab)
                      .columns(state.report.modulus[d], layers)
                      .items());
  if (adjusted) out_.write(BASINFIT_FMT("(a1,f8.3,\\)"), tab, state.report.adjusted_surface_modulus[d]);
  out_.write(BASINFIT_FMT("(\\,/)"));
}

void DetailReport::write_point_table(const RunState& state, int drop) {
  const RunSettings& s = state.settings;
  const LabelChoice label{s.metric()};
  const char& tab = s.separator;
  const std::size_t d = index(drop);
  const int points = table_point_count(s);
  const PointResponses& resp = state.report.responses;

  RowItems layer("Layer No:", tab);
  RowItems distance(label("Radial Distance (cm):", "Radial Distance (in):"), tab);
  RowItems position("Position:", tab);
  for (int i = 0; i < points; ++i) {
    const EvaluationPoint& p = s.points[static_cast<std::size_t>(i)];
    layer.column(p.layer);
    distance.column(p.radial_distance);
    position.column(position_word(p.position));
  }
  out_.write_list(BASINFIT_FMT("(a,10(a1,i1,:))"), layer.items());
  out_.write_list(BASINFIT_FMT("(a,10(a1,f6.2,:))"), distance.items());
  out_.write_list(BASINFIT_FMT("(a,10(a1,a,:))"), position.items());

  const Format& row = BASINFIT_FMT("(a,10(a1,f8.2,:))");
  out_.write_list(row, RowItems(label("Vertical Stress (kPa):", "Vertical Stress (psi):"), tab)
                           .columns(resp.vertical_stress[d], points)
                           .items());
  out_.write_list(row, RowItems(label("Radial Stress (kPa):", "Radial Stress (psi):"), tab)
                           .columns(resp.radial_stress[d], points)
                           .items());
  out_.write_list(row, RowItems(label("Bulk Stress (kPa):", "Bulk Stress (psi):"), tab)
                           .columns(resp.bulk_stress[d], points)
                           .items());
  out_.write_list(row, RowItems(label("Deviator Stress (kPa):", "Deviator Stress (psi):"), tab)
                           .columns(resp.deviator_stress[d], points)
                           .items());
  out_.write_list(row,
                  RowItems("Vertical Strain (10^-6):", tab).columns(resp.vertical_strain[d], points).items());
  out_.write_list(row,
                  RowItems("Radial Strain (10^-6):", tab).columns(resp.radial_strain[d], points).items());
}

void DetailReport::write_statistics(const RunState& state) {
  const RunSettings& s = state.settings;
  const StationStatistics& stats = state.report.statistics;
  const LabelChoice label{s.metric()};
  const char& tab = s.separator;
  const int layers = layer_count(s);
  const bool adjusted = adjusts_temperature(s);

  write_layer_numbers(s);

  out_.write_list(BASINFIT_FMT("(/,a,5(a1,f8.2,\\,:))"),
                  RowItems(label("Mean Moduli (MPa):", "Mean Moduli (ksi):"), tab)
                      .columns(stats.mean_modulus, layers)
                      .items());
  if (adjusted) out_.write(BASINFIT_FMT("(a1,f8.2,\\)"), tab, stats.mean_adjusted_modulus);

  out_.write_list(BASINFIT_FMT("(/,a,5(a1,f8.2,\\,:))"),
                  RowItems(label("Normalized Moduli (MPa):", "Normalized Moduli (ksi):"), tab)
                      .columns(stats.normalized_modulus, layers)
                      .items());
  if (adjusted) out_.write(BASINFIT_FMT("(a1,f8.3,\\)"), tab, stats.normalized_adjusted_modulus);

  // The surface layer is bound: it never gets a stress-sensitivity fit.  The statistics are
  // indexed by layer number minus one, so layer j's fit is at [j - 1].
  auto fit_row = [&](std::string_view row_label, const PerLayer<float>& values) {
    out_.write(BASINFIT_FMT("(/,a,a1,a,\\)"), row_label, tab, "N/A");
    for (int j = 2; j <= layers; ++j) {
      const std::size_t k = index(j);
      if (has_stress_fit(stats.soil_type[k]))
        out_.write(BASINFIT_FMT("(a1,f8.2,\\)"), tab, values[k]);
      else
        out_.write(BASINFIT_FMT("(a1,a,\\)"), tab, "N/A");
    }
  };
  fit_row(label("K1 (MPa):", "K1 (ksi):"), stats.k1);
  fit_row("K2:", stats.k2);
  fit_row("R-Squared:", stats.r_squared);

  out_.write(BASINFIT_FMT("(/,a,a1,a,\\)"), "Soil Type:", tab, "N/A");
  for (int j = 2; j <= layers; ++j)
    out_.write(BASINFIT_FMT("(a1,a,\\)"), tab, soil_type_word(stats.soil_type[index(j)]));
  out_.write(BASINFIT_FMT("(\\,/)"));
}

}  // namespace basinfit
