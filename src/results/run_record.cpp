#include "results/run_record.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>

#include "basinfit_version.h"
#include "model/response_model.h"
#include "report/report_words.h"

namespace basinfit::results {

RecordedFile recorded_file(std::string role, std::string name) {
  FileSummary summary = summarise_file(name);
  return RecordedFile{std::move(role), std::move(name), std::move(summary.kind), std::move(summary.digest)};
}

RecordedFile recorded_input(std::string role, const TextFile& file) {
  return RecordedFile{std::move(role), file.name(), file.kind(), file.digest()};
}

void RunCounts::add(const StationRecord& station) {
  ++stations;
  for (const DropRecord& drop : station.drops) {
    ++drops;
    ++by_convergence_code[drop.convergence_code];
    if (drop.flags != 0) ++flagged_drops;
    for (std::size_t f = 0; f < kFlagCount; ++f)
      if ((drop.flags & drop_flags()[f].flag) != 0) ++by_flag[f];
  }
}

std::string utc_time(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

double json_number(float value) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer - 1, value).ptr;
  *end = '\0';
  return std::strtod(buffer, nullptr);
}

nlohmann::json settings_json(const RunSettings& s) {
  using nlohmann::json;
  json layers = json::array();
  for (std::size_t j = 0; j < static_cast<std::size_t>(s.layer_count); ++j) {
    const LayerSettings& layer = s.layers[j];
    json entry = {
        {"layer", j + 1},
        {"type", layer.type},
        {"backcalculated", layer.backcalculated()},
        {"poisson_ratio", json_number(layer.poisson_ratio)},
        {layer.backcalculated() ? "seed_modulus" : "fixed_modulus", json_number(s.initial_modulus[j])}};
    if (layer.backcalculated()) {
      entry["lower_bound"] = json_number(layer.lower_bound);
      entry["upper_bound"] = json_number(layer.upper_bound);
    }
    layers.push_back(entry);
  }
  json sensors = json::array();
  for (std::size_t i = 0; i < static_cast<std::size_t>(s.sensor_count); ++i)
    sensors.push_back({{"sensor", i + 1},
                       {"offset", json_number(s.sensor_offset[i])},
                       {"weight", json_number(s.sensor_weight[i])}});
  json points = json::array();
  for (std::size_t i = 0; i < static_cast<std::size_t>(s.point_count); ++i)
    points.push_back({{"radial_distance", json_number(s.points[i].radial_distance)},
                      {"layer", s.points[i].layer},
                      {"position", std::string(position_word(s.points[i].position))}});
  const bool metric = s.metric();
  return {
      {"units", metric ? "metric" : "English"},
      {"unit_names",
       {{"length", metric ? "cm" : "in"},
        {"load", metric ? "N" : "lbf"},
        {"deflection", metric ? "micron" : "mil"},
        {"modulus", metric ? "MPa" : "ksi"},
        {"temperature", metric ? "C" : "F"}}},
      {"title", s.title},
      {"route", s.route},
      {"reference_temperature_f", json_number(s.reference_temperature)},
      {"plate_radius", json_number(s.plate_radius)},
      {"layer_count", s.layer_count},
      {"stiff_layer", s.stiff_layer},
      {"layers", layers},
      {"weighting_option", s.weighting_option},
      {"sensors", sensors},
      {"temperature_adjustment", s.temperature_adjustment},
      {"temperature_option", s.temperature_option},
      {"seed_option", s.seed_option},
      {"max_iterations", s.max_iterations},
      {"rms_tolerance_percent", json_number(s.rms_tolerance)},
      {"modulus_tolerance_percent", json_number(s.modulus_tolerance)},
      {"evaluation_points", points},
  };
}

nlohmann::json run_record(const RunDescription& run) {
  using nlohmann::json;
  auto files = [](const std::vector<RecordedFile>& list) {
    json out = json::array();
    for (const RecordedFile& file : list) {
      json entry = {{"role", file.role}, {"name", file.name}, {"kind", file.kind}};
      if (file.digest) {
        entry["size"] = file.digest->size;
        entry["sha256"] = file.digest->sha256;
      } else {
        entry["size"] = nullptr;
        entry["sha256"] = nullptr;
      }
      out.push_back(entry);
    }
    return out;
  };
  json by_code = json::object();
  for (const auto& [code, count] : run.counts.by_convergence_code) {
    const std::optional<std::string_view> words = convergence_text(code);
    by_code[std::to_string(code)] = {
        {"drops", count}, {"meaning", words ? std::string(*words) : "Error (" + std::to_string(code) + ")"}};
  }
  json by_flag = json::object();
  for (std::size_t f = 0; f < kFlagCount; ++f)
    by_flag[std::string(drop_flags()[f].name)] = run.counts.by_flag[f];

  return {
      {"record", "basinfit run record"},
      {"record_version", 1},
      {"engine",
       {{"name", "basinfit"},
        {"version", BASINFIT_VERSION},
        {"revision", BASINFIT_REVISION},
        {"build_type", BASINFIT_BUILD_TYPE},
        {"vector_path", std::string(model::vector_path_name())}}},
      {"invocation", {{"arguments", run.arguments}, {"jobs", run.jobs}}},
      {"started", utc_time(run.started)},
      {"finished", utc_time(run.finished)},
      {"wall_time_seconds", run.wall_time_seconds},
      {"exit_status", run.exit_status},
      {"inputs", files(run.inputs)},
      {"outputs", files(run.outputs)},
      {"settings", run.settings ? settings_json(*run.settings) : json(nullptr)},
      {"options", run.options},
      {"counts",
       {{"stations", run.counts.stations},
        {"drops", run.counts.drops},
        {"flagged_drops", run.counts.flagged_drops},
        {"by_convergence_code", by_code},
        {"by_flag", by_flag}}},
  };
}

}  // namespace basinfit::results
