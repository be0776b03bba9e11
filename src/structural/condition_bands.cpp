#include "structural/condition_bands.h"

#include <array>

namespace basinfit::structural {

namespace {

// The two limits between sound and warning and between warning and severe.
struct Band {
  double sound_limit;
  double severe_limit;
};

// Per base type: D0, RoC, BLI, MLI, LLI (SAPEM Chapter 10, Table 46).
struct BaseBands {
  Band d0_um, roc_m, bli_um, mli_um, lli_um;
};

constexpr std::array<BaseBands, 3> kBands{{
    {{500, 750}, {100, 50}, {200, 400}, {100, 200}, {50, 100}},  // granular
    {{200, 400}, {150, 80}, {100, 300}, {50, 100}, {40, 80}},    // cementitious
    {{400, 600}, {250, 100}, {200, 400}, {100, 150}, {50, 80}},  // bituminous
}};

// Larger is worse (deflections and their differences).
Condition rate_rising(const Value& v, double scale, Band band) {
  if (!v.has_value()) return Condition::kNone;
  const double x = v.value * scale;
  if (x < band.sound_limit) return Condition::kSound;
  if (x > band.severe_limit) return Condition::kSevere;
  return Condition::kWarning;
}

// Larger is better (the radius of curvature).
Condition rate_falling(const Value& v, double scale, Band band) {
  if (!v.has_value()) return Condition::kNone;
  const double x = v.value * scale;
  if (x > band.sound_limit) return Condition::kSound;
  if (x < band.severe_limit) return Condition::kSevere;
  return Condition::kWarning;
}

}  // namespace

BasinRatings rate_basin(const BasinIndices& indices, BaseType base) {
  const BaseBands& bands = kBands[static_cast<std::size_t>(base)];
  BasinRatings ratings;
  if (!(indices.standard_load_kn > 0.0)) return ratings;
  // Deflections scale with the load, the radius of curvature with its inverse.
  const double to_band_load = kBandLoadKn / indices.standard_load_kn;
  ratings.d0 = rate_rising(indices.d0_um, to_band_load, bands.d0_um);
  ratings.roc = rate_falling(indices.roc_m, 1.0 / to_band_load, bands.roc_m);
  ratings.sci = rate_rising(indices.sci_um, to_band_load, bands.bli_um);
  ratings.bdi = rate_rising(indices.bdi_um, to_band_load, bands.mli_um);
  ratings.bci = rate_rising(indices.bci_um, to_band_load, bands.lli_um);
  return ratings;
}

std::string_view condition_word(Condition condition) {
  switch (condition) {
    case Condition::kSound:
      return "sound";
    case Condition::kWarning:
      return "warning";
    case Condition::kSevere:
      return "severe";
    case Condition::kNone:
      break;
  }
  return "";
}

std::string_view base_type_word(BaseType base) {
  switch (base) {
    case BaseType::kGranular:
      return "granular";
    case BaseType::kCementitious:
      return "cementitious";
    case BaseType::kBituminous:
      return "bituminous";
  }
  return "";
}

std::string_view condition_band_source() {
  return "SAPEM Chapter 10 (2nd edition, 2014), Table 46, deflection bowl parameter structural condition "
         "rating criteria after Horak (2008), at 40 kN";
}

}  // namespace basinfit::structural
