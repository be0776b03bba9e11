// The page's data taken from the engine's run state, station by station.

#include "survey/survey_collector.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "common/input_error.h"
#include "report/report_words.h"
#include "survey/html_page.h"

namespace basinfit::survey {
namespace {

RunState three_layer_run() {
  RunState state;
  RunSettings& s = state.settings;
  s.title = "  Survey title   ";
  s.route = "Route 7  ";
  s.layer_count = 3;
  s.unit_flag = 0;
  s.sensor_count = 3;
  s.sensor_offset[0] = 0;
  s.sensor_offset[1] = 30;
  s.sensor_offset[2] = 60;
  for (int j = 0; j < 3; ++j) {
    LayerSettings& layer = s.layers[static_cast<std::size_t>(j)];
    layer.type = 0;
    layer.poisson_ratio = 0.35f;
    layer.lower_bound = 10.0f * static_cast<float>(j + 1);
    layer.upper_bound = 1000.0f * static_cast<float>(j + 1);
  }
  s.units = UnitFactors::for_flag(0);
  return state;
}

// A station with two drops at 27 and 53 kN whose centre deflections are 300 and 600 microns.
void two_drop_station(RunState& state, const std::string& id) {
  StationData& st = state.station;
  st.id = id;
  st.drop_count = 2;
  st.thickness = {12, 25, 0, 0};
  st.temperature1 = 18;
  st.temperature2 = 24;
  st.load[0] = 27000;
  st.load[1] = 53000;
  st.measured[0] = {300, 200, 100};
  st.measured[1] = {600, 400, 190};
  StationResults& r = state.results;
  r.modulus[0] = {3000, 300, 60};
  r.modulus[1] = {3100, 310, 62};
  state.report.modulus = r.modulus;
  state.report.calculated[0] = {290, 205, 100};
  state.report.calculated[1] = {610, 390, 0.005f};
  r.rms_error[0] = 1.5f;
  r.rms_error[1] = 0.7f;
  r.convergence_code[0] = 2;
  r.convergence_code[1] = 3;
  r.statistics.normalized_modulus = {3050, 305, 61, 0, 0};
  r.statistics.soil_type = {0, 0, 2, 0, 0};
  r.statistics.k1 = {0, 0, 15.5f, 0, 0};
  r.statistics.k2 = {0, 0, -0.3f, 0, 0};
}

TEST(SurveyCollector, StationsAreTakenFromTheRunStateAsTheReportsShowThem) {
  RunState state = three_layer_run();
  two_drop_station(state, "  1+250   ");
  const SurveyStation s = station_from_state(state);
  EXPECT_EQ(s.id, "1+250");
  EXPECT_EQ(s.thickness, (std::vector<float>{12, 25}));
  ASSERT_TRUE(s.normalised_modulus.has_value());
  EXPECT_EQ(*s.normalised_modulus, (std::vector<float>{3050, 305, 61}));
  // 40 kN lies 13/26 of the way from 27 to 53 kN.
  ASSERT_TRUE(s.normalised_centre_deflection.has_value());
  EXPECT_FLOAT_EQ(*s.normalised_centre_deflection, 450);
  ASSERT_EQ(s.k1.size(), 3u);
  EXPECT_FALSE(s.k1[0].has_value());
  EXPECT_FLOAT_EQ(s.k1[2].value(), 15.5f);
  EXPECT_FLOAT_EQ(s.k2[2].value(), -0.3f);
  EXPECT_EQ(s.soil_type[2], soil_type_word(2));
  ASSERT_EQ(s.drops.size(), 2u);
  for (std::size_t d = 0; d < 2; ++d) {
    const SurveyDrop& drop = s.drops[d];
    EXPECT_EQ(drop.number, static_cast<int>(d) + 1);
    EXPECT_EQ(drop.load, state.station.load[d]);
    EXPECT_EQ(drop.rms_percent, state.results.rms_error[d]);
    EXPECT_EQ(drop.convergence_words, std::string(*convergence_text(state.results.convergence_code[d])));
    ASSERT_EQ(drop.basin.offset.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(drop.basin.measured[k], state.station.measured[d][k]);
      EXPECT_EQ(drop.basin.calculated[k], state.report.calculated[d][k]);
      EXPECT_EQ(drop.basin.residual_percent[k],
                percentage_difference(state.station.measured[d][k], state.report.calculated[d][k]));
    }
  }
  EXPECT_NEAR(s.drops[0].basin.residual_percent[0], 100.0 * 10 / 300, 1e-4);

  // One drop: no moduli at the standard load and no stress fit, whatever the state still holds;
  // the centre deflection is scaled from that drop.
  state.station.drop_count = 1;
  const SurveyStation single = station_from_state(state);
  EXPECT_FALSE(single.normalised_modulus.has_value());
  EXPECT_FALSE(single.k1[2].has_value());
  EXPECT_FLOAT_EQ(*single.normalised_centre_deflection, 300.0f * 40000 / 27000);
  EXPECT_EQ(single.drops.size(), 1u);

  // Loads that do not bracket the standard load leave the normalised moduli at zero: absent.
  state.station.drop_count = 2;
  state.results.statistics.normalized_modulus = {};
  EXPECT_FALSE(station_from_state(state).normalised_modulus.has_value());

  // An unknown convergence code is named as the detail report names it.
  state.results.convergence_code[0] = 99;
  EXPECT_EQ(station_from_state(state).drops[0].convergence_words, "Error (99)");
}

TEST(SurveyCollector, CollectsTheSettingsAndEveryRecordedStationInSurveyOrder) {
  RunState state = three_layer_run();
  state.settings.stiff_layer = 1;
  state.settings.layers[2].type = 1;
  state.settings.initial_modulus[2] = 5000;
  SurveyCollector collector;
  collector.begin(state);
  EXPECT_EQ(collector.subgrade(), 1);
  for (const char* id : {"1+000", "1+050", "1+100"}) {
    two_drop_station(state, id);
    // The copy is taken where the station ran; the state may change before it is recorded.
    auto result = collector.analyse(state);
    state.station.id = "changed";
    collector.record(state, std::move(result));
  }
  const SurveyPage page = collector.page();
  EXPECT_EQ(page.title, "Survey title");
  EXPECT_EQ(page.route, "Route 7");
  EXPECT_TRUE(page.units.metric);
  ASSERT_EQ(page.layers.size(), 3u);
  EXPECT_EQ(page.layers[0].lower_bound.value(), 10.0f);
  EXPECT_EQ(page.layers[1].upper_bound.value(), 2000.0f);
  EXPECT_FALSE(page.layers[2].lower_bound.has_value());
  EXPECT_EQ(page.layers[2].name, "Layer 3 (stiff)");
  bool fixed_shown = false;
  for (const SurveySetting& row : page.settings)
    if (row.label == "Layer 3" || row.label == "Layer 3 (stiff)")
      fixed_shown = row.value.find("fixed at 5000") != std::string::npos;
  EXPECT_TRUE(fixed_shown);

  ASSERT_EQ(page.profile.stations.size(), 3u);
  EXPECT_EQ(collector.station(0).id, "1+000");
  EXPECT_EQ(collector.station(2).id, "1+100");
  ASSERT_EQ(page.convergence_counts.size(), 2u);
  EXPECT_EQ(page.convergence_counts[0].count + page.convergence_counts[1].count, 6);
  EXPECT_FALSE(page.flags_checked);
  EXPECT_TRUE(page.flag_counts.empty());

  // Flags from the data checks, given in any order, even for a station not recorded yet.
  collector.annotate_drop(3, 1, {"late"});
  collector.annotate_drop(1, 2, {"rms_high", "load_off_level"});
  collector.annotate_drop(0, 2, {"rms_high"});
  two_drop_station(state, "1+150");
  collector.record(state, collector.analyse(state));
  const SurveyPage flagged = collector.page();
  EXPECT_TRUE(flagged.flags_checked);
  EXPECT_TRUE(collector.station(0).drops[0].flags.empty());
  EXPECT_EQ(collector.station(1).drops[1].flags, (std::vector<std::string>{"rms_high", "load_off_level"}));
  EXPECT_EQ(collector.station(3).drops[0].flags, std::vector<std::string>{"late"});
  ASSERT_EQ(flagged.flag_counts.size(), 3u);
  EXPECT_EQ(flagged.flag_counts[0].name, "rms_high");
  EXPECT_EQ(flagged.flag_counts[0].count, 2);

  // The stations wait outside memory and come back exactly as they were taken, with what the
  // data checks said of them.
  EXPECT_TRUE(flagged.stations.empty());
  SurveyStation direct = station_from_state(state);
  direct.drops[0].flags = {"late"};
  EXPECT_EQ(collector.station(3), direct);
  EXPECT_THROW(collector.station(4), InputError);
}

}  // namespace
}  // namespace basinfit::survey

