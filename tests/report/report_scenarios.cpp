#include "report_scenarios.h"

#include <initializer_list>
#include <sstream>

#include "common/message_writer.h"
#include "common/record_format.h"
#include "report/report_writer.h"

namespace basinfit::testing {

namespace {

template <class Array>
void fill(Array& to, std::initializer_list<float> values) {
  std::size_t i = 0;
  for (float v : values) to[i++] = v;
}

void set_layers(RunSettings& s, std::initializer_list<float> poisson, std::initializer_list<int> types) {
  s.layer_count = static_cast<int>(poisson.size());
  std::size_t j = 0;
  for (float v : poisson) s.layers[j++].poisson_ratio = v;
  j = 0;
  for (int t : types) s.layers[j++].type = t;
}

void set_sensors(RunSettings& s, std::initializer_list<float> offsets) {
  s.sensor_count = static_cast<int>(offsets.size());
  fill(s.sensor_offset, offsets);
}

std::string padded(std::string text, std::size_t length) {
  text.resize(length, ' ');
  return text;
}

// One drop of a station: what the station loop, the backcalculation and the report copies
// hold for it.
struct DropValues {
  float load;
  std::initializer_list<float> measured;
  std::initializer_list<float> calculated;
  std::initializer_list<float> seed;
  std::initializer_list<float> modulus;
  float adjusted;
  float rms;
  short code;
  short iterations;
};

void set_drop(RunState& state, int drop, const DropValues& v) {
  const auto d = static_cast<std::size_t>(drop - 1);
  state.station.load[d] = v.load;
  fill(state.station.measured[d], v.measured);
  fill(state.results.calculated[d], v.calculated);
  fill(state.report.calculated[d], v.calculated);
  fill(state.results.seed[d], v.seed);
  fill(state.results.modulus[d], v.modulus);
  fill(state.report.modulus[d], v.modulus);
  state.results.adjusted_surface_modulus[d] = v.adjusted;
  state.report.adjusted_surface_modulus[d] = v.adjusted;
  state.results.rms_error[d] = v.rms;
  state.results.convergence_code[d] = v.code;
  state.results.iterations[d] = v.iterations;
}

// Stresses and strains at the table's points for one drop, already sign-changed as the
// report copies hold them (compression positive).
struct PointValues {
  std::initializer_list<float> vertical_stress, radial_stress, bulk_stress, deviator_stress, vertical_strain,
      radial_strain;
};

void set_points(RunState& state, int drop, const PointValues& v) {
  const auto d = static_cast<std::size_t>(drop - 1);
  PointResponses& r = state.report.responses;
  fill(r.vertical_stress[d], v.vertical_stress);
  fill(r.radial_stress[d], v.radial_stress);
  fill(r.bulk_stress[d], v.bulk_stress);
  fill(r.deviator_stress[d], v.deviator_stress);
  fill(r.vertical_strain[d], v.vertical_strain);
  fill(r.radial_strain[d], v.radial_strain);
}

void set_station(RunState& state, const std::string& id, int drops, std::initializer_list<float> thickness,
                 float t1, float t2) {
  state.station.id = padded(id, kStationIdLength);
  state.station.drop_count = drops;
  fill(state.station.thickness, thickness);
  state.station.temperature1 = t1;
  state.station.temperature2 = t2;
}

}  // namespace

// clang-format off
Scenario metric_default_points() {
  RunSettings s;
  s.route = padded("Highway 12 northbound, outer lane", 79);
  s.unit_flag = 0;
  s.plate_radius = 15.0f;
  set_sensors(s, {0.0f, 20.0f, 30.0f, 45.0f, 60.0f, 90.0f, 120.0f});
  set_layers(s, {0.35f, 0.4f, 0.45f}, {0, 0, 0});
  s.temperature_adjustment = 0;
  s.stiff_layer = 0;
  s.point_count = 0;
  set_default_points(s);

  Scenario scenario{"metric_default_points", {}};

  RunState a;
  a.settings = s;
  set_station(a, "1250", 3, {10.2f, 25.4f, 0.0f, 0.0f}, 21.5f, 18.0f);
  set_drop(a, 1, {27012.0f, {250.4f, 180.2f, 140.7f, 101.3f, 75.6f, 44.1f, 0.01f},
                  {248.9f, 182.0f, 139.5f, 100.8f, 76.2f, 43.7f, 22.3f}, {3000.0f, 250.0f, 80.0f},
                  {3512.46f, 231.57f, 84.125f}, 0.0f, 1.23f, 2, 5});
  set_drop(a, 2, {40035.5f, {361.0f, 262.5f, 204.4f, 148.9f, 110.1f, 64.0f, 0.0101f},
                  {359.2f, 263.1f, 205.0f, 147.7f, 111.0f, 63.5f, 0.0100f}, {3512.46f, 231.57f, 84.125f},
                  {3398.04f, 228.9f, 82.71f}, 0.0f, 0.87f, 13, 12});
  set_drop(a, 3, {53110.2f, {470.3f, 344.0f, 268.8f, 196.1f, 145.7f, 85.2f, 0.0f},
                  {0.5f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f}, {3398.04f, 228.9f, 82.71f},
                  {123456.7f, 225.04f, 81.3f}, 0.0f, 123.4f, 7, 150});
  a.results.average_rms_error = 41.83f;
  set_points(a, 1, {{512.34f, 61.2f, 30.05f}, {-812.5f, 20.4f, 8.1f}, {-1112.66f, 102.0f, 46.25f},
                    {1324.84f, 40.8f, 21.95f}, {-95.42f, 310.5f, 402.0f}, {120.77f, -140.25f, -180.6f}});
  set_points(a, 2, {{760.1f, 90.85f, 44.6f}, {-1201.9f, 30.2f, 12.0f}, {-1643.7f, 151.25f, 68.6f},
                    {1962.0f, 60.65f, 32.6f}, {-141.0f, 460.3f, 595.5f}, {178.9f, -207.7f, -267.4f}});
  set_points(a, 3, {{1003.3f, 119.9f, 58.9f}, {-1588.4f, 39.9f, 15.9f}, {-2173.5f, 199.7f, 90.7f},
                    {2591.7f, 80.0f, 43.0f}, {-186.2f, 607.9f, 786.4f}, {236.3f, -274.3f, -353.1f}});
  StationStatistics& st = a.report.statistics;
  fill(st.mean_modulus, {43455.73f, 228.5f, 82.71f});
  fill(st.normalized_modulus, {3398.04f, 228.9f, 82.71f});
  st.mean_adjusted_modulus = 0.0f;
  st.normalized_adjusted_modulus = 0.0f;
  // Layer 2 coarse (modulus rises with the bulk stress); layer 3 without a kept fit.
  st.soil_type = {0, 1, 0, 0, 0};
  fill(st.k1, {0.0f, 187.31f, 0.0f});
  fill(st.k2, {0.0f, 0.2461f, 0.0f});
  fill(st.r_squared, {0.0f, 97.38f, 0.0f});
  a.results.statistics = st;
  scenario.stations.push_back(a);

  // The next station keeps the report copies of the first (a one-drop station does not
  // refresh the statistics) but shows none of them.
  RunState b = a;
  set_station(b, "A-17", 1, {12.0f, 30.0f, 0.0f, 0.0f}, 19.0f, 15.5f);
  set_drop(b, 1, {40210.0f, {402.7f, 301.4f, 233.0f, 170.2f, 126.0f, 72.9f, 41.0f},
                  {401.9f, 302.2f, 232.1f, 171.0f, 125.4f, 73.3f, 40.6f}, {3398.04f, 228.9f, 82.71f},
                  {2876.5f, 198.45f, 90.06f}, 0.0f, 0.61f, 4, 8});
  b.results.average_rms_error = 0.61f;
  set_points(b, 1, {{690.0f, 85.5f, 40.2f}, {-1050.75f, 28.0f, 10.9f}, {-1411.5f, 141.5f, 62.0f},
                    {1740.75f, 57.5f, 29.3f}, {-150.4f, 430.25f, 560.0f}, {160.5f, -190.0f, -250.1f}});
  scenario.stations.push_back(b);
  return scenario;
}

Scenario english_stiff_layer_adjusted() {
  RunSettings s;
  s.route = padded("I-80 EB MP 112.4 to 118.0", 79);
  s.unit_flag = 1;
  s.plate_radius = 5.91f;
  set_sensors(s, {0.0f, 8.0f, 12.0f, 18.0f, 24.0f, 36.0f});
  // The stiff layer's modulus is fixed (type 1).
  set_layers(s, {0.35f, 0.35f, 0.4f, 0.5f}, {0, 0, 0, 1});
  s.stiff_layer = 1;
  s.temperature_adjustment = 1;
  s.temperature_option = 1;
  s.point_count = 4;
  s.points[0] = {0.0f, 1, kBottomOfLayer};
  s.points[1] = {12.0f, 2, kMiddleOfLayer};
  s.points[2] = {0.0f, 3, kTopOfLayer};
  s.points[3] = {36.5f, 3, kBottomOfLayer};

  Scenario scenario{"english_stiff_layer_adjusted", {}};
  RunState a;
  a.settings = s;
  set_station(a, "STA-000105", 2, {4.0f, 10.0f, 120.0f, 0.0f}, 68.0f, 75.5f);
  set_drop(a, 1, {6012.0f, {9.871f, 7.342f, 5.913f, 4.256f, 3.018f, 1.664f},
                  {9.902f, 7.301f, 5.944f, 4.239f, 3.035f, 1.650f}, {450.0f, 35.0f, 12.0f, 1000.0f},
                  {512.8f, 38.65f, 11.42f, 1000.0f}, 498.235f, 0.74f, 3, 9});
  set_drop(a, 2, {9205.5f, {14.512f, 10.903f, 8.8f, 6.391f, 4.55f, 2.522f},
                  {14.488f, 10.951f, 8.772f, 6.410f, 4.531f, 2.538f}, {512.8f, 38.65f, 11.42f, 1000.0f},
                  {497.6f, 41.2f, 10.95f, 1000.0f}, 483.4567f, 0.52f, 18, 31});
  a.results.average_rms_error = 0.63f;
  set_points(a, 1, {{58.21f, 8.95f, 4.1f, 0.62f}, {-210.4f, 1.33f, 0.45f, -0.08f},
                    {-362.59f, 11.61f, 5.0f, 0.46f}, {268.61f, 7.62f, 3.65f, 0.7f},
                    {-68.2f, 101.5f, 88.3f, 12.4f}, {95.1f, -33.6f, -29.8f, -4.4f}});
  set_points(a, 2, {{88.9f, 13.7f, 6.3f, 0.95f}, {-321.2f, 2.05f, 0.7f, -0.12f},
                    {-553.5f, 17.8f, 7.7f, 0.71f}, {410.1f, 11.65f, 5.6f, 1.07f},
                    {-104.1f, 155.0f, 134.9f, 19.0f}, {145.2f, -51.3f, -45.5f, -6.7f}});
  StationStatistics& st = a.report.statistics;
  fill(st.mean_modulus, {505.2f, 39.925f, 11.185f, 1000.0f});
  fill(st.normalized_modulus, {497.6f * 0.5f + 512.8f * 0.5f, 40.1f, 11.1f, 1000.0f});
  st.mean_adjusted_modulus = 490.8459f;
  st.normalized_adjusted_modulus = 487.2461f;
  st.soil_type = {0, 1, 2, 0, 0};
  fill(st.k1, {0.0f, 21.43f, 15.875f, 0.0f});
  fill(st.k2, {0.0f, 0.5312f, -0.2049f, 0.0f});
  fill(st.r_squared, {0.0f, 100.0f, 100.0f, 0.0f});
  a.results.statistics = st;
  scenario.stations.push_back(a);
  return scenario;
}

Scenario metric_two_layers_adjusted() {
  RunSettings s;
  s.route = std::string(79, ' ');
  s.unit_flag = 0;
  s.plate_radius = 15.0f;
  set_sensors(s, {0.0f, 20.0f, 30.0f, 45.0f, 60.0f, 90.0f, 120.0f, 150.0f, 180.0f, 210.0f});
  set_layers(s, {0.35f, 0.45f}, {0, 0});
  s.temperature_adjustment = 1;
  s.temperature_option = 0;
  s.point_count = 10;
  for (int i = 0; i < 10; ++i)
    s.points[static_cast<std::size_t>(i)] = {static_cast<float>(i) * 15.0f, i < 5 ? 1 : 2, i % 3};

  Scenario scenario{"metric_two_layers_adjusted", {}};
  RunState a;
  a.settings = s;
  set_station(a, "km12+350", 2, {18.5f, 0.0f, 0.0f, 0.0f}, 24.0f, 20.0f);
  set_drop(a, 1, {39850.0f, {412.3f, 322.1f, 270.5f, 205.8f, 160.2f, 101.7f, 70.4f, 51.2f, 38.9f, 30.6f},
                  {410.8f, 323.0f, 269.9f, 206.5f, 159.6f, 102.2f, 70.1f, 51.5f, 38.7f, 30.8f},
                  {4200.0f, 120.0f}, {4375.25f, 118.6f}, 4812.775f, 0.45f, 4, 6});
  set_drop(a, 2, {50120.0f, {520.6f, 406.0f, 341.2f, 259.7f, 202.0f, 128.3f, 88.8f, 64.6f, 49.1f, 38.6f},
                  {519.9f, 407.1f, 340.5f, 260.1f, 201.6f, 128.9f, 88.5f, 64.9f, 48.9f, 38.8f},
                  {4375.25f, 118.6f}, {4290.5f, 117.3f}, 4719.55f, 0.38f, 21, 14});
  a.results.average_rms_error = 0.415f;
  set_points(a, 1, {{410.5f, 380.25f, 301.0f, 240.5f, 190.75f, 40.2f, 35.5f, 28.25f, 20.0f, 14.5f},
                    {-900.0f, -610.5f, -320.25f, -150.0f, -60.5f, 5.25f, 4.0f, 3.5f, 2.75f, 1.0f},
                    {-1389.5f, -840.75f, -339.5f, -59.5f, 69.75f, 50.7f, 43.5f, 35.25f, 25.5f, 16.5f},
                    {1310.5f, 990.75f, 621.25f, 390.5f, 251.25f, 34.95f, 31.5f, 24.75f, 17.25f, 13.5f},
                    {-120.0f, -85.5f, -40.25f, 10.0f, 35.5f, 320.0f, 280.5f, 230.25f, 180.0f, 140.75f},
                    {150.25f, 110.0f, 60.5f, 20.75f, -5.0f, -140.0f, -120.5f, -100.25f, -80.0f, -60.5f}});
  // The heavier drop: twice the responses of the first.
  PointResponses& r = a.report.responses;
  for (auto* table : {&r.vertical_stress, &r.radial_stress, &r.bulk_stress, &r.deviator_stress,
                      &r.vertical_strain, &r.radial_strain})
    for (std::size_t i = 0; i < kMaxPoints; ++i) (*table)[1][i] = 2.0f * (*table)[0][i];
  StationStatistics& st = a.report.statistics;
  fill(st.mean_modulus, {4332.875f, 117.95f});
  fill(st.normalized_modulus, {4374.14f, 118.58f});
  st.mean_adjusted_modulus = 4766.1625f;
  st.normalized_adjusted_modulus = 4811.5545f;
  // The subgrade's modulus falls with the deviator stress: fine-grained.
  st.soil_type = {0, 2, 0, 0, 0};
  fill(st.k1, {0.0f, 96.42f});
  fill(st.k2, {0.0f, -0.1187f});
  fill(st.r_squared, {0.0f, 100.0f});
  a.results.statistics = st;
  scenario.stations.push_back(a);
  return scenario;
}

// clang-format on

std::vector<Scenario> all_scenarios() {
  return {metric_default_points(), english_stiff_layer_adjusted(), metric_two_layers_adjusted()};
}

WrittenReports write_reports(const Scenario& scenario) {
  std::ostringstream detail, summary, log;
  TextUnit detail_unit(detail), summary_unit(summary), log_unit(log);
  MessageWriter messages(&log_unit, nullptr);
  EngineUnits units{detail_unit, summary_unit, messages, false};
  const auto writer = make_report_writer(units);
  writer->write_headers(scenario.stations.front());
  for (const RunState& station : scenario.stations) writer->write_station(station);
  return {detail.str(), summary.str()};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> columns_of(const std::string& line) {
  std::vector<std::string> columns;
  std::size_t start = 0;
  while (true) {
    const std::size_t tab = line.find('\t', start);
    columns.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return columns;
    start = tab + 1;
  }
}

}  // namespace basinfit::testing
