#include "report/report_header.h"

#include <span>

#include "report/report_words.h"

namespace basinfit {

std::string_view without_trailing_blanks(std::string_view text) {
  const std::size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

void write_project_lines(TextUnit& out, const RunSettings& s) {
  const LabelChoice label{s.metric()};
  const char& tab = s.separator;
  const int layers = within_capacity(s.layer_count, kMaxLayers);
  const int sensors = within_capacity(s.sensor_count, kMaxSensors);

  out.write(BASINFIT_FMT("(a,a)"), "Route: ", without_trailing_blanks(s.route));
  out.write(BASINFIT_FMT("(a,f4.1,a1,a,i1)"), label("Plate Radius (cm): ", "Plate Radius (in): "),
            s.plate_radius, tab, "No of Layers: ", s.layer_count);
  out.write(BASINFIT_FMT("(a,i2,a1,a)"), "No of Sensors: ", s.sensor_count, tab,
            s.stiff_layer == 1 ? "Stiff Layer: Yes" : "Stiff Layer: No");

  // Offsets, then on the same line the Poisson's ratios of the layers.
  out.write(BASINFIT_FMT("(a,10(1x,f6.1,\\,:))"), label("Offsets (cm):", "Offsets (in):"),
            std::span<const float>(s.sensor_offset.data(), static_cast<std::size_t>(sensors)));
  PerLayer<float> poisson{};
  for (int j = 0; j < layers; ++j)
    poisson[static_cast<std::size_t>(j)] = s.layers[static_cast<std::size_t>(j)].poisson_ratio;
  out.write(BASINFIT_FMT("(a1,a,5(1x,f4.3,:))"), tab,
            "P-Ratio:", std::span<const float>(poisson.data(), static_cast<std::size_t>(layers)));
}

}  // namespace basinfit