namespace basinfit::survey {
namespace {

// What the results analysis found, fed by hand: each flag names the layers and the value that
// raised it, and the page draws a cross only on those layers; moduli carried to the standard
// load by the station's trend are marked; a station without them says why.
TEST(SurveyCollector, ResultsRecordsNameLayersValuesAndNormalisation) {
  RunState state = three_layer_run();
  SurveyCollector collector;
  collector.begin(state);
  results::StationRecord trend;
  trend.sequence = 1;
  trend.normalisation = results::Normalisation::kTrend;
  trend.normalisation_note = "from the trend of modulus against load, 0.1 kN from the standard load";
  trend.normalised_modulus = {3200, 320, 64, results::kMissing, results::kMissing};
  trend.implausible_law[2] = true;
  results::DropRecord first;
  first.drop = 1;
  first.flags = results::kPoorlyDetermined;
  first.layer_flags[0] = results::kPoorlyDetermined;
  first.uncertainty.standard_error_percent = {34.5, 3, 2, results::kMissing, results::kMissing};
  first.rms_percent = 3.25f;
  results::DropRecord second;
  second.drop = 2;
  second.flags = results::kNotSeparable;
  second.uncertainty.max_correlation = 0.975;
  second.uncertainty.correlated_layers = {1, 2};  // named by the values alone: no layer flags
  trend.drops = {first, second};
  results::StationRecord none;
  none.sequence = 2;
  none.normalisation_note = "the loads 40.1 to 59.8 kN lie more than 2 kN from the standard load";
  // The first record comes before its station, the second after.
  collector.annotate_station(trend);
  for (const char* id : {"1+000", "1+050", "1+100"}) {
    two_drop_station(state, id);
    collector.record(state, collector.analyse(state));
  }
  collector.annotate_station(none);
  const SurveyPage page = collector.page();

  const SurveyStation a = collector.station(0);
  ASSERT_TRUE(a.normalised_modulus.has_value());
  EXPECT_EQ(*a.normalised_modulus, (std::vector<float>{3200, 320, 64}));
  EXPECT_EQ(a.normalised_by, NormalisedBy::kTrend);
  EXPECT_EQ(a.implausible_law, (std::vector<bool>{false, false, true}));
  const SurveyDrop& d1 = a.drops[0];
  ASSERT_EQ(d1.flags, (std::vector<std::string>{"poorly_determined"}));
  EXPECT_EQ(d1.flag_layers, (std::vector<std::uint32_t>{1}));
  EXPECT_NE(d1.flag_reasons[0].find("layer 1: standard error 34.5 %"), std::string::npos)
      << d1.flag_reasons[0];
  const SurveyDrop& d2 = a.drops[1];
  EXPECT_EQ(d2.flag_layers, std::vector<std::uint32_t>{0b011});
  EXPECT_NE(d2.flag_reasons[0].find("layers 1 and 2: correlation 0.975"), std::string::npos)
      << d2.flag_reasons[0];
  EXPECT_FALSE(collector.station(1).normalised_modulus.has_value());
  EXPECT_EQ(collector.station(1).normalisation_note, none.normalisation_note);
  // A station the results say nothing about keeps the reports' own normalisation.
  EXPECT_EQ(*collector.station(2).normalised_modulus, (std::vector<float>{3050, 305, 61}));

  ReportOptions options;
  options.subgrade_layer = 2;
  const std::string html = render_page(page, options, RunEnd{});
  EXPECT_NE(html.find("poorly_determined (layer 1)"), std::string::npos);
  EXPECT_NE(html.find("not_separable (layers 1 and 2)"), std::string::npos);
  EXPECT_NE(html.find("implausible law"), std::string::npos);
  EXPECT_NE(html.find("class=\"trend\""), std::string::npos);
  // Crosses only on the layers the flags concern: none on the subgrade.
  EXPECT_NE(html.find("data-layer=\"1\""), std::string::npos);
  EXPECT_NE(html.find("data-layer=\"2\""), std::string::npos);
  EXPECT_EQ(html.find("data-layer=\"3\""), std::string::npos);
  EXPECT_NE(html.find("data-reason=\"" + none.normalisation_note + "\""), std::string::npos);

  // The page read back station by station is the page of the same stations held in memory.
  SurveyPage in_memory = page;
  for (std::size_t i = 0; i < 3; ++i) in_memory.stations.push_back(collector.station(i));
  in_memory.station_row = nullptr;
  EXPECT_EQ(render_page(in_memory, options, RunEnd{}), html);
}

// A station with every field set, text with markup, a NUL and a byte that is not UTF-8.
SurveyStation every_field(int i) {
  SurveyStation s;
  s.id = "KM1+" + std::to_string(100 + i);
  s.chainage = 1100.25 + i;
  s.lane = "L1";
  s.latitude = 51.5;
  s.longitude = -0.125;
  s.comment = std::string("wet <b>\0\xff", 9);
  s.thickness = {10.5f, 30};
  s.temperature1 = 18;
  s.temperature2 = -4.5f;
  s.normalised_modulus = std::vector<float>{3000, 300, 60.5f};
  s.normalised_by = NormalisedBy::kTrend;
  s.normalisation_note = "carried by the trend";
  s.normalised_adjusted_surface_modulus = 2900;
  s.k1 = {std::nullopt, 15.5f};
  s.k2 = {std::nullopt, -0.3f};
  s.soil_type = {"N/A", "Fine"};
  s.r_squared = {std::nullopt, 97.25f};
  s.implausible_law = {false, true, false};
  s.flags = {"station"};
  for (int d = 0; d < 3; ++d) {
    SurveyDrop drop;
    drop.number = d + 1;
    drop.load = 27000.0f + 13000.0f * static_cast<float>(d);
    drop.modulus = {3000, 310, 61};
    drop.rms_percent = 1.5f;
    drop.convergence_code = 3;
    drop.convergence_words = "Modulus Tolerance Satisfied";
    if (d == 1) drop.adjusted_surface_modulus = 2950;
    drop.flags = {"rms_high", "not_separable"};
    drop.flag_layers = {0, 0b110};
    drop.flag_reasons = {"RMS error 3 %", "layers 2 and 3"};
    drop.basin = {{0, 30, 60}, {400, 300, 200}, {395, 305, 198}, {1.25f, -1.67f, 1}};
    s.drops.push_back(drop);
  }
  return s;
}

// Every field survives the spool, on disk and, once the disk refuses more (a file-size limit
// here), in memory; a station kept again replaces the first.
TEST(StationSpool, StationsComeBackWholeOnDiskAndAfterTheFileFails) {
  StationSpool spool;
  spool.keep_in(std::filesystem::temp_directory_path().string());
  spool.store(0, every_field(0));
  EXPECT_TRUE(spool.on_disk());
  EXPECT_EQ(spool.load(0), every_field(0));

  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit small = before;
  small.rlim_cur = 16384;
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  for (int i = 1; i < 60; ++i) spool.store(static_cast<std::size_t>(i), every_field(i));
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(spool.on_disk());
  ASSERT_EQ(spool.size(), 60u);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(spool.load(static_cast<std::size_t>(i)), every_field(i)) << i;

  SurveyStation other = every_field(7);
  other.drops.pop_back();
  other.normalised_modulus.reset();
  spool.store(3, other);
  EXPECT_EQ(spool.load(3), other);
  EXPECT_EQ(spool.load(4), every_field(4));
}

}  // namespace
}  // namespace basinfit::survey
